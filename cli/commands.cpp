#include "cli/commands.h"

#include <fstream>
#include <iostream>
#include <memory>

#include "cli/database.h"
#include "cli/exit_codes.h"
#include "cli/help.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "db/catalog.h"
#include "db/error.h"
#include "db/statements.h"
#include "extract/criteria.h"
#include "extract/export.h"

namespace cli {
namespace {

// A failure of the database while a command reads: a missing table or field has its own code.
[[noreturn]] void ThrowRead(const db::Error& e) {
  throw Failure(e.number() == db::errc::kNoSuchObject ? exitcode::kNotFound
                                                      : exitcode::kDatabaseError,
                Describe(e));
}

// Where a listing goes: standard output, or the --output file.
class Sink {
 public:
  Sink(const Request& request, Environment& env) : name_("standard output"), out_(env.out) {
    if (request.output) {
      name_ = "'" + *request.output + "'";
      file_ = std::make_unique<std::ofstream>();
      file_->rdbuf()->pubsetbuf(buffer_, sizeof buffer_);
      file_->open(*request.output, std::ios::binary | std::ios::trunc);
      if (!file_->is_open())
        throw Failure(exitcode::kWriteFailed, "cannot write to " + name_ + ".");
      out_ = file_.get();
    }
    writer_ = MakeWriter({request.format, request.escape, request.header}, *out_);
  }

  ValueWriter& writer() { return *writer_; }

  // Ends the listing and makes sure every byte was taken.
  void close() {
    writer_->end();
    out_->flush();
    if (file_) file_->close();
    if (!*out_ || (file_ && file_->fail()))
      throw Failure(exitcode::kWriteFailed, "writing to " + name_ + " failed.");
  }

 private:
  std::string name_;
  std::ostream* out_;
  char buffer_[1 << 16];
  std::unique_ptr<std::ofstream> file_;
  std::unique_ptr<ValueWriter> writer_;
};

// The text of a non-Null value, as stored: text values without a copy.
std::string_view TextOf(const db::Value& value, std::string& scratch) {
  if (value.type() == db::Value::Type::Text) return value.text();
  scratch = value.toText();
  return scratch;
}

// A value as it shows in a message: quoted, with control characters escaped.
std::string Quoted(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

int ListNames(const Request& request, const std::vector<std::string>& names,
              std::string_view column, Environment& env) {
  Sink sink(request, env);
  sink.writer().begin(column);
  for (const std::string& name : names) sink.writer().value(name);
  sink.close();
  return exitcode::kOk;
}

int Tables(const Request& request, Environment& env) {
  OpenDatabase db = Open(request, env, db::OpenMode::Read);
  std::vector<std::string> names;
  try {
    names = UserTables(*db.connection);
  } catch (const db::Error& e) {
    ThrowRead(e);
  }
  return ListNames(request, names, "table", env);
}

int Fields(const Request& request, Environment& env) {
  OpenDatabase db = Open(request, env, db::OpenMode::Read);
  std::vector<std::string> names;
  try {
    names = FieldNames(*db.connection, FindTable(*db.connection, request.table));
  } catch (const db::Error& e) {
    ThrowRead(e);
  }
  return ListNames(request, names, "field", env);
}

int Preview(const Request& request, Environment& env) {
  OpenDatabase db = Open(request, env, db::OpenMode::Read);
  try {
    const std::string table = FindTable(*db.connection, request.table);
    const std::string field = FindField(*db.connection, table, request.field);
    auto records = db.connection->openRecordset(db::PreviewStatement(field, table));
    Sink sink(request, env);
    sink.writer().begin(field);
    std::string scratch;
    for (long long shown = 0; !records->eof() && (request.limit == 0 || shown < request.limit);
         ++shown) {
      const db::Value& value = records->value(0);
      if (value.isNull()) {
        sink.writer().null();
      } else {
        sink.writer().value(TextOf(value, scratch));
      }
      records->moveNext();
    }
    records->close();
    sink.close();
  } catch (const db::Error& e) {
    ThrowRead(e);
  }
  return exitcode::kOk;
}

// Walks the distinct values of the request's field and hands each non-Null one that meets the
// criterion to `keep`. Returns the number kept.
template <class Keep>
long long WalkMatches(db::Recordset& records, const extract::Matcher& matcher,
                      ProgressBar& progress, Keep&& keep) {
  if (progress.enabled()) {
    progress.counting();
    progress.start(records.recordCount());
  }
  long long kept = 0;
  std::string scratch;
  while (!records.eof()) {
    const db::Value& value = records.value(0);
    if (!value.isNull()) {
      const std::string_view text = TextOf(value, scratch);
      if (matcher.matches(text)) {
        keep(text);
        ++kept;
      }
    }
    records.moveNext();
    progress.advance();
  }
  progress.finish();
  return kept;
}

int Extract(const Request& request, Environment& env) {
  OpenDatabase db = Open(request, env, db::OpenMode::Read);
  const extract::Matcher matcher(request.criterion, request.chars.value_or(""));
  long long kept = 0;
  try {
    const std::string table = FindTable(*db.connection, request.table);
    const std::string field = FindField(*db.connection, table, request.field);
    auto records = db.connection->openRecordset(db::DistinctValuesStatement(field, table));
    Sink sink(request, env);
    // On one terminal the bar would be drawn in between the values.
    const bool bar = request.progress && env.errIsTerminal && (request.output || !env.outIsTerminal);
    ProgressBar progress(*env.err, bar, "extract");
    sink.writer().begin(field);
    kept = WalkMatches(*records, matcher, progress,
                       [&](std::string_view text) { sink.writer().value(text); });
    records->close();
    sink.close();
  } catch (const db::Error& e) {
    ThrowRead(e);
  }
  return kept > 0 ? exitcode::kOk : exitcode::kNothingMatched;
}

// Rolls back the export's transaction, keeping the failure that made it necessary. After a
// failed commit the engine has ended the transaction itself and this does nothing.
void RollBack(db::Connection& connection, Environment& env) {
  try {
    connection.rollbackTrans();
  } catch (const db::Error& e) {
    *env.err << "rowsifter-cli: the rollback failed too: " << Describe(e) << '\n';
  }
}

constexpr char kNothingChanged[] = " Nothing was changed in the database.";

int Export(const Request& request, Environment& env) {
  // Writing over the table being read would drop the very rows the export is about to read.
  if (extract::SameTableName(request.newTable, request.table))
    throw Failure(exitcode::kTableRefused, "the new table cannot replace the table being read ('" +
                                               request.table + "'); choose another name.");
  OpenDatabase db = Open(request, env, db::OpenMode::ReadWrite);
  db::Connection& connection = *db.connection;
  const std::string& name = request.newTable;  // as given, spaces included
  std::string table, field;
  bool exists = false;
  try {
    table = FindTable(connection, request.table);
    field = FindField(connection, table, request.field);
    exists = db::TableExists(db.connectionString, name);
  } catch (const db::Error& e) {
    ThrowRead(e);
  }
  if (exists && !request.replace)
    throw Failure(exitcode::kTableRefused, "table '" + name +
                                               "' already exists in the database; give --replace "
                                               "to overwrite it.");

  // One transaction for the drop, the new table and its rows: a failure or a kill half-way
  // leaves the database as it was.
  std::unique_ptr<db::Recordset> records;
  // The value the database refused last, with why. Some failures (a full disk, an I/O error)
  // make the database roll the whole transaction back; the statement after such a failure is
  // refused as kTransactionEnded, and the cause to name is the refusal just before.
  std::string lastRefusal;
  auto cause = [&](const db::Error& e) {
    if (e.number() == db::errc::kTransactionEnded && !lastRefusal.empty())
      return "the database rolled the whole export back after refusing " + lastRefusal;
    return Describe(e);
  };
  auto fail = [&](const std::string& what, const db::Error& e) {
    records.reset();
    RollBack(connection, env);
    throw Failure(exitcode::kWriteFailed, what + " failed: " + cause(e) + kNothingChanged);
  };
  auto write = [&](const std::string& what, auto&& action) {
    try {
      action();
    } catch (const db::Error& e) {
      fail(what, e);
    }
  };
  try {
    connection.beginTrans();
  } catch (const db::Error& e) {
    throw Failure(exitcode::kWriteFailed,
                  "cannot start a transaction: " + Describe(e) + kNothingChanged);
  }
  if (exists) write("dropping the old table '" + name + "'", [&] {
    connection.execute(db::DropTableStatement(name));
  });

  long long written = 0, refused = 0;
  bool created = false;
  try {
    records = connection.openRecordset(db::DistinctValuesStatement(field, table));
    if (!records->eof()) {
      write("creating the table '" + name + "'",
            [&] { connection.execute(db::CreateTableStatement(name, field)); });
      created = true;
      ProgressBar progress(*env.err, request.progress && env.errIsTerminal, "export");
      WalkMatches(*records, extract::Matcher(request.criterion, request.chars.value_or("")),
                  progress, [&](std::string_view text) {
                    try {
                      connection.execute(db::InsertStatement(name, std::string(text)));
                      ++written;
                    } catch (const db::Error& e) {
                      progress.finish();
                      // Nothing more can be written once the transaction is gone.
                      if (e.number() == db::errc::kTransactionEnded) fail("writing the values", e);
                      // A value the database refuses is left out; the others are kept.
                      *env.err << "rowsifter-cli: value refused by the database, left out: "
                               << Quoted(text) << ": " << Describe(e) << '\n';
                      lastRefusal = Quoted(text) + ": " + Describe(e);
                      ++refused;
                    }
                  });
    }
    records.reset();  // no statement may still be reading at the commit
  } catch (const db::Error& e) {
    if (e.number() == db::errc::kTransactionEnded) fail("writing the values", e);
    records.reset();
    RollBack(connection, env);
    throw Failure(e.number() == db::errc::kNoSuchObject ? exitcode::kNotFound
                                                        : exitcode::kDatabaseError,
                  "reading the values failed: " + Describe(e) + kNothingChanged);
  }
  write("committing the export", [&] { connection.commitTrans(); });

  if (!created) {
    *env.err << "The field has no values: no table was created"
             << (exists ? " (the old table '" + name + "' was dropped)." : ".") << '\n';
    return exitcode::kNothingMatched;
  }
  *env.err << "Table '" << name << "' created with " << written << (written == 1 ? " row" : " rows");
  if (refused > 0) *env.err << "; " << refused << (refused == 1 ? " value" : " values")
                            << " refused by the database (listed above)";
  *env.err << ".\n";
  if (refused > 0) return exitcode::kWriteFailed;
  return written > 0 ? exitcode::kOk : exitcode::kNothingMatched;
}

}  // namespace

int RunCommand(const Request& request, Environment& env) {
  switch (request.command) {
    case Command::kHelp:
      *env.out << HelpText();
      return exitcode::kOk;
    case Command::kVersion:
      *env.out << "rowsifter-cli " << kVersion << '\n';
      return exitcode::kOk;
    case Command::kCriteria:
      *env.out << CriterionList();
      return exitcode::kOk;
    case Command::kTables:
      return Tables(request, env);
    case Command::kFields:
      return Fields(request, env);
    case Command::kPreview:
      return Preview(request, env);
    case Command::kExtract:
      return Extract(request, env);
    case Command::kExport:
      return Export(request, env);
  }
  return exitcode::kBadArguments;
}

}  // namespace cli
