#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <vector>

class QAbstractButton;

// A question with its buttons in the order given. The platform's message and button boxes sort
// buttons by role on Linux, which would move "Cancel" away from where the question puts it.
class ChoiceDialog : public QDialog {
    Q_OBJECT
public:
    enum class Role { normal, destructive, cancel };
    struct Choice {
        Choice(QString text, Role role = Role::normal, std::function<void()> action = {}, QString objectName = {},
               bool isDefault = false)
            : text(std::move(text)), role(role), action(std::move(action)), objectName(std::move(objectName)),
              isDefault(isDefault)
        {
        }
        QString text;
        Role role;
        std::function<void()> action;
        QString objectName;
        bool isDefault; // Return presses it while no other button has the keyboard
    };
    // question: asked by a page or a sheet, buttons at the right edge, the destructive one in red.
    // alert: the application's own message, buttons sharing the width, the first filled and focused.
    enum class Look { question, alert };

    ChoiceDialog(const QString& title, const QString& message, std::vector<Choice> choices, QWidget* parent,
                 Look look = Look::question);

    // Runs an alert to its end; the index of the button chosen, or -1 when closed otherwise.
    static int ask(const QString& title, const QString& message, const QStringList& buttons, QWidget* parent = nullptr);

    // The one rule of every sheet that holds edits, for Cancel, Escape and the window's close:
    // without changes the sheet closes at once (true). With changes it asks "Discard your
    // changes?" over the sheet and answers false: "Discard Changes" closes the sheet and runs
    // `then`, "Keep Editing" (the default answer) keeps it open as it was. `question` holds the
    // sheet's open question while it is asked; while one is open it is brought forward instead.
    static bool closeOrAskToDiscard(QDialog* sheet, bool hasChanges, QPointer<ChoiceDialog>& question,
                                    std::function<void()> then = {});

    // Presses the button with this text; false when there is none (tests and keyboard users).
    bool choose(const QString& text);
    QStringList buttonTexts() const;
    QString title() const { return m_title; }
    QString message() const { return m_message; }
    int chosen() const { return m_chosen; }

    // The button Return presses while no other has the keyboard, drawn as such; -1 when there is
    // none (a question without a safe answer).
    int defaultChoice() const { return m_default; }

    // Escape and the title bar's close answer like the cancel button, when there is one.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void finish(int index);

    QString m_title;
    QString m_message;
    std::vector<Choice> m_choices;
    int m_chosen = -1;
    int m_default = -1;
    std::vector<QAbstractButton*> m_buttons;
};
