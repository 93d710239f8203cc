// Writing Access 97 (Jet 3) files through the engine, as the export does: a copy of the Access
// 97 fixture, read back by our layer, libmdb and mdb-reader and checked page by page.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/access/format/bytes.h"
#include "db/access/format/header.h"
#include "db/access/format/pages.h"
#include "db/access/write/lock_file.h"
#include "db/access/write/pager.h"
#include "db/base/error.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

using testsupport::TempDir;

constexpr char kJet3[] = "jet3-test.mdb";

long ErrorNumber(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const db::Error& e) {
    if (message) *message = e.description();
    return e.number();
  }
  return 0;
}

TEST(Jet3WriteTest, FixtureIsSoundToTheChecker) {
  ROWSIFTER_REQUIRE_FIXTURES();
  db::access::check::JetCheckReport report =
      db::access::check::CheckJetFile(testsupport::Fixture(kJet3));
  for (const std::string& p : report.problems) ADD_FAILURE() << p;
}

TEST(Jet3WriteTest, ExportKeepsWhatTheCodePageHoldsAndReadsTheSameEverywhere) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture(kJet3);
  std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();

  // Refused, each alone: a character code page 1252 has no byte for, a value one character too
  // long. The Western letters and signs of the code page are kept.
  const std::string longest(255, 'x');
  std::vector<std::string> values = {"O'Brien",  "Z\xC3\xBCrich", "",   "a b",     longest,
                                     "\xE2\x82\xAC 5", "\xE8\xA1\xA8",  "Caf\xC3\xA9 \xE8\xA1\xA8",
                                     std::string(256, 'y')};
  EXPECT_EQ(ExportValues(path, "Results", values), 3);
  std::vector<std::string> kept(values.begin(), values.begin() + 6);
  {
    auto s = OpenRw(path);
    EXPECT_TRUE(Lists(*s, "Results"));
    EXPECT_EQ(Column(*s, "Results"), kept);
  }
  EXPECT_LE(ExpectSoundFile(path), leaked);

  // Replacing: the old table goes, the new one holds only the new values.
  EXPECT_EQ(ExportValues(path, "results", {"one", "two"}), 0);
  {
    auto s = OpenRw(path);
    EXPECT_TRUE(Lists(*s, "results"));
    EXPECT_FALSE(Lists(*s, "Results"));
    EXPECT_EQ(Column(*s, "results"), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(Lists(*s, "Table1"));
  }
  EXPECT_LE(ExpectSoundFile(path), leaked);
  EXPECT_FALSE(std::filesystem::exists(db::access::write::JournalPath(path)));
  EXPECT_FALSE(std::filesystem::exists(db::access::write::LockFilePath(path)));
}

TEST(Jet3WriteTest, ManyRowsFillPagesAndTheTableDropsWhole) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture(kJet3);
  const std::uintmax_t size = std::filesystem::file_size(path);
  std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();
  // Rows past 256 bytes carry a jump table; 300 rows fill several 2048-byte pages.
  std::vector<std::string> values;
  for (int i = 0; i < 300; ++i)
    values.push_back(std::string(static_cast<std::size_t>(i % 256), static_cast<char>('a' + i % 26)) +
                     std::to_string(i));
  values.resize(300);
  int refused = ExportValues(path, "Many", values);
  std::vector<std::string> kept;
  for (const std::string& v : values)
    if (v.size() <= 255) kept.push_back(v);
  EXPECT_EQ(refused, static_cast<int>(values.size() - kept.size()));
  {
    auto s = OpenRw(path);
    EXPECT_EQ(Column(*s, "Many"), kept);
  }
  EXPECT_LE(ExpectSoundFile(path), leaked);
  OpenRw(path)->execute("DROP TABLE `Many`");
  EXPECT_LE(ExpectSoundFile(path), leaked);
  // Its pages went back to the file's page map and are taken again by the next table.
  const std::uintmax_t grown = std::filesystem::file_size(path);
  EXPECT_GT(grown, size);
  EXPECT_EQ(ExportValues(path, "Again", values), refused);
  EXPECT_EQ(std::filesystem::file_size(path), grown);
  EXPECT_LE(ExpectSoundFile(path), leaked);
}

TEST(Jet3WriteTest, NamesWhoseIndexKeyIsUnknownAreRefusedUntouched) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string path = dir.copyFixture(kJet3);
  const std::string before = FileBytes(path);
  auto s = OpenRw(path);
  for (const char* name : {"Spaced Name", "Caf\xC3\xA9", "under_score", "\xE8\xA1\xA8"}) {
    std::string message;
    EXPECT_EQ(ErrorNumber([&] { s->execute("CREATE TABLE `" + std::string(name) + "` (`F` VARCHAR)"); },
                          &message),
              db::errc::kNotSupported)
        << name;
    EXPECT_NE(message.find("Access 97"), std::string::npos) << message;
  }
  // A table of the fixture: a name the catalogue already holds, whatever its letter case.
  EXPECT_EQ(ErrorNumber([&] { s->execute("CREATE TABLE `TABLE1` (`F` VARCHAR)"); }),
            db::errc::kFailed);
  s.reset();
  EXPECT_EQ(FileBytes(path), before);
}

// A Jet 3 file whose pages are RC4-encoded with the database key (made from the fixture by
// encoding every page but the header and setting the key in the header) is written encoded.
TEST(Jet3WriteTest, KeyedPagesAreWrittenEncoded) {
  ROWSIFTER_REQUIRE_FIXTURES();
  using namespace db::access::format;
  TempDir dir;
  std::string path = dir.copyFixture(kJet3);
  const std::uint32_t key = 0x1A2B3C4D;
  {
    std::string bytes = FileBytes(path);
    auto* data = reinterpret_cast<unsigned char*>(bytes.data());
    // The key sits inside the header's RC4-masked run.
    Rc4Apply(kHeaderKey, sizeof kHeaderKey, data + kEncryptedStart, kJet3EncryptedSize);
    Put32(data + kPageKeyAt, key);
    Rc4Apply(kHeaderKey, sizeof kHeaderKey, data + kEncryptedStart, kJet3EncryptedSize);
    for (std::size_t p = 1; p < bytes.size() / kJet3PageSize; ++p) {
      unsigned char k[4];
      Put32(k, key ^ static_cast<std::uint32_t>(p));
      Rc4Apply(k, 4, data + p * kJet3PageSize, kJet3PageSize);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::size_t leaked = db::access::check::CheckJetFile(path).leakedPages.size();
  EXPECT_EQ(ExportValues(path, "Coded", {"plain text one", "plain text two"}), 0);
  {
    auto s = OpenRw(path);
    EXPECT_EQ(Column(*s, "Coded"), (std::vector<std::string>{"plain text one", "plain text two"}));
  }
  EXPECT_LE(ExpectSoundFile(path), leaked);
  // Nothing of the new rows is stored as plain bytes.
  EXPECT_EQ(FileBytes(path).find("plain text"), std::string::npos);
}

}  // namespace
}  // namespace enginetest
