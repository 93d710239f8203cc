// Opening the Access fixtures: catalogue, passwords, encrypted files.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "db/access/access_engine.h"
#include "db/base/error.h"
#include "db/access/format/header.h"
#include "tests/support/fixtures.h"

namespace db {

using namespace db::access;
using namespace db::access::format;
namespace {

using testsupport::Fixture;

std::unique_ptr<Session> Open(const std::string& path, const std::string& password = "") {
  return OpenAccessSession(path, password, OpenMode::Read);
}

std::vector<std::string> UserTables(Session& session) {
  std::vector<std::string> names;
  for (const CatalogRow& row : session.tables())
    if (row.type == "TABLE") names.push_back(row.name);
  return names;
}

long ErrorNumber(const std::string& path, const std::string& password,
                 std::string* message = nullptr) {
  try {
    Open(path, password);
  } catch (const Error& e) {
    if (message) *message = e.description();
    return e.number();
  }
  return 0;
}

TEST(AccessOpenTest, EveryFormatListsItsUserTablesOnly) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::vector<std::string> four = {"Table1", "Table2", "Table3", "Table4"};
  const std::vector<std::string> one = {"Table1"};
  const struct {
    const char* file;
    std::vector<std::string> tables;
  } cases[] = {
      {"jet3-test.mdb", four},
      {"jet4-empty-2000.mdb", {}},
      {"jet4-empty-2003.mdb", {}},
      {"jet4-numeric-2003.mdb", {"test"}},
      {"jet4-nopassword-2003.mdb", one},
      {"ace12-empty-2007.accdb", {}},
      {"ace14-empty-2010.accdb", {}},
      {"ace16-empty-2016.accdb", {}},
      {"ace14-test-2010.accdb", four},
      {"ace16-longtext.accdb", one},
      {"ace16-deleted-column.accdb", one},
  };
  for (const auto& c : cases) {
    auto session = Open(Fixture(c.file));
    EXPECT_EQ(UserTables(*session), c.tables) << c.file;
    // The system and temporary tables are there, under other types.
    bool sawSystem = false;
    for (const CatalogRow& row : session->tables()) {
      if (row.name == "MSysObjects") {
        EXPECT_EQ(row.type, "SYSTEM TABLE");
        sawSystem = true;
      }
      if (row.name.rfind("MSys", 0) == 0 || row.name.rfind("~", 0) == 0) {
        EXPECT_NE(row.type, "TABLE") << row.name;
      }
    }
    EXPECT_TRUE(sawSystem) << c.file;
  }
}

TEST(AccessOpenTest, ClipboardTablesAreTemporaryNotUserTables) {
  ROWSIFTER_REQUIRE_FIXTURES();
  auto session = Open(Fixture("ace16-deleted-column.accdb"));
  std::vector<CatalogRow> temporary;
  for (const CatalogRow& row : session->tables())
    if (row.type == "LOCAL TEMPORARY") temporary.push_back(row);
  EXPECT_EQ(temporary, (std::vector<CatalogRow>{{"LOCAL TEMPORARY", "~TMPCLP236321"},
                                                {"LOCAL TEMPORARY", "~TMPCLP517911"}}));
}

TEST(AccessOpenTest, Jet4PasswordMustMatchExactly) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file : {"jet4-password-2000.mdb", "jet4-password-2003.mdb"}) {
    EXPECT_EQ(UserTables(*Open(Fixture(file), "password")), std::vector<std::string>{"Table1"})
        << file;
    std::string message;
    EXPECT_EQ(ErrorNumber(Fixture(file), "wrong", &message), errc::kWrongPassword) << file;
    EXPECT_EQ(message, "Not a valid password.");
    EXPECT_EQ(ErrorNumber(Fixture(file), ""), errc::kWrongPassword) << file;
    EXPECT_EQ(ErrorNumber(Fixture(file), "Password"), errc::kWrongPassword) << file;
    EXPECT_EQ(ErrorNumber(Fixture(file), "password "), errc::kWrongPassword) << file;
  }
}

TEST(AccessOpenTest, APasswordForAFileWithoutOneIsIgnored) {
  ROWSIFTER_REQUIRE_FIXTURES();
  EXPECT_EQ(UserTables(*Open(Fixture("jet4-nopassword-2003.mdb"), "anything")),
            std::vector<std::string>{"Table1"});
  EXPECT_EQ(UserTables(*Open(Fixture("jet3-test.mdb"), "anything")).size(), 4u);
}

// Jet 3 keeps its password unmasked in the encrypted header; give a copy of the Jet 3 fixture one.
TEST(AccessOpenTest, Jet3PasswordIsCheckedToo) {
  ROWSIFTER_REQUIRE_FIXTURES();
  testsupport::TempDir dir;
  std::string path = dir.copyFixture("jet3-test.mdb");
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<unsigned char> head(0x18 + 126);
    file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    const unsigned char key[] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4Apply(key, 4, head.data() + 0x18, 126);
    std::memcpy(head.data() + 0x42, "Secret", 6);
    Rc4Apply(key, 4, head.data() + 0x18, 126);
    file.seekp(0);
    file.write(reinterpret_cast<const char*>(head.data()),
               static_cast<std::streamsize>(head.size()));
  }
  EXPECT_EQ(UserTables(*Open(path, "Secret")).size(), 4u);
  EXPECT_EQ(ErrorNumber(path, "secret"), errc::kWrongPassword);
  EXPECT_EQ(ErrorNumber(path, ""), errc::kWrongPassword);
}

TEST(AccessOpenTest, EncryptedAccdbFilesOpenWithTheirPasswordOnly) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file : {"ace14-encrypted-2010.accdb", "ace-agile-encrypted.accdb"}) {
    EXPECT_EQ(UserTables(*Open(Fixture(file), "password")).size(), 1u) << file;
    for (const char* password : {"", "Password"}) {
      std::string message;
      EXPECT_EQ(ErrorNumber(Fixture(file), password, &message), errc::kWrongPassword) << file;
      EXPECT_EQ(message, "Not a valid password.");
    }
  }
}

TEST(AccessOpenTest, HeaderOfForeignBytesIsNotAccepted) {
  std::vector<unsigned char> bytes(4096, 0);
  EXPECT_FALSE(ParseJetHeader(bytes.data(), bytes.size()));
  std::memcpy(bytes.data(), "\x00\x01\x00\x00Standard Jet DB", 20);
  bytes[0x14] = 9;  // a version no engine wrote
  EXPECT_FALSE(ParseJetHeader(bytes.data(), bytes.size()));
  bytes[0x14] = 1;
  EXPECT_TRUE(ParseJetHeader(bytes.data(), bytes.size()));
  EXPECT_FALSE(ParseJetHeader(bytes.data(), 0x60));
}

}  // namespace
}  // namespace db
