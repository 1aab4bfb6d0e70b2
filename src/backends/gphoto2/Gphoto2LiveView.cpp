#include "backends/gphoto2/Gphoto2LiveView.h"

#include "backends/gphoto2/Gphoto2Mapping.h"
#include "platform/DebugTrace.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace cdsdk;

namespace gphoto2 {

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool Mentions(const std::string& text, const char* what)
{
    return Lower(text).find(what) != std::string::npos;
}

// Whether the body offers a configuration value, and of what type.
std::optional<CameraWidgetType> WidgetType(LiveViewHost& host, const char* name, std::vector<std::string>* choices = nullptr)
{
    CameraWidget* w = nullptr;
    if (gp_camera_get_single_config(host.GpCamera(), name, &w, host.GpContext()) < GP_OK || !w)
        return std::nullopt;
    CameraWidgetType type;
    gp_widget_get_type(w, &type);
    if (choices && (type == GP_WIDGET_RADIO || type == GP_WIDGET_MENU)) {
        const int n = gp_widget_count_choices(w);
        for (int i = 0; i < n; ++i) {
            const char* c = nullptr;
            if (gp_widget_get_choice(w, i, &c) == GP_OK && c)
                choices->emplace_back(c);
        }
    }
    gp_widget_free(w);
    return type;
}

}  // namespace

uint32_t LiveViewCapabilitiesFor(const LiveViewWidgets& w)
{
    if (!w.previewCapture || !w.viewfinder)
        return 0;
    uint32_t caps = cdLV_CAP_LIVE_VIEW;
    if (w.manualFocusDrive && (*w.manualFocusDrive == GP_WIDGET_RANGE || *w.manualFocusDrive == GP_WIDGET_RADIO ||
                               *w.manualFocusDrive == GP_WIDGET_MENU)) {
        // Both drivers drive the lens only while live view runs; a range of lens units
        // (Nikon) steps back exactly, a list of step sizes (EOS) is not promised to.
        caps |= cdLV_CAP_FOCUS_DRIVE | cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW;
        if (*w.manualFocusDrive == GP_WIDGET_RANGE)
            caps |= cdLV_CAP_FOCUS_COUNTS_STEPS;
    }
    if (w.autofocusDrive)
        caps |= cdLV_CAP_AUTOFOCUS;
    if (w.eosZoom && w.eosZoomPosition)
        caps |= cdLV_CAP_CAMERA_ZOOM;
    return caps;
}

std::optional<std::string> FocusDriveChoice(const std::vector<std::string>& choices, int step)
{
    if (step == 0 || step < -3 || step > 3)
        return std::nullopt;
    const std::string wanted = std::string(step < 0 ? "near " : "far ") + std::to_string(std::abs(step));
    for (const std::string& c : choices) {
        if (Lower(c) == wanted)
            return c;
    }
    return std::nullopt;
}

float FocusDriveAmount(int step)
{
    static const float kUnits[3] = {20, 100, 500};
    if (step == 0 || step < -3 || step > 3)
        return 0;
    const float units = kUnits[std::abs(step) - 1];
    return step < 0 ? -units : units;
}

cdError LiveViewFailure(LiveViewCall call, int gpResult, const std::string& driverText)
{
    if (ProblemOf(gpResult, false, driverText) == Problem::Disconnected)
        return cdCOMM_ERROR;
    switch (call) {
    case LiveViewCall::Start:
        if (gpResult == GP_ERROR_CAMERA_BUSY)
            return cdDEVICE_BUSY;
        if (gpResult == GP_ERROR_NOT_SUPPORTED)
            return cdNOT_SUPPORTED;
        return Mentions(driverText, "cannot start") ? cdLIVE_VIEW_ENDED : cdERROR;
    case LiveViewCall::Frame:
        // The body says live view cannot run (battery, mode, mirror): it ended. Anything
        // else is one frame that did not come: ask again.
        if (Mentions(driverText, "cannot start") || Mentions(driverText, "does not support liveview") ||
            gpResult == GP_ERROR_NOT_SUPPORTED)
            return cdLIVE_VIEW_ENDED;
        return cdLIVE_VIEW_NO_FRAME;
    case LiveViewCall::Focus:
        if (Mentions(driverText, "at limit"))
            return cdFOCUS_AT_LIMIT;
        return gpResult == GP_ERROR_CAMERA_BUSY ? cdDEVICE_BUSY : cdERROR;
    case LiveViewCall::Autofocus:
        return cdAF_FAILED;
    case LiveViewCall::Zoom:
        return gpResult == GP_ERROR_CAMERA_BUSY ? cdDEVICE_BUSY : cdERROR;
    }
    return cdERROR;
}

// ---------------------------------------------------------------- the calls

int LiveView::Write(LiveViewHost& host, const char* name, const std::string& text, float number)
{
    CameraWidget* w = nullptr;
    int r = gp_camera_get_single_config(host.GpCamera(), name, &w, host.GpContext());
    if (r < GP_OK || !w)
        return r < GP_OK ? r : GP_ERROR_NOT_SUPPORTED;
    CameraWidgetType type;
    gp_widget_get_type(w, &type);
    if (type == GP_WIDGET_RANGE) {
        r = gp_widget_set_value(w, &number);
    } else if (type == GP_WIDGET_TOGGLE) {
        int v = number != 0;
        r = gp_widget_set_value(w, &v);
    } else {
        r = gp_widget_set_value(w, text.c_str());
    }
    if (r >= GP_OK)
        r = gp_camera_set_single_config(host.GpCamera(), name, w, host.GpContext());
    gp_widget_free(w);
    return r;
}

void LiveView::Probe(LiveViewHost& host, bool previewWorks)
{
    LiveViewWidgets w;
    w.previewCapture = previewWorks;
    w.viewfinder = WidgetType(host, "viewfinder").has_value();
    focusChoices_.clear();
    w.manualFocusDrive = WidgetType(host, "manualfocusdrive", &focusChoices_);
    w.autofocusDrive = WidgetType(host, "autofocusdrive").has_value();
    w.eosZoom = WidgetType(host, "eoszoom").has_value();
    w.eosZoomPosition = WidgetType(host, "eoszoomposition").has_value();
    host.TakeDriverText();  // the names a body lacks leave the driver's complaint behind
    focusWidget_ = w.manualFocusDrive;
    capabilities_ = LiveViewCapabilitiesFor(w);
    platform::DebugTrace("Gphoto2LiveView: capabilities " + std::to_string(capabilities_.load()) + "\n");
}

cdError LiveView::Start(LiveViewHost& host)
{
    if (!(Capabilities() & cdLV_CAP_LIVE_VIEW))
        return cdNOT_SUPPORTED;
    return host.RunOnWorker([this, &host]() -> cdError {
        if (running_)
            return cdOK;
        const int r = Write(host, "viewfinder", "1", 1);
        if (r < GP_OK) {
            const std::string text = host.TakeDriverText();
            host.Report("Live view could not start: " + (text.empty() ? std::string(gp_result_as_string(r)) : text));
            const cdError e = LiveViewFailure(LiveViewCall::Start, r, text);
            if (e == cdCOMM_ERROR)
                host.CameraGone(r, text);
            return e;
        }
        running_ = true;
        return cdOK;
    });
}

cdError LiveView::End(LiveViewHost& host)
{
    if (!(Capabilities() & cdLV_CAP_LIVE_VIEW))
        return cdNOT_SUPPORTED;
    return host.RunOnWorker([this, &host]() -> cdError {
        if (!running_)
            return cdOK;
        running_ = false;
        if (Capabilities() & cdLV_CAP_CAMERA_ZOOM)
            Write(host, "eoszoom", "1", 1);
        const int r = Write(host, "viewfinder", "0", 0);
        if (r < GP_OK) {
            const std::string text = host.TakeDriverText();
            platform::DebugTrace("Gphoto2LiveView: ending live view: " + text + "\n");
            // A body that has ended live view by itself may refuse to end it again.
            if (ProblemOf(r, false, text) == Problem::Disconnected) {
                host.CameraGone(r, text);
                return cdCOMM_ERROR;
            }
        }
        return cdOK;
    });
}

cdError LiveView::Frame(LiveViewHost& host, cdStgMedium* medium)
{
    if (!(Capabilities() & cdLV_CAP_LIVE_VIEW))
        return cdNOT_SUPPORTED;
    if (!medium || medium->Type != cdMEMTYPE_STREAM || !medium->pStream)
        return cdINVALID_PARAMETER;
    if (host.PictureQueued())
        return cdDEVICE_BUSY;
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    const cdError e = host.RunFrameOnWorker([this, &host, bytes]() -> cdError {
        if (!running_)
            return cdLIVE_VIEW_ENDED;
        if (host.ShotGathering() || host.PictureQueued())
            return cdDEVICE_BUSY;
        CameraFile* file = nullptr;
        gp_file_new(&file);
        const int r = gp_camera_capture_preview(host.GpCamera(), file, host.GpContext());
        if (r < GP_OK) {
            gp_file_unref(file);
            const std::string text = host.TakeDriverText();
            const cdError failure = LiveViewFailure(LiveViewCall::Frame, r, text);
            platform::DebugTrace("Gphoto2LiveView: frame: " + (text.empty() ? std::string(gp_result_as_string(r)) : text) + "\n");
            if (failure == cdCOMM_ERROR)
                host.CameraGone(r, text);
            if (failure == cdLIVE_VIEW_ENDED)
                running_ = false;
            return failure;
        }
        const char* data = nullptr;
        unsigned long size = 0;
        gp_file_get_data_and_size(file, &data, &size);
        if (data && size)
            bytes->assign(reinterpret_cast<const uint8_t*>(data), reinterpret_cast<const uint8_t*>(data) + size);
        gp_file_unref(file);
        return bytes->empty() ? cdLIVE_VIEW_NO_FRAME : cdOK;
    });
    if (e != cdOK)
        return e;
    // The frame goes through the stream on the caller's thread.
    cdStream& s = *medium->pStream;
    cdError err = 0;
    s.open(s.contextH, cdSTREAM_OPEN_WRITE, &err);
    if (err)
        return cdSTREAM_ERROR;
    uint32_t n = static_cast<uint32_t>(bytes->size());
    s.write(s.contextH, bytes->data(), &n, &err);
    cdError closeErr = 0;
    s.close(s.contextH, &closeErr);
    return err || closeErr ? cdSTREAM_ERROR : cdOK;
}

cdError LiveView::DriveFocus(LiveViewHost& host, int32_t step)
{
    if (!(Capabilities() & cdLV_CAP_FOCUS_DRIVE))
        return cdNOT_SUPPORTED;
    if (step == 0 || step < -3 || step > 3)
        return cdINVALID_PARAMETER;
    if (host.PictureQueued())
        return cdDEVICE_BUSY;
    return host.RunOnWorker([this, &host, step]() -> cdError {
        if (host.ShotGathering())
            return cdDEVICE_BUSY;
        int r;
        if (focusWidget_ == GP_WIDGET_RANGE) {
            r = Write(host, "manualfocusdrive", {}, FocusDriveAmount(step));
        } else {
            const std::optional<std::string> choice = FocusDriveChoice(focusChoices_, step);
            if (!choice)
                return cdNOT_SUPPORTED;
            r = Write(host, "manualfocusdrive", *choice, 0);
        }
        if (r >= GP_OK)
            return cdOK;
        const std::string text = host.TakeDriverText();
        const cdError e = LiveViewFailure(LiveViewCall::Focus, r, text);
        if (e == cdCOMM_ERROR)
            host.CameraGone(r, text);
        return e;
    });
}

cdError LiveView::SetZoom(LiveViewHost& host, uint32_t magnification, int32_t x, int32_t y)
{
    if (!(Capabilities() & cdLV_CAP_CAMERA_ZOOM))
        return cdNOT_SUPPORTED;
    if (magnification != 1 && magnification != 5 && magnification != 10)
        return cdINVALID_PARAMETER;
    return host.RunOnWorker([&host, magnification, x, y]() -> cdError {
        int r = GP_OK;
        if (magnification != 1)
            r = Write(host, "eoszoomposition", std::to_string(std::max(x, 0)) + "," + std::to_string(std::max(y, 0)), 0);
        if (r >= GP_OK)
            r = Write(host, "eoszoom", std::to_string(magnification), static_cast<float>(magnification));
        if (r >= GP_OK)
            return cdOK;
        const std::string text = host.TakeDriverText();
        const cdError e = LiveViewFailure(LiveViewCall::Zoom, r, text);
        if (e == cdCOMM_ERROR)
            host.CameraGone(r, text);
        return e;
    });
}

cdError LiveView::AutoFocus(LiveViewHost& host)
{
    if (!(Capabilities() & cdLV_CAP_AUTOFOCUS))
        return cdNOT_SUPPORTED;
    if (host.PictureQueued())
        return cdDEVICE_BUSY;
    return host.RunOnWorker([&host]() -> cdError {
        if (host.ShotGathering())
            return cdDEVICE_BUSY;
        const int r = Write(host, "autofocusdrive", "1", 1);
        if (r >= GP_OK)
            return cdOK;
        const std::string text = host.TakeDriverText();
        const cdError e = LiveViewFailure(LiveViewCall::Autofocus, r, text);
        if (e == cdCOMM_ERROR)
            host.CameraGone(r, text);
        return e;
    });
}

}  // namespace gphoto2
