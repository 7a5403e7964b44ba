#pragma once

// The frame of every main-window page: a vertically scrolling paper page with a main column
// (at most 660 points wide) and an optional side column (250 points) that stands to the right
// of the main column when the page is at least 1000 points wide, and below it otherwise.

#include <QPointer>
#include <QScrollArea>

class FocusPage : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int twoColumnMinWidth = 1000;
    static constexpr int mainMaxWidth = 660;
    static constexpr int sideWidth = 250;

    // `side` may be null (a page without a side column); `sideTopPadding` moves the side column
    // down in the two-column layout only. The page takes ownership of both widgets.
    FocusPage(QWidget* main, QWidget* side = nullptr, qreal sideTopPadding = 0, QWidget* parent = nullptr);

    QWidget* mainContent() const { return m_main; }
    QWidget* sideContent() const { return m_side; }
    bool isTwoColumn() const;

    // What a scroll area asks for by default, without measuring its font: a page takes the size
    // its window gives it, and the measuring would load a face no page draws.
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<QWidget> m_main;
    QPointer<QWidget> m_side;
};
