// The seam between the database layer and the engines that do the work. An engine opens a
// file as a Session; a session lists its catalogue, runs statements and hands out lazy cursors.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/base/value.h"

namespace db {

// Access modes, with the numbers of the original data-access layer's Mode property.
enum class OpenMode { Unknown = 0, Read = 1, Write = 2, ReadWrite = 3 };

// One row of the table catalogue. User tables have the type "TABLE"; system tables, views
// (saved queries), linked tables and the like have other types.
struct CatalogRow {
  std::string type;
  std::string name;
  bool operator==(const CatalogRow&) const = default;
};

// Rows of one query, read on demand. A cursor must not outlive the session that made it.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<std::string>& fieldNames() const = 0;
  // Reads the next row into `row` (resized to the field count). False at the end.
  virtual bool next(std::vector<Value>& row) = 0;
  // The number of rows the query gives in all, when the engine can ask the database for it
  // without handing the rows over (a server counts them where they are); nothing when the rows
  // must be read to count them.
  virtual std::optional<long long> count() { return std::nullopt; }
};

// A test that the caller of a query applies to every row it reads, handed to the engine so that
// it may leave out the rows that fail it as early as it can (before DISTINCT keeps them, say).
// An engine may ignore it: the caller still tests every row it gets. `sameForEqualRows` says
// that rows DISTINCT counts as one (texts that differ only in letter case) always get the same
// answer, so that a row that fails need not be remembered; without it, only the row DISTINCT
// keeps of each group may be tested, since the others never reach the caller.
struct RowFilter {
  std::function<bool(const std::vector<Value>&)> keeps;
  bool sameForEqualRows = false;
};

class Session {
 public:
  virtual ~Session() = default;
  // The catalogue, sorted by type and then by name without regard to letter case.
  virtual std::vector<CatalogRow> tables() = 0;
  // Runs a statement that returns rows. Reads no rows before the cursor asks for them.
  virtual std::unique_ptr<Cursor> query(const std::string& sql) = 0;
  // The same, with the caller's test of its rows (see RowFilter); by default the test is left
  // to the caller.
  virtual std::unique_ptr<Cursor> queryFiltered(const std::string& sql, const RowFilter&) {
    return query(sql);
  }
  // Runs a statement that returns none.
  virtual void execute(const std::string& sql) = 0;
  virtual void begin() = 0;
  // A commit that fails either ends the transaction itself, having kept nothing of it (the
  // rollback() that callers make after it then does nothing), or leaves it open for rollback().
  // Statements after a failure that ended the transaction are refused with kTransactionEnded.
  virtual void commit() = 0;
  virtual void rollback() = 0;
};

// Opens a database file with the engine its own signature calls for (not its extension).
// Throws db::Error for a missing, unreadable, foreign or damaged file and a wrong password.
std::unique_ptr<Session> OpenSession(const std::string& path, const std::string& password,
                                     OpenMode mode);

// Sorts catalogue rows by type, then by name without regard to letter case (stable).
void SortCatalog(std::vector<CatalogRow>& rows);

}  // namespace db
