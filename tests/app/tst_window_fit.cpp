#include "DesktopSession.h"
#include "SeededStore.h"
#include "TestEnvironment.h"
#include "app/MainWindow.h"
#include "app/Screens.h"
#include "linux/WindowBuffer.h"
#include "onboarding/OnboardingView.h"
#include "router/AppRouter.h"
#include "screens/block/AddRuleSheet.h"
#include "screens/block/BlockingBypassCooldownSheet.h"
#include "screens/quit/QuitFlowWindow.h"
#include "screens/todos/TaskEditorSheet.h"
#include "ui/Theme.h"
#include "ui/WindowFit.h"

#include <QApplication>
#include <QBackingStore>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <qpa/qplatformbackingstore.h>

#include <sys/mman.h>

// Every window opens whole on screens from 1280 by 720 up: at its design size where that fits,
// else at what the screen offers. The windows are shown on a private X display of each size by a
// second run of this program, which reports what the window manager made of them.

namespace {

constexpr char childVariable[] = "QH_WINDOW_FIT_CHILD";

struct Placed {
    QString name;
    QRect frame;
    QSize client;
    QSize minimum;
    QRect available;
};

void report(QTextStream& out, const QString& name, QWidget* window)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window, 30000))
        return;
    // The frame is known once the window manager has put its decoration around the window.
    (void)QTest::qWaitFor([window] { return window->frameGeometry() != window->geometry(); }, 3000);
    const QRect f = window->frameGeometry();
    const QRect a = window->screen()->availableGeometry();
    out << name << ' ' << f.x() << ' ' << f.y() << ' ' << f.width() << ' ' << f.height() << ' ' << window->width()
        << ' ' << window->height() << ' ' << window->minimumWidth() << ' ' << window->minimumHeight() << ' ' << a.x()
        << ' ' << a.y() << ' ' << a.width() << ' ' << a.height() << Qt::endl;
    window->hide();
}

int showEveryWindow(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    QTextStream out(stdout);

    SeededStore f;
    f.seed({SeededStore::rule(QStringLiteral("youtube.com"), QStringLiteral("YouTube"))});
    f.addToday(QStringLiteral("Draft the quarterly report"));
    f.defaults.set(MainWindow::onboardingCompletedKey, true);
    AppRouter router;
    AppContext context = f.context(&router);

    MainWindow main(context, programScreens());
    report(out, QStringLiteral("main"), &main);

    TaskEditorSheet::Inputs inputs;
    inputs.selectedDate = f.clock.now();
    inputs.clock = &f.clock;
    inputs.calendar = context.calendar;
    inputs.reminders = &f.store->core().reminders();
    inputs.onSave = [](const TaskItem&) { return std::optional<QString>(); };
    TaskEditorSheet editor(std::move(inputs));
    // Its buffer is made and mapped while the display shows it: every page is in memory before
    // the first frame (the events wait meanwhile).
    editor.show();
    WindowBuffer::prepare(editor.backingStore(), editor.size());
    const auto* buffer = static_cast<const QImage*>(editor.backingStore()->handle()->paintDevice());
    if (!buffer)
        return 1;
    const auto start = quintptr(buffer->constBits()) & ~quintptr(4095);
    std::vector<unsigned char> pages((quintptr(buffer->constBits()) + buffer->sizeInBytes() - start + 4095) / 4096);
    const auto inMemory = [&] {
        mincore(reinterpret_cast<void*>(start), pages.size() * 4096, pages.data());
        return std::count_if(pages.begin(), pages.end(), [](unsigned char page) { return page & 1; });
    };
    QElapsedTimer waited;
    waited.start();
    while (inMemory() < qsizetype(pages.size()) && waited.elapsed() < 10000)
        QThread::msleep(1);
    out << "editorBuffer " << inMemory() << '/' << pages.size() << Qt::endl;
    report(out, QStringLiteral("editor"), &editor);

    AddRuleSheet addRule(
        std::nullopt, {}, [](const BlockRule&) -> std::optional<QString> { return std::nullopt; }, f.clock);
    report(out, QStringLiteral("addRule"), &addRule);

    BlockingBypassCooldownSheet cooldown(
        BlockingBypassKind::urgentBreak(QStringLiteral("YouTube")),
        QStringLiteral("Finish the quarterly report for the board, with the numbers from every region and the "
                       "forecast for the next two quarters"),
        [] { return true; }, f.bootClock);
    report(out, QStringLiteral("cooldown"), &cooldown);

    QuitFlowWindow::Hooks hooks;
    hooks.storage = f.store.get();
    hooks.router = &router;
    hooks.clock = &f.bootClock;
    report(out, QStringLiteral("quit"), QuitFlowWindow::show(hooks, [] {}));

    OnboardingView onboarding(context, 0, [] {});
    report(out, QStringLiteral("onboarding"), &onboarding);
    return 0;
}

} // namespace

class TestWindowFit : public QObject {
    Q_OBJECT

private slots:
    void everyWindowFits_data();
    void everyWindowFits();
    void roomForPanels_data();
    void roomForPanels();
};

// Qt under Wayland reports the whole screen as available. The main window sized to that was taller
// than the room beside KDE Plasma's panel, and the compositor, centring it there, put its title bar
// above the screen.
void TestWindowFit::roomForPanels_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QRect>("available"); // as the platform reports it
    QTest::addColumn<bool>("reportsPanels");
    QTest::addColumn<int>("panel"); // the desktop's real panel, at the bottom
    QTest::addColumn<QRect>("usable");
    QTest::newRow("X11, the panel reported")
        << QRect(0, 0, 1280, 720) << QRect(0, 0, 1280, 676) << true << 44 << QRect(0, 0, 1280, 676);
    QTest::newRow("X11, no panel") << QRect(0, 0, 1280, 720) << QRect(0, 0, 1280, 720) << true << 0
                                   << QRect(0, 0, 1280, 720);
    QTest::newRow("Wayland, KDE Plasma's panel")
        << QRect(0, 0, 1280, 720) << QRect(0, 0, 1280, 720) << false << 44 << QRect(0, 0, 1280, 672);
    QTest::newRow("Wayland, GNOME's top bar, a second screen")
        << QRect(1280, 0, 1920, 1080) << QRect(1280, 0, 1920, 1080) << false << 32 << QRect(1280, 0, 1920, 1032);
    QTest::newRow("Wayland, a panel the platform reports")
        << QRect(0, 0, 1280, 720) << QRect(0, 32, 1280, 688) << false << 32 << QRect(0, 32, 1280, 688);
}

void TestWindowFit::roomForPanels()
{
    QFETCH(QRect, screen);
    QFETCH(QRect, available);
    QFETCH(bool, reportsPanels);
    QFETCH(int, panel);
    QFETCH(QRect, usable);
    QCOMPARE(WindowFit::usableArea(screen, available, reportsPanels), usable);
    // The main window with a title bar of 32 points fits beside the real panel.
    const QMargins frame(4, 32, 4, 4);
    const QSize client = WindowFit::fitted(QSize(1240, 800), usable.marginsRemoved(frame));
    QVERIFY(client.height() + frame.top() + frame.bottom() <= screen.height() - panel);
    QVERIFY(usable.top() >= screen.top());
}

void TestWindowFit::everyWindowFits_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::newRow("1280x720") << QSize(1280, 720);
    QTest::newRow("1440x900") << QSize(1440, 900);
    QTest::newRow("1920x1080") << QSize(1920, 1080);
}

void TestWindowFit::everyWindowFits()
{
    QFETCH(QSize, screen);
    DesktopSession desktop(screen);
    if (desktop.display().isEmpty())
        QSKIP("no Xvfb or openbox");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), desktop.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QLatin1String(childVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(90000));
    QCOMPARE(child.exitCode(), 0);

    // The size each window is designed for, and whether its height follows its content.
    const QHash<QString, QSize> design{
        {QStringLiteral("main"), {1240, 800}},   {QStringLiteral("editor"), {620, 760}},
        {QStringLiteral("addRule"), {620, 740}}, {QStringLiteral("cooldown"), {460, 0}},
        {QStringLiteral("quit"), {480, 630}},    {QStringLiteral("onboarding"), {880, 600}}};
    QStringList seen;
    const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.indexOf(QRegularExpression(QStringLiteral("^editorBuffer ([1-9]\\d*)/\\1$"))) >= 0,
             qPrintable(lines.join(u'\n')));
    for (const QString& line : lines) {
        const QStringList v = line.split(u' ');
        if (v.size() == 2)
            continue;
        QCOMPARE(v.size(), 13);
        const auto n = [&v](int i) { return v.at(i).toInt(); };
        const QString name = v.at(0);
        const QRect frame(n(1), n(2), n(3), n(4));
        const QSize client(n(5), n(6));
        const QSize minimum(n(7), n(8));
        const QRect available(n(9), n(10), n(11), n(12));
        seen << name;
        QVERIFY2(available.contains(frame), qPrintable(line));
        QVERIFY2(minimum.width() <= available.width() && minimum.height() <= available.height(), qPrintable(line));
        const QSize wanted = design.value(name);
        const QSize decoration = frame.size() - client;
        const bool fits = wanted.width() + decoration.width() <= available.width() &&
                          wanted.height() + decoration.height() <= available.height();
        if (fits && wanted.height() > 0)
            QVERIFY2(client == wanted, qPrintable(line));
        else if (fits)
            QVERIFY2(client.width() == wanted.width(), qPrintable(line));
        else
            QVERIFY2(client.width() >= std::min(wanted.width(), available.width() - decoration.width()) - 1,
                     qPrintable(line));
    }
    QCOMPARE(seen.size(), design.size());
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(childVariable))
        return showEveryWindow(argc, argv);
    QCoreApplication app(argc, argv);
    TestWindowFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_fit.moc"
