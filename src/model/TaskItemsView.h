#pragma once

#include "model/TaskItem.h"

#include <cstddef>
#include <iterator>
#include <vector>

// To-dos read where they are held, in the order seen, for what reads a whole list without
// keeping it: a plain list, or one held the other way round. Copying a long list only to read it
// took longer than a frame.
class TaskItemsView {
public:
    TaskItemsView(const std::vector<TaskItem>& items) : m_held(items.data()), m_size(items.size()) {}
    // `held` holds the last seen first.
    static TaskItemsView reversed(const TaskItem* held, size_t size) { return TaskItemsView(held, size, true); }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const TaskItem& operator[](size_t i) const { return m_reversed ? m_held[m_size - 1 - i] : m_held[i]; }

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = TaskItem;
        using difference_type = std::ptrdiff_t;
        using pointer = const TaskItem*;
        using reference = const TaskItem&;

        const_iterator() = default;
        const_iterator(const TaskItemsView* view, size_t i) : m_view(view), m_i(i) {}
        reference operator*() const { return (*m_view)[m_i]; }
        pointer operator->() const { return &(*m_view)[m_i]; }
        const_iterator& operator++()
        {
            ++m_i;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            ++m_i;
            return was;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.m_i == b.m_i; }

    private:
        const TaskItemsView* m_view = nullptr;
        size_t m_i = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }

private:
    TaskItemsView(const TaskItem* held, size_t size, bool reversed) : m_held(held), m_size(size), m_reversed(reversed)
    {
    }

    const TaskItem* m_held;
    size_t m_size;
    bool m_reversed = false;
};
