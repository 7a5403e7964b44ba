#pragma once

#include "screens/block/RuleStatus.h"

#include <QHash>
#include <QPointer>
#include <QUuid>
#include <QWidget>
#include <vector>

#include "screens/block/AddRuleSheet.h"
class DoomScrollCard;
class FocusSectionHeader;
class LazyRows;
#include "screens/block/ManageRuleSheet.h"
#include "screens/block/SiteRow.h"
#include "ui/QueuedCall.h"
class QLabel;
class QVBoxLayout;
class SectionCard;
struct AppContext;

// The Block page: the site rows with their status, the doom-scroll card and the browsers with
// their connections. It owns no data: it reads the store and the engine, rebuilds once per
// change (queued, so one store call that emits several signals costs one rebuild), and hands
// every change back to them through the sheets' callbacks.
//
// Object names: "pausedNote", "pausedText", "resumeBlocking", "urgentBreakHint", "sitesHeader", "addButton",
// "sitesEmpty", "browsersEmpty", "browserRow" (property "browserId"), "connectButton", "connectedText".
class BlockRulesView : public QWidget {
    Q_OBJECT
public:
    explicit BlockRulesView(AppContext& context, QWidget* parent = nullptr);

    // Rebuilds the page from the store and the engine now.
    void refresh();
    bool isPaused() const;

    void showAddSheet();
    void manage(const QUuid& ruleId);
    AddRuleSheet* addSheet() const { return m_addSheet; }
    ManageRuleSheet* manageSheet() const { return m_manageSheet; }
    SiteRow* row(const QUuid& ruleId) const { return m_rows.value(ruleId); }
    DoomScrollCard* doomScrollCard() const { return m_doomCard; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void present(QDialog* sheet);
    void offerUrgentBreak();
    void scheduleRefresh(bool browsers);
    void refreshSites();
    void refreshBrowsers();
    QSet<QString> ruleDomains() const;
    QWidget* makeSiteRow(int index, QWidget* parent);

    AppContext& m_context;
    FocusSectionHeader* m_sitesHeader;
    SectionCard* m_sitesCard;
    QWidget* m_sitesEmpty;
    // Only the rows in view are built: the rules as the store gave them at the last refresh, and
    // the moment and state their statuses are computed for.
    LazyRows* m_siteRows;
    std::vector<BlockRule> m_rules;
    QHash<QUuid, QPointer<SiteRow>> m_rows; // the built ones
    RuleStatus::StatusCache m_statusCache;
    int m_siteRowHeight = 0;
    DoomScrollCard* m_doomCard;
    QWidget* m_paused;
    QLabel* m_pausedText;
    QLabel* m_urgentHint;
    SectionCard* m_browsersCard;
    QPointer<AddRuleSheet> m_addSheet;
    QPointer<ManageRuleSheet> m_manageSheet;
    bool m_sitesDirty = false;
    bool m_browsersDirty = false;
    QueuedCall m_queuedRefresh{this, [this] {
                                   if (m_sitesDirty)
                                       refreshSites();
                                   if (m_browsersDirty)
                                       refreshBrowsers();
                               }};
};
