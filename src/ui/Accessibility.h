#pragma once

class QWidget;

// What assistive technologies see of a widget beyond its name and role.
namespace Accessibility {

// Teaches Qt the roles below; done by the first call of any function here and by Theme::apply.
void installFactory();
// Leaves the widget out for assistive technologies (decorations: meters, key hints, site icons).
void hide(QWidget* widget);
// Announces the widget as a heading.
void markHeader(QWidget* widget);

} // namespace Accessibility
