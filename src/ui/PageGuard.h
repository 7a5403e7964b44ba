#pragma once

#include <functional>

// A page that may hold work the person has not saved (an open editor with changes). Before the
// window replaces it, it is asked; it closes what holds nothing, or asks the person.
class PageGuard {
public:
    virtual ~PageGuard() = default;
    // True when the page may go at once. Otherwise the page has asked, and calls `leave` only
    // once the person agrees to lose the work; if they keep it, the page stays.
    virtual bool mayLeave(std::function<void()> leave) = 0;
};
