#pragma once

#include <QWidget>

class Tween;

// A wait shown as a ring: a wash circle, the ink arc of the progress from the top, clockwise,
// and the number left over a caption in small capitals. The arc moves to a new progress linearly
// over a quarter second.
class CountdownRing : public QWidget {
    Q_OBJECT
public:
    CountdownRing(int diameter, qreal numberSize, QWidget* parent = nullptr);

    void setState(const QString& number, const QString& caption, double progress, const QString& accessibleText);
    double progress() const { return m_progress; }
    // The progress the arc shows at this moment, on its way to progress().
    double shownProgress() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_numberSize;
    QString m_number;
    QString m_caption;
    double m_progress = 0;
    Tween* m_arc;
};
