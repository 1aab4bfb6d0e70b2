// The main window on the simulated camera for the auxiliary windows' tests: a frame and
// view over a temporary settings file and picture folder, scripted message boxes, and the
// helpers to shoot and to read painted pixels. UI thread only.
#pragma once

#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"

#include <QImage>
#include <QWidget>

#include <functional>

namespace harness {

struct Window : testsupport::MainWindow {
    explicit Window(sim::SimConfig config = Small(), const std::function<void(Settings&)>& prefs = {})
        : MainWindow(config, prefs)
    {
    }
    // Release and wait until the picture is saved and on show.
    bool Shoot()
    {
        const size_t before = view->History().Count();
        view->TakePicture();
        return testsupport::WaitUntil(
            [&] { return view->History().Count() > before && !view->CurrentBytes().empty() && !view->Shooting(); });
    }
};

// What the widget paints, as 32-bit pixels.
inline QImage Painted(QWidget* w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline bool IsBlack(QRgb c)
{
    return qRed(c) == 0 && qGreen(c) == 0 && qBlue(c) == 0;
}

} // namespace harness
