#pragma once

#include <QStringList>

class QWidget;

// What a laid-out widget tree cuts off: texts given less room than they need at the width they
// got, widgets a layout put past their parent or over a neighbour, and scroll areas that scroll
// what would fit. One entry for each, naming the widget and its text.
namespace LayoutFit {
QStringList cut(QWidget* root);
}
