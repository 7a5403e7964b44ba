#include "screens/notes/NoteEditorPane.h"

#include "ui/Accessibility.h"

#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

void setTextColors(QWidget* field, const QColor& text)
{
    QPalette p = field->palette();
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::PlaceholderText, FocusColor::textSecondary());
    p.setColor(QPalette::Base, Qt::transparent);
    field->setPalette(p);
}

} // namespace

NoteEditorPane::NoteEditorPane(std::optional<Note> note, const Clock& clock, QUuid session,
                               NoteEditorState::SaveCallback onSave, NoteEditorState::Callback onDelete,
                               NoteEditorState::Callback onEmptied, QWidget* parent)
    : QWidget(parent), m_session(session),
      m_state(std::move(note), clock, std::move(onSave), std::move(onDelete), std::move(onEmptied))
{
    setObjectName(QStringLiteral("noteEditor"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(64, 28, 56, 24);
    column->setSpacing(14);

    auto* toolRow = new QHBoxLayout;
    toolRow->setContentsMargins(0, 0, 0, 0);
    toolRow->addStretch();
    auto* trash = new QToolButton(this);
    trash->setObjectName(QStringLiteral("deleteNote"));
    trash->setAutoRaise(true);
    trash->setIcon(Symbols::icon(Symbol::trash, FocusColor::textSecondary(), 14));
    trash->setIconSize(QSize(qRound(Symbols::boxSize(14)), qRound(Symbols::boxSize(14))));
    trash->setFixedSize(32, 32);
    Accessibility::nameIconButton(trash, QStringLiteral("Delete note"));
    trash->setCursor(Qt::PointingHandCursor);
    m_delete = trash;
    toolRow->addWidget(trash);
    auto* toolBox = new QWidget(this);
    toolBox->setFixedHeight(32);
    toolBox->setLayout(toolRow);
    column->addWidget(toolBox);

    m_title = new QLineEdit(this);
    m_title->setObjectName(QStringLiteral("noteTitle"));
    m_title->setFrame(false);
    m_title->setPlaceholderText(QStringLiteral("Title"));
    m_title->setAccessibleName(QStringLiteral("Title"));
    m_title->setFont(Theme::font(36, QFont::DemiBold, Theme::Design::serif));
    setTextColors(m_title, FocusColor::text());
    m_title->setTextMargins(2, 0, 2, 0);
    m_title->setText(m_state.title());
    m_title->setCursorPosition(0);
    column->addWidget(m_title);

    m_body = new QTextEdit(this);
    m_body->setObjectName(QStringLiteral("noteBody"));
    m_body->setAcceptRichText(false);
    m_body->setTabChangesFocus(true); // Tab moves on, as in every other field
    m_body->setFrameShape(QFrame::NoFrame);
    m_body->setPlaceholderText(QStringLiteral("Start writing…"));
    m_body->setAccessibleName(QStringLiteral("Note"));
    m_body->setFont(Theme::font(15.5));
    m_body->viewport()->setAutoFillBackground(false);
    m_body->setAutoFillBackground(false);
    // Room between the text and the focus ring drawn around the field; the title is set in by as
    // much (its own margin and two points more), so the two stay in line.
    m_body->document()->setDocumentMargin(4);
    setTextColors(m_body, FocusColor::text());
    m_body->setPlainText(m_state.bodyText());
    applyBodyFormat();
    column->addWidget(m_body, 1);

    // The form holds its initial texts before anything listens to it.
    m_delete->setVisible(m_state.savedNote().has_value());
    connect(&m_state, &NoteEditorState::savedNoteChanged, this,
            [this] { m_delete->setVisible(m_state.savedNote().has_value()); });
    connect(m_delete, &QAbstractButton::clicked, this, [this] { m_state.requestDelete(); });
    // Any change, not only typing: a paste through the menu or a text set by assistive technology
    // must reach the note as well. Our own settings block the signal.
    connect(m_title, &QLineEdit::textChanged, this, &NoteEditorPane::titleEdited);
    connect(m_title, &QLineEdit::returnPressed, this, [this] { m_body->setFocus(Qt::OtherFocusReason); });
    connect(m_body, &QTextEdit::textChanged, this, &NoteEditorPane::bodyEdited);
}

void NoteEditorPane::focusFirstField()
{
    if (m_state.startedAsNewNote())
        m_title->setFocus(Qt::OtherFocusReason);
}

void NoteEditorPane::titleEdited(const QString& text)
{
    const QString kept = m_state.titleChanged(text);
    if (kept != text) {
        const QSignalBlocker blocker(m_title);
        m_title->setText(kept);
    }
}

void NoteEditorPane::bodyEdited()
{
    const QString text = m_body->toPlainText();
    if (text == m_state.bodyText())
        return; // a change of format only
    const QString kept = m_state.bodyChanged(text);
    if (kept != text) {
        const QSignalBlocker blocker(m_body);
        m_body->setPlainText(kept);
        applyBodyFormat();
        m_body->moveCursor(QTextCursor::End);
    }
}

// Six points between lines; blocks made later by typing or pasting take the format of the block
// they split, so it is set once on the whole text.
void NoteEditorPane::applyBodyFormat()
{
    const QSignalBlocker blocker(m_body);
    QTextCursor cursor(m_body->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setLineHeight(6, QTextBlockFormat::LineDistanceHeight);
    cursor.mergeBlockFormat(format);
    m_body->document()->clearUndoRedoStacks();
}
