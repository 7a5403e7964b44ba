#pragma once

#include "model/BlockRule.h"
#include "model/DoomScroll.h"
#include "model/SharedState.h"
#include "store/RuleEvaluation.h"

#include <QHash>
#include <QLocale>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <optional>
#include <vector>

class StoreCore;

// The block rules, the doom-scroll settings and the day's blocking state worked out from them:
// which sites are blocked now, why and until when, with the timer of the next boundary.
class BlockingStore : public QObject {
    Q_OBJECT
public:
    explicit BlockingStore(StoreCore& core, QObject* parent = nullptr);

    const std::vector<BlockRule>& rules() const { return m_rules; }
    const SharedState& state() const { return m_state; }
    const DoomScrollConfig& doomScrollConfig() const { return m_doomScrollConfig; }
    bool rulesSetAside() const { return m_rulesSetAside; }
    void loadRules(QStringList& unreadable);
    void loadState();
    void loadDoomScrollConfig(QStringList& unreadable);

    void normalizeSharedState() { normalizeSharedState(calendar()); }
    void refreshBlockingState();
    bool saveState();
    std::optional<Date> scheduledBoundary() const { return m_boundaryTimer.isActive() ? m_boundaryAt : std::nullopt; }
    int boundaryTimerInterval() const { return m_boundaryTimer.interval(); }
    int boundaryComputations() const { return m_boundaryMemo.computations(); }

    void recordUsage(const BlockRule& rule, qint64 seconds);
    void recordDoomScrollUsage(qint64 seconds);
    bool startUrgentBreak(const QUuid& ruleId, double fallbackSeconds = UrgentBreakState::defaultFallbackSeconds);
    void resumeBlocking();

    bool isDomainFree(const QString& domain, const std::optional<QUuid>& excluding) const;
    bool addRule(const BlockRule& rule);
    bool updateRule(const BlockRule& rule);
    bool removeRule(const QUuid& id);
    bool updateDoomScrollConfig(const DoomScrollConfig& config);

    static inline const QString rulesFile = QStringLiteral("rules.json");
    static inline const QString doomScrollFile = QStringLiteral("doomscroll.json");
    static inline const QString stateFile = QStringLiteral("state.json");

signals:
    void rulesChanged();
    void stateChanged();
    void doomScrollConfigChanged();
    // The boundary timer fired, or found the wall clock changed: the store's clock event is due.
    void clockEventDue();

private:
    Date now() const;
    Calendar calendar() const;
    void normalizeSharedState(const Calendar& cal);
    void setState(const SharedState& state);
    // Writes the rules as they now are and then applies `changedState`, or puts back `before`.
    bool commitRules(std::vector<BlockRule> before, std::optional<SharedState> changedState = std::nullopt);
    void scheduleBoundaryTimer(Date boundary);
    void onBoundaryTimer();
    void throttledStateSave();
    QString reasonFor(const BlockRule& rule);
    // Compares the wall clock with the boot clock since the last look. A change that elapsed
    // time does not account for moves every wait kept in the state along with the clock, so it
    // neither ends nor stretches them; true when there was one.
    bool followWallClock();
    qint64 usageDayId(Date t, const Calendar& calendar) const;
    Date usageDayEnd(Date t, const Calendar& calendar) const;
    bool beginsNewUsageDay(const SharedState& s, Date t, const Calendar& calendar) const;
    std::optional<WallClockCheck> wallClockCheck() const;
    std::optional<WallClockCheck> keptClockReading(const std::optional<WallClockCheck>& current) const;

    StoreCore& m_core;
    std::vector<BlockRule> m_rules;
    quint64 m_rulesGeneration = 0; // changes with every change of m_rules, for m_boundaryMemo
    RuleBoundaryMemo m_boundaryMemo;
    bool m_rulesSetAside = false;
    SharedState m_state;
    DoomScrollConfig m_doomScrollConfig;
    QTimer m_boundaryTimer;
    std::optional<Date> m_boundaryAt;
    Date m_lastUsageStateSave = -1e300;
    struct ClockReading {
        Date wall = 0;
        double boot = 0;
    };
    std::optional<ClockReading> m_lastClockReading;
    double m_dayOffset = 0; // see WallClockCheck::dayOffset
    // "state.json" as this store last wrote or read it; nothing when unknown (never yet, or a
    // write failed). A refresh that would write the same again leaves the file alone, as long as
    // the file is still the one it wrote or read.
    struct FileIdentity {
        quint64 device = 0, inode = 0;
        qint64 size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    static std::optional<FileIdentity> fileIdentity(const QString& path);
    // The file's text is a function of the two, so comparing them tells whether it would change.
    struct StateOnDisk {
        SharedState state;
        std::optional<WallClockCheck> check;
        std::optional<FileIdentity> file;
    };
    std::optional<StateOnDisk> m_stateOnDisk;
    QString m_statePath; // looked at on every refresh
    QLocale m_reasonLocale;
    QHash<int, QString> m_windowReasons; // the texts of time windows in m_reasonLocale
};
