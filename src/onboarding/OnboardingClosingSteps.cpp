#include "onboarding/OnboardingView.h"

#include "blocking/BrowserAutomationService.h"
#include "model/BlockRule.h"
#include "onboarding/OnboardingControls.h"
#include "onboarding/OnboardingIllustrations.h"
#include "onboarding/OnboardingStepParts.h"
#include "platform/LoginItem.h"
#include "router/AppContext.h"
#include "store/StorageService.h"
#include "ui/Accessibility.h"
#include "ui/Controls.h"
#include "ui/Eyebrow.h"
#include "ui/FlowLayout.h"
#include "ui/FocusButton.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/SiteIconView.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WrappingLabel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

using Step = OnboardingFlow::Step;

bool OnboardingView::hasTray() const
{
    return !m_context.hasTray || m_context.hasTray();
}
using namespace OnboardingPaint;
using namespace OnboardingParts;

// --- priority

QWidget* OnboardingView::buildPriority()
{
    auto* content = new QWidget;
    auto* c = column(content);
    c->addWidget(stepTitle(QStringLiteral("What matters today?"), 29));
    c->addSpacing(8);
    c->addWidget(bodyText(QStringLiteral("Pick one thing. It's what you'll see instead of the feed."), 14.5));
    c->addSpacing(18);
    auto* field = new Panel(FocusColor::white(), 14, FocusColor::hairline(), 1.5);
    auto* fl = column(field, QMargins(15, 13, 15, 13));
    auto* edit = new QLineEdit;
    edit->setObjectName(QStringLiteral("priorityField"));
    edit->setFrame(false);
    edit->setFont(Theme::font(21, QFont::DemiBold, Theme::Design::serif));
    edit->setPlaceholderText(QStringLiteral("Write it here"));
    edit->setAccessibleName(QStringLiteral("Today's priority"));
    edit->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    edit->setText(m_flow.priorityTitle());
    fl->addWidget(edit);
    c->addWidget(field);
    c->addSpacing(12);
    auto* examples = row(8);
    std::vector<std::pair<QString, FocusButton*>> chips;
    for (const QString& example : OnboardingFlow::priorityExamples()) {
        auto* chip = new FocusButton(example, FocusPillButtonStyle{.isSelected = false, .size = 13});
        chip->setObjectName(QStringLiteral("example:") + example);
        chip->setCursor(Qt::PointingHandCursor);
        connect(chip, &QAbstractButton::clicked, this, [this, edit, example] {
            m_flow.setPriorityTitle(example);
            const QSignalBlocker blocker(edit);
            edit->setText(m_flow.priorityTitle());
            changed();
        });
        examples->addWidget(chip);
        chips.emplace_back(example, chip);
    }
    examples->addStretch(1);
    c->addLayout(examples);

    connect(edit, &QLineEdit::textChanged, this, [this, edit](const QString& text) {
        m_flow.setPriorityTitle(text);
        if (m_flow.priorityTitle() != text) {
            const QSignalBlocker blocker(edit);
            edit->setText(m_flow.priorityTitle());
        }
        changed();
    });

    auto* preview = new QWidget;
    auto* pv = column(preview, {}, 12);
    auto* page =
        new OnboardingBlockPagePreview(m_flow.previewSite(), m_flow.breakMinutes, m_flow.trimmedPriority(), 392);
    page->setObjectName(QStringLiteral("priorityPreview"));
    pv->addWidget(page);
    auto* caption = label(hasTray() ? QStringLiteral("Also waiting in your system tray")
                                    : QStringLiteral("Also waiting in your applications menu"),
                          Theme::font(13), FocusColor::mutedOnDark());
    caption->setAlignment(Qt::AlignHCenter);
    pv->addWidget(caption);

    m_update = [this, field, chips, page] {
        const QString trimmed = m_flow.trimmedPriority();
        field->setBorder(trimmed.isEmpty() ? FocusColor::hairline() : FocusColor::ink(), 1.5);
        for (const auto& [example, chip] : chips)
            chip->setButtonStyle(FocusPillButtonStyle{.isSelected = trimmed == example, .size = 13});
        page->setContent(m_flow.previewSite(), m_flow.breakMinutes, trimmed);
    };
    return twoColumns(content, footer(true, QStringLiteral("Continue")), preview,
                      [page](int width) { page->fitWidth(width); });
}

// --- other computer

QWidget* OnboardingView::buildOtherComputer()
{
    auto* page = new QWidget;
    auto* r = rowLayout(page, 0);
    auto* text = new QWidget;
    auto* c = column(text, QMargins(48, 30, 36, 22));
    c->addWidget(header(OnboardingFlow::stepLabel(Step::otherComputer), 200));
    c->addSpacing(22);
    // What lies between the header and the footer scrolls on a screen too low for it.
    auto* middle = new QWidget;
    auto* outer = c;
    c = column(middle);
    c->addWidget(stepTitle(QStringLiteral("Better on every computer"), 30));
    c->addSpacing(10);
    c->addWidget(bodyText(QStringLiteral("Quillharbour on your other computer brings doom scroll breaks there too. "
                                         "Your to-dos and notes stay in sync on both computers."),
                          15));
    c->addSpacing(18);
    auto* card = new Panel(FocusColor::white(), 18, FocusColor::hairline(), 1);
    auto* k = new QHBoxLayout(card);
    k->setContentsMargins(14, 14, 14, 14);
    k->setSpacing(16);
    auto* qr = new OnboardingQRCode(syncGuideLink);
    qr->setObjectName(QStringLiteral("qrCode"));
    qr->setFixedSize(92, 92);
    k->addWidget(qr);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(label(QStringLiteral("Scan to set up sync"), Theme::font(15, QFont::Bold), FocusColor::text()));
    texts->addWidget(label(QStringLiteral("Point your phone's camera here: the guide shows how two computers share one "
                                          "database."),
                           Theme::font(13), FocusColor::textSecondary(), true));
    const QUrl url(syncGuideLink, QUrl::StrictMode);
    if (url.isValid() && url.scheme() == QStringLiteral("https") && !url.host().isEmpty()) {
        auto* link = new FocusButton(QStringLiteral("Open the sync guide"),
                                     FocusLinkButtonStyle{.size = 12.5, .color = FocusColor::text()});
        link->setObjectName(QStringLiteral("guideLink"));
        link->setCursor(Qt::PointingHandCursor);
        connect(link, &QAbstractButton::clicked, this, [this, url] {
            if (m_openUrl)
                m_openUrl(url);
        });
        texts->addSpacing(2);
        texts->addWidget(link, 0, Qt::AlignLeft);
    }
    texts->addStretch(1);
    k->addLayout(texts, 1);
    c->addWidget(card);
    c->addSpacing(10);
    auto* sync = new QHBoxLayout;
    sync->setSpacing(6);
    sync->addWidget(new SymbolLabel(Symbol::sync, 13.5, FocusColor::textSecondary()), 0, Qt::AlignTop);
    sync->addWidget(label(QStringLiteral("Same database on both? Then this computer syncs by itself."),
                          Theme::font(13.5), FocusColor::textSecondary(), true),
                    1);
    c->addLayout(sync);
    outer->addWidget(scrolling(middle), 1);
    outer->addWidget(footer(false, QStringLiteral("Continue")));
    r->addWidget(text, 1);

    auto* panel = new Panel(FocusColor::ink(), 0);
    panel->setFixedWidth(390);
    Accessibility::hide(panel);
    auto* p = column(panel, QMargins(0, 64, 0, 70));
    p->addWidget(new Eyebrow(QStringLiteral("One list, both screens"), FocusColor::gold(), 11), 0, Qt::AlignHCenter);
    p->addStretch(1);
    p->addWidget(new OnboardingDevicesInStep, 0, Qt::AlignHCenter);
    p->addStretch(1);
    p->addWidget(
        label(QStringLiteral("Add on one computer. It's on the other."), Theme::font(13.5), FocusColor::mutedOnDark()),
        0, Qt::AlignHCenter);
    r->addWidget(panel);
    return page;
}

// --- done

QWidget* OnboardingView::buildDone()
{
    auto* content = new QWidget;
    auto* r = rowLayout(content, 40);

    auto* summary = new QWidget;
    auto* c = column(summary);
    auto* badge = new PaintedView(QSize(96, 96), [](QPainter& p, const QSizeF&) {
        // The badge sits 20 points in; its halos reach back into that space.
        const QRectF b(20, 20, 56, 56);
        p.setPen(Qt::NoPen);
        p.setBrush(FocusColor::withOpacity(FocusColor::ink(), 0.05));
        p.drawEllipse(b.adjusted(-20, -20, 20, 20));
        p.setBrush(FocusColor::withOpacity(FocusColor::ink(), 0.06));
        p.drawEllipse(b.adjusted(-10, -10, 10, 10));
        p.setBrush(FocusColor::ink());
        p.drawEllipse(b);
        glyph(p, b, OnboardingGlyph::check, 22, FocusColor::gold());
    });
    c->addWidget(badge);
    auto* belowBadge = new QWidget;
    belowBadge->setFixedHeight(10);
    c->addWidget(belowBadge);
    c->addWidget(stepTitle(QStringLiteral("You're all set."), 32));
    c->addSpacing(8);
    c->addWidget(bodyText(QStringLiteral("Here's your plan. Change it any time on the Block page."), 15));
    c->addSpacing(16);

    auto* plan = new Panel(FocusColor::white(), 20, FocusColor::hairline(), 1);
    plan->setObjectName(QStringLiteral("planCard"));
    auto* pl = column(plan, QMargins(18, 0, 18, 0));
    auto rule = [] {
        auto* line = new QWidget;
        line->setFixedHeight(1);
        Theme::fillBackground(line, hex("EFEBE2"));
        return line;
    };
    auto planRow = [](char16_t icon, bool accent, const QString& title, const QString& detail, const QString& name) {
        auto* w = new QWidget;
        w->setObjectName(name);
        w->setAccessibleName(title + QStringLiteral(". ") + detail);
        auto* h = new QHBoxLayout(w);
        h->setContentsMargins(0, 10, 0, 10);
        h->setSpacing(14);
        h->addWidget(tile(36, 11, accent ? FocusColor::ink() : FocusColor::paper(), icon, accent ? 14 : 17,
                          accent ? FocusColor::gold() : FocusColor::text()));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* t = new WrappingLabel(title);
        t->setObjectName(QStringLiteral("title"));
        t->setFont(Theme::font(15, QFont::Bold));
        t->setColor(FocusColor::text());
        auto* d = new WrappingLabel(detail);
        d->setObjectName(QStringLiteral("detail"));
        d->setFont(Theme::font(12.5));
        d->setColor(FocusColor::textSecondary());
        texts->addWidget(t);
        texts->addWidget(d);
        h->addLayout(texts, 1);
        return w;
    };
    auto switchRow = [](const QString& title, const QString& detail, FocusSwitch* toggle) {
        auto* w = new QWidget;
        auto* h = new QHBoxLayout(w);
        h->setContentsMargins(0, 10, 0, 10);
        h->setSpacing(16);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(label(title, Theme::font(14.5, QFont::DemiBold), FocusColor::text(), true));
        texts->addWidget(label(detail, Theme::font(12.5), FocusColor::textSecondary(), true));
        h->addLayout(texts, 1);
        h->addWidget(toggle);
        return w;
    };
    const QStringList sites = m_flow.selectedSites();
    pl->addWidget(planRow(OnboardingGlyph::pause, true, QStringLiteral("Doom scroll breaks"),
                          sites.isEmpty() ? QStringLiteral("Set them up any time on the Block page")
                                          : m_flow.doomScrollPlanText(),
                          QStringLiteral("doomScrollPlan")));
    pl->addWidget(rule());
    const QString priority = m_flow.trimmedPriority();
    pl->addWidget(priority.isEmpty() ? planRow(OnboardingGlyph::scope, false, QStringLiteral("Today's priority"),
                                               QStringLiteral("Pick one on Today"), QStringLiteral("priorityPlan"))
                                     : planRow(OnboardingGlyph::scope, false, priority,
                                               QStringLiteral("Today's priority"), QStringLiteral("priorityPlan")));
    pl->addWidget(rule());
    auto* loginSwitch = new FocusSwitch(QStringLiteral("Open Quillharbour when I sign in"), m_login->isEnabled());
    loginSwitch->setObjectName(QStringLiteral("loginSwitch"));
    connect(loginSwitch, &QAbstractButton::toggled, this, [this](bool on) {
        m_login->setEnabled(on);
        changed();
    });
    pl->addWidget(switchRow(QStringLiteral("Open Quillharbour when I sign in"),
                            QStringLiteral("So breaks are on from the moment you start."), loginSwitch));
    pl->addWidget(rule());
    auto* reminders = new FocusSwitch(QStringLiteral("Reminders for your to-dos"), m_flow.remindersOn);
    reminders->setObjectName(QStringLiteral("remindersSwitch"));
    connect(reminders, &QAbstractButton::toggled, this, [this](bool on) { m_flow.remindersOn = on; });
    pl->addWidget(switchRow(QStringLiteral("Reminders for your to-dos"),
                            QStringLiteral("A banner at the time you choose."), reminders));
    c->addWidget(plan);

    auto* approval = new QWidget;
    approval->setObjectName(QStringLiteral("approvalNote"));
    auto* a = new QHBoxLayout(approval);
    a->setContentsMargins(0, 8, 0, 0);
    a->setSpacing(10);
    a->addWidget(label(QStringLiteral("Your desktop needs you to allow Quillharbour in its startup apps."),
                       Theme::font(12.5, QFont::DemiBold), FocusColor::alert(), true),
                 1);
    auto* open = new FocusButton(QStringLiteral("Open the autostart folder"),
                                 FocusLinkButtonStyle{.size = 12.5, .color = FocusColor::text()});
    open->setCursor(Qt::PointingHandCursor);
    connect(open, &QAbstractButton::clicked, this, [this] {
        // The sign-in entries live in the autostart folder; that folder is what the desktop opens.
        if (m_openUrl)
            m_openUrl(QUrl::fromLocalFile(QFileInfo(m_login->entryPath()).absolutePath()));
    });
    a->addWidget(open);
    c->addWidget(approval);
    c->addStretch(1);
    r->addWidget(summary, 1);

    auto* menu = new Panel(hex("E9E5DC"), 22);
    menu->setFixedWidth(330);
    auto* m = column(menu, QMargins(22, 26, 22, 26));
    // The picture shows the place the words name.
    if (hasTray())
        m->addWidget(new OnboardingTrayIllustration(priority));
    else
        m->addWidget(new OnboardingAppMenuIllustration);
    m->addSpacing(18);
    m->addWidget(label(hasTray() ? QStringLiteral("Find Quillharbour in your system tray. Close this window any time. "
                                                  "Everything keeps running.")
                                 : QStringLiteral("Find Quillharbour in your applications menu. Close this window any "
                                                  "time. Everything keeps running."),
                       Theme::font(15.5, QFont::Medium, Theme::Design::serif), FocusColor::text(), true));
    r->addWidget(menu, 0, Qt::AlignTop);

    m_update = [this, loginSwitch, approval, badge, belowBadge] {
        const QSignalBlocker blocker(loginSwitch);
        loginSwitch->setChecked(m_login->isEnabled());
        const bool needsApproval = m_login->status() == LoginItem::Status::requiresApproval;
        approval->setVisible(needsApproval);
        // The note would push the plan past the sheet's foot: the badge makes room for it.
        badge->setVisible(!needsApproval);
        belowBadge->setVisible(!needsApproval);
    };
    return singleColumn(QString(), content, footer(false, QStringLiteral("Start focusing")));
}
