#include "app/MessageBox.h"

#include <QMessageBox>

namespace msgbox {
namespace {
Handler& CurrentHandler()
{
    static Handler handler;
    return handler;
}

QMessageBox::Icon QtIcon(Icon icon)
{
    switch (icon) {
    case Icon::Error: return QMessageBox::Critical;
    case Icon::Exclamation: return QMessageBox::Warning;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Information: return QMessageBox::Information;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

Answer Show(QWidget* owner, const QString& text, Icon icon, Buttons buttons, const QString& caption)
{
    return ShowWithDetail(owner, text, QString(), icon, buttons, caption);
}

Answer ShowWithDetail(QWidget* owner, const QString& text, const QString& detail, Icon icon, Buttons buttons,
                      const QString& caption)
{
    const Shown shown{text, caption, icon, buttons, owner, detail};
    if (CurrentHandler())
        return CurrentHandler()(shown);
    QMessageBox box(QtIcon(icon), shown.caption, text,
                    buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, owner);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    const int result = box.exec();
    if (buttons == Buttons::YesNo)
        return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
    return Answer::Ok;
}

void SetHandler(Handler handler)
{
    CurrentHandler() = std::move(handler);
}

Script::Script()
{
    SetHandler([this](const Shown& s) {
        shown.push_back(s);
        if (s.buttons == Buttons::Ok)
            return Answer::Ok;
        return next_ < answers.size() ? answers[next_++] : Answer::Yes;
    });
}

Script::~Script()
{
    SetHandler({});
}

}  // namespace msgbox
