#include "app/QuitSignals.h"

#include "app/CMainFrame.h"
#include "mainview/CMyTethrocamView.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the live instance's pipe; -1 when none. Read by the handler only.
volatile sig_atomic_t g_writeFd = -1;

extern "C" void OnQuitSignal(int signal)
{
    const int saved = errno;
    const int fd = g_writeFd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        // A full pipe already holds a request to quit: dropping this one loses nothing.
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(std::function<void(int)> onQuit, QObject* parent)
    : QObject(parent), onQuit_(std::move(onQuit))
{
    if (g_writeFd >= 0 || ::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    g_writeFd = fds_[1];

    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &previous_[i]);
    installed_ = true;
}

QuitSignals::~QuitSignals()
{
    if (installed_) {
        for (size_t i = 0; i < 3; ++i)
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        g_writeFd = -1;
    }
    delete notifier_;
    for (int fd : fds_) {
        if (fd >= 0)
            ::close(fd);
    }
}

void QuitSignals::Drain()
{
    unsigned char byte = 0;
    while (::read(fds_[0], &byte, 1) == 1) {
        if (onQuit_)
            onQuit_(byte);
    }
}

void SaveSessionState(CMainFrame& frame, CMyTethrocamView& view)
{
    frame.SavePlacement();
    view.SaveSettingsNow();
}

void EndSessionCleanly(CMainFrame& frame, CMyTethrocamView& view)
{
    // A picture on its way is finished first (a second signal cuts it short).
    view.FinishDownloadsThenQuit(kQuitDownloadWaitMs, [&frame, &view] {
        SaveSessionState(frame, view);
        QCoreApplication::exit(0);
    });
}
