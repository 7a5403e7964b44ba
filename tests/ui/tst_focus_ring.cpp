// Where the keyboard-focus ring stands when the focused control is placed after it got focus.
#include "ui/FocusButton.h"
#include "ui/FocusRing.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QTest>
#include <QVBoxLayout>

class TestFocusRing : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FocusRing::install(*qApp); }
    void ringSurroundsItsControl_data();
    void ringSurroundsItsControl();
};

void TestFocusRing::ringSurroundsItsControl_data()
{
    QTest::addColumn<bool>("focusFirst"); // focus given before the page is laid out and shown
    QTest::addColumn<bool>("pageHidden"); // the page is hidden while it is filled
    QTest::newRow("focused, then laid out") << true << false;
    QTest::newRow("focused in a hidden page, then shown") << true << true;
    QTest::newRow("laid out, then focused") << false << false;
}

void TestFocusRing::ringSurroundsItsControl()
{
    QFETCH(bool, focusFirst);
    QFETCH(bool, pageHidden);
    // A window that shows one page at a time and builds the next one while it is on screen.
    QWidget window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    auto* column = new QVBoxLayout(&window);
    window.resize(600, 200);
    window.show();
    QApplication::setActiveWindow(&window);

    auto* page = new QWidget;
    if (pageHidden)
        page->hide();
    auto* row = new QHBoxLayout(page);
    row->addStretch(1);
    auto* button = new FocusButton(QStringLiteral("Continue"), FocusCharcoalButtonStyle{13});
    row->addWidget(button);
    column->addWidget(page);
    if (focusFirst)
        button->setFocus(Qt::OtherFocusReason);
    if (pageHidden)
        page->show();
    QCoreApplication::processEvents();
    if (!focusFirst)
        button->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();

    QWidget* ring = FocusRing::visibleRing();
    QVERIFY(ring);
    QCOMPARE(ring->parentWidget(), button->parentWidget());
    // The ring lies just outside the button, whatever size the button had when it got focus.
    QVERIFY(ring->geometry().contains(button->geometry()));
    QVERIFY(button->geometry().adjusted(-8, -8, 8, 8).contains(ring->geometry()));
}

QTEST_MAIN(TestFocusRing)
#include "tst_focus_ring.moc"
