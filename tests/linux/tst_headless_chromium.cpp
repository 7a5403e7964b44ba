#include "HeadlessChromium.h"
#include "ProcessTag.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

namespace {

// Chromium's singleton folders in `folder`, which it leaves there when it is stopped.
QStringList singletons(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("org.chromium.Chromium.*")}, QDir::Dirs | QDir::Hidden);
}

} // namespace

// The browser the tests start leaves nothing behind: no folder, in the temporary folder or of
// its own, and no process.
class TestHeadlessChromium : public QObject {
    Q_OBJECT

private slots:
    void stopsWithoutLeftovers()
    {
        if (!HeadlessChromium::isInstalled())
            QFAIL("chromium is not installed (scripts/install-deps installs it)");
        const QStringList before = singletons(QDir::tempPath());
        QString home, temp;
        QByteArray tag;
        {
            HeadlessChromium browser;
            QVERIFY2(browser.browserEndpoint(), "chromium did not open its debugging port");
            home = QFileInfo(browser.profilePath() + QStringLiteral("/../..")).canonicalFilePath();
            temp = browser.tempPath();
            tag = browser.tag();
            // Its singleton is in the folder that goes with it.
            QCOMPARE(singletons(temp).size(), 1);
            QVERIFY(QFileInfo(browser.profilePath() + QStringLiteral("/SingletonSocket"))
                        .symLinkTarget()
                        .startsWith(temp + QLatin1Char('/')));
            QVERIFY(!ProcessTag::carrying(tag).isEmpty());
        }
        QVERIFY(ProcessTag::carrying(tag).isEmpty());
        QCOMPARE(singletons(QDir::tempPath()), before);
        // Nothing of it wrote into its folder once that was removed.
        QVERIFY2(!QFileInfo::exists(home), qPrintable(home));
    }
};

QTEST_GUILESS_MAIN(TestHeadlessChromium)
#include "tst_headless_chromium.moc"
