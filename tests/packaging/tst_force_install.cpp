#include "TestEnvironment.h"
#include "fakes/ProcessTag.h"
#include "linux/DesktopEntry.h"
#include "linux/HostManifests.h"
#include "linux/NativeMessaging.h"
#include "linux/UserInstaller.h"
#include "packaging/Crx3.h"
#include "packaging/ForceInstall.h"
#include "packaging/MachineInstall.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>
#include <sys/stat.h>

using TestEnvironment::readFile;
using TestEnvironment::writeFile;

namespace {

constexpr int patience = 30000;
const QString built = QStringLiteral(QH_EXTENSION);
const QString programIcon = QStringLiteral(QH_SOURCE "/src/blocking/resources/app-icon.png");

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

int filesBelow(const QString& root)
{
    int files = 0;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++files;
    return files;
}

// The archive after a package's header.
QByteArray archiveOf(const QByteArray& crx)
{
    quint32 headerSize = 0;
    for (int i = 0; i < 4 && crx.size() >= 12; ++i)
        headerSize |= quint32(quint8(crx.at(8 + i))) << (8 * i);
    return crx.startsWith("Cr24") ? crx.mid(12 + qsizetype(headerSize)) : QByteArray();
}

bool run(const QString& program, const QStringList& arguments, const QString& home = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!home.isEmpty())
        env.insert(QStringLiteral("HOME"), home);
    // Chromium's zygotes start as its packing ends and outlive it, making its profile folder
    // again after the test has removed it: a run ends when all it started has.
    const QByteArray tag = ProcessTag::apply(env);
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    const bool finished = p.waitForFinished(patience);
    const bool ended = ProcessTag::stop(p, tag, patience);
    return finished && ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TestForceInstall : public QObject {
    Q_OBJECT

private slots:
    // Ids Chromium itself gave: the unpacked extension's fixed key, and a machine key whose
    // package Debian's chromium force-installed.
    void extensionId_data()
    {
        QTest::addColumn<QByteArray>("publicKey");
        QTest::addColumn<QString>("id");
        const QJsonObject manifest =
            QJsonDocument::fromJson(readFile(QStringLiteral(QH_SOURCE "/browser-extension/manifest.chromium.json")))
                .object();
        QTest::newRow("the unpacked extension's key")
            << QByteArray::fromBase64(manifest.value(QStringLiteral("key")).toString().toLatin1())
            << NativeMessaging::chromiumExtensionId;
        QTest::newRow("a machine key")
            << QByteArray::fromBase64(
                   "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEAs3SxGCxicjpHIQ2hwUPkDM0n/"
                   "ICarYgv14xoQ47ut7xhXfbUWStD1Ivn"
                   "Az+VXD0+f1+2MwKZiCR9pamrjxuyzP/W6jIg0Q7ACZ6pXBwfgcebeaKt/EYbccl/"
                   "YAstqyhU6wzgOmY4rQMN2oQr+lzVgov4dPRF"
                   "VhlWaY4A7sJi1Mv1y8RCozZLYI9EUvWlWCh8nmen65Bn3mlqNsrFnJVTViwPX11HV2nuolexYKw8f7F5X87XWsY0gZzm/mEv/"
                   "JDY"
                   "BEuhHDC0Jpu625AiTEdm0unx+JvQxklSHOW1HIdx3JOyl7rzpouA68QK4VC6+ogiIBrD5XBTZrgXqot7J4lozwIDAQAB")
            << QStringLiteral("aoldolcgicjjlkopnfpmphppdifkjcem");
    }
    void extensionId()
    {
        QFETCH(QByteArray, publicKey);
        QFETCH(QString, id);
        QCOMPARE(Crx3::extensionId(publicKey), id);
    }

    // Chromium's own packer, given the same key, writes the very bytes we write around its
    // archive: header, signed data and signature.
    void packageMatchesChromiumsOwn()
    {
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        QVERIFY2(!chromium.isEmpty(), "Debian's chromium is needed (scripts/install-deps)");
        QTemporaryDir work;
        QString error;
        const QString keyPath = work.filePath(QStringLiteral("key.pem"));
        const auto key = Crx3::SigningKey::loadOrCreate(keyPath, &error);
        QVERIFY2(key, qPrintable(error));
        const QString folder = work.filePath(QStringLiteral("extension"));
        QDir().mkpath(folder);
        for (const QString& name : QDir(built + QStringLiteral("/chromium")).entryList(QDir::Files))
            QVERIFY(QFile::copy(built + QStringLiteral("/chromium/") + name, folder + u'/' + name));
        QVERIFY(run(chromium,
                    {QStringLiteral("--no-sandbox"), QStringLiteral("--user-data-dir=") + work.filePath("profile"),
                     QStringLiteral("--pack-extension=") + folder, QStringLiteral("--pack-extension-key=") + keyPath},
                    work.path()));
        const QByteArray theirs = readFile(folder + QStringLiteral(".crx"));
        QVERIFY(archiveOf(theirs).startsWith("PK"));
        QCOMPARE(Crx3::pack(*key, archiveOf(theirs)), theirs);
    }

    // The machine's key is made once, owner-only, and reused; a key that may have leaked or
    // cannot be used stops the install, left as it was, without asking for a passphrase.
    void machineKey_data()
    {
        QTest::addColumn<QStringList>("openssl"); // how the key there was made; empty: none
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("refusal"); // empty: usable
        const QStringList rsa{"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048"};
        QTest::newRow("none yet") << QStringList() << 0600 << "";
        QTest::newRow("kept from others") << rsa << 0600 << "";
        QTest::newRow("readable by the group") << rsa << 0640 << "may have leaked";
        QTest::newRow("behind a passphrase")
            << rsa + QStringList{"-aes-256-cbc", "-pass", "pass:x"} << 0600 << "not an RSA private key";
        QTest::newRow("elliptic curve") << QStringList{"genpkey", "-algorithm", "EC", "-pkeyopt",
                                                       "ec_paramgen_curve:P-256"}
                                        << 0600 << "not an RSA private key";
        QTest::newRow("not a key") << QStringList{"rand", "-base64", "900"} << 0600 << "not an RSA private key";
        QTest::newRow("a folder") << QStringList{"-"} << 0700 << "not a regular file";
    }
    void machineKey()
    {
        QFETCH(QStringList, openssl);
        QFETCH(int, mode);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("extension-key.pem"));
        if (openssl == QStringList{"-"})
            QVERIFY(QDir().mkpath(path));
        else if (!openssl.isEmpty())
            QVERIFY(run(QStringLiteral("openssl"), QStringList{openssl.first(), "-out", path} + openssl.mid(1)));
        ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
        const QByteArray before = readFile(path);
        QString error;
        const auto key = Crx3::SigningKey::loadOrCreate(path, &error);
        QCOMPARE(modeOf(path), mode);
        if (!refusal.isEmpty()) {
            QVERIFY(!key);
            QVERIFY2(error.contains(refusal) && error.contains(path), qPrintable(error));
            QCOMPARE(readFile(path), before);
            return;
        }
        QVERIFY2(key, qPrintable(error));
        QVERIFY(before.isEmpty() || readFile(path) == before);
        QCOMPARE(Crx3::SigningKey::loadOrCreate(path, &error)->publicKeyDer(), key->publicKeyDer());
    }

    // What the browsers read, for prefixes whose paths need care in an address and in XML.
    void stagedInstall_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::newRow("/usr/local") << "/usr/local";
        QTest::newRow("a space") << "/opt/my apps";
        QTest::newRow("XML and address characters") << "/opt/a&b'<c>#%?";
        QTest::newRow("untidy") << "/usr//local/";
    }
    void stagedInstall()
    {
        QFETCH(QString, prefix);
        QTemporaryDir root;
        const auto staged = [&root](const QString& path) { return root.path() + path; };
        ForceInstall::Request request{root.path(), prefix, built};
        request.iconFile = programIcon;
        QString error;
        const auto result = ForceInstall::install(request, &error);
        QVERIFY2(result, qPrintable(error));
        const QString share = QDir::cleanPath(prefix) + QStringLiteral("/share");
        const QString crx = share + QStringLiteral("/quillharbour/browser-extension/quillharbour.crx");
        const QString update = share + QStringLiteral("/quillharbour/browser-extension/update.xml");

        // The key stays root's; all the browsers read is readable by everyone.
        QCOMPARE(modeOf(staged(request.keyPath)), 0600);
        QCOMPARE(filesBelow(root.path()), result->written.size() + 1);
        for (const QString& file : result->written)
            QCOMPARE(modeOf(file), 0644);
        QCOMPARE(modeOf(staged(QStringLiteral("/etc/chromium/policies/managed"))), 0755);

        // One id throughout: the key, the package, the file the program reads, the update
        // manifest, the policies and the host manifests.
        const auto key = Crx3::SigningKey::loadOrCreate(staged(request.keyPath), &error);
        QCOMPARE(result->id, Crx3::extensionId(key->publicKeyDer()));
        QCOMPARE(HostManifests::machineExtensionIds({staged(share)}), QStringList{result->id});
        QVERIFY(readFile(staged(crx)).contains(key->publicKeyDer()));
        QCOMPARE(archiveOf(readFile(staged(crx))), readFile(built + QStringLiteral("/quillharbour-chromium.zip")));
        QXmlStreamReader xml(readFile(staged(update)));
        QStringList seen;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement)
                for (const char* name : {"appid", "codebase", "version"})
                    if (xml.attributes().hasAttribute(QLatin1String(name)))
                        seen.append(xml.attributes().value(QLatin1String(name)).toString());
        QCOMPARE(seen.size(), 3);
        QCOMPARE(seen.at(0), result->id);
        QCOMPARE(QUrl(seen.at(1), QUrl::StrictMode).toLocalFile(), crx);
        QCOMPARE(seen.at(2), QStringLiteral(QUILLHARBOUR_VERSION)); // the program's own
        const QJsonArray origins{QStringLiteral("chrome-extension://%1/").arg(NativeMessaging::chromiumExtensionId),
                                 QStringLiteral("chrome-extension://%1/").arg(result->id)};
        for (const ForceInstall::SystemBrowser& browser : ForceInstall::chromiumFamily()) {
            const auto json = [&](const QString& file) {
                return QJsonDocument::fromJson(readFile(staged(file))).object();
            };
            const QStringList entry = json(browser.policyFolder + QStringLiteral("/quillharbour.json"))
                                          .value(QStringLiteral("ExtensionInstallForcelist"))
                                          .toArray()
                                          .first()
                                          .toString()
                                          .split(u';');
            QCOMPARE(entry.size(), 2);
            QCOMPARE(entry.first(), result->id);
            QCOMPARE(QUrl(entry.last(), QUrl::StrictMode).toLocalFile(), update);
            if (!browser.hostFolder.isEmpty())
                QCOMPARE(json(browser.hostFolder + u'/' + NativeMessaging::hostName + QStringLiteral(".json"))
                             .value(QStringLiteral("allowed_origins"))
                             .toArray(),
                         origins);
        }
        QVERIFY(
            readFile(staged(share + QStringLiteral("/applications/quillharbour.desktop")))
                .contains(
                    "\nExec=" +
                    DesktopEntry::execArgument(QDir::cleanPath(prefix) + QStringLiteral("/bin/quillharbour")).toUtf8() +
                    " %u\n"));
        // The menu entry's icon, by name from the icon theme, where task bars find it too.
        const QByteArray entry = readFile(staged(share + QStringLiteral("/applications/quillharbour.desktop")));
        const QString iconName = UserInstaller::entryIcon(entry);
        QVERIFY2(!iconName.isEmpty() && !iconName.contains(u'/'), entry.constData());
        QCOMPARE(readFile(staged(share + QStringLiteral("/icons/hicolor/256x256/apps/") + iconName +
                                 QStringLiteral(".png"))),
                 readFile(programIcon));
        // Installing again keeps the machine's id, so profiles keep the extension they have.
        QCOMPARE(ForceInstall::install(request, &error)->id, result->id);
    }

    // The program installing itself for everyone writes what `make install` of its build writes,
    // file for file: the program, its icon, the extension, the signed package and what names it.
    // Run again from the installed copy, it copies nothing onto itself and keeps the machine's id.
    void sameFilesAsMakeInstall()
    {
        QTemporaryDir made, itself;
        QProcess install;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), made.path());
        install.setProcessEnvironment(env);
        install.start(QStringLiteral("cmake"), {QStringLiteral("--install"), QStringLiteral(QH_BUILD),
                                                QStringLiteral("--prefix"), QStringLiteral("/usr/local")});
        QVERIFY(install.waitForFinished(patience));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());

        MachineInstall::Request request;
        request.program = QStringLiteral(QUILLHARBOUR_BINARY);
        request.extensionFolder = built;
        request.root = itself.path();
        request.iconPng = readFile(QStringLiteral(QH_SOURCE "/src/blocking/resources/app-icon.png"));
        QString error;
        const auto result = MachineInstall::install(request, &error);
        QVERIFY2(result, qPrintable(error));
        const auto files = [](const QString& root) {
            QStringList found;
            for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
                found.append(it.next().mid(root.size()));
            found.sort();
            return found;
        };
        QCOMPARE(files(itself.path()), files(made.path()));
        const QString program = itself.path() + QStringLiteral("/usr/local/bin/quillharbour");
        QCOMPARE(result->executable, QStringLiteral("/usr/local/bin/quillharbour"));
        QCOMPARE(modeOf(program), 0755);
        QCOMPARE(readFile(program), readFile(QStringLiteral(QUILLHARBOUR_BINARY)));
        for (const QString& file : result->written)
            QCOMPARE(modeOf(file), file == program ? 0755 : 0644);

        request.program = program;
        request.extensionFolder = itself.path() + QStringLiteral("/usr/local/share/quillharbour/browser-extension");
        const auto again = MachineInstall::install(request, &error);
        QVERIFY2(again, qPrintable(error));
        QCOMPARE(again->extensionId, result->extensionId);
        QVERIFY(!again->written.contains(program));
        QCOMPARE(files(itself.path()), files(made.path()));
    }

    // An extension folder the program cannot install from stops it before anything is written.
    void machineInstallRefusesFolder_data()
    {
        QTest::addColumn<bool>("package");   // quillharbour-chromium.zip is there
        QTest::addColumn<QString>("linked"); // a file of chromium/ that links elsewhere; empty: none
        QTest::addColumn<QString>("message");
        QTest::newRow("no package") << false << ""
                                    << "The browser extension is not in";
        QTest::newRow("a link to a private file") << true << "/etc/shadow"
                                                  << "is a symbolic link";
    }
    void machineInstallRefusesFolder()
    {
        QFETCH(bool, package);
        QFETCH(QString, linked);
        QFETCH(QString, message);
        QTemporaryDir root, extension;
        QVERIFY(writeFile(extension.filePath(QStringLiteral("chromium/manifest.json")),
                          readFile(built + QStringLiteral("/chromium/manifest.json"))));
        if (package)
            QVERIFY(writeFile(extension.filePath(QStringLiteral("quillharbour-chromium.zip")),
                              readFile(built + QStringLiteral("/quillharbour-chromium.zip"))));
        if (!linked.isEmpty())
            QVERIFY(QFile::link(linked, extension.filePath(QStringLiteral("chromium/background.js"))));
        MachineInstall::Request request;
        request.program = QStringLiteral(QUILLHARBOUR_BINARY);
        request.extensionFolder = extension.path();
        request.root = root.path();
        QString error;
        QVERIFY(!MachineInstall::install(request, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QCOMPARE(filesBelow(root.path()), 0);
    }

    // Input that cannot make a package stops the install before anything is written.
    void refusedInput_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QByteArray>("manifest"); // empty: the built one
        QTest::addColumn<QByteArray>("archive");  // empty: the built one
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("icon"); // empty: the program's own
        QTest::newRow("relative prefix") << "usr/local" << QByteArray() << QByteArray() << "absolute" << QByteArray();
        QTest::newRow("no version") << "/usr" << QByteArray("{\"name\": \"x\"}") << QByteArray() << "version"
                                    << QByteArray();
        QTest::newRow("version with markup")
            << "/usr" << QByteArray("{\"version\": \"1'/><x\"}") << QByteArray() << "version" << QByteArray();
        QTest::newRow("manifest not JSON") << "/usr" << QByteArray("{") << QByteArray() << "version" << QByteArray();
        QTest::newRow("archive not a zip") << "/usr" << QByteArray() << QByteArray("<html>") << "zip" << QByteArray();
        QTest::newRow("icon not a PNG") << "/usr" << QByteArray() << QByteArray() << "PNG" << QByteArray("<svg/>");
    }
    void refusedInput()
    {
        QFETCH(QString, prefix);
        QFETCH(QByteArray, manifest);
        QFETCH(QByteArray, archive);
        QFETCH(QString, message);
        QTemporaryDir root, extension;
        QVERIFY(writeFile(extension.filePath(QStringLiteral("chromium/manifest.json")),
                          manifest.isEmpty() ? readFile(built + QStringLiteral("/chromium/manifest.json")) : manifest));
        QVERIFY(
            writeFile(extension.filePath(QStringLiteral("quillharbour-chromium.zip")),
                      archive.isEmpty() ? readFile(built + QStringLiteral("/quillharbour-chromium.zip")) : archive));
        QFETCH(QByteArray, icon);
        const QString iconFile = extension.filePath(QStringLiteral("icon.png"));
        QVERIFY(writeFile(iconFile, icon.isEmpty() ? readFile(programIcon) : icon));
        ForceInstall::Request request{root.path(), prefix, extension.path()};
        request.iconFile = iconFile;
        QString error;
        QVERIFY(!ForceInstall::install(request, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
        QCOMPARE(filesBelow(root.path()), 0);
    }
};

QTEST_GUILESS_MAIN(TestForceInstall)
#include "tst_force_install.moc"
