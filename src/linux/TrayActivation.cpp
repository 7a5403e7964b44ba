#include "linux/TrayActivation.h"

#include <QDBusMessage>
#include <QVariant>

// The bus library's own hook for method calls on exported objects, run on the main thread just
// before the call is delivered: the only place the point can still be read.
void qDBusAddSpyHook(void (*)(const QDBusMessage&));

namespace {

std::optional<QPoint> activation;

void spy(const QDBusMessage& call)
{
    if (call.member() != QLatin1String("Activate") || call.interface() != QLatin1String("org.kde.StatusNotifierItem"))
        return;
    const QList<QVariant> arguments = call.arguments();
    // (0, 0) is what hosts that do not know send.
    if (arguments.size() == 2 && (arguments[0].toInt() != 0 || arguments[1].toInt() != 0))
        activation = QPoint(arguments[0].toInt(), arguments[1].toInt());
    else
        activation.reset();
}

} // namespace

namespace TrayActivation {

void listen()
{
    static const bool added = [] {
        qDBusAddSpyHook(&spy);
        return true;
    }();
    Q_UNUSED(added);
}

std::optional<QPoint> take()
{
    return std::exchange(activation, std::nullopt);
}

} // namespace TrayActivation
