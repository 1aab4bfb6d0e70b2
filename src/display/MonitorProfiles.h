// MonitorProfiles: the monitor profiles the desktop publishes on the X11 root window, as
// colord and the desktop's colour tools set them: the property _ICC_PROFILE for the first
// screen and _ICC_PROFILE_n for screen n (the order of QGuiApplication::screens()). They
// are read when the object is made and read again whenever one of them changes (a
// property-change event on the root window), and Changed is emitted then.
//
// Outside X11 (Wayland, offscreen) there are no such properties: every screen has none.
// Threads: UI thread only (it filters the application's native events). Reading a
// property is one round trip to the X server; nothing else blocks.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <string>
#include <vector>

namespace display {

class MonitorProfiles : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // The number of screens whose properties are followed.
    static constexpr int kScreens = 8;

    explicit MonitorProfiles(QObject* parent = nullptr);
    ~MonitorProfiles() override;

    // "_ICC_PROFILE" for screen 0, "_ICC_PROFILE_<n>" for screen n.
    static std::string PropertyName(int screen);
    // True when connected to an X server (the properties can exist).
    bool Available() const { return connection_ != nullptr; }
    // The bytes of the screen's property as last read; empty when it has none.
    const std::vector<uint8_t>& ProfileBytes(int screen) const;
    // Reads every property again now; true when any of them changed.
    bool Reread();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // A property changed (set, replaced or removed); the new bytes are in ProfileBytes.
    void Changed();

private:
    std::vector<uint8_t> Read(int screen) const;

    void* connection_ = nullptr;  // xcb_connection_t, Qt's own
    uint32_t root_ = 0;
    std::vector<uint32_t> atoms_;
    std::vector<std::vector<uint8_t>> bytes_;
    bool rereadPending_ = false;
};

} // namespace display
