#include "screens/settings/TimeMoneyModel.h"

#include "files/Defaults.h"
#include "screens/settings/SettingsTexts.h"

#include <cmath>

double TimeMoneyModel::clamp(double value, double low, double high)
{
    const double c = value <= low ? low : value;
    return c > high ? high : c;
}

void TimeMoneyModel::loadStoredValues()
{
    if (!m_defaults)
        return;
    // A value of another type reads as absent; one that is not a finite number is ignored too.
    const auto stored = [this](const QString& key) {
        const double v = m_defaults->number(key).value_or(0);
        return std::isfinite(v) ? v : 0;
    };
    if (const double rate = stored(rateKey); rate > 0)
        m_rate = clamp(rate, minRate, maxRate);
    if (const double hours = stored(hoursKey); hours > 0)
        m_hours = clamp(hours, minHours, maxHours);
}

void TimeMoneyModel::setHourlyRate(double value)
{
    m_rate = clamp(value, minRate, maxRate);
    if (m_defaults)
        m_defaults->set(rateKey, m_rate);
}

void TimeMoneyModel::setHoursPerDay(double value)
{
    m_hours = clamp(value, minHours, maxHours);
    if (m_defaults)
        m_defaults->set(hoursKey, m_hours);
}

QString TimeMoneyModel::formatMoney(double value, const QLocale& given)
{
    const QLocale locale = SettingsTexts::effectiveLocale(given);
    // std::round takes halves away from zero: 912.5 is 913, -912.5 is -913.
    const double rounded = std::round(value);
    const qlonglong whole = std::abs(rounded) < 9e15 ? static_cast<qlonglong>(rounded) : 0;
    if (locale.currencySymbol(QLocale::CurrencyIsoCode).isEmpty())
        return locale.toCurrencyString(whole, QStringLiteral("USD"));
    return locale.toCurrencyString(whole);
}

QString TimeMoneyModel::formatHours(double hours)
{
    if (std::round(hours) == hours)
        return QString::number(static_cast<qlonglong>(hours));
    // Up to two decimals: an estimate of 75 minutes is 1.25 hours, which one decimal would misstate.
    QString text = QString::asprintf("%.2f", hours);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    return text;
}

QString TimeMoneyModel::rateText(const QLocale& locale) const
{
    return formatMoney(m_rate, locale) + QStringLiteral("/hr");
}

QString TimeMoneyModel::hoursText() const
{
    return formatHours(m_hours) + (m_hours == 1 ? QStringLiteral(" hr") : QStringLiteral(" hrs"));
}
