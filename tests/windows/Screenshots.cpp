// Screenshots of the auxiliary windows for the documentation, on the simulated camera:
//   fullscreen.png  the full-screen window with its caption line, grid and focus points
//   preview.png     the 1:1 preview window scrolled to the picture's bottom-right corner
//   liveview.png    live view in the main window: autofocused, focus peaking in red,
//                   magnified 5x on the star by the body
// Run under a 1920 x 1080 X server, for example:
//   xvfb-run -s "-screen 0 1920x1080x24" build/tests/windows/windows_screenshots docs
#include "MainWindowHarness.h"

#include "liveview/LiveViewController.h"
#include "liveview/LiveViewPanel.h"
#include "windows/CFullscreenDlg.h"
#include "windows/CImagePreviewDlg.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

#include <cstdio>
#include <string>

namespace {

bool SaveScreen(const std::string& path)
{
    testsupport::Pump(300);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    const bool ok = shot.save(QString::fromStdString(path));
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "could not write", path.c_str(), shot.width(), shot.height());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    testsupport::App();
    sim::SimConfig config;  // the body's own picture size
    config.exposureMs = 5;
    harness::Window w(config, [](Settings& s) {
        s.DisplayGrid = true;
        s.DisplayFocusPoints = true;
        s.FullscreenCaption = true;
    });
    w.frame->setGeometry(60, 60, 1280, 820);
    if (!w.Shoot() || !w.Shoot()) {
        std::fprintf(stderr, "no picture from the simulated camera\n");
        return 1;
    }

    w.frame->Command(ids::ID_FULL_SCREEN);
    CFullscreenDlg* full = w.view->FullScreen();
    if (!full || !testsupport::WaitUntil([&] { return full->Image().has_value(); }, 5000))
        return 1;
    bool ok = SaveScreen(folder + "/fullscreen.png");
    full->reject();
    testsupport::Pump(100);

    w.frame->Command(ids::ID_VIEW_IMAGE);
    CImagePreviewDlg* preview = w.view->Preview();
    preview->setGeometry(700, 240, 900, 600);
    testsupport::Pump(100);
    preview->horizontalScrollBar()->setValue(preview->horizontalScrollBar()->maximum());
    preview->verticalScrollBar()->setValue(preview->verticalScrollBar()->maximum());
    ok = SaveScreen(folder + "/preview.png") && ok;
    preview->hide();

    // Live view: sharp, peaking on, the body's 5x magnification on the star's edge.
    w.frame->Command(ids::ID_LIVE_VIEW);
    LiveViewController& live = *w.view->LiveView();
    if (!testsupport::WaitUntil([&] { return live.Panel()->FramesPainted() >= 3; }, 5000))
        return 1;
    w.frame->Command(ids::ID_AUTOFOCUS);
    testsupport::WaitUntil([&] { return w.frame->StatusText(0) == "Autofocus done"; }, 5000);
    w.frame->Command(ids::ID_FOCUS_PEAKING);
    const QRect r = live.Panel()->PictureRect();
    live.Click(r.width() * 36 / 100, r.height() * 36 / 100, r.width(), r.height());
    const uint64_t painted = live.Panel()->FramesPainted();
    testsupport::WaitUntil([&] { return live.Panel()->FramesPainted() > painted + 10; }, 5000);
    ok = SaveScreen(folder + "/liveview.png") && ok;
    return ok ? 0 : 1;
}
