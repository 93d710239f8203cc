// The SQLite engine: one sqlite3 connection per session, one prepared statement per cursor.
#include "db/sqlite/sqlite_engine.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

#include "db/base/error.h"

namespace db {
namespace {

constexpr int kBusyTimeoutMs = 3000;

// Files up to this size keep their temporary b-trees in memory (see SqliteSession).
constexpr std::uintmax_t kTempInMemoryUpTo = std::uintmax_t{2} << 30;

bool StartsWithNoCase(const char* text, const char* prefix) {
  return sqlite3_strnicmp(text, prefix, static_cast<int>(std::strlen(prefix))) == 0;
}

constexpr const char* kAbortedText =
    "The database rolled the transaction back after an earlier failure; nothing of it was kept.";

// The layer's error for SQLite's last failure on `db`, its message kept as SQLite words it.
Error SqliteError(sqlite3* db, int code, const std::string& path) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  // A query still reading when SQLite rolled the transaction back by itself.
  if (code == SQLITE_ABORT_ROLLBACK) return Error(errc::kTransactionEnded, kAbortedText);
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Error(errc::kFailed, "The database '" + path + "' is locked by another connection (" +
                                      message + "); try again when it is free.");
    case SQLITE_READONLY:
      return Error(errc::kFailed,
                   "The database '" + path + "' is open for reading only (" + message + ").");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return BadFormatError("The database file '" + path + "' is damaged or unreadable (" +
                            message + ").");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return Error(errc::kFailed,
                   "Cannot open the database file '" + path + "' (" + message + ").");
    case SQLITE_IOERR:
      return Error(errc::kFailed,
                   "Cannot read or write the database file '" + path + "' (" + message + ").");
    case SQLITE_FULL:
      return Error(errc::kFailed, "The disk is full: cannot write the database file '" + path +
                                      "' (" + message + ").");
    default:
      break;
  }
  if (StartsWithNoCase(message.c_str(), "no such table") ||
      StartsWithNoCase(message.c_str(), "no such column"))
    return Error(errc::kNoSuchObject, message);
  if (message.find("syntax error") != std::string::npos ||
      message.find("incomplete input") != std::string::npos ||
      message.find("unrecognized token") != std::string::npos)
    return Error(errc::kSyntax, message);
  return Error(errc::kFailed, message);
}

class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& o) noexcept : stmt_(o.stmt_) { o.stmt_ = nullptr; }

  sqlite3_stmt** out() { return &stmt_; }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteCursor : public Cursor {
 public:
  SqliteCursor(sqlite3* db, Statement stmt, std::string path)
      : db_(db), stmt_(std::move(stmt)), path_(std::move(path)) {
    int count = sqlite3_column_count(stmt_.get());
    names_.reserve(count);
    for (int i = 0; i < count; ++i) {
      const char* name = sqlite3_column_name(stmt_.get(), i);
      names_.emplace_back(name ? name : "");
    }
  }

  const std::vector<std::string>& fieldNames() const override { return names_; }

  bool next(std::vector<Value>& row) override {
    if (done_) return false;
    sqlite3_stmt* s = stmt_.get();
    int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) {
      done_ = true;
      sqlite3_reset(s);  // gives up the read lock at once
      return false;
    }
    if (rc != SQLITE_ROW) {
      done_ = true;
      Error error = SqliteError(db_, rc, path_);
      sqlite3_reset(s);
      throw error;
    }
    row.resize(names_.size());
    for (int i = 0; i < static_cast<int>(names_.size()); ++i) row[i] = Read(s, i);
    return true;
  }

 private:
  static Value Read(sqlite3_stmt* s, int i) {
    switch (sqlite3_column_type(s, i)) {
      case SQLITE_INTEGER:
        return Value::Integer(sqlite3_column_int64(s, i));
      case SQLITE_FLOAT:
        return Value::Double(sqlite3_column_double(s, i));
      case SQLITE_TEXT: {
        auto text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        return Value::Text(std::string(text, sqlite3_column_bytes(s, i)));
      }
      case SQLITE_BLOB: {
        auto bytes = static_cast<const char*>(sqlite3_column_blob(s, i));
        int size = sqlite3_column_bytes(s, i);
        return Value::Binary(size > 0 ? std::string(bytes, size) : std::string());
      }
      default:
        return Value::Null();
    }
  }

  sqlite3* db_;
  Statement stmt_;
  std::string path_;
  std::vector<std::string> names_;
  bool done_ = false;
};

class SqliteSession : public Session {
 public:
  SqliteSession(const std::string& path, OpenMode mode) : path_(path) {
    // Never SQLITE_OPEN_CREATE: opening must not make a file. No URI names either, so a path is
    // always a path.
    int flags = (mode == OpenMode::Read ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) |
                SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      Error error = SqliteError(db_, rc, path_);
      sqlite3_close_v2(db_);
      throw error;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // DISTINCT builds a temporary b-tree of the values. In a temporary file it spills after a
    // few pages and is three times slower; in memory it costs about the bytes of the distinct
    // values, as the Access engine does, and never more than the file's own size: so up to the
    // size of the largest Access file, and in a file beyond that.
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) <= kTempInMemoryUpTo && !ec)
      sqlite3_exec(db_, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
    // SQLite reads the file lazily; reading the schema now turns a damaged or foreign file
    // into an error at open time rather than at the first statement.
    try {
      Prepare("SELECT 1 FROM sqlite_master LIMIT 0");
    } catch (...) {
      sqlite3_close_v2(db_);
      throw;
    }
  }

  ~SqliteSession() override { sqlite3_close_v2(db_); }

  std::vector<CatalogRow> tables() override {
    Statement stmt =
        Prepare("SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view')");
    std::vector<CatalogRow> rows{{"SYSTEM TABLE", "sqlite_master"}};
    SqliteCursor cursor(db_, std::move(stmt), path_);
    std::vector<Value> row;
    while (cursor.next(row)) {
      std::string type = row[0].isNull() ? "" : row[0].toText();
      std::string name = row[1].isNull() ? "" : row[1].toText();
      if (type == "view") {
        type = "VIEW";
      } else if (StartsWithNoCase(name.c_str(), "sqlite_")) {
        type = "SYSTEM TABLE";
      } else {
        type = "TABLE";
      }
      rows.push_back({std::move(type), std::move(name)});
    }
    SortCatalog(rows);
    return rows;
  }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    RefuseIfAborted();
    Statement stmt = Prepare(sql);
    if (sqlite3_column_count(stmt.get()) == 0)
      throw Error(errc::kFailed,
                  "The statement returns no rows, so it cannot be opened as a "
                  "record set: \"" +
                      sql + "\".");
    return std::make_unique<SqliteCursor>(db_, std::move(stmt), path_);
  }

  void execute(const std::string& sql) override {
    RefuseIfAborted();
    endedByFailure_ = false;
    Statement stmt = Prepare(sql);
    try {
      Run(stmt);
    } catch (...) {
      // Some failures (a full disk, an I/O error, a trigger's RAISE(ROLLBACK)) make SQLite roll
      // back the whole transaction by itself. The statements that follow would then each commit
      // on their own, outside the transaction the caller believes is open; refuse them instead.
      if (inTransaction_ && sqlite3_get_autocommit(db_)) aborted_ = true;
      throw;
    }
  }

  void begin() override {
    Execute("BEGIN");
    inTransaction_ = true;
    aborted_ = false;
    endedByFailure_ = false;
  }
  // A commit that fails because SQLite rolled the transaction back (after an earlier failure,
  // or because the commit itself met a full disk or an I/O error) ends the transaction; one that
  // leaves it open (a lock held by another connection) leaves it for rollback() to end.
  void commit() override {
    if (aborted_) {
      EndTransaction();
      endedByFailure_ = true;
      throw Error(errc::kTransactionEnded, kAbortedText);
    }
    try {
      Execute("COMMIT");
    } catch (...) {
      if (inTransaction_ && sqlite3_get_autocommit(db_)) {
        EndTransaction();
        endedByFailure_ = true;
      }
      throw;
    }
    EndTransaction();
  }
  // After a commit that failed and ended the transaction there is nothing left to roll back:
  // the rollback that callers make then does nothing and reports nothing.
  void rollback() override {
    if (!inTransaction_ && endedByFailure_) {
      endedByFailure_ = false;
      return;
    }
    if (!aborted_) Execute("ROLLBACK");
    EndTransaction();
  }

 private:
  // Prepares one statement. Text after it other than blanks and comments is refused rather
  // than silently dropped.
  Statement Prepare(const std::string& sql) {
    Statement stmt;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), stmt.out(), &tail);
    if (rc != SQLITE_OK) throw SqliteError(db_, rc, path_);
    if (!stmt.get()) throw Error(errc::kSyntax, "The statement is empty.");
    const char* end = sql.c_str() + sql.size();
    if (tail && tail < end) {
      Statement rest;
      int restRc = sqlite3_prepare_v2(db_, tail, static_cast<int>(end - tail), rest.out(), nullptr);
      if (restRc != SQLITE_OK || rest.get())
        throw Error(errc::kSyntax, "Only one statement can be run at a time: \"" + sql + "\".");
    }
    return stmt;
  }

  void Run(Statement& stmt) {
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) throw SqliteError(db_, rc, path_);
  }

  void Execute(const char* sql) {
    Statement stmt = Prepare(sql);
    Run(stmt);
  }

  void RefuseIfAborted() const {
    if (aborted_) throw Error(errc::kTransactionEnded, kAbortedText);
  }
  void EndTransaction() {
    inTransaction_ = false;
    aborted_ = false;
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  bool inTransaction_ = false;
  bool aborted_ = false;         // SQLite ended the transaction by itself after a failure
  bool endedByFailure_ = false;  // the last transaction ended in a failed commit
};

}  // namespace

std::unique_ptr<Session> OpenSqliteSession(const std::string& path, OpenMode mode) {
  return std::make_unique<SqliteSession>(path, mode);
}

}  // namespace db
