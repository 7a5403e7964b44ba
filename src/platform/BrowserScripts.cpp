#include "platform/BrowserScripts.h"

#include <deque>

QString rawValue(BrowserScriptStyle style)
{
    return style == BrowserScriptStyle::safari ? QStringLiteral("safari") : QStringLiteral("chromium");
}

std::optional<BrowserScriptStyle> browserScriptStyleFromRaw(const QString& text)
{
    if (text == QLatin1String("safari"))
        return BrowserScriptStyle::safari;
    if (text == QLatin1String("chromium"))
        return BrowserScriptStyle::chromium;
    return std::nullopt;
}

const std::vector<SupportedBrowser>& SupportedBrowser::all()
{
    static const std::vector<SupportedBrowser> browsers{
        {QStringLiteral("chrome"), QStringLiteral("Google Chrome"), QStringLiteral("com.google.Chrome")},
        {QStringLiteral("chromium"), QStringLiteral("Chromium"), QStringLiteral("org.chromium.Chromium")},
        {QStringLiteral("brave"), QStringLiteral("Brave"), QStringLiteral("com.brave.Browser")},
        {QStringLiteral("edge"), QStringLiteral("Microsoft Edge"), QStringLiteral("com.microsoft.edgemac")},
        {QStringLiteral("vivaldi"), QStringLiteral("Vivaldi"), QStringLiteral("com.vivaldi.Vivaldi")},
        {QStringLiteral("opera"), QStringLiteral("Opera"), QStringLiteral("com.operasoftware.Opera")},
        {QStringLiteral("firefox"), QStringLiteral("Firefox"), QStringLiteral("org.mozilla.firefox"),
         BrowserScriptStyle::chromium, SupportedBrowser::extensionRoute},
    };
    return browsers;
}

const SupportedBrowser* SupportedBrowser::withBundleIdentifier(const QString& bundleIdentifier)
{
    for (const SupportedBrowser& b : all())
        if (b.bundleIdentifier == bundleIdentifier)
            return &b;
    return nullptr;
}

const SupportedBrowser* SupportedBrowser::withId(const QString& id)
{
    for (const SupportedBrowser& b : all())
        if (b.id == id)
            return &b;
    return nullptr;
}

namespace BrowserScripts {

namespace {

QString tab(const SupportedBrowser& browser)
{
    return browser.scriptStyle == BrowserScriptStyle::safari ? QStringLiteral("current tab")
                                                             : QStringLiteral("active tab");
}

QString conditional(const SupportedBrowser& browser, const QString& compare, const QString& action, const QString& done)
{
    const QString t = tab(browser);
    return QStringLiteral("tell application id ") + quoted(browser.bundleIdentifier) +
           QStringLiteral("\n    if (count of windows) is 0 then return \"no-window\"\n    if (URL of ") + t +
           QStringLiteral(" of front window as text) is ") + quoted(compare) + QStringLiteral(" then\n        ") +
           action + QStringLiteral("\n        return \"") + done +
           QStringLiteral("\"\n    end if\n    return \"changed\"\nend tell");
}

// Reads the script string literal starting at `pos`; advances `pos` past it.
std::optional<QString> literalAt(const QString& text, qsizetype& pos)
{
    if (pos >= text.size() || text.at(pos) != u'"')
        return std::nullopt;
    QString out;
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"') {
            pos = i + 1;
            return out;
        }
        if (c == u'\\') {
            if (++i >= text.size())
                return std::nullopt;
            const QChar e = text.at(i);
            out += e == u'r' ? QChar(u'\r') : e == u'n' ? QChar(u'\n') : e;
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

// Every string literal of the script, in order.
std::optional<QStringList> literals(const QString& text)
{
    QStringList out;
    qsizetype pos = 0;
    while ((pos = text.indexOf(u'"', pos)) >= 0) {
        const std::optional<QString> literal = literalAt(text, pos);
        if (!literal)
            return std::nullopt;
        out.append(*literal);
    }
    return out;
}

} // namespace

QString quoted(const QString& text)
{
    QString s = text;
    s.replace(u'\\', QStringLiteral("\\\\"));
    s.replace(u'"', QStringLiteral("\\\""));
    s.replace(u'\r', QStringLiteral("\\r"));
    s.replace(u'\n', QStringLiteral("\\n"));
    return u'"' + s + u'"';
}

QString readActiveTabURL(const SupportedBrowser& browser)
{
    return QStringLiteral("tell application id ") + quoted(browser.bundleIdentifier) +
           QStringLiteral("\n    if (count of windows) is 0 then return \"\"\n    return URL of ") + tab(browser) +
           QStringLiteral(" of front window\nend tell");
}

QString readFocusedTabURL(const SupportedBrowser& browser)
{
    const QString address = QStringLiteral("(URL of ") + tab(browser) + QStringLiteral(" of front window)");
    return QStringLiteral("tell application id ") + quoted(browser.bundleIdentifier) +
           QStringLiteral("\n    if (count of windows) is 0 then return \"\"\n    if frontmost is false then return "
                          "\"background\" & linefeed & ") +
           address + QStringLiteral("\n    return \"focused\" & linefeed & ") + address + QStringLiteral("\nend tell");
}

std::optional<FocusedRead> parseFocusedRead(const QString& output)
{
    const qsizetype newline = output.indexOf(u'\n');
    if (newline < 0)
        return std::nullopt;
    const QStringView word = QStringView(output).left(newline);
    if (word != QLatin1String("focused") && word != QLatin1String("background"))
        return std::nullopt;
    return FocusedRead{word == QLatin1String("focused"), output.mid(newline + 1)};
}

QString redirectActiveTab(const SupportedBrowser& browser, const QString& from, const QString& to)
{
    return conditional(browser, from,
                       QStringLiteral("set URL of ") + tab(browser) + QStringLiteral(" of front window to ") +
                           quoted(to),
                       QStringLiteral("redirected"));
}

QString closeActiveTab(const SupportedBrowser& browser, const QString& ifURL)
{
    return conditional(browser, ifURL, QStringLiteral("close ") + tab(browser) + QStringLiteral(" of front window"),
                       QStringLiteral("closed"));
}

QString guarded(const QString& inner, const SupportedBrowser& browser, const QString& fallback)
{
    return QStringLiteral("if application id ") + quoted(browser.bundleIdentifier) +
           QStringLiteral(" is running then\n    with timeout of 3 seconds\n") + inner +
           QStringLiteral("\n    end timeout\nend if\nreturn ") + quoted(fallback);
}

namespace {

std::optional<Parsed> parseAnew(const QString& script);

} // namespace

std::optional<Parsed> parse(const QString& script)
{
    // The same read goes out on every check, and the router and the route each parse it: the
    // last few texts are remembered, per thread, rather than rebuilt and compared again.
    struct Remembered {
        QString script;
        std::optional<Parsed> parsed;
    };
    thread_local std::deque<Remembered> remembered;
    for (const Remembered& r : remembered)
        if (r.script == script)
            return r.parsed;
    std::optional<Parsed> parsed = parseAnew(script);
    remembered.push_front({script, parsed});
    if (remembered.size() > 4)
        remembered.pop_back();
    return parsed;
}

namespace {

std::optional<Parsed> parseAnew(const QString& script)
{
    // Take the literals out, rebuild each known script from them and keep the one that matches
    // to the character: anything else is not a script of ours.
    const std::optional<QStringList> values = literals(script);
    if (!values || values->isEmpty())
        return std::nullopt;
    const QString bundle = values->first();
    const QString fallback = values->last();
    for (BrowserScriptStyle style : {BrowserScriptStyle::chromium, BrowserScriptStyle::safari}) {
        const SupportedBrowser browser{QString(), QString(), bundle, style};
        Parsed p;
        p.bundleIdentifier = bundle;
        p.style = style;
        p.fallback = fallback;
        if (values->size() == 4 && script == guarded(readActiveTabURL(browser), browser, fallback))
            return p;
        if (values->size() == 6 && script == guarded(readFocusedTabURL(browser), browser, fallback)) {
            p.operation = Parsed::Operation::readFocused;
            return p;
        }
        if (values->size() == 7) {
            p.from = values->at(3);
            p.operation = Parsed::Operation::close;
            if (script == guarded(closeActiveTab(browser, p.from), browser, fallback))
                return p;
        }
        if (values->size() == 8) {
            p.from = values->at(3);
            p.to = values->at(4);
            p.operation = Parsed::Operation::redirect;
            if (script == guarded(redirectActiveTab(browser, p.from, p.to), browser, fallback))
                return p;
        }
    }
    return std::nullopt;
}

} // namespace

} // namespace BrowserScripts
