// "Start Extracting" and "Create New Table With Results Of Extraction" driven through the
// workspace window.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>

#include "app/pointer.h"
#include "tests/screens/screens_support.h"

namespace {

using screenstest::Items;
using Names = std::vector<std::string>;

class Form2ButtonsTest : public screenstest::WindowsTest {
 protected:
  void SetUp() override {
    WindowsTest::SetUp();
    dbtest::RunSql(database,
                   "CREATE TABLE People (Name TEXT);"
                   "INSERT INTO People VALUES ('Ann Lee'), ('O''Brien Trading'), ('Solo'),"
                   " (NULL), ('Ann Lee'), ('Tab\tbed');");
    makeWindows();
    form1().Text1().setText(QString::fromStdString(database));
    form1().PushButton2_Click();
    selectTable("People");
    form2().Combo1().setCurrentText("Contains Space(s)");
  }

  void selectTable(const std::string& name) {
    auto& tables = form2().ListView1();
    const auto found = tables.findItems(QString::fromStdString(name), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    tables.setCurrentItem(found.front());
    form2().ListView1_Click();
  }

  std::vector<std::string> messageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : prompts.messages) out.push_back(m.text);
    return out;
  }
};

TEST_F(Form2ButtonsTest, StartExtractingListsTheValuesAsStored) {
  form2().ListView4().add("an earlier result");
  form2().PushButton1().click();

  EXPECT_EQ(Items(form2().ListView4()), (Names{"Ann Lee", "O'Brien Trading"}));
  EXPECT_EQ(messageTexts(), Names{"Done."});
  EXPECT_TRUE(prompts.inputPrompts.empty()) << "no characters asked for this criterion";
  EXPECT_EQ(form2().pointer().value(), steps::pointer::kDefault);
  EXPECT_EQ(form2().ProgressBar1().value(), 0);
  EXPECT_EQ(form2().ProgressBar1().text(), "Progress Bar");
  EXPECT_GT(clock->rounds, 0) << "the run paused through the window's clock";
  EXPECT_FALSE(form2().working());

  // The criterion is read afresh, and user characters are asked for when it needs them.
  form2().Combo1().setCurrentText("Contains user-defined character(s)");
  prompts.inputAnswers = {"'"};
  form2().PushButton1_Click();
  EXPECT_EQ(Items(form2().ListView4()), Names{"O'Brien Trading"});
}

TEST_F(Form2ButtonsTest, ExportCreatesTheTableAndListsIt) {
  form2().ListView4().add("kept");
  prompts.inputAnswers = {"Spaced"};
  form2().PushButton2().click();

  EXPECT_EQ(messageTexts(), Names{"Done."});
  EXPECT_EQ(dbtest::QueryNumber(database, "SELECT count(*) FROM Spaced"), 2);
  EXPECT_EQ(
      dbtest::QueryNumber(database, "SELECT count(*) FROM Spaced WHERE Name = 'O''Brien Trading'"),
      1);
  const auto tables = Items(form2().ListView1());
  EXPECT_NE(std::find(tables.begin(), tables.end(), "Spaced"), tables.end());
  EXPECT_EQ(Items(form2().ListView4()), Names{"kept"}) << "the export leaves the results alone";
  EXPECT_EQ(form2().pointer().value(), steps::pointer::kDefault);
  EXPECT_FALSE(form2().working());
}

TEST_F(Form2ButtonsTest, PressesDuringARunOrAnExportAreIgnored) {
  // At every pause the user presses both buttons again.
  int presses = 0;
  clock->onEvents = [&] {
    ++presses;
    EXPECT_TRUE(form2().working());
    EXPECT_EQ(form2().pointer().value(), steps::pointer::kBusy);
    form2().PushButton1().click();
    form2().PushButton2_Click();
  };
  form2().PushButton1_Click();
  EXPECT_GT(presses, 0);
  EXPECT_EQ(messageTexts(), Names{"Done."}) << "one run, one message";
  EXPECT_TRUE(prompts.inputPrompts.empty()) << "no export was started";
  EXPECT_EQ(Items(form2().ListView4()), (Names{"Ann Lee", "O'Brien Trading"}));

  prompts.messages.clear();
  presses = 0;
  prompts.inputAnswers = {"Spaced"};
  form2().PushButton2_Click();
  EXPECT_GT(presses, 0);
  EXPECT_EQ(prompts.inputPrompts, Names{"Enter New Table:"}) << "one export, one question";
  EXPECT_EQ(messageTexts(), Names{"Done."});

  // Once they have ended, the buttons work again.
  clock->onEvents = nullptr;
  form2().PushButton1_Click();
  EXPECT_EQ(messageTexts(), (Names{"Done.", "Done."}));
}

TEST_F(Form2ButtonsTest, EmptyFieldListAndMissingSelection) {
  selectTable("Empty");
  form2().ListView2().clear();
  form2().PushButton1_Click();
  EXPECT_EQ(messageTexts(), Names{"Please select a field."});

  // Fields listed but none selected (the user cannot get there; program code can): the query
  // step reports it once and the run stops cleanly, without "Done.".
  prompts.messages.clear();
  selectTable("People");
  form2().ListView2().clearSelection();
  form2().PushButton1_Click();
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_NE(prompts.errorReports()[0].text.find("No field is selected."), std::string::npos);
  EXPECT_NE(prompts.errorReports()[0].text.find("Form2.PushButton1_Click at line 122"),
            std::string::npos);
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(form2().pointer().value(), steps::pointer::kDefault);
  EXPECT_FALSE(form2().working());
}

}  // namespace
