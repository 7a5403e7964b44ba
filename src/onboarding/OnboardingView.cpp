#include "onboarding/OnboardingView.h"

#include "blocking/BrowserAutomationService.h"
#include "linux/ApplicationsMover.h"
#include "linux/LaunchAtLoginService.h"
#include "model/BlockRule.h"
#include "onboarding/OnboardingControls.h"
#include "onboarding/OnboardingIllustrations.h"
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
#include <QTimer>
#include <QVBoxLayout>

using Step = OnboardingFlow::Step;
using namespace OnboardingPaint;

namespace {

QColor hex(const char* text)
{
    return colorFromHex(QString::fromLatin1(text));
}

QLabel* label(const QString& text, const QFont& font, const QColor& color, bool wrap = false, QWidget* parent = nullptr)
{
    QLabel* l = plainLabel(text, font, color, parent);
    l->setWordWrap(wrap);
    return l;
}

// A one-line title that shrinks down to 70 % of its size before it would be cut.
class FittingTitle : public QLabel {
public:
    FittingTitle(const QString& text, qreal size, const QColor& color) : QLabel(text), m_size(size)
    {
        setTextFormat(Qt::PlainText);
        setFont(Theme::font(size, QFont::DemiBold, Theme::Design::serif));
        setTextColor(this, color);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setMinimumHeight(QFontMetrics(font()).height());
        Accessibility::markHeader(this);
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        qreal size = m_size;
        while (size > m_size * 0.7) {
            if (QFontMetricsF(Theme::font(size, QFont::DemiBold, Theme::Design::serif)).horizontalAdvance(text()) <=
                width())
                break;
            size -= 0.5;
        }
        setFont(Theme::font(qMax(size, m_size * 0.7), QFont::DemiBold, Theme::Design::serif));
    }

private:
    qreal m_size;
};

QLabel* stepTitle(const QString& text, qreal size)
{
    return new FittingTitle(text, size, FocusColor::text());
}

QLabel* bodyText(const QString& text, qreal size)
{
    auto* l = label(text, Theme::font(size), FocusColor::textSecondary(), true);
    l->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return l;
}

// A rounded area with a fill and an optional border; it holds its own layout.
class Panel : public QWidget {
public:
    Panel(const QColor& fill, qreal radius, const QColor& border = Qt::transparent, qreal borderWidth = 0,
          QWidget* parent = nullptr)
        : QWidget(parent), m_fill(fill), m_border(border), m_radius(radius), m_borderWidth(borderWidth)
    {
    }
    void setBorder(const QColor& color, qreal width)
    {
        m_border = color;
        m_borderWidth = width;
        update();
    }
    Qt::PenStyle penStyle = Qt::SolidLine;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        fillRounded(p, rect(), m_radius, m_fill);
        if (m_borderWidth > 0) {
            if (penStyle == Qt::SolidLine) {
                strokeInside(p, rect(), m_radius, m_border, m_borderWidth);
            } else {
                QPen pen(m_border, m_borderWidth);
                pen.setDashPattern({4, 3});
                p.setPen(pen);
                p.setBrush(Qt::NoBrush);
                const qreal h = m_borderWidth / 2;
                p.drawRoundedRect(QRectF(rect()).adjusted(h, h, -h, -h), m_radius - h, m_radius - h);
            }
        }
    }

private:
    QColor m_fill;
    QColor m_border;
    qreal m_radius;
    qreal m_borderWidth;
};

QWidget* logo(int size, qreal radius)
{
    return new PaintedView(QSize(size, size), [radius](QPainter& p, const QSizeF& s) {
        const QRectF r(QPointF(0, 0), s);
        appLogo(p, r, radius);
        strokeInside(p, r, radius, FocusColor::hairline(), 1);
    });
}

// A square tile with a glyph on a filled shape.
QWidget* tile(int size, qreal radius, const QColor& fill, char16_t codepoint, qreal glyphSize, const QColor& color,
              const QColor& ring = Qt::transparent)
{
    return new PaintedView(QSize(size, size), [=](QPainter& p, const QSizeF& s) {
        const QRectF r(QPointF(0, 0), s);
        fillRounded(p, r, radius, fill);
        if (ring.alpha())
            strokeInside(p, r, radius, ring, 1);
        glyph(p, r, codepoint, glyphSize, color);
    });
}

QHBoxLayout* row(int spacing)
{
    return rowLayout(nullptr, spacing);
}

QVBoxLayout* column(QWidget* owner, const QMargins& margins = {}, int spacing = 0)
{
    auto* l = new QVBoxLayout(owner);
    l->setContentsMargins(margins);
    l->setSpacing(spacing);
    return l;
}

// The line between two stages of the how-it-works flow, with an optional pill above it.
class FlowConnector : public QWidget {
public:
    FlowConnector(const QColor& color, const QString& text) : m_color(color), m_text(text)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(60);
        Accessibility::hide(this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(8, 0, -8, 0);
        qreal y = 25;
        if (!m_text.isEmpty()) {
            const QFont f = Theme::font(12.5, QFont::Bold);
            const QFontMetricsF fm(f);
            const QRectF pill(r.center().x() - fm.horizontalAdvance(m_text) / 2 - 10, 0,
                              fm.horizontalAdvance(m_text) + 20, fm.height() + 10);
            fillRounded(p, pill, pill.height() / 2, FocusColor::withOpacity(FocusColor::priorityHigh(), 0.14));
            p.setFont(f);
            p.setPen(FocusColor::alert());
            p.drawText(pill, Qt::AlignCenter, m_text);
            y = pill.bottom() + 8;
        }
        fillRounded(p, QRectF(r.left(), y, r.width(), 3), 1.5, m_color);
    }

private:
    QColor m_color;
    QString m_text;
};

// A container with a 1-point hairline along its top or bottom edge.
class Ruled : public QWidget {
public:
    explicit Ruled(bool top) : m_top(top) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(QRectF(0, m_top ? 0 : height() - 1, width(), 1), FocusColor::hairline());
    }

private:
    bool m_top;
};

// The add-a-site field: Return adds the typed site and goes no further (never to Continue).
class SiteField : public QLineEdit {
protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        QLineEdit::keyPressEvent(event);
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            event->accept();
    }
};

// A suggested site: its icon and name; picked chips are white with an ink border and a check.
class SiteChip : public QAbstractButton {
public:
    SiteChip(const QString& site, QWidget* parent = nullptr) : QAbstractButton(parent)
    {
        const QString name = BlockRule::suggestedDisplayName(site);
        setText(name);
        setAccessibleName(name);
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setObjectName(QStringLiteral("siteChip:") + site);
        auto* l = column(this, QMargins(2, 11, 2, 11), 7);
        auto* icon = new SiteIconView(site, name, 36, this);
        icon->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->addWidget(icon, 0, Qt::AlignHCenter);
        m_name = label(name, Theme::font(11.5, QFont::Bold), FocusColor::text());
        m_name->setAlignment(Qt::AlignCenter);
        m_name->setAttribute(Qt::WA_TransparentForMouseEvents);
        l->addWidget(m_name);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return layout()->sizeHint(); }

protected:
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const bool picked = isChecked();
        const QRectF r = rect();
        fillRounded(p, r, 14, picked ? FocusColor::white() : FocusColor::withOpacity(FocusColor::white(), 0.5));
        strokeInside(p, r, 14, picked ? FocusColor::ink() : FocusColor::hairline(), picked ? 1.5 : 1);
        if (picked) {
            const QRectF badge(r.right() - 6 - 16, r.top() + 6, 16, 16);
            p.setPen(Qt::NoPen);
            p.setBrush(FocusColor::ink());
            p.drawEllipse(badge);
            glyph(p, badge, OnboardingGlyph::check, 8, FocusColor::white());
        }
        if (hasFocus())
            strokeInside(p, r, 14, FocusColor::gold(), 2);
    }

private:
    QLabel* m_name;
};

// A typed site as an ink pill with a cross; pressing it removes the site.
class CustomSiteChip : public QAbstractButton {
public:
    CustomSiteChip(const QString& site, QWidget* parent = nullptr) : QAbstractButton(parent)
    {
        setText(site);
        setAccessibleName(QStringLiteral("Remove ") + site);
        setObjectName(QStringLiteral("customSiteChip"));
        setCursor(Qt::PointingHandCursor);
        setFont(Theme::font(12, QFont::DemiBold));
    }
    QSize sizeHint() const override
    {
        // A very long domain stays within the column; its end is elided.
        return {qMin(360, QFontMetrics(font()).horizontalAdvance(text()) + 2 + 13 + 5 + 11 + 13), 32};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (isDown())
            p.setOpacity(0.7);
        const QRectF r = rect();
        fillRounded(p, r, r.height() / 2, FocusColor::ink());
        p.setFont(font());
        p.setPen(FocusColor::white());
        const QRectF textRect = r.adjusted(13, 0, -13 - 16, 0);
        p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetrics(font()).elidedText(text(), Qt::ElideMiddle, int(textRect.width())));
        glyph(p, QRectF(r.right() - 13 - 11, r.top(), 11, r.height()), OnboardingGlyph::close, 9, FocusColor::white());
    }
};

// The gold tag that opens a menu of durations.
class MinutesPicker : public QAbstractButton {
public:
    MinutesPicker(const QString& name, const std::vector<int>& options, std::function<int()> value,
                  std::function<void(int)> choose)
        : m_name(name), m_value(std::move(value))
    {
        setObjectName(name);
        setCursor(Qt::PointingHandCursor);
        setFont(Theme::font(14, QFont::Bold));
        connect(this, &QAbstractButton::clicked, this, [this, options, choose] {
            QMenu menu(this);
            for (int option : options) {
                QAction* action = menu.addAction(OnboardingFlow::durationLabel(option));
                action->setCheckable(true);
                action->setChecked(option == m_value());
                connect(action, &QAction::triggered, this, [choose, option] { choose(option); });
            }
            menu.exec(mapToGlobal(QPoint(0, height())));
        });
        refresh();
    }
    void refresh()
    {
        setText(OnboardingFlow::durationLabel(m_value()));
        setAccessibleName(m_name + QStringLiteral(": ") + text());
        updateGeometry();
        update();
    }
    QSize sizeHint() const override { return {QFontMetrics(font()).horizontalAdvance(text()) + 4 + 11 + 20, 28}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = rect();
        fillRounded(p, r, 9, FocusColor::gold());
        p.setFont(font());
        p.setPen(FocusColor::ink());
        p.drawText(r.adjusted(10, 0, -10 - 15, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
        glyph(p, QRectF(r.right() - 10 - 11, r.top(), 11, r.height()), OnboardingGlyph::chevronDown, 9,
              FocusColor::ink());
    }

private:
    QString m_name;
    std::function<int()> m_value;
};

// A transparent, frameless scroll area around a step's content, for content taller than the sheet.
QScrollArea* scrolling(QWidget* content)
{
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("stepScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { width: 6px; background: transparent; margin: 0; }"
                       "QScrollBar::handle:vertical { background: #CFC8B8; border-radius: 3px; min-height: 24px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    auto* holder = new QWidget;
    holder->setAutoFillBackground(false);
    auto* hl = column(holder);
    hl->addWidget(content);
    hl->addStretch(1);
    scroll->setWidget(holder);
    return scroll;
}

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
          context, startStep, std::move(onFinish), [] { return ApplicationsMover::shouldOfferMove(); }, parent)
{
}

OnboardingView::OnboardingView(AppContext& context, int startStep, std::function<void()> onFinish,
                               const std::function<bool()>& shouldOfferMove, QWidget* parent)
    : QDialog(parent), m_context(context), m_flow(startStep, shouldOfferMove), m_onFinish(std::move(onFinish)),
      m_login(new LaunchAtLoginService(this))
{
    setObjectName(QStringLiteral("onboardingSheet"));
    setWindowTitle(QStringLiteral("Welcome to Quillharbour"));
    setWindowModality(Qt::WindowModal);
    WindowFit::fixSize(this, QSize(880, 600));
    Theme::fillBackground(this, FocusColor::paper());
    m_move = [this](QString* error) {
        return ApplicationsMover::moveAndRelaunch(
            [this] {
                if (m_context.requestQuit)
                    m_context.requestQuit();
                else
                    QCoreApplication::quit();
            },
            error);
    };
    m_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    m_root = column(this);

    if (context.browsers)
        connect(context.browsers, &BrowserAutomationService::accessChanged, this, &OnboardingView::scheduleChanged);
    connect(m_login, &LaunchAtLoginService::statusChanged, this, &OnboardingView::scheduleChanged);
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
    m_login->setStatus(m_login->readStatus());
}

void OnboardingView::go(Step target)
{
    m_flow.go(target);
    showStep();
}

void OnboardingView::back()
{
    if (m_flow.back())
        showStep();
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
    case Step::iPhone:
        built = buildPhone();
        break;
    case Step::done:
        built = buildDone();
        break;
    }
    m_page = built;
    m_page->setObjectName(QStringLiteral("step%1").arg(int(m_flow.step())));
    m_root->addWidget(m_page);
    changed();
    if (m_primary && m_primary->isEnabled())
        m_primary->setFocus();
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
        bar->setFixedWidth(barWidth);
        l->addWidget(bar);
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

QWidget* OnboardingView::twoColumns(QWidget* content, QWidget* foot, QWidget* preview)
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

    auto* panel = new Panel(FocusColor::ink(), 0);
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
        moveToApplications();
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

// --- install

QWidget* OnboardingView::buildInstall()
{
    auto* page = new QWidget;
    auto* r = new QHBoxLayout(page);
    r->setContentsMargins(56, 44, 56, 44);
    r->setSpacing(44);
    auto* text = new QWidget;
    auto* c = column(text);
    auto* top = row(10);
    top->addWidget(logo(30, 8));
    top->addWidget(new Eyebrow(QStringLiteral("Before you start"), FocusColor::textSecondary(), 11.5));
    top->addStretch(1);
    c->addLayout(top);
    c->addSpacing(28);
    auto* title = label(QStringLiteral("Move Quillharbour to Applications"),
                        Theme::font(38, QFont::DemiBold, Theme::Design::serif), FocusColor::text(), true);
    Accessibility::markHeader(title);
    c->addWidget(title);
    c->addSpacing(16);
    c->addWidget(bodyText(QStringLiteral("It's running from the download right now. In Applications it stays on your "
                                         "Mac, opens when you sign in and gets updates."),
                          16.5));
    c->addSpacing(30);
    auto* buttons = row(14);
    m_primary = new OnboardingButton(QStringLiteral("Move to Applications"), OnboardingButton::Kind::primary);
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    connect(m_primary.data(), &QAbstractButton::clicked, this, &OnboardingView::primaryPressed);
    auto* notNow = new OnboardingButton(QStringLiteral("Not now"), OnboardingButton::Kind::quiet);
    notNow->setObjectName(QStringLiteral("notNowButton"));
    connect(notNow, &QAbstractButton::clicked, this, [this] { go(Step::welcome); });
    buttons->addWidget(m_primary);
    buttons->addWidget(notNow);
    buttons->addStretch(1);
    c->addLayout(buttons);
    c->addSpacing(14);
    auto* status = label(QString(), Theme::font(13), FocusColor::textSecondary(), true);
    status->setObjectName(QStringLiteral("moveStatus"));
    c->addWidget(status);
    c->addStretch(1);
    r->addWidget(text, 1, Qt::AlignVCenter);
    r->addWidget(new OnboardingMoveToApplicationsIllustration, 0, Qt::AlignVCenter);
    m_update = [this, status] {
        if (m_flow.moveError) {
            status->setText(*m_flow.moveError);
            status->setFont(Theme::font(13, QFont::DemiBold));
            setTextColor(status, FocusColor::alert());
        } else {
            status->setText(QStringLiteral("Quillharbour closes and opens again from Applications."));
            status->setFont(Theme::font(13));
            setTextColor(status, FocusColor::textSecondary());
        }
    };
    return page;
}

void OnboardingView::moveToApplications()
{
    QString error;
    if (m_move && m_move(&error))
        return;
    // The cause stays out of the sheet: the person can only go on by hand.
    m_flow.moveError = QStringLiteral("Couldn't move it. Quit Quillharbour, then drag it from the download into "
                                      "Applications.");
    changed();
}

// --- welcome

QWidget* OnboardingView::buildWelcome()
{
    auto* page = new QWidget;
    auto* r = new QHBoxLayout(page);
    // The illustration's shadow takes 26 points of its own on each side.
    r->setContentsMargins(56, 44, 30, 44);
    r->setSpacing(22);
    auto* text = new QWidget;
    auto* c = column(text);
    auto* brand = row(10);
    brand->addWidget(logo(30, 8));
    brand->addWidget(label(QStringLiteral("Quillharbour for Mac"), Theme::font(15, QFont::Bold), FocusColor::text()));
    brand->addStretch(1);
    c->addLayout(brand);
    c->addSpacing(28);
    auto* first = new FittingTitle(QStringLiteral("The feed never ends."), 38, FocusColor::text());
    auto* second = new FittingTitle(QStringLiteral("Your day does."), 38, FocusColor::textSecondary());
    c->addWidget(first);
    c->addWidget(second);
    c->addSpacing(16);
    c->addWidget(bodyText(QStringLiteral("Quillharbour stops the endless scroll on sites like YouTube and Instagram, "
                                         "and shows you what matters instead."),
                          16.5));
    c->addSpacing(30);
    m_primary = new OnboardingButton(QStringLiteral("Get started"), OnboardingButton::Kind::primary);
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    connect(m_primary.data(), &QAbstractButton::clicked, this, &OnboardingView::primaryPressed);
    c->addWidget(m_primary, 0, Qt::AlignLeft);
    r->addWidget(text, 1, Qt::AlignVCenter);
    r->addWidget(new OnboardingFeedBreakIllustration, 0, Qt::AlignVCenter);
    return page;
}

// --- daily scroll

QWidget* OnboardingView::buildDailyScroll()
{
    auto* content = new QWidget;
    auto* r = rowLayout(content, 36);

    auto* question = new QWidget;
    auto* q = column(question);
    q->addWidget(stepTitle(QStringLiteral("Your daily scroll"), 32));
    q->addSpacing(10);
    q->addWidget(bodyText(
        QStringLiteral("On a normal day, how much time do you spend on sites like YouTube or Instagram?"), 15.5));
    q->addSpacing(20);
    std::vector<std::pair<double, OnboardingChoiceRow*>> rows;
    for (double hours : OnboardingFlow::hoursOptions()) {
        auto* choice = new OnboardingChoiceRow(OnboardingFlow::hoursTitle(hours));
        choice->setObjectName(QStringLiteral("hours%1").arg(hours));
        connect(choice, &QAbstractButton::clicked, this, [this, hours] {
            m_flow.setHoursPerDay(hours);
            changed();
        });
        q->addWidget(choice);
        q->addSpacing(8);
        rows.emplace_back(hours, choice);
    }
    q->addStretch(1);
    r->addWidget(question, 1);

    auto* card = new Panel(FocusColor::white(), 22, FocusColor::hairline(), 1);
    card->setObjectName(QStringLiteral("costCard"));
    card->setFixedWidth(360);
    auto* k = column(card, QMargins(24, 22, 24, 22));
    k->addWidget(new Eyebrow(QStringLiteral("Your scrolling has a price"), FocusColor::alert(), 11.5));
    k->addSpacing(4);
    auto* days = label(QString(), Theme::font(62, QFont::DemiBold, Theme::Design::serif), FocusColor::text());
    days->setObjectName(QStringLiteral("daysFigure"));
    QFont daysFont = days->font();
    daysFont.setLetterSpacing(QFont::AbsoluteSpacing, -1.5);
    days->setFont(daysFont);
    k->addWidget(days);
    k->addSpacing(6);
    k->addWidget(bodyText(QStringLiteral("a year. That's time you could spend on what matters."), 14));
    k->addSpacing(16);
    auto* dots = new OnboardingYearDots(m_flow.daysLostPerYear(), 6, 3);
    dots->setObjectName(QStringLiteral("yearDots"));
    k->addWidget(dots);
    k->addSpacing(14);
    auto* months = new QLabel;
    months->setObjectName(QStringLiteral("monthsFigure"));
    months->setTextFormat(Qt::RichText); // only our own digits go into it
    months->setFont(Theme::font(13.5));
    setTextColor(months, FocusColor::textSecondary());
    k->addWidget(months);
    auto* opacity = new QGraphicsOpacityEffect(card);
    card->setGraphicsEffect(opacity);
    r->addWidget(card, 0, Qt::AlignTop);

    auto* animation = new QPropertyAnimation(opacity, "opacity", card);
    animation->setDuration(200);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    opacity->setOpacity(m_flow.hoursPerDay() ? 1.0 : 0.4);
    // A fully opaque card is drawn without the effect, which would only cost time.
    opacity->setEnabled(!m_flow.hoursPerDay());
    connect(animation, &QAbstractAnimation::finished, opacity,
            [opacity] { opacity->setEnabled(opacity->opacity() < 1.0); });
    m_update = [this, rows, days, dots, months, opacity, animation] {
        for (const auto& [hours, choice] : rows)
            choice->setSelected(m_flow.hoursPerDay() == hours);
        days->setText(QStringLiteral("%1 days").arg(m_flow.daysLostPerYear()));
        dots->setLostDays(m_flow.daysLostPerYear());
        months->setText(QStringLiteral("Over 10 years, that's <b style=\"color:#%1\">%2 months</b>.")
                            .arg(FocusColor::text().name().mid(1))
                            .arg(m_flow.monthsLostOverTenYears()));
        const qreal target = m_flow.hoursPerDay() ? 1.0 : 0.4;
        if (!qFuzzyCompare(opacity->opacity(), target) && animation->endValue() != target) {
            animation->stop();
            animation->setStartValue(opacity->opacity());
            animation->setEndValue(target);
            opacity->setEnabled(true);
            animation->start();
        }
    };
    return singleColumn(QStringLiteral("A quick question"), content, footer(false, QStringLiteral("Continue")));
}

// --- how it works

QWidget* OnboardingView::buildHowItWorks()
{
    auto* content = new QWidget;
    auto* c = column(content);
    c->addWidget(stepTitle(QStringLiteral("How it works"), 32));
    c->addSpacing(30);

    auto stage = [](QWidget* icon, const QList<QWidget*>& lines) {
        auto* w = new QWidget;
        w->setFixedWidth(176);
        auto* l = column(w, {}, 4);
        l->addWidget(icon);
        l->addSpacing(6);
        for (QWidget* line : lines)
            l->addWidget(line);
        l->addStretch(1);
        return w;
    };
    auto* flow = new QWidget;
    flow->setAccessibleName(QStringLiteral("You open youtube.com. After 20 min the site pauses for 10 minutes. You "
                                           "see what matters."));
    auto* f = rowLayout(flow, 0);
    f->addWidget(
        stage(tile(52, 15, FocusColor::priorityLow(), OnboardingGlyph::play, 19, FocusColor::white()),
              {label(QStringLiteral("You open youtube.com"), Theme::font(16, QFont::Bold), FocusColor::text(), true)}),
        0, Qt::AlignTop);
    f->addWidget(new FlowConnector(FocusColor::priorityHigh(), QStringLiteral("After 20 min")), 1, Qt::AlignTop);
    f->addWidget(
        stage(tile(52, 26, FocusColor::ink(), OnboardingGlyph::pause, 17, FocusColor::gold()),
              {label(QStringLiteral("The site pauses"), Theme::font(16, QFont::Bold), FocusColor::text(), true),
               label(QStringLiteral("for 10 minutes"), Theme::font(13.5), FocusColor::textSecondary(), true)}),
        0, Qt::AlignTop);
    f->addWidget(new FlowConnector(hex("DDD7CA"), QString()), 1, Qt::AlignTop);
    auto* mini = new Panel(FocusColor::ink(), 12);
    auto* m = column(mini, QMargins(12, 9, 12, 9), 2);
    m->addWidget(new Eyebrow(QStringLiteral("Right now"), FocusColor::gold(), 9.5));
    m->addWidget(label(QStringLiteral("Go for a walk"), Theme::font(16, QFont::DemiBold), FocusColor::white()));
    auto* miniHolder = new QWidget;
    auto* mh = column(miniHolder, QMargins(0, 6, 0, 0));
    mh->addWidget(mini);
    f->addWidget(
        stage(tile(52, 26, FocusColor::white(), OnboardingGlyph::scope, 21, FocusColor::text(), FocusColor::hairline()),
              {label(QStringLiteral("You see what matters"), Theme::font(16, QFont::Bold), FocusColor::text(), true),
               miniHolder}),
        0, Qt::AlignTop);
    c->addWidget(flow);
    c->addSpacing(34);

    auto* cards = row(12);
    struct Feature {
        char16_t icon;
        const char* title;
        const char* detail;
    };
    static const Feature features[] = {
        {OnboardingGlyph::globe, "Works in your browser", "Safari, Chrome, Arc, Brave and Edge."},
        {OnboardingGlyph::moon, "Lock sites at set times", "Bedtime, work hours, or all day."},
        {OnboardingGlyph::lock, "Hard to turn off", "Turning a block off asks you to pause first."},
    };
    for (const Feature& feature : features) {
        auto* card = new Panel(FocusColor::white(), 16, FocusColor::hairline(), 1);
        card->setAccessibleName(QString::fromUtf8(feature.title) + QStringLiteral(". ") +
                                QString::fromUtf8(feature.detail));
        auto* l = column(card, QMargins(16, 16, 16, 16), 6);
        auto* icon = new PaintedView(QSize(20, 20), [feature](QPainter& p, const QSizeF& s) {
            glyph(p, QRectF(QPointF(0, 0), s), feature.icon, 16, FocusColor::text());
        });
        l->addWidget(icon);
        l->addWidget(label(QString::fromUtf8(feature.title), Theme::font(14.5, QFont::Bold), FocusColor::text()));
        l->addWidget(label(QString::fromUtf8(feature.detail), Theme::font(13), FocusColor::textSecondary(), true));
        l->addStretch(1);
        cards->addWidget(card, 1);
    }
    c->addLayout(cards);
    c->addStretch(1);
    return singleColumn(QStringLiteral("How Quillharbour helps"), content, footer(false, QStringLiteral("Continue")));
}

// --- sites

QWidget* OnboardingView::buildSites()
{
    auto* content = new QWidget;
    auto* c = column(content);
    c->addWidget(stepTitle(QStringLiteral("Which sites do you scroll?"), 29));
    c->addSpacing(6);
    c->addWidget(bodyText(QStringLiteral("Pick the sites you open without thinking."), 14.5));
    c->addSpacing(16);
    auto* suggested = row(8);
    std::vector<std::pair<QString, SiteChip*>> chips;
    for (const QString& site : BlockRule::suggestedSites()) {
        auto* chip = new SiteChip(site);
        connect(chip, &QAbstractButton::clicked, this, [this, site] {
            m_flow.toggleSite(site);
            changed();
        });
        suggested->addWidget(chip, 1);
        chips.emplace_back(site, chip);
    }
    c->addLayout(suggested);

    // Typed sites wrap onto further rows, so each one can be seen and removed.
    auto* custom = new QWidget;
    custom->setObjectName(QStringLiteral("customSites"));
    auto* customColumn = column(custom, QMargins(0, 10, 0, 0));
    auto* chipHolder = new QWidget;
    auto* flowLayout = new FlowLayout(6, chipHolder);
    QSizePolicy holderPolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    holderPolicy.setHeightForWidth(true);
    chipHolder->setSizePolicy(holderPolicy);
    customColumn->addWidget(chipHolder);
    c->addWidget(custom);
    c->addSpacing(10);

    auto* field = new Panel(Qt::transparent, 12, FocusColor::border(), 1);
    field->penStyle = Qt::DashLine;
    auto* fr = new QHBoxLayout(field);
    fr->setContentsMargins(14, 10, 14, 10);
    fr->setSpacing(10);
    fr->addWidget(new SymbolLabel(Symbol::plus, 11, FocusColor::textSecondary()));
    auto* edit = new SiteField;
    edit->setObjectName(QStringLiteral("siteField"));
    edit->setFrame(false);
    edit->setFont(Theme::font(14, QFont::Medium));
    edit->setPlaceholderText(QStringLiteral("Add another site, like reddit.com"));
    edit->setAccessibleName(QStringLiteral("Add another site"));
    edit->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    edit->setText(m_flow.newSite);
    fr->addWidget(edit, 1);
    c->addWidget(field);
    auto* hint = label(QStringLiteral("Enter a website such as reddit.com, then press Return."),
                       Theme::font(12, QFont::DemiBold), FocusColor::alert(), true);
    hint->setObjectName(QStringLiteral("siteHint"));
    auto* hintHolder = new QWidget;
    column(hintHolder, QMargins(0, 6, 0, 0))->addWidget(hint);
    c->addWidget(hintHolder);
    c->addSpacing(14);

    auto* box = new Panel(FocusColor::ink(), 18);
    auto* b = column(box, QMargins(18, 16, 18, 16), 8);
    b->addWidget(new Eyebrow(QStringLiteral("Doom scroll break"), FocusColor::gold(), 11));
    const QFont sentence = Theme::font(20, QFont::DemiBold, Theme::Design::serif);
    auto* usage = new MinutesPicker(
        QStringLiteral("Scrolling time"), OnboardingFlow::usageOptions(), [this] { return m_flow.usageMinutes; },
        [this](int v) {
            m_flow.usageMinutes = v;
            changed();
        });
    auto* breakPicker = new MinutesPicker(
        QStringLiteral("Break length"), OnboardingFlow::breakOptions(), [this] { return m_flow.breakMinutes; },
        [this](int v) {
            m_flow.breakMinutes = v;
            changed();
        });
    auto* first = row(7);
    first->addWidget(label(QStringLiteral("After"), sentence, FocusColor::white()));
    first->addWidget(usage);
    first->addWidget(label(QStringLiteral("of scrolling,"), sentence, FocusColor::white()));
    first->addStretch(1);
    b->addLayout(first);
    auto* second = row(7);
    second->addWidget(label(QStringLiteral("take a"), sentence, FocusColor::white()));
    second->addWidget(breakPicker);
    second->addWidget(label(QStringLiteral("break."), sentence, FocusColor::white()));
    second->addStretch(1);
    b->addLayout(second);
    c->addWidget(box);

    auto* preview = new QWidget;
    auto* pv = column(preview, {}, 12);
    auto* page = new OnboardingBlockPagePreview(m_flow.previewSite(), m_flow.breakMinutes, std::nullopt, 372);
    page->setObjectName(QStringLiteral("sitesPreview"));
    pv->addWidget(page);
    auto* caption = label(QString(), Theme::font(13), FocusColor::mutedOnDark(), true);
    caption->setObjectName(QStringLiteral("previewCaption"));
    caption->setAlignment(Qt::AlignHCenter);
    pv->addWidget(caption);

    connect(edit, &QLineEdit::textChanged, this, [this, hintHolder](const QString& text) {
        m_flow.newSite = text;
        hintHolder->setVisible(m_flow.showsSiteHint());
    });
    connect(edit, &QLineEdit::returnPressed, this, [this, edit] {
        if (m_flow.addCustomSite()) {
            const QSignalBlocker blocker(edit);
            edit->clear();
            changed();
        }
    });

    m_update = [this, chips, custom, flowLayout, chipHolder, hintHolder, usage, breakPicker, page, caption] {
        for (const auto& [site, chip] : chips) {
            chip->setChecked(m_flow.pickedSites().contains(site));
            chip->update();
        }
        while (QLayoutItem* item = flowLayout->takeAt(0)) {
            if (QWidget* w = item->widget()) {
                w->hide();
                w->deleteLater();
            }
            delete item;
        }
        for (const QString& site : m_flow.customSites()) {
            auto* chip = new CustomSiteChip(site, chipHolder);
            connect(chip, &QAbstractButton::clicked, this, [this, site] {
                m_flow.removeCustomSite(site);
                scheduleChanged();
            });
            flowLayout->addWidget(chip);
        }
        custom->setVisible(!m_flow.customSites().isEmpty());
        hintHolder->setVisible(m_flow.showsSiteHint());
        usage->refresh();
        breakPicker->refresh();
        page->setContent(m_flow.previewSite(), m_flow.breakMinutes, std::nullopt);
        caption->setText(QStringLiteral("What ") + BlockRule::suggestedDisplayName(m_flow.previewSite()) +
                         QStringLiteral(" shows after ") + OnboardingFlow::durationLabel(m_flow.usageMinutes));
    };
    return twoColumns(content, footer(true, QStringLiteral("Continue")), preview);
}

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

    auto* prompt = new OnboardingAutomationPromptCard(QStringLiteral("Safari"));
    prompt->setObjectName(QStringLiteral("promptCard"));
    auto* settings = new OnboardingAutomationSettingsIllustration(QStringLiteral("Safari"));
    settings->setObjectName(QStringLiteral("automationSettings"));
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
            auto* none = label(QStringLiteral("No supported browser found. Quillharbour works with Safari, Google "
                                              "Chrome, Arc, Brave and Microsoft Edge."),
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
            h->addWidget(new OnboardingBrowserIcon(browser.bundleIdentifier));
            auto* texts = new QVBoxLayout;
            texts->setSpacing(2);
            texts->addWidget(label(browser.name, Theme::font(15, QFont::DemiBold), FocusColor::text()));
            if (state.kind == Kind::browserClosed)
                texts->addWidget(
                    label(QStringLiteral("Open ") + browser.name + QStringLiteral(" first, then connect it."),
                          Theme::font(12.5), FocusColor::textSecondary(), true));
            else if (state.kind == Kind::permissionNeeded)
                texts->addWidget(label(QStringLiteral("Turned off in System Settings"),
                                       Theme::font(12.5, QFont::DemiBold), FocusColor::alert()));
            h->addLayout(texts, 1);
            if (state.kind == Kind::connected) {
                h->addWidget(new FocusOKText(QStringLiteral("Connected")));
            } else {
                QString title = QStringLiteral("Connect");
                if (state.kind == Kind::permissionNeeded)
                    title = QStringLiteral("Open System Settings");
                else if (state.kind == Kind::unsupported || state.kind == Kind::problem)
                    title = QStringLiteral("Try Again");
                auto* button = new FocusButton(
                    title, FocusPillButtonStyle{.isSelected = state.kind != Kind::browserClosed, .size = 13});
                button->setObjectName(QStringLiteral("browserButton"));
                button->setCursor(Qt::PointingHandCursor);
                const bool opensSettings = state.kind == Kind::permissionNeeded;
                connect(button, &QAbstractButton::clicked, this, [this, browser, opensSettings] {
                    if (!m_context.browsers)
                        return;
                    if (opensSettings)
                        m_context.browsers->openAutomationSettings();
                    else
                        m_context.browsers->connect(browser);
                });
                h->addWidget(button);
            }
            rows->addWidget(rowWidget);
        }
        const auto needing = OnboardingFlow::browserNeedingPermission(installed, access);
        noteText->setText(needing ? QStringLiteral("macOS asks only once. If you chose Don't Allow, turn it on in "
                                                   "System Settings.")
                                  : QStringLiteral("Breaks and blocks only work in browsers you connect."));
        prompt->setBrowserName(OnboardingFlow::promptBrowserName(installed, access));
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
    auto* caption = label(QStringLiteral("Also waiting in your menu bar"), Theme::font(13), FocusColor::mutedOnDark());
    caption->setAlignment(Qt::AlignHCenter);
    pv->addWidget(caption);

    m_update = [this, field, chips, page] {
        const QString trimmed = m_flow.trimmedPriority();
        field->setBorder(trimmed.isEmpty() ? FocusColor::hairline() : FocusColor::ink(), 1.5);
        for (const auto& [example, chip] : chips)
            chip->setButtonStyle(FocusPillButtonStyle{.isSelected = trimmed == example, .size = 13});
        page->setContent(m_flow.previewSite(), m_flow.breakMinutes, trimmed);
    };
    return twoColumns(content, footer(true, QStringLiteral("Continue")), preview);
}

// --- phone

QWidget* OnboardingView::buildPhone()
{
    auto* page = new QWidget;
    auto* r = rowLayout(page, 0);
    auto* text = new QWidget;
    auto* c = column(text, QMargins(48, 30, 36, 22));
    c->addWidget(header(OnboardingFlow::stepLabel(Step::iPhone), 200));
    c->addSpacing(22);
    c->addWidget(stepTitle(QStringLiteral("Better with your iPhone"), 30));
    c->addSpacing(10);
    c->addWidget(bodyText(QStringLiteral("The iPhone app brings doom scroll breaks to the apps on your phone. Your "
                                         "to-dos and notes stay in sync on your iPhone and this Mac."),
                          15));
    c->addSpacing(18);
    auto* card = new Panel(FocusColor::white(), 18, FocusColor::hairline(), 1);
    auto* k = new QHBoxLayout(card);
    k->setContentsMargins(14, 14, 14, 14);
    k->setSpacing(16);
    auto* qr = new OnboardingQRCode(companionAppStoreLink);
    qr->setObjectName(QStringLiteral("qrCode"));
    qr->setFixedSize(92, 92);
    k->addWidget(qr);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(
        label(QStringLiteral("Scan to get Quillharbour"), Theme::font(15, QFont::Bold), FocusColor::text()));
    texts->addWidget(
        label(QStringLiteral("Point your iPhone camera here, or search \u201CQuillharbour\u201D on the App "
                             "Store."),
              Theme::font(13), FocusColor::textSecondary(), true));
    const QUrl url(companionAppStoreLink, QUrl::StrictMode);
    if (url.isValid() && url.scheme() == QStringLiteral("https") && !url.host().isEmpty()) {
        auto* link = new FocusButton(QStringLiteral("Open the App Store page"),
                                     FocusLinkButtonStyle{.size = 12.5, .color = FocusColor::text()});
        link->setObjectName(QStringLiteral("storeLink"));
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
    sync->addWidget(label(QStringLiteral("Same iCloud account on both? Then this Mac syncs by itself."),
                          Theme::font(13.5), FocusColor::textSecondary(), true),
                    1);
    c->addLayout(sync);
    c->addStretch(1);
    c->addWidget(footer(false, QStringLiteral("Continue")));
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
        label(QStringLiteral("Add on your iPhone. It's on your Mac."), Theme::font(13.5), FocusColor::mutedOnDark()), 0,
        Qt::AlignHCenter);
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
    c->addSpacing(10);
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
    a->addWidget(label(QStringLiteral("macOS needs you to approve Quillharbour in Login Items."),
                       Theme::font(12.5, QFont::DemiBold), FocusColor::alert(), true),
                 1);
    auto* open = new FocusButton(QStringLiteral("Open Login Items"),
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
    auto* illustration = new OnboardingTrayIllustration(priority);
    m->addWidget(illustration);
    m->addSpacing(18);
    m->addWidget(label(QStringLiteral("Find Quillharbour in your menu bar. Close this window any time. Everything "
                                      "keeps running."),
                       Theme::font(15.5, QFont::Medium, Theme::Design::serif), FocusColor::text(), true));
    r->addWidget(menu, 0, Qt::AlignTop);

    m_update = [this, loginSwitch, approval] {
        const QSignalBlocker blocker(loginSwitch);
        loginSwitch->setChecked(m_login->isEnabled());
        approval->setVisible(m_login->status() == LaunchAtLoginService::Status::requiresApproval);
    };
    return singleColumn(QString(), content, footer(false, QStringLiteral("Start focusing")));
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
                storage->reminders().requestAuthorizationIfUndetermined([] {});
        });
    };
    targets.onFinish = m_onFinish;
    if (m_primary)
        m_primary->setEnabled(false);
    m_flow.finish(targets);
}
