// ColourManagement: the program's one answer to "which colours does this window's monitor
// show, and how do a picture's values get there". The monitor profile of a window is, in
// this order: the profile file chosen in Preferences, sRGB when that is chosen, the
// desktop's profile for the screen the window is on (MonitorProfiles), else sRGB. A
// profile that cannot be used counts as none. Transforms are kept in a cache, so a
// picture of a colour space already seen costs only the pixel work.
//
// Every picture the user judges colour on goes through it: the main window's picture and
// full screen (through the view's MakeDisplayBitmap), the 1:1 preview, and pixels decoded
// elsewhere through ToMonitor, and live-view frames through SrgbToMonitor. The histogram, the
// highlight test and the RGB readout keep reading the picture's own values.
//
// One object for the application (Instance), made on first use after the QApplication.
// UI thread only. Changed is emitted when what a monitor shows changes (the desktop's
// profile, the choice in Preferences, the rendering intent): every window then renders
// its picture again. Making a transform may take a few milliseconds once (up to a couple
// of hundred for a large table-based profile); applying one is the pixel work only.
#pragma once

#include "colour/DisplayTransform.h"
#include "colour/PictureColourSpace.h"
#include "imaging/Bitmap.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QImage;
class QWidget;

namespace display {

class MonitorProfiles;

// Preferences' "Monitor profile:" list, in its order.
enum class MonitorProfileChoice : int { System = 0, Srgb = 1, File = 2 };

struct ColourSettings {
    MonitorProfileChoice monitor = MonitorProfileChoice::System;
    std::string file;  // the profile file, used with MonitorProfileChoice::File
    colour::RenderingIntent intent = colour::RenderingIntent::Perceptual;

    bool operator==(const ColourSettings&) const = default;
};

class ColourManagement : public QObject {
    Q_OBJECT
public:
    static ColourManagement& Instance();

    // Takes the user's choice; emits Changed when it changes anything shown. When the
    // chosen file cannot be used, returns a sentence saying so and why (the desktop's
    // profile, else sRGB, is used meanwhile); empty otherwise.
    std::string Configure(const ColourSettings& settings);
    const ColourSettings& Settings() const { return settings_; }

    // The profile of the monitor `window` is on (null: the first screen).
    const colour::Profile& MonitorProfile(const QWidget* window);
    const colour::Profile& MonitorProfileForScreen(int screen);
    // The window's screen in the order of QGuiApplication::screens() (0 when unknown).
    static int ScreenIndex(const QWidget* window);

    // The transform from a picture's colour space to the monitor of `window`; null when
    // the values are shown as they are (the same colours on both sides).
    std::shared_ptr<const colour::DisplayTransform> TransformFor(const colour::PictureColourSpace& space,
                                                                 const QWidget* window,
                                                                 colour::PixelOrder order = colour::PixelOrder::Bgr);
    // Turns a bitmap decoded from a picture in `space` into the colours of the monitor
    // `window` is on, in place.
    void ToMonitor(Bitmap& bitmap, const colour::PictureColourSpace& space, const QWidget* window);
    // The same for a 32-bit image (QImage::Format_RGB32, a live-view frame): sRGB, as
    // cameras stream their live view, into the colours of the monitor `window` is on.
    void SrgbToMonitor(QImage& image, const QWidget* window);

    // The desktop's profiles (tests read and reread them).
    MonitorProfiles& System() { return *system_; }
    // Off: every picture is shown as it is decoded, as if picture and monitor were both
    // sRGB (for the documentation's comparison pictures); emits Changed. On by default.
    void SetEnabled(bool on);

signals:
    void Changed();

private:
    ColourManagement();
    void ReadSystemProfiles();

    ColourSettings settings_;
    bool enabled_ = true;
    MonitorProfiles* system_ = nullptr;                    // child of this object
    std::vector<std::optional<colour::Profile>> screens_;  // the desktop's, per screen
    std::optional<colour::Profile> file_;                  // the chosen file, when usable
    colour::Profile srgb_;
    colour::TransformCache cache_;
};

} // namespace display
