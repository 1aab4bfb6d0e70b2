#include "app/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace msgbox {
namespace {
Handler& CurrentHandler()
{
    static Handler handler;
    return handler;
}

struct Around {
    std::function<void()> before;
    std::function<void()> after;
};

Around& AroundHooks()
{
    static Around around;
    return around;
}

// Calls the `after` hook when the box is done, however it ends.
struct AroundBox {
    AroundBox()
    {
        if (AroundHooks().before)
            AroundHooks().before();
    }
    ~AroundBox()
    {
        if (AroundHooks().after)
            AroundHooks().after();
    }
    AroundBox(const AroundBox&) = delete;
    AroundBox& operator=(const AroundBox&) = delete;
};

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

QWidget* ParentFor(QWidget* owner)
{
    QWidget* parent = owner ? owner->window() : nullptr;
    // The user works in a window that belongs to the owner's (the 1:1 window): the box
    // comes up over that one, where the user is looking.
    if (QWidget* active = QApplication::activeWindow(); parent && active && active != parent) {
        for (QWidget* up = active->parentWidget(); up; up = up->parentWidget()) {
            if (up->window() == parent) {
                parent = active;
                break;
            }
        }
    }
    // A modal window opened above the owner (full screen, the time-lapse dialog, another
    // box) would cover a box that belongs to the window under it.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != parent && !(parent && modal->isAncestorOf(parent)) && modal->isVisible())
        parent = modal;
    return parent;
}

Answer Show(QWidget* owner, const QString& text, Icon icon, Buttons buttons, const QString& caption)
{
    return ShowWithDetail(owner, text, QString(), icon, buttons, caption);
}

Answer ShowWithDetail(QWidget* owner, const QString& text, const QString& detail, Icon icon, Buttons buttons,
                      const QString& caption)
{
    AroundBox around;  // the blank cover goes before the box is parented, so it is never chosen
    const Shown shown{text, caption, icon, buttons, owner, detail, ParentFor(owner)};
    if (CurrentHandler())
        return CurrentHandler()(shown);
    QMessageBox box(QtIcon(icon), shown.caption, text,
                    buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, shown.parent);
    box.setObjectName("messageBox");
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    // Once shown, the box goes above every window of the program and takes the keyboard.
    QTimer::singleShot(0, &box, [&box] {
        box.raise();
        box.activateWindow();
    });
    const int result = box.exec();
    if (buttons == Buttons::YesNo)
        return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
    return Answer::Ok;
}

void SetAroundEveryBox(std::function<void()> before, std::function<void()> after)
{
    AroundHooks() = {std::move(before), std::move(after)};
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
