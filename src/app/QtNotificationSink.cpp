#include "app/QtNotificationSink.h"

#include <QCoreApplication>

QEvent::Type NotificationEvent::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void QtNotificationSink::Post(Notification n)
{
    // postEvent is thread-safe and takes ownership of the event.
    if (receiver_)
        QCoreApplication::postEvent(receiver_, new NotificationEvent(std::move(n)));
}
