#pragma once

#include <QImage>
#include <QWidget>
#include <future>

// The application's icon on white, clipped to a rounded square.
class AppLogo : public QWidget {
public:
    AppLogo(int size, qreal radius, QWidget* parent = nullptr);

    // The icon as stored, read and scaled to `pixels`.
    static QImage icon(QSize pixels);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_radius;
    QImage m_image; // at the size shown
    // Read on a worker from the start, at the size the screens' ratio makes likely.
    std::future<QImage> m_reading;
};
