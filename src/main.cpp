#include "model/Calendar.h"
#include "model/FileStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillharbour"));

    FileStore store{FileStore::defaultRootURL()};
    if (!QDir().mkpath(store.rootURL)) {
        QTextStream(stderr) << "Quillharbour: the data folder " << store.rootURL << " could not be created.\n";
        return 1;
    }
    QString error;
    const auto state = store.loadSharedState(SystemClock::instance().now(), Calendar::current(), &error);
    QTextStream(stdout) << "Quillharbour data folder: " << store.rootURL << "\n";
    if (!state)
        QTextStream(stdout) << "state.json could not be read: " << error << "\n";
    return 0;
}
