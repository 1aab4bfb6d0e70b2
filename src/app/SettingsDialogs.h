// The three settings dialogs of the main window: "Tethrocam Preferences" (mouse-button
// actions, where and under which names pictures are saved, the monitor profile and the
// rendering intent of the colour-managed display; command 139), "Grid Settings"
// (command 142) and "Flashing Highlight Settings" (command 169). Each works on a copy of
// the values; the Edit* functions copy the settings in, run the dialog and copy back only
// on OK, so Cancel discards everything, also a folder or colour already picked. Every
// control carries its id as its object name.
//
// UI thread only. The Edit* functions block in the modal dialog; the folder and colour
// choosers are seams that tests replace.
#pragma once

#include "settings/Settings.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace dialogs {

// "Please enter an integer between %1 and %2."
QString RangeMessage(int low, int high);

// The desktop's folder chooser (parent, title, starting folder); empty when nothing was
// chosen. The colour chooser (parent, starting colour 0x00BBGGRR); nullopt on Cancel.
using FolderChooser = std::function<QString(QWidget*, const QString&, const QString&)>;
using ColourChooser = std::function<std::optional<uint32_t>(QWidget*, uint32_t)>;
// The desktop's file chooser for a colour profile (parent, title, starting file); empty
// when nothing was chosen.
using ProfileChooser = std::function<QString(QWidget*, const QString&, const QString&)>;
// Replace the choosers (tests); an empty function restores the desktop's.
void SetFolderChooser(FolderChooser chooser);
void SetColourChooser(ColourChooser chooser);
// The folder chooser in force (the desktop's unless a test replaced it).
QString ChooseFolder(QWidget* parent, const QString& title, const QString& start);
void SetProfileChooser(ProfileChooser chooser);
// The colour chooser in use (the desktop's, or the one a test installed).
std::optional<uint32_t> ChooseColour(QWidget* parent, uint32_t start);

}  // namespace dialogs

struct PreferencesValues {
    bool year = true;
    bool month = true;
    bool flattenDate = true;
    std::string prefix;
    bool day = true;
    std::string directory;
    int middleButtonAction = 0;
    int rightButtonAction = 0;
    int monitorProfile = 0;       // 0 "System", 1 "sRGB", 2 "File..."
    std::string monitorProfileFile;
    int renderingIntent = 0;      // 0 "Perceptual", 1 "Relative colorimetric with black-point compensation"
    int liveViewReviewSeconds = 2;  // 0 .. 60
};

class CPreferencesDlg : public QDialog {
public:
    CPreferencesDlg(const PreferencesValues& values, QWidget* parent = nullptr);
    // The values as edited (what OK copies back).
    PreferencesValues Values() const;
    QString ExampleName() const;
    // "..." (1003): the folder chooser, starting at the folder being edited.
    void Browse();
    // The monitor profile's "..." (and choosing "File..." while no file is named): the
    // profile file chooser.
    void BrowseProfile();
    void accept() override;

private:
    void UpdateExample();
    void UpdateProfileControls();

    PreferencesValues initial_;
    QComboBox* middle_ = nullptr;
    QComboBox* right_ = nullptr;
    QLineEdit* prefix_ = nullptr;
    QLineEdit* directory_ = nullptr;
    QCheckBox* year_ = nullptr;
    QCheckBox* month_ = nullptr;
    QCheckBox* day_ = nullptr;
    QCheckBox* flatten_ = nullptr;
    QLineEdit* example_ = nullptr;
    QComboBox* monitorProfile_ = nullptr;
    QLineEdit* profileFile_ = nullptr;
    QPushButton* profileBrowse_ = nullptr;
    QComboBox* intent_ = nullptr;
    QSpinBox* review_ = nullptr;
};

struct GridValues {
    uint32_t colour = 0x0000FF00;  // 0x00BBGGRR
    bool enabled = false;
    int horizontal = 2;
    int vertical = 2;
};

class CGridSettingsDlg : public QDialog {
public:
    CGridSettingsDlg(const GridValues& values, QWidget* parent = nullptr);
    GridValues Values() const;
    // "..." (1003): the colour chooser; on OK the swatch shows the new colour.
    void ChooseColour();
    void accept() override;

private:
    void PaintSwatch();

    uint32_t colour_;
    QLabel* swatch_ = nullptr;
    QSpinBox* horizontal_ = nullptr;
    QSpinBox* vertical_ = nullptr;
    QCheckBox* enabled_ = nullptr;
};

struct HighlightValues {
    int method = 0;  // 0 "Luminosity", 1 "RGB value"
    int threshold = 250;
    bool display = false;
};

class CHighlightSettings : public QDialog {
public:
    CHighlightSettings(const HighlightValues& values, QWidget* parent = nullptr);
    HighlightValues Values() const;
    void accept() override;

private:
    HighlightValues initial_;
    QComboBox* method_ = nullptr;
    QLineEdit* threshold_ = nullptr;
    QCheckBox* display_ = nullptr;
};

// Commands 139, 142 and 169: copy in, run, copy back on OK.
// EditPreferences: true when the user pressed OK (the save snapshot must then be renewed).
bool EditPreferences(QWidget* parent, Settings& settings);
// EditGridSettings, EditHighlightSettings: true when OK changed one of the values (the
// picture must then be redisplayed).
bool EditGridSettings(QWidget* parent, Settings& settings);
bool EditHighlightSettings(QWidget* parent, Settings& settings);
