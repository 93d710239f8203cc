// The extraction run driven headless: a workspace in memory, scripted answers, a fake clock and
// SQLite files made by the tests.
#include "procedures/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "steps/pointer.h"
#include "extract/criteria.h"
#include "tests/procedures/run_support.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_prompts.h"

// Inside the namespace of the doubles (run_support.h), so their names need no qualification.
namespace runtest {
namespace {

using extract::Criterion;
using extract::CriterionText;

class RunTest : public WorkspaceTest {
 protected:
  void run() { procedures::RunExtraction(ws, prompts, clock); }
};

TEST_F(RunTest, EmptyFieldListAsksForAFieldAndChangesNothing) {
  runtest::FillSource(file, {"a b"});
  ws.fields.clear();
  ws.results = {"earlier"};
  run();
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].text, "Please select a field.");
  EXPECT_EQ(prompts.messages[0].style, steps::box::kOkOnly);
  EXPECT_EQ(prompts.messages[0].title, "");  // the application title
  EXPECT_EQ(ws.results, std::vector<std::string>{"earlier"});
  EXPECT_TRUE(ws.pointers.empty());
  EXPECT_EQ(ws.connectionStringReads, 0);
}

TEST_F(RunTest, BlankOrCancelledCharactersEndTheRunSilently) {
  runtest::FillSource(file, {"a b"});
  for (Criterion c : {Criterion::kContainsUserChars, Criterion::kNotContainsUserChars,
                      Criterion::kContainsTextAfter, Criterion::kNotContainsTextBefore}) {
    for (const char* answer : {"", "   "}) {
      SCOPED_TRACE(Text(c) + " / '" + answer + "'");
      prompts = {};
      prompts.inputAnswers = {answer};
      ws.criterion = Text(c);
      ws.results = {"earlier"};
      run();
      EXPECT_EQ(prompts.inputPrompts, std::vector<std::string>{"Input User-Defined Character(s):"});
      EXPECT_TRUE(prompts.messages.empty());
      EXPECT_EQ(ws.results, std::vector<std::string>{"earlier"});
      EXPECT_EQ(ws.clears, 0);
      EXPECT_TRUE(ws.pointers.empty());
      EXPECT_EQ(ws.connectionStringReads, 0);
    }
  }
}

TEST_F(RunTest, ListsDistinctMatchesAsStoredSkippingNulls) {
  runtest::FillSource(file, {"New York", "Paris", std::nullopt, "New York", "O'Brien Town",
                             "Los Angeles", std::nullopt, "Rome"});
  ws.results = {"from an earlier run"};
  run();
  EXPECT_TRUE(prompts.inputPrompts.empty());  // "Contains Space(s)" asks nothing
  EXPECT_EQ(Sorted(ws.results),
            (std::vector<std::string>{"Los Angeles", "New York", "O'Brien Town"}));
  EXPECT_EQ(ws.clears, 1);
  EXPECT_EQ(ws.pointers, (std::vector<int>{steps::pointer::kBusy, steps::pointer::kDefault}));
  EXPECT_EQ(ws.progress.back(), 0);
  EXPECT_EQ(ws.progressText, "Progress Bar");
  EXPECT_EQ(messageTexts(), std::vector<std::string>{"Done."});
  EXPECT_EQ(prompts.messages[0].style, steps::box::kOkOnly);
}

TEST_F(RunTest, UserCharactersAreUsedAsTypedAndCaseIsIgnored) {
  runtest::FillSource(file, {"ABC", "a-b", "xaby", "a b", "Cab"});
  ws.criterion = Text(Criterion::kContainsUserChars);
  prompts.inputAnswers = {"ab"};
  run();
  EXPECT_EQ(Sorted(ws.results), (std::vector<std::string>{"ABC", "Cab", "xaby"}));

  // A trailing space is part of the characters sought: only "a b" holds "a ".
  prompts = {};
  prompts.inputAnswers = {"a "};
  run();
  EXPECT_EQ(ws.results, std::vector<std::string>{"a b"});

  ws.criterion = Text(Criterion::kNotContainsUserChars);
  prompts = {};
  prompts.inputAnswers = {"ab"};
  run();
  EXPECT_EQ(Sorted(ws.results), (std::vector<std::string>{"a b", "a-b"}));
}

TEST_F(RunTest, TextAfterAndBeforeAskForCharacters) {
  runtest::FillSource(file, {"key=value", "key=", "=value", "plain"});
  ws.criterion = Text(Criterion::kContainsTextAfter);
  prompts.inputAnswers = {"="};
  run();
  EXPECT_EQ(Sorted(ws.results), (std::vector<std::string>{"=value", "key=value"}));

  ws.criterion = Text(Criterion::kNotContainsTextBefore);
  prompts.inputAnswers = {"="};
  run();
  EXPECT_EQ(Sorted(ws.results), (std::vector<std::string>{"=value", "plain"}));
}

TEST_F(RunTest, EmptySourcesClearTheListAndEndWithDone) {
  file.exec(
      "CREATE TABLE Source (City TEXT); CREATE TABLE Blank (City TEXT);"
      "INSERT INTO Blank VALUES (NULL), (NULL);");
  for (const char* table : {"Source", "Blank"}) {
    SCOPED_TRACE(table);
    prompts = {};
    ws.table = table;
    ws.results = {"earlier"};
    run();
    EXPECT_TRUE(ws.results.empty());
    EXPECT_EQ(messageTexts(), std::vector<std::string>{"Done."});
    EXPECT_EQ(ws.pointers.back(), steps::pointer::kDefault);
  }
}

TEST_F(RunTest, ACriterionWithoutATestListsNothing) {
  runtest::FillSource(file, {"a b", "c"});
  ws.criterion = "Contains something nobody offers";
  run();
  EXPECT_TRUE(ws.results.empty());
  EXPECT_TRUE(prompts.inputPrompts.empty());
  EXPECT_EQ(messageTexts(), std::vector<std::string>{"Done."});
}

TEST_F(RunTest, ProgressRunsFromZeroToHundredAndIsReset) {
  runtest::FillSource(file, {"a", "b", "c", "d", "e"});
  ws.criterion = Text(Criterion::kContainsAlphabet);
  run();
  EXPECT_EQ(ws.progress, (std::vector<int>{0, 25, 50, 75, 100, 0}));
  EXPECT_EQ(ws.results.size(), 5u);
}

TEST_F(RunTest, OneRowSourceShowsFullProgressWithoutAReport) {
  runtest::FillSource(file, {"only one"});
  run();
  EXPECT_EQ(ws.progress, (std::vector<int>{100, 0}));
  EXPECT_EQ(ws.results, std::vector<std::string>{"only one"});
  EXPECT_TRUE(prompts.errorReports().empty());
}

TEST_F(RunTest, PausesAtTheFirstValueAndEveryFiveHundred) {
  runtest::FillNumberedSource(file, 1001);
  ws.criterion = Text(Criterion::kNotContainsSpace);
  std::vector<int> progressAtPause;
  clock.onRound = [&](int) { progressAtPause.push_back(ws.progress.back()); };
  run();
  EXPECT_EQ(clock.rounds, 3);
  EXPECT_EQ(progressAtPause, (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(ws.results.size(), 1001u);
  EXPECT_EQ(ws.progress.back(), 0);
}

TEST_F(RunTest, ACriterionChangedDuringAPauseAppliesToLaterValues) {
  runtest::FillNumberedSource(file, 1001);
  ws.criterion = Text(Criterion::kNotContainsSpace);  // every value
  clock.onRound = [&](int round) {
    if (round == 2) ws.criterion = Text(Criterion::kContainsSpace);  // none
  };
  run();
  // Rows 0..500 were tested before the pause after row 500 took effect.
  EXPECT_EQ(ws.results.size(), 501u);
}

// A query that fails would fail every step after it: one report, then the run stops with the
// pointer and the bar reset, no "Done." and the results of the last run left as they were.
TEST_F(RunTest, AFailedQueryIsReportedOnceAndTheRunStops) {
  runtest::FillSource(file, {"a b"});
  ws.results = {"listed before"};
  ws.table = "Missing";
  run();
  EXPECT_EQ(ReportLines(prompts), std::vector<int>{122});
  EXPECT_NE(prompts.errorReports()[0].text.find(
                "in Siftwell2021/08/31.Form2.PushButton1_Click at line 122"),
            std::string::npos);
  EXPECT_EQ(prompts.messages.size(), 1u) << "no \"Done.\"";
  EXPECT_EQ(ws.pointers.back(), steps::pointer::kDefault);
  EXPECT_EQ(ws.progressText, "Progress Bar");
  EXPECT_EQ(ws.results, std::vector<std::string>{"listed before"});
  EXPECT_EQ(ws.clears, 0);

  // The same for a database that cannot be opened.
  prompts = {};
  ws.databasePath = dir.file("missing.sqlite");
  run();
  EXPECT_EQ(ReportLines(prompts), std::vector<int>{120});
  EXPECT_EQ(prompts.messages.size(), 1u);
}

// The program ends during a pause: the run stops there, with no report and no "Done.".
TEST_F(RunTest, TheRunStopsAtThePauseWhenTheProgramEnds) {
  runtest::FillNumberedSource(file, 3000);
  ws.criterion = Text(Criterion::kNotContainsSpace);
  clock.onRound = [&](int) { ws.endingNow = true; };
  run();
  EXPECT_EQ(clock.rounds, 1);
  EXPECT_EQ(ws.results, std::vector<std::string>{"v000000"});
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(ws.pointers.back(), steps::pointer::kDefault);
  EXPECT_EQ(ws.progress.back(), 0);
  EXPECT_EQ(ws.progressText, "Progress Bar");
}

TEST_F(RunTest, AFailedAddIsReportedOnTheLineOfItsEntry) {
  runtest::FillSource(file, {"bad value", "good value", "key=bad", "key=good"});
  ws.onAddResult = [](const std::string& text) {
    if (text.find("bad") != std::string::npos) throw std::runtime_error("list is full");
  };
  run();  // "Contains Space(s)", entry 3: add at line 158
  EXPECT_EQ(ReportLines(prompts), std::vector<int>{158});
  EXPECT_EQ(ws.results, std::vector<std::string>{"good value"});

  prompts = {};
  prompts.inputAnswers = {"="};
  ws.criterion = Text(Criterion::kContainsTextAfter);  // entry 17: add at line 264
  run();
  EXPECT_EQ(ReportLines(prompts), std::vector<int>{264});
  EXPECT_EQ(ws.results, std::vector<std::string>{"key=good"});
}

}  // namespace
}  // namespace runtest
