#pragma once

#include "model/Clock.h"

#include <QObject>
#include <QString>
#include <optional>
#include <vector>

class StorageService;

enum class QuitReason { windowInTheWay, needASite, notWorking, other };
enum class QuitAlternative { closeWindow, urgentBreak, checkBrowsers };

// A site that quitting would open again.
struct QuitSite {
    QString domain;
    QString name;
};

// The quit window's rules without widgets: the three steps, the reason, the two-minute wait on a
// monotonic clock (setting the wall clock forward does not end it) and the texts the steps show.
class QuitFlowModel : public QObject {
    Q_OBJECT
public:
    enum class Step { reason, reflect, wait };
    static constexpr int waitSeconds = 120;

    explicit QuitFlowModel(const MonotonicClock& clock, QObject* parent = nullptr);

    Step step() const { return m_step; }
    std::optional<QuitReason> reason() const { return m_reason; }
    int secondsRemaining() const { return m_secondsRemaining; }
    bool canContinue() const { return m_reason.has_value(); }
    bool canQuit() const { return m_step == Step::wait && m_secondsRemaining == 0; }

    void chooseReason(QuitReason reason);
    void continueToReflect();
    void startWait();
    void tick();

    static std::optional<QuitAlternative> alternative(QuitReason reason);
    static QString reasonTitle(QuitReason reason);
    static QString cardText(QuitReason reason);
    static QString cardButtonTitle(QuitReason reason);
    static QString countdownText(int seconds);
    static QString stepHeader(Step step);
    static std::vector<QuitSite> sitesOpeningOnQuit(const StorageService& storage);
    static QString blockedSitesPhrase(const std::vector<QuitSite>& sites);
    // The reason step's sentence: the phrase above with its verb agreeing ("opens" for one site).
    static QString closedAppText(const std::vector<QuitSite>& sites);

signals:
    void changed();

private:
    const MonotonicClock& m_clock;
    Step m_step = Step::reason;
    std::optional<QuitReason> m_reason;
    double m_deadline = 0;
    int m_secondsRemaining = waitSeconds;
};
