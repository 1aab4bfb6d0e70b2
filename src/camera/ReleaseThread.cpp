// The release thread's handling of one released item: download, describe, save, stamp and
// hand over for display. Runs only on the release thread of the CCamera.
#include "camera/CCamera.h"

#include "camera/CrwPreviews.h"
#include "camera/RawFiles.h"
#include "camera/ReceiveBuffer.h"
#include "imaging/ImageInfo.h"
#include "imaging/ItemProperties.h"
#include "platform/DebugTrace.h"
#include "storage/SafeWrite.h"
#include "storage/SaveFolders.h"

#include <cstring>
#include <ctime>
#include <new>
#include <optional>

using namespace cdsdk;
using platform::DebugTrace;

namespace {

constexpr const char* kErrorSaving = "Error saving image";
constexpr size_t kTiffHeadBytes = 204800;

// Rotation to stamp for the orientation setting; none for "use the orientation sensor"
// and for values outside the menu's range.
std::optional<int> RotationFor(int orientationSetting)
{
    switch (orientationSetting) {
    case 0: return 0;
    case 1: return 270;
    case 2: return 90;
    case 3: return 180;
    default: return std::nullopt;
    }
}


bool IsBigEndianTiff(const std::vector<uint8_t>& b)
{
    return b.size() >= 4 && b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42;
}

}  // namespace

std::string CCamera::NextFileName(int kind, const SaveSnapshot& settings)
{
    return storage::NextFileName(kind, settings.folders, storage::NativePathStyle(), std::time(nullptr));
}

cdError CCamera::ProgressCallback(uint32_t progress, uint32_t, cdContext ctx)
{
    if (auto* self = static_cast<CCamera*>(ctx))
        self->Post(WM_DOWNLOAD_PROGRESS, progress, self->PendingCount());
    return 0;
}

namespace {

// Saves the bytes under the next free name of the kind, never over an existing file: a
// name taken between the folder scan and the write moves on to the next number.
// The folder is synced once the item has been announced (see HandleItem).
std::optional<std::string> SaveNoReplace(int kind, const SaveSnapshot& snapshot, const std::vector<uint8_t>& bytes,
                                         const std::string& rawExtension = {})
{
    std::string path;
    int error = 0;
    if (!storage::SavePictureNoReplace(kind, snapshot.folders, std::time(nullptr), bytes.data(),
                                       bytes.size(), &path, &error, nullptr, storage::NativeFolderAccess(),
                                       storage::FolderSync::Deferred, rawExtension))
        return std::nullopt;
    return path;
}

// Syncs the folder of a saved picture when the item's handling ends, after its
// notifications: the picture is announced without waiting for the folder, and the name
// is on disk before the next item is handled.
struct DeferredFolderSync {
    std::string path;
    ~DeferredFolderSync()
    {
        if (!path.empty())
            storage::SyncFolderOf(path);
    }
};

}  // namespace

void CCamera::HandleItem()
{
    cdHSource source = source_;
    auto buffer = std::make_unique<ReceiveBuffer>();
    cdReleaseImageInfo info{};
    cdStgMedium medium = buffer->Medium();
    buffer->SetSizeHint(&info);
    const cdError result =
        source ? library_.CDGetReleasedData(source, &CCamera::ProgressCallback, this, 3, &info, &medium) : cdERROR;

    const SaveSnapshot snapshot = owner_ ? owner_->TakeSaveSnapshot() : SaveSnapshot{};
    const std::optional<int> rotation = RotationFor(snapshot.orientationSetting);
    const uint16_t kind = releaseKind_;
    const bool toPc = kind & cdREL_KIND_PICT_TO_PC;

    auto postText = [this](const std::string& text) {
        Notification n;
        n.message = WM_SAVED_FILE;
        n.text = text;
        if (owner_)
            owner_->Post(std::move(n));
    };
    auto postInfo = [this](const std::vector<uint8_t>& bytes) {
        Notification n;
        n.message = WM_EXIF;
        try {
            n.info = std::make_unique<ImageInfo>(ImageInfo::ReadImageInfoFromMemory(bytes.data(), bytes.size()));
        } catch (const std::bad_alloc&) {
            // Posted without a record: the view shows the picture without its information.
        }
        if (owner_)
            owner_->Post(std::move(n));
    };
    auto postDisplay = [this](std::vector<uint8_t> bytes) {
        Notification n;
        n.message = WM_DISPLAY_JPEG;
        n.wParam = static_cast<int64_t>(bytes.size());
        n.bytes = std::move(bytes);
        if (owner_)
            owner_->Post(std::move(n));
    };
    auto stamp = [this](const std::string& path, const std::string& comment, std::optional<int> rot) {
        if (!comment.empty()) {
            ImageInfo record = ImageInfo::ReadImageInfoFromFile(path);
            SetImageComment(library_, record, comment);
        }
        if (rot) {
            ImageInfo record = ImageInfo::ReadImageInfoFromFile(path);
            SetImageRotation(library_, record, *rot);
        }
    };

    // Only a whole item is handled: a failed or short download, a refused write or a
    // failed allocation is reported for pictures and never saved.
    const bool whole = result == cdOK && !buffer->WriteRefused() && !buffer->AllocationFailed() &&
                       buffer->Size() > 0 && (info.DataSize == 0 || info.DataSize == buffer->Size());
    if (!whole) {
        DebugTrace("CCamera::ReleaseThread() - item not received\n");
        const bool isPicture = info.DataType == cdDATA_TYPE_PICTURE || info.DataType == 0;
        if (isPicture || !toPc) {
            if (isPicture && previewPending_.exchange(false))
                library_.CDSelectReleaseDataKind(source, kind);
            postText(kErrorSaving);
        }
        return;
    }

    DeferredFolderSync folderSync;
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
        if (previewPending_.exchange(false)) {
            library_.CDSelectReleaseDataKind(source, kind);
            postText("Image downloaded");
        } else if (toPc) {
            if (auto path = SaveNoReplace(storage::kFileKindJpg, snapshot, bytes)) {
                folderSync.path = *path;
                stamp(*path, snapshot.comment, rotation);
                postText(*path);
            } else {
                postText(kErrorSaving);
            }
        } else {
            postText("Image saved to CF card");
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
        if (!toPc) {
            postText("Image saved to CF card");
            return;
        }
        const bool ownExtension = storage::IsOtherRawExtension(raw.extension);
        if (auto path = SaveNoReplace(ownExtension ? storage::kFileKindOtherRaw : storage::kFileKindTif, snapshot,
                                      bytes, raw.extension)) {
            folderSync.path = *path;
            stamp(*path, snapshot.comment, rotation);
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
        if (!toPc) {
            postText("Image saved to CF card");
            return;
        }
        if (auto path = SaveNoReplace(tiff ? storage::kFileKindTif : storage::kFileKindCrw, snapshot, bytes)) {
            folderSync.path = *path;
            stamp(*path, snapshot.comment, rotation);
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
        if (toPc) {
            if (auto path = SaveNoReplace(plus ? storage::kFileKindJpegWithTif : storage::kFileKindThm, snapshot, bytes)) {
                folderSync.path = *path;
                stamp(*path, std::string(), rotation);
            }
        } else {
            postText("Image stored on CF card");
        }
        postInfo(bytes);
        postDisplay(std::move(bytes));
    } else {
        DebugTrace("CCamera::ReleaseThread() - unknown item dropped\n");
    }
}
