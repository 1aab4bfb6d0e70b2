#include "windows/CTimeLapseDlg.h"

#include "app/MessageBox.h"
#include "settings/Settings.h"
#include "windows/SequencePanel.h"
#include "windows/SequenceSets.h"
#include "windows/ViewSurface.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <cstdio>
#include <ctime>

namespace {

// The release thread's text for a picture that could not be kept on the PC.

template <typename W>
W* Named(W* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

// The locale's short date format, with the year written in full so that no picker
// ever guesses the century.
QString ShortDateFormat()
{
    QString f = QLocale().dateFormat(QLocale::ShortFormat);
    if (!f.contains("yyyy"))
        f.replace("yy", "yyyy");
    return f;
}

timelapse::LocalDateTime FromPickers(const QDateEdit* date, const QTimeEdit* time)
{
    timelapse::LocalDateTime t;
    t.year = date->date().year();
    t.month = date->date().month();
    t.day = date->date().day();
    t.hour = time->time().hour();
    t.minute = time->time().minute();
    t.second = time->time().second();
    return t;
}

}  // namespace

CTimeLapseDlg::CTimeLapseDlg(ViewSurface& view, TimeLapseOptions options, QWidget* parent)
    : QDialog(parent ? parent : view.ViewWidget()),
      view_(view),
      options_(std::move(options)),
      sequencer_(timelapse::SequencerHooks{
          [this] { return options_.clock ? options_.clock() : static_cast<timelapse::Seconds>(std::time(nullptr)); },
          [this] {
              // A refusal is told to the sequence, never put up as a box at every retry.
              const ShotAttempt attempt = view_.TakeSequencedPicture();
              timelapse::ShotStart shot;
              shot.started = attempt.started;
              shot.refusal = attempt.refusal.toStdString();
              shot.needsPerson = attempt.needsPerson;
              return shot;
          },
          [this](const std::string& text) {
              // A long line shows its beginning; the whole of it is the tooltip.
              status_->setText(QString::fromStdString(text));
              status_->setCursorPosition(0);
              status_->setToolTip(status_->text());
          },
          [this](const std::string& text) { clock_->setText(QString::fromStdString(text)); },
          [this] { UpdateControls(); },
          [this] {
              return msgbox::Show(this,
                                  "Unable to release shutter.\nThis may be because the AF was unable to lock.\n"
                                  "Do you wish to try again?",
                                  msgbox::Icon::Question, msgbox::Buttons::YesNo) == msgbox::Answer::Yes;
          },
          [this](const std::string& text) { msgbox::Show(this, QString::fromStdString(text), msgbox::Icon::Error); },
      })
{
    setObjectName("155");
    setWindowTitle(options_.asSequence ? "Sequence" : "Time Lapse");

    auto* startBox = new QGroupBox("Start", this);
    startNow_ = Named(new QRadioButton("Start immediately", startBox), 1054);
    startAt_ = Named(new QRadioButton("Set start date and time", startBox), 1055);
    startDate_ = Named(new QDateEdit(QDate::currentDate(), startBox), 1058);
    startTime_ = Named(new QTimeEdit(QTime::currentTime(), startBox), 1061);
    auto* startLayout = new QGridLayout(startBox);
    startLayout->addWidget(startNow_, 0, 0, 1, 2);
    startLayout->addWidget(startAt_, 1, 0, 1, 2);
    startLayout->addWidget(startDate_, 2, 0);
    startLayout->addWidget(startTime_, 2, 1);

    auto* endBox = new QGroupBox("End", this);
    byFrames_ = Named(new QRadioButton("Number of frames:", endBox), 1056);
    frames_ = Named(new QLineEdit("10", endBox), 1059);
    byEndTime_ = Named(new QRadioButton("Set end date and time", endBox), 1057);
    endDate_ = Named(new QDateEdit(QDate::currentDate(), endBox), 1060);
    endTime_ = Named(new QTimeEdit(QTime::currentTime(), endBox), 1062);
    auto* endLayout = new QGridLayout(endBox);
    endLayout->addWidget(byFrames_, 0, 0);
    endLayout->addWidget(frames_, 0, 1);
    endLayout->addWidget(byEndTime_, 1, 0, 1, 2);
    endLayout->addWidget(endDate_, 2, 0);
    endLayout->addWidget(endTime_, 2, 1);

    for (QRadioButton* r : {startNow_, startAt_, byFrames_, byEndTime_})
        r->setAutoExclusive(false);  // the dialog sets their states
    for (QDateEdit* d : {startDate_, endDate_}) {
        d->setDisplayFormat(ShortDateFormat());
        d->setCalendarPopup(true);
    }
    for (QTimeEdit* t : {startTime_, endTime_})
        t->setDisplayFormat("HH:mm:ss");

    interval_ = Named(new QLineEdit("30", this), 1063);
    status_ = Named(new QLineEdit(this), 1064);
    status_->setReadOnly(true);
    status_->setMinimumWidth(420);
    clock_ = Named(new QLabel(this), 1065);
    startStop_ = Named(new QPushButton("Start", this), 1003);
    cancel_ = Named(new QPushButton("Cancel", this), 2);
    startStop_->setDefault(true);

    auto* form = new QGridLayout;
    form->addWidget(new QLabel("Interval between frames (secs):", this), 0, 0);
    form->addWidget(interval_, 0, 1);
    form->addWidget(new QLabel("Status:", this), 1, 0);
    form->addWidget(status_, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clock_);
    buttons->addStretch();
    buttons->addWidget(startStop_);
    buttons->addWidget(cancel_);
    sequence_ = new SequencePanel(view_, this);
    sequence_->Load(view_.Prefs());
    if (options_.autoBracket || options_.autoStack) {
        sequence_->SetKind(options_.autoBracket ? SequencePanel::Kind::Bracket : SequencePanel::Kind::Stack);
        if (options_.autoBracket)
            sequence_->SetBracket(*options_.autoBracket);
        else
            sequence_->SetStack(*options_.autoStack);
        sequence_->SetRepeat(options_.autoRepeat);
    } else if (options_.asSequence) {
        sequence_->SetKind(view_.Prefs().SequenceKind == 2 ? SequencePanel::Kind::Stack : SequencePanel::Kind::Bracket);
        sequence_->SetRepeat(false);
    }
    sequence_->Refresh();
    connect(sequence_, &SequencePanel::Changed, this, [this] {
        UpdateControls();
        if (isVisible())
            adjustSize();  // the page of the kind chosen sets the height
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sequence_);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(startBox);
    boxes->addWidget(endBox);
    layout->addLayout(boxes);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(startNow_, &QRadioButton::clicked, this, [this] { startImmediately_ = true; UpdateControls(); });
    connect(startAt_, &QRadioButton::clicked, this, [this] { startImmediately_ = false; UpdateControls(); });
    connect(byFrames_, &QRadioButton::clicked, this, [this] { endAtTime_ = false; UpdateControls(); });
    connect(byEndTime_, &QRadioButton::clicked, this, [this] { endAtTime_ = true; UpdateControls(); });
    connect(startStop_, &QPushButton::clicked, this, [this] { OnStartStop(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });

    if (options_.autoFrames) {
        frames_->setText(QString::number(*options_.autoFrames));
        interval_->setText(QString::number(options_.autoInterval));
    }
    UpdateControls();
    timer_.start(options_.tickMs, options_.tickMs < 1000 ? Qt::PreciseTimer : Qt::CoarseTimer, this);
}

CTimeLapseDlg::~CTimeLapseDlg()
{
    timer_.stop();
    // A set under way puts back what it changed; nothing is reported any more.
    sequencer_.Abandon();
    if (!options_.AutoStart())  // a run from the command line leaves the dialog's choices alone
        sequence_->Store(view_.Prefs());
    view_.SetSequenceComment({});
}

QString CTimeLapseDlg::StatusText() const
{
    return status_->text();
}

void CTimeLapseDlg::UpdateControls()
{
    startNow_->setChecked(startImmediately_);
    startAt_->setChecked(!startImmediately_);
    byEndTime_->setChecked(endAtTime_);
    byFrames_->setChecked(!endAtTime_);
    const bool running = sequencer_.Running();
    // A set taken once has no schedule: the schedule's choices wait.
    const bool schedule = !running && sequence_->Repeat();
    startDate_->setEnabled(schedule && !startImmediately_);
    startTime_->setEnabled(schedule && !startImmediately_);
    endDate_->setEnabled(schedule && endAtTime_);
    endTime_->setEnabled(schedule && endAtTime_);
    frames_->setEnabled(schedule && !endAtTime_);
    for (QWidget* w : std::initializer_list<QWidget*>{startNow_, startAt_, byFrames_, byEndTime_, interval_})
        w->setEnabled(schedule);
    startStop_->setText(running ? "Stop" : "Start");
    // The frame still on its way of a stopped set must land (and the set be put back) first.
    const bool finishing = !running && sequencer_.InSet();
    startStop_->setEnabled(!finishing);
    sequence_->SetRunning(running || finishing);
}

bool CTimeLapseDlg::ReadInput(timelapse::Schedule& s)
{
    if (!sequence_->Repeat()) {
        s = timelapse::Schedule{};  // one set, now
        s.frames = 1;
        return true;
    }
    auto refuse = [this](QLineEdit* edit, const QString& text) {
        msgbox::Show(this, text, msgbox::Icon::Exclamation);
        edit->setFocus();
        edit->selectAll();
        return false;
    };
    bool ok = false;
    const int frames = frames_->text().trimmed().toInt(&ok);
    if (!ok || frames < 1 || frames > 25000)
        return refuse(frames_, QString("Please enter an integer between %1 and %2.").arg(1).arg(25000));
    const QString intervalText = interval_->text().trimmed();
    const uint interval = intervalText.toUInt(&ok);
    if (!ok || intervalText.startsWith('+'))
        return refuse(interval_, "Please enter a positive integer.");
    s.frames = frames;
    s.interval = interval;
    s.startImmediately = startImmediately_;
    s.endAtTime = endAtTime_;
    s.startAt = FromPickers(startDate_, startTime_);
    s.endAt = FromPickers(endDate_, endTime_);
    return true;
}

void CTimeLapseDlg::OnStartStop()
{
    if (sequencer_.Running()) {
        sequencer_.Stop();
    } else {
        timelapse::Schedule schedule;
        if (ReadInput(schedule) && PrepareShotSet())
            sequencer_.Start(schedule);
    }
    UpdateControls();
    CloseWhenDone();
}

bool CTimeLapseDlg::PrepareShotSet()
{
    sequencer_.SetShotSet(nullptr);
    bracket_.reset();
    stack_.reset();
    auto note = [this](std::string text) { sequencer_.SetFinishNote(std::move(text)); };
    std::string why;
    QString headline;
    switch (sequence_->CurrentKind()) {
    case SequencePanel::Kind::Single:
        return true;
    case SequencePanel::Kind::Bracket: {
        const auto request = sequence_->Bracket(this);
        if (!request)
            return false;
        bracket_ = std::make_unique<BracketSet>(view_, *request, note);
        why = bracket_->Check();
        headline = "Unable to start the exposure bracket";
        if (why.empty())
            sequencer_.SetShotSet(bracket_.get());
        break;
    }
    case SequencePanel::Kind::Stack: {
        stack_ = std::make_unique<FocusStackSet>(
            view_, *sequence_->Stack(), sequence_->SettleMs(),
            [this](timelapse::FrameStep step) {
                sequencer_.FrameReady(std::move(step));
                UpdateControls();
                CloseWhenDone();
            },
            note);
        why = stack_->Check();
        headline = "Unable to start the focus stack";
        if (why.empty())
            sequencer_.SetShotSet(stack_.get());
        break;
    }
    }
    if (!options_.AutoStart())
        sequence_->Store(view_.Prefs());
    if (why.empty())
        return true;
    status_->setText(QString::fromStdString("Not started: " + why));
    status_->setCursorPosition(0);
    status_->setToolTip(status_->text());
    if (options_.AutoStart())
        std::fprintf(stderr, "tethrocam: sequence not started: %s\n", why.c_str());
    else
        msgbox::ShowWithDetail(this, headline, QString::fromStdString(why), msgbox::Icon::Exclamation);
    return false;
}

void CTimeLapseDlg::OnTick()
{
    sequencer_.Tick();
    // While idle the preview follows the camera (its mode dial, its values) every few seconds.
    if (!sequencer_.Running() && !sequencer_.InSet() && ++idleTicks_ * options_.tickMs >= 3000) {
        idleTicks_ = 0;
        if (sequence_->CurrentKind() != SequencePanel::Kind::Single)
            sequence_->Refresh();
    }
    CloseWhenDone();
}

void CTimeLapseDlg::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == timer_.timerId())
        OnTick();
    else
        QDialog::timerEvent(e);
}

void CTimeLapseDlg::WindowProc(const Notification& n)
{
    switch (n.message) {
    case WM_SAVED_FILE: {
        if (n.report && n.report->companion)
            break;  // a thumbnail or a pair's JPEG: the shot's own report counts the frame
        timelapse::SaveOutcome outcome = timelapse::SaveOutcome::Saved;
        if (n.wParam == kItemNotReceived)
            outcome = timelapse::SaveOutcome::NotReceived;
        else if (n.report ? n.report->outcome == SaveReport::Outcome::Unsaved : n.text && *n.text == kTextErrorSaving)
            outcome = view_.SavesOnPcOnly() ? timelapse::SaveOutcome::Lost : timelapse::SaveOutcome::NotSavedOnPc;
        sequencer_.SavedFile(outcome);
        break;
    }
    case WM_CAMERA_SHUTDOWN:
        // The main window has reported the shutdown; the sequence ends with the dialog.
        sequencer_.CameraShutdown();
        UpdateControls();
        QDialog::reject();
        return;
    case WM_RELEASE_ERROR:
        sequencer_.ReleaseError(n.wParam);
        break;
    default:
        break;
    }
    CloseWhenDone();
}

void CTimeLapseDlg::reject()
{
    const char* const question = options_.asSequence ? "Do you wish to cancel the current sequence?"
                                                     : "Do you wish to cancel the current time lapse sequence?";
    if (sequencer_.Running() &&
        msgbox::Show(this, question, msgbox::Icon::Question, msgbox::Buttons::YesNo) != msgbox::Answer::Yes)
        return;
    QDialog::reject();
}

void CTimeLapseDlg::CloseWhenDone()
{
    if (!options_.closeWhenDone || !isVisible())
        return;
    const timelapse::State state = sequencer_.GetState();
    if (state == timelapse::State::Completed)
        accept();
    else if (state != timelapse::State::Running)
        QDialog::reject();
}

timelapse::State RunTimeLapseDialog(ViewSurface& view, TimeLapseOptions options, QString* finalStatus)
{
    const bool autoStart = options.AutoStart();
    CTimeLapseDlg dlg(view, std::move(options));
    view.SetCurrentDisplayWindow(&dlg);
    view.SetTimeLapseForward([&dlg](const Notification& n) { dlg.WindowProc(n); });
    if (autoStart)
        QTimer::singleShot(0, &dlg, [&dlg] { dlg.OnStartStop(); });
    dlg.exec();
    view.SetCurrentDisplayWindow(view.ViewWidget());
    view.SetTimeLapseForward({});
    if (finalStatus)
        *finalStatus = dlg.StatusText();
    return dlg.Sequence().GetState();
}

int RunUnattendedSequence(ViewSurface& view, TimeLapseOptions options)
{
    if (!view.Connected()) {
        std::fprintf(stderr, "tethrocam: %s not started: the camera is not connected\n",
                     options.autoBracket || options.autoStack ? "sequence" : "time lapse");
        return 1;
    }
    QString status;
    const timelapse::State state = RunTimeLapseDialog(view, std::move(options), &status);
    if (state != timelapse::State::Completed && !status.isEmpty())
        std::fprintf(stderr, "tethrocam: %s\n", status.toLocal8Bit().constData());
    return state == timelapse::State::Completed ? 0 : 1;
}

int RunUnattendedTimeLapse(ViewSurface& view, int frames, uint32_t interval, bool closeWhenDone)
{
    TimeLapseOptions options;
    options.autoFrames = frames;
    options.autoInterval = interval;
    options.closeWhenDone = closeWhenDone;
    return RunUnattendedSequence(view, std::move(options));
}
