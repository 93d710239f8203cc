// Long text (Memo) values written through the engine into copies of an Access 97, a Jet 4 and an
// ACE file: a LONGTEXT column takes values of any length up to the most every reader takes (and,
// in Access 97, its code page holds); each is stored as Access stores it (inline up to 64 bytes,
// one row of a long-value page up to a row, a chain of pages beyond), read back whole by our layer,
// libmdb and mdb-reader, and found sound by our checker; DROP TABLE gives every page of them back,
// so that the same export made again takes no new page.
#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "db/access/check/checker.h"
#include "db/access/write/catalog_rows.h"
#include "db/access/write/long_values.h"
#include "db/access/write/table_rows.h"
#include "db/base/error.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"
#include "tests/writer/writer_memory_pages.h"

namespace enginetest {
namespace {

using namespace db::access::write;
using testsupport::ReadDatabase;
using testsupport::ReadTable;
using testsupport::TempDir;

const char* const kFixtures[] = {"jet4-nopassword-2003.mdb", "ace14-test-2010.accdb"};
constexpr std::size_t kRow = 4076;      // a full long-value row on a 4096-byte page
constexpr std::size_t kPiece = 4072;    // the data of a full row of a chain
constexpr std::size_t kJet3Row = 2032;  // the same on a 2048-byte page (Access 97)

std::string Repeat(char32_t c, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) AppendUtf8(out, c);
  return out;
}

// Bytes the engine stores for a text in an Access 97 file: one a character of its code page.
std::size_t Jet3StoredBytes(const std::string& utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Bytes the engine stores for a text: one a character after a 2-byte mark when every character
// fits a byte and there are at most 1,024 of them, else two a UTF-16 unit.
std::size_t StoredBytes(const std::string& utf8) {
  std::size_t units = 0;
  bool narrow = true;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (n > 2 || (n == 2 && b > 0xC3)) narrow = false;
    units += n == 4 ? 2 : 1;
    i += n;
  }
  if (units == 0) return 0;
  return narrow && units <= 1024 ? 2 + units : 2 * units;
}

// How a value of `bytes` bytes is stored: header kind and rows of long-value pages.
struct Form {
  int kind = 0;
  std::size_t rows = 0;
  bool operator==(const Form&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Form& f) {
  return o << "{kind 0x" << std::hex << f.kind << std::dec << ", " << f.rows << " rows}";
}
// `row`: the longest long-value row of the file's pages; a row of a chain keeps 4 of its bytes
// for the address of the next.
Form Expected(std::size_t bytes, std::size_t row = kRow) {
  if (bytes <= 64) return {0x80, 0};
  if (bytes <= row) return {0x40, 1};
  return {0x00, (bytes + row - 5) / (row - 4)};
}

// The forms of the values of the first column of `table`, in row order.
std::vector<Form> StoredForms(const std::string& path, const std::string& table) {
  writertest::MemoryPages io(path);
  PageAllocator pages(io);
  CatalogWriter catalog(io, pages);
  std::optional<CatalogEntry> entry =
      catalog.findInTables(QString::fromStdString(table).toStdU16String());
  if (!entry) throw std::runtime_error("no table " + table);
  std::vector<Form> out;
  TableRows(io, pages, static_cast<std::uint32_t>(entry->id) & 0xFFFFFF)
      .scan([&](RowRef, const std::vector<RowValue>& v) {
        const Bytes& field = v.at(0).value();
        out.push_back({field.at(3), LongValueRows(io, field.data(), field.size()).size()});
        return true;
      });
  return out;
}

// The statements of an export with a LONGTEXT column, in one transaction. Gives the values the
// database refused.
std::vector<std::string> ExportLong(const std::string& path, const std::string& table,
                                    const std::vector<std::string>& values, bool drop = false) {
  const std::string cs = db::BuildConnectionString(path, "");
  db::Connection connection;
  connection.setMode(db::OpenMode::ReadWrite);
  connection.open(cs);
  connection.beginTrans();
  if (drop) connection.execute(db::DropTableStatement(table));
  connection.execute(db::CreateTableStatement(table, "Value", true));
  std::vector<std::string> refused;
  for (const std::string& v : values) {
    try {
      connection.execute(db::InsertStatement(table, v));
    } catch (const db::Error&) {
      refused.push_back(v);
    }
  }
  connection.commitTrans();
  return refused;
}

ReadDatabase Sorted(ReadDatabase db) {
  std::sort(db.tables.begin(), db.tables.end(),
            [](const ReadTable& a, const ReadTable& b) { return a.name < b.name; });
  for (ReadTable& t : db.tables) std::sort(t.rows.begin(), t.rows.end());
  return db;
}

// The file's tables as before, with `added` (one column "Value") beside them.
ReadDatabase WithTables(ReadDatabase original,
                        const std::map<std::string, std::vector<std::string>>& added) {
  original = testsupport::WithoutTypes(original);
  for (const auto& [name, values] : added) {
    ReadTable t{name, {{"Value", ""}}, {}};
    for (const std::string& v : values) t.rows.push_back({v});
    original.tables.push_back(std::move(t));
  }
  return Sorted(std::move(original));
}

// All three readers read `expected`, and the checker finds nothing wrong nor more pages leaked
// than `leakedBefore`.
void ExpectEverywhere(const std::string& path, const ReadDatabase& expected,
                      std::size_t leakedBefore) {
  using namespace testsupport;
  EXPECT_EQ(FirstDifference(expected, Sorted(ReadWithOurLayer(path)), "expected against ours"),
            std::nullopt);
  EXPECT_EQ(FirstDifference(Sorted(BlankAsNull(AsLibmdbReadsIt(expected))),
                            Sorted(WithoutTypes(ReadWithLibmdb(path))), "expected against libmdb"),
            std::nullopt);
  if (auto why = MdbReaderUnavailable())
    std::cout << "mdb-reader not run: " << *why << "\n";
  else
    EXPECT_EQ(FirstDifference(expected, Sorted(WithoutTypes(ReadWithMdbReader(path))),
                              "expected against mdb-reader"),
              std::nullopt);
  db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
  for (const std::string& p : report.problems) ADD_FAILURE() << "checker: " << p;
  EXPECT_LE(report.leakedPages.size(), leakedBefore);
}

TEST(LongValuesTest, StoredAsAccessStoresThemReadWholeAndFreedByDrop) {
  ROWSIFTER_REQUIRE_FIXTURES();
  std::string lorem;
  while (lorem.size() < 5000) lorem += "Lorem ipsum dolor sit amet, consectetur adipiscing elit. ";
  lorem.resize(5000);
  std::string megabyte;
  for (int i = 0; megabyte.size() < 1000000; ++i)
    megabyte += "line " + std::to_string(i) + " of a long note\r\n";
  megabyte.resize(1000000);
  std::string hundredThousand;  // 100,000 characters of code page 1252
  for (int i = 0; i < 5000; ++i)
    hundredThousand += "Z\xC3\xBCrich, caf\xC3\xA9 \xE2\x82\xAC 5.0\r\n";
  const char32_t wide = U'Ж';  // two bytes a character whatever the column says
  struct Case {
    std::vector<const char*> fixtures;
    std::size_t row;
    std::function<std::size_t(const std::string&)> stored;
    std::vector<std::string> values;
    std::size_t lastRows;              // of the last value's chain
    std::vector<std::string> refused;  // each alone, besides the values
  };
  const std::vector<Case> cases = {
      {{std::begin(kFixtures), std::end(kFixtures)},
       kRow,
       StoredBytes,
       {
           "",                          // empty
           Repeat('x', 62),             // 64 bytes: inline
           Repeat('x', 63),             // 65: one row
           Repeat(wide, 32),            // 64: inline
           Repeat(wide, 33),            // 66: one row
           Repeat('y', 1024),           // compressed, one row
           Repeat('y', 1025),           // no longer compressed: 2,050 bytes
           Repeat(wide, kRow / 2),      // a full row
           Repeat(wide, kRow / 2 + 1),  // two rows of a chain
           Repeat(wide, kPiece),        // exactly two pieces
           Repeat(wide, kPiece + 1),    // three
           "It's " + Repeat(U'é', 300) + "\r\n" + Repeat(U'😀', 700),  // surrogate pairs
           lorem,     // as the fixture's Access wrote it: 3 rows
           megabyte,  // 2,000,000 bytes
       },
       492,                      // 2,000,000 bytes in pieces of 4,072
       {Repeat('z', 8388608)}},  // 16,777,216 bytes: too long for every reader
      // Access 97: the text in the file's code page (1252), one byte a character.
      {{"jet3-test.mdb"},
       kJet3Row,
       Jet3StoredBytes,
       {
           "",                                   // empty
           Repeat('x', 64),                      // inline
           Repeat('x', 65),                      // one row
           Repeat(U'é', 64),                     // one byte each: inline
           Repeat(U'€', 1500),                   // one row
           Repeat('y', kJet3Row),                // a full row
           Repeat('y', kJet3Row + 1),            // two rows of a chain
           Repeat('w', 2 * (kJet3Row - 4)),      // exactly two pieces
           Repeat('w', 2 * (kJet3Row - 4) + 1),  // three
           "It's\r\n" + Repeat(U'ü', 3000),
           lorem,            // 3 rows
           hundredThousand,  // 100,000 characters
       },
       50,  // 100,000 bytes in pieces of 2,028
       {Repeat('z', 16777216), "Caf\xC3\xA9 \xE8\xA1\xA8 " + Repeat('a', 3000)}},
  };
  for (const Case& c : cases)
    for (const char* fixture : c.fixtures) {
      SCOPED_TRACE(fixture);
      TempDir dir;
      const std::string path = dir.copyFixture(fixture);
      const ReadDatabase original = testsupport::ReadWithOurLayer(path);
      const std::size_t leakedBefore = db::access::check::CheckJetFile(path).leakedPages.size();
      const std::vector<std::string>& values = c.values;

      // Values the file cannot take: refused, the others kept.
      std::vector<std::string> all = values;
      all.insert(all.end(), c.refused.begin(), c.refused.end());
      std::vector<std::string> refused = ExportLong(path, "Notes", all);
      std::vector<std::size_t> refusedSizes, expectedSizes;
      for (const std::string& r : refused) refusedSizes.push_back(r.size());
      for (const std::string& r : c.refused) expectedSizes.push_back(r.size());
      EXPECT_EQ(refusedSizes, expectedSizes);

      std::vector<Form> forms = StoredForms(path, "Notes");
      ASSERT_EQ(forms.size(), values.size());
      for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(forms[i], Expected(c.stored(values[i]), c.row))
            << "value " << i << " (" << c.stored(values[i]) << " bytes)";
      EXPECT_EQ(forms.back().rows, c.lastRows);
      ExpectEverywhere(path, WithTables(original, {{"Notes", values}}), leakedBefore);
      if (HasFailure()) continue;

      // The same export made again over it: the drop gives every page back, the new table
      // takes them again, and the file does not grow.
      const std::size_t size = FileBytes(path).size();
      ASSERT_TRUE(ExportLong(path, "Notes", values, true).empty());
      EXPECT_EQ(FileBytes(path).size(), size);
      ExpectEverywhere(path, WithTables(original, {{"Notes", values}}), leakedBefore);

      // Dropped alone: the file reads as before and the checker finds no page left behind.
      {
        db::Connection connection;
        connection.setMode(db::OpenMode::ReadWrite);
        connection.open(db::BuildConnectionString(path, ""));
        connection.execute(db::DropTableStatement("Notes"));
      }
      ExpectEverywhere(path, WithTables(original, {}), leakedBefore);
    }
}

// Text of about `bytes` stored bytes, of one of the kinds an export meets: plain ASCII (with
// apostrophes and line breaks), Latin-1 letters, other scripts, emoji among them.
class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}
  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }

  // Stored sizes worth meeting: the inline limit, a full row, whole pieces of a chain and the
  // compression limit, each give or take a little, and anything up to a few pages.
  std::size_t size() {
    static const std::size_t kEdges[] = {0, 64, 1026, 2048, kRow, 2 * kPiece, 3 * kPiece};
    if (below(4) == 0) return below(5 * kPiece);
    std::size_t edge = kEdges[below(std::size(kEdges))];
    std::size_t delta = below(5);
    return below(2) ? edge + delta : (edge > delta ? edge - delta : 0);
  }

  std::string text(std::size_t bytes) {
    std::string out;
    switch (below(4)) {
      case 0:  // narrow: compressed up to 1,024 characters
        for (std::size_t n = bytes <= 1026 ? (bytes > 2 ? bytes - 2 : 1) : bytes / 2; n > 0; --n)
          AppendUtf8(out,
                     below(20) == 0 ? char32_t("'\r\n"[below(3)]) : char32_t(0x20 + below(0x5F)));
        return out;
      case 1:
        for (std::size_t n = std::max<std::size_t>(bytes / 2, 1); n > 0; --n)
          AppendUtf8(out, char32_t(0xC0 + below(0x40)));
        return out;
      default:  // wide, with now and then an emoji (two units)
        for (std::size_t n = std::max<std::size_t>(bytes / 2, 1); n > 0; --n) {
          if (n >= 2 && below(10) == 0) {
            AppendUtf8(out, char32_t(0x1F300 + below(0x300)));
            --n;
          } else {
            AppendUtf8(out, char32_t(0x410 + below(0x40)));
          }
        }
        return out;
    }
  }

 private:
  std::mt19937 rng_;
};

// Seeded: tables of long values made, filled, dropped and made again over several transactions,
// one of them rolled back; the file reads as the model says everywhere, each value stored in the
// form its size calls for.
TEST(LongValuesTest, SeededRandomRoundTrip) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::uint32_t seed = 20261208u;
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (const char* fixture : kFixtures) {
    SCOPED_TRACE(fixture);
    Generator gen(seed);
    TempDir dir;
    const std::string path = dir.copyFixture(fixture);
    const std::string cs = db::BuildConnectionString(path, "");
    const ReadDatabase original = testsupport::ReadWithOurLayer(path);
    const std::size_t leakedBefore = db::access::check::CheckJetFile(path).leakedPages.size();
    std::map<std::string, std::vector<std::string>> model;
    std::size_t values = 0;
    db::Connection connection;
    connection.setMode(db::OpenMode::ReadWrite);
    connection.open(cs);
    for (int t = 0; t < 4; ++t) {
      std::map<std::string, std::vector<std::string>> work = model;
      connection.beginTrans();
      if (!work.empty() && gen.below(2)) {
        auto it = std::next(work.begin(), static_cast<long>(gen.below(work.size())));
        connection.execute(db::DropTableStatement(it->first));
        work.erase(it);
      }
      for (int k = 0; k < 2; ++k) {
        std::string name = "Long" + std::to_string(gen.below(4));
        if (work.count(name)) connection.execute(db::DropTableStatement(name));
        connection.execute(db::CreateTableStatement(name, "Notes", true));
        std::vector<std::string>& rows = work[name];
        rows.clear();
        for (std::size_t n = 30 + gen.below(30); n > 0; --n) {
          rows.push_back(gen.text(gen.size()));
          ASSERT_NO_THROW(connection.execute(db::InsertStatement(name, rows.back())));
        }
      }
      if (t == 2) {
        connection.rollbackTrans();
      } else {
        connection.commitTrans();
        model = std::move(work);
      }
    }
    connection.close();
    for (const auto& [name, rows] : model) {
      values += rows.size();
      std::vector<Form> forms = StoredForms(path, name);
      ASSERT_EQ(forms.size(), rows.size()) << name;
      // Rows come in page order, which need not be the order of the inserts: compare the forms
      // as multisets.
      std::vector<std::pair<int, std::size_t>> got, want;
      for (const Form& f : forms) got.emplace_back(f.kind, f.rows);
      for (const std::string& v : rows) {
        Form f = Expected(StoredBytes(v));
        want.emplace_back(f.kind, f.rows);
      }
      std::sort(got.begin(), got.end());
      std::sort(want.begin(), want.end());
      EXPECT_EQ(got, want) << name;
    }
    std::cout << fixture << ": " << model.size() << " tables, " << values << " long values\n";
    ReadDatabase expected = WithTables(original, model);
    for (ReadTable& t : expected.tables)
      if (model.count(t.name)) t.columns[0].name = "Notes";
    ExpectEverywhere(path, expected, leakedBefore);
  }
}

// Sets the free bit of `page` in the file's page map (an inline map in the fixture).
void MarkFree(writertest::MemoryPages& io, std::uint32_t page) {
  Bytes p1 = io.readPage(kFileMapPage);
  RowSlot slot = DataRowSlot(p1, 0);
  ASSERT_EQ(p1[slot.start], kInlineMap);
  std::uint32_t bit = page - Get32(&p1[slot.start + 1]);
  ASSERT_LT(bit, (slot.end - slot.start - kInlineMapBitmapAt) * 8);
  p1[slot.start + kInlineMapBitmapAt + bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
  io.writePage(kFileMapPage, p1);
}

// The fixture's 5,000-character value is a chain of three long-value pages, all in its column's
// map. Edited at the byte level, the middle page of the chain leaves the map: the survey still
// counts it as the table's, because the row names it. Marked free as well, it must not be
// handed out (the export is refused and the value kept); left in use, DROP TABLE gives it back
// with the table's other pages.
TEST(LongValuesTest, ChainPagesNamedByRowsAreKeptAndGoWithTheirTable) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (bool markFree : {true, false}) {
    SCOPED_TRACE(markFree ? "the page marked free" : "the page left in use");
    TempDir dir;
    const std::string path = dir.copyFixture("ace16-longtext.accdb");
    std::uint32_t middle = 0;
    {
      writertest::MemoryPages io(path);
      PageAllocator pages(io);
      CatalogWriter catalog(io, pages);
      std::uint32_t definition =
          static_cast<std::uint32_t>(catalog.findInTables(u"Table1")->id) & 0xFFFFFF;
      TableRows rows(io, pages, definition);
      const int column = rows.def().find(u"LongText");
      ASSERT_GE(column, 0);
      std::vector<RowRef> chain;
      rows.scan([&](RowRef, const std::vector<RowValue>& v) {
        chain = LongValueRows(io, v[column]->data(), v[column]->size());
        return true;
      });
      ASSERT_EQ(chain.size(), 3u);
      middle = chain[1].page;
      RowRef map;
      for (const TdefLongValueMaps& m : rows.def().longValueMaps)
        if (m.column == rows.def().columns[column].number) map = m.owned;
      UsageMap owned(io, map);
      ASSERT_TRUE(owned.contains(middle));
      owned.remove(middle);
      if (markFree) MarkFree(io, middle);
      if (HasFatalFailure()) return;
      io.save(path);
    }
    auto fiveThousand = [&] {
      for (const ReadDatabase& db :
           {testsupport::ReadWithOurLayer(path), testsupport::ReadWithLibmdb(path)}) {
        const ReadTable* t = db.find("Table1");
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->rows.size(), 1u);
        EXPECT_EQ(t->rows[0][1].value_or("").size(), 5000u);
      }
      if (!testsupport::MdbReaderUnavailable()) {
        const ReadDatabase db = testsupport::ReadWithMdbReader(path);
        EXPECT_EQ(db.find("Table1")->rows.at(0).at(1).value_or("").size(), 5000u);
      }
    };
    fiveThousand();

    const std::string before = FileBytes(path);
    if (markFree) {
      std::string failure;
      try {
        ExportLong(path, "Notes", {Repeat('n', 3000), Repeat(U'Ж', 9000)});
      } catch (const db::Error& e) {
        failure = e.description();
      }
      EXPECT_NE(failure.find("the file is damaged: page " + std::to_string(middle) +
                             ", a long-value page"),
                std::string::npos)
          << failure;
      EXPECT_EQ(FileBytes(path), before) << "the file changed";
      fiveThousand();
      continue;
    }
    db::Connection connection;
    connection.setMode(db::OpenMode::ReadWrite);
    connection.open(db::BuildConnectionString(path, ""));
    connection.execute(db::DropTableStatement("Table1"));
    connection.close();
    writertest::MemoryPages io(path);
    EXPECT_TRUE(PageAllocator(io).isFree(middle));
    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
    for (const std::string& p : report.problems) ADD_FAILURE() << "checker: " << p;
    EXPECT_EQ(std::count(report.leakedPages.begin(), report.leakedPages.end(), middle), 0);
  }
}

// The checker follows every long value: each kind of damage to the fixture's chain of three
// rows shows up (the unchanged file is sound).
TEST(LongValuesTest, TheCheckerFindsDamagedChains) {
  ROWSIFTER_REQUIRE_FIXTURES();
  struct Damage {
    const char* what;
    std::function<void(writertest::MemoryPages&, const Bytes& header,
                       const std::vector<RowRef>& chain, RowRef map)>
        make;
    const char* problem;
  };
  // The bytes of row `r` of its page, to change in place.
  auto edit = [](writertest::MemoryPages& io, RowRef r,
                 const std::function<void(Bytes&, std::size_t)>& f) {
    Bytes page = io.readPage(r.page);
    f(page, DataRowSlot(page, r.row).start);
    io.writePage(r.page, page);
  };
  const std::vector<Damage> damages = {
      {"none", [](auto&, const Bytes&, const auto&, RowRef) {}, ""},
      {"the middle row names a row its page does not have",
       [&](auto& io, const Bytes&, const auto& chain, RowRef) {
         edit(io, chain[1], [&](Bytes& b, std::size_t at) {
           Put32(&b[at], RowRef{chain[0].page, 9}.packed());
         });
       },
       "not a live row of a long-value page"},
      {"the chain comes back to its first row",
       [&](auto& io, const Bytes&, const auto& chain, RowRef) {
         edit(io, chain[1], [&](Bytes& b, std::size_t at) { Put32(&b[at], chain[0].packed()); });
       },
       "is named twice"},
      {"the header's length one byte longer than the chain",
       [&](auto& io, const Bytes& header, const auto&, RowRef) {
         // The row is a moved one: its data, and the header in it, lie on another page.
         for (std::uint32_t p = 3; p < io.pageCount(); ++p) {
           Bytes page = io.readPage(p);
           auto at = std::search(page.begin(), page.end(), header.begin(), header.end());
           if (page[0] != kDataPage || at == page.end()) continue;
           Put32(&*at, Get32(&*at) + 1);
           io.writePage(p, page);
         }
       },
       "a long value of 10001 bytes has a chain of 10000"},
      {"the middle row deleted",
       [&](auto& io, const Bytes&, const auto& chain, RowRef) {
         Bytes page = io.readPage(chain[1].page);
         DeleteDataRow(page, chain[1].row);
         io.writePage(chain[1].page, page);
       },
       "not a live row of a long-value page"},
      {"the middle page out of the column's map",
       [&](auto& io, const Bytes&, const auto& chain, RowRef map) {
         UsageMap(io, map).remove(chain[1].page);
       },
       "is in none of the table's maps"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    TempDir dir;
    const std::string path = dir.copyFixture("ace16-longtext.accdb");
    {
      writertest::MemoryPages io(path);
      PageAllocator pages(io);
      CatalogWriter catalog(io, pages);
      TableRows rows(io, pages,
                     static_cast<std::uint32_t>(catalog.findInTables(u"Table1")->id) & 0xFFFFFF);
      const int column = rows.def().find(u"LongText");
      Bytes header;
      std::vector<RowRef> chain;
      rows.scan([&](RowRef, const std::vector<RowValue>& v) {
        header.assign(v[column]->begin(), v[column]->begin() + kLongValueHeader);
        chain = LongValueRows(io, v[column]->data(), v[column]->size());
        return true;
      });
      ASSERT_EQ(chain.size(), 3u);
      RowRef map;
      for (const TdefLongValueMaps& m : rows.def().longValueMaps)
        if (m.column == rows.def().columns[column].number) map = m.owned;
      d.make(io, header, chain, map);
      io.save(path);
    }
    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
    std::string all;
    for (const std::string& p : report.problems) all += p + "\n";
    if (std::string(d.problem).empty())
      EXPECT_TRUE(report.ok()) << all;
    else
      EXPECT_NE(all.find(d.problem), std::string::npos) << all;
  }
}

}  // namespace
}  // namespace enginetest
