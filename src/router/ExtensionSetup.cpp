#include "router/ExtensionSetup.h"

#include "linux/ExtensionInstaller.h"
#include "linux/FirefoxEdition.h"
#include "linux/HostManifests.h"
#include "linux/NativeMessaging.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace ExtensionSetup {

namespace {

using Kind = BrowserAccessState::Kind;

QString quoted(const QString& text)
{
    return QStringLiteral("“") + text + QStringLiteral("”");
}

QStringList chromiumSteps(const SupportedBrowser& browser, const QString& page)
{
    return {QStringLiteral("On %1, turn on %2 (top right).").arg(page, quoted(QStringLiteral("Developer mode"))),
            QStringLiteral("Click %1 and choose the folder below.").arg(quoted(QStringLiteral("Load unpacked"))),
            QStringLiteral("Leave Developer mode on: %1 switches off extensions added this way whenever it is off.")
                .arg(browser.name),
            QStringLiteral("To protect incognito windows too, open the extension's %1 and turn on %2.")
                .arg(quoted(QStringLiteral("Details")), quoted(QStringLiteral("Allow in Incognito")))};
}

QStringList firefoxSteps()
{
    return {QStringLiteral("Open about:config, accept the warning, and set %1 to false (Firefox ESR and Developer "
                           "Edition allow this).")
                .arg(quoted(QStringLiteral("xpinstall.signatures.required"))),
            QStringLiteral("Open about:addons, click the gear button and choose %1.")
                .arg(quoted(QStringLiteral("Install Add-on From File…"))),
            QStringLiteral("Choose the file below."),
            QStringLiteral("On the add-on's page, allow it to %1, so private windows are protected too.")
                .arg(quoted(QStringLiteral("Run in Private Windows")))};
}

bool writeLink(const HostManifests::Browser& link, const Places& places, QString* error)
{
    return HostManifests::write(link, places.home, places.executable, places.machineIds, error);
}

} // namespace

MachineRoute machineRoute(const QString& executableFolder, const QString& pkexec)
{
    // A build folder installs itself, the extension's policies with it; an installed copy already
    // came with them, or came without a way to add them.
    const bool buildFolder = QFileInfo(QDir(executableFolder).filePath(QStringLiteral("CMakeCache.txt"))).isFile();
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    if (buildFolder && !pkexec.isEmpty() && !cmake.isEmpty())
        return {{pkexec, cmake, QStringLiteral("--install"), QDir::cleanPath(executableFolder),
                 QStringLiteral("--prefix"), QStringLiteral("/usr/local")},
                {}};
    return {{},
            QStringLiteral("To add it for every profile on this computer, with no Developer mode, run "
                           "“sudo make install” in Quillharbour's source folder.")};
}

Sheet prepare(const SupportedBrowser& browser, Kind kind, const Places& places)
{
    Sheet sheet;
    sheet.title = QStringLiteral("Add Quillharbour to %1").arg(browser.name);
    const HostManifests::Browser* link = HostManifests::browser(browser.bundleIdentifier);
    if (!link) {
        sheet.error = QStringLiteral("Quillharbour has no extension for %1.").arg(browser.name);
        return sheet;
    }
    const QString page = ExtensionInstaller::extensionsPage(browser.bundleIdentifier);
    sheet.openTitle = link->firefox ? QStringLiteral("Open Add-ons") : QStringLiteral("Open Extensions");
    QString error;
    if (kind == Kind::hostMissing) {
        sheet.title = QStringLiteral("Quillharbour's link in %1").arg(browser.name);
        if (!writeLink(*link, places, &error)) {
            sheet.error = QStringLiteral("The link file could not be written: %1").arg(error);
            return sheet;
        }
        sheet.done = QStringLiteral("Quillharbour wrote the file that lets %1 start its link again, below. The "
                                    "extension reconnects within a few seconds.")
                         .arg(browser.name);
        sheet.path = HostManifests::manifestPath(*link, places.home);
        sheet.pathName = QStringLiteral("Link file location");
        return sheet;
    }
    if (kind == Kind::privateWindowsHidden) {
        sheet.title = link->firefox ? QStringLiteral("Protect private windows in %1").arg(browser.name)
                                    : QStringLiteral("Protect incognito windows in %1").arg(browser.name);
        if (link->firefox) {
            sheet.steps = {QStringLiteral("In Add-ons (about:addons), open Quillharbour."),
                           QStringLiteral("Set %1 to Allow.").arg(quoted(QStringLiteral("Run in Private Windows")))};
            sheet.pageToOpen = page;
        } else {
            sheet.steps = {QStringLiteral("On the extension's page, turn on %1.")
                               .arg(quoted(QStringLiteral("Allow in Incognito")))};
            sheet.pageToOpen = page + QStringLiteral("/?id=") + NativeMessaging::chromiumExtensionId;
            sheet.openTitle = QStringLiteral("Open the Extension's Page");
        }
        return sheet;
    }
    // Added now (missing, switched off or removed): a fresh copy where the browser keeps reading it,
    // and the link file the extension will look for.
    const std::optional<ExtensionInstaller::Copy> copy = ExtensionInstaller::install(
        browser.bundleIdentifier, ExtensionInstaller::packagedFolder(places.executableFolder, places.dataHome),
        places.dataHome, &error);
    if (!copy) {
        sheet.error = error;
        return sheet;
    }
    sheet.path = copy->path;
    sheet.pageToOpen = page;
    if (!writeLink(*link, places, &error))
        sheet.error = QStringLiteral("%1 will not be able to start Quillharbour's link: %2").arg(browser.name, error);
    if (copy->firefox) {
        sheet.steps = firefoxSteps();
        return sheet;
    }
    sheet.steps = chromiumSteps(browser, page);
    if (kind == Kind::profilesLeftOut)
        // Each profile keeps its own extensions: the steps are taken in the one left out.
        sheet.steps.prepend(QStringLiteral("In %1, switch to the profile that is not protected yet (the profile "
                                           "button, top right). Take the next steps there.")
                                .arg(browser.name));
    sheet.machine = machineRoute(places.executableFolder, QStandardPaths::findExecutable(QStringLiteral("pkexec")));
    return sheet;
}

void runMachineRoute(const MachineRoute& route, QObject* owner, std::function<void(const QString&, bool)> done)
{
    if (route.command.isEmpty()) {
        done(route.instead, false);
        return;
    }
    auto* process = new QProcess(owner);
    process->setProcessChannelMode(QProcess::MergedChannels);
    auto output = std::make_shared<QByteArray>();
    constexpr qsizetype keep = 16 * 1024;
    QObject::connect(process, &QProcess::readyRead, process, [process, output] {
        output->append(process->readAll());
        if (output->size() > keep)
            output->remove(0, output->size() - keep);
    });
    QObject::connect(process, &QProcess::finished, process, [process, output, done](int code, QProcess::ExitStatus s) {
        output->append(process->readAll());
        process->deleteLater();
        done(QString::fromLocal8Bit(output->right(keep)).trimmed(), s == QProcess::NormalExit && code == 0);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, done](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        process->deleteLater();
        done(process->errorString(), false);
    });
    process->start(route.command.first(), route.command.mid(1));
}

} // namespace ExtensionSetup
