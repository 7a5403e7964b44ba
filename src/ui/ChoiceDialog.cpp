#include "ui/ChoiceDialog.h"
#include "ui/WindowFit.h"

#include "ui/Accessibility.h"
#include "ui/FocusButton.h"
#include "ui/FocusRing.h"
#include "ui/Palette.h"
#include "ui/Sheet.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QLabel* wrapped(const QString& text, const QString& name, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font);
    return label;
}

// The answer Return gives: the one marked, else the safe one (the cancel) of a question, else an
// alert's first, filled button.
int defaultAnswer(const std::vector<ChoiceDialog::Choice>& choices, ChoiceDialog::Look look)
{
    for (size_t i = 0; i < choices.size(); ++i)
        if (choices[i].isDefault)
            return int(i);
    if (look == ChoiceDialog::Look::question) {
        for (size_t i = 0; i < choices.size(); ++i)
            if (choices[i].role == ChoiceDialog::Role::cancel)
                return int(i);
        return -1;
    }
    return choices.empty() ? -1 : 0;
}

QAbstractButton* questionButton(const ChoiceDialog::Choice& choice, bool isDefault, QWidget* parent)
{
    auto* button = new QPushButton(choice.text, parent);
    button->setAutoDefault(false);
    button->setMinimumHeight(30);
    button->setFont(Theme::font(13, choice.role == ChoiceDialog::Role::cancel ? QFont::Normal : QFont::DemiBold));
    // The design's outlined button rather than the platform's bevel; the focus ring shows focus.
    using namespace FocusColor;
    const QColor text = choice.role == ChoiceDialog::Role::destructive ? alert() : FocusColor::text();
    button->setAttribute(Qt::WA_Hover);
    // The answer Return gives is outlined in ink, a point heavier, so it shows before any key.
    const int edge = isDefault ? 2 : 1;
    button->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: %8px solid %3;"
                                         " border-radius: 10px; padding: %9px %10px; }"
                                         "QPushButton:hover { border-color: %4; }"
                                         "QPushButton:pressed { background: %5; }"
                                         "QPushButton:disabled { color: %6; border-color: %7; }")
                              .arg(white().name(), text.name(), (isDefault ? ink() : border()).name(), ink().name(),
                                   wash().name(), disabledOutlineText().name(), disabledOutlineBorder().name())
                              .arg(edge)
                              .arg(6 - edge)
                              .arg(15 - edge));
    FocusRing::setRadius(button, 10);
    return button;
}

} // namespace

ChoiceDialog::ChoiceDialog(const QString& title, const QString& message, std::vector<Choice> choices, QWidget* parent,
                           Look look)
    : QDialog(parent), m_title(title), m_message(message), m_choices(std::move(choices))
{
    const bool alert = look == Look::alert;
    setObjectName(alert ? QStringLiteral("alert") : QStringLiteral("choiceDialog"));
    setWindowTitle(WindowFit::programTitle(alert ? QString() : title));
    Accessibility::setRole(this, alert ? QAccessible::AlertMessage : QAccessible::Dialog);
    setAccessibleName(title);
    setAccessibleDescription(message);
    m_default = defaultAnswer(m_choices, look);
    // A question stands over the window it asks about; an alert is the application's own.
    if (!alert && parent)
        Sheet::attach(this, parent);
    else if (!alert)
        setWindowModality(Qt::WindowModal);
    Theme::fillBackground(this, FocusColor::paper());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, alert ? 22 : 20, 24, alert ? 20 : 18);
    layout->setSpacing(10);
    layout->addWidget(wrapped(title, QStringLiteral("choiceTitle"),
                              alert ? Theme::font(16, QFont::Bold) : Theme::font(15, QFont::DemiBold), this));
    if (alert || !message.isEmpty())
        layout->addWidget(wrapped(message, QStringLiteral("choiceMessage"), Theme::font(13), this));
    if (alert)
        layout->addSpacing(8);

    auto* row = new QHBoxLayout;
    row->setSpacing(alert ? 10 : 8);
    if (!alert)
        row->addStretch(1);
    for (int i = 0; i < int(m_choices.size()); ++i) {
        const Choice& choice = m_choices[size_t(i)];
        QAbstractButton* button = nullptr;
        if (alert) {
            const auto kind = i == 0 ? FocusSheetButtonStyle::Kind::primary : FocusSheetButtonStyle::Kind::outline;
            button = new FocusButton(choice.text, FocusSheetButtonStyle{kind, true}, this);
        } else {
            button = questionButton(choice, i == m_default, this);
        }
        button->setObjectName(choice.objectName.isEmpty() ? QStringLiteral("choiceButton%1").arg(i)
                                                          : choice.objectName);
        connect(button, &QAbstractButton::clicked, this, [this, i] { finish(i); });
        row->addWidget(button, alert ? 1 : 0);
        m_buttons.push_back(button);
    }
    // The keyboard starts on the default answer; Return presses whichever button has it.
    if (m_default >= 0)
        m_buttons[size_t(m_default)]->setFocus();
    layout->addLayout(row);
    if (alert)
        WindowFit::fixWidthGrowHeight(this, 420);
    else
        setMinimumWidth(360);
}

int ChoiceDialog::ask(const QString& title, const QString& message, const QStringList& buttons, QWidget* parent)
{
    std::vector<Choice> choices;
    for (const QString& text : buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : buttons)
        choices.emplace_back(text);
    ChoiceDialog dialog(title, message, std::move(choices), parent, Look::alert);
    dialog.exec();
    return dialog.chosen();
}

bool ChoiceDialog::closeOrAskToDiscard(QDialog* sheet, bool hasChanges, QPointer<ChoiceDialog>& question,
                                       std::function<void()> then)
{
    if (question) {
        question->raise();
        question->activateWindow();
        return false;
    }
    if (!hasChanges) {
        sheet->done(QDialog::Rejected);
        return true;
    }
    auto* dialog = new ChoiceDialog(QStringLiteral("Discard your changes?"), QString(),
                                    {{QStringLiteral("Discard Changes"), Role::destructive,
                                      [sheet, then] {
                                          sheet->done(QDialog::Rejected);
                                          if (then)
                                              then();
                                      }},
                                     {QStringLiteral("Keep Editing"), Role::cancel, {}}},
                                    sheet);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    question = dialog;
    // Answered means gone for the sheet, before the event loop deletes it.
    QPointer<ChoiceDialog>* holder = &question;
    connect(dialog, &QDialog::finished, sheet, [holder, dialog] {
        if (*holder == dialog)
            holder->clear();
    });
    dialog->open();
    return false;
}

bool ChoiceDialog::choose(const QString& text)
{
    for (size_t i = 0; i < m_choices.size(); ++i) {
        if (m_choices[i].text == text) {
            finish(int(i));
            return true;
        }
    }
    return false;
}

QStringList ChoiceDialog::buttonTexts() const
{
    QStringList texts;
    for (const Choice& c : m_choices)
        texts.append(c.text);
    return texts;
}

void ChoiceDialog::keyPressEvent(QKeyEvent* event)
{
    const bool plain = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // A focused button takes Return itself (ReturnKey); what reaches the dialog is unclaimed.
        const auto focused = std::find(m_buttons.begin(), m_buttons.end(), focusWidget());
        if (focused != m_buttons.end())
            finish(int(focused - m_buttons.begin()));
        else if (m_default >= 0)
            finish(m_default);
        return;
    }
    QDialog::keyPressEvent(event);
}

void ChoiceDialog::reject()
{
    for (size_t i = 0; i < m_choices.size(); ++i) {
        if (m_choices[i].role == Role::cancel) {
            finish(int(i));
            return;
        }
    }
    QDialog::reject();
}

void ChoiceDialog::finish(int index)
{
    // A second press while the dialog is closing must not run a second action.
    if (m_chosen >= 0)
        return;
    m_chosen = index;
    const Choice& choice = m_choices[size_t(index)];
    const std::function<void()> action = choice.action;
    done(choice.role == Role::cancel ? QDialog::Rejected : QDialog::Accepted);
    if (action)
        action();
}
