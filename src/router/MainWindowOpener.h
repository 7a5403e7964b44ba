#pragma once

#include <functional>

// The one way to ask for the main window. Whoever can show it registers a handler (the latest
// wins); a request before any registration is remembered and served by the next one, once.
class MainWindowOpener {
public:
    void registerHandler(std::function<void()> handler)
    {
        m_handler = std::move(handler);
        if (m_pending && m_handler) {
            m_pending = false;
            m_handler();
        }
    }
    void request()
    {
        if (m_handler)
            m_handler();
        else
            m_pending = true;
    }
    bool isPending() const { return m_pending; }
    bool hasHandler() const { return bool(m_handler); }

private:
    std::function<void()> m_handler;
    bool m_pending = false;
};
