#pragma once

#include "model/TaskItem.h"

#include <QJsonArray>
#include <random>

// The benchmarks' large to-do list: `count` to-dos with steps and reminders created over the 400
// days before `now`, 3 in 100 of them daily series (300 of 10,000). The first `onToday` are
// created at `now` and are not series, so that today's list has something to show. The same seed
// makes the same list.
inline QJsonArray largeTodoList(Date now, int onToday = 0, int count = 10000)
{
    std::mt19937 random(7);
    QJsonArray todos;
    const int series = count * 3 / 100;
    for (int i = 0; i < count; ++i) {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = QStringLiteral("To-do number %1 with a realistic title").arg(i);
        t.time = i % 3 == 0 ? TaskItem::anytime
                            : QStringLiteral("%1:%2 PM").arg(1 + i % 12).arg(i % 60, 2, 10, QLatin1Char('0'));
        t.priority = TaskItem::Priority(i % 3);
        t.isCompleted = i % 4 == 0;
        t.createdAt = now - 86400.0 * (i < onToday ? 0 : random() % 400);
        t.updatedAt = t.createdAt + 60;
        if (i % 5 == 0)
            t.reminderDate = now + 3600.0 * (random() % 200);
        for (int s = 0; s < i % 4; ++s)
            t.subtasks.push_back({QUuid::createUuid(), QStringLiteral("Step %1").arg(s), s % 2 == 0});
        if (i >= onToday && i < onToday + series) {
            t.repeatOption = RepeatOption::daily;
            t.recurringSeriesId = QUuid::createUuid();
        }
        todos.append(encodeTaskItem(t));
    }
    return todos;
}
