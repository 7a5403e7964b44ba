#pragma once

#include <QDialog>
#include <QStringList>

// A modal message with its buttons in the order given (the first is the default), where the
// platform's message box would reorder them by role.
class Alert : public QDialog {
    Q_OBJECT
public:
    Alert(const QString& message, const QString& informative, const QStringList& buttons, QWidget* parent = nullptr);

    // Runs it; the index of the button chosen, or -1 when closed otherwise.
    static int ask(const QString& message, const QString& informative, const QStringList& buttons,
                   QWidget* parent = nullptr);
};
