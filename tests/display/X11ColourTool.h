// What a desktop colour tool does to the X11 root window, for the monitor-profile tests:
// a second client of the X server that sets and removes the _ICC_PROFILE properties with
// XChangeProperty. Kept apart from the tests because Xlib's macros clash with GoogleTest.
// Test thread only; each call waits until the server has done it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class X11ColourTool {
public:
    explicit X11ColourTool(const std::string& display);
    ~X11ColourTool();
    X11ColourTool(const X11ColourTool&) = delete;
    X11ColourTool& operator=(const X11ColourTool&) = delete;

    bool Ok() const;
    void Set(const std::string& property, const std::vector<uint8_t>& icc);
    void Remove(const std::string& property);

private:
    void* display_;  // ::Display*
};
