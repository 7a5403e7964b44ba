// Run by `make install`: signs the browser extension with this machine's key and writes the
// files that let every Chromium-family browser on the machine force-install it, and the program's
// menu entry with its icon.
// quillharbour-install-extension --prefix <prefix> --extension <build>/browser-extension [--icon <png>]
//                                [--root <DESTDIR>]
// Prints every file it wrote, one a line, as installed (without the staging root), the way the
// install's own list names files.
#include "packaging/ForceInstall.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption root(QStringLiteral("root"), QStringLiteral("Stage below this folder."),
                                  QStringLiteral("folder"));
    const QCommandLineOption prefix(QStringLiteral("prefix"), QStringLiteral("The install prefix."),
                                    QStringLiteral("folder"));
    const QCommandLineOption extension(QStringLiteral("extension"), QStringLiteral("The built extension."),
                                       QStringLiteral("folder"));
    const QCommandLineOption icon(QStringLiteral("icon"), QStringLiteral("The program's icon (PNG)."),
                                  QStringLiteral("file"));
    parser.addOptions({root, prefix, extension, icon});
    parser.addHelpOption();
    parser.process(app);
    QTextStream err(stderr);
    if (!parser.isSet(prefix) || !parser.isSet(extension)) {
        err << parser.helpText();
        return 2;
    }
    ForceInstall::Request request;
    request.root = parser.value(root);
    request.prefix = parser.value(prefix);
    request.extensionFolder = parser.value(extension);
    request.iconFile = parser.value(icon);
    QString error;
    const auto result = ForceInstall::install(request, &error);
    if (!result) {
        err << "quillharbour-install-extension: " << error << Qt::endl;
        return 1;
    }
    QTextStream out(stdout);
    for (const QString& path : result->written)
        out << path.mid(request.root.isEmpty() ? 0 : QDir::cleanPath(request.root).size()) << '\n';
    err << "The browser extension is signed for this machine as " << result->id << Qt::endl;
    return 0;
}
