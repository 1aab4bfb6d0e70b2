#include "liveview/LiveViewPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

LiveViewPanel::LiveViewPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName("liveView");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    strip_ = new QWidget(this);
    strip_->setObjectName("liveViewStrip");
    strip_->setAutoFillBackground(true);
    strip_->setCursor(Qt::ArrowCursor);
    auto* row = new QHBoxLayout(strip_);
    row->setContentsMargins(6, 3, 6, 3);
    row->setSpacing(4);
    auto addButton = [&](const QString& text, const char* name, const QString& tip) {
        auto* b = new QPushButton(text, strip_);
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);  // the keys stay with the window's commands
        b->setAutoRepeat(true);
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(">>>") + 24);
        row->addWidget(b);
        return b;
    };
    row->addWidget(new QLabel("Near", strip_));
    struct Step {
        const char* text;
        const char* name;
        const char* tip;
        int step;
    };
    const Step steps[] = {
        {"<<<", "liveViewNear3", "Focus nearer, large step (Shift+Page Down)", -3},
        {"<<", "liveViewNear2", "Focus nearer (Page Down)", -2},
        {"<", "liveViewNear1", "Focus nearer, fine step (Ctrl+Page Down)", -1},
        {"AF", "liveViewAutofocus", "Autofocus (F4)", 0},
        {">", "liveViewFar1", "Focus farther, fine step (Ctrl+Page Up)", 1},
        {">>", "liveViewFar2", "Focus farther (Page Up)", 2},
        {">>>", "liveViewFar3", "Focus farther, large step (Shift+Page Up)", 3},
    };
    for (const Step& s : steps) {
        QPushButton* b = addButton(s.text, s.name, s.tip);
        if (s.step == 0) {
            autofocus_ = b;
            b->setAutoRepeat(false);
            connect(b, &QPushButton::clicked, this, [this] {
                if (onAutofocus)
                    onAutofocus();
            });
        } else {
            focusButtons_.push_back(b);
            const int step = s.step;
            connect(b, &QPushButton::clicked, this, [this, step] {
                if (onFocus)
                    onFocus(step);
            });
        }
    }
    row->addWidget(new QLabel("Far", strip_));
    row->addStretch(1);
    magnification_ = new QLabel("Fit", strip_);
    magnification_->setObjectName("liveViewMagnification");
    magnification_->setToolTip("Click the picture to magnify it there: fit, 5x, 10x");
    row->addWidget(magnification_);
}

void LiveViewPanel::ShowFrame(QImage frame, std::chrono::steady_clock::time_point arrived)
{
    const bool sizeChanged = !frame_ || frame_->size() != frame.size();
    frame_ = std::move(frame);
    arrived_ = arrived;
    shownOnce_ = false;
    if (sizeChanged)
        update(QRect(0, 0, width(), height() - kStripHeight));
    else
        update(PictureRect());
}

void LiveViewPanel::Clear()
{
    frame_.reset();
    shownOnce_ = true;
    update();
}

QSize LiveViewPanel::PictureArea() const
{
    return {width(), std::max(height() - kStripHeight, 0)};
}

QRect LiveViewPanel::PictureRect() const
{
    if (!frame_)
        return {};
    // In the widget's own pixels: the frame may carry more device pixels.
    const QSize area = PictureArea();
    const QSize shown = frame_->deviceIndependentSize().toSize();
    return {(area.width() - shown.width()) / 2, (area.height() - shown.height()) / 2, shown.width(), shown.height()};
}

void LiveViewPanel::SetMagnificationText(const QString& text)
{
    magnification_->setText(text);
}

void LiveViewPanel::SetFocusButtons(bool drive, bool autofocus)
{
    for (QPushButton* b : focusButtons_)
        b->setEnabled(drive);
    autofocus_->setEnabled(autofocus);
}

void LiveViewPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QSize area = PictureArea();
    const QRect at = PictureRect();
    if (!frame_) {
        p.fillRect(0, 0, area.width(), area.height(), Qt::black);
        return;
    }
    // Black around the frame, each part once, then the frame.
    p.fillRect(0, 0, area.width(), at.top(), Qt::black);
    p.fillRect(0, at.bottom() + 1, area.width(), area.height() - at.bottom() - 1, Qt::black);
    p.fillRect(0, at.top(), at.left(), at.height(), Qt::black);
    p.fillRect(at.right() + 1, at.top(), area.width() - at.right() - 1, at.height(), Qt::black);
    p.drawImage(at.topLeft(), *frame_);
    if (!shownOnce_) {
        shownOnce_ = true;
        ++painted_;
        // The latest few thousand only: an hour of live view must not grow the list.
        if (delays_.size() >= kKeptDelays)
            delays_.erase(delays_.begin(), delays_.begin() + kKeptDelays / 2);
        delays_.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - arrived_).count());
    }
}

void LiveViewPanel::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) {
        e->ignore();  // the view's mouse actions
        return;
    }
    const QRect at = PictureRect();
    const QPoint pos = e->position().toPoint();
    if (at.contains(pos) && onClick)
        onClick(pos.x() - at.left(), pos.y() - at.top(), at.width(), at.height());
    e->accept();
}

void LiveViewPanel::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    strip_->setGeometry(0, height() - kStripHeight, width(), kStripHeight);
    if (onResized)
        onResized();
}
