#include "TestEnvironment.h"
#include "platform/WindowHints.h"

#include "ui/Accessibility.h"
#include "ui/CardShadow.h"
#include "ui/ChipScroller.h"
#include "ui/ChoiceDialog.h"
#include "ui/ClickableArea.h"
#include "ui/Controls.h"
#include "ui/CountdownRing.h"
#include "ui/Eyebrow.h"
#include "ui/FlowLayout.h"
#include "ui/FocusButton.h"
#include "ui/FocusCards.h"
#include "ui/FocusPage.h"
#include "ui/FocusRing.h"
#include "ui/Headings.h"
#include "ui/InTurns.h"
#include "ui/LazyRows.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/QueuedCall.h"
#include "ui/ReturnKey.h"
#include "ui/Sheet.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/TodoRows.h"
#include "ui/WrappingLabel.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

using Kind = FocusSheetButtonStyle::Kind;

namespace {

TaskItem todo(const QString& title, int steps = 0, int done = 0)
{
    TaskItem t;
    t.id = QUuid::createUuid();
    t.title = title;
    t.time = TaskItem::anytime;
    t.priority = TaskItem::Priority::high;
    for (int i = 0; i < steps; ++i)
        t.subtasks.push_back(Subtask{QUuid::createUuid(), QStringLiteral("Step %1").arg(i + 1), i < done});
    return t;
}

// Lays a widget out at a width and the height it needs there.
void layOut(QWidget* w, int width)
{
    w->setAttribute(Qt::WA_DontShowOnScreen);
    w->show();
    w->resize(width, w->hasHeightForWidth() ? w->heightForWidth(width) : w->sizeHint().height());
    QCoreApplication::processEvents();
}

// A scrolling page of our own, as the pages are: a class Qt has no interface for by name.
class OwnScroller : public QScrollArea {
    Q_OBJECT
};

QString accessibleName(QWidget* w)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

} // namespace

class TestUiComponents : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sheetPlacement_data();
    void sheetPlacement();
    void sheetDimsItsWindowWhileOpen();
    void lastRowReachedByKeyboardKeepsThePadding();
    void optionsMenuOpensInThePalette();
    void hexColors_data();
    void hexColors();
    void meterFill_data();
    void meterFill();
    void flowArrangement_data();
    void flowArrangement();
    void flowLayoutWrapsInItsContainer();
    void buttonStates_data();
    void buttonStates();
    void shadowAtPixelRatio_data();
    void shadowAtPixelRatio();
    void labelsKeepColourInClickableAreas();
    void chipRowScrolls_data();
    void chipRowScrolls();
    void motionOnItsClock_data();
    void motionOnItsClock();
    void pageColumns_data();
    void pageColumns();
    void heroCardContent_data();
    void heroCardContent();
    void heroCardClicks();
    void quietRowStates_data();
    void quietRowStates();
    void earlierRowFromText_data();
    void earlierRowFromText();
    void quietRowMeterMatchesTheRow_data();
    void quietRowMeterMatchesTheRow();
    void quietRowMeterBuildsNoWidgets();
    void quietRowMeterTypicalIsAOneLineRow_data();
    void quietRowMeterTypicalIsAOneLineRow();
    void lazyRowsBuildWhatIsInView_data();
    void lazyRowsBuildWhatIsInView();
    void lazyRowsAskOncePerWidth_data();
    void lazyRowsAskOncePerWidth();
    void lazyRowsKeepRowsByKey();
    void lazyRowsTabInListOrder_data();
    void lazyRowsTabInListOrder();
    void lazyRowsTabPastTheBuiltRows_data();
    void lazyRowsTabPastTheBuiltRows();
    void lazyRowsGuessThenMeasure_data();
    void lazyRowsGuessThenMeasure();
    void lazyRowsTakeTheirLengthOnceMeasured();
    void lazyRowsStartLongListsInSlices_data();
    void lazyRowsStartLongListsInSlices();
    void lazyRowsKeepHeightsAcrossNewOrders();
    void textsStayPlainAndNamed();
    void scrollingAreaChildrenFollowItsBars_data();
    void scrollingAreaChildrenFollowItsBars();
    void wrappingLabelGrowsAndLimits();
    void wrappingHeightWithoutALabel_data();
    void wrappingHeightWithoutALabel();
    void choiceDialogAnswers_data();
    void choiceDialogAnswers();
    void choiceDialogHoldsItsText_data();
    void choiceDialogHoldsItsText();
    void queuedCallRunsOnce_data();
    void queuedCallRunsOnce();
    void stepsRunOnePerTurn_data();
    void stepsRunOnePerTurn();
    void countdownRingState_data();
    void countdownRingState();
};

void TestUiComponents::initTestCase()
{
    FocusRing::install(*qApp);
    ReturnKey::install(*qApp);
}

void TestUiComponents::hexColors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("expected");
    const QColor gold(0xED, 0xCB, 0x6A);
    QTest::newRow("hash") << "#EDCB6A" << gold;
    QTest::newRow("bare") << "EDCB6A" << gold;
    QTest::newRow("half alpha") << "80EDCB6A" << QColor(0xED, 0xCB, 0x6A, 0x80);
    QTest::newRow("three digits doubled") << "F80" << QColor(255, 136, 0);
    QTest::newRow("no hex digits") << "ZZZZZZ" << QColor(0, 0, 0);
    QTest::newRow("stops at non-digit") << "12G456" << QColor(0, 0, 0x12);
    QTest::newRow("empty") << "" << QColor(1, 1, 0, 1);
    QTest::newRow("letter of another script counts") << "EDCB6A\u00E9" << QColor(1, 1, 0, 1);
    QTest::newRow("guillemets trimmed") << "\u00ABEDCB6A\u00BB" << gold;
    QTest::newRow("hex prefix") << "0xABCD" << QColor(0, 0xAB, 0xCD);
}

void TestUiComponents::hexColors()
{
    QFETCH(QString, text);
    QFETCH(QColor, expected);
    const QColor c = colorFromHex(text);
    QCOMPARE(c.rgba(), expected.rgba());
    QCOMPARE(c.spec(), QColor::Rgb);
}

void TestUiComponents::meterFill_data()
{
    QTest::addColumn<qreal>("fraction");
    QTest::addColumn<qreal>("filled");
    QTest::newRow("half") << 0.5 << 100.0;
    QTest::newRow("zero draws nothing") << 0.0 << 0.0;
    QTest::newRow("below zero draws nothing") << -0.2 << 0.0;
    QTest::newRow("tiny is a dot") << 0.01 << 6.0;
    QTest::newRow("not a number draws nothing") << qreal(std::nan("")) << 0.0;
    QTest::newRow("infinite is full") << qreal(INFINITY) << 200.0;
}

void TestUiComponents::meterFill()
{
    QFETCH(qreal, fraction);
    QFETCH(qreal, filled);
    QCOMPARE(FocusMeter::filledWidth(200, fraction, 6), filled);
}

void TestUiComponents::flowArrangement_data()
{
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<QPoint>>("origins");
    QTest::addColumn<int>("height");
    QTest::newRow("nothing") << QList<QSize>{} << 100 << QList<QPoint>{} << 0;
    QTest::newRow("third wraps") << QList<QSize>{{40, 20}, {40, 20}, {40, 20}} << 100
                                 << QList<QPoint>{{0, 0}, {46, 0}, {0, 26}} << 46;
    QTest::newRow("ends exactly at the edge")
        << QList<QSize>{{47, 20}, {47, 20}} << 100 << QList<QPoint>{{0, 0}, {53, 0}} << 20;
    QTest::newRow("one past the edge") << QList<QSize>{{47, 20}, {48, 20}} << 100 << QList<QPoint>{{0, 0}, {0, 26}}
                                       << 46;
    QTest::newRow("too wide stays first")
        << QList<QSize>{{150, 20}, {10, 10}} << 100 << QList<QPoint>{{0, 0}, {0, 26}} << 36;
    QTest::newRow("tallest of a row") << QList<QSize>{{30, 10}, {30, 40}, {80, 5}} << 100
                                      << QList<QPoint>{{0, 0}, {36, 0}, {0, 46}} << 51;
}

void TestUiComponents::flowArrangement()
{
    QFETCH(QList<QSize>, sizes);
    QFETCH(int, width);
    QFETCH(QList<QPoint>, origins);
    QFETCH(int, height);
    const FlowLayout::Arrangement a = FlowLayout::arrange(sizes, width, 6);
    QList<QPoint> placed;
    for (const QRect& r : a.frames)
        placed.append(r.topLeft());
    QCOMPARE(placed, origins);
    QCOMPARE(a.size, QSize(width, height));
}

void TestUiComponents::flowLayoutWrapsInItsContainer()
{
    // Chips in a column: the column grows in height when its width shrinks.
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* host = new QWidget;
    auto* flow = new FlowLayout(6, host);
    QList<QWidget*> children;
    for (int i = 0; i < 5; ++i) {
        auto* child = new QWidget;
        child->setFixedSize(90, 30);
        flow->addWidget(child);
        children.append(child);
    }
    column->addWidget(host);
    column->addStretch();

    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    window.resize(400, 300);
    QCoreApplication::processEvents();
    QCOMPARE(host->height(), 66);

    window.resize(100, 300);
    QCoreApplication::processEvents();
    QCOMPARE(children.at(1)->pos(), QPoint(0, 36));
    QCOMPARE(host->height(), 5 * 30 + 4 * 6);
    QVERIFY(window.minimumSizeHint().width() <= 100);

    // Hidden children take no place.
    children.at(0)->hide();
    window.resize(100, 301);
    QCoreApplication::processEvents();
    QCOMPARE(children.at(1)->pos(), QPoint(0, 0));
}

void TestUiComponents::buttonStates_data()
{
    QTest::addColumn<FocusButtonStyle>("style");
    QTest::addColumn<bool>("fullWidth");
    QTest::addColumn<int>("cornerClicks");
    QTest::newRow("gold") << FocusButtonStyle(FocusGoldButtonStyle{false, 14}) << false << 0;
    QTest::newRow("gold full width") << FocusButtonStyle(FocusGoldButtonStyle{true, 14}) << true << 0;
    QTest::newRow("ghost") << FocusButtonStyle(FocusGhostButtonStyle{14}) << false << 0;
    QTest::newRow("link") << FocusButtonStyle(FocusLinkButtonStyle{13, FocusColor::alert()}) << false << 1;
    QTest::newRow("plain") << FocusButtonStyle(FocusPlainButtonStyle{13.5, FocusColor::textSecondary()}) << false << 1;
    QTest::newRow("charcoal") << FocusButtonStyle(FocusCharcoalButtonStyle{13}) << false << 0;
    QTest::newRow("pill") << FocusButtonStyle(FocusPillButtonStyle{false, 13}) << false << 0;
    QTest::newRow("selected pill") << FocusButtonStyle(FocusPillButtonStyle{true, 13}) << false << 0;
    QTest::newRow("primary sheet") << FocusButtonStyle(FocusSheetButtonStyle{Kind::primary, true}) << true << 0;
    QTest::newRow("outline sheet") << FocusButtonStyle(FocusSheetButtonStyle{Kind::outline, true}) << true << 0;
}

void TestUiComponents::buttonStates()
{
    // Idle, hovered, pressed, disabled and keyboard-focused each look different from one another;
    // a mouse click gives no focus ring. A full-width button stretches in a row.
    QFETCH(FocusButtonStyle, style);
    QWidget host;
    Theme::fillBackground(&host, FocusColor::ink());
    auto* layout = new QHBoxLayout(&host);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(20);
    auto* other = new FocusButton(QStringLiteral("Other"), FocusCharcoalButtonStyle{13});
    layout->addWidget(other);
    auto* button = new FocusButton(QStringLiteral("Label"), style);
    layout->addWidget(button);
    layOut(&host, 300);
    QApplication::setActiveWindow(&host);
    QTEST(button->width() == layout->contentsRect().width() - other->width() - layout->spacing(), "fullWidth");
    const QRect around = button->geometry().adjusted(-6, -6, 6, 6);
    const auto look = [&] {
        QCoreApplication::processEvents();
        return host.grab(around).toImage();
    };

    std::vector<QImage> states{look()};
    button->setAttribute(Qt::WA_UnderMouse, true);
    states.push_back(look());
    button->setDown(true);
    states.push_back(look());
    button->setDown(false);
    button->setAttribute(Qt::WA_UnderMouse, false);
    button->setEnabled(false);
    states.push_back(look());
    button->setEnabled(true);
    button->setFocus(Qt::TabFocusReason);
    states.push_back(look());
    for (size_t a = 0; a < states.size(); ++a)
        for (size_t b = a + 1; b < states.size(); ++b)
            QVERIFY2(states[a] != states[b], qPrintable(QStringLiteral("states %1 and %2 look alike").arg(a).arg(b)));

    other->setFocus(Qt::TabFocusReason);
    QCOMPARE(look(), states[0]);
    // The click lands inside the rounded shape only, and its focus draws no ring.
    QFETCH(int, cornerClicks);
    QSignalSpy clicks(button, &QAbstractButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(1, 1)); // QPoint(0, 0) would mean the centre
    QCOMPARE(clicks.count(), cornerClicks);
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    QCOMPARE(clicks.count(), cornerClicks + 1);
    if (button->hasFocus())
        QVERIFY(!FocusRing::visibleRing());
}

void TestUiComponents::shadowAtPixelRatio_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("1") << 1.0;
    QTest::newRow("1.5") << 1.5;
    QTest::newRow("2") << 2.0;
}

void TestUiComponents::shadowAtPixelRatio()
{
    // With no offset the shadow is the same on all four sides, darkest at the card, and gone
    // well before twice the margin a card reserves for it.
    QFETCH(qreal, ratio);
    const qreal blur = 22;
    QImage image(QSize(420, 380) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(FocusColor::paper());
    const QRectF card(60, 70, 300, 240);
    {
        QPainter painter(&image);
        CardShadow::paint(painter, card, 26, blur, 0, FocusColor::withOpacity(FocusColor::ink(), 0.22));
    }
    // In device pixels: the card's edges fall on whole pixels at every ratio of the table.
    const auto darkness = [&](int x, int y) { return FocusColor::paper().red() - image.pixelColor(x, y).red(); };
    const int left = int(card.left() * ratio), right = int(card.right() * ratio);
    const int top = int(card.top() * ratio), bottom = int(card.bottom() * ratio);
    const int midX = (left + right) / 2, midY = (top + bottom) / 2;
    const int far = int(2 * CardShadow::extent(blur, 0).left() * ratio);
    for (int k = 0; k < far; ++k) {
        const int l = darkness(left - 1 - k, midY), r = darkness(right + k, midY);
        const int t = darkness(midX, top - 1 - k), b = darkness(midX, bottom + k);
        QVERIFY2(std::abs(l - r) <= 2 && std::abs(t - b) <= 2 && std::abs(l - t) <= 2,
                 qPrintable(QStringLiteral("%1 px out: %2 %3 %4 %5").arg(k).arg(l).arg(r).arg(t).arg(b)));
    }
    QVERIFY(darkness(left - 1, midY) > darkness(left - far / 2, midY));
    QCOMPARE(darkness(left - far, midY), 0);
    QCOMPARE(darkness(right + far, bottom + far), 0);
}

void TestUiComponents::labelsKeepColourInClickableAreas()
{
    ClickableArea area;
    auto* layout = new QVBoxLayout(&area);
    QLabel* from = plainLabel(QStringLiteral("From Thursday"), 12, QFont::Medium, FocusColor::alert(), &area);
    layout->addWidget(from);
    auto* eyebrow = new Eyebrow(QStringLiteral("Today"), FocusColor::gold(), 11.5, &area);
    layout->addWidget(eyebrow);
    layOut(&area, 200);
    QCOMPARE(from->palette().color(from->foregroundRole()), FocusColor::alert());
    QCOMPARE(eyebrow->palette().color(eyebrow->foregroundRole()), FocusColor::gold());
}

void TestUiComponents::chipRowScrolls_data()
{
    // How the row is moved to its last chip, and whether that reaches it.
    QTest::addColumn<QString>("by");
    QTest::newRow("vertical wheel") << "wheel";
    QTest::newRow("sideways touchpad") << "pixels";
    QTest::newRow("keyboard focus") << "focus";
}

void TestUiComponents::chipRowScrolls()
{
    QFETCH(QString, by);
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 4, 12, 4);
    std::vector<FocusButton*> chips;
    for (int i = 0; i < 8; ++i) {
        chips.push_back(new FocusButton(QStringLiteral("%1 min").arg((i + 1) * 15), FocusPillButtonStyle{false, 12}));
        layout->addWidget(chips.back());
    }
    ChipScroller scroller(row);
    layOut(&scroller, 220);
    QApplication::setActiveWindow(&scroller);
    const auto visible = [&](QWidget* chip) {
        return scroller.viewport()->rect().contains(QRect(chip->mapTo(scroller.viewport(), QPoint()), chip->size()));
    };
    QVERIFY(visible(chips.front()));
    QVERIFY(!visible(chips.back()));
    const QPointF at = scroller.rect().center();
    for (int turn = 0; turn < 40 && !visible(chips.back()); ++turn) {
        if (by == QLatin1String("focus")) {
            chips.back()->setFocus(Qt::TabFocusReason);
            continue;
        }
        const bool pixels = by == QLatin1String("pixels");
        QWheelEvent wheel(at, scroller.mapToGlobal(at), pixels ? QPoint(-30, 0) : QPoint(),
                          pixels ? QPoint(-120, 0) : QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(scroller.viewport(), &wheel);
    }
    QVERIFY(visible(chips.back()));
    QVERIFY(scroller.viewport()->height() >= row->sizeHint().height());
}

void TestUiComponents::motionOnItsClock_data()
{
    // What moves, whether the desktop asked for reduced motion, and what shows at the start, half
    // way and at the end of its time (the ring's quarter second, the card's fade).
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("reduced");
    QTest::addColumn<double>("atStart");
    QTest::addColumn<double>("halfWay");
    QTest::newRow("ring, linear") << "ring" << false << 0.0 << 0.2;
    QTest::newRow("ring, reduced motion") << "ring" << true << 0.4 << 0.4;
    QTest::newRow("card fades in, eased") << "fade" << false << 0.0 << 0.5;
    QTest::newRow("card, reduced motion") << "fade" << true << 1.0 << 1.0;
}

void TestUiComponents::motionOnItsClock()
{
    QFETCH(QString, what);
    QFETCH(bool, reduced);
    QFETCH(double, halfWay);
    double now = 10;
    Motion::setTimeSource([&now] { return now; });
    Motion::setReduced(reduced);
    const auto cleanup = qScopeGuard([] {
        Motion::setTimeSource({});
        Motion::setReduced(false);
    });
    CountdownRing ring(130, 38);
    QWidget card;
    std::function<double()> shown;
    if (what == QLatin1String("ring")) {
        ring.setState(QStringLiteral("15"), QStringLiteral("Seconds"), 0, QStringLiteral("15 seconds left"));
        ring.setState(QStringLiteral("9"), QStringLiteral("Seconds"), 0.4, QStringLiteral("9 seconds left"));
        QCOMPARE(ring.progress(), 0.4); // what the ring stands for changes at once
        shown = [&ring] { return ring.shownProgress(); };
    } else {
        Motion::fadeIn(&card, 0.25);
        shown = [&card] {
            auto* effect = qobject_cast<QGraphicsOpacityEffect*>(card.graphicsEffect());
            return effect ? effect->opacity() : 1.0;
        };
    }
    const auto step = [&](double to) {
        now = to;
        for (Tween* tween : ring.findChildren<Tween*>() + card.findChildren<Tween*>())
            tween->tick();
    };
    QTEST(shown(), "atStart");
    step(10.125);
    QVERIFY(std::abs(shown() - halfWay) < 1e-9);
    step(10.25);
    QCOMPARE(shown(), what == QLatin1String("ring") ? 0.4 : 1.0);
    QVERIFY(!card.graphicsEffect());
}

void TestUiComponents::pageColumns_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("withSide");
    QTest::addColumn<bool>("twoColumns");
    QTest::addColumn<int>("mainWidth");
    QTest::newRow("999: one column") << 999 << true << false << 660;
    QTest::newRow("1000: two columns") << 1000 << true << true << 1000 - 80 - 44 - 250;
    QTest::newRow("no side at any width") << 1600 << false << false << 660;
    QTest::newRow("narrow") << 500 << true << false << 420;
}

namespace {

// A column that notes every width a layout asks its height at.
class WidthsAsked : public QWidget {
public:
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        asked.insert(width);
        return 300;
    }
    mutable QSet<int> asked;
};

} // namespace

void TestUiComponents::pageColumns()
{
    QFETCH(int, width);
    QFETCH(bool, withSide);
    QFETCH(bool, twoColumns);
    QFETCH(int, mainWidth);
    auto* main = new WidthsAsked;
    main->setMinimumHeight(300);
    QWidget* side = nullptr;
    if (withSide) {
        side = new QWidget;
        side->setMinimumHeight(100);
    }
    FocusPage page(main, side, 40);
    page.setAttribute(Qt::WA_DontShowOnScreen);
    page.show();
    page.resize(width, 2000);
    QCoreApplication::processEvents();

    QCOMPARE(page.isTwoColumn(), twoColumns);
    QCOMPARE(main->width(), mainWidth);
    const int viewport = page.viewport()->width();
    const int row = twoColumns ? mainWidth + 44 + 250 : mainWidth;
    QCOMPARE(main->x(), std::max(40, (viewport - row) / 2)); // centred, paper on both sides
    if (side)
        QVERIFY(twoColumns ? side->x() > main->geometry().right() : side->y() > main->geometry().bottom());
    // Laid out again, the column is asked only at the width it has, with or without a scroll bar
    // beside it: a long list measures its rows at every width it is asked at.
    main->asked.clear();
    page.resize(width, 1900);
    QCoreApplication::processEvents();
    const int scrollBar = page.verticalScrollBar()->sizeHint().width();
    for (const int asked : std::as_const(main->asked))
        QVERIFY2(asked <= mainWidth && asked >= mainWidth - scrollBar, qPrintable(QString::number(asked)));
}

void TestUiComponents::heroCardContent_data()
{
    QTest::addColumn<bool>("compact");
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("detail"); // compact detail line, or the notes shown
    QTest::addColumn<int>("stepRows");
    QTest::newRow("compact, nothing else") << true << "Anytime" << 0 << ""
                                           << "High priority" << 0;
    QTest::newRow("compact, steps and time") << true << "09:30" << 3 << ""
                                             << "High priority · 1 of 3 steps · by 9:30 AM" << 0;
    QTest::newRow("compact, unreadable time") << true << "after lunch" << 0 << ""
                                              << "High priority · by after lunch" << 0;
    QTest::newRow("full, steps win over notes") << false << "Anytime" << 2 << "Some notes"
                                                << "" << 2;
    QTest::newRow("full, notes") << false << "" << 0 << "Some notes"
                                 << "Some notes" << 0;
}

void TestUiComponents::heroCardContent()
{
    QFETCH(bool, compact);
    QFETCH(QString, time);
    QFETCH(int, steps);
    QFETCH(QString, notes);
    QFETCH(QString, detail);
    QFETCH(int, stepRows);
    TaskItem t = todo(QStringLiteral("Write"), steps, steps > 0 ? 1 : 0);
    t.time = time;
    if (!notes.isEmpty())
        t.notes = notes;
    FocusHeroCard card(t, compact, false);
    const auto* detailLabel = card.findChild<WrappingLabel*>(compact ? "detail" : "notes");
    QCOMPARE(detailLabel ? detailLabel->text() : QString(), detail);
    QCOMPARE(card.findChildren<ClickableArea*>("step").size(), stepRows);
    QVERIFY(!card.findChild<QWidget*>("skipButton"));
    const bool showsTime = !compact && !time.isEmpty() && time != TaskItem::anytime;
    QCOMPARE(card.findChild<QLabel*>("timeLabel") != nullptr, showsTime);
}

void TestUiComponents::heroCardClicks()
{
    TaskItem t = todo(QStringLiteral("Write"), 2, 1);
    FocusHeroCard card(t, false, true);
    layOut(&card, 600);
    QSignalSpy done(&card, &FocusHeroCard::doneClicked);
    QSignalSpy open(&card, &FocusHeroCard::openClicked);
    QSignalSpy skip(&card, &FocusHeroCard::skipClicked);
    QSignalSpy step(&card, &FocusHeroCard::stepClicked);

    QTest::mouseClick(card.findChild<QWidget*>("titleButton"), Qt::LeftButton);
    QCOMPARE(open.count(), 1);
    QCOMPARE(done.count(), 0);
    const QList<ClickableArea*> rows = card.findChildren<ClickableArea*>("step");
    QTest::mouseClick(rows.at(1), Qt::LeftButton);
    QCOMPARE(step.count(), 1);
    QCOMPARE(step.at(0).at(0).value<Subtask>(), t.subtasks.at(1));
    QTest::mouseClick(card.findChild<QWidget*>("markDoneButton"), Qt::LeftButton);
    QTest::mouseClick(card.findChild<QWidget*>("skipButton"), Qt::LeftButton);
    QCOMPARE(done.count(), 1);
    QCOMPARE(skip.count(), 1);

    // The caller answers a click with a new record: the card shows it at once.
    QApplication::setActiveWindow(&card);
    rows.at(1)->setFocus();
    t.subtasks.at(1).isCompleted = true;
    card.setTodo(t);
    QCoreApplication::processEvents();
    QVERIFY(card.focusWidget() && card.focusWidget() != rows.at(1));
    QCOMPARE(card.focusWidget()->property("stepId"), QVariant(t.subtasks.at(1).id));
    QCOMPARE(accessibleName(card.findChildren<ClickableArea*>("step").at(1)), QStringLiteral("Uncheck Step 2"));
    card.setCanSkip(false);
    QVERIFY(!card.findChild<QWidget*>("skipButton"));

    FocusEmptyCard empty(true, false);
    QSignalSpy add(&empty, &FocusEmptyCard::addClicked);
    empty.setAllDone(false);
    layOut(&empty, 500);
    QTest::mouseClick(empty.findChild<FocusButton*>("addButton"), Qt::LeftButton);
    QCOMPARE(add.count(), 1);
}

void TestUiComponents::quietRowStates_data()
{
    QTest::addColumn<bool>("completed");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("meta");
    QTest::newRow("open with time") << false << "14:05"
                                    << "Mark Call Ana done"
                                    << "2:05 PM";
    QTest::newRow("completed, no meta") << true << "Anytime"
                                        << "Mark Call Ana not done"
                                        << "";
}

void TestUiComponents::quietRowStates()
{
    QFETCH(bool, completed);
    QFETCH(QString, time);
    QFETCH(QString, name);
    QFETCH(QString, meta);
    TaskItem t = todo(QStringLiteral("Call Ana"));
    t.isCompleted = completed;
    t.time = time;
    QuietTodoRow row(t, 14, 44);
    layOut(&row, 400);
    auto* check = row.findChild<QWidget*>("checkButton");
    QCOMPARE(accessibleName(check), name);
    auto* metaLabel = row.findChild<QLabel*>("metaLabel");
    QCOMPARE(metaLabel->isVisible(), !meta.isEmpty());
    QCOMPARE(metaLabel->text(), meta);
    QCOMPARE(row.findChild<WrappingLabel*>("title")->font().strikeOut(), completed);

    QSignalSpy toggle(&row, &QuietTodoRow::toggleClicked);
    QSignalSpy open(&row, &QuietTodoRow::openClicked);
    QTest::mouseClick(check, Qt::LeftButton);
    QCOMPARE(toggle.count(), 1);
    QCOMPARE(open.count(), 0);
    QTest::mouseClick(row.findChild<QWidget*>("titleArea"), Qt::LeftButton);
    QCOMPARE(open.count(), 1);
    QCOMPARE(toggle.count(), 1);
}

void TestUiComponents::earlierRowFromText_data()
{
    QTest::addColumn<QDate>("created");
    QTest::addColumn<QDate>("due"); // invalid: none
    QTest::addColumn<QString>("expected");
    // Today is Monday 2025-03-10 (the day after clocks went forward in New York).
    QTest::newRow("yesterday, across the clock change") << QDate(2025, 3, 9) << QDate() << "From yesterday";
    QTest::newRow("six days") << QDate(2025, 3, 4) << QDate() << "From Tuesday";
    QTest::newRow("seven days") << QDate(2025, 3, 3) << QDate() << "From Mar 3";
    QTest::newRow("due date wins") << QDate(2025, 3, 9) << QDate(2025, 2, 28) << "From Feb 28";
    QTest::newRow("today") << QDate(2025, 3, 10) << QDate() << "From Monday";
    QTest::newRow("future") << QDate(2025, 3, 12) << QDate() << "From Wednesday";
}

void TestUiComponents::earlierRowFromText()
{
    QFETCH(QDate, created);
    QFETCH(QDate, due);
    QFETCH(QString, expected);
    const Calendar calendar = TestEnvironment::calendar();
    TaskItem t = todo(QStringLiteral("Old"));
    t.createdAt = calendar.date(created, 23, 30);
    if (due.isValid())
        t.dueDate = calendar.date(due, 0, 0);
    const Date now = calendar.date(QDate(2025, 3, 10), 0, 15);
    QCOMPARE(EarlierTodoRow::fromText(t, now, calendar), expected);
}

void TestUiComponents::textsStayPlainAndNamed()
{
    const QString markup = QStringLiteral("<img src=file:///etc/passwd> <b>x</b>");
    TaskItem t = todo(markup);
    t.time = QStringLiteral("<i>soon</i>");

    FocusHeroCard card(t, false, true);
    QCOMPARE(card.findChild<WrappingLabel*>("title")->text(), markup);
    QCOMPARE(card.findChild<QLabel*>("timeLabel")->textFormat(), Qt::PlainText);
    QCOMPARE(accessibleName(card.findChild<QWidget*>("titleButton")), markup);

    EarlierTodoRow earlier(t, 0, TestEnvironment::calendar());
    QCOMPARE(accessibleName(earlier.findChild<QWidget*>("optionsButton")), QStringLiteral("Options for ") + markup);
    QCOMPARE(earlier.findChild<QLabel*>("fromLabel")->textFormat(), Qt::PlainText);

    FlowingChips chips({markup, QStringLiteral("b.com")});
    const QList<QWidget*> chipWidgets = chips.findChildren<QWidget*>("chip");
    QCOMPARE(chipWidgets.size(), 2);
    auto* remove = chipWidgets.at(0)->findChild<QAbstractButton*>("removeButton");
    QCOMPARE(accessibleName(remove), QStringLiteral("Remove ") + markup);
    for (QLabel* label : chips.findChildren<QLabel*>())
        QCOMPARE(label->textFormat(), Qt::PlainText);
    QSignalSpy removed(&chips, &FlowingChips::removeClicked);
    remove->click();
    QCOMPARE(removed.value(0).value(0).toString(), markup);
    // A chip that stays keeps its widget.
    QWidget* kept = chipWidgets.at(1);
    chips.setItems({QStringLiteral("b.com")});
    QCOMPARE(chips.findChildren<QWidget*>("chip"), QList<QWidget*>{kept});

    FocusSwitch toggle(QStringLiteral("Launch at login"), true);
    QCOMPARE(accessibleName(&toggle), QStringLiteral("Launch at login"));

    FocusHeadline headline(QString(), QStringLiteral("Title"), 28, new KeyHint(QStringLiteral("Ctrl+B")));
    layOut(&headline, 400);
    QVERIFY(!headline.findChild<KeyHint*>()->isVisible());
    QCOMPARE(QAccessible::queryAccessibleInterface(headline.findChild<WrappingLabel*>("title"))->role(),
             QAccessible::Heading);
    headline.setEyebrow(QStringLiteral("Block"));
    QVERIFY(headline.findChild<KeyHint*>()->isVisible());
    QVERIFY(QAccessible::queryAccessibleInterface(headline.findChild<KeyHint*>())->state().invisible);
}

// Assistive technology asks a scrolling page for its children by a count read a moment before:
// a scroll bar that hid in between leaves an index past the end, which must find nothing rather
// than memory past the list.
void TestUiComponents::scrollingAreaChildrenFollowItsBars_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("contentHeight"); // of a page 200 px high
    QTest::addColumn<QStringList>("parts"); // what the children are, in order
    QTest::newRow("short page") << "QScrollArea" << 100 << QStringList{"viewport"};
    QTest::newRow("long page") << "QScrollArea" << 2000 << QStringList{"viewport", "vertical"};
    QTest::newRow("long page of ours") << "ours" << 2000 << QStringList{"viewport", "vertical"};
    QTest::newRow("long and wide") << "wide" << 2000 << QStringList{"viewport", "horizontal", "vertical"};
}

void TestUiComponents::scrollingAreaChildrenFollowItsBars()
{
    QFETCH(QString, kind);
    QFETCH(int, contentHeight);
    QFETCH(QStringList, parts);
    Accessibility::installFactory(); // as the program's theme does at start
    std::unique_ptr<QScrollArea> area(kind == QLatin1String("ours") ? new OwnScroller : new QScrollArea);
    auto* content = new QWidget;
    content->setMinimumSize(kind == QLatin1String("wide") ? 900 : 100, contentHeight);
    area->setWidget(content);
    area->setWidgetResizable(true);
    area->resize(300, 200);
    area->setAttribute(Qt::WA_DontShowOnScreen);
    area->show();
    QCoreApplication::processEvents();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(area.get());
    QVERIFY(iface);
    const auto partWidget = [&](const QString& part) -> QObject* {
        if (part == QLatin1String("viewport"))
            return area->viewport();
        return (part == QLatin1String("vertical") ? area->verticalScrollBar() : area->horizontalScrollBar())
            ->parentWidget();
    };
    QCOMPARE(iface->childCount(), int(parts.size()));
    for (int i = 0; i < int(parts.size()); ++i) {
        QAccessibleInterface* child = iface->child(i);
        QVERIFY(child);
        QCOMPARE(child->object(), partWidget(parts[i]));
        QCOMPARE(iface->indexOfChild(child), i);
    }
    // The bars hide: what was counted before now asks past the end.
    const int counted = iface->childCount();
    content->setMinimumSize(100, 50);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QCoreApplication::processEvents();
    QCOMPARE(iface->childCount(), 1);
    for (int i : {counted - 1, counted, counted + 7, -1})
        if (i != 0)
            QCOMPARE(iface->child(i), nullptr);
    QCOMPARE(iface->child(0)->object(), area->viewport());
}

void TestUiComponents::wrappingLabelGrowsAndLimits()
{
    WrappingLabel label(QStringLiteral("one two three four five six seven eight nine ten"));
    label.setFont(Theme::font(14));
    const int oneLine = label.heightForWidth(2000);
    QVERIFY(label.heightForWidth(80) > 3 * oneLine);
    // A word wider than the line breaks inside instead of widening its container.
    label.setText(QString(200, u'w'));
    QVERIFY(label.minimumSizeHint().width() < 100);
    QVERIFY(label.lineCount(100) > 5);
    label.setMaxLines(3);
    QCOMPARE(label.lineCount(100), 3);
    QCOMPARE(label.heightForWidth(100), label.heightForWidth(100000) + 2 * QFontMetrics(label.font()).lineSpacing());
}

void TestUiComponents::choiceDialogAnswers_data()
{
    // Roles of "A", "B", "C" in that order: n normal, d destructive, c cancel.
    QTest::addColumn<QString>("roles");
    QTest::addColumn<bool>("alert");
    // Buttons' texts, or a key: "Escape", "Return", "Space", after "A:" with the keyboard on button A.
    QTest::addColumn<QString>("press");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QString>("ran");
    QTest::newRow("destructive first") << "dc" << false << "A" << int(QDialog::Accepted) << 0 << "A";
    QTest::newRow("cancel first") << "cd" << false << "A" << int(QDialog::Rejected) << 0 << "A";
    QTest::newRow("escape is the cancel button") << "ndc" << false << "Escape" << int(QDialog::Rejected) << 2 << "C";
    QTest::newRow("escape without a cancel button") << "nn" << false << "Escape" << int(QDialog::Rejected) << -1 << "";
    QTest::newRow("pressed twice") << "nd" << false << "BB" << int(QDialog::Accepted) << 1 << "B";
    // The keyboard starts on the safe answer of a question, and Return gives it too.
    QTest::newRow("return on a question is its cancel")
        << "dc" << false << "Return" << int(QDialog::Rejected) << 1 << "B";
    QTest::newRow("space on a question is its cancel")
        << "ndc" << false << "Space" << int(QDialog::Rejected) << 2 << "C";
    QTest::newRow("return on an alert is its first button")
        << "nn" << true << "Return" << int(QDialog::Accepted) << 0 << "A";
    QTest::newRow("escape on an alert") << "nn" << true << "Escape" << int(QDialog::Rejected) << -1 << "";
    // Return presses the button with the keyboard, never the default in its place.
    QTest::newRow("return on a focused destructive answer")
        << "dc" << false << "A:Return" << int(QDialog::Accepted) << 0 << "A";
    QTest::newRow("space on a focused destructive answer")
        << "dc" << false << "A:Space" << int(QDialog::Accepted) << 0 << "A";
    QTest::newRow("return on a focused normal answer")
        << "ndc" << false << "A:Return" << int(QDialog::Accepted) << 0 << "A";
    QTest::newRow("return on an alert's second button")
        << "nn" << true << "B:Return" << int(QDialog::Accepted) << 1 << "B";
}

void TestUiComponents::choiceDialogAnswers()
{
    QFETCH(QString, roles);
    QFETCH(QString, press);
    QString ran;
    std::vector<ChoiceDialog::Choice> choices;
    for (int i = 0; i < roles.size(); ++i) {
        const QString text(QChar('A' + i));
        const auto role = roles[i] == 'd'   ? ChoiceDialog::Role::destructive
                          : roles[i] == 'c' ? ChoiceDialog::Role::cancel
                                            : ChoiceDialog::Role::normal;
        choices.emplace_back(text, role, [&ran, text] { ran += text; });
    }
    QFETCH(bool, alert);
    ChoiceDialog dialog(QStringLiteral("<b>Title</b>"), QStringLiteral("Message"), std::move(choices), nullptr,
                        alert ? ChoiceDialog::Look::alert : ChoiceDialog::Look::question);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("choiceTitle"))->textFormat(), Qt::PlainText);
    dialog.open();
    const QHash<QString, Qt::Key> keys{{QStringLiteral("Escape"), Qt::Key_Escape},
                                       {QStringLiteral("Return"), Qt::Key_Return},
                                       {QStringLiteral("Space"), Qt::Key_Space}};
    if (press.contains(QLatin1Char(':'))) {
        auto* button =
            dialog.findChild<QAbstractButton*>(QStringLiteral("choiceButton%1").arg(press[0].unicode() - 'A'));
        button->setFocus(Qt::TabFocusReason);
        press = press.mid(2);
        QCOMPARE(dialog.focusWidget(), button);
    }
    if (keys.contains(press)) {
        QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, keys[press]);
    } else {
        for (const QChar c : press)
            dialog.findChild<QAbstractButton*>(QStringLiteral("choiceButton%1").arg(c.unicode() - 'A'))->click();
    }
    QVERIFY(!dialog.isVisible());
    QTEST(dialog.result(), "result");
    QTEST(dialog.chosen(), "chosen");
    QTEST(ran, "ran");
}

void TestUiComponents::choiceDialogHoldsItsText_data()
{
    QTest::addColumn<bool>("alert");
    QTest::addColumn<QString>("message");
    const QString three = QStringLiteral("It's running from the download right now. Installed, it's in your "
                                         "applications menu and the block page's buttons open it.");
    QTest::newRow("alert, one line") << true << QStringLiteral("Saved.");
    QTest::newRow("alert, three lines") << true << three;
    QTest::newRow("alert, a long paragraph") << true << QString(three + QLatin1Char(' ')).repeated(4);
    QTest::newRow("question, three lines") << false << three;
}

// A wrapped message is taller at the dialog's own width than at the width its label would choose:
// the window must take the height of its content there, buttons included.
void TestUiComponents::choiceDialogHoldsItsText()
{
    QFETCH(bool, alert);
    QFETCH(QString, message);
    ChoiceDialog dialog(
        QStringLiteral("Install Quillharbour?"), message,
        {ChoiceDialog::Choice(QStringLiteral("Install")), ChoiceDialog::Choice(QStringLiteral("Not Now"))}, nullptr,
        alert ? ChoiceDialog::Look::alert : ChoiceDialog::Look::question);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCoreApplication::processEvents();
    const QRect inside = dialog.rect();
    for (const QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible())
            QVERIFY2(inside.contains(child->geometry()), qPrintable(child->objectName()));
    }
    const auto* label = dialog.findChild<QLabel*>(QStringLiteral("choiceMessage"));
    QVERIFY(label->height() >= label->heightForWidth(label->width()));
}

void TestUiComponents::queuedCallRunsOnce_data()
{
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<bool>("ownerGone");
    QTest::addColumn<int>("runs");
    QTest::newRow("none") << 0 << false << false << 0;
    QTest::newRow("several become one") << 3 << false << false << 1;
    QTest::newRow("done directly meanwhile") << 2 << true << false << 0;
    QTest::newRow("owner deleted first") << 2 << false << true << 0;
}

void TestUiComponents::queuedCallRunsOnce()
{
    QFETCH(int, requests);
    QFETCH(bool, cancelled);
    QFETCH(bool, ownerGone);
    int runs = 0;
    struct Owner : QObject {
        explicit Owner(int& runs) : call(this, [&runs] { ++runs; }) {}
        QueuedCall call;
    };
    auto owner = std::make_unique<Owner>(runs);
    for (int i = 0; i < requests; ++i)
        owner->call.request();
    QCOMPARE(runs, 0); // never at once
    if (cancelled)
        owner->call.cancel();
    if (ownerGone)
        owner.reset();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QTEST(runs, "runs");
    if (owner) { // a request after the run queues a new one
        owner->call.request();
        QCoreApplication::processEvents();
        QCOMPARE(runs, requests > 0 && !cancelled ? 2 : 1);
    }
}

void TestUiComponents::stepsRunOnePerTurn_data()
{
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("ownerGoneAfter"); // steps run before the owner goes; -1: it stays
    QTest::newRow("none") << 0 << -1;
    QTest::newRow("several") << 8 << -1;
    QTest::newRow("owner gone half way") << 6 << 3;
}

void TestUiComponents::stepsRunOnePerTurn()
{
    QFETCH(int, steps);
    QFETCH(int, ownerGoneAfter);
    auto owner = std::make_unique<QObject>();
    std::vector<int> ran;
    std::vector<std::function<void()>> work;
    for (int i = 0; i < steps; ++i)
        work.emplace_back([&ran, i] { ran.push_back(i); });
    runInTurns(owner.get(), std::move(work));
    QVERIFY(ran.empty()); // never at once
    const int expected = ownerGoneAfter < 0 ? steps : ownerGoneAfter;
    for (int turn = 1; turn <= steps + 2; ++turn) {
        if (turn - 1 == ownerGoneAfter)
            owner.reset();
        QCoreApplication::processEvents();
        QCOMPARE(int(ran.size()), std::min(turn, expected));
    }
    for (int i = 0; i < int(ran.size()); ++i)
        QCOMPARE(ran[size_t(i)], i);
}

void TestUiComponents::countdownRingState_data()
{
    QTest::addColumn<double>("progress");
    QTest::addColumn<double>("shown");
    QTest::addColumn<QColor>("top"); // the ring's colour just right of twelve o'clock
    QTest::newRow("not started") << 0.0 << 0.0 << FocusColor::wash();
    QTest::newRow("under way") << 0.5 << 0.5 << FocusColor::ink();
    QTest::newRow("past the end") << 1.5 << 1.0 << FocusColor::ink();
    QTest::newRow("before the start") << -0.5 << 0.0 << FocusColor::wash();
}

void TestUiComponents::countdownRingState()
{
    QFETCH(double, progress);
    CountdownRing ring(130, 38);
    ring.setState(QStringLiteral("9"), QStringLiteral("SECONDS"), progress, QStringLiteral("9 seconds left"));
    QTEST(ring.progress(), "shown");
    const QColor pixel = ring.grab().toImage().pixelColor(ring.width() / 2 + 8, 3);
    QFETCH(QColor, top);
    QVERIFY2(std::abs(pixel.red() - top.red()) + std::abs(pixel.green() - top.green()) +
                     std::abs(pixel.blue() - top.blue()) <
                 30,
             qPrintable(pixel.name()));
}

void TestUiComponents::quietRowMeterMatchesTheRow_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("steps");
    QTest::addColumn<bool>("done");
    QTest::addColumn<bool>("daily");
    QTest::addColumn<int>("width");

    const QString words = QStringLiteral("a title long enough to wrap onto another line ").repeated(3);
    const QString twoLines = QStringLiteral("Call the insurer about the claim, then write to the landlord about "
                                            "the boiler and the window in the back room");
    QTest::newRow("short") << "Call Ana"
                           << "Anytime" << 0 << false << false << 500;
    QTest::newRow("short, with time") << "Call Ana"
                                      << "14:05" << 0 << false << false << 500;
    QTest::newRow("done, with time") << "Call Ana"
                                     << "9:30 AM" << 0 << true << false << 500;
    QTest::newRow("daily") << "Stretch"
                           << "Anytime" << 0 << false << true << 626;
    QTest::newRow("steps beside") << "Pack for the trip"
                                  << "Anytime" << 12 << false << false << 827;
    QTest::newRow("wraps") << words << "Anytime" << 0 << false << false << 500;
    QTest::newRow("two lines on a page") << twoLines << "11:15 PM" << 0 << false << false << 626;
    QTest::newRow("one line on a wide page") << twoLines << "11:15 PM" << 0 << false << false << 1100;
    QTest::newRow("fits wide, wraps narrow, with steps") << "Renew the passport before spring"
                                                         << "Anytime" << 3 << false << false << 260;
    QTest::newRow("one long word") << QString(60, u'w') << "9:30 AM" << 0 << false << false << 400;
    QTest::newRow("line break") << "first\nsecond"
                                << "Anytime" << 0 << false << false << 500;
    QTest::newRow("paragraph separator") << QStringLiteral("first") + QChar::ParagraphSeparator + "second"
                                         << "14:05" << 0 << false << false << 500;
    QTest::newRow("empty") << ""
                           << "Anytime" << 0 << false << false << 500;
}

void TestUiComponents::quietRowMeterMatchesTheRow()
{
    QFETCH(QString, title);
    QFETCH(QString, time);
    QFETCH(int, steps);
    QFETCH(bool, done);
    QFETCH(bool, daily);
    QFETCH(int, width);
    TaskItem t = todo(title, steps, 1);
    t.time = time;
    t.isCompleted = done;
    if (daily)
        t.repeatOption = RepeatOption::daily;
    QuietRowMeter meter(15, 52);
    meter.height(todo(QStringLiteral("another"), steps), width); // what it learned must not leak
    QuietTodoRow row(t, 15, 52);
    layOut(&row, width);
    QCOMPARE(meter.height(t, width), row.height());
    QCOMPARE(meter.height(t, width), row.height()); // asked again, from what it remembers
}

void TestUiComponents::quietRowMeterBuildsNoWidgets()
{
    QuietRowMeter meter(15, 52);
    const qsizetype widgets = QApplication::allWidgets().size();
    for (int i = 0; i < 300; ++i) {
        TaskItem t = todo(QStringLiteral("To-do %1 ").arg(i).repeated(1 + i % 9), i % 4);
        t.time =
            i % 3 ? QStringLiteral("%1:%2 PM").arg(1 + i % 12).arg(i % 60, 2, 10, QLatin1Char('0')) : TaskItem::anytime;
        for (const int width : {66, 209, 626, 827})
            QVERIFY(meter.height(t, width) >= 52);
    }
    QCOMPARE(QApplication::allWidgets().size(), widgets);
}

void TestUiComponents::quietRowMeterTypicalIsAOneLineRow_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("width");
    QTest::newRow("short, with time") << "Call Ana"
                                      << "9:30 AM" << 500;
    QTest::newRow("a page's width") << "Open to-do number 17 with a realistic title"
                                    << "1:05 PM" << 626;
    QTest::newRow("wide") << "Renew the passport before spring"
                          << "14:05" << 1100;
}

void TestUiComponents::quietRowMeterTypicalIsAOneLineRow()
{
    QFETCH(QString, title);
    QFETCH(QString, time);
    QFETCH(int, width);
    TaskItem t = todo(title, 0, 1);
    t.time = time;
    QuietRowMeter meter(15, 52);
    QuietTodoRow row(t, 15, 52);
    layOut(&row, width);
    QCOMPARE(meter.typicalHeight(), row.height());
}

namespace {

// A list of `count` plain rows in a 300-point-high scroll area; every third row is taller than
// expected, so building it moves the rows after it.
struct LazyList {
    // Rows that take the focus themselves, or rows whose two controls do (a to-do's circle and
    // title), the row itself taking none.
    enum class Rows { focusable, twoControls };
    // When the rows are handed their keys: once shown, or before the list is in its window.
    enum class Keys { whenShown, beforeShown };

    QScrollArea area;
    LazyRows* rows = nullptr;
    QPushButton* before = nullptr;
    QPushButton* after = nullptr;
    std::vector<QUuid> keys;
    int made = 0;

    explicit LazyList(int count, Rows kind = Rows::focusable, Keys when = Keys::whenShown)
    {
        for (int i = 0; i < count; ++i)
            keys.push_back(QUuid::createUuid());
        auto* content = new QWidget;
        auto* column = new QVBoxLayout(content);
        column->addWidget(new QLabel(QStringLiteral("Above the list")));
        before = new QPushButton(QStringLiteral("Before"));
        column->addWidget(before);
        rows = new LazyRows(
            [this, kind](int i, QWidget* parent) {
                ++made;
                auto* row = new QWidget(parent);
                row->setMinimumHeight(i % 3 == 0 ? 45 : 30);
                row->setProperty("key", this->rows->keys()[size_t(i)]);
                if (kind == Rows::focusable) {
                    row->setFocusPolicy(Qt::TabFocus);
                } else {
                    auto* line = new QHBoxLayout(row);
                    line->setContentsMargins(0, 0, 0, 0);
                    for (int part = 0; part < 2; ++part) {
                        auto* control = new QWidget(row);
                        control->setFocusPolicy(Qt::TabFocus);
                        control->setProperty("part", part);
                        line->addWidget(control);
                    }
                }
                return row;
            },
            [](int, int) { return 30; });
        column->addWidget(rows);
        after = new QPushButton(QStringLiteral("After"));
        column->addWidget(after);
        column->addStretch(1);
        if (when == Keys::beforeShown)
            rows->setKeys(keys);
        area.setWidget(content);
        area.setWidgetResizable(true);
        area.resize(400, 300);
        area.setAttribute(Qt::WA_DontShowOnScreen);
        area.show();
        if (when == Keys::whenShown)
            rows->setKeys(keys);
        QCoreApplication::processEvents();
    }
    // The entry a row or one of its controls shows, or -1 outside the list.
    int indexOf(const QWidget* w) const
    {
        while (w && w->parentWidget() != rows)
            w = w->parentWidget();
        if (!w)
            return -1;
        const auto key = w->property("key").value<QUuid>();
        return int(std::find(keys.begin(), keys.end(), key) - keys.begin());
    }
    // The entries of the tab stops met walking the focus chain from one button to the other.
    QList<int> tabWalk(bool forward) const
    {
        QList<int> met;
        QWidget* const from = forward ? before : after;
        QWidget* const to = forward ? after : before;
        QWidget* w = from;
        for (int steps = 0; steps < 10000; ++steps) {
            w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
            if (w == to || w == from)
                break;
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && rows->isAncestorOf(w))
                met.append(indexOf(w));
        }
        if (w != to)
            met.append(-2); // the walk did not come to the other end
        return met;
    }
    // What the walk must meet: every built row in list order, each as many times as it has stops.
    QList<int> expectedWalk(bool forward) const
    {
        QList<int> expected;
        for (QWidget* row : rows->builtRows()) {
            const int index = indexOf(row);
            const int stops = row->focusPolicy() & Qt::TabFocus ? 1 : 2;
            for (int s = 0; s < stops; ++s)
                expected.append(index);
        }
        if (!forward)
            std::reverse(expected.begin(), expected.end());
        return expected;
    }
    // The keys of the built rows in list order, each checked to sit right under the one before.
    QList<int> built() const
    {
        QList<int> indices;
        const QList<QWidget*> list = rows->builtRows();
        for (qsizetype i = 0; i < list.size(); ++i) {
            const auto key = list[i]->property("key").value<QUuid>();
            indices.append(int(std::find(keys.begin(), keys.end(), key) - keys.begin()));
            if (i > 0 && indices[i] == indices[i - 1] + 1 && list[i]->y() != list[i - 1]->geometry().bottom() + 1)
                return {};
        }
        return indices;
    }
    // The part of the list the area shows.
    QRect shown() const { return QRect(rows->mapFrom(area.viewport(), QPoint(0, 0)), area.viewport()->size()); }
};

} // namespace

void TestUiComponents::lazyRowsBuildWhatIsInView_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("scrolledTo"); // share of the scroll range

    QTest::newRow("three rows") << 3 << 0.0;
    QTest::newRow("many, at the top") << 5000 << 0.0;
    QTest::newRow("many, in the middle") << 5000 << 0.5;
    QTest::newRow("many, at the end") << 5000 << 1.0;
}

void TestUiComponents::lazyRowsBuildWhatIsInView()
{
    QFETCH(int, count);
    QFETCH(double, scrolledTo);
    LazyList list(count);
    QScrollBar* bar = list.area.verticalScrollBar();
    QCoreApplication::processEvents(); // the rows measured first change the scroll range
    bar->setValue(int(bar->maximum() * scrolledTo));
    QCoreApplication::processEvents();

    const QList<int> built = list.built();
    QVERIFY(!built.isEmpty());
    // A contiguous run of rows, few of them, that covers what the area shows.
    for (qsizetype i = 1; i < built.size(); ++i)
        QCOMPARE(built[i], built[i - 1] + 1);
    QVERIFY(built.size() <= 2 * 300 / 30 + 4);
    QVERIFY(list.made <= 3 * built.size());
    const QList<QWidget*> rows = list.rows->builtRows();
    const QRect shown = list.shown() & list.rows->rect();
    QVERIFY(rows.first()->y() <= shown.top());
    QVERIFY(rows.last()->geometry().bottom() >= shown.bottom());
    if (scrolledTo == 1.0 || count < 10)
        QCOMPARE(built.last(), count - 1);
    if (scrolledTo == 0.0)
        QCOMPARE(built.first(), 0);
}

void TestUiComponents::lazyRowsAskOncePerWidth_data()
{
    QTest::addColumn<QList<int>>("widths");
    QTest::newRow("one width") << QList<int>{400};
    QTest::newRow("with and without a scroll bar") << QList<int>{400, 385};
    QTest::newRow("a page's layouts in turn") << QList<int>{66, 209, 626, 827};
}

void TestUiComponents::lazyRowsAskOncePerWidth()
{
    QFETCH(QList<int>, widths);
    const int count = 2000;
    std::vector<QUuid> keys(count);
    std::generate(keys.begin(), keys.end(), &QUuid::createUuid);
    int asked = 0;
    LazyRows rows([](int, QWidget* parent) { return new QWidget(parent); },
                  [&asked](int i, int width) {
                      ++asked;
                      return 30 + (i % 3) * width / 100;
                  });
    rows.setKeys(keys);
    for (int round = 0; round < 3; ++round) {
        for (const int width : widths) {
            int expected = 0;
            for (int i = 0; i < count; ++i)
                expected += 30 + (i % 3) * width / 100;
            QCOMPARE(rows.heightForWidth(width), expected);
        }
    }
    QCOMPARE(asked, count * int(widths.size()));

    // One entry shows something new: only it is asked again.
    rows.forget(keys[7]);
    for (const int width : widths)
        rows.heightForWidth(width);
    QCOMPARE(asked, (count + 1) * int(widths.size()));
}

void TestUiComponents::lazyRowsKeepRowsByKey()
{
    LazyList list(400);
    const QList<QWidget*> before = list.rows->builtRows();
    QWidget* second = before.at(1);
    QWidget* third = before.at(2);
    // A new order with the first entry gone: the rows of the entries still in view stay.
    std::vector<QUuid> keys(list.keys.begin() + 1, list.keys.end());
    std::swap(keys[0], keys[1]);
    list.keys = keys;
    list.rows->setKeys(keys);
    QCoreApplication::processEvents();
    QCOMPARE(list.rows->row(list.keys[0]), third);
    QCOMPARE(list.rows->row(list.keys[1]), second);
    QVERIFY(third->y() < second->y());
    QVERIFY(!list.built().isEmpty());

    // The row with the keyboard focus survives scrolling far away; Tab walks the built rows in
    // list order, however late each was built.
    list.area.activateWindow();
    second->setFocus(Qt::TabFocusReason);
    QPointer<QWidget> focused = second;
    list.area.verticalScrollBar()->setValue(list.area.verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    QVERIFY(focused);
    QCOMPARE(list.rows->row(list.keys[1]), second);
    list.area.verticalScrollBar()->setValue(list.area.verticalScrollBar()->maximum() / 2);
    QCoreApplication::processEvents();
    const QList<QWidget*> rows = list.rows->builtRows();
    QCOMPARE(rows.first(), second);
    for (qsizetype i = 0; i + 1 < rows.size(); ++i)
        QCOMPARE(rows[i]->nextInFocusChain(), rows[i + 1]);
}

using LazyKind = LazyList::Rows;
using LazyKeys = LazyList::Keys;
// What becomes of the keys once the rows are built.
enum class LazyChange { none, reorder, insertOne, removeOne };
Q_DECLARE_METATYPE(LazyChange)

void TestUiComponents::lazyRowsTabInListOrder_data()
{
    QTest::addColumn<LazyKind>("kind");
    QTest::addColumn<LazyKeys>("when");
    QTest::addColumn<QList<double>>("scrolls"); // shares of the scroll range, in turn
    QTest::addColumn<LazyChange>("change");

    using C = LazyChange;
    for (const LazyKind kind : {LazyKind::focusable, LazyKind::twoControls}) {
        const QByteArray name = kind == LazyKind::focusable ? "focusable rows: " : "rows of two controls: ";
        QTest::newRow(name + "first build") << kind << LazyKeys::whenShown << QList<double>{} << C::none;
        QTest::newRow(name + "built before shown") << kind << LazyKeys::beforeShown << QList<double>{} << C::none;
        QTest::newRow(name + "a little down and back up")
            << kind << LazyKeys::whenShown << QList<double>{0.01, 0.02, 0.0} << C::none;
        QTest::newRow(name + "far down and up") << kind << LazyKeys::whenShown << QList<double>{0.7, 0.3} << C::none;
        QTest::newRow(name + "new order") << kind << LazyKeys::whenShown << QList<double>{} << C::reorder;
        QTest::newRow(name + "new order after scrolling")
            << kind << LazyKeys::beforeShown << QList<double>{0.5, 0.505} << C::reorder;
        QTest::newRow(name + "one inserted in view")
            << kind << LazyKeys::whenShown << QList<double>{0.5} << C::insertOne;
        QTest::newRow(name + "one removed in view")
            << kind << LazyKeys::whenShown << QList<double>{0.5} << C::removeOne;
    }
}

void TestUiComponents::lazyRowsTabInListOrder()
{
    QFETCH(LazyKind, kind);
    QFETCH(LazyKeys, when);
    QFETCH(QList<double>, scrolls);
    QFETCH(LazyChange, change);
    LazyList list(2000, kind, when);
    QScrollBar* bar = list.area.verticalScrollBar();
    for (const double share : scrolls) {
        bar->setValue(int(bar->maximum() * share));
        QCoreApplication::processEvents();
        QCOMPARE(list.tabWalk(true), list.expectedWalk(true));
    }
    if (change == LazyChange::insertOne || change == LazyChange::removeOne) {
        // An entry comes or goes above the focused row: the row keeps the keyboard, and the
        // rows stand in list order, each under the one before, as after a new list.
        const int first = list.built().first();
        QWidget* focused = list.rows->builtRows().at(6);
        const QUuid focusedKey = focused->property("key").value<QUuid>();
        focused->setFocus();
        if (change == LazyChange::insertOne)
            list.keys.insert(list.keys.begin() + first + 3, QUuid::createUuid());
        else
            list.keys.erase(list.keys.begin() + first + 3);
        list.rows->setKeys(list.keys);
        QCoreApplication::processEvents();
        QCOMPARE(list.area.focusWidget(), focused);
        QCOMPARE(list.rows->indexOf(focusedKey), list.indexOf(focused));
        const QList<int> built = list.built();
        QVERIFY(!built.isEmpty());
        for (qsizetype i = 1; i < built.size(); ++i)
            QCOMPARE(built[i], built[i - 1] + 1);
        QVERIFY(built.contains(first + 3));
    }
    if (change == LazyChange::reorder) {
        // The rows in view come in another order (the first two swap, the next few turn round)
        // and one leaves: the rows kept move for Tab too.
        const int first = list.built().first();
        std::vector<QUuid> keys = list.keys;
        std::swap(keys[size_t(first)], keys[size_t(first) + 1]);
        std::reverse(keys.begin() + first + 2, keys.begin() + first + 8);
        keys.erase(keys.begin() + first + 9);
        list.keys = keys;
        list.rows->setKeys(keys);
        QCoreApplication::processEvents();
    }
    QVERIFY(list.built().size() > 5);
    QCOMPARE(list.tabWalk(true), list.expectedWalk(true));
    QCOMPARE(list.tabWalk(false), list.expectedWalk(false));
}

void TestUiComponents::lazyRowsTabPastTheBuiltRows_data()
{
    QTest::addColumn<LazyKind>("kind");
    QTest::addColumn<LazyKeys>("when");
    QTest::newRow("focusable rows") << LazyKind::focusable << LazyKeys::whenShown;
    QTest::newRow("rows of two controls") << LazyKind::twoControls << LazyKeys::whenShown;
    QTest::newRow("rows of two controls, built before shown") << LazyKind::twoControls << LazyKeys::beforeShown;
}

void TestUiComponents::lazyRowsTabPastTheBuiltRows()
{
    QFETCH(LazyKind, kind);
    QFETCH(LazyKeys, when);
    const int count = 300;
    LazyList list(count, kind, when);
    QCoreApplication::processEvents(); // the rows measured first change the scroll range
    QVERIFY(list.built().last() < count / 4);
    list.area.activateWindow();
    list.before->setFocus(Qt::TabFocusReason);
    const int stops = kind == LazyKind::focusable ? 1 : 2;
    // Tab from the button above reaches every entry in turn, each brought into view, then the
    // button below; Shift+Tab walks back the same way.
    const auto walk = [&](bool forward) {
        QList<int> met;
        for (int step = 0; step < count * stops + 1; ++step) {
            QTest::keyClick(list.area.focusWidget(), Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
            QCoreApplication::processEvents(); // as between two key presses
            QWidget* focus = list.area.focusWidget();
            if (focus == (forward ? list.after : list.before))
                break;
            const int index = list.indexOf(focus);
            if (index < 0 || !list.shown().contains(focus->mapTo(list.rows, focus->rect().center())))
                return QList<int>{-1, index, int(met.size())};
            met.append(index);
        }
        return met;
    };
    QList<int> expected;
    for (int i = 0; i < count; ++i)
        for (int s = 0; s < stops; ++s)
            expected.append(i);
    QCOMPARE(walk(true), expected);
    QCOMPARE(list.area.focusWidget(), list.after);
    std::reverse(expected.begin(), expected.end());
    QCOMPARE(walk(false), expected);
    QCOMPARE(list.area.focusWidget(), list.before);
}

namespace {

int exactHeight(int i, int width)
{
    return 30 + (i % 3) * width / 100;
}

} // namespace

void TestUiComponents::lazyRowsGuessThenMeasure_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("widths");
    QTest::addColumn<bool>("guesses");
    QTest::newRow("a short list is worked out at once") << 30 << QList<int>{209, 626} << false;
    QTest::newRow("a first screen's list, a page's layouts in turn") << 96 << QList<int>{209, 626} << true;
    QTest::newRow("a long list, one width") << 3000 << QList<int>{626} << true;
    QTest::newRow("a long list, a page's layouts in turn") << 3000 << QList<int>{209, 626, 827} << true;
}

void TestUiComponents::lazyRowsGuessThenMeasure()
{
    QFETCH(int, count);
    QFETCH(QList<int>, widths);
    QFETCH(bool, guesses);
    std::vector<QUuid> keys(static_cast<size_t>(count));
    std::generate(keys.begin(), keys.end(), &QUuid::createUuid);
    int asked = 0;
    int guessed = 0;
    LazyRows rows([](int, QWidget* parent) { return new QWidget(parent); },
                  [&asked](int i, int width) {
                      ++asked;
                      return exactHeight(i, width);
                  });
    rows.setEstimate([&guessed](int) {
        ++guessed;
        return 40;
    });
    rows.setKeys(keys);
    const auto exactTotal = [count](int width) {
        int total = 0;
        for (int i = 0; i < count; ++i)
            total += exactHeight(i, width);
        return total;
    };
    for (const int width : widths)
        QCOMPARE(rows.heightForWidth(width), guesses ? 40 * count : exactTotal(width));
    // One stand-in per width, whatever the length of the list.
    QCOMPARE(guessed, guesses ? int(widths.size()) : 0);
    QCOMPARE(rows.estimating(), guesses);

    // Over the next turns every guess is worked out once; the list then answers exactly.
    QTRY_VERIFY_WITH_TIMEOUT(!rows.estimating(), 30000);
    for (const int width : widths)
        QCOMPARE(rows.heightForWidth(width), exactTotal(width));
    QCOMPARE(asked, count * int(widths.size()));

    // One entry shows something new: it is worked out at once, nothing is guessed again.
    rows.forget(keys[5]);
    for (const int width : widths)
        QCOMPARE(rows.heightForWidth(width), exactTotal(width));
    QCOMPARE(guessed, guesses ? int(widths.size()) : 0);
    QVERIFY(!rows.estimating());
}

void TestUiComponents::lazyRowsTakeTheirLengthOnceMeasured()
{
    // Rows as tall as exactly expected, in a scroll area; every entry is first guessed taller.
    const int count = 4000;
    std::vector<QUuid> keys(static_cast<size_t>(count));
    std::generate(keys.begin(), keys.end(), &QUuid::createUuid);
    QScrollArea area;
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    LazyRows* rows = nullptr;
    rows = new LazyRows(
        [&rows](int i, QWidget* parent) {
            auto* row = new QWidget(parent);
            row->setFixedHeight(exactHeight(i, rows->width()));
            row->setProperty("key", rows->keys()[size_t(i)]);
            return row;
        },
        &exactHeight);
    rows->setEstimate([](int) { return 80; });
    column->addWidget(rows);
    area.setWidget(content);
    area.setWidgetResizable(true);
    area.resize(400, 300);
    area.setAttribute(Qt::WA_DontShowOnScreen);
    area.show();
    rows->setKeys(keys);
    QCoreApplication::processEvents();

    // What shows is right from the first frame: the rows in view are built and measured.
    const QList<QWidget*> first = rows->builtRows();
    QVERIFY(!first.isEmpty());
    QCOMPARE(first.first()->property("key").value<QUuid>(), keys[0]);
    for (qsizetype i = 1; i < first.size(); ++i)
        QCOMPARE(first[i]->y(), first[i - 1]->geometry().bottom() + 1);

    QTRY_VERIFY_WITH_TIMEOUT(!rows->estimating(), 30000);
    int total = 0;
    for (int i = 0; i < count; ++i)
        total += exactHeight(i, rows->width());
    QTRY_COMPARE_WITH_TIMEOUT(rows->height(), total, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(area.verticalScrollBar()->maximum(), total - area.viewport()->height(), 30000);
    // The first rows stayed where they were built.
    QCOMPARE(rows->builtRows().first(), first.first());

    // At the end of the list, the last entry's row ends the list.
    area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    const QWidget* last = rows->builtRows().last();
    QCOMPARE(last->property("key").value<QUuid>(), keys.back());
    QCOMPARE(last->geometry().bottom() + 1, total);
}

namespace {

// A long list in a 300-point-high scroll area whose heights come in slices: counts what the owner
// is asked and which rows are built.
struct SlicedList {
    QScrollArea area;
    LazyRows* rows = nullptr;
    std::vector<QUuid> keys;
    int asked = 0;
    int askedAgain = 0; // for an entry and width asked before
    QSet<QPair<int, int>> askedAt;
    int made = 0;

    explicit SlicedList(int count)
    {
        keys.resize(size_t(count));
        std::generate(keys.begin(), keys.end(), &QUuid::createUuid);
        auto* content = new QWidget;
        auto* column = new QVBoxLayout(content);
        column->setContentsMargins(0, 0, 0, 0);
        rows = new LazyRows(
            [this](int i, QWidget* parent) {
                ++made;
                auto* row = new QWidget(parent);
                row->setFixedHeight(exactHeight(i, rows->width()));
                row->setFocusPolicy(Qt::TabFocus);
                row->setProperty("key", rows->keys()[size_t(i)]);
                return row;
            },
            [this](int i, int width) {
                ++asked;
                if (askedAt.contains({i, width}))
                    ++askedAgain;
                askedAt.insert({i, width});
                return exactHeight(i, width);
            });
        rows->setEstimate([](int) { return 35; });
        column->addWidget(rows);
        area.setWidget(content);
        area.setWidgetResizable(true);
        area.resize(400, 300);
        area.setAttribute(Qt::WA_DontShowOnScreen);
        rows->setKeys(keys);
    }
    int exactTop(int index) const
    {
        int top = 0;
        for (int i = 0; i < index; ++i)
            top += exactHeight(i, rows->width());
        return top;
    }
};

} // namespace

void TestUiComponents::lazyRowsStartLongListsInSlices_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("scrolledTo"); // share of the scroll range, once all is exact
    QTest::newRow("3,000, the middle") << 3000 << 0.5;
    QTest::newRow("20,000, the middle") << 20000 << 0.5;
    QTest::newRow("20,000, the end") << 20000 << 1.0;
}

void TestUiComponents::lazyRowsStartLongListsInSlices()
{
    QFETCH(int, count);
    QFETCH(double, scrolledTo);
    SlicedList list(count);
    list.area.show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

    // The turn that shows the list builds a screenful and asks about no other entry.
    QCOMPARE(list.asked, 0);
    QVERIFY(list.made > 0 && list.made <= 2 * 300 / 30 + 4);
    QVERIFY(list.rows->estimating());

    // Every later turn works out a bounded slice, until all are exact.
    int turns = 0;
    while (list.rows->estimating()) {
        const int before = list.asked;
        QCoreApplication::sendPostedEvents(list.rows, QEvent::MetaCall);
        QVERIFY2(list.asked - before <= LazyRows::entriesPerTurn, qPrintable(QString::number(list.asked - before)));
        QVERIFY(++turns <= count);
    }
    // Each entry once per width the layouts asked for (a few), none twice.
    QVERIFY(turns >= count / LazyRows::entriesPerTurn);
    QVERIFY(list.asked >= count - list.made && list.asked <= 4 * count);
    QCOMPARE(list.askedAgain, 0);
    const int asked = list.asked;

    // Then the scroll length is the exact one and scrolling lands on the right rows.
    QCoreApplication::processEvents();
    const int total = list.exactTop(count);
    QTRY_COMPARE_WITH_TIMEOUT(list.rows->height(), total, 30000);
    QScrollBar* bar = list.area.verticalScrollBar();
    QTRY_COMPARE_WITH_TIMEOUT(bar->maximum(), total - list.area.viewport()->height(), 30000);
    bar->setValue(int(bar->maximum() * scrolledTo));
    QCoreApplication::processEvents();
    const QList<QWidget*> built = list.rows->builtRows();
    QVERIFY(!built.isEmpty());
    for (QWidget* row : built) {
        const auto key = row->property("key").value<QUuid>();
        const int index = int(std::find(list.keys.begin(), list.keys.end(), key) - list.keys.begin());
        QCOMPARE(row->y(), list.exactTop(index));
    }
    QVERIFY(built.first()->y() <= bar->value());
    QVERIFY(built.last()->geometry().bottom() >= bar->value() + list.area.viewport()->height() - 1);
    if (scrolledTo == 1.0)
        QCOMPARE(built.last()->property("key").value<QUuid>(), list.keys.back());
    QCOMPARE(list.asked, asked); // placing rows asked nothing again
}

void TestUiComponents::lazyRowsKeepHeightsAcrossNewOrders()
{
    const int count = 3000;
    const int width = 400;
    std::vector<QUuid> keys(static_cast<size_t>(count));
    std::generate(keys.begin(), keys.end(), &QUuid::createUuid);
    int asked = 0;
    LazyRows rows([](int, QWidget* parent) { return new QWidget(parent); },
                  [&asked](int i, int w) {
                      ++asked;
                      return exactHeight(i, w);
                  });
    rows.setEstimate([](int) { return 35; });
    rows.setKeys(keys);
    rows.heightForWidth(width);
    QTRY_VERIFY_WITH_TIMEOUT(!rows.estimating(), 30000);
    QCOMPARE(asked, count);

    // A new order with one entry gone and one new: only the new one is worked out, and every
    // entry keeps the height it was given wherever it moved.
    std::vector<QUuid> reordered(keys.rbegin(), keys.rend() - 1);
    const QUuid added = QUuid::createUuid();
    reordered.insert(reordered.begin() + 10, added);
    int expected = 0;
    for (size_t i = 0; i < reordered.size(); ++i) {
        const auto it = std::find(keys.begin(), keys.end(), reordered[i]);
        expected += exactHeight(it == keys.end() ? int(i) : int(it - keys.begin()), width);
    }
    rows.setKeys(reordered);
    QCOMPARE(rows.heightForWidth(width), expected);
    QCOMPARE(asked, count + 1);
    QVERIFY(!rows.estimating());
    QCOMPARE(rows.indexOf(added), 10);
    QCOMPARE(rows.indexOf(keys.back()), 0);
    QCOMPARE(rows.indexOf(keys.front()), -1);

    // A forgotten entry is asked again, once, at its new place.
    const int before = exactHeight(int(std::find(keys.begin(), keys.end(), reordered[20]) - keys.begin()), width);
    rows.forget(reordered[20]);
    QCOMPARE(rows.heightForWidth(width), expected - before + exactHeight(20, width));
    rows.heightForWidth(width);
    QCOMPARE(asked, count + 2);
}

void TestUiComponents::wrappingHeightWithoutALabel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxLines");
    const QString words = QStringLiteral("a sentence that wraps over several lines when narrow ").repeated(4);
    QTest::newRow("one word") << "Call" << 0;
    QTest::newRow("words") << words << 0;
    QTest::newRow("words, two lines at most") << words << 2;
    QTest::newRow("line breaks") << "first\nsecond\n\nfourth" << 0;
    QTest::newRow("line breaks, cut") << "first\nsecond\n\nfourth" << 3;
    QTest::newRow("one long word") << QString(90, u'w') << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestUiComponents::wrappingHeightWithoutALabel()
{
    QFETCH(QString, text);
    QFETCH(int, maxLines);
    WrappingLabel label(text);
    label.setFont(Theme::font(15, QFont::DemiBold));
    label.setMaxLines(maxLines);
    // Widths back and forth, as a page's layouts ask: more than the label keeps, some twice.
    for (const int width : {1, 60, 230, 640, 230, 1, 410, 900, 640, 60, 900})
        QCOMPARE(WrappingLabel::heightFor(text, label.font(), width, maxLines), label.heightForWidth(width));
    // What it kept goes with the text, the font and the limit it was laid out for.
    int limit = maxLines;
    const std::vector<std::function<void()>> changes = {
        [&] { label.setText(text + QStringLiteral(" and then some more words at the end")); },
        [&] { label.setFont(Theme::font(11)); },
        [&] { label.setMaxLines(limit = maxLines == 0 ? 1 : 0); },
    };
    for (const auto& change : changes) {
        label.heightForWidth(230);
        change();
        for (const int width : {230, 60})
            QCOMPARE(label.heightForWidth(width), WrappingLabel::heightFor(label.text(), label.font(), width, limit));
    }
}

void TestUiComponents::sheetPlacement_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("frame"); // the window's, title bar included
    QTest::addColumn<int>("clientTop");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("placed");
    const QRect screen(0, 0, 1280, 720);
    const QRect window(16, 0, 1242, 711); // client area from y 22
    QTest::newRow("below the title bar, centred")
        << QSize(460, 440) << window << 22 << screen << QRect(407, 22, 460, 440);
    QTest::newRow("as tall as the client area")
        << QSize(620, 689) << window << 22 << screen << QRect(327, 22, 620, 689);
    QTest::newRow("taller: up over the title bar")
        << QSize(620, 700) << window << 22 << screen << QRect(327, 11, 620, 700);
    QTest::newRow("taller than the window: at its top")
        << QSize(620, 715) << window << 22 << screen << QRect(327, 0, 620, 715);
    // Off the screen only where the window is, and still centred over it.
    QTest::newRow("window partly off screen to the left")
        << QSize(460, 300) << QRect(-400, 100, 600, 500) << 122 << screen << QRect(-330, 122, 460, 300);
    QTest::newRow("window reaching below the screen")
        << QSize(460, 400) << QRect(100, 500, 900, 600) << 522 << screen << QRect(320, 522, 460, 400);
    QTest::newRow("window over the panel's strip at the bottom right")
        << QSize(460, 380) << QRect(600, 300, 680, 420) << 322 << screen.adjusted(0, 0, 0, -40)
        << QRect(710, 322, 460, 380);
    QTest::newRow("sheet wider than the window at the screen's edge")
        << QSize(460, 300) << QRect(-100, 100, 400, 500) << 122 << screen << QRect(-100, 122, 460, 300);
    QTest::newRow("second screen at 2x, panel on top") << QSize(620, 684) << QRect(1300, 24, 1240, 1380) << 46
                                                       << QRect(1280, 24, 1280, 1416) << QRect(1610, 46, 620, 684);
}

void TestUiComponents::sheetPlacement()
{
    QFETCH(QSize, size);
    QFETCH(QRect, frame);
    QFETCH(int, clientTop);
    QFETCH(QRect, available);
    QTEST(Sheet::placement(size, frame, clientTop, available), "placed");
}

void TestUiComponents::sheetDimsItsWindowWhileOpen()
{
    // The compositor hears of the sheet as a modal dialog, so that it centres it over the window.
    struct Hints : WindowHints {
        QList<QWindow*> modal;
        void markModal(QWindow* window) override { modal.append(window); }
        bool place(QWindow*, QPoint) override { return false; }
    } hints;
    Sheet::useWindowHints(&hints);
    const auto forget = qScopeGuard([] { Sheet::useWindowHints(nullptr); });
    QWidget window;
    window.show();
    QDialog sheet;
    Sheet::attach(&sheet, &window);
    const auto page = [&window] { return window.grab().toImage().pixelColor(10, 10); };
    const QColor undimmed = page();
    sheet.open();
    QTRY_COMPARE(hints.modal.size(), 1);
    QCOMPARE(hints.modal.first(), sheet.windowHandle());
    window.resize(700, 500);
    QCOMPARE(window.findChild<QWidget*>(QStringLiteral("sheetDimmer"))->geometry(), window.rect());
    QVERIFY(page().lightness() < undimmed.lightness() - 20);
    sheet.reject();
    QCOMPARE(page(), undimmed);
}

void TestUiComponents::lastRowReachedByKeyboardKeepsThePadding()
{
    // A sheet's scrolling form whose last row holds a switch, as the doom-scroll sheet's does.
    QScrollArea area;
    area.setWidgetResizable(true);
    area.resize(300, 200);
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(28, 22, 28, 22);
    QPushButton* above = nullptr;
    for (int i = 0; i < 4; ++i)
        column->addWidget(above = new QPushButton(QStringLiteral("Block")));
    auto* row = new QWidget;
    row->setFixedHeight(56);
    auto* switchBox = new QPushButton(QStringLiteral("On"), row);
    switchBox->setGeometry(200, 12, 40, 22); // its bottom well above the row's
    column->addWidget(row);
    area.setWidget(page);
    area.show();
    area.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&area));
    above->setFocus();
    QTest::keyClick(above, Qt::Key_Tab);
    QCOMPARE(area.viewport()->height() - row->mapTo(area.viewport(), QPoint(0, row->height())).y(), 22);
}

// Last: it puts the application's own style in place for good.
void TestUiComponents::optionsMenuOpensInThePalette()
{
    Theme::apply(*qApp);
    EarlierTodoRow row(todo(QStringLiteral("Old")), 0, TestEnvironment::calendar());
    QMenu* menu = row.menu();
    menu->addAction(QStringLiteral("Move to Today"));
    menu->addAction(QStringLiteral("Delete…"));
    row.show();
    QImage drawn;
    QTimer::singleShot(0, &row, [&] {
        QCOMPARE(menu->activeAction(), menu->actions().first()); // opened by the keyboard
        drawn = menu->grab().toImage();
        menu->close();
    });
    QTest::keyClick(row.findChild<QWidget*>(QStringLiteral("optionsButton")), Qt::Key_Space);
    QTRY_VERIFY(!drawn.isNull());
    const auto at = [&](int item) {
        const QRect r = menu->actionGeometry(menu->actions().at(item));
        return drawn.pixelColor((QPointF(r.center().x(), r.top() + 3) * drawn.devicePixelRatio()).toPoint()).rgb();
    };
    QCOMPARE(at(0), FocusColor::ink().rgb());
    QCOMPARE(at(1), FocusColor::paper().rgb());
}

QTEST_MAIN(TestUiComponents)
#include "tst_ui_components.moc"
