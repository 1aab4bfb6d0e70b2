// ImageInfo: the few facts the program reads from a picture's own metadata (model,
// exposure and aperture texts, focus points used, orientation), with the program's own
// bounded Exif reader. A value type: copies are independent.
// Threads: any thread may build a record; each record is used by one thread at a time
// (records built on the release thread are handed to the UI by a posted notification).
// Calls never fail and never throw; they only read files and buffers, never write.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class ImageInfo {
public:
    ImageInfo() = default;

    // Reads a saved picture file, chosen by its extension (.jpg, .thm, .tif; .crw is read
    // through its .thm companion). Fields that cannot be read keep their start values.
    static ImageInfo ReadImageInfoFromFile(const std::string& path);
    // Reads received bytes: a JPEG, or a big-endian TIFF. The path stays empty.
    static ImageInfo ReadImageInfoFromMemory(const uint8_t* data, size_t length);

    const std::string& Path() const { return path_; }
    const std::string& Model() const { return model_; }
    const std::string& ApertureText() const { return aperture_; }
    const std::string& ExposureText() const { return exposure_; }
    uint32_t SevenPointAfMask() const { return sevenPointAf_; }
    uint32_t ThreePointAfValue() const { return threePointAf_; }
    const std::array<uint8_t, 8>& FortyFivePointAfBits() const { return fortyFivePointAf_; }
    int Rotation() const { return rotation_; }

    void SetPath(const std::string& path) { path_ = path; }
    // The rotation writer stores here the rotation it has just written into the file.
    void SetRotation(int degrees) { rotation_ = degrees; }

    // Parse routines shared by both constructors. Every read is bounded by the given
    // length; a read that would pass the end ends the parse, keeping what was stored.
    void ParseExifSegment(const uint8_t* segment, size_t length);
    void ParseTiffHeaderInfo(const uint8_t* data, size_t length);
    void ParseExifSubIfd(const uint8_t* tiff, size_t length, uint32_t offset);
    void ParseMakerNote(const uint8_t* tiff, size_t length, uint32_t offset);

private:
    bool littleEndian_ = false;
    std::string path_;
    std::string model_;
    std::string aperture_;
    std::string exposure_;
    uint32_t sevenPointAf_ = 0;
    uint32_t threePointAf_ = 0;
    std::array<uint8_t, 8> fortyFivePointAf_{};
    int rotation_ = 0;

    friend class ExifParser;
};
