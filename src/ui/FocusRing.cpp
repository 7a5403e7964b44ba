#include "ui/FocusRing.h"

#include "ui/Palette.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QVariant>
#include <QWidget>

namespace {

// The block of a scrolling page that holds `control` (the page's child it lies in) is shown
// whole where it fits, and the last block with the page's padding after it: scrolled only as far
// as the control, a row is left cut by the edge or a few pixels short of it.
void showBlock(QScrollArea* area, QWidget* control)
{
    QWidget* page = area->widget();
    QWidget* block = control;
    while (block->parentWidget() && block->parentWidget() != page)
        block = block->parentWidget();
    if (block->parentWidget() != page || block->height() > area->viewport()->height())
        return;
    const int bottom = block->geometry().bottom();
    int after = page->height() - 1 - bottom;
    for (QWidget* other : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (other != block && !other->isWindow() && other->isVisible() && other->y() > bottom)
            after = 0;
    const int height = area->viewport()->height();
    if (block->height() + after > height)
        after = 0;
    QScrollBar* bar = area->verticalScrollBar();
    if (bottom + after >= bar->value() + height)
        bar->setValue(bottom + after - height + 1);
    else if (block->y() < bar->value())
        bar->setValue(block->y());
}

constexpr char radiusProperty[] = "qhFocusRingRadius";
constexpr qreal ringOffset = 2;
constexpr qreal bandWidth = 2;
constexpr int reach = int(ringOffset + 2 * bandWidth);

bool isViewport(const QWidget* widget)
{
    const auto* area = qobject_cast<const QAbstractScrollArea*>(widget->parentWidget());
    return area && area->viewport() == widget;
}

class RingOverlay : public QWidget {
public:
    RingOverlay()
    {
        setObjectName(QStringLiteral("focusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

    void follow(QWidget* control)
    {
        m_control = control;
        // A control flush with its parent's edge would have its ring cut there: the ring goes up
        // to the nearest ancestor with room for all of it, but never past a scrolled view's edge
        // or out of the window.
        QWidget* host = control->parentWidget();
        QRect ring = control->geometry().adjusted(-reach, -reach, reach, reach);
        while (!host->rect().contains(ring) && !host->isWindow() && !isViewport(host)) {
            ring.translate(host->pos());
            host = host->parentWidget();
        }
        if (parentWidget() != host)
            setParent(host);
        setGeometry(ring);
        raise();
        show();
        update();
    }

    // Whether `widget` moving or resizing moves the control within the widget the ring is drawn in.
    bool carries(const QWidget* widget) const
    {
        return m_control && (widget == m_control || (widget->isAncestorOf(m_control) && parentWidget() &&
                                                     parentWidget()->isAncestorOf(widget)));
    }

    QWidget* control() const { return m_control; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_control)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QVariant stored = m_control->property(radiusProperty);
        const qreal controlRadius = stored.isValid() ? stored.toReal() : 6;
        const QRectF control = QRectF(rect()).adjusted(reach, reach, -reach, -reach);
        // Outer band first: the inner one is drawn over their shared edge's antialiasing.
        const auto all = FocusRing::bands();
        for (auto band = all.rbegin(); band != all.rend(); ++band) {
            const qreal out = band->offset + band->width / 2;
            const QRectF line = control.adjusted(-out, -out, out, out);
            const qreal radius = controlRadius < 0 ? line.height() / 2 : controlRadius + out;
            QPainterPath path;
            path.addRoundedRect(line, radius, radius);
            painter.strokePath(path, QPen(band->color, band->width));
        }
    }

private:
    QPointer<QWidget> m_control;
};

bool takesRing(const QWidget* widget)
{
    if (!widget || widget->isWindow() || !widget->parentWidget())
        return false;
    if (!(widget->focusPolicy() & Qt::TabFocus))
        return false;
    // A scrolling page is a container, not a control.
    return !qobject_cast<const QScrollArea*>(widget);
}

class Watcher : public QObject {
public:
    using QObject::QObject;

    RingOverlay* ring()
    {
        if (!m_ring)
            m_ring = new RingOverlay;
        return m_ring;
    }
    QPointer<RingOverlay> m_ring;

private:
    // Focus that came from the pointer needs no ring; focus the program moved (a window activated,
    // a sheet's first field, a row after a save) needs one unless the person is using the pointer.
    bool showsRing(Qt::FocusReason reason) const
    {
        switch (reason) {
        case Qt::MouseFocusReason:
            return false;
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            return true;
        default:
            return !m_pointerLast;
        }
    }
    bool m_pointerLast = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            m_pointerLast = false;
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::TouchBegin:
        case QEvent::TabletPress:
            m_pointerLast = true;
            break;
        case QEvent::FocusIn: {
            auto* widget = qobject_cast<QWidget*>(watched);
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (widget && widget->hasFocus() && takesRing(widget) && showsRing(reason)) {
                // A ring out of view tells nothing: a control reached by the keyboard is scrolled
                // into its page's view first (Tab wrapping round into a long page lands below it).
                if (reason != Qt::ActiveWindowFocusReason)
                    for (QWidget* up = widget->parentWidget(); up; up = up->isWindow() ? nullptr : up->parentWidget())
                        if (auto* area = qobject_cast<QScrollArea*>(up);
                            area && area->widget() && area->widget()->isAncestorOf(widget)) {
                            area->ensureWidgetVisible(widget, 0, 16);
                            showBlock(area, widget);
                        }
                ring()->follow(widget);
            } else if (widget && m_ring && m_ring->control() != widget)
                m_ring->hide();
            break;
        }
        case QEvent::FocusOut:
            if (m_ring && m_ring->control() == watched &&
                static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason)
                m_ring->hide();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::ParentChange:
            // A control focused while its page is still being built is placed by the layout later,
            // before the page shows: the ring, not yet visible either, follows it all the same.
            if (m_ring && !m_ring->isHidden() && watched->isWidgetType() &&
                m_ring->carries(static_cast<QWidget*>(watched)))
                m_ring->follow(m_ring->control());
            break;
        case QEvent::Hide:
            if (m_ring && m_ring->control() == watched)
                m_ring->hide();
            break;
        default:
            break;
        }
        return false;
    }
};

QPointer<Watcher> watcher;

} // namespace

namespace FocusRing {

void install(QApplication& app)
{
    if (watcher)
        return;
    watcher = new Watcher(&app);
    app.installEventFilter(watcher);
}

void setRadius(QWidget* control, double radius)
{
    control->setProperty(radiusProperty, radius);
}

std::array<Band, 2> bands()
{
    return {Band{FocusColor::ink(), ringOffset, bandWidth},
            Band{FocusColor::gold(), ringOffset + bandWidth, bandWidth}};
}

QWidget* visibleRing()
{
    return watcher && watcher->m_ring && watcher->m_ring->isVisible() ? watcher->m_ring.data() : nullptr;
}

} // namespace FocusRing
