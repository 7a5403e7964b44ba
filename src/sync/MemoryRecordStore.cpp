#include "sync/MemoryRecordStore.h"

#include "sync/RecordFields.h"

#include <QTimer>
#include <QVariant>
#include <memory>

MemoryRecordStore::MemoryRecordStore(QObject* parent) : RecordStore(parent) {}

// Every request answers on a later turn of the event loop, once counted and once other devices'
// work has landed.
template <typename T>
QFuture<StoreAnswer<T>> MemoryRecordStore::later(Operation operation, int items, std::function<StoreAnswer<T>()> work)
{
    auto promise = std::make_shared<AnswerPromise<T>>();
    QFuture<StoreAnswer<T>> future = promise->future();
    QTimer::singleShot(0, this, [this, operation, items, promise, work = std::move(work)] {
        m_requests.push_back({operation, items});
        if (beforeRequest)
            beforeRequest(operation);
        promise->answer(work());
    });
    return future;
}

template <typename T>
StoreAnswer<T> MemoryRecordStore::valueOrFault(Operation operation, const T& value, const QString& logLine)
{
    StoreAnswer<T> answer;
    if (const auto fault = takeFault(operation))
        answer.error = fault->error;
    else
        answer.value = value;
    m_log.append(logLine.arg(answer.error ? answer.error->description() : QVariant(value).toString()));
    return answer;
}

std::optional<MemoryRecordStore::Fault> MemoryRecordStore::takeFault(Operation operation)
{
    for (auto it = m_scripted.begin(); it != m_scripted.end(); ++it)
        if (it->first == operation) {
            Fault fault = it->second;
            m_scripted.erase(it);
            return fault;
        }
    if (faultChooser)
        return faultChooser(operation);
    return std::nullopt;
}

QFuture<StoreAnswer<int>> MemoryRecordStore::accountStatus()
{
    return later<int>(Operation::accountStatus, 0, [this] {
        return valueOrFault(Operation::accountStatus, m_accountStatus, QStringLiteral("account -> %1"));
    });
}

QFuture<StoreAnswer<QString>> MemoryRecordStore::userRecordName()
{
    return later<QString>(Operation::userRecordName, 0, [this] {
        return valueOrFault(Operation::userRecordName, m_userRecordName, QStringLiteral("user -> %1"));
    });
}

QFuture<StoreAnswer<std::vector<ItemResult>>> MemoryRecordStore::fetch(const QStringList& names)
{
    return later<std::vector<ItemResult>>(Operation::fetch, int(names.size()), [this, names] {
        StoreAnswer<std::vector<ItemResult>> answer;
        const std::optional<Fault> fault = takeFault(Operation::fetch);
        QString outcome = QStringLiteral("ok");
        answer.error = checkRequestSize(names.size());
        if (!answer.error && fault && fault->kind == Fault::Kind::beforeCommit) {
            answer.error = fault->error;
        } else if (!answer.error) {
            const int failing = fault && !names.isEmpty() ? fault->item % names.size() : -1;
            for (int i = 0; i < names.size(); ++i) {
                ItemResult item{names[i], std::nullopt, std::nullopt};
                const auto it = m_records.find(names[i]);
                if (i == failing && fault->kind != Fault::Kind::lostAnswer)
                    item.error = fault->error;
                else if (it == m_records.end())
                    item.error = unknownItem();
                else
                    item.record = RecordFields::decode(it->second.type, it->first, it->second.tag, it->second.fields);
                answer.value.push_back(std::move(item));
            }
            if (fault && fault->kind == Fault::Kind::lostAnswer)
                answer.error = fault->error;
            if (fault && fault->kind == Fault::Kind::partialFailure) {
                RecordError partial = RecordError::of(RecordFailure::partial, QStringLiteral("some items failed"));
                partial.partialErrors.push_back({names[failing], fault->error});
                answer.error = partial;
            }
        }
        if (answer.error)
            outcome = answer.error->description();
        m_log.append(QStringLiteral("fetch %1 -> %2").arg(names.size()).arg(outcome));
        return answer;
    });
}

std::optional<RecordError> MemoryRecordStore::save(const CloudRecord& record, CloudRecord* storedOut)
{
    const QByteArray patch = RecordFields::patch(record);
    if (auto e = checkSave(record, patch))
        return e;
    const auto it = m_records.find(record.recordName());
    const bool matches =
        record.changeTag() ? (it != m_records.end() && it->second.tag == *record.changeTag()) : it == m_records.end();
    if (!matches)
        return serverRecordChanged();
    Stored& stored = m_records[record.recordName()];
    if (it == m_records.end())
        stored.type = record.recordType();
    stored.fields = RecordFields::applyPatch(stored.fields, patch);
    stored.tag = QString::number(m_nextTag++);
    ++m_changes;
    *storedOut = RecordFields::decode(stored.type, record.recordName(), stored.tag, stored.fields);
    return std::nullopt;
}

QFuture<StoreAnswer<ModifyResults>> MemoryRecordStore::modify(const std::vector<CloudRecord>& saves,
                                                              const QStringList& deletes, Batch batch)
{
    const int count = int(saves.size()) + int(deletes.size());
    return later<ModifyResults>(Operation::modify, count, [this, saves, deletes, count, batch] {
        StoreAnswer<ModifyResults> answer;
        const std::optional<Fault> fault = takeFault(Operation::modify);
        answer.error = checkRequestSize(count);
        if (!answer.error && fault && fault->kind == Fault::Kind::beforeCommit) {
            answer.error = fault->error;
        } else if (!answer.error) {
            answer.value.stampBefore = QString::number(m_changes);
            const std::map<QString, Stored> before =
                batch == Batch::allOrNone ? m_records : std::map<QString, Stored>();
            const qint64 changesBefore = m_changes;
            const bool itemFault = fault && count > 0 && fault->kind != Fault::Kind::lostAnswer;
            const int failing = itemFault ? fault->item % count : -1;
            QString failingName;
            for (int i = 0; i < int(saves.size()); ++i) {
                ItemResult item{saves[i].recordName(), std::nullopt, std::nullopt};
                CloudRecord stored;
                if (i == failing)
                    item.error = fault->error;
                else if (auto e = save(saves[i], &stored))
                    item.error = e;
                else
                    item.record = stored;
                if (i == failing)
                    failingName = item.name;
                answer.value.saves.push_back(std::move(item));
            }
            for (int i = 0; i < int(deletes.size()); ++i) {
                ItemResult item{deletes[i], std::nullopt, std::nullopt};
                if (int(saves.size()) + i == failing) {
                    item.error = fault->error;
                    failingName = item.name;
                } else if (m_records.erase(deletes[i]) == 0) {
                    item.error = unknownItem();
                } else {
                    ++m_changes;
                }
                answer.value.deletes.push_back(std::move(item));
            }
            answer.value.stampAfter = QString::number(m_changes);
            if (batch == Batch::allOrNone && undoneWhole(answer.value)) {
                m_records = before;
                m_changes = changesBefore;
            }
            if (!m_changeStampKnown)
                answer.value.stampBefore = answer.value.stampAfter = QString();
            if (fault && fault->kind == Fault::Kind::lostAnswer)
                answer.error = fault->error;
            if (fault && fault->kind == Fault::Kind::partialFailure && failing >= 0) {
                RecordError partial = RecordError::of(RecordFailure::partial, QStringLiteral("some items failed"));
                partial.partialErrors.push_back({failingName, fault->error});
                answer.error = partial;
            }
        }
        QStringList itemOutcomes;
        for (const ItemResult& r : answer.value.saves)
            itemOutcomes.append(
                QStringLiteral("save %1%2").arg(r.name.left(8), r.error ? QStringLiteral(" failed") : QString()));
        for (const ItemResult& r : answer.value.deletes)
            itemOutcomes.append(
                QStringLiteral("delete %1%2").arg(r.name.left(8), r.error ? QStringLiteral(" failed") : QString()));
        m_log.append(QStringLiteral("modify [%1] -> %2")
                         .arg(itemOutcomes.join(QStringLiteral(", ")),
                              answer.error ? answer.error->description() : QStringLiteral("ok")));
        return answer;
    });
}

QFuture<StoreAnswer<QString>> MemoryRecordStore::changeStamp()
{
    return later<QString>(Operation::changeStamp, 0, [this] {
        return valueOrFault(Operation::changeStamp, m_changeStampKnown ? QString::number(m_changes) : QString(),
                            QStringLiteral("stamp -> %1"));
    });
}

QStringList MemoryRecordStore::names() const
{
    QStringList out;
    for (const auto& [name, stored] : m_records)
        out.append(name);
    return out;
}

std::optional<CloudRecord> MemoryRecordStore::peek(const QString& name) const
{
    const auto it = m_records.find(name);
    if (it == m_records.end())
        return std::nullopt;
    return RecordFields::decode(it->second.type, name, it->second.tag, it->second.fields);
}

void MemoryRecordStore::plant(const QString& type, const QString& name, const QByteArray& fieldsJson)
{
    m_records[name] = Stored{type, QString::number(m_nextTag++), fieldsJson};
    ++m_changes;
}

int MemoryRecordStore::requestCount(Operation operation) const
{
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [operation](const auto& r) { return r.first == operation; }));
}

std::vector<int> MemoryRecordStore::requestSizes(Operation operation) const
{
    std::vector<int> out;
    for (const auto& [op, size] : m_requests)
        if (op == operation)
            out.push_back(size);
    return out;
}
