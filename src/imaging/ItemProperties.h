// The item-property writers: stamp the user's comment and the chosen rotation into a
// saved picture. SetImageComment and SetImageRotation go through the camera library's
// image-item calls: both act on the file at the record's path, report nothing, and leave
// the file as it was when anything fails. StampPictureInMemory writes the same properties,
// the same way, into the picture's bytes before they are first written: the release
// thread uses it so that a picture is written and synced once.
// Threads: the release thread (any thread that owns the record or the bytes). The
// image-item calls block for the file I/O of rewriting the picture; StampPictureInMemory
// only uses the CPU.
#pragma once

#include "camera/CameraLibrary.h"
#include "camera/ImageItems.h"
#include "imaging/ImageInfo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Writes the comment (cut to 255 bytes, the field keeps its terminator). An empty comment
// is never written.
void SetImageComment(cdsdk::CameraLibrary& library, ImageInfo& info, const std::string& comment);
// Writes the rotation (0, 90, 180 or 270 degrees); on success the record's rotation is set.
void SetImageRotation(cdsdk::CameraLibrary& library, ImageInfo& info, int degrees);

// The comment as the item property holds it: at most 255 bytes, cut on a whole UTF-8
// character.
std::string CommentFieldText(const std::string& comment);

// The picture with the comment (unless empty) and the rotation (when given: 0, 90, 180
// or 270) stamped in, as `out.head` followed by the picture's bytes from `out.keepFrom`
// (camera/ImageItems.h). False, with `out` untouched, when there is nothing to stamp or
// the metadata writer cannot read the bytes.
bool StampPictureInMemory(const std::vector<uint8_t>& picture, const std::string& comment,
                          std::optional<int> rotation, StampedPicture& out);
