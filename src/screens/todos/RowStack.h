#pragma once

#include <QHash>
#include <QLayout>
#include <QList>
#include <QPointer>
#include <array>

// A vertical stack of to-do rows, without spacing. A day can hold hundreds of rows whose titles
// wrap, and asking each of them for its height at every relayout makes the page slow: the stack
// remembers each row's height at the last width until told that the row changed.
class RowStack : public QLayout {
public:
    RowStack() = default;
    ~RowStack() override;

    // Replaces the rows, in this order (the widgets must be children of the layout's widget).
    void setRows(const QList<QWidget*>& rows);
    // The row shows something new: measure it again.
    void forget(QWidget* row) { m_heights.remove(row); }

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(m_items.size()); }
    QLayoutItem* itemAt(int index) const override { return m_items.value(index); }
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }

private:
    int rowHeight(QLayoutItem* item, int width) const;

    QList<QLayoutItem*> m_items;
    struct Height {
        int width = -1;
        int height = 0;
    };
    using Heights = std::array<Height, 3>;
    mutable QHash<QWidget*, Heights> m_heights;
};
