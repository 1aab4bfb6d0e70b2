// Writing a received picture without ever replacing a file that is already there.
// The name chosen by NextFileName can be taken by the time the file is created (another
// program wrote it, or a JPEG that comes with a TIFF RAW took the number of an older TIFF
// whose JPEG is still there). The bytes therefore go to a hidden temporary file in the
// target folder first and are then linked to the final name, which fails if that name
// exists; the caller then asks for the next number.
//
// Threads: any thread; the release thread calls it for every item it saves. Blocks on
// file I/O, including fsync of the file and of its folder. Native paths only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "storage/SaveFolders.h"

namespace storage {

// Writes `size` bytes to `path` if, and only if, nothing exists under that name. The
// file appears complete or not at all. On failure returns false with the errno value in
// `errnoOut` (EEXIST: the name was taken) and leaves neither the picture's name nor a
// temporary file behind.
// After the name is given, the folder is synced too, so that the name itself survives a
// power cut; FolderSync::Deferred leaves that to the caller (SyncFolderOf), who may first
// announce the picture.
enum class FolderSync { Now, Deferred };
bool WriteFileNoReplace(const std::string& path, const uint8_t* data, size_t size, int* errnoOut,
                        FolderSync folderSync = FolderSync::Now);
// Syncs the folder that holds `path`.
void SyncFolderOf(const std::string& path);

// How many numbers SavePictureNoReplace tries before it gives up with EEXIST.
constexpr int kSaveAttempts = 100;

// Names and writes one picture: asks NextFileName for the path and writes it without
// replacing; when the name turns out to be taken, asks again with a higher minimum
// number. The bytes are written and synced once, into a temporary file that each name
// tried is linked to. `pathOut` receives the path written (or, on failure, the last path
// tried), `numberOut` the running number used. After a save, the folder's stale
// temporaries are removed (RemoveStaleTemporaries).
bool SavePictureNoReplace(int kind, const FolderSettings& settings, std::time_t now,
                          const uint8_t* data, size_t size, std::string* pathOut, int* errnoOut,
                          int* numberOut = nullptr, FolderAccess& fs = NativeFolderAccess(),
                          FolderSync folderSync = FolderSync::Now, const std::string& rawExtension = {});

// The same for a picture held in several pieces, written one after the other (a stamped
// header and the camera's own bytes after it), so it need not be joined in memory first.
struct ByteRange {
    const uint8_t* data;
    size_t size;
};
bool SavePictureNoReplace(int kind, const FolderSettings& settings, std::time_t now,
                          const std::vector<ByteRange>& parts, std::string* pathOut, int* errnoOut,
                          int* numberOut = nullptr, FolderAccess& fs = NativeFolderAccess(),
                          FolderSync folderSync = FolderSync::Now, const std::string& rawExtension = {});

// Removes the temporary files a crashed run of the program left in `folder`: only names
// of our own pattern (".tethrocam-*.part"), only regular files of this user, only those
// last written before this process started (a temporary being written now is younger).
// Looks at each folder once per process; returns how many files it removed.
int RemoveStaleTemporaries(const std::string& folder);

} // namespace storage
