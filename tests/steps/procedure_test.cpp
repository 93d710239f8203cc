#include "steps/procedure.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "db/base/error.h"
#include "tests/support/scripted_prompts.h"

namespace {

using testsupport::ScriptedPrompts;

TEST(ApplicationErrorText, HasTheThreeLinesExactly) {
  EXPECT_EQ(steps::ApplicationErrorText("Not a valid password.", "Form1.PushButton2_Click", 100),
            "Not a valid password.\r\n"
            "in Siftwell2021/08/31.Form1.PushButton2_Click at line 100\r\r"
            "Please email screenshot of this message to support@quillmoor.com");
  // One space before "at", none before the number, no leading zeros, whatever the number.
  EXPECT_EQ(steps::ApplicationErrorText("x", "Form1.Form_Load", 124),
            "x\r\nin Siftwell2021/08/31.Form1.Form_Load at line 124\r\r"
            "Please email screenshot of this message to support@quillmoor.com");
  // The description is kept as given, line breaks and all.
  EXPECT_EQ(steps::ApplicationErrorText("a\r\nb", "P", 100).rfind("a\r\nb\r\nin ", 0), 0u);
}

TEST(ReportApplicationError, ShowsOneWarningBoxWithOnlyOk) {
  ScriptedPrompts prompts;
  steps::ReportApplicationError(prompts, "Disk full", "Form2.PushButton2_Click", 118);
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].title, "Application Error");
  EXPECT_EQ(prompts.messages[0].style, 48);
  EXPECT_EQ(prompts.messages[0].text,
            steps::ApplicationErrorText("Disk full", "Form2.PushButton2_Click", 118));
}

// A Prompts whose boxes cannot be shown: the procedure still goes on.
class BrokenPrompts : public ScriptedPrompts {
 public:
  int messageBox(const std::string&, int, const std::string&) override {
    throw std::runtime_error("no display");
  }
};

TEST(ReportApplicationError, AFailingBoxDoesNotStopTheProcedure) {
  BrokenPrompts prompts;
  steps::Procedure p(prompts, "P");
  bool next = false;
  EXPECT_NO_THROW(p.step(100, [] { throw std::runtime_error("first"); }));
  p.step(102, [&] { next = true; });
  EXPECT_TRUE(next);
}

struct NotAnException {};

TEST(CurrentFailureDescription, TakesTheTextOfEachKindOfFailure) {
  auto describe = [](auto thrown) {
    try {
      throw thrown;
    } catch (...) {
      return steps::CurrentFailureDescription();
    }
  };
  EXPECT_EQ(describe(db::Error(db::errc::kWrongPassword, "Not a valid password.")),
            "Not a valid password.");
  EXPECT_EQ(describe(std::out_of_range("index 3 out of range")), "index 3 out of range");
  const std::string generic = describe(NotAnException{});
  EXPECT_FALSE(generic.empty());
  EXPECT_EQ(describe(42), generic);
  // Outside a catch block it still answers instead of ending the program.
  EXPECT_EQ(steps::CurrentFailureDescription(), generic);
}

class ProcedureTest : public ::testing::Test {
 protected:
  std::vector<int> reportedLines() const {
    std::vector<int> lines;
    for (const auto& m : prompts.errorReports()) {
      const std::size_t at = m.text.find(" at line ");
      const std::size_t end = m.text.find("\r\r");
      lines.push_back(std::stoi(m.text.substr(at + 9, end - at - 9)));
    }
    return lines;
  }

  ScriptedPrompts prompts;
  std::vector<int> ran;
};

TEST_F(ProcedureTest, GoesOnWithTheNextStepAfterAFailedOne) {
  steps::Procedure p(prompts, "Form1.Form_Load");
  EXPECT_TRUE(p.step(100, [&] { ran.push_back(100); }));
  EXPECT_FALSE(p.step(106, [&] {
    ran.push_back(106);
    throw db::Error(db::errc::kFailed, "Skin rejected");
    ran.push_back(-1);  // the rest of a failed step is skipped
  }));
  EXPECT_TRUE(p.step(124, [&] { ran.push_back(124); }));
  EXPECT_EQ(ran, (std::vector<int>{100, 106, 124}));
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_EQ(prompts.messages[0].text,
            steps::ApplicationErrorText("Skin rejected", "Form1.Form_Load", 106));
  EXPECT_EQ(p.failures(), 1);
}

TEST_F(ProcedureTest, AbandonsTheRestOfACalledRoutineAndReportsTheCallingStep) {
  auto routine = [&] {
    ran.push_back(1);
    throw std::runtime_error("deep failure");
    ran.push_back(2);
  };
  steps::Procedure p(prompts, "Form2.PushButton1_Click");
  p.step(108, [&] {
    routine();
    ran.push_back(3);
  });
  p.step(110, [&] { ran.push_back(110); });
  EXPECT_EQ(ran, (std::vector<int>{1, 110}));
  EXPECT_EQ(reportedLines(), std::vector<int>{108});
}

TEST_F(ProcedureTest, AFailingConditionCountsAsHeld) {
  steps::Procedure p(prompts, "Form1.Form_Load");
  if (p.when(124, [] { return false; })) ran.push_back(126);
  if (p.when(132, []() -> bool { throw std::runtime_error("bad path"); })) {
    p.step(134, [&] { ran.push_back(134); });
  }
  EXPECT_EQ(ran, std::vector<int>{134});
  EXPECT_EQ(reportedLines(), std::vector<int>{132});
  EXPECT_EQ(prompts.errorReports()[0].text.rfind("bad path\r\n", 0), 0u);
}

TEST_F(ProcedureTest, GivesOneBoxPerFailureInOrder) {
  steps::Procedure p(prompts, "Form2.Form_Load");
  p.step(100, [] { throw std::runtime_error("one"); });
  p.step(102, [&] { ran.push_back(102); });
  p.step(104, [] { throw 3; });
  p.when(106, []() -> bool { throw db::Error(db::errc::kClosed, "closed"); });
  p.step(108, [] { throw std::runtime_error("last"); });  // the last step: the report ends it
  EXPECT_EQ(reportedLines(), (std::vector<int>{100, 104, 106, 108}));
  EXPECT_EQ(p.failures(), 4);
  EXPECT_EQ(ran, std::vector<int>{102});
  EXPECT_EQ(prompts.errorReports().back().text.rfind("last\r\n", 0), 0u);
}

TEST_F(ProcedureTest, ANestedProcedureReportsItsOwnFailureOnce) {
  // The start-up sequence runs the "Next >" action, which carries its own report.
  steps::Procedure load(prompts, "Form1.Form_Load");
  load.step(134, [&] {
    steps::Procedure next(prompts, "Form1.PushButton2_Click");
    next.step(100, [] { throw db::Error(db::errc::kWrongPassword, "Not a valid password."); });
    next.step(102, [&] { ran.push_back(102); });
  });
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_EQ(prompts.messages[0].text,
            steps::ApplicationErrorText("Not a valid password.", "Form1.PushButton2_Click", 100));
  EXPECT_EQ(ran, std::vector<int>{102});
  EXPECT_EQ(load.failures(), 0);
}

}  // namespace
