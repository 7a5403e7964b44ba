// The keyboard-focus ring around a control that got focus before a layout placed it.
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
    QTest::newRow("focused, then laid out") << true;
    QTest::newRow("laid out, then focused") << false;
}

void TestFocusRing::ringSurroundsItsControl()
{
    QFETCH(bool, focusFirst);
    // A window on screen that builds its next page, as the onboarding does at each step.
    QWidget window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    auto* column = new QHBoxLayout(&window);
    window.resize(600, 200);
    window.show();
    QApplication::setActiveWindow(&window);
    auto* page = new QWidget;
    auto* button = new FocusButton(QStringLiteral("Continue"), FocusCharcoalButtonStyle{13});
    (new QHBoxLayout(page))->addWidget(button, 0, Qt::AlignRight);
    column->addWidget(page);
    if (focusFirst)
        button->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    button->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    QWidget* ring = FocusRing::visibleRing();
    QVERIFY(ring && ring->parentWidget() == page);
    QVERIFY(ring->geometry().contains(button->geometry()));
    QVERIFY(button->geometry().adjusted(-8, -8, 8, 8).contains(ring->geometry()));
}

QTEST_MAIN(TestFocusRing)
#include "tst_focus_ring.moc"
