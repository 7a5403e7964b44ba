#pragma once

#include <QObject>

// The system events the store and the sync react to. Each Linux source is optional: without a
// system bus, say, the others keep working. Tests emit the signals themselves.
class SystemEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void dayChanged();
    void clockChanged();
    void timeZoneChanged();
    void didWake();
};
