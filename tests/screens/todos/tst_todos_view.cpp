#include "StoreFixture.h"
#include "TmpfsMount.h"
#include "router/AppRouter.h"
#include "screens/todos/TaskEditorModel.h"
#include "screens/todos/TaskEditorSheet.h"
#include "screens/todos/TodosView.h"
#include "ui/ChoiceDialog.h"
#include "ui/Eyebrow.h"
#include "ui/FocusCards.h"
#include "ui/LazyRows.h"
#include "ui/Motion.h"
#include "ui/Theme.h"
#include "ui/TodoRows.h"
#include "ui/WrappingLabel.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPaintEngine>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <future>

using Setup = std::function<void(StorageService&)>;
Q_DECLARE_METATYPE(Setup)

namespace {

Date ny(int y, int mo, int d, int h = 0, int mi = 0)
{
    return TestEnvironment::at(y, mo, d, h, mi);
}

TaskItem todo(const QString& title, Date created, bool done = false,
              TaskItem::Priority priority = TaskItem::Priority::medium)
{
    TaskItem t;
    t.id = QUuid::createUuid();
    t.title = title;
    t.time = TaskItem::anytime;
    t.priority = priority;
    t.isCompleted = done;
    t.createdAt = created;
    t.updatedAt = created;
    return t;
}

const Date today = ny(2026, 12, 7, 8, 0); // the fixture's clock reads 10:00 that Monday

// An image that draws nothing and notes the face of every text drawn on it. Symbols are drawn as
// shapes, so only text faces show.
class DrawnFaces : public QImage {
public:
    explicit DrawnFaces(QSize size) : QImage(size, QImage::Format_ARGB32_Premultiplied) {}
    QPaintEngine* paintEngine() const override { return &m_engine; }
    QSet<QString> faces() const { return m_engine.faces; }

private:
    struct Engine : QPaintEngine {
        Engine() : QPaintEngine(AllFeatures) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPath(const QPainterPath&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawTextItem(const QPointF&, const QTextItem& item) override { faces.insert(Theme::faceKey(item.font())); }
        Type type() const override { return User; }
        QSet<QString> faces;
    };
    mutable Engine m_engine;
};

QSet<QString> textFaces(const QList<QFont>& faces)
{
    QSet<QString> keys;
    for (const QFont& f : faces)
        if (!f.families().contains(QStringLiteral("Material Icons")))
            keys.insert(Theme::faceKey(f));
    return keys;
}

} // namespace

class TodosViewTest : public QObject {
    Q_OBJECT

    std::unique_ptr<StoreFixture> f;
    std::unique_ptr<AppRouter> router;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<TodosView> view;

    // A store that starts from `list` as its file, as a long list comes from disk.
    bool startStoreWith(const QJsonArray& list)
    {
        QFile file(f->file(QStringLiteral("todos.json")));
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(list).toJson()) <= 0)
            return false;
        file.close();
        f->make();
        context->storage = f->store.get();
        return true;
    }
    void makeView()
    {
        view = std::make_unique<TodosView>(*context);
        view->resize(900, 900);
        view->show();
        view->refresh();
    }
    QStringList present() const { return present(*view); }
    static QStringList present(const TodosView& page)
    {
        QStringList names;
        for (const char* name : {"focusCard", "emptyCard", "laterSection", "laterEmpty", "earlierBox", "doneSection",
                                 "plannedSection", "plannedEmpty"})
            if (auto* w = page.findChild<QWidget*>(QLatin1String(name)); w && w->isVisibleTo(&page))
                names.append(QLatin1String(name));
        return names;
    }
    // What a person reads on the page: its parts, the card's to-do and the rows, top to bottom.
    static QStringList listed(const TodosView& page)
    {
        QStringList seen = present(page);
        if (auto* card = page.findChild<FocusHeroCard*>(QStringLiteral("focusCard")))
            seen.append(card->todo().title);
        for (const char* section : {"laterSection", "doneSection"}) {
            auto* box = page.findChild<QWidget*>(QLatin1String(section));
            QList<QuietTodoRow*> rows = box ? box->findChildren<QuietTodoRow*>() : QList<QuietTodoRow*>();
            rows.removeIf([](QuietTodoRow* r) { return r->isHidden(); });
            std::sort(rows.begin(), rows.end(), [](QuietTodoRow* a, QuietTodoRow* b) { return a->y() < b->y(); });
            for (QuietTodoRow* r : rows)
                seen.append(QLatin1String(section) + QLatin1Char(' ') + r->todo().title);
        }
        return seen;
    }
    int count() const { return int(f->store->todos().todos().size()); }
    // The built rows of a section, top to bottom.
    QList<QuietTodoRow*> rowsOf(const char* section) const
    {
        QList<QuietTodoRow*> rows = view->findChild<QWidget*>(section)->findChildren<QuietTodoRow*>();
        rows.removeIf([](QuietTodoRow* r) { return r->isHidden(); });
        std::sort(rows.begin(), rows.end(), [](QuietTodoRow* a, QuietTodoRow* b) { return a->y() < b->y(); });
        return rows;
    }

private slots:
    void init()
    {
        f = std::make_unique<StoreFixture>();
        f->make();
        router = std::make_unique<AppRouter>();
        context = std::make_unique<AppContext>();
        context->storage = f->store.get();
        context->router = router.get();
        context->clock = &f->clock;
        context->calendar = [this] { return f->calendar; };
        context->events = &f->events;
    }
    void cleanup()
    {
        view.reset();
        context.reset();
        router.reset();
        f.reset();
    }

    void sections_data();
    void sections();
    void firstFacesCoverWhatTheDayDraws_data();
    void firstFacesCoverWhatTheDayDraws();
    void headlineAndRollOver_data();
    void headlineAndRollOver();
    void dayShortcutsQuietWhileSheetOpen();
    void movingToToday();
    void earlierBoxEasesOpenOnly();
    void earlierBoxBuildsWhatIsInView_data();
    void earlierBoxBuildsWhatIsInView();
    void deleteQuestions_data();
    void deleteQuestions();
    void newItemRequestOpensEditorForTheShownDay_data();
    void newItemRequestOpensEditorForTheShownDay();
    void renamedRowIsMeasuredAgain();
    void longListsBuildWhatIsShown_data();
    void longListsBuildWhatIsShown();
    void longListKeepsItsLengthWhileScrolled_data();
    void longListKeepsItsLengthWhileScrolled();
    void longDayFirstScreenThenTheRest_data();
    void longDayFirstScreenThenTheRest();
    void todosReadWhileThePageShows();
    void tabFollowsThePage_data();
    void tabFollowsThePage();
    void refusedChangeIsSaidOnThePage_data();
    void refusedChangeIsSaidOnThePage();
};

void TodosViewTest::sections_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("shift");
    QTest::addColumn<QStringList>("sections");
    // Made at all: a section is made when it first has something to show.
    QTest::addColumn<QStringList>("made");

    // Each taken in on its own by a page that is open.
    const auto add = [](std::vector<TaskItem> list) {
        return Setup([list](StorageService& s) {
            for (const TaskItem& t : list) {
                s.todos().addTodo(t);
                QCoreApplication::processEvents();
            }
        });
    };
    using P = TaskItem::Priority;
    const std::vector<TaskItem> mixed{todo("a", today, false, P::low), todo("b", today, false, P::high),
                                      todo("c", today, true), todo("d", today), todo("e", today, false, P::high)};
    QTest::newRow("empty today") << add({}) << 0 << QStringList{"emptyCard"} << QStringList{};
    QTest::newRow("all done") << add({todo("a", today, true), todo("b", today, true)}) << 0
                              << QStringList{"emptyCard", "doneSection"} << QStringList{"doneSection"};
    QTest::newRow("one open") << add({todo("a", today)}) << 0 << QStringList{"focusCard", "laterSection", "laterEmpty"}
                              << QStringList{"laterSection"};
    QTest::newRow("three open, one done")
        << add({todo("a", today), todo("b", today), todo("c", today), todo("d", today, true)}) << 0
        << QStringList{"focusCard", "laterSection", "doneSection"} << QStringList{"laterSection", "doneSection"};
    QTest::newRow("mixed, one done after") << Setup([add, mixed](StorageService& s) {
        add(mixed)(s);
        s.todos().toggleTodo(mixed[1].id);
        QCoreApplication::processEvents();
        s.todos().deleteTodo(mixed[3]);
    }) << 0 << QStringList{"focusCard", "laterSection", "doneSection"}
                                           << QStringList{"laterSection", "doneSection"};
    QTest::newRow("earlier") << add({todo("old", ny(2026, 12, 3))}) << 0 << QStringList{"emptyCard", "earlierBox"}
                             << QStringList{};
    QTest::newRow("older than a week") << add({todo("old", ny(2026, 11, 29))}) << 0 << QStringList{"emptyCard"}
                                       << QStringList{};
    QTest::newRow("another day, nothing")
        << add({todo("a", today)}) << 2 << QStringList{"plannedSection", "plannedEmpty"}
        << QStringList{"laterSection", "plannedSection"};
    QTest::newRow("another day, only done") << add({todo("a", ny(2026, 12, 9), true)}) << 2
                                            << QStringList{"plannedSection"} << QStringList{"plannedSection"};
}

void TodosViewTest::sections()
{
    QFETCH(Setup, setup);
    QFETCH(int, shift);
    // A page open while the to-dos change lists them as one opened afterwards does.
    TodosView open(*context);
    open.resize(900, 900);
    open.show();
    setup(*f->store);
    QCoreApplication::processEvents();
    makeView();
    if (shift == 0)
        QCOMPARE(listed(open), listed(*view));
    view->shiftDay(shift);
    QTEST(present(), "sections");
    QStringList made;
    for (const char* name : {"laterSection", "doneSection", "plannedSection"})
        if (view->findChild<QWidget*>(QLatin1String(name)))
            made.append(QLatin1String(name));
    QTEST(made, "made");
}

void TodosViewTest::firstFacesCoverWhatTheDayDraws_data()
{
    QTest::addColumn<std::vector<TaskItem>>("list");
    // With no to-dos at all, nothing is loaded that the day does not draw.
    QTest::addColumn<bool>("exactly");

    TaskItem timed = todo("timed", today);
    timed.time = QStringLiteral("3:00 PM");
    TaskItem steps = todo("with steps", today, false, TaskItem::Priority::high);
    steps.subtasks.push_back(Subtask{QUuid::createUuid(), QStringLiteral("a step"), false});
    TaskItem noted = todo("with notes", today, false, TaskItem::Priority::high);
    noted.notes = QStringLiteral("some words");
    QTest::newRow("no to-dos") << std::vector<TaskItem>{} << true;
    QTest::newRow("all done") << std::vector<TaskItem>{todo("a", today, true), todo("b", today, true)} << false;
    QTest::newRow("one open") << std::vector<TaskItem>{todo("a", today)} << false;
    QTest::newRow("timed, more and done")
        << std::vector<TaskItem>{timed, todo("b", today), todo("c", today, true)} << false;
    QTest::newRow("steps in focus") << std::vector<TaskItem>{steps, timed} << false;
    QTest::newRow("notes in focus") << std::vector<TaskItem>{noted} << false;
    QTest::newRow("only the past week") << std::vector<TaskItem>{todo("old", ny(2026, 12, 3))} << false;
    QTest::newRow("only another day") << std::vector<TaskItem>{todo("later", ny(2026, 12, 9))} << false;
}

void TodosViewTest::firstFacesCoverWhatTheDayDraws()
{
    QFETCH(std::vector<TaskItem>, list);
    QFETCH(bool, exactly);
    for (const TaskItem& t : list)
        f->store->todos().addTodo(t);
    Motion::setReduced(true);
    makeView();
    const QSet<QString> primed = textFaces(TodosView::firstFaces(*f->store));
    DrawnFaces drawn(view->size());
    view->render(&drawn);
    Motion::setReduced(false);
    QVERIFY(!drawn.faces().isEmpty());
    // Every face drawn was loaded before the page was built, and with nothing to list, no other.
    QVERIFY2(primed.contains(drawn.faces()), qPrintable(QStringList((drawn.faces() - primed).values()).join(u' ')));
    if (exactly)
        QCOMPARE(primed, drawn.faces());
}

void TodosViewTest::headlineAndRollOver_data()
{
    QTest::addColumn<int>("shift");
    QTest::addColumn<QString>("midnight"); // how the new day is noticed: the system's event, or none
    QTest::addColumn<QString>("headline");
    QTest::addColumn<bool>("todayLink");

    QTest::newRow("today") << 0 << ""
                           << "What matters most today" << false;
    QTest::newRow("tomorrow") << 1 << ""
                              << "Planned for tomorrow" << true;
    QTest::newRow("yesterday") << -1 << ""
                               << "Yesterday" << true;
    QTest::newRow("two ahead") << 2 << ""
                               << "Planned for Wednesday" << true;
    // The wall clock moves a day while the monotonic clock stands (a suspend, a clock set by hand).
    QTest::newRow("today, clock set") << 0 << "clockChanged"
                                      << "What matters most today" << false;
    QTest::newRow("today, woken") << 0 << "didWake"
                                  << "What matters most today" << false;
    QTest::newRow("tomorrow, new day") << 1 << "dayChanged"
                                       << "What matters most today" << false;
    QTest::newRow("yesterday, clock set") << -1 << "clockChanged"
                                          << "Sunday" << true;
}

void TodosViewTest::headlineAndRollOver()
{
    QFETCH(int, shift);
    QFETCH(QString, midnight);
    makeView();
    view->shiftDay(shift);
    const Date shown = view->selectedDate();
    if (!midnight.isEmpty()) {
        f->changeWallClock(24 * 3600);
        QVERIFY(QMetaObject::invokeMethod(&f->events, midnight.toLatin1().constData()));
        QCoreApplication::processEvents(); // the page hears the system's events queued
        // Only a page that showed the old today follows to the new one.
        QCOMPARE(f->calendar.isSameDay(view->selectedDate(), f->clock.now()), shift == 0 || shift == 1);
        if (shift != 0)
            QCOMPARE(view->selectedDate(), shown);
    }
    QTEST(view->findChild<WrappingLabel*>("headline")->text(), "headline");
    QTEST(view->findChild<QWidget*>("todayLink")->isVisibleTo(view.get()), "todayLink");
}

void TodosViewTest::dayShortcutsQuietWhileSheetOpen()
{
    makeView();
    view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(view.get()));
    const Date start = view->selectedDate();
    QTest::keyClick(view.get(), Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(view->selectedDate(), f->calendar.addDays(start, 1));

    view->openNewEditor();
    QTRY_VERIFY_WITH_TIMEOUT(view->editor() && view->editor()->isVisible(), 5000);
    const Date before = view->selectedDate();
    QTest::keyClick(view.get(), Qt::Key_Right, Qt::ControlModifier);
    QTest::keyClick(view->editor(), Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(view->selectedDate(), before);
}

void TodosViewTest::movingToToday()
{
    for (int d : {3, 4, 5})
        f->store->todos().addTodo(todo(QStringLiteral("from the %1th").arg(d), ny(2026, 12, d)));
    makeView();
    for (const auto& [choice, left] : {std::pair{"Move to Today", 2}, {"Move All to Today", 0}}) {
        QMenu menu;
        view->fillEarlierMenu(&menu, f->store->todos().earlierTodos().front());
        for (QAction* a : menu.actions())
            if (a->text() == QLatin1String(choice))
                a->trigger();
        QCOMPARE(int(f->store->todos().earlierTodos().size()), left);
        QCOMPARE(int(f->store->todos().openTodos().size()), 3 - left);
        view->refresh();
        QCOMPARE(present().contains(QStringLiteral("earlierBox")), left > 0);
    }
}

void TodosViewTest::earlierBoxBuildsWhatIsInView_data()
{
    QTest::addColumn<int>("earlier");
    QTest::addColumn<int>("mostBuilt");
    QTest::addColumn<bool>("eased"); // a fade draws the whole column at every frame
    QTest::newRow("one") << 1 << 1 << true;
    QTest::newRow("a few") << 3 << 3 << true;
    QTest::newRow("two thousand") << 2000 << 60 << false;
}

void TodosViewTest::earlierBoxBuildsWhatIsInView()
{
    // An open box builds the rows in view, however many the past week left: twenty thousand
    // once held the window for minutes. A row's menu knows whether there are others to move.
    QFETCH(int, earlier);
    QFETCH(int, mostBuilt);
    QFETCH(bool, eased);
    QJsonArray list;
    for (int i = 0; i < earlier; ++i)
        list.append(encodeTaskItem(todo(QStringLiteral("Left over %1").arg(i), ny(2026, 12, 3 + i % 4))));
    QVERIFY(startStoreWith(list));
    makeView();
    view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(view.get()));
    const auto toggle = [this] { return view->findChild<QAbstractButton*>(QStringLiteral("earlierToggle")); };
    // A screen reader says the box's state with its name: collapsed, then expanded.
    const auto expanded = [&] { return QAccessible::queryAccessibleInterface(toggle())->state(); };
    QVERIFY(expanded().expandable && !expanded().expanded);
    toggle()->setFocus();
    QTest::keyClick(toggle(), Qt::Key_Space);
    view->refresh();
    // The box was made again; the keyboard stays on its toggle.
    QCOMPARE(QApplication::focusWidget(), toggle());
    QVERIFY(expanded().expandable && expanded().expanded);
    QCOMPARE(toggle()->accessibleDescription(), QString());
    QCOMPARE(view->findChild<QWidget*>(QStringLiteral("earlierRows"))->graphicsEffect() != nullptr, eased);
    QTRY_VERIFY_WITH_TIMEOUT(!view->findChildren<EarlierTodoRow*>().isEmpty(), 30000);
    QCoreApplication::processEvents();
    const QList<EarlierTodoRow*> rows = view->findChildren<EarlierTodoRow*>();
    QVERIFY2(rows.size() <= mostBuilt, qPrintable(QString::number(rows.size())));
    if (earlier <= mostBuilt)
        QCOMPARE(int(rows.size()), earlier);
    QStringList offered;
    for (QAction* a : rows.front()->menu()->actions())
        offered.append(a->text());
    QCOMPARE(offered.contains(QStringLiteral("Move All to Today")), earlier >= 2);
}

void TodosViewTest::earlierBoxEasesOpenOnly()
{
    double now = 50;
    Motion::setTimeSource([&now] { return now; });
    const auto restore = qScopeGuard([] { Motion::setTimeSource({}); });
    for (int d : {3, 4})
        f->store->todos().addTodo(todo(QStringLiteral("from the %1th").arg(d), ny(2026, 12, d)));
    makeView();
    const auto opacity = [this]() -> std::optional<double> {
        auto* rows = view->findChild<QWidget*>(QStringLiteral("earlierRows"));
        if (!rows)
            return std::nullopt;
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(rows->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    };
    QCOMPARE(opacity(), std::nullopt);

    // Opened by the person: the rows are there at once (the menu works) and ease in over 0.2 s.
    view->findChild<QAbstractButton*>(QStringLiteral("earlierToggle"))->click();
    view->refresh();
    QVERIFY(view->showEarlier());
    QCOMPARE(opacity(), 0.0);
    const auto step = [&](double to) {
        now = to;
        for (Tween* tween : view->findChildren<Tween*>())
            tween->tick();
    };
    // In degrees, to a hundredth.
    const auto angle = [this] {
        const double degrees =
            view->findChild<QWidget*>(QStringLiteral("earlierChevron"))->property("angle").toDouble();
        return std::round(degrees * 100) / 100;
    };
    QCOMPARE(angle(), 0.0); // the chevron turns from pointing down…
    step(50.1);
    QVERIFY(*opacity() > 0.0 && *opacity() < 1.0);
    QCOMPARE(angle(), 90.0);
    step(50.2);
    QCOMPARE(opacity(), 1.0);
    QCOMPARE(angle(), 180.0); // …to pointing up

    // A store change rebuilds the open box without easing it in again, or turning its chevron.
    f->store->todos().addTodo(todo(QStringLiteral("from the 5th"), ny(2026, 12, 5)));
    view->refresh();
    QCOMPARE(opacity(), 1.0);
    QCOMPARE(angle(), 180.0);

    // Closing turns it back.
    view->findChild<QAbstractButton*>(QStringLiteral("earlierToggle"))->click();
    view->refresh();
    QCOMPARE(angle(), 180.0);
    step(50.3);
    QCOMPARE(angle(), 90.0);
    step(50.4);
    QCOMPARE(angle(), 0.0);
}

void TodosViewTest::deleteQuestions_data()
{
    QTest::addColumn<bool>("repeating");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<bool>("stillRepeats");

    QTest::newRow("plain, delete") << false << "Delete" << 1 << false;
    QTest::newRow("series, delete all") << true << "Delete All" << 1 << false;
    QTest::newRow("series, stop repeating") << true << "Stop Repeating (Keep Past)" << 3 << false;
    QTest::newRow("series, cancel") << true << "Cancel" << 3 << true;
}

void TodosViewTest::deleteQuestions()
{
    QFETCH(bool, repeating);
    QFETCH(QString, choice);
    f->store->todos().addTodo(todo(QStringLiteral("Unrelated"), today));
    TaskItem target = todo(QStringLiteral("Buy milk"), today);
    if (repeating) {
        const QUuid series = QUuid::createUuid();
        for (Date day : {ny(2026, 12, 6), ny(2026, 12, 7)}) {
            TaskItem copy = todo(QStringLiteral("Buy milk"), day);
            copy.repeatOption = RepeatOption::daily;
            copy.recurringSeriesId = series;
            f->store->todos().addTodo(copy);
            target = copy;
        }
    } else {
        f->store->todos().addTodo(target);
    }
    makeView();
    view->requestDelete(target);
    ChoiceDialog* question = view->deleteQuestion();
    QVERIFY(question);
    QCOMPARE(question->buttonTexts(), (repeating ? QStringList{"Stop Repeating (Keep Past)", "Delete All", "Cancel"}
                                                 : QStringList{"Delete", "Cancel"}));
    QVERIFY(question->choose(choice));
    QTRY_VERIFY(!view->deleteQuestion());
    QTEST(count(), "remaining");
    bool repeats = false;
    for (const TaskItem& t : f->store->todos().todos())
        repeats = repeats || t.repeatOption != RepeatOption::none;
    QTEST(repeats, "stillRepeats");
}

void TodosViewTest::newItemRequestOpensEditorForTheShownDay_data()
{
    QTest::addColumn<bool>("builtAhead");
    QTest::addColumn<int>("shift");
    QTest::addColumn<Date>("created");
    QTest::newRow("built when asked") << false << 2 << ny(2026, 12, 9);
    // Built on Monday for Monday; asked for on Tuesday for Tuesday, which is then today.
    QTest::newRow("built ahead, the day before") << true << 1 << ny(2026, 12, 8);
}

void TodosViewTest::newItemRequestOpensEditorForTheShownDay()
{
    QFETCH(bool, builtAhead);
    QFETCH(int, shift);
    makeView();
    if (builtAhead) {
        QTRY_COMPARE(view->findChildren<TaskEditorSheet*>().size(), 1); // built while idle, not shown
        f->clock.advance(24 * 3600);
    }
    view->shiftDay(shift);
    router->setNewItemRequest(AppRouter::NewItem::todo);
    QVERIFY(view->editor());
    QVERIFY(!router->newItemRequest());
    QPointer<TaskEditorSheet> sheet = view->editor();
    const TaskEditorModel fresh(std::nullopt, view->selectedDate(), f->clock, context->calendar);
    QCOMPARE(sheet->findChild<QLabel*>("headerTitle")->text(), Eyebrow::displayText(fresh.headerTitle()));
    QCOMPARE(sheet->model().dueTime(), fresh.dueTime()); // 23:59 on today, 9:00 on another day
    auto* title = sheet->findChild<QLineEdit*>("titleField");
    QCOMPARE(sheet->focusWidget(), title);
    QTest::keyClicks(title, QStringLiteral("Plan the trip"));
    auto* notes = sheet->findChild<QPlainTextEdit*>("descriptionField");
    notes->setFocus(); // where the keyboard was as the sheet closed
    QTest::keyClicks(notes, QStringLiteral("Window seat"));
    QScrollBar* form = sheet->findChild<QScrollArea*>()->verticalScrollBar();
    form->setValue(form->maximum());
    sheet->save();
    QCOMPARE(count(), 1);
    QTEST(f->store->todos().todos().front().createdAt, "created");
    QTRY_VERIFY(!view->editor());
    QVERIFY(sheet && !sheet->isVisible()); // kept for the next one
    view->hide();
    view->show(); // a cleared request opens nothing again
    QVERIFY(!view->editor());
    // The next new to-do comes in the same sheet, blank.
    view->openNewEditor();
    QCOMPARE(view->editor(), sheet.data());
    QCOMPARE(title->text() + notes->toPlainText(), QString());
    QVERIFY(!title->isUndoAvailable());
    QCOMPARE(sheet->focusWidget(), title);
    QCOMPARE(form->value(), 0);
}

void TodosViewTest::renamedRowIsMeasuredAgain()
{
    f->store->todos().addTodo(todo(QStringLiteral("focus"), today, false, TaskItem::Priority::high));
    TaskItem later = todo(QStringLiteral("short"), today);
    f->store->todos().addTodo(later);
    makeView();
    const auto rowOf = [&] {
        for (QWidget* w : view->findChild<QWidget*>("laterSection")->findChildren<QWidget*>())
            if (w->property("todoId") == QVariant::fromValue(later.id))
                return w;
        return static_cast<QWidget*>(nullptr);
    };
    const int before = rowOf()->height();
    later.title = QStringLiteral("a title long enough to wrap onto several lines ").repeated(6);
    f->store->todos().upsertTodo(later);
    view->refresh();
    QTRY_VERIFY(rowOf()->height() > before); // remembered heights must not outlive the text
}

void TodosViewTest::longListsBuildWhatIsShown_data()
{
    QTest::addColumn<int>("shift");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QByteArray>("section");

    QTest::newRow("later today") << 0 << false << QByteArray("laterSection");
    QTest::newRow("done today") << 0 << true << QByteArray("doneSection");
    QTest::newRow("planned") << 1 << false << QByteArray("plannedSection");
}

void TodosViewTest::longListsBuildWhatIsShown()
{
    QFETCH(int, shift);
    QFETCH(bool, done);
    QFETCH(QByteArray, section);
    const Date day = f->calendar.addDays(today, shift);
    QJsonArray list{encodeTaskItem(todo(QStringLiteral("focus"), today, false, TaskItem::Priority::high))};
    for (int i = 0; i < 1500; ++i)
        list.append(encodeTaskItem(todo(QStringLiteral("To-do %1").arg(i, 4, 10, QLatin1Char('0')), day + i, done)));
    QVERIFY(startStoreWith(list));
    makeView();
    view->shiftDay(shift);
    // What the store lists for the section, in its order.
    const auto expected = [&] {
        std::vector<TaskItem> list =
            shift ? f->store->todos().todos(view->selectedDate()) : f->store->todos().todayTodos();
        std::erase_if(list, [&](const TaskItem& t) { return t.isCompleted != done || t.title == "focus"; });
        return list;
    };
    const auto shownMatchStore = [&] {
        const QList<QuietTodoRow*> rows = rowsOf(section);
        const std::vector<TaskItem> list = expected();
        const auto at = std::find(list.begin(), list.end(), rows.value(0)->todo());
        if (rows.isEmpty() || rows.size() > 60 || at == list.end() || list.end() - at < rows.size())
            return false;
        return std::equal(rows.begin(), rows.end(), at,
                          [](QuietTodoRow* r, const TaskItem& t) { return r->todo() == t; });
    };
    QTRY_VERIFY(shownMatchStore());
    QCOMPARE(rowsOf(section).first()->todo().id, expected().front().id);

    QScrollBar* bar = view->findChild<QScrollArea*>()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 50 * 52); // the page is laid out for the whole list
    // The list takes its exact length once every height is worked out: the bottom is there.
    QTRY_VERIFY(!view->findChild<QWidget*>(section)->findChild<LazyRows*>()->estimating());
    bar->setValue(bar->maximum());
    QTRY_VERIFY(shownMatchStore());
    QTRY_COMPARE(rowsOf(section).last()->todo().id, expected().back().id);

    // A change to one shown to-do: the rows of the others stay the same widgets.
    QList<QuietTodoRow*> before = rowsOf(section);
    const TaskItem changed = before.at(before.size() / 2)->todo();
    f->store->todos().deleteTodo(changed);
    QTRY_VERIFY(shownMatchStore());
    before.removeAt(before.size() / 2);
    for (QuietTodoRow* r : before)
        QVERIFY(rowsOf(section).contains(r));
}

void TodosViewTest::longListKeepsItsLengthWhileScrolled_data()
{
    QTest::addColumn<int>("width");
    QTest::newRow("narrowest window") << 620;
    QTest::newRow("default window") << 980;
}

void TodosViewTest::longListKeepsItsLengthWhileScrolled()
{
    // Rows not built yet take the height they are expected to have; if a built row measured
    // otherwise, the page would grow or shrink under the scroll bar as the person scrolls.
    QFETCH(int, width);
    QJsonArray list{encodeTaskItem(todo(QStringLiteral("focus"), today, false, TaskItem::Priority::high))};
    for (int i = 0; i < 600; ++i) {
        TaskItem t = todo(QStringLiteral("To-do %1").arg(i), today + i);
        if (i % 5 == 1)
            t.title += QStringLiteral(": call the insurer about the claim, then write to the landlord");
        if (i % 3 == 0)
            t.time = QStringLiteral("%1:%2 PM").arg(1 + i % 12).arg(i % 60, 2, 10, QLatin1Char('0'));
        for (int s = 0; s < i % 4; ++s)
            t.subtasks.push_back({QUuid::createUuid(), QStringLiteral("Step"), s == 0});
        list.append(encodeTaskItem(t));
    }
    QVERIFY(startStoreWith(list));
    makeView();
    view->resize(width, 900);
    QScrollBar* bar = view->findChild<QScrollArea*>()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 500 * 52);
    QTRY_VERIFY(!rowsOf("laterSection").isEmpty());
    const int length = bar->maximum();
    int seen = 0;
    for (int step = 1; step <= 20; ++step) {
        bar->setValue(length * step / 20);
        QTRY_VERIFY(!rowsOf("laterSection").isEmpty());
        QCoreApplication::processEvents();
        seen += int(rowsOf("laterSection").size());
        QCOMPARE(bar->maximum(), length);
    }
    QVERIFY(seen > 200);
}

void TodosViewTest::longDayFirstScreenThenTheRest_data()
{
    QTest::addColumn<int>("open");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("focusAt"); // place of the chosen focus in the day; -1: none
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("fewestTurns"); // 0: listed whole at once

    const int screen = int(TodosView::firstScreenEntries);
    const int slices = 2 * int(TodosView::copiedPerTurn) + 5;
    QTest::newRow("a screenful at once") << screen << 0 << -1 << QString() << 0;
    QTest::newRow("one more") << screen + 1 << 0 << -1 << QString() << 3;
    QTest::newRow("focus past the first screen") << 300 << 20 << 250 << QString() << 3;
    QTest::newRow("done ones past it") << 3 << 300 << 1 << QString() << 3;
    QTest::newRow("several slices") << slices << 0 << -1 << QString() << 5;
    QTest::newRow("a to-do deleted meanwhile") << slices << 0 << -1 << QStringLiteral("delete") << 2;
    QTest::newRow("another day shown meanwhile") << slices << 0 << -1 << QStringLiteral("next day") << 2;
}

void TodosViewTest::longDayFirstScreenThenTheRest()
{
    // A long day's first build lists its first screen; once the first frame is on screen the
    // rest is put in order, copied a slice per turn and listed, ending with the store's list.
    QFETCH(int, open);
    QFETCH(int, done);
    QFETCH(int, focusAt);
    QFETCH(QString, meanwhile);
    QFETCH(int, fewestTurns);
    QJsonArray list;
    for (int i = 0; i < open + done; ++i)
        list.append(
            encodeTaskItem(todo(QStringLiteral("To-do %1").arg(i), today + i, i >= open, TaskItem::Priority(i % 3))));
    QVERIFY(startStoreWith(list));
    if (focusAt >= 0)
        f->store->todos().setFocusTodoID(f->store->todos().todayTodos()[size_t(focusAt)].id);
    // A section made only when it has something to show lists nothing before.
    const auto keys = [this](const char* section) {
        const auto* box = view->findChild<QWidget*>(QLatin1String(section));
        return box ? box->findChild<LazyRows*>()->keys() : std::vector<QUuid>();
    };
    const auto focus = [this] { return view->findChild<FocusHeroCard*>(QStringLiteral("focusCard"))->todo().id; };
    const auto whole = [this](bool isDone) {
        std::vector<QUuid> ids;
        const std::vector<TaskItem> day = f->store->todos().todayTodos();
        const QUuid focusId = f->store->todos().focusTodoID().value_or(day.front().id);
        for (const TaskItem& t : day)
            if (t.isCompleted == isDone && t.id != focusId)
                ids.push_back(t.id);
        return ids;
    };
    std::vector<std::function<void()>> held;
    context->afterFirstFrame = [&held](std::function<void()> work) { held.push_back(std::move(work)); };
    view = std::make_unique<TodosView>(*context);
    const QUuid firstFocus = focus();
    QCOMPARE(view->listsFirstScreenOnly(), fewestTurns > 0);
    QCOMPARE(held.size(), size_t(fewestTurns > 0));
    QVERIFY(keys("laterSection").size() + keys("doneSection").size() <= TodosView::firstScreenEntries + 1);
    const auto prefix = [](const std::vector<QUuid>& part, const std::vector<QUuid>& all) {
        return part.size() <= all.size() && std::equal(part.begin(), part.end(), all.begin());
    };
    QVERIFY(prefix(keys("laterSection"), whole(false)) && prefix(keys("doneSection"), whole(true)));

    int turns = 0;
    for (const std::function<void()>& work : std::exchange(held, {}))
        work();
    for (; turns < 2; ++turns)
        QCoreApplication::processEvents();
    if (meanwhile == QLatin1String("delete"))
        f->store->todos().deleteTodo(f->store->todos().todayTodos().back());
    else if (meanwhile == QLatin1String("next day"))
        view->shiftDay(1);
    for (; turns < 100 && view->listsFirstScreenOnly(); ++turns)
        QCoreApplication::processEvents();
    QVERIFY(turns >= fewestTurns);
    if (meanwhile == QLatin1String("next day"))
        view->jumpToToday();
    QTRY_VERIFY(keys("laterSection") == whole(false));
    QCOMPARE(keys("doneSection"), whole(true));
    QCOMPARE(focus(), firstFocus);
    // The day the page kept takes a change of one to-do where a listing of the whole day puts it.
    const std::vector<TaskItem> day = f->store->todos().todayTodos();
    const auto closed = std::find_if(day.begin(), day.end(), [&](const TaskItem& t) { return t.id != firstFocus; });
    f->store->todos().toggleTodo(closed->id);
    QTRY_VERIFY(keys("doneSection") == whole(true));
    QCOMPARE(keys("laterSection"), whole(false));
    QCOMPARE(focus(), firstFocus);
}

void TodosViewTest::todosReadWhileThePageShows()
{
    // The page shows while the store reads the to-dos: the day's header, no day that reads as
    // empty, a notice once the wait is noticeable; a new to-do asked for meanwhile opens when
    // they are in, and the day lists them.
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    QVERIFY(startStoreWith({encodeTaskItem(todo("First", today)), encodeTaskItem(todo("Second", today + 60))}));
    DataPreread preread(f->dataPath(), {}, [released] { released.wait(); });
    const auto releaseOnExit = qScopeGuard([&] {
        if (released.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            release.set_value();
    });
    context->storage = &f->makeReadingLater(preread);
    makeView();
    QCOMPARE(view->headline(), QStringLiteral("What matters most today"));
    QCOMPARE(present(), QStringList());
    QTRY_VERIFY(view->findChild<QLabel*>(QStringLiteral("todosLoading"))->isVisible());
    QCOMPARE(view->findChild<QLabel*>(QStringLiteral("todosLoading"))->text(), QStringLiteral("Loading your to-dos…"));
    router->setNewItemRequest(AppRouter::NewItem::todo);
    QVERIFY(!view->editor());

    release.set_value();
    f->store->loadTodos();
    QTRY_COMPARE(listed(*view), QStringList({"focusCard", "laterSection", "First", "laterSection Second"}));
    QVERIFY(!view->findChild<QLabel*>(QStringLiteral("todosLoading")));
    QVERIFY(view->editor());
    QVERIFY(!router->newItemRequest());
}

void TodosViewTest::tabFollowsThePage_data()
{
    QTest::addColumn<QStringList>("open");
    QTest::addColumn<QStringList>("done");
    QTest::addColumn<Setup>("then");        // a change once the page is shown
    QTest::addColumn<QStringList>("stops"); // the rows' stops on Tab's way on from "Add", by name
    const QStringList none;
    const auto add = [](const QString& title, bool done = false) {
        return Setup([title, done](StorageService& s) { s.todos().addTodo(todo(title, today + 3600, done)); });
    };
    const auto complete = [](const QString& title) {
        return Setup([title](StorageService& s) {
            for (const TaskItem& t : s.todos().todos())
                if (t.title == title)
                    s.todos().toggleTodo(t.id);
        });
    };
    QTest::newRow("open then done") << QStringList{"a", "b", "c"} << QStringList{"x", "y"} << Setup()
                                    << QStringList{"Mark b done",     "b", "Mark c done",     "c",
                                                   "Mark x not done", "x", "Mark y not done", "y"};
    QTest::newRow("the first open row comes after the done ones")
        << QStringList{"a"} << QStringList{"x"} << add(QStringLiteral("b"))
        << QStringList{"Mark b done", "b", "Mark x not done", "x"};
    QTest::newRow("done rows come once the open ones are there")
        << QStringList{"a", "b"} << none << add(QStringLiteral("x"), true)
        << QStringList{"Mark b done", "b", "Mark x not done", "x"};
    QTest::newRow("a row done moves down")
        << QStringList{"a", "b", "c"} << QStringList{"x"} << complete(QStringLiteral("b"))
        << QStringList{"Mark c done", "c", "Mark b not done", "b", "Mark x not done", "x"};
}

void TodosViewTest::tabFollowsThePage()
{
    // Tab goes down the page as it is read: the rest of the day, then what is done.
    QFETCH(QStringList, open);
    QFETCH(QStringList, done);
    QFETCH(Setup, then);
    int minute = 0;
    for (const QString& title : open)
        f->store->todos().addTodo(todo(title, today + 60 * ++minute));
    for (const QString& title : done)
        f->store->todos().addTodo(todo(title, today + 60 * ++minute, true));
    // Made before its window shows, as the window makes its pages.
    QWidget window;
    window.resize(900, 700);
    view = std::make_unique<TodosView>(*context, &window);
    view->resize(window.size());
    QCoreApplication::processEvents();
    window.show();
    QCoreApplication::processEvents();
    if (then) {
        then(*f->store);
        QTRY_VERIFY(!view->findChildren<QuietTodoRow*>().isEmpty());
        for (int turn = 0; turn < 5; ++turn)
            QCoreApplication::processEvents();
    }
    auto* add = view->findChild<QWidget*>(QStringLiteral("addButton"));
    QVERIFY(add);
    QStringList stops;
    for (QWidget* w = add->nextInFocusChain(); w != add && view->isAncestorOf(w); w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && qobject_cast<QuietTodoRow*>(w->parentWidget()))
            stops.append(w->accessibleName());
    QTEST(stops, "stops");
    view.reset();
}

// A full disk refuses "Mark done": the page says why where it was clicked and the to-do is open
// again; once there is room the same click is kept and the words go.
void TodosViewTest::refusedChangeIsSaidOnThePage_data()
{
    QTest::addColumn<QString>("container"); // where the clicked control is
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("todo"); // which of the three to-dos it changes
    QTest::newRow("the focus card's Mark done") << "focusCard"
                                                << "markDoneButton" << 0;
    QTest::newRow("a row's check circle") << "laterSection"
                                          << "checkButton" << 1;
}

void TodosViewTest::refusedChangeIsSaidOnThePage()
{
    QFETCH(QString, container);
    QFETCH(QString, control);
    QFETCH(int, todo);
    QTemporaryDir root;
    TmpfsMount disk(root.filePath(QStringLiteral("disk")));
    if (!disk.error.isEmpty())
        QSKIP(qPrintable(QStringLiteral("a full disk needs a tmpfs, which could not be mounted: ") + disk.error));
    f->dataFolder = disk.path;
    f->make();
    context->storage = f->store.get();
    for (const char* title : {"first", "second", "third"})
        QVERIFY(f->store->todos().addTodo(::todo(QLatin1String(title), today)));
    const QUuid id = f->store->todos().todayTodos().at(size_t(todo)).id;
    const QString title = f->store->todos().todayTodos().at(size_t(todo)).title;
    makeView();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    // The control shown for the to-do (a row's names it).
    const auto target = [&]() -> QAbstractButton* {
        QWidget* box = view->findChild<QWidget*>(container);
        QList<QAbstractButton*> buttons =
            box ? box->findChildren<QAbstractButton*>(control) : QList<QAbstractButton*>{};
        buttons.removeIf([&](QAbstractButton* b) {
            return !b->isVisible() ||
                   (control == QLatin1String("checkButton") && !b->accessibleName().contains(u' ' + title + u' '));
        });
        return buttons.isEmpty() ? nullptr : buttons.first();
    };
    const auto click = [&] {
        QVERIFY(target());
        target()->click();
    };
    auto* refusal = view->findChild<WrappingLabel*>(QStringLiteral("refusal"));
    QVERIFY(refusal && !refusal->isVisible());

    // The to-dos on disk first: a full disk would refuse their own writes too, and take them back.
    f->store->core().waitForWrites();
    QVERIFY(disk.fill());
    click();
    QTRY_VERIFY(refusal->isVisible()); // the disk's refusal comes from the writing thread
    QVERIFY2(refusal->text().contains(QLatin1String("No space left on device")), qPrintable(refusal->text()));
    const auto done = [&] {
        for (const TaskItem& t : f->store->todos().todos())
            if (t.id == id)
                return t.isCompleted;
        return false;
    };
    QVERIFY(!done());

    disk.release();
    QTRY_VERIFY(target()); // listed again over a few turns once the change is taken back
    click();
    QVERIFY(done());
    QVERIFY(!refusal->isVisible());
}

QTEST_MAIN(TodosViewTest)
#include "tst_todos_view.moc"
