// ImageItemStore: the image-item calls of the camera library, written once and used by
// every backend. An item is a saved picture file; the properties the program sets (the
// comment and the rotation) are written into the file's metadata with Exiv2: the comment
// becomes the Exif user comment (for a CRW file, the CRW comment), the rotation (0, 90,
// 180, 270 degrees clockwise) the Exif orientation (1, 6, 3, 8).
//
// Writing rewrites the picture. It never leaves a damaged or shortened file behind: the
// new file is built in memory, written beside the old one, flushed to disk and then moved
// over it; any failure leaves the old file exactly as it was.
//
// Threads: any thread; calls are serialised internally. FlashProperties blocks for the
// file I/O; the other calls are quick.
#pragma once

#include "camera/CameraLibrary.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The one writer of the comment and rotation properties, on a picture held in memory
// (JPEG, CRW or TIFF bytes): `out` receives the picture with the comment (an ASCII text
// with the Exif "ASCII" marker, any other text as Exif Unicode, "UNICODE" marker and
// UCS-2; the CRW comment for CRW) and the rotation (0, 90, 180, 270 degrees clockwise as
// Exif orientation 1, 6, 3, 8). False, with `out` untouched, when the picture cannot be
// read or a value is out of range. Any thread; never blocks beyond the CPU work.
bool WriteItemProperties(const std::vector<uint8_t>& picture, const std::optional<std::string>& comment,
                         std::optional<int32_t> rotationDegrees, std::vector<uint8_t>& out);

// The same result in two parts, so that a large picture need not be copied: `head`, then
// the picture's own bytes from `keepFrom` on. For a JPEG the head is the metadata before
// the scan (Exiv2 only ever sees that) and the compressed picture is kept as it is; for
// other forms the head is the whole rewritten picture and nothing is kept.
struct StampedPicture {
    std::vector<uint8_t> head;
    size_t keepFrom = 0;
};
bool StampItemProperties(const std::vector<uint8_t>& picture, const std::optional<std::string>& comment,
                         std::optional<int32_t> rotationDegrees, StampedPicture& out);

class ImageItemStore {
public:
    ImageItemStore();
    ~ImageItemStore();

    cdsdk::cdError MakeImageItem(uint32_t option, const char* path, uint32_t value, cdsdk::cdHItem* itemOut);
    cdsdk::cdError OpenImage(cdsdk::cdHItem item);
    cdsdk::cdError EnumPropertyReset(cdsdk::cdHItem item, cdsdk::cdHEnum* enumOut);
    cdsdk::cdError EnumPropertyRelease(cdsdk::cdHEnum hEnum);
    cdsdk::cdError SetProperty(cdsdk::cdHItem item, uint32_t property, uint32_t* size, const void* value);
    cdsdk::cdError FlashProperties(cdsdk::cdHItem item);
    cdsdk::cdError CloseImage(cdsdk::cdHItem item);
    cdsdk::cdError FreeItem(cdsdk::cdHItem item);

    // Test hook: called with the temporary file's path just before it replaces the
    // picture; returning false makes the write fail there.
    void SetBeforeReplaceHook(bool (*hook)(const std::string& tempPath));

private:
    struct Item;
    std::mutex mutex_;
    std::map<cdsdk::cdHItem, std::unique_ptr<Item>> items_;
    std::map<cdsdk::cdHEnum, cdsdk::cdHItem> enums_;
    uint32_t nextHandle_ = 1;
    bool (*beforeReplace_)(const std::string&) = nullptr;
};
