#include "windows/CImagePreviewDlg.h"

#include "colour/DisplayTransform.h"
#include "colour/PictureColourSpace.h"
#include "display/BitmapImage.h"
#include "display/ColourManagement.h"
#include "imaging/JpegDecoder.h"
#include "windows/ViewSurface.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWindow>
#include <QRegion>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <string_view>

namespace {

struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

constexpr int kLine = 10;          // pixels per scroll-bar arrow click
constexpr int kWheelStep = 60;     // pixels per wheel notch
constexpr int kWheelNotch = 120;   // wheel delta of one notch
constexpr int kTile = 128;         // pixels per side of the parts turned into monitor colours

// The new position for an axis when a picture of another size replaces the old one: the
// point at the window's centre stays there.
int KeepCentre(int position, int page, int oldExtent, int newExtent, int client)
{
    const uint64_t centre = static_cast<unsigned>(page / 2) + static_cast<unsigned>(position);
    return static_cast<int>(centre * static_cast<uint64_t>(newExtent) / static_cast<uint64_t>(oldExtent)) -
           client / 2;
}

} // namespace

CImagePreviewDlg::CImagePreviewDlg(ViewSurface* view) : QAbstractScrollArea(view ? view->ViewWidget() : nullptr), view_(view)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setObjectName("imagePreview");
    setWindowTitle("Image Preview");
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()}) {
        bar->setRange(0, 0);
        bar->setSingleStep(kLine);
        connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar](int action) { OnScrollAction(bar, action); });
    }
    resize(615, 442);  // the dialog's first size; later it stays as the user leaves it
    connect(&display::ColourManagement::Instance(), &display::ColourManagement::Changed, this,
            [this] { ColoursChanged(); });
}

CImagePreviewDlg::~CImagePreviewDlg() = default;

QPoint CImagePreviewDlg::ScrollPosition() const
{
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

QSize CImagePreviewDlg::ClientSize() const
{
    return viewport()->size();
}

void CImagePreviewDlg::Show(const uint8_t* data, size_t size, int rotation)
{
    if (!filterInstalled_ && view_) {
        view_->ViewWidget()->window()->installEventFilter(this);
        filterInstalled_ = true;
    }
    shown_ = true;
    show();
    if (QWindow* w = windowHandle(); w && !screenFollowed_) {
        screenFollowed_ = true;
        connect(w, &QWindow::screenChanged, this, [this] { ColoursChanged(); });
    }
    decoded_.reset();  // F7 always decodes
    SetPicture(data, size, rotation);
    SetTopmost(true);
    raise();
}

void CImagePreviewDlg::SetPicture(const uint8_t* data, size_t size, int rotation)
{
    if (!shown_)
        return;
    WaitCursor wait;
    data_ = data;
    size_ = size;
    rotation_ = rotation;
    std::optional<Source> source;
    if (data && size > 0) {
        const std::string_view bytes(reinterpret_cast<const char*>(data), size);
        source = Source{std::hash<std::string_view>{}(bytes), size, rotation};
        // The main window renders again after every resize and overlay change; the picture
        // here stays as it is (hashing the bytes costs a fraction of a millisecond).
        if (bitmap_ && decoded_ == source)
            return;
    }
    bitmap_.reset();
    toMonitor_.reset();
    tileDone_.clear();
    decoded_.reset();
    if (!source) {
        // No picture (its only one was deleted): nothing of the last one stays, neither its
        // size in the caption nor its scroll ranges; the next picture opens centred.
        setWindowTitle("Image Preview");
        ClearScrollRanges();
        viewport()->update();
        return;
    }
    setWindowIcon(QApplication::windowIcon());
    try {
        bitmap_ = DecodeFullSize(data, size, rotation);
    } catch (const JpegError& e) {
        setWindowTitle(QString("Image Preview - Error reading JPEG: ") + e.what());
    } catch (const std::exception&) {
        setWindowTitle("Image Preview - Error reading JPEG");
    }
    if (!bitmap_ || bitmap_->Empty()) {
        bitmap_.reset();
        ClearScrollRanges();
        viewport()->update();
        return;
    }
    decoded_ = source;
    toMonitor_ = display::ColourManagement::Instance().TransformFor(colour::ReadPictureColourSpace(data, size), this);
    tilesAcross_ = (bitmap_->width + kTile - 1) / kTile;
    tileDone_.assign(static_cast<size_t>(tilesAcross_) * static_cast<size_t>((bitmap_->height + kTile - 1) / kTile),
                     false);
    setWindowTitle(QString::asprintf("Image Preview (%dx%d)", bitmap_->width, bitmap_->height));
    UpdateScrollBars(true, rangeWidth_, rangeHeight_);
    // What the window shows is ready in the monitor's colours before it paints.
    const qreal scale = devicePixelRatioF();
    const QSize client = ClientSize() * scale;
    PrepareTiles(QRect(-PictureOrigin(), client));
    viewport()->update();
}

void CImagePreviewDlg::ColoursChanged()
{
    if (!shown_ || !data_)
        return;
    decoded_.reset();  // the parts already turned are in the old colours
    SetPicture(data_, size_, rotation_);
}

bool CImagePreviewDlg::AllInMonitorColours() const
{
    return !toMonitor_ || std::all_of(tileDone_.begin(), tileDone_.end(), [](bool done) { return done; });
}

void CImagePreviewDlg::PrepareTiles(const QRect& area)
{
    if (!toMonitor_ || !bitmap_)
        return;
    const QRect r = area.intersected(QRect(0, 0, bitmap_->width, bitmap_->height));
    if (r.isEmpty())
        return;
    for (int ty = r.top() / kTile; ty <= r.bottom() / kTile; ++ty) {
        for (int tx = r.left() / kTile; tx <= r.right() / kTile; ++tx) {
            const size_t i = static_cast<size_t>(ty) * static_cast<size_t>(tilesAcross_) + static_cast<size_t>(tx);
            if (i >= tileDone_.size() || tileDone_[i])
                continue;
            toMonitor_->Apply(*bitmap_, tx * kTile, ty * kTile, kTile, kTile);
            tileDone_[i] = true;
        }
    }
}

QSize CImagePreviewDlg::Extent() const
{
    if (!bitmap_)
        return {rangeWidth_, rangeHeight_};
    const qreal scale = devicePixelRatioF();
    return {static_cast<int>(std::ceil(bitmap_->width / scale)), static_cast<int>(std::ceil(bitmap_->height / scale))};
}

QPoint CImagePreviewDlg::PictureOrigin() const
{
    if (!bitmap_)
        return {};
    // In device pixels: one picture pixel each. A picture smaller than the window is
    // centred; a larger one is shown from the scroll position.
    const qreal scale = devicePixelRatioF();
    const QSize client = ClientSize();
    const int cw = static_cast<int>(std::lround(client.width() * scale));
    const int ch = static_cast<int>(std::lround(client.height() * scale));
    int x = -static_cast<int>(std::lround(horizontalScrollBar()->value() * scale));
    int y = -static_cast<int>(std::lround(verticalScrollBar()->value() * scale));
    const int visibleWidth = bitmap_->width - x, visibleHeight = bitmap_->height - y;
    if (cw > visibleWidth)
        x = (cw - visibleWidth) / 2;
    if (ch > visibleHeight)
        y = (ch - visibleHeight) / 2;
    return {x, y};
}

// Sets both ranges to the picture's size with the client extents as pages; positions a
// first picture at its centre and keeps the centre point for a picture of another size.
void CImagePreviewDlg::UpdateScrollBars(bool newPicture, int oldWidth, int oldHeight)
{
    const QSize extent = Extent();
    const int w = extent.width();
    const int h = extent.height();
    const QSize client = ClientSize();
    QScrollBar* hb = horizontalScrollBar();
    QScrollBar* vb = verticalScrollBar();
    int x = hb->value(), y = vb->value();
    if (newPicture && !scrollInitialised_) {
        x = (w - client.width()) / 2;
        y = (h - client.height()) / 2;
        scrollInitialised_ = true;
    } else if (newPicture && (w != oldWidth || h != oldHeight)) {
        if (x > 0 && client.width() < w && oldWidth > 0)
            x = KeepCentre(x, hb->pageStep(), oldWidth, w, client.width());
        if (y > 0 && client.height() < h && oldHeight > 0)
            y = KeepCentre(y, vb->pageStep(), oldHeight, h, client.height());
    }
    rangeWidth_ = w;
    rangeHeight_ = h;
    // A position never leaves 0 .. extent - page.
    hb->setRange(0, std::max(0, w - client.width()));
    hb->setPageStep(std::max(1, client.width()));
    vb->setRange(0, std::max(0, h - client.height()));
    vb->setPageStep(std::max(1, client.height()));
    hb->setValue(x);
    vb->setValue(y);
}

void CImagePreviewDlg::ClearScrollRanges()
{
    rangeWidth_ = 0;
    rangeHeight_ = 0;
    scrollInitialised_ = false;
    UpdateScrollBars(false, 0, 0);
}

void CImagePreviewDlg::OnScrollAction(QScrollBar* bar, int action)
{
    // A page is four fifths of the client extent (the bar's own page step sizes the thumb).
    const int page = bar->pageStep() * 4 / 5;
    if (action == QAbstractSlider::SliderPageStepAdd)
        bar->setSliderPosition(std::min(bar->maximum(), bar->value() + page));
    else if (action == QAbstractSlider::SliderPageStepSub)
        bar->setSliderPosition(std::max(bar->minimum(), bar->value() - page));
}

void CImagePreviewDlg::scrollContentsBy(int, int)
{
    viewport()->update();
}

void CImagePreviewDlg::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    UpdateScrollBars(false, rangeWidth_, rangeHeight_);
    viewport()->update();
}

void CImagePreviewDlg::paintEvent(QPaintEvent* e)
{
    QPainter p(viewport());
    const QBrush background = palette().brush(QPalette::Window);
    if (!bitmap_) {
        p.fillRect(e->rect(), background);
        return;
    }
    // Painted in device pixels, so that each picture pixel is one of them.
    const qreal scale = devicePixelRatioF();
    const QRect exposed = e->rect();
    const QRect deviceExposed(QPoint(static_cast<int>(std::floor(exposed.left() * scale)),
                                     static_cast<int>(std::floor(exposed.top() * scale))),
                              QPoint(static_cast<int>(std::ceil((exposed.right() + 1) * scale)) - 1,
                                     static_cast<int>(std::ceil((exposed.bottom() + 1) * scale)) - 1));
    const QPoint origin = PictureOrigin();
    // Only the part of the picture inside the exposed area is copied.
    const QRect picture(origin, QSize(bitmap_->width, bitmap_->height));
    const QRect target = picture.intersected(deviceExposed);
    p.scale(1 / scale, 1 / scale);
    if (!target.isEmpty()) {
        PrepareTiles(target.translated(-origin));
        p.drawImage(target, display::WrapBitmap(*bitmap_), target.translated(-origin));
    }
    for (const QRect& r : QRegion(deviceExposed).subtracted(QRegion(picture)))
        p.fillRect(r, background);
}

bool CImagePreviewDlg::event(QEvent* e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        // Only this window's own keys act here; the main window's menu keys do not.
        e->accept();
        return true;
    }
    return QAbstractScrollArea::event(e);
}

bool CImagePreviewDlg::eventFilter(QObject* watched, QEvent* e)
{
    if (view_ && watched == view_->ViewWidget()->window()) {
        if (e->type() == QEvent::WindowActivate)
            MainWindowActivation(true);
        else if (e->type() == QEvent::WindowDeactivate)
            MainWindowActivation(false);
    }
    return QAbstractScrollArea::eventFilter(watched, e);
}

void CImagePreviewDlg::keyPressEvent(QKeyEvent* e)
{
    e->accept();
    if (e->isAutoRepeat() || (e->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return;
    switch (e->key()) {
    case Qt::Key_F7:
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        break;
    case Qt::Key_F8:
        if (view_)
            view_->TakePicture();
        break;
    case Qt::Key_F9:
        if (view_)
            view_->TakePreviewPicture();
        break;
    default:
        break;
    }
}

void CImagePreviewDlg::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    dragging_ = true;
    savedCursor_ = viewport()->cursor();
    viewport()->setCursor(Qt::SizeAllCursor);
    lastPoint_ = e->position().toPoint();
    e->accept();
}

void CImagePreviewDlg::mouseMoveEvent(QMouseEvent* e)
{
    if (!dragging_) {
        QAbstractScrollArea::mouseMoveEvent(e);
        return;
    }
    const QPoint at = e->position().toPoint();
    const int dx = lastPoint_.x() - at.x();
    const int dy = lastPoint_.y() - at.y();
    if (dx != 0 || dy != 0) {
        verticalScrollBar()->setValue(verticalScrollBar()->value() + dy);
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx);
        viewport()->update();
    }
    lastPoint_ = at;
    e->accept();
}

void CImagePreviewDlg::mouseReleaseEvent(QMouseEvent* e)
{
    if (dragging_ && e->button() == Qt::LeftButton) {
        dragging_ = false;
        viewport()->setCursor(savedCursor_);
        e->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(e);
}

void CImagePreviewDlg::wheelEvent(QWheelEvent* e)
{
    // Whole notches only: half a notch moves nothing.
    const int notches = e->angleDelta().y() / kWheelNotch;
    verticalScrollBar()->setValue(verticalScrollBar()->value() - notches * kWheelStep);
    viewport()->update();
    e->accept();
}

void CImagePreviewDlg::closeEvent(QCloseEvent* e)
{
    shown_ = false;
    QAbstractScrollArea::closeEvent(e);
    if (view_) {
        view_->ViewWidget()->window()->activateWindow();
        view_->ViewWidget()->window()->raise();
    }
}

void CImagePreviewDlg::SetTopmost(bool on)
{
    if (boxesOpen_ > 0) {
        // Not while a box is open: it is remembered for when the last box is answered.
        topmostBeforeBoxes_ = on;
        on = false;
    }
    topmost_ = on;
    if (QWindow* w = windowHandle())
        w->setFlag(Qt::WindowStaysOnTopHint, on);
}

void CImagePreviewDlg::MainWindowActivation(bool active)
{
    if (boxesOpen_ > 0) {
        // A box is up: the window stays out of the band and is not raised over the box;
        // whether it floats again is decided when the last box is answered.
        if (active)
            topmostBeforeBoxes_ = shown_;
        return;
    }
    if (active) {
        if (shown_ && !topmost_) {
            SetTopmost(true);
            if (isVisible())
                raise();  // raising a window does not activate it
        }
    } else if (QApplication::activeWindow() != this) {
        // Another program (or another of our windows) took the keyboard: stop floating over
        // it and go behind the main window.
        SetTopmost(false);
        if (isVisible())
            lower();
    }
}

void CImagePreviewDlg::FrameMinimised()
{
    SetTopmost(false);
    hide();
}

void CImagePreviewDlg::FrameRestored()
{
    if (!shown_)
        return;
    show();
    SetTopmost(true);
}

void CImagePreviewDlg::BoxOpening()
{
    if (boxesOpen_++ > 0)
        return;
    const bool was = topmost_;
    SetTopmost(false);
    topmostBeforeBoxes_ = was;
}

void CImagePreviewDlg::BoxClosed()
{
    if (boxesOpen_ == 0 || --boxesOpen_ > 0)
        return;
    if (topmostBeforeBoxes_ && shown_ && isVisible())
        SetTopmost(true);
    topmostBeforeBoxes_ = false;
}
