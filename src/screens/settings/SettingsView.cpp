#include "screens/settings/SettingsView.h"

#include "blocking/BrowserAutomationService.h"
#include "browsers/BrowserLauncherOffer.h"
#include "platform/LoginItem.h"
#include "platform/Updater.h"
#include "router/AppContext.h"
#include "screens/settings/SettingsRow.h"
#include "screens/settings/SettingsTexts.h"
#include "screens/settings/TimeMoneyCard.h"
#include "store/StorageService.h"
#include "sync/SyncService.h"
#include "ui/Controls.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/FocusPage.h"
#include "ui/Headings.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WrappingLabel.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace {

FocusButton* linkButton(const QString& text, qreal size, QWidget* parent, const QString& name)
{
    auto* b = new FocusButton(text, FocusLinkButtonStyle{size, FocusColor::text()}, parent);
    b->setObjectName(name);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

} // namespace

SettingsView::SettingsView(AppContext& context, QWidget* parent)
    : QWidget(parent), m_context(context),
      m_login(context.makeLoginItem ? context.makeLoginItem(this) : new AbsentLoginItem(this)),
      m_openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("settingsView"));
    setPageTitle(this, QStringLiteral("Settings"));

    auto* main = new QWidget;
    auto* column = columnLayout(main, 30);
    column->addWidget(new FocusHeadline(QString(), QStringLiteral("Settings"), 42, nullptr, main));
    column->addWidget(buildBrowsers());
    column->addWidget(buildSync());
    column->addWidget(buildProtection());
    m_card = new TimeMoneyCard(context.defaults, 50, 2, main);
    column->addWidget(m_card);
    column->addWidget(buildShortcuts());
    column->addWidget(buildAbout());

    auto* quit = new QPushButton(QStringLiteral("Quit Quillharbour…"), main);
    quit->setObjectName(QStringLiteral("quitButton"));
    quit->setFlat(true);
    quit->setCursor(Qt::PointingHandCursor);
    quit->setFont(Theme::font(13, QFont::Bold));
    QPalette quitPalette = quit->palette();
    quitPalette.setColor(QPalette::ButtonText, FocusColor::alert());
    quit->setPalette(quitPalette);
    quit->setToolTip(QStringLiteral("Quitting stops website blocking. Closing the window keeps it running."));
    connect(quit, &QPushButton::clicked, this, [this] {
        if (m_context.requestQuit)
            m_context.requestQuit();
    });
    column->addWidget(quit, 0, Qt::AlignLeft);

    m_banner = new QWidget(main);
    m_banner->setObjectName(QStringLiteral("storeWarning"));
    auto* banner = rowLayout(m_banner, 6);
    banner->addWidget(new SymbolLabel(Symbol::warning, 12, FocusColor::alert(), m_banner), 0, Qt::AlignTop);
    m_bannerText = plainLabel(QString(), Theme::font(12, QFont::DemiBold), FocusColor::alert(), m_banner);
    m_bannerText->setWordWrap(true);
    banner->addWidget(m_bannerText, 1);
    column->addWidget(m_banner);
    column->addStretch(1);

    auto* page = new FocusPage(main, nullptr, 92, this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(page);

    // Service signals mark the page dirty and refresh it once, later: one store call emits several
    // signals, and a button's own handler may still be running.
    if (context.browsers)
        connect(context.browsers, &BrowserAutomationService::accessChanged, this, &SettingsView::scheduleRefresh);
    if (context.storage)
        connect(&context.storage->core(), &StoreCore::lastErrorChanged, this, &SettingsView::scheduleRefresh);
    if (context.sync) {
        connect(context.sync, &SyncService::isSyncingChanged, this, &SettingsView::scheduleRefresh);
        connect(context.sync, &SyncService::statusMessageChanged, this, &SettingsView::scheduleRefresh);
        connect(context.sync, &SyncService::lastErrorChanged, this, &SettingsView::scheduleRefresh);
    }
    connect(m_login, &LoginItem::statusChanged, this, &SettingsView::refreshProtection);
    connect(m_login, &LoginItem::errorMessageChanged, this, &SettingsView::refreshProtection);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                applicationBecameActive();
        });
    refresh();
}

SettingsView::~SettingsView() = default;

QWidget* SettingsView::buildBrowsers()
{
    auto* section = new SettingsSection(QStringLiteral("Browsers"), this);
    section->setObjectName(QStringLiteral("browsersSection"));
    m_noBrowserRow = new SettingsRow(QStringLiteral("No supported browser found"), section);
    m_noBrowserRow->setObjectName(QStringLiteral("noBrowserRow"));
    m_noBrowserRow->setDetail(
        QStringLiteral("Quillharbour works with Chrome, Chromium, Brave, Edge, Vivaldi, Opera and Firefox."));
    section->body()->addWidget(m_noBrowserRow);
    for (const SupportedBrowser& browser : SupportedBrowser::all()) {
        BrowserRowWidgets w;
        w.row = new SettingsRow(browser.name, section);
        w.row->setObjectName(QStringLiteral("browserRow_") + browser.id);
        const auto pill = [&](const QString& text, const QString& name) {
            auto* b = new FocusButton(text, FocusPillButtonStyle{false, 12.5}, w.row);
            b->setObjectName(name);
            b->setCursor(Qt::PointingHandCursor);
            connect(b, &QAbstractButton::clicked, this, [this, browser] { connectBrowser(browser); });
            w.row->addTrailing(b);
            return b;
        };
        w.connect = pill(QStringLiteral("Connect"), QStringLiteral("connect"));
        w.tryAgain = pill(QStringLiteral("Try Again"), QStringLiteral("tryAgain"));
        w.fix = new FocusButton(QString(), FocusPillButtonStyle{false, 12.5}, w.row);
        w.fix->setObjectName(QStringLiteral("fix"));
        w.fix->setCursor(Qt::PointingHandCursor);
        connect(w.fix, &QAbstractButton::clicked, this, [this, browser] {
            if (m_context.browsers)
                m_context.browsers->fix(browser);
        });
        w.row->addTrailing(w.fix);
        w.launcher = new FocusButton(QString(), FocusPillButtonStyle{false, 12.5}, w.row);
        w.launcher->setObjectName(QStringLiteral("createLauncher"));
        w.launcher->setCursor(Qt::PointingHandCursor);
        connect(w.launcher, &QAbstractButton::clicked, this, [this, browser] { createLauncher(browser); });
        w.row->addTrailing(w.launcher);
        w.connected = new FocusOKText(QStringLiteral("Connected"), w.row);
        w.connected->setObjectName(QStringLiteral("connected"));
        w.row->addTrailing(w.connected);
        section->body()->addWidget(w.row);
        m_browserRows.insert(browser.id, w);
    }

    auto* footer = new QVBoxLayout;
    footer->setContentsMargins(0, 10, 0, 0);
    footer->setSpacing(8);
    const QFont small = Theme::font(12);
    auto* privacy = new WrappingLabel(
        QStringLiteral("Quillharbour only checks the address of the tab you're on. It never reads the page, your "
                       "passwords or what you type. Its browser extension does nothing else."),
        section);
    privacy->setFont(small);
    privacy->setColor(FocusColor::textSecondary());
    footer->addWidget(privacy);
    m_alsoWorksWith = plainLabel(QString(), small, FocusColor::textSecondary(), section);
    m_alsoWorksWith->setObjectName(QStringLiteral("alsoWorksWith"));
    m_alsoWorksWith->setWordWrap(true);
    footer->addWidget(m_alsoWorksWith);
    m_connectionLabel = plainLabel(QString(), small, FocusColor::text(), section);
    m_connectionLabel->setObjectName(QStringLiteral("connectionMessage"));
    m_connectionLabel->setWordWrap(true);
    footer->addWidget(m_connectionLabel);
    auto* automation =
        linkButton(QStringLiteral("How to connect a browser"), 12, section, QStringLiteral("openAutomationSettings"));
    connect(automation, &QAbstractButton::clicked, this, [this] {
        if (m_context.browsers)
            m_context.browsers->openAutomationSettings();
    });
    footer->addWidget(automation, 0, Qt::AlignLeft);
    section->body()->addLayout(footer);
    return section;
}

QWidget* SettingsView::buildSync()
{
    auto* section = new SettingsSection(QStringLiteral("Sync"), this);
    section->setObjectName(QStringLiteral("syncSection"));
    m_syncRow = new SettingsRow(QStringLiteral("Sync to-dos and notes with your other computers"), section);
    m_syncRow->setObjectName(QStringLiteral("syncRow"));
    m_syncSpinner = new BusySpinner(m_syncRow);
    m_syncSpinner->setObjectName(QStringLiteral("syncSpinner"));
    m_syncSpinner->setAccessibleName(QStringLiteral("Syncing"));
    m_syncRow->addTrailing(m_syncSpinner);
    m_syncNow = linkButton(QStringLiteral("Sync now"), 12.5, m_syncRow, QStringLiteral("syncNow"));
    connect(m_syncNow, &QAbstractButton::clicked, this, [this] {
        // To-dos still being read would look deleted to the sync; it runs once they are in.
        if (m_context.sync && (!m_context.storage || m_context.storage->todosLoaded()))
            m_context.sync->syncNow();
    });
    m_syncRow->addTrailing(m_syncNow);
    section->body()->addWidget(m_syncRow);
    return section;
}

QWidget* SettingsView::buildProtection()
{
    auto* section = new SettingsSection(QStringLiteral("Stay protected"), this);
    section->setObjectName(QStringLiteral("protectionSection"));
    const QString title = QStringLiteral("Open Quillharbour when I sign in");
    auto* row = new SettingsRow(title, section);
    row->setDetail(QStringLiteral("Closing the window keeps blocking on. Quitting turns it off."));
    m_loginSwitch = new FocusSwitch(title, m_login->isEnabled(), row);
    m_loginSwitch->setObjectName(QStringLiteral("loginSwitch"));
    row->addTrailing(m_loginSwitch);
    // The switch shows what the system says after the change, never merely what was asked for.
    connect(m_loginSwitch, &QAbstractButton::toggled, this, [this](bool on) {
        m_login->setEnabled(on);
        refreshProtection();
    });
    section->body()->addWidget(row);

    m_approvalNote = new QWidget(section);
    m_approvalNote->setObjectName(QStringLiteral("loginApprovalNote"));
    auto* note = new QHBoxLayout(m_approvalNote);
    note->setContentsMargins(0, 10, 0, 0);
    note->setSpacing(10);
    auto* approvalText = plainLabel(QStringLiteral("Your desktop needs you to allow Quillharbour in its startup apps."),
                                    Theme::font(12, QFont::DemiBold), FocusColor::alert(), m_approvalNote);
    approvalText->setWordWrap(true);
    note->addWidget(approvalText);
    auto* open =
        linkButton(QStringLiteral("Open the autostart folder"), 12, m_approvalNote, QStringLiteral("openLoginItems"));
    connect(open, &QAbstractButton::clicked, this,
            [this] { m_openUrl(QUrl::fromLocalFile(QFileInfo(m_login->entryPath()).absolutePath())); });
    note->addWidget(open);
    note->addStretch(1);
    section->body()->addWidget(m_approvalNote);

    m_loginError = plainLabel(QString(), Theme::font(12, QFont::Medium), FocusColor::alert(), section);
    m_loginError->setObjectName(QStringLiteral("loginError"));
    m_loginError->setWordWrap(true);
    m_loginError->setContentsMargins(0, 8, 0, 0);
    section->body()->addWidget(m_loginError);
    return section;
}

QWidget* SettingsView::buildShortcuts()
{
    auto* section = new SettingsSection(QStringLiteral("Keyboard shortcuts"), this);
    section->setObjectName(QStringLiteral("shortcutsSection"));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(28);
    grid->setVerticalSpacing(0);
    const QList<SettingsTexts::Shortcut> shortcuts = SettingsTexts::shortcuts();
    for (int i = 0; i < shortcuts.size(); ++i) {
        auto* cell = new QWidget(section);
        cell->setObjectName(QStringLiteral("shortcut"));
        cell->setMinimumHeight(40);
        auto* row = new QHBoxLayout(cell);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(plainLabel(shortcuts[i].label, Theme::font(13.5, QFont::Medium), FocusColor::text(), cell));
        row->addStretch(1);
        row->addSpacing(8);
        row->addWidget(new KeyHint(shortcuts[i].keys, cell));
        addBottomHairline(cell);
        grid->addWidget(cell, i / 2, i % 2, Qt::AlignTop);
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    section->body()->addLayout(grid);
    return section;
}

QWidget* SettingsView::buildAbout()
{
    auto* section = new SettingsSection(QStringLiteral("About"), this);
    section->setObjectName(QStringLiteral("aboutSection"));
    auto* made = new SettingsRow(QStringLiteral("Made by one person"), section);
    made->setDetail(QStringLiteral("Questions, ideas or something that doesn't work? Write to me."));
    auto* contact = linkButton(QStringLiteral("Contact me"), 12.5, made, QStringLiteral("contactLink"));
    connect(contact, &QAbstractButton::clicked, this, [this] { openLink(SettingsTexts::contactLink); });
    made->addTrailing(contact);
    section->body()->addWidget(made);

    auto* website = new SettingsRow(QStringLiteral("Website"), section);
    auto* site = linkButton(SettingsTexts::websiteLabel, 12.5, website, QStringLiteral("websiteLink"));
    connect(site, &QAbstractButton::clicked, this, [this] { openLink(SettingsTexts::websiteLink); });
    website->addTrailing(site);
    section->body()->addWidget(website);

    auto* version = new SettingsRow(QStringLiteral("Version"), section);
    auto* versionText = plainLabel(SettingsTexts::versionText(QCoreApplication::applicationVersion()),
                                   Theme::font(12.5), FocusColor::textSecondary(), version);
    versionText->setObjectName(QStringLiteral("versionText"));
    version->addTrailing(versionText);
    auto* check = linkButton(QStringLiteral("Check for updates"), 12.5, version, QStringLiteral("checkForUpdates"));
    // Where the package manager updates programs the link is shown disabled and says why,
    // instead of doing nothing when pressed.
    Updater* updater = m_context.updater;
    if (!updater || !updater->canCheckForUpdates()) {
        check->setEnabled(false);
        check->setButtonStyle(FocusLinkButtonStyle{12.5, FocusColor::textSecondary()});
        if (updater)
            check->setToolTip(updater->unavailableText());
    } else {
        connect(check, &QAbstractButton::clicked, this, [updater] { updater->checkForUpdates(); });
    }
    version->addTrailing(check);
    section->body()->addWidget(version);
    return section;
}

bool SettingsView::openLink(const QString& text)
{
    const std::optional<QUrl> url = SettingsTexts::safeLink(text);
    return url && m_openUrl(*url);
}

void SettingsView::connectBrowser(const SupportedBrowser& browser)
{
    if (m_context.browsers)
        m_context.browsers->connect(browser);
    m_connectionMessage = SettingsTexts::connectionMessage(browser);
    m_connectionMessageIsError = false;
    refreshBrowsers();
}

void SettingsView::createLauncher(const SupportedBrowser& browser)
{
    const BrowserLauncherOffer::Outcome outcome = BrowserLauncherOffer::create(
        browser, QDir::homePath(), QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation));
    // Writing the launcher is choosing this browser for the debugging route: once started from
    // it, the checks read it.
    if (!outcome.isError && m_context.browsers)
        m_context.browsers->connect(browser);
    m_connectionMessage = outcome.message;
    m_connectionMessageIsError = outcome.isError;
    refreshBrowsers();
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        refreshOnAppear();
}

void SettingsView::refreshOnAppear()
{
    if (m_context.browsers)
        m_context.browsers->refreshInstalledBrowsers(true);
    m_login->refresh();
    refresh();
}

void SettingsView::applicationBecameActive()
{
    if (isVisible())
        m_login->refresh();
}

void SettingsView::scheduleRefresh()
{
    m_queuedRefresh.request();
}

void SettingsView::refresh()
{
    refreshBrowsers();
    refreshSync();
    refreshProtection();
    refreshBanner();
}

void SettingsView::refreshBrowsers()
{
    const QHash<QString, BrowserAccessState> access =
        m_context.browsers ? m_context.browsers->accessByBrowserID() : QHash<QString, BrowserAccessState>();
    const std::vector<SettingsTexts::BrowserRow> rows = SettingsTexts::browserRows(SupportedBrowser::all(), access);
    // Only rows that go away are hidden: hiding the row that holds the focus (a button just
    // pressed) would send the focus elsewhere.
    QSet<QString> shown;
    for (const SettingsTexts::BrowserRow& row : rows)
        shown.insert(row.browser.id);
    for (auto it = m_browserRows.begin(); it != m_browserRows.end(); ++it)
        if (!shown.contains(it.key()))
            it->row->hide();
    for (const SettingsTexts::BrowserRow& row : rows) {
        BrowserRowWidgets& w = m_browserRows[row.browser.id];
        w.row->setDetail(row.detail, row.isError);
        w.connect->setVisible(row.control == SettingsTexts::BrowserControl::connect);
        w.tryAgain->setVisible(row.control == SettingsTexts::BrowserControl::tryAgain);
        w.connected->setVisible(row.isConnected);
        w.fix->setText(row.fixTitle);
        w.fix->setVisible(row.control == SettingsTexts::BrowserControl::fix);
        const std::optional<QString> launcher =
            BrowserLauncherOffer::title(row.browser, access.value(row.browser.id), QDir::homePath());
        w.launcher->setText(launcher.value_or(QString()));
        w.launcher->setVisible(launcher.has_value());
        w.row->show();
    }
    m_noBrowserRow->setVisible(rows.empty());
    // With no browser found, the row above already names them all.
    const QString also = rows.empty() ? QString() : SettingsTexts::alsoWorksWith(SupportedBrowser::all(), access);
    m_alsoWorksWith->setText(also);
    m_alsoWorksWith->setVisible(!also.isEmpty());
    m_connectionLabel->setText(m_connectionMessage.value_or(QString()));
    setTextColor(m_connectionLabel, m_connectionMessageIsError ? FocusColor::alert() : FocusColor::text());
    m_connectionLabel->setVisible(m_connectionMessage.has_value());
}

void SettingsView::refreshSync()
{
    const SyncService* sync = m_context.sync;
    const SettingsTexts::SyncRow row =
        sync ? SettingsTexts::syncRow(sync->lastError(), sync->statusMessage()) : SettingsTexts::SyncRow{};
    m_syncRow->setDetail(row.detail, row.isError);
    const bool syncing = sync && sync->isSyncing();
    // The button makes way for the spinner while a run lasts. The keyboard stays in their place:
    // left to itself it falls to the next control, where the next Space would turn a setting.
    const bool keepPlace = m_syncNow->hasFocus() || m_syncSpinner->hasFocus();
    QWidget* shown = syncing ? static_cast<QWidget*>(m_syncSpinner) : m_syncNow;
    QWidget* hidden = syncing ? static_cast<QWidget*>(m_syncNow) : m_syncSpinner;
    shown->setVisible(sync != nullptr);
    if (keepPlace && shown->isVisible())
        shown->setFocus(Qt::OtherFocusReason);
    hidden->setVisible(false);
}

void SettingsView::refreshProtection()
{
    {
        const QSignalBlocker blocker(m_loginSwitch);
        m_loginSwitch->setChecked(m_login->isEnabled());
    }
    m_approvalNote->setVisible(m_login->status() == LoginItem::Status::requiresApproval);
    const std::optional<QString>& error = m_login->errorMessage();
    m_loginError->setText(error ? QStringLiteral("Couldn't change this: ") + *error : QString());
    m_loginError->setVisible(error.has_value());
}

void SettingsView::refreshBanner()
{
    const std::optional<QString> error = m_context.storage ? m_context.storage->core().lastError() : std::nullopt;
    m_bannerText->setText(error.value_or(QString()));
    m_banner->setVisible(error.has_value());
}
