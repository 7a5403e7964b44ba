#include "screens/settings/TimeMoneyCard.h"

#include "ui/CardShadow.h"
#include "ui/Eyebrow.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/RollingText.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

// The translucent white panels inside the card.
class Panel : public QWidget {
public:
    Panel(qreal radius, qreal opacity, QWidget* parent) : QWidget(parent), m_radius(radius), m_opacity(opacity) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), m_radius, m_radius);
        p.fillPath(path, FocusColor::withOpacity(FocusColor::white(), m_opacity));
    }

private:
    qreal m_radius;
    qreal m_opacity;
};

} // namespace

StepButton::StepButton(bool plus, const QString& subject, QWidget* parent) : QAbstractButton(parent), m_plus(plus)
{
    setFixedSize(32, 32);
    setCursor(Qt::PointingHandCursor);
    // Four of them on the card: each says what it changes.
    setAccessibleName((plus ? QStringLiteral("Increase ") : QStringLiteral("Decrease ")) + subject);
}

bool StepButton::hitButton(const QPoint& pos) const
{
    const QPointF d = QPointF(pos) - QRectF(rect()).center();
    return d.x() * d.x() + d.y() * d.y() <= 16.0 * 16.0;
}

void StepButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // A step that would leave the range is disabled and drawn faint.
    p.setOpacity(isEnabled() ? 1.0 : 0.35);
    p.setPen(Qt::NoPen);
    p.setBrush(m_plus ? FocusColor::gold() : FocusColor::withOpacity(FocusColor::white(), 0.14));
    p.drawEllipse(QRectF(rect()));
    const QColor glyph = m_plus ? FocusColor::ink() : FocusColor::white();
    if (m_plus) {
        Symbols::paint(p, QRectF(rect()), Symbol::plus, glyph, 13, 0.8);
    } else {
        // The icon font has no minus of the plus's weight: a bar as long and as thick as its arm.
        p.setPen(QPen(glyph, 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 16), QPointF(21, 16));
    }
}

TimeMoneyCard::TimeMoneyCard(Defaults* defaults, double hourlyRate, double hoursPerDay, QWidget* parent)
    : QWidget(parent), m_model(defaults, hourlyRate, hoursPerDay)
{
    setObjectName(QStringLiteral("timeMoneyCard"));
    const QMargins shadow = CardShadow::extent(shadowBlur, shadowOffset);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(shadow.left() + 20, shadow.top() + 20, shadow.right() + 20, shadow.bottom() + 20);
    column->setSpacing(14);
    column->addWidget(new Eyebrow(QStringLiteral("Time = money"), FocusColor::gold(), 11, this));

    auto* cost = new Panel(16, 0.07, this);
    m_cost = cost;
    auto* costColumn = new QVBoxLayout(cost);
    costColumn->setContentsMargins(16, 14, 16, 14);
    costColumn->setSpacing(2);
    costColumn->addWidget(plainLabel(QStringLiteral("Your distracted time costs about"),
                                     Theme::font(12.5, QFont::Medium), FocusColor::mutedOnDark(), cost),
                          0, Qt::AlignRight);
    m_yearly = new RollingText(Theme::font(42, QFont::DemiBold, Theme::Design::digits), FocusColor::white(), cost);
    m_yearly->setObjectName(QStringLiteral("yearlyCost"));
    costColumn->addWidget(m_yearly);
    m_monthly = plainLabel(QString(), Theme::font(13, QFont::Bold, Theme::Design::digits), FocusColor::gold(), cost);
    m_monthly->setObjectName(QStringLiteral("monthlyCost"));
    costColumn->addWidget(m_monthly, 0, Qt::AlignRight);
    column->addWidget(cost);

    auto* settings = new QVBoxLayout;
    settings->setSpacing(0);
    settings->addWidget(stepperRow(QStringLiteral("Your hourly rate"), QStringLiteral("hourly rate"), m_rate,
                                   m_rateMinus, m_ratePlus, QStringLiteral("rate")));
    auto* rule = new Panel(0, 0.10, this);
    rule->setFixedHeight(1);
    settings->addWidget(rule);
    settings->addWidget(stepperRow(QStringLiteral("Time lost a day"), QStringLiteral("time lost a day"), m_hours,
                                   m_hoursMinus, m_hoursPlus, QStringLiteral("hours")));
    column->addLayout(settings);

    connect(m_rateMinus, &QAbstractButton::clicked, this, [this] {
        m_model.stepHourlyRate(-1);
        refreshTexts();
    });
    connect(m_ratePlus, &QAbstractButton::clicked, this, [this] {
        m_model.stepHourlyRate(1);
        refreshTexts();
    });
    connect(m_hoursMinus, &QAbstractButton::clicked, this, [this] {
        m_model.stepHoursPerDay(-1);
        refreshTexts();
    });
    connect(m_hoursPlus, &QAbstractButton::clicked, this, [this] {
        m_model.stepHoursPerDay(1);
        refreshTexts();
    });
    refreshTexts();
}

QWidget* TimeMoneyCard::stepperRow(const QString& title, const QString& subject, QLabel*& value, StepButton*& minus,
                                   StepButton*& plus, const QString& name)
{
    auto* row = new QWidget(this);
    row->setMinimumHeight(52);
    auto* layout = rowLayout(row, 8);
    layout->addWidget(plainLabel(title, Theme::font(14, QFont::DemiBold), FocusColor::white(), row));
    layout->addStretch(1);
    layout->addSpacing(6);
    minus = new StepButton(false, subject, row);
    minus->setObjectName(name + QStringLiteral("Minus"));
    layout->addWidget(minus);
    value = plainLabel(QString(), Theme::font(14, QFont::Bold, Theme::Design::digits), FocusColor::white(), row);
    value->setObjectName(name + QStringLiteral("Value"));
    value->setAlignment(Qt::AlignCenter);
    value->setMinimumWidth(84);
    layout->addWidget(value);
    plus = new StepButton(true, subject, row);
    plus->setObjectName(name + QStringLiteral("Plus"));
    layout->addWidget(plus);
    return row;
}

void TimeMoneyCard::loadStoredValues()
{
    m_model.loadStoredValues();
    refreshTexts();
}

void TimeMoneyCard::refreshTexts()
{
    const QString yearly = TimeMoneyModel::formatMoney(m_model.yearlyCost());
    m_yearly->setText(yearly, m_shown);
    m_monthly->setText(QStringLiteral("a year · ") + TimeMoneyModel::formatMoney(m_model.monthlyCost()) +
                       QStringLiteral(" a month"));
    m_rate->setText(m_model.rateText());
    m_hours->setText(m_model.hoursText());
    m_rateMinus->setEnabled(m_model.canDecreaseRate());
    m_ratePlus->setEnabled(m_model.canIncreaseRate());
    m_hoursMinus->setEnabled(m_model.canDecreaseHours());
    m_hoursPlus->setEnabled(m_model.canIncreaseHours());
    m_cost->setAccessibleName(QStringLiteral("Your distracted time costs about ") + yearly + QStringLiteral(", ") +
                              m_monthly->text());
}

void TimeMoneyCard::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_shown = false;
    loadStoredValues();
    m_shown = true;
}

void TimeMoneyCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).marginsRemoved(CardShadow::extent(shadowBlur, shadowOffset).toMarginsF());
    CardShadow::paint(p, card, 22, shadowBlur, shadowOffset, FocusColor::withOpacity(FocusColor::ink(), 0.2));
    QPainterPath path;
    path.addRoundedRect(card, 22, 22);
    p.fillPath(path, FocusColor::ink());
}
