#include "onboarding/OnboardingView.h"

#include "blocking/BrowserAutomationService.h"
#include "browsers/BrowserStateText.h"
#include "model/BlockRule.h"
#include "onboarding/OnboardingControls.h"
#include "onboarding/OnboardingIllustrations.h"
#include "onboarding/OnboardingStepParts.h"
#include "platform/BrowserPrograms.h"
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
using namespace OnboardingPaint;
using namespace OnboardingParts;

// --- browser

QWidget* OnboardingView::buildBrowser()
{
    auto* content = new QWidget;
    auto* r = rowLayout(content, 40);
    auto* left = new QWidget;
    auto* c = column(left);
    c->addWidget(stepTitle(QStringLiteral("Connect your browser"), 30));
    c->addSpacing(10);
    c->addWidget(bodyText(QStringLiteral("So Quillharbour can tell when ") + m_flow.explanationSiteName() +
                              QStringLiteral(" is open. It only reads the tab's address. Never the page, your "
                                             "passwords or what you type."),
                          15));
    c->addSpacing(16);
    auto* list = new Ruled(true);
    list->setObjectName(QStringLiteral("browserList"));
    auto* rows = column(list, QMargins(0, 1, 0, 0));
    c->addWidget(list);
    c->addSpacing(14);
    auto* note = new QWidget;
    auto* n = rowLayout(note, 6);
    n->addWidget(new SymbolLabel(Symbol::info, 13, FocusColor::textSecondary()), 0, Qt::AlignTop);
    auto* noteText = label(QString(), Theme::font(13), FocusColor::textSecondary(), true);
    noteText->setObjectName(QStringLiteral("browserNote"));
    n->addWidget(noteText, 1);
    c->addWidget(note);
    c->addStretch(1);
    r->addWidget(left, 1);

    auto* prompt = new OnboardingExtensionPromptCard(SupportedBrowser::all().front().name);
    prompt->setObjectName(QStringLiteral("promptCard"));
    auto* settings = new OnboardingExtensionsPageIllustration(SupportedBrowser::all().front().name);
    settings->setObjectName(QStringLiteral("extensionsPage"));
    auto* right = new QWidget;
    auto* rc = column(right);
    rc->addWidget(prompt);
    rc->addWidget(settings);
    r->addWidget(right, 0, Qt::AlignTop);

    m_update = [this, list, rows, noteText, prompt, settings] {
        BrowserAutomationService* engine = m_context.browsers;
        const QHash<QString, BrowserAccessState> access =
            engine ? engine->accessByBrowserID() : QHash<QString, BrowserAccessState>();
        const std::vector<SupportedBrowser> installed =
            OnboardingFlow::installedBrowsers(SupportedBrowser::all(), access);
        while (QLayoutItem* item = rows->takeAt(0)) {
            if (QWidget* w = item->widget()) {
                w->hide();
                w->deleteLater();
            }
            delete item;
        }
        if (installed.empty()) {
            auto* none = label(QStringLiteral("No supported browser found. Quillharbour works with Chrome, Chromium, "
                                              "Brave, Edge, Vivaldi, Opera and Firefox."),
                               Theme::font(14, QFont::Medium), FocusColor::textSecondary(), true, list);
            none->setObjectName(QStringLiteral("noBrowser"));
            none->setContentsMargins(0, 14, 0, 14);
            rows->addWidget(none);
        }
        for (const SupportedBrowser& browser : installed) {
            using Kind = BrowserAccessState::Kind;
            const BrowserAccessState state = access.value(browser.id);
            auto* rowWidget = new Ruled(false);
            rowWidget->setParent(list);
            rowWidget->setObjectName(QStringLiteral("browserRow:") + browser.id);
            rowWidget->setMinimumHeight(58);
            auto* h = new QHBoxLayout(rowWidget);
            h->setContentsMargins(0, 8, 0, 8);
            h->setSpacing(14);
            h->addWidget(new OnboardingBrowserIcon(
                m_context.browserPrograms ? m_context.browserPrograms->iconNames(browser.id) : QStringList()));
            auto* texts = new QVBoxLayout;
            texts->setSpacing(2);
            texts->addWidget(label(browser.name, Theme::font(15, QFont::DemiBold), FocusColor::text()));
            const std::optional<BrowserStateText> stateText = browserStateText(browser, state);
            if (stateText)
                texts->addWidget(label(stateText->detail, Theme::font(12.5),
                                       state.needsAttention() ? FocusColor::alert() : FocusColor::textSecondary(),
                                       true));
            else if (state.kind == Kind::permissionNeeded)
                texts->addWidget(label(QStringLiteral("Started without remote debugging."), Theme::font(12.5),
                                       FocusColor::alert(), true));
            h->addLayout(texts, 1);
            if (state.isConnectedEverywhere())
                h->addWidget(new FocusOKText(QStringLiteral("Connected")));
            // Connected with private windows left out still has something to fix, beside "Connected".
            const bool hasAction = stateText ? !stateText->actionTitle.isEmpty() : !state.isProtected();
            if (hasAction) {
                QString title = stateText ? stateText->actionTitle : QStringLiteral("Connect");
                if (state.kind == Kind::permissionNeeded)
                    title = QStringLiteral("Show Me How");
                else if (state.kind == Kind::unsupported || state.kind == Kind::problem)
                    title = QStringLiteral("Try Again");
                auto* button = new FocusButton(
                    title, FocusPillButtonStyle{.isSelected = state.kind != Kind::browserClosed, .size = 13});
                button->setObjectName(QStringLiteral("browserButton"));
                button->setCursor(Qt::PointingHandCursor);
                connect(button, &QAbstractButton::clicked, this, [this, browser] {
                    if (m_context.browsers)
                        m_context.browsers->fix(browser);
                });
                h->addWidget(button);
            }
            rows->addWidget(rowWidget);
        }
        const auto needing = OnboardingFlow::browserNeedingPermission(installed, access);
        noteText->setText(needing ? QStringLiteral("Started without remote debugging, a browser is reached through "
                                                   "the extension, or from a launcher that turns debugging on.")
                                  : QStringLiteral("Breaks and blocks only work in browsers you connect."));
        const SupportedBrowser shown = OnboardingFlow::promptBrowser(installed, access);
        // Firefox is reached by its add-on alone; every other browser here is of the Chromium family.
        prompt->setBrowserName(shown.name, !shown.servedBy(SupportedBrowser::devToolsRoute));
        prompt->setVisible(!needing);
        if (needing)
            settings->setBrowserName(needing->name);
        settings->setVisible(needing.has_value());
    };
    return singleColumn(OnboardingFlow::stepLabel(Step::browser), content, footer(false, QStringLiteral("Continue")));
}

void OnboardingView::reconnectBrowsersNeedingPermission()
{
    if (m_flow.step() != Step::browser || !m_context.browsers)
        return;
    const auto access = m_context.browsers->accessByBrowserID();
    for (const SupportedBrowser& browser : OnboardingFlow::installedBrowsers(SupportedBrowser::all(), access))
        if (access.value(browser.id).kind == BrowserAccessState::Kind::permissionNeeded)
            m_context.browsers->connect(browser);
}
