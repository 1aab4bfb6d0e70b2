// RemoteControl: the main view's end of the remote-control channel. It binds the wake-up
// socket when the program starts, watches it with a socket notifier, and for each wake-up
// maps the shared block (on the first one) and carries out the request found there on
// the view: which camera, release, the Tv/Av/exposure compensation/ISO lists, the save
// folder, today's folder, the comment. The view tells it of every download progress and
// every saved picture (reply 4).
//
// Threads: UI thread only; the block is touched nowhere else. Nothing blocks, except
// what the view's commands do (a release that is refused may show its message box).
// A channel that cannot be set up (unsafe folder, block or socket; another running
// program holding the socket) is reported once on standard error and stays off; the
// program runs on without it.
#pragma once

#include "remote/RemoteProtocol.h"
#include "remote/RemoteTransport.h"

#include <QObject>

#include <cstdint>
#include <memory>
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
    // The saved picture's path, or empty when nothing was saved to the computer.
    void PictureSaved(const std::string& path);

    // Handles the request now in the block, as a wake-up does.
    void HandleWakeUp();

private:
    class ViewTarget;
    void OnReadable();
    uint8_t* Block();  // maps the block if needed; null when it cannot be used
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
};
