#include "screens/todos/TaskEditorSheet.h"
#include "model/LocaleFormats.h"

#include "store/Reminders.h"
#include "ui/Accessibility.h"
#include "ui/ChoiceDialog.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/Headings.h"
#include "ui/InTurns.h"
#include "ui/Layouts.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/Pickers.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WindowFit.h"

#include <QDateEdit>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>
#include <memory>

// The rounded check box of a step: green with a white check when done, white with a ring in the
// sheet's priority colour while open.
class StepCheckbox : public QAbstractButton {
public:
    explicit StepCheckbox(QWidget* parent) : QAbstractButton(parent)
    {
        setFixedSize(17, 17);
        setCursor(Qt::PointingHandCursor);
    }
    void setState(bool done, const QColor& ring)
    {
        m_done = done;
        m_ring = ring;
        update();
    }
    bool isDone() const { return m_done; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.875, 0.875, -0.875, -0.875);
        p.setPen(QPen(m_done ? FocusColor::green() : m_ring, 1.75));
        p.setBrush(m_done ? FocusColor::green() : FocusColor::white());
        p.drawRoundedRect(box, 5, 5);
        if (m_done)
            Symbols::paint(p, QRectF(rect()), Symbol::checkmark, FocusColor::white(), 9, 0.4);
    }

private:
    bool m_done = false;
    QColor m_ring;
};

namespace {

// The charcoal Save button with its shortcut beside the label; faint while the title is empty.
class SaveButton : public QAbstractButton {
public:
    SaveButton(const QString& text, QWidget* parent) : QAbstractButton(parent)
    {
        setText(text);
        setAccessibleName(text);
        setCursor(Qt::PointingHandCursor);
        prepareFocusButton(this, FocusCharcoalButtonStyle{13});
        m_keys = QKeySequence(Qt::CTRL | Qt::Key_Return).toString(QKeySequence::NativeText);
    }
    QSize sizeHint() const override
    {
        const FocusButtonLook look = focusButtonLook(FocusCharcoalButtonStyle{13}, false);
        const qreal w = QFontMetricsF(look.font).horizontalAdvance(text()) + 8 +
                        QFontMetricsF(keysFont()).horizontalAdvance(m_keys);
        const qreal h = QFontMetricsF(look.font).height() + look.padding.top() + look.padding.bottom();
        return QSize(int(std::ceil(w + look.padding.left() + look.padding.right())),
                     int(std::ceil(std::max(h, look.minHeight))));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const FocusButtonLook look = focusButtonLook(FocusCharcoalButtonStyle{13}, focusButtonState(this));
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(look.opacity);
        p.setPen(Qt::NoPen);
        p.setBrush(look.fill);
        p.drawRoundedRect(QRectF(rect()), look.cornerRadius, look.cornerRadius);
        QRectF inner = QRectF(rect()).marginsRemoved(look.padding);
        p.setFont(look.font);
        p.setPen(look.textColor);
        p.drawText(inner, Qt::AlignVCenter | Qt::AlignLeft, text());
        p.setFont(keysFont());
        p.setPen(FocusColor::withOpacity(FocusColor::white(), 0.75));
        p.drawText(inner, Qt::AlignVCenter | Qt::AlignRight, m_keys);
    }

private:
    static QFont keysFont() { return Theme::font(11, QFont::Normal, Theme::Design::monospaced); }
    QString m_keys;
};

// A priority chip: the pill look with a dot in the priority's colour before the name.
class PriorityChip : public QAbstractButton {
public:
    PriorityChip(TaskItem::Priority priority, QWidget* parent) : QAbstractButton(parent), m_priority(priority)
    {
        setCheckable(true);
        Accessibility::setRole(this, QAccessible::RadioButton); // one priority of three
        setCursor(Qt::PointingHandCursor);
        prepareFocusButton(this, FocusPillButtonStyle{});
        QString name = TaskItem::rawValue(priority);
        name[0] = name[0].toUpper();
        setText(name);
        setAccessibleName(name + QStringLiteral(" priority"));
    }
    QSize sizeHint() const override
    {
        const FocusButtonLook look = focusButtonLook(FocusPillButtonStyle{isChecked(), 13}, false);
        const int textWidth = QFontMetrics(look.font).horizontalAdvance(text());
        return {int(look.padding.left() + 8 + 7 + textWidth + look.padding.right()),
                int(std::max<qreal>(look.minHeight, 32))};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const FocusButtonLook look = focusButtonLook(FocusPillButtonStyle{isChecked(), 13}, focusButtonState(this));
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setOpacity(look.opacity);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(look.borderColor.alpha() ? QPen(look.borderColor, 1) : Qt::NoPen);
        p.setBrush(look.fill);
        p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        const QColor dot = m_priority == TaskItem::Priority::high     ? FocusColor::priorityHigh()
                           : m_priority == TaskItem::Priority::medium ? FocusColor::priorityMedium()
                                                                      : FocusColor::priorityLow();
        const qreal x = look.padding.left();
        p.setPen(Qt::NoPen);
        p.setBrush(dot);
        p.drawEllipse(QRectF(x, height() / 2.0 - 4, 8, 8));
        p.setFont(look.font);
        p.setPen(look.textColor);
        p.drawText(QRectF(x + 15, 0, width() - x - 15, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }

private:
    TaskItem::Priority m_priority;
};

QPushButton* plainButton(const QString& text, qreal size, QFont::Weight weight, const QColor& color, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setFlat(true);
    b->setFont(Theme::font(size, weight));
    b->setCursor(Qt::PointingHandCursor);
    b->setAutoDefault(false);
    QPalette p = b->palette();
    p.setColor(QPalette::ButtonText, color);
    b->setPalette(p);
    return b;
}

QToolButton* clearButton(const QString& text, QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setAutoRaise(true);
    b->setIcon(Symbols::icon(Symbol::xmarkCircleFill, FocusColor::textTertiary(), 14));
    b->setIconSize(QSize(18, 18));
    b->setFixedSize(26, 26);
    Accessibility::nameIconButton(b, text);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

// The chosen item of a pull-down carries a check mark; the others none, and no empty box.
void markChosen(QAction* action, bool chosen, const QIcon& check)
{
    action->setIcon(chosen ? check : QIcon());
    action->setIconVisibleInMenu(true);
}

// A borderless pull-down: the label with the menu's arrow beside it, not under it.
void makePullDown(QToolButton* b)
{
    b->setAutoRaise(true);
    b->setPopupMode(QToolButton::InstantPopup);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setFont(Theme::font(14, QFont::DemiBold));
    b->setCursor(Qt::PointingHandCursor);
    b->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 4px 16px 4px 2px; }"
                                    "QToolButton::menu-indicator { subcontrol-origin: padding;"
                                    " subcontrol-position: right center; }"));
}

void hairlineOnTop(QWidget* w)
{
    auto* line = new FocusGroupDivider(0, w);
    line->setGeometry(0, 0, 10000, 1);
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
}

} // namespace

TaskEditorSheet::TaskEditorSheet(Inputs inputs, QWidget* parent)
    : QDialog(parent), m_inputs(std::move(inputs)),
      m_model(m_inputs.existingTodo, m_inputs.selectedDate, *m_inputs.clock, m_inputs.calendar)
{
    setObjectName(QStringLiteral("taskEditorSheet"));
    setWindowModality(Qt::WindowModal);
    WindowFit::fixSize(this, QSize(620, 760));
    Theme::fillBackground(this, FocusColor::paper());
    setWindowTitle(
        WindowFit::programTitle(m_model.isNew() ? QStringLiteral("New to-do") : QStringLiteral("Edit to-do")));
    m_check = Symbols::icon(Symbol::checkmark, FocusColor::text(), 13);
    build();
    sync();

    auto* saveShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this);
    connect(saveShortcut, &QShortcut::activated, this, &TaskEditorSheet::save);
    auto* saveShortcutEnter = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), this);
    connect(saveShortcutEnter, &QShortcut::activated, this, &TaskEditorSheet::save);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            updateNotificationsDenied();
    });
}

void TaskEditorSheet::restart(Date selectedDate)
{
    Q_ASSERT(m_model.isNew() && !isVisible());
    m_inputs.selectedDate = selectedDate;
    m_model = TaskEditorModel(std::nullopt, selectedDate, *m_inputs.clock, m_inputs.calendar);
    m_shownOnce = false;
    m_headerTitle->setEyebrowText(m_model.headerTitle());
    m_composingNotes = false;
    {
        const QSignalBlocker block(m_notes);
        m_notes->setPlainText(m_model.notes());
    }
    m_formScroll->verticalScrollBar()->setValue(0);
    sync();
}

void TaskEditorSheet::releaseWindow()
{
    if (!isVisible() && windowHandle())
        destroy();
}

void TaskEditorSheet::prepareFirstFrame()
{
    std::vector<std::function<void()>> steps;
    steps.push_back([this] {
        ensurePolished();
        if (layout())
            layout()->activate();
    });
    // Drawn a band at a time, each band a turn of its own, into one small image: a frame of the
    // whole sheet takes longer than a frame, and a fresh image that large costs a page fault for
    // every 4 KiB first written.
    const qreal ratio = devicePixelRatioF();
    const int bandBytes = 240 * 1024;
    const int rowBytes = int(std::ceil(width() * ratio)) * 4;
    const int band = std::max(1, int(bandBytes / std::max(1, rowBytes) / ratio));
    auto frame = std::make_shared<QImage>(QSize(width(), band) * ratio, QImage::Format_ARGB32_Premultiplied);
    frame->setDevicePixelRatio(ratio);
    for (int top = 0; top < height(); top += band)
        steps.push_back([this, frame, top, band] {
            if (!isVisible())
                render(frame.get(), QPoint(), QRegion(0, top, width(), band));
        });
    runInTurns(this, std::move(steps));
}

ChoiceDialog* TaskEditorSheet::openQuestion() const
{
    return m_question;
}

void TaskEditorSheet::build()
{
    auto* root = columnLayout(this, 0);
    root->addWidget(buildHeader());
    root->addWidget(buildForm(), 1);
    root->addWidget(buildFooter());
}

QWidget* TaskEditorSheet::buildHeader()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(22, 14, 22, 14);
    row->setSpacing(12);

    auto* cancel =
        new FocusButton(QStringLiteral("Cancel"), FocusPlainButtonStyle{13.5, FocusColor::textSecondary()}, bar);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QAbstractButton::clicked, this, &TaskEditorSheet::cancel);
    row->addWidget(cancel);
    row->addStretch(1);
    m_headerTitle = new Eyebrow(m_model.headerTitle(), FocusColor::textSecondary(), 11.5, bar);
    m_headerTitle->setObjectName(QStringLiteral("headerTitle"));
    row->addWidget(m_headerTitle);
    row->addStretch(1);
    if (!m_model.isNew() && m_inputs.onDelete) {
        auto* trash = new QToolButton(bar);
        trash->setObjectName(QStringLiteral("deleteButton"));
        trash->setAutoRaise(true);
        trash->setIcon(Symbols::icon(Symbol::trash, FocusColor::alert(), 13));
        trash->setIconSize(QSize(18, 18));
        trash->setFixedSize(28, 28);
        Accessibility::nameIconButton(trash, QStringLiteral("Delete to-do"));
        connect(trash, &QToolButton::clicked, this, &TaskEditorSheet::requestDelete);
        row->addWidget(trash);
    }
    m_saveButton = new SaveButton(m_model.saveButtonTitle(), bar);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    connect(m_saveButton, &QAbstractButton::clicked, this, &TaskEditorSheet::save);
    row->addWidget(m_saveButton);
    addBottomHairline(bar);
    return bar;
}

QWidget* TaskEditorSheet::editorRow(int symbol, const QString& title, QWidget* content)
{
    auto* row = new QWidget;
    row->setMinimumHeight(50);
    auto* h = rowLayout(row, 12);
    auto* icon = new SymbolLabel(Symbol(symbol), 14, FocusColor::textSecondary(), row);
    icon->setFixedWidth(18);
    h->addWidget(icon);
    auto* caption = plainLabel(title, 13.5, QFont::Normal, FocusColor::textSecondary(), row);
    caption->setFixedWidth(100);
    h->addWidget(caption);
    h->addWidget(content);
    h->addStretch(1);
    return row;
}

QWidget* TaskEditorSheet::buildForm()
{
    auto* scroll = new QScrollArea(this);
    m_formScroll = scroll;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // not a stop of its own between the fields
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* form = new QWidget;
    form->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    auto* v = new QVBoxLayout(form);
    v->setContentsMargins(34, 26, 34, 26);
    v->setSpacing(20);

    m_title = new QLineEdit(form);
    m_title->setObjectName(QStringLiteral("titleField"));
    m_title->setPlaceholderText(QStringLiteral("What matters?"));
    m_title->setFrame(false);
    m_title->setFont(Theme::font(30, QFont::DemiBold, Theme::Design::serif));
    m_title->setAccessibleName(QStringLiteral("Title"));
    m_title->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette tp = m_title->palette();
    tp.setColor(QPalette::Base, Qt::transparent);
    tp.setColor(QPalette::Text, FocusColor::text());
    m_title->setPalette(tp);
    // Every change reaches the model, typed or not (a paste, assistive technology); the sheet's
    // own settings block the signal. Only committed text counts: an input method's composition
    // is not part of text() until it ends.
    connect(m_title, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_model.setTitle(text);
        if (m_title->text() != m_model.title()) {
            const QSignalBlocker block(m_title);
            m_title->setText(m_model.title());
        }
        sync();
    });
    v->addWidget(m_title);

    auto* chips = new QHBoxLayout;
    chips->setSpacing(8);
    for (TaskItem::Priority priority : TaskItem::allPriorities()) {
        auto* chip = new PriorityChip(priority, form);
        chip->setObjectName(QStringLiteral("priority-") + TaskItem::rawValue(priority));
        connect(chip, &QAbstractButton::clicked, this, [this, priority] {
            m_model.setPriority(priority);
            sync();
        });
        m_chips.push_back(chip);
        chips->addWidget(chip);
    }
    chips->addStretch(1);
    v->addLayout(chips);

    // Schedule: due, reminder, repeat.
    auto* schedule = new QWidget(form);
    auto* sv = columnLayout(schedule, 0);

    auto* due = new QWidget;
    auto* dueRow = rowLayout(due, 8);
    m_addDue = plainButton(QStringLiteral("Add a due date"), 14, QFont::DemiBold, FocusColor::text(), due);
    m_addDue->setObjectName(QStringLiteral("addDueButton"));
    connect(m_addDue, &QPushButton::clicked, this, [this] {
        m_model.setDueEnabled(true);
        sync();
        // The keyboard stays in the row, on what took the button's place.
        m_dateEdit->setFocus(Qt::OtherFocusReason);
        Motion::fadeIn(m_dateEdit, 0.2);
        Motion::fadeIn(m_timeEdit, 0.2);
    });
    m_dateEdit = new QDateEdit(due);
    m_dateEdit->setObjectName(QStringLiteral("dueDateEdit"));
    m_dateEdit->setAccessibleName(QStringLiteral("Date"));
    Pickers::applyLook(m_dateEdit);
    connect(m_dateEdit, &QDateEdit::dateChanged, this, [this](QDate day) {
        // A picked day keeps the clock part the due date had, as a date picker does.
        const Calendar cal = m_inputs.calendar();
        const LocalDateTime old = cal.components(m_model.dueDate());
        m_model.dueDateChanged(cal.date(day, old.hour, old.minute, old.second));
        sync();
    });
    m_timeEdit = new QTimeEdit(due);
    m_timeEdit->setObjectName(QStringLiteral("dueTimeEdit"));
    m_timeEdit->setAccessibleName(QStringLiteral("Time"));
    Pickers::applyLook(m_timeEdit);
    connect(m_timeEdit, &QTimeEdit::timeChanged, this, [this](QTime time) {
        const Calendar cal = m_inputs.calendar();
        m_model.dueTimeChanged(cal.date(cal.localDate(m_model.dueDate()), time.hour(), time.minute(), 0));
        sync();
    });
    m_removeDue = clearButton(QStringLiteral("Remove due date"), due);
    m_removeDue->setObjectName(QStringLiteral("removeDueButton"));
    connect(m_removeDue, &QToolButton::clicked, this, [this] {
        m_model.setDueEnabled(false);
        sync();
        m_addDue->setFocus(Qt::OtherFocusReason);
    });
    for (QWidget* w : std::initializer_list<QWidget*>{m_addDue, m_dateEdit, m_timeEdit, m_removeDue})
        dueRow->addWidget(w);
    sv->addWidget(editorRow(int(Symbol::calendar), QStringLiteral("Due"), due));

    auto* reminder = new QWidget;
    auto* remRow = rowLayout(reminder, 8);
    m_addReminder = plainButton(QStringLiteral("Add a reminder"), 14, QFont::DemiBold, FocusColor::text(), reminder);
    m_addReminder->setObjectName(QStringLiteral("addReminderButton"));
    connect(m_addReminder, &QPushButton::clicked, this, [this] {
        const bool ask = m_model.setReminderEnabled(true);
        sync();
        for (QWidget* w : {static_cast<QWidget*>(m_reminderMenuButton), static_cast<QWidget*>(m_remindAt)})
            if (w->isVisibleTo(this)) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
        if (ask)
            refreshNotificationStatus();
    });
    m_reminderMenuButton = new QToolButton(reminder);
    m_reminderMenuButton->setObjectName(QStringLiteral("reminderMenuButton"));
    makePullDown(m_reminderMenuButton);
    m_reminderMenu = new QMenu(m_reminderMenuButton);
    m_reminderMenuButton->setMenu(m_reminderMenu);
    m_reminderMenu->setMinimumWidth(220); // room for the section titles, which the menu does not measure
    m_reminderMenu->addSection(QStringLiteral("Before the due time"));
    for (ReminderPreset preset : allReminderPresets()) {
        QAction* a = m_reminderMenu->addAction(rawValue(preset));
        a->setData(rawValue(preset));
        connect(a, &QAction::triggered, this, [this, preset] {
            m_model.selectReminderPreset(preset);
            sync();
        });
    }
    m_reminderMenu->addSection(QStringLiteral("On the due date (9:00)"));
    for (DueDateReminderPreset preset : allDueDateReminderPresets()) {
        QAction* a = m_reminderMenu->addAction(rawValue(preset));
        a->setData(rawValue(preset));
        connect(a, &QAction::triggered, this, [this, preset] {
            m_model.selectDueDateReminderPreset(preset);
            sync();
        });
    }
    m_remindAt = new QTimeEdit(reminder);
    m_remindAt->setObjectName(QStringLiteral("remindAtEdit"));
    m_remindAt->setAccessibleName(QStringLiteral("Remind at"));
    Pickers::applyLook(m_remindAt);
    connect(m_remindAt, &QTimeEdit::timeChanged, this, [this](QTime time) {
        const Calendar cal = m_inputs.calendar();
        m_model.customReminderTimeChanged(
            cal.date(cal.localDate(m_inputs.clock->now()), time.hour(), time.minute(), 0));
        sync();
    });
    m_reminderDay = plainLabel(QString(), 14, QFont::DemiBold, FocusColor::text(), reminder);
    m_reminderDay->setObjectName(QStringLiteral("reminderDayText"));
    m_removeReminder = clearButton(QStringLiteral("Remove reminder"), reminder);
    m_removeReminder->setObjectName(QStringLiteral("removeReminderButton"));
    connect(m_removeReminder, &QToolButton::clicked, this, [this] {
        m_model.setReminderEnabled(false);
        sync();
        m_addReminder->setFocus(Qt::OtherFocusReason);
    });
    for (QWidget* w : std::initializer_list<QWidget*>{m_addReminder, m_reminderMenuButton, m_remindAt, m_reminderDay,
                                                      m_removeReminder})
        remRow->addWidget(w);
    QWidget* reminderRow = editorRow(int(Symbol::bell), QStringLiteral("Remind me"), reminder);
    addBottomHairline(reminderRow);
    sv->addWidget(reminderRow);

    m_notice = new QWidget;
    m_notice->setObjectName(QStringLiteral("notificationsNotice"));
    auto* nh = new QHBoxLayout(m_notice);
    nh->setContentsMargins(0, 10, 0, 10);
    nh->setSpacing(8);
    nh->addWidget(new SymbolLabel(Symbol::bellSlash, 12, FocusColor::alert(), m_notice));
    auto* noticeText =
        plainLabel(QStringLiteral("Notifications are off for Quillharbour, so this reminder won't appear."), 12,
                   QFont::DemiBold, FocusColor::alert(), m_notice);
    noticeText->setWordWrap(true);
    nh->addWidget(noticeText, 1);
    // Offered only where it leads somewhere; a settings program that does not start takes it away.
    if (m_inputs.openNotificationSettings) {
        auto* turnOn =
            new FocusButton(QStringLiteral("Turn on"), FocusLinkButtonStyle{12, FocusColor::text()}, m_notice);
        turnOn->setObjectName(QStringLiteral("turnOnButton"));
        connect(turnOn, &QAbstractButton::clicked, this, [this, turnOn] {
            if (!m_inputs.openNotificationSettings())
                turnOn->hide();
        });
        nh->addWidget(turnOn);
    }
    addBottomHairline(m_notice);
    sv->addWidget(m_notice);

    m_repeatButton = new QToolButton;
    m_repeatButton->setObjectName(QStringLiteral("repeatButton"));
    makePullDown(m_repeatButton);
    m_repeatMenu = new QMenu(m_repeatButton);
    m_repeatButton->setMenu(m_repeatMenu);
    for (RepeatOption option : allRepeatOptions()) {
        QAction* action = m_repeatMenu->addAction(TaskEditorModel::repeatOptionText(option));
        action->setData(int(option));
        connect(action, &QAction::triggered, this, [this, option] {
            m_model.selectRepeatOption(option);
            sync();
        });
    }
    sv->addWidget(editorRow(int(Symbol::repeat), QStringLiteral("Repeat"), m_repeatButton));
    hairlineOnTop(schedule);
    v->addWidget(schedule);

    // Steps.
    auto* steps = new QWidget(form);
    auto* stv = columnLayout(steps, 2);
    m_stepsHeader = new FocusSectionHeader(QStringLiteral("Steps"), nullptr, steps);
    m_stepsHeader->setObjectName(QStringLiteral("stepsHeader"));
    stv->addWidget(m_stepsHeader);
    m_stepRows = new QVBoxLayout;
    m_stepRows->setSpacing(2);
    stv->addLayout(m_stepRows);
    auto* addRow = new QWidget(steps);
    addRow->setMinimumHeight(34);
    auto* ah = rowLayout(addRow, 12);
    auto* plus = new SymbolLabel(Symbol::plus, 12, FocusColor::textSecondary(), addRow);
    plus->setFixedWidth(17);
    ah->addWidget(plus);
    m_newStep = new QLineEdit(addRow);
    m_newStep->setObjectName(QStringLiteral("newStepField"));
    m_newStep->setPlaceholderText(QStringLiteral("Add a step"));
    m_newStep->setAccessibleName(QStringLiteral("Add a step"));
    m_newStep->setFrame(false);
    m_newStep->setFont(Theme::font(14));
    m_newStep->setPalette(tp);
    connect(m_newStep, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_model.setNewStep(text);
        sync();
    });
    connect(m_newStep, &QLineEdit::returnPressed, this, [this] {
        if (m_model.addStep())
            sync();
    });
    ah->addWidget(m_newStep, 1);
    stv->addWidget(addRow);
    v->addWidget(steps);

    // Description.
    auto* description = new QWidget(form);
    auto* dv = columnLayout(description, 8);
    dv->addWidget(new Eyebrow(QStringLiteral("Description"), FocusColor::textSecondary(), 12, description));
    m_notes = new QPlainTextEdit(description);
    m_notes->setObjectName(QStringLiteral("descriptionField"));
    m_notes->setPlaceholderText(QStringLiteral("Add details"));
    m_notes->setAccessibleName(QStringLiteral("Description"));
    m_notes->setFont(Theme::font(13.5));
    m_notes->setMinimumHeight(72);
    m_notes->setFrameShape(QFrame::NoFrame);
    m_notes->setStyleSheet(QStringLiteral("QPlainTextEdit { border: 1px solid %1; border-radius: 12px; background: %2; "
                                          "padding: 4px 2px; }")
                               .arg(FocusColor::hairline().name(QColor::HexArgb),
                                    FocusColor::withOpacity(FocusColor::white(), 0.6).name(QColor::HexArgb)));
    m_notes->setPlainText(m_model.notes());
    // Tab moves on, as in every other field; a description holds no tab characters.
    m_notes->setTabChangesFocus(true);
    m_notes->installEventFilter(this);
    connect(m_notes, &QPlainTextEdit::textChanged, this, &TaskEditorSheet::applyNotesLimit);
    dv->addWidget(m_notes);
    v->addWidget(description);
    v->addStretch(1);

    scroll->setWidget(form);
    return scroll;
}

QWidget* TaskEditorSheet::buildFooter()
{
    auto* footer = plainLabel(m_model.footerText(), 12, QFont::Medium, FocusColor::textSecondary(), this);
    footer->setObjectName(QStringLiteral("footer"));
    footer->setContentsMargins(22, 12, 22, 12);
    hairlineOnTop(footer);
    return footer;
}

void TaskEditorSheet::applyNotesLimit()
{
    if (m_composingNotes)
        return;
    const QString text = m_notes->toPlainText();
    m_model.setNotes(text);
    if (text != m_model.notes()) {
        const QSignalBlocker block(m_notes);
        const int position = m_notes->textCursor().position();
        m_notes->setPlainText(m_model.notes());
        // Tab moves on, as in every other field; a description holds no tab characters.
        m_notes->setTabChangesFocus(true);
        QTextCursor cursor = m_notes->textCursor();
        cursor.setPosition(std::min<int>(position, int(m_model.notes().size())));
        m_notes->setTextCursor(cursor);
    }
}

bool TaskEditorSheet::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_notes && event->type() == QEvent::InputMethod) {
        m_composingNotes = !static_cast<QInputMethodEvent*>(event)->preeditString().isEmpty();
        const bool handled = QDialog::eventFilter(watched, event);
        if (!m_composingNotes)
            applyNotesLimit();
        return handled;
    }
    return QDialog::eventFilter(watched, event);
}

void TaskEditorSheet::sync()
{
    const Calendar cal = m_inputs.calendar();
    if (m_title->text() != m_model.title()) {
        const QSignalBlocker block(m_title);
        m_title->setText(m_model.title());
    }
    const bool canSave = m_model.canSave();
    m_saveButton->setEnabled(canSave);
    for (size_t i = 0; i < m_chips.size(); ++i)
        m_chips[i]->setChecked(TaskItem::allPriorities()[i] == m_model.priority());

    const bool due = m_model.dueEnabled();
    m_addDue->setVisible(!due);
    m_dateEdit->setVisible(due);
    m_timeEdit->setVisible(due);
    m_removeDue->setVisible(due);
    {
        const QSignalBlocker b1(m_dateEdit), b2(m_timeEdit), b3(m_remindAt);
        m_dateEdit->setDate(cal.localDate(m_model.dueDate()));
        const LocalDateTime t = cal.components(m_model.dueTime());
        m_timeEdit->setTime(QTime(t.hour, t.minute));
        const LocalDateTime r = cal.components(m_model.customReminderTime());
        m_remindAt->setTime(QTime(r.hour, r.minute));
    }

    const bool reminder = m_model.reminderEnabled();
    m_addReminder->setVisible(!reminder);
    m_reminderMenuButton->setVisible(reminder && due);
    m_remindAt->setVisible(reminder && !due);
    const QString reminderDay = m_model.reminderDayText();
    m_reminderDay->setText(reminderDay);
    m_reminderDay->setVisible(!reminderDay.isEmpty());
    // A screen reader hears the day with the time it belongs to.
    m_remindAt->setAccessibleName(reminderDay.isEmpty() ? QStringLiteral("Remind at")
                                                        : QStringLiteral("Remind at, ") + reminderDay);
    m_removeReminder->setVisible(reminder);
    m_notice->setVisible(reminder && m_notificationsDenied);
    m_reminderMenuButton->setText(m_model.reminderMenuLabel());
    for (QAction* a : m_reminderMenu->actions()) {
        if (a->isSeparator())
            continue;
        const QString raw = a->data().toString();
        const auto preset = reminderPresetFromRaw(raw);
        const auto dayPreset = dueDateReminderPresetFromRaw(raw);
        markChosen(a, (preset && m_model.isChecked(*preset)) || (dayPreset && m_model.isChecked(*dayPreset)), m_check);
    }

    m_repeatButton->setText(TaskEditorModel::repeatOptionText(m_model.repeatOption()));
    // Its text alone ("Never") would not say what it sets.
    m_repeatButton->setAccessibleName(QStringLiteral("Repeat: ") + m_repeatButton->text());
    for (QAction* a : m_repeatMenu->actions())
        markChosen(a, RepeatOption(a->data().toInt()) == m_model.repeatOption(), m_check);

    if (m_newStep->text() != m_model.newStep()) {
        const QSignalBlocker block(m_newStep);
        m_newStep->setText(m_model.newStep());
    }
    syncSteps();
}

void TaskEditorSheet::syncSteps()
{
    m_stepsHeader->setTitle(m_model.stepsHeader());
    const auto& steps = m_model.subtasks();
    bool same = steps.size() == m_stepWidgets.size();
    for (size_t i = 0; same && i < steps.size(); ++i)
        same = steps[i].id == m_stepWidgets[i].id;
    if (!same)
        buildStepRows();
    const QColor ring = m_model.priority() == TaskItem::Priority::high     ? FocusColor::priorityHigh()
                        : m_model.priority() == TaskItem::Priority::medium ? FocusColor::priorityMedium()
                                                                           : FocusColor::priorityLow();
    for (size_t i = 0; i < steps.size(); ++i) {
        const Subtask& s = steps[i];
        StepRowWidgets& w = m_stepWidgets[i];
        w.check->setState(s.isCompleted, ring);
        // No two steps may read alike to a screen reader: an untitled step goes by its place, and
        // so does a title that two steps share, after the title.
        const QString place = QStringLiteral("Step %1").arg(i + 1);
        const auto sameTitle =
            std::count_if(steps.begin(), steps.end(), [&](const Subtask& other) { return other.title == s.title; });
        const QString known = s.title.trimmed().isEmpty() ? place.toLower()
                              : sameTitle > 1             ? s.title + QStringLiteral(", ") + place.toLower()
                                                          : s.title;
        w.check->setAccessibleName((s.isCompleted ? QStringLiteral("Uncheck ") : QStringLiteral("Check ")) + known);
        w.title->setPlaceholderText(place);
        w.title->setAccessibleName(place);
        w.remove->setAccessibleName(QStringLiteral("Remove ") + place.toLower());
        QPalette p = w.title->palette();
        p.setColor(QPalette::Text, s.isCompleted ? FocusColor::textTertiary() : FocusColor::text());
        w.title->setPalette(p);
        if (w.title->text() != s.title) {
            const QSignalBlocker block(w.title);
            w.title->setText(s.title);
        }
    }
}

void TaskEditorSheet::buildStepRows()
{
    for (StepRowWidgets& w : m_stepWidgets)
        delete w.row;
    m_stepWidgets.clear();
    for (const Subtask& s : m_model.subtasks()) {
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("stepRow"));
        row->setMinimumHeight(34);
        auto* h = rowLayout(row, 12);
        auto* check = new StepCheckbox(row);
        check->setObjectName(QStringLiteral("stepCheck"));
        auto* title = new QLineEdit(row);
        title->setObjectName(QStringLiteral("stepTitle"));
        title->setFrame(false);
        title->setFont(Theme::font(14));
        QPalette p = title->palette();
        p.setColor(QPalette::Base, Qt::transparent);
        title->setPalette(p);
        auto* remove = clearButton(QStringLiteral("Remove step"), row);
        remove->setObjectName(QStringLiteral("removeStepButton"));
        h->addWidget(check);
        h->addWidget(title, 1);
        h->addWidget(remove);
        m_stepRows->addWidget(row);
        const QUuid id = s.id;
        // Rows find their position when they act: a removal before them moves them up.
        const auto indexOf = [this, id]() -> qsizetype {
            const auto& list = m_model.subtasks();
            const auto it = std::find_if(list.begin(), list.end(), [&](const Subtask& x) { return x.id == id; });
            return it == list.end() ? -1 : it - list.begin();
        };
        connect(check, &QAbstractButton::clicked, this, [this, indexOf] {
            m_model.toggleStep(indexOf());
            sync();
        });
        connect(title, &QLineEdit::textChanged, this, [this, indexOf, title](const QString& text) {
            const qsizetype i = indexOf();
            m_model.setStepTitle(text, i);
            if (title->text() != m_model.stepTitle(i)) {
                const QSignalBlocker block(title);
                title->setText(m_model.stepTitle(i));
            }
            sync();
        });
        connect(remove, &QToolButton::clicked, this, [this, indexOf] {
            // Deleting the row inside its own click handler is unsafe: rebuild afterwards.
            m_model.removeStep(indexOf());
            QMetaObject::invokeMethod(this, &TaskEditorSheet::sync, Qt::QueuedConnection);
        });
        m_stepWidgets.push_back({id, row, check, title, remove});
    }
    // New rows join the end of the keyboard's order, after the description: put them back where
    // they show, between what comes before the steps and "Add a step".
    if (m_newStep) {
        // Qt orders only widgets that take focus.
        QWidget* previous = m_newStep->previousInFocusChain();
        while (previous != m_newStep && previous->focusPolicy() == Qt::NoFocus)
            previous = previous->previousInFocusChain();
        for (const StepRowWidgets& w : m_stepWidgets)
            for (QWidget* next :
                 {static_cast<QWidget*>(w.check), static_cast<QWidget*>(w.title), static_cast<QWidget*>(w.remove)}) {
                QWidget::setTabOrder(previous, next);
                previous = next;
            }
    }
}

void TaskEditorSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    m_model.markShown();
    // The keyboard starts on the first field, not on "Cancel" above it.
    m_title->setFocus(Qt::OtherFocusReason);
    updateNotificationsDenied();
}

void TaskEditorSheet::updateNotificationsDenied()
{
    if (!m_inputs.reminders)
        return;
    QPointer<TaskEditorSheet> self(this);
    m_inputs.reminders->notificationAuthorizationStatus([self](bool denied) {
        if (!self)
            return;
        self->m_notificationsDenied = denied;
        self->sync();
    });
}

void TaskEditorSheet::refreshNotificationStatus()
{
    if (!m_inputs.reminders)
        return;
    QPointer<TaskEditorSheet> self(this);
    Reminders* reminders = m_inputs.reminders;
    reminders->requestAuthorizationIfUndetermined([self, reminders] {
        if (self)
            self->updateNotificationsDenied();
    });
}

void TaskEditorSheet::ask(ChoiceDialog* dialog)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_question = dialog;
    // Answered means gone for the sheet, before the event loop deletes it: Ctrl+Return works again.
    connect(dialog, &QDialog::finished, this, [this] { m_question = nullptr; });
    dialog->open();
}

void TaskEditorSheet::cancel()
{
    closeOrAsk({});
}

bool TaskEditorSheet::closeOrAsk(std::function<void()> then)
{
    return ChoiceDialog::closeOrAskToDiscard(this, m_model.hasChanges(), m_question, std::move(then));
}

void TaskEditorSheet::save()
{
    if (m_question || !m_model.canSave())
        return;
    const TaskItem record = m_model.save();
    if (m_inputs.onSave) {
        if (const std::optional<QString> error = m_inputs.onSave(record)) {
            // Nothing was kept: closing now would lose what was typed.
            ask(new ChoiceDialog(QStringLiteral("The to-do could not be saved"), *error,
                                 {{QStringLiteral("OK"), ChoiceDialog::Role::cancel, {}}}, this));
            return;
        }
    }
    finishWith(QDialog::Accepted);
}

void TaskEditorSheet::requestDelete()
{
    if (m_question || !m_model.existingTodo() || !m_inputs.onDelete)
        return;
    ask(new ChoiceDialog(QStringLiteral("Delete this to-do?"), m_model.deleteMessage(),
                         // The answer that keeps comes last, as in every other question.
                         {{m_model.deleteButtonTitle(), ChoiceDialog::Role::destructive,
                           [this] {
                               // The record as it was handed in: edits made here are not applied.
                               m_inputs.onDelete(*m_model.existingTodo());
                               finishWith(QDialog::Accepted);
                           }},
                          {QStringLiteral("Keep To-do"), ChoiceDialog::Role::cancel, {}}},
                         this));
}

void TaskEditorSheet::reject()
{
    cancel();
}

void TaskEditorSheet::finishWith(QDialog::DialogCode code)
{
    QDialog::done(code);
}
