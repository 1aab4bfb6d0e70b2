#include "camera/ImageItems.h"

#include <exiv2/exiv2.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace cdsdk;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

struct ImageItemStore::Item {
    std::string path;
    bool open = false;
    std::optional<std::string> comment;
    std::optional<int32_t> rotation;
};

namespace {

bool ReadAll(const std::string& path, std::vector<uint8_t>& out)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return true;
}

std::string Folder(const std::string& path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// Writes bytes beside `path` and moves them over it; the old file survives any failure.
bool ReplaceFile(const std::string& path, const uint8_t* data, size_t size, bool (*hook)(const std::string&))
{
    std::string temp = Folder(path) + "/.tethrocam-XXXXXX.part";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), 5);
    if (fd < 0)
        return false;
    temp.assign(name.data());
    struct stat st {};
    if (stat(path.c_str(), &st) == 0)
        fchmod(fd, st.st_mode & 07777);
    bool ok = true;
    size_t done = 0;
    while (ok && done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && (!hook || hook(temp));
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    int dir = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        ::close(dir);
    }
    return true;
}

uint16_t ExifOrientation(int32_t degrees)
{
    switch (degrees) {
    case 0: return 1;
    case 90: return 6;
    case 180: return 3;
    case 270: return 8;
    default: return 0;
    }
}

bool IsAscii(const std::string& text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// UTF-16 code units of a UTF-8 text: characters past the Basic Multilingual Plane as
// surrogate pairs; a byte that does not start a valid UTF-8 sequence reads as U+FFFD.
std::u16string Utf16Of(const std::string& text)
{
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 9;
        uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
        bool valid = extra <= 3 && extra < text.size() - i;
        for (size_t k = 1; valid && k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            valid = (d & 0xC0) == 0x80;
            cp = cp << 6 | (d & 0x3Fu);
        }
        valid = valid && !(extra == 2 && cp < 0x800) && !(extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) &&
                !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return out;
}

// The Exif user comment of a text outside ASCII: the "UNICODE" marker and the text in
// UTF-16, in the byte order of the picture's Exif data. Exiv2's own conversion would go
// through UCS-2 and garble every character past U+FFFF.
Exiv2::CommentValue UnicodeComment(const std::string& text, Exiv2::ByteOrder order)
{
    std::vector<Exiv2::byte> bytes = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};
    for (char16_t unit : Utf16Of(text)) {
        const auto high = static_cast<Exiv2::byte>(unit >> 8), low = static_cast<Exiv2::byte>(unit & 0xFF);
        bytes.push_back(order == Exiv2::bigEndian ? high : low);
        bytes.push_back(order == Exiv2::bigEndian ? low : high);
    }
    Exiv2::CommentValue value;
    value.read(bytes.data(), static_cast<long>(bytes.size()), order);
    return value;
}

// Offset of the start-of-scan marker of a JPEG, found by walking its segments; 0 when the
// bytes are no JPEG or the walk leaves them first.
size_t StartOfScan(const uint8_t* data, size_t size)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return 0;
    size_t pos = 2;
    while (pos + 1 < size) {
        if (data[pos] != 0xFF)
            return 0;
        while (pos + 1 < size && data[pos + 1] == 0xFF)  // fill bytes
            ++pos;
        if (pos + 1 >= size)
            return 0;
        const uint8_t marker = data[pos + 1];
        if (marker == 0xDA)
            return pos;
        if (marker == 0xD9)
            return 0;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        if (pos + 4 > size)
            return 0;
        const size_t length = (size_t{data[pos + 2]} << 8) | data[pos + 3];
        if (length < 2)
            return 0;
        pos += 2 + length;
    }
    return 0;
}

// Rewrites the metadata of a picture with Exiv2.
bool WriteWithExiv2(const uint8_t* data, size_t size, const std::optional<std::string>& comment,
                    std::optional<int32_t> rotationDegrees, std::vector<uint8_t>& out)
{
    try {
        auto image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
        if (!image.get())
            return false;
        image->readMetadata();
        const bool crw = image->imageType() == Exiv2::ImageType::crw;
        Exiv2::ExifData& exif = image->exifData();
        if (comment) {
            if (crw) {
                image->setComment(*comment);
            } else if (IsAscii(*comment)) {
                exif["Exif.Photo.UserComment"] = "charset=Ascii " + *comment;
            } else {
                if (image->byteOrder() == Exiv2::invalidByteOrder)
                    image->setByteOrder(Exiv2::littleEndian);
                const Exiv2::CommentValue value = UnicodeComment(*comment, image->byteOrder());
                exif["Exif.Photo.UserComment"].setValue(&value);
            }
        }
        if (rotationDegrees)
            exif["Exif.Image.Orientation"] = ExifOrientation(*rotationDegrees);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0)
            return false;
        const long size = io.size();
        if (size <= 0)
            return false;
        Exiv2::DataBuf buf = io.read(size);
        io.close();
        if (buf.size_ != size)
            return false;
        out.assign(buf.pData_, buf.pData_ + buf.size_);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace

bool StampItemProperties(const std::vector<uint8_t>& picture, const std::optional<std::string>& comment,
                         std::optional<int32_t> rotationDegrees, StampedPicture& out)
{
    if (rotationDegrees && ExifOrientation(*rotationDegrees) == 0)
        return false;
    if (picture.empty())
        return false;
    // A JPEG's metadata all sits before its scan: Exiv2 is given only the segments before
    // it (and an empty scan), and the compressed picture is kept unchanged after the new
    // metadata. That spares copying megabytes through Exiv2's small-block I/O.
    const size_t scan = StartOfScan(picture.data(), picture.size());
    if (scan == 0) {
        std::vector<uint8_t> whole;
        if (!WriteWithExiv2(picture.data(), picture.size(), comment, rotationDegrees, whole))
            return false;
        out.head = std::move(whole);
        out.keepFrom = picture.size();
        return true;
    }
    std::vector<uint8_t> head(picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(scan));
    static constexpr uint8_t kEmptyScan[] = {0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9};
    head.insert(head.end(), std::begin(kEmptyScan), std::end(kEmptyScan));
    std::vector<uint8_t> newHead;
    if (!WriteWithExiv2(head.data(), head.size(), comment, rotationDegrees, newHead))
        return false;
    const size_t newScan = StartOfScan(newHead.data(), newHead.size());
    if (newScan == 0)
        return false;
    newHead.resize(newScan);
    out.head = std::move(newHead);
    out.keepFrom = scan;
    return true;
}

bool WriteItemProperties(const std::vector<uint8_t>& picture, const std::optional<std::string>& comment,
                         std::optional<int32_t> rotationDegrees, std::vector<uint8_t>& out)
{
    StampedPicture stamped;
    if (!StampItemProperties(picture, comment, rotationDegrees, stamped))
        return false;
    std::vector<uint8_t> result = std::move(stamped.head);
    result.insert(result.end(), picture.begin() + static_cast<std::ptrdiff_t>(stamped.keepFrom), picture.end());
    out = std::move(result);
    return true;
}

ImageItemStore::ImageItemStore() = default;
ImageItemStore::~ImageItemStore() = default;

void ImageItemStore::SetBeforeReplaceHook(bool (*hook)(const std::string&))
{
    std::lock_guard<std::mutex> lock(mutex_);
    beforeReplace_ = hook;
}

cdError ImageItemStore::MakeImageItem(uint32_t, const char* path, uint32_t, cdHItem* itemOut)
{
    if (!path || !itemOut)
        return cdINVALID_PARAMETER;
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return cdERROR;
    std::lock_guard<std::mutex> lock(mutex_);
    auto item = std::make_unique<Item>();
    item->path = path;
    cdHItem h = nextHandle_++;
    items_[h] = std::move(item);
    *itemOut = h;
    return cdOK;
}

cdError ImageItemStore::OpenImage(cdHItem h)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = items_.find(h);
    if (it == items_.end())
        return cdINVALID_HANDLE;
    try {
        auto image = Exiv2::ImageFactory::open(it->second->path);
        if (!image.get())
            return cdERROR;
        image->readMetadata();
    } catch (const std::exception&) {
        return cdERROR;
    }
    it->second->open = true;
    return cdOK;
}

cdError ImageItemStore::EnumPropertyReset(cdHItem h, cdHEnum* enumOut)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!items_.count(h) || !enumOut)
        return cdINVALID_HANDLE;
    cdHEnum e = nextHandle_++;
    enums_[e] = h;
    *enumOut = e;
    return cdOK;
}

cdError ImageItemStore::EnumPropertyRelease(cdHEnum e)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return enums_.erase(e) ? cdOK : cdINVALID_HANDLE;
}

cdError ImageItemStore::SetProperty(cdHItem h, uint32_t property, uint32_t* size, const void* value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = items_.find(h);
    if (it == items_.end() || !it->second->open)
        return cdINVALID_HANDLE;
    if (!size || !value)
        return cdINVALID_PARAMETER;
    if (property == cdITEM_PROP_COMMENT) {
        if (*size == 0)
            return cdINVALID_PARAMETER;
        const char* text = static_cast<const char*>(value);
        it->second->comment = std::string(text, strnlen(text, *size));
        return cdOK;
    }
    if (property == cdITEM_PROP_ROTATION) {
        if (*size != 4)
            return cdINVALID_PARAMETER;
        int32_t degrees;
        std::memcpy(&degrees, value, 4);
        if (ExifOrientation(degrees) == 0)
            return cdINVALID_PARAMETER;
        it->second->rotation = degrees;
        return cdOK;
    }
    return cdNOT_SUPPORTED;
}

cdError ImageItemStore::FlashProperties(cdHItem h)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = items_.find(h);
    if (it == items_.end() || !it->second->open)
        return cdINVALID_HANDLE;
    Item& item = *it->second;
    if (!item.comment && !item.rotation)
        return cdOK;
    std::vector<uint8_t> original;
    if (!ReadAll(item.path, original) || original.empty())
        return cdERROR;
    std::vector<uint8_t> rewritten;
    if (!WriteItemProperties(original, item.comment, item.rotation, rewritten))
        return cdERROR;
    if (!ReplaceFile(item.path, rewritten.data(), rewritten.size(), beforeReplace_))
        return cdERROR;
    item.comment.reset();
    item.rotation.reset();
    return cdOK;
}

cdError ImageItemStore::CloseImage(cdHItem h)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = items_.find(h);
    if (it == items_.end() || !it->second->open)
        return cdINVALID_HANDLE;
    it->second->open = false;
    return cdOK;
}

cdError ImageItemStore::FreeItem(cdHItem h)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.erase(h) ? cdOK : cdINVALID_HANDLE;
}

#pragma GCC diagnostic pop
