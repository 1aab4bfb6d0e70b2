// QtNotificationSink: turns the camera link's notifications into Qt events on the UI
// thread. Post is called on any thread and never blocks; each notification becomes one
// NotificationEvent posted to the receiving object, so notifications are handled in the
// order they were posted, on the receiver's thread. Events still queued when the receiver
// is deleted are destroyed by Qt with the payloads they own. The receiver must outlive
// every poster: the view deletes its camera (which joins the camera's threads) before it
// goes away.
#pragma once

#include "camera/Notifications.h"

#include <QEvent>
#include <QObject>

class NotificationEvent : public QEvent {
public:
    static QEvent::Type EventType();
    explicit NotificationEvent(Notification n) : QEvent(EventType()), notification(std::move(n)) {}
    Notification notification;
};

class QtNotificationSink : public NotificationSink {
public:
    explicit QtNotificationSink(QObject* receiver) : receiver_(receiver) {}
    void Post(Notification n) override;

private:
    QObject* const receiver_;
};
