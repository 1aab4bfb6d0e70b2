#include "backends/gphoto2/Gphoto2Camera.h"

#include "backends/gphoto2/Gphoto2LiveView.h"
#include "backends/gphoto2/Gphoto2Mapping.h"
#include "camera/ImageItems.h"
#include "platform/DebugTrace.h"

#include <gphoto2/gphoto2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <optional>
#include <thread>

using namespace cdsdk;
using Clock = std::chrono::steady_clock;

namespace gphoto2 {

namespace {

// libgphoto2's driver and port lists, loaded once and shared. Loading drivers, detecting
// cameras, opening and closing cameras happen under this lock only.
std::mutex& DriverMutex()
{
    static std::mutex m;
    return m;
}

struct DriverLists {
    CameraAbilitiesList* abilities = nullptr;
    GPPortInfoList* ports = nullptr;
};

// Caller holds DriverMutex(). The port list is loaded anew each time (ports come and go).
DriverLists& Drivers(GPContext* ctx)
{
    static DriverLists lists;
    if (!lists.abilities) {
        gp_abilities_list_new(&lists.abilities);
        gp_abilities_list_load(lists.abilities, ctx);
    }
    if (lists.ports)
        gp_port_info_list_free(lists.ports);
    gp_port_info_list_new(&lists.ports);
    gp_port_info_list_load(lists.ports);
    return lists;
}

std::string ResultText(int result) { return gp_result_as_string(result); }

// The lower-case names a setting goes by in libgphoto2's drivers, preferred first.
const std::vector<std::string> kTvNames = {"shutterspeed", "shutterspeed2", "eosshutterspeed", "exptime"};
const std::vector<std::string> kAvNames = {"aperture", "f-number", "fnumber"};
const std::vector<std::string> kIsoNames = {"iso", "isospeed", "eosiso"};
const std::vector<std::string> kEvNames = {"exposurecompensation", "exposurecompensation2", "exposurebiascompensation"};
const std::vector<std::string> kFormatNames = {"imageformat", "imagequality", "imageformatsd", "imageformatcf"};
const std::vector<std::string> kSizeNames = {"imagesize"};
const std::vector<std::string> kWbNames = {"whitebalance"};
const std::vector<std::string> kColourTempNames = {"colortemperature", "whitebalancecolortemperature", "wbcolortemp"};
const std::vector<std::string> kMeteringNames = {"meteringmode", "exposuremetermode"};
const std::vector<std::string> kDriveNames = {"drivemode", "stillcapturemode", "capturemode"};
const std::vector<std::string> kAfNames = {"focusmode", "autofocusmode"};
const std::vector<std::string> kModeNames = {"autoexposuremode", "expprogram", "shootingmode", "exposureprogram"};
const std::vector<std::string> kTargetNames = {"capturetarget"};

// One configuration value as the cache keeps it.
struct CachedWidget {
    CameraWidgetType type = GP_WIDGET_TEXT;
    std::string value;  // text, choice or formatted number
    float number = 0;   // ranges and toggles
    float min = 0, max = 0, step = 0;
    bool readOnly = false;
    std::vector<std::string> choices;
};

CachedWidget ReadWidget(CameraWidget* w)
{
    CachedWidget c;
    gp_widget_get_type(w, &c.type);
    int ro = 0;
    gp_widget_get_readonly(w, &ro);
    c.readOnly = ro != 0;
    switch (c.type) {
    case GP_WIDGET_TEXT:
    case GP_WIDGET_RADIO:
    case GP_WIDGET_MENU: {
        const char* v = nullptr;
        if (gp_widget_get_value(w, &v) == GP_OK && v)
            c.value = v;
        const int n = c.type == GP_WIDGET_TEXT ? 0 : gp_widget_count_choices(w);
        for (int i = 0; i < n; ++i) {
            const char* choice = nullptr;
            if (gp_widget_get_choice(w, i, &choice) == GP_OK && choice)
                c.choices.emplace_back(choice);
        }
        break;
    }
    case GP_WIDGET_RANGE: {
        gp_widget_get_value(w, &c.number);
        gp_widget_get_range(w, &c.min, &c.max, &c.step);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", static_cast<double>(c.number));
        c.value = buf;
        break;
    }
    case GP_WIDGET_TOGGLE: {
        int v = 0;
        gp_widget_get_value(w, &v);
        c.number = static_cast<float>(v);
        c.value = v ? "1" : "0";
        break;
    }
    default: break;
    }
    return c;
}

void CollectWidgets(CameraWidget* w, std::map<std::string, CachedWidget>& out)
{
    CameraWidgetType type;
    gp_widget_get_type(w, &type);
    if (type == GP_WIDGET_WINDOW || type == GP_WIDGET_SECTION) {
        const int n = gp_widget_count_children(w);
        for (int i = 0; i < n; ++i) {
            CameraWidget* child = nullptr;
            if (gp_widget_get_child(w, i, &child) == GP_OK && child)
                CollectWidgets(child, out);
        }
        return;
    }
    const char* name = nullptr;
    if (gp_widget_get_name(w, &name) == GP_OK && name && *name)
        out[name] = ReadWidget(w);
}

// Time without a new file that ends a shot once the camera has reported it complete.
constexpr long kCompleteQuietMs = 60;
// How long after announcing items the worker keeps to its queue, expecting the downloads
// (the release thread pauses 100 ms after it wakes before it asks).
constexpr long kExpectDownloadsMs = 1000;

// The PTP "store full" event, as libgphoto2 passes unknown events on.
bool IsStoreFullEvent(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.rfind("ptp event 400a", 0) == 0;
}

// One file the camera reported, waiting to be downloaded.
struct PendingItem {
    std::string folder, name;
    CameraFileType fileType = GP_FILE_TYPE_NORMAL;
    uint32_t dataType = 0;
    uint8_t format = 0;
    uint32_t sequence = 0;
};

}  // namespace

// Where the sessions send their messages; cleared when the library goes, so that a worker
// finishing late reaches nothing.
struct ReportSink {
    std::mutex mutex;
    std::function<void(const std::string&)> fn;
    void Send(const std::string& message)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (fn)
            fn(message);
    }
};

namespace {

struct Job {
    std::function<cdError()> work;
    std::shared_ptr<std::promise<cdError>> done;
};

// What one download shares between the worker and the caller of CDGetReleasedData.
struct Download {
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;
    bool abandoned = false;  // the caller has gone: the worker frees the file
    int result = GP_OK;
    CameraFile* file = nullptr;
    float target = 0;
    float current = 0;
};

}  // namespace

// ---------------------------------------------------------------- the session

struct Gphoto2Camera::Session : std::enable_shared_from_this<Gphoto2Camera::Session>, LiveViewHost {
    cdHSource handle = 0;
    std::string model, port;
    Gphoto2Options options;
    std::shared_ptr<ReportSink> report;
    std::shared_ptr<std::atomic<double>> transferSeconds;

    // Worker and its queue.
    std::thread worker;
    std::thread::id workerId;  // set before the session is shared, never changed
    std::mutex mutex;  // guards everything below up to the cache
    std::condition_variable cv;
    std::deque<Job> jobs;
    bool closing = false;
    bool finished = false;
    std::deque<PendingItem> items;
    uint16_t kind = cdREL_KIND_PICT_TO_PC;
    bool releaseControl = false;
    cdEventCallbackFunction eventFn = nullptr;
    cdContext eventCtx = nullptr;
    cdReleaseEventCallbackFunction releaseFn = nullptr;
    cdContext releaseCtx = nullptr;
    std::shared_ptr<Download> download;  // the download in progress, if any
    std::optional<Job> frameJob;  // a live-view frame: taken only when no other job waits
    Clock::time_point expectDownloadsUntil;  // announced items are expected to be asked for

    std::mutex dispatch;  // held while a callback runs
    std::atomic<bool> cancel{false};
    std::atomic<bool> connected{true};

    LiveView liveView;  // Gphoto2LiveView.cpp

    // Settings cache, read by any thread.
    mutable std::mutex cacheMutex;
    std::map<std::string, CachedWidget> cache;

    // Worker only.
    Camera* cam = nullptr;
    GPContext* ctx = nullptr;
    bool canTrigger = false;
    bool canCapture = false;
    uint32_t sequence = 0;
    int ioFailures = 0;
    struct Shot {
        bool open = false;
        bool complete = false;
        bool fromRelease = false;
        // The kind selected when CDRelease was called: it belongs to the shot, whatever is
        // selected while the shot runs. None for the body's own shutter button.
        std::optional<uint16_t> kind;
        std::vector<std::pair<std::string, std::string>> files;  // folder, name
        Clock::time_point started, lastFile;
    } shot;

    // ------------------------------------------------------------ helpers (any thread)

    void Report(const std::string& message) override
    {
        platform::DebugTrace("Gphoto2Camera: " + message + "\n");
        if (report)
            report->Send(message);
    }

    std::optional<CachedWidget> Cached(const std::vector<std::string>& names, std::string* nameOut = nullptr) const
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        for (const std::string& n : names) {
            auto it = cache.find(n);
            if (it != cache.end()) {
                if (nameOut)
                    *nameOut = n;
                return it->second;
            }
        }
        return std::nullopt;
    }

    // Posts work to the worker and waits for its result; cdCOMM_ERROR when the source
    // closes first.
    // A live-view frame waits until no other job does; a second frame waiting answers busy.
    cdError Call(std::function<cdError()> work, bool frame = false)
    {
        auto done = std::make_shared<std::promise<cdError>>();
        std::future<cdError> result = done->get_future();
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (closing || !connected)
                return cdCOMM_ERROR;
            if (frame && frameJob)
                return cdDEVICE_BUSY;
            if (frame)
                frameJob = Job{std::move(work), done};
            else
                jobs.push_back({std::move(work), done});
        }
        cv.notify_all();
        while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
            std::lock_guard<std::mutex> lock(mutex);
            if (closing)
                return cdCOMM_ERROR;
        }
        return result.get();
    }

    // Queues work without waiting for it.
    bool Post(std::function<cdError()> work)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (closing || !connected)
                return false;
            jobs.push_back({std::move(work), nullptr});
        }
        cv.notify_all();
        return true;
    }

    void DeliverRelease(uint32_t event, std::optional<uint32_t> value)
    {
        std::lock_guard<std::mutex> d(dispatch);
        cdReleaseEventCallbackFunction fn;
        cdContext c;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (closing)
                return;
            fn = releaseFn;
            c = releaseCtx;
        }
        uint8_t data[4];
        if (value)
            std::memcpy(data, &*value, 4);
        if (fn)
            fn(event, value ? data : nullptr, value ? 4 : 0, c);
    }

    void DeliverCameraEvent(uint32_t code)
    {
        std::lock_guard<std::mutex> d(dispatch);
        cdEventCallbackFunction fn;
        cdContext c;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (closing)
                return;
            fn = eventFn;
            c = eventCtx;
        }
        if (fn)
            fn(code, nullptr, 0, c);
    }

    // ------------------------------------------------------------ libgphoto2 callbacks

    static GPContextFeedback CancelFunc(GPContext*, void* data)
    {
        auto* self = static_cast<Session*>(data);
        return self->cancel ? GP_CONTEXT_FEEDBACK_CANCEL : GP_CONTEXT_FEEDBACK_OK;
    }

    static unsigned int ProgressStart(GPContext*, float target, const char*, void* data)
    {
        auto* self = static_cast<Session*>(data);
        if (auto d = self->CurrentDownload()) {
            std::lock_guard<std::mutex> lock(d->mutex);
            d->target = target;
            d->current = 0;
        }
        return 1;
    }

    static void ProgressUpdate(GPContext*, unsigned int, float current, void* data)
    {
        auto* self = static_cast<Session*>(data);
        if (auto d = self->CurrentDownload()) {
            {
                std::lock_guard<std::mutex> lock(d->mutex);
                d->current = current;
            }
            d->cv.notify_all();
        }
    }

    static void ProgressStop(GPContext*, unsigned int, void*) {}

    static void ErrorFunc(GPContext*, const char* text, void* data)
    {
        auto* self = static_cast<Session*>(data);
        if (text)
            platform::DebugTrace(std::string("Gphoto2Camera: libgphoto2 error: ") + text + "\n");
        std::lock_guard<std::mutex> lock(self->mutex);
        self->lastDriverText = text ? text : "";
    }

    std::string lastDriverText;  // guarded by mutex

    std::string TakeDriverText() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::string t = std::move(lastDriverText);
        lastDriverText.clear();
        return t;
    }

    std::shared_ptr<Download> CurrentDownload()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return download;
    }

    // ------------------------------------------------------------ LiveViewHost

    cdError RunOnWorker(std::function<cdError()> work) override { return Call(std::move(work)); }
    cdError RunFrameOnWorker(std::function<cdError()> work) override { return Call(std::move(work), true); }
    bool PictureQueued() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        return !items.empty() || download;
    }
    Camera* GpCamera() override { return cam; }
    GPContext* GpContext() override { return ctx; }
    bool ShotGathering() override { return shot.open; }
    void CameraGone(int, const std::string&) override { LoseConnection(); }

    // ------------------------------------------------------------ worker

    cdError Open()
    {
        ctx = gp_context_new();
        gp_context_set_cancel_func(ctx, &Session::CancelFunc, this);
        gp_context_set_progress_funcs(ctx, &Session::ProgressStart, &Session::ProgressUpdate, &Session::ProgressStop,
                                      this);
        gp_context_set_error_func(ctx, &Session::ErrorFunc, this);
        int r;
        {
            std::lock_guard<std::mutex> lock(DriverMutex());
            DriverLists& lists = Drivers(ctx);
            gp_camera_new(&cam);
            CameraAbilities abilities;
            const int m = gp_abilities_list_lookup_model(lists.abilities, model.c_str());
            r = m < 0 ? m : gp_abilities_list_get_abilities(lists.abilities, m, &abilities);
            if (r >= 0)
                r = gp_camera_set_abilities(cam, abilities);
            if (r >= 0) {
                const int p = gp_port_info_list_lookup_path(lists.ports, port.c_str());
                GPPortInfo info;
                r = p < 0 ? p : gp_port_info_list_get_info(lists.ports, p, &info);
                if (r >= 0)
                    r = gp_camera_set_port_info(cam, info);
            }
            if (r >= 0)
                r = gp_camera_init(cam, ctx);
        }
        if (r < 0) {
            const std::string detail = TakeDriverText();
            const Problem problem = ProblemOf(r, true, detail);
            Report(ProblemMessage(problem, model, port, detail.empty() ? ResultText(r) : detail));
            return problem == Problem::CameraBusy ? cdDEVICE_BUSY
                   : problem == Problem::NoCamera ? cdDEVICE_NOT_FOUND
                                                   : cdCOMM_ERROR;
        }
        CameraAbilities a;
        if (gp_camera_get_abilities(cam, &a) == GP_OK) {
            canTrigger = (a.operations & GP_OPERATION_TRIGGER_CAPTURE) != 0;
            canCapture = (a.operations & GP_OPERATION_CAPTURE_IMAGE) != 0;
        }
        if (!canTrigger && !canCapture)
            Report(ProblemMessage(Problem::DriverCannotCapture, model, port, {}));
        RefreshAll();
        liveView.Probe(*this);
        uint16_t k;
        {
            std::lock_guard<std::mutex> lock(mutex);
            k = kind;
        }
        ApplyCaptureTarget(k);
        return cdOK;
    }

    void Close()
    {
        if (cam) {
            std::lock_guard<std::mutex> lock(DriverMutex());
            gp_camera_exit(cam, ctx);
            gp_camera_unref(cam);
            cam = nullptr;
        }
        if (ctx) {
            gp_context_unref(ctx);
            ctx = nullptr;
        }
    }

    // Reads the whole configuration into the cache; true when a value changed.
    bool RefreshAll()
    {
        CameraWidget* root = nullptr;
        if (gp_camera_get_config(cam, &root, ctx) < GP_OK || !root)
            return false;
        std::map<std::string, CachedWidget> fresh;
        CollectWidgets(root, fresh);
        gp_widget_free(root);
        std::lock_guard<std::mutex> lock(cacheMutex);
        bool changed = false;
        for (const auto& [name, w] : fresh) {
            auto it = cache.find(name);
            if (it == cache.end() || it->second.value != w.value)
                changed = true;
        }
        cache = std::move(fresh);
        return changed;
    }

    // Re-reads one setting into the cache.
    void RefreshOne(const std::string& name)
    {
        CameraWidget* w = nullptr;
        if (gp_camera_get_single_config(cam, name.c_str(), &w, ctx) < GP_OK || !w)
            return;
        CachedWidget c = ReadWidget(w);
        gp_widget_free(w);
        std::lock_guard<std::mutex> lock(cacheMutex);
        cache[name] = std::move(c);
    }

    // Writes one setting: a choice or text (value), or a number for ranges and toggles.
    cdError WriteSetting(const std::string& name, const std::string& value, float number)
    {
        CameraWidget* w = nullptr;
        int r = gp_camera_get_single_config(cam, name.c_str(), &w, ctx);
        if (r < GP_OK || !w)
            return cdNOT_SUPPORTED;
        CameraWidgetType type;
        gp_widget_get_type(w, &type);
        if (type == GP_WIDGET_RANGE)
            r = gp_widget_set_value(w, &number);
        else if (type == GP_WIDGET_TOGGLE) {
            int v = number != 0;
            r = gp_widget_set_value(w, &v);
        } else
            r = gp_widget_set_value(w, value.c_str());
        if (r >= GP_OK)
            r = gp_camera_set_single_config(cam, name.c_str(), w, ctx);
        gp_widget_free(w);
        RefreshOne(name);
        if (r < GP_OK) {
            platform::DebugTrace("Gphoto2Camera: setting " + name + " to " + value + ": " + ResultText(r) + "\n");
            return cdERROR;
        }
        return cdOK;
    }

    // "PTP Property 00005007 changed, "f-number" to "f/2.8"": the setting and its value.
    bool ApplyPropertyText(const std::string& text, bool* refreshAll)
    {
        const size_t changed = text.find("changed");
        if (changed == std::string::npos)
            return false;
        const size_t q1 = text.find('"', changed);
        const size_t q2 = q1 == std::string::npos ? q1 : text.find('"', q1 + 1);
        const size_t q3 = q2 == std::string::npos ? q2 : text.find('"', q2 + 1);
        const size_t q4 = q3 == std::string::npos ? q3 : text.rfind('"');
        if (q4 == std::string::npos || q4 <= q3) {
            *refreshAll = true;  // a property changed, the driver did not say which
            return false;
        }
        const std::string name = text.substr(q1 + 1, q2 - q1 - 1);
        const std::string value = text.substr(q3 + 1, q4 - q3 - 1);
        std::lock_guard<std::mutex> lock(cacheMutex);
        auto it = cache.find(name);
        if (it == cache.end() || it->second.value == value)
            return false;
        it->second.value = value;
        return true;
    }

    void ApplyCaptureTarget(uint16_t k)
    {
        std::string name;
        auto w = Cached(kTargetNames, &name);
        if (!w)
            return;
        const bool toCard = (k & (cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM)) != 0;
        for (const std::string& c : w->choices) {
            std::string lower = c;
            for (char& ch : lower)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            const bool isRam = lower.find("ram") != std::string::npos;
            const bool isCard = lower.find("card") != std::string::npos;
            if ((toCard && isCard) || (!toCard && isRam)) {
                if (c != w->value)
                    WriteSetting(name, c, 0);
                return;
            }
        }
    }

    void FailShot(int result, const std::string& detail)
    {
        const Problem problem = ProblemOf(result, false, detail);
        Report(ProblemMessage(problem, model, port, detail.empty() ? ResultText(result) : detail));
        shot = {};
        DeliverRelease(cdRELEASE_EVENT_RESET_HW_ERROR, HardwareErrorOf(problem, result));
        if (problem == Problem::Disconnected)
            LoseConnection();
    }

    void LoseConnection()
    {
        if (!connected.exchange(false))
            return;
        Report(ProblemMessage(Problem::Disconnected, model, port, {}));
        DeliverCameraEvent(cdEVENT_CLASS_SHUTDOWN | 0xFFFF);
    }

    cdError Capture(uint16_t releaseKind)
    {
        if (!canTrigger && !canCapture) {
            Report(ProblemMessage(Problem::DriverCannotCapture, model, port, {}));
            DeliverRelease(cdRELEASE_EVENT_RESET_HW_ERROR, HardwareErrorOf(Problem::DriverCannotCapture,
                                                                           GP_ERROR_NOT_SUPPORTED));
            return cdNOT_SUPPORTED;
        }
        // A shot still gathering files is announced first; one still waiting for its first
        // file takes this capture's files too (the count of items stays right).
        if (shot.open && !shot.files.empty())
            FinishShot();
        DeliverRelease(cdRELEASE_EVENT_RELEASE_START, std::nullopt);
        if (!shot.open) {
            shot = {};
            shot.open = true;
            shot.started = Clock::now();
        }
        shot.fromRelease = true;
        shot.kind = releaseKind;
        int r;
        if (canTrigger) {
            r = gp_camera_trigger_capture(cam, ctx);
        } else {
            CameraFilePath path{};
            r = gp_camera_capture(cam, GP_CAPTURE_IMAGE, &path, ctx);
            if (r >= GP_OK)
                AddShotFile(path.folder, path.name);  // more files of the shot may follow as events
        }
        if (r < GP_OK) {
            FailShot(r, TakeDriverText());
            return cdOK;
        }
        return cdOK;
    }

    void AddShotFile(const std::string& folder, const std::string& name)
    {
        if (!shot.open) {
            // The body's own shutter button: the same events as a release from the PC.
            DeliverRelease(cdRELEASE_EVENT_RELEASE_START, std::nullopt);
            shot = {};
            shot.open = true;
            shot.started = Clock::now();
        }
        shot.files.emplace_back(folder, name);
        shot.lastFile = Clock::now();
    }

    // Turns the shot's files into items for the PC and announces them.
    void FinishShot()
    {
        uint16_t k;
        {
            std::lock_guard<std::mutex> lock(mutex);
            k = shot.kind.value_or(kind);
        }
        const bool pictToPc = k & cdREL_KIND_PICT_TO_PC;
        const bool thumbToPc = k & cdREL_KIND_THUMB_TO_PC;
        const uint32_t seq = ++sequence;
        std::vector<PendingItem> raws, jpegs, thumbs;
        for (const auto& [folder, name] : shot.files) {
            FileKind fk = ClassifyFileName(name);
            if (!fk.known)
                continue;
            PendingItem item{folder, name, GP_FILE_TYPE_NORMAL, fk.dataType, fk.format, seq};
            if (fk.dataType == cdDATA_TYPE_THUMBNAIL)
                thumbs.push_back(item);
            else if (fk.format == cdFORMAT_RAW)
                raws.push_back(item);
            else
                jpegs.push_back(item);
        }
        std::vector<PendingItem> out;
        if (pictToPc) {
            // A CRW comes with its thumbnail (saved as THM) when the kind asks for it.
            if (thumbToPc && thumbs.empty()) {
                for (const PendingItem& r : raws) {
                    std::string ext = r.name.substr(r.name.rfind('.') + 1);
                    for (char& ch : ext)
                        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                    if (ext == "CRW") {
                        PendingItem t = r;
                        t.fileType = GP_FILE_TYPE_PREVIEW;
                        t.dataType = cdDATA_TYPE_THUMBNAIL;
                        t.format = cdFORMAT_JPEG;
                        thumbs.push_back(t);
                    }
                }
            }
            if (thumbToPc)
                out.insert(out.end(), thumbs.begin(), thumbs.end());
            out.insert(out.end(), raws.begin(), raws.end());
            for (PendingItem j : jpegs) {
                if (!raws.empty())
                    j.dataType = cdDATA_TYPE_PLUS_JPEG;  // the JPEG of a RAW + JPEG shot
                out.push_back(j);
            }
        } else if (thumbToPc) {
            // Pictures stay on the card: only a thumbnail comes to the PC.
            const std::vector<PendingItem>& from = !thumbs.empty() ? thumbs : !jpegs.empty() ? jpegs : raws;
            if (!from.empty()) {
                PendingItem t = from.front();
                t.fileType = t.dataType == cdDATA_TYPE_THUMBNAIL ? GP_FILE_TYPE_NORMAL : GP_FILE_TYPE_PREVIEW;
                t.dataType = cdDATA_TYPE_THUMBNAIL;
                t.format = cdFORMAT_JPEG;
                out.push_back(t);
            }
        }
        shot = {};
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (auto& item : out)
                items.push_back(std::move(item));
            expectDownloadsUntil = Clock::now() + std::chrono::milliseconds(kExpectDownloadsMs);
        }
        DeliverRelease(cdRELEASE_EVENT_RELEASE_COMPLETE, static_cast<uint32_t>(out.size()));
    }

    // Waits for one camera event; returns false when nothing happened.
    bool PollOnce(int timeoutMs)
    {
        CameraEventType type = GP_EVENT_TIMEOUT;
        void* data = nullptr;
        const int r = gp_camera_wait_for_event(cam, timeoutMs, &type, &data, ctx);
        if (r < GP_OK) {
            free(data);
            if (cancel)
                return false;
            const Problem p = ProblemOf(r, false, {});
            if (p == Problem::Disconnected && (r == GP_ERROR_IO_USB_FIND || ++ioFailures >= 3)) {
                TakeDriverText();
                LoseConnection();
            }
            return false;
        }
        ioFailures = 0;
        bool happened = type != GP_EVENT_TIMEOUT;
        switch (type) {
        case GP_EVENT_FILE_ADDED:
            if (auto* path = static_cast<CameraFilePath*>(data))
                AddShotFile(path->folder, path->name);
            break;
        case GP_EVENT_CAPTURE_COMPLETE:
            if (shot.open)
                shot.complete = true;
            break;
        case GP_EVENT_UNKNOWN: {
            bool refreshAll = false;
            const std::string text = data ? static_cast<const char*>(data) : "";
            if (IsStoreFullEvent(text)) {
                if (shot.open)
                    FailShot(GP_ERROR_NO_SPACE, text);
                break;
            }
            bool changed = ApplyPropertyText(text, &refreshAll);
            if (refreshAll)
                changed = RefreshAll() || changed;
            if (changed)
                DeliverRelease(cdRELEASE_EVENT_CHANGED_BY_UI, std::nullopt);
            break;
        }
        default: break;
        }
        free(data);
        return happened;
    }

    void CheckShot(bool quietPoll)
    {
        if (!shot.open)
            return;
        const auto now = Clock::now();
        const auto sinceFile = std::chrono::duration_cast<std::chrono::milliseconds>(now - shot.lastFile).count();
        if (!shot.files.empty()) {
            // Once the camera says the capture is done, a short quiet spell ends the shot
            // (the second file of a RAW + JPEG shot follows the first closely).
            if ((shot.complete && quietPoll && sinceFile >= kCompleteQuietMs) || sinceFile >= options.shotQuietMs)
                FinishShot();
            return;
        }
        const auto sinceStart = std::chrono::duration_cast<std::chrono::milliseconds>(now - shot.started).count();
        if (sinceStart >= options.captureTimeoutMs)
            FailShot(GP_ERROR_CAMERA_ERROR, "the camera reported no picture");
    }

    void Run(std::shared_ptr<std::promise<cdError>> opened)
    {
        const cdError openResult = Open();
        opened->set_value(openResult);
        if (openResult != cdOK) {
            Close();
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
            cv.notify_all();
            return;
        }
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (!connected && jobs.empty() && !closing)
                    cv.wait(lock, [this] { return closing || !jobs.empty(); });
                if (closing)
                    break;
                if (!jobs.empty()) {
                    job = std::move(jobs.front());
                    jobs.pop_front();
                } else if (frameJob) {  // releases, downloads and settings go first
                    job = std::move(*frameJob);
                    frameJob.reset();
                }
            }
            if (job.work) {
                const cdError e = job.work();
                if (job.done)
                    job.done->set_value(e);
                continue;
            }
            // Items were just announced: their downloads are about to be asked for, so wait
            // on the queue (a hand-off without delay) rather than in the camera's event poll.
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (!items.empty() && Clock::now() < expectDownloadsUntil) {
                    cv.wait_for(lock, std::chrono::milliseconds(20), [this] { return closing || !jobs.empty(); });
                    continue;
                }
            }
            // Nothing queued: listen to the camera. While a shot is being gathered the
            // polls are short so that its files are announced promptly.
            const bool happened = PollOnce(shot.open ? std::min(options.pollMs, 10) : options.pollMs);
            CheckShot(!happened);
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (Job& j : jobs) {
                if (j.done)
                    j.done->set_value(cdCOMM_ERROR);
            }
            jobs.clear();
            if (frameJob && frameJob->done)
                frameJob->done->set_value(cdCOMM_ERROR);
            frameJob.reset();
        }
        Close();
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        cv.notify_all();
    }

    // Runs on the worker: fetches one file into memory, reporting progress through the
    // context's progress functions.
    cdError Fetch(const PendingItem& item, const std::shared_ptr<Download>& d)
    {
        CameraFile* file = nullptr;
        gp_file_new(&file);
        const auto start = Clock::now();
        int r = gp_camera_file_get(cam, item.folder.c_str(), item.name.c_str(), item.fileType, file, ctx);
        if (transferSeconds)
            *transferSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        {
            std::lock_guard<std::mutex> lock(mutex);
            download.reset();
        }
        std::lock_guard<std::mutex> lock(d->mutex);
        d->result = r;
        d->finished = true;
        if (r < GP_OK || d->abandoned) {
            gp_file_unref(file);
        } else {
            d->file = file;
        }
        d->cv.notify_all();
        if (r < GP_OK && !cancel) {
            const std::string detail = TakeDriverText();
            if (ProblemOf(r, false, detail) == Problem::Disconnected)
                LoseConnection();
            platform::DebugTrace("Gphoto2Camera: download of " + item.name + ": " + ResultText(r) + "\n");
        }
        return cdOK;
    }
};

// ---------------------------------------------------------------- detection

std::vector<DetectedCamera> DetectCameras(std::string* error)
{
    std::vector<DetectedCamera> out;
    GPContext* ctx = gp_context_new();
    CameraList* list = nullptr;
    gp_list_new(&list);
    int r;
    {
        std::lock_guard<std::mutex> lock(DriverMutex());
        Drivers(ctx);
        r = gp_camera_autodetect(list, ctx);
    }
    if (r < GP_OK) {
        if (error)
            *error = "libgphoto2 could not look for cameras: " + ResultText(r);
    } else {
        const int n = gp_list_count(list);
        for (int i = 0; i < n; ++i) {
            const char* name = nullptr;
            const char* value = nullptr;
            gp_list_get_name(list, i, &name);
            gp_list_get_value(list, i, &value);
            if (name && value)
                out.push_back({name, value});
        }
    }
    gp_list_free(list);
    gp_context_unref(ctx);
    return out;
}

// ---------------------------------------------------------------- the library

Gphoto2Camera::Gphoto2Camera(Gphoto2Options options)
    : options_(std::move(options)),
      lastTransferSeconds_(std::make_shared<std::atomic<double>>(0.0)),
      itemStore_(std::make_unique<ImageItemStore>())
{
    auto userReport = options_.report;
    reportFn_ = std::make_shared<ReportSink>();
    reportFn_->fn = [this, userReport](const std::string& message) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                lastProblem_ = message;
            }
            if (userReport)
                userReport(message);
            else
                std::fprintf(stderr, "tethrocam: %s\n", message.c_str());
        };
}

Gphoto2Camera::~Gphoto2Camera()
{
    std::vector<cdHSource> open;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [h, s] : sessions_)
            open.push_back(h);
    }
    for (cdHSource h : open)
        CDCloseSource(h);
    // A worker that did not finish in time must not reach this object any more.
    std::lock_guard<std::mutex> lock(reportFn_->mutex);
    reportFn_->fn = nullptr;
}

double Gphoto2Camera::LastTransferSeconds() const { return *lastTransferSeconds_; }

std::string Gphoto2Camera::LastProblem() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastProblem_;
}

void Gphoto2Camera::Report(const std::string& message)
{
    platform::DebugTrace("Gphoto2Camera: " + message + "\n");
    reportFn_->Send(message);
}

std::shared_ptr<Gphoto2Camera::Session> Gphoto2Camera::Find(cdHSource source) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sessions_.find(source);
    return it == sessions_.end() ? nullptr : it->second;
}

cdError Gphoto2Camera::CDStartSDK(const cdVersionInfo* version, uint32_t)
{
    if (!version || version->Size != sizeof(cdVersionInfo))
        return cdINVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
    return cdOK;
}

cdError Gphoto2Camera::CDFinishSDK()
{
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = false;
    return cdOK;
}

cdError Gphoto2Camera::CDEnumDeviceReset(uint32_t, cdHEnum* enumOut)
{
    if (!enumOut)
        return cdINVALID_PARAMETER;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_)
            return cdERROR;
    }
    std::string error;
    std::vector<DetectedCamera> found = DetectCameras(&error);
    if (!error.empty())
        Report(error);
    if (!options_.port.empty())
        std::erase_if(found, [this](const DetectedCamera& c) { return c.port != options_.port; });
    if (found.empty() && error.empty()) {
        Report(ProblemMessage(Problem::NoCamera, {}, options_.port, {}));
    } else if (found.size() > 1) {
        std::vector<std::string> names;
        for (const DetectedCamera& c : found)
            names.push_back(c.model + " at " + c.port);
        Report(SeveralCamerasMessage(names));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const cdHEnum h = nextHandle_++;
    deviceEnums_[h] = {std::move(found), 0};
    *enumOut = h;
    return cdOK;
}

cdError Gphoto2Camera::CDEnumDeviceNext(cdHEnum hEnum, cdSourceInfo* info)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = deviceEnums_.find(hEnum);
    if (it == deviceEnums_.end() || !info)
        return cdINVALID_HANDLE;
    auto& [list, next] = it->second;
    if (next >= list.size())
        return cdENUM_NA;
    const DetectedCamera& c = list[next++];
    std::memset(info, 0, sizeof *info);
    info->SurceType = 1;
    std::snprintf(info->Name, sizeof info->Name, "%s", c.model.c_str());
    std::snprintf(reinterpret_cast<char*>(info->PortData), sizeof info->PortData, "%s", c.port.c_str());
    return cdOK;
}

cdError Gphoto2Camera::CDEnumDeviceRelease(cdHEnum hEnum)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return deviceEnums_.erase(hEnum) ? cdOK : cdINVALID_HANDLE;
}

cdError Gphoto2Camera::CDOpenSource(const cdSourceInfo* info, cdHSource* sourceOut)
{
    if (!info || !sourceOut)
        return cdINVALID_PARAMETER;
    auto s = std::make_shared<Session>();
    s->model.assign(info->Name, strnlen(info->Name, sizeof info->Name));
    s->port.assign(reinterpret_cast<const char*>(info->PortData),
                   strnlen(reinterpret_cast<const char*>(info->PortData), sizeof info->PortData));
    s->options = options_;
    s->report = reportFn_;
    s->transferSeconds = lastTransferSeconds_;
    if (s->port.empty())
        return cdDEVICE_NOT_FOUND;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [h, other] : sessions_) {
            if (other->port == s->port)
                return cdDEVICE_BUSY;
        }
    }
    auto opened = std::make_shared<std::promise<cdError>>();
    std::future<cdError> result = opened->get_future();
    s->worker = std::thread([s, opened] { s->Run(opened); });
    s->workerId = s->worker.get_id();
    const cdError e = result.get();
    if (e != cdOK) {
        s->worker.join();
        return e;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    s->handle = nextHandle_++;
    sessions_[s->handle] = s;
    *sourceOut = s->handle;
    return cdOK;
}

cdError Gphoto2Camera::CDCloseSource(cdHSource source)
{
    std::shared_ptr<Session> s;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = sessions_.find(source);
        if (it == sessions_.end())
            return cdINVALID_HANDLE;
        s = it->second;
        sessions_.erase(it);
    }
    const bool onWorker = std::this_thread::get_id() == s->workerId;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->closing = true;
        s->eventFn = nullptr;
        s->eventCtx = nullptr;
        s->releaseFn = nullptr;
        s->releaseCtx = nullptr;
        s->items.clear();
    }
    s->cancel = true;
    s->cv.notify_all();
    if (auto d = s->CurrentDownload())
        d->cv.notify_all();
    if (onWorker) {
        s->worker.detach();
        return cdOK;
    }
    { std::lock_guard<std::mutex> wait(s->dispatch); }  // a callback in flight ends first
    bool done;
    {
        std::unique_lock<std::mutex> lock(s->mutex);
        done = s->cv.wait_for(lock, std::chrono::milliseconds(1200), [&] { return s->finished; });
    }
    if (done)
        s->worker.join();
    else
        s->worker.detach();  // it holds its own reference and finishes when the camera lets it
    return cdOK;
}

cdError Gphoto2Camera::CDRegisterEventCallbackFunction(cdHSource source, cdEventCallbackFunction fn, cdContext ctx,
                                                       cdHandle* cookieOut)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    std::lock_guard<std::mutex> lock(s->mutex);
    s->eventFn = fn;
    s->eventCtx = ctx;
    if (cookieOut)
        *cookieOut = source;
    return cdOK;
}

cdError Gphoto2Camera::CDEnterReleaseControl(cdHSource source, cdReleaseEventCallbackFunction fn, cdContext ctx)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    std::lock_guard<std::mutex> lock(s->mutex);
    if (!s->connected)
        return cdCOMM_ERROR;
    s->releaseFn = fn;
    s->releaseCtx = ctx;
    s->releaseControl = true;
    return cdOK;
}

cdError Gphoto2Camera::CDExitReleaseControl(cdHSource source)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->releaseFn = nullptr;
        s->releaseCtx = nullptr;
        s->releaseControl = false;
    }
    if (std::this_thread::get_id() != s->workerId)
        std::lock_guard<std::mutex> wait(s->dispatch);
    return cdOK;
}

cdError Gphoto2Camera::CDSelectReleaseDataKind(cdHSource source, uint16_t kind)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    if (kind == 0 || kind > 15)
        return cdINVALID_PARAMETER;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->connected)
            return cdCOMM_ERROR;
        s->kind = kind;
    }
    // The capture target follows on the worker, before any capture queued after this.
    Session* raw = s.get();
    s->Post([raw, kind] {
        raw->ApplyCaptureTarget(kind);
        return cdOK;
    });
    return cdOK;
}

cdError Gphoto2Camera::CDRelease(cdHSource source, uint32_t, cdProgressCallbackFunction, cdContext, uint32_t,
                                 uint32_t* countOut)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    uint16_t kind;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->connected)
            return cdCOMM_ERROR;
        if (!s->releaseControl)
            return cdERROR;
        kind = s->kind;
    }
    if (countOut)
        *countOut = 0;
    Session* raw = s.get();
    return s->Post([raw, kind] { return raw->Capture(kind); }) ? cdOK : cdCOMM_ERROR;
}

cdError Gphoto2Camera::CDGetReleasedData(cdHSource source, cdProgressCallbackFunction fn, cdContext ctx, uint32_t,
                                         cdReleaseImageInfo* info, cdStgMedium* medium)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    if (!medium || medium->Type != cdMEMTYPE_STREAM || !medium->pStream || !info)
        return cdINVALID_PARAMETER;
    PendingItem item;
    auto d = std::make_shared<Download>();
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->connected || s->closing)
            return cdCOMM_ERROR;
        if (s->items.empty())
            return cdERROR;
        item = std::move(s->items.front());
        s->items.pop_front();
    }
    Session* raw = s.get();
    const bool queued = s->Post([raw, item, d] {
        {
            std::lock_guard<std::mutex> lock(raw->mutex);
            raw->download = d;
        }
        return raw->Fetch(item, d);
    });
    if (!queued)
        return cdCOMM_ERROR;

    // Progress of the transfer, reported on this thread as it arrives.
    uint32_t reported = 0;
    bool closed = false;
    {
        std::unique_lock<std::mutex> lock(d->mutex);
        for (;;) {
            d->cv.wait_for(lock, std::chrono::milliseconds(100));
            if (d->finished)
                break;
            {
                std::lock_guard<std::mutex> sl(s->mutex);
                closed = s->closing || !s->connected;
            }
            if (closed) {
                d->abandoned = true;
                return cdCOMM_ERROR;
            }
            const uint32_t percent =
                d->target > 0 ? static_cast<uint32_t>(std::min(99.0f, 100.0f * d->current / d->target)) : 0;
            if (fn && percent > reported) {
                reported = percent;
                lock.unlock();
                fn(percent, 0, ctx);
                lock.lock();
            }
        }
    }
    if (d->result < GP_OK || !d->file)
        return d->result == GP_ERROR_CANCEL ? cdCOMM_ERROR : cdERROR;

    const char* data = nullptr;
    unsigned long size = 0;
    gp_file_get_data_and_size(d->file, &data, &size);
    info->SequenceID = item.sequence;
    info->DataType = item.dataType;
    info->Format = item.format;
    info->DataSize = static_cast<uint32_t>(size);

    cdStream& stream = *medium->pStream;
    cdError err = 0;
    cdError result = cdOK;
    stream.open(stream.contextH, cdSTREAM_OPEN_WRITE, &err);
    if (err) {
        result = cdSTREAM_ERROR;
    } else {
        constexpr size_t kChunk = 1 << 20;
        size_t done = 0;
        while (done < size) {
            uint32_t n = static_cast<uint32_t>(std::min<size_t>(kChunk, size - done));
            stream.write(stream.contextH, data + done, &n, &err);
            if (err) {
                result = cdSTREAM_ERROR;
                break;
            }
            done += n;
        }
        stream.close(stream.contextH, &err);
    }
    gp_file_unref(d->file);
    d->file = nullptr;
    if (fn && result == cdOK)
        fn(100, 0, ctx);
    return result;
}

cdError Gphoto2Camera::SetConfigValue(cdHSource source, const std::string& name, const std::string& value)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    Session* raw = s.get();
    return s->Call([raw, name, value] { return raw->WriteSetting(name, value, std::strtof(value.c_str(), nullptr)); });
}

cdError Gphoto2Camera::CDLockUI(cdHSource source) { return Find(source) ? cdOK : cdINVALID_HANDLE; }
cdError Gphoto2Camera::CDUnlockUI(cdHSource source) { return Find(source) ? cdOK : cdINVALID_HANDLE; }

// Custom functions are not reachable through libgphoto2: the list is empty.
cdError Gphoto2Camera::CDEnumCustomFunctionSettingReset(cdHSource source, uint32_t, cdHEnum* enumOut)
{
    if (!Find(source))
        return cdINVALID_HANDLE;
    if (!enumOut)
        return cdINVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    const cdHEnum h = nextHandle_++;
    cfEnums_[h] = 0;
    *enumOut = h;
    return cdOK;
}

cdError Gphoto2Camera::CDEnumCustomFunctionSettingNext(cdHEnum hEnum, uint32_t*, uint16_t*, uint16_t*)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cfEnums_.count(hEnum) ? cdENUM_NA : cdINVALID_HANDLE;
}

cdError Gphoto2Camera::CDEnumCustomFunctionSettingRelease(cdHEnum hEnum)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cfEnums_.erase(hEnum) ? cdOK : cdINVALID_HANDLE;
}

// ---------------------------------------------------------------- settings

namespace {

const std::vector<std::string>& NamesOf(NumericSetting setting)
{
    switch (setting) {
    case NumericSetting::Tv: return kTvNames;
    case NumericSetting::Av: return kAvNames;
    case NumericSetting::ExposureComp: return kEvNames;
    case NumericSetting::Iso: return kIsoNames;
    }
    return kTvNames;
}

const std::vector<std::string>& NamesOf(EnumSetting setting)
{
    switch (setting) {
    case EnumSetting::WhiteBalance: return kWbNames;
    case EnumSetting::Metering: return kMeteringNames;
    case EnumSetting::Drive: return kDriveNames;
    case EnumSetting::AfMode: return kAfNames;
    case EnumSetting::ShootingMode: return kModeNames;
    }
    return kWbNames;
}

std::optional<uint16_t> CodeOfText(NumericSetting setting, std::string_view text)
{
    return CodeFromText(setting, text);
}

std::optional<uint16_t> CodeOfText(EnumSetting setting, std::string_view text)
{
    return EnumCodeFromText(setting, text);
}

// A setting read from the cache the camera's events keep current: "not supported" when
// the body has no such widget, an error when its text maps to no code.
template <typename Setting>
cdError ReadSetting(Gphoto2Camera::Session& s, Setting setting, uint16_t* value)
{
    if (!value)
        return cdINVALID_PARAMETER;
    auto w = s.Cached(NamesOf(setting));
    if (!w)
        return cdNOT_SUPPORTED;
    auto code = CodeOfText(setting, w->value);
    if (!code)
        return cdERROR;
    *value = *code;
    return cdOK;
}

cdError WriteNumeric(Gphoto2Camera::Session& s, NumericSetting setting, uint16_t code)
{
    std::string name;
    auto w = s.Cached(NamesOf(setting), &name);
    if (!w)
        return cdNOT_SUPPORTED;
    if (w->readOnly)
        return cdERROR;
    std::string text;
    float number = 0;
    if (w->type == GP_WIDGET_RADIO || w->type == GP_WIDGET_MENU) {
        const int i = ChoiceForCode(setting, w->choices, code);
        if (i < 0)
            return cdINVALID_PARAMETER;
        text = w->choices[static_cast<size_t>(i)];
    } else if (w->type == GP_WIDGET_RANGE) {
        double v = setting == NumericSetting::Tv            ? TvSecondsOfCode(code)
                   : setting == NumericSetting::Av          ? FNumberOfCode(code)
                   : setting == NumericSetting::ExposureComp ? ExposureStopsOfCode(code)
                                                             : IsoOfCode(code);
        if (v < w->min - 1e-6 || v > w->max + 1e-6)
            return cdINVALID_PARAMETER;
        if (w->step > 0)
            v = w->min + std::round((v - w->min) / w->step) * w->step;
        number = static_cast<float>(v);
    } else {
        text = TextForCode(setting, code);
    }
    return s.Call([&s, name, text, number] { return s.WriteSetting(name, text, number); });
}


cdError WriteEnum(Gphoto2Camera::Session& s, EnumSetting setting, uint16_t code)
{
    std::string name;
    auto w = s.Cached(NamesOf(setting), &name);
    if (!w)
        return cdNOT_SUPPORTED;
    if (w->readOnly)
        return cdERROR;
    const int i = ChoiceForEnumCode(setting, w->choices, code);
    if (i < 0)
        return cdINVALID_PARAMETER;
    const std::string text = w->choices[static_cast<size_t>(i)];
    return s.Call([&s, name, text] { return s.WriteSetting(name, text, 0); });
}

}  // namespace

#define GPHOTO2_SESSION(source)      \
    auto s = Find(source);           \
    if (!s)                          \
        return cdINVALID_HANDLE;     \
    if (!s->connected)               \
        return cdCOMM_ERROR

cdError Gphoto2Camera::CDGetRelCamSettingData(cdHSource source, uint32_t setting, uint32_t* size, void* buffer)
{
    GPHOTO2_SESSION(source);
    if (!size || !buffer || *size == 0)
        return cdINVALID_PARAMETER;
    uint16_t v = 0;
    cdError e;
    switch (setting) {
    case cdREL_SET_ISO: e = ReadSetting(*s, NumericSetting::Iso, &v); break;
    case cdREL_SET_METERING: e = ReadSetting(*s, EnumSetting::Metering, &v); break;
    case cdREL_SET_AF_MODE: e = ReadSetting(*s, EnumSetting::AfMode, &v); break;
    case cdREL_SET_COLOR_TEMP: {
        auto w = s->Cached(kColourTempNames);
        if (!w)
            return cdNOT_SUPPORTED;
        auto k = ParseIso(w->value);  // a plain number
        if (!k)
            return cdERROR;
        v = static_cast<uint16_t>(std::clamp(*k, 0.0, 65535.0));
        e = cdOK;
        break;
    }
    default: return cdNOT_SUPPORTED;
    }
    if (e != cdOK)
        return e;
    std::memset(buffer, 0, *size);
    if (*size == 1) {
        const uint8_t b = static_cast<uint8_t>(v);
        std::memcpy(buffer, &b, 1);
    } else {
        std::memcpy(buffer, &v, 2);
    }
    return cdOK;
}

cdError Gphoto2Camera::CDSetRelCamSettingData(cdHSource source, uint32_t setting, uint32_t size, const void* buffer)
{
    GPHOTO2_SESSION(source);
    if (!buffer || size == 0 || size > 4)
        return cdINVALID_PARAMETER;
    uint32_t v = 0;
    std::memcpy(&v, buffer, size);
    switch (setting) {
    case cdREL_SET_ISO: return WriteNumeric(*s, NumericSetting::Iso, static_cast<uint16_t>(v));
    case cdREL_SET_METERING: return WriteEnum(*s, EnumSetting::Metering, static_cast<uint16_t>(v));
    case cdREL_SET_AF_MODE: return WriteEnum(*s, EnumSetting::AfMode, static_cast<uint16_t>(v));
    case cdREL_SET_COLOR_TEMP: {
        std::string name;
        auto w = s->Cached(kColourTempNames, &name);
        if (!w)
            return cdNOT_SUPPORTED;
        const std::string text = std::to_string(v);
        if (w->type == GP_WIDGET_RADIO || w->type == GP_WIDGET_MENU) {
            if (std::find(w->choices.begin(), w->choices.end(), text) == w->choices.end())
                return cdINVALID_PARAMETER;
        }
        Session* raw = s.get();
        return s->Call([raw, name, text, v] { return raw->WriteSetting(name, text, static_cast<float>(v)); });
    }
    default: return cdNOT_SUPPORTED;
    }
}

cdError Gphoto2Camera::CDGetTvValue(cdHSource source, uint16_t* value)
{
    GPHOTO2_SESSION(source);
    return ReadSetting(*s, NumericSetting::Tv, value);
}
cdError Gphoto2Camera::CDSetTvValue(cdHSource source, uint16_t value)
{
    GPHOTO2_SESSION(source);
    return WriteNumeric(*s, NumericSetting::Tv, value);
}
cdError Gphoto2Camera::CDGetAvValue(cdHSource source, uint16_t* value)
{
    GPHOTO2_SESSION(source);
    return ReadSetting(*s, NumericSetting::Av, value);
}
cdError Gphoto2Camera::CDSetAvValue(cdHSource source, uint16_t value)
{
    GPHOTO2_SESSION(source);
    return WriteNumeric(*s, NumericSetting::Av, value);
}
cdError Gphoto2Camera::CDGetExposureComp(cdHSource source, uint16_t* value)
{
    GPHOTO2_SESSION(source);
    return ReadSetting(*s, NumericSetting::ExposureComp, value);
}
cdError Gphoto2Camera::CDSetExposureComp(cdHSource source, uint16_t value)
{
    GPHOTO2_SESSION(source);
    return WriteNumeric(*s, NumericSetting::ExposureComp, value);
}

// Flash settings are not reachable in a way common to the drivers.
cdError Gphoto2Camera::CDGetFlashSetting(cdHSource source, uint16_t*, uint16_t*)
{
    GPHOTO2_SESSION(source);
    return cdNOT_SUPPORTED;
}

cdError Gphoto2Camera::CDGetImageFormatAttribute(cdHSource source, uint16_t* quality, uint16_t* size)
{
    GPHOTO2_SESSION(source);
    if (!quality || !size)
        return cdINVALID_PARAMETER;
    auto w = s->Cached(kFormatNames);
    if (!w)
        return cdNOT_SUPPORTED;
    ImageFormat f = ImageFormatFromText(w->value);
    if (!f.quality)
        return cdERROR;
    if (!f.size) {
        if (auto dims = s->Cached(kSizeNames))
            f.size = SizeCodeOfDimensions(dims->choices, dims->value);
    }
    *quality = *f.quality;
    *size = f.size.value_or(0);
    return cdOK;
}

cdError Gphoto2Camera::CDSetImageFormatAttribute(cdHSource source, uint16_t quality, uint16_t size)
{
    GPHOTO2_SESSION(source);
    std::string name;
    auto w = s->Cached(kFormatNames, &name);
    if (!w)
        return cdNOT_SUPPORTED;
    if (quality < 2 || quality > 4 || size > 2)
        return cdINVALID_PARAMETER;
    const int i = ChoiceForImageFormat(w->choices, quality, size);
    if (i < 0) {
        // The size may live in a widget of its own: choose the quality alone there.
        int q = -1;
        for (size_t k = 0; k < w->choices.size() && q < 0; ++k) {
            ImageFormat f = ImageFormatFromText(w->choices[k]);
            if (f.quality == quality && !f.size.has_value())
                q = static_cast<int>(k);
        }
        if (q < 0)
            return cdINVALID_PARAMETER;
        const std::string text = w->choices[static_cast<size_t>(q)];
        Session* raw = s.get();
        cdError e = s->Call([raw, name, text] { return raw->WriteSetting(name, text, 0); });
        std::string sizeName;
        auto dims = s->Cached(kSizeNames, &sizeName);
        if (e == cdOK && dims && !dims->readOnly && quality != 4) {
            for (const std::string& c : dims->choices) {
                if (SizeCodeOfDimensions(dims->choices, c) == size) {
                    e = s->Call([raw, sizeName, c] { return raw->WriteSetting(sizeName, c, 0); });
                    break;
                }
            }
        }
        return e;
    }
    const std::string text = w->choices[static_cast<size_t>(i)];
    Session* raw = s.get();
    return s->Call([raw, name, text] { return raw->WriteSetting(name, text, 0); });
}

cdError Gphoto2Camera::CDGetWBSetting(cdHSource source, uint16_t* value)
{
    GPHOTO2_SESSION(source);
    return ReadSetting(*s, EnumSetting::WhiteBalance, value);
}
cdError Gphoto2Camera::CDSetWBSetting(cdHSource source, uint16_t value)
{
    GPHOTO2_SESSION(source);
    return WriteEnum(*s, EnumSetting::WhiteBalance, value);
}
cdError Gphoto2Camera::CDGetDriveMode(cdHSource source, uint16_t* value)
{
    GPHOTO2_SESSION(source);
    return ReadSetting(*s, EnumSetting::Drive, value);
}
cdError Gphoto2Camera::CDSetDriveMode(cdHSource source, uint16_t value)
{
    GPHOTO2_SESSION(source);
    return WriteEnum(*s, EnumSetting::Drive, value);
}
cdError Gphoto2Camera::CDGetShootingMode(cdHSource source, uint16_t* value)
{
    GPHOTO2_SESSION(source);
    return ReadSetting(*s, EnumSetting::ShootingMode, value);
}

// ---------------------------------------------------------------- live view and focus
// Gphoto2LiveView.cpp does the work on the session's worker.

cdError Gphoto2Camera::CDGetLiveViewCapabilities(cdHSource source, uint32_t* capabilities)
{
    GPHOTO2_SESSION(source);
    if (!capabilities)
        return cdINVALID_PARAMETER;
    *capabilities = s->liveView.Capabilities();
    return cdOK;
}

cdError Gphoto2Camera::CDStartLiveView(cdHSource source)
{
    GPHOTO2_SESSION(source);
    return s->liveView.Start(*s);
}

cdError Gphoto2Camera::CDEndLiveView(cdHSource source)
{
    GPHOTO2_SESSION(source);
    return s->liveView.End(*s);
}

cdError Gphoto2Camera::CDGetLiveViewFrame(cdHSource source, cdStgMedium* medium)
{
    GPHOTO2_SESSION(source);
    return s->liveView.Frame(*s, medium);
}

cdError Gphoto2Camera::CDDriveFocus(cdHSource source, int32_t step)
{
    GPHOTO2_SESSION(source);
    return s->liveView.DriveFocus(*s, step);
}

cdError Gphoto2Camera::CDSetLiveViewZoom(cdHSource source, uint32_t magnification, int32_t x, int32_t y)
{
    GPHOTO2_SESSION(source);
    return s->liveView.SetZoom(*s, magnification, x, y);
}

cdError Gphoto2Camera::CDStartAutoFocus(cdHSource source)
{
    GPHOTO2_SESSION(source);
    return s->liveView.AutoFocus(*s);
}

#undef GPHOTO2_SESSION

// ---------------------------------------------------------------- image items

cdError Gphoto2Camera::CDMakeImageItem(uint32_t option, const char* path, uint32_t value, cdHItem* itemOut)
{
    return itemStore_->MakeImageItem(option, path, value, itemOut);
}
cdError Gphoto2Camera::CDOpenImage(cdHItem item) { return itemStore_->OpenImage(item); }
cdError Gphoto2Camera::CDEnumImageItemPropertyReset(cdHItem item, cdHEnum* enumOut)
{
    return itemStore_->EnumPropertyReset(item, enumOut);
}
cdError Gphoto2Camera::CDEnumImageItemPropertyRelease(cdHEnum hEnum) { return itemStore_->EnumPropertyRelease(hEnum); }
cdError Gphoto2Camera::CDSetImageItemProperty(cdHItem item, uint32_t property, uint32_t* size, const void* value)
{
    return itemStore_->SetProperty(item, property, size, value);
}
cdError Gphoto2Camera::CDFlashImageItemProperty(cdHItem item) { return itemStore_->FlashProperties(item); }
cdError Gphoto2Camera::CDCloseImage(cdHItem item) { return itemStore_->CloseImage(item); }
cdError Gphoto2Camera::CDFreeImageItem(cdHItem item) { return itemStore_->FreeItem(item); }

}  // namespace gphoto2
