#include "ui/WindowFit.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <functional>

namespace {

const char* const withinParentProperty = "qh_withinParent";

// Before a window is first mapped the window manager's frame is unknown: allow for a title bar
// and thin borders.
constexpr QMargins assumedFrame(4, 32, 4, 4);

// Room for the panels a platform does not report: GNOME's top bar is 32 points high, KDE Plasma's
// panel 44, sway's bar about 30.
constexpr int unreportedPanels = 48;

QMargins frameOf(const QWidget* window)
{
    const QWindow* handle = window->windowHandle();
    if (handle && window->isVisible()) {
        const QMargins margins = handle->frameMargins();
        if (!margins.isNull())
            return margins;
    }
    return window->windowFlags().testFlag(Qt::FramelessWindowHint) ? QMargins() : assumedFrame;
}

// The client area a window may take on the available area: the frame comes off.
QRect clientArea(const QWidget* window)
{
    return WindowFit::availableArea(window).marginsRemoved(frameOf(window));
}

// Runs `apply` whenever the window is about to show, and on layout changes when asked to.
class Fitter : public QObject {
public:
    Fitter(QWidget* window, std::function<void()> apply, bool followLayout)
        : QObject(window), m_apply(std::move(apply)), m_followLayout(followLayout)
    {
        window->installEventFilter(this);
        m_apply();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const bool relevant = event->type() == QEvent::Show ||
                              (m_followLayout && event->type() == QEvent::LayoutRequest) ||
                              event->type() == QEvent::ScreenChangeInternal;
        if (relevant)
            apply();
        return false;
    }

public:
    void apply()
    {
        if (m_applying)
            return;
        m_applying = true;
        m_apply();
        m_applying = false;
    }

private:
    std::function<void()> m_apply;
    bool m_followLayout;
    bool m_applying = false;
};

void replaceFitter(QWidget* window, std::function<void()> apply, bool followLayout)
{
    for (QObject* child : window->children())
        if (auto* old = dynamic_cast<Fitter*>(child))
            delete old;
    new Fitter(window, std::move(apply), followLayout);
}

} // namespace

namespace WindowFit {

void refit(QWidget* window)
{
    for (QObject* child : window->children())
        if (auto* fitter = dynamic_cast<Fitter*>(child))
            fitter->apply();
}

void keepWithinParent(QWidget* window)
{
    window->setProperty(withinParentProperty, true);
}

QRect availableArea(const QWidget* window)
{
    const QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (parent && parent->isVisible() && window->property(withinParentProperty).toBool()) {
        // A sheet over a sheet has the room of the window they both belong to.
        const QWidget* host = parent;
        while (host->property(withinParentProperty).toBool() && host->parentWidget())
            host = host->parentWidget()->window();
        return host->geometry().intersected(usableArea(host->screen()));
    }
    QScreen* screen = nullptr;
    if (parent && parent->isVisible())
        screen = parent->screen();
    else if (window->isVisible())
        screen = window->screen();
    if (!screen)
        screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? usableArea(screen) : QRect(0, 0, 1280, 720);
}

QRect usableArea(const QScreen* screen)
{
    return usableArea(screen->geometry(), screen->availableGeometry(),
                      !QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
}

QRect usableArea(const QRect& geometry, const QRect& available, bool reportsPanels)
{
    if (reportsPanels || available != geometry || available.height() <= 2 * unreportedPanels)
        return available;
    return available.adjusted(0, 0, 0, -unreportedPanels);
}

QSize fitted(QSize preferred, const QRect& available)
{
    return preferred.boundedTo(available.size()).expandedTo(QSize(1, 1));
}

void preferSize(QWidget* window, QSize preferred, QSize minimum)
{
    replaceFitter(
        window,
        [window, preferred, minimum, first = true]() mutable {
            const QRect area = clientArea(window);
            window->setMinimumSize(fitted(minimum, area));
            // A window the user has sized keeps its size; one too large for this screen comes
            // down to it.
            window->resize(fitted(first ? preferred : window->size(), area));
            first = false;
            const QRect frame = window->geometry().marginsAdded(frameOf(window));
            const QRect available = availableArea(window);
            if (!window->testAttribute(Qt::WA_Moved) || !available.contains(frame)) {
                QRect placed(QPoint(), frame.size());
                placed.moveCenter(available.center());
                placed.moveTopLeft(
                    QPoint(std::max(placed.left(), available.left()), std::max(placed.top(), available.top())));
                window->move(placed.topLeft());
            }
        },
        false);
}

void fixSize(QWidget* window, QSize preferred)
{
    replaceFitter(
        window, [window, preferred] { window->setFixedSize(fitted(preferred, clientArea(window))); }, false);
}

void fixWidthGrowHeight(QWidget* window, int width, int minimumHeight)
{
    replaceFitter(
        window,
        [window, width, minimumHeight] {
            const QRect area = clientArea(window);
            const int w = std::min(width, area.width());
            int content = minimumHeight;
            if (QLayout* layout = window->layout()) {
                layout->activate();
                content = std::max(content, layout->hasHeightForWidth() ? layout->totalHeightForWidth(w)
                                                                        : layout->totalSizeHint().height());
            }
            const QSize size(w, std::clamp(content, 1, std::max(1, area.height())));
            if (window->minimumSize() != size || window->maximumSize() != size)
                window->setFixedSize(size);
        },
        true);
}

QString programTitle(const QString& name)
{
    const QString program = QStringLiteral("Quillharbour");
    if (name.isEmpty() || name == program)
        return program;
    return name + QStringLiteral(" \u2014 ") + program;
}

QPoint overParent(const QRect& parent, QSize size, const QRect& available)
{
    const int x = parent.left() + (parent.width() - size.width()) / 2;
    const int y = parent.top() + std::max(0, parent.height() - size.height()) / 3;
    const auto kept = [](int value, int low, int high) { return std::max(low, std::min(value, high)); };
    return {kept(x, available.left(), available.right() + 1 - size.width()),
            kept(y, available.top(), available.bottom() + 1 - size.height())};
}

QWidget* belongTo(QWidget* window, QWidget* owner)
{
    if (!owner || !owner->isVisible())
        return nullptr;
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* target = modal && modal != window && modal->isVisible() ? modal : owner->window();
    window->winId(); // the native window the transient parent is set on
    target->winId();
    window->windowHandle()->setTransientParent(target->windowHandle());
    return target;
}

} // namespace WindowFit
