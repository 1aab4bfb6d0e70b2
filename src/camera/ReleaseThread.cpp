// The release thread's handling of one released item: download, describe, save, stamp and
// hand over for display. Runs only on the release thread of the CCamera.
#include "camera/CCamera.h"

#include "camera/CrwPreviews.h"
#include "camera/RawFiles.h"
#include "camera/ReceiveBuffer.h"
#include "imaging/ImageInfo.h"
#include "imaging/ItemProperties.h"
#include "imaging/Rotation.h"
#include "platform/DebugTrace.h"
#include "storage/SafeWrite.h"
#include "storage/SaveFolders.h"

#include <cstring>
#include <ctime>
#include <functional>
#include <new>
#include <optional>

using namespace cdsdk;
using platform::DebugTrace;

namespace {

constexpr const char* kErrorSaving = "Error saving image";
constexpr size_t kTiffHeadBytes = 204800;

bool IsBigEndianTiff(const std::vector<uint8_t>& b)
{
    return b.size() >= 4 && b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42;
}

}  // namespace

cdError CCamera::ProgressCallback(uint32_t progress, uint32_t, cdContext ctx)
{
    if (auto* self = static_cast<CCamera*>(ctx))
        self->Post(WM_DOWNLOAD_PROGRESS, progress, self->PendingCount());
    return 0;
}

namespace {

// Saves the bytes under the next free name of the kind, never over an existing file: a
// name taken between the folder scan and the write moves on to the next number. The
// comment (unless empty) and the rotation (when given) are stamped into a copy of the
// bytes in memory first, so the picture is written and synced once; if they cannot be
// stamped, the camera's bytes are saved as they came.
// The folder is synced once the item has been announced (see HandleItem).
std::optional<std::string> SaveNoReplace(int kind, const SaveSnapshot& snapshot, const std::vector<uint8_t>& bytes,
                                         const std::string& comment, std::optional<int> rotation,
                                         const std::string& rawExtension = {})
{
    StampedPicture stamped;
    std::vector<storage::ByteRange> parts{{bytes.data(), bytes.size()}};
    try {
        if (StampPictureInMemory(bytes, comment, rotation, stamped))
            parts = {{stamped.head.data(), stamped.head.size()},
                     {bytes.data() + stamped.keepFrom, bytes.size() - stamped.keepFrom}};
    } catch (const std::bad_alloc&) {
    }
    std::string path;
    int error = 0;
    if (!storage::SavePictureNoReplace(kind, snapshot.folders, std::time(nullptr), parts, &path, &error, nullptr,
                                       storage::NativeFolderAccess(), storage::FolderSync::Deferred, rawExtension))
        return std::nullopt;
    return path;
}

// Syncs the folder of a saved picture when the item's handling ends, after its
// notifications: the picture is announced without waiting for the folder, and the name
// is on disk before the next item is handled. Then the picture is safe: `safe` runs.
struct DeferredFolderSync {
    std::string path;
    std::function<void()> safe;
    ~DeferredFolderSync()
    {
        if (!path.empty()) {
            storage::SyncFolderOf(path);
            if (safe)
                safe();
        }
    }
};

}  // namespace

void CCamera::HandleItem(const ShotKind& shot)
{
    cdHSource source = source_;
    auto buffer = std::make_unique<ReceiveBuffer>();
    cdReleaseImageInfo info{};
    cdStgMedium medium = buffer->Medium();
    buffer->SetSizeHint(&info);
    const cdError result =
        source ? library_.CDGetReleasedData(source, &CCamera::ProgressCallback, this, 3, &info, &medium) : cdERROR;

    const SaveSnapshot snapshot = TakeSnapshot();
    const std::optional<int> rotation = RotationForOrientationSetting(snapshot.orientationSetting);
    // Pictures that reach the PC are always saved; the kind the shot was fired with only
    // decides whether a thumbnail stands for a picture the camera keeps.
    const bool pictureToPc = shot.kind & cdREL_KIND_PICT_TO_PC;

    auto postText = [this](const std::string& text, int64_t outcome = 0) {
        Notification n;
        n.message = WM_SAVED_FILE;
        n.wParam = outcome;
        n.text = text;
        Post(std::move(n));
    };
    auto postInfo = [this](const std::vector<uint8_t>& bytes) {
        Notification n;
        n.message = WM_EXIF;
        try {
            n.info = std::make_unique<ImageInfo>(ImageInfo::ReadImageInfoFromMemory(bytes.data(), bytes.size()));
        } catch (const std::bad_alloc&) {
            // Posted without a record: the view shows the picture without its information.
        }
        Post(std::move(n));
    };
    auto postDisplay = [this](std::vector<uint8_t> bytes) {
        Notification n;
        n.message = WM_DISPLAY_JPEG;
        n.wParam = static_cast<int64_t>(bytes.size());
        n.bytes = std::move(bytes);
        Post(std::move(n));
    };

    // Only a whole item is handled: a failed or short download, a refused write or a
    // failed allocation is reported for pictures and never saved.
    const bool whole = result == cdOK && !buffer->WriteRefused() && !buffer->AllocationFailed() &&
                       buffer->Size() > 0 && (info.DataSize == 0 || info.DataSize == buffer->Size());
    if (!whole) {
        DebugTrace("CCamera::ReleaseThread() - item not received\n");
        const bool isPicture = info.DataType == cdDATA_TYPE_PICTURE || info.DataType == 0;
        if (isPicture && shot.preview)
            previewPending_ = false;
        // A download cut off by a disconnect is not an error the user made happen.
        if ((isPicture || !pictureToPc) && running_)
            postText(kErrorSaving, kItemNotReceived);
        return;
    }

    DeferredFolderSync folderSync;
    // Safely on disk: the library may now let go of the camera's copy (PC-only shots).
    folderSync.safe = [this, source] { library_.CDReleasedItemSaved(source); };
    std::vector<uint8_t> bytes;
    try {
        bytes = buffer->TakeBytes();
    } catch (const std::bad_alloc&) {
        postText(kErrorSaving);
        return;
    }
    buffer.reset();

    if (info.DataType == cdDATA_TYPE_PICTURE && info.Format == cdFORMAT_JPEG) {
        DebugTrace("CCamera::ReleaseThread() - JPEG\n");
        postInfo(bytes);
        if (shot.preview) {
            previewPending_ = false;
            postText("Image downloaded");
        } else if (auto path = SaveNoReplace(storage::kFileKindJpg, snapshot, bytes, snapshot.comment, rotation)) {
            folderSync.path = *path;
            postText(*path);
        } else {
            postText(kErrorSaving);
        }
        postDisplay(std::move(bytes));
    } else if (info.DataType == cdDATA_TYPE_PICTURE && info.Format == cdFORMAT_RAW &&
               ClassifyRaw(bytes).form == RawForm::Other) {
        // A newer body's RAW: saved under its own extension, shown and described from the
        // largest JPEG preview inside it.
        const RawKind raw = ClassifyRaw(bytes);
        DebugTrace("CCamera::ReleaseThread() - RAW (" + raw.extension + ")\n");
        std::vector<uint8_t> preview = DescribedJpegPreview(bytes);
        if (!preview.empty())
            postInfo(preview);
        const bool ownExtension = storage::IsOtherRawExtension(raw.extension);
        if (auto path = SaveNoReplace(ownExtension ? storage::kFileKindOtherRaw : storage::kFileKindTif, snapshot,
                                      bytes, snapshot.comment, rotation, raw.extension)) {
            folderSync.path = *path;
            postText(*path);
        } else {
            postText(kErrorSaving);
        }
        if (!preview.empty())
            postDisplay(std::move(preview));
    } else if (info.DataType == cdDATA_TYPE_PICTURE && info.Format == cdFORMAT_RAW) {
        const bool tiff = IsBigEndianTiff(bytes);
        DebugTrace(tiff ? "CCamera::ReleaseThread() - RAW (TIFF)\n" : "CCamera::ReleaseThread() - RAW (CRW)\n");
        if (tiff)
            postInfo(bytes);
        if (auto path = SaveNoReplace(tiff ? storage::kFileKindTif : storage::kFileKindCrw, snapshot, bytes,
                                      snapshot.comment, rotation)) {
            folderSync.path = *path;
            postText(*path);
        } else {
            postText(kErrorSaving);
        }
        if (tiff) {
            try {
                std::vector<uint8_t> head(bytes.begin(),
                                          bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), kTiffHeadBytes)));
                postDisplay(std::move(head));
            } catch (const std::bad_alloc&) {
            }
        } else {
            for (auto& preview : CrwPreviews(bytes))
                postDisplay(std::move(preview));
        }
    } else if (info.DataType == cdDATA_TYPE_THUMBNAIL || info.DataType == cdDATA_TYPE_PLUS_JPEG) {
        const bool plus = info.DataType == cdDATA_TYPE_PLUS_JPEG;
        DebugTrace(plus ? "CCamera::ReleaseThread() - PLUS_JPEG\n" : "CCamera::ReleaseThread() - THUMBNAIL\n");
        if (pictureToPc || plus) {
            if (auto path = SaveNoReplace(plus ? storage::kFileKindJpegWithTif : storage::kFileKindThm, snapshot,
                                          bytes, std::string(), rotation))
                folderSync.path = *path;
        } else {
            postText("Image stored on CF card");
        }
        postInfo(bytes);
        postDisplay(std::move(bytes));
    } else {
        DebugTrace("CCamera::ReleaseThread() - unknown item dropped\n");
    }
}
