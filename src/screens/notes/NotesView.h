#pragma once

#include "screens/notes/NoteEditorPane.h"
#include "screens/notes/NotesPageState.h"
#include "ui/ChoiceDialog.h"
#include "ui/QueuedCall.h"

#include <QPointer>
#include <QWidget>

struct AppContext;
class NoteListModel;
class QLabel;
class QListView;
class QStackedWidget;

// The Notes page: the list of notes on the left, the editor of the selected or new note (or a
// placeholder) on the right. Every change goes through the store.
//
// Edits are never lost: the open editor is flushed before it is replaced, when the page hides,
// when the page is destroyed and when the application is about to quit (SIGTERM included, as it
// ends the run through the event loop). flush() is the same entry point for anyone else.
class NotesView : public QWidget {
    Q_OBJECT
public:
    explicit NotesView(AppContext& context, QWidget* parent = nullptr);
    ~NotesView() override;

    NotesPageState& state() { return m_state; }
    NoteEditorPane* editor() const { return m_editor; }
    QListView* list() const { return m_list; }
    ChoiceDialog* deleteDialog() const { return m_dialog; }

    // Saves whatever the open editor holds, at once.
    void flush();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildListColumn();
    QWidget* buildPlaceholder();
    void refresh();
    void scheduleRefresh();
    void updateDetail();
    void showDeleteDialog();
    void showContextMenu(const QPoint& position);

    AppContext& m_context;
    NotesPageState m_state;
    NoteListModel* m_model = nullptr;
    QListView* m_list = nullptr;
    QLabel* m_emptyList = nullptr;
    QStackedWidget* m_detail = nullptr;
    QWidget* m_placeholder = nullptr;
    QLabel* m_placeholderText = nullptr;
    QWidget* m_editorHolder = nullptr;
    QPointer<NoteEditorPane> m_editor;
    QPointer<ChoiceDialog> m_dialog;
    QueuedCall m_queuedRefresh{this, [this] { refresh(); }};
    bool m_updatingDetail = false;
};
