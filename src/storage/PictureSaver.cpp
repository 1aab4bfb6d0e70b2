#include "storage/PictureSaver.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace storage {

namespace {

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The path itself when it exists, else its nearest existing parent; empty when none.
std::string NearestExisting(std::string path)
{
    path = WithoutTrailingSlashes(path);
    while (!path.empty()) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            return path;
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return {};
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    return {};
}

std::optional<dev_t> DeviceOf(const std::string& path)
{
    const std::string existing = NearestExisting(path);
    struct stat st {};
    if (existing.empty() || ::stat(existing.c_str(), &st) != 0)
        return std::nullopt;
    return st.st_dev;
}

std::string FolderOfPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> RescueFolderCandidates(const std::string& dataHome, const std::string& runtimeFolder)
{
    std::vector<std::string> out;
    if (!dataHome.empty() && dataHome[0] == '/')
        out.push_back(WithoutTrailingSlashes(dataHome) + "/tethrocam/unsaved");
    if (!runtimeFolder.empty() && runtimeFolder[0] == '/')
        out.push_back(WithoutTrailingSlashes(runtimeFolder) + "/unsaved");
    return out;
}

std::optional<uint64_t> FreeBytesAt(const std::string& path)
{
    const std::string existing = NearestExisting(path);
    struct statvfs vfs {};
    if (existing.empty() || ::statvfs(existing.c_str(), &vfs) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
}

uint64_t PicturesThatFit(uint64_t freeBytes, uint64_t pictureBytes)
{
    return pictureBytes == 0 ? 0 : freeBytes / pictureBytes;
}

int ProbeFolderWritable(const std::string& folder)
{
    std::string probe = WithoutTrailingSlashes(folder) + "/.tethrocam-probe-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    ::close(fd);
    ::unlink(probe.c_str());
    return 0;
}

PictureSaveResult SavePictureOrRescue(int kind, const FolderSettings& settings, std::time_t now,
                                      const std::vector<ByteRange>& parts,
                                      const std::vector<std::string>& rescueFolders, FolderSync folderSync,
                                      const std::string& rawExtension)
{
    PictureSaveResult result;
    result.folder = WithoutTrailingSlashes(DatedFolder(settings, NativePathStyle(), now));
    std::string path;
    int error = 0;
    bool saved = SavePictureNoReplace(kind, settings, now, parts, &path, &error, nullptr, NativeFolderAccess(),
                                      folderSync, rawExtension);
    if (!saved && error == ENOENT) {
        // The folder went between its making and the write (a card pulled and put back, a
        // folder deleted while shooting): naming the file makes it again.
        result.folderRemade = true;
        saved = SavePictureNoReplace(kind, settings, now, parts, &path, &error, nullptr, NativeFolderAccess(),
                                     folderSync, rawExtension);
    }
    if (saved) {
        result.where = PictureSaveResult::Where::PictureFolder;
        result.path = path;
        result.bytesFree = FreeBytesAt(FolderOfPath(path));
        return result;
    }
    result.folderError = error;

    // Rescue folders on another file system first: a full or failing disk would refuse
    // them as well.
    std::vector<std::string> order = rescueFolders;
    if (const std::optional<dev_t> pictureDevice = DeviceOf(result.folder))
        std::stable_partition(order.begin(), order.end(),
                              [&](const std::string& folder) { return DeviceOf(folder) != pictureDevice; });
    result.rescueError = ENOENT;
    for (const std::string& folder : order) {
        if (!MakeDirectoryPath(folder, NativePathStyle())) {
            result.rescueError = errno ? errno : EACCES;
            continue;
        }
        FolderSettings rescue;
        rescue.Directory = folder;
        rescue.FilenamePrefix = settings.FilenamePrefix;
        rescue.Year = rescue.Month = rescue.Day = false;
        if (SavePictureNoReplace(kind, rescue, now, parts, &path, &error, nullptr, NativeFolderAccess(), folderSync,
                                 rawExtension)) {
            result.where = PictureSaveResult::Where::RescueFolder;
            result.path = path;
            result.bytesFree = FreeBytesAt(folder);
            return result;
        }
        result.rescueError = error;
    }
    return result;
}

}  // namespace storage
