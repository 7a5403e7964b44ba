#include "Screenshots.h"

#include "ui/Motion.h"

#include "LayoutFit.h"
#include "VisibleTexts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QWidget>
#include <QWindow>

namespace Screenshots {

namespace {

int saved = 0;
bool failed = false;

bool checking()
{
    const QStringList arguments = QCoreApplication::arguments();
    return arguments.size() > 1 && arguments.at(1) == QLatin1String("--check-texts");
}

bool windowMode()
{
    return QCoreApplication::arguments().contains(QStringLiteral("--window"));
}

bool written(const QPixmap& picture, const QString& path)
{
    if (!picture.isNull() && picture.save(path))
        return true;
    QTextStream(stderr) << "cannot write " << path << Qt::endl;
    failed = true;
    return false;
}

} // namespace

QString folder()
{
    if (checking())
        return {};
    const QStringList arguments = QCoreApplication::arguments();
    const QString path = arguments.size() > 1 ? arguments.at(1) : QDir::currentPath() + QStringLiteral("/screenshots");
    QDir().mkpath(path);
    // Pictures show where every change ends, not a frame of its way there.
    Motion::setReduced(true);
    return path;
}

bool save(QWidget* widget, const QString& name, const QSize& size)
{
    ++saved;
    const QString path = folder() + QLatin1Char('/') + name + QStringLiteral(".png");
    // A change begun before motion was reduced (a page built before its first picture) is shown
    // where it ends too.
    for (Tween* tween : widget->findChildren<Tween*>())
        if (tween->isRunning())
            tween->jumpTo(tween->target());
    if (windowMode() && !checking()) {
        // Through a real window on a screen of the platform's pixel ratio: what the window system
        // gets is what is saved, so a fault of drawing at that ratio shows.
        if (widget->testAttribute(Qt::WA_DontShowOnScreen)) {
            widget->hide();
            widget->setAttribute(Qt::WA_DontShowOnScreen, false);
        }
        widget->show();
        widget->resize(size.isValid() ? size : widget->sizeHint().expandedTo(widget->minimumSizeHint()));
        // The X server maps the window a moment later; until then a grab is black.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000 && !(widget->windowHandle() && widget->windowHandle()->isExposed()))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        widget->repaint();
        QCoreApplication::processEvents();
        const QPixmap shot = widget->screen()->grabWindow(widget->winId());
        widget->hide();
        return written(shot, path);
    }
    widget->setAttribute(Qt::WA_DontShowOnScreen);
    widget->show();
    widget->resize(size.isValid() ? size : widget->sizeHint().expandedTo(widget->minimumSizeHint()));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    if (checking()) {
        // Names this desktop lacks, and texts or widgets the layout cuts off.
        const QStringList found = VisibleTexts::offending(widget) + LayoutFit::cut(widget);
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
    return written(pixmap, path);
}

int exitCode()
{
    return failed || (checking() && saved == 0) ? 1 : 0;
}

} // namespace Screenshots
