#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

class Tween;

// One line of figures whose changed characters roll into place: the old one slides up and out
// while the new one comes up from below, in 0.2 seconds. It stands at the right of its place,
// where a number that grows keeps its last figures in line, and shrinks its face down to 0.6
// before it would cut the text off. Its tween is the child "roll" (0 just changed, 1 settled).
class RollingText : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text)
public:
    RollingText(const QFont& face, const QColor& color, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    // Shows `text`, rolling the characters that changed when `roll`, else at once.
    void setText(const QString& text, bool roll);

    // The scale of the face at `width`: 1 where the text fits, else less, down to 0.6.
    qreal scaleAt(int width) const;
    static constexpr qreal smallestScale = 0.6;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont m_face;
    QColor m_color;
    QString m_text;
    QString m_previous;
    Tween* m_roll;
};
