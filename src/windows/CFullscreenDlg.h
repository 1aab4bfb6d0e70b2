// CFullscreenDlg: the current picture alone on a black screen, as large as the screen the
// main window is on, with the most frequent review and shooting commands on the keyboard.
// It never decodes a picture itself: it asks the main view's MakeDisplayBitmap for a
// bitmap fitted to its own size (grid, focus points and black-and-white as they are on in
// the main window, no flashing highlights) and centres it on black. The caption line (the
// view's HistoryCaption) is drawn at the top-left corner when it is switched on.
//
// Keys: F11 and Escape close; F8 Release, F9 Preview; Ctrl+W black-and-white, Ctrl+F
// focus points, Ctrl+G grid (the main window's own settings, so they stay after leaving);
// Left and Right step through the pictures of this run (held down, they keep stepping as
// fast as pictures can be shown; repeats that piled up while a picture was being shown are
// dropped, so stepping stops when the key is let go);
// Ctrl+C the caption; Delete deletes the picture on show. Live view: F6 starts and ends it
// here too, a click magnifies where it lands, Page Down and Page Up drive the focus nearer
// and farther (Shift a large step, Ctrl a fine one), F4 autofocuses. No other key does
// anything, and only Left, Right and the focus keys repeat while held.
//
// While live view runs the window shows its frames as the live view renders them for the
// window's size (ShowLiveImage) instead of the picture; ShowStill goes back to the picture.
//
// The main view opens it application-modal (OpenFullScreen) and hands it the notifications
// it needs through Notify: a new picture to show, and download progress for its bar.
// UI thread only. Rendering runs a fitted decode (tens of milliseconds); nothing else
// blocks, except the question box of Delete.
#pragma once

#include "imaging/Bitmap.h"

#include <QDialog>
#include <QImage>

#include <optional>

class ViewSurface;
class QProgressBar;
struct Notification;

class CFullscreenDlg : public QDialog {
    Q_OBJECT
public:
    // `showCaption`: the view's persisted `FullscreenCaption`, copied in.
    CFullscreenDlg(ViewSurface* view, bool showCaption);

    // Covers the screen of the main window and shows the window (application-modal).
    void Start();

    // A notification handed on by the view: WM_DISPLAY_JPEG renders the view's current
    // picture; WM_DOWNLOAD_PROGRESS shows (1..100), sets and hides (0) the progress bar.
    void Notify(const Notification& n);

    // Replaces the image with a fresh render for the client area (its device pixels, in the
    // colours of the window's monitor) and repaints once (not while live view frames are on show).
    void Render();

    // Live view: shows a frame (fitted to this window's size); ShowStill shows the picture
    // on show again.
    void ShowLiveImage(const QImage& frame);
    void ShowStill();
    bool ShowingLive() const { return live_; }
    const QImage& LiveImage() const { return liveImage_; }

    bool ShowCaption() const { return showCaption_; }
    const std::optional<Bitmap>& Image() const { return image_; }
    QProgressBar* Progress() const { return progress_; }
    // The text of the caption line.
    QString CaptionText() const;

    // The place of a w x h picture in a W x H client area (device pixels): centred where it
    // is smaller, at 0 where it is not.
    static QPoint PicturePosition(int clientWidth, int clientHeight, int w, int h);

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    QSize DeviceSize() const;
    std::optional<Bitmap> RenderImage();

    ViewSurface* view_;
    std::optional<Bitmap> image_;
    bool showCaption_;
    bool renderRequested_ = false;
    bool live_ = false;
    QImage liveImage_;
    std::optional<quint64> stepBusyUntil_;  // key time at which the last arrow step ended
    QProgressBar* progress_;
};
