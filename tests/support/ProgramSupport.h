// Helpers for the tests that start the real programs as separate processes: the settings
// of a scratch home, argument and environment lists for posix_spawn, and the comment a
// saved picture carries. Any thread; nothing here blocks beyond reading or writing a file.
#pragma once

#include "settings/RegistryStore.h"
#include "settings/Settings.h"

#include <exiv2/exiv2.hpp>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Writes the settings of a scratch home under `config` (as XDG_CONFIG_HOME): pictures go
// straight into `pictures`, without date folders; `prefs` may change the rest. Returns
// whether the settings file was written.
inline bool WriteHomeSettings(const std::filesystem::path& config, const std::filesystem::path& pictures,
                              const std::function<void(Settings&)>& prefs = {})
{
    std::filesystem::create_directories(config / "tethrocam");
    Settings s;
    s.Directory = pictures.string();
    s.Year = s.Month = s.Day = false;
    if (prefs)
        prefs(s);
    RegistryStore store((config / "tethrocam" / "settings.reg").string());
    return SaveSettings(s, store);
}

// The null-terminated pointer list posix_spawn takes; `strings` must outlive it.
inline std::vector<char*> CStrings(std::vector<std::string>& strings)
{
    std::vector<char*> list;
    for (auto& s : strings)
        list.push_back(s.data());
    list.push_back(nullptr);
    return list;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
// The picture's Exif user comment as Exiv2 reads it, with its charset prefix
// ("charset=Unicode ..."); a Unicode comment is decoded as UTF-16 in the byte order of the
// picture's Exif data. Empty when there is none or the file cannot be read.
inline std::string UserComment(const std::string& path)
{
    try {
        auto image = Exiv2::ImageFactory::open(path);
        image->readMetadata();
        auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Photo.UserComment"));
        if (it == image->exifData().end())
            return {};
        const auto* value = dynamic_cast<const Exiv2::CommentValue*>(&it->value());
        if (value && value->charsetId() == Exiv2::CommentValue::unicode)
            return "charset=Unicode " +
                   value->comment(image->byteOrder() == Exiv2::bigEndian ? "UTF-16BE" : "UTF-16LE");
        return it->toString();
    } catch (const std::exception&) {
        return {};
    }
}
#pragma GCC diagnostic pop

} // namespace testsupport
