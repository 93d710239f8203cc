// Writing Access files through the engine, as the export does: copies of the Jet 4 and ACE
// fixtures, read back by our layer, libmdb and mdb-reader and checked page by page.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "db/base/error.h"
#include "db/access/format/header.h"
#include "db/access/write/lock_file.h"
#include "db/access/write/pager.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

using testsupport::TempDir;

struct Writable {
  const char* name;
  const char* password;
};
const Writable kFiles[] = {{"jet4-nopassword-2003.mdb", ""},
                           {"jet4-password-2000.mdb", "password"},
                           {"ace12-empty-2007.accdb", ""},
                           {"ace14-test-2010.accdb", ""},
                           {"ace16-empty-2016.accdb", ""}};

TEST(EngineWriteTest, ExportWritesReadableTablesAndOverwrites) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string longest(255, 'x');
  for (const Writable& f : kFiles) {
    SCOPED_TRACE(f.name);
    TempDir dir;
    std::string path = dir.copyFixture(f.name);
    std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();

    // A value one character too long is refused and the rest kept.
    std::vector<std::string> values = {
        "O'Brien", "Zürich", "", "a b", longest, "\xE6\x9D\xB1\xE4\xBA\xAC", std::string(256, 'y')};
    EXPECT_EQ(ExportValues(path, "Results", values, f.password), 1);
    values.pop_back();
    {
      auto s = OpenRw(path, f.password);
      EXPECT_TRUE(Lists(*s, "Results"));
      EXPECT_EQ(Column(*s, "Results"), values);
    }
    EXPECT_LE(ExpectSoundFile(path, f.password), leaked);

    // Overwriting: the old table goes, the new one holds only the new values.
    EXPECT_EQ(ExportValues(path, "results", {"one", "two"}, f.password), 0);
    auto s = OpenRw(path, f.password);
    EXPECT_TRUE(Lists(*s, "results"));
    EXPECT_FALSE(Lists(*s, "Results"));
    EXPECT_EQ(Column(*s, "results"), (std::vector<std::string>{"one", "two"}));
    EXPECT_LE(ExpectSoundFile(path, f.password), leaked);
    EXPECT_FALSE(std::filesystem::exists(db::access::write::JournalPath(path)));
    EXPECT_FALSE(std::filesystem::exists(db::access::write::LockFilePath(path)));
  }
}

TEST(EngineWriteTest, SessionSeesItsCommitsAndOthersSeeOnlyCommittedWork) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture("ace14-test-2010.accdb");
  auto writer = OpenRw(path);
  writer->execute("CREATE TABLE `Auto` (`F` VARCHAR(10))");  // commits by itself
  writer->execute("insert into `Auto` values ('a')");
  EXPECT_EQ(Column(*writer, "Auto"), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(Lists(*OpenRw(path), "Auto"));

  writer->begin();
  writer->execute("CREATE TABLE `Pending` (`F` VARCHAR)");
  writer->execute("insert into `Pending` values ('p')");
  writer->execute("insert into `Auto` values ('b')");
  {
    // A second connection (the export's existence test) reads the committed state meanwhile.
    auto reader = OpenRw(path);
    EXPECT_FALSE(Lists(*reader, "Pending"));
    EXPECT_EQ(Column(*reader, "Auto"), (std::vector<std::string>{"a"}));
    EXPECT_FALSE(db::TableExists(db::BuildConnectionString(path, ""), "Pending"));
  }
  writer->commit();
  EXPECT_TRUE(Lists(*writer, "Pending"));
  EXPECT_EQ(Column(*writer, "Auto"), (std::vector<std::string>{"a", "b"}));
  auto later = OpenRw(path);
  EXPECT_EQ(Column(*later, "Pending"), (std::vector<std::string>{"p"}));
  writer.reset();
  ExpectSoundFile(path);
}

TEST(EngineWriteTest, RollbackAndRefusalsLeaveTheFileAsItWas) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture("jet4-nopassword-2003.mdb");
  const std::string before = FileBytes(path);
  {
    auto s = OpenRw(path);
    s->begin();
    s->execute("CREATE TABLE `Gone` (`F` VARCHAR)");
    s->execute("insert into `Gone` values ('x')");
    s->execute("DROP TABLE `Table1`");
    s->rollback();
    EXPECT_FALSE(Lists(*s, "Gone"));
    EXPECT_TRUE(Lists(*s, "Table1"));

    // Refused before any page changes: the transaction goes on and commits the rest.
    s->begin();
    s->execute("CREATE TABLE `Kept` (`F` VARCHAR(3))");
    EXPECT_EQ(ErrorNumber([&] { s->execute("insert into `Kept` values ('four')"); }),
              db::errc::kFailed);
    EXPECT_EQ(ErrorNumber([&] { s->execute("CREATE TABLE `Bad.Name` (`F` VARCHAR)"); }),
              db::errc::kFailed);
    EXPECT_EQ(ErrorNumber([&] { s->execute("DROP TABLE `Nope`"); }), db::errc::kNoSuchObject);
    s->execute("insert into `Kept` values ('ok')");
    s->commit();
    EXPECT_EQ(Column(*s, "Kept"), (std::vector<std::string>{"ok"}));
  }
  EXPECT_NE(FileBytes(path), before);
  ExpectSoundFile(path);

  // Writing is refused, file untouched: a session opened for reading, a file or a folder
  // without write permission, a database another program holds open.
  const std::string now = FileBytes(path);
  auto reading = db::OpenSession(path, "", db::OpenMode::Read);
  EXPECT_EQ(ErrorNumber([&] { reading->execute("DROP TABLE `Kept`"); }), db::errc::kNotSupported);
  ::chmod(path.c_str(), 0444);
  std::string message;
  EXPECT_EQ(ErrorNumber([&] { OpenRw(path)->execute("DROP TABLE `Kept`"); }, &message),
            db::errc::kFailed);
  EXPECT_NE(message.find("read-only"), std::string::npos) << message;
  ::chmod(path.c_str(), 0644);
  ::chmod(dir.path().c_str(), 0555);
  EXPECT_EQ(ErrorNumber([&] { OpenRw(path)->execute("DROP TABLE `Kept`"); }), db::errc::kFailed);
  ::chmod(dir.path().c_str(), 0755);
  {
    std::ofstream lock(db::access::write::LockFilePath(path), std::ios::binary);
    lock << std::string(32, 'P') << std::string(32, 'U');  // Access's entry: computer, user
  }
  EXPECT_NE(ErrorNumber([&] { OpenRw(path)->execute("DROP TABLE `Kept`"); }), 0);
  std::filesystem::remove(db::access::write::LockFilePath(path));
  EXPECT_EQ(FileBytes(path), now);
}

TEST(EngineWriteTest, EncryptedFilesWithoutTheirPasswordAreRefusedUntouched) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  // Encrypted .accdb files open for writing with their password only (encrypted_write_test);
  // Access 97 files are written (jet3_write_test).
  std::string encrypted = dir.copyFixture("ace14-encrypted-2010.accdb");
  const std::string before = FileBytes(encrypted);
  EXPECT_EQ(ErrorNumber([&] { OpenRw(encrypted); }), db::errc::kWrongPassword);
  EXPECT_EQ(FileBytes(encrypted), before);
  EXPECT_FALSE(std::filesystem::exists(db::access::write::LockFilePath(encrypted)));
}

TEST(EngineWriteTest, DropsTablesAccessMade) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* name : {"ace14-test-2010.accdb", "ace16-longtext.accdb",
                           "ace16-deleted-column.accdb", "jet4-numeric-2003.mdb"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    std::string path = dir.copyFixture(name);
    std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();
    std::uintmax_t size = std::filesystem::file_size(path);
    auto s = OpenRw(path);
    std::vector<std::string> tables = UserTables(*s);
    ASSERT_FALSE(tables.empty());
    for (const std::string& t : tables) {
      std::string message;
      long number = ErrorNumber([&] { s->execute("DROP TABLE `" + t + "`"); }, &message);
      // A table in a relationship is refused, as Access refuses it.
      if (number != 0) {
        EXPECT_NE(message.find("relationship"), std::string::npos) << message;
      }
    }
    std::vector<std::string> left = UserTables(*s);
    s.reset();
    EXPECT_LT(left.size(), tables.size());
    EXPECT_LE(ExpectSoundFile(path), leaked);
    // The pages given back are used again before the file grows.
    ExportValues(path, "Again", {"1", "2", "3"});
    EXPECT_EQ(std::filesystem::file_size(path), size);
    ExpectSoundFile(path);
  }
}

// Jet 4 can keep every page but the first RC4-encoded with the database key; a copy of a plain
// file encoded that way is written encoded too.
TEST(EngineWriteTest, WritesJet4PagesEncodedWithTheDatabaseKey) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture("jet4-nopassword-2003.mdb");
  std::string bytes = FileBytes(path);
  auto* b = reinterpret_cast<unsigned char*>(bytes.data());
  const std::uint32_t key = 0x3A91C4E7;
  const unsigned char headerKey[] = {0xC7, 0xDA, 0x39, 0x6B};
  db::access::format::Rc4Apply(headerKey, 4, b + 0x18, 128);
  for (int i = 0; i < 4; ++i) b[0x3E + i] = static_cast<unsigned char>(key >> (8 * i));
  db::access::format::Rc4Apply(headerKey, 4, b + 0x18, 128);
  for (std::uint32_t page = 1; page < bytes.size() / 4096; ++page) {
    std::uint32_t k = key ^ page;
    unsigned char kb[4] = {static_cast<unsigned char>(k), static_cast<unsigned char>(k >> 8),
                           static_cast<unsigned char>(k >> 16),
                           static_cast<unsigned char>(k >> 24)};
    db::access::format::Rc4Apply(kb, 4, b + std::size_t{page} * 4096, 4096);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

  std::vector<std::string> values;
  for (int i = 0; i < 2000; ++i) values.push_back("value " + std::to_string(i));
  EXPECT_EQ(ExportValues(path, "Coded", values), 0);
  EXPECT_EQ(Column(*OpenRw(path), "Coded"), values);
  ExpectSoundFile(path);
}

}  // namespace
}  // namespace enginetest
