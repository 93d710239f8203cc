// Copies of the fixtures whose file page map (row 0 of page 1) calls live pages free, or whose
// maps give one page to two tables: every reader still reads them, but a writer that trusted
// the map would write over live rows. The export, the export with --replace and DROP TABLE must
// refuse them as damaged and leave them byte for byte as they were; a free page that merely
// still holds old bytes (Access frees pages without clearing them) is reused as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/base/error.h"
#include "db/access/write/catalog_rows.h"
#include "db/access/write/page_claims.h"
#include "db/access/write/pager.h"
#include "db/access/write/usage_map.h"
#include "db/statements.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"
#include "tests/writer/writer_memory_pages.h"

namespace {

using namespace db::access::write;
using testsupport::TempDir;

constexpr std::uint32_t kLongValueTag = 0x4C41564C;  // "LVAL" at the owner field of a data page

struct Fixture {
  const char* name;
  const char* password;
};
const Fixture kFixtures[] = {{"ace14-test-2010.accdb", ""},
                             {"jet4-nopassword-2003.mdb", ""},
                             {"jet4-password-2000.mdb", "password"}};

// Pages of a fixture in the roles the damage is put into, found through the catalogue and the
// maps of its tables.
struct Roles {
  std::uint32_t table1 = 0;        // Table1's definition page
  std::uint32_t table1Data = 0;    // a data page of Table1
  std::uint32_t catalogData = 0;   // a data page of MSysObjects
  std::uint32_t catalogIndex = 0;  // an index page of MSysObjects
  std::uint32_t longValue = 0;     // a long-value page of some table
};

bool IsDataPageOf(const Bytes& page, std::uint32_t owner) {
  return page[0] == kDataPage && Get32(&page[4]) == owner;
}

Roles FindRoles(writertest::MemoryPages& io) {
  Roles r;
  PageAllocator pages(io);
  CatalogWriter catalog(io, pages);
  std::optional<CatalogEntry> table1 = catalog.findInTables(u"Table1");
  if (!table1) return r;
  r.table1 = static_cast<std::uint32_t>(table1->id) & 0xFFFFFF;
  auto firstDataPage = [&](std::uint32_t definition) -> std::uint32_t {
    for (std::uint32_t p : UsageMap(io, ReadTableDef(io, definition).ownedPages).pages())
      if (IsDataPageOf(io.readPage(p), definition)) return p;
    return 0;
  };
  r.table1Data = firstDataPage(r.table1);
  r.catalogData = firstDataPage(2);
  TableDef catalogDef = ReadTableDef(io, 2);
  if (!catalogDef.realIndexes.empty())
    r.catalogIndex = UsageMap(io, catalogDef.realIndexes[0].pageMap).pages().at(0);
  for (const CatalogEntry& e : catalog.entries()) {
    if ((e.type & 0x7F) != 1 || r.longValue) continue;
    TableDef def = ReadTableDef(io, static_cast<std::uint32_t>(e.id) & 0xFFFFFF);
    std::vector<std::uint32_t> listed = UsageMap(io, def.ownedPages).pages();
    for (const TdefLongValueMaps& lv : def.longValueMaps)
      if (lv.owned.packed() != 0)
        for (std::uint32_t p : UsageMap(io, lv.owned).pages()) listed.push_back(p);
    for (std::uint32_t p : listed)
      if (IsDataPageOf(io.readPage(p), kLongValueTag)) {
        r.longValue = p;
        break;
      }
  }
  return r;
}

// Sets or clears the free bit of `page` in the file's page map (an inline map in every
// fixture).
void MarkFree(writertest::MemoryPages& io, std::uint32_t page, bool free = true) {
  Bytes p1 = io.readPage(1);
  RowSlot slot = DataRowSlot(p1, 0);
  ASSERT_EQ(p1[slot.start], 0) << "an inline file map";
  std::uint32_t bit = page - Get32(&p1[slot.start + 1]);
  ASSERT_LT(bit, (slot.end - slot.start - 5) * 8) << "page " << page << " inside the map's window";
  unsigned char& byte = p1[slot.start + 5 + bit / 8];
  byte = static_cast<unsigned char>(free ? byte | (1u << (bit % 8)) : byte & ~(1u << (bit % 8)));
  io.writePage(1, p1);
}

// What a writing step reports: empty when it succeeded.
std::string FailureOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const db::Error& e) {
    return e.description();
  }
  return {};
}

// The export as the command line runs it, on its own connection: in one transaction, a DROP
// of the old table when `replace`, the new table and its rows; rolled back on failure.
void Export(const std::string& path, const std::string& password, const std::string& table,
            bool replace) {
  db::Connection c;
  c.setMode(db::OpenMode::ReadWrite);
  c.open(db::BuildConnectionString(path, password));
  c.beginTrans();
  try {
    if (replace) c.execute(db::DropTableStatement(table));
    c.execute(db::CreateTableStatement(table, "Value"));
    for (const char* v : {"one", "two", "three"}) c.execute(db::InsertStatement(table, v));
    c.commitTrans();
  } catch (...) {
    c.rollbackTrans();
    throw;
  }
}

void Drop(const std::string& path, const std::string& password, const std::string& table) {
  db::Connection c;
  c.setMode(db::OpenMode::ReadWrite);
  c.open(db::BuildConnectionString(path, password));
  c.execute(db::DropTableStatement(table));
}

TEST(DamagedMapsTest, LivePagesMarkedFreeOrClaimedTwiceAreRefusedAndTheFileKept) {
  ROWSIFTER_REQUIRE_FIXTURES();
  struct Damage {
    const char* what;
    std::function<std::uint32_t(const Roles&)> page;  // the page marked free; 0: see `edit`
    std::function<void(writertest::MemoryPages&, const Roles&)> edit;
    const char* mentions;  // in the refusal, besides the page number
  };
  const Damage kDamage[] = {
      {"a data page of a user table", [](const Roles& r) { return r.table1Data; }, nullptr,
       "a data page of table 'Table1', is marked free"},
      {"a data page of MSysObjects", [](const Roles& r) { return r.catalogData; }, nullptr,
       "a data page of table 'MSysObjects', is marked free"},
      {"a table definition page", [](const Roles& r) { return r.table1; }, nullptr,
       "a definition page of table 'Table1', is marked free"},
      {"an index page of MSysObjects", [](const Roles& r) { return r.catalogIndex; }, nullptr,
       "an index page of table 'MSysObjects', is marked free"},
      {"a long-value page", [](const Roles& r) { return r.longValue; }, nullptr, "is marked free"},
      // Table1's definition names MSysObjects' page map as its own: both tables claim the
      // catalogue's data pages, and dropping Table1 would free them.
      {"one page map named by two tables", nullptr,
       [](writertest::MemoryPages& io, const Roles& r) {
         Bytes def = io.readPage(r.table1);
         std::copy_n(io.readPage(2).begin() + 55, 4, def.begin() + 55);
         io.writePage(r.table1, def);
       },
       "is used twice, as a data page of table 'MSysObjects' and as a data page of table 'Table1'"},
      {"a definition chain that loops", nullptr,
       [](writertest::MemoryPages& io, const Roles& r) {
         Bytes def = io.readPage(r.table1);
         Put32(&def[4], r.table1);
         io.writePage(r.table1, def);
       },
       "table 'Table1': its definition pages form a loop"},
      {"a map row that is not a map", nullptr,
       [](writertest::MemoryPages& io, const Roles& r) {
         RowRef map = ReadTableDef(io, r.table1).ownedPages;
         Bytes page = io.readPage(map.page);
         page[DataRowSlot(page, map.row).start] = 0x07;
         io.writePage(map.page, page);
       },
       "the page map of table 'Table1' is row"},
  };

  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.name);
    TempDir dir;
    // Untouched, the copy takes the export, --replace and DROP.
    {
      std::string path = dir.copyFixture(f.name);
      EXPECT_EQ(FailureOf([&] { Export(path, f.password, "Results", false); }), "");
      EXPECT_EQ(FailureOf([&] { Export(path, f.password, "Results", true); }), "");
      EXPECT_EQ(FailureOf([&] { Drop(path, f.password, "Table1"); }), "");
      enginetest::ExpectSoundFile(path, f.password);
    }
    writertest::MemoryPages original(testsupport::Fixture(f.name));
    Roles roles = FindRoles(original);
    ASSERT_NE(roles.table1, 0u);

    for (const Damage& d : kDamage) {
      SCOPED_TRACE(d.what);
      writertest::MemoryPages io(testsupport::Fixture(f.name));
      std::uint32_t page = d.page ? d.page(roles) : 0;
      if (d.page) {
        ASSERT_NE(page, 0u) << "the fixture has such a page";
        MarkFree(io, page);
      } else {
        d.edit(io, roles);
      }
      std::string path = dir.file(std::string("damaged-") + f.name);
      io.save(path);
      const std::string before = enginetest::FileBytes(path);
      const std::string refusal = "Cannot write '" + path + "': the file is damaged: ";

      struct Step {
        const char* what;
        std::function<void()> run;
      };
      const Step kSteps[] = {
          {"export", [&] { Export(path, f.password, "Results", false); }},
          {"export with --replace", [&] { Export(path, f.password, "Table1", true); }},
          {"DROP TABLE", [&] { Drop(path, f.password, "Table1"); }},
      };
      for (const Step& step : kSteps) {
        SCOPED_TRACE(step.what);
        std::string failure = FailureOf(step.run);
        EXPECT_EQ(failure.rfind(refusal, 0), 0u) << failure;
        EXPECT_NE(failure.find(d.mentions), std::string::npos) << failure;
        if (page) {
          EXPECT_NE(failure.find("page " + std::to_string(page) + ","), std::string::npos)
              << failure;
        }
        EXPECT_NE(failure.find(" (compact and repair it in Access)."), std::string::npos)
            << failure;
        EXPECT_TRUE(enginetest::FileBytes(path) == before) << "the file changed";
        EXPECT_FALSE(std::filesystem::exists(db::access::write::JournalPath(path)));
      }
    }
  }
}

// The allocator asks the survey before it reuses a page: a page a table uses is never handed
// out, even when the page map calls it free after the survey; once given back it is.
TEST(DamagedMapsTest, TheAllocatorNeverHandsOutAPageInUse) {
  ROWSIFTER_REQUIRE_FIXTURES();
  writertest::MemoryPages io(testsupport::Fixture("jet4-nopassword-2003.mdb"));
  Roles roles = FindRoles(io);
  PageClaims claims(io);
  EXPECT_EQ(claims.user(roles.table1Data), "a data page of table 'Table1'");
  PageAllocator pages(io, &claims);
  MarkFree(io, roles.table1Data);  // the file has no other free page inside it
  const Bytes before = io.readPage(roles.table1Data);
  EXPECT_THROW(pages.allocate(Bytes(io.pageSize(), 0)), DamagedFileError);
  EXPECT_EQ(io.readPage(roles.table1Data), before);

  pages.release(roles.table1Data);
  EXPECT_EQ(claims.user(roles.table1Data), std::nullopt);
  EXPECT_EQ(pages.allocate(Bytes(io.pageSize(), 0)), roles.table1Data);
}

// Access leaves the old bytes in the pages it frees: a free page that still reads like a data
// page, a definition page or an index page of a live table, but that no map or definition
// chain names, is an ordinary free page and the export takes it.
TEST(DamagedMapsTest, FreePagesHoldingOldBytesAreReusedWithoutComplaint) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.name);
    writertest::MemoryPages original(testsupport::Fixture(f.name));
    Roles roles = FindRoles(original);
    for (std::uint32_t stale : {roles.table1Data, roles.table1, roles.catalogIndex}) {
      SCOPED_TRACE("a free copy of page " + std::to_string(stale));
      TempDir dir;
      writertest::MemoryPages io(testsupport::Fixture(f.name));
      // The lowest free page is the first the allocator reuses; a file without one gets a
      // free page at its end.
      PageAllocator pages(io);
      std::uint32_t target = 3;
      while (target < io.pageCount() && !pages.isFree(target)) ++target;
      if (target == io.pageCount()) io.appendPage(Bytes(io.pageSize(), 0));
      io.writePage(target, io.readPage(stale));
      MarkFree(io, target);
      std::string path = dir.file(f.name);
      io.save(path);
      EXPECT_TRUE(db::access::check::CheckJetFile(path).ok()) << "an ordinary free page";

      EXPECT_EQ(FailureOf([&] { Export(path, f.password, "Results", false); }), "");
      writertest::MemoryPages after(path);
      EXPECT_FALSE(PageAllocator(after).isFree(target)) << "the free page was reused";
      EXPECT_NE(after.readPage(target), original.readPage(stale));
      enginetest::ExpectSoundFile(path, f.password);
      auto s = enginetest::OpenRw(path, f.password);
      EXPECT_EQ(enginetest::Column(*s, "Results"),
                (std::vector<std::string>{"one", "two", "three"}));
      EXPECT_TRUE(enginetest::Lists(*s, "Table1"));
    }
  }
}

}  // namespace
