#include "Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QWidget>

namespace Screenshots {

namespace {

bool windowMode();

} // namespace

QString folder()
{
    const QStringList arguments = QCoreApplication::arguments();
    const QString path = arguments.size() > 1 ? arguments.at(1) : QDir::currentPath() + QStringLiteral("/screenshots");
    QDir().mkpath(path);
    return path;
}

namespace {

bool windowMode()
{
    return QCoreApplication::arguments().contains(QStringLiteral("--window"));
}

} // namespace

bool save(QWidget* widget, const QString& name, const QSize& size)
{
    const QString path = folder() + QLatin1Char('/') + name + QStringLiteral(".png");
    if (windowMode()) {
        // Through a real window on a screen of the platform's pixel ratio: what the window system
        // gets is what is saved, so a fault of drawing at that ratio shows.
        widget->show();
        widget->resize(size.isValid() ? size : widget->sizeHint().expandedTo(widget->minimumSizeHint()));
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
        widget->repaint();
        const QPixmap shot = widget->screen()->grabWindow(widget->winId());
        widget->hide();
        if (shot.isNull() || !shot.save(path)) {
            QTextStream(stderr) << "cannot write " << path << Qt::endl;
            return false;
        }
        return true;
    }
    widget->setAttribute(Qt::WA_DontShowOnScreen);
    widget->show();
    widget->resize(size.isValid() ? size : widget->sizeHint().expandedTo(widget->minimumSizeHint()));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    // Rendered at twice the resolution so that the pictures show what a HiDPI screen shows.
    const qreal ratio = 2.0;
    QPixmap pixmap(widget->size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    widget->render(&pixmap);
    if (!pixmap.save(path)) {
        QTextStream(stderr) << "cannot write " << path << Qt::endl;
        return false;
    }
    return true;
}

} // namespace Screenshots
