// An export cut off in its commit leaves the database half-written and its journal beside it.
// Before the next opening the file may be replaced: by another database of that name, by a
// newer copy of the same database from after a finished export, or cut or grown by another
// program. The journal is then set aside unplayed and the replacement kept byte for byte; the
// file the export was cut off in, or the same bytes from before the export, are put back.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "db/access/write_session.h"
#include "db/base/error.h"
#include "db/access/write/file_env.h"
#include "tests/support/fault_env.h"
#include "db/access/format/header.h"
#include "db/access/write/pager.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

using testsupport::TempDir;
namespace fs = std::filesystem;

const char kFixture[] = "ace14-test-2010.accdb";
constexpr int kRows = 3000;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The export's statements in one transaction: `Table1` replaced by a table `Export`.
void Export(const std::string& path, db::access::write::FileEnv& env) {
  std::string first = FileBytes(path).substr(0, 4096);
  db::access::AccessWriteSession s(
      path,
      *db::access::format::ParseJetHeader(reinterpret_cast<const unsigned char*>(first.data()),
                                          first.size()),
      db::OpenMode::ReadWrite, env);
  s.begin();
  s.execute(db::access::sql::ParseAccessStatement(db::DropTableStatement("Table1")));
  s.execute(db::access::sql::ParseAccessStatement(db::CreateTableStatement("Export", "Value")));
  for (int i = 0; i < kRows; ++i)
    s.execute(db::access::sql::ParseAccessStatement(
        db::InsertStatement("Export", "value " + std::to_string(i))));
  s.commit();
}

TEST(ReplacedFileTest, JournalIsPlayedOnlyIntoTheFileItWasWrittenFor) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir scratch;
  const std::string original = FileBytes(testsupport::Fixture(kFixture));
  std::uint64_t commitEnd;  // the changing operations of a whole export
  {
    std::string path = scratch.copyFixture(kFixture);
    testsupport::FaultEnv counter;
    Export(path, counter);
    commitEnd = counter.operations();
    fs::remove(path);
  }
  // A newer copy: the same export, finished a moment later (the catalogue's dates differ).
  std::string newer;
  {
    std::string path = scratch.copyFixture(kFixture);
    Export(path, db::access::write::DefaultFileEnv());
    newer = FileBytes(path);
  }

  struct Case {
    const char* what;
    std::function<std::string(const std::string& crashed)> replacement;  // nullptr: kept
    bool played;
  };
  const Case cases[] = {
      {"the file the export was cut off in", nullptr, true},
      {"its bytes from before the export, put back", [&](const std::string&) { return original; },
       true},
      {"another database of that name",
       [](const std::string&) { return FileBytes(testsupport::Fixture("ace16-empty-2016.accdb")); },
       false},
      {"a newer copy, after the same export finished", [&](const std::string&) { return newer; },
       false},
      {"cut short by another program",
       [&](const std::string&) { return original.substr(0, original.size() - 4096); }, false},
      {"grown by another program",
       [&](const std::string&) { return newer + std::string(8 * 4096, '\0'); }, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    TempDir dir;
    std::string path = dir.copyFixture(kFixture);
    const std::string journal = db::access::write::JournalPath(path);
    {
      testsupport::FaultEnv env;  // cut off half-way through writing the last run of pages
      env.crashAtOperation(commitEnd - 4, testsupport::FaultEnv::CrashKind::kTornWrite);
      EXPECT_THROW(Export(path, env), db::Error);
    }
    ASSERT_TRUE(fs::exists(journal));
    const std::string crashed = FileBytes(path);
    ASSERT_NE(crashed, original) << "the crash should leave a half-written file";
    const std::string journalBytes = FileBytes(journal);
    if (k.replacement) WriteFile(path, k.replacement(crashed));
    const std::string replaced = FileBytes(path);

    std::string message;
    try {
      auto session = OpenRw(path);
    } catch (const db::Error& e) {
      message = e.description();
    }
    EXPECT_FALSE(fs::exists(journal));
    if (k.played) {
      EXPECT_EQ(message, "");
      EXPECT_EQ(FileBytes(path), original);
      EXPECT_FALSE(fs::exists(journal + ".stale"));
      continue;
    }
    EXPECT_NE(message.find("'" + journal + "'"), std::string::npos) << message;
    EXPECT_NE(message.find("'" + path + "'"), std::string::npos) << message;
    EXPECT_NE(message.find("not played back"), std::string::npos) << message;
    EXPECT_NE(message.find("'" + journal + ".stale'"), std::string::npos) << message;
    EXPECT_EQ(FileBytes(path), replaced);
    EXPECT_EQ(FileBytes(journal + ".stale"), journalBytes);

    // The next opening goes on with the file as it is.
    if (replaced.size() < original.size()) {
      EXPECT_FALSE(db::access::write::RecoverHotJournal(path));
    } else {
      auto session = OpenRw(path);
      EXPECT_EQ(Lists(*session, "Export"), replaced.size() >= newer.size());
    }
    EXPECT_EQ(FileBytes(path), replaced);
  }
}

}  // namespace
}  // namespace enginetest
