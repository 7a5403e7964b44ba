#include "DesktopSession.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <xcb/xcb.h>

#include <cstring>
#include <poll.h>

namespace {

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

} // namespace

// A window manager answers a window's question about its frame extents from its event loop only.
// It names itself on the root window earlier, while it still adopts the windows it finds; a window
// mapped in that moment is never given the focus, so a test that opens one at once would wait for
// it in vain.
bool DesktopSession::waitForWindowManager(const QString& display, QProcess& windowManager, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    xcb_connection_t* c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t request = atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = atom(c, "_NET_FRAME_EXTENTS");
    const xcb_window_t probe = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_EVENT_MASK, &mask);
    bool ready = false;
    while (!ready && !deadline.hasExpired() && windowManager.state() == QProcess::Running &&
           !xcb_connection_has_error(c)) {
        // Asked again and again: nobody hears a request sent before the manager listens.
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = probe;
        message.type = request;
        xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(c);
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        poll(&fd, 1, 50);
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            ready = ready || ((event->response_type & ~0x80) == XCB_PROPERTY_NOTIFY && change->window == probe &&
                              change->atom == extents);
            free(event);
        }
        windowManager.waitForFinished(0); // notices a manager that gave up
    }
    xcb_disconnect(c);
    return ready;
}

DesktopSession::DesktopSession(QSize screen)
    : DesktopSession(screen, {QStringLiteral("openbox"), QStringLiteral("--sm-disable")})
{
}

DesktopSession::DesktopSession(QSize screen, const QStringList& windowManager)
{
    // Xvfb picks a free display number itself and writes it to standard output.
    m_xvfb.setProgram(QStringLiteral("Xvfb"));
    m_xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                         QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    m_xvfb.setStandardErrorFile(QProcess::nullDevice());
    m_xvfb.start();
    if (!m_xvfb.waitForStarted(5000))
        return;
    QByteArray out;
    QElapsedTimer waited;
    waited.start();
    while (!out.contains('\n') && waited.elapsed() < 10000 && m_xvfb.state() == QProcess::Running) {
        m_xvfb.waitForReadyRead(100);
        out += m_xvfb.readAllStandardOutput();
    }
    const QString number = QString::fromLatin1(out).trimmed();
    if (number.isEmpty())
        return;
    const QString display = QLatin1Char(':') + number;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    m_windowManager.setProcessEnvironment(env);
    m_windowManager.setProgram(windowManager.value(0));
    m_windowManager.setArguments(windowManager.mid(1));
    m_windowManager.setStandardOutputFile(QProcess::nullDevice());
    m_windowManager.setStandardErrorFile(QProcess::nullDevice());
    m_windowManager.start();
    if (!m_windowManager.waitForStarted(5000) || !waitForWindowManager(display, m_windowManager))
        return;
    m_display = display;
}

DesktopSession::~DesktopSession()
{
    stop(m_windowManager);
    stop(m_xvfb);
}
