#pragma once

#include "platform/CloudRecord.h"

#include <QFuture>
#include <QObject>
#include <QPromise>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

// The error codes of the record store, numbered as the phone app's side numbers them; the sync
// decides its texts and retries by them. Code 0 is a failure of our own (a data file that could
// not be written), not one of the store's; so is a server whose certificate could not be verified.
enum class RecordErrorCode : int {
    localFailure = 0,
    internalError = 1,
    partialFailure = 2,
    networkUnavailable = 3,
    networkFailure = 4,
    serviceUnavailable = 6,
    requestRateLimited = 7,
    missingEntitlement = 8,
    notAuthenticated = 9,
    permissionFailure = 10,
    unknownItem = 11,
    invalidArguments = 12,
    serverRecordChanged = 14,
    zoneBusy = 23,
    quotaExceeded = 25,
    limitExceeded = 27,
    serverNotTrusted = 1000,
};

struct RecordError {
    RecordErrorCode code = RecordErrorCode::internalError;
    QString message;
    std::optional<double> retryAfterSeconds;
    // For a partial failure: the failing items by record name, in request order.
    std::vector<std::pair<QString, RecordError>> partialErrors;

    bool isStoreError() const { return code != RecordErrorCode::localFailure; }
    QString description() const;

    static RecordError of(RecordErrorCode code, const QString& message, std::optional<double> retryAfter = {})
    {
        return RecordError{code, message, retryAfter, {}};
    }
    // A database that is locked or overloaded: worth another try soon.
    static RecordError busy(const QString& message) { return of(RecordErrorCode::requestRateLimited, message, 5); }
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
            closed.error = RecordError::of(RecordErrorCode::internalError, QStringLiteral("the record store closed"));
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
};

// The private record database the sync talks to. Main thread only; every call answers later
// through its future, never inside the call, and answers keep the order of the request.
//
// A save writes only the record's changed keys ("no value" removes a field; fields it does not
// name stay) and only onto the version it was fetched as: a record with a change tag needs the
// stored record to carry that tag, one without needs a free name; otherwise the item fails as
// "server record changed". Deletes are unconditional; a missing name answers "unknown item".
// A request of more than `maxItemsPerRequest` items fails whole, and a record larger than
// `maxRecordBytes` fails alone, as "limit exceeded".
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
    virtual QFuture<StoreAnswer<ModifyResults>> modify(const std::vector<CloudRecord>& saves,
                                                       const QStringList& deletes) = 0;
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
        return RecordError::of(RecordErrorCode::unknownItem, QStringLiteral("no such record"));
    }
    static RecordError serverRecordChanged()
    {
        return RecordError::of(RecordErrorCode::serverRecordChanged,
                               QStringLiteral("the record changed on the server"));
    }
};
