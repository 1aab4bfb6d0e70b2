// The main window on the simulated camera for the auxiliary windows' tests: a frame and
// view over a temporary settings file and picture folder, scripted message boxes, and the
// helpers to shoot and to read painted pixels. UI thread only.
#pragma once

#include "app/CMainFrame.h"
#include "app/MessageBox.h"
#include "backends/sim/SimCamera.h"
#include "mainview/CMyTethrocamView.h"
#include "mainview/ControlIds.h"
#include "mainview/RegistryStore.h"
#include "mainview/Settings.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>

namespace harness {

struct Window {
    explicit Window(sim::SimConfig config = Small(), const std::function<void(Settings&)>& prefs = {})
        : lib(config)
    {
        testsupport::App();
        settingsFile = (dir.Path() / "settings.reg").string();
        Settings s;
        s.Directory = (dir.Path() / "pictures").string();
        s.Year = s.Month = s.Day = false;
        if (prefs)
            prefs(s);
        RegistryStore store(settingsFile);
        SaveSettings(s, store);
        Open();
    }
    void Open()
    {
        frame = std::make_unique<CMainFrame>(settingsFile);
        view = new CMyTethrocamView(lib, frame.get(), settingsFile);
        frame->setCentralWidget(view);
        frame->show();
        testsupport::WaitUntil([this] { return view->Camera() != nullptr; }, 5000);
        testsupport::Pump(50);
    }
    void Close()
    {
        frame->close();
        frame.reset();
        view = nullptr;
    }
    ~Window()
    {
        if (frame)
            Close();
    }
    static sim::SimConfig Small()
    {
        sim::SimConfig c;
        c.pictureWidth = 960;
        c.pictureHeight = 640;
        c.exposureMs = 5;
        c.rawFillerBytes = 32 * 1024;
        return c;
    }
    // Release and wait until the picture is saved and on show.
    bool Shoot()
    {
        const size_t before = view->History().Count();
        view->TakePicture();
        return testsupport::WaitUntil(
            [&] { return view->History().Count() > before && !view->CurrentBytes().empty() && !view->Shooting(); });
    }

    testsupport::TempDir dir;
    std::string settingsFile;
    msgbox::Script boxes;
    sim::SimulatedCamera lib;
    std::unique_ptr<CMainFrame> frame;
    CMyTethrocamView* view = nullptr;
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
