#include "console/CommandEvents.h"

#include <QCoreApplication>

#include "console/Tsan.h"

QEvent::Type ApplyLinesEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type ArmWatchdogEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QEvent::Type DisarmWatchdogEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostEvent(QObject* receiver, QEvent::Type type) {
    auto* event = new QEvent(type);
    QUINTARO_TSAN_RELEASE(event);
    QCoreApplication::postEvent(receiver, event);
}

void AcceptEvent(QEvent* event) {
    QUINTARO_TSAN_ACQUIRE(event);
    (void)event;
}
