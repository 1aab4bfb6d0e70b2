// The debug channel: diagnostic trace lines ("CCamera::ReleaseThread() - JPEG\n" and the
// like) for developers. Silent unless the environment variable TETHROCAM_DEBUG is set to
// a non-empty value other than "0"; then each line goes to standard error. Never shown
// to the user. Any thread; a call does not block beyond one write to stderr.
#pragma once

#include <string>

namespace platform {

bool DebugTraceEnabled();
void DebugTrace(const std::string& line);
// printf-style; the text is formatted only when the channel is on.
void DebugTracef(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Test hook: capture lines instead of writing them (nullptr restores stderr). The
// capture target must outlive its installation.
void SetDebugTraceCapture(std::string* capture);

} // namespace platform
