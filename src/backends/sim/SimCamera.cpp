#include "backends/sim/SimCamera.h"

#include "backends/sim/SimPictures.h"
#include "camera/ImageItems.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

using namespace cdsdk;

namespace sim {

const char* const kSimModels[] = {
    "Canon EOS 10D",  "Canon EOS 300D DIGITAL", "Canon EOS DIGITAL REBEL", "Canon EOS Kiss Digital",
    "Canon EOS D60",  "Canon EOS D30",          "Canon EOS-1D",            "Canon EOS-1DS",
};
const int kSimModelCount = static_cast<int>(sizeof(kSimModels) / sizeof(kSimModels[0]));

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Codes the body accepts, by setting. Shutter speeds and apertures follow the eighth-stop
// scale with thirds (3, 5) and halves (4).
bool IsStopCode(uint16_t code, uint16_t lo, uint16_t hi)
{
    if (code < lo || code > hi)
        return false;
    uint16_t frac = code & 7;
    return frac == 0 || frac == 3 || frac == 4 || frac == 5;
}

enum class Family { Eos10D, Eos300D, D60, D30, Eos1D, Other };

Family FamilyOf(const std::string& model)
{
    std::string u = Upper(model);
    if (u.find("EOS 10D") != std::string::npos)
        return Family::Eos10D;
    if (u.find("EOS 300D") != std::string::npos || u.find("EOS DIGITAL REBEL") != std::string::npos ||
        u.find("EOS KISS") != std::string::npos)
        return Family::Eos300D;
    if (u.find("EOS D60") != std::string::npos)
        return Family::D60;
    if (u.find("EOS D30") != std::string::npos)
        return Family::D30;
    if (u.find("EOS-1D") != std::string::npos)
        return Family::Eos1D;
    return Family::Other;
}

// Custom functions each body has (function numbers as the camera reports them).
int CustomFunctionCount(Family f)
{
    switch (f) {
    case Family::Eos10D: return 18;
    case Family::Eos300D: return 0;
    case Family::D60: return 15;
    case Family::D30: return 14;
    case Family::Eos1D: return 21;
    case Family::Other: return 10;
    }
    return 0;
}

uint16_t HighestIso(Family f)
{
    switch (f) {
    case Family::Eos10D: return 0x70;   // 3200 with the ISO expansion
    case Family::D60: return 0x63;      // 1000
    default: return 0x68;               // 1600
    }
}

bool HasKelvin(Family f) { return f == Family::Eos10D || f == Family::Eos1D || f == Family::Other; }

// The bodies whose processing parameters include Adobe RGB (the EOS 300D's do not).
bool HasAdobeRgb(Family f) { return f == Family::Eos10D || f == Family::Eos1D || f == Family::Other; }

bool IsCreative(uint16_t mode) { return mode == 1 || mode == 2 || mode == 3 || mode == 4 || mode == 5 || mode == 7; }

constexpr size_t kChunk = 64 * 1024;

}  // namespace

struct SimulatedCamera::Camera {
    Family family = Family::Other;
    uint16_t tv = 0x70;          // 1/125
    uint16_t av = 0x30;          // f/5.6
    uint16_t expComp = 0x18;
    uint16_t flashMode = 0;
    uint16_t flashComp = 0x18;
    uint16_t quality = 3;        // fine
    uint16_t size = 0;           // large
    uint16_t wb = 0;
    uint16_t colourTemp = 5200;
    uint16_t metering = 3;
    uint16_t iso = 0x48;
    uint16_t afMode = 0;
    uint16_t afPoint = 0x7001;   // automatic selection
    uint16_t drive = 0;
    uint16_t mode = 4;           // manual
    uint16_t parameterSet = 0;
    uint16_t focalDivisor = 10, focalCurrent = 500, focalShort = 280, focalLong = 1350;
    uint16_t avOpen = 0x25, avMax = 0x58;  // f/3.5 .. f/32
    std::array<uint16_t, 30> customFunctions{};
    int orientation = 1;
    bool lcdOn = false;
};

SimulatedCamera::SimulatedCamera(SimConfig config)
    : config_(std::move(config)), cam_(std::make_unique<Camera>()), itemStore_(std::make_unique<ImageItemStore>())
{
    cam_->family = FamilyOf(config_.model);
    cam_->lcdOn = config_.lcdOn;
    focus_ = kFocusTravel;  // the lens rests at infinity
    frames_ = std::make_unique<LiveViewFrames>();
    eventThread_ = std::thread([this] { EventLoop(); });
}

SimulatedCamera::~SimulatedCamera()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    eventThread_.join();
}

// ---------------------------------------------------------------- event thread

void SimulatedCamera::Post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_all();
}

void SimulatedCamera::EventLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            return;
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

void SimulatedCamera::DeliverReleaseEvent(uint32_t event, const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> dispatch(dispatchMutex_);
    cdReleaseEventCallbackFunction fn;
    cdContext ctx;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fn = releaseFn_;
        ctx = releaseCtx_;
    }
    if (fn)
        fn(event, data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()), ctx);
}

void SimulatedCamera::DeliverCameraEvent(uint32_t code)
{
    std::lock_guard<std::mutex> dispatch(dispatchMutex_);
    cdEventCallbackFunction fn;
    cdContext ctx;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fn = eventFn_;
        ctx = eventCtx_;
    }
    if (fn)
        fn(code, nullptr, 0, ctx);
}

static std::vector<uint8_t> U32Data(uint32_t v)
{
    std::vector<uint8_t> d(4);
    std::memcpy(d.data(), &v, 4);
    return d;
}

void SimulatedCamera::Shoot(bool fromBody, uint16_t releaseKind)
{
    // The shot is in flight (live view answers busy) until its items are queued or it ends.
    struct InFlight {
        SimulatedCamera* self;
        ~InFlight()
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            --self->shotsInFlight_;
        }
    } inFlight{this};
    uint16_t kind;
    bool fail;
    uint32_t hwError = 0;
    uint32_t goesOff = 0;  // a shutdown cause when an armed fault makes the camera go off
    cdHSource source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!state_.connected || openSource_ == 0)
            return;
        // Without release control the body saves to its card and tells the PC nothing.
        if (fromBody && !state_.releaseControl)
            return;
        source = openSource_;
        kind = fromBody ? state_.releaseKind : releaseKind;
        // Faults armed for this shot.
        for (const ArmedFault& armed : config_.armedFaults) {
            if (armed.atShot != state_.releases + 1)
                continue;
            switch (armed.fault) {
            case SimFault::Autofocus: failNextAf_ = true; break;
            case SimFault::DownloadHalfway: stopNextDownload_ = true; break;
            case SimFault::UnplugDuringDownload: unplugNextDownload_ = true; break;
            case SimFault::CardDoor: goesOff = cdSHUTDOWN_CF_GATE_OPEN; break;
            case SimFault::Battery: goesOff = cdSHUTDOWN_BATT_COVER_OPEN; break;
            case SimFault::Cable:
                goesOff = 0xFFFF;
                state_.connected = false;
                break;
            }
        }
        fail = failNextAf_;
        failNextAf_ = false;
        if (fail)
            hwError = cdHW_ERROR_AF_FAILED;
        else if (!state_.cardPresent && (kind & (cdREL_KIND_THUMB_TO_CAM | cdREL_KIND_PICT_TO_CAM)))
            hwError = cdHW_ERROR_NO_CF_CARD;
        state_.releases++;
    }
    if (goesOff) {
        // The camera goes off as the shutter is pressed: no picture, only the shutdown.
        wake_.notify_all();
        DeliverCameraEvent(cdEVENT_CLASS_SHUTDOWN | (goesOff & cdEVENT_NUMBER_MASK));
        return;
    }
    if (hwError) {
        DeliverReleaseEvent(cdRELEASE_EVENT_RESET_HW_ERROR, U32Data(hwError));
        return;
    }
    DeliverReleaseEvent(cdRELEASE_EVENT_RELEASE_START, {});
    if (config_.exposureMs > 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(config_.exposureMs),
                       [&] { return stopping_ || openSource_ != source || !state_.connected; });
    }
    uint32_t sequence;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sequence = ++sequence_;
    }
    std::vector<Item> items = MakeItems(kind, sequence);
    uint32_t count = static_cast<uint32_t>(items.size());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!state_.connected || openSource_ != source)
            return;
        for (auto& item : items)
            items_.push_back(std::move(item));
        state_.itemsQueued = static_cast<int>(items_.size());
        state_.itemsAnnounced += count;
    }
    DeliverReleaseEvent(cdRELEASE_EVENT_RELEASE_COMPLETE, U32Data(count));
}

std::vector<SimulatedCamera::Item> SimulatedCamera::MakeItems(uint16_t kind, uint32_t sequence)
{
    SimPictureParams p;
    const bool tiffRaw = config_.tiffRaw;
    bool raw;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        raw = cam_->quality == 4;
        p.model = config_.model;
        SimModelSizes sizes = SizesForModel(config_.model);
        int idx = std::min<int>(cam_->size, 2);
        p.width = config_.pictureWidth > 0 ? config_.pictureWidth : sizes.width[idx];
        p.height = config_.pictureHeight > 0 ? config_.pictureHeight : sizes.height[idx];
        p.jpegQuality = JpegQualityForCode(cam_->quality);
        p.tvCode = cam_->tv;
        p.avCode = cam_->av;
        p.exifOrientation = cam_->orientation;
        p.sevenPointAfMask = SevenPointAfMaskFor(cam_->afPoint, config_.seed + sequence);
        p.threePointAf = ThreePointAfValueFor(cam_->afPoint, config_.seed + sequence);
        p.hasFortyFivePointAf = cam_->family == Family::Eos1D;
        p.adobeRgb = RecordsAdobeRgb(config_.model, cam_->parameterSet);
        if (p.hasFortyFivePointAf)
            p.fortyFivePointAf = FortyFivePointAfCentre();
        p.captureTime = static_cast<int64_t>(std::time(nullptr));
        p.seed = config_.seed + sequence * 7919u;
        p.frameNumber = sequence;
        p.focusPosition = focus_;
        p.expCompCode = cam_->expComp;
    }
    std::vector<Item> out;
    auto add = [&](uint32_t type, uint8_t format, std::vector<uint8_t> bytes) {
        Item item;
        item.info.SequenceID = sequence;
        item.info.DataType = type;
        item.info.Format = format;
        item.info.DataSize = static_cast<uint32_t>(bytes.size());
        item.bytes = std::move(bytes);
        out.push_back(std::move(item));
    };
    const bool pictToPc = kind & cdREL_KIND_PICT_TO_PC;
    const bool thumbToPc = kind & cdREL_KIND_THUMB_TO_PC;
    if (raw && !tiffRaw) {
        if (thumbToPc)
            add(cdDATA_TYPE_THUMBNAIL, cdFORMAT_JPEG, MakeSimThumbnail(p));
        if (pictToPc)
            add(cdDATA_TYPE_PICTURE, cdFORMAT_RAW, MakeSimCrw(p, config_.rawFillerBytes));
    } else if (raw && tiffRaw) {
        if (pictToPc) {
            add(cdDATA_TYPE_PICTURE, cdFORMAT_RAW, MakeSimTiff(p, 160, 106));
            add(cdDATA_TYPE_PLUS_JPEG, cdFORMAT_JPEG, MakeSimJpeg(p));
        } else if (thumbToPc) {
            add(cdDATA_TYPE_THUMBNAIL, cdFORMAT_JPEG, MakeSimThumbnail(p));
        }
    } else {
        if (pictToPc)
            add(cdDATA_TYPE_PICTURE, cdFORMAT_JPEG, MakeSimJpeg(p));
        else if (thumbToPc)
            add(cdDATA_TYPE_THUMBNAIL, cdFORMAT_JPEG, MakeSimThumbnail(p));
    }
    return out;
}

// ---------------------------------------------------------------- the body

void SimulatedCamera::PressShutterButton()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++shotsInFlight_;
    }
    Post([this] { Shoot(true, 0); });
}

void SimulatedCamera::TurnModeDial(uint16_t shootingMode)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cam_->mode = shootingMode;
    }
    Post([this] { DeliverReleaseEvent(cdRELEASE_EVENT_CHANGED_BY_UI, {}); });
}

void SimulatedCamera::SetLcdOn(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cam_->lcdOn = on;
}

void SimulatedCamera::OpenCardDoor() { SendShutdown(cdSHUTDOWN_CF_GATE_OPEN); }
void SimulatedCamera::PullBattery() { SendShutdown(cdSHUTDOWN_BATT_COVER_OPEN); }

void SimulatedCamera::Unplug()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.connected = false;
    }
    wake_.notify_all();
    SendShutdown(0xFFFF);
}

void SimulatedCamera::SendShutdown(uint32_t cause)
{
    SendCameraEvent(cdEVENT_CLASS_SHUTDOWN | (cause & cdEVENT_NUMBER_MASK));
}

void SimulatedCamera::SendCameraEvent(uint32_t code)
{
    Post([this, code] { DeliverCameraEvent(code); });
}

void SimulatedCamera::SendReleaseEvent(uint32_t event, std::vector<uint8_t> data)
{
    Post([this, event, data = std::move(data)] { DeliverReleaseEvent(event, data); });
}

void SimulatedCamera::SetOrientationSensor(int exifOrientation)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cam_->orientation = exifOrientation;
}

void SimulatedCamera::SetCustomFunction(int number, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (number >= 0 && number < 30)
        cam_->customFunctions[static_cast<size_t>(number)] = value;
}

void SimulatedCamera::SetLens(uint16_t divisor, uint16_t focalCurrent, uint16_t focalShort, uint16_t focalLong,
                              uint16_t avOpen, uint16_t avMax)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cam_->focalDivisor = divisor;
    cam_->focalCurrent = focalCurrent;
    cam_->focalShort = focalShort;
    cam_->focalLong = focalLong;
    cam_->avOpen = avOpen;
    cam_->avMax = avMax;
    cam_->av = std::clamp(cam_->av, avOpen, avMax);
}

void SimulatedCamera::SetCardPresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    state_.cardPresent = present;
}

void SimulatedCamera::SetManualFocus(bool manual)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (manual)
        cam_->afMode = 3;
    else if (cam_->afMode == 3)
        cam_->afMode = 0;
}

void SimulatedCamera::SetParameterSet(uint16_t set)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cam_->parameterSet = set;
}

void SimulatedCamera::SelectParameterSet(uint16_t set)
{
    SetParameterSet(set);
    Post([this] { DeliverReleaseEvent(cdRELEASE_EVENT_CHANGED_BY_UI, {}); });
}

std::vector<std::pair<uint16_t, std::string>> ParameterSetsOf(const std::string& model)
{
    switch (FamilyOf(model)) {
    case Family::D30:
    case Family::D60:
        return {};
    case Family::Eos300D:
        return {{0, "Parameter 1"}, {5, "Parameter 2"}, {1, "Set 1"}, {2, "Set 2"}, {3, "Set 3"}};
    default:
        return {{0, "Standard"}, {1, "Set 1"}, {2, "Set 2"}, {3, "Set 3"}, {4, "Adobe RGB"}};
    }
}

bool RecordsAdobeRgb(const std::string& model, uint16_t parameterSet)
{
    return parameterSet == 4 && HasAdobeRgb(FamilyOf(model));
}

void SimulatedCamera::SetCallFault(const std::string& name, bool fail)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (fail)
        callFaults_.insert(name);
    else
        callFaults_.erase(name);
}

void SimulatedCamera::SetSettingReadFault(uint32_t setting, bool fail)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (fail)
        settingReadFaults_.insert(setting);
    else
        settingReadFaults_.erase(setting);
}

void SimulatedCamera::FailNextAutofocus()
{
    std::lock_guard<std::mutex> lock(mutex_);
    failNextAf_ = true;
}

void SimulatedCamera::StopLiveViewFrames(bool stopped)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        framesStopped_ = stopped;
    }
    wake_.notify_all();
}

void SimulatedCamera::SetFocusPosition(int position)
{
    std::lock_guard<std::mutex> lock(mutex_);
    focus_ = std::clamp(position, 0, kFocusTravel);
}

void SimulatedCamera::EndLiveViewFromBody()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        liveViewOn_ = false;
        zoom_ = 1;
    }
    wake_.notify_all();
}

void SimulatedCamera::UnplugDuringNextDownload()
{
    std::lock_guard<std::mutex> lock(mutex_);
    unplugNextDownload_ = true;
}

void SimulatedCamera::StopNextDownloadHalfway()
{
    std::lock_guard<std::mutex> lock(mutex_);
    stopNextDownload_ = true;
}

void SimulatedCamera::SetImageItemRefusal(std::function<bool(uint32_t)> refuse)
{
    std::lock_guard<std::mutex> lock(mutex_);
    itemRefusal_ = std::move(refuse);
}

int SimulatedCamera::CallCount(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = calls_.find(name);
    return it == calls_.end() ? 0 : it->second;
}

SimState SimulatedCamera::State() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    SimState s = state_;
    s.itemsQueued = static_cast<int>(items_.size());
    s.liveView = liveViewOn_;
    s.focusPosition = focus_;
    s.sharpestFocus = SharpestFocusPosition(config_.seed);
    s.zoom = zoom_;
    return s;
}

void SimulatedCamera::Count(const char* name) const
{
    calls_[name]++;
}

bool SimulatedCamera::SourceValid(cdHSource source) const
{
    return source != 0 && source == openSource_ && state_.connected;
}

cdError SimulatedCamera::Check(cdHSource source, const char* name)
{
    Count(name);
    if (!state_.connected)
        return cdCOMM_ERROR;
    if (!SourceValid(source))
        return cdINVALID_HANDLE;
    return callFaults_.count(name) ? cdERROR : cdOK;
}

// ---------------------------------------------------------------- library calls

cdError SimulatedCamera::CDStartSDK(const cdVersionInfo* version, uint32_t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Count("CDStartSDK");
    if (!version || version->Size != sizeof(cdVersionInfo))
        return cdINVALID_PARAMETER;
    if (version->MajorVersion < config_.lowestSdkMajor)
        return cdINCOMPATIBLE_VERSION;
    state_.sdkStarted = true;
    return cdOK;
}

cdError SimulatedCamera::CDFinishSDK()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Count("CDFinishSDK");
    state_.sdkStarted = false;
    return cdOK;
}

cdError SimulatedCamera::CDEnumDeviceReset(uint32_t, cdHEnum* enumOut)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Count("CDEnumDeviceReset");
    if (!enumOut)
        return cdINVALID_PARAMETER;
    if (!state_.sdkStarted)
        return cdERROR;
    cdHEnum h = nextHandle_++;
    deviceEnums_[h] = 0;
    *enumOut = h;
    return cdOK;
}

cdError SimulatedCamera::CDEnumDeviceNext(cdHEnum hEnum, cdSourceInfo* info)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Count("CDEnumDeviceNext");
    auto it = deviceEnums_.find(hEnum);
    if (it == deviceEnums_.end() || !info)
        return cdINVALID_HANDLE;
    int attached = state_.connected ? config_.cameraCount : 0;
    if (it->second >= attached)
        return cdENUM_NA;
    std::memset(info, 0, sizeof *info);
    info->SurceType = 1;
    std::snprintf(info->Name, sizeof info->Name, "%s", config_.model.c_str());
    info->PortData[0] = static_cast<uint8_t>(it->second);
    it->second++;
    return cdOK;
}

cdError SimulatedCamera::CDEnumDeviceRelease(cdHEnum hEnum)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Count("CDEnumDeviceRelease");
    return deviceEnums_.erase(hEnum) ? cdOK : cdINVALID_HANDLE;
}

cdError SimulatedCamera::CDOpenSource(const cdSourceInfo* info, cdHSource* sourceOut)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Count("CDOpenSource");
    if (!info || !sourceOut)
        return cdINVALID_PARAMETER;
    if (!state_.connected || config_.cameraCount < 1)
        return cdDEVICE_NOT_FOUND;
    if (openSource_ != 0)
        return cdDEVICE_BUSY;
    openSource_ = nextHandle_++;
    state_.openSources = 1;
    *sourceOut = openSource_;
    return cdOK;
}

cdError SimulatedCamera::CDCloseSource(cdHSource source)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Count("CDCloseSource");
        if (source == 0 || source != openSource_)
            return cdINVALID_HANDLE;
        openSource_ = 0;
        state_.openSources = 0;
        state_.releaseControl = false;
        state_.uiLocked = false;
        eventFn_ = nullptr;
        eventCtx_ = nullptr;
        releaseFn_ = nullptr;
        releaseCtx_ = nullptr;
        items_.clear();
        liveViewOn_ = false;
        zoom_ = 1;
    }
    wake_.notify_all();  // ends any download, frame wait or autofocus in progress
    // Wait for a callback in flight, unless this is the event thread itself.
    if (std::this_thread::get_id() != eventThread_.get_id())
        std::lock_guard<std::mutex> dispatch(dispatchMutex_);
    return cdOK;
}

cdError SimulatedCamera::CDRegisterEventCallbackFunction(cdHSource source, cdEventCallbackFunction fn, cdContext ctx,
                                                         cdHandle* cookieOut)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDRegisterEventCallbackFunction"))
        return e;
    eventFn_ = fn;
    eventCtx_ = ctx;
    if (cookieOut)
        *cookieOut = nextHandle_++;
    return cdOK;
}

cdError SimulatedCamera::CDEnterReleaseControl(cdHSource source, cdReleaseEventCallbackFunction fn, cdContext ctx)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDEnterReleaseControl"))
        return e;
    releaseFn_ = fn;
    releaseCtx_ = ctx;
    state_.releaseControl = true;
    return cdOK;
}

cdError SimulatedCamera::CDExitReleaseControl(cdHSource source)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Count("CDExitReleaseControl");
        if (source == 0 || source != openSource_)
            return cdINVALID_HANDLE;
        releaseFn_ = nullptr;
        releaseCtx_ = nullptr;
        state_.releaseControl = false;
    }
    if (std::this_thread::get_id() != eventThread_.get_id())
        std::lock_guard<std::mutex> dispatch(dispatchMutex_);
    return cdOK;
}

cdError SimulatedCamera::CDSelectReleaseDataKind(cdHSource source, uint16_t kind)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSelectReleaseDataKind"))
        return e;
    if (kind == 0 || kind > 15)
        return cdINVALID_PARAMETER;
    state_.releaseKind = kind;
    return cdOK;
}

cdError SimulatedCamera::CDRelease(cdHSource source, uint32_t, cdProgressCallbackFunction, cdContext, uint32_t,
                                   uint32_t* countOut)
{
    uint16_t kind;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cdError e = Check(source, "CDRelease"))
            return e;
        if (!state_.releaseControl)
            return cdERROR;
        if (countOut)
            *countOut = 0;
        kind = state_.releaseKind;  // the shot keeps the kind selected now
        ++shotsInFlight_;
    }
    if (config_.releaseTiming == ReleaseTiming::Async) {
        Post([this, kind] { Shoot(false, kind); });
        return cdOK;
    }
    // Blocking: wait through the exposure and the release events, or until the source
    // is closed or the cable pulled.
    auto done = std::make_shared<bool>(false);
    Post([this, kind, done] {
        Shoot(false, kind);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            *done = true;
        }
        wake_.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&] { return *done || stopping_ || openSource_ != source || !state_.connected; });
    if (*done)
        return cdOK;
    return state_.connected ? cdINVALID_HANDLE : cdCOMM_ERROR;
}

cdError SimulatedCamera::CDGetReleasedData(cdHSource source, cdProgressCallbackFunction fn, cdContext ctx, uint32_t,
                                           cdReleaseImageInfo* info, cdStgMedium* medium)
{
    Item item;
    bool unplug, stopHalf;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cdError e = Check(source, "CDGetReleasedData"))
            return e;
        if (!medium || medium->Type != cdMEMTYPE_STREAM || !medium->pStream || !info)
            return cdINVALID_PARAMETER;
        if (items_.empty())
            return cdERROR;
        item = std::move(items_.front());
        items_.pop_front();
        ++downloadsInFlight_;
        unplug = unplugNextDownload_;
        stopHalf = stopNextDownload_;
        unplugNextDownload_ = stopNextDownload_ = false;
    }
    *info = item.info;
    cdStream& s = *medium->pStream;
    cdError err = 0;
    s.open(s.contextH, cdSTREAM_OPEN_WRITE, &err);
    if (err)
        return cdSTREAM_ERROR;
    const size_t total = item.bytes.size();
    const size_t half = total / 2;
    size_t done = 0;
    cdError result = cdOK;
    auto start = std::chrono::steady_clock::now();
    while (done < total) {
        size_t n = std::min(kChunk, total - done);
        if ((unplug || stopHalf) && done < half && done + n > half)
            n = half - done;
        if ((unplug || stopHalf) && done == half && half > 0) {
            if (unplug) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    state_.connected = false;
                }
                SendShutdown(0xFFFF);
                result = cdCOMM_ERROR;
            } else {
                result = cdSTREAM_ERROR;
            }
            break;
        }
        uint32_t count = static_cast<uint32_t>(n);
        s.write(s.contextH, item.bytes.data() + done, &count, &err);
        if (err || count == 0) {  // a stream that takes nothing would never finish
            result = cdSTREAM_ERROR;
            break;
        }
        done += std::min<size_t>(count, n);
        if (fn)
            fn(static_cast<uint32_t>(done * 100 / std::max<size_t>(total, 1)), 0, ctx);
        if (config_.linkBytesPerSecond > 0) {
            auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(static_cast<double>(done) / config_.linkBytesPerSecond));
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_until(lock, due, [&] { return stopping_ || openSource_ != source || !state_.connected; });
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || openSource_ != source || !state_.connected) {
            result = cdCOMM_ERROR;
            break;
        }
    }
    s.close(s.contextH, &err);
    std::lock_guard<std::mutex> lock(mutex_);
    --downloadsInFlight_;
    if (result == cdOK)
        state_.deliveredSequences.push_back(item.info.SequenceID);
    return result;
}

cdError SimulatedCamera::CDLockUI(cdHSource source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDLockUI"))
        return e;
    if (cam_->lcdOn)
        return cdCAMERA_BUSY_LCD;
    state_.uiLocked = true;
    state_.lockCalls++;
    return cdOK;
}

cdError SimulatedCamera::CDUnlockUI(cdHSource source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDUnlockUI"))
        return e;
    state_.uiLocked = false;
    state_.unlockCalls++;
    return cdOK;
}

cdError SimulatedCamera::CDEnumCustomFunctionSettingReset(cdHSource source, uint32_t, cdHEnum* enumOut)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDEnumCustomFunctionSettingReset"))
        return e;
    if (!enumOut)
        return cdINVALID_PARAMETER;
    cdHEnum h = nextHandle_++;
    cfEnums_[h] = 0;
    *enumOut = h;
    return cdOK;
}

cdError SimulatedCamera::CDEnumCustomFunctionSettingNext(cdHEnum hEnum, uint32_t* sizeOut, uint16_t* functionOut,
                                                         uint16_t* settingOut)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Count("CDEnumCustomFunctionSettingNext");
    auto it = cfEnums_.find(hEnum);
    if (it == cfEnums_.end())
        return cdINVALID_HANDLE;
    const size_t count = static_cast<size_t>(CustomFunctionCount(cam_->family));
    if (it->second >= count)
        return cdENUM_NA;
    const size_t number = ++it->second;  // bodies number their functions from 1
    if (sizeOut)
        *sizeOut = 4;
    if (functionOut)
        *functionOut = static_cast<uint16_t>(number);
    if (settingOut)
        *settingOut = cam_->customFunctions[number];
    return cdOK;
}

cdError SimulatedCamera::CDEnumCustomFunctionSettingRelease(cdHEnum hEnum)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Count("CDEnumCustomFunctionSettingRelease");
    return cfEnums_.erase(hEnum) ? cdOK : cdINVALID_HANDLE;
}

uint32_t SimulatedCamera::Setting(uint32_t id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Camera& c = *cam_;
    switch (id) {
    case cdREL_SET_AV_LIMIT_GATE: return 1;
    case cdREL_SET_AV_OPEN: return c.avOpen;
    case cdREL_SET_AV_MAX: return c.avMax;
    case cdREL_SET_FOCAL_CURRENT: return c.focalCurrent;
    case cdREL_SET_FOCAL_SHORT: return c.focalShort;
    case cdREL_SET_FOCAL_LONG: return c.focalLong;
    case cdREL_SET_FOCAL_DIVISOR: return c.focalDivisor;
    case cdREL_SET_AF_MODE: return c.afMode;
    case cdREL_SET_PARAMETER_SET: return c.parameterSet;
    case cdREL_SET_COLOR_TEMP: return c.colourTemp;
    case cdREL_SET_METERING: return c.metering;
    case cdREL_SET_AF_POINT: return c.afPoint;
    case cdREL_SET_ISO: return c.iso;
    case cdREL_SET_FLASH_COMP: return c.flashComp;
    default: return 0xFFFFFFFF;
    }
}

cdError SimulatedCamera::CDGetRelCamSettingData(cdHSource source, uint32_t setting, uint32_t* size, void* buffer)
{
    uint32_t value = Setting(setting);
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetRelCamSettingData"))
        return e;
    if (!size || !buffer)
        return cdINVALID_PARAMETER;
    if (value == 0xFFFFFFFF)
        return cdNOT_SUPPORTED;
    if (settingReadFaults_.count(setting))
        return cdERROR;
    if ((setting == cdREL_SET_PARAMETER_SET) && (cam_->family == Family::D30 || cam_->family == Family::D60))
        return cdNOT_SUPPORTED;
    if (setting == cdREL_SET_COLOR_TEMP && !HasKelvin(cam_->family))
        return cdNOT_SUPPORTED;
    uint32_t n = std::min<uint32_t>(*size, 4);
    if (n == 0)
        return cdINVALID_PARAMETER;
    std::memset(buffer, 0, *size);
    if (n == 1) {
        uint8_t v = static_cast<uint8_t>(value);
        std::memcpy(buffer, &v, 1);
    } else if (n == 2 || n == 3) {
        uint16_t v = static_cast<uint16_t>(value);
        std::memcpy(buffer, &v, 2);
    } else {
        std::memcpy(buffer, &value, 4);
    }
    return cdOK;
}

cdError SimulatedCamera::CDSetRelCamSettingData(cdHSource source, uint32_t setting, uint32_t size, const void* buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSetRelCamSettingData"))
        return e;
    if (!buffer || size == 0 || size > 4)
        return cdINVALID_PARAMETER;
    uint32_t v = 0;
    std::memcpy(&v, buffer, size);
    Camera& c = *cam_;
    switch (setting) {
    case cdREL_SET_FLASH_COMP:
        if (!IsStopCode(static_cast<uint16_t>(v), 0x08, 0x28))
            return cdINVALID_PARAMETER;
        c.flashComp = static_cast<uint16_t>(v);
        return cdOK;
    case cdREL_SET_COLOR_TEMP:
        if (!HasKelvin(c.family) || v < 2800 || v > 10000)
            return cdINVALID_PARAMETER;
        c.colourTemp = static_cast<uint16_t>(v);
        return cdOK;
    case cdREL_SET_METERING:
        if (v < 3 || v > 5 || (c.family == Family::Eos300D))
            return cdINVALID_PARAMETER;
        c.metering = static_cast<uint16_t>(v);
        return cdOK;
    case cdREL_SET_ISO:
        if (v < 0x48 || v > HighestIso(c.family) || !(v % 8 == 0 || v == 0x63))
            return cdINVALID_PARAMETER;
        c.iso = static_cast<uint16_t>(v);
        return cdOK;
    case cdREL_SET_AF_MODE:
        if (v > 2)  // manual focus is set on the lens, not from the PC
            return cdINVALID_PARAMETER;
        if (c.afMode == 3)
            return cdERROR;
        c.afMode = static_cast<uint16_t>(v);
        return cdOK;
    case cdREL_SET_AF_POINT: {
        uint16_t code = v & 0xF;
        bool threePoint = c.family == Family::D30 || c.family == Family::D60;
        if (code < 1 || code > 8 || (threePoint && !(code == 1 || code == 2 || code == 3 || code == 4)))
            return cdINVALID_PARAMETER;
        c.afPoint = static_cast<uint16_t>(v);
        return cdOK;
    }
    default:
        return cdNOT_SUPPORTED;
    }
}

cdError SimulatedCamera::CDGetTvValue(cdHSource source, uint16_t* value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetTvValue"))
        return e;
    *value = cam_->tv;
    return cdOK;
}

cdError SimulatedCamera::CDSetTvValue(cdHSource source, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSetTvValue"))
        return e;
    if (cam_->mode != 2 && cam_->mode != 4)
        return cdERROR;  // the camera chooses the time in this mode
    if (!IsStopCode(value, 0x10, 0x98))
        return cdINVALID_PARAMETER;
    cam_->tv = value;
    return cdOK;
}

cdError SimulatedCamera::CDGetAvValue(cdHSource source, uint16_t* value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetAvValue"))
        return e;
    *value = cam_->av;
    return cdOK;
}

cdError SimulatedCamera::CDSetAvValue(cdHSource source, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSetAvValue"))
        return e;
    if (cam_->mode != 3 && cam_->mode != 4 && cam_->mode != 7)
        return cdERROR;
    if (!IsStopCode(value, 0x08, 0x70) || value < cam_->avOpen || value > cam_->avMax)
        return cdINVALID_PARAMETER;
    cam_->av = value;
    return cdOK;
}

cdError SimulatedCamera::CDGetExposureComp(cdHSource source, uint16_t* value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetExposureComp"))
        return e;
    *value = cam_->expComp;
    return cdOK;
}

cdError SimulatedCamera::CDSetExposureComp(cdHSource source, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSetExposureComp"))
        return e;
    if (!IsCreative(cam_->mode) || cam_->mode == 4 || cam_->mode == 7 || !IsStopCode(value, 0x08, 0x28))
        return cdINVALID_PARAMETER;
    cam_->expComp = value;
    return cdOK;
}

cdError SimulatedCamera::CDGetFlashSetting(cdHSource source, uint16_t* mode, uint16_t* compensation)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetFlashSetting"))
        return e;
    if (mode)
        *mode = cam_->flashMode;
    if (compensation)
        *compensation = IsCreative(cam_->mode) ? cam_->flashComp : 255;
    return cdOK;
}

cdError SimulatedCamera::CDGetImageFormatAttribute(cdHSource source, uint16_t* quality, uint16_t* size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetImageFormatAttribute"))
        return e;
    *quality = cam_->quality;
    *size = cam_->size;
    return cdOK;
}

cdError SimulatedCamera::CDSetImageFormatAttribute(cdHSource source, uint16_t quality, uint16_t size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSetImageFormatAttribute"))
        return e;
    if (quality < 2 || quality > 4 || size > 2)
        return cdINVALID_PARAMETER;
    cam_->quality = quality;
    cam_->size = quality == 4 ? 0 : size;  // RAW is always full size
    return cdOK;
}

cdError SimulatedCamera::CDGetWBSetting(cdHSource source, uint16_t* value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetWBSetting"))
        return e;
    *value = cam_->wb;
    return cdOK;
}

cdError SimulatedCamera::CDSetWBSetting(cdHSource source, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSetWBSetting"))
        return e;
    bool ok = value <= 6 || value == 8 || (value == 9 && HasKelvin(cam_->family));
    if (!ok || !IsCreative(cam_->mode))
        return cdINVALID_PARAMETER;
    cam_->wb = value;
    return cdOK;
}

cdError SimulatedCamera::CDGetDriveMode(cdHSource source, uint16_t* value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetDriveMode"))
        return e;
    *value = cam_->drive;
    return cdOK;
}

cdError SimulatedCamera::CDSetDriveMode(cdHSource source, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSetDriveMode"))
        return e;
    if (value != 0 && value != 1 && value != 0x10)
        return cdINVALID_PARAMETER;
    cam_->drive = value;
    return cdOK;
}

cdError SimulatedCamera::CDGetShootingMode(cdHSource source, uint16_t* value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetShootingMode"))
        return e;
    *value = cam_->mode;
    return cdOK;
}

// ---------------------------------------------------------------- image items

cdError SimulatedCamera::CDMakeImageItem(uint32_t option, const char* path, uint32_t value, cdHItem* itemOut)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Count("CDMakeImageItem");
        if (itemRefusal_ && itemRefusal_(value))
            return cdNOT_SUPPORTED;
    }
    return itemStore_->MakeImageItem(option, path, value, itemOut);
}

cdError SimulatedCamera::CDOpenImage(cdHItem item) { return itemStore_->OpenImage(item); }
cdError SimulatedCamera::CDEnumImageItemPropertyReset(cdHItem item, cdHEnum* enumOut)
{
    return itemStore_->EnumPropertyReset(item, enumOut);
}
cdError SimulatedCamera::CDEnumImageItemPropertyRelease(cdHEnum hEnum) { return itemStore_->EnumPropertyRelease(hEnum); }
cdError SimulatedCamera::CDSetImageItemProperty(cdHItem item, uint32_t property, uint32_t* size, const void* value)
{
    return itemStore_->SetProperty(item, property, size, value);
}
cdError SimulatedCamera::CDFlashImageItemProperty(cdHItem item) { return itemStore_->FlashProperties(item); }
cdError SimulatedCamera::CDCloseImage(cdHItem item) { return itemStore_->CloseImage(item); }
cdError SimulatedCamera::CDFreeImageItem(cdHItem item) { return itemStore_->FreeItem(item); }

// The simulated bodies are the ones the program's tables describe: they rest 100 ms after
// announcing a shot before its first download, as the seed's library asked of the program,
// keep nothing for the transfer, report no reasons of their own and leave the panel to the
// built-in tables.
cdError SimulatedCamera::CDGetTransferPause(cdHSource source, uint32_t* milliseconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetTransferPause"))
        return e;
    if (!milliseconds)
        return cdINVALID_PARAMETER;
    *milliseconds = 100;
    return cdOK;
}

cdError SimulatedCamera::CDReleasedItemSaved(cdHSource source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Check(source, "CDReleasedItemSaved");
}

cdError SimulatedCamera::CDGetProblemReport(cdHSource source, char* buffer, uint32_t* size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (source != 0) {
        if (cdError e = Check(source, "CDGetProblemReport"))
            return e;
    }
    if (!buffer || !size || *size == 0)
        return cdINVALID_PARAMETER;
    buffer[0] = '\0';
    *size = 0;
    return cdOK;
}

cdError SimulatedCamera::CDGetOfferedSettings(cdHSource source, uint32_t*, uint32_t*)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetOfferedSettings"))
        return e;
    return cdNOT_SUPPORTED;
}

cdError SimulatedCamera::CDGetSettingChoices(cdHSource source, uint32_t, cdSettingChoice*, uint32_t*)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetSettingChoices"))
        return e;
    return cdNOT_SUPPORTED;
}

// ---------------------------------------------------------------- live view and focus

bool SimulatedCamera::BodyBusy() const
{
    return shotsInFlight_ > 0 || downloadsInFlight_ > 0 || !items_.empty();
}

uint32_t SimulatedCamera::LiveViewCapabilities() const
{
    if (!config_.liveView)
        return 0;
    uint32_t caps = cdLV_CAP_LIVE_VIEW | cdLV_CAP_FOCUS_DRIVE | cdLV_CAP_AUTOFOCUS | cdLV_CAP_FOCUS_COUNTS_STEPS;
    if (config_.liveViewCameraZoom)
        caps |= cdLV_CAP_CAMERA_ZOOM;
    if (config_.focusNeedsLiveView)
        caps |= cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW;
    return caps;
}

cdError SimulatedCamera::CDGetLiveViewCapabilities(cdHSource source, uint32_t* capabilities)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDGetLiveViewCapabilities"))
        return e;
    if (!capabilities)
        return cdINVALID_PARAMETER;
    *capabilities = LiveViewCapabilities();
    return cdOK;
}

cdError SimulatedCamera::CDStartLiveView(cdHSource source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDStartLiveView"))
        return e;
    if (!config_.liveView)
        return cdNOT_SUPPORTED;
    if (!liveViewOn_) {
        liveViewOn_ = true;
        liveViewStart_ = std::chrono::steady_clock::now();
        lastFrameIndex_ = -1;
    }
    state_.liveView = true;
    return cdOK;
}

cdError SimulatedCamera::CDEndLiveView(cdHSource source)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cdError e = Check(source, "CDEndLiveView"))
            return e;
        if (!config_.liveView)
            return cdNOT_SUPPORTED;
        liveViewOn_ = false;
        zoom_ = 1;
    }
    wake_.notify_all();
    return cdOK;
}

cdError SimulatedCamera::CDGetLiveViewFrame(cdHSource source, cdStgMedium* medium)
{
    using Clock = std::chrono::steady_clock;
    LiveViewFrameParams params;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (cdError e = Check(source, "CDGetLiveViewFrame"))
            return e;
        if (!medium || medium->Type != cdMEMTYPE_STREAM || !medium->pStream)
            return cdINVALID_PARAMETER;
        if (!config_.liveView)
            return cdNOT_SUPPORTED;
        auto ended = [&] { return stopping_ || openSource_ != source || !state_.connected || !liveViewOn_; };
        if (ended())
            return cdLIVE_VIEW_ENDED;
        if (BodyBusy())
            return cdDEVICE_BUSY;
        const auto frameTime = config_.liveViewFps > 0
                                   ? std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(1.0 / config_.liveViewFps))
                                   : Clock::duration::zero();
        if (framesStopped_) {
            wake_.wait_for(lock, frameTime, [&] { return ended() || !framesStopped_; });
            if (framesStopped_ && !ended())
                return cdLIVE_VIEW_NO_FRAME;
        } else if (frameTime > Clock::duration::zero()) {
            const auto due = liveViewStart_ + frameTime * (lastFrameIndex_ + 1);
            wake_.wait_until(lock, due, ended);
        }
        // The wait may have seen the source closed, the cable pulled or a release begin.
        if (!state_.connected)
            return cdCOMM_ERROR;
        if (!SourceValid(source))
            return cdINVALID_HANDLE;
        if (ended())
            return cdLIVE_VIEW_ENDED;
        if (BodyBusy())
            return cdDEVICE_BUSY;
        int64_t index = lastFrameIndex_ + 1;
        if (frameTime > Clock::duration::zero())
            index = std::max(index, static_cast<int64_t>((Clock::now() - liveViewStart_) / frameTime));
        lastFrameIndex_ = index;
        params.width = config_.liveViewWidth;
        params.height = config_.liveViewHeight;
        params.phase = config_.liveViewMoving ? static_cast<int>(index % kLiveViewCycle) : 0;
        params.blurRadius = BlurRadiusForFocus(focus_, SharpestFocusPosition(config_.seed));
        params.zoom = zoom_;
        params.zoomX = zoomX_;
        params.zoomY = zoomY_;
        params.seed = config_.seed;
    }
    std::shared_ptr<const std::vector<uint8_t>> frame;
    {
        std::lock_guard<std::mutex> lock(framesMutex_);
        frame = frames_->Frame(params);
    }
    cdStream& s = *medium->pStream;
    cdError err = 0;
    s.open(s.contextH, cdSTREAM_OPEN_WRITE, &err);
    if (err)
        return cdSTREAM_ERROR;
    uint32_t count = static_cast<uint32_t>(frame->size());
    s.write(s.contextH, frame->data(), &count, &err);
    cdError closeErr = 0;
    s.close(s.contextH, &closeErr);
    if (err || closeErr)
        return cdSTREAM_ERROR;
    std::lock_guard<std::mutex> lock(mutex_);
    state_.liveViewFrames++;
    return cdOK;
}

cdError SimulatedCamera::CDDriveFocus(cdHSource source, int32_t step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDDriveFocus"))
        return e;
    if (!config_.liveView)
        return cdNOT_SUPPORTED;
    if (step == 0 || step < -3 || step > 3)
        return cdINVALID_PARAMETER;
    if (BodyBusy())
        return cdDEVICE_BUSY;
    if (config_.focusNeedsLiveView && !liveViewOn_)
        return cdLIVE_VIEW_ENDED;  // this body drives its lens only while live view runs
    state_.focusSteps++;
    const int size = kFocusStepSizes[std::abs(step) - 1];
    const int wanted = focus_ + (step < 0 ? -size : size);
    focus_ = std::clamp(wanted, 0, kFocusTravel);
    return focus_ == wanted ? cdOK : cdFOCUS_AT_LIMIT;
}

cdError SimulatedCamera::CDSetLiveViewZoom(cdHSource source, uint32_t magnification, int32_t x, int32_t y)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDSetLiveViewZoom"))
        return e;
    if (!(LiveViewCapabilities() & cdLV_CAP_CAMERA_ZOOM))
        return cdNOT_SUPPORTED;
    if (magnification != 1 && magnification != 5 && magnification != 10)
        return cdINVALID_PARAMETER;
    if (BodyBusy())
        return cdDEVICE_BUSY;
    zoom_ = static_cast<int>(magnification);
    zoomX_ = std::clamp(x, 0, config_.liveViewWidth - 1);
    zoomY_ = std::clamp(y, 0, config_.liveViewHeight - 1);
    state_.zoom = zoom_;
    return cdOK;
}

cdError SimulatedCamera::CDStartAutoFocus(cdHSource source)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (cdError e = Check(source, "CDStartAutoFocus"))
        return e;
    if (!config_.liveView)
        return cdNOT_SUPPORTED;
    if (BodyBusy())
        return cdDEVICE_BUSY;
    state_.autofocusRuns++;
    // The lens hunts for a while; closing the source or pulling the cable ends the wait.
    wake_.wait_for(lock, std::chrono::milliseconds(config_.autofocusMs),
                   [&] { return stopping_ || openSource_ != source || !state_.connected; });
    if (!state_.connected)
        return cdCOMM_ERROR;
    if (!SourceValid(source))
        return cdINVALID_HANDLE;
    // An autofocus that fails (the next-autofocus fault, or the lens switched to manual)
    // leaves the lens where it was.
    if (failNextAf_ || cam_->afMode == 3) {
        failNextAf_ = false;
        return cdAF_FAILED;
    }
    focus_ = SharpestFocusPosition(config_.seed);
    return cdOK;
}

}  // namespace sim

