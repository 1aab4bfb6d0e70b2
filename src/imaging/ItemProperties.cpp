#include "imaging/ItemProperties.h"

#include "camera/ImageItems.h"

#include <algorithm>
#include <cstring>

using namespace cdsdk;

namespace {

// Makes, opens and sets one property on an item for the file, then always flushes,
// closes and frees it. Returns whether the library accepted the property.
bool WriteProperty(CameraLibrary& lib, const std::string& path, uint32_t property, uint32_t size, const void* value)
{
    cdHItem item = 0;
    cdError err = lib.CDMakeImageItem(0, path.c_str(), 259, &item);
    for (uint32_t v = 0; err != cdOK && v < 512; ++v)
        err = lib.CDMakeImageItem(0, path.c_str(), v, &item);
    if (item == 0)
        return false;
    if (lib.CDOpenImage(item) != cdOK) {
        lib.CDFreeImageItem(item);
        return false;
    }
    cdHEnum hEnum = 0;
    lib.CDEnumImageItemPropertyReset(item, &hEnum);
    lib.CDEnumImageItemPropertyRelease(hEnum);
    uint32_t inOutSize = size;
    const bool set = lib.CDSetImageItemProperty(item, property, &inOutSize, value) == cdOK;
    const bool flushed = lib.CDFlashImageItemProperty(item) == cdOK;
    lib.CDCloseImage(item);
    lib.CDFreeImageItem(item);
    return set && flushed;
}

}  // namespace

std::string CommentFieldText(const std::string& comment)
{
    size_t n = std::min<size_t>(comment.size(), cdITEM_COMMENT_SIZE - 1);
    // A cut comment ends on a whole UTF-8 character.
    if (n < comment.size())
        while (n > 0 && (static_cast<unsigned char>(comment[n]) & 0xC0) == 0x80)
            --n;
    return comment.substr(0, n);
}

void SetImageComment(CameraLibrary& library, ImageInfo& info, const std::string& comment)
{
    if (comment.empty())
        return;
    char field[cdITEM_COMMENT_SIZE] = {};
    const std::string text = CommentFieldText(comment);
    std::memcpy(field, text.data(), text.size());
    WriteProperty(library, info.Path(), cdITEM_PROP_COMMENT, sizeof field, field);
}

bool StampPictureInMemory(const std::vector<uint8_t>& picture, const std::string& comment,
                          std::optional<int> rotation, StampedPicture& out)
{
    std::optional<std::string> text;
    if (!comment.empty())
        text = CommentFieldText(comment);
    if (!text && !rotation)
        return false;
    return StampItemProperties(picture, text, rotation, out);
}

void SetImageRotation(CameraLibrary& library, ImageInfo& info, int degrees)
{
    int32_t value = degrees;
    if (WriteProperty(library, info.Path(), cdITEM_PROP_ROTATION, sizeof value, &value))
        info.SetRotation(degrees);
}
