#include "onboarding/OnboardingControls.h"

#include "ui/Accessibility.h"

#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

QFont buttonFont(OnboardingButton::Kind kind)
{
    return kind == OnboardingButton::Kind::primary ? Theme::font(14.5, QFont::Bold) : Theme::font(14, QFont::DemiBold);
}

QPainterPath rounded(const QRectF& rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

OnboardingButton::OnboardingButton(const QString& text, Kind kind, QWidget* parent)
    : QAbstractButton(parent), m_kind(kind)
{
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFont(buttonFont(kind));
}

QSize OnboardingButton::sizeHint() const
{
    const QFontMetrics fm(font());
    const int pad = m_kind == Kind::primary ? 22 : 8;
    const int minHeight = m_kind == Kind::primary ? 42 : 40;
    return {fm.horizontalAdvance(text()) + 2 * pad, qMax(minHeight, fm.height())};
}

void OnboardingButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QAbstractButton::changeEvent(event);
}

void OnboardingButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(font());
    const QRectF r = rect();
    if (m_kind == Kind::primary) {
        p.setOpacity(isEnabled() ? 1.0 : 0.4);
        p.fillPath(rounded(r, 12), FocusColor::withOpacity(FocusColor::ink(), isDown() ? 0.85 : 1.0));
        p.setPen(FocusColor::white());
    } else {
        p.setPen(FocusColor::withOpacity(FocusColor::textSecondary(), isDown() ? 0.6 : 1.0));
    }
    p.drawText(r, Qt::AlignCenter, text());
    if (hasFocus()) {
        p.setOpacity(1);
        p.setPen(QPen(FocusColor::gold(), 2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(rounded(r.adjusted(1, 1, -1, -1), 11));
    }
}

OnboardingChoiceRow::OnboardingChoiceRow(const QString& title, QWidget* parent) : QAbstractButton(parent)
{
    setText(title);
    setCheckable(true);
    Accessibility::setRole(this, QAccessible::RadioButton); // one answer of the question's few
    setCursor(Qt::PointingHandCursor);
    setFont(Theme::font(15.5, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void OnboardingChoiceRow::setSelected(bool selected)
{
    setChecked(selected);
}

QSize OnboardingChoiceRow::sizeHint() const
{
    const QFontMetrics fm(font());
    return {16 + fm.horizontalAdvance(text()) + 14 + 8 + 20 + 16, 48};
}

void OnboardingChoiceRow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    const bool selected = isChecked();
    p.fillPath(rounded(r, 14), FocusColor::white());
    const qreal border = selected ? 2 : 1;
    p.setPen(QPen(selected ? FocusColor::ink() : FocusColor::hairline(), border));
    p.setBrush(Qt::NoBrush);
    p.drawPath(rounded(r.adjusted(border / 2, border / 2, -border / 2, -border / 2), 14 - border / 2));

    p.setFont(font());
    p.setPen(FocusColor::text());
    p.drawText(r.adjusted(16, 0, -50, 0), Qt::AlignVCenter | Qt::AlignLeft, text());

    const QRectF mark(r.right() - 16 - 20, r.center().y() - 10, 20, 20);
    if (selected) {
        p.setPen(Qt::NoPen);
        p.setBrush(FocusColor::ink());
        p.drawEllipse(mark);
        Symbols::paint(p, mark, Symbol::checkmark, FocusColor::gold(), 9.5, 0.6);
    } else {
        p.setPen(QPen(FocusColor::border(), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(mark.adjusted(0.75, 0.75, -0.75, -0.75));
    }
    if (hasFocus()) {
        p.setPen(QPen(FocusColor::gold(), 2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(rounded(r.adjusted(1, 1, -1, -1), 13));
    }
}
