// ViewSurface: what the auxiliary windows (full screen, the 1:1 preview, the time-lapse
// dialog) and live view ask of the main view: fire the shutter, run one of its commands,
// render the picture on show, the overlays now on, the open camera for live view, and hand
// them the camera notifications while they are open. The windows depend on this surface
// only, never on the main view's class; the main view implements it and wires the windows
// up in one place.
//
// UI thread only. TakePicture and TakePreviewPicture return at once (the shot runs on the
// camera's threads); RenderPicture decodes (tens of milliseconds for a camera picture).
#pragma once

#include "camera/CameraLibrary.h"
#include "display/DisplayPipeline.h"
#include "imaging/ImageHistogram.h"

#include <QString>

#include <functional>
#include <string>

class QWidget;
struct Notification;

class ViewSurface {
public:
    // The main view's widget: parent and owner of the auxiliary windows; its window() is
    // the main window they float above and give the activation back to.
    virtual QWidget* ViewWidget() = 0;

    // The two shooting commands; true when a release was started.
    virtual bool TakePicture() = 0;
    virtual bool TakePreviewPicture() = 0;
    // The message of the last refusal of TakePicture (empty when none).
    virtual const QString& LastRefusal() const = 0;
    // One of the main view's commands (ids in mainview/ControlIds.h).
    virtual void OnCommand(int id) = 0;
    // True while a camera is connected.
    virtual bool Connected() const = 0;
    // True when pictures are saved on the PC only (none is kept on the camera's card).
    virtual bool SavesOnPcOnly() const = 0;

    // The caption of the picture on show: its place in this run's history and its name.
    virtual std::string PictureCaption() const = 0;
    // The picture on show rendered for a box of boxWidth x boxHeight with the overlays and
    // modes now on; decode errors are shown over `owner`.
    virtual display::DisplayResult MakeDisplayBitmap(QWidget* owner, int boxWidth, int boxHeight,
                                                     ImageHistogram& histogram, bool wantHighlight) = 0;

    // The window that owns the message boxes of shooting (the view itself when none).
    virtual void SetCurrentDisplayWindow(QWidget* w) = 0;
    // While set, the camera notifications are handed to the time-lapse dialog too, posted
    // once the view has handled them.
    virtual void SetTimeLapseForward(std::function<void(const Notification&)> forward) = 0;

    // Live view. The open camera: its library, source and model name; false when none is
    // connected.
    virtual bool LiveViewCamera(cdsdk::CameraLibrary** library, cdsdk::cdHSource* source, std::string* model) = 0;
    // Fires the shutter for the shot TakePicture or TakePreviewPicture prepared while live
    // view ran (live view had the body give up its frames first).
    virtual void FireShutter() = 0;
    // The overlays and modes now on: grid, focus points, black-and-white.
    virtual display::DisplaySettings CurrentDisplaySettings() const = 0;
    // The histogram display shows `histogram` (null: the picture on show's again).
    virtual void ShowLiveHistogram(const ImageHistogram* histogram) = 0;
    // Status bar: pane 0 the program's messages, pane 1 the live view's frame rate.
    virtual void SetStatusText(int pane, const QString& text) = 0;
    // A click at (x, y) of the live picture that full screen shows shownWidth x shownHeight.
    virtual void LiveViewClick(int x, int y, int shownWidth, int shownHeight) = 0;

protected:
    ~ViewSurface() = default;
};
