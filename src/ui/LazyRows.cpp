#include "ui/LazyRows.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QScopeGuard>
#include <QScreen>
#include <QSet>
#include <QWidgetItem>
#include <algorithm>

namespace {

bool takesTabFocus(const QWidget* w)
{
    return (w->focusPolicy() & Qt::TabFocus) != 0;
}

// The widgets of `row` that Tab reaches, in focus-chain order.
QList<QWidget*> tabStops(QWidget* row)
{
    QList<QWidget*> stops;
    if (takesTabFocus(row))
        stops.append(row);
    for (QWidget* w = row->nextInFocusChain(); w != row && row->isAncestorOf(w); w = w->nextInFocusChain())
        if (takesTabFocus(w))
            stops.append(w);
    return stops;
}

} // namespace

LazyRows::LazyRows(MakeRow make, ExpectedHeight expected, QWidget* parent)
    : QWidget(parent), m_make(std::move(make)), m_expected(std::move(expected))
{
    m_totals.fill({-1, 0});
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void LazyRows::setKeys(std::vector<QUuid> keys)
{
    m_keys = std::move(keys);
    m_index.clear();
    m_index.reserve(qsizetype(m_keys.size()));
    for (int i = 0; i < int(m_keys.size()); ++i)
        m_index.insert(m_keys[size_t(i)], i);
    for (auto it = m_built.begin(); it != m_built.end();) {
        if (!m_index.contains(it.key())) {
            m_measured.remove(it.key());
            drop(it.value());
            it = m_built.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_expectedHeights.begin(); it != m_expectedHeights.end();)
        it = m_index.contains(it.key()) ? std::next(it) : m_expectedHeights.erase(it);
    invalidate();
    place();
}

void LazyRows::forget(const QUuid& key)
{
    const bool measured = m_measured.remove(key);
    if (m_expectedHeights.remove(key) || measured)
        invalidate();
}

QList<QWidget*> LazyRows::builtRows() const
{
    QList<QPair<int, QWidget*>> rows;
    for (auto it = m_built.cbegin(); it != m_built.cend(); ++it)
        rows.append({m_index.value(it.key()), it.value()});
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<QWidget*> result;
    for (const auto& r : rows)
        result.append(r.second);
    return result;
}

int LazyRows::heightAt(int index, int width) const
{
    const QUuid& key = m_keys[size_t(index)];
    const auto it = m_measured.constFind(key);
    if (it != m_measured.cend() && it->width == width)
        return it->height;
    auto& known = m_expectedHeights[key];
    for (const Measured& k : known)
        if (k.width == width)
            return k.height;
    std::copy_backward(known.begin(), known.end() - 1, known.end());
    if (m_guessing) {
        known[0] = {width, m_estimate(index, width), true};
        m_guessed.emplace_back(key, width);
        if (!m_refineQueued) {
            m_refineQueued = true;
            QMetaObject::invokeMethod(const_cast<LazyRows*>(this), &LazyRows::refineGuesses, Qt::QueuedConnection);
        }
    } else {
        known[0] = {width, m_expected(index, width)};
    }
    return known[0].height;
}

void LazyRows::allowGuesses(int width) const
{
    // A few new entries are worked out at once: guessing them would only move the list twice.
    constexpr int fewEntries = 256;
    m_guessing = false;
    if (!m_estimate || int(m_keys.size()) <= fewEntries)
        return;
    int unknown = 0;
    for (const QUuid& key : m_keys) {
        const auto it = m_expectedHeights.constFind(key);
        const bool known = it != m_expectedHeights.cend() &&
                           std::any_of(it->begin(), it->end(), [&](const Measured& k) { return k.width == width; });
        if (!known && ++unknown > fewEntries) {
            m_guessing = true;
            return;
        }
    }
}

void LazyRows::refineGuesses()
{
    m_refineQueued = false;
    // A slice per turn keeps the window answering input and paints between slices.
    constexpr qint64 sliceNs = 4'000'000;
    QElapsedTimer slice;
    slice.start();
    bool changed = false;
    size_t done = 0;
    for (; done < m_guessed.size() && (done % 64 != 0 || slice.nsecsElapsed() < sliceNs); ++done) {
        const auto& [key, width] = m_guessed[done];
        const int index = m_index.value(key, -1);
        const auto it = m_expectedHeights.find(key);
        if (index < 0 || it == m_expectedHeights.end())
            continue;
        for (Measured& k : *it) {
            if (k.width == width && k.guessed) {
                const int exact = m_expected(index, width);
                changed = changed || exact != k.height;
                k = {width, exact, false};
            }
        }
    }
    m_guessed.erase(m_guessed.begin(), m_guessed.begin() + qsizetype(done));
    if (changed)
        m_refinedChanged = true;
    if (!m_guessed.empty()) {
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
    for (const auto& [w, h] : m_totals)
        if (w == width)
            return h;
    allowGuesses(width);
    const auto stopGuessing = qScopeGuard([this] { m_guessing = false; });
    int total = 0;
    for (int i = 0; i < int(m_keys.size()); ++i)
        total += heightAt(i, width);
    std::copy_backward(m_totals.begin(), m_totals.end() - 1, m_totals.end());
    m_totals[0] = {width, total};
    return total;
}

void LazyRows::updateTops() const
{
    if (m_topsWidth == width() && m_tops.size() == m_keys.size() + 1)
        return;
    allowGuesses(width());
    const auto stopGuessing = qScopeGuard([this] { m_guessing = false; });
    m_tops.resize(m_keys.size() + 1);
    int y = 0;
    for (size_t i = 0; i < m_keys.size(); ++i) {
        m_tops[i] = y;
        y += heightAt(int(i), width());
    }
    m_tops.back() = y;
    m_topsWidth = width();
}

void LazyRows::invalidate()
{
    m_totals.fill({-1, 0});
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
    const int measureAt = width() > 0 ? width() : std::max(m_totals[0].first, 0);
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

bool LazyRows::measure(QWidget* row, const QUuid& key)
{
    const int w = width();
    QWidgetItem item(row);
    const int h = std::max(item.hasHeightForWidth() ? item.heightForWidth(w) : item.sizeHint().height(),
                           item.minimumSize().height());
    const int before = heightAt(m_index.value(key), w);
    m_measured.insert(key, {w, h});
    return h != before;
}

void LazyRows::place()
{
    if (m_placing || !isVisible() || width() <= 0)
        return;
    m_placing = true;
    QSet<QUuid> inView;
    bool grew = false;
    // A built row may measure other than expected, which moves the rows after it: place again.
    for (int pass = 0; pass < 3; ++pass) {
        updateTops();
        const QRect want = wanted();
        inView.clear();
        bool changed = false;
        if (!m_keys.empty() && want.bottom() >= 0 && want.top() < m_tops.back()) {
            const int first = int(std::upper_bound(m_tops.begin(), m_tops.end() - 1, want.top()) - m_tops.begin()) - 1;
            for (int i = std::max(first, 0); i < int(m_keys.size()) && m_tops[size_t(i)] <= want.bottom(); ++i) {
                const QUuid& key = m_keys[size_t(i)];
                inView.insert(key);
                QWidget* row = m_built.value(key);
                if (!row) {
                    row = m_make(i, this);
                    m_built.insert(key, row);
                    insertIntoFocusChain(row, i);
                    row->show(); // a layout item of a widget not shown yet measures nothing
                    changed = measure(row, key) || changed;
                } else if (m_measured.value(key).width != width()) {
                    changed = measure(row, key) || changed;
                }
            }
        }
        if (!changed)
            break;
        grew = true;
        m_topsWidth = -1;
        m_totals.fill({-1, 0});
    }
    // The window's focus, not the application's: an inactive window keeps it for when it returns.
    const QWidget* focus = window()->focusWidget();
    for (auto it = m_built.begin(); it != m_built.end();) {
        QWidget* row = it.value();
        const bool holdsFocus = focus && (row == focus || row->isAncestorOf(focus));
        if (!inView.contains(it.key()) && !holdsFocus) {
            m_measured.remove(it.key());
            drop(row);
            it = m_built.erase(it);
            continue;
        }
        const int i = m_index.value(it.key());
        row->setGeometry(0, m_tops[size_t(i)], width(), m_tops[size_t(i) + 1] - m_tops[size_t(i)]);
        ++it;
    }
    if (grew)
        updateGeometry();
    m_placing = false;
}

void LazyRows::insertIntoFocusChain(QWidget* row, int index) const
{
    const QList<QWidget*> stops = tabStops(row);
    if (stops.isEmpty())
        return;
    // After the last stop of the nearest built row above, else after the last stop before the list.
    QWidget* anchor = nullptr;
    int nearest = -1;
    for (auto it = m_built.cbegin(); it != m_built.cend(); ++it) {
        const int i = m_index.value(it.key());
        if (it.value() != row && i < index && i > nearest) {
            const QList<QWidget*> above = tabStops(it.value());
            if (!above.isEmpty()) {
                nearest = i;
                anchor = above.last();
            }
        }
    }
    if (!anchor) {
        for (QWidget* w = previousInFocusChain(); w != this; w = w->previousInFocusChain()) {
            if (!isAncestorOf(w) && takesTabFocus(w)) {
                anchor = w;
                break;
            }
        }
    }
    if (!anchor)
        return;
    for (QWidget* stop : stops) {
        QWidget::setTabOrder(anchor, stop);
        anchor = stop;
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
            for (auto it = m_built.cbegin(); it != m_built.cend(); ++it)
                changed = measure(it.value(), it.key()) || changed;
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
