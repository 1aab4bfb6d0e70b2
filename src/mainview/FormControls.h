// FormControls: the left panel of the main form: camera settings lists, the shooting
// buttons, the read-only camera lines, the focus-point buttons, the Comment box, the
// overlay check box, the histogram area and the browse buttons. BuildForm creates them
// with their labels and control ids (each widget's objectName is its id, e.g. "1000");
// the settings lists start empty and are filled by the camera settings panel.
// UI thread only.
#pragma once

#include <QString>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class QVBoxLayout;

struct FormControls {
    QWidget* panel = nullptr;
    QPushButton* release = nullptr;      // 1003
    QPushButton* preview = nullptr;      // 1028
    QProgressBar* progress = nullptr;    // 1004, in the lens line's place (or the AE lock line's)
    QLabel* modeLine = nullptr;          // 1007
    QComboBox* tv = nullptr;             // 1000
    QComboBox* av = nullptr;             // 1002: the right-most control of the panel
    QComboBox* iso = nullptr;            // 1016
    QComboBox* exposureComp = nullptr;   // 1005
    QComboBox* flashComp = nullptr;      // 1009
    QComboBox* sizeQuality = nullptr;    // 1010
    QComboBox* whiteBalance = nullptr;   // 1011
    QLineEdit* colourTemp = nullptr;     // 1012
    QComboBox* metering = nullptr;       // 1014
    QComboBox* drive = nullptr;          // 1015
    QComboBox* afMode = nullptr;         // 1017
    QGroupBox* focusGroup = nullptr;     // "Focus Points"
    // Focus-point buttons by id 1020..1026: top, centre, bottom, left, far left, right, far right.
    std::array<QPushButton*, 7> focusPoints{};
    QPushButton* selectAll = nullptr;    // 1027
    QLabel* lensLine = nullptr;          // 1008
    QLabel* parameterSetLine = nullptr;  // 1013
    QLabel* shutterButtonLine = nullptr; // 1018
    QLabel* aeLockLine = nullptr;        // 1019
    QLabel* mirrorLockupLine = nullptr;  // 1029
    QLineEdit* comment = nullptr;        // 1048
    QCheckBox* displayOverlay = nullptr; // 1031
    QVBoxLayout* histogramSlot = nullptr; // where the view puts the histogram (1033) and readout
    QLabel* rgbReadout = nullptr;        // 1073
    QPushButton* previous = nullptr;     // 1053
    QPushButton* next = nullptr;         // 1054

    // The focus-point button for an id 1020..1026, or null.
    QPushButton* FocusPoint(int id) const;
    // Any control of the panel by id, or null.
    QWidget* Control(int id) const;
};

FormControls BuildForm(QWidget* parent);
