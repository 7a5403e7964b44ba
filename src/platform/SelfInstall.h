#pragma once

#include <QString>
#include <functional>

// The program putting itself where the desktop starts programs from, and starting again from there.
class SelfInstall {
public:
    virtual ~SelfInstall() = default;
    // Whether this copy runs from elsewhere (a build folder, a download), so installing is offered.
    virtual bool shouldOfferMove() const = 0;
    // True once the program quits to start its installed copy; quitting then needs no approval.
    virtual bool isRelocating() const = 0;
    // Installs this copy for the user, starts it once this process has ended, and calls
    // `terminate`. False with `error` when nothing was started.
    virtual bool moveAndRelaunch(const std::function<void()>& terminate, QString* error) = 0;
    // The same start of the copy installed for everyone under `prefix`, without installing it.
    virtual bool relaunchInstalledForEveryone(const QString& prefix, const std::function<void()>& terminate,
                                              QString* error) = 0;
    // The folder of the extension packaged with this copy, which an install for everyone takes.
    virtual QString packagedExtension() const = 0;
};
