#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The windows a compositor's own script listed, bottom first, as a JSON array of
// {title, app, focused, parent, x, y, width, height}.
inline QList<DesktopWindow> desktopWindowsFromJson(const QByteArray& json)
{
    QList<DesktopWindow> found;
    for (const QJsonValue value : QJsonDocument::fromJson(json).array()) {
        const QJsonObject w = value.toObject();
        DesktopWindow window;
        window.title = w.value(QLatin1String("title")).toString();
        window.appId = w.value(QLatin1String("app")).toString();
        window.focused = w.value(QLatin1String("focused")).toBool();
        window.parentTitle = w.value(QLatin1String("parent")).toString();
        window.frame = QRect(w.value(QLatin1String("x")).toInt(), w.value(QLatin1String("y")).toInt(),
                             w.value(QLatin1String("width")).toInt(), w.value(QLatin1String("height")).toInt());
        found.append(window);
    }
    return found;
}
