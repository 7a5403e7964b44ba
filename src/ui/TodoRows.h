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
// thousands asks for every entry. A title that fits on one line takes the height of a one-line
// row with the same meta text, measured once per meta text and width; any other title is laid
// out on one hidden row.
class QuietRowMeter {
public:
    QuietRowMeter(qreal size, qreal height);
    ~QuietRowMeter();

    int height(const TaskItem& todo, int width);

private:
    struct OneLine {
        qreal titleWidth = 0;
        int height = 0;
    };
    int measure(const TaskItem& todo, int width);
    qreal titleAdvance(const QString& title);
    const OneLine& oneLine(const TaskItem& todo, const QString& meta, int width);

    qreal m_size;
    qreal m_height;
    // Laid out at each width once, for the room a one-line title has beside each meta text.
    std::unique_ptr<QuietTodoRow> m_probe;
    QFontMetricsF m_titleMetrics;
    QHash<QPair<QString, int>, OneLine> m_oneLine;
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
