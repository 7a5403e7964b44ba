#pragma once

#include <QSet>
#include <QString>
#include <QUuid>
#include <array>
#include <optional>
#include <vector>

// The manifest's ids spread over records of bounded size. An account whose ids fit in one record
// (with room to spare) keeps exactly the one record the phone app and older copies read, which
// see nothing of any other. Only a larger one is split into pages by the leading bits of each id:
// page 0 is that same record, which then also names how many pages there are; page k is the
// record "<manifest name>.k". Each page holds the four id fields for its share of the ids. While
// there are pages their count never falls, so a page once written is always read; when the ids fit
// the one record again they all go back onto it, and the other pages are emptied.
namespace ManifestPages {

// The four id fields, in the order they are written.
enum Field { taskIds, noteIds, stoppedSeriesIds, deletedSeriesIds };
constexpr int fieldCount = 4;
using IdFields = std::array<QSet<QUuid>, fieldCount>;

const QString& fieldName(int field);

// Page 0's field naming the page count; absent while there is one page.
inline const QString pageCountField = QStringLiteral("pageCount");
inline const QString pageRecordType = QStringLiteral("QHSyncManifestPage");

// More pages than this are never written (over 200,000 ids at the usual budget; past that a page
// grows beyond the budget, still far within the limit). Older copies read a larger count as one.
constexpr int maxPages = 256;
// The bytes of id text one page may hold: a thirty-second of the store's limit for one record
// (1 MiB), with room for the record's name and field names. A change of one id rewrites its whole
// page, so a page is kept small: at a quarter of the limit, adding one to-do to a large account
// wrote a quarter of a megabyte, and at a sixteenth the page still cost more than the record.
constexpr qsizetype defaultPageBudget = 32 * 1024 - 1024;
// The bytes of id text the one record holds before there are pages: three quarters of the limit,
// over 21,000 ids. The quarter left is for what an older copy, which writes every id it holds
// onto that record, adds before a copy that pages runs again.
constexpr qsizetype defaultOneRecordBudget = 768 * 1024;

QString pageName(const QString& manifestName, int page);
// Which of `pages` pages holds `id`: pages cover the ids' leading 32 bits in equal ranges, so a
// page's ids sort together and doubling the pages splits each in two.
int pageOf(const QUuid& id, int pages);
// The count a stored page 0 names, within [1, maxPages]; anything unreadable reads as 1.
int storedPageCount(const std::optional<qint64>& field);
// One when all the ids' text fits `oneRecordBudget`; else the fewest pages, a power of two and
// at least `atLeast`, whose every page's text fits `budget`.
int pagesNeeded(const IdFields& ids, int atLeast, qsizetype budget, qsizetype oneRecordBudget);
// `all` as the `pages` pages hold it, page 0 first.
std::vector<IdFields> split(const IdFields& all, int pages);

} // namespace ManifestPages
