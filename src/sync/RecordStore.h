#pragma once

#include "sync/CloudRecord.h"

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

// How a request to the record store failed, as every store tells it. The sync chooses its texts
// and retries by these.
enum class RecordFailure {
    internal,         // anything else: a fault of the store, or an answer out of order
    partial,          // some items of a request failed; each names its own failure
    unreachable,      // the store cannot be reached or opened
    connectionLost,   // the connection broke during a request
    startingUp,       // the server is starting and answers shortly
    busy,             // locked or overloaded: worth another try soon
    notAuthenticated, // the server refused the login
    notPermitted,     // the account may not read or write there
    unknownItem,      // no record of that name
    invalidRecord,    // a record the store can never hold as it is
    changedOnServer,  // the record changed since it was fetched
    storageFull,      // the store's disk is full
    tooLarge,         // too many items in one request, or a record too large
    untrustedServer,  // the server's certificate could not be verified
    localWrite,       // not the store's: what a run received could not be written here
    batchFailed,      // not applied: another item of the same all-or-none request failed
};

struct RecordError {
    RecordFailure kind = RecordFailure::internal;
    QString message;
    std::optional<double> retryAfterSeconds;
    // For a partial failure: the failing items by record name, in request order.
    std::vector<std::pair<QString, RecordError>> partialErrors;

    QString description() const;

    static RecordError of(RecordFailure kind, const QString& message, std::optional<double> retryAfter = {})
    {
        return RecordError{kind, message, retryAfter, {}};
    }
    // A database that is locked or overloaded: worth another try soon.
    static RecordError busy(const QString& message) { return of(RecordFailure::busy, message, 5); }
};

// The answer to one request: a failure of the whole request, or its value.
template <typename T> struct StoreAnswer {
    using value_type = T;
    std::optional<RecordError> error;
    T value{};
};

// The promise behind a store's answer. It always answers: dropped unanswered (its store closed
// first), it answers with an error, so no awaiting run is left waiting or reads an empty future.
template <typename T> class AnswerPromise {
public:
    AnswerPromise() { m_promise.start(); }
    ~AnswerPromise()
    {
        if (!m_done) {
            StoreAnswer<T> closed;
            closed.error = RecordError::of(RecordFailure::internal, QStringLiteral("the record store closed"));
            answer(std::move(closed));
        }
    }
    QFuture<StoreAnswer<T>> future() { return m_promise.future(); }
    void answer(StoreAnswer<T> value)
    {
        m_promise.addResult(std::move(value));
        m_promise.finish();
        m_done = true;
    }

private:
    QPromise<StoreAnswer<T>> m_promise;
    bool m_done = false;
};

// One item of a batched request, in the position of its request item. A fetch or a save gives
// the record as stored (a save: with its new change tag); a delete gives neither.
struct ItemResult {
    QString name;
    std::optional<CloudRecord> record;
    std::optional<RecordError> error;
};

struct ModifyResults {
    std::vector<ItemResult> saves;
    std::vector<ItemResult> deletes;
    // The change stamp just before this request's writes and just after them, with no other
    // writer in between; empty when the store cannot tell. A run that finds its requests chained
    // from the stamp it read knows that only it wrote since.
    QString stampBefore, stampAfter;
};

// The private record database the sync talks to. Main thread only; every call answers later
// through its future, never inside the call, and answers keep the order of the request.
//
// A save writes only the record's changed keys ("no value" removes a field; fields it does not
// name stay) and only onto the version it was fetched as: a record with a change tag needs the
// stored record to carry that tag, one without needs a free name; otherwise the item fails as
// "server record changed". Deletes are unconditional; a missing name answers "unknown item".
// A request of more than `maxItemsPerRequest` items fails whole, and a record larger than
// `maxRecordBytes` fails alone, as "limit exceeded". A request made all or none applies nothing
// when any of its items fails: each failing item names its failure, every other one "batch failed".
class RecordStore : public QObject {
    Q_OBJECT
public:
    static constexpr int maxItemsPerRequest = 400;
    static constexpr qsizetype maxRecordBytes = 1024 * 1024;

    // The raw values the account status takes; only `accountAvailable` lets a run go on.
    static constexpr int accountCouldNotDetermine = 0;
    static constexpr int accountAvailable = 1;
    static constexpr int accountNoAccount = 3;
    static constexpr int accountTemporarilyUnavailable = 4;

    using QObject::QObject;

    virtual QFuture<StoreAnswer<int>> accountStatus() = 0;
    // Names this store: a different name means another account whose history does not apply.
    virtual QFuture<StoreAnswer<QString>> userRecordName() = 0;
    virtual QFuture<StoreAnswer<std::vector<ItemResult>>> fetch(const QStringList& names) = 0;
    enum class Batch { eachItem, allOrNone };
    virtual QFuture<StoreAnswer<ModifyResults>> modify(const std::vector<CloudRecord>& saves,
                                                       const QStringList& deletes, Batch batch = Batch::eachItem) = 0;
    // A text that changes whenever any record is saved or deleted, by this device or another. Read
    // before a fetch, the same text read again later means nothing was written in between, so a
    // run may leave what it read last time unread. Empty: this store cannot tell.
    virtual QFuture<StoreAnswer<QString>> changeStamp() = 0;
    // Drops what the store keeps only to answer sooner (a database's page cache), after a run: the
    // next one is minutes away. Finishes once it is dropped.
    virtual QFuture<void> releaseMemory() { return QtFuture::makeReadyFuture(); }

    // The failures every store gives alike, with the same texts. Too many items fail a request
    // whole; a bad name or type, or changes (`patch`) too large, fail one save.
    static std::optional<RecordError> checkRequestSize(qsizetype items);
    static std::optional<RecordError> checkSave(const CloudRecord& record, const QByteArray& patch);
    static RecordError unknownItem()
    {
        return RecordError::of(RecordFailure::unknownItem, QStringLiteral("no such record"));
    }
    static RecordError serverRecordChanged()
    {
        return RecordError::of(RecordFailure::changedOnServer, QStringLiteral("the record changed on the server"));
    }
    static RecordError batchFailed()
    {
        return RecordError::of(RecordFailure::batchFailed, QStringLiteral("another item of the request failed"));
    }
    // Makes `results` those of an all-or-none request that applied nothing, when any item failed.
    // True when it did.
    static bool undoneWhole(ModifyResults& results);
};
