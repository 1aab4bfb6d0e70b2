#include "mainview/FormControls.h"

#include "mainview/ControlIds.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using namespace ids;

namespace {

template <typename W>
W* Named(W* w, int id)
{
    w->setObjectName(QString::number(id));
    return w;
}

}  // namespace

QPushButton* FormControls::FocusPoint(int id) const
{
    if (id < IDC_FP_TOP || id > IDC_FP_FAR_RIGHT)
        return nullptr;
    return focusPoints[static_cast<size_t>(id - IDC_FP_TOP)];
}

QWidget* FormControls::Control(int id) const
{
    return panel ? panel->findChild<QWidget*>(QString::number(id)) : nullptr;
}

FormControls BuildForm(QWidget* parent)
{
    FormControls f;
    f.panel = new QWidget(parent);
    f.panel->setObjectName("panel");
    auto* column = new QVBoxLayout(f.panel);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(4);

    auto* shoot = new QHBoxLayout;
    f.release = Named(new QPushButton("Release", f.panel), IDC_RELEASE);
    f.preview = Named(new QPushButton("Preview", f.panel), IDC_PREVIEW);
    f.release->setToolTip("Take a picture (F8)");
    f.preview->setToolTip("Take a small preview picture (F9)");
    shoot->addWidget(f.release);
    shoot->addWidget(f.preview);
    column->addLayout(shoot);

    f.modeLine = Named(new QLabel(f.panel), IDC_MODE_LINE);
    column->addWidget(f.modeLine);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    int row = 0;
    auto addCombo = [&](const char* label, int id) {
        auto* combo = Named(new QComboBox(f.panel), id);
        combo->setMinimumContentsLength(10);
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        grid->addWidget(new QLabel(label, f.panel), row, 0);
        grid->addWidget(combo, row, 1);
        ++row;
        return combo;
    };
    f.tv = addCombo("Tv:", IDC_TV);
    f.av = addCombo("Av:", IDC_AV);
    f.iso = addCombo("ISO:", IDC_ISO);
    f.exposureComp = addCombo("Exposure compensation:", IDC_EXPOSURE_COMP);
    f.flashComp = addCombo("Flash compensation:", IDC_FLASH_COMP);
    f.sizeQuality = addCombo("Size/Quality:", IDC_SIZE_QUALITY);
    f.whiteBalance = addCombo("White balance:", IDC_WHITE_BALANCE);
    f.colourTemp = Named(new QLineEdit(f.panel), IDC_COLOUR_TEMP);
    f.colourTemp->setMaxLength(6);
    grid->addWidget(new QLabel("Color Temperature:", f.panel), row, 0);
    grid->addWidget(f.colourTemp, row, 1);
    ++row;
    f.metering = addCombo("Metering Mode:", IDC_METERING);
    f.drive = addCombo("Drive mode:", IDC_DRIVE);
    f.afMode = addCombo("AF Mode:", IDC_AF_MODE);
    column->addLayout(grid);

    // Focus points in the pattern of the viewfinder.
    f.focusGroup = new QGroupBox("Focus Points", f.panel);
    auto* fp = new QGridLayout(f.focusGroup);
    fp->setSpacing(2);
    auto point = [&](int id, int r, int c) {
        auto* b = Named(new QPushButton(f.focusGroup), id);
        b->setCheckable(true);
        b->setFixedSize(22, 18);
        // A selected point is lit like an AF point in the viewfinder.
        b->setStyleSheet("QPushButton { border: 1px solid #444; background: #f4f4f4; }"
                         "QPushButton:checked { background: #d22; }"
                         "QPushButton:disabled { border-color: #aaa; background: #e8e8e8; }"
                         "QPushButton:checked:disabled { background: #c99; }");
        fp->addWidget(b, r, c, Qt::AlignCenter);
        f.focusPoints[static_cast<size_t>(id - IDC_FP_TOP)] = b;
    };
    point(IDC_FP_TOP, 0, 2);
    point(IDC_FP_FAR_LEFT, 1, 0);
    point(IDC_FP_LEFT, 1, 1);
    point(IDC_FP_CENTRE, 1, 2);
    point(IDC_FP_RIGHT, 1, 3);
    point(IDC_FP_FAR_RIGHT, 1, 4);
    point(IDC_FP_BOTTOM, 2, 2);
    f.selectAll = Named(new QPushButton("Select All", f.focusGroup), IDC_FP_SELECT_ALL);
    fp->addWidget(f.selectAll, 3, 0, 1, 5, Qt::AlignCenter);
    column->addWidget(f.focusGroup);

    f.lensLine = Named(new QLabel("Lens:", f.panel), IDC_LENS_LINE);
    f.parameterSetLine = Named(new QLabel(f.panel), IDC_PARAMETER_SET);
    f.shutterButtonLine = Named(new QLabel(f.panel), IDC_SHUTTER_BUTTON_LINE);
    f.aeLockLine = Named(new QLabel(f.panel), IDC_AE_LOCK_LINE);
    f.mirrorLockupLine = Named(new QLabel(f.panel), IDC_MIRROR_LOCKUP_LINE);
    for (QLabel* l : {f.lensLine, f.parameterSetLine, f.shutterButtonLine, f.aeLockLine, f.mirrorLockupLine}) {
        l->setMinimumHeight(l->fontMetrics().height() + 2);
        // A line the progress bar stands in for keeps its room while hidden: nothing moves.
        QSizePolicy policy = l->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        l->setSizePolicy(policy);
        column->addWidget(l);
    }
    // The progress bar takes the place of the lens line (or the AE lock line); the settings
    // panel places it.
    f.progress = Named(new QProgressBar(f.panel), IDC_PROGRESS);
    f.progress->setRange(0, 100);
    f.progress->setTextVisible(false);
    f.progress->hide();

    auto* commentRow = new QHBoxLayout;
    commentRow->addWidget(new QLabel("Comment:", f.panel));
    f.comment = Named(new QLineEdit(f.panel), IDC_COMMENT);
    f.comment->setMaxLength(255);
    commentRow->addWidget(f.comment);
    column->addLayout(commentRow);

    f.displayOverlay = Named(new QCheckBox("Display overlay", f.panel), IDC_DISPLAY_OVERLAY);
    column->addWidget(f.displayOverlay);

    f.histogramSlot = new QVBoxLayout;
    f.histogramSlot->setSpacing(2);
    column->addLayout(f.histogramSlot);
    f.rgbReadout = Named(new QLabel("RGB:", f.panel), IDC_RGB_READOUT);
    f.histogramSlot->addWidget(f.rgbReadout);

    auto* browse = new QHBoxLayout;
    f.previous = Named(new QPushButton("<- Prev Image", f.panel), IDC_PREVIOUS);
    f.next = Named(new QPushButton("Next Image ->", f.panel), IDC_NEXT);
    f.previous->setToolTip("Previous picture (Left)");
    f.next->setToolTip("Next picture (Right)");
    browse->addWidget(f.previous);
    browse->addWidget(f.next);
    column->addLayout(browse);
    column->addStretch(1);
    return f;
}
