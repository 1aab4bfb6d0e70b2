// The program's one seam for message boxes: every box is captioned "Tethrocam" (a few
// errors name their own caption), owned by
// the window given (the current display window), with the icon asked for. Tests install a
// scripted handler that records each box and answers questions without showing anything.
//
// No window of the program may hide a box: the box is parented to the topmost of the
// program's modal windows, else to the active window when that belongs to the owner's
// (the 1:1 window), else to the owner's window, and raised; and
// the hooks set with SetAroundEveryBox run around every box, the scripted ones included
// (the main view removes the blank cover before and takes the 1:1 window out of its
// stays-on-top band until the box is answered).
//
// UI thread only; the default handler blocks in the modal box until the user answers.
#pragma once

#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace msgbox {

enum class Icon { None, Error, Exclamation, Question, Information };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct Shown {
    QString text;
    QString caption;
    Icon icon;
    Buttons buttons;
    QWidget* owner;
    QString detail;  // the reason and the remedy, under the headline (empty: none)
    QWidget* parent = nullptr;  // the window the box is parented to (see the head of this file)
};

// Shows a box with the caption "Tethrocam" (or the one given) and returns the answer.
Answer Show(QWidget* owner, const QString& text, Icon icon = Icon::None, Buttons buttons = Buttons::Ok,
            const QString& caption = "Tethrocam");

// The same with a detail under the headline `text`: what went wrong and what to do, as
// the backend or the system told it (shown as the box's informative text).
Answer ShowWithDetail(QWidget* owner, const QString& text, const QString& detail, Icon icon = Icon::None,
                      Buttons buttons = Buttons::Ok, const QString& caption = "Tethrocam");

// The window a box for `owner` is parented to: the topmost modal window of the program
// when one is open and `owner` is not inside it, else the active window when it is a
// window of the owner's window (the 1:1 window), else the owner's window (null: none).
QWidget* ParentFor(QWidget* owner);

// Runs `before` just before every box is shown and `after` once it is answered (boxes
// may nest: each gets its own pair of calls). Empty functions remove the hooks.
void SetAroundEveryBox(std::function<void()> before, std::function<void()> after);

// Replaces the handler (tests); an empty function restores the real message boxes.
using Handler = std::function<Answer(const Shown&)>;
void SetHandler(Handler handler);

// A handler for tests: records every box and answers questions from a script
// (Yes when the script is used up).
class Script {
public:
    Script();
    ~Script();
    std::vector<Shown> shown;
    std::vector<Answer> answers;
    QString LastText() const { return shown.empty() ? QString() : shown.back().text; }

private:
    size_t next_ = 0;
};

}  // namespace msgbox
