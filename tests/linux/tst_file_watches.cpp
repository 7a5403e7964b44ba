// The program's file watches: one inotify instance for all of them, what a watch hears of, and
// what its users do where no watch can be had.
#include "TestEnvironment.h"
#include "linux/BrowserDiscovery.h"
#include "linux/FileWatches.h"
#include "linux/LinuxSystemEvents.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {

// The inotify instances this process holds.
int inotifyInstances()
{
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        char target[256] = {};
        if (::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1) > 0)
            count += QByteArray(target) == "anon_inode:inotify";
    }
    return count;
}

bool write(const QString& path, const QByteArray& bytes = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestFileWatches : public QObject {
    Q_OBJECT

private slots:
    // However many folders the program watches, and however many of its parts watch them, one
    // instance serves them all.
    void oneInstanceForEveryWatch()
    {
        QTemporaryDir root;
        const int before = inotifyInstances();
        ManualClock clock(TestEnvironment::at(2026, 12, 7, 10));
        LinuxSystemEvents events(clock, [] { return TestEnvironment::calendar(); });
        std::vector<std::unique_ptr<BrowserDiscovery>> discoveries;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("home%1/.config/chromium").arg(i))));
            discoveries.push_back(std::make_unique<BrowserDiscovery>(root.filePath(QStringLiteral("home%1").arg(i)),
                                                                     root.filePath(QStringLiteral("proc"))));
            discoveries.back()->start();
            QVERIFY(discoveries.back()->unwatchedFolders().isEmpty());
        }
        FileWatches& shared = FileWatches::shared();
        for (int i = 0; i < 40; ++i) {
            QVERIFY(QDir().mkpath(root.filePath(QString::number(i))));
            QVERIFY(shared.add(root.filePath(QString::number(i)), [] {}) >= 0);
        }
        QVERIFY(!events.looksAtZoneByTheMinute());
        QVERIFY(inotifyInstances() - before <= 1);
    }

    // A folder's watch hears of its entries, not of what is written into them; a file's, of writes
    // to it as well. A sentinel folder watched after it tells when every earlier event is in:
    // the kernel queues one instance's events in order.
    void whatIsHeard_data()
    {
        QTest::addColumn<QString>("watched"); // "folder" or "folder/file"
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("heard");
        QTest::addColumn<bool>("stillWatching");
        QTest::newRow("file made") << "folder"
                                   << "make new" << true << true;
        QTest::newRow("file removed") << "folder"
                                      << "remove file" << true << true;
        QTest::newRow("file renamed") << "folder"
                                      << "rename file" << true << true;
        QTest::newRow("file written") << "folder"
                                      << "write file" << false << true;
        QTest::newRow("file in a subfolder made") << "folder"
                                                  << "make sub/new" << false << true;
        QTest::newRow("attributes changed") << "folder"
                                            << "chmod file" << true << true;
        QTest::newRow("the folder removed") << "folder"
                                            << "empty ." << true << false;
        QTest::newRow("watched file written") << "folder/file"
                                              << "write file" << true << true;
        QTest::newRow("watched file replaced") << "folder/file"
                                               << "replace file" << true << false;
        QTest::newRow("beside the watched file") << "folder/file"
                                                 << "make new" << false << true;
    }
    void whatIsHeard()
    {
        QFETCH(QString, watched);
        QFETCH(QString, action);
        QTemporaryDir root;
        const QDir folder(root.filePath(QStringLiteral("folder")));
        QVERIFY(write(folder.filePath(QStringLiteral("file"))));
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("sub"))));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("sentinel"))));
        FileWatches watches;
        int heard = 0, sentinel = 0;
        const int id = watches.add(root.filePath(watched), [&] { ++heard; });
        QVERIFY(id >= 0);
        QVERIFY(watches.add(root.filePath(QStringLiteral("sentinel")), [&] { ++sentinel; }) >= 0);

        const QString verb = action.section(u' ', 0, 0), what = folder.filePath(action.section(u' ', 1));
        if (verb == QLatin1String("make") || verb == QLatin1String("write"))
            QVERIFY(write(what, "more"));
        else if (verb == QLatin1String("remove"))
            QVERIFY(QFile::remove(what));
        else if (verb == QLatin1String("empty"))
            QVERIFY(QDir(what).removeRecursively() && !folder.exists());
        else if (verb == QLatin1String("rename"))
            QVERIFY(QFile::rename(what, what + QStringLiteral(".old")));
        else if (verb == QLatin1String("chmod"))
            QVERIFY(QFile::setPermissions(what, QFile::ReadOwner));
        else if (verb == QLatin1String("replace"))
            QVERIFY(write(what + QStringLiteral(".new")) &&
                    ::rename(QFile::encodeName(what + QStringLiteral(".new")), QFile::encodeName(what)) == 0);
        QVERIFY(write(root.filePath(QStringLiteral("sentinel/now"))));
        QTRY_VERIFY_WITH_TIMEOUT(sentinel > 0, 30000);
        QTEST(heard > 0, "heard");
        QTEST(watches.watching(id), "stillWatching");
    }

    // Two users of one path each keep their watch while the other removes theirs; the last one
    // removed lets the path go.
    void sharedPath()
    {
        QTemporaryDir root;
        FileWatches watches;
        int first = 0, second = 0;
        const int a = watches.add(root.path(), [&] { ++first; });
        const int b = watches.add(root.path(), [&] { ++second; });
        QVERIFY(a >= 0 && b >= 0 && a != b);
        QVERIFY(write(root.filePath(QStringLiteral("one"))));
        QTRY_VERIFY_WITH_TIMEOUT(first > 0 && second > 0, 30000);
        watches.remove(a);
        const int secondBefore = second;
        QVERIFY(write(root.filePath(QStringLiteral("two"))));
        QTRY_VERIFY_WITH_TIMEOUT(second > secondBefore, 30000);
        QCOMPARE(first, 1);
        QVERIFY(watches.watching(b) && !watches.watching(a));
        watches.remove(b);
        QCOMPARE(watches.count(), 0);
    }

    // Where no watch can be had, the zone and the browsers' folders are looked at once a minute,
    // and what those looks find is news as a watch's would be.
    void noWatchToBeHad_data()
    {
        QTest::addColumn<bool>("usable");
        QTest::addColumn<bool>("portWritten");
        QTest::newRow("watches to be had") << true << false;
        QTest::newRow("none, nothing changed") << false << false;
        QTest::newRow("none, a browser started") << false << true;
    }
    void noWatchToBeHad()
    {
        QFETCH(bool, usable);
        QFETCH(bool, portWritten);
        FileWatches watches(usable);
        ManualClock clock(TestEnvironment::at(2026, 12, 7, 10));
        LinuxSystemEvents events(
            clock, [] { return TestEnvironment::calendar(); }, nullptr, &watches);
        QCOMPARE(events.looksAtZoneByTheMinute(), !usable);

        QTemporaryDir home, proc;
        const QString profile = home.filePath(QStringLiteral(".config/chromium"));
        QVERIFY(QDir().mkpath(profile));
        BrowserDiscovery discovery(home.path(), proc.path(), nullptr, &watches);
        discovery.start();
        QCOMPARE(discovery.unwatchedFolders().contains(profile), !usable);
        if (usable)
            return;
        QSignalSpy changed(&discovery, &BrowserDiscovery::changed);
        if (portWritten)
            QVERIFY(write(profile + QStringLiteral("/DevToolsActivePort"), "9222\n/devtools/browser/x"));
        discovery.lookAtUnwatchedFolders();
        QCOMPARE(changed.count(), portWritten ? 1 : 0);
        discovery.lookAtUnwatchedFolders();
        QCOMPARE(changed.count(), portWritten ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestFileWatches)
#include "tst_file_watches.moc"
