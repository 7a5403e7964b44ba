#pragma once

#include "model/Clock.h"
#include "model/JsonWriter.h"

#include <QString>
#include <optional>
#include <string_view>

// The date form of the data files: UTC, whole seconds, "2024-12-06T10:15:00Z".
namespace Iso8601 {

// Fractions of a second are dropped toward negative infinity.
QString format(Date t);
// The same text, for writing it into a file without an allocation.
AsciiField field(Date t);

// Strict: a full date, a full time with seconds, and a zone ("Z" or an offset such as
// "+01:00"). Date-only, zone-less and fractional texts are refused.
std::optional<Date> parse(const QString& text);
std::optional<Date> parse(std::string_view utf8);

} // namespace Iso8601
