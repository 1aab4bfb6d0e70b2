#include "camera/ImageItems.h"

#include <exiv2/exiv2.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
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

}  // namespace

bool WriteItemProperties(const std::vector<uint8_t>& picture, const std::optional<std::string>& comment,
                         std::optional<int32_t> rotationDegrees, std::vector<uint8_t>& out)
{
    if (rotationDegrees && ExifOrientation(*rotationDegrees) == 0)
        return false;
    if (picture.empty())
        return false;
    try {
        auto image = Exiv2::ImageFactory::open(picture.data(), static_cast<long>(picture.size()));
        if (!image.get())
            return false;
        image->readMetadata();
        const bool crw = image->imageType() == Exiv2::ImageType::crw;
        Exiv2::ExifData& exif = image->exifData();
        if (comment) {
            if (crw)
                image->setComment(*comment);
            else
                exif["Exif.Photo.UserComment"] =
                    (IsAscii(*comment) ? "charset=Ascii " : "charset=Unicode ") + *comment;
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
