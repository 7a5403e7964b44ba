#include "ui/Controls.h"

#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {

constexpr qreal okTextSize = 12.5;
constexpr QSize switchSize(38, 22);
constexpr qreal knobInset = 2;

} // namespace

FocusOKText::FocusOKText(const QString& text, QWidget* parent) : QWidget(parent)
{
    auto* layout = rowLayout(this, 4);
    auto* symbol = new SymbolLabel(Symbol::checkmark, okTextSize, FocusColor::okGreen(), this);
    symbol->setEmbolden(okTextSize * 0.045);
    layout->addWidget(symbol, 0, Qt::AlignVCenter);
    QLabel* label = plainLabel(QString(), okTextSize, QFont::Bold, FocusColor::okGreen(), this);
    label->setObjectName(QStringLiteral("text"));
    layout->addWidget(label, 0, Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setText(text);
}

void FocusOKText::setText(const QString& text)
{
    m_text = text;
    findChild<QLabel*>(QStringLiteral("text"))->setText(text);
}

QSize FocusOKText::sizeHint() const
{
    return layout()->sizeHint();
}

FocusSwitch::FocusSwitch(const QString& label, bool isOn, QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setChecked(isOn);
    setAccessibleName(label);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize FocusSwitch::sizeHint() const
{
    return switchSize;
}

void FocusSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(QPointF((width() - switchSize.width()) / 2.0, (height() - switchSize.height()) / 2.0),
                       QSizeF(switchSize));
    const qreal radius = track.height() / 2;
    if (isDown())
        painter.setOpacity(0.85);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? FocusColor::ink() : FocusColor::border());
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 2 * knobInset;
    const bool right = isChecked() != (layoutDirection() == Qt::RightToLeft);
    const qreal x = right ? track.right() - knobInset - knob : track.left() + knobInset;
    painter.setBrush(FocusColor::white());
    painter.drawEllipse(QRectF(x, track.top() + knobInset, knob, knob));
}
