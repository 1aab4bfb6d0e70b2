#include "display/MonitorProfiles.h"

#include "colour/ColourProfile.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>

#ifdef TETHROCAM_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

#include <cstdlib>

namespace display {

namespace {

const std::vector<uint8_t> kNone;

} // namespace

std::string MonitorProfiles::PropertyName(int screen)
{
    return screen <= 0 ? "_ICC_PROFILE" : "_ICC_PROFILE_" + std::to_string(screen);
}

MonitorProfiles::MonitorProfiles(QObject* parent) : QObject(parent), bytes_(kScreens)
{
#ifdef TETHROCAM_HAVE_XCB
    auto* app = qGuiApp;
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    // The root window of the screen the program was started on.
    char* host = nullptr;
    int displayNumber = 0, screenNumber = 0;
    if (!xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber))
        screenNumber = 0;
    std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem > 1; ++i)
        xcb_screen_next(&it);
    if (!it.data)
        return;
    connection_ = c;
    root_ = it.data->root;

    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (int s = 0; s < kScreens; ++s) {
        const std::string name = PropertyName(s);
        cookies.push_back(xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()));
    }
    for (xcb_intern_atom_cookie_t cookie : cookies) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
        atoms_.push_back(reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE));
        std::free(reply);
    }

    // Property changes of the root window come to this connection too; Qt may already
    // ask for other events there, so they are added to, not replaced.
    uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root_), nullptr);
    if (attributes)
        mask |= attributes->your_event_mask;
    std::free(attributes);
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    for (int s = 0; s < kScreens; ++s)
        bytes_[static_cast<size_t>(s)] = Read(s);
    QCoreApplication::instance()->installNativeEventFilter(this);
#endif
}

MonitorProfiles::~MonitorProfiles()
{
    if (connection_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

const std::vector<uint8_t>& MonitorProfiles::ProfileBytes(int screen) const
{
    if (screen < 0 || screen >= kScreens)
        return kNone;
    return bytes_[static_cast<size_t>(screen)];
}

std::vector<uint8_t> MonitorProfiles::Read(int screen) const
{
    std::vector<uint8_t> bytes;
#ifdef TETHROCAM_HAVE_XCB
    auto* c = static_cast<xcb_connection_t*>(connection_);
    const uint32_t atom = atoms_[static_cast<size_t>(screen)];
    if (!c || atom == XCB_ATOM_NONE)
        return bytes;
    // In pieces of 256 KiB (the length is counted in 32-bit units), up to the largest
    // profile the program accepts.
    constexpr uint32_t kPiece = 65536;
    uint32_t offset = 0;
    for (;;) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, root_, atom, XCB_GET_PROPERTY_TYPE_ANY, offset, kPiece), nullptr);
        if (!reply)
            return {};
        const int length = xcb_get_property_value_length(reply);
        const bool bytesFormat = reply->format == 8;
        const uint32_t after = reply->bytes_after;
        if (bytesFormat && length > 0) {
            const auto* data = static_cast<const uint8_t*>(xcb_get_property_value(reply));
            bytes.insert(bytes.end(), data, data + length);
        }
        std::free(reply);
        if (!bytesFormat || bytes.size() > colour::Profile::kMaxIccBytes)
            return {};
        if (after == 0 || length <= 0)
            break;
        offset += static_cast<uint32_t>(length) / 4;
    }
#else
    (void)screen;
#endif
    return bytes;
}

bool MonitorProfiles::Reread()
{
    rereadPending_ = false;
    bool changed = false;
    for (int s = 0; s < kScreens; ++s) {
        std::vector<uint8_t> now = Read(s);
        if (now != bytes_[static_cast<size_t>(s)]) {
            bytes_[static_cast<size_t>(s)] = std::move(now);
            changed = true;
        }
    }
    return changed;
}

bool MonitorProfiles::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
#ifdef TETHROCAM_HAVE_XCB
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* notify = static_cast<const xcb_property_notify_event_t*>(message);
    if (notify->window != root_)
        return false;
    bool ours = false;
    for (uint32_t atom : atoms_)
        ours = ours || (atom != XCB_ATOM_NONE && atom == notify->atom);
    // A tool writing a large profile may send several events: one read after them all.
    if (ours && !rereadPending_) {
        rereadPending_ = true;
        QTimer::singleShot(0, this, [this] {
            if (Reread())
                emit Changed();
        });
    }
#else
    (void)eventType;
    (void)message;
#endif
    return false;  // Qt handles the event as usual
}

} // namespace display
