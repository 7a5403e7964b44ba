#pragma once

#include "model/Calendar.h"
#include "model/DoomScroll.h"
#include "model/SharedState.h"

#include <QString>
#include <optional>
#include <vector>

// What the doom-scroll card says, from the stored settings and state.
namespace DoomScrollTexts {

bool isConfigured(const DoomScrollConfig& config);
bool isOnBreak(const SharedState& state, Date now);
// "After 20 minutes of scrolling, take a 10‑minute break."
QString cardSummary(qint64 usageMinutes, qint64 breakMinutes);
// "20 minutes of scrolling, then a 5‑minute break."
QString sheetSummary(qint64 usageMinutes, qint64 breakMinutes);
// The sites' names joined for the locale: "YouTube, Reddit, and X".
QString siteNames(const std::vector<DoomScrollDomain>& domains);
QString statusLine(const DoomScrollConfig& config, const SharedState& state, Date now, const Calendar& calendar);
// Share of the usage window used, held to 0 ... 1 so the meter never draws past full.
double meterFraction(const DoomScrollConfig& config, const SharedState& state);
// "15 min" or "1 hour".
QString optionLabel(qint64 minutes);

} // namespace DoomScrollTexts

// The settings sheet's form: its own copy of the values until Save.
class DoomScrollForm {
public:
    static const QList<int>& usageOptions();
    static const QList<int>& breakOptions();
    static QString exampleDomain() { return QStringLiteral("tiktok.com"); }

    DoomScrollForm(bool isEnabled, std::vector<DoomScrollDomain> domains, qint64 usageMinutes, qint64 breakMinutes);

    bool isEnabled = false;
    std::vector<DoomScrollDomain> domains;
    qint64 usageMinutes = 20;
    qint64 breakMinutes = 5;
    QString newDomain;
    std::optional<QString> domainError;

    bool canAdd() const;
    // Whether a setting differs from what the form opened with, or a site is typed but not added.
    bool hasChanges() const;
    // Adds the typed site; a blank field does nothing; invalid or listed input sets the message.
    void addDomain();
    void removeDomain(const QString& domain);
    QString eyebrowText() const;
    QString summaryText() const { return DoomScrollTexts::sheetSummary(usageMinutes, breakMinutes); }
    // What Save hands over: breaks are on only with at least one site.
    DoomScrollConfig result() const;

private:
    struct Opened {
        bool isEnabled;
        std::vector<DoomScrollDomain> domains;
        qint64 usageMinutes;
        qint64 breakMinutes;
    } m_opened;
};
