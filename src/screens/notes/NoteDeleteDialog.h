#pragma once

#include <QDialog>

class QPushButton;

// "Delete this note?": Cancel, then the destructive Delete, in that order on every desktop.
class NoteDeleteDialog : public QDialog {
    Q_OBJECT
public:
    NoteDeleteDialog(const QString& message, QWidget* parent = nullptr);

    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    QPushButton* m_delete;
    QPushButton* m_cancel;
};
