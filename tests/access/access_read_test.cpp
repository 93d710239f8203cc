// Reading the Access fixtures: field names, values and their types, statements and their errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "db/access/read/catalog_reader.h"
#include "db/access/access_engine.h"
#include "db/base/error.h"
#include "db/access/read/database.h"
#include "db/access/format/header.h"
#include "db/access/format/values.h"
#include "tests/access/value_printer.h"
#include "tests/support/fixtures.h"

namespace db {

using namespace db::access;
using namespace db::access::format;
using namespace db::access::read;
namespace {

using testsupport::Fixture;
using Rows = std::vector<std::vector<Value>>;

// Opened for reading only: these tests read the shared fixtures themselves, never copies.
std::unique_ptr<Session> Open(const std::string& path, const std::string& password = "",
                              OpenMode mode = OpenMode::Read) {
  return OpenAccessSession(path, password, mode);
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Rows ReadAll(Cursor& cursor) {
  Rows rows;
  std::vector<Value> row;
  while (cursor.next(row)) rows.push_back(row);
  return rows;
}

Rows Query(const std::string& file, const std::string& sql) {
  auto session = Open(Fixture(file));
  return ReadAll(*session->query(sql));
}

long QueryError(Session& session, const std::string& sql, std::string* message = nullptr) {
  try {
    ReadAll(*session.query(sql));
  } catch (const Error& e) {
    if (message) *message = e.description();
    return e.number();
  }
  return 0;
}

// Table1 of the Jet 3 and ACE 14 test files: every common field type, two rows.
TEST(AccessReadTest, ValuesKeepTheirTypes) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file : {"ace14-test-2010.accdb", "jet3-test.mdb"}) {
    auto session = Open(Fixture(file));
    auto cursor = session->query("SELECT * FROM `Table1`");
    EXPECT_EQ(cursor->fieldNames(),
              (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "G", "H", "I"}));
    Rows rows = ReadAll(*cursor);
    ASSERT_EQ(rows.size(), 2u) << file;
    // Written in a different order by the two files' makers; find the rows by their text.
    const auto& first = rows[0][0] == Value::Text("a") ? rows[0] : rows[1];
    const auto& second = rows[0][0] == Value::Text("a") ? rows[1] : rows[0];
    EXPECT_EQ(first, (std::vector<Value>{Value::Text("a"), Value::Text("b"), Value::Integer(0),
                                         Value::Integer(0), Value::Integer(0), Value::Double(0),
                                         Value::DateTime(29932), Value::Currency(0),
                                         Value::Boolean(false)}))
        << file;
    EXPECT_EQ(second, (std::vector<Value>{
                          Value::Text("abcdefg"), Value::Text("hijklmnop"), Value::Integer(2),
                          Value::Integer(222), Value::Integer(333333333), Value::Double(444.555),
                          Value::DateTime(27293), Value::Currency(35000), Value::Boolean(true)}))
        << file;
  }
}

TEST(AccessReadTest, DecimalsAndMemoOfTheNumericFile) {
  ROWSIFTER_REQUIRE_FIXTURES();
  EXPECT_EQ(Query("jet4-numeric-2003.mdb", "SELECT * FROM test"),
            (Rows{{Value::Text("some data"), Value::Decimal("1"), Value::Decimal("0"),
                   Value::Decimal("0"), Value::Decimal("4"), Value::Decimal("-1"),
                   Value::Decimal("1")}}));
}

TEST(AccessReadTest, LongTextComesBackWhole) {
  ROWSIFTER_REQUIRE_FIXTURES();
  Rows rows = Query("ace16-longtext.accdb", "SELECT `LongText` FROM `Table1`");
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0][0].type(), Value::Type::Text);
  const std::string& text = rows[0][0].text();
  EXPECT_EQ(text.size(), 5000u);
  EXPECT_EQ(text.rfind("Lorem ipsum dolor sit amet", 0), 0u);
}

TEST(AccessReadTest, DeletedColumnsAreGoneAndTheRestKeepTheTablesOrder) {
  ROWSIFTER_REQUIRE_FIXTURES();
  auto session = Open(Fixture("ace16-deleted-column.accdb"));
  auto cursor = session->query("SELECT * FROM Table1");
  EXPECT_EQ(cursor->fieldNames(),
            (std::vector<std::string>{"col1", "col2", "col3", "col5", "col6", "col7", "col8"}));
  EXPECT_EQ(ReadAll(*cursor),
            (Rows{{Value::Integer(0), Value::Integer(1), Value::Integer(2), Value::Integer(4),
                   Value::Integer(5), Value::Integer(6), Value::Integer(7)}}));
}

TEST(AccessReadTest, OneFieldAndDistinctValues) {
  ROWSIFTER_REQUIRE_FIXTURES();
  EXPECT_EQ(Query("jet4-nopassword-2003.mdb", "SELECT `Data` FROM `Table1`"),
            (Rows{{Value::Text("One")}, {Value::Text("Two")}, {Value::Text("Three")}}));
  auto session = Open(Fixture("jet4-password-2003.mdb"), "password");
  auto cursor = session->query("SELECT distinct `data` FROM `table1`");  // names in any letter case
  EXPECT_EQ(cursor->fieldNames(), std::vector<std::string>{"Data"});
  EXPECT_EQ(ReadAll(*cursor),
            (Rows{{Value::Text("One")}, {Value::Text("Three")}, {Value::Text("Two")}}));
  EXPECT_EQ(ReadAll(*session->query("SELECT DISTINCT [ID] FROM Table1;")),
            (Rows{{Value::Integer(1)}, {Value::Integer(2)}, {Value::Integer(3)}}));
}

TEST(AccessReadTest, EmptyTablesStillNameTheirFields) {
  ROWSIFTER_REQUIRE_FIXTURES();
  auto session = Open(Fixture("ace14-test-2010.accdb"));
  auto cursor = session->query("SELECT * FROM `Table4`");
  EXPECT_EQ(cursor->fieldNames(), (std::vector<std::string>{"name", "data"}));
  EXPECT_TRUE(ReadAll(*cursor).empty());
  EXPECT_EQ(session->query("SELECT * FROM `Table2`")->fieldNames().size(), 89u);
}

TEST(AccessReadTest, UnknownNamesAndWritingGiveClearErrors) {
  ROWSIFTER_REQUIRE_FIXTURES();
  auto session = Open(Fixture("ace14-test-2010.accdb"));
  std::string message;
  EXPECT_EQ(QueryError(*session, "SELECT * FROM `Nope`", &message), errc::kNoSuchObject);
  EXPECT_NE(message.find("'Nope'"), std::string::npos) << message;
  EXPECT_EQ(QueryError(*session, "SELECT `Z` FROM `Table1`", &message), errc::kNoSuchObject);
  EXPECT_NE(message.find("'Z'"), std::string::npos) << message;
  EXPECT_EQ(QueryError(*session, "SELECT * FROM `Table1` x"), errc::kSyntax);
  EXPECT_EQ(QueryError(*session, "SELECT * FROM `Tab`le1`"), errc::kSyntax);
  EXPECT_EQ(QueryError(*session, "SELECT * FROM `Table1``"), errc::kSyntax);
  EXPECT_EQ(QueryError(*session, "SELECT * FROM `Table1```", &message), errc::kNoSuchObject);
  EXPECT_NE(message.find("'Table1`'"), std::string::npos) << message;
}

// Writing is refused before anything is opened for it, both where the file is read-only (its
// permission bits, which a superuser's writes would pass, so the refusal cannot rest on the
// system) and where the session was opened for reading. Works on a copy of its own: a
// fixture folder may well be writable.
TEST(AccessReadTest, ReadOnlyFilesAndSessionsRefuseWriting) {
  ROWSIFTER_REQUIRE_FIXTURES();
  testsupport::TempDir dir;
  const std::string path = dir.copyFixture("ace14-test-2010.accdb");
  const std::string before = Bytes(path);
  struct Case {
    std::filesystem::perms perms;
    OpenMode mode;
    long number;
    const char* messagePart;
  };
  const auto readOnly = std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                        std::filesystem::perms::others_read;
  const auto writable = readOnly | std::filesystem::perms::owner_write;
  for (const Case& c : {Case{readOnly, OpenMode::ReadWrite, errc::kFailed, "the file is read-only"},
                        Case{writable, OpenMode::Read, errc::kNotSupported, "reading only"}}) {
    SCOPED_TRACE(c.messagePart);
    std::filesystem::permissions(path, c.perms);
    auto session = Open(path, "", c.mode);
    for (const char* sql : {"DROP TABLE `Table3`", "CREATE TABLE `R` (`F` VARCHAR);",
                            "insert into `Table3` values ('x')"}) {
      try {
        session->execute(sql);
        ADD_FAILURE() << sql;
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), c.number) << sql;
        EXPECT_NE(e.description().find(c.messagePart), std::string::npos) << e.description();
      }
    }
    EXPECT_EQ(QueryError(*session, "DROP TABLE Table3"), errc::kFailed);  // returns no rows
    EXPECT_THROW(session->execute("DROP Table3"), Error);                 // still parsed first
    session.reset();
    EXPECT_EQ(Bytes(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no lock file or journal beside it";
  }
}

// Jet 4 can store every page but the first RC4-encoded with the key (page key XOR page number);
// encode a copy of a plain file that way.
TEST(AccessReadTest, EncodedJet4PagesReadLikePlainOnes) {
  ROWSIFTER_REQUIRE_FIXTURES();
  testsupport::TempDir dir;
  std::string path = dir.copyFixture("jet4-nopassword-2003.mdb");
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
  in.close();
  const std::uint32_t key = 0x5EC2E7A1;
  const unsigned char headerKey[] = {0xC7, 0xDA, 0x39, 0x6B};
  Rc4Apply(headerKey, 4, &bytes[0x18], 128);
  for (int i = 0; i < 4; ++i) bytes[0x3E + i] = static_cast<unsigned char>(key >> (8 * i));
  Rc4Apply(headerKey, 4, &bytes[0x18], 128);
  for (std::uint32_t page = 1; page < bytes.size() / 4096; ++page) {
    std::uint32_t pageKey = key ^ page;
    unsigned char k[4];
    for (int i = 0; i < 4; ++i) k[i] = static_cast<unsigned char>(pageKey >> (8 * i));
    Rc4Apply(k, 4, &bytes[page * 4096], 4096);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));

  auto session = Open(path);
  EXPECT_EQ(ReadAll(*session->query("SELECT * FROM Table1")),
            (Rows{{Value::Integer(1), Value::Text("One")},
                  {Value::Integer(2), Value::Text("Two")},
                  {Value::Integer(3), Value::Text("Three")}}));
}

// A copy of ace14-test-2010.accdb whose Table1 data page claims more rows than a page can hold.
std::string CopyWithDamagedRows(const testsupport::TempDir& dir) {
  std::string path = dir.copyFixture("ace14-test-2010.accdb");
  std::uint32_t definition = 0;
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
  in.close();
  {
    JetDatabase db(path, *ParseJetHeader(bytes.data(), bytes.size()), bytes.size());
    for (const AccessObject& object : ReadAccessCatalog(db))
      if (object.name == "Table1") definition = object.page;
  }
  bool damaged = false;
  for (std::size_t page = 1; page < bytes.size() / 4096; ++page) {
    unsigned char* p = &bytes[page * 4096];
    if (p[0] == 0x01 && JetUnsigned(p + 4, 4) == definition) {
      p[12] = 0xFF;  // row count
      p[13] = 0x7F;
      damaged = true;
    }
  }
  EXPECT_TRUE(damaged);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(AccessReadTest, QueriesReadNoRowsUntilAsked) {
  ROWSIFTER_REQUIRE_FIXTURES();
  testsupport::TempDir dir;
  std::string path = CopyWithDamagedRows(dir);
  auto session = Open(path);
  auto cursor = session->query("SELECT * FROM `Table1`");  // the rows are not touched yet
  EXPECT_EQ(cursor->fieldNames().size(), 9u);
  std::vector<Value> row;
  try {
    cursor->next(row);
    ADD_FAILURE() << "a damaged row page was read without complaint";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kBadFormat);
    EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
  }
  EXPECT_THROW(session->query("SELECT DISTINCT `A` FROM `Table1`"),
               Error);  // DISTINCT reads at once
}

}  // namespace
}  // namespace db
