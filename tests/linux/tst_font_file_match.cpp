#include "TestEnvironment.h"

#include "linux/FontFileMatch.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

using Pattern = std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)>;

QByteArray fileOf(FcPattern* font)
{
    FcChar8* file = nullptr;
    FcPatternGetString(font, FC_FILE, 0, &file);
    return reinterpret_cast<const char*>(file);
}

QString described(const Pattern& p)
{
    FcChar8* text = p ? FcNameUnparse(p.get()) : nullptr;
    const QString out = QString::fromUtf8(reinterpret_cast<const char*>(text));
    FcStrFree(text);
    return out;
}

// What the toolkit asks on loading a face, under a family that would lead elsewhere; whether the
// file's fonts answered it, and then as fontconfig does among all fonts.
void expectAnswer(const QByteArrayList& files, int weight, bool fromFile)
{
    const Pattern asked(FcPatternCreate(), &FcPatternDestroy);
    FcPatternAddString(asked.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>("Serif"));
    for (const QByteArray& file : files)
        FcPatternAddString(asked.get(), FC_FILE, reinterpret_cast<const FcChar8*>(file.constData()));
    FcPatternAddInteger(asked.get(), FC_WEIGHT, weight);
    FcPatternAddDouble(asked.get(), FC_PIXEL_SIZE, weight == FC_WEIGHT_BOLD ? 42 : 13);
    FcConfigSubstitute(nullptr, asked.get(), FcMatchPattern);
    FcDefaultSubstitute(asked.get());
    FcResult result = FcResultNoMatch, ownResult = FcResultNoMatch;
    QCOMPARE(bool(Pattern(FontFileMatch::withinFile(nullptr, asked.get(), &result), &FcPatternDestroy)), fromFile);
    const Pattern own(FcFontMatch(nullptr, asked.get(), &ownResult), &FcPatternDestroy);
    QCOMPARE(described(Pattern(FontFileMatch::match(nullptr, asked.get(), &result), &FcPatternDestroy)),
             described(own));
    QCOMPARE(result, ownResult);
}

} // namespace

class TestFontFileMatch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(FcInit() && FcConfigGetFonts(nullptr, FcSetSystem)->nfont > 1); }

    // A number stands for that installed font's file, "*" for each in turn; a bold face is asked
    // at a heading's size, where the rules for sizes and synthetic bold come into play.
    void answers_data()
    {
        QTest::addColumn<QByteArrayList>("files");
        QTest::addColumn<int>("weight");
        QTest::addColumn<bool>("fromFile");
        QTest::newRow("each installed font") << QByteArrayList{"*"} << int(FC_WEIGHT_REGULAR) << true;
        QTest::newRow("each, bolder and larger") << QByteArrayList{"*"} << int(FC_WEIGHT_BOLD) << true;
        QTest::newRow("no file") << QByteArrayList{} << int(FC_WEIGHT_REGULAR) << false;
        QTest::newRow("a file not installed") << QByteArrayList{"/nowhere/Gone.ttf"} << int(FC_WEIGHT_REGULAR) << false;
        QTest::newRow("two files") << QByteArrayList{"0", "1"} << int(FC_WEIGHT_REGULAR) << false;
    }
    void answers()
    {
        QFETCH(QByteArrayList, files);
        QFETCH(int, weight);
        QFETCH(bool, fromFile);
        FcFontSet* installed = FcConfigGetFonts(nullptr, FcSetSystem);
        for (QByteArray& file : files)
            if (file.size() == 1 && file != "*")
                file = fileOf(installed->fonts[file.toInt()]);
        for (int i = 0; i < (files == QByteArrayList{"*"} ? installed->nfont : 1) && !QTest::currentTestFailed(); ++i)
            expectAnswer(files == QByteArrayList{"*"} ? QByteArrayList{fileOf(installed->fonts[i])} : files, weight,
                         fromFile);
    }

    // A font the program adds itself is in the application's set, not the system's.
    void applicationFont()
    {
        const QByteArray installed = fileOf(FcConfigGetFonts(nullptr, FcSetSystem)->fonts[0]);
        QTemporaryDir folder;
        const QByteArray copy =
            folder.filePath(QStringLiteral("added")).toLocal8Bit() + installed.mid(installed.lastIndexOf('.'));
        QVERIFY(QFile::copy(QString::fromLocal8Bit(installed), QString::fromLocal8Bit(copy)));
        QVERIFY(FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(copy.constData())));
        expectAnswer({copy}, FC_WEIGHT_REGULAR, true);
        FcConfigAppFontClear(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestFontFileMatch)
#include "tst_font_file_match.moc"
