// The block-page server alone, on a store with one all-day rule and the large data set of
// bench_store (10,000 to-dos, some of them today's), for bench_blockpage.sh to load with wrk.
//
//   blockpage_server <data folder>   prints "port <n>", "rule <id>" and "blocked-bytes <n>", then serves
//   blockpage_server --free-port     prints a port nobody listens on and exits
#include "LargeTodoList.h"
#include "NullNotifications.h"
#include "blocking/LocalBlockPageServer.h"
#include "files/Defaults.h"
#include "model/Json.h"
#include "store/StorageService.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTextStream>

namespace {

// What a blocked tab's address adds after the rule; bench_blockpage.sh asks for the same.
const QByteArray blockedQueryTail = "domain=news.example&from=https%3A%2F%2Fnews.example%2Fstory";

// The to-dos of bench_store's large data set, dated around the real present: 10,000 of them with
// steps and reminders, a few hundred daily series, about one in 400 created today.
void writeLargeTodoList(const QString& path, Date now)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(largeTodoList(now)).toJson());
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
    const Date now = SystemClock::instance().now();
    const QString data = folder.filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    writeLargeTodoList(QDir(data).filePath(TodoStore::fileName), now);
    Defaults defaults(folder.filePath(QStringLiteral("defaults.json")));
    NullNotifications notifications;
    StorageEnvironment env;
    env.clock = &SystemClock::instance();
    env.calendar = [] { return Calendar::current(); };
    env.defaults = &defaults;
    env.notifications = &notifications;
    StorageService store(FileStore{data}, env);
    if (!store.core().fatalError().isEmpty()) {
        QTextStream(stderr) << store.core().fatalError() << "\n";
        return 1;
    }

    BlockRule rule;
    rule.id = QUuid::createUuid();
    rule.domain = QStringLiteral("news.example");
    rule.displayName = QStringLiteral("News");
    rule.allowOneBreak = true;
    rule.createdAt = rule.updatedAt = now - 86400;
    store.blocking().addRule(rule);
    store.blocking().refreshBlockingState();
    if (store.blocking().state().blockedNow.empty()) {
        QTextStream(stderr) << "the rule is not blocked\n";
        return 1;
    }
    if (store.todos().openTodos().empty()) {
        QTextStream(stderr) << "no open to-do today\n";
        return 1;
    }

    LocalBlockPageServer server(&store);
    server.start(0, false);
    if (!server.port()) {
        QTextStream(stderr) << server.lastError().value_or(QString()) << "\n";
        return 1;
    }
    const QString id = uuidText(rule.id);
    const QByteArray answer =
        server.handleRequest("GET /blocked?rule=" + id.toLatin1() + "&" + blockedQueryTail +
                             " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n\r\n");
    if (!answer.startsWith("HTTP/1.1 200 ")) {
        QTextStream(stderr) << "the block page is not served: " << answer.left(40) << "\n";
        return 1;
    }
    out << "port " << *server.port() << "\nrule " << id << "\ntodos " << store.todos().todos().size()
        << "\nblocked-bytes " << answer.size() - answer.indexOf("\r\n\r\n") - 4 << Qt::endl;
    return app.exec();
}
