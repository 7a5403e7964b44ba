#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <QWidget>
#include <functional>
#include <vector>

class QAbstractScrollArea;

// A column of rows, one per key, of which only those near the part the enclosing scroll area
// shows exist as widgets: a list of twenty thousand entries builds a screenful, not twenty
// thousand rows. The rows that are built are the owner's widgets, kept while their key stays in
// view (and while they hold the keyboard focus), so hover and focus survive a new list.
// Entries without a row take the height the owner expects; a built row is measured. Heights are
// kept by index, one column per width asked for, so a pass over the list adds integers.
class LazyRows : public QWidget {
    Q_OBJECT
public:
    // Builds the row of entry `index` as a child of `parent`.
    using MakeRow = std::function<QWidget*(int index, QWidget* parent)>;
    // The height the row of entry `index` will take at `width`, without building it.
    using ExpectedHeight = std::function<int(int index, int width)>;
    // The height most rows take at `width`: the stand-in for every entry not worked out yet.
    using TypicalHeight = std::function<int(int width)>;

    LazyRows(MakeRow make, ExpectedHeight expected, QWidget* parent = nullptr);

    // Lets a long list's first layout take every entry at the typical height: their exact heights
    // are worked out over the next turns of the event loop, a slice at a time, after which the
    // list takes its exact height at once.
    void setEstimate(TypicalHeight typical) { m_typical = std::move(typical); }
    // Whether some heights are still stand-ins.
    bool estimating() const;
    // At most this many entries are worked out in one turn, however cheap each is.
    static constexpr int entriesPerTurn = 512;

    // The entries, in order. Rows of keys that stay are kept where they are built.
    void setKeys(std::vector<QUuid> keys);
    const std::vector<QUuid>& keys() const { return m_keys; }
    // The entry shows something new: ask for its height again.
    void forget(const QUuid& key);
    // The entry's place in the list, or -1.
    int indexOf(const QUuid& key) const;
    // The built row of `key`, or null.
    QWidget* row(const QUuid& key) const;
    // The built rows, in list order.
    QList<QWidget*> builtRows() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The heights of every entry at one width, by index.
    struct Column {
        static constexpr int unknown = -1;
        int width = -1;
        std::vector<int> heights;
        qint64 knownSum = 0;
        int unknownCount = 0;
        // While set, entries not worked out take `typical`; `next` is where the work goes on.
        bool estimating = false;
        int typical = 0;
        size_t next = 0;
        qint64 total() const { return knownSum + qint64(unknownCount) * (estimating ? typical : 0); }
    };
    struct Built {
        QWidget* widget = nullptr;
        int index = -1;
        int measuredWidth = -1;
    };
    Column& column(int width) const;
    void setHeight(Column& c, size_t index, int height) const;
    void workOutUnknown(Column& c) const;
    int heightAt(const Column& c, size_t index) const;
    void refineGuesses();
    int totalHeight(int width) const;
    void updateTops() const;
    void invalidate();
    void attach();
    QRect wanted() const;
    void place();
    bool measure(Built& built);
    // Lays the built rows' tab stops in list order; `fresh` are the rows built since the last time.
    void chainRows(const QSet<QWidget*>& fresh);
    void drop(QWidget* row);
    void dropHeights(size_t index);
    // Takes `keys` when they are the list's with one entry added or removed; false otherwise.
    bool changeOne(std::vector<QUuid>& keys);

    MakeRow m_make;
    ExpectedHeight m_expected;
    TypicalHeight m_typical;
    mutable bool m_refineQueued = false;
    // Whether a worked-out height differed from its stand-in, so the list must take its length.
    bool m_refinedChanged = false;
    std::vector<QUuid> m_keys;
    // Built when asked for: a long list's first screen needs no index by key.
    mutable QHash<QUuid, int> m_index;
    mutable bool m_indexValid = true;
    // Keys looked up since the index last went stale.
    mutable int m_unindexedLookups = 0;
    QHash<QUuid, Built> m_built;
    // A page's layouts ask at several widths in turn (with and without its scroll bar, at its
    // narrowest): each is worked out once. Most recently asked first.
    static constexpr size_t rememberedWidths = 4;
    mutable std::vector<Column> m_columns;
    // Tops of the rows at the width the list has, as placed last.
    mutable std::vector<int> m_tops;
    mutable int m_topsWidth = -1;
    QPointer<QAbstractScrollArea> m_area;
    QList<QPointer<QWidget>> m_watched;
    bool m_placing = false;
    // Whether rows kept across a new order stand in another order.
    bool m_reordered = false;
};
