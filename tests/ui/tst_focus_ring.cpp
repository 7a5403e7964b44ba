// The keyboard-focus ring around its control: placed by a layout after it got focus, or flush with
// its container's edge.
#include "ui/FocusButton.h"
#include "ui/FocusRing.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QTest>

class TestFocusRing : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FocusRing::install(*qApp); }
    void ringSurroundsItsControl_data();
    void ringSurroundsItsControl();
};

void TestFocusRing::ringSurroundsItsControl_data()
{
    QTest::addColumn<bool>("focusFirst"); // before the new page is laid out and shown
    QTest::addColumn<int>("margin");      // of the page around the control
    QTest::newRow("focused, then laid out") << true << 12;
    QTest::newRow("laid out, then focused") << false << 12;
    QTest::newRow("flush with the page's edge") << false << 0;
}

void TestFocusRing::ringSurroundsItsControl()
{
    QFETCH(bool, focusFirst);
    QFETCH(int, margin);
    // A window on screen that builds its next page, as the onboarding does at each step.
    QWidget window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    auto* column = new QHBoxLayout(&window);
    window.resize(600, 200);
    window.show();
    QApplication::setActiveWindow(&window);
    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(margin, margin, margin, margin);
    auto* button = new FocusButton(QStringLiteral("Continue"), FocusCharcoalButtonStyle{13});
    row->addWidget(button, 0, Qt::AlignRight | Qt::AlignBottom);
    column->addWidget(page);
    if (focusFirst)
        button->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    button->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    QWidget* ring = FocusRing::visibleRing();
    QVERIFY(ring);
    // Just outside the button, and all of it inside the widget it is drawn in.
    const QRect around(ring->mapTo(&window, QPoint()), ring->size());
    const QRect control(button->mapTo(&window, QPoint()), button->size());
    QVERIFY(around.contains(control) && control.adjusted(-8, -8, 8, 8).contains(around));
    QVERIFY(ring->parentWidget()->rect().contains(ring->geometry()));
}

QTEST_MAIN(TestFocusRing)
#include "tst_focus_ring.moc"
