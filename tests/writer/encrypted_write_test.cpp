// Writing into files whose pages are stored encrypted (.accdb with a database password) or
// encoded with the database key (Jet 4): the export's statements write pages as the file stores
// them, no plaintext reaches the file or its journal at any moment, crashes leave the old or the
// new state, and the outside readers read the result.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#include "db/access/check/checker.h"
#include "db/access/format/encryption.h"
#include "db/access/format/header.h"
#include "db/access/format/pages.h"
#include "db/access/write/encrypted_copy.h"
#include "db/access/write/pager.h"
#include "db/access/write_session.h"
#include "db/base/error.h"
#include "tests/support/fault_env.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

using namespace db::access::format;
using db::access::write::File;
using db::access::write::FileEnv;
using db::access::write::FileMode;
using testsupport::TempDir;

const char kMarker[] = "Plaintext marker";
std::string Value(int i) { return std::string(kMarker) + " " + std::to_string(i) + " Grüße"; }

// Whether `bytes` hold `text` (ASCII) in one byte per character or in UTF-16LE.
bool Holds(const std::string& bytes, const std::string& text) {
  std::string wide;
  for (char c : text) wide += c, wide += '\0';
  return bytes.find(text) != std::string::npos || bytes.find(wide) != std::string::npos;
}

// The real file system, keeping every byte written to any file.
class RecordingEnv : public FileEnv {
 public:
  std::unique_ptr<File> open(const std::string& path, FileMode mode) override {
    return std::make_unique<RecordingFile>(*this, base_.open(path, mode));
  }
  bool exists(const std::string& path) override { return base_.exists(path); }
  void remove(const std::string& path) override { base_.remove(path); }
  void rename(const std::string& a, const std::string& b) override { base_.rename(a, b); }
  void syncFolderOf(const std::string& path) override { base_.syncFolderOf(path); }
  std::map<std::string, std::string> written;  // by file name

 private:
  class RecordingFile : public File {
   public:
    RecordingFile(RecordingEnv& env, std::unique_ptr<File> base)
        : env_(env), base_(std::move(base)) {}
    std::size_t read(std::uint64_t o, void* b, std::size_t n) override {
      return base_->read(o, b, n);
    }
    void write(std::uint64_t o, const void* d, std::size_t n) override {
      env_.written[std::filesystem::path(path()).filename().string()].append(
          static_cast<const char*>(d), n);
      base_->write(o, d, n);
    }
    void sync() override { base_->sync(); }
    void truncate(std::uint64_t n) override { base_->truncate(n); }
    std::uint64_t size() override { return base_->size(); }
    const std::string& path() const override { return base_->path(); }

   private:
    RecordingEnv& env_;
    std::unique_ptr<File> base_;
  };
  FileEnv& base_ = db::access::write::DefaultFileEnv();
};

JetHeader HeaderOf(const std::string& bytes) {
  return *ParseJetHeader(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// The export's statements in one transaction on the writing session alone, with the codec the
// password opens: Table1 dropped, Export made and filled with `rows` values.
void Export(const std::string& path, const std::string& password, FileEnv& env, int rows) {
  std::string page0 = FileBytes(path).substr(0, kPageSize);
  JetHeader header = HeaderOf(page0);
  std::shared_ptr<const PageCodec> codec = OpenPageCodec(
      header, reinterpret_cast<const unsigned char*>(page0.data()), page0.size(), password);
  db::access::AccessWriteSession s(path, header, db::OpenMode::ReadWrite, env,
                                   header.isOfficeEncrypted() ? codec : nullptr);
  s.begin();
  s.execute(db::access::sql::ParseAccessStatement(db::DropTableStatement("Table1")));
  s.execute(db::access::sql::ParseAccessStatement(db::CreateTableStatement("Export", "Value")));
  for (int i = 0; i < rows; ++i)
    s.execute(db::access::sql::ParseAccessStatement(db::InsertStatement("Export", Value(i))));
  s.commit();
}

// Old state (Table1, no Export) or new state (Export whole, no Table1), read with the password;
// the checker finds no new problem. Gives whether it is the new state.
bool ExpectOldOrNew(const std::string& path, const std::string& password, int rows,
                    const db::access::check::JetCheckReport& before) {
  auto session = OpenRw(path, password);  // recovers
  bool isNew = Lists(*session, "Export");
  EXPECT_NE(isNew, Lists(*session, "Table1")) << "half an export";
  if (isNew) {
    std::vector<std::string> values = Column(*session, "Export");
    EXPECT_EQ(values.size(), static_cast<std::size_t>(rows));
    if (!values.empty()) {
      EXPECT_EQ(values.front(), Value(0));
      EXPECT_EQ(values.back(), Value(rows - 1));
    }
  }
  session.reset();
  db::access::check::JetCheckReport after = db::access::check::CheckJetFile(path, password);
  EXPECT_EQ(db::access::check::NewProblem(before, after), "");
  return isNew;
}

const struct EncryptedFixture {
  const char* file;
  const char* password;
  bool mdbReaderReads;  // mdb-reader cannot read the RC4 CryptoAPI fixture
} kFixtures[] = {
    {"ace12-rc4-cryptoapi-2007.accdb", "Test123", false},
    {"ace-agile-encrypted.accdb", "password", true},
};

TEST(EncryptedWriteTest, ExportKeepsTheFileAndItsJournalEncrypted) {
  ROWSIFTER_REQUIRE_FIXTURES();
  constexpr int kRows = 1500;  // several data pages
  for (const EncryptedFixture& f : kFixtures) {
    SCOPED_TRACE(f.file);
    TempDir dir;
    std::string path = dir.copyFixture(f.file);
    const std::string before = FileBytes(path);
    const auto checkedBefore = db::access::check::CheckJetFile(path, f.password);
    EXPECT_TRUE(checkedBefore.ok()) << checkedBefore.problems.front();
    RecordingEnv env;
    Export(path, f.password, env, kRows);

    const std::string after = FileBytes(path);
    EXPECT_NE(after, before);
    EXPECT_EQ(after.substr(0, kPageSize), before.substr(0, kPageSize)) << "page 0 changed";
    EXPECT_EQ(env.written.count(std::filesystem::path(path).filename().string() + "-journal"), 1u);
    for (const auto& [file, bytes] : env.written) {
      for (int i : {0, 1, kRows / 2, kRows - 1}) EXPECT_FALSE(Holds(bytes, Value(i))) << file;
      EXPECT_FALSE(Holds(bytes, kMarker)) << file;
      EXPECT_FALSE(Holds(bytes, "Export")) << file;  // the new table's name
    }
    EXPECT_FALSE(Holds(after, kMarker));
    EXPECT_FALSE(std::filesystem::exists(db::access::write::JournalPath(path)));

    EXPECT_TRUE(ExpectOldOrNew(path, f.password, kRows, checkedBefore));
    EXPECT_TRUE(db::access::check::CheckJetFile(path, f.password).ok());
    EXPECT_FALSE(db::access::check::CheckJetFile(path, "wrong").ok());
    std::string message;
    try {
      OpenRw(path, "wrong");
    } catch (const db::Error& e) {
      message = e.description();
    }
    EXPECT_EQ(message, "Not a valid password.");
    if (f.mdbReaderReads && !testsupport::MdbReaderUnavailable()) {
      using namespace testsupport;
      EXPECT_EQ(FirstDifference(WithoutTypes(ReadWithMdbReader(path, f.password)),
                                ReadWithOurLayer(path, f.password), "mdb-reader against our layer"),
                std::nullopt);
    }
  }
}

// The export as the program runs it (the layer's connection, with the password from the
// connection string), then a drop of what it made: both read back by our layer and, for the
// agile file, by mdb-reader.
TEST(EncryptedWriteTest, ExportThroughTheLayerAndDropReadBack) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const EncryptedFixture& f : kFixtures) {
    SCOPED_TRACE(f.file);
    TempDir dir;
    std::string path = dir.copyFixture(f.file);
    std::vector<std::string> values = {"alpha", "beta gamma", "Grüße aus Köln", "😀 emoji"};
    EXPECT_EQ(ExportValues(path, "Results", values, f.password), 0);
    auto session = OpenRw(path, f.password);
    EXPECT_EQ(Column(*session, "Results"), values);
    session.reset();
    if (f.mdbReaderReads && !testsupport::MdbReaderUnavailable()) {
      const testsupport::ReadDatabase theirs = testsupport::ReadWithMdbReader(path, f.password);
      ASSERT_TRUE(theirs.find("Results"));
      ASSERT_EQ(theirs.find("Results")->rows.size(), values.size());
      EXPECT_EQ(theirs.find("Results")->rows[2][0], values[2]);
    }
    session = OpenRw(path, f.password);
    session->execute(db::DropTableStatement("Results"));
    EXPECT_FALSE(Lists(*session, "Results"));
    EXPECT_TRUE(Lists(*session, "Table1"));
    session.reset();
    EXPECT_TRUE(db::access::check::CheckJetFile(path, f.password).ok());
  }
}

// Crashes at random steps of the commit (clean, torn and lost writes): neither the file nor the
// journal left behind hold plaintext, and the next opening finds the old or the new state.
TEST(EncryptedWriteTest, CrashedCommitLeavesOldOrNewAndNoPlaintext) {
  ROWSIFTER_REQUIRE_FIXTURES();
  constexpr int kRows = 1500;
  for (const EncryptedFixture& f : kFixtures) {
    SCOPED_TRACE(f.file);
    TempDir dir;
    std::string path = dir.copyFixture(f.file);
    const auto before = db::access::check::CheckJetFile(path, f.password);
    testsupport::FaultEnv counter;
    Export(path, f.password, counter, kRows);
    const std::uint64_t operations = counter.operations();
    ASSERT_GT(operations, 4u);

    std::mt19937 random(20250911);
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 8; ++round) {
      TempDir d;
      std::string p = d.copyFixture(f.file);
      testsupport::FaultEnv env;
      std::uint64_t at = std::uniform_int_distribution<std::uint64_t>(0, operations - 1)(random);
      auto kind = static_cast<testsupport::FaultEnv::CrashKind>(round % 3);
      env.crashAtOperation(at, kind);
      SCOPED_TRACE("crash at operation " + std::to_string(at) + ", kind " +
                   std::to_string(round % 3));
      try {
        Export(p, f.password, env, kRows);
      } catch (const db::Error&) {
      }
      ASSERT_TRUE(env.crashed());
      for (const std::string& file : {p, db::access::write::JournalPath(p)})
        if (std::filesystem::exists(file)) {
          EXPECT_FALSE(Holds(FileBytes(file), kMarker)) << file;
        }
      (ExpectOldOrNew(p, f.password, kRows, before) ? sawNew : sawOld)++;
    }
    EXPECT_GT(sawOld, 0);
  }
}

// Jet 4 files whose pages are RC4-encoded with the database key: no fixture has one, so one is
// made from a copy (pages encoded, key set in the header). It reads as the plain file, and an
// export keeps its pages encoded: libmdb, mdb-reader and our layer read the result alike.
TEST(EncryptedWriteTest, Jet4FileWithAPageKeyIsWrittenEncoded) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string plain = dir.copyFixture("jet4-nopassword-2003.mdb");
  std::string bytes = FileBytes(plain);
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  constexpr std::uint32_t kKey = 0x5A17C3E9;
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, data + kEncryptedStart, kEncryptedSize);
  ASSERT_EQ(Get32(data + kPageKeyAt), 0u);
  Put32(data + kPageKeyAt, kKey);
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, data + kEncryptedStart, kEncryptedSize);
  JetHeader header = HeaderOf(bytes);
  ASSERT_EQ(header.pageKey, kKey);
  auto codec = OpenPageCodec(header, data, bytes.size(), "");
  ASSERT_TRUE(codec);
  for (std::size_t p = 1; p < bytes.size() / kPageSize; ++p)
    codec->encode(static_cast<std::uint32_t>(p), data + p * kPageSize, kPageSize);
  std::string keyed = dir.file("keyed.mdb");
  std::ofstream(keyed, std::ios::binary) << bytes;

  using namespace testsupport;
  EXPECT_EQ(FirstDifference(ReadWithOurLayer(plain), ReadWithOurLayer(keyed)), std::nullopt);
  for (const std::string& p : {plain, keyed}) {
    testsupport::FaultEnv env;  // the real file system, nothing injected
    Export(p, "", env, 800);
  }
  const std::string written = FileBytes(keyed);
  EXPECT_FALSE(Holds(written, kMarker));
  EXPECT_TRUE(Holds(FileBytes(plain), kMarker));  // the same export, stored plainly
  EXPECT_EQ(FirstDifference(ReadWithOurLayer(plain), ReadWithOurLayer(keyed)), std::nullopt);
  ExpectSoundFile(keyed);
}

}  // namespace
}  // namespace enginetest
