// The workspace's extraction and export on a copy of an Access file made by Microsoft Access:
// the same buttons, the writer of our own underneath.
#include <gtest/gtest.h>

#include <QComboBox>

#include "db/connection.h"
#include "db/connection_string.h"
#include "tests/screens/screens_support.h"

namespace {

using screenstest::Items;
using Names = std::vector<std::string>;

class Form2AccessExportTest : public screenstest::WindowsTest {
 protected:
  // The values of one column of a table, in the file's order, read afresh through the layer.
  Names column(const std::string& table, const std::string& field) {
    db::Connection connection;
    connection.open(db::BuildConnectionString(access, ""));
    auto rs = connection.openRecordset("SELECT `" + field + "` FROM `" + table + "`");
    Names out;
    for (; !rs->eof(); rs->moveNext()) out.push_back(rs->value(0).toText());
    return out;
  }

  std::string access;
};

TEST_F(Form2AccessExportTest, ExtractsAndExportsIntoTheAccessFile) {
  ROWSIFTER_REQUIRE_FIXTURES();
  access = temp.copyFixture("jet4-nopassword-2003.mdb");
  makeWindows();
  form1().Text1().setText(QString::fromStdString(access));
  form1().PushButton2_Click();
  ASSERT_EQ(Items(form2().ListView1()), Names{"Table1"});
  form2().ListView2().setCurrentItem(form2().ListView2().topLevelItem(1));  // Data
  form2().ListView2_Click();
  form2().Combo1().setCurrentText("Contains user-defined character(s)");

  prompts.inputAnswers = {"o"};
  form2().PushButton1_Click();
  EXPECT_EQ(Items(form2().ListView4()), (Names{"One", "Two"}));

  prompts.inputAnswers = {"With O", "o"};
  form2().PushButton2_Click();
  EXPECT_TRUE(prompts.errorReports().empty()) << prompts.errorReports().front().text;
  EXPECT_EQ(Items(form2().ListView1()), (Names{"Table1", "With O"}));
  EXPECT_EQ(column("With O", "Data"), (Names{"One", "Two"}));

  // Again under the same name in other letter case: Yes replaces the table.
  form2().ListView1().setCurrentItem(form2().ListView1().topLevelItem(0));
  form2().ListView1_Click();
  form2().ListView2().setCurrentItem(form2().ListView2().topLevelItem(1));
  form2().Combo1().setCurrentText("Contains Space(s)");
  prompts.inputAnswers = {"WITH O"};
  prompts.messageAnswers = {steps::box::kYes};
  form2().PushButton2_Click();
  EXPECT_TRUE(prompts.errorReports().empty());
  EXPECT_EQ(column("With O", "Data"), Names{}) << "no value holds a space: an empty table";
  EXPECT_EQ(column("Table1", "Data"), (Names{"One", "Two", "Three"})) << "the source is whole";
}

}  // namespace
