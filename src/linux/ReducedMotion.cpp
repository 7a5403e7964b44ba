#include "linux/ReducedMotion.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <memory>
#include <optional>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString group = QStringLiteral("org.gnome.desktop.interface");
const QString key = QStringLiteral("enable-animations");

// The portal wraps the value in one or two variants, depending on its version.
std::optional<bool> unwrap(QVariant value)
{
    for (int depth = 0; depth < 3; ++depth) {
        if (value.canConvert<QDBusVariant>())
            value = value.value<QDBusVariant>().variant();
        else if (value.canConvert<QDBusArgument>()) {
            QDBusVariant inner;
            value.value<QDBusArgument>() >> inner;
            value = inner.variant();
        } else
            break;
    }
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    return std::nullopt;
}

class Listener : public QObject {
    Q_OBJECT
public:
    Listener(QObject* owner, std::function<void(bool)> apply) : QObject(owner), m_apply(std::move(apply)) {}

public slots:
    void settingChanged(const QString& changedGroup, const QString& changedKey, const QDBusVariant& value)
    {
        if (changedGroup != group || changedKey != key)
            return;
        if (const auto enabled = unwrap(value.variant()))
            m_apply(!*enabled);
    }

public:
    std::function<void(bool)> m_apply;
};

} // namespace

namespace ReducedMotion {

void watch(QDBusConnection bus, QObject* owner, std::function<void(bool)> apply)
{
    if (!bus.isConnected())
        return;
    auto* listener = new Listener(owner, std::move(apply));
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), listener,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
    QDBusMessage read =
        QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
    read << group << key;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 2000), listener);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, listener, [listener](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return;
        if (const auto enabled = unwrap(reply.arguments().constFirst()))
            listener->m_apply(!*enabled);
    });
}

} // namespace ReducedMotion

#include "ReducedMotion.moc"
