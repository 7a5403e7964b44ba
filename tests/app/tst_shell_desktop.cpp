#include "DesktopSession.h"
#include "SessionBus.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// The program on a real X desktop with a tray host: its padlock appears in the tray, a click
// opens the popover, and a link started as a second process switches the main window's page.
class TestShellDesktop : public QObject {
    Q_OBJECT

    QProcessEnvironment m_env;

    QString xdotool(const QStringList& arguments)
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(QStringLiteral("xdotool"), arguments);
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    QStringList visibleWindows(const QStringList& search)
    {
        return xdotool(QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + search)
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QSize size(const QString& window)
    {
        const QString text = xdotool({QStringLiteral("getwindowgeometry"), window});
        const auto match = QRegularExpression(QStringLiteral("Geometry: (\\d+)x(\\d+)")).match(text);
        return match.hasMatch() ? QSize(match.captured(1).toInt(), match.captured(2).toInt()) : QSize();
    }

private slots:
    void trayPopoverAndLinks()
    {
        DesktopSession desktop;
        SessionBus bus;
        if (desktop.display().isEmpty() || bus.address().isEmpty())
            QSKIP("Xvfb, openbox or dbus-daemon is missing");
        QTemporaryDir folder;
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("run"))));
        QFile::setPermissions(folder.filePath(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("DISPLAY"), desktop.display());
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.filePath(QStringLiteral("run")));
        m_env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), folder.filePath(QStringLiteral("data")));
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

        QProcess tray;
        tray.setProcessEnvironment(m_env);
        tray.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                    QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
                    QStringLiteral("24"), QStringLiteral("--transparent"), QStringLiteral("false"),
                    QStringLiteral("--tint"), QStringLiteral("0xdddddd")});
        if (!tray.waitForStarted(5000))
            QSKIP("trayer is missing");

        // Started at login: with a tray it shows only the padlock.
        QProcess app;
        app.setProcessEnvironment(m_env);
        app.start(QStringLiteral(QUILLHARBOUR_BINARY), {QStringLiteral("--login-item")});
        QVERIFY(app.waitForStarted(5000));
        const QStringList ours{QStringLiteral("--class"), QStringLiteral("quillharbour")};
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindows(ours).size() == 1, 15000);
        const QString icon = visibleWindows(ours).constFirst();
        QVERIFY2(size(icon).width() <= 48, qPrintable(xdotool({QStringLiteral("getwindowgeometry"), icon})));

        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("8"),
                 QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("1")});
        const auto popoverShown = [&] {
            for (const QString& window : visibleWindows(ours))
                if (size(window).width() == 372)
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(popoverShown(), 10000);

        QProcess later;
        later.setProcessEnvironment(m_env);
        later.start(QStringLiteral(QUILLHARBOUR_BINARY), {QStringLiteral("quillharbour://settings")});
        QVERIFY(later.waitForFinished(10000));
        QCOMPARE(later.exitCode(), 0);
        const QStringList settings{QStringLiteral("--name"), QStringLiteral("^Settings .*Quillharbour$")};
        QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(settings).isEmpty(), 10000);

        // Title bars, panels and window switchers draw the icon at 16 to 64 pixels, and each new
        // window, sheets too, hands the display server every size it has.
        QProcess xprop;
        xprop.setProcessEnvironment(m_env);
        xprop.start(QStringLiteral("xprop"),
                    {QStringLiteral("-id"), visibleWindows(settings).constFirst(), QStringLiteral("_NET_WM_ICON")});
        QVERIFY(xprop.waitForFinished(5000));
        const QString icons = QString::fromUtf8(xprop.readAllStandardOutput());
        const QRegularExpression beyond64(QStringLiteral("Icon \\((6[5-9]|[7-9]\\d|\\d{3,}) x"));
        QVERIFY2(icons.contains(QStringLiteral("Icon (16 x 16)")) && !icons.contains(beyond64),
                 qPrintable(icons.left(99)));

        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 0);
        tray.terminate();
        tray.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestShellDesktop)
#include "tst_shell_desktop.moc"
