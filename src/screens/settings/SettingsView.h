#pragma once

#include "model/SupportedBrowser.h"
#include "ui/QueuedCall.h"

#include <QHash>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

struct AppContext;
class BusySpinner;
class FocusButton;
class FocusOKText;
class FocusSwitch;
class LoginItem;
class QLabel;
class SettingsRow;
class TimeMoneyCard;
class WrappingLabel;

// The Settings page: browser connections, sync, launch at sign-in, the time-and-money card, the
// shortcuts, about, and the way out through the quit gate. It shows the services' live state and
// reads the login item and the stored card values again each time it is shown; the login item
// also when the application becomes active.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(AppContext& context, QWidget* parent = nullptr);
    ~SettingsView() override;

    using UrlOpener = std::function<bool(const QUrl&)>;
    // Where links go (the desktop's opener unless a test says otherwise).
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

    LoginItem& launchAtLogin() { return *m_login; }
    TimeMoneyCard* timeMoneyCard() const { return m_card; }
    const std::optional<QString>& connectionMessage() const { return m_connectionMessage; }

    void refreshOnAppear();
    void applicationBecameActive();
    void connectBrowser(const SupportedBrowser& browser);
    // Writes a launcher that starts the browser with remote debugging into the desktop's
    // applications folder, and says in the browsers' footer how that went.
    void createLauncher(const SupportedBrowser& browser);
    // Opens one of the page's fixed addresses, only when it parses as an allowed link.
    bool openLink(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct BrowserRowWidgets {
        SettingsRow* row = nullptr;
        FocusButton* connect = nullptr;
        FocusButton* tryAgain = nullptr;
        FocusOKText* connected = nullptr;
        FocusButton* fix = nullptr;
        FocusButton* launcher = nullptr;
    };

    QWidget* buildBrowsers();
    QWidget* buildSync();
    QWidget* buildProtection();
    QWidget* buildShortcuts();
    QWidget* buildAbout();
    void scheduleRefresh();
    void refresh();
    void refreshBrowsers();
    void refreshSync();
    void refreshProtection();
    void refreshBanner();

    AppContext& m_context;
    LoginItem* m_login;
    UrlOpener m_openUrl;
    std::optional<QString> m_connectionMessage;
    bool m_connectionMessageIsError = false;
    QueuedCall m_queuedRefresh{this, [this] { refresh(); }};

    QHash<QString, BrowserRowWidgets> m_browserRows;
    SettingsRow* m_noBrowserRow = nullptr;
    QLabel* m_alsoWorksWith = nullptr;
    QLabel* m_connectionLabel = nullptr;
    SettingsRow* m_syncRow = nullptr;
    BusySpinner* m_syncSpinner = nullptr;
    FocusButton* m_syncNow = nullptr;
    FocusSwitch* m_loginSwitch = nullptr;
    QWidget* m_approvalNote = nullptr;
    QLabel* m_loginError = nullptr;
    TimeMoneyCard* m_card = nullptr;
    QWidget* m_banner = nullptr;
    QLabel* m_bannerText = nullptr;
};
