#pragma once

#include <QStringList>

class QWidget;

// What a laid-out widget tree cuts off: texts given less room than they ask for at the width they
// got, and widgets that reach past their parent or over a neighbour in the same layout, where
// part of them cannot be seen. Content inside a scroll area may be taller than the area: that
// is what scrolling is for. Each entry names the widget (its object name or class) and the text.
namespace LayoutFit {

QStringList cut(QWidget* root);

} // namespace LayoutFit
