// CameraSettingsPanel: the left-hand column's camera settings. It fills the value lists
// for the connected body, reads every setting from the camera into the lists and the
// read-only lines, writes a setting when the user changes a control and then shows what
// the camera really took, and enables each control according to the exposure mode.
//
// A body the program's own tables do not describe (one the camera library describes itself,
// CDGetOfferedSettings) gets its own Tv, Av, ISO and exposure-compensation choices, the
// settings it offers enabled whatever its mode reads, a setting it lacks shown as an empty
// disabled list marked "Not offered", and the focus points, lens, parameter
// set and custom-function lines only where it has them. The seed bodies keep their panel.
//
// It works on widgets it does not own (FormControls) and reaches the camera, the save
// mode and the shooting state of the view through the three functions given at
// construction, so it always sees the view's current camera (null while not connected).
//
// Threads: UI thread only. Blocking: every call that talks to the camera waits for the
// camera library's answer; nothing else blocks. No error is ever shown to the user: a
// failed read leaves its control as it was, a failed write is followed by a read-back.
#pragma once

#include "mainview/FormControls.h"
#include "mainview/ValueLists.h"
#include "sequences/ExposureBracket.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>

class CCamera;
class QComboBox;
class QLabel;

class CameraSettingsPanel : public QObject {
    Q_OBJECT
public:
    // `camera`: the view's camera, null while not connected. `storeImage`: the save mode
    // (StoreImage). `shooting`: whether a release is on its way.
    CameraSettingsPanel(FormControls& form, std::function<CCamera*()> camera, std::function<int()> storeImage,
                        std::function<bool()> shooting);
    ~CameraSettingsPanel() override;

    // At connection: the lists that depend on the body, the focus-point buttons it has and
    // the place of the progress bar.
    void PrepareModelLists();
    // Reads every setting from the camera (skipped while shooting or when the camera's
    // controls cannot be locked).
    void RefreshCameraSettings();
    // Reads the AF point setting into the seven focus-point buttons.
    void ShowFocusPointSelection();
    // Writes the size and quality selected in the list to the camera (nothing without a
    // selection).
    void ApplySizeQuality();
    // Writes this size and quality to the camera (after a preview picture: the format read
    // before the switch), then shows in the list what the camera took.
    void RestoreSizeQuality(uint16_t quality, uint16_t size);
    // Enabling and showing by connection state, for the view's UpdateControls.
    void UpdateEnabling(bool connected);
    // Refresh command (F5): clears any lock count left over, then reads every setting.
    // Does nothing while shooting.
    void Refresh();
    // The camera reported that its settings changed.
    void SettingsChanged();

    // Change handlers, wired to the controls' user-change signals; the remote-control
    // channel calls the Tv, Av, exposure compensation and ISO handlers after it has set
    // the list's selection.
    void OnTvChanged();
    void OnAvChanged();
    void OnExposureCompChanged();
    void OnFlashCompChanged();
    void OnSizeQualityChanged() { ApplySizeQuality(); }
    void OnWhiteBalanceChanged();
    void OnColourTempEdited();
    void OnMeteringChanged();
    void OnDriveChanged();
    void OnIsoChanged();
    void OnAfModeChanged();
    void OnFocusPointClicked(int id);
    void OnSelectAllClicked();

    // The download progress bar (1004) on (it takes the place of the lens line, or of the
    // AE lock line on an EOS 300D; the line keeps its room, so nothing in the panel moves)
    // or off (the lines are shown again).
    void ShowProgressBar(bool on);
    // The line the progress bar stands in for.
    QLabel* ProgressAnchor() const { return progressAnchor_; }
    // For brackets: the camera's exposure mode, Tv and exposure compensation as it reports them
    // now, and the entries of the Tv and exposure compensation lists (the body's values);
    // empty while not connected.
    sequences::ExposureSituation ReadExposure() const;
    // Writes a Tv or exposure compensation code as the change handlers do and shows what the
    // camera took; the code read back (none when not connected or unreadable).
    std::optional<uint16_t> WriteExposure(sequences::ExposureSetting which, uint16_t code);

    // The model the lists were last prepared for.
    panel::Model PreparedModel() const { return model_; }
    // Whether the connected body describes its own settings (not one of the seed bodies).
    bool BodyDescribed() const { return bodyDescribed_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CCamera* ConnectedCamera() const;  // null without a camera or without an open source
    panel::Model CurrentModel() const;
    void PlaceProgressBar();
    void FillLists(bool fine);
    void RefillAvList(bool fine);
    void ApplyLensLimits(CCamera& cam);
    void EnableByMode(uint16_t mode, uint16_t afMode);
    void WriteFocusPoint(uint16_t code);
    // Asks the library what the body offers; false for a body the built-in tables describe.
    bool ReadOffers(CCamera& cam);
    bool Offers(uint32_t bit) const { return (present_ & bit) != 0; }
    bool Takes(uint32_t bit) const { return (settable_ & bit) != 0; }
    void RefreshFromBody(CCamera& cam);
    void FillFromBody(QComboBox* combo, CCamera& cam, uint32_t bit);
    void ShowFocusPoints(bool shown);

    FormControls& form_;
    std::function<CCamera*()> camera_;
    std::function<int()> storeImage_;
    std::function<bool()> shooting_;
    panel::Model model_ = panel::Model::Other;
    QLabel* progressAnchor_ = nullptr;
    bool bodyDescribed_ = false;
    uint32_t present_ = 0, settable_ = 0;  // cdOFFERS_* bits of a body that describes itself
};

// Helpers shared with tests: the list's entries and selection by code.
namespace panel {
void FillCombo(QComboBox* combo, ValueList list);
// Empties the list, disables it and marks it as a setting the body does not have.
void MarkNotOffered(QComboBox* combo);
constexpr const char* kNotOffered = "Not offered";
// Selects the first entry with this code; without one the selection stays as it is.
void SelectByCode(QComboBox* combo, uint32_t code);
// Code of the current selection, none when nothing is selected.
std::optional<uint32_t> SelectedCode(const QComboBox* combo);
}  // namespace panel
