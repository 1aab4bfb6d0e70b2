// The item-property writers: stamp the user's comment and the chosen rotation into a saved
// picture through the camera library's image-item calls. Both act on the file at the
// record's path, report nothing, and leave the file as it was when anything fails.
// Threads: the release thread (any thread that owns the record). Blocks for the file I/O
// of rewriting the picture.
#pragma once

#include "camera/CameraLibrary.h"
#include "imaging/ImageInfo.h"

#include <string>

// Writes the comment (cut to 255 bytes, the field keeps its terminator). An empty comment
// is never written.
void SetImageComment(cdsdk::CameraLibrary& library, ImageInfo& info, const std::string& comment);
// Writes the rotation (0, 90, 180 or 270 degrees); on success the record's rotation is set.
void SetImageRotation(cdsdk::CameraLibrary& library, ImageInfo& info, int degrees);
