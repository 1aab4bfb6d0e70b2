// SimulatorPanel: a small window, with its own frame and title, that works the simulated
// camera's body, shown only when the program runs on the simulated camera: press the
// shutter button, turn the mode dial, switch the LCD, open the card door, pull the
// battery, unplug the cable, take the card out, and make the next autofocus or download
// fail. It lets a newcomer walk every path of the program without a camera. It opens
// beside the main window, never over the picture.
// UI thread only; every button returns at once (the camera answers on its own thread).
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

namespace sim {
class SimulatedCamera;
}

class SimulatorPanel : public QWidget {
    Q_OBJECT
public:
    SimulatorPanel(sim::SimulatedCamera& camera, QWidget* parent = nullptr);

    // Where the panel goes beside a main window at `frame` on a screen whose free area is
    // `available`: to its right, else to its left; when neither side has room, the main
    // window (unless `frameFixed`, e.g. maximised) is made narrower to leave room on its
    // right; failing that, the panel goes to the screen's bottom-right corner, away from
    // the picture at the main window's top right.
    struct Placement {
        QRect frame;   // the main window's geometry afterwards
        QPoint panel;  // the panel's top-left corner
    };
    static Placement PlaceBeside(const QRect& frame, QSize panel, const QRect& available, bool frameFixed);

    // Shows the panel beside `mainWindow` (resizing it when the screen is too narrow).
    void ShowBeside(QWidget& mainWindow);

private:
    sim::SimulatedCamera& camera_;
};
