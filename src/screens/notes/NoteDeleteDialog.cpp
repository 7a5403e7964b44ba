#include "screens/notes/NoteDeleteDialog.h"

#include "screens/notes/NotesPageState.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

NoteDeleteDialog::NoteDeleteDialog(const QString& message, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("deleteNoteDialog"));
    setWindowTitle(NotesPageState::deleteTitle());
    setWindowModality(Qt::WindowModal);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 22, 24, 20);
    column->setSpacing(10);

    auto* title = new QLabel(NotesPageState::deleteTitle(), this);
    title->setFont(Theme::font(15, QFont::DemiBold));
    column->addWidget(title);
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("deleteNoteMessage"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setText(message);
    text->setFont(Theme::font(13));
    QPalette p = text->palette();
    p.setColor(QPalette::WindowText, FocusColor::textSecondary());
    text->setPalette(p);
    text->setMinimumWidth(300);
    column->addWidget(text);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelDelete"));
    m_delete = new QPushButton(QStringLiteral("Delete"), this);
    m_delete->setObjectName(QStringLiteral("confirmDelete"));
    QPalette danger = m_delete->palette();
    danger.setColor(QPalette::ButtonText, FocusColor::alert());
    m_delete->setPalette(danger);
    m_cancel->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_delete);
    column->addSpacing(6);
    column->addLayout(buttons);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_delete, &QPushButton::clicked, this, &QDialog::accept);
}
