#include "camera/CameraStartup.h"

#include <cstring>

int StartCameraLibrary(cdsdk::CameraLibrary& library)
{
    for (int major = 5; major <= 10; ++major) {
        cdsdk::cdVersionInfo version;
        std::memset(&version, 0, sizeof version);
        version.Size = sizeof version;
        version.MajorVersion = static_cast<uint16_t>(major);
        version.MinorVersion = 0;
        if (library.CDStartSDK(&version, 0) == cdsdk::cdOK)
            return major;
    }
    return 0;
}
