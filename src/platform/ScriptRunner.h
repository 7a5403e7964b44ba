#pragma once

#include "platform/BrowserCommand.h"

#include <QObject>
#include <functional>

// Carries out browser commands by one route. Lives on the script executor's thread; `done` must
// be called exactly once, on that thread (the executor still answers for a runner that never
// does). The executor hands it only well-formed commands.
class ScriptRunner : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done) = 0;
    // Whether a read of the browser's current tab (of the kind the last one was: plain, or of
    // the focused tab) would answer exactly what this runner's last read of it answered: only
    // when that read was answered from what the browser had already told, and the browser has
    // told nothing since. A runner that cannot know says false, and every read is run. Asked on
    // the runner's thread, between commands.
    virtual bool readUnchanged(const QString& browserId) const
    {
        Q_UNUSED(browserId);
        return false;
    }

signals:
    // The browser told something new: a read that readUnchanged() spared may answer otherwise
    // now. A runner whose readUnchanged() can say true emits it whenever that may turn false, so
    // that whoever rests on a spared read hears of it instead of asking again.
    void browserTold();
};
