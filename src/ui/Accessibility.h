#pragma once

#include <QAccessible>

class QWidget;

// What assistive technologies see of a widget beyond its name and role.
namespace Accessibility {

// Teaches Qt the roles below; done by the first call of any function here and by Theme::apply.
void installFactory();
// Leaves the widget out for assistive technologies (decorations: meters, key hints, site icons).
void hide(QWidget* widget);
// Announces the widget as a heading.
void markHeader(QWidget* widget);
// Announces the widget in this role: a window rather than a filler, the rail as a tab list and its
// items as tabs, a group of chips as radio buttons. Set it before the widget is first shown.
void setRole(QWidget* widget, QAccessible::Role role);
// Names a button that shows only an icon by `text`, which is also its help tag: a screen reader
// says it once, not again as a description. Call it before anything else names the button.
void nameIconButton(QWidget* button, const QString& text);
// Announces a button that opens and closes what follows it as expanded or collapsed, a state a
// screen reader says with the name rather than a description it reads later, if ever.
void setExpanded(QWidget* button, bool expanded);
// The text without the icon font's private-use characters, which a screen reader would spell out.
QString withoutIconGlyphs(const QString& text);

} // namespace Accessibility
