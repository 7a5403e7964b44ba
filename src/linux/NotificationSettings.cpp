#include "linux/NotificationSettings.h"

#include <QProcess>
#include <QStandardPaths>

namespace NotificationSettings {

std::optional<QStringList> command(const QString& currentDesktop, const Finder& find)
{
    const QStringList desktops = currentDesktop.toUpper().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    struct Known {
        const char* desktop;
        QStringList programs; // the first one installed is used
        const char* page;
    };
    static const Known known[] = {
        {"GNOME", {QStringLiteral("gnome-control-center")}, "notifications"},
        // Plasma 6 names it systemsettings, Plasma 5 systemsettings5.
        {"KDE", {QStringLiteral("systemsettings"), QStringLiteral("systemsettings5")}, "kcm_notifications"},
    };
    for (const QString& desktop : desktops)
        for (const Known& k : known) {
            if (desktop != QLatin1String(k.desktop))
                continue;
            for (const QString& program : k.programs) {
                const QString path = find(program);
                if (!path.isEmpty())
                    return QStringList{path, QString::fromLatin1(k.page)};
            }
        }
    return std::nullopt;
}

std::function<bool()> opener()
{
    const std::optional<QStringList> found =
        command(qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
                [](const QString& program) { return QStandardPaths::findExecutable(program); });
    if (!found)
        return {};
    const QStringList line = *found;
    return [line] { return QProcess::startDetached(line.first(), line.mid(1)); };
}

} // namespace NotificationSettings
