#include "sync/RecordStoreConfig.h"

#include "platform/Defaults.h"
#include "sync/PostgresRecordStore.h"
#include "sync/SqliteRecordStore.h"

#include <QDir>
#include <libpq-fe.h>

namespace {

QString quoted(const QString& value)
{
    QString v = value;
    v.replace(QLatin1String("\\"), QLatin1String("\\\\")).replace(QLatin1String("'"), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

bool isLocalHost(const QString& host)
{
    if (host.isEmpty())
        return true;
    for (const QString& one : host.split(u',')) // libpq accepts a list of hosts
        if (!(one.startsWith(u'/') || one == QLatin1String("localhost") || one == QLatin1String("127.0.0.1") ||
              one == QLatin1String("::1")))
            return false;
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
    QString host;
    bool hasTimeout = false;
    bool hasSslMode = false;
    bool hasService = false;
    bool hasPassword = false;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (key == QLatin1String("password")) {
            hasPassword = !value.isEmpty();
            continue;
        }
        hasTimeout |= key == QLatin1String("connect_timeout");
        hasSslMode |= key == QLatin1String("sslmode");
        hasService |= key == QLatin1String("service");
        if (key == QLatin1String("host") || key == QLatin1String("hostaddr"))
            host += (host.isEmpty() ? QString() : QStringLiteral(",")) + value;
        parts.append(key + QLatin1Char('=') + quoted(value));
    }
    PQconninfoFree(options);
    if (hasPassword) {
        choice.error = QStringLiteral("The PostgreSQL setting holds a password; put it in ~/.pgpass or the service "
                                      "file instead.");
        return choice;
    }
    if (!hasTimeout)
        parts.append(QStringLiteral("connect_timeout='10'"));
    // A remote server is only trusted with a verified certificate, unless the setting says otherwise.
    if (!hasSslMode && !hasService && !isLocalHost(host))
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
