#include "app/DesktopIntegration.h"

#include "app/MessageBox.h"
#include "platform/DesktopRegistration.h"
#include "platform/HelpFile.h"

#include <QDesktopServices>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QUrl>

namespace desktop {

namespace {

Opener& CurrentOpener()
{
    static Opener opener;
    return opener;
}

bool Open(const std::string& path)
{
    if (CurrentOpener())
        return CurrentOpener()(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void Report(QWidget* owner, bool registering, const platform::RegistrationResult& result)
{
    const bool ok = result.outcome == platform::RegistrationResult::Outcome::Done;
    msgbox::Show(owner, QString::fromStdString(platform::RegistrationMessage(registering, result)),
                 ok ? msgbox::Icon::None : msgbox::Icon::Error);
}

}  // namespace

void SetOpener(Opener opener) { CurrentOpener() = std::move(opener); }

void ShowHelp(QWidget* owner, const std::string& executablePath)
{
    const platform::HelpLookup lookup =
        platform::FindHelpFile(executablePath.empty() ? platform::ExecutablePath() : executablePath);
    if (!lookup.found) {
        msgbox::Show(owner, QString::fromStdString(platform::HelpMissingText(lookup.tried)), msgbox::Icon::Error);
        return;
    }
    // Unlike the Windows shell, the desktop says when nothing can show the page.
    if (!Open(*lookup.found))
        msgbox::Show(owner, QString::fromStdString("Unable to open the HTML help file:\n" + *lookup.found +
                                                   "\nNo program to show web pages was found."),
                     msgbox::Icon::Error);
}

void RegisterForCameraEvents(QWidget* owner)
{
    Report(owner, true,
           platform::RegisterForCameraEvents(platform::UserXdgFolders(), platform::ExecutablePath()));
}

void UnregisterForCameraEvents(QWidget* owner)
{
    Report(owner, false, platform::UnregisterForCameraEvents(platform::UserXdgFolders()));
}

QIcon ApplicationIcon()
{
    QIcon made;
    {
        QSvgRenderer renderer(QStringLiteral(":/tethrocam/com.larkspurworks.Tethrocam.svg"));
        if (!renderer.isValid())
            return made;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            painter.end();
            made.addPixmap(pixmap);
        }
    }
    return made;
}

}  // namespace desktop
