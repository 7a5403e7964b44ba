#include "model/SupportedBrowser.h"

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
         SupportedBrowser::extensionRoute},
    };
    return browsers;
}

const SupportedBrowser* SupportedBrowser::withId(const QString& id)
{
    for (const SupportedBrowser& b : all())
        if (b.id == id)
            return &b;
    return nullptr;
}

const SupportedBrowser* SupportedBrowser::withStoredKey(const QString& storedKey)
{
    for (const SupportedBrowser& b : all())
        if (b.storedKey == storedKey)
            return &b;
    return nullptr;
}
