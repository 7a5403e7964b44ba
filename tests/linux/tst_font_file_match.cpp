#include "TestEnvironment.h"

#include "linux/FontFileMatch.h"

#include <QtTest>

namespace {

using Pattern = std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)>;

QByteArray fileOf(FcPattern* font)
{
    FcChar8* file = nullptr;
    FcPatternGetString(font, FC_FILE, 0, &file);
    return reinterpret_cast<const char*>(file);
}

// What the toolkit asks on loading a face, under a family that would lead elsewhere: whether the
// file's fonts answered it, and the same as fontconfig does among all fonts.
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
    const Pattern ours(FontFileMatch::match(nullptr, asked.get(), &result), &FcPatternDestroy);
    QVERIFY2(own && ours && FcPatternEqual(own.get(), ours.get()) && result == ownResult, files.join(' '));
}

} // namespace

class TestFontFileMatch : public QObject {
    Q_OBJECT

private slots:
    // Each installed font's file, also asked for a bold face at a heading's size (where the rules
    // for sizes and synthetic bold come in), is answered by its own fonts; what they cannot answer
    // (no file, one not installed, two) is fontconfig's to match among all fonts.
    void answersAsFontconfig()
    {
        QVERIFY(FcInit());
        const FcFontSet* installed = FcConfigGetFonts(nullptr, FcSetSystem);
        QVERIFY(installed && installed->nfont > 1);
        for (const int weight : {FC_WEIGHT_REGULAR, FC_WEIGHT_BOLD})
            for (int i = 0; i < installed->nfont && !QTest::currentTestFailed(); ++i)
                expectAnswer({fileOf(installed->fonts[i])}, weight, true);
        for (const QByteArrayList& files : {QByteArrayList{}, QByteArrayList{"/nowhere/Gone.ttf"},
                                            QByteArrayList{fileOf(installed->fonts[0]), fileOf(installed->fonts[1])}})
            if (!QTest::currentTestFailed())
                expectAnswer(files, FC_WEIGHT_REGULAR, false);
    }
};

QTEST_GUILESS_MAIN(TestFontFileMatch)
#include "tst_font_file_match.moc"
