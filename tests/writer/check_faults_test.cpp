// Our consistency checker against faults put into copies of a file Access made: each kind of
// damage the writer could cause must show up.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "db/access/read/catalog_reader.h"
#include "db/access/check/checker.h"
#include "db/access/format/bytes.h"
#include "db/access/read/database.h"
#include "db/access/write/definition.h"
#include "db/access/write/usage_map.h"
#include "tests/support/fixtures.h"
#include "tests/writer/writer_memory_pages.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t kPage = 4096;

std::uint32_t U16(const unsigned char* p) { return db::access::format::Get16(p); }
std::uint32_t U32(const unsigned char* p) { return db::access::format::Get32(p); }

// A copy of a fixture in memory, its Table1 (three rows, a primary key) located.
class CheckFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ROWSIFTER_REQUIRE_FIXTURES();
    path_ = dir_.copyFixture("jet4-nopassword-2003.mdb");
    std::ifstream in(path_, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    auto header = db::access::format::ParseJetHeader(bytes_.data(), bytes_.size());
    ASSERT_TRUE(header);
    db::access::read::JetDatabase database(path_, *header, bytes_.size());
    for (const db::access::read::AccessObject& o : db::access::read::ReadAccessCatalog(database))
      if (o.name == "Table1") table_ = o.page;
    ASSERT_NE(table_, 0u);
    for (std::uint32_t p = 1; p < bytes_.size() / kPage; ++p) {
      if (page(p)[0] == 0x01 && U32(page(p) + 4) == table_) dataPage_ = p;
      if (page(p)[0] == 0x04 && U32(page(p) + 4) == table_) leafPage_ = p;
    }
    ASSERT_NE(dataPage_, 0u);
    ASSERT_NE(leafPage_, 0u);
    ASSERT_TRUE(check().ok()) << Joined(check().problems);
  }

  unsigned char* page(std::uint32_t p) { return bytes_.data() + p * kPage; }

  // The bytes of row `row` of data page `p`.
  unsigned char* row(std::uint32_t p, unsigned r) {
    return page(p) + (U16(page(p) + 14 + 2 * r) & 0x1FFF);
  }

  db::access::check::JetCheckReport check() {
    std::ofstream(path_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes_.data()),
               static_cast<std::streamsize>(bytes_.size()));
    return db::access::check::CheckJetFile(path_);
  }

  static std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += "\n  " + l;
    return out;
  }

  // Sets or clears the bit of page `p` in the file's free map (inline in this file).
  void SetFree(std::uint32_t p, bool free) {
    unsigned char* freeMap = row(1, 0);
    ASSERT_EQ(freeMap[0], 0);
    std::uint32_t bit = p - U32(freeMap + 1);
    if (free)
      freeMap[5 + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
    else
      freeMap[5 + bit / 8] &= static_cast<unsigned char>(~(1u << (bit % 8)));
  }

  // The size of the map row `ref` (page << 8 | row): it ends where the row before it starts.
  std::size_t MapRowSize(std::uint32_t ref) {
    std::uint32_t p = ref >> 8, r = ref & 0xFF;
    std::size_t end = r == 0 ? kPage : (U16(page(p) + 14 + 2 * (r - 1)) & 0x1FFF);
    return end - (U16(page(p) + 14 + 2 * r) & 0x1FFF);
  }

  // Whether some problem contains `text`.
  static bool Mentions(const db::access::check::JetCheckReport& r, const std::string& text) {
    return std::any_of(r.problems.begin(), r.problems.end(),
                       [&](const std::string& p) { return p.find(text) != std::string::npos; });
  }

  testsupport::TempDir dir_;
  std::string path_;
  Bytes bytes_;
  std::uint32_t table_ = 0, dataPage_ = 0, leafPage_ = 0;
};

TEST_F(CheckFaults, AWrongFreeSpaceField) {
  page(dataPage_)[2] ^= 0x04;
  db::access::check::JetCheckReport r = check();
  EXPECT_TRUE(Mentions(r, "data page " + std::to_string(dataPage_) + " says it has"))
      << Joined(r.problems);
}

TEST_F(CheckFaults, ARowCountOffByOne) {
  page(table_)[16] += 1;
  db::access::check::JetCheckReport r = check();
  EXPECT_TRUE(Mentions(r, "says it has 4 rows, its pages hold 3")) << Joined(r.problems);
}

TEST_F(CheckFaults, AUsageMapBitClearedLeavesTheRowsAndThePageBehind) {
  std::uint32_t ref = U32(page(table_) + 55);
  unsigned char* map = row(ref >> 8, ref & 0xFF);
  ASSERT_EQ(map[0], 0) << "an inline map";
  std::uint32_t bit = dataPage_ - U32(map + 1);
  map[5 + bit / 8] &= static_cast<unsigned char>(~(1u << (bit % 8)));
  db::access::check::JetCheckReport r = check();
  EXPECT_TRUE(Mentions(r, "its pages hold 0")) << Joined(r.problems);
  EXPECT_TRUE(Mentions(r, "index 0: leaf page")) << "the index names rows no longer in the table";
  EXPECT_NE(std::find(r.leakedPages.begin(), r.leakedPages.end(), dataPage_), r.leakedPages.end())
      << "a data page owned by no table is listed as leaked";
}

TEST_F(CheckFaults, ADataPageOfNoTableIsListedAsLeaked) {
  // A copy of the table's data page appended at the end and marked in use by the free map (in
  // row 0 of page 1), but named by no table's map.
  std::uint32_t count = static_cast<std::uint32_t>(bytes_.size() / kPage);
  bytes_.insert(bytes_.end(), page(dataPage_), page(dataPage_) + kPage);
  unsigned char* freeMap = row(1, 0);
  ASSERT_EQ(freeMap[0], 0);
  std::uint32_t bit = count - U32(freeMap + 1);
  freeMap[5 + bit / 8] &= static_cast<unsigned char>(~(1u << (bit % 8)));
  db::access::check::JetCheckReport r = check();
  EXPECT_TRUE(r.ok()) << Joined(r.problems);
  EXPECT_EQ(r.leakedPages, std::vector<std::uint32_t>{count});
}

TEST_F(CheckFaults, IndexEntriesOutOfOrder) {
  // Swap two entries of the same length on the table's leaf page.
  unsigned char* p = page(leafPage_);
  std::vector<std::size_t> bounds{480};
  for (std::size_t bit = 0; bit < (480 - 27) * 8; ++bit)
    if (p[27 + bit / 8] & (1u << (bit % 8))) bounds.push_back(480 + bit);
  ASSERT_GE(bounds.size(), 4u) << "three entries";
  std::size_t a = bounds[1], b = bounds[2], len = b - a;
  ASSERT_EQ(bounds[3] - b, len);
  std::swap_ranges(p + a, p + b, p + b);
  db::access::check::JetCheckReport r = check();
  EXPECT_TRUE(Mentions(r, "are out of order")) << Joined(r.problems);
}

TEST_F(CheckFaults, AFreePageStillInUse) {
  std::uint32_t mapRows = U32(page(table_) + 55) >> 8;
  const struct {
    std::uint32_t page;
    std::string owner;
  } kInUse[] = {
      {dataPage_, "the rows of table 'Table1' (definition page " + std::to_string(table_) + ")"},
      {table_, "the definition of table 'Table1' (definition page " + std::to_string(table_) + ")"},
      {leafPage_, "the indexes of table 'Table1'"},
      {mapRows, "map rows"}};
  const Bytes original = bytes_;
  for (const auto& c : kInUse) {
    SCOPED_TRACE(c.owner);
    bytes_ = original;
    SetFree(c.page, true);
    db::access::check::JetCheckReport r = check();
    EXPECT_TRUE(
        Mentions(r, "page " + std::to_string(c.page) + " of " + c.owner + " is marked free"))
        << Joined(r.problems);
  }
  // A page outside the window of the file's map is in use, as Access and the writer read it: a
  // window moved past the end of the file marks nothing free.
  bytes_ = original;
  unsigned char* freeMap = row(1, 0);
  freeMap[1] = 0, freeMap[2] = 0, freeMap[3] = 1, freeMap[4] = 0;
  db::access::check::JetCheckReport r = check();
  EXPECT_FALSE(Mentions(r, "free")) << Joined(r.problems);
}

TEST_F(CheckFaults, APageWithTwoOwners) {
  const Bytes original = bytes_;
  writertest::MemoryPages io(path_);
  {
    SCOPED_TRACE("a long-value page of MSysObjects also named by Table1's page map");
    std::uint32_t longValues = 0;
    db::access::write::TableDef catalog = db::access::write::ReadTableDef(io, 2);
    std::vector<std::uint32_t> listed = db::access::write::UsageMap(io, catalog.ownedPages).pages();
    for (const db::access::write::TdefLongValueMaps& lv : catalog.longValueMaps)
      if (lv.owned.packed() != 0)
        for (std::uint32_t p : db::access::write::UsageMap(io, lv.owned).pages())
          listed.push_back(p);
    for (std::uint32_t p : listed)
      if (page(p)[0] == 0x01 && std::equal(page(p) + 4, page(p) + 8, "LVAL")) longValues = p;
    ASSERT_NE(longValues, 0u);
    std::uint32_t ref = U32(page(table_) + 55);
    unsigned char* map = row(ref >> 8, ref & 0xFF);
    ASSERT_EQ(map[0], 0) << "an inline map";
    std::uint32_t bit = longValues - U32(map + 1);
    map[5 + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
    db::access::check::JetCheckReport r = check();
    EXPECT_TRUE(Mentions(r, "page " + std::to_string(longValues) + " belongs to both"))
        << Joined(r.problems);
  }
  {
    SCOPED_TRACE("one map page named by Table1's page map and its free-space map");
    bytes_ = original;
    // A map page appended at the end, in use, listing Table1's data page; both map rows of the
    // table turned into reference maps naming it.
    std::uint32_t mapPage = static_cast<std::uint32_t>(bytes_.size() / kPage);
    Bytes bits(kPage, 0);
    bits[0] = 0x05;
    bits[1] = 0x01;
    bits[4 + dataPage_ / 8] |= static_cast<unsigned char>(1u << (dataPage_ % 8));
    bytes_.insert(bytes_.end(), bits.begin(), bits.end());
    SetFree(mapPage, false);
    for (std::size_t at : {55, 59}) {
      std::uint32_t ref = U32(page(table_) + at);
      unsigned char* map = row(ref >> 8, ref & 0xFF);
      std::fill(map, map + MapRowSize(ref), 0);
      map[0] = 0x01;
      for (int i = 0; i < 4; ++i) map[1 + i] = static_cast<unsigned char>(mapPage >> (8 * i));
    }
    db::access::check::JetCheckReport r = check();
    EXPECT_TRUE(Mentions(r, "page " + std::to_string(mapPage) + " belongs to both"))
        << Joined(r.problems);
  }
}

TEST_F(CheckFaults, RowsOutOfPlaceMovedRowsAndTwinNamesAreFound) {
  // Table1's three rows lie on dataPage_ as rows 0, 1 and 2.
  auto startOf = [this](unsigned r) { return page(dataPage_) + 14 + 2 * r; };
  auto setStart = [](unsigned char* at, std::uint32_t v) {
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
  };
  // Row r becomes a moved row naming row `to` of the same page.
  auto move = [&](unsigned r, unsigned to) {
    unsigned char* d = row(dataPage_, r);
    d[0] = static_cast<unsigned char>(to);
    d[1] = static_cast<unsigned char>(dataPage_);
    d[2] = static_cast<unsigned char>(dataPage_ >> 8);
    d[3] = static_cast<unsigned char>(dataPage_ >> 16);
    setStart(startOf(r), U16(startOf(r)) | 0x4000);
  };
  auto markData = [&](unsigned r) { setStart(startOf(r), (U16(startOf(r)) & 0x1FFF) | 0x8000); };
  // The catalogue's MSysQueries renamed MSysObjects (the same length), in either text form.
  auto twinName = [&] {
    const std::string from = "MSysQueries", to = "MSysObjects";
    std::string wideFrom, wideTo;
    for (char c : from) wideFrom += {c, '\0'};
    for (char c : to) wideTo += {c, '\0'};
    for (std::uint32_t p = 1; p < bytes_.size() / kPage; ++p) {
      if (page(p)[0] != 0x01 || U32(page(p) + 4) != 2) continue;
      for (auto [f, t] : {std::pair{wideFrom, wideTo}, std::pair{from, to}}) {
        auto at = std::search(page(p), page(p) + kPage, f.begin(), f.end());
        if (at != page(p) + kPage) {
          std::copy(t.begin(), t.end(), at);
          return true;
        }
      }
    }
    return false;
  };
  struct Case {
    std::string what;
    std::function<void()> damage;
    std::string found;
  };
  const std::string dp = std::to_string(dataPage_);
  const Case cases[] = {
      {"a row starting inside the row table", [&] { setStart(startOf(1), 16); },
       "data page " + dp + " row 1 lies outside the page"},
      {"rows out of order, so that they overlap",
       [&] {
         std::uint32_t a = U16(startOf(1)), b = U16(startOf(2));
         setStart(startOf(1), b);
         setStart(startOf(2), a);
       },
       "lies outside the page"},
      {"a moved row naming a live row", [&] { move(1, 2); }, "which is not marked as moved data"},
      {"moved data that no moved row names", [&] { markData(2); },
       "row 2 of page " + dp + " is marked as moved data, but no moved row names it"},
      {"two moved rows naming one row of data",
       [&] {
         move(0, 2);
         move(1, 2);
         markData(2);
       },
       "is the data of two moved rows"},
      {"two tables of one name", [&] { ASSERT_TRUE(twinName()); },
       "names two tables 'MSysObjects'"},
  };
  const Bytes original = bytes_;
  for (const Case& c : cases) {
    bytes_ = original;
    c.damage();
    db::access::check::JetCheckReport r = check();
    EXPECT_TRUE(Mentions(r, c.found)) << c.what << ":" << Joined(r.problems);
  }
}

TEST_F(CheckFaults, DamageThatStopsTheWalkIsReportedNotFollowed) {
  page(table_)[4] = 0xFF;  // the definition continues far past the end of the file
  page(table_)[5] = 0xFF;
  EXPECT_TRUE(Mentions(check(), "not a definition page"));
  db::access::check::JetCheckReport none =
      db::access::check::CheckJetFile(dir_.file("missing.mdb"));
  EXPECT_FALSE(none.ok());
}

}  // namespace
