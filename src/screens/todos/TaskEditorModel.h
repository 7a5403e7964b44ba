#pragma once

#include "model/Calendar.h"
#include "model/Clock.h"
#include "model/TaskItem.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

// How the reminder moment follows the due date: an offset before the due time, 09:00 a few days
// before the due day, or a clock time of the person's choosing on the due day.
enum class ReminderMode { byDueTime, byDueDate, customTime };

struct ReminderInference {
    ReminderMode mode = ReminderMode::byDueTime;
    DueDateReminderPreset dueDatePreset = DueDateReminderPreset::onDueDate;
    ReminderPreset preset = ReminderPreset::atDueTime;
    Date customTime = 0;

    bool operator==(const ReminderInference&) const = default;
};

// Everything the person can change in the editor, compared part by part to tell whether
// cancelling would lose something. Step ids are left out: removing a step and adding one with the
// same title and state gives the same draft.
struct TaskDraft {
    struct Step {
        QString title;
        bool isCompleted = false;
        bool operator==(const Step&) const = default;
    };
    QString title;
    TaskItem::Priority priority = TaskItem::Priority::medium;
    bool dueEnabled = false;
    Date dueDate = 0;
    bool hasTime = false;
    Date dueTime = 0;
    std::vector<Step> steps;
    QString newStep;
    QString notes;
    RepeatOption repeatOption = RepeatOption::none;
    bool reminderEnabled = false;
    Date reminderDate = 0;

    bool operator==(const TaskDraft&) const = default;
};

// The state and rules of the to-do editor, without widgets: the dialog shows this and calls its
// operations, so every rule is tested without a screen. It never touches the store.
class TaskEditorModel {
public:
    static constexpr qsizetype titleLimit = 150;
    static constexpr qsizetype stepLimit = 100;
    static constexpr qsizetype notesLimit = 400;

    TaskEditorModel(std::optional<TaskItem> existingTodo, Date selectedDate, const Clock& clock,
                    std::function<Calendar()> calendar);

    const std::optional<TaskItem>& existingTodo() const { return m_existing; }
    Date selectedDate() const { return m_selectedDate; }
    bool isNew() const { return !m_existing.has_value(); }

    // --- state, read freely; changed only through the operations below
    const QString& title() const { return m_title; }
    TaskItem::Priority priority() const { return m_priority; }
    bool dueEnabled() const { return m_dueEnabled; }
    Date dueDate() const { return m_dueDate; }
    bool hasTime() const { return m_hasTime; }
    Date dueTime() const { return m_dueTime; }
    const std::vector<Subtask>& subtasks() const { return m_subtasks; }
    const QString& newStep() const { return m_newStep; }
    const QString& notes() const { return m_notes; }
    RepeatOption repeatOption() const { return m_repeatOption; }
    bool reminderEnabled() const { return m_reminderEnabled; }
    Date reminderDate() const { return m_reminderDate; }
    std::optional<ReminderMode> reminderMode() const { return m_reminderMode; }
    ReminderPreset reminderPreset() const { return m_reminderPreset; }
    DueDateReminderPreset dueDateReminderPreset() const { return m_dueDateReminderPreset; }
    Date customReminderTime() const { return m_customReminderTime; }

    // --- rules
    // 09:00 on the day of `day`, or 23:59 when that day is today.
    Date defaultTime(Date day) const;
    // The moment on the day of `day` at the hour and minute of `clock`.
    Date timeOfDay(Date clock, Date day) const;
    ReminderInference inferReminderSettings(std::optional<Date> stored, Date dueDate, bool hasTime, Date dueTime) const;
    void recomputeReminderDate();
    void applyDefaultReminderMode();

    // --- edits; the limits cut at what a person sees as one character
    void setTitle(const QString& text);
    void setPriority(TaskItem::Priority priority) { m_priority = priority; }
    // Switching the due date or the reminder also runs what follows from it.
    void setDueEnabled(bool on);
    void dueDateChanged(Date day);
    void dueTimeChanged(Date time);
    // Returns true when the reminder was switched on, so the caller checks notification permission.
    bool setReminderEnabled(bool on);
    void selectReminderPreset(ReminderPreset preset);
    void selectDueDateReminderPreset(DueDateReminderPreset preset);
    void customReminderTimeChanged(Date time);
    void selectRepeatOption(RepeatOption option) { m_repeatOption = option; }
    void toggleStep(qsizetype index);
    QString stepTitle(qsizetype index) const;
    void setStepTitle(const QString& text, qsizetype index);
    void removeStep(qsizetype index);
    void setNewStep(const QString& text);
    // Returns whether a step was added.
    bool addStep();
    void setNotes(const QString& text);

    // --- saving and change detection
    TaskDraft draft() const;
    void markShown() { m_initialDraft = draft(); }
    bool hasChanges() const { return m_initialDraft && *m_initialDraft != draft(); }
    bool canSave() const { return !m_title.trimmed().isEmpty(); }
    // The record to hand to the caller; fills in the default reminder mode when it is missing.
    TaskItem save();

    // --- texts
    QString headerTitle() const;
    QString saveButtonTitle() const { return isNew() ? QStringLiteral("Add") : QStringLiteral("Save"); }
    QString footerText() const;
    QString stepsHeader() const;
    QString reminderMenuLabel() const;
    // The reminder's day beside the "Remind at" picker, which shows only a clock time: "on Monday,
    // December 7" while the reminder is not on the day the editor was opened for; else empty.
    QString reminderDayText() const;
    bool isChecked(ReminderPreset preset) const;
    bool isChecked(DueDateReminderPreset preset) const;
    static QString repeatOptionText(RepeatOption option);
    // The delete alert follows the stored record: a to-do of a series takes the whole series.
    QString deleteButtonTitle() const;
    QString deleteMessage() const;

    // A to-do repeats when it has a repeat option or still belongs to a series.
    static bool isRepeating(const TaskItem& todo);
    // A clock time as a to-do's time text: the locale's short form without seconds, or 24-hour
    // digits where the time parser could not read that form back.
    static QString formatTime(int hour, int minute);

private:
    Calendar calendar() const { return m_calendar(); }
    Date now() const { return m_clock->now(); }
    Date nineToday() const;
    std::optional<Date> clockTimeFromText(const QString& text) const;
    Date compose(Date day, Date clock) const;
    Date baseDay() const { return m_dueEnabled ? m_dueDate : m_selectedDate; }

    std::optional<TaskItem> m_existing;
    Date m_selectedDate;
    const Clock* m_clock;
    std::function<Calendar()> m_calendar;

    QString m_title;
    TaskItem::Priority m_priority = TaskItem::Priority::medium;
    bool m_dueEnabled = false;
    Date m_dueDate = 0;
    bool m_hasTime = false;
    Date m_dueTime = 0;
    std::vector<Subtask> m_subtasks;
    QString m_newStep;
    QString m_notes;
    RepeatOption m_repeatOption = RepeatOption::none;
    bool m_reminderEnabled = false;
    Date m_reminderDate = 0;
    std::optional<ReminderMode> m_reminderMode;
    ReminderPreset m_reminderPreset = ReminderPreset::atDueTime;
    DueDateReminderPreset m_dueDateReminderPreset = DueDateReminderPreset::onDueDate;
    Date m_customReminderTime = 0;
    std::optional<TaskDraft> m_initialDraft;
    // A stored time the controls cannot show (no due date, or text the parser does not read)
    // survives a save unless the person touched the due-date or time controls.
    bool m_timeTouched = false;
};
