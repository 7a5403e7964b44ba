#pragma once

#include "model/TaskItem.h"
#include "router/AppContext.h"
#include "ui/PageGuard.h"
#include "ui/QueuedCall.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <memory>

class ChoiceDialog;
class QDialog;
class Eyebrow;
class FocusButton;
class FocusEmptyCard;
class FocusHeroCard;
class LazyRows;
class QLabel;
class QMenu;
class QuietRowMeter;
class StorageService;
class QuietTodoRow;
class QVBoxLayout;
class TaskEditorSheet;
class WrappingLabel;

// The Today page: one day at a time. Today shows the to-do in focus, the rest of the day, the
// unfinished to-dos of the past week and what is done; any other day lists what is planned.
// It keeps only view state: every list is read from the store and every change goes through it.
// Object names: "dateEyebrow", "todayLink", "previousDay", "nextDay", "headline", "focusCard",
// "emptyCard", "laterSection", "laterEmpty", "earlierBox", "earlierToggle", "earlierCount",
// "doneSection", "plannedSection", "plannedEmpty", "addButton", "todosLoading"; rows are QuietTodoRow/EarlierTodoRow
// with the property "todoId".
class TodosView : public QWidget, public PageGuard {
    Q_OBJECT
public:
    explicit TodosView(AppContext& context, QWidget* parent = nullptr);
    ~TodosView() override;

    // An open editor with changes asks before the page goes (the editor's own question).
    bool mayLeave(std::function<void()> leave) override;

    Date selectedDate() const { return m_selectedDate; }
    bool isShowingToday() const;
    QString headline() const;
    bool showEarlier() const { return m_showEarlier; }
    void setShowEarlier(bool show);

    void jumpToToday();
    void shiftDay(int days);
    void handleDayChange();
    void handleNewItemRequest();

    // Row actions.
    void openNewEditor();
    void openEditor(const TaskItem& todo);
    void requestDelete(const TaskItem& todo);
    // Shows why the store did not keep a change made from this page, or hides it once one is kept.
    void showRefusal(bool kept);
    void toggleTodo(const TaskItem& todo);
    void completeFocus(const TaskItem& todo);
    void skipFocus();
    void toggleSubtask(const Subtask& step, const TaskItem& todo);
    void makeFocus(const TaskItem& todo);
    void moveToToday(const TaskItem& todo);
    void moveAllToToday();
    void stopRepeating(const TaskItem& todo);

    // The context menu of the focus card and the quiet rows, and the menu of an earlier row.
    void fillTodoMenu(QMenu* menu, const TaskItem& todo);
    void fillEarlierMenu(QMenu* menu, const TaskItem& todo);
    // The same, told whether the past week holds more than this one.
    void fillEarlierMenu(QMenu* menu, const TaskItem& todo, bool several);

    TaskEditorSheet* editor() const;
    ChoiceDialog* deleteQuestion() const;
    // The faces the page first draws with today for what `store` holds, each face first: those of
    // the day while its to-dos are read, of the empty day with no to-dos at all, else those a
    // day's first screen commonly draws.
    static QList<QFont> firstFaces(const StorageService& store);
    // The same, before the store has loaded: `todosLater`, the to-dos come after the window shows.
    static QList<QFont> firstFaces(bool todosLater);
    // How long the page waits for the to-dos before it says they are loading: a read that ends
    // sooner shows no notice that flashes by.
    static constexpr int loadingNoticeMs = 400;
    // How long the page waits, once shown and once an editor has closed, before it builds the next
    // new to-do's editor in advance.
    static constexpr int prepareEditorAfterMs = 500;
    // Rebuilds the sections from the store now (the page also does so after every store change).
    void refresh();
    // What a page's first build of a longer day lists: more rows than the tallest window shows,
    // with the half screen kept ready below it.
    static constexpr size_t firstScreenEntries = 96;
    // Whether the page lists only the first screen of the day, the rest to follow.
    bool listsFirstScreenOnly() const { return m_dayCut; }
    // How many to-dos the rest of a long day copies (twice) in one turn.
    static constexpr size_t copiedPerTurn = 2048;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildHeader();
    // While the store reads the to-dos: the day's header alone, and the notice once it lasts.
    void waitForTodos();
    static QList<QFont> dayFaces(bool hasTodos);
    QWidget* sectionHeader(const QString& title, bool withAdd, QWidget* parent);
    QuietTodoRow* makeRow(const TaskItem& todo, QWidget* parent);
    TaskEditorSheet* newEditor(const std::optional<TaskItem>& todo);
    void prepareNewEditor();
    static QMargins besideCards();
    void scheduleRefresh();
    void armMidnightTimer();
    void openSheet(const std::optional<TaskItem>& todo);
    // Through the window's line of sheets, so it never opens over another sheet.
    void present(QDialog* sheet);
    Calendar calendar() const { return m_context.calendar(); }
    Date now() const { return m_context.clock->now(); }

    AppContext& m_context;
    Date m_selectedDate;
    Date m_knownToday;
    bool m_showEarlier = false;
    bool m_builtOnce = false;
    bool m_dayCut = false; // today lists its first screen only
    // The rest of the day being put together: the run under way, and the whole day once copied,
    // twice: one copy for the sections to take apart, one kept as the day (Day below).
    struct WholeDay {
        std::vector<TaskItem> listed, kept;
    };
    int m_restRun = 0;
    std::optional<WholeDay> m_wholeDay;
    void listRestOfDay();
    // Today's to-dos in display order, done ones too, as the page last listed them whole, with
    // the day and the store's revision they were read at: after a change of a few to-dos only
    // those are put in their places, rather than the whole store read and put in order again.
    struct Day {
        std::vector<TaskItem> list;
        QDate date;
        quint64 revision = 0;
    };
    std::optional<Day> m_day;
    // The to-do on the focus card at the last listing of today, kept out of the later rows.
    std::optional<QUuid> m_listedFocus;
    // The ids changed since m_day was read, when they are few and m_day is of `today`.
    std::optional<QSet<QUuid>> fewChangedSinceDay(const QDate& today) const;
    // The store's to-dos of `ids` as they are now, those still there.
    std::vector<TaskItem> currentTodos(const QSet<QUuid>& ids) const;
    bool m_easeEarlierOpen = false; // the person just opened the box: its rows ease in
    bool m_turnEarlier = false;     // the person just opened or closed it: its chevron turns
    QueuedCall m_queuedRefresh{this, [this] { refresh(); }};

    Eyebrow* m_dateEyebrow = nullptr;
    FocusButton* m_todayLink = nullptr;
    WrappingLabel* m_headline = nullptr;
    WrappingLabel* m_refusal = nullptr;
    QPointer<QLabel> m_loading;
    QVBoxLayout* m_column = nullptr;
    // A list of rows of which only those in view are built; `list` is what the store gave at
    // the last refresh, for building the rows that scroll into view.
    struct Section {
        QWidget* box = nullptr;
        LazyRows* rows = nullptr;
        QLabel* empty = nullptr;
        std::vector<TaskItem> list;
    };
    void makeSection(Section& section, const QString& name, QWidget* header, QLabel* empty, bool emptyFirst);
    void buildSections();
    // The section, made now if it was not yet.
    Section& shown(Section& section);
    QuietRowMeter& meter();
    // `changed`, when given, holds every to-do that may differ from the section's last list.
    void placeRows(Section& section, std::vector<TaskItem> list, const QSet<QUuid>* changed = nullptr);
    // Takes the `changed` and `gone` to-dos out of the section's list and puts `adds` in order.
    void changeRowsInPlace(Section& section, const QSet<QUuid>& changed, const std::optional<QUuid>& gone,
                           const std::vector<TaskItem>& adds);
    void setFocusCard(const std::optional<TaskItem>& focus, bool canSkip, bool allDone);
    // The to-do of `id` when it is open today.
    std::optional<TaskItem> openToday(const QUuid& id) const;

    QWidget* m_sections = nullptr;
    QVBoxLayout* m_sectionsLayout = nullptr;
    QWidget* m_focusSlot = nullptr;
    QWidget* m_earlierSlot = nullptr;
    Section m_later, m_done, m_planned;
    QPointer<FocusHeroCard> m_hero;
    QPointer<FocusEmptyCard> m_emptyCard;
    QPointer<QWidget> m_earlierBox;
    std::vector<TaskItem> m_earlierShown;
    bool m_earlierShownOpen = false;
    std::unique_ptr<QuietRowMeter> m_meter;
    QPointer<TaskEditorSheet> m_editor;
    // The next new to-do's editor, built while the page is idle: building one takes longer than a
    // frame, and Ctrl+N then only shows it.
    QPointer<TaskEditorSheet> m_preparedEditor;
    QTimer m_prepareEditor;
    QPointer<ChoiceDialog> m_deleteQuestion;
    QTimer m_midnight;
};
