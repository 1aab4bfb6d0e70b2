#include "remote/RemoteControl.h"

#include "mainview/CMyTethrocamView.h"
#include "mainview/CameraSettingsPanel.h"
#include "storage/PictureSaver.h"
#include "storage/SaveFolders.h"

#include <QComboBox>
#include <QSocketNotifier>

#include <QTimerEvent>

#include <cstdio>
#include <cstring>
#include <unistd.h>

// The view as the protocol sees it.
class RemoteControl::ViewTarget : public remote::RemoteTarget {
public:
    explicit ViewTarget(CMyTethrocamView& view) : view_(view) {}

    bool Connected() override { return view_.Camera() != nullptr; }
    bool Busy() override { return view_.Shooting(); }
    std::string ModelName() override { return view_.Camera() ? view_.Camera()->GetModelName() : std::string(); }
    bool Release() override
    {
        // The client has its answer before any refusal box shows.
        refusal_.clear();
        view_.SetDeferRefusalBoxes(true);
        const bool started = view_.TakePicture();
        view_.SetDeferRefusalBoxes(false);
        return started;
    }
    std::string RefusalReason() override
    {
        std::string reason = refusal_.empty() ? view_.LastRefusal().simplified().toStdString() : refusal_;
        refusal_.clear();
        return reason;
    }
    int ListCount(remote::SettingList list) override { return Combo(list)->count(); }
    bool SelectListEntry(remote::SettingList list, int index) override
    {
        QComboBox* combo = Combo(list);
        combo->setCurrentIndex(index);
        CameraSettingsPanel* panel = view_.Panel();
        switch (list) {
        case remote::SettingList::Tv: panel->OnTvChanged(); break;
        case remote::SettingList::Av: panel->OnAvChanged(); break;
        case remote::SettingList::ExposureComp: panel->OnExposureCompChanged(); break;
        case remote::SettingList::Iso: panel->OnIsoChanged(); break;
        }
        return combo->currentIndex() == index;
    }
    bool SetSaveFolder(const std::string& folder) override
    {
        storage::FolderAccess& fs = storage::NativeFolderAccess();
        const auto entry = fs.Probe(folder);
        if (entry == storage::FolderAccess::Entry::Other) {
            refusal_ = folder + " is not a folder";
            return false;
        }
        if (entry == storage::FolderAccess::Entry::Missing &&
            !storage::MakeDirectoryPath(folder, storage::PathStyle::Posix, fs)) {
            refusal_ = folder + " cannot be made";
            return false;
        }
        // A folder the program cannot write would lose every picture: refused now, while
        // the client can still choose another.
        if (const int error = storage::ProbeFolderWritable(folder)) {
            refusal_ = folder + ": " + std::strerror(error);
            return false;
        }
        view_.Prefs().Directory = folder;
        view_.UpdateSnapshot();
        return true;
    }
    std::string TodayFolder() override
    {
        return storage::DatedFolder(view_.Prefs().Folders(), storage::NativePathStyle());
    }
    void SetComment(const std::string& comment) override
    {
        view_.SetComment(QString::fromStdString(comment));  // keeps the save snapshot current
    }

private:
    std::string refusal_;  // why SetSaveFolder refused, for the reply
    QComboBox* Combo(remote::SettingList list) const
    {
        const FormControls& f = view_.Form();
        switch (list) {
        case remote::SettingList::Tv: return f.tv;
        case remote::SettingList::Av: return f.av;
        case remote::SettingList::ExposureComp: return f.exposureComp;
        case remote::SettingList::Iso: return f.iso;
        }
        return f.tv;
    }

    CMyTethrocamView& view_;
};

RemoteControl::RemoteControl(CMyTethrocamView& view)
    : view_(view), target_(std::make_unique<ViewTarget>(view))
{
}

RemoteControl::~RemoteControl() = default;

void RemoteControl::Report(const std::string& message, bool off)
{
    lastError_ = message;
    if (reported_.insert(message).second)
        std::fprintf(stderr, "tethrocam: remote control%s: %s\n", off ? " is off" : "", message.c_str());
}

bool RemoteControl::Start(const std::string& folder)
{
    std::string error;
    folder_ = folder.empty() ? platform::RemoteRuntimeFolder(error) : folder;
    if (folder_.empty()) {
        Report(error);
        return false;
    }
    if (socket_.Bind(folder_, error) != platform::WakeUpSocket::BindResult::Bound) {
        Report(error);
        return false;
    }
    notifier_ = new QSocketNotifier(socket_.Fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &RemoteControl::OnReadable);
    return true;
}

void RemoteControl::OnReadable()
{
    // The waiting wake-ups are taken at once (a bounded number per turn): the block holds
    // one request, whatever number of messages announced it.
    socket_.Drain();
    HandleWakeUp();
}

void RemoteControl::HandleWakeUp()
{
    // A request that arrives while one is being handled (a command that runs an event
    // loop) is handled when that one is finished.
    if (handling_) {
        pending_ = true;
        return;
    }
    channelExists_ = true;
    handling_ = true;
    do {
        pending_ = false;
        if (!EnsureBlock())
            break;
        uint8_t request[remote::kBlockSize];
        if (!block_.Read(request))
            continue;
        // Answered already: a repeated wake-up never runs a request twice.
        if (remote::ReadInt(request, remote::kStatusOffset) != remote::kReplyNone)
            continue;
        uint8_t reply[remote::kBlockSize];
        std::memcpy(reply, request, sizeof reply);
        remote::HandleRequest(reply, *target_, static_cast<int32_t>(getpid()));
        const int32_t status = remote::ReadInt(reply, remote::kStatusOffset);
        if (status == remote::kReplyNone)
            continue;  // not a command: nothing is written
        uint8_t now[remote::kBlockSize];
        if (!block_.Read(now) || !remote::SameRequest(request, now))
            continue;  // another request took its place; it has its own wake-up
        WriteReplyFields(reply, request);
        if (remote::ReadInt(request, remote::kCommandOffset) == remote::kCmdRelease)
            awaitingPicture_ = status == remote::kReplyReleased;
    } while (pending_);
    handling_ = false;
}

void RemoteControl::WriteReplyFields(const uint8_t* reply, const uint8_t* request)
{
    const uint8_t* text = reply + remote::kTextOffset;
    const void* zero = std::memchr(text, 0, remote::kTextSize);
    const size_t textBytes = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - text) + 1 : remote::kTextSize;
    block_.Write(remote::kTextOffset, text, textBytes);
    block_.Write(remote::kHandleOffset, reply + remote::kHandleOffset, 4);
    if (std::memcmp(reply + remote::kProgressOffset, request + remote::kProgressOffset, 4) != 0)
        block_.Write(remote::kProgressOffset, reply + remote::kProgressOffset, 4);
    // The status goes last: a client polling it finds the text already in place.
    block_.Write(remote::kStatusOffset, reply + remote::kStatusOffset, 4);
}

bool RemoteControl::EnsureBlock()
{
    if (block_.IsOpen() && !block_.StillAtPath())
        block_.Close();  // deleted or replaced: the channel follows the path
    if (block_.IsOpen() && !block_.Intact()) {
        Report(folder_ + "/" + remote::kBlockName + " was cut short by another program; it is let go", false);
        block_.Close();
    }
    if (!block_.IsOpen()) {
        std::string error;
        if (folder_.empty() || !block_.Open(folder_, error)) {
            Report(error.empty() ? std::string("no runtime folder") : error);
            return false;
        }
    }
    return true;
}

void RemoteControl::DownloadProgress(int64_t progress)
{
    if (!channelExists_ || progress < 0 || progress > 100 || !EnsureBlock())
        return;
    const auto value = static_cast<uint32_t>(progress);
    const uint8_t field[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    block_.Write(remote::kProgressOffset, field, sizeof field);
}

bool RemoteControl::ReplyToWaitingRelease(int32_t status, const std::string& text)
{
    if (!awaitingPicture_)
        return false;
    awaitingPicture_ = false;
    uint8_t now[remote::kBlockSize];
    if (!EnsureBlock() || !block_.Read(now) || remote::ReadInt(now, remote::kCommandOffset) != remote::kCmdRelease ||
        remote::ReadInt(now, remote::kStatusOffset) != remote::kReplyReleased ||
        remote::ReadInt(now, remote::kHandleOffset) != static_cast<int32_t>(getpid()))
        return false;  // the client went on to another request
    // The client that asked holds the block's lock while it waits: this is its reply.
    uint8_t reply[remote::kBlockSize];
    std::memcpy(reply, now, sizeof reply);
    remote::WriteReply(reply, status, static_cast<int32_t>(getpid()), text);
    WriteReplyFields(reply, now);
    return true;
}

void RemoteControl::PictureSaved(const std::string& path)
{
    if (!channelExists_)
        return;
    if (ReplyToWaitingRelease(remote::kReplySaved, path))
        return;
    unsolicited_ = path;
    unsolicitedTries_ = 0;
    TryUnsolicitedReply();
}

void RemoteControl::PictureFailed(const std::string& reason)
{
    if (channelExists_)
        ReplyToWaitingRelease(remote::kReplyRefused, reason);
}

void RemoteControl::TryUnsolicitedReply()
{
    if (!unsolicited_)
        return;
    uint8_t now[remote::kBlockSize];
    bool written = false;
    if (EnsureBlock() && block_.TryLock()) {
        // No client is between its request and its reply; one that does not lock may
        // still have a request waiting, which is never overwritten.
        if (block_.Read(now) && remote::ReadInt(now, remote::kStatusOffset) != remote::kReplyNone) {
            uint8_t reply[remote::kBlockSize];
            std::memcpy(reply, now, sizeof reply);
            remote::WriteReply(reply, remote::kReplySaved, static_cast<int32_t>(getpid()), *unsolicited_);
            WriteReplyFields(reply, now);
            written = true;
        }
        block_.Unlock();
    }
    // A client's turn lasts a few milliseconds; a reply that cannot be placed within two
    // seconds is dropped (the next picture brings its own).
    if (written || ++unsolicitedTries_ > 100) {
        unsolicited_.reset();
        retry_.stop();
    } else if (!retry_.isActive()) {
        retry_.start(20, this);
    }
}

void RemoteControl::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == retry_.timerId())
        TryUnsolicitedReply();
    else
        QObject::timerEvent(e);
}
