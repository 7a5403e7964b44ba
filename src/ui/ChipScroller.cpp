#include "ui/ChipScroller.h"

#include <QApplication>
#include <QEvent>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <cstdlib>

ChipScroller::ChipScroller(QWidget* row, QWidget* parent) : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
    viewport()->setAutoFillBackground(false);
    row->setAutoFillBackground(false);
    setWidget(row);
    for (QWidget* child : row->findChildren<QWidget*>())
        child->installEventFilter(this);
}

QSize ChipScroller::sizeHint() const
{
    const QSize row = widget() ? widget()->sizeHint() : QSize();
    // A scroll bar that does not lie over the row takes room below it.
    const bool overlay = style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, horizontalScrollBar());
    return QSize(row.width(), row.height() + (overlay ? 0 : horizontalScrollBar()->sizeHint().height()));
}

QSize ChipScroller::minimumSizeHint() const
{
    return QSize(0, sizeHint().height());
}

void ChipScroller::wheelEvent(QWheelEvent* event)
{
    QScrollBar* bar = horizontalScrollBar();
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    // Sideways when the device scrolls sideways, else the vertical turn moves the row.
    int delta = 0;
    if (!pixels.isNull())
        delta = std::abs(pixels.x()) > std::abs(pixels.y()) ? pixels.x() : pixels.y();
    else
        delta = (std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y()) / 120 * bar->singleStep() * 3;
    if (delta == 0 || bar->maximum() == 0) {
        event->ignore();
        return;
    }
    const int before = bar->value();
    bar->setValue(before - delta);
    // At either end the wheel goes on to scroll the page around the row.
    if (bar->value() == before)
        event->ignore();
    else
        event->accept();
}

bool ChipScroller::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn)
        if (auto* chip = qobject_cast<QWidget*>(watched))
            ensureWidgetVisible(chip, 8, 0);
    return QScrollArea::eventFilter(watched, event);
}
