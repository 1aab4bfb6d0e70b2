// CTimeLapseDlg: the dialog of every unattended series (template 155): "Time Lapse", and, opened
// as "Sequence", exposure brackets and focus stacks, once or at every interval. It holds the
// controls (each named by its id; "Each shot" is a SequencePanel) and hands the schedule to
// timelapse::TimeLapseSequencer, with a BracketSet or FocusStackSet when each slot shoots a
// set: a Qt timer drives its tick, the Start/Stop and Cancel buttons its commands, and the
// camera notifications that the main window forwards (posted, so each arrives after the main
// window has handled it) its state. Shots are fired through the view's TakePicture.
//
// RunTimeLapseDialog is the main window's "Time Lapse..." command (156) and, with
// `asSequence`, its "Bracket / Focus Stack..." command, once connected: while the dialog runs
// modally it is the forwarding target and the owner of every message box that shooting
// raises; the main window keeps downloading and showing pictures behind it.
//
// UI thread only. RunTimeLapseDialog blocks in the modal dialog until it closes; closing it
// puts back what a set under way changed (a focus put back may take the lens's time).
#pragma once

#include "camera/Notifications.h"
#include "sequences/ExposureBracket.h"
#include "sequences/FocusStack.h"
#include "timelapse/TimeLapseSequencer.h"

#include <QBasicTimer>
#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

class BracketSet;
class FocusStackSet;
class SequencePanel;
class ViewSurface;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimeEdit;

struct TimeLapseOptions {
    int tickMs = 1000;                              // timer 1's period
    std::function<timelapse::Seconds()> clock;      // empty: the system's time
    // Unattended start: a number-of-frames sequence started as soon as the dialog runs.
    std::optional<int> autoFrames;
    uint32_t autoInterval = 30;
    // Close the dialog when the sequence completes or stops (unattended runs).
    bool closeWhenDone = false;
    // Opened for brackets and focus stacks (caption "Sequence"), with the kind last used and
    // the set taken once.
    bool asSequence = false;
    // Unattended start of a set: a bracket or a stack, taken once or (`autoRepeat`) at every
    // interval with `autoFrames` and `autoInterval`.
    std::optional<sequences::BracketRequest> autoBracket;
    std::optional<sequences::FocusStackRequest> autoStack;
    bool autoRepeat = false;
    bool AutoStart() const { return autoFrames || autoBracket || autoStack; }
};

class CTimeLapseDlg : public QDialog {
    Q_OBJECT
public:
    CTimeLapseDlg(ViewSurface& view, TimeLapseOptions options = {}, QWidget* parent = nullptr);
    ~CTimeLapseDlg() override;

    // A camera notification forwarded by the main window.
    void WindowProc(const Notification& n);
    // The commands and the tick, as the buttons and the timer call them.
    void OnStartStop();
    void OnTick();
    void reject() override;  // Cancel, Escape, close box

    const timelapse::TimeLapseSequencer& Sequence() const { return sequencer_; }
    QString StatusText() const;  // the status line (1064)
    SequencePanel& EachShot() const { return *sequence_; }
    // The bracket of the last start (null when it was not a bracket).
    const BracketSet* Bracket() const { return bracket_.get(); }

protected:
    void timerEvent(QTimerEvent* e) override;

private:
    void UpdateControls();
    // Reads and checks the edits as the Start button does; false after the message.
    bool ReadInput(timelapse::Schedule& schedule);
    // Builds the set each slot shoots and checks it against the camera; false after saying why.
    bool PrepareShotSet();
    void CloseWhenDone();

    ViewSurface& view_;
    TimeLapseOptions options_;
    timelapse::TimeLapseSequencer sequencer_;
    QBasicTimer timer_;
    bool startImmediately_ = true;
    bool endAtTime_ = false;

    QRadioButton* startNow_ = nullptr;     // 1054
    QRadioButton* startAt_ = nullptr;      // 1055
    QDateEdit* startDate_ = nullptr;       // 1058
    QTimeEdit* startTime_ = nullptr;       // 1061
    QRadioButton* byFrames_ = nullptr;     // 1056
    QRadioButton* byEndTime_ = nullptr;    // 1057
    QLineEdit* frames_ = nullptr;          // 1059
    QDateEdit* endDate_ = nullptr;         // 1060
    QTimeEdit* endTime_ = nullptr;         // 1062
    QLineEdit* interval_ = nullptr;        // 1063
    QLineEdit* status_ = nullptr;          // 1064
    QLabel* clock_ = nullptr;              // 1065
    QPushButton* startStop_ = nullptr;     // 1003
    QPushButton* cancel_ = nullptr;        // 2
    SequencePanel* sequence_ = nullptr;    // 1070-1080
    std::unique_ptr<BracketSet> bracket_;
    std::unique_ptr<FocusStackSet> stack_;
    int idleTicks_ = 0;
};

// Runs the dialog for the view (command 156 once connected) and returns the state the
// sequence was in when the dialog closed; `finalStatus` receives its last status line.
timelapse::State RunTimeLapseDialog(ViewSurface& view, TimeLapseOptions options = {},
                                    QString* finalStatus = nullptr);

// The unattended start of the command line: opens the dialog and starts a number-of-frames
// sequence at once; with `closeWhenDone` the dialog closes when the sequence ends. Returns
// 0 when the sequence completed, 1 otherwise (also when no camera is connected); a sequence
// that did not complete leaves its last status line on standard error.
int RunUnattendedTimeLapse(ViewSurface& view, int frames, uint32_t interval, bool closeWhenDone);

// The same for any series: `options` names what to start (autoFrames for a time lapse,
// autoBracket or autoStack for a set, autoRepeat for a set at every interval). A set the
// camera cannot take is not started: the reason goes to standard error and the result is 1.
int RunUnattendedSequence(ViewSurface& view, TimeLapseOptions options);
