#pragma once

#include "onboarding/OnboardingControls.h"
#include "onboarding/OnboardingFlow.h"
#include "ui/QueuedCall.h"

#include <QDialog>
#include <QPointer>
#include <QUrl>
#include <functional>

struct AppContext;
class LoginItem;

class QLineEdit;
class QVBoxLayout;

// The first-run sheet over the main window: nine steps, each built when it is shown, all choices
// kept in an OnboardingFlow until the done step's "Start focusing". It cannot be closed: Escape
// goes back on the steps with a footer, and the window's close button does nothing.
class OnboardingView : public QDialog {
    Q_OBJECT
public:
    using Step = OnboardingFlow::Step;
    // Installs the program and relaunches it; false with a message when nothing was started.
    using MoveHandler = std::function<bool(QString* error)>;
    using UrlOpener = std::function<bool(const QUrl&)>;
    // Installs the program for everyone (asking for the administrator's password); `done` gets
    // what happened, in words, and whether it worked. Empty: the route is not offered.
    using MachineHandler = std::function<void(std::function<void(const QString& said, bool ok)> done)>;

    // The project's page on sharing one database between computers.
    static inline const QString syncGuideLink = QStringLiteral("https://quillharbour.app/sync");

    OnboardingView(AppContext& context, int startStep, std::function<void()> onFinish, QWidget* parent = nullptr);
    // `shouldOfferMove` decides whether the flow opens on the install step.
    OnboardingView(AppContext& context, int startStep, std::function<void()> onFinish,
                   const std::function<bool()>& shouldOfferMove, QWidget* parent = nullptr);
    ~OnboardingView() override;

    OnboardingFlow& flow() { return m_flow; }
    Step step() const { return m_flow.step(); }
    LoginItem& launchAtLogin() { return *m_login; }
    void setMoveHandler(MoveHandler handler) { m_move = std::move(handler); }
    // `command`: the same install as a person types it, offered to copy when it fails.
    void setMachineHandler(MachineHandler handler, const QString& command = {});
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    // Step changes cross-fade for a quarter of a second unless turned off (screenshots).
    void setAnimated(bool animated) { m_animated = animated; }

    void go(Step target);
    void back();
    void finish();
    void install();
    void installForEveryone();
    // While the browser step shows: probes again every browser whose permission was refused.
    void reconnectBrowsersNeedingPermission();
    // The browsers and the login item as the system has them now.
    void refreshSystemState();

    // The step's primary button (Continue, Get started, …); null on a step without one.
    OnboardingButton* primaryButton() const { return m_primary; }
    QWidget* page() const { return m_page; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

public slots:
    void reject() override;

private:
    // Where the person finds the program again: its tray icon, or the applications menu.
    bool hasTray() const;
    void showStep();
    void changed();
    void scheduleChanged();

    QWidget* singleColumn(const QString& headerLabel, QWidget* content, QWidget* footer);
    // `fitPreview` is told the width the dark panel leaves for the preview, each time it changes.
    QWidget* twoColumns(QWidget* content, QWidget* footer, QWidget* preview,
                        std::function<void(int width)> fitPreview = {});
    QWidget* header(const QString& label, int barWidth);
    QWidget* footer(bool withSkip, const QString& primaryTitle);

    QWidget* buildInstall();
    QWidget* buildWelcome();
    QWidget* buildDailyScroll();
    QWidget* buildHowItWorks();
    QWidget* buildSites();
    QWidget* buildBrowser();
    QWidget* buildPriority();
    QWidget* buildOtherComputer();
    QWidget* buildDone();
    void primaryPressed();
    void skipPressed();

    AppContext& m_context;
    OnboardingFlow m_flow;
    std::function<void()> m_onFinish;
    LoginItem* m_login;
    MoveHandler m_move;
    MachineHandler m_machine;
    bool m_machineRunning = false;
    QString m_machineNote; // what the install for everyone is doing or did, when it did not fail
    QString m_machineCommand;
    bool m_machineFailed = false;
    UrlOpener m_openUrl;
    QVBoxLayout* m_root = nullptr;
    QPointer<QWidget> m_page;
    QPointer<OnboardingButton> m_primary;
    // Brings the shown step's changing parts up to date with the flow and the services.
    std::function<void()> m_update;
    QueuedCall m_queuedChange{this, [this] { changed(); }};
    bool m_refreshedOnce = false;
    bool m_animated = true;
};
