#include "sync/RecordStoreConfig.h"

#include "files/Defaults.h"
#include "sync/PostgresRecordStore.h"
#include "sync/SqliteRecordStore.h"

#include <QDir>
#include <QHash>
#include <algorithm>
#include <libpq-fe.h>

namespace {

QString quoted(const QString& value)
{
    QString v = value;
    v.replace(QLatin1String("\\"), QLatin1String("\\\\")).replace(QLatin1String("'"), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

bool isLoopback(const QString& host)
{
    return host.startsWith(u'/') || host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1");
}

// Where libpq will really connect: the setting completed by the service file and the PG*
// environment variables, which only libpq reads the way libpq does. An invalid channel_binding
// makes it stop after filling them in, before it resolves or connects anything.
struct Effective {
    QHash<QString, QString> values;
    QString error;
};

Effective effectiveOptions(const QString& conninfo)
{
    Effective out;
    const QByteArray probe = (conninfo + QStringLiteral(" channel_binding='qh-probe'")).toUtf8();
    PGconn* conn = PQconnectStart(probe.constData());
    if (!conn) {
        out.error = QStringLiteral("out of memory");
        return out;
    }
    if (PQconninfoOption* options = PQconninfo(conn)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (o->val)
                out.values.insert(QString::fromUtf8(o->keyword), QString::fromUtf8(o->val));
        PQconninfoFree(options);
    }
    const QString message = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    PQfinish(conn);
    // Anything but our own probe failing (say, an unknown service) is the setting's fault.
    if (!message.contains(QLatin1String("qh-probe")))
        out.error = message;
    return out;
}

// Local when every host libpq may try is this computer: a socket folder or a loopback address.
bool isLocal(const QHash<QString, QString>& options)
{
    const QStringList hosts = options.value(QStringLiteral("host")).split(u',');
    const QStringList addresses = options.value(QStringLiteral("hostaddr")).split(u',');
    for (qsizetype i = 0; i < std::max(hosts.size(), addresses.size()); ++i) {
        const QString host = hosts.value(hosts.size() == 1 ? 0 : i).trimmed();
        const QString address = addresses.value(addresses.size() == 1 ? 0 : i).trimmed();
        // With a name, verify-full checks the name, so the name decides; an address alone decides otherwise.
        if (!host.isEmpty() ? !isLoopback(host) : !address.isEmpty() && !isLoopback(address))
            return false;
    }
    return true;
}

} // namespace

RecordStoreChoice RecordStoreChoice::parse(const QString& text, const QString& defaultSqlitePath)
{
    RecordStoreChoice choice;
    const QString trimmed = text.trimmed();
    const bool libpq = trimmed.startsWith(QLatin1String("postgresql://")) ||
                       trimmed.startsWith(QLatin1String("postgres://")) ||
                       trimmed.startsWith(QLatin1String("service="));
    if (!libpq) {
        if (!trimmed.isEmpty() && !QDir::isAbsolutePath(trimmed)) {
            choice.error = QStringLiteral("The record store setting must be an absolute file path, a postgresql:// "
                                          "address or service=name.");
            return choice;
        }
        choice.kind = Kind::sqlite;
        choice.location = trimmed.isEmpty() ? defaultSqlitePath : QDir::cleanPath(trimmed);
        return choice;
    }

    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(trimmed.toUtf8().constData(), &parseError);
    if (!options) {
        // libpq's message may quote the text, and so a password: say only that it did not parse.
        PQfreemem(parseError);
        choice.error = QStringLiteral("The PostgreSQL connection setting cannot be read.");
        return choice;
    }
    QStringList parts;
    bool hasSslMode = false;
    bool hasSecret = false;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (key == QLatin1String("password") || key == QLatin1String("sslpassword")) {
            hasSecret |= !value.isEmpty();
            continue;
        }
        hasSslMode |= key == QLatin1String("sslmode");
        parts.append(key + QLatin1Char('=') + quoted(value));
    }
    PQconninfoFree(options);
    if (hasSecret) {
        choice.error = QStringLiteral("The PostgreSQL setting holds a password; put it in ~/.pgpass or the service "
                                      "file instead.");
        return choice;
    }
    const Effective effective = effectiveOptions(parts.join(u' '));
    if (!effective.error.isEmpty()) {
        choice.error = QStringLiteral("The PostgreSQL connection setting cannot be used: ") + effective.error;
        return choice;
    }
    if (!effective.values.contains(QStringLiteral("connect_timeout")))
        parts.append(QStringLiteral("connect_timeout='10'"));
    // A remote server is only trusted with a verified certificate, unless the setting, its service
    // or PGSSLMODE chose a mode ("prefer" is libpq's own default, so it counts as no choice).
    const QString mode = effective.values.value(QStringLiteral("sslmode"));
    const bool modeChosen = hasSslMode || (!mode.isEmpty() && mode != QLatin1String("prefer"));
    if (!modeChosen && !isLocal(effective.values))
        parts.append(QStringLiteral("sslmode='verify-full'"));
    choice.kind = Kind::postgresql;
    choice.location = parts.join(u' ');
    return choice;
}

RecordStoreChoice RecordStoreChoice::fromSettings(const Defaults& defaults)
{
    QString text = qEnvironmentVariable("QUILLHARBOUR_RECORD_STORE");
    if (text.trimmed().isEmpty())
        text = defaults.string(preferenceKey).value_or(QString());
    return parse(text, SqliteRecordStore::defaultPath());
}

std::unique_ptr<RecordStore> openRecordStore(const RecordStoreChoice& choice, QString* error)
{
    switch (choice.kind) {
    case RecordStoreChoice::Kind::sqlite:
        return std::make_unique<SqliteRecordStore>(choice.location);
    case RecordStoreChoice::Kind::postgresql:
        return std::make_unique<PostgresRecordStore>(choice.location);
    case RecordStoreChoice::Kind::invalid:
        break;
    }
    if (error)
        *error = choice.error;
    return nullptr;
}
