#include "linux/SingleInstance.h"

#include "linux/LocalSocketName.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

SingleInstance::SingleInstance(const QString& key, const QString& folder, QObject* parent) : QObject(parent)
{
    const QByteArray digest =
        QCryptographicHash::hash(QDir::cleanPath(QDir(key).absolutePath()).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    const QString base = QStringLiteral("quillharbour-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest));
    m_socketPath = QDir(folder).filePath(base);
    m_lockPath = m_socketPath + QStringLiteral(".lock");
}

SingleInstance::~SingleInstance()
{
    m_server.close();
    if (m_lockFile >= 0)
        ::close(m_lockFile);
}

bool SingleInstance::takeLock()
{
    // A lock on the open file, not a file that names its owner: the system lets go of it the
    // moment the owner ends, however it ends, so there is no stale owner to tell from a live one,
    // and nothing to write (and wait for the disk to keep) before the window can show.
    const int fd = ::open(QFile::encodeName(m_lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFile = fd;
    return true;
}

bool SingleInstance::isPrivateFolder(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

std::optional<QString> SingleInstance::privateFolder(QString* error)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateFolder(runtime))
        return runtime;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString folder = QDir(cache).filePath(QStringLiteral("quillharbour-run"));
    QDir().mkpath(cache);
    // Made private from the start; an existing one must already be.
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = QStringLiteral("Quillharbour cannot make its private folder %1: %2")
                         .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    if (!isPrivateFolder(folder)) {
        if (error)
            *error = QStringLiteral("Quillharbour will not start: %1 must be a folder that only you can use "
                                    "(yours, mode 0700, not a link). Remove it or make it so.")
                         .arg(folder);
        return std::nullopt;
    }
    return folder;
}

QByteArray SingleInstance::request(const QStringList& links, const QString& executable, int* dropped)
{
    const auto encode = [&executable](const QStringList& open) {
        const QJsonObject object{{QStringLiteral("exe"), executable},
                                 {QStringLiteral("open"), QJsonArray::fromStringList(open)}};
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    };
    // The running copy refuses a message over the limit whole, so a link that does not fit
    // stays behind instead of taking the others with it.
    QStringList fitting;
    for (const QString& link : links) {
        if (fitting.size() == maxLinks)
            break;
        fitting.append(link);
        if (encode(fitting).size() - 1 > maxMessageBytes)
            fitting.removeLast();
    }
    if (dropped)
        *dropped = int(links.size() - fitting.size());
    return encode(fitting);
}

std::optional<QStringList> SingleInstance::parseRequest(const QByteArray& line)
{
    if (line.size() > maxMessageBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue open = document.object().value(QStringLiteral("open"));
    if (!open.isArray() || open.toArray().size() > maxLinks)
        return std::nullopt;
    QStringList links;
    for (const QJsonValue& value : open.toArray()) {
        const QString text = value.toString();
        // Anything but our own scheme is dropped: a local program must not steer us elsewhere.
        if (text.startsWith(QLatin1String("quillharbour:"), Qt::CaseInsensitive))
            links.append(text);
    }
    return links;
}

SingleInstance::Claim SingleInstance::claim(const QStringList& links, const QString& executable, int timeoutMs)
{
    m_executable = executable;
    QString nameError;
    const std::optional<QString> name = LocalSocketName::reachable(m_socketPath, &nameError);
    QElapsedTimer elapsed;
    elapsed.start();
    while (true) {
        if (m_lockFile >= 0 || takeLock()) {
            if (!name)
                return {Role::primary, {}, nameError};
            // The lock is ours, so any socket left behind belongs to a copy that died.
            QLocalServer::removeServer(*name);
            m_server.setSocketOptions(QLocalServer::UserAccessOption);
            m_server.setMaxPendingConnections(maxConnections);
            if (!m_server.listen(*name))
                return {Role::primary, {}, m_server.errorString()};
            connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
            return {Role::primary, {}, {}};
        }
        if (!name)
            return {
                Role::unreachable, {}, QStringLiteral("Another copy of Quillharbour may run, but %1.").arg(nameError)};
        QLocalSocket socket;
        socket.connectToServer(*name);
        int dropped = 0;
        if (socket.waitForConnected(500)) {
            socket.write(request(links, executable, &dropped));
            socket.flush();
            QByteArray answer;
            while (!answer.contains('\n') && answer.size() <= maxMessageBytes && elapsed.elapsed() < timeoutMs &&
                   socket.state() == QLocalSocket::ConnectedState) {
                socket.waitForReadyRead(100);
                answer += socket.readAll();
            }
            answer += socket.readAll();
            const QJsonObject reply = QJsonDocument::fromJson(answer.left(answer.indexOf('\n'))).object();
            if (reply.contains(QStringLiteral("exe"))) {
                Claim claim{Role::forwarded, reply.value(QStringLiteral("exe")).toString(), {}, dropped};
                if (dropped > 0)
                    claim.error =
                        QStringLiteral(
                            "%1 of %2 links could not be passed on to the running copy (too many or too long).")
                            .arg(dropped)
                            .arg(links.size());
                return claim;
            }
        }
        // The owner may be between taking the lock and listening; give it a moment.
        if (elapsed.elapsed() >= timeoutMs)
            return {Role::unreachable,
                    {},
                    QStringLiteral("Another copy of Quillharbour holds %1 but does not answer.").arg(m_lockPath)};
        QThread::msleep(100);
    }
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        if (m_open >= maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        auto* buffer = new QByteArray;
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        deadline->start(connectionTimeoutMs);
        connect(deadline, &QTimer::timeout, socket, &QLocalSocket::abort);
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
            --m_open;
            delete buffer;
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer, deadline] {
            *buffer += socket->read(maxMessageBytes + 1 - buffer->size());
            const qsizetype end = buffer->indexOf('\n');
            if (end < 0 && buffer->size() <= maxMessageBytes)
                return;
            const auto links = end < 0 ? std::nullopt : parseRequest(buffer->left(end));
            deadline->stop();
            if (!links) {
                socket->abort();
                return;
            }
            const QJsonObject reply{{QStringLiteral("exe"), m_executable}};
            socket->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
            socket->disconnectFromServer();
            emit messageReceived(*links);
        });
    }
}
