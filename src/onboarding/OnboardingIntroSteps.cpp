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

#include <QClipboard>
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
#include <QPointer>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

using Step = OnboardingFlow::Step;
using namespace OnboardingPaint;
using namespace OnboardingParts;

namespace {

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

} // namespace

// --- install

QWidget* OnboardingView::buildInstall()
{
    auto* text = new QWidget;
    auto* c = column(text);
    auto* top = row(10);
    top->addWidget(logo(30, 8));
    top->addWidget(new Eyebrow(QStringLiteral("Before you start"), FocusColor::textSecondary(), 11.5));
    top->addStretch(1);
    c->addLayout(top);
    c->addSpacing(28);
    const QFont titleFont = Theme::font(38, QFont::DemiBold, Theme::Design::serif);
    auto* title = label(QStringLiteral("Install Quillharbour"), titleFont, FocusColor::text(), true);
    Accessibility::markHeader(title);
    c->addWidget(title);
    c->addSpacing(16);
    c->addWidget(bodyText(QStringLiteral("It's running from the download right now. Installed, it's in your "
                                         "applications menu and the block page's buttons open it."),
                          16.5));
    c->addSpacing(30);
    auto* buttons = row(14);
    // Installing for everyone comes first where it can run: one password protects every
    // Chromium-family browser and profile on the computer.
    QPointer<OnboardingButton> justMe;
    if (m_machine) {
        m_primary = new OnboardingButton(QStringLiteral("Install for Everyone…"), OnboardingButton::Kind::primary);
        justMe = new OnboardingButton(QStringLiteral("Just for Me"), OnboardingButton::Kind::quiet);
        justMe->setObjectName(QStringLiteral("justForMeButton"));
        connect(justMe.data(), &QAbstractButton::clicked, this, &OnboardingView::install);
    } else {
        m_primary = new OnboardingButton(QStringLiteral("Install"), OnboardingButton::Kind::primary);
    }
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    connect(m_primary.data(), &QAbstractButton::clicked, this, &OnboardingView::primaryPressed);
    auto* notNow = new OnboardingButton(QStringLiteral("Not now"), OnboardingButton::Kind::quiet);
    notNow->setObjectName(QStringLiteral("notNowButton"));
    connect(notNow, &QAbstractButton::clicked, this, [this] { go(Step::welcome); });
    buttons->addWidget(m_primary);
    if (justMe)
        buttons->addWidget(justMe);
    buttons->addWidget(notNow);
    buttons->addStretch(1);
    c->addLayout(buttons);
    c->addSpacing(14);
    // A message may name a folder: a path longer than the line breaks where it must.
    auto* status = new WrappingLabel;
    status->setObjectName(QStringLiteral("moveStatus"));
    c->addWidget(status);
    // The command to type when the install for everyone could not run: too long to copy by eye.
    auto* copy = new OnboardingButton(QStringLiteral("Copy Command"), OnboardingButton::Kind::quiet);
    copy->setObjectName(QStringLiteral("copyCommandButton"));
    connect(copy, &QAbstractButton::clicked, this, [this, copy] {
        QGuiApplication::clipboard()->setText(m_machineCommand);
        copy->setText(QStringLiteral("Copied"));
    });
    c->addSpacing(6);
    c->addWidget(copy, 0, Qt::AlignLeft);
    m_update = [this, status, copy] {
        copy->setVisible(m_machineFailed && !m_machineCommand.isEmpty());
        if (m_flow.moveError) {
            status->setText(*m_flow.moveError);
            status->setFont(Theme::font(13, QFont::DemiBold));
            status->setColor(FocusColor::alert());
        } else if (!m_machineNote.isEmpty()) {
            status->setText(m_machineNote);
            status->setFont(Theme::font(13));
            status->setColor(FocusColor::textSecondary());
        } else if (m_machine) {
            status->setText(QStringLiteral("For everyone, Quillharbour asks for the administrator's password once and "
                                           "protects every Chromium-family browser and profile on this computer. "
                                           "Either way it closes and opens again from where it's installed."));
            status->setFont(Theme::font(13));
            status->setColor(FocusColor::textSecondary());
        } else {
            status->setText(QStringLiteral("Quillharbour closes and opens again from your home folder."));
            status->setFont(Theme::font(13));
            status->setColor(FocusColor::textSecondary());
        }
    };
    // The title wraps between its words but never inside one.
    const int widestWord = qCeil(QFontMetricsF(titleFont).horizontalAdvance(QStringLiteral("Quillharbour")));
    return introRow(text, new OnboardingInstallIllustration, QMargins(56, 44, 56, 44), 44, widestWord + 1);
}

void OnboardingView::install()
{
    m_machineFailed = false;
    QString error;
    if (m_move && m_move(&error))
        return;
    // The cause stays out of the sheet: the person can only go on by hand.
    m_flow.moveError = QStringLiteral("Couldn't install it. Quit Quillharbour, then copy it from the download into "
                                      "~/.local/bin.");
    changed();
}

void OnboardingView::installForEveryone()
{
    if (!m_machine || m_machineRunning)
        return;
    m_machineRunning = true;
    m_flow.moveError.reset();
    m_machineNote = QStringLiteral("Asking for the administrator's password…");
    changed();
    QPointer<OnboardingView> self(this);
    m_machine([self](const QString& said, bool ok) {
        if (!self)
            return;
        self->m_machineRunning = false;
        // Done: the program quits and opens again from its new place; the words stay until then.
        self->m_machineNote = ok ? said : QString();
        self->m_machineFailed = !ok;
        if (!ok)
            self->m_flow.moveError = said;
        self->changed();
    });
}

void OnboardingView::setMachineHandler(MachineHandler handler, const QString& command)
{
    m_machine = std::move(handler);
    m_machineCommand = command;
    if (m_flow.step() == Step::install)
        showStep();
}

// --- welcome

QWidget* OnboardingView::buildWelcome()
{
    auto* text = new QWidget;
    auto* c = column(text);
    auto* brand = row(10);
    brand->addWidget(logo(30, 8));
    brand->addWidget(label(QStringLiteral("Quillharbour for Linux"), Theme::font(15, QFont::Bold), FocusColor::text()));
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
    // The illustration's shadow takes 26 points of its own on each side.
    return introRow(text, new OnboardingFeedBreakIllustration, QMargins(56, 44, 30, 44), 22,
                    std::max(first->minimumSizeHint().width(), second->minimumSizeHint().width()));
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
        {OnboardingGlyph::globe, "Works in your browser", "Chrome, Chromium, Brave, Edge, Vivaldi, Opera and Firefox."},
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
