#include "camera/RawFiles.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstring>

namespace {

bool StartsWith(const std::vector<uint8_t>& b, size_t offset, const char* text, size_t n)
{
    return b.size() >= offset + n && std::memcmp(b.data() + offset, text, n) == 0;
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct TiffFacts {
    std::string make;
    bool dng = false;
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TiffFacts ReadTiffFacts(const std::vector<uint8_t>& bytes)
{
    TiffFacts facts;
    try {
        auto image = Exiv2::ImageFactory::open(bytes.data(), bytes.size());
        if (image.get() == nullptr)
            return facts;
        image->readMetadata();
        const Exiv2::ExifData& exif = image->exifData();
        auto make = exif.findKey(Exiv2::ExifKey("Exif.Image.Make"));
        if (make != exif.end())
            facts.make = Upper(make->toString());
        facts.dng = exif.findKey(Exiv2::ExifKey("Exif.Image.DNGVersion")) != exif.end();
    } catch (const std::exception&) {
    }
    return facts;
}
#pragma GCC diagnostic pop

}  // namespace

RawKind ClassifyRaw(const std::vector<uint8_t>& b)
{
    if (StartsWith(b, 0, "II", 2) && StartsWith(b, 6, "HEAPCCDR", 8))
        return {RawForm::Crw, "CRW"};
    if (StartsWith(b, 0, "FUJIFILMCCD-RAW", 15))
        return {RawForm::Other, "RAF"};
    if (StartsWith(b, 4, "ftypcrx ", 8))
        return {RawForm::Other, "CR3"};
    // HEIF pictures of the newer bodies (Canon's HIF, Sony's HEIF): kept byte for byte.
    for (const char* brand : {"heic", "heix", "hevc", "heim", "heis", "mif1", "msf1"}) {
        if (StartsWith(b, 4, "ftyp", 4) && StartsWith(b, 8, brand, 4))
            return {RawForm::Other, "HIF"};
    }
    if (StartsWith(b, 0, "FOVb", 4))
        return {RawForm::Other, "X3F"};
    if (StartsWith(b, 0, "IIRO", 4) || StartsWith(b, 0, "IIRS", 4) || StartsWith(b, 0, "MMOR", 4))
        return {RawForm::Other, "ORF"};
    if (StartsWith(b, 0, "IIU\0", 4))
        return {RawForm::Other, "RW2"};
    if (StartsWith(b, 0, "\0MRM", 4))
        return {RawForm::Other, "MRW"};
    const bool little = StartsWith(b, 0, "II*\0", 4);
    const bool big = StartsWith(b, 0, "MM\0*", 4);
    if (!little && !big)
        return {RawForm::Other, "TIF"};
    if (little && StartsWith(b, 8, "CR", 2))
        return {RawForm::Other, "CR2"};
    const TiffFacts facts = ReadTiffFacts(b);
    if (facts.dng)
        return {RawForm::Other, "DNG"};
    const std::string& m = facts.make;
    auto makeIs = [&m](const char* prefix) { return m.rfind(prefix, 0) == 0; };
    if (makeIs("NIKON"))
        return {RawForm::Other, "NEF"};
    if (makeIs("SONY"))
        return {RawForm::Other, "ARW"};
    if (makeIs("PENTAX") || makeIs("RICOH"))
        return {RawForm::Other, "PEF"};
    if (makeIs("SAMSUNG"))
        return {RawForm::Other, "SRW"};
    if (makeIs("HASSELBLAD"))
        return {RawForm::Other, "3FR"};
    if (makeIs("PHASE ONE"))
        return {RawForm::Other, "IIQ"};
    if (makeIs("KODAK") || makeIs("EASTMAN KODAK"))
        return {RawForm::Other, "DCR"};
    if (makeIs("SEIKO EPSON") || makeIs("EPSON"))
        return {RawForm::Other, "ERF"};
    if (makeIs("LEICA"))
        return {RawForm::Other, "RWL"};
    // The uncompressed TIFF of the older Canon bodies (and a TIFF nobody claims).
    if (big)
        return {RawForm::CanonTiff, "TIF"};
    return {RawForm::Other, "TIF"};
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::vector<uint8_t> LargestJpegPreview(const std::vector<uint8_t>& bytes)
{
    try {
        auto image = Exiv2::ImageFactory::open(bytes.data(), bytes.size());
        if (image.get() == nullptr)
            return {};
        image->readMetadata();
        Exiv2::PreviewManager previews(*image);
        const Exiv2::PreviewPropertiesList list = previews.getPreviewProperties();
        const Exiv2::PreviewProperties* best = nullptr;
        for (const auto& p : list) {
            if (p.mimeType_ != "image/jpeg")
                continue;
            const uint64_t area = static_cast<uint64_t>(p.width_) * p.height_;
            if (!best || area > static_cast<uint64_t>(best->width_) * best->height_ ||
                (area == static_cast<uint64_t>(best->width_) * best->height_ && p.size_ > best->size_))
                best = &p;
        }
        if (!best)
            return {};
        Exiv2::PreviewImage preview = previews.getPreviewImage(*best);
        const auto* data = preview.pData();
        return std::vector<uint8_t>(data, data + preview.size());
    } catch (const std::exception&) {
        return {};
    }
}
#pragma GCC diagnostic pop

namespace {

bool HasExifBlock(const std::vector<uint8_t>& jpeg)
{
    // APP1 "Exif" directly after SOI, or after one APP0.
    size_t i = 2;
    for (int segments = 0; segments < 4 && i + 10 <= jpeg.size() && jpeg[i] == 0xFF; ++segments) {
        const uint8_t marker = jpeg[i + 1];
        const size_t length = (size_t{jpeg[i + 2]} << 8) | jpeg[i + 3];
        if (marker == 0xE1 && std::memcmp(jpeg.data() + i + 4, "Exif", 4) == 0)
            return true;
        if (marker < 0xE0 || marker > 0xEF)
            return false;
        i += 2 + length;
    }
    return false;
}

// Tags that describe the picture, not where the RAW file keeps its data. The colour
// space (Photo.ColorSpace and the interoperability index) says what the preview's values
// mean: they were made in the RAW's colour space.
bool IsDescriptiveTag(const Exiv2::Exifdatum& d)
{
    const std::string group = d.groupName();
    if (group == "Photo")
        return d.tagName() != "MakerNote";
    if (group == "Iop")
        return true;
    if (group != "Image")
        return false;
    static const char* const kKeep[] = {"Make", "Model", "Orientation", "DateTime", "Artist", "Copyright",
                                        "Software", "ImageDescription"};
    for (const char* k : kKeep) {
        if (d.tagName() == k)
            return true;
    }
    return false;
}

bool IsColourSpaceTag(const Exiv2::Exifdatum& d)
{
    return d.groupName() == "Iop" || (d.groupName() == "Photo" && d.tagName() == "ColorSpace");
}

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::vector<uint8_t> DescribedJpegPreview(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> preview = LargestJpegPreview(bytes);
    if (preview.empty())
        return preview;
    const bool ownExif = HasExifBlock(preview);
    try {
        auto raw = Exiv2::ImageFactory::open(bytes.data(), bytes.size());
        if (raw.get() == nullptr)
            return preview;
        raw->readMetadata();
        auto jpeg = Exiv2::ImageFactory::open(preview.data(), preview.size());
        if (jpeg.get() == nullptr)
            return preview;
        jpeg->readMetadata();
        Exiv2::ExifData description;
        if (ownExif) {
            // The preview keeps its own description; only the RAW's colour space, when the
            // RAW names one, replaces what the preview says.
            description = jpeg->exifData();
            bool colourSpace = false;
            for (const auto& d : raw->exifData())
                colourSpace = colourSpace || IsColourSpaceTag(d);
            if (!colourSpace)
                return preview;
            for (auto it = description.begin(); it != description.end();)
                it = IsColourSpaceTag(*it) ? description.erase(it) : std::next(it);
            for (const auto& d : raw->exifData()) {
                if (IsColourSpaceTag(d))
                    description.add(d);
            }
        } else {
            for (const auto& d : raw->exifData()) {
                if (IsDescriptiveTag(d))
                    description.add(d);
            }
            if (description.empty())
                return preview;
        }
        jpeg->setExifData(description);
        jpeg->writeMetadata();
        Exiv2::BasicIo& io = jpeg->io();
        io.seek(0, Exiv2::BasicIo::beg);
        Exiv2::DataBuf buf = io.read(static_cast<long>(io.size()));
        std::vector<uint8_t> out(buf.pData_, buf.pData_ + buf.size_);
        return out.size() > preview.size() / 2 ? out : preview;
    } catch (const std::exception&) {
        return preview;
    }
}
#pragma GCC diagnostic pop
