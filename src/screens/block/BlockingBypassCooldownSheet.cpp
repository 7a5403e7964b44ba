#include "screens/block/BlockingBypassCooldownSheet.h"

#include "router/AppContext.h"
#include "screens/block/BlockWidgets.h"
#include "store/StorageService.h"
#include "ui/Accessibility.h"
#include "ui/CountdownRing.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/WindowFit.h"
#include "ui/WrappingLabel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace {

WrappingLabel* paragraph(const QString& text, qreal size, QFont::Weight weight, const QColor& color)
{
    auto* l = new WrappingLabel(text);
    l->setFont(Theme::font(size, weight));
    l->setColor(color);
    return l;
}

} // namespace

BlockingBypassCooldownSheet::BlockingBypassCooldownSheet(const BlockingBypassKind& kind,
                                                         const std::optional<QString>& focusTitle,
                                                         std::function<bool()> onGrant, const MonotonicClock& clock,
                                                         QWidget* parent)
    : QDialog(parent), m_kind(kind), m_onGrant(std::move(onGrant)), m_cooldown(clock)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(WindowFit::programTitle(kind.titleText()));
    Theme::fillBackground(this, FocusColor::paper());
    // The design's 460 by 520 grows with a long title rather than cutting it.
    WindowFit::fixWidthGrowHeight(this, 460, 520);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(32, 28, 32, 28);
    outer->setSpacing(0);

    // Waiting: heading, title, explanation, ring, focus reminder or failure, buttons.
    m_waiting = new QWidget;
    auto* waiting = columnLayout(m_waiting, 16);
    waiting->addWidget(new Eyebrow(kind.headingText(), FocusColor::textSecondary(), 11.5));
    QLabel* title = BlockUi::label(kind.titleText(), 30, QFont::DemiBold, FocusColor::text(), Theme::Design::serif);
    title->setWordWrap(true);
    Accessibility::markHeader(title);
    waiting->addWidget(title);
    waiting->addWidget(paragraph(kind.explanationText(), 14.5, QFont::Normal, FocusColor::textSecondary()));
    m_ring = new CountdownRing(130, 38);
    m_ring->setObjectName(QStringLiteral("ring"));
    waiting->addWidget(m_ring, 0, Qt::AlignHCenter);
    if (focusTitle) {
        m_focusReminder = new QWidget;
        m_focusReminder->setObjectName(QStringLiteral("focusReminder"));
        m_focusReminder->setAttribute(Qt::WA_StyledBackground);
        m_focusReminder->setStyleSheet(
            QStringLiteral("#focusReminder { background: %1; border-radius: 18px; }").arg(FocusColor::ink().name()));
        auto* reminder = new QVBoxLayout(m_focusReminder);
        reminder->setContentsMargins(16, 14, 16, 14);
        reminder->setSpacing(6);
        reminder->addWidget(new Eyebrow(QStringLiteral("Right now"), FocusColor::gold(), 10.5));
        QLabel* focus = BlockUi::label(*focusTitle, 18, QFont::DemiBold, FocusColor::white(), Theme::Design::serif);
        focus->setWordWrap(true);
        reminder->addWidget(focus);
        waiting->addWidget(m_focusReminder);
    }
    m_failure =
        BlockUi::label(QStringLiteral("This option is no longer available. The rule or schedule may have changed."), 13,
                       QFont::DemiBold, FocusColor::alert());
    m_failure->setObjectName(QStringLiteral("failureText"));
    m_failure->setWordWrap(true);
    m_failure->hide();
    waiting->addWidget(m_failure);
    waiting->addStretch(1);

    m_buttonRow = new QWidget;
    auto* buttons = rowLayout(m_buttonRow, 10);
    m_cancel = new FocusButton(kind.cancelLabel(), FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::primary, true});
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_confirm =
        new FocusButton(kind.confirmLabel(), FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, false});
    m_confirm->setObjectName(QStringLiteral("confirmButton"));
    buttons->addWidget(m_cancel, 1);
    buttons->addWidget(m_confirm, 1);
    waiting->addWidget(m_buttonRow);
    m_close =
        new FocusButton(QStringLiteral("Close"), FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::primary, true});
    m_close->setObjectName(QStringLiteral("closeButton"));
    m_close->hide();
    waiting->addWidget(m_close);
    outer->addWidget(m_waiting, 1);

    // Granted: the check mark, the granted title and detail, and "Done".
    m_granted = new QWidget;
    auto* granted = columnLayout(m_granted, 14);
    granted->addStretch(1);
    auto* check = new SymbolLabel(Symbol::checkmark, 40, FocusColor::okGreen());
    Accessibility::hide(check);
    granted->addWidget(check, 0, Qt::AlignLeft);
    QLabel* grantedTitle =
        BlockUi::label(kind.grantedTitle(), 28, QFont::DemiBold, FocusColor::text(), Theme::Design::serif);
    grantedTitle->setObjectName(QStringLiteral("grantedTitle"));
    grantedTitle->setWordWrap(true);
    granted->addWidget(grantedTitle);
    granted->addWidget(paragraph(kind.grantedDetailText(), 14.5, QFont::Normal, FocusColor::textSecondary()));
    granted->addStretch(1);
    auto* done =
        new FocusButton(QStringLiteral("Done"), FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::primary, true});
    done->setObjectName(QStringLiteral("doneButton"));
    granted->addWidget(done);
    m_granted->hide();
    outer->addWidget(m_granted, 1);

    connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_close, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(m_confirm, &QAbstractButton::clicked, this, &BlockingBypassCooldownSheet::confirm);
    connect(done, &QAbstractButton::clicked, this, &QDialog::accept);

    // Qt timers also fire inside the event loop of an open menu or dialog, so the count never stalls.
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &BlockingBypassCooldownSheet::tick);
    m_timer.start();
    refresh();
}

BlockingBypassCooldownSheet* BlockingBypassCooldownSheet::forUrgentBreak(AppContext& context, const QUuid& ruleId,
                                                                         QWidget* parent)
{
    StorageService* storage = context.storage;
    if (!storage || !context.monotonic)
        return nullptr;
    const auto& rules = storage->blocking().rules();
    const auto it = std::find_if(rules.begin(), rules.end(), [&](const BlockRule& r) { return r.id == ruleId; });
    if (it == rules.end())
        return nullptr;
    std::optional<QString> focus;
    if (const auto todo = storage->todos().focusTodo())
        focus = todo->title;
    QPointer<StorageService> store(storage);
    auto* sheet = new BlockingBypassCooldownSheet(BlockingBypassKind::urgentBreak(it->displayName), focus, {},
                                                  *context.monotonic, parent);
    sheet->m_onGrant = [store, ruleId, sheet] {
        if (!store)
            return false;
        if (store->blocking().startUrgentBreak(ruleId, UrgentBreakState::defaultFallbackSeconds))
            return true;
        // A break still on offer was refused by the disk, not withdrawn: say what the store said.
        const auto& blocked = store->blocking().state().blockedNow;
        const bool offered = std::any_of(blocked.begin(), blocked.end(), [&](const BlockedSiteSnapshot& b) {
            return b.ruleId == ruleId && b.allowUrgentBreak;
        });
        if (offered && store->core().lastError())
            sheet->setFailureText(*store->core().lastError());
        return false;
    };
    return sheet;
}

void BlockingBypassCooldownSheet::setFailureText(const QString& text)
{
    m_failure->setText(text);
}

void BlockingBypassCooldownSheet::tick()
{
    m_cooldown.tick();
    refresh();
}

void BlockingBypassCooldownSheet::confirm()
{
    if (!m_cooldown.confirm(m_onGrant))
        return;
    m_timer.stop();
    refresh();
}

void BlockingBypassCooldownSheet::refresh()
{
    const BypassCooldown::Phase phase = m_cooldown.phase();
    const bool granted = phase == BypassCooldown::Phase::granted;
    const bool failed = phase == BypassCooldown::Phase::failed;
    const bool ready = phase == BypassCooldown::Phase::ready;
    m_waiting->setVisible(!granted);
    m_granted->setVisible(granted);
    m_ring->setState(QString::number(m_cooldown.secondsRemaining()), QStringLiteral("SECONDS"), m_cooldown.progress(),
                     m_cooldown.ringAccessibleText());
    m_confirm->setText(m_cooldown.confirmLabel(m_kind));
    m_confirm->setButtonStyle(FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, ready});
    m_confirm->setEnabled(ready);
    m_buttonRow->setVisible(!failed);
    m_close->setVisible(failed);
    m_failure->setVisible(failed);
    if (m_focusReminder)
        m_focusReminder->setVisible(!failed);
}

void BlockingBypassCooldownSheet::reject()
{
    // Once granted only "Done" remains, and Escape or the title bar does not stand in for it.
    if (m_cooldown.phase() == BypassCooldown::Phase::granted)
        return;
    QDialog::reject();
}

void BlockingBypassCooldownSheet::keyPressEvent(QKeyEvent* event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && event->modifiers() == Qt::NoModifier) {
        // Only "Done" answers Return; the confirm button deliberately has no key.
        if (m_cooldown.phase() == BypassCooldown::Phase::granted)
            accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
