// The export into a new table driven headless: a workspace in memory, scripted answers, a fake
// clock and SQLite files made by the tests, read back with sqlite3 itself.
#include "procedures/export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>

#include "steps/pointer.h"
#include "extract/criteria.h"
#include "tests/db/file_size_limit.h"
#include "tests/procedures/run_support.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_prompts.h"

// Inside the namespace of the doubles (run_support.h), so their names need no qualification.
namespace runtest {
namespace {

using extract::Criterion;
using extract::CriterionText;

class ExportTest : public WorkspaceTest {
 protected:
  ExportTest() { ws.results = {"listed before"}; }

  void exportAs(const std::string& name) {
    prompts.inputAnswers.push_front(name);
    procedures::ExportResults(ws, prompts, clock);
  }

  // An old result table that an export may replace.
  void makeOldResults() {
    file.exec("CREATE TABLE Results (Old TEXT); INSERT INTO Results VALUES ('kept');");
  }
};

TEST_F(ExportTest, WritesDistinctMatchesAsStoredAndLeavesTheResultsList) {
  runtest::FillSource(file, {"New York", "Paris", std::nullopt, "New York", "O'Brien Town",
                             "Los Angeles", std::nullopt});
  exportAs("Results");
  EXPECT_EQ(prompts.inputPrompts, std::vector<std::string>{"Enter New Table:"});
  EXPECT_TRUE(prompts.errorReports().empty());
  EXPECT_EQ(Sorted(file.texts("SELECT City FROM Results")),
            (std::vector<std::string>{"Los Angeles", "New York", "O'Brien Town"}));
  EXPECT_EQ(file.texts("SELECT name FROM pragma_table_info('Results')"),
            std::vector<std::string>{"City"});
  EXPECT_EQ(file.texts("SELECT type FROM pragma_table_info('Results')"),
            std::vector<std::string>{"VARCHAR"});
  EXPECT_EQ(ws.results, std::vector<std::string>{"listed before"});
  EXPECT_EQ(ws.clears, 0);
  EXPECT_EQ(ws.refills, 1);
  EXPECT_EQ(ws.pointers, (std::vector<int>{steps::pointer::kBusy, steps::pointer::kDefault}));
  EXPECT_EQ(ws.progressText, "Progress Bar");
  EXPECT_EQ(ws.progress.back(), 0);
  EXPECT_EQ(messageTexts(), std::vector<std::string>{"Done."});
}

TEST_F(ExportTest, BlankNameOrCharactersOrNoFieldsChangeNothing) {
  runtest::FillSource(file, {"a b"});
  exportAs("");
  exportAs("   ");
  EXPECT_TRUE(prompts.messages.empty());

  ws.criterion = Text(Criterion::kContainsUserChars);
  prompts.inputAnswers = {"Results", "  "};
  procedures::ExportResults(ws, prompts, clock);
  EXPECT_EQ(prompts.inputPrompts.back(), "Input User-Defined Character(s):");
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(ws.connectionStringReads, 0);
  EXPECT_TRUE(ws.pointers.empty());

  ws.fields.clear();
  exportAs("Results");
  EXPECT_EQ(messageTexts(), std::vector<std::string>{"Please select a field."});
  EXPECT_FALSE(file.hasTable("Results"));
  EXPECT_EQ(ws.refills, 0);
}

TEST_F(ExportTest, AnExistingTableIsReplacedOnlyOnYes) {
  runtest::FillSource(file, {"a b", "c"});
  makeOldResults();

  prompts.messageAnswers = {steps::box::kNo};
  exportAs("rESULTS");  // another letter case counts as the same table
  ASSERT_FALSE(prompts.messages.empty());
  EXPECT_EQ(prompts.messages[0].text,
            "Table already exists in the database.\r\nDo you want to overwrite existing table?");
  EXPECT_EQ(prompts.messages[0].style, steps::box::kYesNo);
  EXPECT_EQ(prompts.messages.size(), 1u);  // no "Done."
  EXPECT_EQ(file.texts("SELECT Old FROM Results"), std::vector<std::string>{"kept"});
  EXPECT_EQ(ws.pointers, (std::vector<int>{steps::pointer::kBusy, steps::pointer::kDefault}));
  EXPECT_EQ(ws.refills, 0);

  prompts = {};
  prompts.messageAnswers = {steps::box::kYes};
  exportAs("Results");
  EXPECT_EQ(file.texts("SELECT City FROM Results"), std::vector<std::string>{"a b"});
  EXPECT_EQ(prompts.messages.back().text, "Done.");
}

TEST_F(ExportTest, YesWithAnEmptySourceDropsTheOldTableAndCreatesNone) {
  file.exec("CREATE TABLE Source (City TEXT);");
  makeOldResults();
  exportAs("Results");  // scripted prompts answer Yes
  EXPECT_FALSE(file.hasTable("Results"));
  EXPECT_EQ(messageTexts().back(), "Done.");
  EXPECT_TRUE(prompts.errorReports().empty());
}

TEST_F(ExportTest, ValuesThatAllFailGiveAnEmptyTable) {
  runtest::FillSource(file, {"abc", "def", std::nullopt});
  exportAs("Results");
  ASSERT_TRUE(file.hasTable("Results"));
  EXPECT_EQ(file.count("Results"), 0);
}

TEST_F(ExportTest, TheNameIsUsedWithItsSpaces) {
  runtest::FillSource(file, {"a b"});
  exportAs(" Results ");
  EXPECT_TRUE(file.hasTable(" Results "));
  EXPECT_FALSE(file.hasTable("Results"));
  EXPECT_EQ(file.count(" Results "), 1);
}

TEST_F(ExportTest, TheTableBeingReadCannotBeReplaced) {
  runtest::FillSource(file, {"a b", "c d"});
  exportAs("SOURCE");
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].text,
            "The new table cannot replace the table being read. Please choose another name.");
  EXPECT_EQ(file.count("Source"), 2);
  EXPECT_TRUE(ws.pointers.empty());
  EXPECT_EQ(ws.connectionStringReads, 0);
}

// A value with a NUL character cannot travel inside statement text: the database refuses it.
TEST_F(ExportTest, ARefusedRowIsReportedAndTheOthersAreKept) {
  runtest::FillSource(file, {"fine one", "fine two", "fine three"});
  file.exec(
      "INSERT INTO Source (City) VALUES ('bad' || char(0) || ' one'), "
      "('bad' || char(0) || ' two');");
  makeOldResults();
  exportAs("Results");
  // "Contains Space(s)" is entry 3: its insert is line 170.
  EXPECT_EQ(ReportLines(prompts), (std::vector<int>{170, 170}));
  EXPECT_NE(prompts.errorReports()[0].text.find("Form2.PushButton2_Click at line 170"),
            std::string::npos);
  EXPECT_EQ(Sorted(file.texts("SELECT City FROM Results")),
            (std::vector<std::string>{"fine one", "fine three", "fine two"}));
  EXPECT_EQ(messageTexts().back(), "Done.");
}

TEST_F(ExportTest, EntriesSeventeenToTwentyInsertOnLinesOfTheirOwn) {
  runtest::FillSource(file, {"key=good", "plain"});
  file.exec("INSERT INTO Source (City) VALUES ('key=' || char(0) || 'bad');");
  ws.criterion = Text(Criterion::kContainsTextAfter);  // entry 17: insert at line 276
  prompts.inputAnswers = {"Results", "="};
  procedures::ExportResults(ws, prompts, clock);
  EXPECT_EQ(ReportLines(prompts), std::vector<int>{276});
  EXPECT_EQ(file.texts("SELECT City FROM Results"), std::vector<std::string>{"key=good"});
}

// Names reach the database as names: a field and a new table whose names hold a backtick or
// SQL text make a table of exactly that name, with one column of exactly that name.
TEST_F(ExportTest, NamesHoldingBackticksOrSqlAreJustNames) {
  file.exec(
      "CREATE TABLE Source (Id INTEGER, \"Ci`ty\" TEXT);"
      "INSERT INTO Source VALUES (1, 'a b'), (2, 'c d'), (3, 'plain');");
  ws.fields = {"Id", "Ci`ty"};
  ws.field = "Ci`ty";
  for (const std::string name : {"x` AS SELECT * FROM Source --", "a`b", "`", "[r]; 'q'"}) {
    SCOPED_TRACE(name);
    prompts = {};
    exportAs(name);
    EXPECT_TRUE(prompts.errorReports().empty()) << prompts.errorReports()[0].text;
    EXPECT_TRUE(file.hasTable(name));
    std::string quoted = "\"";
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += "\"";
    EXPECT_EQ(Sorted(file.texts("SELECT \"Ci`ty\" FROM " + quoted)),
              (std::vector<std::string>{"a b", "c d"}));
  }
  EXPECT_FALSE(file.hasTable("x"));
  EXPECT_EQ(file.texts("SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
            std::vector<std::string>{"5"});
}

TEST_F(ExportTest, ProgressAndPausesFollowTheRows) {
  runtest::FillNumberedSource(file, 1001);
  ws.criterion = Text(Criterion::kNotContainsSpace);
  std::vector<int> progressAtPause;
  clock.onRound = [&](int) { progressAtPause.push_back(ws.progress.back()); };
  exportAs("Results");
  EXPECT_EQ(clock.rounds, 3);  // rows 0, 500 and 1,000
  EXPECT_EQ(progressAtPause, (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(file.count("Results"), 1001);

  file.exec("CREATE TABLE One (City TEXT); INSERT INTO One VALUES ('x y');");
  ws.table = "One";
  ws.progress.clear();
  prompts = {};
  exportAs("FromOne");
  EXPECT_EQ(ws.progress, (std::vector<int>{100, 0}));
  EXPECT_TRUE(prompts.errorReports().empty());
}

TEST_F(ExportTest, AFailedCommitIsReportedAndRolledBack) {
  runtest::FillSource(file, {"a b", "c d"});
  makeOldResults();
  // Another reader holds the file while the export ends, so the commit cannot finish.
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.path().c_str(), &reader, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM Results;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  exportAs("Results");
  sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_close(reader);

  EXPECT_EQ(ReportLines(prompts), std::vector<int>{306});
  EXPECT_EQ(file.texts("SELECT Old FROM Results"), std::vector<std::string>{"kept"});
  EXPECT_EQ(messageTexts().back(), "Done.");
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The disk fills at the commit (the file may not grow), on both engines: one report, at the
// commit, naming the cause and saying once that nothing was changed; the rollback after it has
// nothing to do and reports nothing; the export ends as usual.
TEST_F(ExportTest, AFullDiskAtTheCommitIsReportedOnceWithNothingChanged) {
  runtest::FillSource(file, {"a b", "c d", "e f"});
  std::vector<std::string> paths = {file.path()};
  if (testsupport::HaveFixtures())
    paths.push_back(dir.copyFixture("jet4-nopassword-2003.mdb"));
  else
    std::cerr << "Access fixtures folder absent (" << testsupport::FixturesDir()
              << "): the Access case is skipped\n";
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    if (path != file.path()) {
      ws.databasePath = path;
      ws.table = "Table1";
      ws.fields = {"ID", "Data"};
      ws.field = "Data";
      ws.criterion = Text(Criterion::kContainsAlphabet);
    }
    prompts = {};
    const std::string before = FileBytes(path);
    {
      dbtest::FileSizeLimit full(before.size());
      exportAs("Results");
    }
    ASSERT_EQ(ReportLines(prompts), std::vector<int>{306});
    const std::string report = prompts.errorReports()[0].text;
    EXPECT_NE(report.find(path), std::string::npos) << report;  // the cause names the file
    const std::string nothing = "Nothing was changed in the database.";
    ASSERT_NE(report.find(nothing), std::string::npos) << report;
    EXPECT_EQ(report.find(nothing), report.rfind(nothing)) << report;
    EXPECT_EQ(report.find("nothing of it was kept"), std::string::npos) << report;
    EXPECT_EQ(FileBytes(path), before);
    EXPECT_EQ(messageTexts().back(), "Done.");
  }
}

TEST_F(ExportTest, AnUnopenableDatabaseIsReportedOnceAndChangesNothing) {
  ws.databasePath = dir.file("missing.sqlite");
  exportAs("Results");
  // Nothing after the opening could work: no existence test, no question, no transaction.
  EXPECT_EQ(ReportLines(prompts), std::vector<int>{124});
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(ws.pointers.back(), steps::pointer::kDefault);
  EXPECT_EQ(ws.progressText, "Progress Bar");
  EXPECT_EQ(ws.refills, 0);
  EXPECT_FALSE(std::filesystem::exists(ws.databasePath));
}

// A step that every later one depends on fails: one report, saying that nothing was changed,
// then the export stops and rolls back (an old table it dropped is back), with no "Done.".
TEST_F(ExportTest, AFailureThatWouldRepeatIsReportedOnceAndTheExportKeepsNothing) {
  runtest::FillSource(file, {"a b", "c d", "e f"});
  makeOldResults();
  struct Case {
    std::string name;
    std::string table;  // the table read
    int line;
  } cases[] = {
      {"sqlite_results", "Source", 146},  // a name SQLite keeps for itself: no table is made
      {"Results", "Missing", 134},        // the values cannot be read, after the old table went
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    prompts = {};
    ws.table = c.table;
    ws.refills = 0;
    exportAs(c.name);
    EXPECT_EQ(ReportLines(prompts), std::vector<int>{c.line});
    ASSERT_FALSE(prompts.errorReports().empty());
    EXPECT_NE(prompts.errorReports()[0].text.find("Nothing was changed in the database."),
              std::string::npos)
        << prompts.errorReports()[0].text;
    EXPECT_EQ(prompts.messages.back().title, "Application Error") << "no \"Done.\"";
    EXPECT_EQ(file.texts("SELECT Old FROM Results"), std::vector<std::string>{"kept"});
    EXPECT_FALSE(file.hasTable("sqlite_results"));
    EXPECT_EQ(ws.pointers.back(), steps::pointer::kDefault);
    EXPECT_EQ(ws.progress.back(), 0);
    EXPECT_EQ(ws.progressText, "Progress Bar");
    EXPECT_EQ(ws.refills, 0);
  }
}

// The program ends during a pause: the export stops there and keeps nothing, not even the drop
// of the old table.
TEST_F(ExportTest, TheExportKeepsNothingWhenTheProgramEnds) {
  runtest::FillNumberedSource(file, 3000);
  makeOldResults();
  ws.criterion = Text(Criterion::kNotContainsSpace);
  clock.onRound = [&](int) { ws.endingNow = true; };
  exportAs("Results");
  EXPECT_EQ(clock.rounds, 1);
  EXPECT_TRUE(prompts.errorReports().empty());
  EXPECT_EQ(prompts.messages.size(), 1u) << "the overwrite question, and no \"Done.\"";
  EXPECT_EQ(file.texts("SELECT Old FROM Results"), std::vector<std::string>{"kept"});
  EXPECT_EQ(ws.pointers.back(), steps::pointer::kDefault);
  EXPECT_EQ(ws.refills, 0);
}

}  // namespace
}  // namespace runtest
