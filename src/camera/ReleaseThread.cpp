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
#include "storage/PictureSaver.h"
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

// The picture's bytes with the comment (unless empty) and the rotation (when given)
// stamped into a copy of its metadata segments in memory, so that it is written and synced
// once; if they cannot be stamped, the camera's bytes as they came. `stamped` holds the
// new head the parts point into.
std::vector<storage::ByteRange> StampedParts(const std::vector<uint8_t>& bytes, const std::string& comment,
                                             std::optional<int> rotation, StampedPicture& stamped)
{
    std::vector<storage::ByteRange> parts{{bytes.data(), bytes.size()}};
    try {
        if (StampPictureInMemory(bytes, comment, rotation, stamped))
            parts = {{stamped.head.data(), stamped.head.size()},
                     {bytes.data() + stamped.keepFrom, bytes.size() - stamped.keepFrom}};
    } catch (const std::bad_alloc&) {
    }
    return parts;
}

std::vector<uint8_t> Joined(const std::vector<storage::ByteRange>& parts)
{
    std::vector<uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.data, part.data + part.size);
    return out;
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Reason(int error) { return error ? std::strerror(error) : std::string("unknown error"); }

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

CCamera::SavedItem CCamera::SaveItem(const ShotKind& shot, int kind, const SaveSnapshot& snapshot,
                                     const std::vector<uint8_t>& bytes, const std::string& comment,
                                     std::optional<int> rotation, const std::string& rawExtension)
{
    SavedItem saved;
    StampedPicture stamped;
    const std::vector<storage::ByteRange> parts = StampedParts(bytes, comment, rotation, stamped);
    const storage::PictureSaveResult result =
        storage::SavePictureOrRescue(kind, snapshot.folders, std::time(nullptr), parts, snapshot.rescueFolders,
                                     storage::FolderSync::Deferred, rawExtension);
    saved.report.folder = result.folder;
    saved.report.pictureBytes = bytes.size();
    saved.report.cardKeepsCopy = shot.kind & cdREL_KIND_PICT_TO_CAM;
    if (result.bytesFree)
        saved.report.picturesThatFit = storage::PicturesThatFit(*result.bytesFree, bytes.size());
    switch (result.where) {
    case storage::PictureSaveResult::Where::PictureFolder:
        saved.report.outcome = SaveReport::Outcome::Saved;
        break;
    case storage::PictureSaveResult::Where::RescueFolder:
        saved.report.outcome = SaveReport::Outcome::Rescued;
        saved.report.reason = Reason(result.folderError);
        break;
    case storage::PictureSaveResult::Where::Nowhere:
        saved.report.outcome = SaveReport::Outcome::Unsaved;
        saved.report.reason = Reason(result.folderError);
        saved.report.rescueReason = Reason(result.rescueError);
        try {
            saved.unsavedBytes = Joined(parts);
        } catch (const std::bad_alloc&) {
            saved.unsavedBytes = bytes;  // without its stamp rather than not at all
        }
        saved.report.suggestedName =
            FileNameOf(storage::NextFileName(kind, snapshot.folders, storage::NativePathStyle(), std::time(nullptr),
                                             nullptr, 0, storage::NativeFolderAccess(), rawExtension));
        return saved;
    }
    saved.path = result.path;
    return saved;
}

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
    if (pair_.shot != shot.id) {
        pair_ = PairState();
        pair_.shot = shot.id;
    }

    auto postText = [this](const std::string& text, std::optional<SaveReport> report,
                           std::vector<uint8_t> unsaved = {}) {
        Notification n;
        n.message = WM_SAVED_FILE;
        if (report && report->outcome == SaveReport::Outcome::NotReceived)
            n.wParam = kItemNotReceived;
        n.text = text;
        n.report = std::move(report);
        n.bytes = std::move(unsaved);
        Post(std::move(n));
    };
    auto simpleReport = [](SaveReport::Outcome outcome, const char* part) {
        SaveReport r;
        r.outcome = outcome;
        r.part = part;
        return r;
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
    // The report of the shot's picture, saved (or not) in the picture folder or elsewhere;
    // the other half of a RAW pair that did not arrive is named.
    DeferredFolderSync folderSync;
    // Safely on disk: the library may now let go of the camera's copy (PC-only shots).
    folderSync.safe = [this, source] { library_.CDReleasedItemSaved(source); };
    auto postSaved = [&](SavedItem saved, const char* part) {
        saved.report.part = part;
        saved.report.missingCompanion = pair_.companionLost;
        pair_.pictureReported = true;
        if (!saved.path.empty()) {
            folderSync.path = saved.path;
            postText(saved.path, std::move(saved.report));
        } else {
            postText(kTextErrorSaving, std::move(saved.report), std::move(saved.unsavedBytes));
        }
    };

    const bool isPictureItem = info.DataType == cdDATA_TYPE_PICTURE || info.DataType == 0;
    // Only a whole item is handled: a failed or short download, a refused write or a
    // failed allocation is reported and never saved.
    const bool whole = result == cdOK && !buffer->WriteRefused() && !buffer->AllocationFailed() &&
                       buffer->Size() > 0 && (info.DataSize == 0 || info.DataSize == buffer->Size());
    if (!whole) {
        DebugTrace("CCamera::ReleaseThread() - item not received\n");
        if (isPictureItem && shot.preview)
            previewPending_ = false;
        // A download cut off by a disconnect the user confirmed is reported by the view.
        if (!running_)
            return;
        const bool raw = info.Format == cdFORMAT_RAW;
        if (isPictureItem) {
            {
                std::lock_guard<std::mutex> lock(lostMutex_);
                lostAt_.push_back(std::chrono::steady_clock::now());
                if (lostAt_.size() > static_cast<size_t>(kMaxItemsPerRelease))
                    lostAt_.pop_front();
            }
            SaveReport r = simpleReport(SaveReport::Outcome::NotReceived,
                                        shot.preview ? "preview" : raw ? "RAW picture" : "picture");
            r.companionPath = pair_.companionPath;
            pair_.pictureReported = true;
            std::string text = shot.preview ? "Download interrupted: preview not received"
                               : raw        ? "Download interrupted: RAW picture not received"
                                            : kTextPictureNotReceived;
            if (!pair_.companionPath.empty())
                text += " (its " + pair_.companionPart + " was saved as " + pair_.companionPath + ")";
            postText(text, std::move(r));
        } else if (!pictureToPc && info.DataType == cdDATA_TYPE_THUMBNAIL) {
            // Camera only: the picture is safe on the card; only its thumbnail is missing.
            postText("Download interrupted: thumbnail not received (the picture is on the camera's card)",
                     simpleReport(SaveReport::Outcome::NotReceived, "thumbnail"));
        } else {
            // A thumbnail or the JPEG of a RAW pair: the picture's report names it, or, when
            // the picture came first, a report of its own does.
            const char* part = info.DataType == cdDATA_TYPE_PLUS_JPEG ? "JPEG picture" : "thumbnail";
            pair_.companionLost = part;
            if (pair_.pictureReported) {
                SaveReport r = simpleReport(SaveReport::Outcome::NotReceived, part);
                r.companion = true;
                postText(std::string("Download interrupted: ") + part + " not received", std::move(r));
            }
        }
        return;
    }

    std::vector<uint8_t> bytes;
    try {
        bytes = buffer->TakeBytes();
    } catch (const std::bad_alloc&) {
        postText("Error saving image: out of memory", simpleReport(SaveReport::Outcome::NotReceived, "picture"));
        return;
    }
    buffer.reset();

    if (info.DataType == cdDATA_TYPE_PICTURE && info.Format == cdFORMAT_JPEG) {
        DebugTrace("CCamera::ReleaseThread() - JPEG\n");
        postInfo(bytes);
        if (shot.preview) {
            previewPending_ = false;
            pair_.pictureReported = true;
            postText(kTextImageDownloaded, simpleReport(SaveReport::Outcome::Preview, "preview"));
        } else {
            postSaved(SaveItem(shot, storage::kFileKindJpg, snapshot, bytes, snapshot.comment, rotation), "picture");
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
        postSaved(SaveItem(shot, ownExtension ? storage::kFileKindOtherRaw : storage::kFileKindTif, snapshot, bytes,
                           snapshot.comment, rotation, raw.extension),
                  "RAW picture");
        if (!preview.empty())
            postDisplay(std::move(preview));
    } else if (info.DataType == cdDATA_TYPE_PICTURE && info.Format == cdFORMAT_RAW) {
        const bool tiff = IsBigEndianTiff(bytes);
        DebugTrace(tiff ? "CCamera::ReleaseThread() - RAW (TIFF)\n" : "CCamera::ReleaseThread() - RAW (CRW)\n");
        if (tiff)
            postInfo(bytes);
        postSaved(SaveItem(shot, tiff ? storage::kFileKindTif : storage::kFileKindCrw, snapshot, bytes,
                           snapshot.comment, rotation),
                  "RAW picture");
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
        const char* part = plus ? "JPEG picture" : "thumbnail";
        DebugTrace(plus ? "CCamera::ReleaseThread() - PLUS_JPEG\n" : "CCamera::ReleaseThread() - THUMBNAIL\n");
        if (pictureToPc || plus) {
            SavedItem saved = SaveItem(shot, plus ? storage::kFileKindJpegWithTif : storage::kFileKindThm, snapshot,
                                       bytes, std::string(), rotation);
            if (saved.report.outcome == SaveReport::Outcome::Saved) {
                folderSync.path = saved.path;
                pair_.companionPath = saved.path;
                pair_.companionPart = part;
            } else {
                // Kept elsewhere or in memory: said on its own, without ending the shot.
                saved.report.part = part;
                saved.report.companion = true;
                if (!saved.path.empty())
                    postText(saved.path, std::move(saved.report));
                else
                    postText(kTextErrorSaving, std::move(saved.report), std::move(saved.unsavedBytes));
            }
        } else {
            pair_.pictureReported = true;
            postText(kTextStoredOnCard, simpleReport(SaveReport::Outcome::OnCard, "thumbnail"));
        }
        postInfo(bytes);
        postDisplay(std::move(bytes));
    } else {
        DebugTrace("CCamera::ReleaseThread() - unknown item dropped\n");
    }
}
