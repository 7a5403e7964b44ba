#include "screens/block/BlockWidgets.h"

#include "ui/Accessibility.h"
#include "ui/CardShadow.h"
#include "ui/Eyebrow.h"
#include "ui/FocusButton.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr qreal shadowBlur = 10;
constexpr qreal shadowOffset = 4;

} // namespace

namespace BlockUi {

QLabel* label(const QString& text, qreal size, QFont::Weight weight, const QColor& color, Theme::Design design,
              QWidget* parent)
{
    return plainLabel(text, Theme::font(size, weight, design), color, parent);
}

FormSheet buildFormSheet(QDialog* sheet, const QString& title, QAbstractButton* save, const QMargins& margins)
{
    auto* outer = columnLayout(sheet, 0);

    auto* bar = new HairlineFrame;
    auto* barRow = new QHBoxLayout(bar);
    barRow->setContentsMargins(22, 14, 22, 14);
    barRow->setSpacing(12);
    auto* cancel = new FocusButton(QStringLiteral("Cancel"), FocusPlainButtonStyle{13.5, FocusColor::textSecondary()});
    cancel->setObjectName(QStringLiteral("cancelButton"));
    QObject::connect(cancel, &QAbstractButton::clicked, sheet, &QDialog::reject);
    barRow->addWidget(cancel);
    barRow->addStretch(1);
    barRow->addWidget(new Eyebrow(title, FocusColor::textSecondary(), 11.5));
    barRow->addStretch(1);
    barRow->addWidget(save);
    outer->addWidget(bar);

    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // not a stop of its own between the fields
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    Theme::fillBackground(content, FocusColor::paper());
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(margins);
    column->setSpacing(22);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);
    return {outer, column};
}

QWidget* switchRow(const QString& title, const QString& detail, QWidget* toggle)
{
    auto* row = new HairlineFrame;
    row->setMinimumHeight(56);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 8, 0, 8);
    layout->setSpacing(16);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(label(title, 14.5, QFont::DemiBold, FocusColor::text()));
    texts->addWidget(label(detail, 12.5, QFont::Normal, FocusColor::textSecondary()));
    layout->addLayout(texts, 1);
    layout->addWidget(toggle);
    return row;
}

} // namespace BlockUi

SectionCard::SectionCard(qreal cornerRadius, QWidget* parent)
    : QWidget(parent), m_radius(cornerRadius), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(CardShadow::extent(shadowBlur, shadowOffset));
    m_layout->setSpacing(0);
}

QMargins SectionCard::shadowMargins()
{
    return CardShadow::extent(shadowBlur, shadowOffset);
}

void SectionCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).marginsRemoved(QMarginsF(CardShadow::extent(shadowBlur, shadowOffset)));
    CardShadow::paint(p, card, m_radius, shadowBlur, shadowOffset, FocusColor::withOpacity(FocusColor::ink(), 0.05));
    QPainterPath shape;
    shape.addRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
    p.fillPath(shape, FocusColor::white());
    p.setPen(QPen(FocusColor::hairline(), 1));
    p.drawPath(shape);
}

HairlineFrame::HairlineFrame(QWidget* parent) : QWidget(parent) {}

void HairlineFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(QRectF(0, 0, width(), 1), FocusColor::hairline());
    p.fillRect(QRectF(0, height() - 1, width(), 1), FocusColor::hairline());
}

BrowserIcon::BrowserIcon(const QStringList& iconNames, QWidget* parent) : QWidget(parent)
{
    setFixedSize(28, 28);
    Accessibility::hide(this);
    for (const QString& name : iconNames) {
        if (QIcon::hasThemeIcon(name)) {
            m_icon = QIcon::fromTheme(name);
            break;
        }
    }
}

void BrowserIcon::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_icon.isNull())
        m_icon.paint(&p, rect());
    else
        Symbols::paint(p, QRectF(rect()), Symbol::globe, FocusColor::textSecondary(), 20);
}
