#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <variant>

// What a request to the block-page server asks for, read from its head alone: the bytes in, the
// target or the reason to refuse out, with no socket and no store.
namespace BlockPageRequest {

// The most a head (request line, headers and the empty line) may take.
constexpr qsizetype maximumHeadBytes = 16384;

// Where the head ends (just past its empty line), or -1 while it has not ended. Lines may end in
// CR LF or in a bare LF; both are read alike everywhere.
qsizetype headEnd(const QByteArray& bytes);

enum class Refusal { badRequest, onlyGet };

struct Target {
    QString path;
    QString query;
    std::optional<QString> address; // a block page asked for with the address as it was
    // The head says a body follows it (a length other than 0, or a transfer coding): more bytes
    // may still be on their way after the head.
    bool announcesBody = false;
};

// Only GET, and only with one Host header naming this server on `port`.
std::variant<Target, Refusal> readTarget(const QByteArray& request, std::optional<quint16> port);

// The first query item of that name, percent-decoded; an item without "=" has no value, and '+'
// stays a plus sign.
std::optional<QString> queryValue(const QString& query, const QString& name);

} // namespace BlockPageRequest
