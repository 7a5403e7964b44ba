#include "app/PopoverContent.h"
#include "model/LocaleFormats.h"

#include "model/Text.h"
#include "store/StorageService.h"

#include <QRegularExpression>
#include <QUuid>

namespace PopoverContent {

std::vector<TaskItem> followingTodos(const StorageService& storage)
{
    std::vector<TaskItem> following;
    const auto focus = storage.todos().focusTodo();
    if (!focus)
        return following;
    for (const TaskItem& todo : storage.todos().openTodos())
        if (todo.id != focus->id)
            following.push_back(todo);
    return following;
}

std::optional<QString> summaryLine(const StorageService& storage, int moreCount)
{
    QStringList parts;
    if (moreCount >= 1)
        parts.append(QStringLiteral("+ %1 more").arg(moreCount));
    const auto earlier = storage.todos().earlierTodos();
    if (!earlier.empty())
        parts.append(QStringLiteral("%1 from earlier").arg(earlier.size()));
    const auto today = storage.todos().todayTodos();
    const auto done = std::count_if(today.begin(), today.end(), [](const TaskItem& t) { return t.isCompleted; });
    if (done >= 1 && storage.todos().focusTodo())
        parts.append(QStringLiteral("%1 done").arg(done));
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(QStringLiteral(" \u00b7 "));
}

QString dateText(Date now, const Calendar& calendar)
{
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(qint64(now * 1000), calendar.timeZone());
    return LocaleFormats::dayLine(calendar.locale(), moment.date());
}

std::optional<TaskItem> quickTodo(const QString& text, Date now, const Calendar& calendar)
{
    const QString title = Text::leftCharacters(text.trimmed(), quickAddLimit);
    if (title.isEmpty())
        return std::nullopt;
    TaskItem todo;
    todo.id = QUuid::createUuid();
    todo.title = title;
    todo.time = TaskItem::anytime;
    todo.priority = TaskItem::Priority::medium;
    todo.createdAt = calendar.startOfDay(now);
    todo.updatedAt = todo.createdAt;
    return todo;
}

QPoint position(const QRect& icon, const std::optional<QPoint>& cursor, const QSize& popover, const QRect& screen,
                const QRect& available)
{
    const QRect area = available.isValid() && !available.isEmpty() ? available : screen;
    const int gap = 6;
    const auto kept = [&](int x, int y) {
        x = std::clamp(x, area.left() + gap, std::max(area.left() + gap, area.right() + 1 - gap - popover.width()));
        y = std::clamp(y, area.top() + gap, std::max(area.top() + gap, area.bottom() + 1 - gap - popover.height()));
        return QPoint(x, y);
    };
    if ((icon.isValid() && !icon.isEmpty()) || cursor) {
        const QRect anchor = icon.isValid() && !icon.isEmpty() ? icon : QRect(*cursor, QSize(1, 1));
        // Under the anchor when the tray is in the top half of the screen, above it otherwise.
        const int y =
            anchor.center().y() < area.center().y() ? anchor.bottom() + 1 + gap : anchor.top() - gap - popover.height();
        return kept(anchor.center().x() - popover.width() / 2, y);
    }
    const int top = area.top() - screen.top();
    const int bottom = screen.bottom() - area.bottom();
    const int left = area.left() - screen.left();
    const int right = screen.right() - area.right();
    const int right_x = area.right() + 1 - gap - popover.width();
    const int bottom_y = area.bottom() + 1 - gap - popover.height();
    if (bottom > std::max({top, left, right}))
        return kept(right_x, bottom_y);
    if (left > std::max(top, right))
        return kept(area.left() + gap, bottom_y);
    if (right > top)
        return kept(right_x, bottom_y);
    return kept(right_x, area.top() + gap);
}

} // namespace PopoverContent
