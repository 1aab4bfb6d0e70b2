#include "app/SimulatorPanel.h"

#include "backends/sim/SimCamera.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

SimulatorPanel::SimulatorPanel(sim::SimulatedCamera& camera, QWidget* parent)
    : QWidget(parent, Qt::Window), camera_(camera)
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

    // The body's processing parameters; "Adobe RGB" records pictures in Adobe RGB on the
    // bodies that have it.
    const auto sets = sim::ParameterSetsOf(camera_.Config().model);
    if (!sets.empty()) {
        auto* parameters = new QComboBox(this);
        parameters->setObjectName("simParameterSet");
        for (const auto& [value, name] : sets)
            parameters->addItem(QString::fromStdString(name), value);
        const int current = parameters->findData(static_cast<int>(camera_.Setting(cdsdk::cdREL_SET_PARAMETER_SET)));
        parameters->setCurrentIndex(current >= 0 ? current : 0);
        connect(parameters, &QComboBox::activated, this, [this, parameters] {
            camera_.SelectParameterSet(static_cast<uint16_t>(parameters->currentData().toInt()));
        });
        body->addRow("Parameters:", parameters);
    }
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

SimulatorPanel::Placement SimulatorPanel::PlaceBeside(const QRect& frame, QSize panel, const QRect& available,
                                                      bool frameFixed)
{
    // Room for the window frames the window manager draws around both.
    constexpr int kGap = 16, kTitle = 32, kMinimumMainWidth = 640;
    const int panelWidth = panel.width() + kGap;
    const int top = std::clamp(frame.top(), available.top(),
                               std::max(available.top(), available.bottom() + 1 - panel.height() - kTitle));
    if (frame.right() + 1 + panelWidth <= available.right() + 1)
        return {frame, {frame.right() + 1 + kGap, top}};
    if (frame.left() - panelWidth >= available.left())
        return {frame, {frame.left() - panelWidth, top}};
    const int narrower = available.width() - panelWidth - kGap;
    if (!frameFixed && narrower >= kMinimumMainWidth) {
        const QRect moved(available.left(), frame.top(), narrower, frame.height());
        return {moved, {moved.right() + 1 + kGap, top}};
    }
    return {frame, {available.right() + 1 - panel.width() - kGap,
                    available.bottom() + 1 - panel.height() - kTitle}};
}

void SimulatorPanel::ShowBeside(QWidget& mainWindow)
{
    adjustSize();
    const QScreen* screen = mainWindow.screen();
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), mainWindow.size());
    const bool fixed = mainWindow.isMaximized() || mainWindow.isFullScreen();
    const Placement place = PlaceBeside(mainWindow.geometry(), size(), available, fixed);
    if (place.frame != mainWindow.geometry())
        mainWindow.setGeometry(place.frame);
    move(place.panel);
    show();
}
