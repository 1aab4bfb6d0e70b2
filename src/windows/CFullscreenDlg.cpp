#include "windows/CFullscreenDlg.h"

#include "camera/Notifications.h"
#include "display/BitmapImage.h"
#include "display/ColourManagement.h"
#include "imaging/ImageHistogram.h"
#include "windows/ViewSurface.h"
#include "mainview/ControlIds.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>

using namespace ids;

namespace {

// The window's own request to render its first picture once it has its full size.
const QEvent::Type kRenderRequest = static_cast<QEvent::Type>(QEvent::User + 1005);

// The wait cursor for as long as a command runs.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

CFullscreenDlg::CFullscreenDlg(ViewSurface* view, bool showCaption)
    : QDialog(view->ViewWidget(), Qt::Dialog | Qt::FramelessWindowHint), view_(view), showCaption_(showCaption)
{
    setObjectName("fullScreen");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QString::number(1072));
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->setFocusPolicy(Qt::NoFocus);
    progress_->setGeometry(8, QFontMetrics(font()).height() + 8, 200, 12);
    progress_->hide();
    setFocusPolicy(Qt::StrongFocus);
    // New monitor colours: the picture is rendered again in them.
    connect(&display::ColourManagement::Instance(), &display::ColourManagement::Changed, this, [this] {
        if (image_)
            Render();
    });
}

void CFullscreenDlg::Start()
{
    QWidget* main = view_->ViewWidget()->window();
    if (QScreen* screen = main ? main->screen() : QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    setWindowModality(Qt::ApplicationModal);
    showFullScreen();
    raise();
    activateWindow();
    setFocus();
}

QPoint CFullscreenDlg::PicturePosition(int clientWidth, int clientHeight, int w, int h)
{
    return {w < clientWidth ? (clientWidth - w) / 2 : 0, h < clientHeight ? (clientHeight - h) / 2 : 0};
}

QString CFullscreenDlg::CaptionText() const
{
    return QString::fromStdString(view_->PictureCaption());
}

QSize CFullscreenDlg::DeviceSize() const
{
    const qreal scale = devicePixelRatioF();
    return {static_cast<int>(width() * scale), static_cast<int>(height() * scale)};
}

// The picture is fitted to the window's device pixels, in the colours of its monitor.
std::optional<Bitmap> CFullscreenDlg::RenderImage()
{
    ImageHistogram histogram;  // filled by the render, then discarded
    const QSize box = DeviceSize();
    display::DisplayResult result = view_->MakeDisplayBitmap(this, box.width(), box.height(), histogram, false);
    if (!result.display || result.display->Empty())
        return std::nullopt;
    if (result.shown)
        return std::move(result.shown);
    return std::move(result.display);
}

void CFullscreenDlg::ShowLiveImage(const QImage& frame)
{
    live_ = true;
    liveImage_ = frame;
    update();
}

void CFullscreenDlg::ShowStill()
{
    live_ = false;
    liveImage_ = QImage();
    Render();
}

void CFullscreenDlg::Render()
{
    if (live_) {
        update();  // the next frame comes in a frame time, rendered for the new state
        return;
    }
    image_.reset();
    image_ = RenderImage();
    update();
}

void CFullscreenDlg::Notify(const Notification& n)
{
    if (n.message == WM_DISPLAY_JPEG) {
        Render();
    } else if (n.message == WM_DOWNLOAD_PROGRESS) {
        progress_->setVisible(n.wParam != 0);
        if (static_cast<uint64_t>(n.wParam) <= 100)
            progress_->setValue(static_cast<int>(n.wParam));
    }
}

bool CFullscreenDlg::event(QEvent* e)
{
    if (e->type() == kRenderRequest) {
        renderRequested_ = false;
        if (!image_ && !live_) {
            image_ = RenderImage();
            if (image_)
                update();
        }
        return true;
    }
    if (e->type() == QEvent::ShortcutOverride) {
        // The keys of this window are its own: no menu shortcut of the main window acts
        // while it has the keyboard.
        e->accept();
        return true;
    }
    return QDialog::event(e);
}

void CFullscreenDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const bool showLive = live_ && !liveImage_.isNull();
    if (showLive || image_) {
        // A picture in device pixels (one picture pixel each); a live frame says its own
        // device pixel ratio and is placed in the window's pixels.
        const qreal scale = showLive ? 1.0 : devicePixelRatioF();
        const QSize area = showLive ? size() : DeviceSize();
        const QSize live = showLive ? liveImage_.deviceIndependentSize().toSize() : QSize();
        const int W = area.width(), H = area.height();
        const int w = showLive ? live.width() : image_->width;
        const int h = showLive ? live.height() : image_->height;
        const QPoint at = PicturePosition(W, H, w, h);
        const int x = at.x(), y = at.y();
        p.save();
        p.scale(1 / scale, 1 / scale);
        if (showLive)
            p.drawImage(at, liveImage_);
        else
            p.drawImage(at, display::WrapBitmap(*image_));
        // Black around the picture, each part painted once.
        if (y > 0)
            p.fillRect(x, 0, w, y, Qt::black);
        if (H - y - h > 0)
            p.fillRect(x, y + h, w, H - y - h, Qt::black);
        if (x > 0)
            p.fillRect(0, 0, x, H, Qt::black);
        if (W - x - w > 0)
            p.fillRect(x + w, 0, W - x - w, H, Qt::black);
        p.restore();
    } else {
        p.fillRect(rect(), Qt::black);
        if (!renderRequested_) {
            renderRequested_ = true;
            QCoreApplication::postEvent(this, new QEvent(kRenderRequest));
        }
    }
    if (showCaption_) {
        // The window's own font, unsmoothed, on an opaque white background.
        QFont f = font();
        f.setStyleStrategy(QFont::NoAntialias);
        p.setFont(f);
        p.setPen(QColor(160, 160, 0));
        p.setBackgroundMode(Qt::OpaqueMode);
        p.setBackground(Qt::white);
        p.drawText(QPoint(0, QFontMetrics(f).ascent()), CaptionText());
    }
}

void CFullscreenDlg::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    // A picture rendered before the window reached its full size is rendered again.
    if (image_)
        Render();
}

// A click on a live frame magnifies there.
void CFullscreenDlg::mousePressEvent(QMouseEvent* e)
{
    if (!live_ || liveImage_.isNull() || e->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(e);
        return;
    }
    const QSize live = liveImage_.deviceIndependentSize().toSize();
    const int w = live.width(), h = live.height();
    const QPoint at = PicturePosition(width(), height(), w, h);
    const QPoint pos = e->position().toPoint() - at;
    if (pos.x() >= 0 && pos.y() >= 0 && pos.x() < w && pos.y() < h)
        view_->LiveViewClick(pos.x(), pos.y(), w, h);
    e->accept();
}

void CFullscreenDlg::keyPressEvent(QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    const bool plain = mods == Qt::NoModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const int key = e->key();
    // Stepping through pictures while an arrow is held is what a photographer expects, and
    // so is turning the focus while its key is held; every other command acts once per
    // press (a held F8 must not fire a burst).
    const bool arrow = plain && (key == Qt::Key_Left || key == Qt::Key_Right);
    const bool focusKey = (key == Qt::Key_PageUp || key == Qt::Key_PageDown) &&
                          (plain || ctrl || mods == Qt::ShiftModifier);
    if (e->isAutoRepeat() && !arrow && !focusKey) {
        e->accept();
        return;
    }
    if (plain && key == Qt::Key_Escape) {
        QDialog::keyPressEvent(e);  // the dialog's ordinary cancel
        return;
    }
    e->accept();
    if (plain && key == Qt::Key_F11) {
        reject();
    } else if (plain && key == Qt::Key_F6) {
        view_->OnCommand(ID_LIVE_VIEW);
    } else if (plain && key == Qt::Key_F4) {
        view_->OnCommand(ID_AUTOFOCUS);
    } else if (focusKey) {
        const bool far = key == Qt::Key_PageUp;
        const int size = ctrl ? 1 : plain ? 2 : 3;
        static const int kNear[] = {ID_FOCUS_NEAR_1, ID_FOCUS_NEAR_2, ID_FOCUS_NEAR_3};
        static const int kFar[] = {ID_FOCUS_FAR_1, ID_FOCUS_FAR_2, ID_FOCUS_FAR_3};
        view_->OnCommand(far ? kFar[size - 1] : kNear[size - 1]);
    } else if (plain && key == Qt::Key_F8) {
        view_->TakePicture();
    } else if (plain && key == Qt::Key_F9) {
        view_->TakePreviewPicture();
    } else if (ctrl && (key == Qt::Key_W || key == Qt::Key_F || key == Qt::Key_G)) {
        WaitCursor wait;
        view_->OnCommand(key == Qt::Key_W ? ID_BLACK_AND_WHITE : key == Qt::Key_F ? ID_FOCUS_POINTS : ID_DISPLAY_GRID);
        Render();
    } else if (arrow) {
        // A repeat made while the last step was still showing its picture is stale.
        if (e->isAutoRepeat() && stepBusyUntil_ && e->timestamp() <= *stepBusyUntil_)
            return;
        QElapsedTimer took;
        took.start();
        {
            WaitCursor wait;
            view_->OnCommand(key == Qt::Key_Left ? IDC_PREVIOUS : IDC_NEXT);  // the view hands the picture on
        }
        stepBusyUntil_ = e->timestamp() + static_cast<quint64>(took.elapsed());
    } else if (ctrl && key == Qt::Key_C) {
        WaitCursor wait;
        showCaption_ = !showCaption_;
        Render();
    } else if (plain && key == Qt::Key_Delete) {
        WaitCursor wait;
        view_->OnCommand(ID_DELETE_IMAGE);
        Render();
    }
}
