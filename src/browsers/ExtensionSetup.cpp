#include "browsers/ExtensionSetup.h"

#include "linux/ExtensionInstaller.h"
#include "linux/FirefoxEdition.h"
#include "linux/HostManifests.h"
#include "linux/NativeMessaging.h"
#include "packaging/MachineInstall.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
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

namespace {

// A word the shell reads as it is, or the word in single quotes.
QString shellWord(const QString& word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=+,@%-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    QString quotedWord = word;
    quotedWord.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quotedWord + u'\'';
}

} // namespace

MachineRoute machineRoute(const QString& executable, const QString& packagedExtension, const QString& pkexec)
{
    MachineRoute route;
    const QDir extension(packagedExtension);
    if (packagedExtension.isEmpty() ||
        !QFileInfo(extension.filePath(QStringLiteral("quillharbour-chromium.zip"))).isFile()) {
        route.instead = QStringLiteral("This copy of Quillharbour came without the extension's package, so it cannot "
                                       "add the extension for everyone. Install Quillharbour again from its "
                                       "download, then try again.");
        return route;
    }
    const QString program = QFileInfo(executable).canonicalFilePath().isEmpty()
                                ? QDir::cleanPath(executable)
                                : QFileInfo(executable).canonicalFilePath();
    const QStringList arguments = MachineInstall::arguments(QDir::cleanPath(packagedExtension));
    QStringList words{QStringLiteral("sudo"), shellWord(program)};
    for (const QString& argument : arguments)
        words.append(shellWord(argument));
    route.terminal = words.join(u' ');
    if (!pkexec.isEmpty())
        route.command = QStringList{pkexec, program} + arguments;
    else
        route.instead = QStringLiteral("To add it for everyone on this computer, with no Developer mode, run this in a "
                                       "terminal:\n") +
                        route.terminal;
    return route;
}

QString machineRouteOutcome(const MachineRoute& route, int exitCode, const QString& output)
{
    if (exitCode == 0)
        return QStringLiteral("Quillharbour is installed for everyone on this computer. Every Chromium-family "
                              "browser adds its extension to every profile by itself; one that is open picks it up "
                              "within a few seconds. If a browser still doesn't show Quillharbour in its extensions "
                              "after a minute, quit it and open it again.");
    QString why;
    static const QString ours = QStringLiteral("Quillharbour could not install for everyone: ");
    if (exitCode < 0)
        why = QStringLiteral("pkexec, which asks for the administrator's password, could not be started.");
    else if (exitCode == 126)
        why = QStringLiteral("The password request was closed, so nothing was installed.");
    else if (exitCode == 127 && output.contains(QLatin1String("authentication agent"), Qt::CaseInsensitive))
        why = QStringLiteral("Nothing on this desktop can ask for the administrator's password (no polkit "
                             "authentication agent is running), so nothing was installed.");
    else if (exitCode == 127 && output.contains(QLatin1String("authority"), Qt::CaseInsensitive))
        why = QStringLiteral("The system's authorization service (polkit) is not running, so Quillharbour could not "
                             "ask for the administrator's password. Nothing was installed.");
    else if (exitCode == 127)
        why = QStringLiteral("The administrator's password was not given, or this account may not install "
                             "programs, so nothing was installed.");
    else if (const qsizetype at = output.lastIndexOf(ours); at >= 0)
        why = QStringLiteral("The install stopped: ") + output.mid(at + ours.size()).section(u'\n', 0, 0).trimmed();
    else
        why = QStringLiteral("The install stopped before it was done (exit code %1).").arg(exitCode);
    if (route.terminal.isEmpty())
        return why;
    return why + QStringLiteral("\n\nTo install it yourself, run this in a terminal:\n") + route.terminal;
}

Sheet prepare(const SupportedBrowser& browser, Kind kind, const Places& places)
{
    Sheet sheet;
    sheet.title = QStringLiteral("Add Quillharbour to %1").arg(browser.name);
    const HostManifests::Browser* link = HostManifests::browser(browser.id);
    if (!link) {
        sheet.error = QStringLiteral("Quillharbour has no extension for %1.").arg(browser.name);
        return sheet;
    }
    const QString page = ExtensionInstaller::extensionsPage(browser.id);
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
        browser.id, ExtensionInstaller::packagedFolder(places.executableFolder, places.dataHome), places.dataHome,
        &error);
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
    sheet.machine =
        machineRoute(places.executable, ExtensionInstaller::packagedFolder(places.executableFolder, places.dataHome),
                     QStandardPaths::findExecutable(QStringLiteral("pkexec")));
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
    QObject::connect(
        process, &QProcess::finished, process, [process, output, done, route](int code, QProcess::ExitStatus status) {
            output->append(process->readAll());
            process->deleteLater();
            const int exitCode = status == QProcess::NormalExit ? code : 255;
            done(machineRouteOutcome(route, exitCode, QString::fromLocal8Bit(output->right(keep))), exitCode == 0);
        });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, done, route](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        process->deleteLater();
        done(machineRouteOutcome(route, -1, {}), false);
    });
    process->start(route.command.first(), route.command.mid(1));
}

} // namespace ExtensionSetup
