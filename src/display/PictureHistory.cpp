#include "display/PictureHistory.h"

#include "camera/CrwPreviews.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

namespace display {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsWithNoCase(const std::string& s, const char* suffix)
{
    const std::string tail(suffix);
    if (s.size() < tail.size())
        return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        if (LowerAscii(s[s.size() - tail.size() + i]) != LowerAscii(tail[i]))
            return false;
    }
    return true;
}

// The path with its last three characters replaced by `extension` (given in lower case).
// The camera writes upper-case extensions and the file system tells cases apart, so the
// companion's name follows the case of the picture's own extension first; the other case
// is the fallback. IMG_0005.CRW -> IMG_0005.THM, then IMG_0005.thm.
std::vector<std::string> CompanionNames(const std::string& path, const std::string& extension)
{
    const std::string stem = path.substr(0, path.size() - 3);
    std::string upper = extension;
    for (char& c : upper)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    const char last = path.back();
    const bool pictureUpper = last >= 'A' && last <= 'Z';
    if (pictureUpper)
        return {stem + upper, stem + extension};
    return {stem + extension, stem + upper};
}

bool IsFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Up to `limit` bytes from the start of the file. None when the file cannot be opened or
// a read fails (a folder, a device error) or memory runs out.
std::optional<std::vector<uint8_t>> ReadFileHead(const std::string& path, size_t limit)
{
    File file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    try {
        constexpr size_t kChunk = 64 * 1024;
        while (bytes.size() < limit) {
            const size_t want = std::min(kChunk, limit - bytes.size());
            const size_t old = bytes.size();
            bytes.resize(old + want);
            const size_t got = std::fread(bytes.data() + old, 1, want, file.get());
            bytes.resize(old + got);
            if (got < want)
                break;
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    if (std::ferror(file.get()))
        return std::nullopt;
    return bytes;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path)
{
    return ReadFileHead(path, SIZE_MAX);
}

std::optional<std::vector<uint8_t>> NonEmpty(std::optional<std::vector<uint8_t>> bytes)
{
    if (bytes && bytes->empty())
        return std::nullopt;
    return bytes;
}

std::string FileNameOf(const std::string& path)
{
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\");
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::optional<std::vector<uint8_t>> LoadDisplayData(const std::string& path)
{
    if (EndsWithNoCase(path, ".jpg"))
        return NonEmpty(ReadWholeFile(path));
    if (EndsWithNoCase(path, ".crw")) {
        const auto item = ReadWholeFile(path);
        if (!item)
            return std::nullopt;
        auto previews = CrwPreviews(*item);
        if (previews.empty())
            return std::nullopt;
        return NonEmpty(std::move(previews.front()));
    }
    if (EndsWithNoCase(path, ".tif")) {
        if (!IsFile(path))
            return std::nullopt;
        // A TIFF RAW picture comes with a JPEG of the same number: show that instead.
        for (const std::string& jpeg : CompanionNames(path, "jpg")) {
            if (auto bytes = NonEmpty(ReadWholeFile(jpeg)))
                return bytes;
        }
        return NonEmpty(ReadFileHead(path, kTiffDisplayBytes));
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> LoadDisplayData(const ImageInfo& record)
{
    return LoadDisplayData(record.Path());
}

std::string FormatFileSize(uint64_t byteCount)
{
    // The size in KB to the nearest KB, (bytes + 511) / 1024, without overflowing.
    const uint64_t k = byteCount / 1024 + (byteCount % 1024 + 511) / 1024;
    char text[64];
    if (k < 1024) {
        std::snprintf(text, sizeof text, "%lluKB", static_cast<unsigned long long>(k));
    } else if (k < 10240) {
        std::snprintf(text, sizeof text, "%llu,%03lluKB", static_cast<unsigned long long>(k / 1000),
                      static_cast<unsigned long long>(k % 1000));
    } else if (k < 102400) {
        std::snprintf(text, sizeof text, "%0.1fMB", static_cast<double>(k) / 1024.0);
    } else {
        const uint64_t m = k / 1024;
        if (m < 1000)
            std::snprintf(text, sizeof text, "%lluMB", static_cast<unsigned long long>(m));
        else
            std::snprintf(text, sizeof text, "%llu,%03lluMB", static_cast<unsigned long long>(m / 1000),
                          static_cast<unsigned long long>(m % 1000));
    }
    return text;
}

std::string ExposureSuffix(const ImageInfo* info)
{
    if (!info || info->ApertureText().empty())
        return {};
    return " - " + info->ExposureText() + "sec, F" + info->ApertureText();
}

std::string SavedStatusText(const std::string& path, uint64_t fileSize, const ImageInfo* info)
{
    return "Saved: " + path + " (" + FormatFileSize(fileSize) + ")" + ExposureSuffix(info);
}

void PictureHistory::AddToHistory(const std::string& path)
{
    entries_.push_back(ImageInfo::ReadImageInfoFromFile(path));
    current_ = static_cast<int>(entries_.size()) - 1;
}

const ImageInfo* PictureHistory::Current() const
{
    if (current_ < 0 || static_cast<size_t>(current_) >= entries_.size())
        return nullptr;
    return &entries_[static_cast<size_t>(current_)];
}

bool PictureHistory::ShowPreviousPicture(const HistoryView& view)
{
    if (entries_.empty() || (entries_.size() == 1 && current_ >= 0))
        return false;
    --current_;
    if (current_ < 0)
        current_ = static_cast<int>(entries_.size()) - 1;
    return ShowCurrent(view);
}

bool PictureHistory::ShowNextPicture(const HistoryView& view)
{
    if (entries_.empty())
        return false;
    ++current_;
    if (current_ < 0 || static_cast<size_t>(current_) >= entries_.size())
        current_ = 0;
    return ShowCurrent(view);
}

bool PictureHistory::ShowCurrent(const HistoryView& view)
{
    const ImageInfo* entry = Current();
    if (!entry)
        return false;
    const std::string path = entry->Path();
    char counter[64];
    std::snprintf(counter, sizeof counter, "Image %d of %d: ", current_ + 1, static_cast<int>(entries_.size()));
    auto bytes = LoadDisplayData(*entry);
    if (!bytes) {
        // The index has moved: no other picture may stay on show under this one's number
        // (Delete acts on this one), and the status says why there is nothing to see.
        if (view.clearDisplay)
            view.clearDisplay();
        if (view.setStatusText)
            view.setStatusText(counter + path +
                               (IsFile(path) ? " - this picture cannot be shown" : " - the file is gone"));
        return false;
    }
    ImageInfo fresh = ImageInfo::ReadImageInfoFromFile(path);
    const std::string status = counter + path + ExposureSuffix(&fresh);
    if (view.showPicture)
        view.showPicture(std::move(*bytes), std::move(fresh));
    if (view.setStatusText)
        view.setStatusText(status);
    return true;
}

void PictureHistory::DeleteCurrentPicture(const HistoryView& view)
{
    const ImageInfo* entry = Current();
    if (!entry) {
        ClearDisplay(view);
        return;
    }
    const std::string path = entry->Path();
    const int askedIndex = current_;
    if (!view.askYesNo || !view.askYesNo("Are you sure you wish to delete:\n" + path))
        return;

    // The question box runs the event loop, so a picture may have been saved and made
    // current while it was up. The user agreed to delete `path`; whatever is on show now
    // is left alone then.
    const bool unchanged = current_ == askedIndex && Current() && Current()->Path() == path;

    // A file already gone (deleted outside the program) only leaves this run's list.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        if (view.showError)
            view.showError("Error deleting file: " + path, "Error");
        if (unchanged)
            ClearDisplay(view);
        return;
    }
    if (view.setStatusText)
        view.setStatusText("Deleted " + path);
    if (EndsWithNoCase(path, ".crw")) {
        // The RAW picture's thumbnail goes with it; a missing one is not reported.
        for (const std::string& thumbnail : CompanionNames(path, "thm")) {
            if (::unlink(thumbnail.c_str()) == 0)
                break;
        }
    }

    if (!unchanged) {
        // Take the deleted picture's record out and keep the index on the picture on show.
        size_t at = entries_.size();
        if (askedIndex >= 0 && static_cast<size_t>(askedIndex) < entries_.size() &&
            entries_[static_cast<size_t>(askedIndex)].Path() == path)
            at = static_cast<size_t>(askedIndex);
        for (size_t i = 0; at == entries_.size() && i < entries_.size(); ++i) {
            if (entries_[i].Path() == path)
                at = i;
        }
        if (at < entries_.size()) {
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
            if (current_ > static_cast<int>(at))
                --current_;
            else if (current_ == static_cast<int>(at))
                current_ = -1;
        }
        if (view.refreshMenuChecks)
            view.refreshMenuChecks();
        return;
    }

    entries_.erase(entries_.begin() + current_);
    if (!entries_.empty()) {
        --current_;
        // The following picture, or, when it cannot be loaded, an empty display that says
        // why: the deleted picture never stays on show under another picture's name.
        ShowNextPicture(view);
        if (view.refreshMenuChecks)
            view.refreshMenuChecks();
        return;
    }
    ClearDisplay(view);
}

void PictureHistory::ClearDisplay(const HistoryView& view)
{
    current_ = -1;
    if (view.clearDisplay)
        view.clearDisplay();
    if (view.refreshMenuChecks)
        view.refreshMenuChecks();
}

std::string PictureHistory::HistoryCaption(bool haveCurrentBytes) const
{
    if (!haveCurrentBytes)
        return "Tethrocam";
    const ImageInfo* entry = Current();
    if (!entry)
        return "Preview";
    char counter[64];
    std::snprintf(counter, sizeof counter, "[%d of %d]: ", current_ + 1, static_cast<int>(entries_.size()));
    return counter + FileNameOf(entry->Path());
}

} // namespace display
