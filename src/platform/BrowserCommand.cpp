#include "platform/BrowserCommand.h"

BrowserCommand BrowserCommand::read(const SupportedBrowser& browser)
{
    return {Operation::read, browser.id, {}, {}};
}

BrowserCommand BrowserCommand::readFocused(const SupportedBrowser& browser)
{
    return {Operation::readFocused, browser.id, {}, {}};
}

BrowserCommand BrowserCommand::redirect(const SupportedBrowser& browser, const QString& from, const QString& to)
{
    return {Operation::redirect, browser.id, from, to};
}

BrowserCommand BrowserCommand::close(const SupportedBrowser& browser, const QString& ifAddress)
{
    return {Operation::close, browser.id, ifAddress, {}};
}

bool BrowserCommand::isWellFormed() const
{
    return !browserId.isEmpty() && (operation != Operation::redirect || !target.isEmpty());
}

QString BrowserCommand::noWindowAnswer() const
{
    return reads() ? QString() : QStringLiteral("no-window");
}
