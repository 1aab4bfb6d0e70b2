#include "X11ColourTool.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

::Display* Dpy(void* d) { return static_cast<::Display*>(d); }

} // namespace

X11ColourTool::X11ColourTool(const std::string& display) : display_(XOpenDisplay(display.c_str())) {}

X11ColourTool::~X11ColourTool()
{
    if (display_)
        XCloseDisplay(Dpy(display_));
}

bool X11ColourTool::Ok() const
{
    return display_ != nullptr;
}

void X11ColourTool::Set(const std::string& property, const std::vector<uint8_t>& icc)
{
    ::Display* d = Dpy(display_);
    const Atom atom = XInternAtom(d, property.c_str(), False);
    XChangeProperty(d, DefaultRootWindow(d), atom, XA_CARDINAL, 8, PropModeReplace, icc.data(),
                    static_cast<int>(icc.size()));
    XSync(d, False);
}

void X11ColourTool::Remove(const std::string& property)
{
    ::Display* d = Dpy(display_);
    XDeleteProperty(d, DefaultRootWindow(d), XInternAtom(d, property.c_str(), False));
    XSync(d, False);
}
