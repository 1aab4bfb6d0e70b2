#include "mainview/CMyTethrocamView.h"

#include "app/CMainFrame.h"
#include "app/DesktopIntegration.h"
#include "app/SettingsDialogs.h"
#include "app/EditorLaunch.h"
#include "app/MessageBox.h"
#include "camera/CameraShutdown.h"
#include "camera/CameraStartup.h"
#include "display/BitmapImage.h"
#include "display/ColourManagement.h"
#include "display/DisplayPipeline.h"
#include "display/HistogramView.h"
#include "display/PixelReadout.h"
#include "liveview/LiveViewController.h"
#include "mainview/CameraSettingsPanel.h"
#include "mainview/ControlIds.h"
#include "mainview/EditorSetupDialog.h"
#include "remote/RemoteControl.h"
#include "platform/DebugTrace.h"
#include "platform/DesktopRegistration.h"
#include "remote/RemoteTransport.h"
#include "storage/PictureSaver.h"
#include "storage/SafeWrite.h"
#include "windows/CBlankDlg.h"
#include "windows/CFullscreenDlg.h"
#include "windows/CImagePreviewDlg.h"
#include "windows/CTimeLapseDlg.h"

#include <QApplication>
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
#include <QTimer>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cstring>
#include <cmath>

#include <sys/stat.h>

using namespace ids;
using platform::DebugTrace;

// ---------------------------------------------------------------- picture and histogram controls

// The picture control (1006): paints its bitmap at its top-left corner, one bitmap pixel
// per device pixel (the bitmap is made for the window's scale), nothing else; reports the
// picture's own colour under the pointer, not the monitor's. It keeps its own copies of
// the bitmaps, so nothing the view replaces or frees can leave it pointing at released
// pixels.
class PictureControl : public QWidget {
public:
    explicit PictureControl(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QString::number(IDC_PICTURE));
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent, false);
    }
    // Shows a copy of `shown` (null or empty: nothing), made for `scale` device pixels per
    // pixel, and takes its size; the readout reads `values` (null: `shown` itself).
    void SetBitmap(const Bitmap* shown, const Bitmap* values = nullptr, qreal scale = 1)
    {
        if (shown && !shown->Empty()) {
            shown_ = *shown;
            if (values && values->width == shown->width && values->height == shown->height)
                values_ = *values;
            else
                values_.reset();
            scale_ = scale > 0 ? scale : 1;
            resize(static_cast<int>(std::ceil(shown_->width / scale_)), static_cast<int>(std::ceil(shown_->height / scale_)));
        } else {
            shown_.reset();
            values_.reset();
        }
        update();
    }
    const std::optional<Bitmap>& Shown() const { return shown_; }
    std::function<void(const QString&)> onReadout;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!shown_)
            return;
        QPainter p(this);
        QImage image = display::WrapBitmap(*shown_);
        image.setDevicePixelRatio(scale_);
        p.drawImage(0, 0, image);
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        // The pointer's device pixel on the bitmap.
        const QPointF pos = e->position() * scale_;
        const Bitmap* values = values_ ? &*values_ : shown_ ? &*shown_ : nullptr;
        const auto readout = display::ReadPixelUnderPointer(
            values, static_cast<int>(std::floor(pos.x())), static_cast<int>(std::floor(pos.y())),
            static_cast<int>(std::ceil(width() * scale_)), static_cast<int>(std::ceil(height() * scale_)));
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
    std::optional<Bitmap> values_;  // the picture's own values, when they differ from shown_
    qreal scale_ = 1;
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
    // Left and Right browse whatever has the keyboard in the main window (also nothing, as
    // after a shot disabled the panel); only a text box keeps them for its own cursor.
    auto* left = new QShortcut(QKeySequence(Qt::Key_Left), this, nullptr, nullptr, Qt::WindowShortcut);
    connect(left, &QShortcut::activated, this, [this] { OnCommand(IDC_PREVIOUS); });
    auto* right = new QShortcut(QKeySequence(Qt::Key_Right), this, nullptr, nullptr, Qt::WindowShortcut);
    connect(right, &QShortcut::activated, this, [this] { OnCommand(IDC_NEXT); });

    liveView_ = std::make_unique<LiveViewController>(*this, this, sink_);
    liveView_->onStateChanged = [this] { UpdateControls(); };

    preview_ = new CImagePreviewDlg(this);
    // No window of the program hides a box: the cover goes, the 1:1 window leaves its
    // stays-on-top band until the box is answered.
    msgbox::SetAroundEveryBox(
        [this] {
            ShowBlankScreen(false);
            preview_->BoxOpening();
        },
        [this] { preview_->BoxClosed(); });
    if (frame_) {
        frame_->SetCommandHandler([this](int id) { OnCommand(id); });
        frame_->SetCloseGuard([this] { return RequestClose(); });
        frame_->SetMinimiseHooks([this] { preview_->FrameMinimised(); }, [this] { preview_->FrameRestored(); });
    }

    {
        RegistryStore store(settingsFile_);
        if (!LoadSettings(settings_, store))
            settingsError_ = store.LastError();
    }
    {
        std::string error;
        rescueFolders_ = storage::RescueFolderCandidates(platform::UserXdgFolders().dataHome,
                                                         platform::RemoteRuntimeFolder(error));
    }
    ApplyLiveViewOptions();
    UpdateSnapshot();
    connect(&display::ColourManagement::Instance(), &display::ColourManagement::Changed, this,
            [this] { ColoursChanged(); });
    ApplyColourSettings();
    StartCameraLibrary(library_);
}

// Hands the monitor-profile choice and the rendering intent to the colour management; a
// profile file that cannot be used is said in the status bar (the desktop's profile, else
// sRGB, is used meanwhile).
void CMyTethrocamView::ApplyColourSettings()
{
    display::ColourSettings cs;
    if (settings_.MonitorProfile == 1)
        cs.monitor = display::MonitorProfileChoice::Srgb;
    else if (settings_.MonitorProfile == 2)
        cs.monitor = display::MonitorProfileChoice::File;
    cs.file = settings_.MonitorProfileFile;
    cs.intent = settings_.RenderingIntent == 1 ? colour::RenderingIntent::RelativeColorimetricBpc
                                                : colour::RenderingIntent::Perceptual;
    const std::string problem = display::ColourManagement::Instance().Configure(cs);
    colourProblem_ = problem.empty() ? QString() : Q(problem + " Colours are shown for the system's monitor profile.");
    if (shownOnce_ && !colourProblem_.isEmpty())
        SetStatus(colourProblem_);
}

CMyTethrocamView::~CMyTethrocamView()
{
    msgbox::SetAroundEveryBox({}, {});
    remote_.reset();
    SaveSettingsNow();
    ShowBlankScreen(false);
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
    s.comment = sequences::CommentWithPiece(form_.comment ? form_.comment->text().toStdString() : std::string(),
                                            sequenceComment_);
    s.rescueFolders = rescueFolders_;
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    snapshot_ = std::move(s);
}

void CMyTethrocamView::SetRescueFolders(std::vector<std::string> folders)
{
    rescueFolders_ = std::move(folders);
    UpdateSnapshot();
}

void CMyTethrocamView::SetComment(const QString& text)
{
    form_.comment->setText(text);
    UpdateSnapshot();
}

void CMyTethrocamView::SetSequenceComment(const std::string& piece)
{
    sequenceComment_ = piece;
    UpdateSnapshot();
}

sequences::ExposureSituation CMyTethrocamView::ReadExposure() { return panel_->ReadExposure(); }

std::optional<uint16_t> CMyTethrocamView::WriteExposure(sequences::ExposureSetting which, uint16_t code)
{
    return panel_->WriteExposure(which, code);
}

void CMyTethrocamView::PutBackAtNextConnection(sequences::ExposureSetting which, uint16_t code)
{
    pendingPutBack_ = PendingPutBack{which, code, camera_ ? camera_->GetModelName() : lastModel_};
}

void CMyTethrocamView::PutBackPendingSetting()
{
    if (!pendingPutBack_ || !camera_ || camera_->GetModelName() != pendingPutBack_->model)
        return;
    const PendingPutBack p = *pendingPutBack_;
    pendingPutBack_.reset();
    const auto back = panel_->WriteExposure(p.which, p.code);
    const bool tv = p.which == sequences::ExposureSetting::ShutterSpeed;
    if (back == p.code)
        SetStatus(tv ? "Shutter speed put back as it was before the bracket"
                     : "Exposure compensation put back as it was before the bracket");
    else
        SetStatus(tv ? "The shutter speed could not be put back as it was before the bracket: please check it"
                     : "The exposure compensation could not be put back as it was before the bracket: please check it");
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
    // A monitor profile that cannot be used is said once the start-up connection has
    // written its own status.
    if (!colourProblem_.isEmpty())
        QMetaObject::invokeMethod(this, [this] { SetStatus(colourProblem_); }, Qt::QueuedConnection);
    UpdateControls();
    DrawHistogram();
    blinkTimer_.start(750, this);
    // A window moved to another screen shows its picture in that monitor's colours and at
    // that screen's density.
    if (QWindow* w = window()->windowHandle(); w && !screenFollowed_) {
        screenFollowed_ = true;
        connect(w, &QWindow::screenChanged, this, [this] { ColoursChanged(); });
    }
    if (!settingsError_.empty())
        ShowBoxLater("The settings could not be read",
                     Q(settingsError_ +
                       ".\n\nThe file was left as it is: Tethrocam runs with its default settings and does not write "
                       "over it. Move it away or mend it to keep your settings again."),
                     static_cast<int>(msgbox::Icon::Exclamation));
}

QSize CMyTethrocamView::sizeHint() const
{
    const QSize panel = form_.panel->sizeHint().expandedTo(form_.panel->size());
    return {panel.width() + panel.height() * 3 / 2, panel.height()};
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
    else if (e->timerId() == finishTimer_.timerId())
        FinishTick();
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
    const Bitmap* values = displayBitmap_ ? &*displayBitmap_ : nullptr;
    if (showingHighlight_ && highlightBitmap_)
        picture_->SetBitmap(&*highlightBitmap_, values, displayScale_);
    else
        picture_->SetBitmap(shownBitmap_ ? &*shownBitmap_ : values, values, displayScale_);
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
    // A report on a RAW pair's companion ends no shot: the time-lapse dialog never sees it.
    const bool companion = n.report && n.report->companion;
    if (forwarded && timeLapseForward_ && !companion) {
        // The time-lapse dialog gets the numbers and the saved file's text, after the view.
        copy = std::make_shared<Notification>();
        copy->message = n.message;
        copy->wParam = n.wParam;
        copy->lParam = n.lParam;
        if (n.message == WM_SAVED_FILE) {
            copy->text = n.text;
            copy->report = n.report;
        }
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
        OnSavedFile(n);
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
    panel_->ShowProgressBar(progress != 0);
    if (static_cast<uint64_t>(progress) <= 100) {
        lastProgress_ = static_cast<int>(progress);
        form_.progress->setValue(static_cast<int>(progress));
        if (remote_)
            remote_->DownloadProgress(progress);
    }
    QString text = "Downloading image";
    if (static_cast<int32_t>(waiting) >= 1)
        text = QString::asprintf("Downloading image (%d images remaining)", static_cast<int32_t>(waiting));
    if (FinishingDownloads())
        SetStatus(FinishingText());
    else if (progress >= 1 && progress <= 99)
        SetStatus(text);
}

// The download is over, however it ended (cut off, the camera gone, a new connection):
// the bars in the window and in full screen are hidden and the remote channel reads 0.
void CMyTethrocamView::ResetProgress()
{
    OnDownloadProgress(0, 0);
}

void CMyTethrocamView::OnDisplayJpeg(std::vector<uint8_t> bytes)
{
    DebugTrace("CMyTethrocamView::WindowProc() - WM_DISPLAY_JPEG\n");
    // A picture shown before its shot has been saved (the thumbnail that comes ahead of a
    // RAW picture) is no picture of the history yet: Delete must not act on the one
    // browsed to before the release.
    if (shooting_)
        history_.ForgetCurrent();
    currentBytes_ = std::move(bytes);
    currentSpace_.reset();
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

void CMyTethrocamView::OnSavedFile(Notification& n)
{
    DebugTrace("CMyTethrocamView::WindowProc() - WM_SAVED_FILE\n");
    ResetProgress();  // the item's download is over, also when it was cut off
    if (n.report && n.report->companion) {
        OnCompanionReport(n);
        return;
    }
    ShootingFinished();
    history_.ForgetCurrent();
    const std::optional<std::string>& text = n.text;
    if (!text || text->empty()) {
        if (remote_)
            remote_->PictureSaved({});
        return;
    }
    // What the library reported meanwhile (a picture it could not hand over, a copy it could
    // not delete on the camera) is said after the picture's own line.
    const QString problem = TakeProblemReport();
    const QString reason = problem.isEmpty() ? QString() : " \u2014 " + problem;
    using Outcome = SaveReport::Outcome;
    const Outcome outcome = n.report ? n.report->outcome : Outcome::Saved;
    struct stat st {};
    const bool isFile = stat(text->c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (outcome == Outcome::NotReceived) {
        // Nothing of it arrived: no save error, and the held exposure is the previous picture's.
        SetStatus(Q(*text));
        if (remote_)
            remote_->PictureFailed(*text);
        return;
    }
    if (outcome == Outcome::Unsaved) {
        const SaveReport& r = *n.report;
        const bool kept = KeepUnsaved(std::move(n.bytes), r.suggestedName, r.cardKeepsCopy);
        SetStatus(Q(std::string(kTextErrorSaving) + ": " + r.reason) +
                  (kept ? " - the picture is kept in memory: File > Save Unsaved Pictures..."
                        : " - the picture is on the camera's card"));
        if (remote_)
            remote_->PictureFailed("Not saved in " + r.folder + ": " + r.reason +
                                   "; no rescue folder took it either (" + r.rescueReason + ")" +
                                   (kept ? "; it is kept in the program's memory" : "; it is on the camera's card"));
        if (!unsavedReported_) {
            unsavedReported_ = true;
            ShowBoxLater("The picture could not be saved",
                         Q(r.folder + ": " + r.reason + "\nRescue folders: " + r.rescueReason) +
                             (kept ? "\n\nIt is kept in memory. Use File > Save Unsaved Pictures... to save it in "
                                     "another folder, and make room or choose another folder in Preferences."
                                   : "\n\nThe camera's card keeps its copy. Make room or choose another folder in "
                                     "Preferences."),
                         static_cast<int>(msgbox::Icon::Error));
        }
        return;
    }
    if (isFile) {
        if (outcome == Outcome::Rescued) {
            ReportRescue(*n.report, *text);
        } else {
            rescueReported_ = false;
            unsavedReported_ = false;
            QString status =
                Q(display::SavedStatusText(*text, static_cast<uint64_t>(st.st_size), currentInfo_.get()));
            if (n.report && !n.report->missingCompanion.empty())
                status += Q(" - its " + n.report->missingCompanion + " was not received");
            SetStatus((n.report ? status + LowSpaceNote(*n.report) : status) + reason);
        }
        if (n.report && n.report->pictureBytes)
            lastPictureBytes_ = n.report->pictureBytes;
        history_.AddToHistory(*text);
        if (remote_) {
            if (outcome == Outcome::Rescued)
                remote_->PictureFailed("Not saved in " + n.report->folder + ": " + n.report->reason + "; kept as " +
                                       *text);
            else
                remote_->PictureSaved(history_.Current() ? history_.Current()->Path() : *text);
        }
        if (settings_.AutoEdit)
            EditImage();
    } else {
        SetStatus(Q(*text + display::ExposureSuffix(currentInfo_.get())) + reason);
        if (remote_)
            remote_->PictureSaved({});
    }
}

QString CMyTethrocamView::LowSpaceNote(const SaveReport& r) const
{
    if (!r.picturesThatFit || *r.picturesThatFit >= 10)
        return {};
    return QString(" - the disk has room for only %1 more picture%2 like it")
        .arg(*r.picturesThatFit)
        .arg(*r.picturesThatFit == 1 ? "" : "s");
}

// A picture the picture folder refused, kept in a rescue folder: the status bar says so
// every time, a box the first time until a save into the picture folder works again.
void CMyTethrocamView::ReportRescue(const SaveReport& r, const std::string& path)
{
    const std::string part = r.part.empty() ? std::string("picture") : r.part;
    SetStatus(Q("Not saved in " + r.folder + " (" + r.reason + "): the " + part + " is kept as " + path) +
              LowSpaceNote(r));
    if (rescueReported_)
        return;
    rescueReported_ = true;
    ShowBoxLater(Q("The " + part + " could not be saved in " + r.folder),
                 Q(r.reason + ".\n\nIt was saved as " + path +
                   " instead. Make room on that disk or choose another folder in Preferences."),
                 static_cast<int>(msgbox::Icon::Exclamation));
}

// A thumbnail or the JPEG of a RAW pair that was kept elsewhere, in memory, or not received.
void CMyTethrocamView::OnCompanionReport(Notification& n)
{
    const SaveReport& r = *n.report;
    switch (r.outcome) {
    case SaveReport::Outcome::Rescued:
        if (n.text)
            ReportRescue(r, *n.text);
        break;
    case SaveReport::Outcome::Unsaved:
        KeepUnsaved(std::move(n.bytes), r.suggestedName, false);
        SetStatus(Q("The " + r.part + " could not be saved (" + r.reason +
                    "): it is kept in memory: File > Save Unsaved Pictures..."));
        ShowBoxLater(Q("The " + r.part + " of the picture could not be saved"),
                     Q(r.folder + ": " + r.reason + "\nRescue folders: " + r.rescueReason +
                       "\n\nIt is kept in memory. Use File > Save Unsaved Pictures... to save it in another folder."),
                     static_cast<int>(msgbox::Icon::Error));
        break;
    case SaveReport::Outcome::NotReceived:
        if (n.text)
            SetStatus(frame_ ? frame_->StatusText(0) + " - " + Q(*n.text) : Q(*n.text));
        break;
    default:
        break;
    }
}

bool CMyTethrocamView::KeepUnsaved(std::vector<uint8_t> bytes, const std::string& name, bool cardKeepsCopy)
{
    if (bytes.empty())
        return false;
    // Memory is not a disk: past a bound, a picture the card also keeps is left to the card.
    size_t held = 0;
    for (const auto& p : unsaved_)
        held += p.bytes.size();
    if (cardKeepsCopy && held + bytes.size() > kUnsavedMemoryBound)
        return false;
    unsaved_.push_back({std::move(bytes), name.empty() ? std::string("IMG_UNSAVED.JPG") : name});
    UpdateControls();
    return true;
}

bool CMyTethrocamView::SaveUnsavedPictures()
{
    if (unsaved_.empty())
        return true;
    const QString chosen =
        dialogs::ChooseFolder(currentDisplayWindow_, "Select a folder for the unsaved pictures", Q(settings_.Directory));
    if (chosen.isEmpty())
        return false;
    const std::string folder = chosen.toStdString();
    int saved = 0;
    std::string failure;
    for (auto it = unsaved_.begin(); it != unsaved_.end();) {
        std::string path;
        if (const int error = WriteKeptPicture(folder, *it, path)) {
            failure = folder + ": " + std::strerror(error);
            break;
        }
        history_.AddToHistory(path);
        ++saved;
        it = unsaved_.erase(it);
    }
    UpdateControls();
    if (!failure.empty()) {
        msgbox::ShowWithDetail(currentDisplayWindow_, "The pictures could not be saved there",
                               Q(failure + "\n\nThey are still kept in memory; choose another folder."),
                               msgbox::Icon::Error);
        return false;
    }
    SetStatus(QString("Saved %1 picture%2 in %3").arg(saved).arg(saved == 1 ? "" : "s").arg(chosen));
    return true;
}

// Writes a picture kept in memory into `folder` under the name it would have had, else
// that name with a number added; never over a file. 0, or the errno value.
int CMyTethrocamView::WriteKeptPicture(const std::string& folder, const UnsavedPicture& picture, std::string& path)
{
    const std::string& name = picture.name;
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    int error = EEXIST;
    for (int attempt = 1; attempt <= storage::kSaveAttempts && error == EEXIST; ++attempt) {
        path = folder + "/" + (attempt == 1 ? name : stem + "-" + std::to_string(attempt) + extension);
        if (storage::WriteFileNoReplace(path, picture.bytes.data(), picture.bytes.size(), &error))
            error = 0;
    }
    return error;
}

void CMyTethrocamView::ShowBoxLater(const QString& text, const QString& detail, int icon)
{
    QTimer::singleShot(0, this, [this, text, detail, icon] {
        msgbox::ShowWithDetail(currentDisplayWindow_, text, detail, static_cast<msgbox::Icon>(icon));
    });
}

void CMyTethrocamView::OnCameraShutdown(int64_t cause)
{
    ShowBlankScreen(false);
    ResetProgress();
    if (camera_) {
        // The backend's reason, read while the camera is still there.
        const QString problem = TakeProblemReport();
        // Gone before the box shows: a remote request answered meanwhile is told "not
        // connected", and nothing fires a camera that is no more.
        // Lost: what is still on its way, and the downloads the failing link cut off just
        // before (their reports may still be on their way to this handler).
        const int lost = DownloadsOutstanding() +
                         camera_->PicturesNotReceivedSince(std::chrono::steady_clock::now() - std::chrono::seconds(3));
        const QString text = QString("Camera shutdown: ") + ShutdownCause(cause);
        if (previewFlag_)
            formatToRestore_ = FormatToRestore{camera_->GetModelName(), formatQualityBeforePreview_,
                                               formatSizeBeforePreview_};
        DeleteCamera();
        SetTitle("Tethrocam - Not connected");
        UpdateControls();
        ShootingFinished();
        if (remote_)
            remote_->PictureFailed(text.toStdString());
        QString detail = problem;
        if (lost > 0) {
            const QString lostText = lost == 1 ? QString("Download interrupted: picture not received")
                                               : QString("Download interrupted: %1 pictures not received").arg(lost);
            detail = detail.isEmpty() ? lostText : detail + "\n" + lostText;
        }
        // What ended the shot stays in the status bar once the box is answered.
        SetStatus(StatusLine(text, QString(detail).replace('\n', ' ')));
        if (FinishingDownloads())
            FinishedDownloads();
        msgbox::ShowWithDetail(currentDisplayWindow_, text, detail, msgbox::Icon::Error);
        return;
    }
    UpdateControls();
    ShootingFinished();
}

void CMyTethrocamView::OnReleaseError(int64_t code)
{
    ShowBlankScreen(false);
    QString text;
    if (code == 1)
        text = "Unable to release shutter.\nThis may be because the AF was unable to lock";
    else if (code == 135)
        text = "Error: no CF card";
    else
        text = QString::asprintf("H/W Error: 0x%08x", static_cast<unsigned>(code));
    // "Taking picture" gives way to what happened, also when the time-lapse dialog reports
    // it instead of a box. The shot is over before the box shows: the remote client has its
    // answer, and the requests that come while the box is open are served.
    const QString detail = TakeProblemReport();
    SetStatus(StatusLine(text, detail));
    ShootingFinished();
    if (remote_)
        remote_->PictureFailed(StatusLine(text, detail).toStdString());
    if (!timeLapseForward_)  // an open time-lapse dialog reports it
        msgbox::ShowWithDetail(currentDisplayWindow_, text, detail, msgbox::Icon::Error);
}

QString CMyTethrocamView::TakeProblemReport()
{
    char buffer[2048];
    uint32_t size = sizeof buffer;
    const cdsdk::cdHSource source = camera_ ? camera_->Source() : 0;
    if (library_.CDGetProblemReport(source, buffer, &size) != cdsdk::cdOK || size == 0 || size >= sizeof buffer)
        return {};
    return QString::fromUtf8(buffer, static_cast<qsizetype>(size));
}

// The status bar's one line for an error: its headline on one line, then the reason.
QString CMyTethrocamView::StatusLine(const QString& headline, const QString& detail)
{
    const QString line = QString(headline).replace('\n', ' ');
    return detail.isEmpty() ? line : line + ": " + detail;
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
    ResetProgress();  // nothing of a download cut off with the last camera stays on show
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
    connectProblem_.clear();
    if (ok) {
        const QString title = Q("Tethrocam - Connected to " + camera_->GetModelName());
        SetTitle(title);
        SetStatus(title);
        panel_->PrepareModelLists();
        camera_->SetSaveMode(settings_.StoreImage);
        if (formatToRestore_ && formatToRestore_->model == camera_->GetModelName()) {
            // A preview that a shutdown cut short left the body on small/normal.
            panel_->RestoreSizeQuality(formatToRestore_->quality, formatToRestore_->size);
        }
        formatToRestore_.reset();
        panel_->RefreshCameraSettings();
        lastModel_ = camera_->GetModelName();
        PutBackPendingSetting();
    } else {
        DeleteCamera();
        SetTitle("Tethrocam - Not connected");
        // A failed attempt says so: the old text ("Connected to ...") must not stay.
        connectProblem_ = TakeProblemReport();
        SetStatus(connectProblem_.isEmpty() ? QString("Unable to connect to camera. Press F2 to try again.")
                                            : "Unable to connect to camera: " + connectProblem_);
    }
    UpdateControls();
}

void CMyTethrocamView::ToggleConnection()
{
    if (!camera_) {
        ConnectCamera();
    } else if (FinishingDownloads()) {
        // Asked again while the pictures on their way are finishing: the user may cut it short.
        if (AskToCutDownloadsShort())
            CutDownloadsShort();
    } else if (shooting_ || DownloadsOutstanding() > 0) {
        // Pictures on their way (the program's own shot or the body's button) are finished first.
        StartFinishing(AfterDownloads::Disconnect);
    } else {
        DeleteCamera();
        ResetProgress();
        SetStatus("Tethrocam - Not connected");
        SetTitle("Tethrocam - Not connected");
    }
    UpdateControls();
}

// ---------------------------------------------------------------- finishing downloads

int CMyTethrocamView::DownloadsOutstanding() const
{
    return camera_ ? camera_->DownloadsOutstanding() : 0;
}

QString CMyTethrocamView::FinishingText() const
{
    const int n = std::max(DownloadsOutstanding(), 1);
    QString text = n == 1 ? QString("Finishing the download of 1 picture\u2026")
                          : QString("Finishing the download of %1 pictures\u2026").arg(n);
    if (lastProgress_ > 0 && lastProgress_ < 100)
        text += QString(" %1%").arg(lastProgress_);
    return text;
}

void CMyTethrocamView::StartFinishing(AfterDownloads what)
{
    // A quit outranks a close, a close a disconnect.
    if (static_cast<int>(what) > static_cast<int>(afterDownloads_))
        afterDownloads_ = what;
    SetStatus(FinishingText());
    if (!finishTimer_.isActive())
        finishTimer_.start(100, this);
}

void CMyTethrocamView::FinishTick()
{
    if (!FinishingDownloads()) {
        finishTimer_.stop();
        return;
    }
    if (camera_ && (shooting_ || camera_->DownloadsOutstanding() > 0)) {
        if (finishDeadline_ && std::chrono::steady_clock::now() >= *finishDeadline_) {
            CutDownloadsShort();
            return;
        }
        SetStatus(FinishingText());
        return;
    }
    FinishedDownloads();
}

bool CMyTethrocamView::AskToCutDownloadsShort()
{
    const int n = std::max(DownloadsOutstanding(), 1);
    const QString lost = n == 1 ? QString("The picture on its way from the camera will be lost")
                                : QString("The %1 pictures on their way from the camera will be lost").arg(n);
    return msgbox::ShowWithDetail(currentDisplayWindow_, "Stop the download now?",
                                  lost + (settings_.StoreImage == 1 ? " (in Save to PC only the camera keeps no copy)."
                                                                    : "."),
                                  msgbox::Icon::Question, msgbox::Buttons::YesNo) == msgbox::Answer::Yes;
}

// The user confirmed (or the time of a quit ran out): the camera goes now and the status
// bar says what was lost. A preview cut short gives the body its format back first.
void CMyTethrocamView::CutDownloadsShort()
{
    const int lost = DownloadsOutstanding();
    ShootingFinished();
    DeleteCamera();
    SetTitle("Tethrocam - Not connected");
    if (remote_ && lost > 0)
        remote_->PictureFailed("Download interrupted: the connection was closed");
    FinishedDownloads();
    if (lost > 0)
        SetStatus(lost == 1 ? QString("Download interrupted: picture not received")
                            : QString("Download interrupted: %1 pictures not received").arg(lost));
    UpdateControls();
}

// Nothing more on its way: what waited for it happens now, after the notifications the
// last picture already posted.
void CMyTethrocamView::FinishedDownloads()
{
    const AfterDownloads what = afterDownloads_;
    afterDownloads_ = AfterDownloads::Nothing;
    finishDeadline_.reset();
    finishTimer_.stop();
    QMetaObject::invokeMethod(
        this,
        [this, what] {
            switch (what) {
            case AfterDownloads::Nothing:
                break;
            case AfterDownloads::Disconnect:
                if (camera_ && DownloadsOutstanding() == 0 && !shooting_) {
                    DeleteCamera();
                    SetStatus("Tethrocam - Not connected");
                    SetTitle("Tethrocam - Not connected");
                    UpdateControls();
                }
                break;
            case AfterDownloads::Close:
                if (frame_)
                    frame_->close();
                break;
            case AfterDownloads::Quit:
                if (auto quit = std::move(quit_))
                    quit();
                break;
            }
        },
        Qt::QueuedConnection);
}

bool CMyTethrocamView::RequestClose()
{
    if (FinishingDownloads()) {
        if (!AskToCutDownloadsShort())
            return false;
        afterDownloads_ = AfterDownloads::Nothing;  // closing now, not again afterwards
        CutDownloadsShort();
    } else if (shooting_ || DownloadsOutstanding() > 0) {
        StartFinishing(AfterDownloads::Close);
        return false;
    }
    if (!unsaved_.empty()) {
        const int n = static_cast<int>(unsaved_.size());
        const auto answer = msgbox::ShowWithDetail(
            currentDisplayWindow_,
            n == 1 ? QString("One picture is only in memory. Save it before quitting?")
                   : QString("%1 pictures are only in memory. Save them before quitting?").arg(n),
            "No folder would take them when they arrived. Choose Yes to save them in another folder; "
            "No quits and they are lost.",
            msgbox::Icon::Question, msgbox::Buttons::YesNo);
        if (answer == msgbox::Answer::Yes && !SaveUnsavedPictures())
            return false;
    }
    return true;
}

void CMyTethrocamView::FinishDownloadsThenQuit(int maxWaitMs, std::function<void()> quit)
{
    // Pictures only in memory go to a rescue folder: nobody is there to be asked.
    for (auto it = unsaved_.begin(); it != unsaved_.end();) {
        bool saved = false;
        for (const std::string& folder : rescueFolders_) {
            std::string path;
            if (storage::MakeDirectoryPath(folder, storage::NativePathStyle()) && WriteKeptPicture(folder, *it, path) == 0) {
                saved = true;
                break;
            }
        }
        it = saved ? unsaved_.erase(it) : it + 1;
    }
    if (FinishingDownloads() && afterDownloads_ == AfterDownloads::Quit) {
        CutDownloadsShort();  // a second signal: now
        return;
    }
    quit_ = std::move(quit);
    if (!shooting_ && DownloadsOutstanding() == 0) {
        afterDownloads_ = AfterDownloads::Quit;
        FinishedDownloads();
        return;
    }
    finishDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxWaitMs);
    StartFinishing(AfterDownloads::Quit);
}

bool CMyTethrocamView::ReconnectPrompt()
{
    DeleteCamera();
    if (msgbox::Show(currentDisplayWindow_, "Camera is not connected.\nDo you wish to reconnect?",
                     msgbox::Icon::Question, msgbox::Buttons::YesNo) != msgbox::Answer::Yes)
        return false;
    ConnectCamera();
    if (!camera_)
        msgbox::ShowWithDetail(currentDisplayWindow_, "Unable to connect to camera", connectProblem_,
                               msgbox::Icon::Error);
    return camera_ != nullptr;
}

bool CMyTethrocamView::TakePicture()
{
    return StartRelease(false).started;
}

ShotAttempt CMyTethrocamView::TakeSequencedPicture()
{
    return StartRelease(true);
}

ShotAttempt CMyTethrocamView::StartRelease(bool quiet)
{
    ShotAttempt attempt;
    if (shooting_) {
        attempt.refusal = "A picture is still being taken";
    } else if (FinishingDownloads()) {
        attempt.refusal = "The download is being finished before the camera is let go";
    } else if (!camera_ || !camera_->Source()) {
        attempt.refusal = "Camera is not connected";
        attempt.needsPerson = true;
        if (!quiet)
            ReconnectPrompt();
    } else if (PrepareShot(false, quiet, attempt)) {
        attempt.started = true;
        SetStatus("Taking picture");
        if (!liveView_->RouteRelease())  // during live view the body gives up its frames first
            camera_->StartRelease();
    }
    refusal_ = attempt.refusal;
    return attempt;
}

bool CMyTethrocamView::TakePreviewPicture()
{
    if (shooting_ || FinishingDownloads())
        return false;
    if (!camera_) {
        ReconnectPrompt();
        return false;
    }
    ShotAttempt refused;
    if (!PrepareShot(true, false, refused))
        return false;
    SetStatus("Taking preview picture");
    if (!liveView_->RouteRelease())
        camera_->StartPreviewRelease();
    return true;
}

bool CMyTethrocamView::PrepareShot(bool preview, bool quiet, ShotAttempt& refused)
{
    // A refusal answers at once; its box (none for a sequence) comes after.
    auto refuse = [&](const QString& text, bool needsPerson, const QString& detail = {}) {
        refused.refusal = text;
        refused.needsPerson = needsPerson;
        if (quiet)
            refusal_ = text;
        else
            Refuse(text, detail);
        return false;
    };
    if (form_.tv->currentIndex() >= 0 && (form_.tv->currentData().toUInt() & 0xFFFF) == 4)
        return refuse("Bulb mode is only available when using the camera's shutter release", true);
    if (!preview && settings_.StoreImage == 1) {
        // Save to PC only: the camera keeps no copy, so a picture needs room on this disk.
        const std::string folder = storage::DatedFolder(settings_.Folders(), storage::NativePathStyle());
        const std::optional<uint64_t> free = storage::FreeBytesAt(folder);
        if (free && (*free == 0 || *free < lastPictureBytes_))
            return refuse("There is no room on the disk for another picture", true,
                          QString("%1 has %2 free; the last picture took %3.\nMake room on the disk, choose another "
                                  "folder in Preferences, or save to the camera.")
                              .arg(Q(folder))
                              .arg(Q(display::FormatFileSize(*free)))
                              .arg(Q(display::FormatFileSize(lastPictureBytes_))));
    }
    // The LCD display goes off by itself after a while: worth trying again.
    if (!camera_->LockUI())
        return refuse("Unable to release the shutter.\nPlease check that the camera's LCD display is off and try again",
                      false);
    if (preview) {
        // The format to put back afterwards is the camera's own, read now: the panel's list
        // may have no selection (or an old one) and would leave later shots small.
        uint16_t quality = 0, size = 0;
        const bool known = library_.CDGetImageFormatAttribute(camera_->Source(), &quality, &size) == cdsdk::cdOK;
        if (!known || library_.CDSetImageFormatAttribute(camera_->Source(), 2, 2) != cdsdk::cdOK) {
            // The lock just taken is given back: a refused format must not leave the body locked.
            camera_->UnlockUI();
            return refuse("Error selecting small, normal quality JPEG for preview", false);
        }
        formatQualityBeforePreview_ = quality;
        formatSizeBeforePreview_ = size;
    }
    previewFlag_ = preview;
    shooting_ = true;
    // Disabling the panel takes the keyboard from it; it is given back when the shot ends.
    QWidget* focus = QApplication::focusWidget();
    focusBeforeShot_ = focus && isAncestorOf(focus) ? focus : nullptr;
    form_.panel->setEnabled(false);
    form_.release->setEnabled(false);
    form_.preview->setEnabled(false);
    if (settings_.BlankScreenWhenTakingPhoto)
        ShowBlankScreen(true);
    return true;
}

void CMyTethrocamView::Refuse(const QString& text, const QString& detail)
{
    refusal_ = text;
    if (deferRefusalBoxes_)
        ShowBoxLater(text, detail, static_cast<int>(msgbox::Icon::None));
    else
        msgbox::ShowWithDetail(currentDisplayWindow_, text, detail);
}

void CMyTethrocamView::ShootingFinished()
{
    form_.panel->setEnabled(true);
    form_.release->setEnabled(true);
    form_.preview->setEnabled(true);
    // The control that had the keyboard before the shot gets it back, unless the user has
    // moved it somewhere else in the meantime.
    if (QWidget* focus = focusBeforeShot_.data()) {
        QWidget* now = QApplication::focusWidget();
        if (focus->isEnabled() && focus->isVisible() && (!now || now == window() || !now->isEnabled()))
            focus->setFocus(Qt::OtherFocusReason);
        focusBeforeShot_ = nullptr;
    }
    if (previewFlag_) {
        if (camera_)
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
    if (on) {
        // A cover clicked away that still exists is made again, over the windows open now.
        if (blankWindow_ && !blankWindow_->isVisible())
            delete blankWindow_.data();
        if (!blankWindow_)
            blankWindow_ = new CBlankDlg(this);
        blankWindow_->ShowCover();
    } else if (blankWindow_) {
        delete blankWindow_.data();
    }
}

QWidget* CMyTethrocamView::BlankWindow() const
{
    return blankWindow_.data();
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
    if (QAction* save = frame_->Action(ID_SAVE_UNSAVED))
        save->setEnabled(!unsaved_.empty());
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
    case ID_SAVE_UNSAVED: SaveUnsavedPictures(); break;
    case ID_PREFERENCES:
        if (EditPreferences(this, settings_)) {
            UpdateSnapshot();  // the very next picture goes to the new folder
            ApplyColourSettings();
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
    case ID_SEQUENCE:
        if (!camera_) {
            ReconnectPrompt();
        } else {
            // A time lapse or a sequence needs the body to itself.
            liveView_->Stop(id == ID_SEQUENCE ? "Live view ended for the sequence"
                                              : "Live view ended for the time lapse");
            TimeLapseOptions options;
            options.asSequence = id == ID_SEQUENCE;
            RunTimeLapseDialog(*this, std::move(options));
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
        currentSpace_.reset();
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

int CMyTethrocamView::PictureAreaLeft() const
{
    const int avRight = form_.av->mapTo(this, QPoint(form_.av->width(), 0)).x();
    // While the panel scrolls, its scroll bar is part of it: the picture never covers it.
    if (PanelScrolls())
        return std::max(avRight, panelScroller_->geometry().right() + 1);
    return avRight;
}

void CMyTethrocamView::RefreshDisplay()
{
    if (currentBytes_.empty() || fullScreenOpen_)
        return;
    const display::FreeBox box = display::FreeDisplayBox(width(), height(), PictureAreaLeft());
    // The picture is fitted to the device pixels of the free area: on a high-density screen
    // every one of them carries detail.
    const qreal scale = devicePixelRatioF();
    ImageHistogram fresh;
    display::DisplayResult result = MakeDisplayBitmap(this, static_cast<int>(box.width * scale),
                                                      static_cast<int>(box.height * scale), fresh,
                                                      settings_.HighlightBlink);
    ShowDisplayBitmap(std::move(result), fresh, scale);
}

const colour::PictureColourSpace& CMyTethrocamView::CurrentColourSpace()
{
    if (!currentSpace_)
        currentSpace_ = colour::ReadPictureColourSpace(currentBytes_.data(), currentBytes_.size());
    return *currentSpace_;
}

display::DisplayResult CMyTethrocamView::MakeDisplayBitmap(QWidget* owner, int boxWidth, int boxHeight,
                                                           ImageHistogram& histogram, bool wantHighlight)
{
    display::DisplaySource source;
    source.data = currentBytes_.data();
    source.length = currentBytes_.size();
    source.currentInfo = currentInfo_.get();
    source.historyPicture = history_.Current();
    std::shared_ptr<const colour::DisplayTransform> toMonitor;
    if (!currentBytes_.empty())
        toMonitor = display::ColourManagement::Instance().TransformFor(CurrentColourSpace(), owner ? owner : this);
    source.toMonitor = toMonitor.get();
    const display::DisplaySettings ds = CurrentDisplaySettings();
    display::DisplayResult result = display::MakeDisplayBitmap(
        source, ds, boxWidth, boxHeight, histogram, wantHighlight,
        [owner](const std::string& message) { msgbox::Show(owner, Q(message), msgbox::Icon::Error); });
    if (result.rotation)
        currentRotation_ = *result.rotation;
    return result;
}

void CMyTethrocamView::ShowDisplayBitmap(display::DisplayResult result, const ImageHistogram& histogram, qreal scale)
{
    if (!result.display)
        return;
    auto logicalWidth = [](const Bitmap& b, qreal s) { return static_cast<int>(std::ceil(b.width / s)); };
    std::optional<int> previousWidth;
    if (displayBitmap_)
        previousWidth = logicalWidth(*displayBitmap_, displayScale_);
    const display::PicturePlacement place =
        display::PlacePicture(width(), logicalWidth(*result.display, scale), previousWidth);
    if (place.clearFirst)
        picture_->SetBitmap(nullptr);
    displayBitmap_ = std::move(result.display);
    shownBitmap_ = std::move(result.shown);
    highlightBitmap_ = std::move(result.highlight);
    displayScale_ = scale;
    showingHighlight_ = false;
    picture_->move(place.x, place.y);
    ShowOnPictureControl();
    histogram_ = histogram;
    DrawHistogram();
    preview_->SetPicture(currentBytes_.data(), currentBytes_.size(), currentRotation_);
}

void CMyTethrocamView::ColoursChanged()
{
    RefreshDisplay();
}

void CMyTethrocamView::ClearDisplay()
{
    picture_->SetBitmap(nullptr);
    displayBitmap_.reset();
    shownBitmap_.reset();
    highlightBitmap_.reset();
    currentBytes_.clear();
    currentSpace_.reset();
    preview_->SetPicture(nullptr, 0, 0);
    ForwardPictureToFullScreen();  // an open full-screen window goes black too
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
    // Where pictures are shown, so that none shows beside the live panel.
    const display::FreeBox box = display::FreeDisplayBox(width(), height(), PictureAreaLeft());
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
