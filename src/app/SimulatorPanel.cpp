#include "app/SimulatorPanel.h"

#include "backends/sim/SimCamera.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

SimulatorPanel::SimulatorPanel(sim::SimulatedCamera& camera, QWidget* parent)
    : QWidget(parent, Qt::Tool), camera_(camera)
{
    setWindowTitle("Simulated camera");
    setObjectName("simulatorPanel");
    auto* layout = new QVBoxLayout(this);

    auto* shutter = new QPushButton("Press shutter button", this);
    shutter->setObjectName("simShutter");
    connect(shutter, &QPushButton::clicked, this, [this] { camera_.PressShutterButton(); });
    layout->addWidget(shutter);

    auto* body = new QFormLayout;
    auto* dial = new QComboBox(this);
    dial->setObjectName("simModeDial");
    const struct {
        const char* label;
        int mode;
    } modes[] = {{"Manual (M)", 4}, {"Program (P)", 1}, {"Shutter priority (Tv)", 2}, {"Aperture priority (Av)", 3},
                 {"Bulb", 7},       {"A-DEP", 5},       {"Full auto", 0},             {"Landscape", 102},
                 {"Portrait", 108}, {"Close up", 110},  {"Sport", 103},               {"Night scene", 105}};
    for (const auto& m : modes)
        dial->addItem(m.label, m.mode);
    connect(dial, &QComboBox::activated, this,
            [this, dial] { camera_.TurnModeDial(static_cast<uint16_t>(dial->currentData().toInt())); });
    body->addRow("Mode dial:", dial);

    auto* orientation = new QComboBox(this);
    orientation->setObjectName("simOrientation");
    orientation->addItem("Level", 1);
    orientation->addItem("Turned right (90 CW)", 6);
    orientation->addItem("Upside down", 3);
    orientation->addItem("Turned left (90 CCW)", 8);
    connect(orientation, &QComboBox::activated, this,
            [this, orientation] { camera_.SetOrientationSensor(orientation->currentData().toInt()); });
    body->addRow("Camera held:", orientation);
    layout->addLayout(body);

    auto* lcd = new QCheckBox("LCD display on", this);
    lcd->setObjectName("simLcd");
    lcd->setChecked(camera_.Config().lcdOn);
    connect(lcd, &QCheckBox::toggled, this, [this](bool on) { camera_.SetLcdOn(on); });
    layout->addWidget(lcd);
    auto* card = new QCheckBox("CF card in the camera", this);
    card->setObjectName("simCard");
    card->setChecked(true);
    connect(card, &QCheckBox::toggled, this, [this](bool in) { camera_.SetCardPresent(in); });
    layout->addWidget(card);

    auto* events = new QGroupBox("The camera goes off", this);
    auto* ev = new QVBoxLayout(events);
    auto button = [&](const char* text, const char* name, auto action) {
        auto* b = new QPushButton(text, events);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, action);
        ev->addWidget(b);
    };
    button("Open the card door", "simCardDoor", [this] { camera_.OpenCardDoor(); });
    button("Pull the battery", "simBattery", [this] { camera_.PullBattery(); });
    button("Unplug the cable", "simUnplug", [this] { camera_.Unplug(); });
    layout->addWidget(events);

    auto* faults = new QGroupBox("Faults", this);
    auto* fl = new QVBoxLayout(faults);
    auto fault = [&](const char* text, const char* name, auto action) {
        auto* b = new QPushButton(text, faults);
        b->setObjectName(name);
        connect(b, &QPushButton::clicked, this, action);
        fl->addWidget(b);
    };
    fault("Fail the next autofocus", "simFailAf", [this] { camera_.FailNextAutofocus(); });
    fault("Stop the next download halfway", "simStopHalfway", [this] { camera_.StopNextDownloadHalfway(); });
    fault("Unplug during the next download", "simUnplugDownload", [this] { camera_.UnplugDuringNextDownload(); });
    fault("End live view (mode dial)", "simEndLiveView", [this] { camera_.EndLiveViewFromBody(); });
    auto* stall = new QCheckBox("Live view frames stop coming", faults);
    stall->setObjectName("simStopFrames");
    connect(stall, &QCheckBox::toggled, this, [this](bool stopped) { camera_.StopLiveViewFrames(stopped); });
    fl->addWidget(stall);
    layout->addWidget(faults);
    layout->addStretch(1);
}
