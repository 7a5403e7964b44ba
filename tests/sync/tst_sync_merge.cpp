// The two-way merge of the local list with the items read from the cloud: which side wins, where
// new items go, and which deletions travel. The same rules for to-dos and for notes.
#include "TestEnvironment.h"
#include "model/Json.h"
#include "model/Note.h"
#include "model/TaskItem.h"
#include "sync/SyncMerge.h"

#include <QtTest>

Q_DECLARE_METATYPE(TaskItem)
Q_DECLARE_METATYPE(Note)

char* toString(const TaskItem& t)
{
    return qstrdup(QStringLiteral("%1 (updatedAt %2)")
                       .arg(SyncMerge::fingerprint(t))
                       .arg(t.updatedAt, 0, 'f', 6)
                       .toUtf8()
                       .constData());
}
char* toString(const Note& n)
{
    return qstrdup(QStringLiteral("%1 (updatedAt %2)")
                       .arg(SyncMerge::fingerprint(n))
                       .arg(n.updatedAt, 0, 'f', 6)
                       .toUtf8()
                       .constData());
}

namespace {

// Ids named by a letter. Their text order is the letter order, while QUuid's own ordering (variant
// first) puts C before A before B, so an id sort that is not by text shows.
QUuid letterId(QChar letter)
{
    static const QHash<QChar, QString> texts{
        {u'A', QStringLiteral("0A000000-0000-4000-8000-000000000000")},
        {u'B', QStringLiteral("0B000000-0000-0000-C000-000000000000")},
        {u'C', QStringLiteral("0C000000-0000-0000-0000-000000000000")},
        {u'D', QStringLiteral("0D000000-0000-4000-8000-000000000000")},
        {u'E', QStringLiteral("0E000000-0000-4000-8000-000000000000")},
        {u'N', QStringLiteral("2A000000-0000-1000-0000-000000000000")},
        {u'X', QStringLiteral("FF000000-0000-4000-8000-000000000000")},
    };
    Q_ASSERT(texts.contains(letter));
    return parseUuid(texts.value(letter)).value();
}

QSet<QUuid> letterIds(const QString& letters)
{
    QSet<QUuid> out;
    for (QChar c : letters)
        out.insert(letterId(c));
    return out;
}

// The label goes into the title, so it is part of the fingerprint as well.
template <typename T> T makeItem(const QUuid& id, Date updatedAt, const QString& label);
template <> TaskItem makeItem(const QUuid& id, Date updatedAt, const QString& label)
{
    TaskItem t;
    t.id = id;
    t.title = label;
    t.time = TaskItem::anytime;
    t.createdAt = -100;
    t.updatedAt = updatedAt;
    return t;
}
template <> Note makeItem(const QUuid& id, Date updatedAt, const QString& label)
{
    return Note{id, label, QStringLiteral("body"), -100, updatedAt};
}

// "A@5:a1 B@0.5:b" is A updated at 5 s labelled a1, then B updated at 0.5 s labelled b.
template <typename T> std::vector<T> items(const QString& text)
{
    std::vector<T> out;
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
        const qsizetype at = word.indexOf(u'@');
        const qsizetype colon = word.indexOf(u':');
        out.push_back(
            makeItem<T>(letterId(word.at(0)), word.mid(at + 1, colon - at - 1).toDouble(), word.mid(colon + 1)));
    }
    Q_ASSERT(text.count(u'@') == static_cast<qsizetype>(out.size()));
    return out;
}

template <typename T> QString labels(const std::vector<T>& list)
{
    QStringList out;
    for (const T& item : list)
        out << item.title;
    return out.join(u' ');
}

// One item per side, fetched, known, nothing pending, no manifest.
template <typename T> MergeResult<T> mergeOne(const T& local, const T& remote)
{
    return SyncMerge::merge<T>({local}, {remote}, {remote.id}, {remote.id}, {}, false);
}

// Forty interleaved copies each of N, B and A, later copies updated later: enough that the id
// sort must be stable by design, not by the small-list luck of insertion sort.
QString manyCopies()
{
    QStringList words;
    for (int i = 1; i <= 40; ++i)
        for (const QString& letter : {QStringLiteral("N"), QStringLiteral("B"), QStringLiteral("A")})
            words << QStringLiteral("%1@%2:%3%4").arg(letter).arg(50 + i).arg(letter.toLower()).arg(i);
    return words.join(u' ');
}

void addScenarios()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("fetched");
    QTest::addColumn<QString>("known");
    QTest::addColumn<QString>("pending");
    QTest::addColumn<bool>("authoritative");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("changed");

    // clang-format off
    QTest::newRow("both empty") << "" << "" << "" << "" << "" << false << "" << false;
    QTest::newRow("both empty, manifest found") << "" << "" << "" << "AB" << "" << true << "" << false;
    QTest::newRow("later remote replaces at the local position")
        << "A@10:a B@10:b C@10:c" << "C@10:c B@11:B A@10:a" << "ABC" << "ABC" << "" << false << "a B c" << true;
    QTest::newRow("later local stays") << "A@12:a" << "A@11:A" << "A" << "A" << "" << false << "a" << false;
    QTest::newRow("local duplicate: later one kept at the first place")
        << "A@5:a1 B@0:b A@7:a2" << "" << "" << "" << "" << false << "a2 b" << true;
    QTest::newRow("local duplicate: equal times keep the first")
        << "A@5:a1 B@0:b A@5:a2" << "" << "" << "" << "" << false << "a1 b" << true;
    QTest::newRow("local duplicate: an earlier listed later one stays")
        << "A@7:a1 A@5:a2" << "" << "" << "" << "" << false << "a1" << true;
    QTest::newRow("local duplicate: full precision within one second")
        << "A@5.1:a1 A@5.2:a2 A@5.15:a3" << "" << "" << "" << "" << false << "a2" << true;
    QTest::newRow("local duplicate, then a remote copy in the same second")
        << "A@5.1:a1 A@5.2:a2" << "A@5.9:a0" << "A" << "A" << "" << false << "a2" << true;
    QTest::newRow("remote-only items after the local ones, in id text order")
        << "X@0:x" << "C@1:c B@1:b" << "BC" << "" << "" << false << "x b c" << true;
    QTest::newRow("remote-only order does not depend on fetch order")
        << "X@0:x" << "B@1:b C@1:c" << "BC" << "" << "" << false << "x b c" << true;
    QTest::newRow("remote-only into an empty list")
        << "" << "C@3:c X@1:x A@2:a B@9:b" << "ABCX" << "" << "" << true << "a b c x" << true;
    QTest::newRow("pending delete beats a later remote copy")
        << "A@10:a" << "A@20:A" << "A" << "A" << "A" << false << "a" << false;
    QTest::newRow("pending delete keeps a remote copy out")
        << "B@1:b" << "A@20:A" << "A" << "A" << "A" << true << "b" << false;
    QTest::newRow("no manifest: known but not fetched is kept")
        << "A@1:a B@1:b" << "A@1:a" << "A" << "AB" << "" << false << "a b" << false;
    QTest::newRow("manifest: known but not fetched was deleted elsewhere")
        << "A@1:a B@1:b" << "A@1:a" << "A" << "AB" << "" << true << "a" << true;
    QTest::newRow("manifest: deleted elsewhere while pending deletion here")
        << "A@1:a B@1:b" << "A@1:a" << "A" << "AB" << "B" << true << "a b" << false;
    QTest::newRow("manifest: never uploaded is kept")
        << "A@1:a B@1:b" << "A@1:a" << "A" << "A" << "" << true << "a b" << false;
    QTest::newRow("manifest: fetched but unreadable is left alone")
        << "A@1:a B@1:b" << "" << "AB" << "AB" << "" << true << "a b" << false;
    QTest::newRow("manifest: every local item deleted elsewhere")
        << "A@1:a B@1:b" << "" << "" << "AB" << "" << true << "" << true;
    QTest::newRow("manifest: new remote item is kept though not yet known")
        << "" << "N@1:n" << "N" << "" << "" << true << "n" << true;
    QTest::newRow("two remote copies of a new id: the first in remote order")
        << "X@0:x" << "N@1:n1 N@2:n2" << "N" << "" << "" << false << "x n1" << true;
    QTest::newRow("two remote copies of a local id: each compared in turn")
        << "A@10:a" << "A@12:A2 A@11:A1" << "A" << "A" << "" << false << "A2" << true;
    QTest::newRow("many remote copies of new ids: the first of each, not the latest")
        << "X@0:x" << manyCopies() << "ABN" << "" << "" << false << "x a1 b1 n1" << true;
    // X known and gone, A tied in its second (local "a2" > remote "A"), B later remotely,
    // C new, E pending, D never uploaded.
    QTest::newRow("everything at once")
        << "X@5:x A@10:a A@11:a2 B@3:b D@1:d" << "E@50:e C@1:c A@11.5:A B@4:B"
        << "ECAB" << "XABCE" << "E" << true << "a2 B d c" << true;
    // clang-format on
}

template <typename T> void runScenario()
{
    QFETCH(QString, local);
    QFETCH(QString, remote);
    QFETCH(QString, fetched);
    QFETCH(QString, known);
    QFETCH(QString, pending);
    QFETCH(bool, authoritative);
    QFETCH(QString, expected);
    QFETCH(bool, changed);
    const MergeResult<T> result = SyncMerge::merge<T>(items<T>(local), items<T>(remote), letterIds(fetched),
                                                      letterIds(known), letterIds(pending), authoritative);
    QCOMPARE(labels(result.items), expected);
    QCOMPARE(result.changed, changed);
}

} // namespace

class TestSyncMerge : public QObject {
    Q_OBJECT
private slots:
    void todoScenarios_data() { addScenarios(); }
    void todoScenarios() { runScenario<TaskItem>(); }
    void noteScenarios_data() { addScenarios(); }
    void noteScenarios() { runScenario<Note>(); }

    // One to-do on each side: whole seconds first, then the greater fingerprint.
    void todoLocalAgainstRemote_data()
    {
        QTest::addColumn<TaskItem>("local");
        QTest::addColumn<TaskItem>("remote");
        QTest::addColumn<bool>("remoteWins");

        const QUuid a = letterId(u'A');
        const auto todo = [a](Date updatedAt, const QString& title) { return makeItem<TaskItem>(a, updatedAt, title); };
        const QString x = QStringLiteral("Walk dog");

        QTest::newRow("remote a second later") << todo(10.0, x) << todo(11.0, x) << true;
        QTest::newRow("remote a second earlier") << todo(12.0, x) << todo(11.0, x) << false;
        QTest::newRow("later second wins over a smaller fingerprint") << todo(10.9, "b") << todo(11.0, "a") << true;
        QTest::newRow("same second, only fractions differ") << todo(10.2, x) << todo(10.9, x) << false;
        QTest::newRow("same second, only fractions differ the other way") << todo(10.9, x) << todo(10.2, x) << false;
        QTest::newRow("same second, remote fingerprint greater")
            << todo(10.9, "Walk dog A") << todo(10.2, "Walk dog B") << true;
        QTest::newRow("same second, local fingerprint greater despite earlier fraction")
            << todo(10.2, "Walk dog B") << todo(10.9, "Walk dog A") << false;
        QTest::newRow("same second, longer title is greater") << todo(10.0, x) << todo(10.0, x + u's') << true;
        {
            TaskItem local = todo(10.2, x);
            TaskItem remote = todo(10.7, x);
            remote.isCompleted = true;
            QTest::newRow("same second, completed elsewhere") << local << remote << true;
            QTest::newRow("same second, reopened elsewhere") << remote << local << false;
        }
        {
            TaskItem local = todo(10.2, x);
            TaskItem remote = todo(10.7, x);
            local.dueDate = 500.01;
            remote.dueDate = 500.99;
            remote.createdAt = local.createdAt + 0.5;
            QTest::newRow("same second, other dates differ only in fractions") << local << remote << false;
        }
        QTest::newRow("before 1970: -1.0 and -0.2 share a second, local greater")
            << todo(-1.0, "b") << todo(-0.2, "a") << false;
        QTest::newRow("before 1970: -0.2 and -1.0 share a second, remote greater")
            << todo(-0.2, "a") << todo(-1.0, "b") << true;
        QTest::newRow("before 1970: -0.5 is earlier than 0.0") << todo(-0.5, "z") << todo(0.0, "a") << true;
        QTest::newRow("before 1970: 0.0 is later than -0.5") << todo(0.0, "a") << todo(-0.5, "z") << false;
        // U+FF5E sorts before U+1F600 by scalar value, after it by UTF-16 code unit.
        const QString fullwidthTilde = QStringLiteral("x\uFF5E");
        const QString grin = QStringLiteral("x\U0001F600");
        QTest::newRow("same second, emoji above the basic plane is greater")
            << todo(7.1, fullwidthTilde) << todo(7.2, grin) << true;
        QTest::newRow("same second, emoji above the basic plane stays")
            << todo(7.1, grin) << todo(7.2, fullwidthTilde) << false;
        const QString precomposed = QStringLiteral("Caf\u00E9");
        const QString decomposed = QStringLiteral("Cafe\u0301");
        QTest::newRow("same second, canonically equivalent titles")
            << todo(7.1, precomposed) << todo(7.9, decomposed) << false;
        QTest::newRow("same second, canonically equivalent titles reversed")
            << todo(7.1, decomposed) << todo(7.9, precomposed) << false;
        // After composition "é" (U+00E9) is greater than "f", although its first unit "e" is not.
        QTest::newRow("same second, composed form decides") << todo(7.0, "f") << todo(7.0, decomposed.mid(3)) << true;
    }
    void todoLocalAgainstRemote()
    {
        QFETCH(TaskItem, local);
        QFETCH(TaskItem, remote);
        QFETCH(bool, remoteWins);
        const MergeResult<TaskItem> result = mergeOne(local, remote);
        QCOMPARE(result.items.size(), size_t(1));
        QCOMPARE(result.items.front(), remoteWins ? remote : local);
        QCOMPARE(result.changed, remoteWins);
    }

    void noteLocalAgainstRemote_data()
    {
        QTest::addColumn<Note>("local");
        QTest::addColumn<Note>("remote");
        QTest::addColumn<bool>("remoteWins");
        const QUuid a = letterId(u'A');
        const auto note = [a](Date updatedAt, const QString& body) {
            return Note{a, QStringLiteral("T"), body, 0, updatedAt};
        };

        QTest::newRow("remote a second later") << note(10.0, "b") << note(11.0, "a") << true;
        QTest::newRow("remote a second earlier") << note(12.0, "a") << note(11.0, "b") << false;
        QTest::newRow("same second, identical text") << note(10.2, "a") << note(10.9, "a") << false;
        QTest::newRow("same second, remote body greater") << note(10.9, "a") << note(10.2, "b") << true;
        QTest::newRow("same second, local body greater") << note(10.2, "b") << note(10.9, "a") << false;
        QTest::newRow("same second, body above the basic plane greater")
            << note(3.0, QStringLiteral("\uFF5E")) << note(3.5, QStringLiteral("\U0001F600")) << true;
        QTest::newRow("same second, canonically equivalent bodies")
            << note(3.0, QStringLiteral("\u00C5ngstr\u00F6m")) << note(3.5, QStringLiteral("A\u030Angstro\u0308m"))
            << false;
        QTest::newRow("before 1970: -0.2 and -1.0 share a second") << note(-0.2, "a") << note(-1.0, "b") << true;
        QTest::newRow("before 1970: -0.5 is earlier than 0.0") << note(-0.5, "z") << note(0.0, "a") << true;
        Note retitled = note(10.5, "a");
        retitled.title = QStringLiteral("U");
        QTest::newRow("same second, title decides when bodies match") << note(10.1, "a") << retitled << true;
    }
    void noteLocalAgainstRemote()
    {
        QFETCH(Note, local);
        QFETCH(Note, remote);
        QFETCH(bool, remoteWins);
        const MergeResult<Note> result = mergeOne(local, remote);
        QCOMPARE(result.items.size(), size_t(1));
        QCOMPARE(result.items.front(), remoteWins ? remote : local);
        QCOMPARE(result.changed, remoteWins);
    }

    void textOrder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("aLess");
        QTest::addColumn<bool>("bLess");
        QTest::newRow("equal") << "abc"
                               << "abc" << false << false;
        QTest::newRow("empty first") << ""
                                     << "a" << true << false;
        QTest::newRow("proper prefix first") << "ab"
                                             << "abc" << true << false;
        QTest::newRow("upper case before lower case") << "B"
                                                      << "a" << true << false;
        QTest::newRow("scalar order above the basic plane")
            << QStringLiteral("\uFF5E") << QStringLiteral("\U0001F600") << true << false;
        QTest::newRow("private use area before the supplementary planes")
            << QStringLiteral("\uE000") << QStringLiteral("\U00010000") << true << false;
        QTest::newRow("precomposed equals decomposed")
            << QStringLiteral("caf\u00E9") << QStringLiteral("cafe\u0301") << false << false;
        QTest::newRow("angstrom sign equals A with ring")
            << QStringLiteral("\u212B") << QStringLiteral("\u00C5") << false << false;
        QTest::newRow("combining marks in either order")
            << QStringLiteral("a\u0323\u0307") << QStringLiteral("a\u0307\u0323") << false << false;
        QTest::newRow("composed form decides") << QStringLiteral("e\u0301") << "f" << false << true;
        QTest::newRow("equal after composition, then the next character")
            << QStringLiteral("e\u0301x") << QStringLiteral("\u00E9y") << true << false;
    }
    void textOrder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, aLess);
        QFETCH(bool, bLess);
        QCOMPARE(SyncMerge::textLess(a, b), aLess);
        QCOMPARE(SyncMerge::textLess(b, a), bLess);
    }

    // The indexes the sync run builds from the same lists.
    void indexesById()
    {
        const auto list = items<TaskItem>("A@5:a1 B@1:b1 A@7:a2 B@1:b2 A@6:a3");
        const QHash<QUuid, TaskItem> latest = SyncMerge::latestById(list);
        QCOMPARE(latest.size(), 2);
        QCOMPARE(latest.value(letterId(u'A')).title, QStringLiteral("a2"));
        QCOMPARE(latest.value(letterId(u'B')).title, QStringLiteral("b1"));
        const QHash<QUuid, TaskItem> first = SyncMerge::firstById(list);
        QCOMPARE(first.size(), 2);
        QCOMPARE(first.value(letterId(u'A')).title, QStringLiteral("a1"));
        QCOMPARE(first.value(letterId(u'B')).title, QStringLiteral("b1"));

        const auto remote = items<TaskItem>("C@1:c E@1:e A@9:a N@1:n1 N@1:n2 D@1:d");
        const auto only = SyncMerge::remoteOnly(remote, letterIds("E"), latest);
        QCOMPARE(labels(only), QStringLiteral("c n1 n2 d")); // remote order, nothing sorted yet
    }
};

QTEST_GUILESS_MAIN(TestSyncMerge)
#include "tst_sync_merge.moc"
