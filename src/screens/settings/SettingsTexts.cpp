#include "screens/settings/SettingsTexts.h"

#include "browsers/BrowserStateText.h"

#include <QKeySequence>

namespace SettingsTexts {

QLocale effectiveLocale(const QLocale& locale)
{
    if (locale.language() == QLocale::C)
        return QLocale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

QString joinList(const QStringList& items, const QLocale& locale)
{
    return effectiveLocale(locale).createSeparatedList(items);
}

namespace {

using Kind = BrowserAccessState::Kind;

bool isNotInstalled(const SupportedBrowser& browser, const QHash<QString, BrowserAccessState>& access)
{
    const auto it = access.constFind(browser.id);
    return it == access.cend() || it->kind == Kind::notInstalled;
}

} // namespace

std::vector<BrowserRow> browserRows(const std::vector<SupportedBrowser>& browsers,
                                    const QHash<QString, BrowserAccessState>& access)
{
    std::vector<BrowserRow> rows;
    for (const SupportedBrowser& browser : browsers) {
        if (isNotInstalled(browser, access))
            continue;
        const BrowserAccessState state = access.value(browser.id);
        BrowserRow row{
            browser, {}, state.needsAttention(), BrowserControl::tryAgain, {}, state.isConnectedEverywhere()};
        if (const std::optional<BrowserStateText> text = browserStateText(browser, state)) {
            row.detail = text->detail;
            row.fixTitle = text->actionTitle;
            row.control = !text->actionTitle.isEmpty()    ? BrowserControl::fix
                          : state.isConnectedEverywhere() ? BrowserControl::connected
                                                          : BrowserControl::none;
            rows.push_back(row);
            continue;
        }
        switch (state.kind) {
        case Kind::notInstalled:
            continue;
        case Kind::notConnected:
            row.detail = QStringLiteral("Not connected yet.");
            row.control = BrowserControl::connect;
            break;
        case Kind::connected:
            row.control = BrowserControl::connected;
            break;
        case Kind::permissionNeeded:
            row.detail =
                QStringLiteral("Started without remote debugging. Reopen it from a launcher that turns it on.");
            break;
        case Kind::unsupported:
            row.detail = QStringLiteral("Needs a quick compatibility check. Click Try Again.");
            break;
        case Kind::problem:
            row.detail = state.message;
            break;
        default:
            break;
        }
        rows.push_back(row);
    }
    return rows;
}

QString alsoWorksWith(const std::vector<SupportedBrowser>& browsers, const QHash<QString, BrowserAccessState>& access,
                      const QLocale& locale)
{
    QStringList names;
    for (const SupportedBrowser& browser : browsers)
        if (isNotInstalled(browser, access))
            names.append(browser.name);
    if (names.isEmpty())
        return {};
    return QStringLiteral("Also works with ") + joinList(names, locale) + QLatin1Char('.');
}

QString connectionMessage(const SupportedBrowser& browser)
{
    return QStringLiteral("If ") + browser.name + QStringLiteral(" asks whether to let Quillharbour in, choose Allow.");
}

SyncRow syncRow(const std::optional<QString>& lastError, const QString& statusMessage)
{
    if (lastError)
        return {*lastError, true};
    return {statusMessage, false};
}

QList<Shortcut> shortcuts()
{
    const auto keys = [](QKeyCombination combination) {
        return QKeySequence(combination).toString(QKeySequence::NativeText);
    };
    return {
        {QStringLiteral("New to-do"), keys(Qt::CTRL | Qt::Key_N)},
        {QStringLiteral("New note"), keys(Qt::CTRL | Qt::SHIFT | Qt::Key_N)},
        {QStringLiteral("Today"), keys(Qt::CTRL | Qt::Key_1)},
        {QStringLiteral("Block"), keys(Qt::CTRL | Qt::Key_2)},
        {QStringLiteral("Notes"), keys(Qt::CTRL | Qt::Key_3)},
        {QStringLiteral("Settings"), keys(Qt::CTRL | Qt::Key_Comma)},
        {QStringLiteral("Previous or next day"),
         keys(Qt::CTRL | Qt::Key_Left) + QLatin1Char(' ') + keys(Qt::CTRL | Qt::Key_Right)},
    };
}

std::optional<QUrl> safeLink(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    if (url.scheme() == QLatin1String("https")) {
        if (url.host().isEmpty() || !url.userInfo().isEmpty())
            return std::nullopt;
        return url;
    }
    if (url.scheme() == QLatin1String("mailto")) {
        const QString address = url.path();
        if (!url.host().isEmpty() || address.count(QLatin1Char('@')) != 1 || address.startsWith(QLatin1Char('@')) ||
            address.endsWith(QLatin1Char('@')))
            return std::nullopt;
        return url;
    }
    return std::nullopt;
}

QString versionText(const QString& applicationVersion)
{
    return applicationVersion.isEmpty() ? QStringLiteral("1.0") : applicationVersion;
}

} // namespace SettingsTexts
