// Saving a picture that reached the PC so that it is never lost: into the picture folder
// when it can take it, else into a rescue folder, with the system's reason kept for the
// user. The picture folder is the dated folder of the user's settings; when its save fails
// because the folder vanished (ENOENT), the folder is made again and the save tried once
// more. When the picture folder cannot take the picture for any reason (full disk, no
// permission, read-only or vanished medium), the same crash-safe writer puts it into the
// first rescue folder that takes it, trying folders on another file system than the
// picture folder's first. If no folder takes it, nothing is written and the caller keeps
// the bytes.
//
// Threads: any thread; the release thread saves every picture through it. Blocks on file
// I/O (stat, mkdir, one folder listing per name, the write and its fsync).
#pragma once

#include "storage/SafeWrite.h"
#include "storage/SaveFolders.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace storage {

// Where a rescued picture may go, best first: $XDG_DATA_HOME/tethrocam/unsaved (given as
// `dataHome`, empty when unknown), then the folder "unsaved" in `runtimeFolder` (the
// program's private runtime folder, empty when unknown).
std::vector<std::string> RescueFolderCandidates(const std::string& dataHome, const std::string& runtimeFolder);

struct PictureSaveResult {
    enum class Where { PictureFolder, RescueFolder, Nowhere };
    Where where = Where::Nowhere;
    std::string path;          // the file written (empty for Nowhere)
    std::string folder;        // the picture folder the picture was meant for
    int folderError = 0;       // errno of the picture folder's failure; 0 when it took the picture
    int rescueError = 0;       // errno of the last rescue folder tried, for Nowhere
    bool folderRemade = false; // the picture folder had vanished and was made again
    // Free bytes on the file system that took the picture, after the save; none when
    // unknown or when nothing was written.
    std::optional<uint64_t> bytesFree;
};

// Saves one picture (written in pieces, see SavePictureNoReplace) under the next free name
// of `kind` in the picture folder of `settings`, else in a rescue folder (same prefix and
// numbering, no date levels). Never replaces a file.
PictureSaveResult SavePictureOrRescue(int kind, const FolderSettings& settings, std::time_t now,
                                      const std::vector<ByteRange>& parts,
                                      const std::vector<std::string>& rescueFolders,
                                      FolderSync folderSync = FolderSync::Now,
                                      const std::string& rawExtension = {});

// Free bytes for an unprivileged user on the file system that holds `path` (or, when it
// does not exist yet, its nearest existing parent); none when that cannot be found.
std::optional<uint64_t> FreeBytesAt(const std::string& path);

// How many more pictures of `pictureBytes` fit into `freeBytes` (0 for a zero size).
uint64_t PicturesThatFit(uint64_t freeBytes, uint64_t pictureBytes);

// Whether the program can create files in `folder` (an existing folder): a file is made
// and removed again. 0, or the errno value of the failure.
int ProbeFolderWritable(const std::string& folder);

} // namespace storage
