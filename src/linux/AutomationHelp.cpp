#include "linux/AutomationHelp.h"

#include "platform/FileSafety.h"

#include <QFile>
#include <QStandardPaths>

static void initPlatformResources()
{
    Q_INIT_RESOURCE(linux);
}

namespace AutomationHelp {

QUrl pageUrl()
{
    initPlatformResources();
    QFile page(QStringLiteral(":/automation-help.html"));
    if (!page.open(QIODevice::ReadOnly))
        return {};
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                         QStringLiteral("/quillharbour/automation-help.html");
    if (!FileSafety::writeAtomically(path, page.readAll()))
        return {};
    return QUrl::fromLocalFile(path);
}

} // namespace AutomationHelp
