#include "windows/SequencePanel.h"

#include "app/MessageBox.h"
#include "settings/Settings.h"
#include "windows/SequenceSets.h"
#include "windows/ViewSurface.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

using sequences::ExposureSetting;

namespace {

template <typename W>
W* Named(W* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

SequencePanel::SequencePanel(ViewSurface& view, QWidget* parent) : QGroupBox("Each shot", parent), view_(view)
{
    kind_ = Named(new QComboBox(this), 1070);
    kind_->addItem("Single picture");
    kind_->addItem("Exposure bracket");
    kind_->addItem("Focus stack");
    repeat_ = Named(new QCheckBox("Repeat at every interval (time lapse)", this), 1080);

    auto* bracketPage = new QWidget(this);
    bracketFrames_ = Named(new QComboBox(bracketPage), 1071);
    bracketFrames_->setEditable(true);
    for (const char* n : {"3", "5", "7", "9"})
        bracketFrames_->addItem(n);
    bracketFrames_->setValidator(new QIntValidator(0, 99, bracketFrames_));
    bracketStep_ = Named(new QComboBox(bracketPage), 1072);
    bracketOrder_ = Named(new QComboBox(bracketPage), 1073);
    bracketOrder_->addItem("0, \u2212, +");
    bracketOrder_->addItem("\u2212, 0, +");
    auto* bracketLayout = new QHBoxLayout(bracketPage);
    bracketLayout->setContentsMargins(0, 0, 0, 0);
    bracketLayout->addWidget(new QLabel("Frames:", bracketPage));
    bracketLayout->addWidget(bracketFrames_);
    bracketLayout->addWidget(new QLabel("Step:", bracketPage));
    bracketLayout->addWidget(bracketStep_);
    bracketLayout->addWidget(new QLabel("Order:", bracketPage));
    bracketLayout->addWidget(bracketOrder_);
    bracketLayout->addStretch();

    auto* stackPage = new QWidget(this);
    stackFrames_ = Named(new QSpinBox(stackPage), 1074);
    stackFrames_->setRange(sequences::kMinStackFrames, sequences::kMaxStackFrames);
    stackSize_ = Named(new QComboBox(stackPage), 1075);
    for (const char* s : {"Fine", "Medium", "Coarse"})
        stackSize_->addItem(s);
    stackCount_ = Named(new QSpinBox(stackPage), 1076);
    stackCount_->setRange(1, sequences::kMaxStepsPerFrame);
    stackCount_->setPrefix("\u00d7 ");
    stackStart_ = Named(new QComboBox(stackPage), 1077);
    stackStart_->addItem("Current focus");
    stackStart_->addItem("Nearest distance");
    settle_ = Named(new QSpinBox(stackPage), 1078);
    settle_->setRange(0, 10000);
    settle_->setSingleStep(50);
    settle_->setSuffix(" ms");
    auto* stackLayout = new QGridLayout(stackPage);
    stackLayout->setContentsMargins(0, 0, 0, 0);
    stackLayout->addWidget(new QLabel("Frames:", stackPage), 0, 0);
    stackLayout->addWidget(stackFrames_, 0, 1);
    stackLayout->addWidget(new QLabel("Focus step:", stackPage), 0, 2);
    stackLayout->addWidget(stackSize_, 0, 3);
    stackLayout->addWidget(stackCount_, 0, 4);
    stackLayout->addWidget(new QLabel("From:", stackPage), 1, 0);
    stackLayout->addWidget(stackStart_, 1, 1);
    stackLayout->addWidget(new QLabel("Settle time:", stackPage), 1, 2);
    stackLayout->addWidget(settle_, 1, 3, 1, 2);
    stackLayout->setColumnStretch(5, 1);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(new QWidget(this));
    pages_->addWidget(bracketPage);
    pages_->addWidget(stackPage);

    preview_ = Named(new QLabel(this), 1079);
    preview_->setWordWrap(true);
    preview_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    preview_->setMinimumWidth(420);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Take:", this));
    top->addWidget(kind_);
    top->addSpacing(12);
    top->addWidget(repeat_);
    top->addStretch();
    auto* values = new QHBoxLayout;
    auto* valuesLabel = new QLabel("Values:", this);
    valuesLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    values->addWidget(valuesLabel);
    values->addWidget(preview_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(pages_);
    layout->addLayout(values);

    auto changed = [this] {
        UpdateEnabling();
        Refresh();
        emit Changed();
    };
    connect(kind_, &QComboBox::currentIndexChanged, this, changed);
    connect(repeat_, &QCheckBox::toggled, this, changed);
    auto refresh = [this] { Refresh(); };  // every choice is shown in the preview at once
    connect(bracketFrames_, &QComboBox::currentTextChanged, this, refresh);
    connect(bracketStep_, &QComboBox::currentIndexChanged, this, refresh);
    connect(bracketOrder_, &QComboBox::currentIndexChanged, this, refresh);
    connect(stackFrames_, &QSpinBox::valueChanged, this, refresh);
    connect(stackSize_, &QComboBox::currentIndexChanged, this, refresh);
    connect(stackCount_, &QSpinBox::valueChanged, this, refresh);
    connect(stackStart_, &QComboBox::currentIndexChanged, this, refresh);

    SetBracket({});
    SetStack({});
    settle_->setValue(200);
    UpdateEnabling();
}

SequencePanel::Kind SequencePanel::CurrentKind() const { return static_cast<Kind>(std::max(kind_->currentIndex(), 0)); }

void SequencePanel::SetKind(Kind kind) { kind_->setCurrentIndex(static_cast<int>(kind)); }

bool SequencePanel::Repeat() const { return CurrentKind() == Kind::Single || repeat_->isChecked(); }

void SequencePanel::SetRepeat(bool repeat) { repeat_->setChecked(repeat); }

int SequencePanel::SettleMs() const { return settle_->value(); }

std::optional<sequences::BracketRequest> SequencePanel::Bracket(QWidget* owner) const
{
    bool ok = false;
    const int frames = bracketFrames_->currentText().trimmed().toInt(&ok);
    if (!ok || frames < sequences::kMinBracketFrames || frames > sequences::kMaxBracketFrames) {
        msgbox::Show(owner,
                     QString("Please enter an integer between %1 and %2.")
                         .arg(sequences::kMinBracketFrames)
                         .arg(sequences::kMaxBracketFrames),
                     msgbox::Icon::Exclamation);
        bracketFrames_->setFocus();
        bracketFrames_->lineEdit()->selectAll();
        return std::nullopt;
    }
    sequences::BracketRequest r;
    r.frames = frames;
    r.stepSixths = bracketStep_->currentIndex() >= 0 ? bracketStep_->currentData().toInt() : 4;
    r.order = bracketOrder_->currentIndex() == 1 ? sequences::BracketOrder::MinusZeroPlus
                                                 : sequences::BracketOrder::ZeroMinusPlus;
    return r;
}

std::optional<sequences::FocusStackRequest> SequencePanel::Stack() const
{
    sequences::FocusStackRequest r;
    r.frames = stackFrames_->value();
    r.stepSize = stackSize_->currentIndex() + 1;
    r.stepsPerFrame = stackCount_->value();
    r.start = stackStart_->currentIndex() == 1 ? sequences::FocusStart::Nearest : sequences::FocusStart::Current;
    return r;
}

void SequencePanel::SetBracket(const sequences::BracketRequest& r)
{
    bracketFrames_->setCurrentText(QString::number(std::clamp(r.frames, sequences::kMinBracketFrames,
                                                              sequences::kMaxBracketFrames)));
    bracketOrder_->setCurrentIndex(r.order == sequences::BracketOrder::MinusZeroPlus ? 1 : 0);
    const int step = std::clamp(r.stepSixths, sequences::kMinStepSixths, sequences::kMaxStepSixths);
    FillSteps(sequences::StepChoices(view_.ReadExposure().tvList), step);
    Refresh();
}

void SequencePanel::SetStack(const sequences::FocusStackRequest& r)
{
    stackFrames_->setValue(r.frames);
    stackSize_->setCurrentIndex(std::clamp(r.stepSize, 1, 3) - 1);
    stackCount_->setValue(r.stepsPerFrame);
    stackStart_->setCurrentIndex(r.start == sequences::FocusStart::Nearest ? 1 : 0);
}

void SequencePanel::Load(const Settings& s)
{
    sequences::BracketRequest b;
    b.frames = s.BracketFrames;
    b.stepSixths = s.BracketStep;
    b.order = s.BracketOrder == 1 ? sequences::BracketOrder::MinusZeroPlus : sequences::BracketOrder::ZeroMinusPlus;
    SetBracket(b);
    sequences::FocusStackRequest f;
    f.frames = std::clamp(s.StackFrames, sequences::kMinStackFrames, sequences::kMaxStackFrames);
    f.stepSize = std::clamp(s.StackStepSize, 1, 3);
    f.stepsPerFrame = std::clamp(s.StackStepCount, 1, sequences::kMaxStepsPerFrame);
    f.start = s.StackFromNearest == 1 ? sequences::FocusStart::Nearest : sequences::FocusStart::Current;
    SetStack(f);
    settle_->setValue(std::clamp(s.FocusSettleMs, 0, settle_->maximum()));
}

void SequencePanel::Store(Settings& s) const
{
    if (CurrentKind() != Kind::Single)
        s.SequenceKind = static_cast<int32_t>(CurrentKind());
    bool ok = false;
    const int frames = bracketFrames_->currentText().trimmed().toInt(&ok);
    if (ok && frames >= sequences::kMinBracketFrames && frames <= sequences::kMaxBracketFrames)
        s.BracketFrames = frames;
    if (bracketStep_->currentIndex() >= 0)
        s.BracketStep = bracketStep_->currentData().toInt();
    s.BracketOrder = bracketOrder_->currentIndex() == 1 ? 1 : 0;
    s.StackFrames = stackFrames_->value();
    s.StackStepSize = stackSize_->currentIndex() + 1;
    s.StackStepCount = stackCount_->value();
    s.StackFromNearest = stackStart_->currentIndex() == 1 ? 1 : 0;
    s.FocusSettleMs = settle_->value();
}

// The step list shows the steps the body's list allows, and the step wanted even when the
// body lacks it (the preview then says why, and which steps it has): a choice is never
// changed behind the user's back.
void SequencePanel::FillSteps(const std::vector<int>& choices, int wanted)
{
    std::vector<int> steps = choices;
    if (std::find(steps.begin(), steps.end(), wanted) == steps.end()) {
        steps.push_back(wanted);
        std::sort(steps.begin(), steps.end());
    }
    const QSignalBlocker block(bracketStep_);
    std::vector<int> current;
    for (int i = 0; i < bracketStep_->count(); ++i)
        current.push_back(bracketStep_->itemData(i).toInt());
    if (current != steps) {
        bracketStep_->clear();
        for (int s : steps)
            bracketStep_->addItem(Q(sequences::StepText(s)), s);
    }
    bracketStep_->setCurrentIndex(bracketStep_->findData(wanted));
}

void SequencePanel::Refresh()
{
    QString text;
    switch (CurrentKind()) {
    case Kind::Single:
        text = "One picture at every interval.";
        break;
    case Kind::Bracket: {
        const sequences::ExposureSituation situation = view_.ReadExposure();
        const auto setting = sequences::BracketSettingFor(situation);
        const auto& list = setting == ExposureSetting::Compensation ? situation.compensationList : situation.tvList;
        const int wanted = bracketStep_->currentIndex() >= 0 ? bracketStep_->currentData().toInt() : 4;
        FillSteps(sequences::StepChoices(list), wanted);
        if (!view_.Source()) {
            text = "The camera is not connected.";
            break;
        }
        bool ok = false;
        sequences::BracketRequest r;
        r.frames = bracketFrames_->currentText().trimmed().toInt(&ok);
        r.stepSixths = bracketStep_->currentIndex() >= 0 ? bracketStep_->currentData().toInt() : 4;
        r.order = bracketOrder_->currentIndex() == 1 ? sequences::BracketOrder::MinusZeroPlus
                                                     : sequences::BracketOrder::ZeroMinusPlus;
        const sequences::BracketPlan plan = sequences::PlanBracket(situation, r);
        if (!plan.Ok()) {
            text = "Cannot bracket: " + Q(plan.refusal);
            break;
        }
        const auto& planList = plan.setting == ExposureSetting::Compensation ? situation.compensationList : situation.tvList;
        QStringList values;
        for (const sequences::BracketFrame& f : plan.frames)
            values << Q(ExposureValueText(plan.setting, f.code, planList));
        text = QString(plan.setting == ExposureSetting::ShutterSpeed ? "Shutter speed: " : "Exposure compensation: ") +
               values.join(", ") + "; then back to " + Q(ExposureValueText(plan.setting, plan.userCode, planList)) +
               (plan.modeUnknown ? " (the camera does not say its mode: each value is tried on it first)" : "");
        break;
    }
    case Kind::Stack: {
        const cdsdk::cdHSource source = view_.Source();
        if (!source) {
            text = "The camera is not connected.";
            break;
        }
        uint32_t caps = 0;
        if (view_.Library().CDGetLiveViewCapabilities(source, &caps) != cdsdk::cdOK)
            caps = 0;
        const sequences::FocusStackRequest r = *Stack();
        if (std::string why = sequences::FocusStackRefusal(r, caps); !why.empty()) {
            text = "Cannot stack: " + Q(why);
            break;
        }
        const QString size = sequences::StepSizeName(r.stepSize);
        text = QString("%1 frames from the %2 towards infinity, %3 apart")
                   .arg(r.frames)
                   .arg(r.start == sequences::FocusStart::Nearest ? "nearest distance" : "current focus")
                   .arg(r.stepsPerFrame == 1 ? "one " + size + " step"
                                             : QString::number(r.stepsPerFrame) + " " + size + " steps");
        if (caps & cdsdk::cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW)
            text += "; live view on while focusing";
        if (!(caps & cdsdk::cdLV_CAP_FOCUS_COUNTS_STEPS))
            text += "; the focus stays where the stack ends";
        else if (r.start == sequences::FocusStart::Nearest)
            text += "; then back to about where the focus was";
        else
            text += "; then back to where the focus was";
        break;
    }
    }
    preview_->setText(text);
}

QString SequencePanel::PreviewText() const { return preview_->text(); }

void SequencePanel::SetRunning(bool running)
{
    running_ = running;
    UpdateEnabling();
}

void SequencePanel::UpdateEnabling()
{
    const Kind kind = CurrentKind();
    // Only the page on show takes room: a single picture needs none.
    pages_->setCurrentIndex(static_cast<int>(kind));
    for (int i = 0; i < pages_->count(); ++i) {
        const auto policy = i == pages_->currentIndex() ? QSizePolicy::Preferred : QSizePolicy::Ignored;
        pages_->widget(i)->setSizePolicy(policy, policy);
    }
    pages_->setVisible(kind != Kind::Single);
    kind_->setEnabled(!running_);
    pages_->setEnabled(!running_);
    repeat_->setEnabled(!running_ && kind != Kind::Single);
    if (kind == Kind::Single && !repeat_->isChecked()) {
        const QSignalBlocker block(repeat_);
        repeat_->setChecked(true);
    }
}
