// A counting fake of the camera library: every call is counted by name and succeeds
// unless the test says otherwise; devices, custom functions and the release kind are
// plain fields the test sets. Not thread-safe beyond the counters (tests call it from one
// thread, or only read counters after the threads have ended).
#pragma once

#include "camera/CameraLibrary.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

class FakeCameraLibrary : public cdsdk::CameraLibrary {
public:
    std::vector<std::string> devices{"Canon EOS 10D"};
    std::vector<std::pair<uint16_t, uint16_t>> customFunctions;  // (number, setting)
    std::set<std::string> failing;                               // calls that return an error
    std::vector<uint16_t> selectedKinds;
    cdsdk::cdHSource openSource = 0;
    int openSources = 0;

    // A download that takes this long and ignores CDCloseSource: a device that hangs.
    int downloadMs = 0;
    // What CDGetTransferPause answers (the seed's bodies: 100 ms) and the next problem report.
    uint32_t transferPauseMs = 100;
    std::string problemReport;

    int Calls(const std::string& name) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = calls_.find(name);
        return it == calls_.end() ? 0 : it->second;
    }
    // Every call by name, in the order made (thread-safe).
    std::vector<std::string> Order() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return order_;
    }

private:
    cdsdk::cdError Hit(const std::string& name)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_[name]++;
        order_.push_back(name);
        return failing.count(name) ? cdsdk::cdERROR : cdsdk::cdOK;
    }
    std::vector<std::string> order_;
    mutable std::mutex mutex_;
    std::map<std::string, int> calls_;
    size_t deviceIndex_ = 0;
    size_t cfIndex_ = 0;

public:
    cdsdk::cdError CDStartSDK(const cdsdk::cdVersionInfo*, uint32_t) override { return Hit("CDStartSDK"); }
    cdsdk::cdError CDFinishSDK() override { return Hit("CDFinishSDK"); }
    cdsdk::cdError CDEnumDeviceReset(uint32_t, cdsdk::cdHEnum* e) override
    {
        deviceIndex_ = 0;
        *e = 7;
        return Hit("CDEnumDeviceReset");
    }
    cdsdk::cdError CDEnumDeviceNext(cdsdk::cdHEnum, cdsdk::cdSourceInfo* info) override
    {
        if (cdsdk::cdError e = Hit("CDEnumDeviceNext"))
            return e;
        if (deviceIndex_ >= devices.size())
            return cdsdk::cdENUM_NA;
        std::memset(info, 0, sizeof *info);
        std::snprintf(info->Name, sizeof info->Name, "%s", devices[deviceIndex_++].c_str());
        return cdsdk::cdOK;
    }
    cdsdk::cdError CDEnumDeviceRelease(cdsdk::cdHEnum) override { return Hit("CDEnumDeviceRelease"); }
    cdsdk::cdError CDOpenSource(const cdsdk::cdSourceInfo*, cdsdk::cdHSource* s) override
    {
        if (cdsdk::cdError e = Hit("CDOpenSource"))
            return e;
        *s = openSource = 0x55;
        ++openSources;
        return cdsdk::cdOK;
    }
    cdsdk::cdError CDCloseSource(cdsdk::cdHSource) override
    {
        --openSources;
        openSource = 0;
        return Hit("CDCloseSource");
    }
    cdsdk::cdError CDRegisterEventCallbackFunction(cdsdk::cdHSource, cdsdk::cdEventCallbackFunction, cdsdk::cdContext,
                                                   cdsdk::cdHandle*) override
    {
        return Hit("CDRegisterEventCallbackFunction");
    }
    cdsdk::cdError CDEnterReleaseControl(cdsdk::cdHSource, cdsdk::cdReleaseEventCallbackFunction,
                                         cdsdk::cdContext) override
    {
        return Hit("CDEnterReleaseControl");
    }
    cdsdk::cdError CDExitReleaseControl(cdsdk::cdHSource) override { return Hit("CDExitReleaseControl"); }
    cdsdk::cdError CDSelectReleaseDataKind(cdsdk::cdHSource, uint16_t kind) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            selectedKinds.push_back(kind);
        }
        return Hit("CDSelectReleaseDataKind");
    }
    cdsdk::cdError CDRelease(cdsdk::cdHSource, uint32_t, cdsdk::cdProgressCallbackFunction, cdsdk::cdContext, uint32_t,
                             uint32_t*) override
    {
        return Hit("CDRelease");
    }
    cdsdk::cdError CDGetReleasedData(cdsdk::cdHSource, cdsdk::cdProgressCallbackFunction, cdsdk::cdContext, uint32_t,
                                     cdsdk::cdReleaseImageInfo*, cdsdk::cdStgMedium*) override
    {
        Hit("CDGetReleasedData");
        if (downloadMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(downloadMs));
        Hit("CDGetReleasedData returned");
        return cdsdk::cdERROR;
    }
    cdsdk::cdError CDLockUI(cdsdk::cdHSource) override { return Hit("CDLockUI"); }
    cdsdk::cdError CDUnlockUI(cdsdk::cdHSource) override { return Hit("CDUnlockUI"); }
    cdsdk::cdError CDEnumCustomFunctionSettingReset(cdsdk::cdHSource, uint32_t, cdsdk::cdHEnum* e) override
    {
        cfIndex_ = 0;
        *e = 9;
        return Hit("CDEnumCustomFunctionSettingReset");
    }
    cdsdk::cdError CDEnumCustomFunctionSettingNext(cdsdk::cdHEnum, uint32_t* size, uint16_t* fn,
                                                   uint16_t* setting) override
    {
        Hit("CDEnumCustomFunctionSettingNext");
        if (cfIndex_ >= customFunctions.size())
            return cdsdk::cdENUM_NA;
        *size = 4;
        *fn = customFunctions[cfIndex_].first;
        *setting = customFunctions[cfIndex_].second;
        ++cfIndex_;
        return cdsdk::cdOK;
    }
    cdsdk::cdError CDEnumCustomFunctionSettingRelease(cdsdk::cdHEnum) override
    {
        return Hit("CDEnumCustomFunctionSettingRelease");
    }
    cdsdk::cdError CDGetRelCamSettingData(cdsdk::cdHSource, uint32_t, uint32_t*, void*) override
    {
        return Hit("CDGetRelCamSettingData");
    }
    cdsdk::cdError CDSetRelCamSettingData(cdsdk::cdHSource, uint32_t, uint32_t, const void*) override
    {
        return Hit("CDSetRelCamSettingData");
    }
    cdsdk::cdError CDGetTvValue(cdsdk::cdHSource, uint16_t*) override { return Hit("CDGetTvValue"); }
    cdsdk::cdError CDSetTvValue(cdsdk::cdHSource, uint16_t) override { return Hit("CDSetTvValue"); }
    cdsdk::cdError CDGetAvValue(cdsdk::cdHSource, uint16_t*) override { return Hit("CDGetAvValue"); }
    cdsdk::cdError CDSetAvValue(cdsdk::cdHSource, uint16_t) override { return Hit("CDSetAvValue"); }
    cdsdk::cdError CDGetExposureComp(cdsdk::cdHSource, uint16_t*) override { return Hit("CDGetExposureComp"); }
    cdsdk::cdError CDSetExposureComp(cdsdk::cdHSource, uint16_t) override { return Hit("CDSetExposureComp"); }
    cdsdk::cdError CDGetFlashSetting(cdsdk::cdHSource, uint16_t*, uint16_t*) override
    {
        return Hit("CDGetFlashSetting");
    }
    cdsdk::cdError CDGetImageFormatAttribute(cdsdk::cdHSource, uint16_t*, uint16_t*) override
    {
        return Hit("CDGetImageFormatAttribute");
    }
    cdsdk::cdError CDSetImageFormatAttribute(cdsdk::cdHSource, uint16_t, uint16_t) override
    {
        return Hit("CDSetImageFormatAttribute");
    }
    cdsdk::cdError CDGetWBSetting(cdsdk::cdHSource, uint16_t*) override { return Hit("CDGetWBSetting"); }
    cdsdk::cdError CDSetWBSetting(cdsdk::cdHSource, uint16_t) override { return Hit("CDSetWBSetting"); }
    cdsdk::cdError CDGetDriveMode(cdsdk::cdHSource, uint16_t*) override { return Hit("CDGetDriveMode"); }
    cdsdk::cdError CDSetDriveMode(cdsdk::cdHSource, uint16_t) override { return Hit("CDSetDriveMode"); }
    cdsdk::cdError CDGetShootingMode(cdsdk::cdHSource, uint16_t*) override { return Hit("CDGetShootingMode"); }
    cdsdk::cdError CDGetTransferPause(cdsdk::cdHSource, uint32_t* milliseconds) override
    {
        *milliseconds = transferPauseMs;
        return Hit("CDGetTransferPause");
    }
    cdsdk::cdError CDReleasedItemSaved(cdsdk::cdHSource) override { return Hit("CDReleasedItemSaved"); }
    cdsdk::cdError CDGetProblemReport(cdsdk::cdHSource, char* buffer, uint32_t* size) override
    {
        const cdsdk::cdError e = Hit("CDGetProblemReport");
        if (!buffer || !size || *size == 0)
            return cdsdk::cdINVALID_PARAMETER;
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t n = std::min<size_t>(problemReport.size(), *size - 1);
        std::memcpy(buffer, problemReport.data(), n);
        buffer[n] = '\0';
        *size = static_cast<uint32_t>(n);
        problemReport.clear();
        return e;
    }
    cdsdk::cdError CDGetOfferedSettings(cdsdk::cdHSource, uint32_t*, uint32_t*) override
    {
        Hit("CDGetOfferedSettings");
        return cdsdk::cdNOT_SUPPORTED;
    }
    cdsdk::cdError CDGetSettingChoices(cdsdk::cdHSource, uint32_t, cdsdk::cdSettingChoice*, uint32_t*) override
    {
        Hit("CDGetSettingChoices");
        return cdsdk::cdNOT_SUPPORTED;
    }
    cdsdk::cdError CDGetLiveViewCapabilities(cdsdk::cdHSource, uint32_t* caps) override
    {
        *caps = 0;
        return Hit("CDGetLiveViewCapabilities");
    }
    cdsdk::cdError CDStartLiveView(cdsdk::cdHSource) override { return cdsdk::cdNOT_SUPPORTED; }
    cdsdk::cdError CDEndLiveView(cdsdk::cdHSource) override { return cdsdk::cdNOT_SUPPORTED; }
    cdsdk::cdError CDGetLiveViewFrame(cdsdk::cdHSource, cdsdk::cdStgMedium*) override { return cdsdk::cdNOT_SUPPORTED; }
    cdsdk::cdError CDDriveFocus(cdsdk::cdHSource, int32_t) override { return cdsdk::cdNOT_SUPPORTED; }
    cdsdk::cdError CDSetLiveViewZoom(cdsdk::cdHSource, uint32_t, int32_t, int32_t) override
    {
        return cdsdk::cdNOT_SUPPORTED;
    }
    cdsdk::cdError CDStartAutoFocus(cdsdk::cdHSource) override { return cdsdk::cdNOT_SUPPORTED; }
    cdsdk::cdError CDMakeImageItem(uint32_t, const char*, uint32_t, cdsdk::cdHItem*) override
    {
        return Hit("CDMakeImageItem");
    }
    cdsdk::cdError CDOpenImage(cdsdk::cdHItem) override { return Hit("CDOpenImage"); }
    cdsdk::cdError CDEnumImageItemPropertyReset(cdsdk::cdHItem, cdsdk::cdHEnum*) override
    {
        return Hit("CDEnumImageItemPropertyReset");
    }
    cdsdk::cdError CDEnumImageItemPropertyRelease(cdsdk::cdHEnum) override
    {
        return Hit("CDEnumImageItemPropertyRelease");
    }
    cdsdk::cdError CDSetImageItemProperty(cdsdk::cdHItem, uint32_t, uint32_t*, const void*) override
    {
        return Hit("CDSetImageItemProperty");
    }
    cdsdk::cdError CDFlashImageItemProperty(cdsdk::cdHItem) override { return Hit("CDFlashImageItemProperty"); }
    cdsdk::cdError CDCloseImage(cdsdk::cdHItem) override { return Hit("CDCloseImage"); }
    cdsdk::cdError CDFreeImageItem(cdsdk::cdHItem) override { return Hit("CDFreeImageItem"); }
};
