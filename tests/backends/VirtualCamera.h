// libgphoto2's virtual camera for the backend's tests: whether it was built (CTest points
// TETHROCAM_VCAMERA_PREFIX, LD_LIBRARY_PATH, CAMLIBS and IOLIBS at it), and the picture
// folders it captures from. The camera copies the first JPEG of the folder named by
// VCAMERADIR, which it reads each time it is opened.
// Test threads only; making the folders blocks for the JPEG encoding.
#pragma once

#include "backends/sim/SimPictures.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace vcamera {

// Empty when the virtual camera can run here, else why not.
inline std::string Unavailable()
{
    const char* prefix = std::getenv("TETHROCAM_VCAMERA_PREFIX");
    if (!prefix || !*prefix)
        return "TETHROCAM_VCAMERA_PREFIX is not set (run the test through CTest)";
    if (!std::filesystem::exists(std::filesystem::path(prefix) / "lib" / "libgphoto2" / "2.5.34" / "ptp2.so"))
        return std::string("libgphoto2's virtual camera is not built at ") + prefix +
               " (it is built from the source release libgphoto2-2.5.34.tar.xz in TETHROCAM_VENDOR_DIR"
               " when that is present, and never in the ThreadSanitizer build)";
    return {};
}

// A card with DCIM/100CANON/IMG_0001.JPG made by the simulator's picture code, and an
// empty card (captures then fail).
struct Folders {
    testsupport::TempDir dir;
    std::filesystem::path withPicture = dir.Path() / "card";
    std::filesystem::path empty = dir.Path() / "empty";
    std::vector<uint8_t> picture;

    explicit Folders(int width = 1024, int height = 683, int quality = 90)
    {
        sim::SimPictureParams p;
        p.model = "Nikon DSC D750";
        p.width = width;
        p.height = height;
        p.jpegQuality = quality;
        p.captureTime = 1700000000;
        picture = sim::MakeSimJpeg(p);
        std::filesystem::create_directories(withPicture / "DCIM" / "100CANON");
        std::filesystem::create_directories(empty / "DCIM" / "100CANON");
        testsupport::WriteFileBytes(withPicture / "DCIM" / "100CANON" / "IMG_0001.JPG", picture);
    }
    void UsePicture() const { setenv("VCAMERADIR", withPicture.c_str(), 1); }
    void UseEmpty() const { setenv("VCAMERADIR", empty.c_str(), 1); }
};

}  // namespace vcamera
