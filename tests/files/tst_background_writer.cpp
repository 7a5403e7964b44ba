#include "files/BackgroundWriter.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// A disk that keeps what it is given in order and holds the writing thread at the start of each
// write until the test lets it go on.
struct Disk {
    std::mutex mutex;
    QStringList writes; // "path:text", in the order they reached the disk
    QSemaphore entered, proceed;

    BackgroundWriter::Writer writer()
    {
        return [this](const QString& path, const QByteArray& bytes, QString*) {
            entered.release();
            proceed.acquire();
            std::lock_guard lock(mutex);
            writes.append(path + u':' + QString::fromUtf8(bytes));
            return true;
        };
    }
    QStringList written()
    {
        std::lock_guard lock(mutex);
        return writes;
    }
};

// Notes the thread it is freed on: an encoder holding one frees it there too.
struct FreedOn {
    std::mutex* mutex = nullptr;
    QList<QThread*>* threads = nullptr;
    ~FreedOn()
    {
        std::lock_guard lock(*mutex);
        threads->append(QThread::currentThread());
    }
};

void ask(BackgroundWriter& writer, const QString& entry, std::shared_ptr<FreedOn> held = nullptr)
{
    const QString path = entry.section(u':', 0, 0);
    const QByteArray text = entry.section(u':', 1).toUtf8();
    writer.write(path, [text, held = std::move(held)] { return text; });
}

} // namespace

class TestBackgroundWriter : public QObject {
    Q_OBJECT

private slots:
    // While the first write is on its way, the others queue: each file's writes land in the
    // order asked, a file's writes still waiting collapse into its newest, and the newest text
    // of every file is the one left on the disk.
    void orderAndCoalescing_data()
    {
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("one file asked again and again")
            << QStringList{"a:1", "a:2", "a:3", "a:4"} << QStringList{"a:1", "a:4"};
        QTest::newRow("another file does not wait for the newer one")
            << QStringList{"a:1", "b:1", "a:2", "b:2"} << QStringList{"a:1", "b:2", "a:2"};
        QTest::newRow("nothing to collapse") << QStringList{"a:1", "b:1", "c:1"} << QStringList{"a:1", "b:1", "c:1"};
        QTest::newRow("the file under way is written again after")
            << QStringList{"a:1", "a:2"} << QStringList{"a:1", "a:2"};
    }
    void orderAndCoalescing()
    {
        QFETCH(QStringList, asked);
        QFETCH(QStringList, written);
        Disk disk;
        std::mutex freedMutex;
        QList<QThread*> freedOn;
        const auto held = [&] {
            auto note = std::make_shared<FreedOn>();
            note->mutex = &freedMutex;
            note->threads = &freedOn;
            return note;
        };
        BackgroundWriter writer(disk.writer());
        QSignalSpy done(&writer, &BackgroundWriter::written);
        ask(writer, asked.first(), held());
        QVERIFY(disk.entered.tryAcquire(1, 30000));
        for (const QString& entry : asked.mid(1))
            ask(writer, entry, held());
        QVERIFY(writer.isPending(QStringLiteral("a")));
        disk.proceed.release(int(asked.size()));
        writer.finish();
        QCOMPARE(disk.written(), written);
        QVERIFY(!writer.isPending(QStringLiteral("a")));

        // One answer per write made, one of them naming the newest write asked for.
        QCOMPARE(done.size(), written.size());
        quint64 newest = 0;
        for (const QList<QVariant>& answer : done) {
            QVERIFY(answer.at(2).toBool());
            newest = std::max<quint64>(newest, answer.at(1).toULongLong());
        }
        QCOMPARE(newest, writer.lastGeneration());

        // What every encoder held, the replaced ones' too, went on the writing thread.
        std::lock_guard lock(freedMutex);
        QCOMPARE(freedOn.size(), asked.size());
        QVERIFY(!freedOn.contains(QThread::currentThread()));
    }

    // Going away finishes every write asked for, and none is made after.
    void destructionFinishesQueuedWrites()
    {
        Disk disk;
        auto writer = std::make_unique<BackgroundWriter>(disk.writer());
        ask(*writer, QStringLiteral("a:1"));
        QVERIFY(disk.entered.tryAcquire(1, 30000));
        for (const char* entry : {"b:1", "a:2", "c:1"})
            ask(*writer, QString::fromUtf8(entry));
        disk.proceed.release(4);
        writer.reset();
        const QStringList written = disk.written();
        QCOMPARE(written, (QStringList{"a:1", "b:1", "a:2", "c:1"}));
    }
};

QTEST_GUILESS_MAIN(TestBackgroundWriter)
#include "tst_background_writer.moc"
