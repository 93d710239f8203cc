// An export killed half-way, as by a crash or a power cut, leaves the database as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "extract/criteria.h"
#include "procedures/export.h"
#include "tests/procedures/run_support.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_prompts.h"

namespace {

using runtest::SqliteFile;

// Runs an export of `Source`.`City` into `Results` in a child process that kills itself at the
// given round of events (the pauses come every 500 rows). Returns the child's wait status.
int ExportAndDie(const std::string& path, int killAtRound) {
  const pid_t pid = fork();
  if (pid == 0) {
    runtest::FakeWorkspace ws;
    ws.databasePath = path;
    ws.fields = {"City"};
    ws.field = "City";
    ws.table = "Source";
    ws.criterion = std::string(extract::CriterionText(extract::Criterion::kNotContainsSpace));
    testsupport::ScriptedPrompts prompts;  // answers Yes to the overwrite question
    prompts.inputAnswers = {"Results"};
    runtest::FakeClock clock;
    clock.onRound = [&](int round) {
      if (round == killAtRound) raise(SIGKILL);
    };
    procedures::ExportResults(ws, prompts, clock);
    _exit(0);  // the export ended before the kill
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST(ExportKill, TheOldTableSurvivesAKillInTheMiddle) {
  testsupport::TempDir dir;
  SqliteFile file(dir.file("data.sqlite"));
  runtest::FillNumberedSource(file, 100000);
  file.exec(
      "CREATE TABLE Results (Old TEXT);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000)"
      " INSERT INTO Results SELECT 'old ' || i FROM n;");

  // Round 100 is the pause at row 49,500: the old table is dropped, the new one is half full.
  const int status = ExportAndDie(file.path(), 100);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the export ended before it was killed";
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  // The unfinished transaction is still on disk, to be undone at the next open.
  EXPECT_TRUE(std::filesystem::exists(file.path() + "-journal"));

  EXPECT_EQ(file.texts("SELECT name FROM pragma_table_info('Results')"),
            std::vector<std::string>{"Old"});
  EXPECT_EQ(file.count("Results"), 1000);
  EXPECT_EQ(file.texts("SELECT Old FROM Results WHERE rowid IN (1, 1000)"),
            (std::vector<std::string>{"old 1", "old 1000"}));
  EXPECT_EQ(file.count("Source"), 100000);
  EXPECT_EQ(file.texts("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

TEST(ExportKill, AKilledExportWithoutAnOldTableLeavesNoTable) {
  testsupport::TempDir dir;
  SqliteFile file(dir.file("data.sqlite"));
  runtest::FillNumberedSource(file, 2000);
  const int status = ExportAndDie(file.path(), 3);  // the pause at row 1,000
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(file.hasTable("Results"));
}

}  // namespace
