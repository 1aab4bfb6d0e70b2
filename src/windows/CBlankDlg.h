// CBlankDlg: the black cover shown from the shutter release until the picture starts to
// arrive, so that the computer's screen does not light the scene. A frameless top-level
// window that stays on top and covers the whole screen the main window is on; it paints
// nothing but black and blocks nothing: it is not modal, so a box or a question of the
// program is never held up by it (the main view removes it before any box), and a left
// click anywhere on it hides it at once. The main view owns it, deletes it at the first
// download progress, and shows a cover that was clicked away again at the next shot.
//
// When a modal window of the program is open (full screen, the time-lapse dialog), the
// cover is made its child window, so that the click meant for the cover is not blocked
// by the modal window; it then goes when that window goes.
// UI thread only; nothing here blocks.
#pragma once

#include <QWidget>

class CBlankDlg : public QWidget {
    Q_OBJECT
public:
    // `mainWindow`: the window whose screen is covered (null: the primary screen).
    explicit CBlankDlg(QWidget* mainWindow);

    // Shows the cover over the whole screen, on top of every other window.
    void ShowCover();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
};
