#include "windows/CBlankDlg.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

CBlankDlg::CBlankDlg(QWidget* mainWindow)
    : QWidget(QApplication::activeModalWidget(), Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("blankScreen");
    setAttribute(Qt::WA_OpaquePaintEvent);
    QScreen* screen = mainWindow ? mainWindow->window()->screen() : QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(screen->geometry());
}

void CBlankDlg::ShowCover()
{
    showFullScreen();
    raise();
}

void CBlankDlg::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    p.fillRect(e->rect(), Qt::black);
}

void CBlankDlg::mousePressEvent(QMouseEvent* e)
{
    // A left click ends the cover at once; the download goes on behind it.
    if (e->button() == Qt::LeftButton)
        hide();
    e->accept();
}
