#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>
#include <memory>
#include <optional>

// One running copy per data folder. The first start takes a lock and listens on a per-user local
// socket; a later start with the same data folder hands its links (or a plain "reopen") to it and
// ends before it touches any data. Messages on the socket are untrusted: bounded in size, count
// and time, and only "quillharbour:" links are passed on.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,    // this copy runs; messages() arrive from later starts
        forwarded,  // another copy runs and took our links; `otherExecutable` names it
        unreachable // another copy holds the lock but does not answer
    };

    struct Claim {
        Role role = Role::unreachable;
        QString otherExecutable; // the running copy's program, when it answered
        QString error;
        int droppedLinks = 0; // links left out because the request would have been too large
    };

    // `key` tells copies apart (the data folder); `folder` holds the lock and the socket.
    SingleInstance(const QString& key, const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The folder for lock and socket, one only this user can use: $XDG_RUNTIME_DIR when it is
    // that, else "quillharbour-run" in the user's cache folder, made 0700. None (with the reason
    // in `error`) when that folder exists but is not the user's own and closed to others: a
    // shared folder would let another user stop or steer this program.
    static std::optional<QString> privateFolder(QString* error);
    // A real folder (not a link) owned by this user with no access for anyone else.
    static bool isPrivateFolder(const QString& path);

    // Either becomes the running copy or forwards `links` (empty means "reopen") to it. Waits
    // at most `timeoutMs` for an answer.
    Claim claim(const QStringList& links, const QString& executable, int timeoutMs = 5000);

    const QString& socketPath() const { return m_socketPath; }

    static constexpr qsizetype maxMessageBytes = 16 * 1024;
    static constexpr qsizetype maxLinks = 32;
    static constexpr int connectionTimeoutMs = 3000;
    static constexpr int maxConnections = 8;

    // The links of one request, or nothing when it is not a valid request. Pure, for tests.
    static std::optional<QStringList> parseRequest(const QByteArray& line);
    // As many of `links`, in order, as fit in one message; the number left out in `dropped`.
    static QByteArray request(const QStringList& links, const QString& executable, int* dropped = nullptr);

signals:
    // From another start: its links (only "quillharbour:" ones), or empty for "reopen".
    void messageReceived(const QStringList& links);

private:
    void accept();
    bool takeLock();

    QString m_socketPath;
    QString m_lockPath;
    int m_lockFile = -1; // open while the lock is ours; the system frees it when this process ends
    QLocalServer m_server;
    QString m_executable;
    int m_open = 0;
};
