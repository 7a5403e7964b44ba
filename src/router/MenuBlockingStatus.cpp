#include "router/MenuBlockingStatus.h"

#include "model/LocaleFormats.h"
#include "store/StorageService.h"

#include <QDateTime>

MenuBlockingStatus resolveMenuBlockingStatus(const StorageService& storage, bool needsBrowser, Date now)
{
    if (storage.blocking().rules().empty() && !storage.blocking().doomScrollConfig().isEnabled)
        return MenuBlockingStatus::noRules;
    if (needsBrowser)
        return MenuBlockingStatus::needsBrowser;
    const auto pausedUntil = storage.blocking().state().blockingPausedUntil;
    if (pausedUntil && now < *pausedUntil)
        return MenuBlockingStatus::paused;
    return MenuBlockingStatus::active;
}

QString pausedBlockingText(const StorageService& storage, const Calendar& calendar)
{
    const auto until = storage.blocking().state().blockingPausedUntil;
    QString time = QStringLiteral("later");
    if (until) {
        const QDateTime moment = QDateTime::fromMSecsSinceEpoch(qint64(*until * 1000), calendar.timeZone());
        time = LocaleFormats::shortTime(calendar.locale(), moment.time());
    }
    // The time wraps as one word: "10:30" and "AM" never part.
    time.replace(QLatin1Char(' '), QChar(0x00A0)).replace(QChar(0x202F), QChar(0x00A0));
    return QStringLiteral("Blocking is paused until ") + time + QLatin1Char('.');
}
