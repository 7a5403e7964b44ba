#include "screens/notes/NoteListModel.h"

#include "screens/notes/NoteDates.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

NoteListModel::NoteListModel(const Clock& clock, std::function<Calendar()> calendar, QObject* parent)
    : QAbstractListModel(parent), m_clock(clock), m_calendar(std::move(calendar))
{
}

void NoteListModel::setNotes(std::vector<Note> notes)
{
    const bool sameRows =
        notes.size() == m_notes.size() && std::equal(notes.begin(), notes.end(), m_notes.begin(),
                                                     [](const Note& a, const Note& b) { return a.id == b.id; });
    if (!sameRows) {
        beginResetModel();
        m_notes = std::move(notes);
        endResetModel();
        return;
    }
    m_notes = std::move(notes);
    if (!m_notes.empty())
        emit dataChanged(index(0), index(rowCount() - 1));
}

void NoteListModel::setSelectedID(const std::optional<QUuid>& id)
{
    if (m_selectedID == id)
        return;
    const std::optional<QUuid> before = m_selectedID;
    m_selectedID = id;
    for (const auto& changed : {before, id})
        if (changed)
            if (const auto row = rowOf(*changed))
                emit dataChanged(index(*row), index(*row), {SelectedRole});
}

std::optional<int> NoteListModel::rowOf(const QUuid& id) const
{
    for (size_t i = 0; i < m_notes.size(); ++i)
        if (m_notes[i].id == id)
            return static_cast<int>(i);
    return std::nullopt;
}

int NoteListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_notes.size());
}

QVariant NoteListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Note& n = note(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
    case TitleRole:
        return n.trimmedTitle();
    case DateRole:
        return NoteDates::label(n.updatedAt, m_clock.now(), m_calendar());
    case PreviewRole:
        return n.previewText();
    case SelectedRole:
        return m_selectedID == n.id;
    case IdRole:
        return n.id;
    default:
        return {};
    }
}

NoteRowDelegate::NoteRowDelegate(QObject* parent)
    : QStyledItemDelegate(parent), m_titleFont(Theme::font(17, QFont::DemiBold, Theme::Design::serif)),
      m_dateFont(Theme::font(11.5)), m_previewFont(Theme::font(13))
{
}

namespace {

constexpr qreal padH = 16;
constexpr qreal padV = 13;
constexpr qreal rowSpacing = 5;
constexpr qreal titleDateSpacing = 10 + 6 + 10; // stack spacing, the spacer's minimum, stack spacing

// At most `maxLines` lines of `text` wrapped to `width`; the last one elided when text remains.
QStringList wrapped(const QString& text, const QFont& font, qreal width, int maxLines)
{
    QStringList lines;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (maxLines > 0 && lines.size() == maxLines - 1) {
            const QString rest = text.mid(line.textStart());
            const QString elided = QFontMetricsF(font).elidedText(rest, Qt::ElideRight, width);
            lines.append(elided);
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

} // namespace

NoteRowDelegate::Layout NoteRowDelegate::layout(const QRectF& rect, const QModelIndex& index) const
{
    Layout l;
    l.card = QRectF(rect.left(), rect.top(), rect.width(), rect.height() - gap);
    const qreal contentWidth = qMax<qreal>(1, rect.width() - 2 * padH);
    const QString date = index.data(NoteListModel::DateRole).toString();
    const QFontMetricsF dateMetrics(m_dateFont);
    const qreal dateWidth = dateMetrics.horizontalAdvance(date);
    const qreal titleWidth = qMax<qreal>(1, contentWidth - dateWidth - titleDateSpacing);
    const QFontMetricsF titleMetrics(m_titleFont);
    // Words wrap onto further lines; only a word wider than the line is broken.
    l.titleLines = wrapped(index.data(NoteListModel::TitleRole).toString(), m_titleFont, titleWidth, 0);
    const qreal top = rect.top() + padV;
    const qreal left = rect.left() + padH;
    l.title = QRectF(left, top, titleWidth, qMax<qsizetype>(1, l.titleLines.size()) * titleMetrics.lineSpacing());
    // The date sits on the title's first baseline.
    const qreal baseline = top + titleMetrics.ascent();
    l.date = QRectF(left + contentWidth - dateWidth, baseline - dateMetrics.ascent(), dateWidth, dateMetrics.height());
    l.previewLines = wrapped(index.data(NoteListModel::PreviewRole).toString(), m_previewFont, contentWidth, 2);
    l.preview = QRectF(left, l.title.bottom() + rowSpacing, contentWidth,
                       l.previewLines.size() * QFontMetricsF(m_previewFont).lineSpacing());
    return l;
}

QSize NoteRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const qreal width = option.rect.width() > 0 ? option.rect.width() : 300;
    const Layout l = layout(QRectF(0, 0, width, 0), index);
    return QSize(qRound(width), qCeil(l.preview.bottom() + padV + gap));
}

void NoteRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const Layout l = layout(option.rect, index);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (index.data(NoteListModel::SelectedRole).toBool()) {
        QPainterPath card;
        card.addRoundedRect(l.card.adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
        painter->fillPath(card, FocusColor::white());
        painter->setPen(QPen(FocusColor::hairline(), 1));
        painter->drawPath(card);
    }
    painter->setPen(FocusColor::text());
    painter->setFont(m_titleFont);
    const qreal titleLine = QFontMetricsF(m_titleFont).lineSpacing();
    for (int i = 0; i < l.titleLines.size(); ++i)
        painter->drawText(QRectF(l.title.left(), l.title.top() + i * titleLine, l.title.width(), titleLine),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, l.titleLines[i]);
    painter->setPen(FocusColor::textSecondary());
    painter->setFont(m_dateFont);
    painter->drawText(l.date, Qt::AlignLeft | Qt::AlignTop, index.data(NoteListModel::DateRole).toString());
    painter->setFont(m_previewFont);
    const qreal lineHeight = QFontMetricsF(m_previewFont).lineSpacing();
    for (int i = 0; i < l.previewLines.size(); ++i)
        painter->drawText(QRectF(l.preview.left(), l.preview.top() + i * lineHeight, l.preview.width(), lineHeight),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, l.previewLines[i]);
    if (option.state & QStyle::State_HasFocus && option.state & QStyle::State_KeyboardFocusChange) {
        painter->setPen(QPen(FocusColor::border(), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(l.card.adjusted(1.5, 1.5, -1.5, -1.5), 13, 13);
    }
    painter->restore();
}
