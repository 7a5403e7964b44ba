#include "screens/block/DoomScrollCard.h"

#include "router/AppContext.h"
#include "screens/block/BlockWidgets.h"
#include "screens/block/DoomScrollConfigSheet.h"
#include "store/StorageService.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/Headings.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/SiteIconView.h"
#include "ui/TextLabel.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

DoomScrollCard::DoomScrollCard(AppContext& context, QWidget* parent) : QWidget(parent), m_context(context)
{
    auto* outer = columnLayout(this, 8);
    m_edit = new FocusButton(QStringLiteral("Edit"), FocusPillButtonStyle{false, 12});
    m_edit->setObjectName(QStringLiteral("editButton"));
    auto* header = new FocusSectionHeader(QStringLiteral("Doom scroll breaks"), m_edit);
    const QMargins shadow = SectionCard::shadowMargins();
    header->setContentsMargins(shadow.left(), 0, shadow.right(), 0);
    outer->addWidget(header);

    auto* card = new SectionCard(18);
    auto* body = new QWidget;
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(12);
    m_title = new WrappingLabel;
    m_title->setObjectName(QStringLiteral("doomTitle"));
    m_title->setFont(Theme::font(20, QFont::DemiBold, Theme::Design::serif));
    m_title->setColor(FocusColor::text());
    titleRow->addWidget(m_title, 1);
    m_badge = BlockUi::label(QString(), 11.5, QFont::ExtraBold, FocusColor::okGreen());
    m_badge->setObjectName(QStringLiteral("doomBadge"));
    titleRow->addWidget(m_badge, 0, Qt::AlignTop);
    column->addLayout(titleRow);

    m_configured = new QWidget;
    auto* configured = columnLayout(m_configured, 12);
    auto* sites = new QHBoxLayout;
    sites->setSpacing(6);
    m_icons = new QHBoxLayout;
    m_icons->setSpacing(6);
    sites->addLayout(m_icons);
    m_names = BlockUi::label(QString(), 12.5, QFont::DemiBold, FocusColor::textSecondary());
    m_names->setObjectName(QStringLiteral("doomSites"));
    m_names->setWordWrap(true);
    m_names->setContentsMargins(4, 0, 0, 0);
    sites->addWidget(m_names, 1);
    configured->addLayout(sites);
    m_meter = new FocusMeter(0, FocusColor::ink(), FocusColor::wash(), 5);
    m_meter->setObjectName(QStringLiteral("doomMeter"));
    configured->addWidget(m_meter);
    m_status = BlockUi::label(QString(), 12.5, QFont::Medium, FocusColor::textSecondary());
    m_status->setObjectName(QStringLiteral("doomStatus"));
    m_status->setWordWrap(true);
    configured->addWidget(m_status);
    column->addWidget(m_configured);

    m_invitation = new QWidget;
    auto* invitation = columnLayout(m_invitation, 12);
    auto* pitch = new WrappingLabel(QStringLiteral("Pick the sites you scroll most. After the time you choose, they "
                                                   "take a short break, then open again automatically."));
    pitch->setFont(Theme::font(13, QFont::Medium));
    pitch->setColor(FocusColor::textSecondary());
    invitation->addWidget(pitch);
    auto* setUp = new FocusButton(QStringLiteral("Set up"), FocusCharcoalButtonStyle{13});
    setUp->setObjectName(QStringLiteral("setUpButton"));
    setUp->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    invitation->addSpacing(2);
    invitation->addWidget(setUp, 0, Qt::AlignLeft);
    column->addWidget(m_invitation);

    card->contentLayout()->addWidget(body);
    outer->addWidget(card);

    connect(m_edit, &QAbstractButton::clicked, this, &DoomScrollCard::showConfig);
    connect(setUp, &QAbstractButton::clicked, this, &DoomScrollCard::showConfig);
    refresh();
}

void DoomScrollCard::refresh()
{
    StorageService* storage = m_context.storage;
    if (!storage)
        return;
    const DoomScrollConfig& config = storage->blocking().doomScrollConfig();
    const SharedState& state = storage->blocking().state();
    const Date now = m_context.clock->now();
    // Sites saved with the switch off stay in view, marked off, so saving them leaves a trace.
    const bool configured = !config.domains.empty();
    const bool on = DoomScrollTexts::isConfigured(config);
    const bool onBreak = on && DoomScrollTexts::isOnBreak(state, now);

    // Once set up, "Edit" takes the place of "Set up", and the keyboard with it, rather than
    // falling to whatever control comes next on the page.
    QWidget* focused = window()->focusWidget();
    const bool handOver = configured && focused && m_invitation->isAncestorOf(focused);
    m_edit->setVisible(configured);
    if (handOver)
        m_edit->setFocus(Qt::OtherFocusReason);
    m_configured->setVisible(configured);
    m_invitation->setVisible(!configured);
    m_badge->setVisible(configured);
    m_title->setText(configured ? DoomScrollTexts::cardSummary(config.usageWindowMinutes, config.breakMinutes)
                                : QStringLiteral("Scrolling for hours? Get an automatic break."));
    if (!configured)
        return;
    m_badge->setText(!on ? QStringLiteral("Off") : onBreak ? QStringLiteral("On a break") : QStringLiteral("On"));
    setTextColor(m_badge, !on ? FocusColor::textSecondary() : onBreak ? FocusColor::alert() : FocusColor::okGreen());

    QStringList shown;
    for (size_t i = 0; i < config.domains.size() && i < 6; ++i)
        shown.append(config.domains[i].domain);
    if (shown != m_iconDomains) {
        while (QLayoutItem* item = m_icons->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        for (const QString& domain : std::as_const(shown))
            m_icons->addWidget(new SiteIconView(domain, BlockRule::suggestedDisplayName(domain), 24));
        m_iconDomains = shown;
    }
    m_names->setText(DoomScrollTexts::siteNames(config.domains));
    m_meter->setVisible(on && !onBreak);
    m_meter->setFraction(DoomScrollTexts::meterFraction(config, state));
    m_status->setText(DoomScrollTexts::statusLine(config, state, now, m_context.calendar()));
}

void DoomScrollCard::showConfig()
{
    if (m_sheet || !m_context.storage)
        return;
    QPointer<StorageService> storage(m_context.storage);
    m_sheet = new DoomScrollConfigSheet(
        storage->blocking().doomScrollConfig(),
        [storage](const DoomScrollConfig& config) {
            if (storage)
                storage->blocking().updateDoomScrollConfig(config);
        },
        this);
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    // Through the window's line of sheets, so it never opens over another sheet.
    if (m_context.presentSheet)
        m_context.presentSheet(m_sheet);
    else
        m_sheet->open();
}
