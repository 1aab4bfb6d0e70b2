// LiveViewPanel: the live view in the main window's picture area. The latest frame, as the
// controller rendered it, centred on black; under it a strip with the focus buttons (Near in
// three step sizes, AF, Far in three step sizes) and the magnification on show. A left
// click on the picture magnifies there (the controller decides how); the middle and right
// buttons are left to the main view's mouse actions.
//
// UI thread only; nothing blocks. It keeps its own copy of the frame it shows, and counts
// the frames it painted and how long each waited between its arrival and its paint.
#pragma once

#include <QImage>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;

class LiveViewPanel : public QWidget {
    Q_OBJECT
public:
    explicit LiveViewPanel(QWidget* parent);

    // Shows a frame that arrived from the body at `arrived`; it is painted once, soon.
    void ShowFrame(QImage frame, std::chrono::steady_clock::time_point arrived);
    void Clear();
    const std::optional<QImage>& Frame() const { return frame_; }

    // The area frames are rendered for (the panel without its strip), and where the frame on
    // show sits in the panel.
    QSize PictureArea() const;
    QRect PictureRect() const;

    // The strip: the magnification's text ("Fit", "5x", "10x") and which buttons work.
    void SetMagnificationText(const QString& text);
    void SetFocusButtons(bool drive, bool autofocus);

    // Hooks set by the controller.
    std::function<void(int x, int y, int shownWidth, int shownHeight)> onClick;  // on the picture
    std::function<void(int step)> onFocus;
    std::function<void()> onAutofocus;
    std::function<void()> onResized;

    // Frames painted, and for the latest of them (up to kKeptDelays) the milliseconds from
    // its arrival to its paint.
    uint64_t FramesPainted() const { return painted_; }
    static constexpr size_t kKeptDelays = 8192;
    const std::vector<double>& PaintDelays() const { return delays_; }
    void ClearPaintDelays() { delays_.clear(); }

    static constexpr int kStripHeight = 34;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    std::optional<QImage> frame_;
    std::chrono::steady_clock::time_point arrived_;
    bool shownOnce_ = true;  // the frame on show has been painted
    uint64_t painted_ = 0;
    std::vector<double> delays_;
    QWidget* strip_ = nullptr;
    QLabel* magnification_ = nullptr;
    std::vector<QPushButton*> focusButtons_;
    QPushButton* autofocus_ = nullptr;
};
