// The block-page server alone, on a store with one all-day rule and a few to-dos, for
// bench_blockpage.sh to load with wrk.
//
//   blockpage_server <data folder>   prints "port <n>", "rule <id>" and "blocked-bytes <n>", then serves
//   blockpage_server --free-port     prints a port nobody listens on and exits
#include "NullNotifications.h"
#include "blocking/LocalBlockPageServer.h"
#include "platform/Defaults.h"
#include "store/StorageService.h"

#include <QCoreApplication>
#include <QDir>
#include <QTcpServer>
#include <QTextStream>

namespace {

TaskItem todo(const QString& title, TaskItem::Priority priority, const QString& time, int steps, Date now)
{
    TaskItem t;
    t.id = QUuid::createUuid();
    t.title = title;
    t.priority = priority;
    t.time = time;
    t.createdAt = t.updatedAt = now - 3600;
    for (int i = 0; i < steps; ++i)
        t.subtasks.push_back({QUuid::createUuid(), QStringLiteral("Step %1").arg(i + 1), i == 0});
    return t;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments();
    if (args.size() == 2 && args.at(1) == QLatin1String("--free-port")) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 1;
        out << probe.serverPort() << Qt::endl;
        return 0;
    }
    if (args.size() != 2 || !QDir().mkpath(args.at(1))) {
        QTextStream(stderr) << "usage: blockpage_server <data folder> | --free-port\n";
        return 2;
    }

    const QDir folder(args.at(1));
    Defaults defaults(folder.filePath(QStringLiteral("defaults.json")));
    NullNotifications notifications;
    StorageEnvironment env{&SystemClock::instance(), [] { return Calendar::current(); }, &defaults, &notifications,
                           nullptr};
    StorageService store(FileStore{folder.filePath(QStringLiteral("data"))}, env);
    if (!store.fatalError().isEmpty()) {
        QTextStream(stderr) << store.fatalError() << "\n";
        return 1;
    }

    const Date now = SystemClock::instance().now();
    BlockRule rule;
    rule.id = QUuid::createUuid();
    rule.domain = QStringLiteral("news.example");
    rule.displayName = QStringLiteral("News");
    rule.allowOneBreak = true;
    rule.createdAt = rule.updatedAt = now - 86400;
    store.addRule(rule);
    store.addTodo(todo(QStringLiteral("Draft the quarterly report"), TaskItem::Priority::high,
                       QStringLiteral("9:30 AM"), 5, now));
    store.addTodo(todo(QStringLiteral("Call the plumber"), TaskItem::Priority::medium, TaskItem::anytime, 0, now));
    store.addTodo(
        todo(QStringLiteral("Book train tickets"), TaskItem::Priority::low, QStringLiteral("5:00 PM"), 0, now));
    store.addTodo(todo(QStringLiteral("Read chapter 4"), TaskItem::Priority::low, TaskItem::anytime, 2, now));
    store.addTodo(todo(QStringLiteral("Water the plants"), TaskItem::Priority::medium, TaskItem::anytime, 0, now));
    store.refreshBlockingState();
    if (store.state().blockedNow.empty()) {
        QTextStream(stderr) << "the rule is not blocked\n";
        return 1;
    }

    LocalBlockPageServer server(&store);
    server.start(0, false);
    if (!server.port()) {
        QTextStream(stderr) << server.lastError().value_or(QString()) << "\n";
        return 1;
    }
    const QString id = uuidText(rule.id);
    const QByteArray answer = server.handleRequest("GET /blocked?rule=" + id.toLatin1() +
                                                   "&from=https%3A%2F%2Fnews.example%2F HTTP/1.1\r\n\r\n");
    out << "port " << *server.port() << "\nrule " << id << "\nblocked-bytes "
        << answer.size() - answer.indexOf("\r\n\r\n") - 4 << Qt::endl;
    return app.exec();
}
