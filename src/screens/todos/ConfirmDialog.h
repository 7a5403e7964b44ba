#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

class QPushButton;

// A question with its buttons in the order given. The platform's button boxes sort buttons by
// role on Linux, which would move "Cancel" away from where the question puts it.
class ConfirmDialog : public QDialog {
    Q_OBJECT
public:
    enum class Role { normal, destructive, cancel };
    struct Choice {
        QString text;
        Role role = Role::normal;
        std::function<void()> action;
    };

    ConfirmDialog(const QString& title, const QString& message, std::vector<Choice> choices, QWidget* parent);

    // Presses the button with this text; false when there is none (tests and keyboard users).
    bool choose(const QString& text);
    QStringList buttonTexts() const;
    QString title() const { return m_title; }
    QString message() const { return m_message; }

    void reject() override;

private:
    void finish(size_t index);

    QString m_title;
    QString m_message;
    std::vector<Choice> m_choices;
    std::vector<QPushButton*> m_buttons;
    bool m_done = false;
};
