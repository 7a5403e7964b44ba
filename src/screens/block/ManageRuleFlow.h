#pragma once

#include "model/BlockRule.h"
#include "screens/block/BypassCooldown.h"

#include <optional>

// The decisions of the manage-rule sheet: a tightening is stored at once, a loosening and a
// removal wait for the cool-down, and when the sheet closes. No widgets, no store.
class ManageRuleFlow {
public:
    explicit ManageRuleFlow(BlockRule opened) : m_opened(std::move(opened)) {}

    const BlockRule& rule() const { return m_opened; }

    // An edit loosens when it blocks less than the rule as opened or than the rule as the store
    // holds it now (after a granted loosening the two differ).
    bool isLoosening(const BlockRule& edited, const std::optional<BlockRule>& current) const;

    enum class EditDecision { saveNow, holdForCooldown };
    EditDecision handleEditedRule(const BlockRule& edited, const std::optional<BlockRule>& current);
    // The edit handed over by saveNow was stored.
    void tightened() { m_didTighten = true; }

    // What a cool-down waits to do.
    struct PendingBypass {
        BlockingBypassKind kind;
        std::optional<BlockRule> looserEdit; // absent: the removal
    };

    enum class Next { openCooldown, close, stay };
    Next editSheetDismissed();
    void requestRemove();
    const std::optional<PendingBypass>& pendingBypass() const { return m_pending; }
    Next bypassSheetDismissed(bool ruleStillStored);

private:
    BlockRule m_opened;
    std::optional<BlockRule> m_looserEdit;
    std::optional<PendingBypass> m_pending;
    bool m_didTighten = false;
};
