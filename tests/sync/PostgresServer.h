#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// A private PostgreSQL server for one test: its own cluster in a folder of its own that it makes
// and removes again, listening on a Unix socket there (no TCP port, so parallel runs cannot clash)
// or, with TLS, on a free loopback port; stopped by process id.
// As root the server runs as "postgres" (initdb refuses root), which cannot pass through the
// test's own private temporary folder: its folder is made in the machine's shared one instead and
// made over to that user. No folder it did not make is touched.
class PostgresServer {
public:
    // The server programs of the newest PostgreSQL installed, empty when there is none.
    static QString binaries()
    {
        const QDir versions(QStringLiteral("/usr/lib/postgresql"));
        QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(found.begin(), found.end(), [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
        for (const QString& version : found) {
            const QString bin = versions.filePath(version) + QStringLiteral("/bin/");
            if (QFileInfo(bin + QStringLiteral("initdb")).isExecutable() &&
                QFileInfo(bin + QStringLiteral("pg_ctl")).isExecutable())
                return bin;
        }
        return {};
    }

    ~PostgresServer()
    {
        stop();
        if (!m_folder.isEmpty())
            QDir(m_folder).removeRecursively();
    }

    bool start() { return startCluster(QString()); }

    // TCP on 127.0.0.1 with TLS only, under a certificate for `certificateName` made now and
    // signed by nobody else (so it is its own root: `certificate()` is what a client must trust).
    bool startWithTls(const QString& certificateName)
    {
        return makeFolder() &&
               runAs(false, {QStringLiteral("openssl"), QStringLiteral("req"), QStringLiteral("-x509"),
                             QStringLiteral("-newkey"), QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
                             QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                             QStringLiteral("/CN=") + certificateName, QStringLiteral("-addext"),
                             QStringLiteral("subjectAltName=DNS:") + certificateName, QStringLiteral("-keyout"),
                             m_folder + QStringLiteral("/server.key"), QStringLiteral("-out"), certificate()}) &&
               handOver(m_folder + QStringLiteral("/server.key")) && startCluster(certificateName);
    }

    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGINT); // fast shutdown
        QElapsedTimer timer;
        timer.start();
        while (::kill(m_pid, 0) == 0 && timer.elapsed() < 30000)
            QThread::msleep(20);
        if (::kill(m_pid, 0) == 0)
            ::kill(m_pid, SIGKILL);
        m_pid = 0;
    }

    bool isRunning() const { return m_pid > 0; }
    const QString& error() const { return m_error; }
    QString certificate() const { return m_folder + QStringLiteral("/server.crt"); }
    int port() const { return m_port; }
    const QString& folder() const { return m_folder; }

    // Connection text for the database itself (over the socket).
    QString connection(const QString& extra = QString()) const
    {
        return QStringLiteral("host=%1 dbname=postgres user=postgres %2").arg(m_folder, extra);
    }

    // A new empty schema, and the connection text whose tables live in it.
    QString freshSchema(const QString& name) const
    {
        PGconn* conn = PQconnectdb(connection().toUtf8().constData());
        PQclear(PQexec(
            conn, QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE; CREATE SCHEMA %1").arg(name).toUtf8().constData()));
        PQfinish(conn);
        return connection(QStringLiteral("options='-c search_path=%1'").arg(name));
    }

private:
    bool makeFolder()
    {
        if (!m_folder.isEmpty())
            return true;
        const QString parent = ::geteuid() == 0 ? QStringLiteral("/tmp") : QDir::tempPath();
        QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/qh-pg-XXXXXX"));
        if (!::mkdtemp(pattern.data())) {
            m_error = QStringLiteral("no private folder in %1").arg(parent);
            return false;
        }
        m_folder = QFile::decodeName(pattern);
        return handOver(m_folder);
    }

    // As root, the server's user owns what the server reads; the mode stays private.
    bool handOver(const QString& path)
    {
        if (::geteuid() != 0)
            return true;
        const passwd* user = ::getpwnam("postgres");
        if (!user || ::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) != 0) {
            m_error = QStringLiteral("cannot give %1 to the postgres user").arg(path);
            return false;
        }
        return true;
    }

    bool startCluster(const QString& tlsName)
    {
        if (!makeFolder())
            return false;
        const bool root = ::geteuid() == 0;
        const QString bin = binaries();
        if (bin.isEmpty()) {
            m_error = QStringLiteral("PostgreSQL is not installed (no server programs in /usr/lib/postgresql)");
            return false;
        }
        const QString data = m_folder + QStringLiteral("/data");
        if (!runAs(root, {bin + QStringLiteral("initdb"), QStringLiteral("-D"), data, QStringLiteral("-A"),
                          QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("postgres")}))
            return false;
        QString options =
            QStringLiteral("-c unix_socket_directories='%1' -c fsync=off -c max_connections=60").arg(m_folder);
        if (tlsName.isEmpty()) {
            options += QStringLiteral(" -c listen_addresses=''");
        } else {
            {
                QTcpServer probe; // a port free right now; the server takes it a moment later
                if (!probe.listen(QHostAddress::LocalHost)) {
                    m_error = QStringLiteral("no free loopback port");
                    return false;
                }
                m_port = probe.serverPort();
            }
            options += QStringLiteral(" -c listen_addresses='127.0.0.1' -p %1 -c ssl=on -c ssl_cert_file='%2' "
                                      "-c ssl_key_file='%3/server.key'")
                           .arg(m_port)
                           .arg(certificate(), m_folder);
            // Only TLS connections from loopback are let in.
            QFile hba(data + QStringLiteral("/pg_hba.conf"));
            if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                hba.write("local all all trust\nhostssl all all 127.0.0.1/32 trust\n") < 0)
                return false;
        }
        if (!runAs(root, {bin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), data, QStringLiteral("-o"), options,
                          QStringLiteral("-l"), m_folder + QStringLiteral("/log"), QStringLiteral("-w"),
                          QStringLiteral("start")}))
            return false;
        QFile pidFile(data + QStringLiteral("/postmaster.pid"));
        if (pidFile.open(QIODevice::ReadOnly))
            m_pid = pidFile.readLine().trimmed().toInt();
        return isRunning();
    }

    bool runAs(bool serverUser, QStringList command)
    {
        if (serverUser)
            command = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("postgres"),
                                  QStringLiteral("--")} +
                      command;
        QProcess p;
        p.setWorkingDirectory(m_folder); // the server's user may not pass through the test's own
        p.setProcessChannelMode(QProcess::MergedChannels);
        // The tests' locale may not be installed; the server needs one that is.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        p.setProcessEnvironment(env);
        p.start(command.first(), command.mid(1));
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            m_error = QStringLiteral("%1 failed: %2").arg(command.join(u' '), QString::fromLocal8Bit(p.readAll()));
            return false;
        }
        return true;
    }

    QString m_folder;
    QString m_error = QStringLiteral("PostgreSQL was not started");
    pid_t m_pid = 0;
    int m_port = 0;
};

// Skips the case only where PostgreSQL is not installed at all, saying so; a server that is
// installed and does not start fails the case with the reason.
#define QH_REQUIRE_POSTGRES(server, started)                                                                           \
    do {                                                                                                               \
        if (!(started)) {                                                                                              \
            if (PostgresServer::binaries().isEmpty())                                                                  \
                QSKIP("PostgreSQL is not installed on this machine: its cases cannot run");                            \
            QFAIL(qPrintable((server).error()));                                                                       \
        }                                                                                                              \
    } while (false)
