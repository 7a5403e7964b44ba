#include "linux/NativeMessagingHost.h"

#include "linux/LocalSocketName.h"
#include "linux/NativeMessaging.h"
#include "model/SupportedBrowser.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonObject>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace NativeMessagingHost {

bool isHostInvocation(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return false;
    if (arguments.first() == argument)
        return true;
    if (arguments.first().startsWith(QLatin1String("chrome-extension://")))
        return true;
    return arguments.size() >= 2 && arguments.at(1) == NativeMessaging::firefoxExtensionId &&
           arguments.first().endsWith(QLatin1String(".json"));
}

QString browserForExecutable(const QString& path)
{
    const QString name = QFileInfo(path).fileName().toLower();
    // Longest names first: "chromium" also contains "chrome".
    static const std::pair<const char*, const char*> table[] = {
        {"chromium", "chromium"}, {"msedge", "edge"}, {"microsoft-edge", "edge"}, {"brave", "brave"},
        {"vivaldi", "vivaldi"},   {"opera", "opera"}, {"firefox", "firefox"},     {"chrome", "chrome"},
    };
    for (const auto& [part, id] : table)
        if (name.startsWith(QLatin1String(part)))
            return QString::fromLatin1(id);
    return {};
}

namespace {

// A relay's greeting names its browser as the first builds did: a program started before an
// update still reads it.
QString storedKey(const QString& browserId)
{
    const SupportedBrowser* browser = SupportedBrowser::withId(browserId);
    return browser ? browser->storedKey : QString();
}

void log(const QString& line)
{
    QTextStream(stderr) << "quillharbour native-messaging host: " << line << Qt::endl;
}

// Writes all of it to the browser, or reports that the browser is gone.
bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            ::usleep(1000); // the browser is reading slowly; stdout is its pipe, never a terminal wait
            continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

class Relay : public QObject {
public:
    Relay(QString socketPath, QString browser) : m_path(std::move(socketPath)), m_browser(std::move(browser))
    {
        ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
        m_stdin = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_stdin, &QSocketNotifier::activated, this, &Relay::readBrowser);
        connect(&m_program, &QLocalSocket::connected, this, &Relay::onConnected);
        connect(&m_program, &QLocalSocket::disconnected, this, &Relay::onLost);
        // A refused connection reports its error before its state settles: look once it has.
        connect(&m_program, &QLocalSocket::errorOccurred, this, [this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_program.state() != QLocalSocket::ConnectedState)
                        onLost();
                },
                Qt::QueuedConnection);
        });
        connect(&m_program, &QLocalSocket::readyRead, this, &Relay::readProgram);
        m_retry.setSingleShot(true);
        m_retry.setInterval(retryMs);
        connect(&m_retry, &QTimer::timeout, this, &Relay::connectToProgram);
        // What the browser has not read yet waits here, not in a write that blocks: a browser that
        // stops reading must not hold the relay once it lets go of the port.
        ::fcntl(STDOUT_FILENO, F_SETFL, ::fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
        m_stdout = new QSocketNotifier(STDOUT_FILENO, QSocketNotifier::Write, this);
        m_stdout->setEnabled(false);
        connect(m_stdout, &QSocketNotifier::activated, this, &Relay::writeBrowser);
        m_lastWords.setSingleShot(true);
        m_lastWords.setInterval(lastWordsMs);
        connect(&m_lastWords, &QTimer::timeout, this, [] { QCoreApplication::exit(0); });
        connectToProgram();
    }

    static constexpr int retryMs = 1000;
    static constexpr qint64 maximumPendingBytes = 8 * 1024 * 1024;
    // After the browser closes its end, how long what is still on its way may take to go.
    static constexpr int lastWordsMs = 2000;

private:
    void connectToProgram()
    {
        if (m_program.state() == QLocalSocket::UnconnectedState)
            m_program.connectToServer(m_path);
    }

    void onConnected()
    {
        QJsonObject hello{{QStringLiteral("type"), QStringLiteral("relay")},
                          {QStringLiteral("protocol"), NativeMessaging::protocolVersion},
                          {QStringLiteral("browser"), storedKey(m_browser)}};
        m_program.write(NativeMessaging::frame(hello));
        m_absentSaid = false;
        m_fromProgram = {};
        // The extension says hello again and reports its tab: what it sent before went nowhere.
        toBrowser({{QStringLiteral("type"), QStringLiteral("present")}});
    }

    void onLost()
    {
        if (!m_absentSaid) {
            m_absentSaid = true;
            toBrowser({{QStringLiteral("type"), QStringLiteral("absent")}});
        }
        if (!m_retry.isActive())
            m_retry.start();
    }

    void toBrowser(const QJsonObject& message)
    {
        const QByteArray bytes = NativeMessaging::frame(message);
        if (quint32(bytes.size() - 4) > NativeMessaging::maximumMessageBytes) {
            log(QStringLiteral("dropped a message of %1 bytes for the browser: over its 1 MiB limit")
                    .arg(bytes.size() - 4));
            return;
        }
        if (m_toBrowser.size() > maximumPendingBytes) {
            log(QStringLiteral("the browser is not reading; a message for it was dropped"));
            return;
        }
        m_toBrowser.append(bytes);
        writeBrowser();
    }

    void writeBrowser()
    {
        while (!m_toBrowser.isEmpty()) {
            const ssize_t n = ::write(STDOUT_FILENO, m_toBrowser.constData(), size_t(m_toBrowser.size()));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                break;
            if (n <= 0) { // the browser closed our end
                m_toBrowser.clear();
                QCoreApplication::exit(0);
                return;
            }
            m_toBrowser.remove(0, n);
        }
        m_stdout->setEnabled(!m_toBrowser.isEmpty());
        if (m_toBrowser.isEmpty() && m_browserGone)
            finish();
    }

    // The browser let go of the port: what it sent last goes on to the program, what is left for
    // it gets a little while to go, and the relay ends.
    void finish()
    {
        m_browserGone = true;
        if (m_program.state() == QLocalSocket::ConnectedState)
            m_program.waitForBytesWritten(lastWordsMs);
        if (m_toBrowser.isEmpty())
            QCoreApplication::exit(0);
        else if (!m_lastWords.isActive())
            m_lastWords.start();
    }

    void readBrowser()
    {
        char chunk[65536];
        bool ended = false;
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                break;
            if (n <= 0) { // the browser let go of the extension's port
                m_stdin->setEnabled(false);
                ended = true;
                break;
            }
            m_fromBrowser.append(QByteArray(chunk, n));
        }
        // Frames that came with the end are passed on before the relay ends.
        if (relayFromBrowser() && ended)
            finish();
    }

    // False when the input was refused and the relay ends.
    bool relayFromBrowser()
    {
        for (;;) {
            NativeMessaging::FrameReader::Result r = m_fromBrowser.next();
            using S = NativeMessaging::FrameReader::Status;
            if (r.status == S::needMore)
                return true;
            if (r.status == S::broken) {
                log(QStringLiteral("refusing the browser's input: %1").arg(r.problem));
                m_stdin->setEnabled(false);
                QCoreApplication::exit(1);
                return false;
            }
            if (r.status != S::message) {
                log(QStringLiteral("refused from the browser: %1").arg(r.problem));
                continue;
            }
            if (m_program.state() != QLocalSocket::ConnectedState)
                continue; // nobody to tell; the extension already heard "absent"
            if (m_program.bytesToWrite() > maximumPendingBytes) {
                log(QStringLiteral("the program is not reading; a message from the browser was dropped"));
                continue;
            }
            m_program.write(NativeMessaging::frame(r.message));
        }
    }

    void readProgram()
    {
        m_fromProgram.append(m_program.readAll());
        for (;;) {
            NativeMessaging::FrameReader::Result r = m_fromProgram.next();
            using S = NativeMessaging::FrameReader::Status;
            if (r.status == S::needMore)
                return;
            if (r.status == S::broken) {
                log(QStringLiteral("refusing the program's output: %1").arg(r.problem));
                m_program.abort();
                onLost();
                return;
            }
            if (r.status != S::message) {
                log(QStringLiteral("refused from the program: %1").arg(r.problem));
                continue;
            }
            toBrowser(r.message);
        }
    }

    QString m_path;
    QString m_browser;
    QSocketNotifier* m_stdin = nullptr;
    QSocketNotifier* m_stdout = nullptr;
    QByteArray m_toBrowser;
    bool m_browserGone = false;
    QTimer m_lastWords;
    QLocalSocket m_program;
    QTimer m_retry;
    NativeMessaging::FrameReader m_fromBrowser;
    NativeMessaging::FrameReader m_fromProgram;
    bool m_absentSaid = false;
};

QString parentExecutable()
{
    return QFileInfo(QStringLiteral("/proc/%1/exe").arg(::getppid())).symLinkTarget();
}

} // namespace

int run(int argc, char* argv[])
{
    // A browser that closes the pipe must end the relay through a failed write, not a signal.
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QString error;
    std::optional<QString> path = NativeMessaging::socketPath(&error);
    if (path)
        path = LocalSocketName::reachable(*path, &error);
    if (!path) {
        log(error);
        // The extension must still hear that no program answers, so that it lifts its rules.
        writeAll(STDOUT_FILENO, NativeMessaging::frame({{QStringLiteral("type"), QStringLiteral("absent")}}));
        return 1;
    }
    Relay relay(*path, browserForExecutable(parentExecutable()));
    return app.exec();
}

} // namespace NativeMessagingHost
