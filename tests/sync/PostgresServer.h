#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

// A private PostgreSQL server for one test: its own cluster in a temporary folder, listening only
// on a Unix socket there (no TCP port, so parallel runs cannot clash), stopped by process id.
// As root the server runs as "postgres" (initdb refuses root).
class PostgresServer {
public:
    ~PostgresServer() { stop(); }

    bool start(const QString& folder)
    {
        m_folder = folder;
        QDir().mkpath(folder);
        const bool root = ::geteuid() == 0;
        if (root) {
            // The server's user must reach the folder: open the parents for traversal only.
            for (QDir up(folder); up.cdUp() && up.absolutePath() != QLatin1String("/");)
                ::chmod(QFile::encodeName(up.absolutePath()).constData(), 0711);
            if (!run({QStringLiteral("chown"), QStringLiteral("postgres"), folder}))
                return false;
        }
        const QString bin = QStringLiteral("/usr/lib/postgresql/15/bin/");
        const QString data = folder + QStringLiteral("/data");
        if (!run(asServerUser(root, {bin + QStringLiteral("initdb"), QStringLiteral("-D"), data, QStringLiteral("-A"),
                                     QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("postgres")})))
            return false;
        const QString options = QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -c fsync=off "
                                               "-c max_connections=60")
                                    .arg(folder);
        if (!run(asServerUser(root, {bin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), data, QStringLiteral("-o"),
                                     options, QStringLiteral("-l"), folder + QStringLiteral("/log"),
                                     QStringLiteral("-w"), QStringLiteral("start")})))
            return false;
        QFile pidFile(data + QStringLiteral("/postmaster.pid"));
        if (pidFile.open(QIODevice::ReadOnly))
            m_pid = pidFile.readLine().trimmed().toInt();
        return isRunning();
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

    // Connection text for the database itself.
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
    static QStringList asServerUser(bool root, QStringList command)
    {
        if (root)
            command = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("postgres"),
                                  QStringLiteral("--")} +
                      command;
        return command;
    }

    bool run(const QStringList& command)
    {
        QProcess p;
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
};
