#include "screens/todos/ConfirmDialog.h"

#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ConfirmDialog::ConfirmDialog(const QString& title, const QString& message, std::vector<Choice> choices, QWidget* parent)
    : QDialog(parent), m_title(title), m_message(message), m_choices(std::move(choices))
{
    setObjectName(QStringLiteral("confirmDialog"));
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    QPalette page = palette();
    page.setColor(QPalette::Window, FocusColor::paper());
    setPalette(page);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(10);
    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("confirmTitle"));
    heading->setTextFormat(Qt::PlainText);
    heading->setFont(Theme::font(15, QFont::DemiBold));
    heading->setWordWrap(true);
    layout->addWidget(heading);
    if (!message.isEmpty()) {
        auto* text = new QLabel(message, this);
        text->setObjectName(QStringLiteral("confirmMessage"));
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        text->setFont(Theme::font(13));
        layout->addWidget(text);
    }
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    for (size_t i = 0; i < m_choices.size(); ++i) {
        const Choice& choice = m_choices[i];
        auto* button = new QPushButton(choice.text, this);
        button->setAutoDefault(false);
        button->setMinimumHeight(30);
        button->setFont(Theme::font(13, choice.role == Role::cancel ? QFont::Normal : QFont::DemiBold));
        if (choice.role == Role::destructive) {
            QPalette p = button->palette();
            p.setColor(QPalette::ButtonText, FocusColor::alert());
            button->setPalette(p);
        }
        connect(button, &QPushButton::clicked, this, [this, i] { finish(i); });
        m_buttons.push_back(button);
        row->addWidget(button);
    }
    layout->addLayout(row);
    setMinimumWidth(360);
}

bool ConfirmDialog::choose(const QString& text)
{
    for (size_t i = 0; i < m_choices.size(); ++i) {
        if (m_choices[i].text == text) {
            finish(i);
            return true;
        }
    }
    return false;
}

QStringList ConfirmDialog::buttonTexts() const
{
    QStringList texts;
    for (const Choice& c : m_choices)
        texts.append(c.text);
    return texts;
}

void ConfirmDialog::reject()
{
    // Escape and the title bar's close answer like the cancel button.
    for (size_t i = 0; i < m_choices.size(); ++i) {
        if (m_choices[i].role == Role::cancel) {
            finish(i);
            return;
        }
    }
    QDialog::reject();
}

void ConfirmDialog::finish(size_t index)
{
    if (m_done)
        return;
    m_done = true;
    const std::function<void()> action = m_choices[index].action;
    const bool cancelled = m_choices[index].role == Role::cancel;
    done(cancelled ? QDialog::Rejected : QDialog::Accepted);
    if (action)
        action();
}
