#include "screens/block/ManageRuleSheet.h"

#include "router/AppContext.h"
#include "screens/block/AddRuleSheet.h"
#include "screens/block/BlockWidgets.h"
#include "screens/block/BlockingBypassCooldownSheet.h"
#include "screens/block/RuleStatus.h"
#include "store/StorageService.h"
#include "ui/Accessibility.h"
#include "ui/FocusButton.h"
#include "ui/Palette.h"
#include "ui/Sheet.h"
#include "ui/SiteIconView.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WindowFit.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>

ManageRuleSheet::ManageRuleSheet(AppContext& context, BlockRule rule, QSet<QString> existingDomains,
                                 std::function<bool(const BlockRule&)> onSave, std::function<bool()> onRemove,
                                 QWidget* parent)
    : QDialog(parent), m_context(context), m_flow(std::move(rule)), m_existingDomains(std::move(existingDomains)),
      m_onSave(std::move(onSave)), m_onRemove(std::move(onRemove))
{
    const BlockRule& r = m_flow.rule();
    setWindowModality(Qt::WindowModal);
    setWindowTitle(WindowFit::programTitle(r.displayName));
    Theme::fillBackground(this, FocusColor::paper());
    // As tall as what it says: a fixed height left a band of paper under a short schedule.
    WindowFit::fixWidthGrowHeight(this, 460);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(30, 24, 30, 24);
    column->setSpacing(16);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    auto* close = new FocusButton(QString(), FocusLinkButtonStyle{13, FocusColor::textSecondary()});
    close->setSymbol(Symbol::xmark);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAccessibleName(QStringLiteral("Close"));
    close->setFixedSize(28, 28);
    closeRow->addWidget(close);
    column->addLayout(closeRow);
    column->addSpacing(-8 - column->spacing());

    auto* site = new QHBoxLayout;
    site->setSpacing(14);
    site->addWidget(new SiteIconView(r.domain, r.displayName, 54));
    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    // A long name or address wraps, inside a word where it must, rather than run out of the sheet.
    auto* name = new WrappingLabel(r.displayName);
    name->setObjectName(QStringLiteral("siteName"));
    name->setFont(Theme::font(28, QFont::DemiBold, Theme::Design::serif));
    name->setColor(FocusColor::text());
    names->addWidget(name);
    auto* domain = new WrappingLabel(r.domain);
    domain->setFont(Theme::font(13));
    domain->setColor(FocusColor::textSecondary());
    names->addWidget(domain);
    site->addLayout(names, 1);
    // The close button stands over this row's right end.
    site->addSpacing(close->width());
    column->addLayout(site);

    m_status = BlockUi::label(QString(), 14, QFont::Bold, FocusColor::textSecondary());
    m_status->setObjectName(QStringLiteral("statusText"));
    column->addWidget(m_status);

    auto* schedule = new HairlineFrame;
    schedule->setMinimumHeight(54);
    auto* scheduleRow = new QHBoxLayout(schedule);
    scheduleRow->setContentsMargins(0, 8, 0, 8);
    scheduleRow->setSpacing(12);
    auto* clockSymbol = new SymbolLabel(Symbol::clock, 15, FocusColor::textSecondary());
    Accessibility::hide(clockSymbol);
    clockSymbol->setFixedWidth(20);
    scheduleRow->addWidget(clockSymbol);
    auto* scheduleTexts = new QVBoxLayout;
    scheduleTexts->setSpacing(2);
    QLabel* scheduleText = BlockUi::label(RuleStatus::scheduleText(r), 14.5, QFont::DemiBold, FocusColor::text());
    scheduleText->setObjectName(QStringLiteral("scheduleText"));
    scheduleTexts->addWidget(scheduleText);
    QLabel* detail = BlockUi::label(RuleStatus::scheduleDetail(r), 12.5, QFont::Normal, FocusColor::textSecondary());
    detail->setObjectName(QStringLiteral("scheduleDetail"));
    scheduleTexts->addWidget(detail);
    scheduleRow->addLayout(scheduleTexts, 1);
    column->addWidget(schedule);

    column->addSpacing(8);
    auto* note = new WrappingLabel(QStringLiteral("Removing a block, or making it looser, starts with a short pause."));
    note->setFont(Theme::font(12.5));
    note->setColor(FocusColor::textSecondary());
    column->addWidget(note);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(12);
    auto* edit = new FocusButton(QStringLiteral("Edit block"),
                                 FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::primary, true});
    edit->setObjectName(QStringLiteral("editButton"));
    actions->addWidget(edit, 1);
    auto* remove = new FocusButton(QStringLiteral("Remove block…"), FocusLinkButtonStyle{14, FocusColor::alert()});
    remove->setObjectName(QStringLiteral("removeButton"));
    remove->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    actions->addWidget(remove);
    column->addLayout(actions);

    connect(close, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(edit, &QAbstractButton::clicked, this, &ManageRuleSheet::openEditSheet);
    connect(remove, &QAbstractButton::clicked, this, &ManageRuleSheet::requestRemove);
    if (StorageService* storage = m_context.storage) {
        const auto queue = [this] { m_queuedRefresh.request(); };
        connect(&storage->blocking(), &BlockingStore::stateChanged, this, queue);
        connect(&storage->blocking(), &BlockingStore::rulesChanged, this, queue);
    }
    refreshStatus();
}

void ManageRuleSheet::refreshStatus()
{
    m_queuedRefresh.cancel();
    if (!m_context.storage)
        return;
    const Calendar calendar = m_context.calendar();
    const RuleStatus::Moment moment{m_context.clock->now(), m_context.storage->blocking().state(), calendar};
    m_status->setText(RuleStatus::manageStatusText(m_flow.rule(), moment));
    setTextColor(m_status,
                 RuleStatus::isBlockingNow(m_flow.rule(), moment) ? FocusColor::alert() : FocusColor::textSecondary());
}

std::optional<BlockRule> ManageRuleSheet::storedRule() const
{
    if (!m_context.storage)
        return std::nullopt;
    for (const BlockRule& r : m_context.storage->blocking().rules())
        if (r.id == m_flow.rule().id)
            return r;
    return std::nullopt;
}

QString ManageRuleSheet::failureText() const
{
    const auto error = m_context.storage ? m_context.storage->core().lastError() : std::nullopt;
    return error.value_or(QStringLiteral("The change could not be saved."));
}

void ManageRuleSheet::openEditSheet()
{
    if (m_editSheet || m_cooldownSheet)
        return;
    m_editSheet = new AddRuleSheet(
        m_flow.rule(), m_existingDomains, [this](const BlockRule& edited) { return handleEditedRule(edited); },
        *m_context.clock, this);
    m_editSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_editSheet, &QDialog::finished, this,
            [this] { QTimer::singleShot(0, this, &ManageRuleSheet::editSheetDismissed); });
    Sheet::attach(m_editSheet, this);
    m_editSheet->open();
}

std::optional<QString> ManageRuleSheet::handleEditedRule(const BlockRule& edited)
{
    if (m_flow.handleEditedRule(edited, storedRule()) == ManageRuleFlow::EditDecision::holdForCooldown)
        return std::nullopt;
    if (!m_onSave || !m_onSave(edited))
        return failureText();
    m_flow.tightened();
    return std::nullopt;
}

void ManageRuleSheet::editSheetDismissed()
{
    switch (m_flow.editSheetDismissed()) {
    case ManageRuleFlow::Next::openCooldown:
        openCooldown();
        break;
    case ManageRuleFlow::Next::close:
        accept();
        break;
    case ManageRuleFlow::Next::stay:
        break;
    }
}

void ManageRuleSheet::requestRemove()
{
    if (m_editSheet || m_cooldownSheet)
        return;
    m_flow.requestRemove();
    openCooldown();
}

void ManageRuleSheet::openCooldown()
{
    const auto& pending = m_flow.pendingBypass();
    if (!pending || !m_context.monotonic)
        return;
    std::optional<QString> focus;
    if (m_context.storage)
        if (const auto todo = m_context.storage->todos().focusTodo())
            focus = todo->title;
    const std::optional<BlockRule> looser = pending->looserEdit;
    // Granted only when the store took the change and wrote it; otherwise the sheet says so.
    auto grant = [this, looser] {
        const bool granted = looser ? (m_onSave && m_onSave(*looser)) : (m_onRemove && m_onRemove());
        // A rule that is still there was not changed elsewhere: the store refused the write.
        if (!granted && m_cooldownSheet && storedRule() && m_context.storage && m_context.storage->core().lastError())
            m_cooldownSheet->setFailureText(*m_context.storage->core().lastError());
        return granted;
    };
    m_cooldownSheet = new BlockingBypassCooldownSheet(pending->kind, focus, grant, *m_context.monotonic, this);
    m_cooldownSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_cooldownSheet, &QDialog::finished, this,
            [this] { QTimer::singleShot(0, this, &ManageRuleSheet::bypassSheetDismissed); });
    Sheet::attach(m_cooldownSheet, this);
    m_cooldownSheet->open();
}

void ManageRuleSheet::bypassSheetDismissed()
{
    if (m_flow.bypassSheetDismissed(storedRule().has_value()) == ManageRuleFlow::Next::close)
        accept();
}

void ManageRuleSheet::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        openEditSheet();
        return;
    }
    QDialog::keyPressEvent(event);
}
