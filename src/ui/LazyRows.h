#pragma once

#include <QHash>
#include <QPointer>
#include <QUuid>
#include <QWidget>
#include <array>
#include <functional>
#include <vector>

class QAbstractScrollArea;

// A column of rows, one per key, of which only those near the part the enclosing scroll area
// shows exist as widgets: a list of twenty thousand entries builds a screenful, not twenty
// thousand rows. The rows that are built are the owner's widgets, kept while their key stays in
// view (and while they hold the keyboard focus), so hover and focus survive a new list.
// Entries without a row take the height the owner expects; a built row is measured.
class LazyRows : public QWidget {
    Q_OBJECT
public:
    // Builds the row of entry `index` as a child of `parent`.
    using MakeRow = std::function<QWidget*(int index, QWidget* parent)>;
    // The height the row of entry `index` will take at `width`, without building it. Called for
    // every entry after a change, so it must be cheap.
    using ExpectedHeight = std::function<int(int index, int width)>;

    LazyRows(MakeRow make, ExpectedHeight expected, QWidget* parent = nullptr);

    // A cheaper guess than `expected` for a long list's first layout: entries that no layout
    // has asked about take the guess, and their exact heights are worked out over the next turns
    // of the event loop, a slice at a time, after which the list takes its exact height.
    void setEstimate(ExpectedHeight estimate) { m_estimate = std::move(estimate); }
    // Whether some heights are still guesses.
    bool estimating() const { return !m_guessed.empty(); }

    // The entries, in order. Rows of keys that stay are kept where they are built.
    void setKeys(std::vector<QUuid> keys);
    const std::vector<QUuid>& keys() const { return m_keys; }
    // The entry shows something new: ask for its height again.
    void forget(const QUuid& key);
    // The entry's place in the list, or -1.
    int indexOf(const QUuid& key) const { return m_index.value(key, -1); }
    // The built row of `key`, or null.
    QWidget* row(const QUuid& key) const { return m_built.value(key); }
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
    struct Measured {
        int width = -1;
        int height = 0;
        bool guessed = false;
    };
    int heightAt(int index, int width) const;
    void allowGuesses(int width) const;
    void refineGuesses();
    int totalHeight(int width) const;
    void updateTops() const;
    void invalidate();
    void attach();
    QRect wanted() const;
    void place();
    bool measure(QWidget* row, const QUuid& key);
    void insertIntoFocusChain(QWidget* row, int index) const;
    void drop(QWidget* row);

    MakeRow m_make;
    ExpectedHeight m_expected;
    ExpectedHeight m_estimate;
    // While a pass over the whole list may guess; the entries and widths guessed, oldest first.
    mutable bool m_guessing = false;
    mutable std::vector<std::pair<QUuid, int>> m_guessed;
    mutable bool m_refineQueued = false;
    bool m_refinedChanged = false;
    std::vector<QUuid> m_keys;
    QHash<QUuid, int> m_index;
    QHash<QUuid, QWidget*> m_built;
    QHash<QUuid, Measured> m_measured;
    // A page's layouts ask at several widths in turn (with and without its scroll bar, at its
    // narrowest): each is worked out once.
    static constexpr size_t rememberedWidths = 4;
    // What the owner expects at the widths asked for last.
    mutable QHash<QUuid, std::array<Measured, rememberedWidths>> m_expectedHeights;
    // Heights at the widths the layouts asked for lately; tops of the rows at the width the list has.
    mutable std::array<std::pair<int, int>, rememberedWidths> m_totals;
    mutable std::vector<int> m_tops;
    mutable int m_topsWidth = -1;
    QPointer<QAbstractScrollArea> m_area;
    QList<QPointer<QWidget>> m_watched;
    bool m_placing = false;
};
