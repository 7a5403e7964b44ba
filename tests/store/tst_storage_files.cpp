#include "StoreFixture.h"

#include <QtTest>

class TestStorageFiles : public QObject {
    Q_OBJECT
private slots:
    void firstStartOnEmptyFolder()
    {
        StoreFixture f;
        StorageService& store = f.make();
        QVERIFY(store.fatalError().isEmpty());
        QVERIFY(!store.lastError());
        QVERIFY(store.todos().empty());
        QCOMPARE(store.doomScrollConfig(), DoomScrollConfig::defaults());
        QCOMPARE(store.state().dayId, 20261207);
        QVERIFY(QFile::exists(f.file(QStringLiteral("state.json"))));
    }
};

QTEST_GUILESS_MAIN(TestStorageFiles)
#include "tst_storage_files.moc"