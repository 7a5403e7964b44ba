#include "ui/Layouts.h"

#include "ui/LazyRows.h"

#include <QBoxLayout>
#include <QScrollArea>
#include <QSet>

namespace {

template <typename Layout> Layout* bare(QWidget* owner, int spacing)
{
    auto* layout = new Layout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

void collectControls(QWidget* widget, QList<QWidget*>& out, QSet<QWidget*>& seen);

void collectLayout(QLayout* layout, QList<QWidget*>& out, QSet<QWidget*>& seen)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* w = item->widget())
            collectControls(w, out, seen);
        else if (QLayout* inner = item->layout())
            collectLayout(inner, out, seen);
    }
}

void collectControls(QWidget* widget, QList<QWidget*>& out, QSet<QWidget*>& seen)
{
    if (seen.contains(widget))
        return;
    seen.insert(widget);
    if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy())
        out.append(widget);
    if (auto* scroll = qobject_cast<QScrollArea*>(widget)) {
        if (scroll->widget())
            collectControls(scroll->widget(), out, seen);
        return;
    }
    // A long list builds only some of its rows; they come in the list's order.
    if (auto* rows = qobject_cast<LazyRows*>(widget)) {
        for (QWidget* row : rows->builtRows())
            collectControls(row, out, seen);
        return;
    }
    if (widget->layout())
        collectLayout(widget->layout(), out, seen);
    // Children placed by hand come after those of the layout, in the order they were made.
    for (QObject* child : widget->children())
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow())
            collectControls(w, out, seen);
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
    collectControls(root, controls, seen);
    for (qsizetype i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1], controls[i]);
}
