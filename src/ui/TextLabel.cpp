#include "ui/TextLabel.h"

#include "ui/Theme.h"

#include <QLabel>

QLabel* plainLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    setTextColor(label, color);
    return label;
}

QLabel* plainLabel(const QString& text, qreal size, QFont::Weight weight, const QColor& color, QWidget* parent)
{
    return plainLabel(text, Theme::font(size, weight), color, parent);
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette p = widget->palette();
    // Inside a clickable area a label draws with the button's role: it gets the colour too.
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    p.setColor(QPalette::Text, color);
    widget->setPalette(p);
}
