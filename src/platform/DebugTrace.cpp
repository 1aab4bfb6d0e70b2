#include "platform/DebugTrace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {
std::mutex g_mutex;
std::atomic<std::string*> g_capture{nullptr};

bool EnvEnabled()
{
    const char* v = std::getenv("TETHROCAM_DEBUG");
    return v && *v && std::strcmp(v, "0") != 0;
}
} // namespace

bool DebugTraceEnabled()
{
    static const bool enabled = EnvEnabled();
    return enabled || g_capture.load() != nullptr;
}

void DebugTrace(const std::string& line)
{
    if (!DebugTraceEnabled())
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (std::string* capture = g_capture.load()) {
        capture->append(line);
        return;
    }
    std::fputs(line.c_str(), stderr);
}

void DebugTracef(const char* format, ...)
{
    if (!DebugTraceEnabled())
        return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    DebugTrace(buffer);
}

void SetDebugTraceCapture(std::string* capture)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_capture.store(capture);
}

} // namespace platform
