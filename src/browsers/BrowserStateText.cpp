#include "browsers/BrowserStateText.h"

std::optional<BrowserStateText> browserStateText(const SupportedBrowser& browser, const BrowserAccessState& state)
{
    using Kind = BrowserAccessState::Kind;
    const bool firefox = !browser.servedBy(SupportedBrowser::devToolsRoute);
    switch (state.kind) {
    case Kind::extensionMissing:
        return BrowserStateText{QStringLiteral("Add the Quillharbour extension to ") + browser.name +
                                    QStringLiteral(" to block sites there."),
                                QStringLiteral("Add Extension")};
    case Kind::hostMissing:
        return BrowserStateText{QStringLiteral("The extension is installed but can't reach Quillharbour."),
                                QStringLiteral("Repair")};
    case Kind::extensionOff:
        return BrowserStateText{firefox ? QStringLiteral("The extension is disabled or was removed. Turn it on in "
                                                         "Add-ons, or add it again.")
                                        : QStringLiteral("The extension is switched off or was removed. "
                                                         "Chromium-family browsers switch it off whenever "
                                                         "Developer mode is off."),
                                QStringLiteral("Add Extension")};
    case Kind::privateWindowsHidden:
        return BrowserStateText{firefox ? QStringLiteral("Private windows aren't covered: in Add-ons, set Quillharbour "
                                                         "to Run in Private Windows.")
                                        : QStringLiteral("Incognito windows aren't covered: in the extension's "
                                                         "details, turn on Allow in Incognito."),
                                QStringLiteral("Open Extension Page")};
    case Kind::profilesLeftOut: {
        QStringList quoted;
        for (const QString& name : state.profiles)
            quoted.append(QStringLiteral("“") + name + QStringLiteral("”"));
        const QString names = quoted.size() < 2 ? quoted.value(0)
                                                : quoted.mid(0, quoted.size() - 1).join(QStringLiteral(", ")) +
                                                      QStringLiteral(" and ") + quoted.last();
        return BrowserStateText{(quoted.size() < 2 ? QStringLiteral("Not protected in the profile ") + names +
                                                         QStringLiteral(". Open that profile in ")
                                                   : QStringLiteral("Not protected in the profiles ") + names +
                                                         QStringLiteral(". Open each of them in ")) +
                                    browser.name + QStringLiteral(" and add the extension there."),
                                QStringLiteral("Add Extension")};
    }
    case Kind::awaitingConsent:
        return BrowserStateText{QStringLiteral("Click Allow in ") + browser.name +
                                    QStringLiteral(" to let Quillharbour connect."),
                                QString()};
    case Kind::notPossible:
        // A reason of its own (a browser that loads only signed add-ons) leaves nothing to do.
        if (!state.message.isEmpty())
            return BrowserStateText{state.message, QString()};
        return BrowserStateText{QStringLiteral("This copy of ") + browser.name +
                                    QStringLiteral(" can't be reached from outside its sandbox."),
                                QStringLiteral("Help")};
    case Kind::browserClosed:
        // Its route was in place when it last ran: nothing to do now, and a button would start
        // nothing.
        return BrowserStateText{QStringLiteral("Closed. Protected again as soon as ") + browser.name +
                                    QStringLiteral(" starts."),
                                QString()};
    case Kind::problem:
    case Kind::notInstalled:
    case Kind::notConnected:
    case Kind::connected:
    case Kind::permissionNeeded:
    case Kind::unsupported:
        break;
    }
    return std::nullopt;
}
