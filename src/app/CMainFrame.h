// CMainFrame: the program's main window: title, menus (added by the view), the status bar
// whose pane 0 carries the program's messages, and the remembered placement.
// UI thread only; nothing here blocks.
#pragma once

#include <QMainWindow>
#include <QString>

class QLabel;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    // Puts the text into a pane of the status bar; the program's messages use pane 0.
    void SetStatusText(int pane, const QString& text);
    QString StatusText(int pane = 0) const;

private:
    QLabel* pane0_ = nullptr;
};
