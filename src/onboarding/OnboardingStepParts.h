#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QMargins>
#include <QWidget>

class QHBoxLayout;
class QScrollArea;
class QVBoxLayout;

// The pieces every onboarding step is built from: its texts, panels and layouts.
namespace OnboardingParts {

QColor hex(const char* text);
QLabel* label(const QString& text, const QFont& font, const QColor& color, bool wrap = false,
              QWidget* parent = nullptr);

// A one-line title that shrinks down to 70 % of its size before it would be cut.
class FittingTitle : public QLabel {
public:
    FittingTitle(const QString& text, qreal size, const QColor& color);
    // The width of the text at its smallest size: below it the title is cut.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    qreal m_size;
};

QLabel* stepTitle(const QString& text, qreal size);
QLabel* bodyText(const QString& text, qreal size);

// A rounded area with a fill and an optional border; it holds its own layout.
class Panel : public QWidget {
public:
    Panel(const QColor& fill, qreal radius, const QColor& border = Qt::transparent, qreal borderWidth = 0,
          QWidget* parent = nullptr)
        : QWidget(parent), m_fill(fill), m_border(border), m_radius(radius), m_borderWidth(borderWidth)
    {
    }
    void setBorder(const QColor& color, qreal width)
    {
        m_border = color;
        m_borderWidth = width;
        update();
    }
    Qt::PenStyle penStyle = Qt::SolidLine;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor m_fill;
    QColor m_border;
    qreal m_radius;
    qreal m_borderWidth;
};

// A container with a 1-point hairline along its top or bottom edge.
class Ruled : public QWidget {
public:
    explicit Ruled(bool top) : m_top(top) {}

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool m_top;
};

QWidget* logo(int size, qreal radius);
// A square tile with a glyph on a filled shape.
QWidget* tile(int size, qreal radius, const QColor& fill, char16_t codepoint, qreal glyphSize, const QColor& color,
              const QColor& ring = Qt::transparent);
QHBoxLayout* row(int spacing);

// A transparent, frameless scroll area around a step's content, for content taller than the
// sheet. With `centred` the content sits in the middle of the area while it fits.
QScrollArea* scrolling(QWidget* content, bool centred = false);

// The opening steps: a text column beside an illustration, both centred. On a sheet too narrow
// for the column to keep `textMinimum` beside the illustration (a small screen) the illustration
// steps aside; on one too low the row scrolls. Either way no line of the text is cut.
QWidget* introRow(QWidget* text, QWidget* illustration, const QMargins& margins, int spacing, int textMinimum);
QVBoxLayout* column(QWidget* owner, const QMargins& margins = {}, int spacing = 0);

} // namespace OnboardingParts
