#pragma once

#include "screens/block/ManageRuleFlow.h"

#include <QDialog>
#include <QPointer>
#include <functional>

#include "screens/block/AddRuleSheet.h"
#include "screens/block/BlockingBypassCooldownSheet.h"
#include "ui/QueuedCall.h"
class QLabel;
struct AppContext;

// The sheet for one existing rule: its status and schedule, "Edit block" and "Remove block…".
// A tightening is stored at once; a loosening and a removal wait through the cool-down. It never
// writes to the store: `onSave` and `onRemove` do, and answer whether the change was stored and
// written. It reads the store only for the status line and the to-do in focus.
//
// Object names: "closeButton", "statusText", "scheduleText", "scheduleDetail", "editButton",
// "removeButton"; the sheets it opens are its children.
class ManageRuleSheet : public QDialog {
    Q_OBJECT
public:
    ManageRuleSheet(AppContext& context, BlockRule rule, QSet<QString> existingDomains,
                    std::function<bool(const BlockRule&)> onSave, std::function<bool()> onRemove,
                    QWidget* parent = nullptr);

    const ManageRuleFlow& flow() const { return m_flow; }
    AddRuleSheet* editSheet() const { return m_editSheet; }
    BlockingBypassCooldownSheet* cooldownSheet() const { return m_cooldownSheet; }

    void openEditSheet();
    void requestRemove();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::optional<QString> handleEditedRule(const BlockRule& edited);
    void editSheetDismissed();
    void openCooldown();
    void bypassSheetDismissed();
    std::optional<BlockRule> storedRule() const;
    QString failureText() const;
    void refreshStatus();

    AppContext& m_context;
    ManageRuleFlow m_flow;
    QSet<QString> m_existingDomains;
    std::function<bool(const BlockRule&)> m_onSave;
    std::function<bool()> m_onRemove;
    QPointer<AddRuleSheet> m_editSheet;
    QPointer<BlockingBypassCooldownSheet> m_cooldownSheet;
    QLabel* m_status;
    QueuedCall m_queuedRefresh{this, [this] { refreshStatus(); }};
};
