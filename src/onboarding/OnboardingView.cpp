#include "onboarding/OnboardingView.h"

#include "blocking/BrowserAutomationService.h"
#include "browsers/ExtensionSetup.h"
#include "model/BlockRule.h"
#include "onboarding/OnboardingControls.h"
#include "onboarding/OnboardingIllustrations.h"
#include "onboarding/OnboardingStepParts.h"
#include "packaging/MachineInstall.h"
#include "platform/LoginItem.h"
#include "platform/SelfInstall.h"
#include "router/AppContext.h"
#include "store/StorageService.h"
#include "ui/Accessibility.h"
#include "ui/Controls.h"
#include "ui/Eyebrow.h"
#include "ui/FlowLayout.h"
#include "ui/FocusButton.h"
#include "ui/Layouts.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/SiteIconView.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WindowFit.h"
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
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

using Step = OnboardingFlow::Step;
using namespace OnboardingPaint;
using namespace OnboardingParts;

namespace {

// The dark column of the two-column steps. Its preview follows the width it gets rather than
// asking for its own: on a small screen it would push the step's column aside.
class PreviewPanel : public Panel {
public:
    explicit PreviewPanel(std::function<void(int)> fit) : Panel(FocusColor::ink(), 0), m_fit(std::move(fit))
    {
        if (m_fit)
            setMinimumWidth(margin * 2 + 200);
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        Panel::resizeEvent(event);
        if (m_fit)
            m_fit(width() - 2 * margin);
    }

private:
    static constexpr int margin = 24;
    std::function<void(int)> m_fit;
};

// The step being left, as a picture over the new one that fades away (ease in and out, 0.25 s).
void fadeOut(QWidget* page)
{
    auto* picture = new QLabel(page->parentWidget());
    picture->setPixmap(page->grab());
    picture->setGeometry(page->geometry());
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    Accessibility::hide(picture);
    auto* effect = new QGraphicsOpacityEffect(picture);
    picture->setGraphicsEffect(effect);
    auto* animation = new QPropertyAnimation(effect, "opacity", picture);
    animation->setDuration(250);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(1.0);
    animation->setEndValue(0.0);
    QObject::connect(animation, &QAbstractAnimation::finished, picture, &QObject::deleteLater);
    picture->show();
    picture->raise();
    animation->start();
}

} // namespace

OnboardingView::OnboardingView(AppContext& context, int startStep, std::function<void()> onFinish, QWidget* parent)
    : OnboardingView(
          context, startStep, std::move(onFinish),
          [&context] { return context.selfInstall && context.selfInstall->shouldOfferMove(); }, parent)
{
}

OnboardingView::OnboardingView(AppContext& context, int startStep, std::function<void()> onFinish,
                               const std::function<bool()>& shouldOfferMove, QWidget* parent)
    : QDialog(parent), m_context(context), m_flow(startStep, shouldOfferMove), m_onFinish(std::move(onFinish)),
      m_login(context.makeLoginItem ? context.makeLoginItem(this) : new AbsentLoginItem(this))
{
    setObjectName(QStringLiteral("onboardingSheet"));
    setWindowTitle(QStringLiteral("Welcome to Quillharbour"));
    setWindowModality(Qt::WindowModal);
    WindowFit::fixSize(this, QSize(880, 600));
    Theme::fillBackground(this, FocusColor::paper());
    m_move = [this](QString* error) {
        return m_context.selfInstall && m_context.selfInstall->moveAndRelaunch(
                                            [this] {
                                                if (m_context.requestQuit)
                                                    m_context.requestQuit();
                                                else
                                                    QCoreApplication::quit();
                                            },
                                            error);
    };
    // Where pkexec can ask for the administrator's password, the program installs itself for
    // everyone, protecting every Chromium-family browser and profile, then opens from there.
    if (const ExtensionSetup::MachineRoute route =
            ExtensionSetup::machineRoute(QCoreApplication::applicationFilePath(),
                                         context.selfInstall ? context.selfInstall->packagedExtension() : QString(),
                                         QStandardPaths::findExecutable(QStringLiteral("pkexec")));
        !route.command.isEmpty()) {
        m_machineCommand = route.terminal;
        m_machine = [this, route](std::function<void(const QString&, bool)> done) {
            ExtensionSetup::runMachineRoute(route, this, [this, done](const QString& said, bool ok) {
                done(said, ok);
                if (!ok)
                    return;
                QString error;
                const auto quit = [this] {
                    if (m_context.requestQuit)
                        m_context.requestQuit();
                    else
                        QCoreApplication::quit();
                };
                if (!m_context.selfInstall ||
                    !m_context.selfInstall->relaunchInstalledForEveryone(MachineInstall::defaultPrefix, quit, &error))
                    done(said + QStringLiteral("\n\n") + error, true);
            });
        };
    }
    m_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    m_root = column(this);

    if (context.browsers)
        connect(context.browsers, &BrowserAutomationService::accessChanged, this, &OnboardingView::scheduleChanged);
    connect(m_login, &LoginItem::statusChanged, this, &OnboardingView::scheduleChanged);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                reconnectBrowsersNeedingPermission();
        });
    showStep();
}

OnboardingView::~OnboardingView() = default;

void OnboardingView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_refreshedOnce) {
        m_refreshedOnce = true;
        refreshSystemState();
    }
}

void OnboardingView::refreshSystemState()
{
    if (m_context.browsers)
        m_context.browsers->refreshInstalledBrowsers(true);
    m_login->refresh();
}

void OnboardingView::go(Step target)
{
    m_flow.go(target);
    showStep();
    Motion::fadeIn(m_page, 0.25);
}

void OnboardingView::back()
{
    if (m_flow.back()) {
        showStep();
        Motion::fadeIn(m_page, 0.25);
    }
}

void OnboardingView::reject()
{
    // Neither Escape nor the window's close button ends the onboarding; only finish() does.
}

void OnboardingView::closeEvent(QCloseEvent* event)
{
    // Once finished, the owner closes the sheet (accept() sends a close event on Qt 6.4).
    if (m_flow.isFinished())
        event->accept();
    else
        event->ignore();
}

void OnboardingView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        if (OnboardingFlow::hasFooter(m_flow.step()))
            back();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        if (m_primary && m_primary->isEnabled() && m_primary->isVisibleTo(this))
            m_primary->click();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void OnboardingView::scheduleChanged()
{
    m_queuedChange.request();
}

void OnboardingView::changed()
{
    if (m_update)
        m_update();
    if (m_primary)
        m_primary->setEnabled(m_flow.isPrimaryEnabled());
}

void OnboardingView::showStep()
{
    m_update = nullptr;
    m_primary = nullptr;
    if (m_page) {
        if (m_animated && isVisible())
            fadeOut(m_page);
        m_page->hide();
        m_page->deleteLater();
    }
    QWidget* built = nullptr;
    switch (m_flow.step()) {
    case Step::install:
        built = buildInstall();
        break;
    case Step::welcome:
        built = buildWelcome();
        break;
    case Step::dailyScroll:
        built = buildDailyScroll();
        break;
    case Step::howItWorks:
        built = buildHowItWorks();
        break;
    case Step::sites:
        built = buildSites();
        break;
    case Step::browser:
        built = buildBrowser();
        break;
    case Step::priority:
        built = buildPriority();
        break;
    case Step::otherComputer:
        built = buildOtherComputer();
        break;
    case Step::done:
        built = buildDone();
        break;
    }
    m_page = built;
    m_page->setObjectName(QStringLiteral("step%1").arg(int(m_flow.step())));
    m_root->addWidget(m_page);
    changed();
    if (m_primary && m_primary->isEnabled()) {
        m_primary->setFocus();
    } else {
        // A step that waits for an answer starts on its first control, never on nothing.
        for (QWidget* w = m_page->nextInFocusChain(); w && w != m_page; w = w->nextInFocusChain()) {
            if (m_page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
                w->isVisibleTo(m_page)) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
}

// --- frame

QWidget* OnboardingView::header(const QString& text, int barWidth)
{
    auto* w = new QWidget;
    auto* l = rowLayout(w, 10);
    l->addWidget(logo(24, 7));
    if (!text.isEmpty())
        l->addWidget(new Eyebrow(text, FocusColor::textSecondary(), 11.5));
    l->addStretch(1);
    if (const auto fraction = OnboardingFlow::progress(m_flow.step())) {
        auto* bar = new FocusMeter(*fraction, FocusColor::ink(), hex("DDD7CA"), 4);
        bar->setObjectName(QStringLiteral("progressBar"));
        // Its full width where the column has room, less where it has not (a small screen).
        bar->setMinimumWidth(std::min(barWidth, 60));
        bar->setMaximumWidth(barWidth);
        l->addWidget(bar, 1000);
    }
    return w;
}

QWidget* OnboardingView::footer(bool withSkip, const QString& primaryTitle)
{
    auto* w = new Ruled(true);
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 12, 0, 0);
    l->setSpacing(0);
    auto* backButton = new OnboardingButton(QStringLiteral("Back"), OnboardingButton::Kind::quiet);
    backButton->setObjectName(QStringLiteral("backButton"));
    connect(backButton, &QAbstractButton::clicked, this, &OnboardingView::back);
    l->addWidget(backButton);
    l->addStretch(1);
    if (withSkip) {
        auto* skip = new OnboardingButton(QStringLiteral("Skip"), OnboardingButton::Kind::quiet);
        skip->setObjectName(QStringLiteral("skipButton"));
        connect(skip, &QAbstractButton::clicked, this, &OnboardingView::skipPressed);
        l->addWidget(skip);
        l->addSpacing(8);
    }
    m_primary = new OnboardingButton(primaryTitle, OnboardingButton::Kind::primary);
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    connect(m_primary.data(), &QAbstractButton::clicked, this, &OnboardingView::primaryPressed);
    l->addWidget(m_primary);
    return w;
}

QWidget* OnboardingView::singleColumn(const QString& headerLabel, QWidget* content, QWidget* foot)
{
    auto* page = new QWidget;
    auto* l = column(page, QMargins(48, 30, 48, 22));
    l->addWidget(header(headerLabel, 200));
    l->addSpacing(22);
    l->addWidget(scrolling(content), 1);
    l->addWidget(foot);
    return page;
}

QWidget* OnboardingView::twoColumns(QWidget* content, QWidget* foot, QWidget* preview,
                                    std::function<void(int width)> fitPreview)
{
    auto* page = new QWidget;
    auto* r = rowLayout(page, 0);
    auto* left = new QWidget;
    left->setFixedWidth(440);
    auto* l = column(left, QMargins(40, 30, 32, 22));
    l->addWidget(header(OnboardingFlow::stepLabel(m_flow.step()), 120));
    l->addSpacing(20);
    // Many typed sites can make the column taller than the sheet: it scrolls instead of squeezing.
    l->addWidget(scrolling(content), 1);
    l->addWidget(foot);
    r->addWidget(left);

    auto* panel = new PreviewPanel(std::move(fitPreview));
    auto* p = column(panel, {}, 16);
    p->addStretch(1);
    p->addWidget(new Eyebrow(QStringLiteral("Live preview"), FocusColor::gold(), 11), 0, Qt::AlignHCenter);
    p->addWidget(preview, 0, Qt::AlignHCenter);
    p->addStretch(1);
    r->addWidget(panel, 1);
    return page;
}

void OnboardingView::primaryPressed()
{
    if (!m_flow.isPrimaryEnabled())
        return;
    switch (m_flow.step()) {
    case Step::install:
        if (m_machine)
            installForEveryone();
        else
            install();
        return;
    case Step::done:
        finish();
        return;
    default:
        if (const auto next = OnboardingFlow::nextStep(m_flow.step()))
            go(*next);
    }
}

void OnboardingView::skipPressed()
{
    if (m_flow.step() == Step::sites)
        m_flow.skipSites();
    else if (m_flow.step() == Step::priority)
        m_flow.skipPriority();
    else
        return;
    showStep();
}

void OnboardingView::finish()
{
    OnboardingFlow::FinishTargets targets;
    targets.storage = m_context.storage;
    targets.defaults = m_context.defaults;
    targets.now = m_context.clock ? m_context.clock->now() : 0;
    targets.calendar = m_context.calendar ? m_context.calendar() : Calendar();
    QPointer<StorageService> storage = m_context.storage;
    targets.requestNotificationPermission = [storage] {
        // Asked after the hand-over, on the main loop: a desktop without a notification service
        // answers late or not at all, and the onboarding must not wait for it.
        if (!storage)
            return;
        QTimer::singleShot(0, storage, [storage] {
            if (storage)
                storage->core().reminders().requestAuthorizationIfUndetermined([] {});
        });
    };
    targets.onFinish = m_onFinish;
    if (m_primary)
        m_primary->setEnabled(false);
    m_flow.finish(targets);
}
