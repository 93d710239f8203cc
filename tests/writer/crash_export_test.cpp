// An export of thousands of rows into a copy of an Access file, cut off at random points: a child
// process is killed (SIGKILL) while it writes or in the middle of its commit, or the disk fills
// during the commit. The next opening recovers, and the outside readers find the file as it was
// before the export or as after it, never in between.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "db/access/write_session.h"
#include "db/base/error.h"
#include "db/access/write/file_env.h"
#include "tests/support/fault_env.h"
#include "db/access/format/header.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

using testsupport::TempDir;

// Enough rows that the table's and the file's page maps outgrow their inline form.
constexpr int kRows = 100000;
// Run on an ACE file (4096-byte pages) and an Access 97 one (Jet 3, 2048-byte pages).
class CrashExportTest : public ::testing::TestWithParam<const char*> {};
INSTANTIATE_TEST_SUITE_P(Formats, CrashExportTest,
                         ::testing::Values("ace14-test-2010.accdb", "jet3-test.mdb"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).find("jet3") == 0 ? "Jet3" : "Ace";
                         });

std::string RowValue(int i) { return "row " + std::to_string(i) + " of the export"; }

// The export into a long-text column: fewer values, of every stored form (inline, one row of a
// long-value page, chains of up to a dozen pages).
constexpr int kLongRows = 300;
std::string LongRowValue(int i) {
  std::string v = RowValue(i);
  v += ' ';
  const std::size_t length = static_cast<std::size_t>(i) * 7919 % 24000;
  while (v.size() < length) v += "long note " + std::to_string(i) + "\r\n";
  return v;
}
int Rows(bool longText) { return longText ? kLongRows : kRows; }
std::string Value(int i, bool longText) { return longText ? LongRowValue(i) : RowValue(i); }

// The real file system, with the process killing itself at the Nth operation that changes
// something on disk.
class KillingEnv : public db::access::write::FileEnv {
 public:
  explicit KillingEnv(std::uint64_t killAt) : killAt_(killAt) {}
  std::unique_ptr<db::access::write::File> open(const std::string& path,
                                                db::access::write::FileMode mode) override {
    if (mode == db::access::write::FileMode::kCreate) tick();
    return std::make_unique<KillingFile>(*this, base_.open(path, mode));
  }
  bool exists(const std::string& path) override { return base_.exists(path); }
  void remove(const std::string& path) override { tick(), base_.remove(path); }
  void rename(const std::string& a, const std::string& b) override { tick(), base_.rename(a, b); }
  void syncFolderOf(const std::string& path) override { tick(), base_.syncFolderOf(path); }
  void tick() {
    if (operations_++ == killAt_) ::kill(::getpid(), SIGKILL);
  }
  std::uint64_t operations() const { return operations_; }

 private:
  class KillingFile : public db::access::write::File {
   public:
    KillingFile(KillingEnv& env, std::unique_ptr<db::access::write::File> base)
        : env_(env), base_(std::move(base)) {}
    std::size_t read(std::uint64_t o, void* b, std::size_t n) override {
      return base_->read(o, b, n);
    }
    void write(std::uint64_t o, const void* d, std::size_t n) override {
      env_.tick();
      base_->write(o, d, n);
    }
    void sync() override { env_.tick(), base_->sync(); }
    void truncate(std::uint64_t n) override { env_.tick(), base_->truncate(n); }
    std::uint64_t size() override { return base_->size(); }
    const std::string& path() const override { return base_->path(); }

   private:
    KillingEnv& env_;
    std::unique_ptr<db::access::write::File> base_;
  };

  db::access::write::FileEnv& base_ = db::access::write::DefaultFileEnv();
  std::uint64_t killAt_;
  std::uint64_t operations_ = 0;
};

db::access::format::JetHeader HeaderOf(const std::string& path) {
  std::string bytes = FileBytes(path).substr(0, 4096);
  return *db::access::format::ParseJetHeader(reinterpret_cast<const unsigned char*>(bytes.data()),
                                             bytes.size());
}

// The export's statements in one transaction, on the writing session alone.
void Export(const std::string& path, db::access::write::FileEnv& env, bool longText = false) {
  db::access::AccessWriteSession s(path, HeaderOf(path), db::OpenMode::ReadWrite, env);
  s.begin();
  s.execute(db::access::sql::ParseAccessStatement(db::DropTableStatement("Table1")));
  s.execute(
      db::access::sql::ParseAccessStatement(db::CreateTableStatement("Export", "Value", longText)));
  for (int i = 0; i < Rows(longText); ++i)
    s.execute(
        db::access::sql::ParseAccessStatement(db::InsertStatement("Export", Value(i, longText))));
  s.commit();
}

// Old state: Table1 there, no Export table. New state: Table1 gone, Export whole.
void ExpectOldOrNew(const std::string& path, bool* isNew, bool longText = false) {
  auto session = OpenRw(path);  // recovers
  bool hasExport = Lists(*session, "Export");
  EXPECT_NE(hasExport, Lists(*session, "Table1")) << "half an export";
  if (hasExport) {
    std::vector<std::string> rows = Column(*session, "Export");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(Rows(longText)));
    EXPECT_EQ(rows.front(), Value(0, longText));
    EXPECT_EQ(rows.back(), Value(Rows(longText) - 1, longText));
    if (longText) {
      std::vector<std::string> want;
      for (int i = 0; i < kLongRows; ++i) want.push_back(LongRowValue(i));
      std::sort(rows.begin(), rows.end());
      std::sort(want.begin(), want.end());
      EXPECT_TRUE(rows == want) << "long values lost or changed";
    }
  }
  session.reset();
  ExpectSoundFile(path);
  *isNew = hasExport;
}

// Runs the export in a child that is killed `afterMs` milliseconds in, or at its changing
// operation `killAt`. Gives whether the child finished.
bool RunChild(const std::string& path, int afterMs, std::uint64_t killAt, bool longText = false) {
  pid_t pid = ::fork();
  if (pid == 0) {
    KillingEnv env(killAt);
    try {
      Export(path, env, longText);
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  if (afterMs >= 0) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs);
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && !WEXITSTATUS(status);
      ::usleep(1000);
    }
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_P(CrashExportTest, KilledExportLeavesOldOrNewState) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const char* kFixture = GetParam();
  // One whole run measures the time and the commit's changing operations.
  TempDir dir;
  std::string path = dir.copyFixture(kFixture);
  auto start = std::chrono::steady_clock::now();
  KillingEnv counter(~std::uint64_t{0});
  Export(path, counter);
  int wholeMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
  const std::uint64_t commitOperations = counter.operations();
  bool isNew = false;
  ExpectOldOrNew(path, &isNew);
  EXPECT_TRUE(isNew);

  std::mt19937 random(20240531);
  int sawOld = 0, sawNew = 0;
  // Killed from outside at random times of the run, then inside the commit at random steps.
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    TempDir d;
    std::string p = d.copyFixture(kFixture);
    bool finished;
    if (round < 3) {
      finished =
          RunChild(p, std::uniform_int_distribution<int>(0, wholeMs)(random), ~std::uint64_t{0});
    } else {
      std::uint64_t at =
          std::uniform_int_distribution<std::uint64_t>(0, commitOperations - 1)(random);
      finished = RunChild(p, -1, at);
      EXPECT_FALSE(finished);
    }
    bool n = false;
    ExpectOldOrNew(p, &n);
    if (finished) {
      EXPECT_TRUE(n);
    }
    (n ? sawNew : sawOld)++;
  }
  EXPECT_GT(sawOld, 0);
}

// The same with long values, killed from outside and at random steps of the commit, which
// writes their pages of chains.
TEST(CrashLongExportTest, KilledLongValueExportLeavesOldOrNewState) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const char* kFixture = "ace14-test-2010.accdb";
  TempDir dir;
  std::string path = dir.copyFixture(kFixture);
  auto start = std::chrono::steady_clock::now();
  KillingEnv counter(~std::uint64_t{0});
  Export(path, counter, true);
  int wholeMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
  bool isNew = false;
  ExpectOldOrNew(path, &isNew, true);
  EXPECT_TRUE(isNew);

  std::mt19937 random(20261208);
  int sawOld = 0;
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    TempDir d;
    std::string p = d.copyFixture(kFixture);
    bool finished;
    if (round < 2) {
      finished = RunChild(p, std::uniform_int_distribution<int>(0, wholeMs)(random),
                          ~std::uint64_t{0}, true);
    } else {
      std::uint64_t at =
          std::uniform_int_distribution<std::uint64_t>(0, counter.operations() - 1)(random);
      finished = RunChild(p, -1, at, true);
      EXPECT_FALSE(finished);
    }
    bool n = false;
    ExpectOldOrNew(p, &n, true);
    if (finished) {
      EXPECT_TRUE(n);
    }
    sawOld += n ? 0 : 1;
  }
  EXPECT_GT(sawOld, 0);
}

TEST_P(CrashExportTest, FullDiskDuringCommitChangesNothing) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const char* kFixture = GetParam();
  for (bool longText : {false, true})
    for (std::uint64_t budget : {0ull, 4096ull * 3, 4096ull * 20}) {
      SCOPED_TRACE(budget);
      SCOPED_TRACE(longText ? "long text" : "text");
      TempDir dir;
      std::string path = dir.copyFixture(kFixture);
      const std::string before = FileBytes(path);
      testsupport::FaultEnv env;
      env.setGrowthBudget(budget);
      std::string message;
      try {
        Export(path, env, longText);
      } catch (const db::Error& e) {
        message = e.description();
      }
      ASSERT_FALSE(message.empty()) << "the commit should not fit";
      EXPECT_EQ(FileBytes(path), before);
      bool isNew = true;
      ExpectOldOrNew(path, &isNew, longText);
      EXPECT_FALSE(isNew);
    }
}

}  // namespace
}  // namespace enginetest
