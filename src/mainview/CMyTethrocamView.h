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
#include "colour/PictureColourSpace.h"
#include "display/DisplayPipeline.h"
#include "display/PictureHistory.h"
#include "imaging/Bitmap.h"
#include "imaging/ImageHistogram.h"
#include "mainview/FormControls.h"
#include "settings/Settings.h"
#include "windows/ViewSurface.h"

#include <QBasicTimer>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <chrono>
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
class CBlankDlg;
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
    ShotAttempt TakeSequencedPicture() override;
    void ShootingFinished();
    void UpdateControls();
    void ShowBlankScreen(bool on);
    void RefreshDisplay();
    // The picture on show rendered for a box of boxWidth x boxHeight device pixels with the
    // overlays and modes now on, in the colours of the monitor `owner` is on (the main
    // window's picture and the full-screen window's); decode errors are shown over
    // `owner`. Sets the current rotation.
    display::DisplayResult MakeDisplayBitmap(QWidget* owner, int boxWidth, int boxHeight,
                                             ImageHistogram& histogram, bool wantHighlight) override;

    // State, for the windows that act for the view and for tests.
    CCamera* Camera() const { return camera_.get(); }
    Settings& Prefs() override { return settings_; }
    const FormControls& Form() const { return form_; }
    bool Shooting() const { return shooting_; }
    bool BlackAndWhite() const { return blackAndWhite_; }
    const display::PictureHistory& History() const { return history_; }
    const std::vector<uint8_t>& CurrentBytes() const { return currentBytes_; }
    const ImageInfo* CurrentInfo() const { return currentInfo_.get(); }
    int CurrentRotation() const { return currentRotation_; }
    // The fitted picture in its own values (what the readout reads), in the monitor's
    // colours (none when no transform applies), and the flashing companion as shown.
    const std::optional<Bitmap>& DisplayBitmap() const { return displayBitmap_; }
    const std::optional<Bitmap>& ShownBitmap() const { return shownBitmap_; }
    const std::optional<Bitmap>& HighlightBitmap() const { return highlightBitmap_; }
    // The colour space of the picture on show (read once per picture).
    const colour::PictureColourSpace& CurrentColourSpace();
    const ImageHistogram& Histogram() const { return histogram_; }
    QWidget* Picture() const;
    QWidget* HistogramWidget() const;
    // The scroll area that holds the left panel (it scrolls when the window is shorter).
    QScrollArea* PanelScroller() const { return panelScroller_; }
    QWidget* BlankWindow() const;
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
    // Downloads on their way from the camera (CCamera::DownloadsOutstanding), 0 without one.
    int DownloadsOutstanding() const;
    // Pictures that no folder would take, kept in memory until they are saved (File >
    // Save Unsaved Pictures...).
    size_t UnsavedPictureCount() const { return unsaved_.size(); }
    // Asks for a folder and saves the pictures kept in memory there; true when none is left.
    bool SaveUnsavedPictures();
    // Whether the window may close now. With downloads on their way it says "Finishing the
    // download of N pictures…", closes the window once they are saved, and answers false;
    // asked again meanwhile, it offers to cut the download short. Pictures kept in memory
    // are offered for saving first.
    bool RequestClose();
    // Quitting on a signal: finishes the downloads on their way (at most `maxWaitMs`, then
    // they are cut short) and then runs `quit`; pictures kept in memory go to a rescue
    // folder. A second call while waiting cuts the downloads short at once.
    void FinishDownloadsThenQuit(int maxWaitMs, std::function<void()> quit);
    // Whether a disconnect, close or quit waits for downloads now.
    bool FinishingDownloads() const { return afterDownloads_ != AfterDownloads::Nothing; }
    // While set, the refusal boxes of the shooting commands are shown after the command has
    // returned (a remote client gets its answer before any box).
    void SetDeferRefusalBoxes(bool defer) { deferRefusalBoxes_ = defer; }
    // The folders a picture goes to when the picture folder refuses it (tests may set them).
    void SetRescueFolders(std::vector<std::string> folders);

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
    sequences::ExposureSituation ReadExposure() override;
    std::optional<uint16_t> WriteExposure(sequences::ExposureSetting which, uint16_t code) override;
    void PutBackAtNextConnection(sequences::ExposureSetting which, uint16_t code) override;
    void SetSequenceComment(const std::string& piece) override;
    cdsdk::CameraLibrary& Library() override { return library_; }
    cdsdk::cdHSource Source() const override { return camera_ ? camera_->Source() : 0; }
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
    // The whole panel, and beside it a picture area of the camera's 3:2 as high as the panel.
    QSize sizeHint() const override;

private:
    void WindowProc(Notification& n);
    void OnDownloadProgress(int64_t progress, int64_t waiting);
    void ResetProgress();
    void OnDisplayJpeg(std::vector<uint8_t> bytes);
    void ForwardPictureToFullScreen();
    void OnSavedFile(Notification& n);
    void OnCompanionReport(Notification& n);
    // Keeps a picture no folder took; false when it is left to the camera's card instead.
    bool KeepUnsaved(std::vector<uint8_t> bytes, const std::string& name, bool cardKeepsCopy);
    static constexpr size_t kUnsavedMemoryBound = size_t{1} << 30;
    void ReportRescue(const SaveReport& r, const std::string& path);
    QString LowSpaceNote(const SaveReport& r) const;
    // A refusal of a shooting command: kept in refusal_ and shown (now, or just after the
    // command when boxes are deferred).
    void Refuse(const QString& text, const QString& detail = {});
    void ShowBoxLater(const QString& text, const QString& detail, int icon);
    // Downloads before a disconnect or quit.
    enum class AfterDownloads { Nothing, Disconnect, Close, Quit };
    void StartFinishing(AfterDownloads what);
    void FinishTick();
    bool AskToCutDownloadsShort();
    void CutDownloadsShort();
    void FinishedDownloads();
    QString FinishingText() const;
    void OnCameraShutdown(int64_t cause);
    void OnReleaseError(int64_t code);
    void ToggleConnection();
    void OpenFullScreen();
    void ViewImage();
    bool ReconnectPrompt();
    // Release for TakePicture (`quiet` false: refusals shown in boxes) and for a sequence.
    ShotAttempt StartRelease(bool quiet);
    // The checks and state shared by both shooting commands; false when refused, with the
    // reason in `refused` (shown in a box unless `quiet`).
    bool PrepareShot(bool preview, bool quiet, ShotAttempt& refused);
    void DeleteCamera();
    void SetTitle(const QString& title);
    void SetStatus(const QString& text);
    // The camera library's own reason and remedy for its last failure (empty when it has
    // none), forgotten by the library once read.
    QString TakeProblemReport();
    // An error box with the system's own text as headline and the library's reason under
    // it; the status bar shows both.
    static QString StatusLine(const QString& headline, const QString& detail);
    void LayoutPanel();
    bool PanelScrolls() const;
    // Where the picture area starts: right of the Av list (of the panel's scroll bar while
    // it scrolls).
    int PictureAreaLeft() const;
    // After a connection: a setting a sequence could not put back before the camera went away.
    void PutBackPendingSetting();
    void ShowDisplayBitmap(display::DisplayResult result, const ImageHistogram& histogram, qreal scale);
    // Renders the window's picture again: the monitor's colours or the screen changed (the
    // full-screen and preview windows follow the colour changes themselves).
    void ColoursChanged();
    void ApplyColourSettings();
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
    std::string settingsError_;  // why the settings file was refused at load (empty: read)
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
    // The cover is a child of a modal window when one was open as it was made, and goes
    // with that window: hence a guarded pointer, deleted here otherwise.
    QPointer<CBlankDlg> blankWindow_;
    QPointer<QWidget> focusBeforeShot_;  // the view's control that had the keyboard at the release
    CFullscreenDlg* fullScreen_ = nullptr;   // while full screen is on
    CImagePreviewDlg* preview_ = nullptr;    // a child window, created hidden, lives with the view
    QString refusal_;
    QString connectProblem_;  // why the last connection attempt failed, as the library said
    std::function<void(const Notification&)> timeLapseForward_;
    std::function<void(const Notification&)> fullScreenForward_;

    std::vector<uint8_t> currentBytes_;
    std::unique_ptr<ImageInfo> currentInfo_;
    display::PictureHistory history_;
    int currentRotation_ = 0;
    std::optional<colour::PictureColourSpace> currentSpace_;  // of currentBytes_, once read
    std::optional<Bitmap> displayBitmap_;
    std::optional<Bitmap> shownBitmap_;
    std::optional<Bitmap> highlightBitmap_;
    qreal displayScale_ = 1;  // device pixels per pixel of the window the bitmaps were made for
    bool screenFollowed_ = false;
    QString colourProblem_;  // why the chosen monitor profile file cannot be used, if so
    bool showingHighlight_ = false;
    ImageHistogram histogram_;
    QBasicTimer blinkTimer_;

    std::mutex snapshotMutex_;
    SaveSnapshot snapshot_;
    std::string sequenceComment_;  // the running sequence's piece after the user's comment

    // A setting to put back when the same model connects again.
    struct PendingPutBack {
        sequences::ExposureSetting which;
        uint16_t code;
        std::string model;
    };
    std::optional<PendingPutBack> pendingPutBack_;
    std::string lastModel_;  // the model of the last connection

    std::unique_ptr<RemoteControl> remote_;

    struct UnsavedPicture {
        std::vector<uint8_t> bytes;
        std::string name;
    };
    std::vector<UnsavedPicture> unsaved_;
    static int WriteKeptPicture(const std::string& folder, const UnsavedPicture& picture, std::string& path);
    std::vector<std::string> rescueFolders_;
    bool rescueReported_ = false;   // a rescue box was shown since the last save into the picture folder
    bool unsavedReported_ = false;  // the same for a picture no folder took
    uint64_t lastPictureBytes_ = 0; // size of the last picture saved, for the room left
    bool deferRefusalBoxes_ = false;

    AfterDownloads afterDownloads_ = AfterDownloads::Nothing;
    QBasicTimer finishTimer_;
    std::optional<std::chrono::steady_clock::time_point> finishDeadline_;
    std::function<void()> quit_;
    int lastProgress_ = 0;

    // The body's format before a preview that a shutdown cut short: put back at the next
    // connection to the same model.
    struct FormatToRestore {
        std::string model;
        uint16_t quality = 0, size = 0;
    };
    std::optional<FormatToRestore> formatToRestore_;
    std::optional<ImageHistogram> liveHistogram_;  // drawn instead of the picture's while set
    // Declared last: it goes first, while the sink its loop posts to still exists.
    std::unique_ptr<LiveViewController> liveView_;
};
