// ColourProfile: one RGB colour profile, read by Little CMS: the two the program knows by
// name (sRGB and Adobe RGB (1998)), or ICC bytes from a picture, a file or the display
// server. A profile that Little CMS cannot read, or that does not describe RGB values
// (grey, CMYK, named colours, device links), is refused with the reason: a damaged or
// hostile profile never becomes a profile.
//
// Threads: a Profile is used by one thread at a time (Little CMS reads tags lazily into
// the profile); copies share the same profile, so hand copies to other threads only as
// the ICC bytes (IccBytes) and read them there again. No call blocks beyond parsing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace colour {

class Profile {
public:
    // IEC 61966-2-1 sRGB; the start value of every profile.
    Profile();
    static Profile Srgb();
    // Adobe RGB (1998): D65 white, its three primaries, gamma 563/256.
    static Profile AdobeRgb();
    // An RGB profile from ICC bytes; nullopt with `reason` set when it cannot be used.
    static std::optional<Profile> FromIcc(const uint8_t* data, size_t size, std::string* reason = nullptr);
    static std::optional<Profile> FromIcc(const std::vector<uint8_t>& bytes, std::string* reason = nullptr)
    {
        return FromIcc(bytes.data(), bytes.size(), reason);
    }
    // A profile file (at most kMaxIccBytes); nullopt with a reason the user can act on.
    static std::optional<Profile> FromFile(const std::string& path, std::string* reason = nullptr);

    // "sRGB", "Adobe RGB (1998)", or the profile's own description ("profile" when empty).
    const std::string& Name() const { return name_; }
    // What identifies these colours for caching: "sRGB", "Adobe RGB (1998)", or "icc:" and
    // the MD5 of the bytes.
    const std::string& Key() const { return key_; }
    // True when the two describe the same colours: the same key, or two matrix/curve
    // profiles with the same primaries and curves (an sRGB file from the desktop is the
    // program's own sRGB).
    bool SameColoursAs(const Profile& other) const;
    // True for a profile made of three primaries and three curves only (no tables).
    bool IsMatrixShaper() const;
    // The profile serialised as ICC bytes (the original bytes for one read from them).
    std::vector<uint8_t> IccBytes() const;

    // The Little CMS handle (cmsHPROFILE) for the colour code.
    void* Handle() const { return handle_.get(); }

    // Larger ICC data is refused: a display profile is tens of kilobytes, a big
    // table-based one a few megabytes.
    static constexpr size_t kMaxIccBytes = 16u << 20;

private:
    Profile(std::shared_ptr<void> handle, std::string key, std::string name, std::vector<uint8_t> icc);

    std::shared_ptr<void> handle_;
    std::string key_;
    std::string name_;
    std::vector<uint8_t> icc_;  // the bytes it was read from; empty for a named profile
};

} // namespace colour
