// "Start Extracting" and "Create New Table With Results Of Extraction" when something goes
// wrong for good: a failure that would repeat for every value is reported once and the work
// stops (an export keeping nothing), and closing the program or switching databases while the
// work pauses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/db/file_size_limit.h"
#include "tests/screens/screens_support.h"

namespace {

using screenstest::ClickItem;
using screenstest::Items;
using Names = std::vector<std::string>;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Form2WorkTest : public screenstest::WindowsTest {
 protected:
  // Opens `path` in the workspace and chooses a table, a field and a criterion with the mouse.
  void open(const std::string& path, const std::string& table, const std::string& field,
            const QString& criterion) {
    if (!windows) makeWindows();
    form1().Text1().setText(QString::fromStdString(path));
    QTest::mouseClick(&form1().PushButton2(), Qt::LeftButton);
    ASSERT_TRUE(form2().isVisible());
    ClickItem(form2().ListView1(), table);
    ClickItem(form2().ListView2(), field);
    form2().Combo1().setCurrentText(criterion);
  }
  void startExtracting() { QTest::mouseClick(&form2().PushButton1(), Qt::LeftButton); }
  void exportAs(const std::string& name) {
    prompts.inputAnswers.push_back(name);
    QTest::mouseClick(&form2().PushButton2(), Qt::LeftButton);
  }

  Names messageTexts() const {
    Names out;
    for (const auto& m : prompts.messages) out.push_back(m.text);
    return out;
  }
  // The work has ended as it must whatever happened: arrow pointer, idle bar, buttons free.
  void expectIdle() {
    EXPECT_EQ(form2().pointer().value(), steps::pointer::kDefault);
    EXPECT_EQ(form2().ProgressBar1().value(), 0);
    EXPECT_EQ(form2().ProgressBar1().text(), "Progress Bar");
    EXPECT_FALSE(form2().working());
  }
  // `count` distinct values "v0000", "v0001", ... in the table Many of the sample database.
  void addMany(int count) {
    dbtest::RunSql(database,
                   "CREATE TABLE Many (Value TEXT);"
                   "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
                       std::to_string(count) +
                       ") INSERT INTO Many SELECT printf('v%04d', i) FROM n;");
  }
};

// A name the database refuses: one report, no insert tried, nothing written, no "Done.".
TEST_F(Form2WorkTest, ATableThatCannotBeMadeIsReportedOnceAndNothingIsWritten) {
  struct Case {
    std::string path, table, field, name;
  };
  std::vector<Case> cases = {{database, "Customers", "City", "sqlite_results"}};
  if (testsupport::HaveFixtures())
    cases.push_back({temp.copyFixture("jet4-nopassword-2003.mdb"), "Table1", "Data", "Bad]Name"});
  else
    std::cerr << "Access fixtures folder absent (" << testsupport::FixturesDir()
              << "): the Access case is skipped\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    prompts = {};
    open(c.path, c.table, c.field, "Contains Alphabet Character(s)");
    const Names tablesBefore = Items(form2().ListView1());
    const std::string before = FileBytes(c.path);
    exportAs(c.name);
    ASSERT_EQ(prompts.errorReports().size(), 1u) << messageTexts().back();
    const std::string report = prompts.errorReports()[0].text;
    EXPECT_NE(report.find("Form2.PushButton2_Click at line 146"), std::string::npos) << report;
    EXPECT_NE(report.find("Nothing was changed in the database."), std::string::npos) << report;
    EXPECT_EQ(messageTexts().size(), 1u) << "no \"Done.\" after the failure";
    EXPECT_EQ(FileBytes(c.path), before);
    EXPECT_EQ(Items(form2().ListView1()), tablesBefore);
    expectIdle();
  }
}

// An Access file turned read-only while the workspace shows it: the export that would create a
// table, and the one that would replace a table, each give one report and change nothing.
TEST_F(Form2WorkTest, AFileTurnedReadOnlyIsReportedOnce) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string file = temp.copyFixture("jet4-nopassword-2003.mdb");
  open(file, "Table1", "Data", "Contains Alphabet Character(s)");
  exportAs("Old");
  ASSERT_EQ(messageTexts(), Names{"Done."});
  ClickItem(form2().ListView1(), "Table1");  // the refilled list shows "Old" first
  ClickItem(form2().ListView2(), "Data");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  const std::string before = FileBytes(file);

  for (const std::string name : {"New", "Old"}) {
    SCOPED_TRACE(name);
    prompts = {};
    exportAs(name);  // "Old" exists: the question is answered Yes
    ASSERT_EQ(prompts.errorReports().size(), 1u) << messageTexts().back();
    EXPECT_NE(prompts.errorReports()[0].text.find("read-only"), std::string::npos);
    EXPECT_EQ(prompts.errorReports().size(), prompts.messages.size() - (name == "Old" ? 1 : 0))
        << "nothing but the question and the report";
    EXPECT_EQ(FileBytes(file), before);
    expectIdle();
  }
  EXPECT_EQ(Items(form2().ListView1()), (Names{"Old", "Table1"}));
}

// The database file disappears after it was opened: the run and the export report it once.
TEST_F(Form2WorkTest, ADatabaseGoneIsReportedOnce) {
  open(database, "Customers", "City", "Contains Space(s)");
  startExtracting();
  ASSERT_EQ(Items(form2().ListView4()), Names{"New York"});
  std::filesystem::remove(database);

  prompts = {};
  startExtracting();
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_NE(prompts.errorReports()[0].text.find("Form2.PushButton1_Click at line 120"),
            std::string::npos);
  EXPECT_EQ(prompts.messages.size(), 1u) << "no \"Done.\"";
  EXPECT_EQ(Items(form2().ListView4()), Names{"New York"}) << "the last results stay";
  expectIdle();

  prompts = {};
  exportAs("Results");
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_NE(prompts.errorReports()[0].text.find("Form2.PushButton2_Click at line 124"),
            std::string::npos);
  EXPECT_EQ(prompts.messages.size(), 1u);
  expectIdle();
  EXPECT_FALSE(std::filesystem::exists(database));
}

// The disk fills while the rows are written: the database ends the transaction, and the export
// stops at the next value instead of reporting every value after it.
TEST_F(Form2WorkTest, AFullDiskWhileWritingStopsTheExport) {
  // Far more rows than SQLite keeps in memory, so it must write them out before the commit.
  dbtest::RunSql(database,
                 "CREATE TABLE Wide (City TEXT);"
                 "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 40000)"
                 " INSERT INTO Wide SELECT printf('city %06d ', i) || hex(randomblob(40)) FROM n;");
  open(database, "Wide", "City", "Contains Space(s)");
  const std::string before = FileBytes(database);
  {
    dbtest::FileSizeLimit full(before.size());
    exportAs("Results");
  }
  ASSERT_GE(prompts.errorReports().size(), 1u);
  EXPECT_LE(prompts.errorReports().size(), 2u) << "the cause, then the end of the transaction";
  EXPECT_EQ(prompts.errorReports().size(), prompts.messages.size()) << "no \"Done.\"";
  EXPECT_NE(prompts.errorReports().back().text.find("nothing of it was kept"), std::string::npos)
      << prompts.errorReports().back().text;
  EXPECT_EQ(FileBytes(database), before);
  expectIdle();
}

// Closing the program while a run pauses ends the run there: no more values, no "Done.".
TEST_F(Form2WorkTest, ClosingTheProgramDuringARunEndsItAtThePause) {
  addMany(3000);
  open(database, "Many", "Value", "Contains Alphanumeric Character(s)");
  int rounds = 0;
  clock->onEvents = [&] {
    if (++rounds == 1) form2().close();
  };
  startExtracting();
  EXPECT_EQ(programEnds, 1);
  EXPECT_FALSE(form2().isVisible());
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front().text;
  EXPECT_LE(form2().ListView4().count(), 1) << "the run went on after the close";
  EXPECT_LE(clock->rounds, 3);
  expectIdle();
}

// Closing the program while an export pauses: the export ends there and keeps nothing.
TEST_F(Form2WorkTest, ClosingTheProgramDuringAnExportRollsItBack) {
  struct Case {
    std::string path, table, field;
  };
  addMany(3000);
  std::vector<Case> cases = {{database, "Many", "Value"}};
  if (testsupport::HaveFixtures())
    cases.push_back({temp.copyFixture("jet4-nopassword-2003.mdb"), "Table1", "Data"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    windows.reset();
    prompts = {};
    programEnds = 0;
    open(c.path, c.table, c.field, "Contains Alphanumeric Character(s)");
    const Names tablesBefore = Items(form2().ListView1());
    const std::string before = FileBytes(c.path);
    int rounds = 0;
    clock->onEvents = [&] {
      if (++rounds == 1) form2().close();
    };
    exportAs("Results");
    clock->onEvents = nullptr;
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front().text;
    EXPECT_EQ(FileBytes(c.path), before) << "nothing half-written";
    EXPECT_FALSE(std::filesystem::exists(c.path + "-journal"));
    EXPECT_EQ(Items(form2().ListView1()), tablesBefore);
    expectIdle();
  }
}

// "Switch Access Database" while a run or an export pauses does nothing; afterwards it works.
TEST_F(Form2WorkTest, SwitchIsRefusedWhileARunOrAnExportGoes) {
  addMany(1200);
  open(database, "Many", "Value", "Contains Alphanumeric Character(s)");
  form1().hide();
  int presses = 0;
  clock->onEvents = [&] {
    ++presses;
    QTest::mouseClick(&form2().PushButton5(), Qt::LeftButton);
    EXPECT_FALSE(form1().isVisible());
    EXPECT_TRUE(form2().isVisible());
  };
  startExtracting();
  EXPECT_GT(presses, 0);
  EXPECT_EQ(messageTexts(), Names{"Done."});
  EXPECT_EQ(form2().ListView4().count(), 1200);

  prompts = {};
  presses = 0;
  exportAs("Results");
  EXPECT_GT(presses, 0);
  EXPECT_EQ(messageTexts(), Names{"Done."});
  EXPECT_FALSE(form1().isVisible());
  EXPECT_TRUE(form2().isVisible());

  clock->onEvents = nullptr;
  QTest::mouseClick(&form2().PushButton5(), Qt::LeftButton);
  EXPECT_TRUE(form1().isVisible());
  EXPECT_FALSE(form2().isVisible());
}

}  // namespace
