#include "screens/todos/TaskEditorModel.h"

#include "model/LocaleFormats.h"
#include "model/Text.h"

#include <QKeySequence>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

TaskEditorModel::TaskEditorModel(std::optional<TaskItem> existingTodo, Date selectedDate, const Clock& clock,
                                 std::function<Calendar()> calendar)
    : m_existing(std::move(existingTodo)), m_selectedDate(selectedDate), m_clock(&clock),
      m_calendar(std::move(calendar))
{
    const TaskItem* e = m_existing ? &*m_existing : nullptr;
    m_title = e ? e->title : QString();
    m_priority = e ? e->priority : TaskItem::Priority::medium;
    m_dueEnabled = e && e->dueDate;
    m_dueDate = e && e->dueDate ? *e->dueDate : selectedDate;

    const QString time = e ? e->time : TaskItem::anytime;
    m_hasTime = time != TaskItem::anytime && !time.isEmpty();
    const std::optional<Date> clockTime = clockTimeFromText(time);
    m_dueTime = clockTime.value_or(defaultTime(m_dueDate));

    if (e) {
        m_subtasks = e->subtasks;
        m_notes = e->notes.value_or(QString());
        m_repeatOption = e->repeatOption;
        m_reminderEnabled = e->reminderDate.has_value();
    }
    const Date reminderClock = m_hasTime && clockTime ? *clockTime : defaultTime(m_dueDate);
    m_reminderDate = e && e->reminderDate ? *e->reminderDate : compose(m_dueDate, reminderClock);

    const std::optional<Date> stored = e ? e->reminderDate : std::nullopt;
    const ReminderInference inferred = inferReminderSettings(stored, m_dueDate, m_hasTime, m_dueTime);
    if (stored)
        m_reminderMode = inferred.mode;
    m_reminderPreset = inferred.preset;
    m_dueDateReminderPreset = inferred.dueDatePreset;
    m_customReminderTime = inferred.customTime;
}

Date TaskEditorModel::defaultTime(Date day) const
{
    const Calendar cal = calendar();
    const bool today = cal.isSameDay(day, now());
    return cal.date(cal.localDate(day), today ? 23 : 9, today ? 59 : 0, 0);
}

Date TaskEditorModel::timeOfDay(Date clock, Date day) const
{
    return compose(day, clock);
}

Date TaskEditorModel::compose(Date day, Date clock) const
{
    const Calendar cal = calendar();
    const LocalDateTime c = cal.components(clock);
    return cal.date(cal.localDate(day), c.hour, c.minute, 0);
}

Date TaskEditorModel::nineToday() const
{
    const Calendar cal = calendar();
    return cal.date(cal.localDate(now()), 9, 0, 0);
}

std::optional<Date> TaskEditorModel::clockTimeFromText(const QString& text) const
{
    const std::optional<int> minutes = TaskItem::minutesOfDay(text);
    if (!minutes)
        return std::nullopt;
    const Calendar cal = calendar();
    return cal.date(cal.localDate(now()), *minutes / 60, *minutes % 60, 0);
}

ReminderInference TaskEditorModel::inferReminderSettings(std::optional<Date> stored, Date dueDate, bool hasTime,
                                                         Date dueTime) const
{
    ReminderInference result;
    result.customTime = nineToday();
    if (!stored)
        return result;
    const Calendar cal = calendar();
    const Date due = compose(dueDate, hasTime ? dueTime : defaultTime(dueDate));
    const double m = (due - *stored) / 60.0;
    struct Band {
        double low, high;
        ReminderPreset preset;
    };
    static constexpr Band bands[] = {
        {-2, 2, ReminderPreset::atDueTime},         {3, 7, ReminderPreset::fiveMinBefore},
        {13, 17, ReminderPreset::fifteenMinBefore}, {55, 65, ReminderPreset::oneHourBefore},
        {115, 125, ReminderPreset::twoHoursBefore},
    };
    for (const Band& band : bands) {
        if (m >= band.low && m <= band.high) {
            result.preset = band.preset;
            return result;
        }
    }
    const qint64 days = cal.daysBetween(*stored, dueDate);
    if (cal.components(*stored).hour == 9 && days >= 0 && days <= 2) {
        result.mode = ReminderMode::byDueDate;
        result.dueDatePreset = days == 0   ? DueDateReminderPreset::onDueDate
                               : days == 1 ? DueDateReminderPreset::oneDayBefore
                                           : DueDateReminderPreset::twoDaysBefore;
        return result;
    }
    result.mode = ReminderMode::customTime;
    result.customTime = compose(now(), *stored);
    return result;
}

void TaskEditorModel::recomputeReminderDate()
{
    if (!m_reminderMode)
        return;
    const Calendar cal = calendar();
    const Date base = baseDay();
    switch (*m_reminderMode) {
    case ReminderMode::byDueTime: {
        const Date source = m_dueEnabled && m_hasTime ? m_dueTime : defaultTime(base);
        m_reminderDate = ::reminderDate(m_reminderPreset, compose(base, source), cal);
        break;
    }
    case ReminderMode::byDueDate:
        m_reminderDate = ::reminderDate(m_dueDateReminderPreset, base, cal);
        break;
    case ReminderMode::customTime:
        m_reminderDate = compose(base, m_customReminderTime);
        break;
    }
}

void TaskEditorModel::applyDefaultReminderMode()
{
    if (m_dueEnabled) {
        m_reminderMode = ReminderMode::byDueTime;
        m_reminderPreset = ReminderPreset::atDueTime;
    } else {
        m_reminderMode = ReminderMode::customTime;
        m_customReminderTime = nineToday();
    }
    recomputeReminderDate();
}

void TaskEditorModel::setTitle(const QString& text)
{
    m_title = Text::leftCharacters(text, titleLimit);
}

void TaskEditorModel::setDueEnabled(bool on)
{
    if (on == m_dueEnabled)
        return;
    m_dueEnabled = on;
    m_timeTouched = true;
    if (on) {
        m_dueDate = m_selectedDate;
        m_dueTime = defaultTime(m_selectedDate);
        m_hasTime = true;
        m_reminderMode.reset();
        if (m_reminderEnabled)
            applyDefaultReminderMode();
    } else {
        m_reminderMode = ReminderMode::customTime;
        if (m_reminderEnabled)
            recomputeReminderDate();
    }
}

void TaskEditorModel::dueDateChanged(Date day)
{
    m_dueDate = day;
    m_dueTime = timeOfDay(m_dueTime, day);
    m_hasTime = true;
    m_timeTouched = true;
    if (m_reminderEnabled)
        recomputeReminderDate();
}

void TaskEditorModel::dueTimeChanged(Date time)
{
    m_dueTime = timeOfDay(time, m_dueDate);
    m_hasTime = true;
    m_timeTouched = true;
    if (m_reminderEnabled)
        recomputeReminderDate();
}

bool TaskEditorModel::setReminderEnabled(bool on)
{
    if (on == m_reminderEnabled)
        return false;
    m_reminderEnabled = on;
    if (on)
        applyDefaultReminderMode();
    return on;
}

void TaskEditorModel::selectReminderPreset(ReminderPreset preset)
{
    m_reminderMode = ReminderMode::byDueTime;
    m_reminderPreset = preset;
    recomputeReminderDate();
}

void TaskEditorModel::selectDueDateReminderPreset(DueDateReminderPreset preset)
{
    m_reminderMode = ReminderMode::byDueDate;
    m_dueDateReminderPreset = preset;
    recomputeReminderDate();
}

void TaskEditorModel::customReminderTimeChanged(Date time)
{
    m_customReminderTime = time;
    m_reminderMode = ReminderMode::customTime;
    recomputeReminderDate();
}

void TaskEditorModel::toggleStep(qsizetype index)
{
    if (index >= 0 && index < qsizetype(m_subtasks.size()))
        m_subtasks[size_t(index)].isCompleted = !m_subtasks[size_t(index)].isCompleted;
}

QString TaskEditorModel::stepTitle(qsizetype index) const
{
    if (index >= 0 && index < qsizetype(m_subtasks.size()))
        return m_subtasks[size_t(index)].title;
    return {};
}

void TaskEditorModel::setStepTitle(const QString& text, qsizetype index)
{
    if (index >= 0 && index < qsizetype(m_subtasks.size()))
        m_subtasks[size_t(index)].title = Text::leftCharacters(text, stepLimit);
}

void TaskEditorModel::removeStep(qsizetype index)
{
    // A row drawn before the list changed may name a position that is gone.
    if (index >= 0 && index < qsizetype(m_subtasks.size()))
        m_subtasks.erase(m_subtasks.begin() + index);
}

void TaskEditorModel::setNewStep(const QString& text)
{
    m_newStep = Text::leftCharacters(text, stepLimit);
}

bool TaskEditorModel::addStep()
{
    const QString trimmed = m_newStep.trimmed();
    if (trimmed.isEmpty())
        return false;
    m_subtasks.push_back(Subtask{QUuid::createUuid(), Text::leftCharacters(trimmed, stepLimit), false});
    m_newStep.clear();
    return true;
}

void TaskEditorModel::setNotes(const QString& text)
{
    m_notes = Text::leftCharacters(text, notesLimit);
}

TaskDraft TaskEditorModel::draft() const
{
    TaskDraft d;
    d.title = m_title;
    d.priority = m_priority;
    d.dueEnabled = m_dueEnabled;
    d.dueDate = m_dueDate;
    d.hasTime = m_hasTime;
    d.dueTime = m_dueTime;
    d.steps.reserve(m_subtasks.size());
    for (const Subtask& s : m_subtasks)
        d.steps.push_back({s.title, s.isCompleted});
    d.newStep = m_newStep;
    d.notes = m_notes;
    d.repeatOption = m_repeatOption;
    d.reminderEnabled = m_reminderEnabled;
    d.reminderDate = m_reminderDate;
    return d;
}

TaskItem TaskEditorModel::save()
{
    const Calendar cal = calendar();
    const TaskItem* e = m_existing ? &*m_existing : nullptr;
    TaskItem t;
    t.createdAt = e ? e->createdAt : cal.startOfDay(m_selectedDate);
    if (m_dueEnabled) {
        t.dueDate = m_dueDate;
        if (cal.localDate(m_dueDate) < cal.localDate(t.createdAt))
            t.createdAt = cal.startOfDay(m_dueDate);
    }
    if (e && m_hasTime && !m_timeTouched) {
        t.time = e->time;
    } else if (m_dueEnabled && m_hasTime) {
        const LocalDateTime c = cal.components(m_dueTime);
        t.time = formatTime(c.hour, c.minute);
    } else {
        t.time = TaskItem::anytime;
    }
    if (m_reminderEnabled && !m_reminderMode)
        applyDefaultReminderMode();
    for (const Subtask& s : m_subtasks)
        if (!s.title.trimmed().isEmpty())
            t.subtasks.push_back(s);
    if (const QString pending = m_newStep.trimmed(); !pending.isEmpty())
        t.subtasks.push_back(Subtask{QUuid::createUuid(), pending, false});
    t.id = e ? e->id : QUuid::createUuid();
    t.title = m_title.trimmed();
    t.priority = m_priority;
    t.isCompleted = e && e->isCompleted;
    if (m_reminderEnabled)
        t.reminderDate = m_reminderDate;
    if (!m_notes.isEmpty())
        t.notes = m_notes;
    t.repeatOption = m_repeatOption;
    if (m_repeatOption != RepeatOption::none)
        t.recurringSeriesId = e && e->recurringSeriesId ? *e->recurringSeriesId : QUuid::createUuid();
    t.updatedAt = t.createdAt;
    return t;
}

QString TaskEditorModel::headerTitle() const
{
    if (!isNew())
        return QStringLiteral("Edit to-do");
    const Calendar cal = calendar();
    const QDate day = cal.localDate(m_selectedDate);
    return QStringLiteral("New to-do · ") + cal.locale().dayName(day.dayOfWeek(), QLocale::LongFormat);
}

QString TaskEditorModel::footerText() const
{
    const QString save = QKeySequence(Qt::CTRL | Qt::Key_Return).toString(QKeySequence::NativeText);
    return QStringLiteral("Esc to cancel · %1 to %2")
        .arg(save, isNew() ? QStringLiteral("add") : QStringLiteral("save"));
}

QString TaskEditorModel::stepsHeader() const
{
    if (m_subtasks.empty())
        return QStringLiteral("Steps");
    const auto done =
        std::count_if(m_subtasks.begin(), m_subtasks.end(), [](const Subtask& s) { return s.isCompleted; });
    return QStringLiteral("Steps · %1 of %2").arg(done).arg(m_subtasks.size());
}

QString TaskEditorModel::reminderMenuLabel() const
{
    if (m_reminderMode == ReminderMode::byDueDate)
        return rawValue(m_dueDateReminderPreset);
    return rawValue(m_reminderPreset);
}

QString TaskEditorModel::reminderDayText() const
{
    if (!m_reminderEnabled || m_dueEnabled)
        return {};
    const Calendar cal = calendar();
    const QDate day = cal.localDate(m_reminderDate);
    const QDate opened = cal.localDate(m_selectedDate);
    if (day == opened)
        return {};
    QString text = QStringLiteral("on ") + LocaleFormats::dayLine(cal.locale(), day);
    if (day.year() != opened.year())
        text += QLatin1Char(' ') + LocaleFormats::effective(cal.locale()).toString(day.year());
    return text;
}

bool TaskEditorModel::isChecked(ReminderPreset preset) const
{
    return m_reminderMode == ReminderMode::byDueTime && m_reminderPreset == preset;
}

bool TaskEditorModel::isChecked(DueDateReminderPreset preset) const
{
    return m_reminderMode == ReminderMode::byDueDate && m_dueDateReminderPreset == preset;
}

QString TaskEditorModel::repeatOptionText(RepeatOption option)
{
    return option == RepeatOption::none ? QStringLiteral("Never") : rawValue(option);
}

QString TaskEditorModel::deleteButtonTitle() const
{
    return m_existing && isRepeating(*m_existing) ? QStringLiteral("Delete All") : QStringLiteral("Delete");
}

QString TaskEditorModel::deleteMessage() const
{
    return m_existing && isRepeating(*m_existing)
               ? QStringLiteral("Every occurrence of this repeating to-do will be removed.")
               : QStringLiteral("This to-do will be removed.");
}

bool TaskEditorModel::isRepeating(const TaskItem& todo)
{
    return todo.repeatOption != RepeatOption::none || todo.recurringSeriesId.has_value();
}

QString TaskEditorModel::formatTime(int hour, int minute)
{
    const QTime time(hour, minute);
    const QLocale locale;
    // Some locales (C among them) put seconds, zones or fractions into their short form.
    static const QRegularExpression extras(QStringLiteral("[^hHmaApP]*[sz]+|\\s*t+"));
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(extras);
    const QString text = locale.toString(time, format.trimmed());
    const std::optional<QTime> readBack = TaskItem::parseTime(text);
    if (readBack && readBack->hour() == hour && readBack->minute() == minute)
        return text;
    return time.toString(QStringLiteral("HH:mm"));
}
