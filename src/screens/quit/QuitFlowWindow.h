#pragma once

#include "screens/quit/QuitFlowModel.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class AppRouter;
class MainWindowOpener;
class QLabel;
class QVBoxLayout;
class StorageService;

// The three steps over one model: why, a moment of reflection, and two minutes of waiting.
class QuitFlowView : public QWidget {
    Q_OBJECT
public:
    QuitFlowView(QuitFlowModel& model, const StorageService& storage, QWidget* parent = nullptr);

    std::function<void()> onKeepRunning;
    std::function<void(QuitAlternative)> onAlternative;
    std::function<void()> onQuit;

private:
    void rebuild();
    void refresh();
    QWidget* reasonStep();
    QWidget* reflectStep();
    QWidget* waitStep();
    QWidget* buttonRow(QWidget* second);

    QuitFlowModel& m_model;
    const StorageService& m_storage;
    QVBoxLayout* m_layout = nullptr;
    QWidget* m_content = nullptr;
    QuitFlowModel::Step m_builtStep{};
    bool m_built = false;
    std::function<void()> m_refresh; // updates the shown step in place
};

// The quit window: one at a time, process-wide. What it needs from the application comes in
// `Hooks`; closing it in any way but the last step leaves the program running.
class QuitFlowWindow : public QWidget {
    Q_OBJECT
public:
    struct Hooks {
        StorageService* storage = nullptr;
        AppRouter* router = nullptr;
        MainWindowOpener* opener = nullptr;
        const MonotonicClock* clock = nullptr;
        std::function<QWidget*()> mainWindow; // closed by "Close the window instead"
        std::function<void()> activate;       // brings the application forward
    };

    // Opens the quit window, or brings the open one forward unchanged.
    static QuitFlowWindow* show(const Hooks& hooks, std::function<void()> onQuit);
    static QuitFlowWindow* current();

    QuitFlowModel& model() { return m_model; }
    void handle(QuitAlternative alternative);
    void finishQuit();
    void keepRunning();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QuitFlowWindow(const Hooks& hooks, std::function<void()> onQuit);

    Hooks m_hooks;
    std::function<void()> m_onQuit;
    QuitFlowModel m_model;
};
