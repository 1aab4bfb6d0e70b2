// The main window on the simulated camera, offscreen, for widget tests: a frame and view
// over a temporary settings file and picture folder, with scripted message boxes. The
// constructor writes the settings and opens the window; Close() and Open() shut it and
// start it again over the same files. UI thread only; Open() runs the event loop until
// the camera is connected (or the wait runs out).
#pragma once

#include "app/CMainFrame.h"
#include "app/MessageBox.h"
#include "app/SettingsDialogs.h"
#include "backends/sim/SimCamera.h"
#include "mainview/CMyTethrocamView.h"
#include "settings/RegistryStore.h"
#include "settings/Settings.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace testsupport {

struct MainWindow;

// How the window waits for its camera when it opens.
struct MainWindowOptions {
    int connectWaitMs = 5000;
    // Stop waiting for the camera as soon as a message box has been shown.
    bool untilMessageBox = false;
    // Runs on the new view before the frame is shown.
    std::function<void(MainWindow&)> beforeShow;
};

struct MainWindow {
    using Options = MainWindowOptions;

    explicit MainWindow(sim::SimConfig config, const std::function<void(Settings&)>& prefs = {},
                        Options opts = {})
        : lib(config), options(std::move(opts))
    {
        App();
        settingsFile = (dir.Path() / "settings.reg").string();
        Settings s;
        s.Directory = (dir.Path() / "pictures").string();
        s.Year = s.Month = s.Day = false;
        if (prefs)
            prefs(s);
        pictures = s.Directory;
        rescue = dir.Path() / "rescue";
        RegistryStore store(settingsFile);
        SaveSettings(s, store);
        Open();
    }
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;
    ~MainWindow()
    {
        if (frame)
            Close();
    }
    // A small camera: 960 x 640 pictures, a short exposure, little raw filler.
    static sim::SimConfig Small()
    {
        sim::SimConfig c;
        c.pictureWidth = 960;
        c.pictureHeight = 640;
        c.exposureMs = 5;
        c.rawFillerBytes = 32 * 1024;
        return c;
    }
    void Open()
    {
        frame = std::make_unique<CMainFrame>(settingsFile);
        view = new CMyTethrocamView(lib, frame.get(), settingsFile);
        // A picture the picture folder refuses goes here, never into the user's own folders.
        view->SetRescueFolders({rescue.string()});
        frame->setCentralWidget(view);
        if (options.beforeShow)
            options.beforeShow(*this);
        frame->show();
        WaitUntil([this] { return view->Camera() != nullptr || (options.untilMessageBox && !boxes.shown.empty()); },
                  options.connectWaitMs);
        Pump(50);
    }
    void Close()
    {
        // Pictures left only in memory are offered for saving at close: the test's answer
        // to the folder chooser is Cancel, never a real dialog.
        const bool unsaved = view && view->UnsavedPictureCount() > 0;
        if (unsaved)
            dialogs::SetFolderChooser([](QWidget*, const QString&, const QString&) { return QString(); });
        frame->close();
        if (unsaved)
            dialogs::SetFolderChooser({});
        frame.reset();
        view = nullptr;
    }

    TempDir dir;
    std::filesystem::path pictures;
    std::filesystem::path rescue;  // the rescue folder of the view
    std::string settingsFile;
    msgbox::Script boxes;
    sim::SimulatedCamera lib;
    std::unique_ptr<CMainFrame> frame;
    CMyTethrocamView* view = nullptr;
    Options options;
};

} // namespace testsupport
