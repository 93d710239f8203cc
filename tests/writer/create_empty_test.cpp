// New databases made from scratch: both formats open everywhere with no user tables, pass our
// checker, and take typed tables whose rows all three readers read back alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "db/base/error.h"
#include "db/access/check/checker.h"
#include "db/access/write/new_database.h"
#include "db/access/format/header.h"
#include "db/access/write/typed_tables.h"
#include "tests/support/fixtures.h"
#include "tests/support/outside_readers.h"
#include "tests/writer/writer_memory_pages.h"

namespace {

using db::Value;
using db::access::write::NewColumnDef;
using db::access::write::NewDatabaseFormat;
namespace coltype = db::access::write::coltype;
using testsupport::ReadDatabase;
using testsupport::TempDir;

struct Format {
  NewDatabaseFormat format;
  const char* file;
  int version;
};
const Format kFormats[] = {{NewDatabaseFormat::kJet4, "new.mdb", 1},
                           {NewDatabaseFormat::kAce, "new.accdb", 2}};

std::string Problems(const db::access::check::JetCheckReport& report) {
  std::string all;
  for (const std::string& p : report.problems) all += p + "\n";
  return all;
}

TEST(CreateDatabase, EmptyFileOpensEverywhereWithNoUserTables) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.file);
    TempDir dir;
    std::string path = dir.file(f.file);
    db::access::write::CreateEmptyDatabase(path, f.format, 45000.25);

    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> head(4096);
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    std::optional<db::access::format::JetHeader> header =
        db::access::format::ParseJetHeader(head.data(), head.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->version, f.version);
    EXPECT_EQ(header->codePage, 1252);
    EXPECT_EQ(header->pageKey, 0u);
    EXPECT_EQ(header->password, "");

    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
    EXPECT_TRUE(report.ok()) << Problems(report);
    EXPECT_TRUE(report.leakedPages.empty());
    EXPECT_TRUE(testsupport::ReadWithLibmdb(path).tables.empty());
    EXPECT_TRUE(testsupport::ReadWithOurLayer(path).tables.empty());
    if (!testsupport::MdbReaderUnavailable()) {
      EXPECT_TRUE(testsupport::ReadWithMdbReader(path).tables.empty());
    }
  }
}

TEST(CreateDatabase, ExistingFileIsRefusedAndLeftAlone) {
  TempDir dir;
  std::string path = dir.file("there.mdb");
  { std::ofstream(path) << "keep me"; }
  EXPECT_THROW(db::access::write::CreateEmptyDatabase(path, NewDatabaseFormat::kJet4), db::Error);
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "keep me");
}

NewColumnDef Column(const char16_t* name, int type, int length = 255) {
  NewColumnDef c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

TEST(CreateDatabase, TypedTablesReadBackAlikeEverywhere) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.file);
    TempDir dir;
    std::string path = dir.file(f.file);
    db::access::write::CreateEmptyDatabase(path, f.format, 45000.25);
    writertest::MemoryPages pages(path);
    db::access::write::TypedTables tables(pages, [] { return 45001.5; });
    std::uint32_t people = tables.create(
        u"People", {Column(u"Name", coltype::kText, 20), Column(u"Notes", coltype::kMemo),
                    Column(u"Age", coltype::kLong), Column(u"Score", coltype::kDouble),
                    Column(u"Born", coltype::kDateTime), Column(u"Member", coltype::kBoolean)});
    std::string longNote(3000, 'x');
    tables.insert(people,
                  {Value::Text("Zoë O'Neil"), Value::Text("short\tnote\n"), Value::Integer(-42),
                   Value::Double(2.5), Value::DateTime(36526.75), Value::Boolean(true)});
    tables.insert(people, {Value::Text("Blank"), Value::Text(longNote), Value::Null(),
                           Value::Null(), Value::Null(), Value::Null()});
    for (int i = 0; i < 300; ++i)
      tables.insert(people,
                    {Value::Text("n" + std::to_string(i)), Value::Null(), Value::Integer(i),
                     Value::Double(i / 4.0), Value::DateTime(40000 + i), Value::Boolean(i % 2)});
    // Refused before anything is written for the row.
    EXPECT_THROW(
        tables.insert(people, {Value::Text(std::string(21, 'a')), Value::Null(), Value::Null(),
                               Value::Null(), Value::Null(), Value::Null()}),
        db::Error);
    EXPECT_THROW(tables.insert(people, {Value::Text("a"), Value::Null(), Value::Integer(1LL << 40),
                                        Value::Null(), Value::Null(), Value::Null()}),
                 db::Error);
    EXPECT_THROW(tables.create(u"people", {Column(u"A", coltype::kText)}), db::Error);
    EXPECT_THROW(tables.create(u"Bad.Name", {Column(u"A", coltype::kText)}), db::Error);
    tables.flush();
    pages.save(path);

    db::access::check::JetCheckReport report = db::access::check::CheckJetFile(path);
    EXPECT_TRUE(report.ok()) << Problems(report);
    ReadDatabase ours = testsupport::ReadWithOurLayer(path);
    ASSERT_EQ(ours.tables.size(), 1u);
    const testsupport::ReadTable& t = ours.tables[0];
    ASSERT_EQ(t.rows.size(), 302u);
    EXPECT_EQ(t.rows[0][0], "Zoë O'Neil");
    EXPECT_EQ(t.rows[0][1], "short\tnote\n");
    EXPECT_EQ(t.rows[1][1], longNote);
    EXPECT_EQ(t.rows[1][2], std::nullopt);
    ReadDatabase libmdb = testsupport::ReadWithLibmdb(path);
    EXPECT_EQ(
        testsupport::FirstDifference(testsupport::BlankAsNull(ours),
                                     testsupport::WithoutTypes(libmdb), "ours against libmdb"),
        std::nullopt);
    if (!testsupport::MdbReaderUnavailable()) {
      ReadDatabase outside = testsupport::ReadWithMdbReader(path);
      EXPECT_EQ(testsupport::FirstDifference(testsupport::WithoutTypes(outside), ours,
                                             "mdb-reader against ours"),
                std::nullopt);
      const testsupport::ReadTable* o = outside.find("People");
      ASSERT_TRUE(o);
      std::vector<std::string> types;
      for (const auto& c : o->columns) types.push_back(c.type);
      EXPECT_EQ(types, (std::vector<std::string>{"text", "memo", "long", "double", "datetime",
                                                 "boolean"}));
    }
  }
}

}  // namespace
