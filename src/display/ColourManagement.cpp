#include "display/ColourManagement.h"

#include "display/MonitorProfiles.h"
#include "platform/DebugTrace.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QWidget>

namespace display {

ColourManagement& ColourManagement::Instance()
{
    static ColourManagement* instance = nullptr;
    if (!instance) {
        instance = new ColourManagement;
        if (QCoreApplication* app = QCoreApplication::instance()) {
            instance->setParent(app);
            QObject::connect(instance, &QObject::destroyed, [] { instance = nullptr; });
        }
    }
    return *instance;
}

ColourManagement::ColourManagement() : system_(new MonitorProfiles(this))
{
    ReadSystemProfiles();
    connect(system_, &MonitorProfiles::Changed, this, [this] {
        ReadSystemProfiles();
        if (settings_.monitor == MonitorProfileChoice::System || !file_)
            emit Changed();
    });
}

void ColourManagement::ReadSystemProfiles()
{
    screens_.assign(MonitorProfiles::kScreens, std::nullopt);
    for (int s = 0; s < MonitorProfiles::kScreens; ++s) {
        const std::vector<uint8_t>& bytes = system_->ProfileBytes(s);
        if (bytes.empty())
            continue;
        std::string why;
        if (auto p = colour::Profile::FromIcc(bytes, &why))
            screens_[static_cast<size_t>(s)] = std::move(*p);
        else
            platform::DebugTrace("ColourManagement - " + MonitorProfiles::PropertyName(s) + " not used: " + why + "\n");
    }
}

std::string ColourManagement::Configure(const ColourSettings& settings)
{
    const ColourSettings before = settings_;
    const std::optional<std::string> fileBefore = file_ ? std::optional<std::string>(file_->Key()) : std::nullopt;
    settings_ = settings;
    std::string problem;
    file_.reset();
    if (settings.monitor == MonitorProfileChoice::File) {
        std::string why;
        file_ = colour::Profile::FromFile(settings.file, &why);
        if (!file_)
            problem = "The monitor profile " + settings.file + " cannot be used: " + why + ".";
    }
    const std::optional<std::string> fileAfter = file_ ? std::optional<std::string>(file_->Key()) : std::nullopt;
    if (!(before == settings_) || fileBefore != fileAfter)
        emit Changed();
    return problem;
}

int ColourManagement::ScreenIndex(const QWidget* window)
{
    const QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
    const int index = static_cast<int>(QGuiApplication::screens().indexOf(const_cast<QScreen*>(screen)));
    return index < 0 ? 0 : index;
}

const colour::Profile& ColourManagement::MonitorProfileForScreen(int screen)
{
    switch (settings_.monitor) {
    case MonitorProfileChoice::Srgb:
        return srgb_;
    case MonitorProfileChoice::File:
        if (file_)
            return *file_;
        break;
    case MonitorProfileChoice::System:
        break;
    }
    if (screen >= 0 && static_cast<size_t>(screen) < screens_.size() && screens_[static_cast<size_t>(screen)])
        return *screens_[static_cast<size_t>(screen)];
    return srgb_;
}

const colour::Profile& ColourManagement::MonitorProfile(const QWidget* window)
{
    return MonitorProfileForScreen(ScreenIndex(window));
}

std::shared_ptr<const colour::DisplayTransform> ColourManagement::TransformFor(
    const colour::PictureColourSpace& space, const QWidget* window, colour::PixelOrder order)
{
    if (!enabled_)
        return nullptr;
    return cache_.Get(space.profile, MonitorProfile(window), settings_.intent, order);
}

void ColourManagement::SetEnabled(bool on)
{
    if (on == enabled_)
        return;
    enabled_ = on;
    emit Changed();
}

void ColourManagement::ToMonitor(Bitmap& bitmap, const colour::PictureColourSpace& space, const QWidget* window)
{
    if (auto t = TransformFor(space, window))
        t->Apply(bitmap);
}

void ColourManagement::SrgbToMonitor(QImage& image, const QWidget* window)
{
    if (image.isNull() || image.format() != QImage::Format_RGB32)
        return;
    static const colour::PictureColourSpace srgb{};
    if (auto t = TransformFor(srgb, window, colour::PixelOrder::Bgrx))
        t->Apply(image.bits(), image.width(), image.height(), static_cast<size_t>(image.bytesPerLine()));
}

} // namespace display
