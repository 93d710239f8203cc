#include "cli/commands.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "cli/database.h"
#include "cli/exit_codes.h"
#include "cli/help.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "db/catalog.h"
#include "db/base/error.h"
#include "db/statements.h"
#include "extract/criteria.h"
#include "extract/table_export.h"
#include "extract/value_walk.h"

namespace cli {
namespace {

// A failure of the database while a command reads: a missing table or field has its own code.
[[noreturn]] void ThrowRead(const db::Error& e) {
  throw Failure(
      e.number() == db::errc::kNoSuchObject ? exitcode::kNotFound : exitcode::kDatabaseError,
      Describe(e));
}

// Where a listing goes: standard output, or the --output file.
class Sink {
 public:
  Sink(const Request& request, Environment& env) : name_("standard output"), out_(env.out) {
    if (request.output) {
      name_ = "'" + *request.output + "'";
      // Truncating the output must never empty the database being read (a link to it
      // included).
      std::error_code ec;
      if (std::filesystem::equivalent(*request.output, request.database, ec))
        throw Failure(exitcode::kWriteFailed, "cannot write to " + name_ +
                                                  ": it is the database itself. Choose another "
                                                  "output file.");
      file_ = std::make_unique<std::ofstream>();
      file_->rdbuf()->pubsetbuf(buffer_, sizeof buffer_);
      errno = 0;
      file_->open(*request.output, std::ios::binary | std::ios::trunc);
      if (!file_->is_open()) {
        // The system's reason ("No such file or directory", "Permission denied").
        const int reason = errno;
        throw Failure(exitcode::kWriteFailed,
                      "cannot write to " + name_ +
                          (reason != 0 ? ": " + std::generic_category().message(reason) : "") +
                          ".");
      }
      out_ = file_.get();
    }
    writer_ = MakeWriter({request.format, request.escape, request.header}, *out_);
  }

  ValueWriter& writer() { return *writer_; }
  // "standard output", or the file's name in quotes.
  const std::string& name() const { return name_; }

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
        sink.writer().value(extract::TextOf(value, scratch));
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

// Drives the walk over the values (extract/value_walk.h) as the command line does: to the end
// of the record set, each part as it is (a failure ends the walk), one criterion for every
// value, the progress bar moved on after each row.
class PlainWalk {
 public:
  PlainWalk(db::Recordset& records, std::optional<extract::Criterion> criterion,
            ProgressBar& progress)
      : records_(records), criterion_(criterion), progress_(progress) {}

  bool more(long long) const { return !records_.eof(); }
  void beforeRow(long long) {}
  template <class F>
  bool read(F&& part) {
    return part();
  }
  std::optional<extract::Criterion> criterion() const { return criterion_; }
  template <class F>
  bool test(extract::Criterion, F&& part) {
    return part();
  }
  template <class F>
  void keep(extract::Criterion, F&& part) {
    part();
  }
  void afterRow(long long) {}
  template <class F>
  void next(F&& part) {
    part();
    progress_.advance();
  }

  // Around a walk: the bar counts the rows first and is wiped after the last.
  void start() {
    if (progress_.enabled()) {
      progress_.counting();
      progress_.start(records_.recordCount());
    }
  }
  void finish() { progress_.finish(); }

 private:
  db::Recordset& records_;
  std::optional<extract::Criterion> criterion_;
  ProgressBar& progress_;
};

// The export's walk: a value that the database refuses goes to `refused`, which leaves it out or
// ends the export; the values written are counted.
class ExportWalk : public PlainWalk {
 public:
  ExportWalk(db::Recordset& records, std::optional<extract::Criterion> criterion,
             ProgressBar& progress, std::function<void(const db::Error&)> refused)
      : PlainWalk(records, criterion, progress), refused_(std::move(refused)) {}

  template <class F>
  void keep(extract::Criterion, F&& part) {
    try {
      part();
      ++written_;
    } catch (const db::Error& e) {
      refused_(e);
    }
  }
  long long written() const { return written_; }

 private:
  std::function<void(const db::Error&)> refused_;
  long long written_ = 0;
};

int Extract(const Request& request, Environment& env) {
  OpenDatabase db = Open(request, env, db::OpenMode::Read);
  const extract::Matcher matcher(request.criterion, request.chars.value_or(""));
  long long kept = 0;
  try {
    const std::string table = FindTable(*db.connection, request.table);
    const std::string field = FindField(*db.connection, table, request.field);
    // The engine may pass over the values that fail the criterion before DISTINCT holds them.
    auto records = db.connection->openRecordset(db::DistinctValuesStatement(field, table),
                                                extract::WalkFilter(matcher, request.criterion));
    Sink sink(request, env);
    // On one terminal the bar would be drawn in between the values.
    const bool bar =
        request.progress && env.errIsTerminal && (request.output || !env.outIsTerminal);
    ProgressBar progress(*env.err, bar, "extract");
    sink.writer().begin(field);
    PlainWalk walk(*records, request.criterion, progress);
    walk.start();
    extract::WalkValues(walk, records, matcher, [&](std::string_view text) {
      sink.writer().value(text);
      ++kept;
    });
    walk.finish();
    records->close();
    sink.close();
    // Someone at a terminal learns how many values came; standard output keeps the values alone.
    if (env.errIsTerminal)
      *env.err << kept << (kept == 1 ? " value" : " values") << " written to " << sink.name()
               << ".\n";
  } catch (const db::Error& e) {
    ThrowRead(e);
  }
  return kept > 0 ? exitcode::kOk : exitcode::kNothingMatched;
}

// Rolls back the export's transaction, keeping the failure that made it necessary. After a
// failed commit the engine has ended the transaction itself and this does nothing.
void RollBack(extract::TableExport& out, Environment& env) {
  try {
    out.rollBack();
  } catch (const db::Error& e) {
    *env.err << "rowsifter-cli: the rollback failed too: " << Describe(e) << '\n';
  }
}

constexpr char kNothingChanged[] = " Nothing was changed in the database.";

int Export(const Request& request, Environment& env) {
  // Writing over the table being read would drop the very rows the export is about to read.
  if (extract::ReplacesSource(request.newTable, request.table))
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

  // The same export as the window's, in one transaction: a failure or a kill half-way leaves
  // the database as it was.
  extract::TableExport out(connection, name);
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
    out.closeValues();
    RollBack(out, env);
    // A half-written commit says itself what became of the file.
    throw Failure(exitcode::kWriteFailed,
                  what + " failed: " + cause(e) +
                      (e.kind() == db::ErrorKind::kHalfWritten ? "" : kNothingChanged));
  };
  auto write = [&](const std::string& what, auto&& action) {
    try {
      action();
    } catch (const db::Error& e) {
      fail(what, e);
    }
  };
  try {
    out.begin();
  } catch (const db::Error& e) {
    throw Failure(exitcode::kWriteFailed,
                  "cannot start a transaction: " + Describe(e) + kNothingChanged);
  }
  if (exists) write("dropping the old table '" + name + "'", [&] { out.dropOld(); });

  long long written = 0, refused = 0;
  bool created = false;
  try {
    out.openValues(field, table);
    db::Recordset& records = *out.values();
    if (!records.eof()) {
      write("creating the table '" + name + "'", [&] { out.create(field, request.longText); });
      created = true;
      ProgressBar progress(*env.err, request.progress && env.errIsTerminal, "export");
      std::string_view current;  // the value being written
      ExportWalk walk(records, request.criterion, progress, [&](const db::Error& e) {
        progress.finish();
        // Nothing more can be written once the transaction is gone.
        if (e.number() == db::errc::kTransactionEnded) fail("writing the values", e);
        // A value the database refuses is left out; the others are kept.
        *env.err << "rowsifter-cli: value refused by the database, left out: " << Quoted(current)
                 << ": " << Describe(e) << '\n';
        lastRefusal = Quoted(current) + ": " + Describe(e);
        ++refused;
      });
      walk.start();
      extract::WalkValues(walk, out.values(),
                          extract::Matcher(request.criterion, request.chars.value_or("")),
                          [&](std::string_view text) {
                            current = text;
                            out.insert(text);
                          });
      walk.finish();
      written = walk.written();
    }
    out.closeValues();  // no statement may still be reading at the commit
  } catch (const db::Error& e) {
    if (e.number() == db::errc::kTransactionEnded) fail("writing the values", e);
    out.closeValues();
    RollBack(out, env);
    throw Failure(
        e.number() == db::errc::kNoSuchObject ? exitcode::kNotFound : exitcode::kDatabaseError,
        "reading the values failed: " + Describe(e) + kNothingChanged);
  }
  write("committing the export", [&] { out.commit(); });

  if (!created) {
    *env.err << "The field has no values: no table was created"
             << (exists ? " (the old table '" + name + "' was dropped)." : ".") << '\n';
    return exitcode::kNothingMatched;
  }
  *env.err << "Table '" << name << "' created with " << written
           << (written == 1 ? " row" : " rows");
  if (refused > 0)
    *env.err << "; " << refused << (refused == 1 ? " value" : " values")
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
