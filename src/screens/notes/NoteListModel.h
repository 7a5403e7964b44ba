#pragma once

#include "model/Calendar.h"
#include "model/Note.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <QUuid>
#include <functional>
#include <optional>
#include <vector>

// The notes of the list column, newest first, as rows of a list view.
class NoteListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { TitleRole = Qt::UserRole + 1, DateRole, PreviewRole, SelectedRole, IdRole };

    NoteListModel(const Clock& clock, std::function<Calendar()> calendar, QObject* parent = nullptr);

    // Replaces the rows; the same ids in the same order only repaint.
    void setNotes(std::vector<Note> notes);
    void setSelectedID(const std::optional<QUuid>& id);
    const Note& note(int row) const { return m_notes.at(static_cast<size_t>(row)); }
    std::optional<int> rowOf(const QUuid& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    const Clock& m_clock;
    std::function<Calendar()> m_calendar;
    std::vector<Note> m_notes;
    std::optional<QUuid> m_selectedID;
};

// Draws one row: the title (wrapping), its date on the first line, a preview of at most two
// lines, on a white card with a hairline when selected. Rows vary in height with their titles.
class NoteRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit NoteRowDelegate(QObject* parent = nullptr);

    static constexpr int gap = 4; // between rows

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    struct Layout {
        QRectF card;
        QRectF title;
        QRectF date;
        QRectF preview;
        QStringList titleLines;
        QStringList previewLines;
    };
    Layout layout(const QRectF& rect, const QModelIndex& index) const;

    QFont m_titleFont;
    QFont m_dateFont;
    QFont m_previewFont;
};
