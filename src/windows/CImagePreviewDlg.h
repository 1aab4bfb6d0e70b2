// CImagePreviewDlg: the current picture at one image pixel per device pixel of the screen
// (on a high-density screen too), in a separate, resizable window with scroll bars,
// floating above the main window while that is active. It decodes the picture's JPEG data
// at full size (DecodeFullSize, turned by the view's rotation) and keeps the whole
// picture, so scrolling, dragging and the wheel only copy pixels. The picture is shown in
// the colours of the monitor the window is on (display::ColourManagement); each part is
// turned into them the first time it comes into view, so a new picture costs the decode
// and the transform of what the window shows. No overlays are drawn.
//
// The main view creates it hidden and keeps it for its own lifetime. F7 in the main window
// calls Show; F7 here (or the close box) closes it; F8 and F9 here shoot through the view.
// While it is not shown, SetPicture does nothing, so a closed preview costs nothing; the
// same picture handed in again (the main window re-rendered it for a new size or overlay)
// is not decoded again, F7 always decodes.
// Scrolling: line 10 pixels, page four fifths of the client extent, wheel 60 pixels per
// whole notch; a picture smaller than the window is centred. The first picture opens
// centred; a later picture of another size keeps the point at the window's centre.
// A picture that cannot be decoded leaves the window empty with the error in its caption;
// no picture at all (the last one deleted) leaves it empty, captioned "Image Preview",
// with nothing to scroll.
//
// UI thread only. Show and SetPicture block for one full-size decode (tens of milliseconds
// for a camera picture); nothing else blocks.
#pragma once

#include "imaging/Bitmap.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QPoint>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace colour {
class DisplayTransform;
}

class ViewSurface;

class CImagePreviewDlg : public QAbstractScrollArea {
    Q_OBJECT
public:
    // `view`: the owner, which gets the shooting commands and the activation back on close.
    explicit CImagePreviewDlg(ViewSurface* view);
    ~CImagePreviewDlg() override;

    // F7 in the main window: marks the window shown, decodes the picture and shows the
    // window above the main window, where it was last.
    void Show(const uint8_t* data, size_t size, int rotation);
    // A new picture installed by the view (also empty: no picture). Ignored unless shown.
    // `data` must stay alive until the next call (the view's current bytes).
    void SetPicture(const uint8_t* data, size_t size, int rotation);

    // The monitor's colours changed (or the window went to another screen): the picture is
    // decoded and shown again.
    void ColoursChanged();

    // The main frame was minimised (hide, keep the shown state) or restored (show again
    // if shown).
    void FrameMinimised();
    void FrameRestored();
    // The main window became active (float above it) or lost the activation to another
    // window than this one (leave the top band and go behind it).
    void MainWindowActivation(bool active);
    // A message box of the program opens (leave the stays-on-top band, so the box is never
    // under this window) or has been answered (back into the band if the window floated
    // before). Boxes may nest; the band comes back with the last one.
    void BoxOpening();
    void BoxClosed();

    bool IsShown() const { return shown_; }
    bool Topmost() const { return topmost_; }
    // The decoded picture; the parts that have been in view are in the monitor's colours.
    const std::optional<Bitmap>& Picture() const { return bitmap_; }
    // True when every part of the picture has been turned into the monitor's colours (or
    // none needs to be).
    bool AllInMonitorColours() const;
    QPoint ScrollPosition() const;
    // The size of the area the picture is painted in (the window less its scroll bars).
    QSize ClientSize() const;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void UpdateScrollBars(bool keepCentre, int oldWidth, int oldHeight);
    void ClearScrollRanges();
    // The picture's size in the window's own (logical) pixels.
    QSize Extent() const;
    // Where the picture's top-left corner lies, in device pixels of the viewport.
    QPoint PictureOrigin() const;
    // Turns the tiles of the picture inside `area` (picture pixels) into monitor colours.
    void PrepareTiles(const QRect& area);
    void SetTopmost(bool on);
    void OnScrollAction(class QScrollBar* bar, int action);

    ViewSurface* view_;
    bool shown_ = false;
    const uint8_t* data_ = nullptr;  // the view's current bytes, not owned
    size_t size_ = 0;
    int rotation_ = 0;
    std::optional<Bitmap> bitmap_;
    std::shared_ptr<const colour::DisplayTransform> toMonitor_;  // null: shown as decoded
    std::vector<bool> tileDone_;  // per tile of kTile x kTile pixels, rows first
    int tilesAcross_ = 0;
    bool screenFollowed_ = false;
    int rangeWidth_ = 0;  // the scroll ranges: the size of the last picture shown
    int rangeHeight_ = 0;
    bool scrollInitialised_ = false;
    bool filterInstalled_ = false;
    bool dragging_ = false;
    QCursor savedCursor_;
    QPoint lastPoint_;
    bool topmost_ = false;
    int boxesOpen_ = 0;
    bool topmostBeforeBoxes_ = false;
    // What the bitmap was decoded from, to know the same picture when it comes again.
    struct Source {
        size_t hash;
        size_t size;
        int rotation;
        bool operator==(const Source&) const = default;
    };
    std::optional<Source> decoded_;
};
