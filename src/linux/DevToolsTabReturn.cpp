#include "linux/DevToolsTabReturn.h"

#include "linux/DevToolsClient.h"
#include "linux/DevToolsConnections.h"

#include <QJsonArray>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <utility>

namespace DevToolsTabReturn {

namespace {

// Counts the answers still awaited; the last one, or the time-out, finishes.
struct Waiting {
    int open = 1; // the listing itself, until every browser was asked
    std::function<void()> done;
    void settle()
    {
        if (--open == 0 && done)
            std::exchange(done, nullptr)();
    }
};

} // namespace

void sendBack(DevToolsConnections& connections, const QStringList& browserIds, ReturnAddress returnAddress,
              int timeoutMs, std::function<void()> done)
{
    auto waiting = std::make_shared<Waiting>();
    waiting->done = std::move(done);
    QTimer::singleShot(timeoutMs, &connections, [waiting] {
        if (waiting->done)
            std::exchange(waiting->done, nullptr)();
    });
    for (const QString& browserId : browserIds) {
        DevToolsClient* client = connections.openClient(browserId);
        if (!client)
            continue;
        ++waiting->open;
        QPointer<DevToolsClient> guarded(client);
        client->send(
            QStringLiteral("Target.getTargets"), {}, timeoutMs,
            [guarded, waiting, returnAddress, timeoutMs](const QJsonObject& result, const DevToolsClient::Error&) {
                for (const QJsonValue& v : result.value(QStringLiteral("targetInfos")).toArray()) {
                    const QJsonObject target = v.toObject();
                    if (target.value(QStringLiteral("type")).toString() != QLatin1String("page"))
                        continue;
                    const std::optional<QString> to = returnAddress(target.value(QStringLiteral("url")).toString());
                    if (!to || !guarded)
                        continue;
                    ++waiting->open;
                    guarded->send(
                        QStringLiteral("Target.attachToTarget"),
                        {{QStringLiteral("targetId"), target.value(QStringLiteral("targetId"))},
                         {QStringLiteral("flatten"), true}},
                        timeoutMs,
                        [guarded, waiting, to = *to, timeoutMs](const QJsonObject& attached,
                                                                const DevToolsClient::Error&) {
                            const QString session = attached.value(QStringLiteral("sessionId")).toString();
                            if (session.isEmpty() || !guarded) {
                                waiting->settle();
                                return;
                            }
                            guarded->send(
                                QStringLiteral("Page.navigate"), {{QStringLiteral("url"), to}}, timeoutMs,
                                [waiting](const QJsonObject&, const DevToolsClient::Error&) { waiting->settle(); },
                                session);
                        });
                }
                waiting->settle();
            });
    }
    waiting->settle();
}

} // namespace DevToolsTabReturn
