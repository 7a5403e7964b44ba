#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

// A label that shows its text as written: a to-do's title, a site or a synced note may hold
// what would otherwise read as markup.
QLabel* plainLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);
// The same in the interface font.
QLabel* plainLabel(const QString& text, qreal size, QFont::Weight weight, const QColor& color,
                   QWidget* parent = nullptr);

// Sets the colour a label or a text field draws its text in.
void setTextColor(QWidget* widget, const QColor& color);
