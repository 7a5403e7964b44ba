#include "ui/LazyRows.h"
#include "ui/Layouts.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QScreen>
#include <QWidgetItem>
#include <algorithm>

namespace {

bool takesTabFocus(const QWidget* w)
{
    return (w->focusPolicy() & Qt::TabFocus) != 0;
}

} // namespace

LazyRows::LazyRows(MakeRow make, ExpectedHeight expected, QWidget* parent)
    : QWidget(parent), m_make(std::move(make)), m_expected(std::move(expected))
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

bool LazyRows::estimating() const
{
    return std::any_of(m_columns.cbegin(), m_columns.cend(), [](const Column& c) { return c.estimating; });
}

int LazyRows::indexOf(const QUuid& key) const
{
    if (const auto it = m_built.constFind(key); it != m_built.cend())
        return it->index;
    if (!m_indexValid) {
        // A few keys after a change are found by a scan: a long list's index costs more to
        // build than many scans, and a change to one entry asks for one or two.
        constexpr int fewLookups = 8;
        if (++m_unindexedLookups <= fewLookups) {
            const auto it = std::find(m_keys.cbegin(), m_keys.cend(), key);
            return it == m_keys.cend() ? -1 : int(it - m_keys.cbegin());
        }
        m_index.clear();
        m_index.reserve(qsizetype(m_keys.size()));
        for (int i = 0; i < int(m_keys.size()); ++i)
            m_index.insert(m_keys[size_t(i)], i);
        m_indexValid = true;
    }
    return m_index.value(key, -1);
}

QWidget* LazyRows::row(const QUuid& key) const
{
    const auto it = m_built.constFind(key);
    return it == m_built.cend() ? nullptr : it->widget;
}

bool LazyRows::changeOne(std::vector<QUuid>& keys)
{
    const size_t before = m_keys.size();
    const size_t after = keys.size();
    if (before == 0 || after == 0 || (before + 1 != after && after + 1 != before))
        return false;
    const size_t shorter = std::min(before, after);
    const size_t at = size_t(std::mismatch(m_keys.cbegin(), m_keys.cbegin() + qsizetype(shorter), keys.cbegin()).first -
                             m_keys.cbegin());
    const bool inserted = after > before;
    // The rest must match one place along, or this is no single insert or removal.
    if (inserted ? !std::equal(m_keys.cbegin() + qsizetype(at), m_keys.cend(), keys.cbegin() + qsizetype(at) + 1)
                 : !std::equal(keys.cbegin() + qsizetype(at), keys.cend(), m_keys.cbegin() + qsizetype(at) + 1))
        return false;
    for (Column& c : m_columns) {
        const auto place = c.heights.begin() + qsizetype(at);
        if (inserted) {
            c.heights.insert(place, Column::unknown);
            ++c.unknownCount;
        } else {
            if (*place == Column::unknown)
                --c.unknownCount;
            else
                c.knownSum -= *place;
            c.heights.erase(place);
        }
        if (c.next > at)
            c.next = inserted ? c.next + 1 : c.next - 1;
    }
    if (!inserted) {
        if (const auto it = m_built.find(m_keys[at]); it != m_built.end()) {
            drop(it->widget);
            m_built.erase(it);
        }
    }
    // The rows after the change move one place; their order among themselves stays.
    for (Built& b : m_built)
        if (size_t(b.index) >= at)
            b.index += inserted ? 1 : -1;
    m_keys = std::move(keys);
    m_index.clear();
    m_indexValid = m_keys.empty();
    m_unindexedLookups = 0;
    return true;
}

void LazyRows::setKeys(std::vector<QUuid> keys)
{
    // A list that gained or lost one entry (one to-do added or removed) moves only what follows.
    if (changeOne(keys)) {
        invalidate();
        place();
        return;
    }
    // Heights worked out stay with their entries, wherever the entries move.
    const bool keepHeights = std::any_of(m_columns.cbegin(), m_columns.cend(),
                                         [](const Column& c) { return c.unknownCount < int(c.heights.size()); });
    std::vector<int> from;
    if (keepHeights) {
        from.reserve(keys.size());
        for (const QUuid& key : keys)
            from.push_back(indexOf(key));
    }
    m_keys = std::move(keys);
    m_index.clear();
    m_indexValid = m_keys.empty();
    m_unindexedLookups = 0;
    for (Column& c : m_columns) {
        std::vector<int> heights(m_keys.size(), Column::unknown);
        c.knownSum = 0;
        c.unknownCount = int(m_keys.size());
        c.next = 0;
        for (size_t i = 0; i < from.size(); ++i) {
            const int h = from[i] >= 0 ? c.heights[size_t(from[i])] : Column::unknown;
            if (h != Column::unknown) {
                heights[i] = h;
                c.knownSum += h;
                --c.unknownCount;
            }
        }
        c.heights = std::move(heights);
    }
    if (!m_built.isEmpty()) {
        QList<QWidget*> before = builtRows();
        for (Built& b : m_built)
            b.index = -1;
        for (int i = 0; i < int(m_keys.size()); ++i)
            if (const auto it = m_built.find(m_keys[size_t(i)]); it != m_built.end())
                it->index = i;
        for (auto it = m_built.begin(); it != m_built.end();) {
            if (it->index < 0) {
                drop(it->widget);
                it = m_built.erase(it);
            } else {
                ++it;
            }
        }
        // Rows that stay but change places change places for Tab too.
        before.removeIf([this](QWidget* row) {
            return std::none_of(m_built.cbegin(), m_built.cend(), [row](const Built& b) { return b.widget == row; });
        });
        m_reordered = m_reordered || before != builtRows();
    }
    invalidate();
    place();
}

void LazyRows::forget(const QUuid& key)
{
    const int index = indexOf(key);
    if (index < 0)
        return;
    bool known = false;
    if (const auto it = m_built.find(key); it != m_built.end()) {
        known = it->measuredWidth >= 0;
        it->measuredWidth = -1;
    }
    for (Column& c : m_columns) {
        int& h = c.heights[size_t(index)];
        if (h == Column::unknown)
            continue;
        known = true;
        c.knownSum -= h;
        ++c.unknownCount;
        h = Column::unknown;
        c.next = std::min(c.next, size_t(index));
    }
    if (known)
        invalidate();
}

QList<QWidget*> LazyRows::builtRows() const
{
    QList<Built> rows;
    rows.reserve(m_built.size());
    for (const Built& b : m_built)
        rows.append(b);
    std::sort(rows.begin(), rows.end(), [](const Built& a, const Built& b) { return a.index < b.index; });
    QList<QWidget*> result;
    result.reserve(rows.size());
    for (const Built& b : rows)
        result.append(b.widget);
    return result;
}

LazyRows::Column& LazyRows::column(int width) const
{
    auto it = std::find_if(m_columns.begin(), m_columns.end(), [width](const Column& c) { return c.width == width; });
    if (it == m_columns.end()) {
        if (m_columns.size() >= rememberedWidths)
            m_columns.pop_back();
        Column c;
        c.width = width;
        c.heights.assign(m_keys.size(), Column::unknown);
        c.unknownCount = int(m_keys.size());
        m_columns.insert(m_columns.begin(), std::move(c));
    } else if (it != m_columns.begin()) {
        std::rotate(m_columns.begin(), it, it + 1);
    }
    return m_columns.front();
}

void LazyRows::setHeight(Column& c, size_t index, int height) const
{
    int& h = c.heights[index];
    if (h == Column::unknown)
        --c.unknownCount;
    else
        c.knownSum -= h;
    h = height;
    c.knownSum += height;
}

void LazyRows::workOutUnknown(Column& c) const
{
    if (c.unknownCount == 0 || c.estimating)
        return;
    // A few new entries are worked out at once: standing in for them would only move the list twice.
    constexpr int fewEntries = 32;
    if (m_typical && c.unknownCount > fewEntries) {
        c.estimating = true;
        c.typical = m_typical(c.width);
        c.next = 0;
        if (!m_refineQueued) {
            m_refineQueued = true;
            QMetaObject::invokeMethod(const_cast<LazyRows*>(this), &LazyRows::refineGuesses, Qt::QueuedConnection);
        }
        return;
    }
    for (size_t i = 0; i < c.heights.size() && c.unknownCount > 0; ++i)
        if (c.heights[i] == Column::unknown)
            setHeight(c, i, m_expected(int(i), c.width));
}

int LazyRows::heightAt(const Column& c, size_t index) const
{
    const int h = c.heights[index];
    return h == Column::unknown ? c.typical : h;
}

void LazyRows::refineGuesses()
{
    m_refineQueued = false;
    // A slice per turn keeps the window answering input and paints between slices. Input that
    // comes in during a slice may wait for the next one too, so a slice is kept to an eighth of
    // a frame.
    constexpr qint64 sliceNs = 2'000'000;
    QElapsedTimer slice;
    slice.start();
    int done = 0;
    const auto spent = [&] { return done >= entriesPerTurn || (done > 0 && slice.nsecsElapsed() >= sliceNs); };
    for (Column& c : m_columns) {
        while (c.estimating && !spent()) {
            if (c.next >= c.heights.size()) {
                // Entries forgotten behind the cursor are picked up on another round.
                c.estimating = c.unknownCount > 0;
                c.next = 0;
                continue;
            }
            const size_t i = c.next++;
            if (c.heights[i] != Column::unknown)
                continue;
            const int exact = m_expected(int(i), c.width);
            m_refinedChanged = m_refinedChanged || exact != c.typical;
            setHeight(c, i, exact);
            ++done;
        }
    }
    if (estimating()) {
        m_refineQueued = true;
        QMetaObject::invokeMethod(this, &LazyRows::refineGuesses, Qt::QueuedConnection);
        return;
    }
    // All exact: the list takes its true length at once, not slice by slice.
    if (std::exchange(m_refinedChanged, false)) {
        invalidate();
        place();
    }
}

int LazyRows::totalHeight(int width) const
{
    Column& c = column(width);
    workOutUnknown(c);
    return int(c.total());
}

void LazyRows::updateTops() const
{
    if (m_topsWidth == width() && m_tops.size() == m_keys.size() + 1)
        return;
    Column& c = column(width());
    workOutUnknown(c);
    m_tops.resize(m_keys.size() + 1);
    int y = 0;
    for (size_t i = 0; i < m_keys.size(); ++i) {
        m_tops[i] = y;
        y += heightAt(c, i);
    }
    m_tops.back() = y;
    m_topsWidth = width();
}

void LazyRows::invalidate()
{
    m_topsWidth = -1;
    updateGeometry();
}

int LazyRows::heightForWidth(int width) const
{
    return totalHeight(width);
}

QSize LazyRows::sizeHint() const
{
    // The rows take the width they are given.
    const int measureAt = width() > 0 ? width() : (m_columns.empty() ? 0 : std::max(m_columns.front().width, 0));
    return QSize(0, totalHeight(measureAt));
}

QSize LazyRows::minimumSizeHint() const
{
    return QSize(0, 0);
}

void LazyRows::attach()
{
    for (const QPointer<QWidget>& w : std::as_const(m_watched))
        if (w)
            w->removeEventFilter(this);
    m_watched.clear();
    m_area = nullptr;
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* area = qobject_cast<QAbstractScrollArea*>(w); area && area->viewport()->isAncestorOf(this)) {
            m_area = area;
            break;
        }
    }
    // Scrolling moves the area's content; a row above the list growing moves the list inside
    // it; the viewport growing shows more: each of them changes which rows are in view.
    QWidget* last = m_area ? m_area->viewport() : nullptr;
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        w->installEventFilter(this);
        m_watched.append(w);
        if (w == last)
            break;
    }
}

QRect LazyRows::wanted() const
{
    QRect shown;
    if (m_area) {
        const QWidget* viewport = m_area->viewport();
        shown = QRect(mapFrom(viewport, QPoint(0, 0)), viewport->size());
    } else {
        const QScreen* screen = this->screen();
        shown = QRect(0, 0, width(), screen ? screen->size().height() : 1000);
    }
    // Half a screen on either side is ready before it scrolls in, so Tab can reach the next row.
    const int extra = std::max(shown.height() / 2, 100);
    return shown.adjusted(0, -extra, 0, extra);
}

bool LazyRows::measure(Built& built)
{
    const int w = width();
    QWidgetItem item(built.widget);
    const int h = std::max(item.hasHeightForWidth() ? item.heightForWidth(w) : item.sizeHint().height(),
                           item.minimumSize().height());
    Column& c = column(w);
    const int before = c.heights[size_t(built.index)];
    const bool moved = h != (before == Column::unknown && c.estimating ? c.typical : before);
    setHeight(c, size_t(built.index), h);
    built.measuredWidth = w;
    return moved;
}

void LazyRows::place()
{
    if (m_placing || !isVisible() || width() <= 0)
        return;
    m_placing = true;
    QSet<QWidget*> fresh;
    // The entries in view, first to last: the rows of others go.
    int first = 0;
    int last = -1;
    bool grew = false;
    // A built row may measure other than expected, which moves the rows after it and may bring
    // more into view: place again. Each pass builds rows only where stand-ins were taller.
    for (int pass = 0; pass < 8; ++pass) {
        updateTops();
        const QRect want = wanted();
        first = 0;
        last = -1;
        bool changed = false;
        if (!m_keys.empty() && want.bottom() >= 0 && want.top() < m_tops.back()) {
            first =
                std::max(int(std::upper_bound(m_tops.begin(), m_tops.end() - 1, want.top()) - m_tops.begin()) - 1, 0);
            for (int i = first; i < int(m_keys.size()) && m_tops[size_t(i)] <= want.bottom(); ++i) {
                last = i;
                const QUuid& key = m_keys[size_t(i)];
                auto it = m_built.find(key);
                if (it == m_built.end()) {
                    QWidget* row = m_make(i, this);
                    it = m_built.insert(key, Built{row, i});
                    fresh.insert(row);
                    row->show(); // a layout item of a widget not shown yet measures nothing
                }
                if (it->measuredWidth != width())
                    changed = measure(*it) || changed;
            }
        }
        if (!changed)
            break;
        grew = true;
        m_topsWidth = -1;
    }
    // The rows stand where their measured heights put them, even if the passes ran out.
    updateTops();
    // The window's focus, not the application's: an inactive window keeps it for when it returns.
    const QWidget* focus = window()->focusWidget();
    for (auto it = m_built.begin(); it != m_built.end();) {
        QWidget* row = it->widget;
        const bool holdsFocus = focus && (row == focus || row->isAncestorOf(focus));
        if ((it->index < first || it->index > last) && !holdsFocus) {
            drop(row);
            it = m_built.erase(it);
            continue;
        }
        const size_t i = size_t(it->index);
        row->setGeometry(0, m_tops[i], width(), m_tops[i + 1] - m_tops[i]);
        ++it;
    }
    if (!fresh.isEmpty() || std::exchange(m_reordered, false))
        chainRows(fresh);
    if (grew)
        updateGeometry();
    m_placing = false;
}

void LazyRows::chainRows(const QSet<QWidget*>& fresh)
{
    // A row's own widget need not stay beside its controls in the chain (putting a control in
    // its place moves that control alone), and a new row's controls are at the chain's end: the
    // stops are found by walking the whole chain once, not by walking on from each row.
    QHash<QWidget*, QList<QWidget*>> stops;
    QWidget* firstChained = nullptr;
    QWidget* const start = window();
    for (QWidget* w = start->nextInFocusChain(); w != start; w = w->nextInFocusChain()) {
        if (!takesTabFocus(w) || !isAncestorOf(w))
            continue;
        QWidget* row = w;
        while (row->parentWidget() != this)
            row = row->parentWidget();
        stops[row].append(w);
        if (!firstChained && !fresh.contains(row))
            firstChained = w;
    }
    if (stops.isEmpty())
        return;
    // The rows follow the stop just before the rows already in the chain. A list with none there
    // yet follows the control laid out before it: the list's own place in the chain says nothing,
    // as ordering the stops around it never moves it.
    QWidget* anchor = firstChained ? nullptr : stopBeforeInLayout(this);
    QWidget* const from = firstChained ? firstChained : this;
    for (QWidget* w = from->previousInFocusChain(); !anchor && w != from; w = w->previousInFocusChain()) {
        if (!isAncestorOf(w) && takesTabFocus(w))
            anchor = w;
    }
    if (!anchor)
        return;
    for (QWidget* row : builtRows()) {
        for (QWidget* stop : stops.value(row)) {
            QWidget::setTabOrder(anchor, stop);
            anchor = stop;
        }
    }
}

void LazyRows::drop(QWidget* row)
{
    // Later: the row may be in the middle of handling the event that scrolled it away.
    row->hide();
    row->deleteLater();
}

bool LazyRows::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::LayoutRequest: {
        // A built row asks for another size (its text changed, say): measure them again.
        bool changed = false;
        if (width() > 0)
            for (Built& b : m_built)
                changed = measure(b) || changed;
        if (changed) {
            invalidate();
            place();
        }
        break;
    }
    case QEvent::ParentChange:
        if (isVisible())
            attach();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool LazyRows::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}

void LazyRows::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    place();
}

void LazyRows::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Keys set while hidden did not reach the layout above (a hidden widget's geometry does not
    // count), and it may still hold the old height.
    updateGeometry();
    attach();
    place();
}
