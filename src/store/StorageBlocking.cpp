#include "store/StorageService.h"

// The blocking half of the store: which sites are blocked now, why and until when.

void StorageService::normalizeSharedState()
{
    const Calendar cal = calendar();
    const qint64 today = SharedState::dayIdFor(now(), cal);
    if (m_state.dayId != today) {
        SharedState fresh = SharedState::fresh(now(), cal);
        fresh.doomScroll = m_state.doomScroll;
        fresh.pauseUsedDayId = m_state.pauseUsedDayId;
        setState(fresh);
    }
}

void StorageService::refreshBlockingState()
{
    normalizeSharedState();
    SharedState next = m_state;
    next.blockedNow.clear();
    next.validUntil = now() + 60;
    setState(next);
    saveState();
}

bool StorageService::saveState()
{
    QString error;
    if (!writeFile(stateFile, encodeSharedState(m_state), &error)) {
        recordFailure(stateFile, error);
        return false;
    }
    clearFailure(stateFile);
    m_lastUsageStateSave = now();
    return true;
}
