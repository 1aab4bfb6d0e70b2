// ViewSurface: what the auxiliary windows (full screen, the 1:1 preview, the time-lapse and
// sequence dialog) and live view ask of the main view: fire the shutter, run one of its
// commands, render the picture on show, the overlays now on, the open camera for live view,
// hand them the camera notifications while they are open, and for brackets and focus stacks
// step the exposure through the settings panel, tag the Comment and reach the camera for its
// focus drive. The windows depend on this surface only, never on the main view's class; the
// main view implements it and wires the windows up in one place.
//
// UI thread only. TakePicture and TakePreviewPicture return at once (the shot runs on the
// camera's threads); RenderPicture decodes (tens of milliseconds for a camera picture);
// ReadExposure and WriteExposure wait for the camera's answers, as the settings panel does.
#pragma once

#include "camera/CameraLibrary.h"
#include "display/DisplayPipeline.h"
#include "imaging/ImageHistogram.h"
#include "sequences/ExposureBracket.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QWidget;
struct Notification;
struct Settings;

// The answer of a shot fired for a sequence (time-lapse; brackets and stacks).
struct ShotAttempt {
    bool started = false;
    QString refusal;           // why not, when refused
    bool needsPerson = false;  // retrying will not help (bulb, no camera): someone must act
};

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
    // TakePicture for a sequence that runs unattended: a refusal is never shown in a box
    // (no reconnect question, no bulb message), it is told back for the sequence to act on.
    virtual ShotAttempt TakeSequencedPicture() = 0;
    // One of the main view's commands (ids in mainview/ControlIds.h).
    virtual void OnCommand(int id) = 0;
    // True while a camera is connected.
    virtual bool Connected() const = 0;
    // True when pictures are saved on the PC only (none is kept on the camera's card).
    virtual bool SavesOnPcOnly() const = 0;

    // The caption of the picture on show: its place in this run's history and its name.
    virtual std::string PictureCaption() const = 0;
    // The picture on show rendered for a box of boxWidth x boxHeight device pixels with the
    // overlays and modes now on, in the colours of the monitor `owner` is on; decode
    // errors are shown over `owner`.
    virtual display::DisplayResult MakeDisplayBitmap(QWidget* owner, int boxWidth, int boxHeight,
                                                     ImageHistogram& histogram, bool wantHighlight) = 0;

    // The window that owns the message boxes of shooting (the view itself when none).
    virtual void SetCurrentDisplayWindow(QWidget* w) = 0;
    // While set, the camera notifications are handed to the time-lapse dialog too, posted
    // once the view has handled them.
    virtual void SetTimeLapseForward(std::function<void(const Notification&)> forward) = 0;

    // The user's preferences (the sequence dialog keeps its choices there).
    virtual Settings& Prefs() = 0;
    // What the camera says about its exposure (mode, Tv, exposure compensation) and the
    // panel's lists of values for this body; empty while not connected.
    virtual sequences::ExposureSituation ReadExposure() = 0;
    // Writes one exposure setting as the settings panel does; the panel then shows what the
    // camera took. The code read back, none when not connected or unreadable.
    virtual std::optional<uint16_t> WriteExposure(sequences::ExposureSetting which, uint16_t code) = 0;
    // The camera went away before a sequence could put this setting back: it is put back
    // when the same model connects again in this run.
    virtual void PutBackAtNextConnection(sequences::ExposureSetting which, uint16_t code) = 0;
    // The piece the Comment of the next saved pictures carries after the user's own comment
    // (empty: none).
    virtual void SetSequenceComment(const std::string& piece) = 0;
    // The camera library, and the open source of the connected camera (0 when none), for the
    // calls a sequence makes off the UI thread (the focus drive).
    virtual cdsdk::CameraLibrary& Library() = 0;
    virtual cdsdk::cdHSource Source() const = 0;
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
