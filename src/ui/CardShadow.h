#pragma once

#include <QColor>
#include <QMargins>
#include <QRectF>

class QPainter;

// The soft shadow under a rounded card, drawn from a small blurred image that is made once per
// radius, blur and pixel ratio and stretched along the card's straight edges.
namespace CardShadow {

// How far the visible shadow reaches beyond the card: reserve it in the card widget's margins.
QMargins extent(qreal blurRadius, qreal offsetY);
void paint(QPainter& painter, const QRectF& card, qreal cornerRadius, qreal blurRadius, qreal offsetY,
           const QColor& color);

} // namespace CardShadow
