#include "model/Iso8601.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>
#include <cmath>

namespace Iso8601 {

QString format(Date t)
{
    const qint64 secs = static_cast<qint64>(std::floor(t));
    return QDateTime::fromSecsSinceEpoch(secs, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

std::optional<Date> parse(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})(?:(Z)|([+-])([0-9]{2}):?([0-9]{2}))\z)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const int hour = m.captured(4).toInt();
    const int minute = m.captured(5).toInt();
    const int second = m.captured(6).toInt();
    if (!day.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    qint64 offset = 0;
    if (m.captured(7).isEmpty()) {
        const int oh = m.captured(9).toInt();
        const int om = m.captured(10).toInt();
        if (oh > 23 || om > 59)
            return std::nullopt;
        offset = (oh * 3600LL + om * 60LL) * (m.captured(8) == QLatin1String("-") ? -1 : 1);
    }
    const qint64 naive = QDateTime(day, QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch() + hour * 3600LL +
                         minute * 60LL + second;
    return static_cast<Date>(naive - offset);
}

} // namespace Iso8601
