#include "sync/MemoryRecordStore.h"

#include "sync/RecordFields.h"

#include <QPromise>
#include <QTimer>
#include <memory>

namespace {

RecordError error(RecordErrorCode code, const QString& message)
{
    RecordError e;
    e.code = code;
    e.message = message;
    return e;
}

} // namespace

MemoryRecordStore::MemoryRecordStore(QObject* parent) : RecordStore(parent) {}

template <typename T> QFuture<T> MemoryRecordStore::later(std::function<T()> work)
{
    auto promise = std::make_shared<AnswerPromise<typename T::value_type>>();
    QFuture<T> future = promise->future();
    QTimer::singleShot(0, this, [promise, work = std::move(work)] { promise->answer(work()); });
    return future;
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
    return later<StoreAnswer<int>>([this] {
        m_requests.push_back({Operation::accountStatus, 0});
        if (beforeRequest)
            beforeRequest(Operation::accountStatus);
        StoreAnswer<int> answer;
        if (const auto fault = takeFault(Operation::accountStatus))
            answer.error = fault->error;
        else
            answer.value = m_accountStatus;
        m_log.append(QStringLiteral("account -> %1")
                         .arg(answer.error ? answer.error->description() : QString::number(answer.value)));
        return answer;
    });
}

QFuture<StoreAnswer<QString>> MemoryRecordStore::userRecordName()
{
    return later<StoreAnswer<QString>>([this] {
        m_requests.push_back({Operation::userRecordName, 0});
        if (beforeRequest)
            beforeRequest(Operation::userRecordName);
        StoreAnswer<QString> answer;
        if (const auto fault = takeFault(Operation::userRecordName))
            answer.error = fault->error;
        else
            answer.value = m_userRecordName;
        m_log.append(QStringLiteral("user -> %1").arg(answer.error ? answer.error->description() : answer.value));
        return answer;
    });
}

QFuture<StoreAnswer<std::vector<ItemResult>>> MemoryRecordStore::fetch(const QStringList& names)
{
    return later<StoreAnswer<std::vector<ItemResult>>>([this, names] {
        m_requests.push_back({Operation::fetch, int(names.size())});
        if (beforeRequest)
            beforeRequest(Operation::fetch);
        StoreAnswer<std::vector<ItemResult>> answer;
        const std::optional<Fault> fault = takeFault(Operation::fetch);
        QString outcome = QStringLiteral("ok");
        if (names.size() > maxItemsPerRequest) {
            answer.error = error(RecordErrorCode::limitExceeded, QStringLiteral("too many items in one request"));
        } else if (fault && fault->kind == Fault::Kind::beforeCommit) {
            answer.error = fault->error;
        } else {
            const int failing = fault && !names.isEmpty() ? fault->item % names.size() : -1;
            for (int i = 0; i < names.size(); ++i) {
                ItemResult item{names[i], std::nullopt, std::nullopt};
                const auto it = m_records.find(names[i]);
                if (i == failing && fault->kind != Fault::Kind::lostAnswer)
                    item.error = fault->error;
                else if (it == m_records.end())
                    item.error = error(RecordErrorCode::unknownItem, QStringLiteral("no such record"));
                else
                    item.record = RecordFields::decode(it->second.type, it->first, it->second.tag, it->second.fields);
                answer.value.push_back(std::move(item));
            }
            if (fault && fault->kind == Fault::Kind::lostAnswer)
                answer.error = fault->error;
            if (fault && fault->kind == Fault::Kind::partialFailure) {
                RecordError partial = error(RecordErrorCode::partialFailure, QStringLiteral("some items failed"));
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
    if (!RecordFields::isValidName(record.recordName()) || !RecordFields::isValidName(record.recordType()))
        return error(RecordErrorCode::invalidArguments, QStringLiteral("bad record name or type"));
    const QByteArray patch = RecordFields::patch(record);
    if (patch.size() > maxRecordBytes)
        return error(RecordErrorCode::limitExceeded, QStringLiteral("record too large"));
    const auto it = m_records.find(record.recordName());
    const bool matches =
        record.changeTag() ? (it != m_records.end() && it->second.tag == *record.changeTag()) : it == m_records.end();
    if (!matches)
        return error(RecordErrorCode::serverRecordChanged, QStringLiteral("the record changed on the server"));
    Stored& stored = m_records[record.recordName()];
    if (it == m_records.end())
        stored.type = record.recordType();
    stored.fields = RecordFields::applyPatch(stored.fields, patch);
    stored.tag = QString::number(m_nextTag++);
    *storedOut = RecordFields::decode(stored.type, record.recordName(), stored.tag, stored.fields);
    return std::nullopt;
}

QFuture<StoreAnswer<ModifyResults>> MemoryRecordStore::modify(const std::vector<CloudRecord>& saves,
                                                              const QStringList& deletes)
{
    return later<StoreAnswer<ModifyResults>>([this, saves, deletes] {
        const int count = int(saves.size()) + int(deletes.size());
        m_requests.push_back({Operation::modify, count});
        if (beforeRequest)
            beforeRequest(Operation::modify);
        StoreAnswer<ModifyResults> answer;
        const std::optional<Fault> fault = takeFault(Operation::modify);
        if (count > maxItemsPerRequest) {
            answer.error = error(RecordErrorCode::limitExceeded, QStringLiteral("too many items in one request"));
        } else if (fault && fault->kind == Fault::Kind::beforeCommit) {
            answer.error = fault->error;
        } else {
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
                    item.error = error(RecordErrorCode::unknownItem, QStringLiteral("no such record"));
                }
                answer.value.deletes.push_back(std::move(item));
            }
            if (fault && fault->kind == Fault::Kind::lostAnswer)
                answer.error = fault->error;
            if (fault && fault->kind == Fault::Kind::partialFailure && failing >= 0) {
                RecordError partial = error(RecordErrorCode::partialFailure, QStringLiteral("some items failed"));
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
