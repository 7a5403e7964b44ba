#pragma once

#include <QColor>
#include <QWidget>

// A rounded rectangle in one fill, with a 1-point outline unless the outline is transparent.
class RoundedPanel : public QWidget {
public:
    RoundedPanel(const QColor& fill, const QColor& outline, qreal radius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    QColor m_outline;
    qreal m_radius;
};
