#pragma once

#include "router/AppContext.h"
#include "router/AppRouter.h"
#include "ui/QueuedCall.h"

#include <QElapsedTimer>
#include <QUuid>
#include <QWidget>
#include <functional>

class QLineEdit;
class QVBoxLayout;

// The tray's popover: the date, a banner when blocking is not doing its job, today's priority
// (or the quick-add card), the next two to-dos and a summary, and a link into the main window.
// A frameless tool window, hidden (not destroyed) on deactivation and Escape.
class Popover : public QWidget {
    Q_OBJECT
public:
    static constexpr int width = 372;

    Popover(AppContext& context, std::function<void(AppRouter::Destination)> openMainWindow, QWidget* parent = nullptr);

    bool isAdding() const { return m_adding; }
    void beginAdding();
    void cancelAdding();
    void addTodo();
    // Rebuilds from the store now (it also happens, queued, after every change).
    void refresh();
    // Shows it next to the tray icon (or the cursor) and gives it the keyboard.
    void popUp(const QRect& trayIcon);

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void scheduleRefresh();
    void closeIfLeft();
    QWidget* header();
    QWidget* banner();
    QWidget* priorityArea();
    QWidget* following();
    QWidget* footer();

    AppContext& m_context;
    std::function<void(AppRouter::Destination)> m_open;
    QVBoxLayout* m_layout = nullptr;
    QWidget* m_body = nullptr;
    QLineEdit* m_field = nullptr;
    QString m_newTitle;
    bool m_adding = false;
    QElapsedTimer m_pressed; // the last mouse press inside
    // The focus whose card has faded in: a rebuild of the same focus shows it as it is.
    QUuid m_fadedFocus;
    QueuedCall m_queuedRefresh{this, [this] { refresh(); }};
};
