// SequencePanel: the "Each shot" part of the time-lapse and sequence dialog. It chooses what
// each slot shoots (a single picture, an exposure bracket or a focus stack) with the set's
// frames, step and order or start, whether the set repeats at every interval (a time lapse
// of sets) or is taken once, and shows a preview of the values that will be used, read from
// the camera and the body's own lists (the settings panel's) as they are now. Each control is
// named by its id (1070-1080). The choices are kept in the preferences (Settings).
//
// UI thread only. Refreshing the preview reads the camera through ViewSurface and waits for
// its answers, as the settings panel does.
#pragma once

#include "sequences/ExposureBracket.h"
#include "sequences/FocusStack.h"

#include <QGroupBox>

#include <optional>

class ViewSurface;
class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class QStackedWidget;
struct Settings;

class SequencePanel : public QGroupBox {
    Q_OBJECT
public:
    enum class Kind { Single = 0, Bracket = 1, Stack = 2 };

    SequencePanel(ViewSurface& view, QWidget* parent = nullptr);

    Kind CurrentKind() const;
    void SetKind(Kind kind);
    // A set taken at every interval (time lapse) rather than once; always true for single pictures.
    bool Repeat() const;
    void SetRepeat(bool repeat);

    // The choices as typed, checked: none after a message box named the wrong one (`owner`
    // owns the box).
    std::optional<sequences::BracketRequest> Bracket(QWidget* owner) const;
    std::optional<sequences::FocusStackRequest> Stack() const;
    int SettleMs() const;
    void SetBracket(const sequences::BracketRequest& request);
    void SetStack(const sequences::FocusStackRequest& request);

    // The controls from the preferences (out-of-range values brought into range), and back.
    void Load(const Settings& s);
    void Store(Settings& s) const;

    // Reads the camera again and rewrites the step choices and the preview line.
    void Refresh();
    QString PreviewText() const;
    // While a sequence runs nothing can be changed.
    void SetRunning(bool running);

signals:
    // What each slot shoots or whether it repeats has changed.
    void Changed();

private:
    void FillSteps(const std::vector<int>& choices, int wanted);
    void UpdateEnabling();

    ViewSurface& view_;
    bool running_ = false;
    QComboBox* kind_ = nullptr;          // 1070
    QStackedWidget* pages_ = nullptr;
    QComboBox* bracketFrames_ = nullptr;  // 1071, editable
    QComboBox* bracketStep_ = nullptr;    // 1072, data: sixths of a stop
    QComboBox* bracketOrder_ = nullptr;   // 1073
    QSpinBox* stackFrames_ = nullptr;     // 1074
    QComboBox* stackSize_ = nullptr;      // 1075
    QSpinBox* stackCount_ = nullptr;      // 1076
    QComboBox* stackStart_ = nullptr;     // 1077
    QSpinBox* settle_ = nullptr;          // 1078
    QLabel* preview_ = nullptr;           // 1079
    QCheckBox* repeat_ = nullptr;         // 1080
};
