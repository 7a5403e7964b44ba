#include "ui/Sheet.h"

#include "platform/WindowHints.h"
#include "ui/Accessibility.h"
#include "ui/Palette.h"
#include "ui/WindowFit.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace {

WindowHints* windowHints = nullptr;
const char* const keptAfterCloseKey = "sheetKeptAfterClose";

// The sheet's own edge, drawn over its content where the window manager's frame would be.
class Outline : public QWidget {
public:
    explicit Outline(QWidget* sheet) : QWidget(sheet)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        Accessibility::hide(this);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(QPen(FocusColor::border(), 1));
        p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
};

// Dims the window under an open sheet, so that the sheet stands apart from the page behind it.
// A frameless sheet gets no shadow from the window manager, and without a compositor a window
// cannot cast one of its own; this is drawn inside the window, which every desktop shows.
class Dimmer : public QWidget {
public:
    explicit Dimmer(QWidget* window) : QWidget(window)
    {
        setObjectName(QStringLiteral("sheetDimmer"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        Accessibility::hide(this);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), FocusColor::withOpacity(FocusColor::ink(), 0.2));
    }
};

// Keeps the sheet over its window: placed as it shows and whenever either changes.
class Follower : public QObject {
public:
    explicit Follower(QDialog* sheet) : QObject(sheet), m_sheet(sheet), m_outline(new Outline(sheet))
    {
        sheet->installEventFilter(this);
    }

    ~Follower() override { delete m_dimmer; }

    void follow(QWidget* window)
    {
        if (m_window == window)
            return;
        if (m_window)
            m_window->removeEventFilter(this);
        delete m_dimmer;
        m_window = window;
        if (window) {
            window->installEventFilter(this);
            m_dimmer = new Dimmer(window);
            if (m_sheet->isVisible())
                dim();
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        // Placed as it shows, not before: a window moved before then keeps its old place in its
        // platform window, which is what assistive technology and popups read.
        if (watched == m_sheet && (type == QEvent::Show || (type == QEvent::Resize && m_sheet->isVisible()))) {
            // Placed at the size it shows at, before the window manager maps it.
            if (type == QEvent::Show) {
                WindowFit::refit(m_sheet);
                // Once the window manager has the sheet, before its first frame: GNOME then
                // centres it over its window.
                if (windowHints)
                    QMetaObject::invokeMethod(
                        m_sheet, [sheet = m_sheet] { windowHints->markModal(sheet->windowHandle()); },
                        Qt::QueuedConnection);
            }
            m_outline->setGeometry(m_sheet->rect());
            m_outline->raise();
            place();
            if (type == QEvent::Show)
                dim();
        } else if (watched == m_sheet && type == QEvent::Hide && !event->spontaneous()) {
            if (m_dimmer)
                m_dimmer->hide();
            if (m_window && holdsKeyboard())
                giveKeyboardBack(m_window);
        } else if (watched == m_window && (type == QEvent::Move || type == QEvent::Resize) && m_sheet->isVisible()) {
            if (m_dimmer)
                m_dimmer->setGeometry(m_window->rect());
            place();
        }
        return false;
    }

private:
    // Whether the keyboard is in the sheet or in a window opened over it (its question). Qt lets
    // go of the active window as it hides it; nothing focused while the program is still the
    // active one means the keyboard was in what is closing.
    bool holdsKeyboard() const
    {
        const QWindow* focus = QGuiApplication::focusWindow();
        if (!focus)
            return QGuiApplication::applicationState() == Qt::ApplicationActive;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->windowHandle() == focus)
                for (QWidget* w = top; w; w = w->parentWidget())
                    if (w == m_sheet)
                        return true;
        return false;
    }

    // The window manager may leave the keyboard nowhere when a sheet and the question over it go
    // at once, and every shortcut then waits for a click: the window asks for it back, and its
    // focus returns to the control that had it, the one that opened the sheet. Asked for once the
    // closing is done, so that a sheet opened in its place keeps it.
    static void giveKeyboardBack(QWidget* window)
    {
        QTimer::singleShot(0, window, [window] {
            QWidget* target = QApplication::activeModalWidget();
            if (!target || !target->isVisible()) {
                target = window;
                while (target && !target->isVisible())
                    target = target->parentWidget() ? target->parentWidget()->window() : nullptr;
            }
            if (target && target->isVisible() && QApplication::activeWindow() != target) {
                target->raise();
                target->activateWindow();
            }
        });
    }

    void dim()
    {
        if (!m_dimmer || !m_window)
            return;
        m_dimmer->setGeometry(m_window->rect());
        m_dimmer->raise();
        m_dimmer->show();
    }

    void place()
    {
        if (!m_window || m_placing)
            return;
        m_placing = true;
        const QRect spot = Sheet::placement(m_sheet->size(), m_window->frameGeometry(), m_window->geometry().top(),
                                            WindowFit::usableArea(m_window->screen()));
        m_sheet->move(spot.topLeft());
        m_placing = false;
    }

    QDialog* m_sheet;
    Outline* m_outline;
    QPointer<QWidget> m_window;
    QPointer<Dimmer> m_dimmer;
    bool m_placing = false;
};

} // namespace

namespace Sheet {

void useWindowHints(WindowHints* hints)
{
    windowHints = hints;
}

void attach(QDialog* sheet, QWidget* over)
{
    sheet->setParent(over, Qt::Dialog | Qt::FramelessWindowHint);
    sheet->setWindowModality(Qt::WindowModal);
    WindowFit::keepWithinParent(sheet);
    Follower* follower = nullptr;
    for (QObject* child : sheet->children())
        if (auto* f = dynamic_cast<Follower*>(child))
            follower = f;
    if (!follower)
        follower = new Follower(sheet);
    follower->follow(over ? over->window() : nullptr);
}

void keepAfterClose(QDialog* sheet)
{
    sheet->setProperty(keptAfterCloseKey, true);
}

bool isKeptAfterClose(const QDialog* sheet)
{
    return sheet->property(keptAfterCloseKey).toBool();
}

QRect placement(QSize size, const QRect& frame, int clientTop, const QRect& available)
{
    QRect spot(QPoint(frame.left() + (frame.width() - size.width()) / 2, clientTop), size);
    // Taller than the window below its title bar: up over the title bar, no higher than the frame.
    if (spot.bottom() > frame.bottom())
        spot.moveTop(std::max(frame.top(), frame.bottom() + 1 - size.height()));
    // Over its window, centred, wherever the window is: it leaves the screen only where the window
    // itself does. A sheet wider than the window keeps to the screen, its top-left corner first.
    const QRect room = available.united(frame);
    spot.moveLeft(std::max(room.left(), std::min(spot.left(), room.right() + 1 - size.width())));
    spot.moveTop(std::max(room.top(), std::min(spot.top(), room.bottom() + 1 - size.height())));
    return spot;
}

} // namespace Sheet
