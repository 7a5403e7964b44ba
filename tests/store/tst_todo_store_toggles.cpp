#include "StoreFixture.h"
#include "StoreTestSupport.h"

#include <QtTest>

using namespace StoreTest;

// A toggle looks only at the to-do it changed, as long as the store knows that the text its writer
// made last is of the to-dos as they were (a list taken in from a sync is); after anything that
// could make that untrue (a refused save, another writer's use) it looks at them all once. Either way
// the file holds exactly the to-dos the store shows.
class TestTodoStoreToggles : public QObject {
    Q_OBJECT

private slots:
    void toggleComparesWhatItMust_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("compared");
        QTest::newRow("first toggle after a load") << "load" << 1;
        QTest::newRow("after a toggle") << "toggle" << 1;
        QTest::newRow("after a step done") << "step" << 1;
        QTest::newRow("after a to-do added") << "add" << 1;
        QTest::newRow("after a refused toggle") << "refused toggle" << 5;
        QTest::newRow("after a refused to-do added") << "refused add" << 5;
        QTest::newRow("after a list taken in from a sync") << "sync" << 1;
        QTest::newRow("after a load of a file the writer did not write") << "foreign file" << 1;
    }
    void toggleComparesWhatItMust()
    {
        QFETCH(QString, before);
        QFETCH(int, compared);
        StoreFixture f;
        TodoStore* todos = &f.makeTodos();
        for (int i = 0; i < 5; ++i) {
            TaskItem t = todo(QStringLiteral("To-do %1").arg(i), f.clock.now() + i);
            t.subtasks = {{QUuid::createUuid(), QStringLiteral("Step"), false}};
            QVERIFY(todos->addTodo(t));
        }
        if (before == QLatin1String("foreign file")) // the same to-dos, written by another program
            QVERIFY(writeBytes(
                f.file(TodoStore::fileName),
                QJsonDocument(encodeList(todos->todos().toVector(), encodeTaskItem)).toJson(QJsonDocument::Compact)));
        f.clock.advance(60);
        todos = &f.makeTodos();
        const QUuid first = todos->todos()[0].id, target = todos->todos()[2].id;
        if (before == QLatin1String("toggle")) {
            QVERIFY(todos->toggleTodo(first));
        } else if (before == QLatin1String("step")) {
            QVERIFY(todos->toggleSubtask(first, todos->todos()[0].subtasks.at(0).id));
        } else if (before == QLatin1String("add")) {
            QVERIFY(todos->addTodo(todo(QStringLiteral("Added"), f.clock.now())));
        } else if (before.startsWith(QLatin1String("refused"))) {
            f.failing = QStringList{TodoStore::fileName};
            if (before == QLatin1String("refused toggle"))
                QVERIFY(todos->toggleTodo(first));
            else
                QVERIFY(todos->addTodo(todo(QStringLiteral("Refused"), f.clock.now())));
            f.core->waitForWrites(); // refused there, and taken back here
            f.failing.clear();
        } else if (before == QLatin1String("sync")) {
            std::vector<TaskItem> list = todos->todos().toVector();
            list[0].title = QStringLiteral("Renamed elsewhere");
            QVERIFY(todos->replaceTodosFromSync(list));
            f.core->waitForWrites();
        }
        f.core->waitForWrites(); // what the writer meets first is the toggle alone
        f.clock.advance(1);
        QVERIFY(todos->toggleTodo(target));
        QCOMPARE(int(todos->todosCompared()), compared);
        QVERIFY(todosInFile(f.file(TodoStore::fileName)) == todos->todos());
        if (before != QLatin1String("foreign file"))
            QVERIFY(readBytes(f.file(TodoStore::fileName)) == todosFileText(todos->todos().toVector()));
        const std::vector<TaskItem> shown = todos->todos().toVector();
        QVERIFY(f.makeTodos().todos() == shown);
    }
};

QTEST_GUILESS_MAIN(TestTodoStoreToggles)
#include "tst_todo_store_toggles.moc"
