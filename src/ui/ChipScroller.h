#pragma once

// A single row of chips wider than its place: it scrolls sideways, with a vertical wheel too
// (most mice have no sideways wheel), and brings a chip into view when it gets keyboard focus.
// Its height is the row's; the thin scroll bar lies over the chips while it shows.

#include <QScrollArea>

class ChipScroller : public QScrollArea {
    Q_OBJECT
public:
    explicit ChipScroller(QWidget* row, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};
