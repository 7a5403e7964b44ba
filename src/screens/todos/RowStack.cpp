#include "screens/todos/RowStack.h"

#include <QWidget>
#include <algorithm>

RowStack::~RowStack()
{
    qDeleteAll(m_items);
}

void RowStack::setRows(const QList<QWidget*>& rows)
{
    QHash<QWidget*, QLayoutItem*> existing;
    for (QLayoutItem* item : std::as_const(m_items))
        existing.insert(item->widget(), item);
    QList<QLayoutItem*> items;
    items.reserve(rows.size());
    for (QWidget* row : rows) {
        QLayoutItem* item = existing.take(row);
        if (!item) {
            addChildWidget(row);
            item = new QWidgetItem(row);
        }
        items.append(item);
    }
    // Rows that left the stack stay with their widget (the page reuses or deletes them).
    for (auto it = existing.cbegin(); it != existing.cend(); ++it) {
        m_heights.remove(it.key());
        delete it.value();
    }
    m_items = std::move(items);
    invalidate();
}

void RowStack::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

QLayoutItem* RowStack::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    m_heights.remove(item->widget());
    invalidate();
    return item;
}

int RowStack::rowHeight(QLayoutItem* item, int width) const
{
    Heights& known = m_heights[item->widget()];
    for (const Height& k : known)
        if (k.width == width)
            return k.height;
    const int h = item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
    const int height = std::max(h, item->minimumSize().height());
    // The page measures at more than one width (with and without its scroll bar, say).
    std::rotate(known.rbegin(), known.rbegin() + 1, known.rend());
    known[0] = {width, height};
    return height;
}

int RowStack::heightForWidth(int width) const
{
    const QMargins m = contentsMargins();
    const int inner = width - m.left() - m.right();
    int total = m.top() + m.bottom();
    for (QLayoutItem* item : m_items)
        if (!item->isEmpty())
            total += rowHeight(item, inner);
    return total;
}

QSize RowStack::sizeHint() const
{
    int width = 0;
    for (QLayoutItem* item : m_items)
        if (!item->isEmpty())
            width = std::max(width, item->sizeHint().width());
    const QMargins m = contentsMargins();
    width += m.left() + m.right();
    // Measured at the width the rows have, so the remembered heights stay valid.
    const int measureAt = geometry().width() > 0 ? geometry().width() : width;
    return QSize(width, heightForWidth(measureAt));
}

QSize RowStack::minimumSize() const
{
    int width = 0;
    for (QLayoutItem* item : m_items)
        if (!item->isEmpty())
            width = std::max(width, item->minimumSize().width());
    const QMargins m = contentsMargins();
    return QSize(width + m.left() + m.right(), 0);
}

void RowStack::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    int y = inner.top();
    for (QLayoutItem* item : std::as_const(m_items)) {
        if (item->isEmpty())
            continue;
        const int h = rowHeight(item, inner.width());
        item->setGeometry(QRect(inner.left(), y, inner.width(), h));
        y += h;
    }
}
