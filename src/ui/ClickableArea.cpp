#include "ui/ClickableArea.h"

#include <QLayout>

ClickableArea::ClickableArea(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize ClickableArea::sizeHint() const
{
    return layout() ? layout()->sizeHint() : QSize();
}

QSize ClickableArea::minimumSizeHint() const
{
    return layout() ? layout()->minimumSize() : QSize();
}

void ClickableArea::paintEvent(QPaintEvent*)
{
    // Nothing of its own to draw: its children are the label.
}
