// SimulatorPanel: a small tool window that works the simulated camera's body, shown only
// when the program runs on the simulated camera: press the shutter button, turn the mode
// dial, switch the LCD, open the card door, pull the battery, unplug the cable, take the
// card out, and make the next autofocus or download fail. It lets a newcomer walk every
// path of the program without a camera.
// UI thread only; every button returns at once (the camera answers on its own thread).
#pragma once

#include <QWidget>

namespace sim {
class SimulatedCamera;
}

class SimulatorPanel : public QWidget {
    Q_OBJECT
public:
    SimulatorPanel(sim::SimulatedCamera& camera, QWidget* parent = nullptr);

private:
    sim::SimulatedCamera& camera_;
};
