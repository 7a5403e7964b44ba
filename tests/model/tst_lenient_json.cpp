#include "model/LenientJson.h"

#include <QJsonArray>
#include <QtTest>

// A value the JSON parser refuses costs itself only, in a list as in an object.
class TestLenientJson : public QObject {
    Q_OBJECT

private slots:
    void arrayKeepsWhatParses_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("parsed"); // 1 for an element that parses, 0 for one that does not
        QTest::addColumn<bool>("complete");
        QTest::newRow("clean") << QByteArray("[{\"a\":1}, {\"b\":[2,3]}]") << QList<int>{1, 1} << true;
        QTest::newRow("empty") << QByteArray(" [ ] ") << QList<int>{} << true;
        QTest::newRow("a number beyond a double")
            << QByteArray("[{\"a\":1e400}, {\"b\":2}]") << QList<int>{0, 1} << false;
        QTest::newRow("a word that is no literal")
            << QByteArray("[{\"b\":2}, tru, {\"c\":3}]") << QList<int>{1, 0, 1} << false;
        QTest::newRow("brackets inside texts") << QByteArray("[\"]\", {\"k\":\"}{,\"}]") << QList<int>{1, 1} << true;
        QTest::newRow("cut short") << QByteArray("[{\"a\":1}, {\"b\":") << QList<int>{1} << false;
        QTest::newRow("not an array") << QByteArray("{\"a\":1}") << QList<int>{} << false;
        QTest::newRow("text after the end") << QByteArray("[1] x") << QList<int>{1} << false;
        QTest::newRow("two byte-order marks") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF [1]") << QList<int>{1} << false;
    }
    void arrayKeepsWhatParses()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, parsed);
        QFETCH(bool, complete);
        bool whole = !complete;
        const std::vector<std::optional<QJsonValue>> values = LenientJson::readArray(text, whole);
        QList<int> got;
        for (const auto& v : values)
            got.append(v ? 1 : 0);
        QCOMPARE(got, parsed);
        QCOMPARE(whole, complete);
    }

    void objectKeepsWhatParses()
    {
        bool complete = true;
        const QJsonObject o = LenientJson::readObject("{\"a\": 1e400, \"b\": [1, 2], \"c\": \"x\"}", complete);
        QVERIFY(!complete);
        QCOMPARE(o.keys(), (QStringList{"b", "c"}));
        QCOMPARE(o.value("b").toArray().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLenientJson)
#include "tst_lenient_json.moc"
