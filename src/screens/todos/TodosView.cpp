#include "screens/todos/TodosView.h"
#include "model/LocaleFormats.h"

#include "platform/SystemEvents.h"
#include "router/AppRouter.h"
#include "screens/todos/EarlierBox.h"
#include "screens/todos/TaskEditorModel.h"
#include "screens/todos/TaskEditorSheet.h"
#include "store/StorageService.h"
#include "ui/Accessibility.h"
#include "ui/ChoiceDialog.h"
#include "ui/ClickableArea.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/FocusCards.h"
#include "ui/FocusPage.h"
#include "ui/Headings.h"
#include "ui/InTurns.h"
#include "ui/Layouts.h"
#include "ui/LazyRows.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/RoundedPanel.h"
#include "ui/Sheet.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/TodoRows.h"
#include "ui/WrappingLabel.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The faces of the page's own parts, for the parts and for what the page says it draws.
constexpr qreal eyebrowSize = 12;
constexpr qreal arrowSize = 12;
constexpr qreal rowSize = 15;
QFont headlineFace()
{
    return Theme::font(42, QFont::DemiBold, Theme::Design::serif);
}
QFont addFace()
{
    return Theme::font(13, QFont::Bold);
}
QFont laterEmptyFace()
{
    return Theme::font(13, QFont::Medium);
}
QFont earlierCountFace()
{
    return Theme::font(14, QFont::DemiBold);
}

// What the editor sheet shows when the store did not keep a to-do (a disk that refused it).
std::optional<QString> refusal(const StorageService* store, bool kept)
{
    if (kept)
        return std::nullopt;
    return store->core().lastError().value_or(QStringLiteral("The to-do could not be saved."));
}

QToolButton* dayButton(Symbol symbol, const QString& help, const QString& name, QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setAutoRaise(true);
    b->setIcon(Symbols::icon(symbol, FocusColor::textSecondary(), arrowSize));
    b->setFixedSize(28, 28);
    b->setToolTip(help);
    b->setAccessibleName(name);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

QString shortcutText(QKeySequence keys)
{
    return keys.toString(QKeySequence::NativeText);
}

} // namespace

TodosView::TodosView(AppContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_selectedDate(context.clock->now()),
      m_knownToday(context.calendar().startOfDay(context.clock->now()))
{
    setObjectName(QStringLiteral("todosView"));
    setPageTitle(this, QStringLiteral("Today"));

    auto* column = new QWidget;
    m_column = columnLayout(column, 22);
    m_column->addWidget(buildHeader());
    m_column->addStretch(1);
    auto* page = new FocusPage(column, nullptr, 0, this);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->addWidget(page);

    StorageService* store = m_context.storage;
    connect(&store->todos(), &TodoStore::todosChanged, this, &TodosView::scheduleRefresh);
    connect(&store->todos(), &TodoStore::focusTodoIDChanged, this, &TodosView::scheduleRefresh);
    // The disk's refusal of a change comes after the change showed: the page shows the to-dos as
    // they are again, and says why.
    connect(&store->core(), &StoreCore::writeTakenBack, this, [this](const QString& file) {
        if (file != TodoStore::fileName)
            return;
        refresh();
        showRefusal(false);
    });
    if (AppRouter* router = m_context.router) {
        connect(router, &AppRouter::newItemRequestChanged, this, &TodosView::handleNewItemRequest);
        connect(router, &AppRouter::showTodayRequestChanged, this, &TodosView::jumpToToday);
    }
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            handleDayChange();
    });
    // After a suspend across midnight, or a clock set by hand, the page follows the new date at
    // once: its own timer runs on the monotonic clock, which stood still meanwhile.
    if (SystemEvents* events = m_context.events)
        for (auto signal : {&SystemEvents::dayChanged, &SystemEvents::clockChanged, &SystemEvents::timeZoneChanged,
                            &SystemEvents::didWake})
            connect(
                events, signal, this,
                [this] {
                    // A clock or zone that changed may show other to-dos today.
                    m_day.reset();
                    handleDayChange();
                },
                Qt::QueuedConnection);
    m_prepareEditor.setSingleShot(true);
    m_prepareEditor.setInterval(prepareEditorAfterMs);
    connect(&m_prepareEditor, &QTimer::timeout, this, &TodosView::prepareNewEditor);
    // Linux sends no calendar-day notice to applications: wake at the next midnight instead.
    m_midnight.setSingleShot(true);
    connect(&m_midnight, &QTimer::timeout, this, &TodosView::handleDayChange);

    const auto dayShortcut = [this](QKeyCombination keys, int days) {
        auto* shortcut = new QShortcut(QKeySequence(keys), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, days] {
            if (!m_editor && !m_deleteQuestion)
                shiftDay(days);
        });
    };
    dayShortcut(Qt::CTRL | Qt::Key_Left, -1);
    dayShortcut(Qt::CTRL | Qt::Key_Right, 1);
    if (!store->todosLoaded())
        waitForTodos();
    refresh();
}

void TodosView::waitForTodos()
{
    // Said only once the wait is long enough to be noticed, and never an empty day meanwhile:
    // that would read as to-dos gone.
    m_loading = plainLabel(QStringLiteral("Loading your to-dos…"), laterEmptyFace(), FocusColor::textSecondary());
    m_loading->setObjectName(QStringLiteral("todosLoading"));
    m_loading->setContentsMargins(besideCards());
    m_loading->hide();
    m_column->insertWidget(1, m_loading);
    QTimer::singleShot(loadingNoticeMs, m_loading, [label = m_loading] { label->show(); });
    StorageService* store = m_context.storage;
    connect(store, &StorageService::todosCameIn, this, [this] {
        delete m_loading;
        scheduleRefresh();
        // A new to-do asked for meanwhile is served now.
        handleNewItemRequest();
    });
    // The faces of the day's rows and cards load while the reading goes on, one per turn.
    QPointer<TodosView> self(this);
    const auto primeRest = [self] {
        if (!self || self->m_context.storage->todosLoaded())
            return;
        std::vector<std::function<void()>> steps;
        for (const QFont& face : dayFaces(true))
            steps.emplace_back([face] { Theme::prime(face); });
        runInTurns(self, std::move(steps));
    };
    if (m_context.afterFirstFrame)
        m_context.afterFirstFrame(primeRest);
}

TodosView::~TodosView()
{
    delete m_editor;
    delete m_preparedEditor;
    delete m_deleteQuestion;
}

QMargins TodosView::besideCards()
{
    // Headings and rows stand in line with the focus card's visible edge, not with its shadow.
    static const QMargins shadow = FocusCardFrame(false).shadowMargins();
    return QMargins(shadow.left(), 0, shadow.right(), 0);
}

TaskEditorSheet* TodosView::editor() const
{
    return m_editor;
}

ChoiceDialog* TodosView::deleteQuestion() const
{
    return m_deleteQuestion;
}

QList<QFont> TodosView::firstFaces(const StorageService& store)
{
    if (!store.todosLoaded())
        return firstFaces(true);
    return dayFaces(!store.todos().todos().empty());
}

QList<QFont> TodosView::firstFaces(bool todosLater)
{
    if (!todosLater)
        return dayFaces(false);
    return Theme::distinctFaces({Eyebrow::face(eyebrowSize), headlineFace(), Symbols::font(arrowSize)});
}

QList<QFont> TodosView::dayFaces(bool hasTodos)
{
    // The day's header: its date, its headline and the arrows to the other days.
    QList<QFont> faces{Eyebrow::face(eyebrowSize), headlineFace(), Symbols::font(arrowSize)};
    if (!hasTodos)
        return Theme::distinctFaces(faces + FocusEmptyCard::faces(false, false));
    // A day with to-dos: either card (a timed to-do with steps and more after it, or none left),
    // the rest of the day with its header and rows, the past week's box and what is done. Which
    // of them a given day shows would take sorting the day once more before the window opens.
    TaskItem timed;
    timed.time = QStringLiteral("9:41 AM");
    timed.subtasks.emplace_back();
    faces += FocusHeroCard::faces(timed, false, true);
    faces += FocusEmptyCard::faces(false, false) + FocusEmptyCard::faces(true, false);
    faces += {Eyebrow::face(eyebrowSize), addFace(), KeyHint::face(), Symbols::font(arrowSize)};
    faces += QuietTodoRow::faces(rowSize, true);
    faces += {earlierCountFace(), Symbols::font(14)};
    return Theme::distinctFaces(faces);
}

QWidget* TodosView::buildHeader()
{
    auto* header = new QWidget;
    auto* v = new QVBoxLayout(header);
    v->setContentsMargins(besideCards());
    v->setSpacing(8);
    auto* nav = new QHBoxLayout;
    nav->setSpacing(4);
    m_dateEyebrow = new Eyebrow(QString(), FocusColor::textSecondary(), eyebrowSize, header);
    m_dateEyebrow->setObjectName(QStringLiteral("dateEyebrow"));
    nav->addWidget(m_dateEyebrow);
    nav->addStretch(1);
    m_todayLink = new FocusButton(QStringLiteral("Today"), FocusLinkButtonStyle{12.5, FocusColor::text()}, header);
    m_todayLink->setObjectName(QStringLiteral("todayLink"));
    connect(m_todayLink, &QAbstractButton::clicked, this, &TodosView::jumpToToday);
    // Hidden from the first layout on when today is shown: a hidden control is not measured.
    m_todayLink->setVisible(!isShowingToday());
    nav->addWidget(m_todayLink);
    nav->addSpacing(6);
    const QString left = shortcutText(QKeySequence(Qt::CTRL | Qt::Key_Left));
    const QString right = shortcutText(QKeySequence(Qt::CTRL | Qt::Key_Right));
    auto* previous = dayButton(Symbol::chevronLeft, QStringLiteral("Previous day (%1)").arg(left),
                               QStringLiteral("Previous day"), header);
    previous->setObjectName(QStringLiteral("previousDay"));
    connect(previous, &QToolButton::clicked, this, [this] { shiftDay(-1); });
    auto* next =
        dayButton(Symbol::chevronRight, QStringLiteral("Next day (%1)").arg(right), QStringLiteral("Next day"), header);
    next->setObjectName(QStringLiteral("nextDay"));
    connect(next, &QToolButton::clicked, this, [this] { shiftDay(1); });
    nav->addWidget(previous);
    nav->addWidget(next);
    v->addLayout(nav);

    m_headline = new WrappingLabel(QString(), header);
    m_headline->setFont(headlineFace());
    m_headline->setColor(FocusColor::text());
    m_headline->setObjectName(QStringLiteral("headline"));
    Accessibility::markHeader(m_headline);
    v->addWidget(m_headline);
    // Said where the person clicked: a change the disk refused, until the next one is kept.
    m_refusal = new WrappingLabel(QString(), header);
    m_refusal->setFont(Theme::font(13, QFont::Medium));
    m_refusal->setColor(FocusColor::alert());
    m_refusal->setObjectName(QStringLiteral("refusal"));
    m_refusal->hide();
    v->addWidget(m_refusal);
    return header;
}

bool TodosView::isShowingToday() const
{
    return calendar().isSameDay(m_selectedDate, now());
}

QString TodosView::headline() const
{
    const Calendar cal = calendar();
    const Date current = now();
    const QDate shown = cal.localDate(m_selectedDate);
    const QDate today = cal.localDate(current);
    if (shown == today)
        return QStringLiteral("What matters most today");
    if (shown == today.addDays(1))
        return QStringLiteral("Planned for tomorrow");
    if (shown == today.addDays(-1))
        return QStringLiteral("Yesterday");
    const QString weekday = cal.locale().dayName(shown.dayOfWeek(), QLocale::LongFormat);
    return m_selectedDate > current ? QStringLiteral("Planned for ") + weekday : weekday;
}

void TodosView::setShowEarlier(bool show)
{
    m_showEarlier = show;
    refresh();
}

void TodosView::jumpToToday()
{
    m_selectedDate = now();
    m_knownToday = calendar().startOfDay(now());
    refresh();
}

void TodosView::shiftDay(int days)
{
    m_selectedDate = calendar().addDays(m_selectedDate, days);
    refresh();
}

void TodosView::handleDayChange()
{
    const Calendar cal = calendar();
    const Date today = cal.startOfDay(now());
    if (m_knownToday == today) {
        armMidnightTimer();
        return;
    }
    if (cal.isSameDay(m_selectedDate, m_knownToday)) {
        jumpToToday();
    } else {
        m_knownToday = today;
        refresh();
    }
    armMidnightTimer();
}

void TodosView::armMidnightTimer()
{
    const Calendar cal = calendar();
    const Date current = now();
    const Date next = cal.startOfDay(cal.addDays(cal.startOfDay(current), 1));
    // A little past midnight, so the calendar already reads the new day; and at least hourly, as
    // the timer drifts from the wall clock across a suspend.
    const double ms = std::clamp((next - current) * 1000.0 + 500.0, 500.0, 3600.0 * 1000);
    m_midnight.start(int(ms));
}

void TodosView::handleNewItemRequest()
{
    AppRouter* router = m_context.router;
    // While the to-dos are read the request waits: a new one could not be kept yet.
    if (!router || router->newItemRequest() != AppRouter::NewItem::todo || !isVisible() ||
        !m_context.storage->todosLoaded())
        return;
    router->setNewItemRequest(std::nullopt);
    // A new to-do replaces an open editor of another one, but not its unsaved changes unasked.
    if (m_editor && m_editor->model().existingTodo()) {
        QPointer<TodosView> self(this);
        if (!m_editor->closeOrAsk([self] {
                if (self)
                    self->openNewEditor();
            }))
            return;
    }
    openNewEditor();
}

bool TodosView::mayLeave(std::function<void()> leave)
{
    // The delete question holds no work: going elsewhere answers it with Cancel.
    if (m_deleteQuestion)
        m_deleteQuestion->reject();
    return !m_editor || m_editor->closeOrAsk(std::move(leave));
}

void TodosView::present(QDialog* sheet)
{
    if (m_context.presentSheet)
        m_context.presentSheet(sheet);
    else
        sheet->open();
}

void TodosView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    handleDayChange();
    handleNewItemRequest();
    if (!m_preparedEditor)
        m_prepareEditor.start();
}

void TodosView::scheduleRefresh()
{
    // The places the rest of the day was being copied from may be gone.
    ++m_restRun;
    m_queuedRefresh.request();
}

void TodosView::listRestOfDay()
{
    // The whole day is put in order in one turn, copied a slice per turn, and shown in one more:
    // a day of thousands never holds up the window for long. Copied twice, as the page keeps the
    // day beside the sections it takes apart: one more copy of it in the last turn held the window
    // for 20 ms at 20,000 to-dos. Any other refresh, and any change of the store, ends the run.
    const int run = ++m_restRun;
    runInTurns(this, {[this, run] {
                   if (run != m_restRun)
                       return;
                   StorageService* store = m_context.storage;
                   auto order = std::make_shared<const std::vector<const TaskItem*>>(store->todos().todayOrder());
                   auto copied = std::make_shared<WholeDay>();
                   copied->listed.reserve(order->size());
                   copied->kept.reserve(order->size());
                   const TaskItem* const base = store->todos().todos().data();
                   const size_t count = store->todos().todos().size();
                   std::vector<std::function<void()>> steps;
                   for (size_t from = 0; from < order->size(); from += copiedPerTurn)
                       steps.emplace_back([this, run, order, copied, base, count, from, store] {
                           if (run != m_restRun)
                               return;
                           if (store->todos().todos().data() != base || store->todos().todos().size() != count) {
                               scheduleRefresh();
                               return;
                           }
                           const size_t to = std::min(order->size(), from + copiedPerTurn);
                           for (size_t i = from; i < to; ++i) {
                               copied->listed.push_back(*(*order)[i]);
                               copied->kept.push_back(*(*order)[i]);
                           }
                       });
                   steps.emplace_back([this, run, copied] {
                       if (run != m_restRun)
                           return;
                       m_wholeDay = std::move(*copied);
                       refresh();
                   });
                   runInTurns(this, std::move(steps));
               }});
}

QWidget* TodosView::sectionHeader(const QString& title, bool withAdd, QWidget* parent)
{
    QWidget* trailing = nullptr;
    if (withAdd) {
        auto* add = new ClickableArea;
        add->setObjectName(QStringLiteral("addButton"));
        add->setAccessibleName(QStringLiteral("Add"));
        const QString keys = shortcutText(QKeySequence(Qt::CTRL | Qt::Key_N));
        add->setToolTip(QStringLiteral("New to-do (%1)").arg(keys));
        add->setCursor(Qt::PointingHandCursor);
        auto* h = rowLayout(add, 6);
        h->addWidget(new SymbolLabel(Symbol::plus, 12, FocusColor::text(), add));
        h->addWidget(plainLabel(QStringLiteral("Add"), addFace(), FocusColor::text(), add));
        h->addWidget(new KeyHint(keys, add));
        connect(add, &QAbstractButton::clicked, this, &TodosView::openNewEditor);
        trailing = add;
    }
    auto* header = new FocusSectionHeader(title, trailing, parent);
    return header;
}

QuietTodoRow* TodosView::makeRow(const TaskItem& todo, QWidget* parent)
{
    auto* r = new QuietTodoRow(todo, rowSize, 52, parent);
    r->setProperty("todoId", todo.id);
    r->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(r, &QuietTodoRow::toggleClicked, this, [this, r] { toggleTodo(r->todo()); });
    connect(r, &QuietTodoRow::openClicked, this, [this, r] { openEditor(r->todo()); });
    connect(r, &QWidget::customContextMenuRequested, this, [this, r](const QPoint& at) {
        QMenu menu;
        fillTodoMenu(&menu, r->todo());
        menu.exec(r->mapToGlobal(at));
    });
    return r;
}

void TodosView::makeSection(Section& s, const QString& name, QWidget* header, QLabel* empty, bool emptyFirst)
{
    s.box = new QWidget(m_sections);
    s.box->setObjectName(name);
    auto* v = new QVBoxLayout(s.box);
    v->setContentsMargins(besideCards());
    v->setSpacing(0);
    header->setParent(s.box);
    v->addWidget(header);
    Section* section = &s;
    s.rows = new LazyRows([this, section](int i, QWidget* parent) { return makeRow(section->list[size_t(i)], parent); },
                          [this, section](int i, int width) { return meter().height(section->list[size_t(i)], width); },
                          s.box);
    s.rows->setEstimate([this](int) { return meter().typicalHeight(); });
    s.empty = empty;
    empty->setParent(s.box);
    if (emptyFirst)
        v->addWidget(empty);
    v->addWidget(s.rows);
    if (!emptyFirst)
        v->addWidget(empty);
}

void TodosView::placeRows(Section& section, std::vector<TaskItem> list, const QSet<QUuid>* changed)
{
    // Entries whose to-do changed are measured again; only a changed order touches the layout.
    const auto renew = [&section](const TaskItem& t) {
        section.rows->forget(t.id);
        if (auto* r = qobject_cast<QuietTodoRow*>(section.rows->row(t.id)))
            r->setTodo(t);
    };
    // The rows' keys are the last list's ids, even when that list was taken to be changed in place.
    const std::vector<QUuid>& shownKeys = section.rows->keys();
    bool sameOrder = list.size() == shownKeys.size();
    if (changed) {
        // Told what changed: the others need no comparing.
        for (size_t i = 0; i < list.size(); ++i) {
            sameOrder = sameOrder && shownKeys[i] == list[i].id;
            if (changed->contains(list[i].id))
                renew(list[i]);
        }
    } else {
        QHash<QUuid, const TaskItem*> before;
        before.reserve(qsizetype(section.list.size()));
        for (const TaskItem& t : section.list)
            before.insert(t.id, &t);
        for (size_t i = 0; i < list.size(); ++i) {
            const TaskItem& t = list[i];
            const TaskItem* old = before.value(t.id);
            sameOrder = sameOrder && shownKeys[i] == t.id;
            if (old && !(*old == t))
                renew(t);
        }
    }
    section.list = std::move(list);
    if (sameOrder)
        return;
    std::vector<QUuid> keys;
    keys.reserve(section.list.size());
    for (const TaskItem& t : section.list)
        keys.push_back(t.id);
    section.rows->setKeys(std::move(keys));
}

void TodosView::changeRowsInPlace(Section& section, const QSet<QUuid>& changed, const std::optional<QUuid>& gone,
                                  const std::vector<TaskItem>& adds)
{
    std::vector<TaskItem>& list = section.list;
    std::erase_if(list, [&](const TaskItem& t) { return changed.contains(t.id) || t.id == gone; });
    for (const TaskItem& t : adds)
        list.insert(std::upper_bound(list.begin(), list.end(), t, TaskItem::isOrderedBefore), t);
    // The rows take the new keys before anything lays them out: they must never ask for an entry
    // the list no longer has.
    std::vector<QUuid> keys;
    keys.reserve(list.size());
    for (const TaskItem& t : list)
        keys.push_back(t.id);
    if (keys != section.rows->keys())
        section.rows->setKeys(std::move(keys));
    for (const TaskItem& t : adds) {
        section.rows->forget(t.id);
        if (auto* r = qobject_cast<QuietTodoRow*>(section.rows->row(t.id)))
            r->setTodo(t);
    }
}

void TodosView::buildSections()
{
    m_sections = new QWidget;
    m_sectionsLayout = columnLayout(m_sections, 22);

    m_focusSlot = new QWidget(m_sections);
    m_focusSlot->setLayout(new QVBoxLayout);
    m_focusSlot->layout()->setContentsMargins(0, 0, 0, 0);
    m_sectionsLayout->addWidget(m_focusSlot);

    m_earlierSlot = new QWidget(m_sections);
    m_earlierSlot->setLayout(new QVBoxLayout);
    m_earlierSlot->layout()->setContentsMargins(besideCards());
    m_sectionsLayout->addWidget(m_earlierSlot);
    m_column->insertWidget(1, m_sections);
}

TodosView::Section& TodosView::shown(Section& s)
{
    // A section is made when it first has something to show. Made hidden, it would still be laid
    // out whenever the window is drawn through an effect (a card fading in), loading faces it
    // never draws.
    if (s.box)
        return s;
    if (&s == &m_later) {
        auto* laterEmpty = plainLabel(QStringLiteral("Nothing else today. One thing at a time."), laterEmptyFace(),
                                      FocusColor::textSecondary(), nullptr);
        laterEmpty->setObjectName(QStringLiteral("laterEmpty"));
        laterEmpty->setContentsMargins(0, 14, 0, 14);
        addBottomHairline(laterEmpty);
        makeSection(m_later, QStringLiteral("laterSection"),
                    sectionHeader(QStringLiteral("Later today"), true, nullptr), laterEmpty, false);
    } else if (&s == &m_done) {
        auto* doneTitle = new Eyebrow(QStringLiteral("Done today"), FocusColor::textSecondary(), eyebrowSize);
        doneTitle->setContentsMargins(0, 0, 0, 4);
        makeSection(m_done, QStringLiteral("doneSection"), doneTitle, new QLabel, false);
        m_done.empty->hide();
    } else {
        auto* plannedEmpty = plainLabel(QStringLiteral("Nothing planned for this day yet."), 14, QFont::Medium,
                                        FocusColor::textSecondary(), nullptr);
        plannedEmpty->setObjectName(QStringLiteral("plannedEmpty"));
        plannedEmpty->setContentsMargins(0, 16, 0, 16);
        makeSection(m_planned, QStringLiteral("plannedSection"),
                    sectionHeader(QStringLiteral("Planned"), true, nullptr), plannedEmpty, true);
    }
    // In the column's order, among the parts made so far.
    int at = 0;
    for (QWidget* part : {m_focusSlot, m_later.box, m_earlierSlot, m_done.box, m_planned.box}) {
        if (part == s.box)
            break;
        at += part != nullptr;
    }
    m_sectionsLayout->insertWidget(at, s.box);
    return s;
}

QuietRowMeter& TodosView::meter()
{
    // Made for the first row: it lays out a sample row, loading the faces rows draw with.
    if (!m_meter)
        m_meter = std::make_unique<QuietRowMeter>(rowSize, 52);
    return *m_meter;
}

void TodosView::setFocusCard(const std::optional<TaskItem>& focus, bool canSkip, bool allDone)
{
    QLayout* slot = m_focusSlot->layout();
    if (focus) {
        delete m_emptyCard;
        if (m_hero && m_hero->todo().id == focus->id) {
            if (!(m_hero->todo() == *focus))
                m_hero->setTodo(*focus);
            m_hero->setCanSkip(canSkip);
            return;
        }
        // A new focus gets a new card rather than an updated one.
        delete m_hero;
        m_hero = new FocusHeroCard(*focus, false, canSkip, m_focusSlot);
        m_hero->setObjectName(QStringLiteral("focusCard"));
        m_hero->setContextMenuPolicy(Qt::CustomContextMenu);
        FocusHeroCard* card = m_hero;
        connect(card, &FocusHeroCard::doneClicked, this, [this, card] { completeFocus(card->todo()); });
        connect(card, &FocusHeroCard::skipClicked, this, &TodosView::skipFocus);
        connect(card, &FocusHeroCard::openClicked, this, [this, card] { openEditor(card->todo()); });
        connect(card, &FocusHeroCard::stepClicked, this,
                [this, card](const Subtask& step) { toggleSubtask(step, card->todo()); });
        connect(card, &QWidget::customContextMenuRequested, this, [this, card](const QPoint& at) {
            QMenu menu;
            fillTodoMenu(&menu, card->todo());
            menu.exec(card->mapToGlobal(at));
        });
        slot->addWidget(m_hero);
        m_hero->show();
        Motion::fadeIn(m_hero, 0.25);
        return;
    }
    delete m_hero;
    if (!m_emptyCard) {
        m_emptyCard = new FocusEmptyCard(allDone, false, m_focusSlot);
        m_emptyCard->setObjectName(QStringLiteral("emptyCard"));
        connect(m_emptyCard, &FocusEmptyCard::addClicked, this, &TodosView::openNewEditor);
        slot->addWidget(m_emptyCard);
        m_emptyCard->show();
        Motion::fadeIn(m_emptyCard, 0.25);
    } else {
        m_emptyCard->setAllDone(allDone);
    }
}

void TodosView::refresh()
{
    m_queuedRefresh.cancel();
    ++m_restRun;
    std::optional<WholeDay> wholeDay = std::exchange(m_wholeDay, std::nullopt);
    const Calendar cal = calendar();
    m_dateEyebrow->setEyebrowText(LocaleFormats::dayLine(cal.locale(), cal.localDate(m_selectedDate)));
    const bool today = isShowingToday();
    m_todayLink->setVisible(!today);
    m_headline->setText(headline());
    if (!m_context.storage->todosLoaded())
        return;
    if (!m_sections)
        buildSections();

    std::vector<TaskItem> later, done, planned, earlier;
    // What changed since the page last listed today, when only a few to-dos did.
    std::optional<QSet<QUuid>> changed;
    // When set, the later and done lists change where they stand rather than being listed anew.
    struct {
        bool set = false;
        std::vector<TaskItem> laterAdds, doneAdds;
        std::optional<QUuid> focus;
        size_t doneCount = 0;
    } inPlace;
    bool earlierKept = false;
    if (today) {
        // One pass over the store for today's list; open and focus follow the store's own rules.
        // A page's first build lists the first screen of a long day, and the rest once its
        // first frame is on screen: the window shows without waiting for thousands of rows.
        const bool firstBuild = !std::exchange(m_builtOnce, true);
        const QDate todayDate = cal.localDate(now());
        if (!wholeDay)
            changed = fewChangedSinceDay(todayDate);
        std::vector<TaskItem> changedNow;
        std::vector<TaskItem> open;
        if (changed) {
            changedNow = currentTodos(*changed);
            std::vector<TaskItem>& day = m_day->list;
            std::erase_if(day, [&changed](const TaskItem& t) { return changed->contains(t.id); });
            const Date current = now();
            const auto put = [](std::vector<TaskItem>& list, const TaskItem& t) {
                list.insert(std::upper_bound(list.begin(), list.end(), t, TaskItem::isOrderedBefore), t);
            };
            std::vector<const TaskItem*> shownNow;
            for (const TaskItem& t : changedNow)
                if (t.isVisible(current, cal))
                    shownNow.push_back(&t);
            for (const TaskItem* t : shownNow)
                put(day, *t);
            m_day->revision = m_context.storage->todos().revision();
            // The sections' lists change in place as the day did: copying a long day for a
            // change to one to-do would cost more than the rest of the refresh.
            const std::optional<QUuid> focusId = m_context.storage->todos().focusTodoID();
            const TaskItem* focusItem = nullptr;
            size_t openCount = 0;
            for (const TaskItem& t : day) {
                if (t.isCompleted)
                    continue;
                ++openCount;
                if (!focusItem || t.id == focusId)
                    focusItem = &t;
            }
            std::optional<TaskItem> focus;
            if (focusItem)
                focus = *focusItem;
            const std::optional<QUuid> focusNow = focus ? std::optional(focus->id) : std::nullopt;
            inPlace.set = true;
            // The card's last to-do, unchanged, goes back among the others when another takes it.
            if (m_listedFocus && m_listedFocus != focusNow && !changed->contains(*m_listedFocus)) {
                const auto was =
                    std::find_if(day.cbegin(), day.cend(), [&](const TaskItem& t) { return t.id == m_listedFocus; });
                if (was != day.cend() && !was->isCompleted)
                    inPlace.laterAdds.push_back(*was);
            }
            for (const TaskItem* t : shownNow)
                if (t->id != focusNow)
                    (t->isCompleted ? inPlace.doneAdds : inPlace.laterAdds).push_back(*t);
            inPlace.focus = focusNow;
            inPlace.doneCount = day.size() - openCount;
            m_listedFocus = focusNow;
            m_dayCut = false;
            setFocusCard(focus, openCount > 1, !day.empty());
            if (focus)
                shown(m_later);
            if (m_later.box) {
                m_later.box->setVisible(focus.has_value());
                m_later.empty->setVisible(focus && openCount == 1);
            }
        } else {
            open = wholeDay ? std::move(wholeDay->listed)
                            : m_context.storage->todos().todayTodos(firstBuild ? firstScreenEntries + 1
                                                                               : std::numeric_limits<size_t>::max());
            const bool cut = open.size() > firstScreenEntries && firstBuild;
            if (cut)
                m_day.reset();
            else
                m_day =
                    Day{wholeDay ? std::move(wholeDay->kept) : open, todayDate, m_context.storage->todos().revision()};
            const bool anyToday = !open.empty();
            // The done ones move out; the open ones close up in place, in order.
            size_t kept = 0;
            for (size_t i = 0; i < open.size(); ++i) {
                if (open[i].isCompleted)
                    done.push_back(std::move(open[i]));
                else if (kept++ != i)
                    open[kept - 1] = std::move(open[i]);
            }
            open.erase(open.begin() + qsizetype(kept), open.end());
            const std::optional<QUuid> focusId = m_context.storage->todos().focusTodoID();
            auto focusIt = std::find_if(open.begin(), open.end(), [&](const TaskItem& t) { return t.id == focusId; });
            std::optional<TaskItem> focus;
            if (focusIt == open.end() && cut && focusId)
                focus = openToday(*focusId);
            if (focusIt == open.end() && !open.empty() && !focus)
                focusIt = open.begin();
            if (focusIt != open.end()) {
                focus = *focusIt;
                open.erase(focusIt);
            }
            if (focus)
                later = std::move(open);
            m_listedFocus = focus ? std::optional(focus->id) : std::nullopt;
            m_dayCut = cut;
            if (cut) {
                QPointer<TodosView> self(this);
                const auto rest = [self] {
                    if (self && self->m_dayCut)
                        self->listRestOfDay();
                };
                if (m_context.afterFirstFrame)
                    m_context.afterFirstFrame(rest);
                else
                    rest();
            }
            setFocusCard(focus, later.size() + (focus ? 1 : 0) > 1, anyToday);
            if (focus)
                shown(m_later);
            if (m_later.box) {
                m_later.box->setVisible(focus.has_value());
                m_later.empty->setVisible(focus && later.empty());
            }
        }
        // The past week's list stays as it is unless a changed to-do was or is in it.
        const LocalDays pastWeek(cal, todayDate.addDays(-7), todayDate.addDays(-1));
        const bool earlierChanged = !changed ||
                                    std::any_of(m_earlierShown.begin(), m_earlierShown.end(),
                                                [&changed](const TaskItem& t) { return changed->contains(t.id); }) ||
                                    std::any_of(changedNow.begin(), changedNow.end(), [&pastWeek](const TaskItem& t) {
                                        return TodoStore::isEarlier(t, pastWeek);
                                    });
        earlierKept = !earlierChanged;
        if (earlierChanged)
            earlier = m_context.storage->todos().earlierTodos();
    } else {
        m_builtOnce = true;
        m_dayCut = false;
        m_day.reset();
        if (m_later.box)
            m_later.box->hide();
        planned = m_context.storage->todos().todos(m_selectedDate);
        shown(m_planned).empty->setVisible(planned.empty());
    }
    const QSet<QUuid>* dayChanges = changed ? &*changed : nullptr;
    m_focusSlot->setVisible(today);
    const bool anyDone = inPlace.set ? inPlace.doneCount > 0 : !done.empty();
    if (anyDone)
        shown(m_done);
    if (m_done.box)
        m_done.box->setVisible(anyDone);
    if (m_planned.box)
        m_planned.box->setVisible(!today);
    // A section not made has nothing to list.
    if (inPlace.set) {
        if (m_later.box)
            changeRowsInPlace(m_later, *changed, inPlace.focus, inPlace.laterAdds);
        if (m_done.box)
            changeRowsInPlace(m_done, *changed, std::nullopt, inPlace.doneAdds);
    }
    for (auto [section, list] : {std::pair{&m_later, &later}, {&m_done, &done}, {&m_planned, &planned}})
        if (section->box && !(inPlace.set && section != &m_planned))
            placeRows(*section, std::move(*list), section == &m_planned ? nullptr : dayChanges);

    if (earlierKept)
        earlier = std::exchange(m_earlierShown, {});
    if ((!earlierKept && earlier != m_earlierShown) || m_showEarlier != m_earlierShownOpen ||
        bool(m_earlierBox) == earlier.empty()) {
        // The box is made again: the keyboard stays on its toggle, as on a button that changed.
        QWidget* focused = QApplication::focusWidget();
        const bool toggleFocused = m_earlierBox && focused && m_earlierBox->isAncestorOf(focused) &&
                                   focused->objectName() == QLatin1String("earlierToggle");
        delete m_earlierBox;
        if (!earlier.empty()) {
            const bool several = earlier.size() >= 2;
            EarlierBox::Actions actions;
            actions.toggle = [this] {
                m_showEarlier = !m_showEarlier;
                m_easeEarlierOpen = m_showEarlier;
                m_turnEarlier = true;
                scheduleRefresh();
            };
            actions.open = [this](const TaskItem& t) { openEditor(t); };
            actions.fillMenu = [this, several](QMenu* menu, const TaskItem& t) { fillEarlierMenu(menu, t, several); };
            m_earlierBox = new EarlierBox(earlier, m_showEarlier, std::exchange(m_easeEarlierOpen, false),
                                          std::exchange(m_turnEarlier, false), now(), calendar(), earlierCountFace(),
                                          std::move(actions), m_earlierSlot);
            m_earlierSlot->layout()->addWidget(m_earlierBox);
            m_earlierBox->show();
            if (toggleFocused)
                m_earlierBox->findChild<QWidget*>(QStringLiteral("earlierToggle"))->setFocus(Qt::OtherFocusReason);
        }
        m_earlierShownOpen = m_showEarlier;
    }
    m_earlierSlot->setVisible(!earlier.empty());
    m_earlierShown = std::move(earlier);
    orderTabsByLayout(this);
}

std::optional<QSet<QUuid>> TodosView::fewChangedSinceDay(const QDate& today) const
{
    if (!m_day || m_day->date != today)
        return std::nullopt;
    std::optional<QSet<QUuid>> changed = m_context.storage->todos().changedSince(m_day->revision);
    // Beyond a few, each put in place costs more than one reading of the whole day.
    if (changed && changed->size() > 32)
        return std::nullopt;
    return changed;
}

std::vector<TaskItem> TodosView::currentTodos(const QSet<QUuid>& ids) const
{
    // A to-do added is the store's first: found at once.
    std::vector<TaskItem> found;
    for (const TaskItem& t : m_context.storage->todos().todos()) {
        if (found.size() == size_t(ids.size()))
            break;
        if (ids.contains(t.id))
            found.push_back(t);
    }
    return found;
}

std::optional<TaskItem> TodosView::openToday(const QUuid& id) const
{
    const auto& all = m_context.storage->todos().todos();
    const auto it = std::find_if(all.begin(), all.end(), [&id](const TaskItem& t) { return t.id == id; });
    if (it == all.end() || it->isCompleted || !it->isVisible(now(), calendar()))
        return std::nullopt;
    return *it;
}

void TodosView::fillTodoMenu(QMenu* menu, const TaskItem& todo)
{
    menu->addAction(QStringLiteral("Edit…"), this, [this, todo] { openEditor(todo); });
    if (isShowingToday() && !todo.isCompleted) {
        const std::vector<TaskItem> open = m_context.storage->todos().openTodos();
        const std::optional<TaskItem> focus = m_context.storage->todos().focusTodo();
        const bool isOpenToday =
            std::any_of(open.begin(), open.end(), [&](const TaskItem& t) { return t.id == todo.id; });
        if (isOpenToday && (!focus || focus->id != todo.id))
            menu->addAction(QStringLiteral("Make This Right Now"), this, [this, todo] { makeFocus(todo); });
    }
    QAction* del = menu->addAction(QStringLiteral("Delete…"), this, [this, todo] { requestDelete(todo); });
    del->setProperty("destructive", true);
}

void TodosView::fillEarlierMenu(QMenu* menu, const TaskItem& todo)
{
    fillEarlierMenu(menu, todo, m_context.storage->todos().earlierTodos().size() >= 2);
}

void TodosView::fillEarlierMenu(QMenu* menu, const TaskItem& todo, bool several)
{
    menu->clear();
    menu->addAction(QStringLiteral("Move to Today"), this, [this, todo] { moveToToday(todo); });
    if (several)
        menu->addAction(QStringLiteral("Move All to Today"), this, &TodosView::moveAllToToday);
    menu->addAction(QStringLiteral("Mark Done"), this, [this, todo] { toggleTodo(todo); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Edit…"), this, [this, todo] { openEditor(todo); });
    QAction* del = menu->addAction(QStringLiteral("Delete…"), this, [this, todo] { requestDelete(todo); });
    del->setProperty("destructive", true);
}

void TodosView::openNewEditor()
{
    openSheet(std::nullopt);
}

void TodosView::openEditor(const TaskItem& todo)
{
    openSheet(todo);
}

TaskEditorSheet* TodosView::newEditor(const std::optional<TaskItem>& todo)
{
    StorageService* store = m_context.storage;
    TaskEditorSheet::Inputs inputs;
    inputs.existingTodo = todo;
    inputs.selectedDate = m_selectedDate;
    inputs.clock = m_context.clock;
    inputs.calendar = m_context.calendar;
    inputs.reminders = &store->core().reminders();
    inputs.openNotificationSettings = m_context.openNotificationSettings;
    if (todo) {
        inputs.onSave = [store](const TaskItem& t) { return refusal(store, store->todos().upsertTodo(t)); };
        inputs.onDelete = [store](const TaskItem& t) { store->todos().deleteTodo(t); };
    } else {
        inputs.onSave = [store](const TaskItem& t) { return refusal(store, store->todos().addTodo(t)); };
    }
    return new TaskEditorSheet(std::move(inputs), this);
}

void TodosView::prepareNewEditor()
{
    if (m_editor || !isVisible())
        return;
    if (m_preparedEditor) {
        m_preparedEditor->releaseWindow();
        return;
    }
    m_preparedEditor = newEditor(std::nullopt);
    m_preparedEditor->prepareFirstFrame();
}

void TodosView::openSheet(const std::optional<TaskItem>& todo)
{
    if (m_editor)
        return;
    if (!todo && m_preparedEditor) {
        m_editor = m_preparedEditor;
        m_preparedEditor.clear();
        m_editor->restart(m_selectedDate);
    } else {
        m_editor = newEditor(todo);
    }
    // A closed sheet for a new to-do is kept for the next one, its window given back a moment
    // later: taking a whole sheet down costs the window more than a frame once the day holds many
    // to-dos.
    if (todo)
        m_editor->setAttribute(Qt::WA_DeleteOnClose);
    else
        Sheet::keepAfterClose(m_editor);
    connect(
        m_editor, &QDialog::finished, this,
        [this, kept = !todo] {
            if (kept)
                m_preparedEditor = m_editor;
            m_editor = nullptr;
            m_prepareEditor.start();
        },
        Qt::SingleShotConnection);
    present(m_editor);
}

void TodosView::requestDelete(const TaskItem& todo)
{
    if (m_deleteQuestion)
        return;
    StorageService* store = m_context.storage;
    const auto remove = [this, store, todo] { showRefusal(store->todos().deleteTodo(todo)); };
    if (TaskEditorModel::isRepeating(todo)) {
        m_deleteQuestion = new ChoiceDialog(
            QStringLiteral("Delete repeating to-do?"),
            QStringLiteral("Stop repeating keeps the copies you already have. Delete All removes every copy on all "
                           "your devices."),
            {{QStringLiteral("Stop Repeating (Keep Past)"), ChoiceDialog::Role::normal,
              [this, todo] { stopRepeating(todo); }},
             {QStringLiteral("Delete All"), ChoiceDialog::Role::destructive, remove},
             {QStringLiteral("Cancel"), ChoiceDialog::Role::cancel, {}}},
            this);
    } else {
        m_deleteQuestion = new ChoiceDialog(QStringLiteral("Delete this to-do?"),
                                            QStringLiteral("\u201C") + todo.title +
                                                QStringLiteral("\u201D will be removed from all your devices."),
                                            {{QStringLiteral("Delete"), ChoiceDialog::Role::destructive, remove},
                                             {QStringLiteral("Cancel"), ChoiceDialog::Role::cancel, {}}},
                                            this);
    }
    m_deleteQuestion->setAttribute(Qt::WA_DeleteOnClose);
    // Closed means gone for the page, even before the event loop deletes it.
    connect(m_deleteQuestion, &QDialog::finished, this, [this] { m_deleteQuestion = nullptr; });
    present(m_deleteQuestion);
}

void TodosView::showRefusal(bool kept)
{
    const std::optional<QString> why = refusal(m_context.storage, kept);
    if (why)
        m_refusal->setText(*why);
    m_refusal->setVisible(why.has_value());
}

void TodosView::toggleTodo(const TaskItem& todo)
{
    showRefusal(m_context.storage->todos().toggleTodo(todo.id));
}

void TodosView::completeFocus(const TaskItem& todo)
{
    showRefusal(m_context.storage->todos().toggleTodo(todo.id));
}

void TodosView::skipFocus()
{
    m_context.storage->todos().advanceFocus();
}

void TodosView::toggleSubtask(const Subtask& step, const TaskItem& todo)
{
    showRefusal(m_context.storage->todos().toggleSubtask(todo.id, step.id));
}

void TodosView::makeFocus(const TaskItem& todo)
{
    m_context.storage->todos().setFocusTodoID(todo.id);
}

void TodosView::moveToToday(const TaskItem& todo)
{
    showRefusal(m_context.storage->todos().moveTodosToToday({todo.id}));
}

void TodosView::moveAllToToday()
{
    // One change, however many the past week left.
    std::vector<QUuid> ids;
    for (const TaskItem& t : m_context.storage->todos().earlierTodos())
        ids.push_back(t.id);
    showRefusal(m_context.storage->todos().moveTodosToToday(ids));
}

void TodosView::stopRepeating(const TaskItem& todo)
{
    TaskItem copy = todo;
    copy.repeatOption = RepeatOption::none;
    showRefusal(m_context.storage->todos().upsertTodo(copy));
}
