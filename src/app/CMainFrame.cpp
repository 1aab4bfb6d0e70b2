#include "app/CMainFrame.h"

#include <QLabel>
#include <QStatusBar>

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent)
{
    pane0_ = new QLabel(this);
    pane0_->setObjectName("statusPane0");
    statusBar()->addWidget(pane0_, 1);
    setWindowTitle("Tethrocam - Not connected");
}

void CMainFrame::SetStatusText(int pane, const QString& text)
{
    if (pane == 0)
        pane0_->setText(text);
}

QString CMainFrame::StatusText(int pane) const
{
    return pane == 0 ? pane0_->text() : QString();
}
