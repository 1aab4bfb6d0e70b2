// CBlankDlg: the black cover shown from the shutter release until the picture starts to
// arrive, so that the computer's screen does not light the scene. A frameless window that
// stays on top of everything and covers the whole screen the main window is on; it paints
// nothing but black. A left click anywhere on it hides it at once; the main view still owns
// the object and deletes it at the first download progress, as it would have anyway.
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
