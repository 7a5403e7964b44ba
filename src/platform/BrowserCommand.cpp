#include "platform/BrowserCommand.h"

BrowserCommand BrowserCommand::read(const SupportedBrowser& browser)
{
    return {Operation::read, browser.bundleIdentifier, {}, {}};
}

BrowserCommand BrowserCommand::readFocused(const SupportedBrowser& browser)
{
    return {Operation::readFocused, browser.bundleIdentifier, {}, {}};
}

BrowserCommand BrowserCommand::redirect(const SupportedBrowser& browser, const QString& from, const QString& to)
{
    return {Operation::redirect, browser.bundleIdentifier, from, to};
}

BrowserCommand BrowserCommand::close(const SupportedBrowser& browser, const QString& ifAddress)
{
    return {Operation::close, browser.bundleIdentifier, ifAddress, {}};
}

bool BrowserCommand::isWellFormed() const
{
    return !bundleIdentifier.isEmpty() && (operation != Operation::redirect || !target.isEmpty());
}

QString BrowserCommand::noWindowAnswer() const
{
    return reads() ? QString() : QStringLiteral("no-window");
}
