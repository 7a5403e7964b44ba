#pragma once

#include "model/Calendar.h"
#include "platform/NotificationCenter.h"

#include <QDBusConnection>
#include <QHash>
#include <QMap>
#include <QTimer>
#include <functional>

class SystemEvents;

// Local notifications through org.freedesktop.Notifications on the session bus.
//
// The notification service only shows things now, so requests for a calendar minute are held
// here: kept in a file so they survive a restart, re-armed after clock, time-zone and wake
// events, and shown at the start of their minute. One missed while the computer slept or the
// application was not running is shown as soon as it can be.
class FreedesktopNotificationCenter : public NotificationCenter {
    Q_OBJECT
public:
    // Without a file the requests are held in memory until setPendingFile() names one.
    FreedesktopNotificationCenter(QDBusConnection bus, QString pendingFile, const Clock& clock,
                                  std::function<Calendar()> calendar, SystemEvents* events = nullptr,
                                  QObject* parent = nullptr);
    // Writes what is not yet in the file.
    ~FreedesktopNotificationCenter() override;

    // Where the requests are kept; the store's data folder is known only after the store has
    // started. Requests already held stay and join the file's; a request in both is the newer one.
    void setPendingFile(const QString& path);

    void removePendingRequests(const QStringList& identifiers) override;
    void requestAuthorization(std::function<void(bool granted)> done) override;
    void add(const NotificationRequest& request) override;
    void authorizationStatus(std::function<void(NotificationAuthorization)> done) override;

    QList<NotificationRequest> pendingRequests() const { return m_pending.values(); }

    // Shows what is due, sets the timer for the next one and writes what is not yet in the file.
    void rearm();

protected:
    // Virtual so that tests can count the bus checks and the file writes.
    // Whether the notification service is on the bus or can be started by it.
    virtual bool serviceAvailable() const;
    virtual void writePendingFile(const QString& path, const QByteArray& bytes);

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    void answerAuthorization();
    void settleLater();
    void deliver(const NotificationRequest& request);
    void send(const NotificationRequest& request);
    void load();
    void persist();
    void persistIfChanged();
    std::optional<Date> dueAt(const CalendarMinute& minute) const;

    QDBusConnection m_bus;
    QString m_file;
    bool m_fileUntouchable = false; // unreadable and not copied aside: never written over
    const Clock& m_clock;
    std::function<Calendar()> m_calendar;
    QMap<QString, NotificationRequest> m_pending;
    QHash<uint, QString> m_shown; // notification id on the server -> request identifier
    QTimer m_timer;
    std::optional<bool> m_bodyMarkup;
    bool m_askingCapabilities = false;
    QList<NotificationRequest> m_waiting; // until the server has said whether it reads markup
    // Changes since the file was last written, and whether a write and re-arm is already queued.
    bool m_unwritten = false;
    bool m_settleQueued = false;
    // Whoever asked whether notifications may be shown this turn, answered together.
    QList<std::function<void(bool available)>> m_askers;
};
