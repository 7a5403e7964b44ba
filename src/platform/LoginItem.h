#pragma once

#include <QObject>
#include <QString>
#include <optional>

// The program started at login, in the tray. Each page that shows the switch has its own.
class LoginItem : public QObject {
    Q_OBJECT
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    using QObject::QObject;

    virtual Status status() const = 0;
    bool isEnabled() const { return status() == Status::enabled || status() == Status::requiresApproval; }
    virtual const std::optional<QString>& errorMessage() const = 0;
    // Registers or removes the item; a failure is kept in errorMessage and the status read again.
    virtual void setEnabled(bool on) = 0;
    // Reads the status again, for a change made outside the program.
    virtual void refresh() = 0;
    // The file that makes the start at login, which the person may look for.
    virtual QString entryPath() const = 0;

signals:
    void statusChanged();
    void errorMessageChanged();
};

// Where no desktop is at hand (a page built alone): never registered, and a switch set on falls back.
class AbsentLoginItem : public LoginItem {
public:
    using LoginItem::LoginItem;
    Status status() const override { return Status::notRegistered; }
    const std::optional<QString>& errorMessage() const override { return m_none; }
    void setEnabled(bool) override { emit statusChanged(); }
    void refresh() override {}
    QString entryPath() const override { return {}; }

private:
    std::optional<QString> m_none;
};
