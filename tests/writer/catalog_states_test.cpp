// Exports, replaces and drops on copies of Access files whose catalogue holds rows in the states
// Access leaves them in: deleted rows that keep their bytes (as Access made them in the
// fixtures), a moved catalogue row (made here at the byte level as Access moves a row that grew:
// the row keeps its place and size and names its data, which sits in another row marked as moved
// data), and rows packed by many earlier exports. After each step all three readers must list
// the same tables with the same rows, and our checker must find nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <QString>
#include <set>

#include "db/base/error.h"
#include "db/access/format/header.h"
#include "db/access/write/table_rows.h"
#include "db/access/write/usage_map.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"
#include "tests/writer/index_catalog_support.h"

namespace enginetest {
namespace {

using db::access::write::Bytes;
using db::access::write::RowRef;
using testsupport::TempDir;

void WriteBytes(const std::string& path, const indextest::MemoryPageIo& io) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::uint32_t p = 0; p < io.pageCount(); ++p)
    out.write(reinterpret_cast<const char*>(io.page(p)), 4096);
}

// Moves the catalogue row of the object `name` as Access moves a row that grew: its data goes
// into a new row (on the first catalogue page with room) marked 0x8000, and the row itself keeps
// its place and size, is marked 0x4000 and names the new row in its first four bytes.
void MoveCatalogRow(const std::string& path, const std::u16string& name) {
  indextest::MemoryPageIo io = indextest::MemoryPageIo::FromFile(path);
  auto header = db::access::format::ParseJetHeader(io.page(0), 4096);
  ASSERT_TRUE(header && header->pageKey == 0) << "the test edits unencoded pages only";
  db::access::write::PageAllocator pages(io);
  db::access::write::TableRows objects(io, pages, 2);
  int nameColumn = objects.def().find(u"Name");
  std::optional<RowRef> where;
  objects.scan([&](RowRef at, const std::vector<db::access::write::RowValue>& v) {
    if (v[nameColumn] && db::access::write::DecodeText(*v[nameColumn]) == name) where = at;
    return !where;
  });
  ASSERT_TRUE(where) << "no catalogue row to move";

  Bytes source = io.readPage(where->page);
  db::access::write::RowSlot slot = db::access::write::DataRowSlot(source, where->row);
  ASSERT_TRUE(slot.live());
  Bytes data(source.begin() + static_cast<std::ptrdiff_t>(slot.start),
             source.begin() + static_cast<std::ptrdiff_t>(slot.end));
  std::optional<RowRef> to;
  for (std::uint32_t p : db::access::write::UsageMap(io, objects.def().ownedPages).pages()) {
    Bytes target = p == where->page ? source : io.readPage(p);
    if (target[0] != 0x01 || db::access::write::DataPageOwner(target) != 2) continue;
    if (std::optional<unsigned> r = db::access::write::InsertDataRow(target, data)) {
      unsigned char* word = &target[db::access::write::kDataHeader + 2 * *r];
      db::access::write::Put16(word,
                               db::access::write::Get16(word) | db::access::write::kRowMovedData);
      if (p == where->page)
        source = target;
      else
        io.writePage(p, target);
      to = RowRef{p, *r};
      break;
    }
  }
  ASSERT_TRUE(to) << "no catalogue page has room for the moved data";
  slot = db::access::write::DataRowSlot(source, where->row);  // the page may have been packed
  unsigned char* at = &source[slot.start];
  at[0] = static_cast<unsigned char>(to->row);
  at[1] = static_cast<unsigned char>(to->page);
  at[2] = static_cast<unsigned char>(to->page >> 8);
  at[3] = static_cast<unsigned char>(to->page >> 16);
  unsigned char* word = &source[db::access::write::kDataHeader + 2 * where->row];
  db::access::write::Put16(word, db::access::write::Get16(word) | db::access::write::kRowMoved);
  io.writePage(where->page, source);
  WriteBytes(path, io);
}

std::set<std::string> TableNames(const std::string& path, const std::string& pw) {
  std::set<std::string> names;
  for (const auto& t : testsupport::ReadWithOurLayer(path, pw).tables) names.insert(t.name);
  return names;
}

void ExpectTables(const std::string& path, const std::string& pw, std::set<std::string> want,
                  const std::string& when) {
  SCOPED_TRACE(when);
  ExpectSoundFile(path, pw);
  EXPECT_EQ(TableNames(path, pw), want);
  std::set<std::string> libmdb;
  for (const auto& t : testsupport::ReadWithLibmdb(path).tables) libmdb.insert(t.name);
  EXPECT_EQ(libmdb, want) << "libmdb";
}

struct StateFile {
  const char* fixture;
  const char* password;
  const char16_t* moved;  // the object whose catalogue row is moved first, if any
  const char* dropped;    // a table Access made, dropped at the end
};

const StateFile kStates[] = {
    // Access's own deleted catalogue rows, bytes kept.
    {"jet4-password-2000.mdb", "password", nullptr, "Table1"},
    {"jet4-numeric-2003.mdb", "", nullptr, "test"},
    // A moved user-table row, and a moved row of the "Tables" container every new table hangs
    // under (ace12-empty-2007 also holds deleted catalogue rows).
    {"ace14-test-2010.accdb", "", u"Table2", "Table2"},
    {"jet4-nopassword-2003.mdb", "", u"Table1", "Table1"},
    {"ace12-empty-2007.accdb", "", u"Tables", nullptr},
};

TEST(CatalogStates, ExportReplaceAndDropKeepEveryReaderInAgreement) {
  ROWSIFTER_REQUIRE_FIXTURES();
  ROWSIFTER_REQUIRE_MDB_READER();
  for (const StateFile& f : kStates) {
    SCOPED_TRACE(f.fixture);
    TempDir dir;
    std::string path = dir.copyFixture(f.fixture);
    if (f.moved) MoveCatalogRow(path, f.moved);
    if (HasFailure()) return;
    std::set<std::string> tables = TableNames(path, f.password);
    ExpectTables(path, f.password, tables, "as prepared");

    // An export, then a replace of it with other values.
    EXPECT_EQ(ExportValues(path, "Results", {"a b", "O'Brien", "c"}, f.password), 0);
    tables.insert("Results");
    ExpectTables(path, f.password, tables, "after the export");
    EXPECT_EQ(ExportValues(path, "Results", {"x", "y"}, f.password), 0);
    ExpectTables(path, f.password, tables, "after the replace");
    {
      auto s = OpenRw(path, f.password);
      EXPECT_EQ(Column(*s, "Results"), (std::vector<std::string>{"x", "y"}));
    }

    if (f.dropped) {
      // The moved row is found: a table of that name in another letter case exists already.
      if (f.moved) {
        auto s = OpenRw(path, f.password);
        std::string upper = QString::fromStdU16String(f.moved).toUpper().toStdString();
        EXPECT_THROW(s->execute(db::CreateTableStatement(upper, "x")), db::Error);
      }
      {
        auto s = OpenRw(path, f.password);
        s->execute(db::DropTableStatement(f.dropped));
      }
      tables.erase(f.dropped);
      ExpectTables(path, f.password, tables, "after dropping a table Access made");
    }

    // Many replaces: the catalogue pages fill with deleted rows and get packed.
    for (int i = 0; i < 40; ++i)
      ASSERT_EQ(ExportValues(path, "Results", {"v" + std::to_string(i)}, f.password), 0);
    ExpectTables(path, f.password, tables, "after many replaces");
    {
      auto s = OpenRw(path, f.password);
      EXPECT_EQ(Column(*s, "Results"), (std::vector<std::string>{"v39"}));
    }
  }
}

}  // namespace
}  // namespace enginetest
