#include "app/PopoverContent.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::optional<QPoint>)

// Where the popover opens: by the tray icon when the tray says where it is, at the pointer where
// its position is current, and otherwise at the panel's end of the screen, never at a stale
// pointer position.
class TestPopoverPlacement : public QObject {
    Q_OBJECT

private slots:
    void placement_data()
    {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<std::optional<QPoint>>("cursor");
        QTest::addColumn<QRect>("available"); // of a 1920×1080 screen
        QTest::addColumn<QString>("near");    // the corner or point the popover must sit by
        const QRect full(0, 0, 1920, 1080);
        const std::optional<QPoint> none;
        const QRect topPanel = full.adjusted(0, 32, 0, 0);
        QTest::newRow("icon in a top panel: under it")
            << QRect(1800, 4, 24, 24) << std::optional(QPoint(5, 5)) << topPanel << "icon below";
        QTest::newRow("icon in a bottom panel: over it")
            << QRect(1800, 1052, 24, 24) << none << full.adjusted(0, 0, 0, -32) << "icon above";
        QTest::newRow("no icon, current pointer")
            << QRect() << std::optional(QPoint(1700, 10)) << topPanel << "pointer";
        QTest::newRow("no icon, no pointer, top panel") << QRect() << none << topPanel << "top right";
        QTest::newRow("no icon, no pointer, bottom panel")
            << QRect() << none << full.adjusted(0, 0, 0, -48) << "bottom right";
        QTest::newRow("no icon, no pointer, left dock")
            << QRect() << none << full.adjusted(64, 0, 0, 0) << "bottom left";
        QTest::newRow("no icon, no pointer, no panel known") << QRect() << none << full << "top right";
    }

    void placement()
    {
        QFETCH(QRect, icon);
        QFETCH(std::optional<QPoint>, cursor);
        QFETCH(QRect, available);
        QFETCH(QString, near);
        const QRect full(0, 0, 1920, 1080);
        const QSize size(372, 500);
        const QRect at(PopoverContent::position(icon, cursor, size, full, available), size);
        QVERIFY2(available.contains(at), qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
        const auto close = [](int a, int b) { return std::abs(a - b) <= 12; };
        if (near == QLatin1String("icon below")) {
            QVERIFY(at.top() > icon.bottom() && close(at.top(), icon.bottom()));
            QVERIFY(at.left() <= icon.center().x() && at.right() >= icon.center().x() - 100);
        } else if (near == QLatin1String("icon above")) {
            QVERIFY(at.bottom() < icon.top() && close(at.bottom(), icon.top()));
        } else if (near == QLatin1String("pointer")) {
            QVERIFY(at.contains(QPoint(cursor->x(), at.top())) && close(at.top(), available.top()));
        } else {
            QCOMPARE(close(at.top(), available.top()), near.startsWith(QLatin1String("top")));
            QCOMPARE(close(at.bottom(), available.bottom()), near.startsWith(QLatin1String("bottom")));
            QCOMPARE(close(at.right(), available.right()), near.endsWith(QLatin1String("right")));
            QCOMPARE(close(at.left(), available.left()), near.endsWith(QLatin1String("left")));
        }
    }
};

QTEST_GUILESS_MAIN(TestPopoverPlacement)
#include "tst_popover_placement.moc"
