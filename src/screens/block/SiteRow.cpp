#include "screens/block/SiteRow.h"

#include "screens/block/BlockWidgets.h"
#include "ui/Eyebrow.h"
#include "ui/Palette.h"
#include "ui/SiteIconView.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QToolButton>
#include <QVBoxLayout>

SiteRow::Content SiteRow::contentFor(const BlockRule& rule, RuleStatus::StatusBatch& batch, bool isPaused)
{
    const RuleStatus::Moment& at = batch.moment();
    return {rule, RuleStatus::summaryText(rule), batch.status(rule, isPaused), RuleStatus::canTakeUrgentBreak(rule, at),
            RuleStatus::urgentBreakUnavailableReason(rule, at, isPaused)};
}

SiteRow::SiteRow(const Content& content, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("siteRow"));
    setToolTip(QStringLiteral("Double-click to manage this block"));
    setMinimumHeight(minimumRowHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 8, 0);
    row->setSpacing(14);

    m_icon = new SiteIconView(content.rule.domain, content.rule.displayName, 38);
    row->addWidget(m_icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    m_name = BlockUi::label(QString(), 15, QFont::Bold, FocusColor::text());
    m_summary = BlockUi::label(QString(), 12.5, QFont::Normal, FocusColor::textSecondary());
    m_summary->setObjectName(QStringLiteral("summaryText"));
    texts->addStretch(1);
    texts->addWidget(m_name);
    texts->addWidget(m_summary);
    texts->addStretch(1);
    row->addLayout(texts, 1);

    auto* status = new QVBoxLayout;
    status->setSpacing(6);
    status->addStretch(1);
    m_meter = new FocusMeter(0, FocusColor::ink(), FocusColor::wash(), 4);
    m_meter->setObjectName(QStringLiteral("meter"));
    m_meter->setFixedWidth(120);
    status->addWidget(m_meter, 0, Qt::AlignRight);
    m_status = BlockUi::label(QString(), 12.5, QFont::Bold, FocusColor::textSecondary());
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_status->setMinimumWidth(120);
    status->addWidget(m_status, 0, Qt::AlignRight);
    status->addStretch(1);
    row->addLayout(status);

    m_options = new QToolButton;
    m_options->setObjectName(QStringLiteral("optionsButton"));
    m_options->setAutoRaise(true);
    m_options->setIcon(Symbols::icon(Symbol::ellipsis, FocusColor::textSecondary(), 14));
    m_options->setIconSize(QSize(int(Symbols::boxSize(14)), int(Symbols::boxSize(14))));
    m_options->setFixedSize(30, 30);
    m_options->setCursor(Qt::PointingHandCursor);
    row->addWidget(m_options);
    connect(m_options, &QToolButton::clicked, this, &SiteRow::showMenu);
    setContent(content);
}

void SiteRow::setContent(const Content& content)
{
    m_content = content;
    const BlockRule& r = content.rule;
    setProperty("ruleId", r.id.toString(QUuid::WithoutBraces));
    m_icon->setDomain(r.domain);
    m_icon->setName(r.displayName);
    m_name->setText(r.displayName);
    m_summary->setText(content.summary);
    m_status->setText(content.status.text);
    setTextColor(m_status, content.status.isBlocking ? FocusColor::alert() : FocusColor::textSecondary());
    m_meter->setVisible(content.status.fraction.has_value());
    if (content.status.fraction) {
        const double f = *content.status.fraction;
        m_meter->setFraction(f);
        m_meter->setColors(f >= 1.0 ? FocusColor::priorityHigh() : FocusColor::ink(), FocusColor::wash());
    }
    m_options->setAccessibleName(QStringLiteral("Options for ") + r.displayName);
    setAccessibleName(r.displayName);
}

QList<QPair<QString, bool>> SiteRow::menuItems() const
{
    QList<QPair<QString, bool>> items{{QStringLiteral("Manage Block…"), true}};
    if (m_content.canTakeUrgentBreak)
        items.append({QStringLiteral("Take Urgent Break…"), true});
    else if (m_content.urgentBreakUnavailableReason)
        items.append({*m_content.urgentBreakUnavailableReason, false});
    return items;
}

void SiteRow::showMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto& [text, enabled] : menuItems()) {
        QAction* action = menu->addAction(text);
        action->setEnabled(enabled);
        if (text == QStringLiteral("Manage Block…"))
            connect(action, &QAction::triggered, this, &SiteRow::manageRequested);
        else if (enabled)
            connect(action, &QAction::triggered, this, &SiteRow::urgentBreakRequested);
    }
    menu->popup(m_options->mapToGlobal(QPoint(0, m_options->height())));
}

void SiteRow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        emit manageRequested();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}
