#include "db/connection.h"

#include "db/connection_string.h"

namespace db {
namespace {

[[noreturn]] void ThrowClosed() {
  throw Error(errc::kClosed, "The operation is not allowed when the object is closed.");
}

[[noreturn]] void ThrowNoCurrentRecord() {
  throw Error(errc::kNoCurrentRecord,
              "There is no current record: the end of the rows has been reached.");
}

[[noreturn]] void ThrowNoField(int index) {
  throw Error(errc::kItemNotFound,
              "There is no field number " + std::to_string(index) + " in the record set.");
}

}  // namespace

// ---- Connection ------------------------------------------------------------------------------

Connection::~Connection() = default;

void Connection::open(const std::string& connectionString) {
  if (session_)
    throw Error(errc::kAlreadyOpen, "The operation is not allowed when the object is open.");
  ConnectionSettings settings = ParseConnectionString(connectionString);
  // The engine follows the file's own signature; the provider named in the string is not used.
  session_ = OpenSession(settings.dataSource, settings.password, mode_);
}

void Connection::close() { session_.reset(); }

Session& Connection::session() {
  if (!session_) ThrowClosed();
  return *session_;
}

std::vector<CatalogRow> Connection::tables() {
  std::vector<CatalogRow> rows = session().tables();
  SortCatalog(rows);  // whatever the engine did, callers get one order
  return rows;
}

std::unique_ptr<Recordset> Connection::openRecordset(const std::string& sql) {
  std::unique_ptr<Cursor> cursor = session().query(sql);
  return std::make_unique<Recordset>(session_, std::move(cursor));
}

std::unique_ptr<Recordset> Connection::openRecordset(const std::string& sql,
                                                     const RowFilter& filter) {
  std::unique_ptr<Cursor> cursor = session().queryFiltered(sql, filter);
  return std::make_unique<Recordset>(session_, std::move(cursor));
}

void Connection::execute(const std::string& sql) { session().execute(sql); }
void Connection::beginTrans() { session().begin(); }
void Connection::commitTrans() { session().commit(); }
void Connection::rollbackTrans() { session().rollback(); }

// ---- Recordset -------------------------------------------------------------------------------

Recordset::Recordset(std::shared_ptr<Session> session, std::unique_ptr<Cursor> cursor)
    : session_(std::move(session)), cursor_(std::move(cursor)) {
  fetch();
}

Recordset::~Recordset() { close(); }

int Recordset::fieldCount() const {
  if (!cursor_) ThrowClosed();
  return static_cast<int>(cursor_->fieldNames().size());
}

const std::string& Recordset::fieldName(int index) const {
  if (index < 0 || index >= fieldCount()) ThrowNoField(index);
  return cursor_->fieldNames()[index];
}

const Value& Recordset::value(int index) const {
  if (index < 0 || index >= fieldCount()) ThrowNoField(index);
  if (eof_) ThrowNoCurrentRecord();
  return current_[index];
}

bool Recordset::eof() const {
  if (!cursor_) ThrowClosed();
  return eof_;
}

void Recordset::moveNext() {
  if (!cursor_) ThrowClosed();
  if (eof_) ThrowNoCurrentRecord();
  ++position_;
  fetch();
}

long long Recordset::recordCount() {
  if (!cursor_) ThrowClosed();
  if (!cursorDone_ && ahead_.empty()) {
    // An engine that can have the rows counted where they are keeps them there.
    if (const std::optional<long long> rows = cursor_->count()) return *rows;
  }
  if (!cursorDone_) {
    // Drain the cursor into the buffer; the current row stays current.
    std::vector<Value> row;
    while (cursor_->next(row)) ahead_.push_back(std::move(row));
    cursorDone_ = true;
  }
  return position_ + (eof_ ? 0 : 1) + static_cast<long long>(ahead_.size() - aheadPos_);
}

void Recordset::close() {
  cursor_.reset();  // before the session it came from
  session_.reset();
  ahead_.clear();
  ahead_.shrink_to_fit();
  aheadPos_ = 0;
  current_.clear();
  eof_ = true;
}

void Recordset::fetch() {
  if (aheadPos_ < ahead_.size()) {
    current_ = std::move(ahead_[aheadPos_++]);
    if (aheadPos_ == ahead_.size()) {
      ahead_.clear();
      aheadPos_ = 0;
    }
    return;
  }
  try {
    if (!cursorDone_ && cursor_->next(current_)) return;
  } catch (...) {
    // A row that cannot be read ends the rows; the failure goes to the caller.
    cursorDone_ = true;
    current_.clear();
    eof_ = true;
    throw;
  }
  cursorDone_ = true;
  current_.clear();
  eof_ = true;
}

}  // namespace db
