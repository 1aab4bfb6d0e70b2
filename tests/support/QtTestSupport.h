// Helpers for widget tests: one QApplication for the test program (offscreen), and
// waiting for a condition while the event loop runs. UI thread only.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>
#include <memory>

namespace testsupport {

inline QApplication& App()
{
    static int argc = 1;
    static char name[] = "tethrocam-test";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until `done` holds or the time is up; returns whether it held.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    App();
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Runs the event loop for a while.
inline void Pump(int ms = 50)
{
    WaitUntil([] { return false; }, ms);
}

}  // namespace testsupport
