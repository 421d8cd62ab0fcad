// The data-less events by which a worker asks its command's thread to act; what they are about
// travels through the run's shared state (DosRun.h).
#pragma once

#include <QEvent>
#include <QObject>

// The event types, registered with Qt once.
QEvent::Type ApplyLinesEvent();
QEvent::Type ArmWatchdogEvent();
QEvent::Type DisarmWatchdogEvent();

// Posts a data-less event of `type` to `receiver`; pair with AcceptEvent in the handler.
void PostEvent(QObject* receiver, QEvent::Type type);
// Makes the event's making visible to ThreadSanitizer on the receiving thread.
void AcceptEvent(QEvent* event);
