#include "model/Iso8601.h"

#include <algorithm>
#include <cmath>

// Hand-written rather than through QDateTime: every date of every record passes through here
// on each save and load, and the data files can hold tens of thousands of them.

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back (after H. Hinnant's algorithms).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

void civilFromDays(qint64 z, qint64& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<qint64>(yoe) + era * 400 + (m <= 2);
}

bool isLeap(qint64 y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(qint64 y, unsigned m)
{
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// The units of a text as UTF-16 or as UTF-8 bytes: a date is ASCII, where the two agree.
char16_t unitAt(const QString& text, qsizetype i)
{
    return text.at(i).unicode();
}

char16_t unitAt(std::string_view text, qsizetype i)
{
    return static_cast<unsigned char>(text[static_cast<size_t>(i)]);
}

// Reads exactly `count` ASCII digits at `pos`.
template <typename Text> bool digits(const Text& text, qsizetype pos, int count, int& out)
{
    out = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = unitAt(text, pos + i);
        if (c < u'0' || c > u'9')
            return false;
        out = out * 10 + (c - u'0');
    }
    return true;
}

template <typename Text> std::optional<Date> parseText(const Text& text)
{
    const auto at = [&text](qsizetype i) { return unitAt(text, i); };
    const qsizetype size = static_cast<qsizetype>(text.size());
    // yyyy-MM-ddTHH:mm:ss then "Z", "+HH:MM", "+HHMM" (or "-").
    if (size != 20 && size != 24 && size != 25)
        return std::nullopt;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!digits(text, 0, 4, y) || at(4) != u'-' || !digits(text, 5, 2, mo) || at(7) != u'-' || !digits(text, 8, 2, d) ||
        at(10) != u'T' || !digits(text, 11, 2, h) || at(13) != u':' || !digits(text, 14, 2, mi) || at(16) != u':' ||
        !digits(text, 17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || static_cast<unsigned>(d) > daysInMonth(y, static_cast<unsigned>(mo)) || h > 23 ||
        mi > 59 || s > 59)
        return std::nullopt;
    qint64 offset = 0;
    const char16_t zone = at(19);
    if (zone == u'Z') {
        if (size != 20)
            return std::nullopt;
    } else if (zone == u'+' || zone == u'-') {
        int oh = 0, om = 0;
        const bool colon = size == 25;
        if (size == 20 || !digits(text, 20, 2, oh) || (colon && at(22) != u':') ||
            !digits(text, colon ? 23 : 22, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offset = (oh * 3600LL + om * 60LL) * (zone == u'-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    const qint64 days = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    return static_cast<Date>(days * 86400 + h * 3600LL + mi * 60LL + s - offset);
}

} // namespace

namespace Iso8601 {

QString format(Date t)
{
    return field(t).toString();
}

AsciiField field(Date t)
{
    // Far outside any real date the text would not be ISO 8601; clamp to four-digit years.
    // A date that is not a number has no text; it is written as the start of 1970 rather than
    // as undefined behaviour.
    const double floored = std::isnan(t) ? 0.0 : std::floor(std::clamp(t, -62135596800.0, 253402300799.0));
    const qint64 secs = static_cast<qint64>(floored);
    qint64 days = secs / 86400;
    qint64 rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    qint64 y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civilFromDays(days, y, m, d);
    AsciiField out;
    char* p = out.text;
    const auto put = [&p](qint64 value, int width, char after) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            p[i] = static_cast<char>('0' + value % 10);
        p += width;
        if (after)
            *p++ = after;
    };
    put(y, 4, '-');
    put(m, 2, '-');
    put(d, 2, 'T');
    put(rem / 3600, 2, ':');
    put(rem / 60 % 60, 2, ':');
    put(rem % 60, 2, 'Z');
    out.size = static_cast<int>(p - out.text);
    return out;
}

std::optional<Date> parse(const QString& text)
{
    return parseText(text);
}

std::optional<Date> parse(std::string_view utf8)
{
    return parseText(utf8);
}

} // namespace Iso8601
