#include "backends/gphoto2/Gphoto2Camera.h"

#include "backends/gphoto2/Gphoto2LiveView.h"
#include "backends/gphoto2/Gphoto2Mapping.h"
#include "camera/ImageItems.h"
#include "platform/DebugTrace.h"

#include <gphoto2/gphoto2-setting.h>
#include <gphoto2/gphoto2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <locale.h>
#include <optional>
#include <set>
#include <thread>

using namespace cdsdk;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace gphoto2 {

namespace {

// libgphoto2 in the C locale on this thread for as long as the object lives: its texts
// (choice labels, capture targets, errors) in English whatever the desktop's language, and
// its numbers with a decimal point. Only this thread is affected.
class ScopedCLocale {
public:
    ScopedCLocale() : c_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr)))
    {
        if (c_)
            previous_ = uselocale(c_);
    }
    ~ScopedCLocale()
    {
        if (c_) {
            uselocale(previous_);
            freelocale(c_);
        }
    }
    ScopedCLocale(const ScopedCLocale&) = delete;
    ScopedCLocale& operator=(const ScopedCLocale&) = delete;

private:
    locale_t c_ = static_cast<locale_t>(nullptr);
    locale_t previous_ = static_cast<locale_t>(nullptr);
};

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

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

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
const std::vector<std::string> kModeNames = {"autoexposuremode", "autoexposuremodedial", "expprogram",
                                             "shootingmode", "exposureprogram"};
const std::vector<std::string> kTargetNames = {"capturetarget"};

// Every setting the panel shows: what an unnamed property event makes the worker re-read.
const std::vector<const std::vector<std::string>*> kPanelNames = {
    &kTvNames,    &kAvNames,          &kIsoNames,      &kEvNames,     &kFormatNames, &kSizeNames, &kWbNames,
    &kColourTempNames, &kMeteringNames, &kDriveNames, &kAfNames,     &kModeNames,
};

constexpr int kUsbVendorNikon = 0x04b0;
constexpr int kUsbVendorSony = 0x054c;

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
        c.value = NumberText(static_cast<double>(c.number));
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

bool SameWidget(const CachedWidget& a, const CachedWidget& b)
{
    return a.value == b.value && a.choices == b.choices && a.readOnly == b.readOnly && a.min == b.min &&
           a.max == b.max && a.step == b.step;
}

// A file the camera handed over, kept in memory until the program takes it.
using FilePtr = std::shared_ptr<CameraFile>;

FilePtr NewFile()
{
    CameraFile* f = nullptr;
    gp_file_new(&f);
    return FilePtr(f, [](CameraFile* x) {
        if (x)
            gp_file_unref(x);
    });
}

// One item for the PC, downloaded and announced, waiting for CDGetReleasedData.
struct ReadyItem {
    uint32_t sequence = 0;
    uint32_t dataType = 0;
    uint8_t format = 0;
    std::string folder, name;      // where the camera keeps it
    bool deleteWhenSaved = false;  // the camera's copy exists only for the transfer
    FilePtr file;
};

// The item CDGetReleasedData delivered last, until the program says it is on disk.
struct Delivered {
    std::string folder, name;
    bool deleteWhenSaved = false;
};

// How long after a shot was announced a JPEG with its RAW's name still belongs to it, and
// a "capture complete" to it rather than to the next shot.
constexpr auto kLateFileWindow = std::chrono::seconds(30);
constexpr auto kLateCompleteWindow = std::chrono::seconds(2);
// Where the format says more files are coming: how long to wait for them after the
// camera reported the capture done, and without that report after the last file.
constexpr auto kMissingFileAfterComplete = milliseconds(1000);
constexpr auto kMissingFileWithoutComplete = milliseconds(2000);
// A setting's choices are re-read at most this often, and all the panel's settings after
// unnamed property events at most this often.
constexpr auto kChoicesRefreshGap = milliseconds(1000);
constexpr auto kPanelRefreshGap = milliseconds(2000);
// Saved pictures are deleted on the camera after this long without a shot, or when this
// many have gathered.
constexpr auto kDeleteWhenIdle = milliseconds(1000);
constexpr size_t kDeleteBacklog = 8;
// While live view asks frame after frame, the camera's events are still looked at this often.
constexpr auto kEventLookDuringLiveView = milliseconds(100);
// A body that answers "busy" to a trigger is asked again after these pauses.
constexpr int kBusyRetryMs[] = {100, 200, 400, 800};
// An announcement carries at most this many items.
constexpr size_t kMaxItemsPerAnnouncement = 16;

}  // namespace

// Where the sessions send their messages; cleared when the library goes, so that a worker
// finishing late reaches nothing. Keeps the last message (LastProblem) and the report not
// yet read (CDGetProblemReport).
struct ReportSink {
    std::mutex mutex;
    std::function<void(const std::string&)> fn;
    std::string last;
    std::string pending;
    void Send(const std::string& message)
    {
        std::lock_guard<std::mutex> lock(mutex);
        last = message;
        pending = message;
        if (fn)
            fn(message);
    }
};

namespace {

struct Job {
    std::function<cdError()> work;
    std::shared_ptr<std::promise<cdError>> done;
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
    std::mutex mutex;  // guards everything below up to `dispatch`
    std::condition_variable cv;
    std::deque<Job> jobs;
    bool closing = false;
    bool finished = false;
    std::deque<ReadyItem> items;
    std::optional<Delivered> delivered;
    uint16_t kind = cdREL_KIND_PICT_TO_PC;
    bool releaseControl = false;
    cdEventCallbackFunction eventFn = nullptr;
    cdContext eventCtx = nullptr;
    cdReleaseEventCallbackFunction releaseFn = nullptr;
    cdContext releaseCtx = nullptr;
    std::string lastDriverText;
    ShotTimes times;
    std::optional<Job> frameJob;  // a live-view frame: taken only when no other job waits
    Clock::time_point lastPoll;   // the last look for the camera's events (worker only)

    std::mutex dispatch;  // held while a callback runs
    std::atomic<bool> cancel{false};
    std::atomic<bool> connected{true};
    std::atomic<bool> previewWorks{false};  // probed once at open: live view builds on it
    std::atomic<bool> pollsForEvents{false};

    LiveView liveView;  // Gphoto2LiveView.cpp

    // Settings cache, read by any thread.
    mutable std::mutex cacheMutex;
    std::map<std::string, CachedWidget> cache;

    // ------------------------------------------------------------ worker only

    Camera* cam = nullptr;
    GPContext* ctx = nullptr;
    bool canTrigger = false;
    bool canCapture = false;
    int usbVendor = 0;
    EventPath eventPath = EventPath::Interrupt;
    std::optional<int> filesPerShotOfBody;  // what the body's capture formats say
    uint32_t sequence = 0;
    int ioFailures = 0;

    struct Got {  // a file of the shot, in memory
        std::string folder, name;
        FileKind kind;
        bool preview = false;  // the camera's preview of the file, standing in for a thumbnail
        FilePtr file;
    };
    struct Shot {
        bool open = false;
        bool complete = false;
        bool fromRelease = false;
        // The kind selected when CDRelease was called: it belongs to the shot, whatever is
        // selected while the shot runs. None for the body's own shutter button.
        std::optional<uint16_t> kind;
        std::optional<int> expected;      // files the body's format says the shot gives
        bool expectedFromBody = false;    // ... taken from the body's capture formats only
        int files = 0;                    // files the camera reported for the shot
        std::vector<Got> got;
        int downloadFailure = GP_OK;      // the last failed download, if any
        std::string downloadDetail;
        Clock::time_point started, lastFile, completeAt, deadline;
    } shot;
    struct LastShot {  // the shot announced last: a late JPEG or "complete" may be its own
        std::string rawBase;
        bool hadJpeg = false;
        uint16_t kind = 0;
        uint32_t sequence = 0;
        Clock::time_point at;
        bool completeSeen = false;
    };
    std::optional<LastShot> lastShot;

    std::set<std::string> staleChoices;  // named property events: re-read when idle
    std::map<std::string, Clock::time_point> lastChoicesRefresh;
    bool stalePanel = false;  // unnamed property events: re-read the panel's settings when idle
    Clock::time_point lastPanelRefresh;

    // What is put back when the camera is closed.
    std::optional<std::string> targetBefore;             // the capture target's choice at open
    bool targetChanged = false;
    std::optional<std::optional<std::string>> autofocusBefore;  // the driver's setting (none: unset)
    // Saved pictures whose copy on the camera is still to be deleted. libgphoto2 looks for
    // the body's events before each deletion (up to 300 ms where the body signals on the
    // interrupt pipe and nothing comes), so deletions run while a shot waits for its file
    // anyway, or once the camera has been idle a moment, never in front of a release.
    std::deque<Delivered> toDelete;
    bool deleteFailureReported = false;
    bool eventsQueued = false;  // libgphoto2 may hold events it read for us: look at once
    bool finishingDeletions = false;  // closing: the last deletions are not cancelled
    Clock::time_point lastShotEnd;

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
        while (result.wait_for(milliseconds(100)) != std::future_status::ready) {
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
        return self->cancel && !self->finishingDeletions ? GP_CONTEXT_FEEDBACK_CANCEL : GP_CONTEXT_FEEDBACK_OK;
    }

    static void ErrorFunc(GPContext*, const char* text, void* data)
    {
        auto* self = static_cast<Session*>(data);
        if (text)
            platform::DebugTrace(std::string("Gphoto2Camera: libgphoto2 error: ") + text + "\n");
        std::lock_guard<std::mutex> lock(self->mutex);
        self->lastDriverText = text ? text : "";
    }

    std::string TakeDriverText() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::string t = std::move(lastDriverText);
        lastDriverText.clear();
        return t;
    }

    void Stamp(Clock::time_point ShotTimes::*stage)
    {
        std::lock_guard<std::mutex> lock(mutex);
        times.*stage = Clock::now();
    }

    // ------------------------------------------------------------ LiveViewHost

    cdError RunOnWorker(std::function<cdError()> work) override { return Call(std::move(work)); }
    cdError RunFrameOnWorker(std::function<cdError()> work) override { return Call(std::move(work), true); }
    bool PictureQueued() override
    {
        // A shot's files are downloaded on the worker while it gathers them; what it
        // announced waits here until the program has it.
        std::lock_guard<std::mutex> lock(mutex);
        return !items.empty();
    }
    Camera* GpCamera() override { return cam; }
    GPContext* GpContext() override { return ctx; }
    bool ShotGathering() override { return shot.open; }
    void CameraGone(int, const std::string&) override { LoseConnection(); }

    // ------------------------------------------------------------ opening and closing

    cdError Open()
    {
        ctx = gp_context_new();
        gp_context_set_cancel_func(ctx, &Session::CancelFunc, this);
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
        CameraAbilities a{};
        bool ptp2 = false;
        if (gp_camera_get_abilities(cam, &a) == GP_OK) {
            canTrigger = (a.operations & GP_OPERATION_TRIGGER_CAPTURE) != 0;
            canCapture = (a.operations & GP_OPERATION_CAPTURE_IMAGE) != 0;
            usbVendor = a.usb_vendor;
            ptp2 = std::string_view(a.id).rfind("PTP", 0) == 0 || std::string_view(a.library).find("ptp2") !=
                                                                      std::string_view::npos;
        }
        if (!canTrigger && !canCapture)
            Report(ProblemMessage(Problem::DriverCannotCapture, model, port, {}));
        RefreshAll();
        std::vector<std::string> names;
        {
            std::lock_guard<std::mutex> lock(cacheMutex);
            for (const auto& [name, w] : cache)
                names.push_back(name);
        }
        eventPath = EventPathOf(ptp2, usbVendor, names);
        pollsForEvents = eventPath == EventPath::Polling;
        // Where the image format cannot be read, the body's capture formats may still say
        // that a shot gives one file.
        auto format = Cached(kFormatNames);
        if (!format || !FilesPerShot(format->value)) {
            auto text = std::make_unique<CameraText>();
            if (gp_camera_get_summary(cam, text.get(), ctx) == GP_OK)
                filesPerShotOfBody =
                    FilesPerShotFromSummary(std::string_view(text->text, strnlen(text->text, sizeof text->text)));
            TakeDriverText();
        }
        if (usbVendor == kUsbVendorNikon)
            AutofocusOn();
        ProbePreview(a);
        liveView.Probe(*this, previewWorks);
        uint16_t k;
        {
            std::lock_guard<std::mutex> lock(mutex);
            k = kind;
        }
        ApplyCaptureTarget(k);
        return cdOK;
    }

    // A Nikon body captures without autofocus unless libgphoto2's own "autofocus" setting
    // (process-wide, saved in its settings file) says "on"; what the user had is put back
    // when the camera is closed.
    void AutofocusOn()
    {
        if (!Cached({"autofocus"}))
            return;
        char buf[1024] = {};
        const bool set = gp_setting_get(const_cast<char*>("ptp2"), const_cast<char*>("autofocus"), buf) == GP_OK;
        if (set && Lower(buf) == "on")
            return;
        autofocusBefore = set ? std::optional<std::string>(buf) : std::nullopt;
        gp_setting_set(const_cast<char*>("ptp2"), const_cast<char*>("autofocus"), const_cast<char*>("on"));
    }

    // Abilities claim preview capture for bodies that cannot give one: ask the body once.
    // A body that gave a preview is taken out of its live view again.
    void ProbePreview(const CameraAbilities& a)
    {
        if (!(a.operations & GP_OPERATION_CAPTURE_PREVIEW))
            return;
        FilePtr f = NewFile();
        const int r = gp_camera_capture_preview(cam, f.get(), ctx);
        const char* data = nullptr;
        unsigned long size = 0;
        const bool works = r >= GP_OK && gp_file_get_data_and_size(f.get(), &data, &size) == GP_OK && data &&
                           size > 2 && static_cast<uint8_t>(data[0]) == 0xFF && static_cast<uint8_t>(data[1]) == 0xD8;
        TakeDriverText();
        previewWorks = works;
        if (works && Cached({"viewfinder"}))
            WriteSetting("viewfinder", "0", 0);
    }

    void Close()
    {
        if (options.beforeClose)
            options.beforeClose();
        if (cam) {
            if (connected)
                DeletePending(true);  // the camera's copies of saved pictures still go
            PutBackDriverSettings();
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

    void PutBackDriverSettings()
    {
        if (autofocusBefore) {
            const std::string before = autofocusBefore->value_or("off");  // unset reads as off
            gp_setting_set(const_cast<char*>("ptp2"), const_cast<char*>("autofocus"),
                           const_cast<char*>(before.c_str()));
        }
        if (targetChanged && targetBefore) {
            std::string name;
            if (Cached(kTargetNames, &name) && connected && WriteSetting(name, *targetBefore, 0) == cdOK)
                return;
            // The body has gone: where libgphoto2 keeps the target as its own setting, set that.
            if (usbVendor != kUsbVendorSony) {
                const char* value = Lower(*targetBefore).find("card") != std::string::npos ? "card" : "sdram";
                gp_setting_set(const_cast<char*>("ptp2"), const_cast<char*>("capturetarget"), const_cast<char*>(value));
            }
        }
    }

    // ------------------------------------------------------------ settings

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

    // Re-reads one setting (value and choices) into the cache; true when it changed.
    bool RefreshOne(const std::string& name)
    {
        CameraWidget* w = nullptr;
        if (gp_camera_get_single_config(cam, name.c_str(), &w, ctx) < GP_OK || !w) {
            TakeDriverText();
            return false;
        }
        CachedWidget c = ReadWidget(w);
        gp_widget_free(w);
        std::lock_guard<std::mutex> lock(cacheMutex);
        auto it = cache.find(name);
        const bool changed = it == cache.end() || !SameWidget(it->second, c);
        cache[name] = std::move(c);
        return changed;
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
            TakeDriverText();
            return cdERROR;
        }
        return cdOK;
    }

    // Points the body's capture target at where the kind's pictures go; an error when the
    // body would not take it (it keeps its previous target).
    cdError ApplyCaptureTarget(uint16_t k)
    {
        std::string name;
        auto w = Cached(kTargetNames, &name);
        if (!w)
            return cdOK;
        const int i = CaptureTargetChoice(w->choices, k);
        if (i < 0)
            return cdOK;
        const std::string choice = w->choices[static_cast<size_t>(i)];
        if (choice == w->value)
            return cdOK;
        if (!targetChanged)
            targetBefore = w->value;
        cdError e = WriteSetting(name, choice, 0);
        auto now = Cached(kTargetNames);
        if (e == cdOK && (!now || now->value != choice))
            e = cdERROR;
        if (e != cdOK) {
            Report(model + " did not take the capture target \"" + choice +
                   "\": pictures may not reach the PC. Check the camera's menus (a card in the camera, PC "
                   "remote mode), then connect again.");
            return e;
        }
        targetChanged = true;
        return cdOK;
    }

    // Whether the cache already holds the target a kind needs (then nothing is asked of the body).
    bool TargetFits(uint16_t k) const
    {
        auto w = Cached(kTargetNames);
        if (!w)
            return true;
        const int i = CaptureTargetChoice(w->choices, k);
        return i < 0 || w->choices[static_cast<size_t>(i)] == w->value;
    }

    // A property-changed event: the value of a named setting at once (event 27 when it
    // really changed), its choices and any unnamed change later, when the worker is idle.
    void ApplyPropertyChange(const PropertyChange& change)
    {
        if (!change.named) {
            stalePanel = true;
            return;
        }
        bool changed = false;
        {
            std::lock_guard<std::mutex> lock(cacheMutex);
            auto it = cache.find(change.name);
            if (it == cache.end())
                return;
            if (it->second.value != change.value) {
                it->second.value = change.value;
                changed = true;
            }
        }
        staleChoices.insert(change.name);
        if (changed)
            DeliverRelease(cdRELEASE_EVENT_CHANGED_BY_UI, std::nullopt);
    }

    // One step of re-reading what property events left stale; false when nothing was due.
    bool RefreshStale()
    {
        const auto now = Clock::now();
        bool changed = false;
        bool did = false;
        for (auto it = staleChoices.begin(); it != staleChoices.end();) {
            auto& last = lastChoicesRefresh[*it];
            if (now - last < kChoicesRefreshGap) {
                ++it;
                continue;
            }
            last = now;
            changed = RefreshOne(*it) || changed;
            did = true;
            it = staleChoices.erase(it);
        }
        if (stalePanel && now - lastPanelRefresh >= kPanelRefreshGap) {
            stalePanel = false;
            lastPanelRefresh = now;
            did = true;
            for (const auto* names : kPanelNames) {
                std::string name;
                if (Cached(*names, &name))
                    changed = RefreshOne(name) || changed;
            }
        }
        if (changed)
            DeliverRelease(cdRELEASE_EVENT_CHANGED_BY_UI, std::nullopt);
        return did;
    }

    // ------------------------------------------------------------ shots

    uint16_t CurrentKind()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return shot.kind.value_or(kind);
    }

    void OpenShot(bool fromRelease, std::optional<uint16_t> releaseKind)
    {
        shot = {};
        shot.open = true;
        shot.fromRelease = fromRelease;
        shot.kind = releaseKind;
        shot.started = Clock::now();
        auto format = Cached(kFormatNames);
        shot.expected = format ? FilesPerShot(format->value) : std::nullopt;
        if (!shot.expected && filesPerShotOfBody) {
            shot.expected = filesPerShotOfBody;
            shot.expectedFromBody = true;
        }
        std::optional<double> exposure;
        if (auto tv = Cached(kTvNames))
            exposure = ParseShutterSeconds(tv->value);
        shot.deadline = shot.started + milliseconds(CaptureTimeLimitMs(exposure));
    }

    void FailShot(int result, const std::string& detail, std::optional<Problem> known = std::nullopt)
    {
        const Problem problem = known.value_or(ProblemOf(result, false, detail));
        if (problem == Problem::Disconnected) {
            LoseConnection();  // answers the shot and says why
            return;
        }
        Report(ProblemMessage(problem, model, port, detail.empty() ? ResultText(result) : detail));
        shot = {};
        DeliverRelease(cdRELEASE_EVENT_RESET_HW_ERROR, HardwareErrorOf(problem, result));
    }

    // The cable came out or the body went away: a shot on its way is answered (its files
    // already in memory are announced, else it ends with no items), then the program hears
    // the shutdown, and the reason is in the problem report.
    void LoseConnection()
    {
        if (!connected.exchange(false))
            return;
        if (shot.open) {
            if (!shot.got.empty())
                FinishShot();
            else if (shot.fromRelease) {
                // Answered as a shot that brought nothing to the PC: the shutdown that follows
                // says what happened.
                shot = {};
                DeliverRelease(cdRELEASE_EVENT_RELEASE_COMPLETE, 0u);
            } else {
                shot = {};
            }
        }
        Report(ProblemMessage(Problem::Disconnected, model, port, {}));
        DeliverCameraEvent(cdEVENT_CLASS_SHUTDOWN | 0xFFFF);
    }

    cdError Capture(uint16_t releaseKind)
    {
        Stamp(&ShotTimes::captureStarted);
        if (!canTrigger && !canCapture) {
            Report(ProblemMessage(Problem::DriverCannotCapture, model, port, {}));
            DeliverRelease(cdRELEASE_EVENT_RESET_HW_ERROR, HardwareErrorOf(Problem::DriverCannotCapture,
                                                                           GP_ERROR_NOT_SUPPORTED));
            return cdNOT_SUPPORTED;
        }
        // A shot still gathering files is announced first; one still waiting for its first
        // file takes this capture's files too (the count of items stays right).
        if (shot.open && !shot.got.empty())
            FinishShot();
        DeliverRelease(cdRELEASE_EVENT_RELEASE_START, std::nullopt);
        if (!shot.open)
            OpenShot(true, releaseKind);
        shot.fromRelease = true;
        shot.kind = releaseKind;

        int r = GP_OK;
        for (size_t attempt = 0;; ++attempt) {
            CameraFilePath path{};
            r = canTrigger ? gp_camera_trigger_capture(cam, ctx)
                           : gp_camera_capture(cam, GP_CAPTURE_IMAGE, &path, ctx);
            if (r >= GP_OK && !canTrigger) {
                Stamp(&ShotTimes::triggered);
                FileAdded(path.folder, path.name);  // more files of the shot may follow as events
                return cdOK;
            }
            if (r != GP_ERROR_CAMERA_BUSY || attempt >= std::size(kBusyRetryMs) || cancel)
                break;
            // Still busy with the previous frame: give it a moment, listening to its events.
            TakeDriverText();
            const auto until = Clock::now() + milliseconds(kBusyRetryMs[attempt]);
            while (Clock::now() < until && !cancel && connected) {
                const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
                if (!PollOnce(static_cast<int>(std::clamp<long long>(left, 1, 50))))
                    std::this_thread::sleep_for(milliseconds(std::clamp<long long>(left, 0, 10)));
            }
            if (!connected)
                return cdOK;  // the shot was answered as the camera went
            if (!shot.open)  // the events finished the shot the retry belongs to: open it again
                OpenShot(true, releaseKind);
        }
        if (r < GP_OK) {
            FailShot(r, TakeDriverText());
            return cdOK;
        }
        Stamp(&ShotTimes::triggered);
        // The body is busy taking the picture: the time to let go of saved ones.
        DeletePending();
        return cdOK;
    }

    void DeletePending(bool atClose = false)
    {
        if (toDelete.empty())
            return;
        finishingDeletions = atClose;
        while (!toDelete.empty() && connected && (atClose || !cancel)) {
            const Delivered d = std::move(toDelete.front());
            toDelete.pop_front();
            DeleteOnCamera(d);
        }
        finishingDeletions = false;
        eventsQueued = true;
    }

    // Fetches one file into memory; null when the camera would not hand it over.
    FilePtr Download(const std::string& folder, const std::string& name, CameraFileType type)
    {
        FilePtr file = NewFile();
        const auto start = Clock::now();
        const int r = gp_camera_file_get(cam, folder.c_str(), name.c_str(), type, file.get(), ctx);
        if (transferSeconds)
            *transferSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (r >= GP_OK)
            return file;
        const std::string detail = TakeDriverText();
        platform::DebugTrace("Gphoto2Camera: download of " + name + ": " + ResultText(r) + "\n");
        shot.downloadFailure = r;
        shot.downloadDetail = (detail.empty() ? ResultText(r) : detail) + " (" + folder + "/" + name + ")";
        return nullptr;
    }

    // The camera reported a new file: it joins the shot (or opens one for the body's own
    // shutter button, or is the late JPEG of the shot announced last), and what the shot's
    // kind sends to the PC is downloaded at once.
    void FileAdded(const std::string& folder, const std::string& name)
    {
        const FileKind fk = ClassifyFileName(name);
        const auto now = Clock::now();
        if (!shot.open && lastShot && !lastShot->rawBase.empty() && !lastShot->hadJpeg &&
            BaseName(name) == lastShot->rawBase && IsJpegName(name) && now - lastShot->at < kLateFileWindow) {
            LateJpeg(folder, name, fk);
            return;
        }
        if (!shot.open) {
            // The body's own shutter button: the same events as a release from the PC.
            DeliverRelease(cdRELEASE_EVENT_RELEASE_START, std::nullopt);
            OpenShot(false, std::nullopt);
        }
        if (shot.files == 0)
            Stamp(&ShotTimes::firstFile);
        ++shot.files;
        shot.lastFile = now;
        // A RAW from a body whose capture formats promised JPEG only: the promise is off.
        if (fk.known && fk.format == cdFORMAT_RAW && shot.expectedFromBody) {
            shot.expected.reset();
            shot.expectedFromBody = false;
        }
        if (fk.known) {
            const uint16_t k = CurrentKind();
            const bool pictToPc = k & cdREL_KIND_PICT_TO_PC;
            const bool thumbToPc = k & cdREL_KIND_THUMB_TO_PC;
            if (pictToPc) {
                if (FilePtr f = Download(folder, name, GP_FILE_TYPE_NORMAL))
                    shot.got.push_back({folder, name, fk, false, std::move(f)});
                // A CRW comes with its thumbnail (saved as THM) when the kind asks for it.
                if (thumbToPc && Lower(name).ends_with(".crw")) {
                    if (FilePtr t = Download(folder, name, GP_FILE_TYPE_PREVIEW))
                        shot.got.push_back({folder, name, fk, true, std::move(t)});
                }
            } else if (thumbToPc) {
                // Pictures stay on the card: one thumbnail comes to the PC.
                const bool haveThumb = std::any_of(shot.got.begin(), shot.got.end(), [](const Got& g) {
                    return g.preview || g.kind.dataType == cdDATA_TYPE_THUMBNAIL;
                });
                if (!haveThumb) {
                    const bool thm = fk.dataType == cdDATA_TYPE_THUMBNAIL;
                    FilePtr t = Download(folder, name, thm ? GP_FILE_TYPE_NORMAL : GP_FILE_TYPE_PREVIEW);
                    if (!t && IsJpegName(name)) {
                        // A body without thumbnails: the picture itself stands in for one.
                        const int failure = shot.downloadFailure;
                        t = Download(folder, name, GP_FILE_TYPE_NORMAL);
                        if (t)
                            shot.downloadFailure = GP_OK;
                        else
                            shot.downloadFailure = failure;
                    }
                    if (t)
                        shot.got.push_back({folder, name, fk, !thm, std::move(t)});
                }
            }
            // A download cut off by a pulled cable: what is in memory still goes to the PC.
            if (shot.downloadFailure != GP_OK &&
                ProblemOf(shot.downloadFailure, false, shot.downloadDetail) == Problem::Disconnected) {
                shot.downloadFailure = GP_OK;
                LoseConnection();
                return;
            }
        }
        if (ShotIsWhole())
            FinishShot();
    }

    // All the files the shot gives are in: as many as its format says, or a RAW and the
    // JPEG of the same name (a shot never has two).
    bool ShotIsWhole() const
    {
        if (shot.expected && shot.files >= *shot.expected)
            return true;
        std::set<std::string> raws, jpegs;
        for (const Got& g : shot.got) {
            if (g.preview)
                continue;
            if (g.kind.format == cdFORMAT_RAW)
                raws.insert(BaseName(g.name));
            else if (g.kind.dataType == cdDATA_TYPE_PICTURE)
                jpegs.insert(BaseName(g.name));
        }
        for (const std::string& r : raws)
            if (jpegs.count(r))
                return true;
        return false;
    }

    // The JPEG of the shot announced last, come after it: announced as that shot's JPEG.
    void LateJpeg(const std::string& folder, const std::string& name, const FileKind& fk)
    {
        LastShot& last = *lastShot;
        last.hadJpeg = true;
        if (!(last.kind & cdREL_KIND_PICT_TO_PC))
            return;
        shot.downloadFailure = GP_OK;
        FilePtr f = Download(folder, name, GP_FILE_TYPE_NORMAL);
        if (!f) {
            Report(ProblemMessage(Problem::DownloadFailed, model, port, shot.downloadDetail));
            shot.downloadFailure = GP_OK;
            return;
        }
        ReadyItem item;
        item.sequence = last.sequence;
        item.dataType = cdDATA_TYPE_PLUS_JPEG;
        item.format = fk.format;
        item.folder = folder;
        item.name = name;
        item.deleteWhenSaved = !(last.kind & cdREL_KIND_PICT_TO_CAM) && folder != "/";
        item.file = std::move(f);
        DeliverRelease(cdRELEASE_EVENT_RELEASE_START, std::nullopt);
        {
            std::lock_guard<std::mutex> lock(mutex);
            items.push_back(std::move(item));
        }
        DeliverRelease(cdRELEASE_EVENT_RELEASE_COMPLETE, 1u);
    }

    // Turns the shot's files into items for the PC and announces them, at most
    // kMaxItemsPerAnnouncement at a time.
    void FinishShot()
    {
        const uint16_t k = CurrentKind();
        const bool pictToPc = k & cdREL_KIND_PICT_TO_PC;
        const bool thumbToPc = k & cdREL_KIND_THUMB_TO_PC;
        const bool keepsCopy = k & cdREL_KIND_PICT_TO_CAM;
        const uint32_t seq = ++sequence;
        Stamp(&ShotTimes::downloaded);
        auto itemOf = [&](const Got& g, uint32_t dataType, uint8_t format) {
            ReadyItem item;
            item.sequence = seq;
            item.dataType = dataType;
            item.format = format;
            item.folder = g.folder;
            item.name = g.name;
            item.deleteWhenSaved = !g.preview && !keepsCopy && g.folder != "/";
            item.file = g.file;
            return item;
        };
        std::vector<ReadyItem> raws, jpegs, thumbs, out;
        LastShot last;
        last.kind = k;
        last.sequence = seq;
        last.at = Clock::now();
        last.completeSeen = shot.complete;
        for (const Got& g : shot.got) {
            if (g.preview || g.kind.dataType == cdDATA_TYPE_THUMBNAIL) {
                thumbs.push_back(itemOf(g, cdDATA_TYPE_THUMBNAIL, cdFORMAT_JPEG));
            } else if (g.kind.format == cdFORMAT_RAW) {
                raws.push_back(itemOf(g, cdDATA_TYPE_PICTURE, cdFORMAT_RAW));
                if (last.rawBase.empty())
                    last.rawBase = BaseName(g.name);
            } else {
                jpegs.push_back(itemOf(g, cdDATA_TYPE_PICTURE, cdFORMAT_JPEG));
                last.hadJpeg = true;
            }
        }
        if (pictToPc) {
            if (thumbToPc)
                out.insert(out.end(), thumbs.begin(), thumbs.end());
            out.insert(out.end(), raws.begin(), raws.end());
            for (ReadyItem& j : jpegs) {
                if (!raws.empty())
                    j.dataType = cdDATA_TYPE_PLUS_JPEG;  // the JPEG of a RAW + JPEG shot
                out.push_back(std::move(j));
            }
        } else if (thumbToPc && !thumbs.empty()) {
            out.push_back(std::move(thumbs.front()));
        }
        const bool fromRelease = shot.fromRelease;
        const int failure = shot.downloadFailure;
        const std::string failureDetail = shot.downloadDetail;
        shot = {};
        lastShot = last;
        lastShotEnd = Clock::now();
        if (failure != GP_OK)
            Report(ProblemMessage(Problem::DownloadFailed, model, port, failureDetail));
        if (out.empty() && failure != GP_OK && fromRelease) {
            // Nothing reached the PC because the camera would not hand it over: the release
            // is answered with the reason, not left waiting.
            DeliverRelease(cdRELEASE_EVENT_RESET_HW_ERROR, HardwareErrorOf(Problem::DownloadFailed, failure));
            return;
        }
        size_t at = 0;
        do {
            const size_t n = std::min(kMaxItemsPerAnnouncement, out.size() - at);
            if (at > 0)
                DeliverRelease(cdRELEASE_EVENT_RELEASE_START, std::nullopt);
            {
                std::lock_guard<std::mutex> lock(mutex);
                for (size_t i = at; i < at + n; ++i)
                    items.push_back(std::move(out[i]));
            }
            Stamp(&ShotTimes::announced);
            DeliverRelease(cdRELEASE_EVENT_RELEASE_COMPLETE, static_cast<uint32_t>(n));
            at += n;
        } while (at < out.size());
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
            const std::string detail = TakeDriverText();
            const Problem p = ProblemOf(r, false, detail);
            if (p == Problem::Disconnected && (r == GP_ERROR_IO_USB_FIND || ++ioFailures >= 3))
                LoseConnection();
            return false;
        }
        ioFailures = 0;
        const bool happened = type != GP_EVENT_TIMEOUT;
        switch (type) {
        case GP_EVENT_FILE_ADDED:
            if (auto* path = static_cast<CameraFilePath*>(data))
                FileAdded(path->folder, path->name);
            break;
        case GP_EVENT_CAPTURE_COMPLETE:
            // The shot announced last may not have heard its own yet.
            if (lastShot && !lastShot->completeSeen && Clock::now() - lastShot->at < kLateCompleteWindow) {
                lastShot->completeSeen = true;
            } else if (shot.open) {
                shot.complete = true;
                shot.completeAt = Clock::now();
            }
            break;
        case GP_EVENT_UNKNOWN: {
            const std::string text = data ? static_cast<const char*>(data) : "";
            if (IsStoreFullEvent(text)) {
                if (shot.open && !shot.got.empty()) {
                    // What the camera reported before it ran full is kept.
                    Report(ProblemMessage(Problem::CardFull, model, port, text));
                    FinishShot();
                } else if (shot.open) {
                    FailShot(GP_ERROR_NO_SPACE, text);
                }
                break;
            }
            if (auto change = ParsePropertyChange(text))
                ApplyPropertyChange(*change);
            break;
        }
        default: break;
        }
        free(data);
        return happened;
    }

    // The moment the open shot has to be looked at again (a quiet spell ends, a deadline).
    Clock::time_point ShotCheckAt() const
    {
        if (!shot.open)
            return Clock::time_point::max();
        if (shot.files == 0)
            return shot.deadline;
        if (shot.expected)
            return shot.complete ? shot.completeAt + kMissingFileAfterComplete
                                 : shot.lastFile + kMissingFileWithoutComplete;
        auto at = shot.lastFile + milliseconds(options.shotQuietMs);
        if (shot.complete)
            at = std::min(at, std::max(shot.lastFile, shot.completeAt) + milliseconds(options.completeQuietMs));
        return at;
    }

    void CheckShot()
    {
        if (!shot.open || Clock::now() < ShotCheckAt())
            return;
        if (shot.files == 0)
            FailShot(GP_ERROR_CAMERA_ERROR, "the camera reported no picture");
        else
            FinishShot();
    }

    void Run(std::shared_ptr<std::promise<cdError>> opened)
    {
        ScopedCLocale cLocale;
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
                } else if (frameJob && Clock::now() - lastPoll < kEventLookDuringLiveView) {
                    // Releases, downloads and settings go first; the camera's events are
                    // still looked at between frames.
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
            if (!connected)
                continue;
            // Nothing queued: listen to the camera, the way its driver hears it.
            const auto start = Clock::now();
            PollTiming t = PollTimingOf(eventPath, shot.open);
            if (shot.open) {
                const auto left = std::chrono::duration_cast<milliseconds>(ShotCheckAt() - start).count();
                const int bound = static_cast<int>(std::clamp<long long>(left, 1, 1000));
                t.waitMs = std::min(t.waitMs, bound);
                t.cycleMs = std::min(t.cycleMs, bound);
            }
            lastPoll = Clock::now();
            const bool happened = PollOnce(eventsQueued ? 1 : t.waitMs);
            eventsQueued = false;
            CheckShot();
            if (happened || !connected)
                continue;
            if (!shot.open && RefreshStale())
                continue;
            // Saved pictures still on the camera go once it has been idle a moment, or when
            // many have gathered (pictures from the body's own button).
            if (!shot.open && !toDelete.empty() &&
                (toDelete.size() >= kDeleteBacklog || Clock::now() - lastShotEnd >= kDeleteWhenIdle)) {
                DeletePending();
                continue;
            }
            // A look that found nothing lasts its cycle; a queued call ends the wait at once.
            const auto until = start + milliseconds(t.cycleMs);
            std::unique_lock<std::mutex> lock(mutex);
            cv.wait_until(lock, until, [this] { return closing || !jobs.empty() || frameJob; });
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

    // Deletes the camera's copy of a picture now safely on the PC; a failure is reported
    // once a session.
    cdError DeleteOnCamera(const Delivered& d)
    {
        const int r = gp_camera_file_delete(cam, d.folder.c_str(), d.name.c_str(), ctx);
        if (r >= GP_OK)
            return cdOK;
        const std::string detail = TakeDriverText();
        platform::DebugTrace("Gphoto2Camera: deleting " + d.folder + "/" + d.name + ": " + ResultText(r) + "\n");
        if (!deleteFailureReported) {
            deleteFailureReported = true;
            Report(ProblemMessage(Problem::DeleteFailed, model, port, detail.empty() ? ResultText(r) : detail));
        }
        return cdERROR;
    }
};

// ---------------------------------------------------------------- detection

std::vector<DetectedCamera> DetectCameras(std::string* error)
{
    ScopedCLocale cLocale;
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
    reportFn_->fn = [userReport](const std::string& message) {
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

ShotTimes Gphoto2Camera::LastShotTimes() const
{
    std::shared_ptr<Session> s;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!sessions_.empty())
            s = sessions_.begin()->second;
    }
    if (!s)
        return {};
    std::lock_guard<std::mutex> lock(s->mutex);
    return s->times;
}

std::string Gphoto2Camera::LastProblem() const
{
    std::lock_guard<std::mutex> lock(reportFn_->mutex);
    return reportFn_->last;
}

bool Gphoto2Camera::PreviewCaptureWorks(cdHSource source) const
{
    auto s = Find(source);
    return s && s->previewWorks;
}

bool Gphoto2Camera::PollsForEvents(cdHSource source) const
{
    auto s = Find(source);
    return s && s->pollsForEvents;
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
    std::shared_ptr<Session> previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [h, other] : sessions_) {
            if (other->port == s->port)
                return cdDEVICE_BUSY;
        }
        auto it = closing_.find(s->port);
        if (it != closing_.end())
            previous = it->second;
    }
    // This program's own last connection to the port may still be letting go of the
    // camera (its close timed out): wait for it rather than blame another program.
    if (previous) {
        bool done;
        {
            std::unique_lock<std::mutex> lock(previous->mutex);
            done = previous->cv.wait_for(lock, milliseconds(options_.reopenWaitMs), [&] { return previous->finished; });
        }
        if (!done) {
            Report(ProblemMessage(Problem::StillClosing, s->model, s->port, {}));
            return cdDEVICE_BUSY;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_[s->port] == previous)
            closing_.erase(s->port);
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
        s->delivered.reset();
    }
    s->cancel = true;
    s->cv.notify_all();
    if (onWorker) {
        s->worker.detach();
        std::lock_guard<std::mutex> lock(mutex_);
        closing_[s->port] = s;
        return cdOK;
    }
    { std::lock_guard<std::mutex> wait(s->dispatch); }  // a callback in flight ends first
    bool done;
    {
        std::unique_lock<std::mutex> lock(s->mutex);
        done = s->cv.wait_for(lock, milliseconds(options_.closeWaitMs), [&] { return s->finished; });
    }
    if (done) {
        s->worker.join();
    } else {
        s->worker.detach();  // it holds its own reference and finishes when the camera lets it
        std::lock_guard<std::mutex> lock(mutex_);
        closing_[s->port] = s;
    }
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
    if (s->TargetFits(kind))
        return cdOK;
    // The body must be pointed elsewhere: on the worker, before any capture queued after
    // this, and the caller hears whether the body took it.
    Session* raw = s.get();
    return s->Call([raw, kind] { return raw->ApplyCaptureTarget(kind); });
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
    ReadyItem item;
    {
        // Announced items are already in memory: they are delivered also after the cable
        // came out, until the source is closed.
        std::lock_guard<std::mutex> lock(s->mutex);
        if (s->closing)
            return cdCOMM_ERROR;
        if (s->items.empty())
            return cdERROR;
        item = std::move(s->items.front());
        s->items.pop_front();
    }
    const char* data = nullptr;
    unsigned long size = 0;
    if (!item.file || gp_file_get_data_and_size(item.file.get(), &data, &size) != GP_OK)
        return cdERROR;
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
        uint32_t reported = 0;
        while (done < size) {
            uint32_t n = static_cast<uint32_t>(std::min<size_t>(kChunk, size - done));
            stream.write(stream.contextH, data + done, &n, &err);
            if (err || n == 0) {  // a stream that takes nothing would never finish
                result = cdSTREAM_ERROR;
                break;
            }
            done += std::min<size_t>(n, size - done);
            const uint32_t percent = static_cast<uint32_t>(std::min<unsigned long>(99, 100 * done / size));
            if (fn && percent > reported && done < size) {
                reported = percent;
                fn(percent, 0, ctx);
            }
        }
        stream.close(stream.contextH, &err);
    }
    if (result != cdOK)
        return result;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->delivered = Delivered{item.folder, item.name, item.deleteWhenSaved};
    }
    if (fn)
        fn(100, 0, ctx);
    return cdOK;
}

cdError Gphoto2Camera::CDReleasedItemSaved(cdHSource source)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    std::optional<Delivered> d;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        d = std::move(s->delivered);
        s->delivered.reset();
    }
    if (!d || !d->deleteWhenSaved)
        return cdOK;
    Session* raw = s.get();
    s->Post([raw, item = *d] {
        raw->toDelete.push_back(item);
        return cdOK;
    });
    return cdOK;
}

cdError Gphoto2Camera::CDGetTransferPause(cdHSource source, uint32_t* milliseconds)
{
    if (!Find(source))
        return cdINVALID_HANDLE;
    if (!milliseconds)
        return cdINVALID_PARAMETER;
    *milliseconds = 0;  // announced items are already in memory
    return cdOK;
}

cdError Gphoto2Camera::CDGetProblemReport(cdHSource source, char* buffer, uint32_t* size)
{
    if (source != 0 && !Find(source))
        return cdINVALID_HANDLE;
    if (!buffer || !size || *size == 0)
        return cdINVALID_PARAMETER;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(reportFn_->mutex);
        text = std::move(reportFn_->pending);
        reportFn_->pending.clear();
    }
    size_t n = std::min<size_t>(text.size(), *size - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;  // cut at a character boundary
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    *size = static_cast<uint32_t>(n);
    return cdOK;
}

cdError Gphoto2Camera::SetConfigValue(cdHSource source, const std::string& name, const std::string& value)
{
    auto s = Find(source);
    if (!s)
        return cdINVALID_HANDLE;
    Session* raw = s.get();
    const float number = static_cast<float>(ParseExposureStops(value).value_or(0));  // any plain number
    return s->Call([raw, name, value, number] { return raw->WriteSetting(name, value, number); });
}

std::string Gphoto2Camera::ConfigValue(cdHSource source, const std::string& name) const
{
    auto s = Find(source);
    if (!s)
        return {};
    auto w = s->Cached({name});
    return w ? w->value : std::string();
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

// The body's own choices of a numeric setting, with the program's codes and labels.
std::vector<cdSettingChoice> ChoicesOf(const CachedWidget& w, NumericSetting setting)
{
    std::vector<cdSettingChoice> out;
    auto add = [&](const std::string& text) {
        const auto code = CodeFromText(setting, text);
        const std::string label = PanelLabel(setting, text);
        if (!code || label.empty())
            return;
        for (const cdSettingChoice& c : out)
            if (c.code == *code)
                return;
        cdSettingChoice c{};
        c.code = *code;
        std::snprintf(c.label, sizeof c.label, "%s", label.c_str());
        out.push_back(c);
    };
    if (w.type == GP_WIDGET_RADIO || w.type == GP_WIDGET_MENU) {
        for (const std::string& choice : w.choices)
            add(choice);
    } else if (w.type == GP_WIDGET_RANGE && w.step > 0 && (w.max - w.min) / w.step < 400) {
        for (float v = w.min; v <= w.max + w.step / 2; v += w.step)
            add(NumberText(static_cast<double>(v)));
    } else if (!w.value.empty()) {
        add(w.value);
    }
    return out;
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

// Every body on libgphoto2 is described by the body itself: what it has, and what it takes now.
cdError Gphoto2Camera::CDGetOfferedSettings(cdHSource source, uint32_t* present, uint32_t* settable)
{
    GPHOTO2_SESSION(source);
    if (!present || !settable)
        return cdINVALID_PARAMETER;
    *present = 0;
    *settable = 0;
    const std::pair<const std::vector<std::string>*, uint32_t> settings[] = {
        {&kTvNames, cdOFFERS_TV},
        {&kAvNames, cdOFFERS_AV},
        {&kIsoNames, cdOFFERS_ISO},
        {&kEvNames, cdOFFERS_EXPOSURE_COMP},
        {&kFormatNames, cdOFFERS_SIZE_QUALITY},
        {&kWbNames, cdOFFERS_WHITE_BALANCE},
        {&kColourTempNames, cdOFFERS_COLOUR_TEMP},
        {&kMeteringNames, cdOFFERS_METERING},
        {&kDriveNames, cdOFFERS_DRIVE},
        {&kAfNames, cdOFFERS_AF_MODE},
        {&kModeNames, cdOFFERS_SHOOTING_MODE},
    };
    for (const auto& [names, bit] : settings) {
        if (auto w = s->Cached(*names)) {
            // A format the program cannot read would leave an empty list: not offered.
            if (bit == cdOFFERS_SIZE_QUALITY && !ImageFormatFromText(w->value).quality)
                continue;
            *present |= bit;
            if (!w->readOnly && (bit == cdOFFERS_SHOOTING_MODE || !w->choices.empty() || w->type == GP_WIDGET_RANGE ||
                                 w->type == GP_WIDGET_TEXT))
                *settable |= bit;
        }
    }
    *settable &= ~cdOFFERS_SHOOTING_MODE;  // the exposure program is read only
    return cdOK;
}

cdError Gphoto2Camera::CDGetSettingChoices(cdHSource source, uint32_t setting, cdSettingChoice* choices,
                                           uint32_t* count)
{
    GPHOTO2_SESSION(source);
    if (!count)
        return cdINVALID_PARAMETER;
    NumericSetting which;
    switch (setting) {
    case cdOFFERS_TV: which = NumericSetting::Tv; break;
    case cdOFFERS_AV: which = NumericSetting::Av; break;
    case cdOFFERS_ISO: which = NumericSetting::Iso; break;
    case cdOFFERS_EXPOSURE_COMP: which = NumericSetting::ExposureComp; break;
    default: return cdNOT_SUPPORTED;
    }
    auto w = s->Cached(NamesOf(which));
    if (!w)
        return cdNOT_SUPPORTED;
    const std::vector<cdSettingChoice> list = ChoicesOf(*w, which);
    if (!choices || *count < list.size()) {
        *count = static_cast<uint32_t>(list.size());
        return cdINVALID_PARAMETER;
    }
    std::copy(list.begin(), list.end(), choices);
    *count = static_cast<uint32_t>(list.size());
    return cdOK;
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
