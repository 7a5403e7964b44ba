#include "Screenshots.h"

#include "VisibleTexts.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QTextStream>
#include <QWidget>

namespace Screenshots {

namespace {

int saved = 0;
bool failed = false;

bool checking()
{
    const QStringList arguments = QCoreApplication::arguments();
    return arguments.size() > 1 && arguments.at(1) == QLatin1String("--check-texts");
}

} // namespace

QString folder()
{
    if (checking())
        return {};
    const QStringList arguments = QCoreApplication::arguments();
    const QString path = arguments.size() > 1 ? arguments.at(1) : QDir::currentPath() + QStringLiteral("/screenshots");
    QDir().mkpath(path);
    return path;
}

bool save(QWidget* widget, const QString& name, const QSize& size)
{
    widget->setAttribute(Qt::WA_DontShowOnScreen);
    widget->show();
    widget->resize(size.isValid() ? size : widget->sizeHint().expandedTo(widget->minimumSizeHint()));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ++saved;

    if (checking()) {
        const QStringList found = VisibleTexts::offending(widget);
        for (const QString& text : found)
            QTextStream(stderr) << name << ": " << text << Qt::endl;
        failed = failed || !found.isEmpty();
        return found.isEmpty();
    }

    // Rendered at twice the resolution so that the pictures show what a HiDPI screen shows.
    const qreal ratio = 2.0;
    QPixmap pixmap(widget->size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    widget->render(&pixmap);
    const QString path = folder() + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!pixmap.save(path)) {
        QTextStream(stderr) << "cannot write " << path << Qt::endl;
        failed = true;
        return false;
    }
    return true;
}

int exitCode()
{
    return failed || (checking() && saved == 0) ? 1 : 0;
}

} // namespace Screenshots
