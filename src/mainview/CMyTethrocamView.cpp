#include "mainview/CMyTethrocamView.h"

#include "app/CMainFrame.h"
#include "camera/CameraStartup.h"

#include <QCoreApplication>

CMyTethrocamView::CMyTethrocamView(cdsdk::CameraLibrary& library, CMainFrame* frame, QWidget* parent)
    : QWidget(parent), library_(library), frame_(frame), sink_(this)
{
    StartCameraLibrary(library_);
}

CMyTethrocamView::~CMyTethrocamView()
{
    camera_.reset();
    library_.CDFinishSDK();
}

SaveSnapshot CMyTethrocamView::TakeSaveSnapshot()
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return snapshot_;
}

void CMyTethrocamView::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!shownOnce_) {
        shownOnce_ = true;
        Notification n;
        n.message = WM_AUTO_CONNECT;
        sink_.Post(std::move(n));
    }
}

bool CMyTethrocamView::event(QEvent* e)
{
    if (e->type() == NotificationEvent::EventType()) {
        WindowProc(static_cast<NotificationEvent*>(e)->notification);
        return true;
    }
    return QWidget::event(e);
}

void CMyTethrocamView::WindowProc(Notification& n)
{
    switch (n.message) {
    case WM_AUTO_CONNECT:
        ConnectCamera();
        break;
    case WM_CAMERA_SHUTDOWN:
        DisconnectCamera();
        break;
    default:
        break;
    }
}

void CMyTethrocamView::ConnectCamera()
{
    try {
        camera_ = std::make_unique<CCamera>(library_, this);
    } catch (int) {
        camera_.reset();
    }
    UpdateTitle();
}

void CMyTethrocamView::DisconnectCamera()
{
    camera_.reset();
    UpdateTitle();
}

void CMyTethrocamView::UpdateTitle()
{
    if (!frame_)
        return;
    if (camera_)
        frame_->setWindowTitle(QString::fromStdString("Tethrocam - Connected to " + camera_->GetModelName()));
    else
        frame_->setWindowTitle("Tethrocam - Not connected");
}
