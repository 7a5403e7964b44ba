#pragma once

#include "platform/LoginItem.h"

#include <optional>

// The program as a login item: an XDG autostart entry whose command passes "--login-item", so a
// start at login stays in the tray. Each page that shows the switch makes its own instance.
class LaunchAtLoginService : public LoginItem {
    Q_OBJECT
public:
    using Status = LoginItem::Status;

    static inline const QString loginItemArgument = QStringLiteral("--login-item");
    static inline const QString entryName = QStringLiteral("quillharbour.desktop");

    // Defaults: $XDG_CONFIG_HOME/autostart and this program's own path.
    explicit LaunchAtLoginService(QObject* parent = nullptr);
    LaunchAtLoginService(QString autostartFolder, QString executable, QObject* parent = nullptr);

    Status status() const override { return m_status; }
    void setStatus(Status status);
    const std::optional<QString>& errorMessage() const override { return m_errorMessage; }

    // Writes or removes the entry; a failure is kept in errorMessage and the status re-read.
    void setEnabled(bool on) override;
    void refresh() override { setStatus(readStatus()); }

    Status readStatus() const;
    QString entryPath() const override;
    QByteArray entryText() const;

private:
    void setErrorMessage(const std::optional<QString>& message);

    QString m_folder;
    QString m_executable;
    Status m_status = Status::notRegistered;
    std::optional<QString> m_errorMessage;
};
