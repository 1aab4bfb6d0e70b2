// RemoteControl: the main view's end of the remote-control channel. It binds the wake-up
// socket when the program starts, watches it with a socket notifier, and for each wake-up
// opens the shared block (on the first one, and again whenever the file at its path was
// deleted or replaced) and carries out the request found there on the view: which camera,
// release, the Tv/Av/exposure compensation/ISO lists, the save folder, today's folder, the
// comment. The view tells it of every download progress and of what became of each
// picture: saved (reply 4 with the path), or, for the picture a remote release waits for,
// not saved (reply 7 with the reason).
//
// Each request is answered once, to the client that asked: the request is copied when
// its handling starts and the reply is written only while the block still holds that
// request unanswered. A reply that no request asked for (a picture of the body's own
// button) never overwrites an unanswered request and waits while a client holds the
// block's lock. The block is read and written with pread/pwrite, never mapped, so a
// client that cuts the file short cannot fault the program.
//
// Threads: UI thread only; the block is touched nowhere else. Nothing blocks: the view's
// refusal boxes are shown after the request has been answered.
// A channel that cannot be set up (unsafe folder, block or socket; another running
// program holding the socket) is reported once on standard error and stays off; the
// program runs on without it.
#pragma once

#include "remote/RemoteProtocol.h"
#include "remote/RemoteTransport.h"

#include <QBasicTimer>
#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

class CMyTethrocamView;
class QSocketNotifier;

class RemoteControl : public QObject {
    Q_OBJECT
public:
    explicit RemoteControl(CMyTethrocamView& view);
    ~RemoteControl() override;

    // Binds the socket in `folder` (empty: the user's runtime folder). False when the
    // channel stays off; the reason went to standard error and to LastError.
    bool Start(const std::string& folder = {});
    bool Listening() const { return notifier_ != nullptr; }
    const std::string& Folder() const { return folder_; }
    const std::string& LastError() const { return lastError_; }
    // Whether the channel object exists: a wake-up has arrived since the start.
    bool ChannelExists() const { return channelExists_; }

    // From the view's notification handlers.
    void DownloadProgress(int64_t progress);
    // The saved picture's path, or empty when nothing was saved to the computer (reply 4).
    void PictureSaved(const std::string& path);
    // The picture a remote release waits for will not be saved (a failed save, an
    // interrupted download, a release error, the camera gone): reply 7 with `reason`.
    // Nothing is written when no remote release waits.
    void PictureFailed(const std::string& reason);
    // A remote release was answered 3 and waits for its picture.
    bool AwaitingPicture() const { return awaitingPicture_; }

    // Handles the request now in the block, as a wake-up does.
    void HandleWakeUp();

protected:
    void timerEvent(QTimerEvent* e) override;

private:
    class ViewTarget;
    void OnReadable();
    // Opens the block if needed (again when its path names another file now); false when
    // it cannot be used.
    bool EnsureBlock();
    // Writes the reply fields of `reply` (text, process id, progress, then the status).
    void WriteReplyFields(const uint8_t* reply, const uint8_t* request);
    // The reply of a waiting remote release, when the block still shows its answer 3.
    bool ReplyToWaitingRelease(int32_t status, const std::string& text);
    // A reply 4 nobody asked for: written when no client holds the lock and no request
    // waits unanswered; else tried again shortly.
    void TryUnsolicitedReply();
    // Says once on standard error what went wrong; `off`: the channel cannot be used.
    void Report(const std::string& message, bool off = true);

    CMyTethrocamView& view_;
    std::unique_ptr<ViewTarget> target_;
    platform::WakeUpSocket socket_;
    platform::SharedBlock block_;
    QSocketNotifier* notifier_ = nullptr;
    std::string folder_;
    std::string lastError_;
    std::set<std::string> reported_;
    bool channelExists_ = false;
    bool handling_ = false;
    bool pending_ = false;
    bool awaitingPicture_ = false;
    std::optional<std::string> unsolicited_;  // the path of a reply 4 still to be written
    int unsolicitedTries_ = 0;
    QBasicTimer retry_;
};
