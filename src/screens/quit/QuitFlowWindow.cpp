#include "screens/quit/QuitFlowWindow.h"

#include "router/AppRouter.h"
#include "router/MainWindowOpener.h"
#include "store/StorageService.h"
#include "ui/Accessibility.h"
#include "ui/CountdownRing.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/Layouts.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/RoundedPanel.h"
#include "ui/SiteIconView.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"
#include "ui/WindowFit.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QPointer<QuitFlowWindow> openWindow;

QLabel* text(const QString& value, qreal size, QFont::Weight weight, const QColor& color,
             Theme::Design design = Theme::Design::standard)
{
    QLabel* label = plainLabel(value, Theme::font(size, weight, design), color);
    label->setWordWrap(true);
    return label;
}

QLabel* headline(const QString& value)
{
    QLabel* label = text(value, 28, QFont::DemiBold, FocusColor::text(), Theme::Design::serif);
    Accessibility::markHeader(label);
    return label;
}

RoundedPanel* panelAround(QWidget* content, int padding, qreal radius, const QColor& fill, const QColor& outline)
{
    auto* panel = new RoundedPanel(fill, outline, radius);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->addWidget(content);
    return panel;
}

// White card at 72 % with a hairline outline.
RoundedPanel* chrome(QWidget* content, int padding)
{
    return panelAround(content, padding, padding, FocusColor::withOpacity(FocusColor::white(), 0.72),
                       FocusColor::hairline());
}

// One reason: a radio mark, the title, the whole row clickable.
class ReasonRow : public QAbstractButton {
public:
    ReasonRow(QuitReason reason, QWidget* parent = nullptr) : QAbstractButton(parent)
    {
        setText(QuitFlowModel::reasonTitle(reason));
        setCheckable(true);
        Accessibility::setRole(this, QAccessible::RadioButton); // one reason of four
        setObjectName(QStringLiteral("reason-%1").arg(int(reason)));
        setCursor(Qt::PointingHandCursor);
        setMinimumHeight(44);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return {400, 44}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool chosen = isChecked();
        const qreal inset = chosen ? 0.75 : 0.5;
        painter.setBrush(FocusColor::withOpacity(FocusColor::white(), chosen ? 1.0 : 0.6));
        painter.setPen(QPen(chosen ? FocusColor::ink() : FocusColor::hairline(), chosen ? 1.5 : 1.0));
        painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 12, 12);
        const QRectF mark(14, height() / 2.0 - 8, 16, 16);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(chosen ? FocusColor::ink() : FocusColor::border(), 1.5));
        painter.drawEllipse(mark.adjusted(1, 1, -1, -1));
        if (chosen) {
            painter.setBrush(FocusColor::ink());
            painter.setPen(Qt::NoPen);
            painter.drawEllipse(mark.adjusted(4.5, 4.5, -4.5, -4.5));
        }
        painter.setPen(FocusColor::text());
        painter.setFont(Theme::font(14, QFont::DemiBold));
        painter.drawText(QRectF(42, 0, width() - 56, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
};

// A site's icon over its name; the icon view shows the first letter until an icon is known.
class SiteTile : public QWidget {
public:
    explicit SiteTile(const QuitSite& site)
    {
        setFixedWidth(58);
        auto* layout = columnLayout(this, 6);
        auto* icon = new SiteIconView(site.domain, site.name, 40);
        icon->setObjectName(QStringLiteral("siteIcon"));
        layout->addWidget(icon, 0, Qt::AlignHCenter);
        QLabel* name = text(site.name, 11.5, QFont::DemiBold, FocusColor::textSecondary());
        name->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        layout->addWidget(name);
    }
};

} // namespace

QuitFlowView::QuitFlowView(QuitFlowModel& model, const StorageService& storage, QWidget* parent)
    : QWidget(parent), m_model(model), m_storage(storage)
{
    setObjectName(QStringLiteral("quitFlowView"));
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(32, 34, 32, 28);
    m_layout->setSpacing(16);
    connect(&m_model, &QuitFlowModel::changed, this, &QuitFlowView::refresh);
    rebuild();
}

void QuitFlowView::refresh()
{
    if (!m_built || m_builtStep != m_model.step())
        rebuild();
    else if (m_refresh)
        m_refresh();
}

void QuitFlowView::rebuild()
{
    const bool stepChanged = m_built && m_builtStep != m_model.step();
    if (m_content) {
        m_layout->removeWidget(m_content);
        m_content->hide();
        m_content->setParent(nullptr);
        m_content->deleteLater();
    }
    m_refresh = nullptr;
    m_content = new QWidget(this);
    auto* column = columnLayout(m_content, 16);
    auto* header = new Eyebrow(QuitFlowModel::stepHeader(m_model.step()), FocusColor::textSecondary(), 11.5);
    header->setObjectName(QStringLiteral("stepHeader"));
    column->addWidget(header);
    QWidget* step = m_model.step() == QuitFlowModel::Step::reason    ? reasonStep()
                    : m_model.step() == QuitFlowModel::Step::reflect ? reflectStep()
                                                                     : waitStep();
    column->addWidget(step, 1);
    m_layout->addWidget(m_content);
    if (stepChanged) {
        Motion::fadeIn(m_content, 0.2);
        // The control that moved on went with the old step: the keyboard starts on the new one's
        // first control.
        for (QWidget* w = m_content->nextInFocusChain(); w && w != m_content; w = w->nextInFocusChain()) {
            if (m_content->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
                w->isVisibleTo(m_content)) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    m_builtStep = m_model.step();
    m_built = true;
    if (m_refresh)
        m_refresh();
}

QWidget* QuitFlowView::buttonRow(QWidget* second)
{
    auto* row = new QWidget;
    auto* layout = rowLayout(row, 10);
    auto* keep = new FocusButton(QStringLiteral("Keep it running"), FocusSheetButtonStyle{});
    keep->setObjectName(QStringLiteral("keepRunning"));
    connect(keep, &QAbstractButton::clicked, this, [this] {
        if (onKeepRunning)
            onKeepRunning();
    });
    layout->addWidget(keep, 1);
    layout->addWidget(second, 1);
    return row;
}

QWidget* QuitFlowView::reasonStep()
{
    auto* step = new QWidget;
    auto* layout = columnLayout(step, 16);
    layout->addWidget(headline(QStringLiteral("Quitting turns off your blocks")));
    QLabel* body = text(QuitFlowModel::closedAppText(QuitFlowModel::sitesOpeningOnQuit(m_storage)), 14.5, QFont::Normal,
                        FocusColor::textSecondary());
    body->setObjectName(QStringLiteral("reasonBody"));
    layout->addWidget(body);
    QLabel* ask = text(QStringLiteral("What's making you want to quit?"), 14, QFont::Bold, FocusColor::text());
    ask->setContentsMargins(0, 4, 0, 0);
    layout->addWidget(ask);

    auto* list = new QVBoxLayout;
    list->setSpacing(8);
    std::vector<ReasonRow*> rows;
    for (const QuitReason reason :
         {QuitReason::windowInTheWay, QuitReason::needASite, QuitReason::notWorking, QuitReason::other}) {
        auto* row = new ReasonRow(reason);
        connect(row, &QAbstractButton::clicked, this, [this, reason] { m_model.chooseReason(reason); });
        list->addWidget(row);
        rows.push_back(row);
    }
    layout->addLayout(list);

    auto* cardText = text({}, 13, QFont::Medium, FocusColor::text());
    auto* cardButton = new FocusButton({}, FocusLinkButtonStyle{13, FocusColor::text()});
    cardButton->setObjectName(QStringLiteral("alternative"));
    auto* cardBody = new QWidget;
    auto* cardLayout = columnLayout(cardBody, 8);
    cardLayout->addWidget(cardText);
    cardLayout->addWidget(cardButton, 0, Qt::AlignLeft);
    RoundedPanel* card = chrome(cardBody, 14);
    card->setObjectName(QStringLiteral("alternativeCard"));
    layout->addWidget(card);
    connect(cardButton, &QAbstractButton::clicked, this, [this] {
        if (const auto reason = m_model.reason())
            if (const auto alternative = QuitFlowModel::alternative(*reason); alternative && onAlternative)
                onAlternative(*alternative);
    });
    layout->addStretch(1);

    auto* next =
        new FocusButton(QStringLiteral("Continue"), FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, false});
    next->setObjectName(QStringLiteral("continue"));
    connect(next, &QAbstractButton::clicked, &m_model, &QuitFlowModel::continueToReflect);
    layout->addWidget(buttonRow(next));

    m_refresh = [this, rows, card, cardText, cardButton, next] {
        const auto chosen = m_model.reason();
        for (ReasonRow* row : rows) {
            row->setChecked(chosen && row->objectName() == QStringLiteral("reason-%1").arg(int(*chosen)));
            row->update();
        }
        const bool hasCard = chosen && QuitFlowModel::alternative(*chosen);
        card->setVisible(hasCard);
        if (hasCard) {
            cardText->setText(QuitFlowModel::cardText(*chosen));
            cardButton->setText(QuitFlowModel::cardButtonTitle(*chosen));
        }
        next->setEnabled(m_model.canContinue());
        next->setButtonStyle(FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, m_model.canContinue()});
    };
    return step;
}

QWidget* QuitFlowView::reflectStep()
{
    auto* step = new QWidget;
    auto* layout = columnLayout(step, 16);
    if (const auto focus = m_storage.todos().focusTodo()) {
        layout->addWidget(headline(QStringLiteral("Will quitting help with what matters today?")));
        auto* inner = new QWidget;
        auto* innerLayout = new QVBoxLayout(inner);
        innerLayout->setContentsMargins(8, 6, 8, 6);
        innerLayout->setSpacing(6);
        innerLayout->addWidget(new Eyebrow(QStringLiteral("Right now"), FocusColor::gold(), 10.5));
        QLabel* title = text(focus->title, 20, QFont::DemiBold, FocusColor::white(), Theme::Design::serif);
        title->setObjectName(QStringLiteral("rightNowTitle"));
        innerLayout->addWidget(title);
        layout->addWidget(panelAround(inner, 10, 18, FocusColor::ink(), Qt::transparent));
    } else {
        layout->addWidget(headline(QStringLiteral("Do you want every blocked site open again?")));
    }
    layout->addWidget(text(QStringLiteral("Blocking only works while Quillharbour is running. Once you quit, nothing "
                                          "brings you back until you open the app yourself."),
                           14.5, QFont::Normal, FocusColor::textSecondary()));
    const auto sites = QuitFlowModel::sitesOpeningOnQuit(m_storage);
    if (!sites.empty()) {
        auto* inner = new QWidget;
        auto* innerLayout = columnLayout(inner, 12);
        innerLayout->addWidget(
            new Eyebrow(QStringLiteral("These open again if you quit"), FocusColor::textSecondary(), 10.5));
        auto* tiles = new QHBoxLayout;
        tiles->setSpacing(8);
        for (size_t i = 0; i < sites.size() && i < 5; ++i)
            tiles->addWidget(new SiteTile(sites[i]), 0, Qt::AlignTop);
        if (sites.size() > 5) {
            QLabel* more =
                text(QStringLiteral("+%1").arg(sites.size() - 5), 13, QFont::Bold, FocusColor::textSecondary());
            more->setObjectName(QStringLiteral("moreSites"));
            more->setFixedSize(36, 40);
            more->setAlignment(Qt::AlignCenter);
            tiles->addWidget(more, 0, Qt::AlignTop);
        }
        tiles->addStretch(1);
        innerLayout->addLayout(tiles);
        RoundedPanel* card = chrome(inner, 16);
        card->setObjectName(QStringLiteral("sitesCard"));
        layout->addSpacing(4);
        layout->addWidget(card);
    }
    layout->addStretch(1);
    auto* yes = new FocusButton(QStringLiteral("Yes, I still want to quit"),
                                FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, true});
    yes->setObjectName(QStringLiteral("stillQuit"));
    connect(yes, &QAbstractButton::clicked, &m_model, &QuitFlowModel::startWait);
    layout->addWidget(buttonRow(yes));
    return step;
}

QWidget* QuitFlowView::waitStep()
{
    auto* step = new QWidget;
    auto* layout = columnLayout(step, 16);
    layout->addWidget(headline(QStringLiteral("Take two minutes")));
    layout->addWidget(text(QStringLiteral("If you still want to quit when the timer ends, you can. Closing this window "
                                          "keeps Quillharbour running."),
                           14.5, QFont::Normal, FocusColor::textSecondary()));
    auto* ring = new CountdownRing(150, 40);
    ring->setObjectName(QStringLiteral("countdownRing"));
    layout->addSpacing(10);
    layout->addWidget(ring, 0, Qt::AlignHCenter);
    layout->addSpacing(10);
    if (const auto focus = m_storage.todos().focusTodo()) {
        QLabel* meanwhile = text(QStringLiteral("Meanwhile, \u201c") + focus->title +
                                     QStringLiteral("\u201d is still waiting for you."),
                                 13, QFont::Medium, FocusColor::textSecondary());
        meanwhile->setAlignment(Qt::AlignHCenter);
        layout->addWidget(meanwhile);
    }
    layout->addStretch(1);
    auto* quit = new FocusButton({}, FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, false});
    quit->setObjectName(QStringLiteral("quit"));
    connect(quit, &QAbstractButton::clicked, this, [this] {
        if (m_model.canQuit() && onQuit)
            onQuit();
    });
    layout->addWidget(buttonRow(quit));
    m_refresh = [this, ring, quit] {
        const int s = m_model.secondsRemaining();
        quit->setText(s >= 1 ? QStringLiteral("Quit in ") + QuitFlowModel::countdownText(s)
                             : QStringLiteral("Quit Quillharbour"));
        quit->setEnabled(s == 0);
        quit->setButtonStyle(FocusSheetButtonStyle{FocusSheetButtonStyle::Kind::outline, s == 0});
        ring->setState(QuitFlowModel::countdownText(s), s >= 1 ? QStringLiteral("LEFT") : QStringLiteral("DONE"),
                       1.0 - s / double(QuitFlowModel::waitSeconds),
                       s >= 1 ? QuitFlowModel::countdownText(s) + QStringLiteral(" left")
                              : QStringLiteral("Done waiting"));
    };
    return step;
}

QuitFlowWindow::QuitFlowWindow(const Hooks& hooks, std::function<void()> onQuit)
    : QWidget(nullptr, Qt::Dialog), m_hooks(hooks), m_onQuit(std::move(onQuit)), m_model(*hooks.clock)
{
    setObjectName(QStringLiteral("quitWindow"));
    setWindowTitle(QStringLiteral("Quit Quillharbour"));
    Accessibility::setRole(this, QAccessible::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    WindowFit::fixSize(this, QSize(480, 630));
    Theme::fillBackground(this, FocusColor::paper());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new QuitFlowView(m_model, *hooks.storage, this);
    view->onKeepRunning = [this] { keepRunning(); };
    view->onAlternative = [this](QuitAlternative alternative) { handle(alternative); };
    view->onQuit = [this] { finishQuit(); };
    layout->addWidget(view);
    // A quarter-second tick; the wait itself is measured on the monotonic clock.
    auto* timer = new QTimer(this);
    timer->setInterval(250);
    connect(timer, &QTimer::timeout, &m_model, &QuitFlowModel::tick);
    timer->start();
}

QuitFlowWindow* QuitFlowWindow::current()
{
    return openWindow.data();
}

QuitFlowWindow* QuitFlowWindow::show(const Hooks& hooks, std::function<void()> onQuit)
{
    if (hooks.activate)
        hooks.activate();
    if (QuitFlowWindow* open = openWindow.data()) {
        open->QWidget::show();
        open->raise();
        open->activateWindow();
        return open;
    }
    auto* window = new QuitFlowWindow(hooks, std::move(onQuit));
    // Over the main window when it is shown (the window manager keeps it there and lists it with
    // the program), else in the middle of the screen.
    const QRect available = WindowFit::availableArea(window);
    if (QWidget* owner = WindowFit::belongTo(window, hooks.mainWindow ? hooks.mainWindow() : nullptr))
        window->move(WindowFit::overParent(owner->frameGeometry(), window->size(), available));
    else
        window->move(available.center() - QPoint(window->width() / 2, window->height() / 2));
    openWindow = window;
    window->QWidget::show();
    window->raise();
    window->activateWindow();
    return window;
}

void QuitFlowWindow::closeEvent(QCloseEvent* event)
{
    // Only this window's own slot is cleared, never a newer window's.
    if (openWindow.data() == this)
        openWindow.clear();
    QWidget::closeEvent(event);
}

void QuitFlowWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape is "Keep it running".
    if (event->key() == Qt::Key_Escape) {
        keepRunning();
        return;
    }
    QWidget::keyPressEvent(event);
}

void QuitFlowWindow::keepRunning()
{
    close();
}

void QuitFlowWindow::handle(QuitAlternative alternative)
{
    const Hooks hooks = m_hooks;
    close();
    if (alternative == QuitAlternative::closeWindow) {
        if (QWidget* main = hooks.mainWindow ? hooks.mainWindow() : nullptr)
            main->close();
        return;
    }
    if (!hooks.router)
        return;
    hooks.router->setDestination(alternative == QuitAlternative::urgentBreak ? AppRouter::Destination::block
                                                                             : AppRouter::Destination::settings);
    if (alternative == QuitAlternative::urgentBreak)
        hooks.router->requestUrgentBreakChoice();
    if (hooks.opener)
        hooks.opener->request();
    if (hooks.activate)
        hooks.activate();
}

void QuitFlowWindow::finishQuit()
{
    auto onQuit = m_onQuit;
    close();
    if (onQuit)
        onQuit();
}
