// tethrocam-remote: drives a running Tethrocam from a shell script through the
// remote-control channel. One request per run; see UsageText for the commands and the
// exit codes.
#include "remote/RemoteClient.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kNotConnected = 3, kBusy = 4, kNoProgram = 5 };

const char* UsageText()
{
    return "Usage: tethrocam-remote [--timeout SECONDS] COMMAND [ARGUMENT]\n"
           "Drives a running Tethrocam through its remote-control channel.\n\n"
           "Commands:\n"
           "  camera                  print the connected camera's model\n"
           "  release [--wait SECONDS]\n"
           "                          fire the shutter; with --wait, wait up to SECONDS for the\n"
           "                          picture and print the path it was saved under (empty line\n"
           "                          when it was saved to the camera only); a picture that was\n"
           "                          not saved there exits 1 with the reason on standard error\n"
           "  tv INDEX                choose shutter speed entry INDEX (from 0) of the program's list\n"
           "  av INDEX                choose aperture entry INDEX\n"
           "  ev INDEX                choose exposure compensation entry INDEX\n"
           "  iso INDEX               choose ISO entry INDEX\n"
           "  folder PATH             save pictures under PATH (created if missing; a relative\n"
           "                          PATH is taken from the current folder)\n"
           "  today                   print the folder the next picture will be saved in\n"
           "  comment TEXT            set the comment stamped into every picture (up to 255 characters)\n"
           "  progress                print the download progress of the current picture (0-100)\n\n"
           "Options:\n"
           "  --timeout SECONDS       how long to wait for the program's answer (default 5)\n"
           "  --help                  show this help\n\n"
           "Exit status: 0 success, 1 refused or failed (the reason, when the program gives one,\n"
           "on standard error), 2 usage error, 3 no camera connected, 4 busy taking a picture or\n"
           "another client's request in the way, 5 no Tethrocam answering.\n"
           "The channel lives in $XDG_RUNTIME_DIR (or /tmp/tethrocam-UID when that is unset).\n";
}

int Usage(const char* message)
{
    std::fprintf(stderr, "tethrocam-remote: %s\nTry 'tethrocam-remote --help'.\n", message);
    return kUsage;
}

bool ParseSeconds(const char* text, double& seconds)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (!*text || *end || errno || !(v >= 0) || v > 86400 * 7)
        return false;
    seconds = v;
    return true;
}

bool ParseIndex(const char* text, int32_t& index)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || errno || v < INT32_MIN || v > INT32_MAX)
        return false;
    index = static_cast<int32_t>(v);
    return true;
}

std::chrono::milliseconds Millis(double seconds)
{
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0));
}

// The exit status and the printed line for a reply.
int Finish(const remote::ClientReply& r, const char* what)
{
    using O = remote::ClientReply::Outcome;
    switch (r.outcome) {
    case O::NoProgram:
        std::fprintf(stderr, "tethrocam-remote: no Tethrocam is running (%s)\n", r.error.c_str());
        return kNoProgram;
    case O::ChannelRefused:
        std::fprintf(stderr, "tethrocam-remote: %s\n", r.error.c_str());
        return kFailed;
    case O::TimedOut:
        if (r.released)
            std::fprintf(stderr, "tethrocam-remote: the shutter was released, but no picture was saved %s\n", what);
        else
            std::fprintf(stderr, "tethrocam-remote: no answer from Tethrocam %s\n", what);
        return r.released ? kFailed : kNoProgram;
    case O::OtherClient:
        std::fprintf(stderr, "tethrocam-remote: another client's request held the channel %s\n", what);
        return kBusy;
    case O::Answered:
        break;
    }
    if (r.status == remote::kReplyRefused && !r.text.empty())
        std::fprintf(stderr, "tethrocam-remote: %s\n", r.text.c_str());  // the reason
    else if (!r.text.empty() || r.status == remote::kReplySaved)
        std::printf("%s\n", r.text.c_str());
    else
        std::printf("%s\n", remote::ReplyWord(r.status));
    switch (r.status) {
    case remote::kReplyNotConnected: return kNotConnected;
    case remote::kReplyBusy: return kBusy;
    case remote::kReplyRefused: return kFailed;
    case remote::kReplyIdle:
    case remote::kReplyReleased:
    case remote::kReplySaved:
    case remote::kReplyDone: return kOk;
    default: return kFailed;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    double timeout = 5;
    size_t i = 0;
    while (i < args.size() && args[i].rfind("--", 0) == 0) {
        if (args[i] == "--help") {
            std::fputs(UsageText(), stdout);
            return kOk;
        }
        if (args[i] == "--timeout" && i + 1 < args.size()) {
            if (!ParseSeconds(args[i + 1].c_str(), timeout))
                return Usage("--timeout takes a number of seconds");
            i += 2;
            continue;
        }
        return Usage(("unknown option: " + args[i]).c_str());
    }
    if (i >= args.size())
        return Usage("a command is needed");
    const std::string command = args[i++];
    std::vector<std::string> rest(args.begin() + static_cast<long>(i), args.end());

    int32_t code = 0;
    int32_t parameter = 0;
    std::string text;
    bool wait = false;
    double waitSeconds = 0;
    auto needOne = [&](const char* what) -> bool { return rest.size() == 1 || (Usage(what), false); };

    if (command == "camera" || command == "today" || command == "progress") {
        if (!rest.empty())
            return Usage((command + " takes no argument").c_str());
        code = command == "camera" ? remote::kCmdCamera : command == "today" ? remote::kCmdToday : 0;
    } else if (command == "release") {
        code = remote::kCmdRelease;
        if (rest.size() == 2 && rest[0] == "--wait") {
            if (!ParseSeconds(rest[1].c_str(), waitSeconds))
                return Usage("--wait takes a number of seconds");
            wait = true;
        } else if (!rest.empty()) {
            return Usage("release takes only --wait SECONDS");
        }
    } else if (command == "tv" || command == "av" || command == "ev" || command == "iso") {
        if (!needOne("the command takes one list index"))
            return kUsage;
        if (!ParseIndex(rest[0].c_str(), parameter))
            return Usage("the list index must be a whole number");
        code = command == "tv" ? remote::kCmdTv : command == "av" ? remote::kCmdAv
             : command == "ev" ? remote::kCmdExposureComp : remote::kCmdIso;
    } else if (command == "folder") {
        if (!needOne("folder takes one path"))
            return kUsage;
        text = rest[0];
        if (text.empty())
            return Usage("the folder path is empty");
        if (text[0] != '/') {
            // The program's working folder is not ours: the path goes absolute.
            std::vector<char> cwd(PATH_MAX + 1);
            if (!getcwd(cwd.data(), cwd.size())) {
                std::fprintf(stderr, "tethrocam-remote: cannot read the current folder: %s\n", std::strerror(errno));
                return kFailed;
            }
            text = std::string(cwd.data()) + "/" + text;
        }
        code = remote::kCmdFolder;
    } else if (command == "comment") {
        if (!needOne("comment takes one text (quote it)"))
            return kUsage;
        text = rest[0];
        if (text.find('\0') != std::string::npos)
            return Usage("the comment holds a zero byte");
        code = remote::kCmdComment;
    } else {
        return Usage(("unknown command: " + command).c_str());
    }
    if (text.size() + 1 > remote::kTextSize)
        return Usage("the text is longer than the channel's 767 bytes");

    remote::RemoteClient client;
    std::string error;
    if (!client.Open(error)) {
        std::fprintf(stderr, "tethrocam-remote: %s\n", error.c_str());
        return kFailed;
    }
    if (command == "progress") {
        std::printf("%d\n", client.Progress());
        return kOk;
    }
    char within[64];
    std::snprintf(within, sizeof within, "within %g s", wait ? waitSeconds : timeout);
    const remote::ClientReply reply =
        wait ? client.Ask(code, parameter, text, Millis(timeout), Millis(waitSeconds))
             : client.Ask(code, parameter, text, Millis(timeout));
    return Finish(reply, within);
}
