// The PostgreSQL engine: one libpq connection per session, one server-side cursor per query.
#include "db/postgres/postgres_engine.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <vector>

#include "db/base/error.h"
#include "db/base/value_text.h"
#include "db/postgres/connection_file.h"
#include "db/postgres/dialect.h"
#include "db/postgres/libpq.h"

namespace db {
namespace {

using postgres::QuoteIdentifier;
using postgres::StatementKind;

// Rows a cursor asks the server for at a time: the most a query holds in client memory.
constexpr int kFetchRows = 10000;
// Bytes of inserted rows gathered before they go to the server in one COPY.
constexpr std::size_t kCopyFlushBytes = std::size_t{1} << 20;

// Error fields of the server (SQLSTATE codes) that the layer's numbers tell apart.
constexpr std::string_view kUndefinedTable = "42P01";
constexpr std::string_view kUndefinedColumn = "42703";
constexpr std::string_view kInvalidSchema = "3F000";
constexpr std::string_view kSyntaxClass = "42601";

// Catalogue rows of one schema, by the type names the layer uses. Partitions are left out:
// their rows are read through the partitioned table above them.
constexpr char kCatalogQuery[] =
    "SELECT CASE WHEN n.nspname IN ('pg_catalog', 'information_schema') "
    "OR n.nspname LIKE 'pg\\_%' THEN 'SYSTEM TABLE' "
    "WHEN c.relkind IN ('r', 'p') THEN 'TABLE' WHEN c.relkind = 'f' THEN 'LINK' "
    "ELSE 'VIEW' END, c.relname "
    "FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = $1 AND c.relkind IN ('r', 'p', 'v', 'm', 'f') AND NOT c.relispartition "
    "ORDER BY c.relname";

struct ResultDeleter {
  void operator()(PGresult* r) const { postgres::LibPq().PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// libpq's message without the line breaks it ends with.
std::string Trimmed(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

long ErrorNumber(std::string_view state) {
  if (state == kUndefinedTable || state == kUndefinedColumn || state == kInvalidSchema)
    return errc::kNoSuchObject;
  if (state == kSyntaxClass) return errc::kSyntax;
  return errc::kFailed;
}

// The text of one COPY row: backslash, tab and line breaks escaped as COPY's text format wants.
void AppendCopyRow(std::string& out, const std::string& value) {
  AppendBackslashEscaped(out, value);
  out += '\n';
}

void IgnoreNotice(void*, const char*) {}

class PgSession;

class PgCursor : public Cursor {
 public:
  PgCursor(PgSession& session, std::string name, std::string sql, std::vector<std::string> names,
           unsigned transaction)
      : session_(session),
        name_(std::move(name)),
        sql_(std::move(sql)),
        names_(std::move(names)),
        transaction_(transaction) {}
  ~PgCursor() override;

  const std::vector<std::string>& fieldNames() const override { return names_; }
  bool next(std::vector<Value>& row) override;
  std::optional<long long> count() override;

  const std::string& name() const { return name_; }
  const std::string& sql() const { return sql_; }
  unsigned transaction() const { return transaction_; }

 private:
  PgSession& session_;
  std::string name_;  // the portal's name
  std::string sql_;   // the query in the server's dialect
  std::vector<std::string> names_;
  unsigned transaction_;  // the session's transaction the cursor lives in
  Result batch_;
  int index_ = 0, rows_ = 0;
  bool lastBatch_ = false, done_ = false;
  std::optional<long long> count_;
};

class PgSession : public Session {
 public:
  PgSession(const std::string& path, const std::string& password, OpenMode mode) : path_(path) {
    const PostgresConnectionFile file = ReadPostgresConnectionFile(path);
    std::vector<const char*> keys{"dbname"}, values{file.uri.c_str()};
    // Our settings come after the URI, so they win over the same ones in it.
    if (!password.empty()) {
      keys.push_back("password");
      values.push_back(password.c_str());
    }
    keys.insert(keys.end(), {"client_encoding", "fallback_application_name", nullptr});
    values.insert(values.end(), {"UTF8", "rowsifter", nullptr});
    conn_ = postgres::LibPq().PQconnectdbParams(keys.data(), values.data(), 1);
    if (!conn_) throw Error(errc::kFailed, "Out of memory while connecting to the server.");
    if (postgres::LibPq().PQstatus(conn_) != CONNECTION_OK) {
      Error error = ConnectError();
      postgres::LibPq().PQfinish(conn_);
      throw error;
    }
    postgres::LibPq().PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
    try {
      Setup(file, mode);
    } catch (...) {
      postgres::LibPq().PQfinish(conn_);
      throw;
    }
  }

  ~PgSession() override {
    postgres::LibPq().PQfinish(conn_);
  }  // the server rolls back what is still open

  std::vector<CatalogRow> tables() override {
    Refuse();
    FlushCopy();
    LeaveEndedImplicit();
    const char* params[] = {schema_.c_str()};
    Result r = Run(kCatalogQuery, PGRES_TUPLES_OK, params, 1);
    std::vector<CatalogRow> rows;
    for (int i = 0; i < postgres::LibPq().PQntuples(r.get()); ++i)
      rows.push_back({postgres::LibPq().PQgetvalue(r.get(), i, 0),
                      postgres::LibPq().PQgetvalue(r.get(), i, 1)});
    SortCatalog(rows);
    return rows;
  }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    Refuse();
    postgres::Statement statement = postgres::Translate(sql);
    if (statement.kind != StatementKind::kQuery)
      throw Error(errc::kFailed,
                  "The statement returns no rows, so it cannot be opened as a record set: \"" +
                      sql + "\".");
    FlushCopy();
    LeaveEndedImplicit();
    if (txn_ == Txn::kNone) {
      // The rows of a cursor can only be read inside a transaction; one of ours ends with the
      // last cursor. Repeatable read: the count and the rows come from one snapshot.
      Run("BEGIN ISOLATION LEVEL REPEATABLE READ", PGRES_COMMAND_OK);
      txn_ = Txn::kImplicit;
    }
    std::string name = "rowsifter_rows_" + std::to_string(++serial_);
    try {
      Run("DECLARE " + QuoteIdentifier(name) + " NO SCROLL CURSOR WITHOUT HOLD FOR " +
              statement.text,
          PGRES_COMMAND_OK);
    } catch (...) {
      EndImplicitIfIdle();
      throw;
    }
    Result description(postgres::LibPq().PQdescribePortal(conn_, name.c_str()));
    if (!description || postgres::LibPq().PQresultStatus(description.get()) != PGRES_COMMAND_OK) {
      Error error = Failure(description.get());
      EndImplicitIfIdle();
      throw error;
    }
    std::vector<std::string> names;
    for (int i = 0; i < postgres::LibPq().PQnfields(description.get()); ++i)
      names.emplace_back(postgres::LibPq().PQfname(description.get(), i));
    ++cursors_;
    return std::make_unique<PgCursor>(*this, std::move(name), std::move(statement.text),
                                      std::move(names), transaction_);
  }

  void execute(const std::string& sql) override {
    Refuse();
    postgres::Statement statement = postgres::Translate(sql);
    LeaveEndedImplicit();
    if (txn_ == Txn::kImplicit)
      throw Error(errc::kFailed,
                  "A statement that changes the database cannot run while a record set of the "
                  "same connection is open outside a transaction; close the record set first.");
    if (statement.kind == StatementKind::kInsert && txn_ == Txn::kUser) {
      Buffer(statement);
      return;
    }
    FlushCopy();
    if (!statement.createdTable.empty()) CheckNameLength(statement);
    // A lone insert, outside a transaction, goes as it is (its value as a parameter).
    const bool insert = statement.kind == StatementKind::kInsert;
    if (insert) statement.text = "INSERT INTO " + QuoteIdentifier(statement.table) + " VALUES ($1)";
    const char* value = statement.value.c_str();
    PGresult* raw =
        postgres::LibPq().PQexecParams(conn_, statement.text.c_str(), insert ? 1 : 0, nullptr,
                                       insert ? &value : nullptr, nullptr, nullptr, 0);
    Result r(raw);
    const ExecStatusType status = raw ? postgres::LibPq().PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw Failure(raw);
  }

  void begin() override {
    Refuse();
    if (txn_ == Txn::kUser) throw Error(errc::kFailed, "A transaction is already open.");
    endedByFailure_ = false;
    LeaveEndedImplicit();
    if (txn_ == Txn::kImplicit) {
      // The record sets already open go on inside the caller's transaction.
      txn_ = Txn::kUser;
      return;
    }
    Run("BEGIN ISOLATION LEVEL REPEATABLE READ", PGRES_COMMAND_OK);
    txn_ = Txn::kUser;
  }

  // A commit that fails ends the transaction: the server kept nothing of it, except when the
  // connection broke while the commit was on its way, which is said as it is.
  void commit() override {
    if (txn_ != Txn::kUser) throw Error(errc::kFailed, "There is no open transaction to commit.");
    if (!aborted_) {
      try {
        FlushCopy();
      } catch (const Error&) {
      }
    }
    if (aborted_) {
      Error error = Ended();
      if (!lost_) Result(postgres::LibPq().PQexec(conn_, "ROLLBACK"));
      EndTransaction();
      endedByFailure_ = true;
      throw error;
    }
    PGresult* raw = postgres::LibPq().PQexec(conn_, "COMMIT");
    Result r(raw);
    if (raw && postgres::LibPq().PQresultStatus(raw) == PGRES_COMMAND_OK) {
      // A transaction the server had ended already is rolled back, and says so.
      const bool kept = std::strcmp(postgres::LibPq().PQcmdStatus(raw), "COMMIT") == 0;
      EndTransaction();
      if (kept) return;
      endedByFailure_ = true;
      throw Error(errc::kTransactionEnded,
                  "The server had ended the transaction and rolled it back; nothing of it was "
                  "kept.");
    }
    Error failure = Failure(raw);
    EndTransaction();
    endedByFailure_ = true;
    if (lost_)
      throw Error(errc::kFailed,
                  "The connection to the server broke while the transaction was being "
                  "committed (" +
                      failure.description() +
                      "): whether the server kept it cannot be told here. Look at the "
                      "database before trying again.");
    throw Error(errc::kTransactionEnded,
                "The server refused the commit and rolled the "
                "transaction back; nothing of it was kept (" +
                    failure.description() + ").");
  }

  // After a commit that failed there is nothing left to roll back: nothing is done or said.
  void rollback() override {
    if (txn_ != Txn::kUser) {
      if (endedByFailure_) {
        endedByFailure_ = false;
        return;
      }
      throw Error(errc::kFailed, "There is no open transaction to roll back.");
    }
    copyData_.clear();
    const bool lost = lost_;
    if (!lost) {
      Result r(postgres::LibPq().PQexec(conn_, "ROLLBACK"));
      if (!r || postgres::LibPq().PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
        Error error = Failure(r.get());
        EndTransaction();
        if (!lost_) throw error;  // a broken connection has rolled back by itself
        return;
      }
    }
    EndTransaction();
  }

  // ---- for the cursors --------------------------------------------------------------------

  Result fetch(const PgCursor& cursor) {
    Usable(cursor);
    FlushCopy();
    return Run(
        "FETCH FORWARD " + std::to_string(kFetchRows) + " FROM " + QuoteIdentifier(cursor.name()),
        PGRES_TUPLES_OK);
  }

  long long countRows(const PgCursor& cursor) {
    Usable(cursor);
    FlushCopy();
    Result r = Run("SELECT pg_catalog.count(*) FROM (" + cursor.sql() + ") AS rowsifter_count",
                   PGRES_TUPLES_OK);
    long long count = 0;
    const char* text = postgres::LibPq().PQgetvalue(r.get(), 0, 0);
    std::from_chars(text, text + std::strlen(text), count);
    return count;
  }

  // A cursor going away. Its transaction may be gone already (then so is its portal); the last
  // cursor of our own transaction ends it. Nothing here may throw.
  void cursorClosed(const PgCursor& cursor) noexcept {
    if (cursor.transaction() != transaction_ || txn_ == Txn::kNone) return;
    --cursors_;
    if (txn_ == Txn::kImplicit && cursors_ == 0) {
      if (!lost_) Result(postgres::LibPq().PQexec(conn_, aborted_ ? "ROLLBACK" : "COMMIT"));
      EndTransaction();
      return;
    }
    // Rows waiting to be sent keep the connection busy until the next statement: the portal
    // then goes with the transaction instead.
    if (lost_ || aborted_ || !copyData_.empty()) return;
    const std::string close = "CLOSE " + QuoteIdentifier(cursor.name());
    Result r(postgres::LibPq().PQexec(conn_, close.c_str()));
    if (!r || postgres::LibPq().PQresultStatus(r.get()) != PGRES_COMMAND_OK) (void)Failure(r.get());
  }

 private:
  enum class Txn { kNone, kImplicit, kUser };

  Error ConnectError() const {
    const std::string message = Trimmed(postgres::LibPq().PQerrorMessage(conn_));
    if (postgres::LibPq().PQconnectionNeedsPassword(conn_))
      return Error(errc::kWrongPassword,
                   "The server named in '" + path_ + "' asks for a password (" + message + ").");
    if (message.find("password authentication failed") != std::string::npos)
      return Error(errc::kWrongPassword,
                   "The server named in '" + path_ + "' refused the password (" + message + ").");
    return Error(errc::kFailed,
                 "Cannot connect to the server named in '" + path_ + "': " + message);
  }

  void Setup(const PostgresConnectionFile& file, OpenMode mode) {
    // Plain apostrophe strings, and plans made for reading every row of a cursor rather than
    // its first ones.
    std::string settings = "SET standard_conforming_strings = on; SET cursor_tuple_fraction = 1";
    if (mode == OpenMode::Read) settings += "; SET default_transaction_read_only = on";
    Result set(postgres::LibPq().PQexec(conn_, settings.c_str()));
    if (!set || postgres::LibPq().PQresultStatus(set.get()) != PGRES_COMMAND_OK)
      throw Failure(set.get());

    Result facts =
        Run("SELECT pg_catalog.current_schema(), "
            "pg_catalog.current_setting('max_identifier_length')",
            PGRES_TUPLES_OK);
    maxName_ = std::atoi(postgres::LibPq().PQgetvalue(facts.get(), 0, 1));
    if (file.schema) {
      schema_ = *file.schema;
      const char* params[] = {schema_.c_str()};
      Result found = Run("SELECT 1 FROM pg_catalog.pg_namespace WHERE nspname = $1",
                         PGRES_TUPLES_OK, params, 1);
      if (postgres::LibPq().PQntuples(found.get()) == 0)
        throw Error(errc::kNoSuchObject, "The schema '" + schema_ + "' named in '" + path_ +
                                             "' does not exist in the database.");
    } else {
      if (postgres::LibPq().PQgetisnull(facts.get(), 0, 0))
        throw Error(errc::kFailed,
                    "None of the schemas of the server's search path exists: name one in '" +
                        path_ + "' with a line schema=NAME.");
      schema_ = postgres::LibPq().PQgetvalue(facts.get(), 0, 0);
    }
    // Unqualified names in the statements are the schema's tables, even where a system table
    // has the same name; the tables the export makes go there too.
    const std::string path = QuoteIdentifier(schema_) + ", pg_catalog";
    const char* params[] = {path.c_str()};
    Run("SELECT pg_catalog.set_config('search_path', $1, false)", PGRES_TUPLES_OK, params, 1);
  }

  // Runs one statement (never more: parameters or not, libpq then takes one only).
  Result Run(const std::string& sql, ExecStatusType expected, const char* const* params = nullptr,
             int count = 0) {
    PGresult* raw = postgres::LibPq().PQexecParams(conn_, sql.c_str(), count, nullptr, params,
                                                   nullptr, nullptr, 0);
    Result r(raw);
    if (!raw || postgres::LibPq().PQresultStatus(raw) != expected) throw Failure(raw);
    return r;
  }

  // The error for a failed statement (`r` may be null), noting what it did to the session: a
  // broken connection, and a transaction that the server will now only roll back.
  Error Failure(const PGresult* r) {
    std::string message = Trimmed(r ? postgres::LibPq().PQresultErrorMessage(r) : nullptr);
    if (message.empty()) message = Trimmed(postgres::LibPq().PQerrorMessage(conn_));
    if (message.empty()) message = "the server gave no reason";
    const char* state = r ? postgres::LibPq().PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    if (txn_ != Txn::kNone) {
      aborted_ = true;
      cause_ = message;
    }
    if (postgres::LibPq().PQstatus(conn_) == CONNECTION_BAD) {
      lost_ = true;
      return Error(errc::kFailed,
                   "The connection to the server named in '" + path_ + "' was lost: " + message);
    }
    return Error(state ? ErrorNumber(state) : errc::kFailed, message);
  }

  // The error for a statement after the transaction was ended by a failure.
  Error Ended() const {
    return Error(errc::kTransactionEnded, "The server ended the transaction after a failure (" +
                                              cause_ + "); nothing of it was kept.");
  }

  // Refuses statements that cannot run: after a lost connection, or in a transaction that a
  // failure ended.
  void Refuse() const {
    if (txn_ == Txn::kUser && aborted_) throw Ended();
    if (lost_)
      throw Error(errc::kFailed, "The connection to the server named in '" + path_ +
                                     "' was lost; open the database again.");
  }

  void Usable(const PgCursor& cursor) const {
    if (cursor.transaction() != transaction_ || txn_ == Txn::kNone)
      throw Error(errc::kTransactionEnded,
                  "The transaction the record set was read in has ended; its rows can no longer "
                  "be read.");
    if (aborted_) throw Ended();
    Refuse();
  }

  void Buffer(const postgres::Statement& statement) {
    if (statement.value.find('\0') != std::string::npos)
      throw Error(errc::kFailed, "A text value holding a NUL character cannot be stored.");
    if (!copyData_.empty() && copyTable_ != statement.table) FlushCopy();
    copyTable_ = statement.table;
    AppendCopyRow(copyData_, statement.value);
    if (copyData_.size() >= kCopyFlushBytes) FlushCopy();
  }

  // Sends the gathered rows in one COPY. A failure ends the transaction on the server.
  void FlushCopy() {
    if (copyData_.empty()) return;
    std::string data;
    data.swap(copyData_);
    const std::string sql = "COPY " + QuoteIdentifier(copyTable_) + " FROM STDIN";
    Result start(postgres::LibPq().PQexec(conn_, sql.c_str()));
    if (!start || postgres::LibPq().PQresultStatus(start.get()) != PGRES_COPY_IN)
      throw CopyFailure(start.get());
    if (postgres::LibPq().PQputCopyData(conn_, data.data(), static_cast<int>(data.size())) != 1 ||
        postgres::LibPq().PQputCopyEnd(conn_, nullptr) != 1)
      throw CopyFailure(nullptr);
    Result end(postgres::LibPq().PQgetResult(conn_));
    if (!end || postgres::LibPq().PQresultStatus(end.get()) != PGRES_COMMAND_OK)
      throw CopyFailure(end.get());
    while (PGresult* rest = postgres::LibPq().PQgetResult(conn_)) postgres::LibPq().PQclear(rest);
  }

  Error CopyFailure(const PGresult* r) {
    Error failure = Failure(r);
    while (PGresult* rest = postgres::LibPq().PQgetResult(conn_)) postgres::LibPq().PQclear(rest);
    aborted_ = true;
    cause_ = failure.description();
    return Error(errc::kTransactionEnded,
                 "The server refused the rows written into the table '" + copyTable_ + "' (" +
                     cause_ + ") and ended the transaction; nothing of it was kept.");
  }

  void CheckNameLength(const postgres::Statement& statement) const {
    for (const std::string* name : {&statement.createdTable, &statement.createdColumn})
      if (maxName_ > 0 && name->size() > static_cast<std::size_t>(maxName_))
        throw Error(errc::kFailed, "The name '" + *name + "' is longer than the " +
                                       std::to_string(maxName_) +
                                       " bytes the server keeps of a name.");
  }

  // A failure ended our own transaction: its cursors are gone, and the statements that follow
  // run outside it.
  void LeaveEndedImplicit() noexcept {
    if (txn_ != Txn::kImplicit || !aborted_) return;
    if (!lost_) Result(postgres::LibPq().PQexec(conn_, "ROLLBACK"));
    EndTransaction();
  }

  // After a failed DECLARE no cursor may be left in our own transaction: it ends.
  void EndImplicitIfIdle() noexcept {
    if (txn_ != Txn::kImplicit || cursors_ > 0) return;
    if (!lost_) Result(postgres::LibPq().PQexec(conn_, "ROLLBACK"));
    EndTransaction();
  }

  void EndTransaction() {
    txn_ = Txn::kNone;
    aborted_ = false;
    cause_.clear();
    cursors_ = 0;
    copyData_.clear();
    ++transaction_;
  }

  std::string path_;
  PGconn* conn_ = nullptr;
  std::string schema_;
  int maxName_ = 0;
  Txn txn_ = Txn::kNone;
  unsigned transaction_ = 0;  // counts the transactions ended: a cursor's stamp
  bool aborted_ = false;      // a failure ended the open transaction on the server
  std::string cause_;         // that failure
  bool endedByFailure_ = false;
  bool lost_ = false;
  int cursors_ = 0;  // open cursors of the open transaction
  unsigned serial_ = 0;
  std::string copyTable_, copyData_;  // rows inserted, not yet sent
};

PgCursor::~PgCursor() { session_.cursorClosed(*this); }

bool PgCursor::next(std::vector<Value>& row) {
  if (done_) return false;
  if (index_ >= rows_) {
    if (lastBatch_) {
      done_ = true;
      batch_.reset();
      return false;
    }
    try {
      batch_ = session_.fetch(*this);
    } catch (...) {
      done_ = true;
      batch_.reset();
      throw;
    }
    rows_ = postgres::LibPq().PQntuples(batch_.get());
    index_ = 0;
    lastBatch_ = rows_ < kFetchRows;
    if (rows_ == 0) {
      done_ = true;
      batch_.reset();
      return false;
    }
  }
  const int fields = static_cast<int>(names_.size());
  row.resize(fields);
  PGresult* r = batch_.get();
  for (int i = 0; i < fields; ++i) {
    if (postgres::LibPq().PQgetisnull(r, index_, i)) {
      row[i] = Value::Null();
    } else {
      row[i] = Value::Text(std::string(postgres::LibPq().PQgetvalue(r, index_, i),
                                       postgres::LibPq().PQgetlength(r, index_, i)));
    }
  }
  ++index_;
  return true;
}

std::optional<long long> PgCursor::count() {
  if (!count_) count_ = session_.countRows(*this);
  return count_;
}

}  // namespace

std::unique_ptr<Session> OpenPostgresSession(const std::string& path, const std::string& password,
                                             OpenMode mode) {
  return std::make_unique<PgSession>(path, password, mode);
}

}  // namespace db
