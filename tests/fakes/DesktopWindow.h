#pragma once

#include <QList>
#include <QRect>
#include <QString>

// A window as a Wayland compositor has it, read from the compositor itself.
struct DesktopWindow {
    QString title;
    QString appId;
    bool focused = false; // has the keyboard
    QString parentTitle;  // the window it belongs to; empty when none, or when the desktop does not say
    QRect frame;
};

// `windows` go from the bottom of the stack up: the last of `appId` is its top window.
inline const DesktopWindow* topWindowOf(const QList<DesktopWindow>& windows, const QString& appId)
{
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (it->appId == appId)
            return &*it;
    return nullptr;
}
