#pragma once

#include "model/BlockRule.h"
#include "screens/block/RuleStatus.h"

#include <QWidget>

class FocusMeter;
class QLabel;
class QToolButton;
class SiteIconView;

// One row of the Sites card: icon, name and summary, status (with a meter for daily limits) and
// the options menu. It draws what the page computed for it once per store change and reports
// the person's wishes through its two signals. A double click anywhere on it manages the rule.
//
// Object names: "siteRow" (property "ruleId"), "statusText", "summaryText", "meter", "optionsButton".
class SiteRow : public QWidget {
    Q_OBJECT
public:
    struct Content {
        BlockRule rule;
        QString summary;
        RuleStatus::Status status;
        bool canTakeUrgentBreak = false;
        std::optional<QString> urgentBreakUnavailableReason;
    };
    // Everything the row shows, for a rule at one moment.
    static Content contentFor(const BlockRule& rule, RuleStatus::StatusBatch& batch, bool isPaused);

    static constexpr int minimumRowHeight = 68;

    explicit SiteRow(const Content& content, QWidget* parent = nullptr);
    void setContent(const Content& content);
    const Content& content() const { return m_content; }

    // The options menu's items as they stand: texts and whether each is enabled.
    QList<QPair<QString, bool>> menuItems() const;

signals:
    void manageRequested();
    void urgentBreakRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void showMenu();

    Content m_content;
    SiteIconView* m_icon;
    QLabel* m_name;
    QLabel* m_summary;
    FocusMeter* m_meter;
    QLabel* m_status;
    QToolButton* m_options;
};
