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
using namespace OnboardingPaint;
using namespace OnboardingParts;

namespace {

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

} // namespace

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
    return twoColumns(content, footer(true, QStringLiteral("Continue")), preview,
                      [page](int width) { page->fitWidth(width); });
}
