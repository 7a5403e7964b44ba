#pragma once

// The to-do in focus on a large dark card, the card shown when there is none, and the round
// check control of the to-do rows. All three draw what they are given and report clicks through
// signals; the caller owns the to-do and performs every change, then passes the new record.

#include "model/TaskItem.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QVBoxLayout;

// A circle of `size` points: white with a 2-point ring in the priority colour while open; green
// with a white check mark when done.
class PriorityCheckCircle : public QWidget {
    Q_OBJECT
public:
    PriorityCheckCircle(TaskItem::Priority priority, bool isDone, qreal size, QWidget* parent = nullptr);

    void setState(TaskItem::Priority priority, bool isDone);
    void setDiameter(qreal size);

    static const QColor& ringColor(TaskItem::Priority priority, bool isDone);
    // Draws the circle centred in `rect` with the given diameter.
    static void paint(QPainter& painter, const QRectF& rect, qreal size, TaskItem::Priority priority, bool isDone);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TaskItem::Priority m_priority;
    bool m_isDone;
    qreal m_size;
};

// The dark rounded card with its soft shadow, shared by both focus cards. The shadow's extent is
// reserved in the widget's margins, so the visible card is inset by shadowMargins().
class FocusCardFrame : public QWidget {
    Q_OBJECT
public:
    explicit FocusCardFrame(bool compact, QWidget* parent = nullptr);

    bool isCompact() const { return m_compact; }
    void setCompact(bool compact);
    // The rectangle of the visible card inside the widget.
    QRect cardRect() const;
    QMargins shadowMargins() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    QVBoxLayout* contentLayout() const { return m_content; }

private:
    void applyMetrics();

    bool m_compact;
    QVBoxLayout* m_content;
};

// The to-do in focus: eyebrow, title (click: openClicked), steps or notes, "Mark done" and,
// when `canSkip`, the skip button. `compact` is the menu-bar popover's form.
// Object names: "titleButton", "markDoneButton", "skipButton", "step" rows (property "stepId").
class FocusHeroCard : public FocusCardFrame {
    Q_OBJECT
public:
    FocusHeroCard(const TaskItem& todo, bool compact, bool canSkip, QWidget* parent = nullptr);

    const TaskItem& todo() const { return m_todo; }
    void setTodo(const TaskItem& todo);
    void setCanSkip(bool canSkip);
    void setCompactForm(bool compact);

    // The compact form's detail line: priority, steps progress, time, joined by " · ".
    static QString compactDetailText(const TaskItem& todo);
    // The faces the card of `todo` draws with, in the order it draws them.
    static QList<QFont> faces(const TaskItem& todo, bool compact, bool canSkip);
    static QString priorityLabel(TaskItem::Priority priority);

signals:
    void doneClicked();
    void skipClicked();
    void openClicked();
    void stepClicked(const Subtask& step);

private:
    void rebuild();

    TaskItem m_todo;
    bool m_canSkip;
};

// Shown where the focus card would be when nothing is in focus: an invitation to add the day's
// priority, or (allDone) the note that everything is done. Its one button emits addClicked.
// Object name of the button: "addButton".
class FocusEmptyCard : public FocusCardFrame {
    Q_OBJECT
public:
    FocusEmptyCard(bool allDone, bool compact, QWidget* parent = nullptr);
    // The faces the card draws with, in the order it draws them.
    static QList<QFont> faces(bool allDone, bool compact);

    void setAllDone(bool allDone);
    void setCompactForm(bool compact);

signals:
    void addClicked();

private:
    void rebuild();

    bool m_allDone;
};
