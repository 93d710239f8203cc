// The export into a possibly damaged Access file (Jet 3, Jet 4 or ACE). The input is the file. As
// the export does, the target opens it for writing, lists its tables, and in one transaction
// creates a one-column table (VARCHAR, or LONGTEXT for a Jet 4 or ACE file of an odd number of
// pages, as --long-text makes it) and inserts a few values, long ones among them (one row of a
// long-value page, a chain of three); then, in a second transaction, drops that table and the
// file's first user table (the drop of --replace). After each transaction:
//   - no journal is left beside the file;
//   - when it failed, the file must be byte for byte what it was before it;
//   - when it was committed, the consistency checker may find no problem the file did not have
//     before (a damaged input has problems of its own), and our reader must list the new table
//     once and read back exactly the values it accepted (after the drop: list neither table).
// A broken rule aborts, and so does any crash or sanitizer report.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/base/error.h"
#include "db/file_format.h"
#include "db/access/check/checker.h"
#include "db/access/write/pager.h"
#include "db/statements.h"
#include "fuzz/fuzz_support.h"

namespace {

// Access 97 files take letters and digits only in a new table's name (db/access/write/index_key.h).
const std::string kNewTable = "Rowsifter Export";
const std::string kJet3NewTable = "RowsifterExport";
const std::string kNewField = "Value";
const std::vector<std::string> kValues = {
    "Alpha", "O'Brien", "", "Zürich 表 😀", std::string(300, 'x'), std::string(5000, 'y') + "\r\n"};

// Pages of 2048 bytes in a Jet 3 file (version byte 0 at 0x14), of 4096 otherwise.
std::size_t PageSizeOf(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;
}

// A file's pages for the checker, from bytes already read.
class BytePages : public db::access::format::PageIo {
 public:
  explicit BytePages(const std::vector<std::uint8_t>& bytes)
      : bytes_(bytes), pageSize_(PageSizeOf(bytes)) {}
  std::size_t pageSize() const override { return pageSize_; }
  std::uint32_t pageCount() const override {
    return static_cast<std::uint32_t>(bytes_.size() / pageSize_);
  }
  std::vector<unsigned char> readPage(std::uint32_t page) const override {
    auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(page * pageSize_);
    return std::vector<unsigned char>(first, first + static_cast<std::ptrdiff_t>(pageSize_));
  }
  void writePage(std::uint32_t, const std::vector<unsigned char>&) override { std::abort(); }
  std::uint32_t appendPage(const std::vector<unsigned char>&) override { std::abort(); }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t pageSize_;
};

// The checker's findings on a file's bytes.
db::access::check::JetCheckReport Findings(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() % PageSizeOf(bytes) != 0)
    return {{"the file is not a whole number of pages"}, {}};
  return db::access::check::CheckJetPages(BytePages(bytes));
}

std::string Connect(const std::string& path) { return db::BuildConnectionString(path, ""); }

// With ROWSIFTER_FUZZ_VERBOSE set, says on standard error what became of each step (for running
// one input by hand).
void Say(const std::string& text) {
  static const bool verbose = std::getenv("ROWSIFTER_FUZZ_VERBOSE") != nullptr;
  if (verbose) std::fprintf(stderr, "export fuzz: %s\n", text.c_str());
}

// Runs one transaction of statements through the layer, as the export does: a value the database
// refuses is left out and the others are kept. Returns whether it was committed.
template <class Body>
bool Transaction(db::Connection& connection, Body&& body) {
  try {
    connection.beginTrans();
  } catch (const db::Error&) {
    return false;
  }
  try {
    body();
    connection.commitTrans();
    return true;
  } catch (const db::Error& e) {
    Say("transaction refused: " + e.description());
    try {
      connection.rollbackTrans();
    } catch (const db::Error&) {
    }
    return false;
  }
}

// Checks the file after one transaction against its bytes and findings before it.
void CheckOutcome(const std::string& path, bool committed, const std::vector<std::uint8_t>& bytes,
                  const db::access::check::JetCheckReport& findings, const char* step) {
  for (const std::string& problem : findings.problems) Say("problem before: " + problem);
  // The session is closed: a journal left now would be played into the file at its next opening.
  if (std::filesystem::exists(db::access::write::JournalPath(path)))
    fuzz::Violation(std::string(step) + " left a journal beside the file");
  if (!committed) {
    if (fuzz::ReadWholeFile(path) != bytes)
      fuzz::Violation(std::string(step) + " failed but the file changed");
    return;
  }
  const std::string found =
      db::access::check::NewProblem(findings, Findings(fuzz::ReadWholeFile(path)));
  if (!found.empty()) fuzz::Violation(std::string(step) + " left a new problem: " + found);
}

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t maxSize, unsigned seed) {
  return fuzz::MutateDatabaseFile(data, size, maxSize, seed);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const db::FileFormat format = db::SniffFileFormat(data, size);
  if (format != db::FileFormat::Jet3 && format != db::FileFormat::Jet4 &&
      format != db::FileFormat::Ace)
    return 0;
  const std::string path = fuzz::WriteScratchFile("input.mdb", data, size);
  const std::string& newTable = format == db::FileFormat::Jet3 ? kJet3NewTable : kNewTable;

  std::vector<std::uint8_t> bytes(data, data + size);
  db::access::check::JetCheckReport findings = Findings(bytes);
  std::vector<std::string> accepted;
  std::string oldTable;
  bool created = false;
  {
    db::Connection connection;
    connection.setMode(db::OpenMode::ReadWrite);
    try {
      connection.open(Connect(path));
      std::vector<std::string> tables = fuzz::UserTables(connection);
      if (std::find(tables.begin(), tables.end(), newTable) != tables.end()) {
        fuzz::ClearScratch();
        return 0;
      }
      if (!tables.empty()) oldTable = tables.front();
    } catch (const db::Error& e) {
      Say("not read: " + e.description());
      fuzz::ClearScratch();
      return 0;  // a file the program cannot read is never written
    }

    created = Transaction(connection, [&] {
      const bool longText = PageSizeOf(bytes) == 4096 && (size / 4096) % 2 == 1;
      connection.execute(db::CreateTableStatement(newTable, kNewField, longText));
      for (const std::string& value : kValues) {
        try {
          connection.execute(db::InsertStatement(newTable, value));
          accepted.push_back(value);
        } catch (const db::Error& e) {
          Say("value refused: " + e.description());
        }
      }
    });
  }
  Say(created ? "export committed" : "export refused");
  CheckOutcome(path, created, bytes, findings, "the export");

  if (created) {
    db::Connection reader;
    reader.setMode(db::OpenMode::Read);
    std::vector<std::string> values;
    try {
      reader.open(Connect(path));
      std::vector<std::string> tables = fuzz::UserTables(reader);
      if (std::count(tables.begin(), tables.end(), newTable) != 1)
        fuzz::Violation("after the export the new table is listed " +
                        std::to_string(std::count(tables.begin(), tables.end(), newTable)) +
                        " times");
      auto rows = reader.openRecordset(db::PreviewStatement(kNewField, newTable));
      for (; !rows->eof(); rows->moveNext()) values.push_back(rows->value(0).toText());
    } catch (const db::Error& e) {
      fuzz::Violation("the new table cannot be read back: " + e.description());
    }
    std::sort(values.begin(), values.end());
    std::sort(accepted.begin(), accepted.end());
    if (values != accepted)
      fuzz::Violation("the new table reads back " + std::to_string(values.size()) +
                      " values, not the " + std::to_string(accepted.size()) + " accepted");

    bytes = fuzz::ReadWholeFile(path);
    findings = Findings(bytes);
    bool dropped = false;
    {
      db::Connection connection;
      connection.setMode(db::OpenMode::ReadWrite);
      try {
        connection.open(Connect(path));
      } catch (const db::Error& e) {
        fuzz::Violation("the file cannot be opened after the export: " + e.description());
      }
      dropped = Transaction(connection, [&] {
        connection.execute(db::DropTableStatement(newTable));
        if (!oldTable.empty()) connection.execute(db::DropTableStatement(oldTable));
      });
    }
    Say(dropped ? "drop committed" : "drop refused");
    CheckOutcome(path, dropped, bytes, findings, "the drop");
    if (dropped) {
      db::Connection after;
      after.setMode(db::OpenMode::Read);
      try {
        after.open(Connect(path));
        for (const std::string& table : fuzz::UserTables(after))
          if (table == newTable || table == oldTable)
            fuzz::Violation("the dropped table '" + table + "' is still listed");
      } catch (const db::Error& e) {
        fuzz::Violation("the file cannot be read after the drop: " + e.description());
      }
    }
  }
  fuzz::ClearScratch();
  return 0;
}
