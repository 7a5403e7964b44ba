#pragma once

#include "model/TaskItem.h"
#include "model/TaskItemsView.h"

#include <algorithm>
#include <vector>

// The to-dos in the order everyone sees them and the file holds them, newest first. They are held
// the other way round, newest last: a to-do added is put first without moving every other one,
// which at a hundred thousand to-dos held the window for several milliseconds.
class TodoList {
public:
    using value_type = TaskItem;
    using const_iterator = std::vector<TaskItem>::const_reverse_iterator;
    using iterator = const_iterator;

    TodoList() = default;
    // From a list in the order seen, with room for the to-dos a person adds next: the one added
    // when the room runs out moves every other one.
    explicit TodoList(std::vector<TaskItem> inOrder) : m_held(std::move(inOrder))
    {
        std::reverse(m_held.begin(), m_held.end());
        m_held.reserve(m_held.size() + m_held.size() / 16 + 64);
    }

    const_iterator begin() const { return m_held.crbegin(); }
    const_iterator end() const { return m_held.crend(); }
    size_t size() const { return m_held.size(); }
    bool empty() const { return m_held.empty(); }
    const TaskItem& operator[](size_t i) const { return m_held[m_held.size() - 1 - i]; }
    const TaskItem& front() const { return m_held.back(); }
    const TaskItem& back() const { return m_held.front(); }
    // Where the to-dos are held: the same, with the same size, while pointers to them stay valid.
    const TaskItem* data() const { return m_held.data(); }
    // A copy in the order seen, for what takes a plain list: asked for by name, as it costs a
    // pass over all of them.
    std::vector<TaskItem> toVector() const { return {begin(), end()}; }
    // The to-dos in the order seen, read where they are.
    TaskItemsView view() const { return TaskItemsView::reversed(m_held.data(), m_held.size()); }

    // The store's own changes.
    TaskItem& at(size_t i) { return m_held[m_held.size() - 1 - i]; }
    void pushFront(TaskItem t) { m_held.push_back(std::move(t)); }
    // Puts `t` at place `i` of the order seen.
    void insertAt(size_t i, TaskItem t) { m_held.insert(m_held.end() - qsizetype(i), std::move(t)); }
    template <typename Pred> void eraseIf(Pred pred) { std::erase_if(m_held, pred); }
    void swap(TodoList& other) noexcept { m_held.swap(other.m_held); }

    friend bool operator==(const TodoList& a, const TodoList& b) { return a.m_held == b.m_held; }
    friend bool operator==(const TodoList& a, const std::vector<TaskItem>& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    std::vector<TaskItem> m_held;
};
