// QuitSignals: turns SIGTERM, SIGINT and SIGHUP (a session that logs out, a service
// manager stopping the program, Ctrl+C in its terminal) into a call on the UI thread, so
// the program can end the way closing its window does: settings and placement saved,
// camera closed, event loop left.
//
// The signal handler only writes the signal number into a pipe (async-signal-safe); a
// QSocketNotifier on the pipe's other end runs the callback from the event loop. One
// instance at a time: creating it installs the handlers, destroying it restores the
// dispositions found at creation.
// Threads: construct, destroy and receive the callback on the UI thread; signals may
// arrive on any thread. Nothing blocks.
#pragma once

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

class QuitSignals : public QObject {
    Q_OBJECT
public:
    // `onQuit` runs once per signal received, with the signal's number.
    explicit QuitSignals(std::function<void(int signal)> onQuit, QObject* parent = nullptr);
    ~QuitSignals() override;

    // False when the pipe or the handlers could not be set up (the signals then keep
    // their previous dispositions).
    bool Installed() const { return installed_; }

private:
    void Drain();

    std::function<void(int)> onQuit_;
    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
    struct sigaction previous_[3] = {};
};

class CMainFrame;
class CMyTethrocamView;

// What the program does on such a signal, and when the session manager asks it to save
// its state: the frame's placement and the view's settings are written at once.
// EndSessionCleanly first lets the pictures on their way arrive and be saved (at most
// kQuitDownloadWaitMs; a second signal cuts them short), then saves both and leaves the
// event loop (nested loops of open dialogs too), as when the window is closed.
constexpr int kQuitDownloadWaitMs = 25000;
void SaveSessionState(CMainFrame& frame, CMyTethrocamView& view);
void EndSessionCleanly(CMainFrame& frame, CMyTethrocamView& view);
