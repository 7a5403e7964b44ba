#include "model/LocaleFormats.h"

#include <algorithm>
#include <vector>

namespace {

// One piece of a date pattern: a field ("yyyy", "MMMM", "d"), or literal text between fields,
// quoted or not, kept as written.
struct Token {
    QString text;
    QChar field; // the field's letter; null for literal text
};

bool isFieldLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

std::vector<Token> tokenize(const QString& pattern)
{
    std::vector<Token> tokens;
    const auto literal = [&tokens](const QString& text) {
        if (!tokens.empty() && tokens.back().field.isNull())
            tokens.back().text += text;
        else
            tokens.push_back({text, QChar()});
    };
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        if (c == u'\'') {
            qsizetype end = i + 1;
            while (end < pattern.size()) {
                if (pattern.at(end) == u'\'') {
                    if (end + 1 < pattern.size() && pattern.at(end + 1) == u'\'') {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            literal(pattern.mid(i, end + 1 - i));
            i = end + 1;
        } else if (isFieldLetter(c)) {
            qsizetype end = i;
            while (end < pattern.size() && pattern.at(end) == c)
                ++end;
            tokens.push_back({pattern.mid(i, end - i), c});
            i = end;
        } else {
            literal(QString(c));
            ++i;
        }
    }
    return tokens;
}

QString join(const std::vector<Token>& tokens)
{
    QString out;
    for (const Token& token : tokens)
        out += token.text;
    return out;
}

// Takes the fields that `drop` picks out, with the literal text that belongs to each: a field
// that opens the pattern takes the text after it, any other field the text before it and, when it
// closes the pattern, the text after it too (", yyyy", " 'de' yyyy", " yyyy 'г'.", "yyyy年").
// Quoted words count as the removed field's, unquoted letters as the previous field's unit.
template <class Drop> void removeFields(std::vector<Token>& tokens, Drop drop)
{
    for (size_t i = 0; i < tokens.size();) {
        if (tokens[i].field.isNull() || !drop(tokens[i])) {
            ++i;
            continue;
        }
        size_t firstField = 0;
        while (firstField < tokens.size() && tokens[firstField].field.isNull())
            ++firstField;
        bool lastField = true;
        for (size_t j = i + 1; j < tokens.size(); ++j)
            lastField = lastField && tokens[j].field.isNull();
        size_t from = i;
        size_t to = i + 1;
        if (i == firstField) {
            if (to < tokens.size() && tokens[to].field.isNull())
                ++to;
        } else {
            // Letters right after the previous field are its unit ("d日", "d일"): they stay.
            if (tokens[from - 1].field.isNull()) {
                QString& before = tokens[from - 1].text;
                qsizetype unit = 0;
                while (unit < before.size() && before.at(unit).isLetter())
                    ++unit;
                if (unit == 0)
                    --from;
                else
                    before.truncate(unit);
            }
            if (lastField)
                to = tokens.size();
        }
        tokens.erase(tokens.begin() + qsizetype(from), tokens.begin() + qsizetype(to));
        i = from;
    }
}

bool isYear(const Token& t)
{
    return t.field == u'y' || t.field == u'Y' || t.field == u'u';
}

bool isWeekday(const Token& t)
{
    return (t.field == u'd' && t.text.size() >= 3) || t.field == u'E';
}

bool isFinerThanMinutes(const Token& t)
{
    return t.field == u's' || t.field == u'z' || t.field == u't';
}

} // namespace

namespace LocaleFormats {

QLocale effective(const QLocale& locale)
{
    return locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
}

QString dayLinePattern(const QLocale& locale)
{
    std::vector<Token> tokens = tokenize(effective(locale).dateFormat(QLocale::LongFormat));
    removeFields(tokens, isYear);
    return join(tokens).trimmed();
}

QString dayLine(const QLocale& locale, QDate date)
{
    return effective(locale).toString(date, dayLinePattern(locale));
}

QString dayMonthPattern(const QLocale& locale)
{
    std::vector<Token> tokens = tokenize(dayLinePattern(locale));
    removeFields(tokens, isWeekday);
    for (Token& token : tokens)
        if (token.field == u'M' && token.text.size() > 3)
            token.text = QStringLiteral("MMM");
    return join(tokens).trimmed();
}

QString shortDatePattern(const QLocale& locale)
{
    std::vector<Token> tokens = tokenize(effective(locale).dateFormat(QLocale::ShortFormat));
    for (Token& token : tokens)
        if (isYear(token))
            token.text = QStringLiteral("yyyy");
    return join(tokens).trimmed();
}

QString shortTimePattern(const QLocale& locale)
{
    std::vector<Token> tokens = tokenize(effective(locale).timeFormat(QLocale::ShortFormat));
    removeFields(tokens, isFinerThanMinutes);
    return join(tokens).trimmed();
}

QString shortTime(const QLocale& locale, QTime time)
{
    // The locale's digits and order, with English words for morning and afternoon. Without its
    // AM/PM field a pattern counts hours to 24: a 12-hour clock's hour is written out here.
    const QLocale shown = effective(locale);
    std::vector<Token> tokens = tokenize(shortTimePattern(locale));
    const auto quoted = [](const QString& text) { return QLatin1Char('\'') + text + QLatin1Char('\''); };
    const bool twelveHours =
        std::any_of(tokens.begin(), tokens.end(), [](const Token& t) { return t.field == u'A' || t.field == u'a'; });
    if (!twelveHours)
        return shown.toString(time, join(tokens));
    // An English sentence says the marker after the time ("by 11:10 PM"), also where the locale
    // puts its own word first ("오후 11:10", "上午9:30").
    const auto isMarker = [](const Token& t) { return t.field == u'A' || t.field == u'a'; };
    const auto marker = std::find_if(tokens.begin(), tokens.end(), isMarker);
    const auto hour = std::find_if(tokens.begin(), tokens.end(), [](const Token& t) { return t.field == u'h'; });
    if (marker != tokens.end() && hour != tokens.end() && marker < hour) {
        // "AP" is one field of two letters; the text between the marker and the hour goes with it.
        auto end = marker + 1;
        if (end != tokens.end() && (end->field == u'P' || end->field == u'p'))
            ++end;
        const std::vector<Token> moved(marker, end);
        while (end != tokens.end() && end->field.isNull())
            ++end;
        tokens.erase(marker, end);
        tokens.push_back({QStringLiteral(" "), QChar()});
        tokens.insert(tokens.end(), moved.begin(), moved.end());
    }
    for (size_t i = 0; i < tokens.size(); ++i) {
        const QChar field = tokens[i].field;
        if (field == u'h') {
            const int hour = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
            QString digits = shown.toString(hour);
            if (tokens[i].text.size() == 2 && hour < 10)
                digits.prepend(shown.zeroDigit());
            tokens[i] = {quoted(digits), QChar()};
        } else if (field == u'A' || field == u'a') {
            const QString word = time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
            tokens[i] = {quoted(field == u'A' ? word : word.toLower()), QChar()};
            // "AP" is one field of two letters.
            if (i + 1 < tokens.size() && (tokens[i + 1].field == u'P' || tokens[i + 1].field == u'p'))
                tokens.erase(tokens.begin() + qsizetype(i + 1));
        }
    }
    return shown.toString(time, join(tokens));
}

QString list(const QStringList& items)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).createSeparatedList(items);
}

} // namespace LocaleFormats
