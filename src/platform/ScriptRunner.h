#pragma once

#include "platform/BrowserScripts.h"

#include <QObject>
#include <functional>

// Runs one browser script. Lives on the script executor's thread; `done` must be called exactly
// once, on that thread (the executor still answers for a runner that never does).
class ScriptRunner : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void run(const QString& script, std::function<void(const BrowserScriptResult&)> done) = 0;
};
