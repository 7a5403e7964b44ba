#pragma once

#include "model/Calendar.h"
#include "model/TaskItem.h"
#include "ui/RoundedPanel.h"

#include <functional>
#include <memory>
#include <vector>

class EarlierTodoRow;
class LazyRows;
class QMenu;

// The rounded box of the past week's unfinished to-dos: a toggle that counts them and, while
// open, their rows. Only the rows in view are built, so a box of twenty thousand opens at once.
// Objects: "earlierBox", "earlierToggle", "earlierCount", "earlierChevron" (property "angle": 0
// pointing down, 180 up), "earlierRows" (while open).
class EarlierBox : public RoundedPanel {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> toggle;                          // the box asked to open or close
        std::function<void(const TaskItem&)> open;             // a row's title was clicked
        std::function<void(QMenu*, const TaskItem&)> fillMenu; // a row's menu, as it is built
    };

    // `easeIn`: the person just opened the box, so its rows fade in. `turn`: the person just
    // opened or closed it, so its chevron turns from where it pointed.
    EarlierBox(std::vector<TaskItem> earlier, bool open, bool easeIn, bool turn, Date now, const Calendar& calendar,
               const QFont& countFace, Actions actions, QWidget* parent = nullptr);
    ~EarlierBox() override;

    // The height the row of `todo` takes at `width`, as the list works it out without building it.
    int expectedHeight(const TaskItem& todo, int width);

private:
    QWidget* makeEntry(const TaskItem& todo, QWidget* parent);

    std::vector<TaskItem> m_earlier;
    Date m_now;
    Calendar m_calendar;
    Actions m_actions;
    LazyRows* m_rows = nullptr;
    // One entry never shown, given each to-do in turn to measure it.
    std::unique_ptr<QWidget> m_probe;
    EarlierTodoRow* m_probeRow = nullptr;
};
