// The database layer that the program talks to: a Connection opened with a connection string,
// the table catalogue, statements opened as record sets or executed, and transactions.
// Failures are db::Error, whose description the error report shows unchanged.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/base/engine.h"
#include "db/base/error.h"
#include "db/base/value.h"

namespace db {

class Recordset;

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Access mode for the next open(); Unknown (the default) reads and writes, like ReadWrite.
  void setMode(OpenMode mode) { mode_ = mode; }
  OpenMode mode() const { return mode_; }

  // Opens the database named by the connection string. Throws db::Error.
  void open(const std::string& connectionString);
  bool isOpen() const { return session_ != nullptr; }
  void close();

  // The tables rowset: (type, name) rows sorted by type, then by name ignoring case.
  std::vector<CatalogRow> tables();

  // Opens SQL text as a record set (static: its exact row count can be asked for).
  std::unique_ptr<Recordset> openRecordset(const std::string& sql);
  // The same, telling the engine how the caller tests the rows, so that it may leave out those
  // that fail the test early (see RowFilter): the record set may then hold fewer rows.
  std::unique_ptr<Recordset> openRecordset(const std::string& sql, const RowFilter& filter);

  // Runs SQL text that returns no rows.
  void execute(const std::string& sql);

  void beginTrans();
  void commitTrans();
  void rollbackTrans();

 private:
  Session& session();

  OpenMode mode_ = OpenMode::Unknown;
  std::shared_ptr<Session> session_;
};

// Rows of one statement, read lazily: opening reads the field names and at most the first row;
// recordCount() asks the engine for the count where it can tell it without handing the rows
// over, else reads to the end (keeping the rows); either way the position stays where it was.
class Recordset {
 public:
  Recordset(std::shared_ptr<Session> session, std::unique_ptr<Cursor> cursor);
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  int fieldCount() const;
  const std::string& fieldName(int index) const;
  // Value of a field in the current row. Throws db::Error at the end of the rows.
  const Value& value(int index) const;
  bool eof() const;
  void moveNext();
  // The exact number of rows.
  long long recordCount();
  void close();
  bool isOpen() const { return cursor_ != nullptr; }

 private:
  void fetch();  // makes the next row current (from the buffer or the cursor)

  std::shared_ptr<Session> session_;
  std::unique_ptr<Cursor> cursor_;
  std::vector<std::vector<Value>> ahead_;  // rows read ahead by recordCount()
  std::size_t aheadPos_ = 0;
  std::vector<Value> current_;
  bool eof_ = false;
  long long position_ = 0;  // rows moved past
  bool cursorDone_ = false;
};

}  // namespace db
