// The keyboard-focus ring around its control: placed by a layout after it got focus, or flush with
// its container's edge; seen on every surface; shown when the keyboard or the program moved the
// focus.
#include "ui/FocusButton.h"
#include "ui/FocusRing.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

class TestFocusRing : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { FocusRing::install(*qApp); }
    void ringSurroundsItsControl_data();
    void ringSurroundsItsControl();
    void ringStandsOutOnItsSurface_data();
    void ringStandsOutOnItsSurface();
    void ringComesIntoView();
    void ringFollowsWhoMovedTheFocus_data();
    void ringFollowsWhoMovedTheFocus();
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

void TestFocusRing::ringStandsOutOnItsSurface_data()
{
    QTest::addColumn<QColor>("surface");
    QTest::addColumn<qreal>("scale");
    const QList<std::pair<const char*, QColor>> surfaces{{"paper", FocusColor::paper()},
                                                         {"white", FocusColor::white()},
                                                         {"wash", FocusColor::wash()},
                                                         {"hairline", FocusColor::hairline()},
                                                         {"dark card", FocusColor::ink()}};
    for (const auto& [name, color] : surfaces)
        for (const qreal scale : {1.0, 2.0})
            QTest::addRow("%s at %gx", name, scale) << color << scale;
}

// What a person sees beside the focused control differs from the bare surface by at least 3 : 1,
// light or dark, at both scales: measured on the drawn pixels, and on the palette's own colours.
void TestFocusRing::ringStandsOutOnItsSurface()
{
    QFETCH(QColor, surface);
    QFETCH(qreal, scale);
    qreal best = 1;
    for (const FocusRing::Band& band : FocusRing::bands())
        best = std::max(best, FocusColor::contrast(band.color, surface));
    QVERIFY2(best >= 3, qPrintable(QString::number(best)));

    QWidget window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    Theme::fillBackground(&window, surface);
    auto* row = new QHBoxLayout(&window);
    row->setContentsMargins(24, 24, 24, 24);
    auto* button = new FocusButton(QStringLiteral("Continue"), FocusCharcoalButtonStyle{13});
    row->addWidget(button);
    window.show();
    QApplication::setActiveWindow(&window);
    button->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    QVERIFY(FocusRing::visibleRing());

    QImage image((window.size() * scale), QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    window.render(&image);
    // Left of the button, on its middle line, out to where the ring ends.
    const int y = int((button->y() + button->height() / 2) * scale);
    qreal seen = 1;
    for (int x = int((button->x() - 8) * scale); x < int(button->x() * scale); ++x)
        seen = std::max(seen, FocusColor::contrast(image.pixelColor(x, y), surface));
    QVERIFY2(seen >= 3, qPrintable(QString::number(seen)));
}

// Tab wrapping round into a long page lands on a control below the fold: the page scrolls to it.
void TestFocusRing::ringComesIntoView()
{
    QScrollArea area;
    area.setAttribute(Qt::WA_DontShowOnScreen);
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->addWidget(new FocusButton(QStringLiteral("Today"), FocusCharcoalButtonStyle{13}));
    column->addSpacing(1200);
    auto* last = new FocusButton(QStringLiteral("Quit"), FocusCharcoalButtonStyle{13});
    column->addWidget(last);
    area.setWidget(page);
    area.setWidgetResizable(true);
    area.resize(300, 200);
    area.show();
    QApplication::setActiveWindow(&area);
    QCoreApplication::processEvents(); // laid out, at the top
    QCOMPARE(area.verticalScrollBar()->value(), 0);
    last->setFocus(Qt::BacktabFocusReason);
    QCoreApplication::processEvents();
    const QRect seen(last->mapTo(area.viewport(), QPoint()), last->size());
    QVERIFY(area.viewport()->rect().contains(seen));
    QVERIFY(FocusRing::visibleRing());
}

void TestFocusRing::ringFollowsWhoMovedTheFocus_data()
{
    QTest::addColumn<QString>("lastInput"); // "key" or "click"
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("ring");
    QTest::newRow("Tab") << "click" << int(Qt::TabFocusReason) << true;
    QTest::newRow("the program, after a key") << "key" << int(Qt::OtherFocusReason) << true;
    QTest::newRow("the window back, after a key") << "key" << int(Qt::ActiveWindowFocusReason) << true;
    QTest::newRow("a click") << "click" << int(Qt::MouseFocusReason) << false;
    QTest::newRow("the program, after a click") << "click" << int(Qt::OtherFocusReason) << false;
    QTest::newRow("the window back, after a click") << "click" << int(Qt::ActiveWindowFocusReason) << false;
}

void TestFocusRing::ringFollowsWhoMovedTheFocus()
{
    QFETCH(QString, lastInput);
    QFETCH(int, reason);
    QWidget window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    auto* row = new QHBoxLayout(&window);
    auto* first = new FocusButton(QStringLiteral("Cancel"), FocusCharcoalButtonStyle{13});
    auto* second = new FocusButton(QStringLiteral("Save"), FocusCharcoalButtonStyle{13});
    row->addWidget(first);
    row->addWidget(second);
    window.show();
    QApplication::setActiveWindow(&window);
    first->setFocus(Qt::TabFocusReason);
    if (lastInput == QLatin1String("key"))
        QTest::keyClick(first, Qt::Key_Shift);
    else if (lastInput == QLatin1String("click"))
        QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(1, 1));
    second->setFocus(Qt::FocusReason(reason));
    QCoreApplication::processEvents();
    QFETCH(bool, ring);
    QCOMPARE(FocusRing::visibleRing() != nullptr, ring);
}

QTEST_MAIN(TestFocusRing)
#include "tst_focus_ring.moc"
