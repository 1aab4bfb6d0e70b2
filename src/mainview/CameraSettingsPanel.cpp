#include "mainview/CameraSettingsPanel.h"

#include "camera/CCamera.h"
#include "mainview/ControlIds.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <cstring>
#include <initializer_list>
#include <vector>

using namespace cdsdk;
using panel::SettingSpec;
using panel::ValueList;

namespace panel {

void FillCombo(QComboBox* combo, ValueList list)
{
    combo->clear();
    for (const ValueEntry& e : list)
        combo->addItem(QString::fromUtf8(e.label), QVariant::fromValue<uint>(e.code));
    // A freshly filled list shows nothing until the camera's value is selected, so a
    // refill never puts up a value (such as "bulb") the camera does not hold.
    combo->setCurrentIndex(-1);
}

void MarkNotOffered(QComboBox* combo)
{
    combo->clear();
    combo->setPlaceholderText(kNotOffered);
    combo->setEnabled(false);
}

void SelectByCode(QComboBox* combo, uint32_t code)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i).toUInt() == code) {
            combo->setCurrentIndex(i);
            return;
        }
    }
}

std::optional<uint32_t> SelectedCode(const QComboBox* combo)
{
    const int i = combo->currentIndex();
    if (i < 0)
        return std::nullopt;
    return combo->itemData(i).toUInt();
}

}  // namespace panel

namespace {

bool ReadSetting(CCamera& cam, SettingSpec s, uint32_t& out)
{
    uint8_t buf[4] = {};
    uint32_t size = s.size;
    if (cam.Library().CDGetRelCamSettingData(cam.Source(), s.id, &size, buf) != cdOK)
        return false;
    if (s.size == 1) {
        out = buf[0];
    } else {
        uint16_t v = 0;
        std::memcpy(&v, buf, sizeof v);
        out = v;
    }
    return true;
}

void WriteSetting(CCamera& cam, SettingSpec s, uint32_t value)
{
    if (s.size == 1) {
        const uint8_t v = static_cast<uint8_t>(value);
        cam.Library().CDSetRelCamSettingData(cam.Source(), s.id, 1, &v);
    } else {
        const uint16_t v = static_cast<uint16_t>(value);
        cam.Library().CDSetRelCamSettingData(cam.Source(), s.id, 2, &v);
    }
}

// Reads a generic setting back into its list.
void ReadBackInto(CCamera& cam, SettingSpec s, QComboBox* combo)
{
    uint32_t v = 0;
    if (ReadSetting(cam, s, v))
        panel::SelectByCode(combo, v);
}

}  // namespace

CameraSettingsPanel::CameraSettingsPanel(FormControls& form, std::function<CCamera*()> camera,
                                         std::function<int()> storeImage, std::function<bool()> shooting)
    : form_(form), camera_(std::move(camera)), storeImage_(std::move(storeImage)), shooting_(std::move(shooting))
{
    // Only the user's own choices write to the camera: `activated` is not raised when the
    // panel selects an entry itself.
    auto wire = [this](QComboBox* combo, void (CameraSettingsPanel::*handler)()) {
        connect(combo, &QComboBox::activated, this, [this, handler] { (this->*handler)(); });
    };
    wire(form_.tv, &CameraSettingsPanel::OnTvChanged);
    wire(form_.av, &CameraSettingsPanel::OnAvChanged);
    wire(form_.exposureComp, &CameraSettingsPanel::OnExposureCompChanged);
    wire(form_.flashComp, &CameraSettingsPanel::OnFlashCompChanged);
    wire(form_.sizeQuality, &CameraSettingsPanel::ApplySizeQuality);
    wire(form_.whiteBalance, &CameraSettingsPanel::OnWhiteBalanceChanged);
    wire(form_.metering, &CameraSettingsPanel::OnMeteringChanged);
    wire(form_.drive, &CameraSettingsPanel::OnDriveChanged);
    wire(form_.iso, &CameraSettingsPanel::OnIsoChanged);
    wire(form_.afMode, &CameraSettingsPanel::OnAfModeChanged);
    connect(form_.colourTemp, &QLineEdit::editingFinished, this, &CameraSettingsPanel::OnColourTempEdited);
    for (const panel::FocusPointButton& b : panel::FocusPointButtons()) {
        if (QPushButton* button = form_.FocusPoint(b.controlId))
            connect(button, &QPushButton::clicked, this, [this, id = b.controlId] { OnFocusPointClicked(id); });
    }
    connect(form_.selectAll, &QPushButton::clicked, this, &CameraSettingsPanel::OnSelectAllClicked);

    // The progress bar floats over a line of the panel; follow the panel's layout.
    progressAnchor_ = form_.lensLine;
    form_.panel->installEventFilter(this);
    form_.lensLine->installEventFilter(this);
    form_.aeLockLine->installEventFilter(this);
}

CameraSettingsPanel::~CameraSettingsPanel()
{
    if (form_.panel)
        form_.panel->removeEventFilter(this);
}

CCamera* CameraSettingsPanel::ConnectedCamera() const
{
    CCamera* cam = camera_ ? camera_() : nullptr;
    return cam && cam->Source() != 0 ? cam : nullptr;
}

panel::Model CameraSettingsPanel::CurrentModel() const
{
    if (CCamera* cam = camera_ ? camera_() : nullptr)
        return panel::ModelFromFlags(cam->Is10D(), cam->Is300D(), cam->IsD30(), cam->IsD60());
    return model_;
}

bool CameraSettingsPanel::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
        if (watched == form_.panel || watched == progressAnchor_)
            PlaceProgressBar();
        break;
    case QEvent::LayoutRequest:
        // The panel's layout moves the lines only after this event; place the bar after it.
        if (watched == form_.panel)
            QMetaObject::invokeMethod(this, &CameraSettingsPanel::PlaceProgressBar, Qt::QueuedConnection);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CameraSettingsPanel::PlaceProgressBar()
{
    if (!form_.progress || !progressAnchor_)
        return;
    form_.progress->setGeometry(progressAnchor_->geometry());
}

void CameraSettingsPanel::ShowProgressBar(bool on)
{
    if (!form_.progress || !progressAnchor_)
        return;
    if (on) {
        PlaceProgressBar();
        progressAnchor_->hide();  // its room stays (retained when hidden)
        form_.progress->show();
        form_.progress->raise();
    } else {
        form_.progress->hide();
        for (QLabel* line : {form_.lensLine, form_.parameterSetLine, form_.aeLockLine})
            line->show();
    }
}

// ------------------------------------------------------------------ lists for the body

void CameraSettingsPanel::PrepareModelLists()
{
    model_ = CurrentModel();
    for (QComboBox* combo : {form_.tv, form_.av, form_.iso, form_.exposureComp, form_.flashComp, form_.sizeQuality,
                             form_.whiteBalance, form_.metering, form_.drive, form_.afMode})
        combo->setPlaceholderText(QString());
    if (bodyDescribed_)
        form_.tv->clear();  // the body's own lists go: the next reading fills the built-in ones
    bodyDescribed_ = false;
    present_ = settable_ = 0;
    if (CCamera* cam = ConnectedCamera())
        ReadOffers(*cam);
    panel::FillCombo(form_.sizeQuality, panel::SizeQuality());
    panel::FillCombo(form_.metering, panel::Metering());
    panel::FillCombo(form_.drive, panel::Drive());
    panel::FillCombo(form_.afMode, panel::AfMode());
    panel::FillCombo(form_.whiteBalance, panel::WhiteBalanceListFor(model_));
    panel::FillCombo(form_.iso, panel::IsoListFor(model_));
    for (const panel::FocusPointButton& b : panel::FocusPointButtons()) {
        if (QPushButton* button = form_.FocusPoint(b.controlId))
            button->setVisible(panel::FocusPointShown(b.controlId, model_));
    }
    if (bodyDescribed_)
        ShowFocusPoints(Offers(cdOFFERS_AF_POINT));
    else
        form_.focusGroup->setVisible(true);
    QLabel* anchor = model_ == panel::Model::Eos300D ? form_.aeLockLine : form_.lensLine;
    if (anchor != progressAnchor_) {
        const bool showing = form_.progress && form_.progress->isVisibleTo(form_.panel);
        ShowProgressBar(false);
        progressAnchor_ = anchor;
        if (showing)
            ShowProgressBar(true);
    }
    PlaceProgressBar();
}

void CameraSettingsPanel::FillLists(bool fine)
{
    panel::FillCombo(form_.tv, fine ? panel::TvFine() : panel::TvCoarse());
    panel::FillCombo(form_.exposureComp, fine ? panel::CompensationFine() : panel::CompensationCoarse());
    panel::FillCombo(form_.flashComp, fine ? panel::CompensationFine() : panel::CompensationCoarse());
}

void CameraSettingsPanel::RefillAvList(bool fine)
{
    // Refilled on every reading so that a lens with a wider range gets its apertures back.
    const std::optional<uint32_t> previous = panel::SelectedCode(form_.av);
    panel::FillCombo(form_.av, fine ? panel::AvFine() : panel::AvCoarse());
    if (previous)
        panel::SelectByCode(form_.av, *previous);
}

void CameraSettingsPanel::ApplyLensLimits(CCamera& cam)
{
    auto removeWhere = [this](auto outside) {
        for (int i = 0; i < form_.av->count();) {
            const uint32_t code = form_.av->itemData(i).toUInt();
            if (code == panel::kAutoCode)
                break;
            if (outside(code))
                form_.av->removeItem(i);
            else
                ++i;
        }
    };
    uint32_t gate = 0, highest = 0, lowest = 0;
    if (ReadSetting(cam, panel::setting::kAvLimitGate, gate) && !ReadSetting(cam, panel::setting::kAvMax, highest))
        highest = 0;
    if (highest != 0)
        removeWhere([highest](uint32_t code) { return code > highest; });
    if (ReadSetting(cam, panel::setting::kAvOpen, lowest))
        removeWhere([lowest](uint32_t code) { return code < lowest; });
}

// ------------------------------------------------------------------ reading the camera

void CameraSettingsPanel::RefreshCameraSettings()
{
    if (shooting_ && shooting_())
        return;
    CCamera* cam = ConnectedCamera();
    if (!cam || !cam->LockUI())
        return;
    if (ReadOffers(*cam)) {
        RefreshFromBody(*cam);
        cam->SetSaveMode(storeImage_());
        cam->UnlockUI();
        return;
    }
    CameraLibrary& lib = cam->Library();
    const cdHSource src = cam->Source();
    const panel::Model model = CurrentModel();

    cam->ReadCustomFunctions();
    const panel::CustomFunctionReader cf = [cam](int n) { return cam->GetCustomFunction(n); };

    const panel::ButtonLines buttons = panel::ButtonFunctionLines(model, cf);
    form_.shutterButtonLine->setText(QString::fromStdString(buttons.shutter));
    form_.aeLockLine->setText(QString::fromStdString(buttons.aeLock));
    form_.mirrorLockupLine->setText(QString::fromStdString(panel::MirrorLockupLine(model, cf)));

    const bool fine = panel::UsesFineLists(model, cf);
    const int entries = static_cast<int>((fine ? panel::TvFine() : panel::TvCoarse()).size());
    if (form_.tv->count() != entries)
        FillLists(fine);
    RefillAvList(fine);
    ApplyLensLimits(*cam);

    uint16_t v = 0;
    if (lib.CDGetTvValue(src, &v) == cdOK) {
        panel::SelectByCode(form_.tv, v);
        form_.tv->setEnabled(v != panel::kAutoCode);
    }
    if (lib.CDGetAvValue(src, &v) == cdOK) {
        panel::SelectByCode(form_.av, v);
        form_.av->setEnabled(v != panel::kAutoCode);
    }
    if (lib.CDGetExposureComp(src, &v) == cdOK)
        panel::SelectByCode(form_.exposureComp, v);

    uint16_t flashMode = 0, flashComp = 0;
    if (lib.CDGetFlashSetting(src, &flashMode, &flashComp) == cdOK) {
        panel::SelectByCode(form_.flashComp, flashComp);
        form_.flashComp->setEnabled(flashComp != panel::kNoFlashCode);
    }
    ReadBackInto(*cam, panel::setting::kFlashComp, form_.flashComp);

    uint16_t quality = 0, size = 0;
    if (lib.CDGetImageFormatAttribute(src, &quality, &size) == cdOK) {
        cam->SetImageQuality(quality, storeImage_());
        panel::SelectByCode(form_.sizeQuality, panel::SizeQualityCode(quality, size));
    }

    if (lib.CDGetWBSetting(src, &v) == cdOK) {
        panel::SelectByCode(form_.whiteBalance, v);
        form_.colourTemp->setEnabled(v == panel::kKelvinWhiteBalance);
    }
    uint32_t kelvin = 0;
    if (ReadSetting(*cam, panel::setting::kColourTemp, kelvin))
        form_.colourTemp->setText(QString::number(kelvin));

    ReadBackInto(*cam, panel::setting::kMetering, form_.metering);
    if (lib.CDGetDriveMode(src, &v) == cdOK)
        panel::SelectByCode(form_.drive, v);
    ReadBackInto(*cam, panel::setting::kIso, form_.iso);
    uint32_t afMode = 0;
    if (ReadSetting(*cam, panel::setting::kAfMode, afMode))
        panel::SelectByCode(form_.afMode, afMode);
    else
        afMode = 255;

    ShowFocusPointSelection();

    if (panel::HasThreeFocusPoints(model)) {
        form_.parameterSetLine->clear();
    } else {
        uint32_t set = 0;
        if (ReadSetting(*cam, panel::setting::kParameterSet, set))
            form_.parameterSetLine->setText(
                QString::fromStdString(panel::ParameterSetLine(model, static_cast<uint16_t>(set))));
    }

    uint32_t divisor = 0;
    if (ReadSetting(*cam, panel::setting::kFocalDivisor, divisor)) {
        uint32_t current = 0, shortEnd = 0, longEnd = 0;
        if (!ReadSetting(*cam, panel::setting::kFocalCurrent, current))
            current = 0;
        if (!ReadSetting(*cam, panel::setting::kFocalShort, shortEnd))
            shortEnd = 0;
        if (!ReadSetting(*cam, panel::setting::kFocalLong, longEnd))
            longEnd = 0;
        form_.lensLine->setText(QString::fromStdString(
            panel::LensLine(static_cast<uint16_t>(divisor), static_cast<uint16_t>(current),
                            static_cast<uint16_t>(shortEnd), static_cast<uint16_t>(longEnd))));
    }

    uint16_t mode = 0;
    if (lib.CDGetShootingMode(src, &mode) == cdOK) {
        EnableByMode(mode, static_cast<uint16_t>(afMode));
        form_.modeLine->setText(QString::fromStdString(panel::ModeLine(mode)));
    } else {
        form_.modeLine->setText("Mode: Unknown");
    }

    cam->SetSaveMode(storeImage_());
    cam->UnlockUI();
}

// ------------------------------------------------------------------ bodies that describe themselves

bool CameraSettingsPanel::ReadOffers(CCamera& cam)
{
    uint32_t present = 0, settable = 0;
    bodyDescribed_ = cam.Library().CDGetOfferedSettings(cam.Source(), &present, &settable) == cdOK;
    present_ = bodyDescribed_ ? present : 0;
    settable_ = bodyDescribed_ ? (settable & present) : 0;
    return bodyDescribed_;
}

void CameraSettingsPanel::ShowFocusPoints(bool shown)
{
    for (QPushButton* b : form_.focusPoints)
        b->setVisible(shown);
    form_.selectAll->setVisible(shown);
    form_.focusGroup->setVisible(shown);
}

// The body's own choices for Tv, Av, ISO or exposure compensation; the selection is kept by code.
void CameraSettingsPanel::FillFromBody(QComboBox* combo, CCamera& cam, uint32_t bit)
{
    std::vector<cdSettingChoice> choices(64);
    uint32_t count = static_cast<uint32_t>(choices.size());
    cdError e = cam.Library().CDGetSettingChoices(cam.Source(), bit, choices.data(), &count);
    if (e == cdINVALID_PARAMETER && count > choices.size()) {
        choices.resize(count);
        e = cam.Library().CDGetSettingChoices(cam.Source(), bit, choices.data(), &count);
    }
    if (e != cdOK || count == 0) {
        panel::MarkNotOffered(combo);
        return;
    }
    choices.resize(count);
    auto label = [](const cdSettingChoice& c) {
        return QString::fromUtf8(c.label, static_cast<qsizetype>(strnlen(c.label, sizeof c.label)));
    };
    bool same = combo->count() == static_cast<int>(count);
    for (int i = 0; same && i < combo->count(); ++i) {
        const cdSettingChoice& c = choices[static_cast<size_t>(i)];
        same = combo->itemData(i).toUInt() == c.code && combo->itemText(i) == label(c);
    }
    if (same)
        return;
    const std::optional<uint32_t> previous = panel::SelectedCode(combo);
    combo->clear();
    combo->setPlaceholderText(QString());
    for (const cdSettingChoice& c : choices)
        combo->addItem(label(c), QVariant::fromValue<uint>(c.code));
    combo->setCurrentIndex(-1);
    if (previous)
        panel::SelectByCode(combo, *previous);
}

void CameraSettingsPanel::RefreshFromBody(CCamera& cam)
{
    CameraLibrary& lib = cam.Library();
    const cdHSource src = cam.Source();
    const panel::Model model = CurrentModel();

    // Lines for what libgphoto2 cannot reach stay empty unless the body has them.
    if (Offers(cdOFFERS_CUSTOM_FUNCTIONS)) {
        cam.ReadCustomFunctions();
        const panel::CustomFunctionReader cf = [&cam](int n) { return cam.GetCustomFunction(n); };
        const panel::ButtonLines buttons = panel::ButtonFunctionLines(model, cf);
        form_.shutterButtonLine->setText(QString::fromStdString(buttons.shutter));
        form_.aeLockLine->setText(QString::fromStdString(buttons.aeLock));
        form_.mirrorLockupLine->setText(QString::fromStdString(panel::MirrorLockupLine(model, cf)));
    } else {
        form_.shutterButtonLine->clear();
        form_.aeLockLine->clear();
        form_.mirrorLockupLine->clear();
    }

    // The exposure settings with the body's own choices.
    struct Numeric {
        QComboBox* combo;
        uint32_t bit;
        cdError (CameraLibrary::*get)(cdHSource, uint16_t*);
    };
    for (const Numeric& n : {Numeric{form_.tv, cdOFFERS_TV, &CameraLibrary::CDGetTvValue},
                             Numeric{form_.av, cdOFFERS_AV, &CameraLibrary::CDGetAvValue},
                             Numeric{form_.exposureComp, cdOFFERS_EXPOSURE_COMP, &CameraLibrary::CDGetExposureComp}}) {
        if (!Offers(n.bit)) {
            panel::MarkNotOffered(n.combo);
            continue;
        }
        FillFromBody(n.combo, cam, n.bit);
        uint16_t v = 0;
        if ((lib.*n.get)(src, &v) == cdOK)
            panel::SelectByCode(n.combo, v);
        n.combo->setEnabled(Takes(n.bit) && n.combo->count() > 0);
    }
    if (Offers(cdOFFERS_ISO)) {
        FillFromBody(form_.iso, cam, cdOFFERS_ISO);
        ReadBackInto(cam, panel::setting::kIso, form_.iso);
        form_.iso->setEnabled(Takes(cdOFFERS_ISO) && form_.iso->count() > 0);
    } else {
        panel::MarkNotOffered(form_.iso);
    }
    panel::MarkNotOffered(form_.flashComp);  // no body reached this way reports it

    // The settings chosen from the program's tables, where the body has them.
    auto tableList = [this](QComboBox* combo, uint32_t bit, ValueList list) {
        if (!Offers(bit)) {
            panel::MarkNotOffered(combo);
            return false;
        }
        if (combo->count() == 0) {
            combo->setPlaceholderText(QString());
            panel::FillCombo(combo, list);
        }
        combo->setEnabled(Takes(bit));
        return true;
    };
    uint16_t v = 0;
    if (tableList(form_.sizeQuality, cdOFFERS_SIZE_QUALITY, panel::SizeQuality())) {
        uint16_t quality = 0, size = 0;
        if (lib.CDGetImageFormatAttribute(src, &quality, &size) == cdOK) {
            cam.SetImageQuality(quality, storeImage_());
            panel::SelectByCode(form_.sizeQuality, panel::SizeQualityCode(quality, size));
        }
    }
    if (tableList(form_.whiteBalance, cdOFFERS_WHITE_BALANCE, panel::WhiteBalance9())) {
        if (lib.CDGetWBSetting(src, &v) == cdOK)
            panel::SelectByCode(form_.whiteBalance, v);
    }
    uint32_t kelvin = 0;
    if (Offers(cdOFFERS_COLOUR_TEMP) && ReadSetting(cam, panel::setting::kColourTemp, kelvin))
        form_.colourTemp->setText(QString::number(kelvin));
    else if (!Offers(cdOFFERS_COLOUR_TEMP))
        form_.colourTemp->clear();
    form_.colourTemp->setEnabled(Takes(cdOFFERS_COLOUR_TEMP));
    if (tableList(form_.metering, cdOFFERS_METERING, panel::Metering()))
        ReadBackInto(cam, panel::setting::kMetering, form_.metering);
    if (tableList(form_.drive, cdOFFERS_DRIVE, panel::Drive())) {
        if (lib.CDGetDriveMode(src, &v) == cdOK)
            panel::SelectByCode(form_.drive, v);
    }
    if (tableList(form_.afMode, cdOFFERS_AF_MODE, panel::AfMode()))
        ReadBackInto(cam, panel::setting::kAfMode, form_.afMode);

    ShowFocusPoints(Offers(cdOFFERS_AF_POINT));
    if (Offers(cdOFFERS_AF_POINT))
        ShowFocusPointSelection();

    if (!Offers(cdOFFERS_PARAMETER_SET))
        form_.parameterSetLine->clear();
    if (!Offers(cdOFFERS_LENS))
        form_.lensLine->clear();

    if (!Offers(cdOFFERS_SHOOTING_MODE))
        form_.modeLine->clear();
    else if (lib.CDGetShootingMode(src, &v) == cdOK)
        form_.modeLine->setText(QString::fromStdString(panel::ModeLine(v)));
    else
        form_.modeLine->setText("Mode: Unknown");
}

void CameraSettingsPanel::EnableByMode(uint16_t mode, uint16_t afMode)
{
    const bool creative = panel::IsCreativeMode(mode);
    const bool manualFocus = afMode == panel::kManualFocus;
    const bool is300D = CurrentModel() == panel::Model::Eos300D;
    form_.exposureComp->setEnabled(creative && mode != 4 && mode != 7);
    form_.flashComp->setEnabled(creative && mode != 4);
    form_.afMode->setEnabled(creative && !manualFocus && !is300D);
    form_.whiteBalance->setEnabled(creative);
    form_.iso->setEnabled(creative);
    form_.metering->setEnabled(creative && !is300D);
    if (mode != 2 && mode != 4) {
        panel::SelectByCode(form_.tv, mode == 7 ? panel::kBulbCode : panel::kAutoCode);
        form_.tv->setEnabled(false);
    }
    if (mode != 3 && mode != 4 && mode != 7) {
        panel::SelectByCode(form_.av, panel::kAutoCode);
        form_.av->setEnabled(false);
    }
    for (QPushButton* b : form_.focusPoints)
        b->setEnabled(creative && !manualFocus);
    form_.selectAll->setEnabled(creative && !manualFocus);
}

void CameraSettingsPanel::ShowFocusPointSelection()
{
    CCamera* cam = ConnectedCamera();
    uint32_t afPoint = 0;
    if (!cam || !ReadSetting(*cam, panel::setting::kAfPoint, afPoint))
        return;
    for (const panel::FocusPointButton& b : panel::FocusPointButtons()) {
        if (QPushButton* button = form_.FocusPoint(b.controlId))
            button->setChecked(panel::FocusPointChecked(static_cast<uint16_t>(afPoint), b.code));
    }
}

// ------------------------------------------------------------------ connection state, commands

void CameraSettingsPanel::UpdateEnabling(bool connected)
{
    if (connected && bodyDescribed_) {
        // What the body offers, and nothing it lacks (never an empty list to choose from).
        form_.sizeQuality->setEnabled(Takes(cdOFFERS_SIZE_QUALITY) && form_.sizeQuality->count() > 0);
        form_.drive->setEnabled(Takes(cdOFFERS_DRIVE) && form_.drive->count() > 0);
        ShowFocusPoints(Offers(cdOFFERS_AF_POINT));
        return;
    }
    if (connected) {
        form_.sizeQuality->setEnabled(true);
        form_.drive->setEnabled(true);
        const panel::Model model = CurrentModel();
        for (const panel::FocusPointButton& b : panel::FocusPointButtons()) {
            if (QPushButton* button = form_.FocusPoint(b.controlId))
                button->setVisible(panel::FocusPointShown(b.controlId, model));
        }
        form_.selectAll->setVisible(true);
        form_.focusGroup->setVisible(true);
        return;
    }
    for (QWidget* w : std::initializer_list<QWidget*>{form_.tv, form_.av, form_.exposureComp, form_.flashComp,
                                                       form_.sizeQuality, form_.colourTemp, form_.metering,
                                                       form_.whiteBalance, form_.drive, form_.iso, form_.afMode,
                                                       form_.selectAll})
        w->setEnabled(false);
    for (QPushButton* b : form_.focusPoints)
        b->setEnabled(false);
}

void CameraSettingsPanel::Refresh()
{
    // While a picture is on its way the release holds the body's controls locked; freeing
    // them now would let the body be changed in the middle of the release.
    if (shooting_ && shooting_())
        return;
    CCamera* cam = camera_ ? camera_() : nullptr;
    if (!cam)
        return;
    for (int i = 0; i < 4; ++i)
        cam->UnlockUI();  // clears any lock count left over
    RefreshCameraSettings();
}

void CameraSettingsPanel::SettingsChanged() { RefreshCameraSettings(); }

// ------------------------------------------------------------------ change handlers

void CameraSettingsPanel::OnTvChanged()
{
    const auto code = panel::SelectedCode(form_.tv);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    cam->Library().CDSetTvValue(cam->Source(), static_cast<uint16_t>(*code));
    uint16_t v = 0;
    if (cam->Library().CDGetTvValue(cam->Source(), &v) == cdOK)
        panel::SelectByCode(form_.tv, v);
}

void CameraSettingsPanel::OnAvChanged()
{
    const auto code = panel::SelectedCode(form_.av);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    cam->Library().CDSetAvValue(cam->Source(), static_cast<uint16_t>(*code));
    uint16_t v = 0;
    if (cam->Library().CDGetAvValue(cam->Source(), &v) == cdOK)
        panel::SelectByCode(form_.av, v);
}

void CameraSettingsPanel::OnExposureCompChanged()
{
    const auto code = panel::SelectedCode(form_.exposureComp);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    cam->Library().CDSetExposureComp(cam->Source(), static_cast<uint16_t>(*code));
    uint16_t v = 0;
    if (cam->Library().CDGetExposureComp(cam->Source(), &v) == cdOK)
        panel::SelectByCode(form_.exposureComp, v);
}

namespace {

std::vector<sequences::ListEntry> Entries(const QComboBox* combo)
{
    std::vector<sequences::ListEntry> out;
    for (int i = 0; i < combo->count(); ++i)
        out.push_back({combo->itemText(i).toStdString(), combo->itemData(i).toUInt()});
    return out;
}

}  // namespace

sequences::ExposureSituation CameraSettingsPanel::ReadExposure() const
{
    sequences::ExposureSituation s;
    CCamera* cam = ConnectedCamera();
    if (!cam)
        return s;
    CameraLibrary& lib = cam->Library();
    uint16_t v = 0;
    if (lib.CDGetShootingMode(cam->Source(), &v) == cdOK)
        s.mode = v;
    if (lib.CDGetTvValue(cam->Source(), &v) == cdOK)
        s.tv = v;
    if (lib.CDGetExposureComp(cam->Source(), &v) == cdOK)
        s.compensation = v;
    s.tvList = Entries(form_.tv);
    s.compensationList = Entries(form_.exposureComp);
    return s;
}

std::optional<uint16_t> CameraSettingsPanel::WriteExposure(sequences::ExposureSetting which, uint16_t code)
{
    CCamera* cam = ConnectedCamera();
    if (!cam)
        return std::nullopt;
    CameraLibrary& lib = cam->Library();
    const bool tv = which == sequences::ExposureSetting::ShutterSpeed;
    if (tv)
        lib.CDSetTvValue(cam->Source(), code);
    else
        lib.CDSetExposureComp(cam->Source(), code);
    uint16_t v = 0;
    if ((tv ? lib.CDGetTvValue(cam->Source(), &v) : lib.CDGetExposureComp(cam->Source(), &v)) != cdOK)
        return std::nullopt;
    panel::SelectByCode(tv ? form_.tv : form_.exposureComp, v);
    return v;
}

void CameraSettingsPanel::OnFlashCompChanged()
{
    const auto code = panel::SelectedCode(form_.flashComp);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    CameraLibrary& lib = cam->Library();
    if (lib.CDLockUI(cam->Source()) == cdOK) {
        WriteSetting(*cam, panel::setting::kFlashComp, *code);
        ReadBackInto(*cam, panel::setting::kFlashComp, form_.flashComp);
        lib.CDUnlockUI(cam->Source());
    } else {
        ReadBackInto(*cam, panel::setting::kFlashComp, form_.flashComp);
    }
}

void CameraSettingsPanel::ApplySizeQuality()
{
    const auto code = panel::SelectedCode(form_.sizeQuality);
    if (code)
        RestoreSizeQuality(panel::QualityOf(*code), panel::SizeOf(*code));
}

void CameraSettingsPanel::RestoreSizeQuality(uint16_t quality, uint16_t size)
{
    CCamera* cam = ConnectedCamera();
    if (!cam)
        return;
    CameraLibrary& lib = cam->Library();
    lib.CDSetImageFormatAttribute(cam->Source(), quality, size);
    cam->SetImageQuality(quality, storeImage_());
    uint16_t q = 0, s = 0;
    if (lib.CDGetImageFormatAttribute(cam->Source(), &q, &s) == cdOK)
        panel::SelectByCode(form_.sizeQuality, panel::SizeQualityCode(q, s));
}

void CameraSettingsPanel::OnWhiteBalanceChanged()
{
    const auto code = panel::SelectedCode(form_.whiteBalance);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    cam->Library().CDSetWBSetting(cam->Source(), static_cast<uint16_t>(*code));
    uint16_t v = 0;
    if (cam->Library().CDGetWBSetting(cam->Source(), &v) == cdOK) {
        panel::SelectByCode(form_.whiteBalance, v);
        form_.colourTemp->setEnabled(v == panel::kKelvinWhiteBalance);
    }
}

void CameraSettingsPanel::OnColourTempEdited()
{
    CCamera* cam = ConnectedCamera();
    if (!cam)
        return;
    const uint16_t kelvin = panel::ColourTemperatureFromText(form_.colourTemp->text().toStdString());
    WriteSetting(*cam, panel::setting::kColourTemp, kelvin);
    uint32_t v = 0;
    if (ReadSetting(*cam, panel::setting::kColourTemp, v))
        form_.colourTemp->setText(QString::number(v));
}

void CameraSettingsPanel::OnMeteringChanged()
{
    const auto code = panel::SelectedCode(form_.metering);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    WriteSetting(*cam, panel::setting::kMetering, *code);
    ReadBackInto(*cam, panel::setting::kMetering, form_.metering);
}

void CameraSettingsPanel::OnDriveChanged()
{
    const auto code = panel::SelectedCode(form_.drive);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    cam->Library().CDSetDriveMode(cam->Source(), static_cast<uint16_t>(*code));
    uint16_t v = 0;
    if (cam->Library().CDGetDriveMode(cam->Source(), &v) == cdOK)
        panel::SelectByCode(form_.drive, v);
}

void CameraSettingsPanel::OnIsoChanged()
{
    const auto code = panel::SelectedCode(form_.iso);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    WriteSetting(*cam, panel::setting::kIso, *code);
    ReadBackInto(*cam, panel::setting::kIso, form_.iso);
}

void CameraSettingsPanel::OnAfModeChanged()
{
    const auto code = panel::SelectedCode(form_.afMode);
    CCamera* cam = ConnectedCamera();
    if (!code || !cam)
        return;
    WriteSetting(*cam, panel::setting::kAfMode, *code);
    ReadBackInto(*cam, panel::setting::kAfMode, form_.afMode);
}

void CameraSettingsPanel::WriteFocusPoint(uint16_t code)
{
    CCamera* cam = ConnectedCamera();
    if (!cam)
        return;
    WriteSetting(*cam, panel::setting::kAfPoint, panel::FocusPointWriteValue(code, CurrentModel()));
    ShowFocusPointSelection();
}

void CameraSettingsPanel::OnFocusPointClicked(int id)
{
    const uint16_t code = panel::FocusPointCode(id);
    if (code == 0)
        return;
    if (!ConnectedCamera()) {
        for (QPushButton* b : form_.focusPoints)
            if (b != form_.FocusPoint(id))
                b->setChecked(false);
        return;
    }
    WriteFocusPoint(code);
}

void CameraSettingsPanel::OnSelectAllClicked()
{
    if (!ConnectedCamera()) {
        for (QPushButton* b : form_.focusPoints)
            b->setChecked(false);
        return;
    }
    WriteFocusPoint(panel::kSelectAllCode);
}
