#include "mainview/CMyTethrocamView.h"

#include "app/CMainFrame.h"
#include "app/DesktopIntegration.h"
#include "app/SettingsDialogs.h"
#include "app/EditorLaunch.h"
#include "app/MessageBox.h"
#include "camera/CameraShutdown.h"
#include "camera/CameraStartup.h"
#include "display/BitmapImage.h"
#include "display/DisplayPipeline.h"
#include "display/HistogramView.h"
#include "display/PixelReadout.h"
#include "liveview/LiveViewController.h"
#include "mainview/CameraSettingsPanel.h"
#include "mainview/ControlIds.h"
#include "mainview/EditorSetupDialog.h"
#include "remote/RemoteControl.h"
#include "platform/DebugTrace.h"
#include "windows/CBlankDlg.h"
#include "windows/CFullscreenDlg.h"
#include "windows/CImagePreviewDlg.h"
#include "windows/CTimeLapseDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <algorithm>

#include <sys/stat.h>

using namespace ids;
using platform::DebugTrace;

// ---------------------------------------------------------------- picture and histogram controls

// The picture control (1006): paints its bitmap 1:1 at its top-left corner, nothing else;
// reports the colour under the pointer. It keeps its own copy of the bitmap, so nothing
// the view replaces or frees can leave it pointing at released pixels.
class PictureControl : public QWidget {
public:
    explicit PictureControl(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QString::number(IDC_PICTURE));
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent, false);
    }
    // Shows a copy of `bitmap` (null or empty: nothing) and takes its size.
    void SetBitmap(const Bitmap* bitmap)
    {
        if (bitmap && !bitmap->Empty()) {
            shown_ = *bitmap;
            resize(shown_->width, shown_->height);
        } else {
            shown_.reset();
        }
        update();
    }
    std::function<void(const QString&)> onReadout;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!shown_)
            return;
        QPainter p(this);
        p.drawImage(0, 0, display::WrapBitmap(*shown_));
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        const QPoint pos = e->position().toPoint();
        const auto readout = display::ReadPixelUnderPointer(shown_ ? &*shown_ : nullptr, pos.x(), pos.y(),
                                                            width(), height());
        setCursor(readout.crossCursor ? Qt::CrossCursor : Qt::ArrowCursor);
        if (onReadout)
            onReadout(QString::fromStdString(readout.text));
        QWidget::mouseMoveEvent(e);
    }
    void leaveEvent(QEvent* e) override
    {
        if (onReadout)
            onReadout("RGB:");
        QWidget::leaveEvent(e);
    }

private:
    std::optional<Bitmap> shown_;
};

// The histogram control (1033): shows the histogram picture; the right button opens the
// curve menu. Every other button goes on to the view, which runs its mouse action.
class HistogramControl : public QLabel {
public:
    explicit HistogramControl(QWidget* parent) : QLabel(parent)
    {
        setObjectName(QString::number(IDC_HISTOGRAM));
    }
    std::function<void(const QPoint&)> onCurveMenu;

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        // A right press here is the curve menu's, never the configured right-button action.
        if (e->button() == Qt::RightButton)
            e->accept();
        else
            e->ignore();
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() != Qt::RightButton) {
            e->ignore();
            return;
        }
        if (rect().contains(e->position().toPoint()) && onCurveMenu)
            onCurveMenu(e->globalPosition().toPoint());
        e->accept();
    }
};

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

const char* ShutdownCause(int64_t cause)
{
    switch (cause) {
    case 1: return "battery low";
    case 2: return "dial changed";
    case 3: return "CF card door opened";
    case 4: return "battery cover open";
    case 5: return "connection timeout";
    default: return "connection lost";
    }
}

}  // namespace

// ---------------------------------------------------------------- construction

CMyTethrocamView::CMyTethrocamView(cdsdk::CameraLibrary& library, CMainFrame* frame, std::string settingsFile,
                                   QWidget* parent)
    : QWidget(parent), library_(library), frame_(frame), settingsFile_(std::move(settingsFile)), sink_(this)
{
    currentDisplayWindow_ = this;
    // The left panel keeps its own size and scrolls when the window is shorter than it.
    panelScroller_ = new QScrollArea(this);
    panelScroller_->setObjectName("panelScroller");
    panelScroller_->setFrameShape(QFrame::NoFrame);
    panelScroller_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panelScroller_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    form_ = BuildForm(panelScroller_);
    form_.panel->adjustSize();
    panelScroller_->setWidget(form_.panel);
    LayoutPanel();

    picture_ = new PictureControl(this);
    picture_->onReadout = [this](const QString& text) { form_.rgbReadout->setText(text); };
    histogramControl_ = new HistogramControl(form_.panel);
    form_.histogramSlot->insertWidget(0, histogramControl_);
    histogramControl_->onCurveMenu = [this](const QPoint& at) {
        QMenu menu(this);
        struct Item {
            const char* text;
            int id;
            bool on;
        } items[] = {{"&Intensity", ID_HISTOGRAM_INTENSITY, settings_.Intensity},
                     {"&Red", ID_HISTOGRAM_RED, settings_.Red},
                     {"&Green", ID_HISTOGRAM_GREEN, settings_.Green},
                     {"&Blue", ID_HISTOGRAM_BLUE, settings_.Blue}};
        for (const Item& item : items) {
            QAction* a = menu.addAction(item.text);
            a->setCheckable(true);
            a->setChecked(item.on);
            const int id = item.id;
            connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
        }
        menu.exec(at);
    };

    panel_ = std::make_unique<CameraSettingsPanel>(
        form_, [this] { return camera_.get(); }, [this] { return static_cast<int>(settings_.StoreImage); },
        [this] { return shooting_; });

    connect(form_.release, &QPushButton::clicked, this, [this] { OnCommand(IDC_RELEASE); });
    connect(form_.preview, &QPushButton::clicked, this, [this] { OnCommand(IDC_PREVIEW); });
    connect(form_.previous, &QPushButton::clicked, this, [this] { OnCommand(IDC_PREVIOUS); });
    connect(form_.next, &QPushButton::clicked, this, [this] { OnCommand(IDC_NEXT); });
    connect(form_.displayOverlay, &QCheckBox::clicked, this, [this] { OnCommand(IDC_DISPLAY_OVERLAY); });
    connect(form_.comment, &QLineEdit::textChanged, this, [this] { UpdateSnapshot(); });
    auto* left = new QShortcut(QKeySequence(Qt::Key_Left), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(left, &QShortcut::activated, this, [this] { OnCommand(IDC_PREVIOUS); });
    auto* right = new QShortcut(QKeySequence(Qt::Key_Right), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(right, &QShortcut::activated, this, [this] { OnCommand(IDC_NEXT); });

    liveView_ = std::make_unique<LiveViewController>(*this, this, sink_);
    liveView_->onStateChanged = [this] { UpdateControls(); };

    preview_ = new CImagePreviewDlg(this);
    if (frame_) {
        frame_->SetCommandHandler([this](int id) { OnCommand(id); });
        frame_->SetMinimiseHooks([this] { preview_->FrameMinimised(); }, [this] { preview_->FrameRestored(); });
    }

    {
        RegistryStore store(settingsFile_);
        LoadSettings(settings_, store);
    }
    ApplyLiveViewOptions();
    UpdateSnapshot();
    StartCameraLibrary(library_);
}

CMyTethrocamView::~CMyTethrocamView()
{
    remote_.reset();
    SaveSettingsNow();
    blankWindow_.reset();
    liveView_->Quiet();  // the frame's status bar may be gone already
    DeleteCamera();
    liveView_.reset();  // its loop is done with the library before the library finishes
    FinishCameraLibrary(library_);
}

void CMyTethrocamView::StartRemoteControl(const std::string& folder)
{
    remote_ = std::make_unique<RemoteControl>(*this);
    remote_->Start(folder);
}

void CMyTethrocamView::SaveSettingsNow()
{
    RegistryStore store(settingsFile_);
    SaveSettings(settings_, store);
}

SaveSnapshot CMyTethrocamView::TakeSaveSnapshot()
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return snapshot_;
}

void CMyTethrocamView::UpdateSnapshot()
{
    SaveSnapshot s;
    s.folders = settings_.Folders();
    s.orientationSetting = settings_.OrientationSetting;
    s.comment = form_.comment ? form_.comment->text().toStdString() : std::string();
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    snapshot_ = std::move(s);
}

void CMyTethrocamView::SetComment(const QString& text)
{
    form_.comment->setText(text);
    UpdateSnapshot();
}

QWidget* CMyTethrocamView::Picture() const { return picture_; }
QWidget* CMyTethrocamView::HistogramWidget() const { return histogramControl_; }

void CMyTethrocamView::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    form_.displayOverlay->setChecked(settings_.DisplayFocusPoints);
    Notification n;
    n.message = WM_AUTO_CONNECT;
    sink_.Post(std::move(n));
    UpdateControls();
    DrawHistogram();
    blinkTimer_.start(750, this);
}

bool CMyTethrocamView::PanelScrolls() const
{
    return form_.panel->height() > height();
}

void CMyTethrocamView::LayoutPanel()
{
    const int scrollBar = PanelScrolls() ? panelScroller_->verticalScrollBar()->sizeHint().width() : 0;
    panelScroller_->setGeometry(0, 0, form_.panel->width() + scrollBar, std::max(height(), 1));
}

void CMyTethrocamView::resizeEvent(QResizeEvent* e)
{
    LayoutPanel();
    LayoutLiveView();
    RefreshDisplay();
    QWidget::resizeEvent(e);
}

void CMyTethrocamView::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == blinkTimer_.timerId())
        BlinkTick();
    else
        QWidget::timerEvent(e);
}

void CMyTethrocamView::BlinkTick()
{
    if (!highlightBitmap_ || !displayBitmap_)
        return;
    showingHighlight_ = !showingHighlight_;
    ShowOnPictureControl();
}

void CMyTethrocamView::ShowOnPictureControl()
{
    if (showingHighlight_ && highlightBitmap_)
        picture_->SetBitmap(&*highlightBitmap_);
    else
        picture_->SetBitmap(displayBitmap_ ? &*displayBitmap_ : nullptr);
}

// ---------------------------------------------------------------- notifications

bool CMyTethrocamView::event(QEvent* e)
{
    if (e->type() == NotificationEvent::EventType()) {
        WindowProc(static_cast<NotificationEvent*>(e)->notification);
        return true;
    }
    return QWidget::event(e);
}

void CMyTethrocamView::WindowProc(Notification& n)
{
    const bool forwarded = n.message >= WM_DOWNLOAD_PROGRESS && n.message <= WM_SAVED_FILE &&
                           n.message != WM_FULLSCREEN_DISPLAY;
    std::shared_ptr<Notification> copy;
    if (forwarded && timeLapseForward_) {
        // The time-lapse dialog gets the numbers and the saved file's text, after the view.
        copy = std::make_shared<Notification>();
        copy->message = n.message;
        copy->wParam = n.wParam;
        copy->lParam = n.lParam;
        if (n.message == WM_SAVED_FILE)
            copy->text = n.text;
    }
    switch (n.message) {
    case WM_DOWNLOAD_PROGRESS:
        OnDownloadProgress(n.wParam, n.lParam);
        break;
    case WM_DISPLAY_JPEG:
        OnDisplayJpeg(std::move(n.bytes));
        break;
    case WM_EXIF:
        DebugTrace("CMyTethrocamView::WindowProc() - WM_EXIF\n");
        currentInfo_ = std::move(n.info);
        break;
    case WM_CAMERA_SHUTDOWN:
        OnCameraShutdown(n.wParam);
        break;
    case WM_RELEASE_ERROR:
        OnReleaseError(n.wParam);
        break;
    case WM_SAVED_FILE:
        OnSavedFile(n.text);
        break;
    case WM_AUTO_CONNECT:
        ConnectCamera();
        break;
    case WM_CAMERA_SETTINGS_CHANGED:
        panel_->SettingsChanged();
        break;
    case WM_LIVE_VIEW_FRAME:
    case WM_LIVE_VIEW_EVENT:
        liveView_->Notify(n);
        break;
    default:
        break;
    }
    if (copy)
        QMetaObject::invokeMethod(this, [this, copy] { if (timeLapseForward_) timeLapseForward_(*copy); },
                                  Qt::QueuedConnection);
}

void CMyTethrocamView::OnDownloadProgress(int64_t progress, int64_t waiting)
{
    ShowBlankScreen(false);
    if (fullScreenForward_) {
        Notification bar;
        bar.message = WM_DOWNLOAD_PROGRESS;
        bar.wParam = progress;
        fullScreenForward_(bar);
    }
    if (progress == 0) {
        form_.lensLine->show();
        form_.parameterSetLine->show();
        form_.progress->hide();
    } else {
        if (camera_ && !camera_->Is300D()) {
            form_.lensLine->hide();
            form_.parameterSetLine->hide();
        }
        form_.progress->show();
        form_.progress->raise();
    }
    if (static_cast<uint64_t>(progress) <= 100) {
        form_.progress->setValue(static_cast<int>(progress));
        if (remote_)
            remote_->DownloadProgress(progress);
    }
    QString text = "Downloading image";
    if (static_cast<int32_t>(waiting) >= 1)
        text = QString::asprintf("Downloading image (%d images remaining)", static_cast<int32_t>(waiting));
    if (progress >= 1 && progress <= 99)
        SetStatus(text);
}

void CMyTethrocamView::OnDisplayJpeg(std::vector<uint8_t> bytes)
{
    DebugTrace("CMyTethrocamView::WindowProc() - WM_DISPLAY_JPEG\n");
    currentBytes_ = std::move(bytes);
    ForwardPictureToFullScreen();
    RefreshDisplay();
    liveView_->PictureShown();  // shown for the review time, then live view comes back
    Notification done;
    done.message = WM_DOWNLOAD_PROGRESS;
    sink_.Post(std::move(done));
}

// An open full-screen window is told that the view's picture changed; it reads the
// view's bytes and does not own them.
void CMyTethrocamView::ForwardPictureToFullScreen()
{
    if (!fullScreenForward_)
        return;
    Notification n;
    n.message = WM_DISPLAY_JPEG;
    n.wParam = static_cast<int64_t>(currentBytes_.size());
    fullScreenForward_(n);
}

void CMyTethrocamView::OnSavedFile(const std::optional<std::string>& text)
{
    DebugTrace("CMyTethrocamView::WindowProc() - WM_SAVED_FILE\n");
    ShootingFinished();
    history_.ForgetCurrent();
    if (!text || text->empty()) {
        if (remote_)
            remote_->PictureSaved({});
        return;
    }
    struct stat st {};
    if (stat(text->c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        SetStatus(Q(display::SavedStatusText(*text, static_cast<uint64_t>(st.st_size), currentInfo_.get())));
        history_.AddToHistory(*text);
        if (remote_)
            remote_->PictureSaved(history_.Current() ? history_.Current()->Path() : *text);
        if (settings_.AutoEdit)
            EditImage();
    } else {
        SetStatus(Q(*text + display::ExposureSuffix(currentInfo_.get())));
        if (remote_)
            remote_->PictureSaved({});
    }
}

void CMyTethrocamView::OnCameraShutdown(int64_t cause)
{
    if (camera_) {
        msgbox::Show(currentDisplayWindow_, QString("Camera shutdown: ") + ShutdownCause(cause), msgbox::Icon::Error);
        DeleteCamera();
        SetTitle("Tethrocam - Not connected");
    }
    UpdateControls();
    ShootingFinished();
}

void CMyTethrocamView::OnReleaseError(int64_t code)
{
    if (!timeLapseForward_) {  // an open time-lapse dialog reports it
        QString text;
        if (code == 1)
            text = "Unable to release shutter.\nThis may be because the AF was unable to lock";
        else if (code == 135)
            text = "Error: no CF card";
        else
            text = QString::asprintf("H/W Error: 0x%08x", static_cast<unsigned>(code));
        msgbox::Show(currentDisplayWindow_, text, msgbox::Icon::Error);
    }
    ShootingFinished();
}

// ---------------------------------------------------------------- connection and shooting

void CMyTethrocamView::SetTitle(const QString& title)
{
    if (frame_)
        frame_->setWindowTitle(title);
}

void CMyTethrocamView::SetStatus(const QString& text)
{
    if (frame_)
        frame_->SetStatusText(0, text);
}

// Waits for the camera's threads at most 15 x 100 ms; a camera still busy after that
// (a long exposure, a slow device) finishes on a background thread.
void CMyTethrocamView::DeleteCamera()
{
    liveView_->CameraClosing();  // the loop lets go when the source closes
    RetireCamera(std::move(camera_));
}

void CMyTethrocamView::ConnectCamera()
{
    bool ok = false;
    try {
        camera_ = std::make_unique<CCamera>(library_, this);
        if (camera_->IsEos1D() || camera_->IsEos1DS()) {
            msgbox::Show(currentDisplayWindow_,
                         "This camera is not supported by Tethrocam.\n"
                         "Please use Quennelight, our sibling product for the EOS-1D and EOS-1Ds.\n"
                         "See www.larkspurworks.com for details.",
                         msgbox::Icon::Exclamation);
        } else {
            ok = true;
        }
    } catch (int) {
    }
    if (ok) {
        const QString title = Q("Tethrocam - Connected to " + camera_->GetModelName());
        SetTitle(title);
        SetStatus(title);
        panel_->PrepareModelLists();
        camera_->SetSaveMode(settings_.StoreImage);
        panel_->RefreshCameraSettings();
    } else {
        DeleteCamera();
        SetTitle("Tethrocam - Not connected");
    }
    UpdateControls();
}

void CMyTethrocamView::ToggleConnection()
{
    if (!camera_) {
        ConnectCamera();
    } else if (!shooting_) {
        DeleteCamera();
        SetStatus("Tethrocam - Not connected");
        SetTitle("Tethrocam - Not connected");
    }
    UpdateControls();
}

bool CMyTethrocamView::ReconnectPrompt()
{
    DeleteCamera();
    if (msgbox::Show(currentDisplayWindow_, "Camera is not connected.\nDo you wish to reconnect?",
                     msgbox::Icon::Question, msgbox::Buttons::YesNo) != msgbox::Answer::Yes)
        return false;
    ConnectCamera();
    if (!camera_)
        msgbox::Show(currentDisplayWindow_, "Unable to connect to camera", msgbox::Icon::Error);
    return camera_ != nullptr;
}

bool CMyTethrocamView::TakePicture()
{
    if (shooting_) {
        refusal_ = "A picture is still being taken";
        return false;
    }
    refusal_ = "Camera is not connected";
    if (!camera_ || !camera_->Source()) {
        ReconnectPrompt();
        return false;
    }
    if (!PrepareShot(false))
        return false;
    refusal_.clear();
    SetStatus("Taking picture");
    if (!liveView_->RouteRelease())  // during live view the body gives up its frames first
        camera_->StartRelease();
    return true;
}

bool CMyTethrocamView::TakePreviewPicture()
{
    if (shooting_)
        return false;
    if (!camera_) {
        ReconnectPrompt();
        return false;
    }
    if (!PrepareShot(true))
        return false;
    SetStatus("Taking preview picture");
    if (!liveView_->RouteRelease())
        camera_->StartPreviewRelease();
    return true;
}

bool CMyTethrocamView::PrepareShot(bool preview)
{
    if (form_.tv->currentIndex() >= 0 && (form_.tv->currentData().toUInt() & 0xFFFF) == 4) {
        refusal_ = "Bulb mode is only available when using the camera's shutter release";
        msgbox::Show(currentDisplayWindow_, refusal_);
        return false;
    }
    if (!camera_->LockUI()) {
        refusal_ = "Unable to release the shutter.\nPlease check that the camera's LCD display is off and try again";
        msgbox::Show(currentDisplayWindow_, refusal_);
        return false;
    }
    if (preview) {
        // The format to put back afterwards is the camera's own, read now: the panel's list
        // may have no selection (or an old one) and would leave later shots small.
        uint16_t quality = 0, size = 0;
        const bool known = library_.CDGetImageFormatAttribute(camera_->Source(), &quality, &size) == cdsdk::cdOK;
        if (!known || library_.CDSetImageFormatAttribute(camera_->Source(), 2, 2) != cdsdk::cdOK) {
            // The lock just taken is given back: a refused format must not leave the body locked.
            camera_->UnlockUI();
            msgbox::Show(currentDisplayWindow_, "Error selecting small, normal quality JPEG for preview");
            return false;
        }
        formatQualityBeforePreview_ = quality;
        formatSizeBeforePreview_ = size;
    }
    previewFlag_ = preview;
    shooting_ = true;
    form_.panel->setEnabled(false);
    form_.release->setEnabled(false);
    form_.preview->setEnabled(false);
    if (settings_.BlankScreenWhenTakingPhoto)
        ShowBlankScreen(true);
    return true;
}

void CMyTethrocamView::ShootingFinished()
{
    form_.panel->setEnabled(true);
    form_.release->setEnabled(true);
    form_.preview->setEnabled(true);
    if (previewFlag_) {
        panel_->RestoreSizeQuality(formatQualityBeforePreview_, formatSizeBeforePreview_);
        previewFlag_ = false;
    }
    if (shooting_) {
        shooting_ = false;
        if (camera_)
            camera_->UnlockUI();
    }
    liveView_->ShootingFinished();
}

void CMyTethrocamView::ShowBlankScreen(bool on)
{
    if (on && !blankWindow_) {
        auto blank = std::make_unique<CBlankDlg>(this);
        blank->ShowCover();
        blankWindow_ = std::move(blank);
    } else if (!on && blankWindow_) {
        blankWindow_.reset();
    }
}

void CMyTethrocamView::UpdateControls()
{
    panel_->UpdateEnabling(camera_ != nullptr);
    if (!frame_)
        return;
    frame_->SetChecked(ID_BLANK_SCREEN, settings_.BlankScreenWhenTakingPhoto);
    frame_->SetChecked(ID_DISPLAY_GRID, settings_.DisplayGrid);
    frame_->SetChecked(ID_HIGHLIGHTS, settings_.HighlightBlink);
    frame_->SetChecked(ID_FOCUS_POINTS, settings_.DisplayFocusPoints);
    frame_->SetChecked(ID_SAVE_PC_ONLY, settings_.StoreImage == 1);
    frame_->SetChecked(ID_SAVE_CAMERA_ONLY, settings_.StoreImage == 2);
    frame_->SetChecked(ID_SAVE_CAMERA_AND_PC, settings_.StoreImage == 3);
    frame_->SetChecked(ID_BLACK_AND_WHITE, blackAndWhite_);
    for (int i = 0; i <= 4; ++i)
        frame_->SetChecked(ID_ORIENT_LANDSCAPE + i, settings_.OrientationSetting == i);
    frame_->SetActionText(ID_CONNECT, camera_ ? "Disconnect from Camera" : "Connect to Camera");
    frame_->SetChecked(ID_LIVE_VIEW, liveView_->Active());
    frame_->SetChecked(ID_FOCUS_PEAKING, settings_.FocusPeaking);
    // The focus keys (Page Up and Down) act only while live view runs; otherwise they stay
    // with the form's lists.
    for (int id : {ID_FOCUS_NEAR_3, ID_FOCUS_NEAR_2, ID_FOCUS_NEAR_1, ID_FOCUS_FAR_1, ID_FOCUS_FAR_2, ID_FOCUS_FAR_3})
        if (QAction* a = frame_->Action(id))
            a->setEnabled(liveView_->CanDriveFocus());
    if (QAction* a = frame_->Action(ID_AUTOFOCUS))
        a->setEnabled(liveView_->CanAutofocus());
    form_.displayOverlay->setChecked(settings_.DisplayFocusPoints);
}

// ---------------------------------------------------------------- commands

void CMyTethrocamView::OnCommand(int id)
{
    auto toggleAndRedisplay = [this](bool& flag) {
        flag = !flag;
        UpdateControls();
        RefreshDisplay();
    };
    switch (id) {
    case IDC_RELEASE: TakePicture(); break;
    case IDC_PREVIEW: TakePreviewPicture(); break;
    case ID_CONNECT: ToggleConnection(); break;
    case ID_REFRESH: panel_->Refresh(); break;
    case ID_BLANK_SCREEN:
        settings_.BlankScreenWhenTakingPhoto = !settings_.BlankScreenWhenTakingPhoto;
        UpdateControls();
        break;
    case ID_SAVE_PC_ONLY:
    case ID_SAVE_CAMERA_ONLY:
    case ID_SAVE_CAMERA_AND_PC: {
        const int mode = id == ID_SAVE_PC_ONLY ? 1 : id == ID_SAVE_CAMERA_ONLY ? 2 : 3;
        settings_.StoreImage = mode;
        UpdateControls();
        if (camera_)
            camera_->SetSaveMode(mode);
        break;
    }
    case ID_DISPLAY_GRID: toggleAndRedisplay(settings_.DisplayGrid); break;
    case ID_FOCUS_POINTS: toggleAndRedisplay(settings_.DisplayFocusPoints); break;
    case IDC_DISPLAY_OVERLAY:
        settings_.DisplayFocusPoints = form_.displayOverlay->isChecked();
        UpdateControls();
        RefreshDisplay();
        break;
    case ID_HIGHLIGHTS: toggleAndRedisplay(settings_.HighlightBlink); break;
    case ID_BLACK_AND_WHITE: toggleAndRedisplay(blackAndWhite_); break;
    case ID_ORIENT_LANDSCAPE:
    case ID_ORIENT_PORTRAIT_CCW:
    case ID_ORIENT_PORTRAIT_CW:
    case ID_ORIENT_INVERTED:
    case ID_ORIENT_SENSOR:
        settings_.OrientationSetting = id - ID_ORIENT_LANDSCAPE;
        UpdateSnapshot();
        UpdateControls();
        RefreshDisplay();
        break;
    case ID_HISTOGRAM_INTENSITY: settings_.Intensity = !settings_.Intensity; DrawHistogram(); break;
    case ID_HISTOGRAM_RED: settings_.Red = !settings_.Red; DrawHistogram(); break;
    case ID_HISTOGRAM_GREEN: settings_.Green = !settings_.Green; DrawHistogram(); break;
    case ID_HISTOGRAM_BLUE: settings_.Blue = !settings_.Blue; DrawHistogram(); break;
    case IDC_PREVIOUS: history_.ShowPreviousPicture(HistoryHooks()); break;
    case IDC_NEXT: history_.ShowNextPicture(HistoryHooks()); break;
    case ID_DELETE_IMAGE: history_.DeleteCurrentPicture(HistoryHooks()); break;
    case ID_EDIT_IMAGE: EditImage(); break;
    case ID_EDITOR_SETUP: EditorSetup(); break;
    case ID_PREFERENCES:
        if (EditPreferences(this, settings_)) {
            UpdateSnapshot();  // the very next picture goes to the new folder
            ApplyLiveViewOptions();
        }
        break;
    case ID_LIVE_VIEW:
    case ID_FOCUS_PEAKING:
    case ID_PEAKING_COLOUR:
    case ID_AUTOFOCUS:
    case ID_FOCUS_NEAR_3:
    case ID_FOCUS_NEAR_2:
    case ID_FOCUS_NEAR_1:
    case ID_FOCUS_FAR_1:
    case ID_FOCUS_FAR_2:
    case ID_FOCUS_FAR_3:
        LiveViewCommand(id);
        break;
    case ID_GRID_SETTINGS:
    case ID_HIGHLIGHT_SETTINGS:
        if (id == ID_GRID_SETTINGS ? EditGridSettings(this, settings_) : EditHighlightSettings(this, settings_)) {
            UpdateControls();
            RefreshDisplay();
        }
        break;
    case ID_REGISTER_EVENTS: desktop::RegisterForCameraEvents(this); break;
    case ID_UNREGISTER_EVENTS: desktop::UnregisterForCameraEvents(this); break;
    case ID_HELP_CONTENTS: desktop::ShowHelp(this); break;
    case ID_FULL_SCREEN: OpenFullScreen(); break;
    case ID_VIEW_IMAGE: ViewImage(); break;
    case ID_TIME_LAPSE:
        if (!camera_) {
            ReconnectPrompt();
        } else {
            // A sequence needs the body to itself.
            liveView_->Stop("Live view ended for the time lapse");
            RunTimeLapseDialog(*this);
        }
        break;
    default:
        break;
    }
}

void CMyTethrocamView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::MiddleButton)
        MouseAction(settings_.MiddleBtnAction);
    else if (e->button() == Qt::RightButton)
        MouseAction(settings_.RightBtnAction);
    QWidget::mousePressEvent(e);
}

void CMyTethrocamView::MouseAction(int action)
{
    if (action == 1)
        TakePicture();
    else if (action == 2)
        TakePreviewPicture();
    else if (action == 3)
        EditImage();
}

// ---------------------------------------------------------------- auxiliary windows

// Full screen (F11): the window renders every picture while it is open, owns the message
// boxes and takes the caption setting back when it closes.
void CMyTethrocamView::OpenFullScreen()
{
    if (fullScreen_)
        return;
    fullScreenOpen_ = true;
    auto* dlg = new CFullscreenDlg(this, settings_.FullscreenCaption);
    fullScreen_ = dlg;
    currentDisplayWindow_ = dlg;
    fullScreenForward_ = [dlg](const Notification& n) { dlg->Notify(n); };
    liveView_->SetFullScreen([dlg](const QImage& frame) { dlg->ShowLiveImage(frame); }, [dlg] { dlg->ShowStill(); },
                             [dlg] { return dlg->size(); });
    connect(dlg, &QDialog::finished, this, [this, dlg] {
        liveView_->ClearFullScreen();
        settings_.FullscreenCaption = dlg->ShowCaption();
        fullScreenForward_ = {};
        fullScreen_ = nullptr;
        fullScreenOpen_ = false;
        currentDisplayWindow_ = this;
        dlg->deleteLater();
        RefreshDisplay();
    });
    dlg->Start();
}

// View Image (F7): only a JPEG picture can be shown at full size.
void CMyTethrocamView::ViewImage()
{
    if (currentBytes_.size() < 2 || currentBytes_[0] != 0xFF || currentBytes_[1] != 0xD8)
        return;
    preview_->Show(currentBytes_.data(), currentBytes_.size(), currentRotation_);
}

// ---------------------------------------------------------------- history and editor

display::HistoryView CMyTethrocamView::HistoryHooks()
{
    display::HistoryView v;
    v.askYesNo = [this](const std::string& text) {
        return msgbox::Show(currentDisplayWindow_, Q(text), msgbox::Icon::Question, msgbox::Buttons::YesNo) ==
               msgbox::Answer::Yes;
    };
    v.showError = [this](const std::string& text, const std::string& caption) {
        msgbox::Show(this, Q(text), msgbox::Icon::Error, msgbox::Buttons::Ok, Q(caption));
    };
    v.setStatusText = [this](const std::string& text) { SetStatus(Q(text)); };
    v.showPicture = [this](std::vector<uint8_t> bytes, ImageInfo info) {
        currentBytes_ = std::move(bytes);
        currentInfo_ = std::make_unique<ImageInfo>(std::move(info));
        ForwardPictureToFullScreen();
        RefreshDisplay();
    };
    v.clearDisplay = [this] { ClearDisplay(); };
    v.refreshMenuChecks = [this] { UpdateControls(); };
    return v;
}

void CMyTethrocamView::EditImage()
{
    const ImageInfo* current = history_.Current();
    const std::string path = current ? current->Path() : std::string();
    editor::EditorSettings es;
    es.shellExecute = settings_.ShellExecute != 0;
    es.launchEditorCmd = settings_.LaunchEditorCmd;
    es.autoEdit = settings_.AutoEdit != 0;
    editor::EditImage(es, current ? &path : nullptr,
                      [this](const std::string& text) { msgbox::Show(currentDisplayWindow_, Q(text), msgbox::Icon::Error); });
}

void CMyTethrocamView::EditorSetup()
{
    EditorSetupValues values{settings_.LaunchEditorCmd, settings_.ShellExecute != 0, settings_.AutoEdit != 0};
    if (RunEditorSetupDialog(this, values)) {
        settings_.LaunchEditorCmd = values.command;
        settings_.ShellExecute = values.shellExecute ? 1 : 0;
        settings_.AutoEdit = values.autoEdit ? 1 : 0;
    }
}

// ---------------------------------------------------------------- display

void CMyTethrocamView::RefreshDisplay()
{
    if (currentBytes_.empty() || fullScreenOpen_)
        return;
    int panelRight = form_.av->mapTo(this, QPoint(form_.av->width(), 0)).x();
    // While the panel scrolls, its scroll bar is part of it: the picture never covers it.
    if (PanelScrolls())
        panelRight = std::max(panelRight, panelScroller_->geometry().right() + 1);
    const display::FreeBox box = display::FreeDisplayBox(width(), height(), panelRight);
    ImageHistogram fresh;
    display::DisplayResult result = MakeDisplayBitmap(this, box.width, box.height, fresh, settings_.HighlightBlink);
    ShowDisplayBitmap(std::move(result.display), std::move(result.highlight), fresh);
}

display::DisplayResult CMyTethrocamView::MakeDisplayBitmap(QWidget* owner, int boxWidth, int boxHeight,
                                                           ImageHistogram& histogram, bool wantHighlight)
{
    display::DisplaySource source;
    source.data = currentBytes_.data();
    source.length = currentBytes_.size();
    source.currentInfo = currentInfo_.get();
    source.historyPicture = history_.Current();
    const display::DisplaySettings ds = CurrentDisplaySettings();
    display::DisplayResult result = display::MakeDisplayBitmap(
        source, ds, boxWidth, boxHeight, histogram, wantHighlight,
        [owner](const std::string& message) { msgbox::Show(owner, Q(message), msgbox::Icon::Error); });
    if (result.rotation)
        currentRotation_ = *result.rotation;
    return result;
}

void CMyTethrocamView::ShowDisplayBitmap(std::optional<Bitmap> display, std::optional<Bitmap> highlight,
                                         const ImageHistogram& histogram)
{
    if (!display)
        return;
    std::optional<int> previousWidth;
    if (displayBitmap_)
        previousWidth = displayBitmap_->width;
    const display::PicturePlacement place = display::PlacePicture(width(), display->width, previousWidth);
    if (place.clearFirst)
        picture_->SetBitmap(nullptr);
    displayBitmap_ = std::move(display);
    highlightBitmap_ = std::move(highlight);
    showingHighlight_ = false;
    picture_->move(place.x, place.y);
    ShowOnPictureControl();
    histogram_ = histogram;
    DrawHistogram();
    preview_->SetPicture(currentBytes_.data(), currentBytes_.size(), currentRotation_);
}

void CMyTethrocamView::ClearDisplay()
{
    picture_->SetBitmap(nullptr);
    displayBitmap_.reset();
    highlightBitmap_.reset();
    currentBytes_.clear();
    preview_->SetPicture(nullptr, 0, 0);
    histogram_.Clear();
    DrawHistogram();
}

void CMyTethrocamView::DrawHistogram()
{
    const int w = form_.focusGroup->width() > 0 ? form_.focusGroup->width() : 200;
    QImage image = display::MakeHistogramImage(w);
    display::HistogramCurves curves;
    curves.intensity = settings_.Intensity;
    curves.red = settings_.Red;
    curves.green = settings_.Green;
    curves.blue = settings_.Blue;
    display::DrawHistogram(image, liveHistogram_ ? *liveHistogram_ : histogram_, curves);
    histogramControl_->setPixmap(QPixmap::fromImage(image));
}

// ---------------------------------------------------------------- live view

display::DisplaySettings CMyTethrocamView::CurrentDisplaySettings() const
{
    display::DisplaySettings ds;
    ds.orientationSetting = settings_.OrientationSetting;
    ds.blackAndWhite = blackAndWhite_;
    ds.displayGrid = settings_.DisplayGrid;
    ds.gridColour = settings_.GridColour;
    ds.horizontalDivisions = settings_.NumberOfHorizontalGridDivisions;
    ds.verticalDivisions = settings_.NumberOfVerticalGridDivisions;
    ds.displayFocusPoints = settings_.DisplayFocusPoints;
    ds.highlightMethod = settings_.HighlightBlinkMethod;
    ds.highlightThreshold = settings_.HighlightBlinkThreshold;
    return ds;
}

bool CMyTethrocamView::LiveViewCamera(cdsdk::CameraLibrary** library, cdsdk::cdHSource* source, std::string* model)
{
    if (!camera_ || !camera_->Source())
        return false;
    *library = &library_;
    *source = camera_->Source();
    *model = camera_->GetModelName();
    return true;
}

void CMyTethrocamView::FireShutter()
{
    if (!camera_) {
        ShootingFinished();
        return;
    }
    if (previewFlag_)
        camera_->StartPreviewRelease();
    else
        camera_->StartRelease();
}

void CMyTethrocamView::ShowLiveHistogram(const ImageHistogram* histogram)
{
    if (histogram)
        liveHistogram_ = *histogram;
    else
        liveHistogram_.reset();
    DrawHistogram();
}

void CMyTethrocamView::SetStatusText(int pane, const QString& text)
{
    if (frame_)
        frame_->SetStatusText(pane, text);
}

void CMyTethrocamView::LiveViewClick(int x, int y, int shownWidth, int shownHeight)
{
    liveView_->Click(x, y, shownWidth, shownHeight);
}

void CMyTethrocamView::ApplyLiveViewOptions()
{
    LiveViewController::Options o;
    o.peaking = settings_.FocusPeaking;
    o.peakingColour = settings_.FocusPeakingColour;
    o.reviewSeconds = std::clamp<int32_t>(settings_.LiveViewReviewTime, 0, 60);
    liveView_->SetOptions(o);
}

// The picture area: right of the panel, as high as the view.
void CMyTethrocamView::LayoutLiveView()
{
    int panelRight = form_.av->mapTo(this, QPoint(form_.av->width(), 0)).x();
    if (PanelScrolls())
        panelRight = std::max(panelRight, panelScroller_->geometry().right() + 1);
    const display::FreeBox box = display::FreeDisplayBox(width(), height(), panelRight);
    liveView_->SetArea(QRect(width() - box.width, 0, box.width, box.height));
}

void CMyTethrocamView::LiveViewCommand(int id)
{
    switch (id) {
    case ID_LIVE_VIEW:
        LayoutLiveView();
        liveView_->Toggle();
        break;
    case ID_FOCUS_PEAKING:
        settings_.FocusPeaking = !settings_.FocusPeaking;
        ApplyLiveViewOptions();
        break;
    case ID_PEAKING_COLOUR:
        if (const std::optional<uint32_t> colour = dialogs::ChooseColour(currentDisplayWindow_, settings_.FocusPeakingColour)) {
            settings_.FocusPeakingColour = *colour;
            ApplyLiveViewOptions();
        }
        break;
    case ID_AUTOFOCUS: liveView_->Autofocus(); break;
    case ID_FOCUS_NEAR_3: liveView_->DriveFocus(-3); break;
    case ID_FOCUS_NEAR_2: liveView_->DriveFocus(-2); break;
    case ID_FOCUS_NEAR_1: liveView_->DriveFocus(-1); break;
    case ID_FOCUS_FAR_1: liveView_->DriveFocus(1); break;
    case ID_FOCUS_FAR_2: liveView_->DriveFocus(2); break;
    case ID_FOCUS_FAR_3: liveView_->DriveFocus(3); break;
    default: break;
    }
    UpdateControls();
}
