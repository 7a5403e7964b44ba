#pragma once

#include "model/BlockRule.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QTime>
#include <optional>
#include <vector>

// The add/edit rule form without widgets: its fields, the rules that tie the display name to
// the website, the schedule operations, and the one record it saves. The window times are times
// of day, so a daylight-saving day cannot move a window the person picked.
class RuleForm {
public:
    enum class Mode { allDay, dailyLimit, hours };
    static const std::vector<Mode>& modes();
    static QString modeText(Mode mode);
    static std::optional<Mode> modeFromText(const QString& text);
    static QString modeSubtitle(Mode mode);

    static const QList<int>& limitOptions();
    // "45 min", "1 h", "1 h 30 min".
    static QString limitLabel(int minutes);

    struct WeekdayPreset {
        QString title;
        QSet<int> days;
    };
    static const std::vector<WeekdayPreset>& weekdayPresets();

    static QString exampleDomain() { return QStringLiteral("youtube.com"); }

    struct Message {
        QString text;
        bool isError = false;
        bool operator==(const Message&) const = default;
    };

    RuleForm(std::optional<BlockRule> existing, QSet<QString> existingDomains);

    bool isEditing() const { return m_existing.has_value(); }
    const std::optional<BlockRule>& existingRule() const { return m_existing; }

    const QString& domain() const { return m_domain; }
    const QString& displayName() const { return m_displayName; }
    bool didEditName() const { return m_didEditName; }
    Mode mode() const { return m_mode; }
    QTime startTime() const { return m_startTime; }
    QTime endTime() const { return m_endTime; }
    const QSet<int>& activeWeekdays() const { return m_activeWeekdays; }
    int dailyLimitMinutes() const { return m_dailyLimitMinutes; }
    bool allowOneBreak() const { return m_allowOneBreak; }

    // Each reacts only to an actual change of the value.
    void setDomain(const QString& text);
    void setDisplayName(const QString& text);
    void pressPresetSite(const QString& site);
    bool isPresetSelected(const QString& site) const;

    void selectMode(Mode mode) { m_mode = mode; }
    void setStartTime(QTime time) { m_startTime = time; }
    void setEndTime(QTime time) { m_endTime = time; }
    void selectLimit(int minutes) { m_dailyLimitMinutes = minutes; }
    void applyPreset(const QSet<int>& days) { m_activeWeekdays = days; }
    // The last weekday that is on cannot be switched off.
    void toggleWeekday(int weekday, bool wasOn);
    void setAllowOneBreak(bool on) { m_allowOneBreak = on; }

    // Whether any field differs from what the form opened with.
    bool hasChanges() const { return values() != m_opened; }

    // The domain as it will be saved (normalised twice); the preview and the duplicate test use it.
    QString savedDomain() const;
    bool isDuplicate() const;
    bool canSave() const;
    std::optional<Message> websiteMessage() const;

    // The finished rule, stamped with `now`.
    BlockRule build(Date now) const;

    // One submission per sheet: nothing while saving is not allowed or after a save was accepted.
    std::optional<BlockRule> beginSave(Date now);
    void saveAccepted() { m_saved = true; }
    void saveRefused(const QString& message) { m_saveError = message; }
    bool isSaved() const { return m_saved; }
    const std::optional<QString>& saveError() const { return m_saveError; }

private:
    struct Values {
        QString domain;
        QString displayName;
        Mode mode;
        QTime startTime;
        QTime endTime;
        QSet<int> activeWeekdays;
        int dailyLimitMinutes;
        bool allowOneBreak;
        bool operator==(const Values&) const = default;
    };
    Values values() const;
    void fillFrom(const BlockRule& rule);

    std::optional<BlockRule> m_existing;
    QSet<QString> m_takenDomains; // normalised, the edited rule's own domain left out
    QString m_domain;
    QString m_displayName;
    Mode m_mode = Mode::allDay;
    QTime m_startTime{9, 0};
    QTime m_endTime{17, 0};
    QSet<int> m_activeWeekdays{1, 2, 3, 4, 5, 6, 7};
    int m_dailyLimitMinutes = 30;
    bool m_allowOneBreak = false;
    bool m_didEditName = false;
    bool m_saved = false;
    std::optional<QString> m_saveError;
    Values m_opened;
};
