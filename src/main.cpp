#include "app/Application.h"
#include "linux/FontFileMatch.h"
#include "linux/NativeMessagingHost.h"
#include "packaging/MachineInstall.h"
#include "system/MemoryReturn.h"

#include <QCoreApplication>
#include <QStringList>

// Every face the toolkit loads is matched this way (see FontFileMatch). Defined in the program,
// the toolkit's calls come here rather than to fontconfig.
extern "C" FcPattern* FcFontMatch(FcConfig* config, FcPattern* pattern, FcResult* result)
{
    return FontFileMatch::match(config, pattern, result);
}

int main(int argc, char* argv[])
{
    MemoryReturn::setAllocatorPolicy();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // A browser starting the extension's relay gets the relay alone: no window, no second copy of
    // the application, no data read.
    if (NativeMessagingHost::isHostInvocation(arguments))
        return NativeMessagingHost::run(argc, argv);
    // Run as root to install for everyone: the files alone, no window, no data read.
    if (MachineInstall::isInvocation(arguments)) {
        QCoreApplication app(argc, argv);
        return MachineInstall::run();
    }
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLHARBOUR_VERSION));
    return Application::run(argc, argv);
}
