// CMainFrame: the program's main window: the menus and accelerators (whose commands go to
// the view), the status bar whose pane 0 carries the program's messages (pane 1, at its
// right, the live view's frame rate while live view runs), the remembered
// placement (restored rectangle and maximised state, kept under the settings key), the
// About box, and the hooks that hide and re-show the floating preview window when the
// frame is minimised and restored. Without a stored placement, the first show sizes the
// window to show the whole panel and a picture area on the screen it opens on.
// UI thread only; nothing here blocks except the modal About box.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <map>
#include <string>

class QAction;
class ElidedLabel;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // `settingsFile`: the settings key's file (empty: the user's default).
    explicit CMainFrame(std::string settingsFile = {}, QWidget* parent = nullptr);

    // Puts the text into a pane of the status bar; the program's messages use pane 0.
    void SetStatusText(int pane, const QString& text);
    QString StatusText(int pane = 0) const;

    // Where menu commands go (the view's command handler).
    void SetCommandHandler(std::function<void(int)> handler) { onCommand_ = std::move(handler); }
    // The menu action of a command, or null.
    QAction* Action(int command) const;
    void SetChecked(int command, bool checked);
    void SetActionText(int command, const QString& text);
    // Runs a command as the menu would.
    void Command(int command);

    // Asked before the window closes (Alt+F4, File > Exit, the window manager): false keeps
    // it open (the view finishes a download first, or the user chose to stay).
    void SetCloseGuard(std::function<bool()> guard) { closeGuard_ = std::move(guard); }

    // Called when the frame is minimised (hide) and restored or maximised (show).
    void SetMinimiseHooks(std::function<void()> onMinimise, std::function<void()> onRestore);

    // Applies the stored placement (before the first show) and saves it (at close).
    void RestorePlacement();
    void SavePlacement();
    // True when a stored placement was applied (otherwise the first show chooses the size).
    bool PlacementRestored() const { return placementRestored_; }

    // The first size of a window that asks for `wanted` (menus, panel and picture area)
    // on a screen whose free area is `available`: all of `wanted` where the screen has room,
    // else as much as fits with room left for the window's frame and title.
    static QSize FirstSize(QSize wanted, const QRect& available);

    static QString AboutText();
    void ShowAbout();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void BuildMenus();
    QAction* Add(class QMenu* menu, const QString& text, int command, const QKeySequence& key = {},
                 bool checkable = false);

    std::string settingsFile_;
    ElidedLabel* pane0_ = nullptr;
    class QLabel* pane1_ = nullptr;
    std::map<int, QAction*> actions_;
    std::function<void(int)> onCommand_;
    std::function<void()> onMinimise_, onRestore_;
    std::function<bool()> closeGuard_;
    bool startMaximised_ = false;
    bool placementRestored_ = false;
    bool firstShowDone_ = false;
};
