#include "ui/InTurns.h"

#include <QObject>
#include <QPointer>
#include <memory>

namespace {

void runFrom(QPointer<QObject> owner, std::shared_ptr<std::vector<std::function<void()>>> steps, size_t next)
{
    if (!owner || next >= steps->size())
        return;
    // Posted from inside a step, the next one waits for the loop's next round.
    QMetaObject::invokeMethod(
        owner.data(),
        [owner, steps, next] {
            (*steps)[next]();
            runFrom(owner, steps, next + 1);
        },
        Qt::QueuedConnection);
}

} // namespace

void runInTurns(QObject* owner, std::vector<std::function<void()>> steps)
{
    runFrom(owner, std::make_shared<std::vector<std::function<void()>>>(std::move(steps)), 0);
}
