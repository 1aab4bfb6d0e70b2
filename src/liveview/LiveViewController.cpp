#include "liveview/LiveViewController.h"

#include "app/MessageBox.h"
#include "display/ColourManagement.h"
#include "display/Overlays.h"
#include "imaging/JpegDecoder.h"
#include "liveview/FocusSelection.h"
#include "liveview/LiveViewPanel.h"
#include "windows/ViewSurface.h"

#include <QTimerEvent>

using namespace cdsdk;
using liveview::LoopEvent;

namespace {

constexpr int kRateIntervalMs = 500;
constexpr int kGraceMs = 400;      // a shot that ended without a picture gives live view back
constexpr int kHistogramEvery = 3;  // frames per redraw of the live histogram

// Why live view could not start, and what to do.
QString StartFailureDetail(int64_t code)
{
    switch (code) {
    case cdNOT_SUPPORTED:
        return "The camera's driver offers no live view for this body.";
    case cdDEVICE_BUSY:
        return "The camera is busy with a picture. Wait until it has been saved, then press F6 again.";
    case cdLIVE_VIEW_ENDED:
        return "The camera refuses live view now. Check its mode dial (P, Tv, Av or M), its battery and its card, "
               "then press F6 again.";
    default:
        return QString::asprintf("The camera did not answer (error 0x%08X). Check the cable and that the camera is "
                                 "switched on, then press F6 again.",
                                 static_cast<unsigned>(code));
    }
}

}  // namespace

LiveViewController::LiveViewController(ViewSurface& view, QWidget* panelParent, NotificationSink& sink)
    : view_(view), sink_(sink)
{
    panel_ = new LiveViewPanel(panelParent);
    panel_->hide();
    panel_->onClick = [this](int x, int y, int w, int h) { Click(x, y, w, h); };
    panel_->onFocus = [this](int step) { DriveFocus(step); };
    panel_->onAutofocus = [this] { Autofocus(); };
}

LiveViewController::~LiveViewController()
{
    quiet_ = true;
    Stop();
    stopping_.reset();
}

void LiveViewController::SetOptions(const Options& options)
{
    options_ = options;
}

bool LiveViewController::CanDriveFocus() const
{
    return loop_ && (capabilities_ & cdLV_CAP_FOCUS_DRIVE);
}

bool LiveViewController::CanAutofocus() const
{
    return loop_ && (capabilities_ & cdLV_CAP_AUTOFOCUS);
}

void LiveViewController::Toggle()
{
    if (loop_ || restartWhenStopped_)
        Stop("Live view ended");
    else
        Start();
}

bool LiveViewController::Start()
{
    if (loop_)
        return true;
    if (stopping_) {
        // The last loop is still finishing its frame: start once it has.
        restartWhenStopped_ = true;
        return true;
    }
    CameraLibrary* library = nullptr;
    cdHSource source = 0;
    std::string model;
    if (!view_.LiveViewCamera(&library, &source, &model)) {
        msgbox::ShowWithDetail(view_.ViewWidget(), "Live view needs a connected camera",
                               "Connect the camera (Camera > Connect to Camera), then press F6 again.",
                               msgbox::Icon::Error);
        return false;
    }
    uint32_t caps = 0;
    if (library->CDGetLiveViewCapabilities(source, &caps) != cdOK || !(caps & cdLV_CAP_LIVE_VIEW)) {
        msgbox::ShowWithDetail(view_.ViewWidget(), "This camera has no live view",
                               QString::fromStdString(model) +
                                   " offers no live view through its driver; pictures can still be taken.",
                               msgbox::Icon::Exclamation);
        return false;
    }
    library_ = library;
    source_ = source;
    model_ = model;
    capabilities_ = caps;
    uint32_t size = 2;
    uint16_t afPoint = 1;
    afPointSetting_ = library->CDGetRelCamSettingData(source, cdREL_SET_AF_POINT, &size, &afPoint) == cdOK ? afPoint : 1;
    magnifier_ = {};
    frameSizeKnown_ = false;
    reviewing_ = false;
    waitingForShot_ = false;
    stalled_ = false;
    panel_->Clear();
    loop_ = std::make_unique<liveview::LiveViewLoop>(*library, source, sink_);
    loop_->Start();
    ShowPanel(true);
    UpdateStrip();
    view_.SetStatusText(0, "Starting live view");
    view_.SetStatusText(1, "Live view");
    rateTimer_.start(kRateIntervalMs, this);
    if (onStateChanged)
        onStateChanged();
    return true;
}

void LiveViewController::Stop(const QString& why)
{
    restartWhenStopped_ = false;
    if (!loop_)
        return;
    loop_->RequestStop();
    if (stopping_)
        stopping_.reset();  // cannot happen: a start waits for the last loop to finish
    stopping_ = std::move(loop_);
    const bool fire = releasePending_;
    releasePending_ = false;
    reviewing_ = false;
    waitingForShot_ = false;
    reviewTimer_.stop();
    graceTimer_.stop();
    rateTimer_.stop();
    if (quiet_)
        return;  // the window is going: nothing to show, no shot to fire
    ShowPanel(false);
    panel_->Clear();
    view_.ShowLiveHistogram(nullptr);
    view_.SetStatusText(1, {});
    if (!why.isEmpty())
        view_.SetStatusText(0, why);
    if (fullScreenStill_)
        fullScreenStill_();
    if (onStateChanged)
        onStateChanged();
    // A release the loop had not handed over yet fires now, the usual way.
    if (fire)
        view_.FireShutter();
}

void LiveViewController::Ended(const QString& status)
{
    Stop(status);
}

void LiveViewController::CameraClosing()
{
    Stop();
}

std::optional<liveview::LoopStats> LiveViewController::Stats() const
{
    if (!loop_)
        return std::nullopt;
    return loop_->Stats();
}

// ---------------------------------------------------------------- commands

void LiveViewController::DriveFocus(int step)
{
    if (!loop_)
        return;
    if (!(capabilities_ & cdLV_CAP_FOCUS_DRIVE)) {
        view_.SetStatusText(0, "This camera cannot drive the focus from the PC");
        return;
    }
    loop_->DriveFocus(step);
}

void LiveViewController::Autofocus()
{
    if (!loop_)
        return;
    if (!(capabilities_ & cdLV_CAP_AUTOFOCUS)) {
        view_.SetStatusText(0, "This camera cannot autofocus from the PC");
        return;
    }
    view_.SetStatusText(0, "Autofocus");
    loop_->AutoFocus();
}

void LiveViewController::Click(int x, int y, int shownWidth, int shownHeight)
{
    if (!loop_ || !frameSizeKnown_ || reviewing_)
        return;
    magnifier_.Click(x, y, shownWidth, shownHeight);
    if (capabilities_ & cdLV_CAP_CAMERA_ZOOM)
        loop_->SetCameraZoom(magnifier_.Level(), magnifier_.Centre().x, magnifier_.Centre().y);
    UpdateStrip();
}

void LiveViewController::SetArea(const QRect& area)
{
    area_ = area;
    panel_->setGeometry(area);
}

// ---------------------------------------------------------------- shooting

bool LiveViewController::RouteRelease()
{
    if (!loop_)
        return false;
    releasePending_ = true;
    waitingForShot_ = true;
    graceTimer_.stop();
    loop_->RequestRelease(options_.reviewSeconds > 0);
    return true;
}

void LiveViewController::PictureShown()
{
    if (!loop_ || options_.reviewSeconds <= 0)
        return;
    // The picture stays on show for the review time (restarted by each picture of a shot).
    reviewing_ = true;
    graceTimer_.stop();
    loop_->Pause();
    ShowPanel(false);
    if (fullScreenStill_)
        fullScreenStill_();
    reviewTimer_.start(options_.reviewSeconds * 1000, this);
}

void LiveViewController::ShootingFinished()
{
    waitingForShot_ = false;
    if (loop_ && !reviewing_ && loop_->Paused())
        graceTimer_.start(kGraceMs, this);
}

void LiveViewController::EndReview()
{
    reviewTimer_.stop();
    if (!reviewing_)
        return;
    reviewing_ = false;
    if (!loop_)
        return;
    ShowPanel(true);
    loop_->Resume();
}

// ---------------------------------------------------------------- full screen

void LiveViewController::SetFullScreen(std::function<void(const QImage&)> show, std::function<void()> still,
                                       std::function<QSize()> size)
{
    fullScreenShow_ = std::move(show);
    fullScreenStill_ = std::move(still);
    fullScreenSize_ = size;
}

void LiveViewController::ClearFullScreen()
{
    fullScreenShow_ = {};
    fullScreenStill_ = {};
    fullScreenSize_ = {};
}

// ---------------------------------------------------------------- notifications

void LiveViewController::Notify(const Notification& n)
{
    if (n.message == WM_LIVE_VIEW_FRAME) {
        if (loop_)
            OnFrame();
        return;
    }
    if (n.message != WM_LIVE_VIEW_EVENT)
        return;
    const auto event = static_cast<LoopEvent>(n.wParam);
    if (event == LoopEvent::Stopped) {
        if (stopping_ && stopping_->Finished()) {
            stopping_.reset();
            if (restartWhenStopped_) {
                restartWhenStopped_ = false;
                Start();
            }
        }
        return;
    }
    // While a loop is finishing, what it still says is of no interest.
    if (loop_)
        OnEvent(event, n.lParam);
}

void LiveViewController::OnEvent(LoopEvent event, int64_t code)
{
    switch (event) {
    case LoopEvent::Started:
        view_.SetStatusText(0, "Live view");
        break;
    case LoopEvent::StartFailed:
        Ended({});
        msgbox::ShowWithDetail(view_.ViewWidget(), "Unable to start live view", StartFailureDetail(code),
                               msgbox::Icon::Error);
        break;
    case LoopEvent::EndedByCamera:
        Ended("Live view ended by the camera");
        msgbox::ShowWithDetail(view_.ViewWidget(), "Live view ended by the camera",
                               "The camera left live view by itself: its mode dial, battery or card may need "
                               "attention. Press F6 to start it again.",
                               msgbox::Icon::Exclamation);
        break;
    case LoopEvent::Lost:
        Ended("Live view ended: the camera does not answer");
        break;
    case LoopEvent::FramesStopped:
        stalled_ = true;
        UpdateRate();
        view_.SetStatusText(0, "The camera sends no live view frames");
        break;
    case LoopEvent::FramesResumed:
        stalled_ = false;
        view_.SetStatusText(0, "Live view");
        break;
    case LoopEvent::FocusAtLimit:
        view_.SetStatusText(0, code < 0 ? "Focus: the lens is at its nearest distance"
                                        : "Focus: the lens is at infinity");
        break;
    case LoopEvent::FocusFailed:
        view_.SetStatusText(0, code == cdDEVICE_BUSY ? "Focus: the camera is busy with a picture"
                                                     : "Focus: the camera did not move the lens");
        break;
    case LoopEvent::AutofocusDone:
        view_.SetStatusText(0, "Autofocus done");
        break;
    case LoopEvent::AutofocusFailed:
        view_.SetStatusText(0, code == cdAF_FAILED ? "Autofocus found nothing to focus on"
                                                   : "Autofocus did not run: the camera is busy or in manual focus");
        break;
    case LoopEvent::ZoomFailed:
        magnifier_.Reset();
        UpdateStrip();
        view_.SetStatusText(0, "The camera did not magnify its live view");
        break;
    case LoopEvent::ReleaseReady:
        if (releasePending_) {
            releasePending_ = false;
            view_.FireShutter();
        }
        if (loop_)
            loop_->ReleaseStarted();
        break;
    case LoopEvent::Stopped:
        break;
    }
}

void LiveViewController::OnFrame()
{
    std::optional<liveview::LiveFrame> frame = loop_->TakeFrame();
    if (!frame || reviewing_)
        return;  // a frame caught by the review's pause is not shown
    RenderAndShow(*frame);
}

// The one road of a live frame to the screen.
void LiveViewController::RenderAndShow(const liveview::LiveFrame& frame)
{
    const bool fullScreen = static_cast<bool>(fullScreenShow_);
    const QSize box = fullScreen && fullScreenSize_ ? fullScreenSize_() : panel_->PictureArea();
    // Rendered at the screen's device pixels: at a scale factor of 2 the frame is not
    // reduced to half and doubled.
    const qreal dpr = panel_->devicePixelRatioF();
    const bool cameraZoom = capabilities_ & cdLV_CAP_CAMERA_ZOOM;
    const display::DisplaySettings ds = view_.CurrentDisplaySettings();
    liveview::RenderOptions o;
    o.boxWidth = static_cast<int>(box.width() * dpr);
    o.boxHeight = static_cast<int>(box.height() * dpr);
    if (!cameraZoom && frameSizeKnown_ && magnifier_.Level() > 1)
        o.area = magnifier_.Area();
    o.blackAndWhite = ds.blackAndWhite;
    o.peaking = options_.peaking;
    o.peakingColour = options_.peakingColour;
    liveview::RenderedFrame r;
    try {
        r = renderer_.Render(frame.jpeg.data(), frame.jpeg.size(), o);
    } catch (const JpegError&) {
        ++broken_;  // one bad frame: the next one comes in a frame time
        return;
    }
    if (frame.cameraZoom == 1 && (!frameSizeKnown_ || r.frameWidth != magnifier_.FrameWidth() ||
                                  r.frameHeight != magnifier_.FrameHeight())) {
        magnifier_.SetFrameSize(r.frameWidth, r.frameHeight);
        frameSizeKnown_ = true;
    }
    if (r.image.Empty())
        return;
    // The picture keeps its pixels (the screen's own 32-bit layout) without a copy.
    auto* pixels = new std::vector<uint32_t>(std::move(r.image.pixels));
    QImage image(reinterpret_cast<uchar*>(pixels->data()), r.image.width, r.image.height, r.image.width * 4,
                 QImage::Format_RGB32, [](void* p) { delete static_cast<std::vector<uint32_t>*>(p); }, pixels);
    // In the colours of the monitor it is shown on (cameras stream sRGB); the histogram
    // above counted the frame's own values.
    display::ColourManagement::Instance().SrgbToMonitor(image, panel_);
    // The overlays, as for pictures: the grid always, the focus points on the whole frame.
    if (ds.displayGrid)
        display::DrawGrid(image, display::ColorFromColorRef(ds.gridColour), ds.horizontalDivisions,
                          ds.verticalDivisions);
    if (ds.displayFocusPoints && magnifier_.Level() == 1 && frame.cameraZoom == 1) {
        const liveview::SelectedFocusPoints points = liveview::FocusPointsForSelection(afPointSetting_);
        display::FocusPointInfo info;
        info.model = model_;
        info.sevenPointMask = points.sevenPointMask;
        info.threePointValue = points.threePointValue;
        display::DrawFocusPoints(image, info, 0);
    }
    image.setDevicePixelRatio(dpr);  // after the overlays, which are drawn in device pixels
    ++rendered_;
    lastPeakingMarks_ = r.peakingMarks;
    if (++histogramSkip_ >= kHistogramEvery) {
        histogramSkip_ = 0;
        view_.ShowLiveHistogram(&r.histogram);
    }
    if (fullScreen)
        fullScreenShow_(image);
    else
        panel_->ShowFrame(std::move(image), frame.arrived);
}

// ---------------------------------------------------------------- the window

void LiveViewController::ShowPanel(bool shown)
{
    panel_->setGeometry(area_);
    panel_->setVisible(shown && area_.width() > 0 && area_.height() > 0);
    if (shown)
        panel_->raise();
}

void LiveViewController::UpdateStrip()
{
    panel_->SetFocusButtons(CanDriveFocus(), CanAutofocus());
    const int level = magnifier_.Level();
    panel_->SetMagnificationText(level == 1 ? "Fit" : QString::number(level) + "x");
}

void LiveViewController::UpdateRate()
{
    if (!loop_)
        return;
    const liveview::LoopStats s = loop_->Stats();
    QString text;
    if (reviewing_)
        text = "Live view: picture on review";
    else if (stalled_ || (s.delivered > 0 && s.framesPerSecond <= 0))
        text = "Live view: no frames";
    else if (s.delivered == 0)
        text = "Live view: starting";
    else
        text = QString::asprintf("Live view: %.1f fps", s.framesPerSecond);
    view_.SetStatusText(1, text);
}

void LiveViewController::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == reviewTimer_.timerId()) {
        EndReview();
    } else if (e->timerId() == graceTimer_.timerId()) {
        graceTimer_.stop();
        if (loop_ && !reviewing_ && !waitingForShot_)
            loop_->Resume();
    } else if (e->timerId() == rateTimer_.timerId()) {
        UpdateRate();
    } else {
        QObject::timerEvent(e);
    }
}
