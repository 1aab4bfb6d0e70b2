#include "app/CMainFrame.h"

#include "app/DesktopIntegration.h"
#include "app/ElidedLabel.h"

#include "mainview/ControlIds.h"
#include "settings/RegistryStore.h"
#include "settings/Settings.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <algorithm>

using namespace ids;

CMainFrame::CMainFrame(std::string settingsFile, QWidget* parent)
    : QMainWindow(parent), settingsFile_(std::move(settingsFile))
{
    pane0_ = new ElidedLabel(this);
    pane0_->setObjectName("statusPane0");
    statusBar()->addWidget(pane0_, 1);
    setWindowTitle("Tethrocam - Not connected");
    BuildMenus();
    resize(980, 700);  // until the first show chooses a size that fits; a stored placement wins
    RestorePlacement();
}

QAction* CMainFrame::Add(QMenu* menu, const QString& text, int command, const QKeySequence& key, bool checkable)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::number(command));
    if (!key.isEmpty()) {
        a->setShortcut(key);
        a->setShortcutContext(Qt::ApplicationShortcut);
    }
    a->setCheckable(checkable);
    connect(a, &QAction::triggered, this, [this, command] { Command(command); });
    actions_[command] = a;
    return a;
}

void CMainFrame::BuildMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    Add(file, "&Preferences...", ID_PREFERENCES);
    Add(file, "Setup Image &Editor...", ID_EDITOR_SETUP);
    Add(file, "&Delete Image", ID_DELETE_IMAGE, QKeySequence(Qt::Key_Delete));
    Add(file, "Save &Unsaved Pictures...", ID_SAVE_UNSAVED)->setEnabled(false);
    file->addSeparator();
    Add(file, "E&xit", ID_APP_EXIT);

    QMenu* camera = menuBar()->addMenu("&Camera");
    Add(camera, "Connect to Camera", ID_CONNECT, QKeySequence(Qt::Key_F2));
    Add(camera, "&Refresh", ID_REFRESH, QKeySequence(Qt::Key_F5));
    Add(camera, "Re&lease", IDC_RELEASE, QKeySequence(Qt::Key_F8));
    Add(camera, "&Preview", IDC_PREVIEW, QKeySequence(Qt::Key_F9));
    Add(camera, "&Time Lapse...", ID_TIME_LAPSE);
    Add(camera, "Bracket / Focus &Stack...", ID_SEQUENCE);
    // Live view's focus commands; they act while live view runs (the view enables them).
    QMenu* focus = camera->addMenu("&Focus");
    Add(focus, "&Autofocus", ID_AUTOFOCUS, QKeySequence(Qt::Key_F4));
    focus->addSeparator();
    Add(focus, "Nearer, large step", ID_FOCUS_NEAR_3, QKeySequence(Qt::SHIFT | Qt::Key_PageDown));
    Add(focus, "&Nearer", ID_FOCUS_NEAR_2, QKeySequence(Qt::Key_PageDown));
    Add(focus, "Nearer, fine step", ID_FOCUS_NEAR_1, QKeySequence(Qt::CTRL | Qt::Key_PageDown));
    Add(focus, "Farther, fine step", ID_FOCUS_FAR_1, QKeySequence(Qt::CTRL | Qt::Key_PageUp));
    Add(focus, "&Farther", ID_FOCUS_FAR_2, QKeySequence(Qt::Key_PageUp));
    Add(focus, "Farther, large step", ID_FOCUS_FAR_3, QKeySequence(Qt::SHIFT | Qt::Key_PageUp));
    // Page Up and Down act in the main window only: the 1:1 preview scrolls with them.
    for (int id : {ID_FOCUS_NEAR_3, ID_FOCUS_NEAR_2, ID_FOCUS_NEAR_1, ID_FOCUS_FAR_1, ID_FOCUS_FAR_2, ID_FOCUS_FAR_3})
        Action(id)->setShortcutContext(Qt::WindowShortcut);
    camera->addSeparator();
    Add(camera, "Save to PC only", ID_SAVE_PC_ONLY, {}, true);
    Add(camera, "Save to Camera only", ID_SAVE_CAMERA_ONLY, {}, true);
    Add(camera, "Save to Camera && PC", ID_SAVE_CAMERA_AND_PC, {}, true);
    camera->addSeparator();
    Add(camera, "&Blank screen when taking photo", ID_BLANK_SCREEN, {}, true);
    camera->addSeparator();
    Add(camera, "&Register for camera events", ID_REGISTER_EVENTS)
        ->setStatusTip("Register for camera events when camera is connected to USB");
    Add(camera, "&Unregister for camera events", ID_UNREGISTER_EVENTS)
        ->setStatusTip("Unregister for camera events when camera is connected to USB");

    QMenu* view = menuBar()->addMenu("&View");
    Add(view, "Display &Grid", ID_DISPLAY_GRID, QKeySequence("Ctrl+G"), true);
    Add(view, "&Focus Points", ID_FOCUS_POINTS, QKeySequence("Ctrl+F"), true);
    Add(view, "Flashing &Highlights", ID_HIGHLIGHTS, QKeySequence("Ctrl+H"), true);
    Add(view, "B&&W mode", ID_BLACK_AND_WHITE, QKeySequence("Ctrl+W"), true);
    view->addSeparator();
    Add(view, "Landscape", ID_ORIENT_LANDSCAPE, {}, true);
    Add(view, "Portrait (90 degrees CCW)", ID_ORIENT_PORTRAIT_CCW, {}, true);
    Add(view, "Portrait (90 degrees CW)", ID_ORIENT_PORTRAIT_CW, {}, true);
    Add(view, "Inverted", ID_ORIENT_INVERTED, {}, true);
    Add(view, "Use Orientation Sensor", ID_ORIENT_SENSOR, {}, true);
    view->addSeparator();
    Add(view, "Grid &Settings...", ID_GRID_SETTINGS);
    Add(view, "Highlight S&ettings...", ID_HIGHLIGHT_SETTINGS);
    view->addSeparator();
    Add(view, "&Full Screen", ID_FULL_SCREEN, QKeySequence(Qt::Key_F11));
    Add(view, "&View Image", ID_VIEW_IMAGE, QKeySequence(Qt::Key_F7));
    Add(view, "&Edit Image", ID_EDIT_IMAGE, QKeySequence("Ctrl+E"));
    view->addSeparator();
    Add(view, "&Live View", ID_LIVE_VIEW, QKeySequence(Qt::Key_F6), true);
    Add(view, "Focus &Peaking", ID_FOCUS_PEAKING, {}, true);
    Add(view, "Peaking &Colour...", ID_PEAKING_COLOUR);

    QMenu* help = menuBar()->addMenu("&Help");
    Add(help, "Contents...", ID_HELP_CONTENTS, QKeySequence(Qt::Key_F1));
    help->addSeparator();
    Add(help, "&About Tethrocam...", ID_APP_ABOUT);
}

void CMainFrame::Command(int command)
{
    if (command == ID_APP_ABOUT) {
        ShowAbout();
        return;
    }
    if (command == ID_APP_EXIT) {
        close();
        return;
    }
    if (onCommand_)
        onCommand_(command);
}

QAction* CMainFrame::Action(int command) const
{
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::SetChecked(int command, bool checked)
{
    if (QAction* a = Action(command))
        a->setChecked(checked);
}

void CMainFrame::SetActionText(int command, const QString& text)
{
    if (QAction* a = Action(command))
        a->setText(text);
}

void CMainFrame::SetStatusText(int pane, const QString& text)
{
    if (pane == 0) {
        pane0_->SetText(text);
    } else if (pane == 1) {
        if (!pane1_) {
            pane1_ = new QLabel(this);
            pane1_->setObjectName("statusPane1");
            statusBar()->addPermanentWidget(pane1_);
        }
        pane1_->setText(text);
        pane1_->setVisible(!text.isEmpty());
    }
}

QString CMainFrame::StatusText(int pane) const
{
    if (pane == 1)
        return pane1_ ? pane1_->text() : QString();
    return pane == 0 ? pane0_->Text() : QString();
}

void CMainFrame::SetMinimiseHooks(std::function<void()> onMinimise, std::function<void()> onRestore)
{
    onMinimise_ = std::move(onMinimise);
    onRestore_ = std::move(onRestore);
}

void CMainFrame::RestorePlacement()
{
    RegistryStore store(settingsFile_);
    StoredWindowPlacement p;
    if (!LoadWindowPlacement(p, store))
        return;
    QRect r = geometry();
    if (p.left)
        r.moveLeft(*p.left);
    if (p.top)
        r.moveTop(*p.top);
    if (p.right && *p.right > r.x())
        r.setWidth(*p.right - r.x());
    if (p.bottom && *p.bottom > r.y())
        r.setHeight(*p.bottom - r.y());
    if (p.left || p.top || p.right || p.bottom) {
        setGeometry(r);
        placementRestored_ = true;
    }
    startMaximised_ = p.zoomed.value_or(false);
}

void CMainFrame::SavePlacement()
{
    const QRect r = normalGeometry();
    WindowPlacement p;
    p.left = r.x();
    p.top = r.y();
    p.right = r.x() + r.width();
    p.bottom = r.y() + r.height();
    p.zoomed = isMaximized();
    RegistryStore store(settingsFile_);
    SaveWindowPlacement(p, store);
}

QSize CMainFrame::FirstSize(QSize wanted, const QRect& available)
{
    // The window manager adds a title bar and borders around the window.
    constexpr int kFrameWidth = 16, kFrameHeight = 48;
    return {std::max(1, std::min(wanted.width(), available.width() - kFrameWidth)),
            std::max(1, std::min(wanted.height(), available.height() - kFrameHeight))};
}

void CMainFrame::showEvent(QShowEvent* e)
{
    if (!firstShowDone_) {
        firstShowDone_ = true;
        if (!placementRestored_ && !e->spontaneous()) {
            // The first start: the size that shows the whole panel with room for a picture,
            // on the screen the window opens on, placed inside that screen.
            if (QScreen* s = screen()) {
                const QRect available = s->availableGeometry();
                const QSize size = FirstSize(sizeHint(), available);
                resize(size);
                move(available.left() + std::max(0, (available.width() - size.width()) / 2),
                     available.top() + std::max(0, (available.height() - size.height()) / 2));
            }
        }
    }
    QMainWindow::showEvent(e);
    if (startMaximised_) {
        startMaximised_ = false;
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

void CMainFrame::closeEvent(QCloseEvent* e)
{
    if (closeGuard_ && !closeGuard_()) {
        e->ignore();
        return;
    }
    SavePlacement();
    QMainWindow::closeEvent(e);
}

void CMainFrame::changeEvent(QEvent* e)
{
    QMainWindow::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange)
        return;
    auto* change = static_cast<QWindowStateChangeEvent*>(e);
    const bool wasMinimised = change->oldState() & Qt::WindowMinimized;
    const bool isMinimised = windowState() & Qt::WindowMinimized;
    if (isMinimised && !wasMinimised && onMinimise_)
        onMinimise_();
    else if (!isMinimised && wasMinimised && onRestore_)
        onRestore_();
}

QString CMainFrame::AboutText()
{
    return "Tethrocam Version 1.1";
}

void CMainFrame::ShowAbout()
{
    QDialog dialog(this);
    dialog.setObjectName("aboutBox");
    dialog.setWindowTitle("About Tethrocam");
    auto* layout = new QVBoxLayout(&dialog);
    auto* icon = new QLabel(&dialog);
    icon->setObjectName("aboutIcon");
    icon->setPixmap(desktop::ApplicationIcon().pixmap(48, 48));
    layout->addWidget(icon);
    auto* version = new QLabel(AboutText(), &dialog);
    version->setObjectName("aboutVersion");
    layout->addWidget(version);
    auto* link = new QLabel("<a href=\"https://www.larkspurworks.com/\" style=\"color:#0000ff\">www.larkspurworks.com</a>",
                            &dialog);
    link->setTextFormat(Qt::RichText);
    link->setCursor(Qt::PointingHandCursor);
    connect(link, &QLabel::linkActivated, [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
    layout->addWidget(link);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    // The window manager draws the title, often in bold, beside the window's icon and its
    // buttons: the box is made wide enough for all of them, never cut to "About T...hrocam".
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const QFontMetrics title(titleFont);
    dialog.setMinimumWidth(std::max(dialog.sizeHint().width(),
                                    title.horizontalAdvance(dialog.windowTitle()) + 10 * title.height()));
    dialog.exec();
}
