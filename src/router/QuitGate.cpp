#include "router/QuitGate.h"

#include "platform/SelfInstall.h"
#include "store/StorageService.h"

#include <QPointer>

bool QuitGate::letsThrough(const Situation& s)
{
    return !s.hasStore || s.approved || s.relocating || !s.isProtected || s.systemQuit;
}

bool QuitGate::isProtected(const StorageService& storage)
{
    return !storage.blocking().rules().empty() || storage.blocking().doomScrollConfig().isEnabled;
}

QuitGate::QuitGate(StorageService* storage, std::function<void(std::function<void()>)> presentQuitWindow,
                   std::function<void()> terminate, const SelfInstall* selfInstall, QObject* parent)
    : QObject(parent), m_storage(storage), m_present(std::move(presentQuitWindow)), m_terminate(std::move(terminate)),
      m_selfInstall(selfInstall)
{
}

bool QuitGate::request(Origin origin)
{
    Situation situation;
    situation.hasStore = m_storage != nullptr;
    situation.approved = m_approved;
    situation.relocating = m_selfInstall && m_selfInstall->isRelocating();
    situation.isProtected = m_storage && isProtected(*m_storage);
    situation.systemQuit = origin == Origin::system;
    if (letsThrough(situation)) {
        if (m_terminate)
            m_terminate();
        return true;
    }
    if (m_present) {
        QPointer<QuitGate> self(this);
        m_present([self] {
            if (!self)
                return;
            self->approve();
            self->request();
        });
    }
    return false;
}
