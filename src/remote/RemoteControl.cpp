#include "remote/RemoteControl.h"

#include "mainview/CMyTethrocamView.h"
#include "mainview/CameraSettingsPanel.h"
#include "storage/SaveFolders.h"

#include <QComboBox>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

// The view as the protocol sees it.
class RemoteControl::ViewTarget : public remote::RemoteTarget {
public:
    explicit ViewTarget(CMyTethrocamView& view) : view_(view) {}

    bool Connected() override { return view_.Camera() != nullptr; }
    bool Busy() override { return view_.Shooting(); }
    std::string ModelName() override { return view_.Camera() ? view_.Camera()->GetModelName() : std::string(); }
    bool Release() override { return view_.TakePicture(); }
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
        if (entry == storage::FolderAccess::Entry::Other)
            return false;
        if (entry == storage::FolderAccess::Entry::Missing &&
            !storage::MakeDirectoryPath(folder, storage::PathStyle::Posix, fs))
            return false;
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
    // Every waiting wake-up is taken at once: the block holds one request, whatever
    // number of messages announced it.
    socket_.Drain();
    HandleWakeUp();
}

void RemoteControl::HandleWakeUp()
{
    // A request that arrives while one is being handled (a refused release's message
    // box runs its own event loop) is handled when that one is finished.
    if (handling_) {
        pending_ = true;
        return;
    }
    channelExists_ = true;
    handling_ = true;
    do {
        pending_ = false;
        if (uint8_t* block = Block())
            remote::HandleRequest(block, *target_, static_cast<int32_t>(getpid()));
    } while (pending_);
    handling_ = false;
}

uint8_t* RemoteControl::Block()
{
    if (block_.IsOpen() && !block_.Intact()) {
        Report(folder_ + "/" + remote::kBlockName + " was cut short by another program; it is let go", false);
        block_.Close();
    }
    if (!block_.IsOpen()) {
        std::string error;
        if (folder_.empty() || !block_.Open(folder_, error)) {
            Report(error.empty() ? std::string("no runtime folder") : error);
            return nullptr;
        }
    }
    return block_.Data();
}

void RemoteControl::DownloadProgress(int64_t progress)
{
    if (!channelExists_)
        return;
    if (uint8_t* block = Block())
        remote::WriteProgress(block, progress);
}

void RemoteControl::PictureSaved(const std::string& path)
{
    if (!channelExists_)
        return;
    if (uint8_t* block = Block())
        remote::WriteReply(block, remote::kReplySaved, static_cast<int32_t>(getpid()), path);
}
