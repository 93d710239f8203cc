// Exports into files damaged the ways the export's fuzz target found harmful: a new Jet 4 or ACE
// file with one structure changed at the byte level. The reader or the writer refuses each as
// damage, and the file stays byte for byte as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "db/base/error.h"
#include "db/access/write/new_database.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

constexpr std::size_t kPage = 4096;

void Put16(std::string& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}
unsigned Get16(const std::string& bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

// Where the entry of column `i` of the definition on `page` starts (Jet 4 and ACE layout: the
// columns follow the 63-byte head and 12 bytes per real index).
std::size_t ColumnEntry(const std::string& bytes, std::uint32_t page, unsigned i) {
  const std::size_t def = page * kPage;
  const unsigned realIndexes = Get16(bytes, def + 51);
  return def + 63 + 12 * realIndexes + 25 * i;
}

// Where the entry of the column numbered `number` starts.
std::size_t ColumnNumbered(const std::string& bytes, std::uint32_t page, unsigned number) {
  for (unsigned i = 0; i < Get16(bytes, page * kPage + 45); ++i)
    if (Get16(bytes, ColumnEntry(bytes, page, i) + 5) == number) return ColumnEntry(bytes, page, i);
  ADD_FAILURE() << "no column numbered " << number;
  return 0;
}

struct Damage {
  const char* what;
  std::function<void(std::string& bytes)> apply;
};

// The first data page of the catalogue (its definition is page 2).
std::size_t CatalogueDataPage(const std::string& bytes) {
  for (std::size_t at = 3 * kPage; at + kPage <= bytes.size(); at += kPage)
    if (bytes[at] == 0x01 && Get16(bytes, at + 4) == 2 && Get16(bytes, at + 6) == 0) return at;
  ADD_FAILURE() << "no data page of the catalogue";
  return 0;
}

const Damage kDamages[] = {
    // The catalogue's first column numbered as the column count says no row has: the null mask
    // of a new catalogue row has no bit for it.
    {"a catalogue column numbered at the column count",
     [](std::string& b) { Put16(b, ColumnEntry(b, 2, 0) + 5, Get16(b, 2 * kPage + 41)); }},
    {"a catalogue column numbered far past the column count",
     [](std::string& b) { Put16(b, ColumnEntry(b, 2, 0) + 5, 200); }},
    {"a catalogue definition whose rows hold no column",
     [](std::string& b) { Put16(b, 2 * kPage + 41, 0); }},
    // Catalogue columns of type Long that hold fewer than four bytes: the writer reads their
    // values as numbers for its index keys.
    {"a catalogue Long column two bytes long",
     [](std::string& b) { Put16(b, ColumnNumbered(b, 2, 1) + 23, 2); }},
    {"a catalogue Long column not fixed",
     [](std::string& b) { b[ColumnNumbered(b, 2, 1) + 15] &= ~0x01; }},
    // A catalogue page that lost its last row from its count: the index still names that row,
    // and a new row would take its number.
    {"a catalogue data page whose row count is one short",
     [](std::string& b) {
       const std::size_t at = CatalogueDataPage(b);
       Put16(b, at + 12, Get16(b, at + 12) - 1);
     }},
};

TEST(DamagedExportTest, DamageTheWriterMeetsIsRefusedAndChangesNothing) {
  for (db::access::write::NewDatabaseFormat format :
       {db::access::write::NewDatabaseFormat::kJet4, db::access::write::NewDatabaseFormat::kAce}) {
    for (const Damage& damage : kDamages) {
      SCOPED_TRACE(std::string(damage.what) +
                   (format == db::access::write::NewDatabaseFormat::kJet4 ? " (Jet 4)" : " (ACE)"));
      testsupport::TempDir dir;
      const std::string path = dir.file("damaged.mdb");
      db::access::write::CreateEmptyDatabase(path, format, 45000.25);
      std::string bytes = FileBytes(path);
      damage.apply(bytes);
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

      std::unique_ptr<db::Session> session;
      try {
        session = OpenRw(path);
        UserTables(*session);
      } catch (const db::Error& e) {
        EXPECT_EQ(e.kind(), db::ErrorKind::kBadFormat) << e.description();
        session.reset();
        EXPECT_EQ(FileBytes(path), bytes) << "the refused opening changed the file";
        continue;
      }
      session->begin();
      try {
        session->execute(db::CreateTableStatement("Export", "Value"));
        session->execute(db::InsertStatement("Export", "a value"));
        session->commit();
        ADD_FAILURE() << "the export was not refused";
      } catch (const db::Error& e) {
        EXPECT_EQ(e.kind(), db::ErrorKind::kBadFormat) << e.description();
        try {
          session->rollback();
        } catch (const db::Error&) {
        }
      }
      session.reset();
      EXPECT_EQ(FileBytes(path), bytes) << "the refused export changed the file";
    }
  }
}

// Files Access made, each with the bytes the export's fuzz target changed to find a way the
// writer once damaged a file. The export (a new table, a few values) and the drop of --replace
// (the new table and the file's first table) are each refused with the file left as it was, or
// committed without a problem the checker did not find before.
struct ByteEdit {
  std::uint32_t page;
  std::size_t offset;
  unsigned char from, to;
};
struct FoundDamage {
  const char* fixture;
  std::vector<ByteEdit> edits;
  const char* what;
};

const FoundDamage kFound[] = {
    {"ace12-empty-2007.accdb", {{64, 12, 0x15, 0x00}}, "a table's data page lost its row count"},
    {"ace12-empty-2007.accdb", {{70, 18, 0x31, 0x32}}, "a long-value map names a live page"},
    {"ace12-empty-2007.accdb", {{28, 4040, 0x00, 0x6f}}, "a page map names another table's page"},
    {"ace16-deleted-column.accdb",
     {{1, 4044, 0x00, 0x01}},
     "the file's map marks a definition free"},
    {"ace12-empty-2007.accdb", {{1, 4034, 0x00, 0x02}}, "the file's map marks a data page free"},
    {"ace16-deleted-column.accdb",
     {{36, 4028, 0x00, 0x43}, {36, 4041, 0x00, 0x14}},
     "a page map names pages that are no data pages"},
    {"ace16-longtext.accdb", {{13, 4044, 0x00, 0x40}}, "a page map names an index page"},
    {"ace12-empty-2007.accdb", {{1, 4039, 0x00, 0xff}}, "the file's map marks definitions free"},
    {"ace16-deleted-column.accdb", {{1, 4040, 0x00, 0x10}}, "the file's map marks a map page free"},
    {"ace12-empty-2007.accdb",
     {{1, 4030, 0x00, 0x01}, {13, 3, 0x0e, 0x00}},
     "the file's map window moved past the file; a page's free space wrong"},
    {"jet4-empty-2000.mdb",
     {{9, 785, 0x30, 0x35}},
     "an index entry names a row past its page's count"},
    {"jet4-nopassword-2003.mdb",
     {{7, 957, 0x38, 0x36}},
     "a catalogue index entry under another key"},
};

// Runs `body` in a transaction of a new session on `path`; returns whether it was committed.
// A refusal must leave the file as it was.
template <class Body>
bool Step(const std::string& path, Body&& body) {
  const std::string before = FileBytes(path);
  bool committed = false;
  try {
    std::unique_ptr<db::Session> session = OpenRw(path);
    session->begin();
    try {
      body(*session);
      session->commit();
      committed = true;
    } catch (const db::Error& e) {
      EXPECT_EQ(e.kind(), db::ErrorKind::kBadFormat) << e.description();
      try {
        session->rollback();
      } catch (const db::Error&) {
      }
    }
  } catch (const db::Error& e) {
    EXPECT_EQ(e.kind(), db::ErrorKind::kBadFormat) << e.description();
  }
  if (!committed) {
    EXPECT_EQ(FileBytes(path), before) << "a refused step changed the file";
  }
  return committed;
}

TEST(DamagedExportTest, RealFilesWithTheDamageTheFuzzerFound) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const FoundDamage& found : kFound) {
    SCOPED_TRACE(std::string(found.fixture) + ": " + found.what);
    testsupport::TempDir dir;
    const std::string path = dir.copyFixture(found.fixture);
    std::string bytes = FileBytes(path);
    for (const ByteEdit& e : found.edits) {
      char& at = bytes[e.page * kPage + e.offset];
      ASSERT_EQ(static_cast<unsigned char>(at), e.from);
      at = static_cast<char>(e.to);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

    std::string oldTable;
    db::access::check::JetCheckReport before = db::access::check::CheckJetFile(path);
    const bool exported = Step(path, [&](db::Session& s) {
      std::vector<std::string> tables = UserTables(s);
      if (!tables.empty()) oldTable = tables.front();
      s.execute(db::CreateTableStatement("Export", "Value"));
      for (const char* value : {"Alpha", "O'Brien", "Zürich 表"})
        s.execute(db::InsertStatement("Export", value));
    });
    if (!exported) continue;
    EXPECT_EQ(db::access::check::NewProblem(before, db::access::check::CheckJetFile(path)), "")
        << "after the export";
    {
      std::unique_ptr<db::Session> reader = db::OpenSession(path, "", db::OpenMode::Read);
      EXPECT_EQ(Column(*reader, "Export"),
                (std::vector<std::string>{"Alpha", "O'Brien", "Zürich 表"}));
    }
    before = db::access::check::CheckJetFile(path);
    const bool dropped = Step(path, [&](db::Session& s) {
      s.execute(db::DropTableStatement("Export"));
      if (!oldTable.empty()) s.execute(db::DropTableStatement(oldTable));
    });
    if (dropped) {
      EXPECT_EQ(db::access::check::NewProblem(before, db::access::check::CheckJetFile(path)), "")
          << "after the drop";
    }
  }
}

}  // namespace
}  // namespace enginetest
