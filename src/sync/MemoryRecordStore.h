#pragma once

#include "sync/RecordStore.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <map>

// A record store in memory, for tests and benchmarks: the same rules as the real stores, answers
// on the next turn of the event loop, scripted faults, and a log of every request and its outcome.
class MemoryRecordStore : public RecordStore {
    Q_OBJECT
public:
    enum class Operation { accountStatus, userRecordName, fetch, modify, changeStamp };

    struct Fault {
        enum class Kind {
            beforeCommit,   // the request fails whole; nothing is applied
            lostAnswer,     // the request is applied, but its answer is the error
            oneItemFails,   // the item at `item` fails with the error; the others are applied
            partialFailure, // the item at `item` fails and the whole answer is a partial failure naming it
        };
        Kind kind = Kind::beforeCommit;
        RecordError error;
        int item = 0; // an index into the request's items (saves first, then deletes); wraps
    };

    explicit MemoryRecordStore(QObject* parent = nullptr);

    QFuture<StoreAnswer<int>> accountStatus() override;
    QFuture<StoreAnswer<QString>> userRecordName() override;
    QFuture<StoreAnswer<std::vector<ItemResult>>> fetch(const QStringList& names) override;
    QFuture<StoreAnswer<ModifyResults>> modify(const std::vector<CloudRecord>& saves, const QStringList& deletes,
                                               Batch batch = Batch::eachItem) override;
    QFuture<StoreAnswer<QString>> changeStamp() override;

    void setAccountStatus(int status) { m_accountStatus = status; }
    void setUserRecordName(const QString& name) { m_userRecordName = name; }

    // Faults: a scripted one is used first, in order, by the next request of its operation; then
    // the chooser (if any) may return one for any request.
    void scriptFault(Operation operation, const Fault& fault) { m_scripted.push_back({operation, fault}); }
    std::function<std::optional<Fault>(Operation)> faultChooser;
    // Runs when a request is taken up, before it is applied: other devices' work lands here.
    std::function<void(Operation)> beforeRequest;

    // What is stored, straight from memory (no request).
    QStringList names() const;
    std::optional<CloudRecord> peek(const QString& name) const;
    // Writes a record as stored, whatever its tag: for tests that plant odd data.
    void plant(const QString& type, const QString& name, const QByteArray& fieldsJson);
    void erase(const QString& name)
    {
        if (m_records.erase(name))
            ++m_changes;
    }
    // Tests of a store that cannot tell whether anything changed.
    void setChangeStampKnown(bool known) { m_changeStampKnown = known; }

    const QStringList& log() const { return m_log; }
    int requestCount(Operation operation) const;
    // Item counts of the requests made, per operation, in order.
    std::vector<int> requestSizes(Operation operation) const;

private:
    struct Stored {
        QString type;
        QString tag;
        QByteArray fields;
    };
    std::optional<Fault> takeFault(Operation operation);
    std::optional<RecordError> save(const CloudRecord& record, CloudRecord* stored);
    template <typename T>
    QFuture<StoreAnswer<T>> later(Operation operation, int items, std::function<StoreAnswer<T>()> work);
    template <typename T> StoreAnswer<T> valueOrFault(Operation operation, const T& value, const QString& logLine);

    std::map<QString, Stored> m_records;
    int m_accountStatus = RecordStore::accountAvailable;
    QString m_userRecordName = QStringLiteral("memory-user");
    std::deque<std::pair<Operation, Fault>> m_scripted;
    qint64 m_nextTag = 1;
    qint64 m_changes = 0; // every save, delete and plant
    bool m_changeStampKnown = true;
    QStringList m_log;
    std::vector<std::pair<Operation, int>> m_requests;
};
