// CMyTethrocamView: the main form view, the program's control centre. It loads and saves
// the settings, starts the camera library, connects as soon as it is shown, owns the one
// CCamera, runs the shooting commands, turns the camera link's notifications (Qt events
// posted by QtNotificationSink, handled in posted order) into what the user sees, and shows
// the current picture to the right of the control panel with its review aids.
//
// Threads: UI thread only, except TakeSaveSnapshot and Post, which the camera's threads
// call: TakeSaveSnapshot returns a copy made under a lock (kept current by the UI thread
// whenever a save setting or the Comment box changes); Post only queues an event.
// Blocking: connecting and disconnecting wait for the camera library; message boxes are
// modal. Decoding runs on the UI thread, as the picture is shown.
#pragma once

#include "app/QtNotificationSink.h"
#include "camera/CCamera.h"
#include "display/PictureHistory.h"
#include "imaging/Bitmap.h"
#include "imaging/ImageHistogram.h"
#include "mainview/FormControls.h"
#include "mainview/Settings.h"

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

class CMyTethrocamView : public QWidget, public CameraOwner {
    Q_OBJECT
public:
    // `settingsFile`: the settings key's file (empty: the user's default).
    CMyTethrocamView(cdsdk::CameraLibrary& library, CMainFrame* frame, std::string settingsFile = {},
                     QWidget* parent = nullptr);
    ~CMyTethrocamView() override;

    // Commands: menu items, accelerators, buttons (ids in ControlIds.h).
    void OnCommand(int id);

    void ConnectCamera();
    // Both return whether a shot started; a refusal has shown its message box.
    bool TakePicture();
    bool TakePreviewPicture();
    // The message of the last refusal of TakePicture (empty when none).
    const QString& LastRefusal() const { return refusal_; }
    void ShootingFinished();
    void UpdateControls();
    void ShowBlankScreen(bool on);
    void RefreshDisplay();

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
    QWidget* BlankWindow() const { return blankWindow_.get(); }
    QWidget* CurrentDisplayWindow() const { return currentDisplayWindow_; }
    void SetCurrentDisplayWindow(QWidget* w) { currentDisplayWindow_ = w; }
    // The picture control shows the highlight companion in this phase of the blink.
    bool ShowingHighlight() const { return showingHighlight_; }
    void BlinkTick();
    // The Comment box's text, stamped into every saved picture.
    void SetComment(const QString& text);
    // Saves the settings now (also done when the view goes away).
    void SaveSettingsNow();

    // Hooks for the windows that come and go (time-lapse dialog, full-screen window):
    // while set, the camera notifications are handed to them too. The time-lapse dialog's
    // copy is posted once the view has handled the notification.
    void SetTimeLapseForward(std::function<void(const Notification&)> forward) { timeLapseForward_ = std::move(forward); }
    void SetFullScreenForward(std::function<void(const Notification&)> forward) { fullScreenForward_ = std::move(forward); }

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
    bool ReconnectPrompt();
    // The checks and state shared by both shooting commands; false when refused.
    bool PrepareShot(bool preview);
    void DeleteCamera();
    void SetTitle(const QString& title);
    void SetStatus(const QString& text);
    void UpdateSnapshot();
    void ShowDisplayBitmap(std::optional<Bitmap> display, std::optional<Bitmap> highlight,
                           const ImageHistogram& histogram);
    void ShowOnPictureControl();
    void DrawHistogram();
    void ClearDisplay();
    void EditImage();
    void EditorSetup();
    void MouseAction(int action);
    display::HistoryView HistoryHooks();

    cdsdk::CameraLibrary& library_;
    CMainFrame* frame_;
    std::string settingsFile_;
    Settings settings_;
    QtNotificationSink sink_;
    std::unique_ptr<CCamera> camera_;
    FormControls form_;
    std::unique_ptr<CameraSettingsPanel> panel_;
    PictureControl* picture_ = nullptr;
    HistogramControl* histogramControl_ = nullptr;
    bool shownOnce_ = false;
    bool shooting_ = false;
    bool previewFlag_ = false;
    bool blackAndWhite_ = false;
    bool fullScreenOpen_ = false;
    QWidget* currentDisplayWindow_ = nullptr;
    std::unique_ptr<QWidget> blankWindow_;
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
    bool settingsSaved_ = false;

    std::mutex snapshotMutex_;
    SaveSnapshot snapshot_;
};
