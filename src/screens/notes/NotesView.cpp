#include "screens/notes/NotesView.h"

#include "router/AppContext.h"
#include "router/AppRouter.h"
#include "screens/notes/NoteEditorPane.h"
#include "screens/notes/NoteListModel.h"
#include "store/StorageService.h"
#include "ui/FocusButton.h"
#include "ui/Headings.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

class VerticalHairline : public QWidget {
public:
    explicit VerticalHairline(QWidget* parent) : QWidget(parent) { setFixedWidth(1); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), FocusColor::hairline()); }
};

// Assistive technology reads a list's current row as focused whether or not the list has the
// keyboard, so a row would stay focused beside the control Tab moved on to. The list holds a
// current row only while it has the keyboard, and takes the same row back when it returns.
class CurrentRowWhileFocused : public QObject {
public:
    explicit CurrentRowWhileFocused(QAbstractItemView* view) : QObject(view), m_view(view)
    {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        QItemSelectionModel* selection = m_view->selectionModel();
        if (!selection)
            return false;
        if (event->type() == QEvent::FocusOut && selection->currentIndex().isValid()) {
            m_kept = selection->currentIndex();
            selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        } else if (event->type() == QEvent::FocusIn && m_kept.isValid() && !selection->currentIndex().isValid()) {
            selection->setCurrentIndex(m_kept, QItemSelectionModel::NoUpdate);
        }
        return false;
    }

private:
    QAbstractItemView* m_view;
    QPersistentModelIndex m_kept;
};

} // namespace

NotesView::NotesView(AppContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_state(*context.storage, context.router)
{
    setObjectName(QStringLiteral("notesView"));
    setPageTitle(this, QStringLiteral("Notes"));
    Theme::fillBackground(this, FocusColor::paper());

    auto* row = rowLayout(this, 0);
    row->addWidget(buildListColumn());
    row->addWidget(new VerticalHairline(this));
    m_detail = new QStackedWidget(this);
    m_detail->setObjectName(QStringLiteral("noteDetail"));
    m_detail->addWidget(buildPlaceholder());
    m_editorHolder = new QWidget(m_detail);
    auto* holderLayout = new QVBoxLayout(m_editorHolder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    m_detail->addWidget(m_editorHolder);
    row->addWidget(m_detail, 1);

    connect(&m_state, &NotesPageState::changed, this, &NotesView::updateDetail);
    connect(&m_state, &NotesPageState::pendingDeleteChanged, this, &NotesView::showDeleteDialog);
    connect(&context.storage->notes(), &NoteStore::notesChanged, this, &NotesView::scheduleRefresh);
    if (context.router)
        connect(context.router, &AppRouter::newItemRequestChanged, this, [this] { m_state.handleNewItemRequest(); });
    // Typing in the last moments before quitting is kept: the quit runs through the event loop,
    // and this runs before the application object goes away.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &NotesView::flush);
    refresh();
}

NotesView::~NotesView()
{
    // Explicitly, while the page is still whole (the editor itself never saves from a destructor),
    // and with nothing left to rebuild on this page.
    disconnect(m_context.storage, nullptr, this, nullptr);
    disconnect(&m_state, nullptr, this, nullptr);
    flush();
}

QWidget* NotesView::buildListColumn()
{
    auto* column = new QWidget(this);
    column->setObjectName(QStringLiteral("notesListColumn"));
    column->setFixedWidth(340);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(20, 24, 20, 0);
    layout->setSpacing(16);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(4, 0, 4, 0);
    header->addWidget(new FocusHeadline(QString(), QStringLiteral("Notes"), 36, nullptr, column), 0, Qt::AlignBottom);
    header->addStretch(1);
    auto* add = new FocusButton(QStringLiteral("New"), FocusCharcoalButtonStyle{12.5}, column);
    add->setObjectName(QStringLiteral("newNote"));
    add->setSymbol(Symbol::plus);
    add->setAccessibleName(QStringLiteral("New note"));
    add->setToolTip(QStringLiteral("New note (%1)")
                        .arg(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N).toString(QKeySequence::NativeText)));
    auto* addBox = new QVBoxLayout;
    addBox->setContentsMargins(0, 0, 0, 6);
    addBox->addWidget(add);
    header->addLayout(addBox);
    header->setAlignment(addBox, Qt::AlignBottom);
    connect(add, &QAbstractButton::clicked, this, [this] { m_state.startNewNote(); });
    layout->addLayout(header);

    m_emptyList = plainLabel(QStringLiteral("No notes yet. Jot down a list, an idea, or anything on your mind."),
                             Theme::font(13, QFont::Medium), FocusColor::textSecondary(), column);
    m_emptyList->setObjectName(QStringLiteral("notesEmpty"));
    m_emptyList->setWordWrap(true);
    m_emptyList->setContentsMargins(4, 8, 4, 0);
    layout->addWidget(m_emptyList);

    m_model = new NoteListModel(*m_context.clock, m_context.calendar, this);
    m_list = new QListView(column);
    m_list->setObjectName(QStringLiteral("notesList"));
    m_list->setAccessibleName(QStringLiteral("Notes"));
    m_list->setModel(m_model);
    new CurrentRowWhileFocused(m_list);
    m_list->setItemDelegate(new NoteRowDelegate(m_list));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setUniformItemSizes(false);
    m_list->setResizeMode(QListView::Adjust);
    // Rows beyond the first screens are measured in later batches, so a long list opens at once.
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(60);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAutoFillBackground(false);
    connect(m_list, &QListView::clicked, this,
            [this](const QModelIndex& index) { m_state.select(m_model->note(index.row())); });
    connect(m_list, &QListView::activated, this,
            [this](const QModelIndex& index) { m_state.select(m_model->note(index.row())); });
    connect(m_list, &QWidget::customContextMenuRequested, this, &NotesView::showContextMenu);
    layout->addWidget(m_list, 1);
    layout->addSpacing(24 - layout->spacing());
    return column;
}

QWidget* NotesView::buildPlaceholder()
{
    m_placeholder = new QWidget(this);
    m_placeholder->setObjectName(QStringLiteral("notePlaceholder"));
    auto* column = new QVBoxLayout(m_placeholder);
    column->setSpacing(14);
    column->addStretch(1);
    m_placeholderText = plainLabel(QString(), Theme::font(24, QFont::DemiBold, Theme::Design::serif),
                                   FocusColor::text(), m_placeholder);
    m_placeholderText->setObjectName(QStringLiteral("notePlaceholderText"));
    column->addWidget(m_placeholderText, 0, Qt::AlignHCenter);
    auto* add = new FocusButton(QStringLiteral("New note"), FocusCharcoalButtonStyle{13}, m_placeholder);
    add->setObjectName(QStringLiteral("placeholderNewNote"));
    add->setSymbol(Symbol::plus);
    connect(add, &QAbstractButton::clicked, this, [this] { m_state.startNewNote(); });
    column->addWidget(add, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return m_placeholder;
}

void NotesView::scheduleRefresh()
{
    m_queuedRefresh.request();
}

void NotesView::refresh()
{
    const int scroll = m_list->verticalScrollBar()->value();
    std::vector<Note> notes = m_state.visibleNotes();
    m_emptyList->setVisible(notes.empty());
    m_model->setNotes(std::move(notes));
    m_list->verticalScrollBar()->setValue(scroll);
    updateDetail();
}

void NotesView::updateDetail()
{
    if (m_updatingDetail)
        return;
    const QScopedValueRollback guard(m_updatingDetail, true);
    if (m_editor && (!m_state.showsEditor() || m_editor->session() != m_state.editorSession())) {
        NoteEditorPane* old = m_editor;
        m_editor = nullptr;
        // Its last edits go out while this page is whole; they carry the old session, so they
        // store the note without moving the selection.
        old->flush();
        old->hide();
        old->deleteLater();
    }
    if (m_state.showsEditor() && !m_editor) {
        const QUuid session = m_state.editorSession();
        std::optional<Note> note = m_state.isNewNote() ? std::nullopt : m_state.selectedNote();
        m_editor = new NoteEditorPane(
            note, *m_context.clock, session, [this, session](const Note& n) { return m_state.noteSaved(n, session); },
            [this](const Note& n) { m_state.requestDelete(n); }, [this](const Note& n) { m_state.noteEmptied(n); },
            m_editorHolder);
        m_editorHolder->layout()->addWidget(m_editor);
        m_editor->show();
        if (isVisible())
            m_editor->focusFirstField();
    }
    m_detail->setCurrentWidget(m_editor ? m_editorHolder : m_placeholder);
    m_placeholderText->setText(m_state.placeholderText());
    m_model->setSelectedID(m_state.isNewNote() ? std::nullopt : m_state.selectedID());
}

void NotesView::flush()
{
    if (m_editor)
        m_editor->flush();
}

void NotesView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    refresh();
    m_state.appear();
    if (m_editor)
        m_editor->focusFirstField();
}

void NotesView::hideEvent(QHideEvent* event)
{
    flush();
    QWidget::hideEvent(event);
}

void NotesView::showContextMenu(const QPoint& position)
{
    const QModelIndex index = m_list->indexAt(position);
    if (!index.isValid())
        return;
    const Note note = m_model->note(index.row());
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* remove = menu->addAction(QStringLiteral("Delete…"));
    remove->setObjectName(QStringLiteral("deleteNoteAction"));
    connect(remove, &QAction::triggered, this, [this, note] { m_state.requestDelete(note); });
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

void NotesView::showDeleteDialog()
{
    const std::optional<Note> pending = m_state.pendingDelete();
    if (!pending || m_dialog)
        return;
    auto* dialog = new ChoiceDialog(
        NotesPageState::deleteTitle(), NotesPageState::deleteMessage(*pending),
        {{QStringLiteral("Delete"), ChoiceDialog::Role::destructive, {}, QStringLiteral("confirmDelete")},
         {QStringLiteral("Cancel"), ChoiceDialog::Role::cancel, {}, QStringLiteral("cancelDelete"), true}},
        this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog = dialog;
    connect(dialog, &QDialog::finished, this, [this, note = *pending](int result) {
        if (result == QDialog::Accepted)
            m_state.confirmDelete(note);
        m_state.dismissDelete();
    });
    dialog->open();
}
