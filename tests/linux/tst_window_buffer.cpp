#include "DesktopSession.h"
#include "linux/WindowBuffer.h"

#include <QApplication>
#include <QBackingStore>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QWidget>
#include <qpa/qplatformbackingstore.h>

#include <sys/mman.h>
#include <unistd.h>

// A window's buffer made and mapped before the display server shows the window is the one its
// first frame is painted into. The window is shown on a private X display by a second run of this
// program, which reports on its buffer.

namespace {

constexpr char childVariable[] = "QH_WINDOW_BUFFER_CHILD";
const QColor paper(0x12, 0x34, 0x56);

struct Buffer {
    const uchar* bits = nullptr;
    qsizetype pages = 0;
    qsizetype inMemory = 0;
};

Buffer buffer(QWidget& window)
{
    const QPaintDevice* device = window.backingStore()->handle()->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return {};
    const auto* image = static_cast<const QImage*>(device);
    const auto page = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr begin = quintptr(image->constBits()) & ~(page - 1);
    const quintptr end = quintptr(image->constBits()) + quintptr(image->sizeInBytes());
    std::vector<unsigned char> resident((end - begin + page - 1) / page);
    if (mincore(reinterpret_cast<void*>(begin), end - begin, resident.data()) != 0)
        return {};
    return {image->constBits(), qsizetype(resident.size()),
            std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; })};
}

int showSheet(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QWidget sheet;
    sheet.resize(620, 760);
    QPalette palette = sheet.palette();
    palette.setColor(QPalette::Window, paper);
    sheet.setPalette(palette);
    sheet.setAutoFillBackground(true);
    sheet.show();
    WindowBuffer::prepare(sheet.backingStore(), sheet.size());
    // Events wait meanwhile: the window is not painted before this is known.
    Buffer before;
    QElapsedTimer waited;
    waited.start();
    while (((before = buffer(sheet)).pages == 0 || before.inMemory < before.pages) && waited.elapsed() < 10000)
        QThread::msleep(1);
    if (!QTest::qWaitForWindowExposed(&sheet, 30000))
        return 1;
    const bool drawn = QTest::qWaitFor(
        [&] {
            const QPaintDevice* painted = sheet.backingStore()->handle()->paintDevice();
            return painted && static_cast<const QImage*>(painted)->pixelColor(310, 380) == paper;
        },
        10000);
    const Buffer after = buffer(sheet);
    out << before.inMemory << ' ' << before.pages << ' ' << (before.bits && before.bits == after.bits) << ' ' << drawn
        << Qt::endl;
    return 0;
}

} // namespace

class TestWindowBuffer : public QObject {
    Q_OBJECT

private slots:
    void preparedBufferIsPaintedInto_data()
    {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<int>("pages"); // at least, for 620 by 760 at that scale
        QTest::newRow("scale 1") << QStringLiteral("1") << 460;
        QTest::newRow("scale 2") << QStringLiteral("2") << 1840;
    }

    void preparedBufferIsPaintedInto()
    {
        QFETCH(QString, scale);
        QFETCH(int, pages);
        DesktopSession desktop(QSize(1280, 720));
        QVERIFY2(!desktop.display().isEmpty(), "Xvfb or openbox did not start");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), desktop.display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
        env.insert(QLatin1String(childVariable), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        const QStringList report = QString::fromUtf8(child.readAllStandardOutput()).split(u' ');
        QCOMPARE(report.size(), 4);
        // Every page in memory before the first frame.
        QVERIFY2(report.at(1).toInt() >= pages, qPrintable(report.join(u' ')));
        QCOMPARE(report.at(0).toInt(), report.at(1).toInt());
        QCOMPARE(report.at(2).trimmed(), QStringLiteral("1")); // the same buffer, not a new one
        QCOMPARE(report.at(3).trimmed(), QStringLiteral("1")); // and what was painted is in it
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(childVariable))
        return showSheet(argc, argv);
    QCoreApplication app(argc, argv);
    TestWindowBuffer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_buffer.moc"
