#pragma once

#include "StoreFixture.h"
#include "model/BlockRule.h"
#include "model/DoomScroll.h"
#include "model/FileStore.h"
#include "model/SharedState.h"
#include "router/AppContext.h"

#include <QJsonDocument>
#include <QtTest>

// A store whose files say what a shell test needs: some rules, doom-scroll breaks on or off,
// a pause, and to-dos added through the store itself.
struct SeededStore : StoreFixture {
    static BlockRule rule(const QString& domain, const QString& name = {})
    {
        BlockRule r;
        r.id = QUuid::createUuid();
        r.domain = domain;
        r.displayName = name.isEmpty() ? BlockRule::suggestedDisplayName(domain) : name;
        return r;
    }

    StorageService& seed(const std::vector<BlockRule>& rules, bool doomOn = false,
                         std::optional<Date> pausedUntil = std::nullopt, const QStringList& doomDomains = {})
    {
        QDir().mkpath(dataPath());
        write(BlockingStore::rulesFile, QJsonDocument(encodeList(rules, encodeBlockRule)));
        DoomScrollConfig doom;
        doom.isEnabled = doomOn;
        for (const QString& d : doomDomains)
            doom.domains.push_back({QUuid::createUuid(), d});
        write(BlockingStore::doomScrollFile, QJsonDocument(encodeDoomScrollConfig(doom)));
        SharedState state;
        state.dayId = 20261207;
        state.blockingPausedUntil = pausedUntil;
        write(BlockingStore::stateFile, QJsonDocument(encodeSharedState(state)));
        return make();
    }

    TaskItem addToday(const QString& title, bool done = false)
    {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = title;
        t.time = TaskItem::anytime;
        t.createdAt = clock.now();
        t.isCompleted = done;
        store->todos().addTodo(t);
        return t;
    }

    // What the shell and its pages reach: this store, its preferences and clocks, and `router`.
    AppContext context(AppRouter* router)
    {
        AppContext c;
        c.storage = store.get();
        c.router = router;
        c.defaults = &defaults;
        c.clock = &clock;
        c.monotonic = &bootClock;
        c.calendar = [this] { return calendar; };
        return c;
    }

private:
    void write(const QString& name, const QJsonDocument& document)
    {
        QFile file(this->file(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(document.toJson());
    }
};
