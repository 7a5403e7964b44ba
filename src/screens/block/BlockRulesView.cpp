#include "screens/block/BlockRulesView.h"

#include "browsers/BrowserStateText.h"

#include "blocking/BrowserAutomationService.h"
#include "platform/BrowserPrograms.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"
#include "router/MenuBlockingStatus.h"
#include "screens/block/AddRuleSheet.h"
#include "screens/block/BlockWidgets.h"
#include "screens/block/DoomScrollCard.h"
#include "screens/block/ManageRuleSheet.h"
#include "screens/block/SiteRow.h"
#include "store/StorageService.h"
#include "ui/Controls.h"
#include "ui/FocusButton.h"
#include "ui/FocusPage.h"
#include "ui/Headings.h"
#include "ui/Layouts.h"
#include "ui/LazyRows.h"
#include "ui/Palette.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A text on its own in a card, padded 18 points on every side.
QWidget* note(const QString& text, qreal size, const QString& name)
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(18, 18, 18, 18);
    auto* label = new WrappingLabel(text);
    label->setObjectName(name);
    label->setFont(Theme::font(size, QFont::Medium));
    label->setColor(FocusColor::textSecondary());
    layout->addWidget(label);
    return box;
}

// Headings and notes stand in line with the cards' visible edges, not with their shadows.
template <typename W> W* besideCards(W* widget)
{
    const QMargins shadow = SectionCard::shadowMargins();
    const QMargins own = widget->contentsMargins();
    widget->setContentsMargins(own.left() + shadow.left(), own.top(), own.right() + shadow.right(), own.bottom());
    return widget;
}

} // namespace

BlockRulesView::BlockRulesView(AppContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    auto* main = new QWidget;
    auto* column = columnLayout(main, 0);
    column->addWidget(besideCards(new FocusHeadline(QString(), QStringLiteral("Keep distractions out"), 42)));

    // A running pause can be ended here too, not only from the tray, which some desktops lack.
    m_paused = new QWidget;
    m_paused->setObjectName(QStringLiteral("pausedNote"));
    auto* pausedRow = rowLayout(m_paused, 10);
    m_pausedText = BlockUi::label({}, 13, QFont::DemiBold, FocusColor::text());
    m_pausedText->setObjectName(QStringLiteral("pausedText"));
    m_pausedText->setWordWrap(true);
    pausedRow->addWidget(m_pausedText, 1);
    auto* resume = new FocusButton(QStringLiteral("Resume now"), FocusLinkButtonStyle{13, FocusColor::text()});
    resume->setObjectName(QStringLiteral("resumeBlocking"));
    pausedRow->addWidget(resume, 0, Qt::AlignVCenter);
    m_paused->setContentsMargins(4, 8, 4, 0);
    m_paused->hide();
    column->addWidget(besideCards(m_paused));
    connect(resume, &QAbstractButton::clicked, this, [this] {
        if (m_context.storage)
            m_context.storage->blocking().resumeBlocking();
    });

    // Said when an urgent break was asked for without a site: which row offers it.
    m_urgentHint = BlockUi::label({}, 13, QFont::DemiBold, FocusColor::text());
    m_urgentHint->setObjectName(QStringLiteral("urgentBreakHint"));
    m_urgentHint->setWordWrap(true);
    m_urgentHint->setContentsMargins(4, 8, 4, 0);
    m_urgentHint->hide();
    column->addWidget(besideCards(m_urgentHint));

    auto* sections = new QVBoxLayout;
    sections->setContentsMargins(0, 6, 0, 0);
    sections->setSpacing(34);

    // Sites.
    auto* sites = new QVBoxLayout;
    sites->setSpacing(8);
    auto* add = new FocusButton(QStringLiteral("Block a site"), FocusCharcoalButtonStyle{12.5});
    add->setSymbol(Symbol::plus);
    add->setObjectName(QStringLiteral("addButton"));
    m_sitesHeader = new FocusSectionHeader(QStringLiteral("Sites"), add);
    m_sitesHeader->setObjectName(QStringLiteral("sitesHeader"));
    sites->addWidget(besideCards(m_sitesHeader));
    if (m_context.storage && m_context.storage->blocking().rulesSetAside()) {
        auto* setAside = new WrappingLabel(QStringLiteral(
            "Some saved rules couldn't be read and were set aside. A copy of the file was kept next to your data."));
        setAside->setObjectName(QStringLiteral("rulesSetAside"));
        setAside->setFont(Theme::font(13, QFont::Medium));
        setAside->setColor(FocusColor::alert());
        setAside->setContentsMargins(4, 0, 0, 4);
        sites->addWidget(besideCards(setAside));
    }
    m_sitesCard = new SectionCard(18);
    m_sitesEmpty = note(QStringLiteral("No sites yet. Try the ones that eat your time, like YouTube or Instagram."), 14,
                        QStringLiteral("sitesEmpty"));
    m_sitesCard->contentLayout()->addWidget(m_sitesEmpty);
    // Every row has one height (its texts do not wrap), and each after the first a divider on top.
    // The divider is measured once: a widget made and destroyed per entry leaves events in the
    // queue that each later destruction searches.
    const int divider = FocusGroupDivider().sizeHint().height();
    m_siteRows = new LazyRows([this](int i, QWidget* parent) { return makeSiteRow(i, parent); },
                              [this, divider](int i, int) {
                                  return (m_siteRowHeight > 0 ? m_siteRowHeight : SiteRow::minimumRowHeight) +
                                         (i > 0 ? divider : 0);
                              });
    m_sitesCard->contentLayout()->addWidget(m_siteRows);
    sites->addWidget(m_sitesCard);
    sections->addLayout(sites);

    m_doomCard = new DoomScrollCard(m_context);
    sections->addWidget(m_doomCard);

    // Browsers.
    auto* browsers = new QVBoxLayout;
    browsers->setSpacing(8);
    browsers->addWidget(besideCards(new FocusSectionHeader(QStringLiteral("Browsers"))));
    m_browsersCard = new SectionCard(18);
    browsers->addWidget(m_browsersCard);
    auto* footnote = BlockUi::label(QStringLiteral("Sites are blocked in the browsers marked Connected."), 12,
                                    QFont::Medium, FocusColor::textSecondary());
    footnote->setContentsMargins(4, 0, 0, 0);
    browsers->addWidget(besideCards(footnote));
    sections->addLayout(browsers);
    column->addLayout(sections);
    column->addStretch(1);

    auto* page = new FocusPage(main);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);
    setPageTitle(this, QStringLiteral("Block"));

    connect(add, &QAbstractButton::clicked, this, &BlockRulesView::showAddSheet);
    if (StorageService* storage = m_context.storage) {
        for (auto signal :
             {&BlockingStore::rulesChanged, &BlockingStore::stateChanged, &BlockingStore::doomScrollConfigChanged})
            connect(&storage->blocking(), signal, this, [this] { scheduleRefresh(false); });
    }
    if (BrowserAutomationService* engine = m_context.browsers)
        connect(engine, &BrowserAutomationService::accessChanged, this, [this] { scheduleRefresh(true); });
    if (m_context.router)
        connect(m_context.router, &AppRouter::urgentBreakChoiceRequested, this, &BlockRulesView::offerUrgentBreak,
                Qt::QueuedConnection);
    m_sitesDirty = m_browsersDirty = true;
    refresh();
}

bool BlockRulesView::isPaused() const
{
    const auto& until = m_context.storage->blocking().state().blockingPausedUntil;
    return until && m_context.clock->now() < *until;
}

void BlockRulesView::scheduleRefresh(bool browsers)
{
    (browsers ? m_browsersDirty : m_sitesDirty) = true;
    m_queuedRefresh.request();
}

void BlockRulesView::refresh()
{
    refreshSites();
    refreshBrowsers();
}

void BlockRulesView::refreshSites()
{
    m_sitesDirty = false;
    StorageService* storage = m_context.storage;
    if (!storage)
        return;
    const std::vector<BlockRule>& rules = storage->blocking().rules();
    m_sitesHeader->setTitle(rules.size() >= 2 ? QStringLiteral("Sites · %1").arg(rules.size())
                                              : QStringLiteral("Sites"));
    m_sitesEmpty->setVisible(rules.empty());

    // Every status of one rebuild is computed for one moment and calendar.
    const Calendar calendar = m_context.calendar();
    RuleStatus::StatusBatch batch({m_context.clock->now(), storage->blocking().state(), calendar}, &m_statusCache);
    const bool paused = isPaused();
    m_paused->setVisible(paused);
    if (paused)
        m_pausedText->setText(pausedBlockingText(*storage, calendar));

    // Only the built rows are brought up to date; the others are made from the new list when
    // they scroll into view.
    bool sameOrder = rules.size() == m_rules.size();
    for (size_t i = 0; sameOrder && i < rules.size(); ++i)
        sameOrder = rules[i].id == m_rules[i].id;
    if (!sameOrder || !(m_rules == rules))
        m_rules = rules;
    if (!sameOrder) {
        std::vector<QUuid> keys;
        keys.reserve(m_rules.size());
        for (const BlockRule& rule : m_rules)
            keys.push_back(rule.id);
        m_siteRows->setKeys(std::move(keys));
    }
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        const int i = m_siteRows->indexOf(it.key());
        if (!it.value() || i < 0) {
            it = m_rows.erase(it);
            continue;
        }
        it.value()->setContent(SiteRow::contentFor(m_rules[size_t(i)], batch, paused));
        ++it;
    }
    m_doomCard->refresh();
}

QWidget* BlockRulesView::makeSiteRow(int index, QWidget* parent)
{
    auto* holder = new QWidget(parent);
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    if (index > 0)
        column->addWidget(new FocusGroupDivider(68, holder));
    const Calendar calendar = m_context.calendar();
    RuleStatus::StatusBatch batch({m_context.clock->now(), m_context.storage->blocking().state(), calendar},
                                  &m_statusCache);
    const BlockRule& rule = m_rules[size_t(index)];
    auto* row = new SiteRow(SiteRow::contentFor(rule, batch, isPaused()), holder);
    column->addWidget(row);
    const QUuid id = rule.id;
    connect(row, &SiteRow::manageRequested, this, [this, id] { manage(id); });
    connect(row, &SiteRow::urgentBreakRequested, this, [this, id] {
        if (m_context.router)
            m_context.router->setUrgentBreakRuleID(id);
    });
    m_rows.insert(id, row);
    m_siteRowHeight = std::max(row->sizeHint().height(), row->minimumHeight());
    return holder;
}

void BlockRulesView::refreshBrowsers()
{
    m_browsersDirty = false;
    QVBoxLayout* layout = m_browsersCard->contentLayout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    BrowserAutomationService* engine = m_context.browsers;
    QList<const SupportedBrowser*> listed;
    if (engine) {
        // Shown before blocking starts (the first page of a start), the browsers are listed now.
        engine->refreshInstalledBrowsers(false);
        const auto& access = engine->accessByBrowserID();
        for (const SupportedBrowser& browser : engine->browsers()) {
            const auto it = access.constFind(browser.id);
            if (it != access.constEnd() && it->kind != BrowserAccessState::Kind::notInstalled)
                listed.append(&browser);
        }
    }
    if (listed.isEmpty()) {
        layout->addWidget(note(QStringLiteral("No supported browser found. Quillharbour blocks sites in Chrome, "
                                              "Chromium, Brave, Edge, Vivaldi, Opera and Firefox."),
                               13, QStringLiteral("browsersEmpty")));
        return;
    }
    for (const SupportedBrowser* browser : std::as_const(listed)) {
        if (browser != listed.first())
            layout->addWidget(new FocusGroupDivider(56));
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("browserRow"));
        row->setProperty("browserId", browser->id);
        row->setMinimumHeight(52);
        auto* items = new QHBoxLayout(row);
        items->setContentsMargins(16, 0, 16, 0);
        items->setSpacing(12);
        items->addWidget(new BrowserIcon(m_context.browserPrograms ? m_context.browserPrograms->iconNames(browser->id)
                                                                   : QStringList()));
        items->addWidget(BlockUi::label(browser->name, 14, QFont::DemiBold, FocusColor::text()));
        items->addStretch(1);
        const auto state = engine->accessByBrowserID().value(browser->id);
        const std::optional<BrowserStateText> text = browserStateText(*browser, state);
        if (state.isConnectedEverywhere()) {
            auto* ok = new FocusOKText(QStringLiteral("Connected"));
            ok->setObjectName(QStringLiteral("connectedText"));
            if (text)
                ok->setToolTip(text->detail);
            items->addWidget(ok);
        } else if (text && (text->actionTitle.isEmpty() || state.isProtected())) {
            // Waiting for the person in the browser, or protected only in some of its profiles: those
            // are named in short on this narrow row, and in full beside the button.
            const QString shown = !state.isProtected() ? text->detail
                                  : state.profiles.size() == 1
                                      ? QStringLiteral("Not protected in “%1”").arg(state.profiles.first())
                                      : QStringLiteral("Not protected in %1 profiles").arg(state.profiles.size());
            auto* waiting = BlockUi::label(shown, 12, QFont::Normal,
                                           state.needsAttention() ? FocusColor::alert() : FocusColor::textSecondary());
            waiting->setObjectName(QStringLiteral("browserStateText"));
            waiting->setToolTip(text->detail);
            items->addWidget(waiting);
        }
        // Connected with private windows left out still has something to fix, beside "Connected".
        if (!state.isProtected() ? !(text && text->actionTitle.isEmpty()) : text && !text->actionTitle.isEmpty()) {
            auto* connectButton =
                new FocusButton(text ? text->actionTitle : QStringLiteral("Connect"), FocusPillButtonStyle{false, 12});
            connectButton->setObjectName(QStringLiteral("connectButton"));
            connectButton->setToolTip(text ? text->detail
                                           : QStringLiteral("If your browser asks for permission, choose Allow."));
            const SupportedBrowser target = *browser;
            QPointer<BrowserAutomationService> service(engine);
            connect(connectButton, &QAbstractButton::clicked, this, [service, target] {
                if (service)
                    service->fix(target);
            });
            items->addWidget(connectButton);
        }
        layout->addWidget(row);
    }
}

void BlockRulesView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // After the window that shows the page, so a sheet it opens has a window to stand over.
    QTimer::singleShot(0, this, &BlockRulesView::offerUrgentBreak);
    // Browsers installed or removed since the last look show up now.
    if (m_context.browsers)
        m_context.browsers->refreshInstalledBrowsers(true);
}

void BlockRulesView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_urgentHint->hide();
}

void BlockRulesView::offerUrgentBreak()
{
    AppRouter* router = m_context.router;
    if (!isVisible() || !router || !m_context.storage || !router->takeUrgentBreakChoice())
        return;
    refreshSites();
    const Calendar calendar = m_context.calendar();
    RuleStatus::StatusBatch batch({m_context.clock->now(), m_context.storage->blocking().state(), calendar},
                                  &m_statusCache);
    std::vector<QUuid> open;
    for (const BlockRule& rule : m_rules)
        if (SiteRow::contentFor(rule, batch, isPaused()).canTakeUrgentBreak)
            open.push_back(rule.id);
    // One site to choose from: its break is offered straight away, with the site named.
    if (open.size() == 1) {
        m_urgentHint->hide();
        router->setUrgentBreakRuleID(open.front());
        return;
    }
    m_urgentHint->setText(open.empty() ? QStringLiteral("No site can take an urgent break right now.")
                                       : QStringLiteral("Choose the site: Take Urgent Break… is in its ⋯ menu."));
    m_urgentHint->show();
    if (open.empty())
        return;
    if (SiteRow* row = m_rows.value(open.front()))
        if (auto* options = row->findChild<QWidget*>(QStringLiteral("optionsButton")))
            options->setFocus(Qt::OtherFocusReason);
}

QSet<QString> BlockRulesView::ruleDomains() const
{
    QSet<QString> domains;
    for (const BlockRule& rule : m_context.storage->blocking().rules())
        domains.insert(rule.domain);
    return domains;
}

void BlockRulesView::showAddSheet()
{
    if (m_addSheet || m_manageSheet || !m_context.storage)
        return;
    QPointer<StorageService> storage(m_context.storage);
    m_addSheet = new AddRuleSheet(
        std::nullopt, ruleDomains(),
        [storage](const BlockRule& rule) -> std::optional<QString> {
            if (storage && storage->blocking().addRule(rule))
                return std::nullopt;
            const auto error = storage ? storage->core().lastError() : std::nullopt;
            return error.value_or(QStringLiteral("The block could not be saved."));
        },
        *m_context.clock, this);
    m_addSheet->setAttribute(Qt::WA_DeleteOnClose);
    present(m_addSheet);
}

void BlockRulesView::manage(const QUuid& ruleId)
{
    if (m_addSheet || m_manageSheet || !m_context.storage)
        return;
    const auto& rules = m_context.storage->blocking().rules();
    const auto it = std::find_if(rules.begin(), rules.end(), [&](const BlockRule& r) { return r.id == ruleId; });
    if (it == rules.end())
        return;
    QPointer<StorageService> storage(m_context.storage);
    m_manageSheet = new ManageRuleSheet(
        m_context, *it, ruleDomains(),
        [storage](const BlockRule& edited) { return storage && storage->blocking().updateRule(edited); },
        [storage, ruleId] { return storage && storage->blocking().removeRule(ruleId); }, this);
    m_manageSheet->setAttribute(Qt::WA_DeleteOnClose);
    present(m_manageSheet);
}

void BlockRulesView::present(QDialog* sheet)
{
    // Through the window's line of sheets, so it never opens over another sheet.
    if (m_context.presentSheet)
        m_context.presentSheet(sheet);
    else
        sheet->open();
}
