#pragma once

#include <QLocale>
#include <QString>

class Defaults;

// The time-and-money card without widgets: an hourly rate and the hours lost a day, kept in
// range, taken from the preferences each time the card shows and written back only when the
// user presses a step button.
class TimeMoneyModel {
public:
    static constexpr double minRate = 5, maxRate = 300, rateStep = 5;
    static constexpr double minHours = 0.5, maxHours = 8, hoursStep = 0.5;
    static inline const QString rateKey = QStringLiteral("opportunityCost.hourlyRate");
    static inline const QString hoursKey = QStringLiteral("opportunityCost.hoursPerDay");

    TimeMoneyModel(Defaults* defaults, double hourlyRate, double hoursPerDay)
        : m_defaults(defaults), m_rate(hourlyRate), m_hours(hoursPerDay)
    {
    }

    double hourlyRate() const { return m_rate; }
    double hoursPerDay() const { return m_hours; }
    double yearlyCost() const { return m_rate * m_hours * 365; }
    double monthlyCost() const { return m_rate * m_hours * 30; }
    bool canDecreaseRate() const { return m_rate > minRate; }
    bool canIncreaseRate() const { return m_rate < maxRate; }
    bool canDecreaseHours() const { return m_hours > minHours; }
    bool canIncreaseHours() const { return m_hours < maxHours; }

    // Stored values above 0 replace the current ones, clamped; nothing is written back.
    void loadStoredValues();
    void setHourlyRate(double value);
    void setHoursPerDay(double value);
    void stepHourlyRate(double direction) { setHourlyRate(m_rate + direction * rateStep); }
    void stepHoursPerDay(double direction) { setHoursPerDay(m_hours + direction * hoursStep); }

    // Whole currency units, halves away from zero, in the locale's currency ("USD" when it has
    // none); the C locale formats like en_US.
    static QString formatMoney(double value, const QLocale& locale = QLocale());
    static QString formatHours(double hours);
    QString rateText(const QLocale& locale = QLocale()) const;
    QString hoursText() const;

    static double clamp(double value, double low, double high);

private:
    Defaults* m_defaults;
    double m_rate;
    double m_hours;
};
