#pragma once

#include <QAbstractButton>
#include <QColor>

// A button without chrome that holds other widgets (labels, a check circle) in its own layout:
// a click anywhere inside, or Space/Enter while it has focus, emits clicked(). Give it an
// accessible name; its labels pass their mouse clicks through to it.
class ClickableArea : public QAbstractButton {
    Q_OBJECT
public:
    explicit ClickableArea(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The wash laid over the area while the pointer is on it; a faint ink by default, a faint
    // white on dark cards.
    void setHoverTint(const QColor& tint);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    QColor m_hoverTint;
};
