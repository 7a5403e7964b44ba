#pragma once

#include "router/AppContext.h"
#include "router/AppRouter.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <array>
#include <deque>
#include <functional>

struct BlockRule;
class QAbstractButton;
class QStackedLayout;
class QWindow;

// What the main window shows: a page for each destination and the two sheets of the whole window.
// The window knows only this face of them: the program hands it its screens, a test of the window
// alone the placeholders.
class WindowScreens {
public:
    virtual ~WindowScreens() = default;
    virtual QWidget* page(AppRouter::Destination destination, AppContext& context, QWidget* parent) const = 0;
    // The first-run sheet; null when none is offered.
    virtual QDialog* onboarding(AppContext& context, std::function<void()> onFinish, QWidget* parent) const = 0;
    // The sheet of an urgent break on `rule`; null when there is none.
    virtual QDialog* urgentBreak(AppContext& context, const BlockRule& rule, QWidget* parent) const = 0;
};

// The window "main": the navigation rail beside the page the router names, and the sheets that
// belong to the whole window (onboarding, urgent break), shown one at a time.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    static inline const QString onboardingCompletedKey = QStringLiteral("onboarding.completed.v1");

    MainWindow(AppContext& context, const WindowScreens& screens, QWidget* parent = nullptr);
    // Pages with their title only, and no sheets.
    static const WindowScreens& placeholders();
    // The face of the navigation rail's symbols.
    static QFont railFace();

    // Shows `sheet` window-modal over this window, after any sheet already shown; the window owns
    // it from here and deletes it when it closes.
    void presentSheet(QDialog* sheet);
    QDialog* currentSheet() const { return m_sheet.data(); }
    // Restores, raises and activates the sheet shown, if any; false when there is none.
    bool bringSheetForward();
    // The page shown; none before the window was first shown.
    QWidget* currentPage() const { return m_page; }
    // How many pages were built so far (each visit builds its page afresh).
    int pagesBuilt() const { return m_pagesBuilt; }
    void setVisible(bool visible) override;
    // Builds the page the router names while the window is still hidden, so that showing it
    // later lays out and draws what is there; does nothing once a page exists.
    void preparePage();

    static QString title(AppRouter::Destination destination);
    static QWidget* placeholderPage(AppRouter::Destination destination, QWidget* parent);
    // The sheet for a rule id that names no rule any more.
    static QDialog* unavailableSheet(std::function<void()> onClose, QWidget* parent);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void destinationChanged();
    void showPage();
    void checkSheetsOnShow();
    void checkOnboarding();
    void checkUrgentBreak();
    void showNextSheet();
    void markRail(AppRouter::Destination destination);

    AppContext& m_context;
    const WindowScreens& m_screens;
    QStackedLayout* m_stack = nullptr;
    QWidget* m_page = nullptr;
    AppRouter::Destination m_shown = AppRouter::Destination::todos;
    std::array<QAbstractButton*, 4> m_railItems{};
    QPointer<QDialog> m_sheet;
    std::deque<QPointer<QDialog>> m_waiting;
    QPointer<QDialog> m_urgentSheet;
    bool m_onboardingShown = false;
    // Shown, and not yet exposed: the sheets the showing asks for wait.
    bool m_sheetsWaitForExposure = false;
    QPointer<QWindow> m_watchedHandle;
    int m_pagesBuilt = 0;
};
