// CMyTethrocamView: the main form view, the program's control centre. It starts the camera
// library, connects as soon as it is shown, owns the one CCamera, and turns the camera
// link's notifications (Qt events posted by QtNotificationSink) into what the user sees.
// UI thread only, except TakeSaveSnapshot, which the release thread calls: it returns a
// copy made under a lock and never blocks for long.
#pragma once

#include "app/QtNotificationSink.h"
#include "camera/CCamera.h"

#include <QWidget>

#include <memory>
#include <mutex>

class CMainFrame;

class CMyTethrocamView : public QWidget, public CameraOwner {
    Q_OBJECT
public:
    CMyTethrocamView(cdsdk::CameraLibrary& library, CMainFrame* frame, QWidget* parent = nullptr);
    ~CMyTethrocamView() override;

    void ConnectCamera();
    void DisconnectCamera();
    CCamera* Camera() const { return camera_.get(); }

    // CameraOwner
    void Post(Notification n) override { sink_.Post(std::move(n)); }
    SaveSnapshot TakeSaveSnapshot() override;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void WindowProc(Notification& n);
    void UpdateTitle();

    cdsdk::CameraLibrary& library_;
    CMainFrame* frame_;
    QtNotificationSink sink_;
    std::unique_ptr<CCamera> camera_;
    bool shownOnce_ = false;
    std::mutex snapshotMutex_;
    SaveSnapshot snapshot_;
};
