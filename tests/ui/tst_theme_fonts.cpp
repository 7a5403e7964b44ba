#include "ui/Symbols.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QStandardPaths>
#include <QtTest>

namespace {

// The font files this process has mapped: the toolkit reads a face from the file it maps.
QStringList mappedFonts()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    QStringList files;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QString path = QString::fromLocal8Bit(line.mid(line.indexOf('/')));
        if (line.contains('/') && path.contains(QLatin1String("/fonts/")) && !files.contains(path))
            files.append(path);
    }
    return files;
}

} // namespace

// The interface's fonts as the theme sets them up.
class TestThemeFonts : public QObject {
    Q_OBJECT

private slots:
    // Where the icon font is installed both plain and compressed, the symbols come from the plain
    // file: the compressed one would be unpacked at every start.
    void symbolsUseThePlainIconFontFile_data()
    {
        QTest::addColumn<qreal>("textSize");
        QTest::newRow("rail symbols") << qreal(22);
        QTest::newRow("symbols beside text") << qreal(13);
    }
    void symbolsUseThePlainIconFontFile()
    {
        QFETCH(qreal, textSize);
        const QString plain = QStandardPaths::locate(
            QStandardPaths::GenericDataLocation,
            QStringLiteral("fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf"));
        if (plain.isEmpty())
            QSKIP("the icon font is not installed");
        Theme::apply(*qApp);
        QVERIFY(QFontMetricsF(Symbols::font(textSize)).horizontalAdvance(QChar(0xE39E)) > 0);
        const QStringList mapped = mappedFonts();
        QVERIFY2(mapped.contains(QFileInfo(plain).canonicalFilePath()) || mapped.contains(plain),
                 qPrintable(mapped.join(u' ')));
        for (const QString& file : mapped)
            QVERIFY2(!file.contains(QLatin1String("MaterialIcons")) || file.endsWith(QLatin1String(".ttf")),
                     qPrintable(file));
    }

    // Priming loads the faces the pages ask for, not a stand-in: each resolves to its family.
    void primedFacesAreTheInterfaceFaces_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("weight");
        QTest::newRow("text") << 0 << QStringLiteral("Inter") << int(QFont::Normal);
        QTest::newRow("medium text") << 1 << QStringLiteral("Inter") << int(QFont::Medium);
        QTest::newRow("titles") << 2 << QStringLiteral("Inter") << int(QFont::DemiBold);
        QTest::newRow("bold text") << 3 << QStringLiteral("Inter") << int(QFont::Bold);
        QTest::newRow("eyebrows") << 4 << QStringLiteral("Inter") << int(QFont::ExtraBold);
        QTest::newRow("headlines") << 5 << QStringLiteral("Noto Serif") << int(QFont::DemiBold);
        QTest::newRow("key hints") << 6 << QStringLiteral("DejaVu Sans Mono") << int(QFont::Normal);
        QTest::newRow("symbols") << 7 << QStringLiteral("Material Icons") << int(QFont::Normal);
    }
    void primedFacesAreTheInterfaceFaces()
    {
        QFETCH(int, index);
        QFETCH(QString, family);
        QFETCH(int, weight);
        Theme::apply(*qApp);
        const QList<QFont> faces = Theme::interfaceFaces();
        QVERIFY(index < faces.size());
        const QFont& face = faces[index];
        if (!QFontDatabase::families().contains(family))
            QSKIP("the face is not installed");
        Theme::prime(face);
        const QFontInfo info(face);
        QCOMPARE(info.family(), family);
        QCOMPARE(int(face.weight()), weight);
    }
};

QTEST_MAIN(TestThemeFonts)
#include "tst_theme_fonts.moc"
