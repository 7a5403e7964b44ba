#include "ui/Layouts.h"

#include "ui/LazyRows.h"

#include <QBoxLayout>
#include <QScrollArea>
#include <QSet>
#include <functional>

namespace {

template <typename Layout> Layout* bare(QWidget* owner, int spacing)
{
    auto* layout = new Layout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

// Walks the controls inside a widget in the order its layouts place them, until `visit` says stop.
// Each visit is handed a control; false from it ends the walk (and the walk answers false).
using Visit = std::function<bool(QWidget* control)>;
bool walkControls(QWidget* widget, const Visit& visit, QSet<QWidget*>& seen);

bool walkLayout(QLayout* layout, const Visit& visit, QSet<QWidget*>& seen)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* w = item->widget()) {
            if (!walkControls(w, visit, seen))
                return false;
        } else if (QLayout* inner = item->layout()) {
            if (!walkLayout(inner, visit, seen))
                return false;
        }
    }
    return true;
}

bool walkControls(QWidget* widget, const Visit& visit, QSet<QWidget*>& seen)
{
    if (seen.contains(widget))
        return true;
    seen.insert(widget);
    if (!visit(widget))
        return false;
    if (auto* scroll = qobject_cast<QScrollArea*>(widget))
        return !scroll->widget() || walkControls(scroll->widget(), visit, seen);
    // A long list builds only some of its rows; they come in the list's order.
    if (auto* rows = qobject_cast<LazyRows*>(widget)) {
        for (QWidget* row : rows->builtRows())
            if (!walkControls(row, visit, seen))
                return false;
        return true;
    }
    if (widget->layout() && !walkLayout(widget->layout(), visit, seen))
        return false;
    // Children placed by hand come after those of the layout, in the order they were made.
    for (QObject* child : widget->children())
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow())
            if (!walkControls(w, visit, seen))
                return false;
    return true;
}

bool isStop(const QWidget* widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy();
}

} // namespace

QVBoxLayout* columnLayout(QWidget* owner, int spacing)
{
    return bare<QVBoxLayout>(owner, spacing);
}

QHBoxLayout* rowLayout(QWidget* owner, int spacing)
{
    return bare<QHBoxLayout>(owner, spacing);
}

void orderTabsByLayout(QWidget* root)
{
    QList<QWidget*> controls;
    QSet<QWidget*> seen;
    walkControls(
        root,
        [&controls](QWidget* w) {
            if (isStop(w))
                controls.append(w);
            return true;
        },
        seen);
    for (qsizetype i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1], controls[i]);
}

QWidget* stopBeforeInLayout(QWidget* widget)
{
    QWidget* before = nullptr;
    QSet<QWidget*> seen;
    const bool reached = !walkControls(
        widget->window(),
        [widget, &before](QWidget* w) {
            if (w == widget)
                return false;
            if (isStop(w) && w != widget->window())
                before = w;
            return true;
        },
        seen);
    return reached ? before : nullptr;
}
