#pragma once

#include <QObject>
#include <optional>

// The program as a login item: an XDG autostart entry whose command passes "--login-item", so a
// start at login stays in the tray. Each page that shows the switch makes its own instance.
class LaunchAtLoginService : public QObject {
    Q_OBJECT
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    static inline const QString loginItemArgument = QStringLiteral("--login-item");
    static inline const QString entryName = QStringLiteral("quillharbour.desktop");

    // Defaults: $XDG_CONFIG_HOME/autostart and this program's own path.
    explicit LaunchAtLoginService(QObject* parent = nullptr);
    LaunchAtLoginService(QString autostartFolder, QString executable, QObject* parent = nullptr);

    Status status() const { return m_status; }
    void setStatus(Status status);
    bool isEnabled() const { return m_status == Status::enabled || m_status == Status::requiresApproval; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }

    // Writes or removes the entry; a failure is kept in errorMessage and the status re-read.
    void setEnabled(bool on);

    Status readStatus() const;
    QString entryPath() const;
    QByteArray entryText() const;

signals:
    void statusChanged();
    void errorMessageChanged();

private:
    void setErrorMessage(const std::optional<QString>& message);

    QString m_folder;
    QString m_executable;
    Status m_status = Status::notRegistered;
    std::optional<QString> m_errorMessage;
};
