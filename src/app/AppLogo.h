#pragma once

#include <QImage>
#include <QWidget>

// The application's icon on white, clipped to a rounded square.
class AppLogo : public QWidget {
public:
    AppLogo(int size, qreal radius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_radius;
    QImage m_image; // at the size shown
};
