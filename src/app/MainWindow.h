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

// The window "main": the navigation rail beside the page the router names, and the sheets that
// belong to the whole window (onboarding, urgent break), shown one at a time.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    using PageFactory = std::function<QWidget*(AppContext& context, QWidget* parent)>;
    using OnboardingFactory =
        std::function<QDialog*(AppContext& context, std::function<void()> onFinish, QWidget* parent)>;
    using UrgentBreakFactory = std::function<QDialog*(AppContext& context, const BlockRule& rule, QWidget* parent)>;

    static inline const QString onboardingCompletedKey = QStringLiteral("onboarding.completed.v1");

    explicit MainWindow(AppContext& context, QWidget* parent = nullptr);
    // The face of the navigation rail's symbols.
    static QFont railFace();

    // The page of a destination; until one is given, a page with its title only.
    void setPageFactory(AppRouter::Destination destination, PageFactory factory);
    void setOnboardingFactory(OnboardingFactory factory) { m_onboarding = std::move(factory); }
    void setUrgentBreakFactory(UrgentBreakFactory factory) { m_urgentBreak = std::move(factory); }

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
    std::array<PageFactory, 4> m_factories;
    OnboardingFactory m_onboarding;
    UrgentBreakFactory m_urgentBreak;
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
