#pragma once

#include <QObject>
#include <QPoint>
#include <optional>

// The desktop's keeper of tray icons. The toolkit decides once per process whether there is one,
// so the tray icon is made only after watch() has decided.
class SystemTray : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Waits until a tray host exists or `patienceMs` pass, then emits decided() once.
    virtual void watch(int patienceMs) = 0;
    // Starts hearing where a host wants an activated icon's popup; once, before the icon is made.
    virtual void listenForActivation() = 0;
    // The point of the activation being delivered now, taken once; nothing when the host gave none.
    virtual std::optional<QPoint> takeActivation() = 0;

signals:
    void decided(bool hostSeen);
};
