#include "ui/Symbols.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QFile>
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

    const QList<Theme::Design> designs{Theme::Design::standard, Theme::Design::serif, Theme::Design::monospaced,
                                       Theme::Design::digits};

private slots:
    // Once applied, each design names one family and draws in the one it drew in before. A family
    // that is not installed is passed over; with none installed the toolkit keeps its own choice.
    void designsNameTheirInstalledFamily()
    {
        QCOMPARE(Theme::firstInstalled({"No Such Face", "DejaVu Serif"}), QStringList{"DejaVu Serif"});
        QCOMPARE(Theme::firstInstalled({"No Such Face", "Nor This"}), (QStringList{"No Such Face", "Nor This"}));
        QStringList before;
        for (const Theme::Design design : designs)
            before.append(QFontInfo(Theme::font(13, QFont::Bold, design)).family());
        Theme::apply(*qApp);
        for (qsizetype i = 0; i < designs.size(); ++i) {
            QCOMPARE(Theme::font(13, QFont::Bold, designs[i]).families().size(), 1);
            QCOMPARE(QFontInfo(Theme::font(13, QFont::Bold, designs[i])).family(), before[i]);
        }
    }

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
};

QTEST_MAIN(TestThemeFonts)
#include "tst_theme_fonts.moc"
