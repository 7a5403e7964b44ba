#include "screens/block/DoomScrollTexts.h"
#include "model/LocaleFormats.h"

#include "model/BlockRule.h"

#include <QLocale>
#include <QTime>
#include <QUuid>
#include <algorithm>
#include <cmath>

namespace {

const QString nonBreakingHyphen = QString(QChar(0x2011));

QString breakPhrase(qint64 breakMinutes)
{
    if (breakMinutes >= 60)
        return QStringLiteral("an hour-long");
    return QStringLiteral("a ") + QString::number(breakMinutes) + nonBreakingHyphen + QStringLiteral("minute");
}

// Leading and trailing spaces and tabs only, as the add field trims them.
QString trimSpacesAndTabs(const QString& text)
{
    qsizetype begin = 0, end = text.size();
    const auto blank = [](QChar c) { return c.category() == QChar::Separator_Space || c == u'\t'; };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

namespace DoomScrollTexts {

bool isConfigured(const DoomScrollConfig& config)
{
    return config.isEnabled && !config.domains.empty();
}

bool isOnBreak(const SharedState& state, Date now)
{
    return state.doomScroll && state.doomScroll->breakEndsAt && now < *state.doomScroll->breakEndsAt;
}

QString cardSummary(qint64 usageMinutes, qint64 breakMinutes)
{
    const QString w = usageMinutes >= 60 ? QStringLiteral("an hour") : QString::number(usageMinutes) + " minutes";
    return QStringLiteral("After ") + w + QStringLiteral(" of scrolling, take ") + breakPhrase(breakMinutes) +
           QStringLiteral(" break.");
}

QString sheetSummary(qint64 usageMinutes, qint64 breakMinutes)
{
    const QString w = usageMinutes >= 60 ? QStringLiteral("An hour") : QString::number(usageMinutes) + " minutes";
    return w + QStringLiteral(" of scrolling, then ") + breakPhrase(breakMinutes) + QStringLiteral(" break.");
}

QString siteNames(const std::vector<DoomScrollDomain>& domains)
{
    QStringList names;
    for (const DoomScrollDomain& d : domains)
        names.append(BlockRule::suggestedDisplayName(d.domain));
    return LocaleFormats::list(names);
}

QString statusLine(const DoomScrollConfig& config, const SharedState& state, Date now, const Calendar& calendar)
{
    if (!config.isEnabled)
        return QStringLiteral("Breaks are off. Turn them on with Edit.");
    if (isOnBreak(state, now)) {
        const LocalDateTime end = calendar.components(*state.doomScroll->breakEndsAt);
        return QStringLiteral("On a break until ") + LocaleFormats::shortTime(QLocale(), QTime(end.hour, end.minute)) +
               QStringLiteral(". These sites open again automatically.");
    }
    const qint64 used = state.doomScroll ? state.doomScroll->usedSeconds / 60 : 0;
    QString text = QString::number(used) + QStringLiteral(" of ") + QString::number(config.usageWindowMinutes) +
                   QStringLiteral(" min used");
    if (config.domains.size() >= 2)
        text += QStringLiteral(" · these sites count together");
    return text;
}

double meterFraction(const DoomScrollConfig& config, const SharedState& state)
{
    const double used = state.doomScroll ? double(state.doomScroll->usedSeconds) : 0.0;
    const double window = std::max(double(config.usageWindowMinutes) * 60.0, 60.0);
    return std::clamp(used / window, 0.0, 1.0);
}

QString optionLabel(qint64 minutes)
{
    return minutes >= 60 ? QStringLiteral("1 hour") : QString::number(minutes) + QStringLiteral(" min");
}

} // namespace DoomScrollTexts

const QList<int>& DoomScrollForm::usageOptions()
{
    static const QList<int> options{15, 20, 30, 45, 60};
    return options;
}

const QList<int>& DoomScrollForm::breakOptions()
{
    static const QList<int> options{5, 10, 20, 30, 60};
    return options;
}

DoomScrollForm::DoomScrollForm(bool enabled, std::vector<DoomScrollDomain> list, qint64 usage, qint64 breakLength)
    : isEnabled(enabled), domains(std::move(list)), usageMinutes(usage),
      breakMinutes(breakLength), m_opened{isEnabled, domains, usageMinutes, breakMinutes}
{
}

bool DoomScrollForm::hasChanges() const
{
    return isEnabled != m_opened.isEnabled || domains != m_opened.domains || usageMinutes != m_opened.usageMinutes ||
           breakMinutes != m_opened.breakMinutes || canAdd();
}

bool DoomScrollForm::canAdd() const
{
    return !trimSpacesAndTabs(newDomain).isEmpty();
}

void DoomScrollForm::addDomain()
{
    const QString typed = trimSpacesAndTabs(newDomain);
    if (typed.isEmpty())
        return;
    // Checked and compared in the form it is stored in, so "www.www.x.com" next to "x.com" is a
    // duplicate and "www.www.com" is not stored as "com".
    const QString stored = BlockRule::normalizedDomain(BlockRule::normalizedDomain(typed));
    if (!BlockRule::isValidDomain(typed) || !BlockRule::isValidDomain(stored)) {
        domainError = QStringLiteral("That doesn't look like a website address.");
        return;
    }
    const bool listed = std::any_of(domains.begin(), domains.end(), [&](const DoomScrollDomain& d) {
        return BlockRule::normalizedDomain(d.domain) == stored;
    });
    if (listed) {
        domainError = stored + QStringLiteral(" is already on the list.");
        return;
    }
    domains.push_back(DoomScrollDomain{QUuid::createUuid(), stored});
    newDomain.clear();
    domainError.reset();
}

void DoomScrollForm::removeDomain(const QString& domain)
{
    std::erase_if(domains, [&](const DoomScrollDomain& d) { return d.domain == domain; });
}

QString DoomScrollForm::eyebrowText() const
{
    return isEnabled && !domains.empty() ? QStringLiteral("Doom scroll breaks · on")
                                         : QStringLiteral("Doom scroll breaks · off");
}

DoomScrollConfig DoomScrollForm::result() const
{
    return DoomScrollConfig{isEnabled && !domains.empty(), domains, usageMinutes, breakMinutes};
}
