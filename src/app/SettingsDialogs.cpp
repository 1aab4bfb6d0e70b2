#include "app/SettingsDialogs.h"

#include "app/MessageBox.h"
#include "colour/ColourProfile.h"
#include "storage/SaveFolders.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace dialogs {

namespace {

FolderChooser& CurrentFolderChooser()
{
    static FolderChooser chooser;
    return chooser;
}

ColourChooser& CurrentColourChooser()
{
    static ColourChooser chooser;
    return chooser;
}

ProfileChooser& CurrentProfileChooser()
{
    static ProfileChooser chooser;
    return chooser;
}

}  // namespace

QString RangeMessage(int low, int high)
{
    return QString("Please enter an integer between %1 and %2.").arg(low).arg(high);
}

void SetFolderChooser(FolderChooser chooser) { CurrentFolderChooser() = std::move(chooser); }
void SetColourChooser(ColourChooser chooser) { CurrentColourChooser() = std::move(chooser); }
void SetProfileChooser(ProfileChooser chooser) { CurrentProfileChooser() = std::move(chooser); }

QString ChooseProfile(QWidget* parent, const QString& title, const QString& start)
{
    if (CurrentProfileChooser())
        return CurrentProfileChooser()(parent, title, start);
    return QFileDialog::getOpenFileName(parent, title, start, "Color profiles (*.icc *.icm *.ICC *.ICM);;All files (*)");
}

QString ChooseFolder(QWidget* parent, const QString& title, const QString& start)
{
    if (CurrentFolderChooser())
        return CurrentFolderChooser()(parent, title, start);
    return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

std::optional<uint32_t> ChooseColour(QWidget* parent, uint32_t start)
{
    if (CurrentColourChooser())
        return CurrentColourChooser()(parent, start);
    // Solid colours only: the chooser offers no transparency.
    const QColor chosen = QColorDialog::getColor(QColor(start & 0xFF, (start >> 8) & 0xFF, (start >> 16) & 0xFF),
                                                 parent, "Color");
    if (!chosen.isValid())
        return std::nullopt;
    return static_cast<uint32_t>(chosen.red()) | (static_cast<uint32_t>(chosen.green()) << 8) |
           (static_cast<uint32_t>(chosen.blue()) << 16);
}

}  // namespace dialogs

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

template <class W>
W* Named(W* widget, int id)
{
    widget->setObjectName(QString::number(id));
    return widget;
}

QDialogButtonBox* OkCancel(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// Reads an edit or spin box as a whole number in [low, high]; shows the range message,
// puts the focus there and returns false otherwise.
bool CheckRange(QWidget* dialog, QWidget* control, const QString& text, int low, int high, int& value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok && v >= low && v <= high) {
        value = v;
        return true;
    }
    msgbox::Show(dialog, dialogs::RangeMessage(low, high), msgbox::Icon::Exclamation);
    control->setFocus();
    return false;
}

// An edit box with its up-down arrows: the arrows step by one and stop at the ends of the
// allowed range; typing may leave it, and OK then says what is allowed.
class DivisionsBox : public QSpinBox {
public:
    DivisionsBox(int low, int high, QWidget* parent) : QSpinBox(parent), low_(low), high_(high)
    {
        setRange(-999, 999);
        setAccelerated(false);
    }
    void stepBy(int steps) override
    {
        interpretText();
        setValue(std::clamp(value() + steps, low_, high_));
        selectAll();
    }

protected:
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }

private:
    int low_, high_;
};

const char* const kMouseActions[] = {"None", "Release", "Preview", "Edit image"};
const char* const kMonitorProfiles[] = {"System", "sRGB", "File..."};
const char* const kIntents[] = {"Perceptual", "Relative colorimetric with black-point compensation"};

}  // namespace

// ---------------------------------------------------------------- preferences

CPreferencesDlg::CPreferencesDlg(const PreferencesValues& values, QWidget* parent)
    : QDialog(parent), initial_(values)
{
    setObjectName("dialog138");
    setWindowTitle("Tethrocam Preferences");
    auto* layout = new QVBoxLayout(this);

    auto* mouse = new QGroupBox("Mouse button actions", this);
    auto* mouseForm = new QFormLayout(mouse);
    middle_ = Named(new QComboBox(mouse), 1039);
    right_ = Named(new QComboBox(mouse), 1040);
    for (QComboBox* box : {middle_, right_})
        for (const char* item : kMouseActions)
            box->addItem(item);
    mouseForm->addRow("Middle button:", middle_);
    mouseForm->addRow("Right button:", right_);
    layout->addWidget(mouse);

    auto* saved = new QGroupBox("Saved image settings", this);
    auto* grid = new QGridLayout(saved);
    prefix_ = Named(new QLineEdit(saved), 1033);
    directory_ = Named(new QLineEdit(saved), 1032);
    directory_->setMinimumWidth(320);
    auto* browse = Named(new QPushButton("...", saved), 1003);
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance("....") + 16);
    year_ = Named(new QCheckBox("Year", saved), 1034);
    month_ = Named(new QCheckBox("Month", saved), 1035);
    day_ = Named(new QCheckBox("Day", saved), 1036);
    flatten_ = Named(new QCheckBox("Flatten date (e.g. 2003-06-06)", saved), 1037);
    example_ = Named(new QLineEdit(saved), 1038);
    example_->setReadOnly(true);

    int row = 0;
    grid->addWidget(new QLabel("Filename prefix:", saved), row, 0);
    grid->addWidget(prefix_, row++, 1, 1, 2);
    grid->addWidget(new QLabel("Directory in which to save images:", saved), row++, 0, 1, 3);
    grid->addWidget(directory_, row, 0, 1, 2);
    grid->addWidget(browse, row++, 2);
    grid->addWidget(new QLabel("Separate directory for:", saved), row, 0);
    auto* dates = new QHBoxLayout;
    dates->addWidget(year_);
    dates->addWidget(month_);
    dates->addWidget(day_);
    dates->addStretch(1);
    grid->addLayout(dates, row++, 1, 1, 2);
    grid->addWidget(flatten_, row++, 1, 1, 2);
    grid->addWidget(new QLabel("Example image name:", saved), row++, 0, 1, 3);
    grid->addWidget(example_, row++, 0, 1, 3);
    layout->addWidget(saved);

    // The colour-managed display: the monitor's profile and how colours outside its gamut
    // are brought in.
    auto* colours = new QGroupBox("Display colors", this);
    auto* colourGrid = new QGridLayout(colours);
    monitorProfile_ = new QComboBox(colours);
    monitorProfile_->setObjectName("monitorProfile");
    for (const char* item : kMonitorProfiles)
        monitorProfile_->addItem(item);
    profileFile_ = new QLineEdit(colours);
    profileFile_->setObjectName("monitorProfileFile");
    profileBrowse_ = new QPushButton("...", colours);
    profileBrowse_->setObjectName("monitorProfileBrowse");
    profileBrowse_->setFixedWidth(browse->width());
    intent_ = new QComboBox(colours);
    intent_->setObjectName("renderingIntent");
    for (const char* item : kIntents)
        intent_->addItem(item);
    colourGrid->addWidget(new QLabel("Monitor profile:", colours), 0, 0);
    colourGrid->addWidget(monitorProfile_, 0, 1, 1, 2);
    colourGrid->addWidget(profileFile_, 1, 0, 1, 2);
    colourGrid->addWidget(profileBrowse_, 1, 2);
    colourGrid->addWidget(new QLabel("Rendering intent:", colours), 2, 0);
    colourGrid->addWidget(intent_, 2, 1, 1, 2);
    layout->addWidget(colours);
    auto* live = new QGroupBox("Live view", this);
    auto* liveForm = new QFormLayout(live);
    review_ = Named(new QSpinBox(live), 1091);
    review_->setRange(0, 60);
    review_->setSuffix(" s");
    review_->setToolTip("How long a picture taken from live view is shown before live view returns; "
                        "0 keeps live view running");
    liveForm->addRow("Show each picture for:", review_);
    layout->addWidget(live);
    layout->addWidget(OkCancel(this));

    review_->setValue(std::clamp(values.liveViewReviewSeconds, 0, 60));
    middle_->setCurrentIndex(values.middleButtonAction >= 0 && values.middleButtonAction <= 3 ? values.middleButtonAction : -1);
    right_->setCurrentIndex(values.rightButtonAction >= 0 && values.rightButtonAction <= 3 ? values.rightButtonAction : -1);
    prefix_->setText(Q(values.prefix));
    directory_->setText(Q(values.directory));
    year_->setChecked(values.year);
    month_->setChecked(values.month);
    day_->setChecked(values.day);
    flatten_->setChecked(values.flattenDate);

    monitorProfile_->setCurrentIndex(values.monitorProfile >= 0 && values.monitorProfile <= 2 ? values.monitorProfile : 0);
    profileFile_->setText(Q(values.monitorProfileFile));
    intent_->setCurrentIndex(values.renderingIntent == 1 ? 1 : 0);
    UpdateProfileControls();
    connect(monitorProfile_, &QComboBox::activated, this, [this](int index) {
        UpdateProfileControls();
        if (index == 2 && profileFile_->text().trimmed().isEmpty())
            BrowseProfile();
    });
    connect(profileBrowse_, &QPushButton::clicked, this, [this] { BrowseProfile(); });

    for (QCheckBox* box : {year_, month_, day_, flatten_})
        connect(box, &QCheckBox::clicked, this, [this] { UpdateExample(); });
    for (QLineEdit* edit : {prefix_, directory_})
        connect(edit, &QLineEdit::textChanged, this, [this] { UpdateExample(); });
    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
    UpdateExample();
}

PreferencesValues CPreferencesDlg::Values() const
{
    PreferencesValues v;
    v.year = year_->isChecked();
    v.month = month_->isChecked();
    v.flattenDate = flatten_->isChecked();
    v.prefix = prefix_->text().toStdString();
    v.day = day_->isChecked();
    v.directory = directory_->text().toStdString();
    // A list with nothing chosen (a stored action this program does not know) keeps it.
    v.middleButtonAction = middle_->currentIndex() >= 0 ? middle_->currentIndex() : initial_.middleButtonAction;
    v.rightButtonAction = right_->currentIndex() >= 0 ? right_->currentIndex() : initial_.rightButtonAction;
    v.monitorProfile = monitorProfile_->currentIndex();
    v.monitorProfileFile = profileFile_->text().trimmed().toStdString();
    v.renderingIntent = intent_->currentIndex();
    v.liveViewReviewSeconds = review_ ? review_->value() : initial_.liveViewReviewSeconds;
    return v;
}

void CPreferencesDlg::UpdateProfileControls()
{
    const bool file = monitorProfile_->currentIndex() == 2;
    profileFile_->setEnabled(file);
    profileBrowse_->setEnabled(file);
}

void CPreferencesDlg::BrowseProfile()
{
    QString start = profileFile_->text().trimmed();
    if (start.isEmpty())
        start = QDir::homePath() + "/.local/share/icc";
    const QString chosen = dialogs::ChooseProfile(this, "Select the monitor profile", start);
    if (chosen.isEmpty())
        return;
    profileFile_->setText(chosen);
    monitorProfile_->setCurrentIndex(2);
    UpdateProfileControls();
}

QString CPreferencesDlg::ExampleName() const { return example_->text(); }

void CPreferencesDlg::UpdateExample()
{
    const PreferencesValues v = Values();
    const std::string folder =
        storage::DatedFolder(v.directory, v.year, v.month, v.day, v.flattenDate, storage::NativePathStyle());
    example_->setText(Q(folder + v.prefix + "0123.JPG"));
}

void CPreferencesDlg::Browse()
{
    // Start at the folder being edited, or the nearest folder above it that exists.
    QString start = directory_->text();
    while (!start.isEmpty() && !QFileInfo(start).isDir()) {
        const QString up = QFileInfo(start).path();
        if (up == start)
            break;
        start = up;
    }
    const QString chosen = dialogs::ChooseFolder(this, "Select folder in which to save images", start);
    if (chosen.isEmpty())
        return;
    directory_->setText(QDir::cleanPath(chosen));
    UpdateExample();
}

void CPreferencesDlg::accept()
{
#ifndef _WIN32
    // Pictures saved under a relative or empty folder, or a prefix that names another
    // folder, could not be written at all: refused here, where the user can still fix it.
    const QString directory = directory_->text();
    if (!directory.startsWith('/')) {
        msgbox::Show(this,
                     "Please enter the full path of the folder in which to save images (it starts with \"/\").",
                     msgbox::Icon::Exclamation);
        directory_->setFocus();
        return;
    }
    if (!ValidFilenamePrefix(prefix_->text().toStdString())) {
        msgbox::Show(this, "The filename prefix cannot contain \"/\".", msgbox::Icon::Exclamation);
        prefix_->setFocus();
        return;
    }
#endif
    // A profile that cannot be used would silently show wrong colours: said here, where
    // another one can still be chosen.
    if (monitorProfile_->currentIndex() == 2) {
        const QString path = profileFile_->text().trimmed();
        std::string why;
        if (path.isEmpty()) {
            why = "no file is chosen";
        } else if (colour::Profile::FromFile(path.toStdString(), &why)) {
            why.clear();
        }
        if (!why.empty()) {
            msgbox::ShowWithDetail(this, "This monitor profile cannot be used.",
                                   (path.isEmpty() ? QString() : path + ": ") + Q(why) +
                                       ".\nChoose another profile file (.icc or .icm), or choose System or sRGB.",
                                   msgbox::Icon::Exclamation);
            profileFile_->setFocus();
            return;
        }
    }
    QDialog::accept();
}

// ---------------------------------------------------------------- grid

CGridSettingsDlg::CGridSettingsDlg(const GridValues& values, QWidget* parent)
    : QDialog(parent), colour_(values.colour)
{
    setObjectName("dialog141");
    setWindowTitle("Grid Settings");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QGridLayout;
    horizontal_ = Named(new DivisionsBox(2, 50, this), 1042);
    vertical_ = Named(new DivisionsBox(2, 50, this), 1043);
    horizontal_->setValue(values.horizontal);
    vertical_->setValue(values.vertical);
    swatch_ = new QLabel(this);
    swatch_->setObjectName("141");
    swatch_->setFrameStyle(QFrame::Box | QFrame::Plain);
    swatch_->setFixedSize(48, 22);
    auto* choose = Named(new QPushButton("...", this), 1003);
    choose->setFixedWidth(choose->fontMetrics().horizontalAdvance("....") + 16);
    enabled_ = Named(new QCheckBox("Enable grid display", this), 1046);
    enabled_->setChecked(values.enabled);

    form->addWidget(new QLabel("Number of horizontal divisions:", this), 0, 0);
    form->addWidget(horizontal_, 0, 1, 1, 2);
    form->addWidget(new QLabel("Number of vertical divisions:", this), 1, 0);
    form->addWidget(vertical_, 1, 1, 1, 2);
    form->addWidget(new QLabel("Line color:", this), 2, 0);
    form->addWidget(swatch_, 2, 1);
    form->addWidget(choose, 2, 2);
    layout->addLayout(form);
    layout->addWidget(enabled_);
    layout->addWidget(OkCancel(this));
    connect(choose, &QPushButton::clicked, this, [this] { ChooseColour(); });
    PaintSwatch();
}

void CGridSettingsDlg::PaintSwatch()
{
    QPixmap pixmap(swatch_->contentsRect().size().expandedTo(QSize(1, 1)));
    pixmap.fill(QColor(colour_ & 0xFF, (colour_ >> 8) & 0xFF, (colour_ >> 16) & 0xFF));
    swatch_->setPixmap(pixmap);
}

void CGridSettingsDlg::ChooseColour()
{
    if (const auto chosen = dialogs::ChooseColour(this, colour_)) {
        colour_ = *chosen & 0x00FFFFFF;
        PaintSwatch();
    }
}

GridValues CGridSettingsDlg::Values() const
{
    GridValues v;
    v.colour = colour_;
    v.enabled = enabled_->isChecked();
    v.horizontal = horizontal_->value();
    v.vertical = vertical_->value();
    return v;
}

void CGridSettingsDlg::accept()
{
    int h = 0, v = 0;
    if (!CheckRange(this, horizontal_, horizontal_->cleanText(), 2, 50, h) ||
        !CheckRange(this, vertical_, vertical_->cleanText(), 2, 50, v))
        return;
    horizontal_->setValue(h);
    vertical_->setValue(v);
    QDialog::accept();
}

// ---------------------------------------------------------------- highlights

CHighlightSettings::CHighlightSettings(const HighlightValues& values, QWidget* parent)
    : QDialog(parent), initial_(values)
{
    setObjectName("dialog170");
    setWindowTitle("Flashing Highlight Settings");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    method_ = Named(new QComboBox(this), 1069);
    method_->addItems({"Luminosity", "RGB value"});
    method_->model()->sort(0);
    method_->setCurrentIndex(values.method >= 0 && values.method <= 1 ? values.method : -1);
    threshold_ = Named(new QLineEdit(QString::number(values.threshold), this), 1070);
    threshold_->setValidator(new QRegularExpressionValidator(QRegularExpression("-?[0-9]{0,6}"), threshold_));
    display_ = Named(new QCheckBox("Display flashing highlights", this), 1071);
    display_->setChecked(values.display);
    form->addRow("Highlight method:", method_);
    form->addRow("Threshold (50 to 255):", threshold_);
    layout->addLayout(form);
    layout->addWidget(display_);
    layout->addWidget(OkCancel(this));
}

HighlightValues CHighlightSettings::Values() const
{
    HighlightValues v;
    v.method = method_->currentIndex() >= 0 ? method_->currentIndex() : initial_.method;
    bool ok = false;
    const int t = threshold_->text().trimmed().toInt(&ok);
    v.threshold = ok ? t : initial_.threshold;
    v.display = display_->isChecked();
    return v;
}

void CHighlightSettings::accept()
{
    int t = 0;
    if (!CheckRange(this, threshold_, threshold_->text(), 50, 255, t))
        return;
    QDialog::accept();
}

// ---------------------------------------------------------------- commands

bool EditPreferences(QWidget* parent, Settings& s)
{
    PreferencesValues v;
    v.year = s.Year;
    v.month = s.Month;
    v.flattenDate = s.FlattenDate;
    v.prefix = s.FilenamePrefix;
    v.day = s.Day;
    v.directory = s.Directory;
    v.middleButtonAction = s.MiddleBtnAction;
    v.rightButtonAction = s.RightBtnAction;
    v.monitorProfile = s.MonitorProfile;
    v.monitorProfileFile = s.MonitorProfileFile;
    v.renderingIntent = s.RenderingIntent;
    v.liveViewReviewSeconds = s.LiveViewReviewTime;
    CPreferencesDlg dialog(v, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    v = dialog.Values();
    s.Year = v.year;
    s.Month = v.month;
    s.Day = v.day;
    s.FlattenDate = v.flattenDate;
    s.FilenamePrefix = v.prefix;
    s.Directory = v.directory;
    s.MiddleBtnAction = v.middleButtonAction;
    s.RightBtnAction = v.rightButtonAction;
    s.MonitorProfile = v.monitorProfile;
    s.MonitorProfileFile = v.monitorProfileFile;
    s.RenderingIntent = v.renderingIntent;
    s.LiveViewReviewTime = v.liveViewReviewSeconds;
    return true;
}

bool EditGridSettings(QWidget* parent, Settings& s)
{
    const GridValues before{s.GridColour, s.DisplayGrid, s.NumberOfHorizontalGridDivisions,
                            s.NumberOfVerticalGridDivisions};
    CGridSettingsDlg dialog(before, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const GridValues after = dialog.Values();
    s.GridColour = after.colour;
    s.DisplayGrid = after.enabled;
    s.NumberOfHorizontalGridDivisions = after.horizontal;
    s.NumberOfVerticalGridDivisions = after.vertical;
    return after.colour != before.colour || after.enabled != before.enabled || after.horizontal != before.horizontal ||
           after.vertical != before.vertical;
}

bool EditHighlightSettings(QWidget* parent, Settings& s)
{
    const HighlightValues before{s.HighlightBlinkMethod, s.HighlightBlinkThreshold, s.HighlightBlink};
    CHighlightSettings dialog(before, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const HighlightValues after = dialog.Values();
    s.HighlightBlinkMethod = after.method;
    s.HighlightBlinkThreshold = after.threshold;
    s.HighlightBlink = after.display;
    return after.method != before.method || after.threshold != before.threshold || after.display != before.display;
}
