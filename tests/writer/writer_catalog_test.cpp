// The catalogue row and permission rows of a new table against those Access wrote for the tables
// of the fixtures; the refusals that come before anything is written.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>
#include <cstring>
#include <functional>

#include "db/base/error.h"
#include "db/access/write/writer.h"
#include "tests/support/fixtures.h"
#include "tests/writer/writer_memory_pages.h"

namespace {

using namespace db::access::write;
using testsupport::Fixture;

const char* const kFilesWithTable1[] = {"jet4-nopassword-2003.mdb", "jet4-password-2000.mdb",
                                        "ace14-test-2010.accdb", "ace16-longtext.accdb"};

std::vector<std::vector<RowValue>> AcesOf(db::access::format::PageIo& io, PageAllocator& pages,
                                          const CatalogWriter& catalog, std::int32_t id) {
  TableRows aces(io, pages, static_cast<std::uint32_t>(catalog.findInTables(u"MSysACEs")->id));
  int object = aces.def().find(u"ObjectId");
  std::vector<std::vector<RowValue>> out;
  aces.scan([&](RowRef, const std::vector<RowValue>& v) {
    if (static_cast<std::int32_t>(Get32(v[object]->data())) == id) {
      auto copy = v;
      copy[object].reset();
      out.push_back(copy);
    }
    return true;
  });
  return out;
}

TEST(WriterCatalogTest, NewTableRowsMatchAccessByteForByte) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* name : kFilesWithTable1) {
    SCOPED_TRACE(name);
    writertest::MemoryPages io(Fixture(name));
    PageAllocator pages(io);
    CatalogWriter catalog(io, pages);
    std::optional<CatalogEntry> access = catalog.findInTables(u"Table1");
    ASSERT_TRUE(access);
    TableRows objects(io, pages, 2);
    const TableDef& def = objects.def();

    // Our encoder lays out Access's own row exactly as Access stored it.
    Bytes page = io.readPage(access->where.page);
    RowSlot slot = DataRowSlot(page, access->where.row);
    EXPECT_EQ(EncodeRow(def.rowColumns(), access->values, def.maxColumns, def.varSlots()),
              Bytes(page.begin() + slot.start, page.begin() + slot.end));

    // The new row equals Access's apart from the times and the property blob Access's designer
    // adds (the engine's own CREATE TABLE writes none).
    std::vector<RowValue> theirs = access->values;
    theirs[def.find(u"LvProp")].reset();
    theirs[def.find(u"DateUpdate")] = theirs[def.find(u"DateCreate")];
    double created;
    std::memcpy(&created, theirs[def.find(u"DateCreate")]->data(), 8);
    std::vector<RowValue> ours =
        catalog.newTableRow(static_cast<std::uint32_t>(access->id), u"Table1", created);
    EXPECT_EQ(EncodeRow(def.rowColumns(), ours, def.maxColumns, def.varSlots()),
              EncodeRow(def.rowColumns(), theirs, def.maxColumns, def.varSlots()));

    // Permissions: the same rows, in the same order, as Access gave Table1.
    db::access::write::JetWriter writer(io, [] { return 45000.0; });
    writer.createTable({"Results", {{"City", "VARCHAR", std::nullopt}}});
    CatalogWriter after(io, pages);
    std::optional<CatalogEntry> created2 = after.findInTables(u"results");
    ASSERT_TRUE(created2);
    EXPECT_EQ(AcesOf(io, pages, after, created2->id), AcesOf(io, pages, after, access->id));
  }
}

long ErrorOf(const std::function<void()>& f, std::string* text = nullptr) {
  try {
    f();
  } catch (const db::Error& e) {
    if (text) *text = e.description();
    return e.number();
  }
  return 0;
}

TEST(WriterCatalogTest, RefusalsLeaveEveryPageAsItWas) {
  ROWSIFTER_REQUIRE_FIXTURES();
  writertest::MemoryPages io(Fixture("ace14-test-2010.accdb"));
  db::access::write::JetWriter writer(io);
  writer.createTable({"Short", {{"F", "VARCHAR", 3}}});
  writer.createTable({"Memo", {{"F", "LONGTEXT", {}}}});
  writertest::MemoryPages before = io;

  std::string text;
  for (const char* bad : {"", " lead", "a.b", "a!b", "a`b", "a[b", "a]b", "tab\tname"})
    EXPECT_EQ(ErrorOf([&] {
                writer.createTable({bad, {{"F", "VARCHAR", std::nullopt}}});
              }),
              db::errc::kFailed)
        << bad;
  EXPECT_EQ(ErrorOf([&] {
              writer.createTable({std::string(65, 'x'), {{"F", "VARCHAR", {}}}});
            }),
            db::errc::kFailed);
  EXPECT_EQ(ErrorOf(
                [&] {
                  writer.createTable({"TABLE1", {{"F", "VARCHAR", {}}}});
                },
                &text),
            db::errc::kFailed);
  EXPECT_EQ(text, "Table 'TABLE1' already exists.");
  EXPECT_EQ(ErrorOf([&] { writer.insert({"Short", {"abcd"}}); }, &text), db::errc::kFailed);
  EXPECT_NE(text.find("too small"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { writer.insert({"Nowhere", {"a"}}); }), db::errc::kNoSuchObject);
  EXPECT_EQ(ErrorOf([&] { writer.dropTable({"MSysObjects"}); }), db::errc::kNotSupported);
  // A long-text column takes no size; a value longer than every reader takes is refused.
  EXPECT_EQ(ErrorOf([&] {
              writer.createTable({"Long", {{"F", "LONGTEXT", 300}}});
            }),
            db::errc::kSyntax);
  EXPECT_EQ(ErrorOf(
                [&] {
                  writer.insert({"Memo", {std::string(8388608, 'z')}});
                },
                &text),
            db::errc::kFailed);  // 16,777,216 bytes
  EXPECT_NE(text.find("too small"), std::string::npos);
  for (std::uint32_t p = 0; p < before.pageCount(); ++p)
    ASSERT_EQ(io.readPage(p), before.readPage(p)) << "page " << p;
  EXPECT_EQ(io.pageCount(), before.pageCount());

  // Exactly at the limit is fine; a 64-character name too.
  writer.insert({"Short", {"abc"}});
  writer.insert({"Memo", {std::string(8388607, 'z')}});
  writer.createTable({std::string(64, 'x'), {{"F", "VARCHAR", {}}}});
}

TEST(WriterCatalogTest, TablesInARelationshipAreNotDropped) {
  ROWSIFTER_REQUIRE_FIXTURES();
  writertest::MemoryPages io(Fixture("jet4-nopassword-2003.mdb"));
  db::access::write::JetWriter writer(io);
  // MSysNavPaneGroups takes part in relationships in every fixture made by Access 2007 on.
  PageAllocator pages(io);
  EXPECT_TRUE(CatalogWriter(io, pages).inRelationship(u"msysnavpanegroups"));
  EXPECT_FALSE(CatalogWriter(io, pages).inRelationship(u"Table1"));
}

TEST(WriterCatalogTest, ManyTablesCreatedAndDroppedGiveTheirPagesBack) {
  ROWSIFTER_REQUIRE_FIXTURES();
  writertest::MemoryPages io(Fixture("jet4-empty-2003.mdb"));
  db::access::write::JetWriter writer(io);
  PageAllocator pages(io);
  std::uint32_t afterFirstRound = 0;
  for (int round = 0; round < 3; ++round) {
    for (int t = 0; t < 40; ++t) {
      std::string name = "T" + std::to_string(t);
      writer.createTable({name, {{"F", "VARCHAR", std::nullopt}}});
      for (int r = 0; r < 300; ++r) writer.insert({name, {"row " + std::to_string(r)}});
    }
    for (int t = 0; t < 40; ++t) writer.dropTable({"t" + std::to_string(t)});
    // Later rounds fit in the pages of the first: dropped pages are taken again.
    if (round == 0) afterFirstRound = io.pageCount();
    EXPECT_EQ(io.pageCount(), afterFirstRound) << "round " << round;
  }
  // Each dropped table gave back its definition, its map page and its data pages.
  std::size_t freePages = 0;
  for (std::uint32_t p = 3; p < io.pageCount(); ++p) freePages += pages.isFree(p);
  EXPECT_GE(freePages, 40u * 3);
  db::access::write::CatalogWriter catalog(io, pages);
  for (const CatalogEntry& e : catalog.entries())
    EXPECT_FALSE(QString::fromStdU16String(e.name).contains(QRegularExpression("^T\\d+$")))
        << "left in the catalogue";
}

}  // namespace
