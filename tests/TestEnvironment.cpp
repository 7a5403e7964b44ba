#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <cstdlib>
#include <unistd.h>

namespace {

QTemporaryDir& home()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/qh-test-XXXXXX"));
    return dir;
}

void setUp()
{
    const QString root = home().path();
    const auto make = [&root](const char* sub) {
        const QString path = root + QLatin1Char('/') + QLatin1String(sub);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path.toLocal8Bit();
    };
    qputenv("HOME", root.toLocal8Bit());
    qputenv("XDG_DATA_HOME", make("data"));
    qputenv("XDG_CONFIG_HOME", make("config"));
    qputenv("XDG_CACHE_HOME", make("cache"));
    qputenv("XDG_STATE_HOME", make("state"));
    qputenv("XDG_RUNTIME_DIR", make("runtime"));
    // What the test and the programs it starts leave in the temporary folder goes with the test's
    // own folder: a browser that is stopped, say, leaves its singleton's folder there.
    qputenv("TMPDIR", make("tmp"));
    qunsetenv("QUILLHARBOUR_DATA_DIR");
    // The browsers of this user that the test did not start (a person's, another test's) are
    // not the test's to steer, nor to be steered by it, whatever their home or profile folder.
    // A program the test starts (which inherits this) counts those the test started.
    if (qEnvironmentVariableIsEmpty("QUILLHARBOUR_BROWSERS_STARTED_UNDER"))
        qputenv("QUILLHARBOUR_BROWSERS_STARTED_UNDER", QByteArray::number(::getpid()));
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", "America/New_York");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(setUp)

namespace TestEnvironment {

QString homePath()
{
    return home().path();
}

Calendar calendar(const char* zone)
{
    return Calendar(QTimeZone(zone), 1, QLocale(QLocale::English, QLocale::UnitedStates));
}

Date at(int year, int month, int day, int hour, int minute, int second, const char* zone)
{
    return calendar(zone).date(QDate(year, month, day), hour, minute, second);
}

} // namespace TestEnvironment

QByteArray TestEnvironment::readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool TestEnvironment::writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
