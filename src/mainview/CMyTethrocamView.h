// CMyTethrocamView: the main form view, the program's control centre. It loads and saves
// the settings, starts the camera library, connects as soon as it is shown, owns the one
// CCamera, runs the shooting commands, turns the camera link's notifications (Qt events
// posted by QtNotificationSink, handled in posted order) into what the user sees, and shows
// the current picture to the right of the control panel with its review aids.
//
// Threads: UI thread only, except TakeSaveSnapshot and Post, which the camera's threads
// call: TakeSaveSnapshot returns a copy made under a lock (kept current by the UI thread
// whenever a save setting or the Comment box changes); Post only queues an event.
// Blocking: connecting waits for the camera library, disconnecting at most 15 x 100 ms for
// the camera's threads (a busy camera finishes in the background); message boxes are
// modal. Decoding runs on the UI thread, as the picture is shown.
#pragma once

#include "app/QtNotificationSink.h"
#include "camera/CCamera.h"
#include "display/DisplayPipeline.h"
#include "display/PictureHistory.h"
#include "imaging/Bitmap.h"
#include "imaging/ImageHistogram.h"
#include "mainview/FormControls.h"
#include "settings/Settings.h"
#include "windows/ViewSurface.h"

#include <QBasicTimer>
#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CMainFrame;
class CameraSettingsPanel;
class PictureControl;
class HistogramControl;
class QScrollArea;
class RemoteControl;
class CFullscreenDlg;
class CImagePreviewDlg;
class LiveViewController;

class CMyTethrocamView : public QWidget, public CameraOwner, public ViewSurface {
    Q_OBJECT
public:
    // `settingsFile`: the settings key's file (empty: the user's default).
    CMyTethrocamView(cdsdk::CameraLibrary& library, CMainFrame* frame, std::string settingsFile = {},
                     QWidget* parent = nullptr);
    ~CMyTethrocamView() override;

    // Commands: menu items, accelerators, buttons (ids in ControlIds.h).
    void OnCommand(int id) override;

    void ConnectCamera();
    // The two shooting commands, for every route that fires the shutter (buttons, F8/F9,
    // mouse actions, the full-screen and preview windows, time-lapse, remote channel).
    // True when a release was started. A command that arrives while a shot is on its way
    // is refused without a word: one release at a time, one lock of the camera's controls.
    bool TakePicture() override;
    bool TakePreviewPicture() override;
    // The message of the last refusal of TakePicture (empty when none).
    const QString& LastRefusal() const override { return refusal_; }
    void ShootingFinished();
    void UpdateControls();
    void ShowBlankScreen(bool on);
    void RefreshDisplay();
    // The picture on show rendered for a box of boxWidth x boxHeight with the overlays and
    // modes now on (the main window's picture and the full-screen window's); decode errors
    // are shown over `owner`. Sets the current rotation.
    display::DisplayResult MakeDisplayBitmap(QWidget* owner, int boxWidth, int boxHeight,
                                             ImageHistogram& histogram, bool wantHighlight) override;

    // State, for the windows that act for the view and for tests.
    CCamera* Camera() const { return camera_.get(); }
    Settings& Prefs() { return settings_; }
    const FormControls& Form() const { return form_; }
    bool Shooting() const { return shooting_; }
    bool BlackAndWhite() const { return blackAndWhite_; }
    const display::PictureHistory& History() const { return history_; }
    const std::vector<uint8_t>& CurrentBytes() const { return currentBytes_; }
    const ImageInfo* CurrentInfo() const { return currentInfo_.get(); }
    int CurrentRotation() const { return currentRotation_; }
    const std::optional<Bitmap>& DisplayBitmap() const { return displayBitmap_; }
    const std::optional<Bitmap>& HighlightBitmap() const { return highlightBitmap_; }
    const ImageHistogram& Histogram() const { return histogram_; }
    QWidget* Picture() const;
    QWidget* HistogramWidget() const;
    // The scroll area that holds the left panel (it scrolls when the window is shorter).
    QScrollArea* PanelScroller() const { return panelScroller_; }
    QWidget* BlankWindow() const { return blankWindow_.get(); }
    QWidget* CurrentDisplayWindow() const { return currentDisplayWindow_; }
    CFullscreenDlg* FullScreen() const { return fullScreen_; }
    CImagePreviewDlg* Preview() const { return preview_; }
    void SetCurrentDisplayWindow(QWidget* w) override { currentDisplayWindow_ = w; }
    // The picture control shows the highlight companion in this phase of the blink.
    bool ShowingHighlight() const { return showingHighlight_; }
    void BlinkTick();
    // The Comment box's text, stamped into every saved picture.
    void SetComment(const QString& text);
    // Saves the settings now (also done when the view goes away).
    void SaveSettingsNow();
    // Copies the save settings (`Directory`, prefix, dated folders, `OrientationSetting`)
    // and the Comment box into the release thread's snapshot. Every change of one of them
    // (dialogs, remote channel) must be followed by this call.
    void UpdateSnapshot();
    CameraSettingsPanel* Panel() const { return panel_.get(); }
    // Opens the remote-control channel in `folder` (empty: the user's runtime folder).
    void StartRemoteControl(const std::string& folder = {});
    RemoteControl* Remote() const { return remote_.get(); }
    // Live view (F6) in the picture area.
    LiveViewController* LiveView() const { return liveView_.get(); }

    // Hooks for the windows that come and go (time-lapse dialog, full-screen window):
    // while set, the camera notifications are handed to them too. The time-lapse dialog's
    // copy is posted once the view has handled the notification.
    void SetTimeLapseForward(std::function<void(const Notification&)> forward) override
    {
        timeLapseForward_ = std::move(forward);
    }
    void SetFullScreenForward(std::function<void(const Notification&)> forward) { fullScreenForward_ = std::move(forward); }

    // ViewSurface
    QWidget* ViewWidget() override { return this; }
    bool Connected() const override { return camera_ != nullptr; }
    bool SavesOnPcOnly() const override { return settings_.StoreImage == 1; }
    std::string PictureCaption() const override { return history_.HistoryCaption(!currentBytes_.empty()); }
    bool LiveViewCamera(cdsdk::CameraLibrary** library, cdsdk::cdHSource* source, std::string* model) override;
    void FireShutter() override;
    display::DisplaySettings CurrentDisplaySettings() const override;
    void ShowLiveHistogram(const ImageHistogram* histogram) override;
    void SetStatusText(int pane, const QString& text) override;
    void LiveViewClick(int x, int y, int shownWidth, int shownHeight) override;

    // CameraOwner
    void Post(Notification n) override { sink_.Post(std::move(n)); }
    SaveSnapshot TakeSaveSnapshot() override;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    QSize minimumSizeHint() const override { return {400, 410}; }

private:
    void WindowProc(Notification& n);
    void OnDownloadProgress(int64_t progress, int64_t waiting);
    void OnDisplayJpeg(std::vector<uint8_t> bytes);
    void ForwardPictureToFullScreen();
    void OnSavedFile(const std::optional<std::string>& text);
    void OnCameraShutdown(int64_t cause);
    void OnReleaseError(int64_t code);
    void ToggleConnection();
    void OpenFullScreen();
    void ViewImage();
    bool ReconnectPrompt();
    // The checks and state shared by both shooting commands; false when refused.
    bool PrepareShot(bool preview);
    void DeleteCamera();
    void SetTitle(const QString& title);
    void SetStatus(const QString& text);
    void LayoutPanel();
    bool PanelScrolls() const;
    void ShowDisplayBitmap(std::optional<Bitmap> display, std::optional<Bitmap> highlight,
                           const ImageHistogram& histogram);
    void ShowOnPictureControl();
    void DrawHistogram();
    void ClearDisplay();
    void EditImage();
    void EditorSetup();
    void MouseAction(int action);
    display::HistoryView HistoryHooks();
    // The live view's preferences and its place (the picture area).
    void ApplyLiveViewOptions();
    void LayoutLiveView();
    void LiveViewCommand(int id);

    cdsdk::CameraLibrary& library_;
    CMainFrame* frame_;
    std::string settingsFile_;
    Settings settings_;
    QtNotificationSink sink_;
    std::unique_ptr<CCamera> camera_;
    FormControls form_;
    std::unique_ptr<CameraSettingsPanel> panel_;
    QScrollArea* panelScroller_ = nullptr;
    PictureControl* picture_ = nullptr;
    HistogramControl* histogramControl_ = nullptr;
    bool shownOnce_ = false;
    bool shooting_ = false;
    bool previewFlag_ = false;
    // The picture format read from the camera before a preview switched it to small/normal;
    // put back when the preview ends.
    uint16_t formatQualityBeforePreview_ = 0;
    uint16_t formatSizeBeforePreview_ = 0;
    bool blackAndWhite_ = false;
    bool fullScreenOpen_ = false;
    QWidget* currentDisplayWindow_ = nullptr;
    std::unique_ptr<QWidget> blankWindow_;
    CFullscreenDlg* fullScreen_ = nullptr;   // while full screen is on
    CImagePreviewDlg* preview_ = nullptr;    // a child window, created hidden, lives with the view
    QString refusal_;
    std::function<void(const Notification&)> timeLapseForward_;
    std::function<void(const Notification&)> fullScreenForward_;

    std::vector<uint8_t> currentBytes_;
    std::unique_ptr<ImageInfo> currentInfo_;
    display::PictureHistory history_;
    int currentRotation_ = 0;
    std::optional<Bitmap> displayBitmap_;
    std::optional<Bitmap> highlightBitmap_;
    bool showingHighlight_ = false;
    ImageHistogram histogram_;
    QBasicTimer blinkTimer_;

    std::mutex snapshotMutex_;
    SaveSnapshot snapshot_;

    std::unique_ptr<RemoteControl> remote_;
    std::optional<ImageHistogram> liveHistogram_;  // drawn instead of the picture's while set
    // Declared last: it goes first, while the sink its loop posts to still exists.
    std::unique_ptr<LiveViewController> liveView_;
};
