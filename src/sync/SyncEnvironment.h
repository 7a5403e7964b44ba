#pragma once

#include "model/Calendar.h"
#include "sync/ManifestPages.h"

#include <QString>
#include <functional>

class Clock;
class Defaults;
class MemoryReleaser;
class RecordStore;
class SystemEvents;

// The record database as the sync sees it: a store (none: this build cannot sync), the clock and
// calendar, the system events whose wake starts a run, and the name of the environment.
struct SyncEnvironment {
    RecordStore* recordStore = nullptr;
    const Clock* clock = nullptr;
    std::function<Calendar()> calendar;
    SystemEvents* events = nullptr;
    QString environment = QStringLiteral("unknown");
    // Where a run's data is freed and its pages given back; none: the service's own.
    MemoryReleaser* releaser = nullptr;
    // How long after a large run, with no run under way, its pages are given back.
    int giveBackAfterMs = 1000;
    // How long ago, in milliseconds, the person last pressed a key or a button in the program's
    // windows (none: no one does). The pages also wait for a pause of giveBackAfterInputMs in
    // what the person does: a trim holds up the window's thread for tens of milliseconds, and a
    // key pressed meanwhile waits for it.
    std::function<qint64()> sinceLastInputMs = {};
    int giveBackAfterInputMs = 5000;
    // Where the sets of ids known in the record store are kept: tens of thousands of ids, in a
    // file of their own so that no other preference's write carries them. None: the preferences.
    Defaults* knownIds = nullptr;
    // The bytes of ids the one manifest record holds before the ids are spread over pages, and
    // the bytes each page then holds.
    qsizetype manifestOneRecordBudget = ManifestPages::defaultOneRecordBudget;
    qsizetype manifestPageBudget = ManifestPages::defaultPageBudget;
};
