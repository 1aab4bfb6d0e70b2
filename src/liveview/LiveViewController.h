// LiveViewController: live view in the main window (View > Live View, F6). It runs the
// pacing loop (LiveViewLoop) for the open camera, takes each frame when the window is ready
// for it and sends it down the one road every live frame takes to the screen: render
// (LiveFrameRenderer: fit or magnify, grey, peaking, the live histogram), then the grid and
// the focus points as for pictures, then the panel in the picture area, or full screen while
// that is open. It carries out the window's focus commands (Near and Far in three step
// sizes, AF), magnifies where the picture is clicked (the body's own magnification where it
// has one, else the frame enlarged), shows the body's frame rate in the status bar, and
// routes a release through the loop: the body gives up its frames, the shutter fires, the
// picture is shown for the review time and live view comes back (a review time of 0 keeps
// live view running). Nothing of the picture's road changes.
//
// Live view ends when the camera goes away, on Disconnect, on the body's say-so, and
// before anything that needs the body alone; the window never waits for a frame. A loop
// asked to stop finishes in the background and is let go when it reports that it stopped.
//
// UI thread only. Nothing blocks, except the destructor (which waits for a loop still
// finishing: at most one frame call once the source is closed).
#pragma once

#include "camera/CameraLibrary.h"
#include "camera/Notifications.h"
#include "liveview/LiveFrameRenderer.h"
#include "liveview/LiveViewLoop.h"
#include "liveview/Magnifier.h"

#include <QBasicTimer>
#include <QObject>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class LiveViewPanel;
class ViewSurface;

class LiveViewController : public QObject {
    Q_OBJECT
public:
    // `panelParent`: the widget the live-view panel lives in (the main view); `sink`: where
    // the loop posts its notifications (handed back through Notify).
    LiveViewController(ViewSurface& view, QWidget* panelParent, NotificationSink& sink);
    ~LiveViewController() override;

    // The preferences live view uses.
    struct Options {
        bool peaking = false;
        uint32_t peakingColour = 0x000000FF;  // 0x00BBGGRR
        int reviewSeconds = 2;                // 0: live view keeps running through a shot
    };
    void SetOptions(const Options& options);
    const Options& CurrentOptions() const { return options_; }

    // F6: starts live view on the open camera, or ends it.
    void Toggle();
    bool Start();
    // Ends live view; `why` goes to the status bar.
    void Stop(const QString& why = {});
    // On (starting, streaming or showing a picture for review).
    bool Active() const { return loop_ != nullptr; }
    // The body can do these now.
    bool CanDriveFocus() const;
    bool CanAutofocus() const;

    // Focus: a step of -3 .. 3 (nearer or farther, fine to coarse), autofocus.
    void DriveFocus(int step);
    void Autofocus();
    // A click at (x, y) on the picture on show, shownWidth x shownHeight: the next
    // magnification there.
    void Click(int x, int y, int shownWidth, int shownHeight);
    int Magnification() const { return magnifier_.Level(); }

    // The picture area of the main window (the panel's place), the view's coordinates.
    void SetArea(const QRect& area);

    // Shooting. RouteRelease: live view runs, so the shot the view has prepared fires
    // through the loop (the view's FireShutter is called when the body is free); false when
    // live view is off and the view fires it itself.
    bool RouteRelease();
    // The view has a new picture on show (a shot of ours or of the body's button): it is
    // shown for the review time, then live view comes back.
    void PictureShown();
    // The shot the view was waiting for has ended (saved, refused or failed).
    void ShootingFinished();

    // Full screen: while set, frames are rendered for its size and handed to `show` instead
    // of the panel; `still` asks full screen to show the picture again (live view ended or a
    // picture is on review).
    void SetFullScreen(std::function<void(const QImage&)> show, std::function<void()> still,
                       std::function<QSize()> size);
    void ClearFullScreen();

    // Called whenever live view starts or ends (the view's menu check marks).
    std::function<void()> onStateChanged;

    // The camera is about to go (disconnect, shutdown, program end): stops without waiting.
    void CameraClosing();
    // From now on the controller leaves the view alone (the window is being taken down);
    // destroying it waits for a loop still finishing (close the source first).
    void Quiet() { quiet_ = true; }

    // WM_LIVE_VIEW_FRAME and WM_LIVE_VIEW_EVENT, handed on by the view.
    void Notify(const Notification& n);

    // For tests and benchmarks.
    LiveViewPanel* Panel() const { return panel_; }
    std::optional<liveview::LoopStats> Stats() const;
    uint64_t FramesRendered() const { return rendered_; }
    uint64_t BrokenFrames() const { return broken_; }
    size_t LastPeakingMarks() const { return lastPeakingMarks_; }
    bool Reviewing() const { return reviewing_; }

protected:
    void timerEvent(QTimerEvent* e) override;

private:
    void OnFrame();
    void OnEvent(liveview::LoopEvent event, int64_t code);
    void RenderAndShow(const liveview::LiveFrame& frame);
    void EndReview();
    void ShowPanel(bool shown);
    void UpdateStrip();
    void UpdateRate();
    void Ended(const QString& status);

    ViewSurface& view_;
    NotificationSink& sink_;
    LiveViewPanel* panel_ = nullptr;
    Options options_;
    QRect area_;

    std::unique_ptr<liveview::LiveViewLoop> loop_;      // the running loop
    std::unique_ptr<liveview::LiveViewLoop> stopping_;  // a loop finishing in the background
    bool restartWhenStopped_ = false;
    cdsdk::CameraLibrary* library_ = nullptr;
    cdsdk::cdHSource source_ = 0;
    std::string model_;
    uint32_t capabilities_ = 0;
    uint16_t afPointSetting_ = 1;

    liveview::LiveFrameRenderer renderer_;
    liveview::Magnifier magnifier_;
    bool frameSizeKnown_ = false;

    bool releasePending_ = false;   // a release waits for the loop to hand over the body
    bool waitingForShot_ = false;   // a release went through the loop; its picture is due
    bool reviewing_ = false;
    QBasicTimer reviewTimer_;
    QBasicTimer rateTimer_;
    QBasicTimer graceTimer_;        // a shot ended without a picture: live view comes back

    std::function<void(const QImage&)> fullScreenShow_;
    std::function<void()> fullScreenStill_;
    std::function<QSize()> fullScreenSize_;

    uint64_t rendered_ = 0;
    uint64_t broken_ = 0;
    size_t lastPeakingMarks_ = 0;
    int histogramSkip_ = 0;
    bool stalled_ = false;
    bool quiet_ = false;
};
