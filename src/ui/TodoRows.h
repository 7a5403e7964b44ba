#pragma once

// The compact rows of the to-dos that are not in focus. Both draw a TaskItem and report clicks;
// the screen performs every change and passes the new record with setTodo().

#include "model/Calendar.h"
#include "model/TaskItem.h"

#include <QFontMetricsF>
#include <QHash>
#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QMenu;
class QToolButton;
class ClickableArea;
class WrappingLabel;
class PriorityCheckCircle;

// A row of the day's other to-dos: check circle (toggleClicked), title (openClicked) and the meta
// text, with a hairline along its bottom. `size` is the title's text size, `height` the row's
// minimum height. Object names: "checkButton", "titleArea", "metaLabel".
class QuietTodoRow : public QWidget {
    Q_OBJECT
public:
    QuietTodoRow(const TaskItem& todo, qreal size, qreal height, QWidget* parent = nullptr);
    // The faces a row of `size` draws with: its title's, and its meta text's where it has one.
    static QList<QFont> faces(qreal size, bool withMeta);

    const TaskItem& todo() const { return m_todo; }
    void setTodo(const TaskItem& todo);

signals:
    void toggleClicked();
    void openClicked();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    friend class QuietRowMeter;
    void refresh();

    TaskItem m_todo;
    qreal m_size;
    ClickableArea* m_check;
    PriorityCheckCircle* m_circle;
    ClickableArea* m_titleArea;
    WrappingLabel* m_title;
    QLabel* m_meta;
};

// The height a QuietTodoRow of a to-do takes at a width, without building the row: a list of
// thousands asks for every entry at every width its layouts try, and every widget made and
// destroyed while the page loads leaves events in the queue that the next destruction searches.
// A real row is laid out once, to learn what it puts around its title and beside its meta text;
// an entry then costs a text measurement. Heights are exact where a title takes one or two
// lines; a title squeezed into more (only layouts trying their narrowest ask for such widths) is
// estimated from its width, and below the width the row needs at least, where its layout
// squeezes every part, the title is measured at its own minimum width. A built row is always
// measured for real.
class QuietRowMeter {
public:
    QuietRowMeter(qreal size, qreal height);
    ~QuietRowMeter();

    int height(const TaskItem& todo, int width);
    // What most rows take: a title on one line beside a meta text. Looks at no to-do.
    int typicalHeight() const { return std::max(m_floor[1], m_oneLine + m_aroundTitle); }

private:
    // The width of the to-do's meta text, or nothing when the row shows none.
    std::optional<int> metaWidth(const TaskItem& todo);
    int textWidth(const QString& meta);
    qreal titleAdvance(const QString& title);
    std::optional<qreal> quickAdvance(const QString& title);

    QFont m_titleFont;
    QFontMetricsF m_titleMetrics;
    // Never shown: its size hint is the width the row's meta label asks for.
    std::unique_ptr<QLabel> m_metaLabel;
    QHash<QString, int> m_metaWidths;
    QHash<QString, int> m_timeWidths; // by the stored time text
    QHash<QString, qreal> m_titleAdvances;
    // Advances of the Latin characters one by one, and how a shaped text's width compares to
    // their sum, learned on a sample.
    std::array<qreal, 0x250> m_charAdvances{};
    qreal m_shapedPerSum = 1;
    // Learned from the laid-out row.
    int m_besideTitle = 0;        // the row's width that is not the title's, with no meta text
    int m_besideMeta = 0;         // what a shown meta text adds beyond its own width
    std::array<int, 2> m_floor{}; // height with an empty title: without, with a meta text
    int m_aroundTitle = 0;        // height beyond the title's lines when they are the tallest
    int m_oneLine = 0;            // a one-line title's height
    int m_narrowest = 0;          // the title's minimum width
};

// A row of an unfinished to-do from an earlier day: title and the from-which-day line
// (openClicked), and an options menu the caller fills through menu().
// Object names: "titleArea", "fromLabel", "optionsButton".
class EarlierTodoRow : public QWidget {
    Q_OBJECT
public:
    EarlierTodoRow(const TaskItem& todo, Date now, const Calendar& calendar, QWidget* parent = nullptr);

    const TaskItem& todo() const { return m_todo; }
    void setTodo(const TaskItem& todo, Date now, const Calendar& calendar);
    QMenu* menu() const { return m_menu; }

    // "From yesterday", "From Monday" or "From Nov 28", counted from the to-do's due day (else its
    // creation day) to the day of `now`.
    static QString fromText(const TaskItem& todo, Date now, const Calendar& calendar);

signals:
    void openClicked();

private:
    TaskItem m_todo;
    ClickableArea* m_titleArea;
    WrappingLabel* m_title;
    QLabel* m_from;
    QToolButton* m_options;
    QMenu* m_menu;
};
