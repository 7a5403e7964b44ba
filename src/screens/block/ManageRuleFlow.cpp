#include "screens/block/ManageRuleFlow.h"

bool ManageRuleFlow::isLoosening(const BlockRule& edited, const std::optional<BlockRule>& current) const
{
    return edited.isLoosened(m_opened) || (current && edited.isLoosened(*current));
}

ManageRuleFlow::EditDecision ManageRuleFlow::handleEditedRule(const BlockRule& edited,
                                                              const std::optional<BlockRule>& current)
{
    if (isLoosening(edited, current)) {
        m_looserEdit = edited;
        return EditDecision::holdForCooldown;
    }
    return EditDecision::saveNow;
}

ManageRuleFlow::Next ManageRuleFlow::editSheetDismissed()
{
    if (m_looserEdit) {
        m_pending = PendingBypass{BlockingBypassKind::loosenRule(m_opened.displayName), std::move(m_looserEdit)};
        m_looserEdit.reset();
        return Next::openCooldown;
    }
    return m_didTighten ? Next::close : Next::stay;
}

void ManageRuleFlow::requestRemove()
{
    m_pending = PendingBypass{BlockingBypassKind::removeRule(m_opened.displayName), std::nullopt};
}

ManageRuleFlow::Next ManageRuleFlow::bypassSheetDismissed(bool ruleStillStored)
{
    m_pending.reset();
    return ruleStillStored ? Next::stay : Next::close;
}
