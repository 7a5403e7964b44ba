#pragma once

// A private X desktop as a person has it, for tests of the real program: a session bus, Xvfb with
// openbox, a tray, and the accessibility bus; and the hands and eyes a test has there: xdotool, and
// AT-SPI through atspi_probe.py (the program started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1).
#include "DesktopSession.h"
#include "ProcessTag.h"
#include "SessionBus.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

class AccessibleDesktop {
public:
    ~AccessibleDesktop() { stop(); }

    // Why it could not start; empty when it runs.
    QString start()
    {
        m_desktop = std::make_unique<DesktopSession>();
        if (m_desktop->display().isEmpty())
            return QStringLiteral("Xvfb or openbox could not be started");
        m_bus = std::make_unique<SessionBus>();
        if (m_bus->address().isEmpty())
            return QStringLiteral("dbus-daemon could not be started");
        const QString runtime = m_folder.filePath(QStringLiteral("run"));
        if (!QDir().mkpath(runtime) ||
            !QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
            return QStringLiteral("no private runtime folder");
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.remove(QStringLiteral("NO_AT_BRIDGE"));
        m_env.insert(QStringLiteral("DISPLAY"), m_desktop->display());
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));

        // The registry the accessibility bus starts carries the tag, and ends with it.
        QProcessEnvironment tagged = m_env;
        m_accessibilityTag = ProcessTag::apply(tagged);
        m_accessibilityBus.setProcessEnvironment(tagged);
        m_accessibilityBus.setStandardErrorFile(QProcess::nullDevice());
        m_accessibilityBus.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                                 {QStringLiteral("--launch-immediately")});
        if (!m_accessibilityBus.waitForStarted(5000))
            return QStringLiteral("at-spi-bus-launcher could not be started");
        // Its socket ("bus", or "bus_<display>") appears once the bus is up.
        if (!QTest::qWaitFor(
                [&] { return !QDir(runtime + QStringLiteral("/at-spi")).entryList(QDir::System).isEmpty(); }, 30000))
            return QStringLiteral("the accessibility bus did not come up");

        tagged = m_env;
        m_trayTag = ProcessTag::apply(tagged);
        m_tray.setProcessEnvironment(tagged);
        m_tray.start(QStringLiteral("trayer"),
                     words(QStringLiteral("--edge top --align right --widthtype request --height 24 "
                                          "--transparent false --tint 0xdddddd")));
        if (!m_tray.waitForStarted(5000))
            return QStringLiteral("trayer could not be started");
        return {};
    }

    void stop()
    {
        for (auto [process, tag] :
             {std::pair{&m_tray, &m_trayTag}, std::pair{&m_accessibilityBus, &m_accessibilityTag}})
            if (!tag->isEmpty()) {
                ProcessTag::stop(*process, *tag);
                tag->clear();
            }
        m_bus.reset();
        m_desktop.reset();
    }

    // What programs on this desktop start with: its display, buses and runtime folder.
    const QProcessEnvironment& environment() const { return m_env; }
    QString runtimeFolder() const { return m_env.value(QStringLiteral("XDG_RUNTIME_DIR")); }

    // An argument list written as one line.
    static QStringList words(const QString& line) { return line.split(QLatin1Char(' '), Qt::SkipEmptyParts); }

    QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) const
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program, arguments);
        p.waitForFinished(15000);
        if (exitCode)
            *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString xdotool(const QStringList& arguments) const { return run(QStringLiteral("xdotool"), arguments); }

    // What AT-SPI says; empty when the object is not there. A name "ROW>NAME" is the object named
    // NAME on the row of the one named ROW.
    QStringList probe(const QStringList& arguments) const
    {
        int code = 0;
        const QString out =
            run(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(QH_ATSPI_PROBE)} + arguments, &code);
        return code == 0 ? out.split(QLatin1Char('\n')) : QStringList();
    }
    QStringList probe(const QString& command, const QString& name, const QString& argument = {}) const
    {
        return probe(QStringList{command, name} + (argument.isEmpty() ? QStringList() : QStringList{argument}));
    }
    bool exists(const QString& name) const { return !probe(QStringLiteral("find"), name).isEmpty(); }
    bool act(const QString& name, const char* action) const
    {
        return !probe(QStringLiteral("action"), name, QLatin1String(action)).isEmpty();
    }
    // A real click in the middle of the object's rectangle on the screen.
    bool click(const QString& name) const
    {
        const QStringList found = probe(QStringLiteral("find"), name);
        if (found.size() < 3)
            return false;
        const QStringList r = found[2].split(QLatin1Char(' '));
        const int x = r[0].toInt() + r[2].toInt() / 2;
        const int y = r[1].toInt() + r[3].toInt() / 2;
        xdotool(words(QStringLiteral("mousemove %1 %2 click 1").arg(x).arg(y)));
        return true;
    }
    // The one focused object's name; a mark when none or several are focused.
    QString focusedName() const
    {
        QStringList focused = probe({QStringLiteral("focused")});
        // A list with the keyboard says which of its items is current by focusing it as well, and
        // Qt's text fields pass the focused state to their viewport, a nameless filler inside.
        if (focused.size() == 2 && focused[0].startsWith(QLatin1String("list\t")) &&
            focused[1].startsWith(QLatin1String("list item\t")))
            focused.removeFirst();
        if (focused.size() == 2 && focused[1].trimmed() == QLatin1String("filler"))
            focused.removeLast();
        if (focused.size() != 1)
            return QStringLiteral("<%1 focused: %2>").arg(focused.size()).arg(focused.join(QLatin1String(", ")));
        return focused.front().section(QLatin1Char('\t'), 1);
    }
    // The role of the active window of the program; empty when none of its windows is active.
    QString activeRole() const { return probe({QStringLiteral("active")}).value(0); }
    QString activeName() const { return probe({QStringLiteral("active")}).value(1); }
    // Everything the program shows, to explain a failure.
    QString tree() const { return probe({QStringLiteral("tree")}).join(QLatin1Char('\n')); }

private:
    QTemporaryDir m_folder;
    std::unique_ptr<DesktopSession> m_desktop;
    std::unique_ptr<SessionBus> m_bus;
    QProcess m_accessibilityBus;
    QByteArray m_accessibilityTag;
    QProcess m_tray;
    QByteArray m_trayTag;
    QProcessEnvironment m_env;
};
