// The workspace: its load, the user's clicks on its lists, and switching databases.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "extract/criteria.h"
#include "screens/twips.h"
#include "tests/screens/screens_support.h"

namespace {

using screenstest::Items;
using Names = std::vector<std::string>;

class Form2Test : public screenstest::WindowsTest {
 protected:
  void open(const std::string& path) {
    form1().Text1().setText(QString::fromStdString(path));
    form1().PushButton2_Click();
  }
};

TEST_F(Form2Test, LoadSetsUpCriteriaColumnsAndControls) {
  makeWindows();
  auto& f = form2();
  EXPECT_FALSE(f.isVisible()) << "loaded hidden";
  EXPECT_EQ(f.windowTitle(), "Rowsifter");
  EXPECT_EQ(f.size(), QSize(screens::TwipsToPixelsX(9240), screens::TwipsToPixelsY(10110)));
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);

  ASSERT_EQ(f.Combo1().count(), 20);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(f.Combo1().itemText(i).toStdString(), extract::kCriterionTexts[i]);
  EXPECT_EQ(f.Combo1().currentText(), "Contains user-defined character(s)");

  const struct {
    screens::ReportList& list;
    const char* header;
    int widthTwips;
  } lists[] = {{f.ListView1(), "Table(s)", 4000},
               {f.ListView2(), "Field(s)", 4000},
               {f.ListView3(), "First 100 Entries (Preview)", 8500},
               {f.ListView4(), "Results", 8500}};
  for (const auto& l : lists) {
    EXPECT_EQ(l.list.columnCount(), 1);
    EXPECT_EQ(l.list.headerItem()->text(0), l.header);
    EXPECT_EQ(l.list.columnWidth(0), screens::TwipsToPixelsX(l.widthTwips));
    EXPECT_FALSE(l.list.rootIsDecorated());
    EXPECT_EQ(l.list.toolTip(), "Move | line to right and out of window to reveal full names.");
    EXPECT_EQ(l.list.font().family(), "Arial");
    EXPECT_TRUE(l.list.font().bold());
  }
  EXPECT_DOUBLE_EQ(f.PushButton5().font().pointSizeF(), 11.25);
  EXPECT_EQ(f.ProgressBar1().text(), "Progress Bar");
  EXPECT_EQ(f.ListView4().geometry(), screens::TwipsRect(120, 7035, 9000, 1935));
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Form2Test, FailingLoadStepIsReportedAndLoadingGoesOn) {
  makeWindows();
  windows.reset();
  screens::WindowsOptions options;
  options.applyFaceColours = [](QWidget&) { throw std::runtime_error("no colours"); };
  options.endProgram = [this] { ++programEnds; };
  windows = std::make_unique<screens::Windows>(prompts, settings, options);
  auto& f = form2();
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_EQ(prompts.errorReports()[0].text.find(
                "no colours\r\nin Siftwell2021/08/31.Form2.Form_Load at line 100"),
            0u);
  EXPECT_EQ(f.Combo1().count(), 20);
  EXPECT_EQ(f.windowTitle(), "Rowsifter");
}

TEST_F(Form2Test, UserClicksOnTheLists) {
  makeWindows();
  open(database);
  ASSERT_TRUE(form2().isVisible());
  screenstest::ClickItem(form2().ListView1(), "Numbers");
  EXPECT_EQ(Items(form2().ListView2()), Names{"n"});
  EXPECT_EQ(form2().ListView3().count(), 100);
  EXPECT_EQ(form2().ListView3().itemText(99), "99");

  screenstest::ClickItem(form2().ListView1(), "Customers");
  screenstest::ClickItem(form2().ListView2(), "City");
  EXPECT_EQ(Items(form2().ListView2()), (Names{"Name", "City", "Code"}));
  EXPECT_EQ(Items(form2().ListView3()), (Names{"Oslo", "", "New York", "Oslo"}));
  EXPECT_EQ(form2().pointer().value(), steps::pointer::kDefault);
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Form2Test, SwitchDatabaseAndBack) {
  makeWindows();
  form1().show();
  open(database);
  form2().ListView4().add("an earlier result");
  form2().PushButton5().click();
  EXPECT_TRUE(form1().isVisible());
  EXPECT_FALSE(form2().isVisible());
  EXPECT_EQ(form1().path(), database) << "the selection window keeps its boxes";
  EXPECT_EQ(form2().ListView1().count(), 3) << "the workspace keeps its lists";

  // A database without user tables: the table, field and preview lists empty, the results stay.
  const std::string bare = temp.file("bare.sqlite");
  dbtest::RunSql(bare, "CREATE VIEW v AS SELECT 1 AS x;");
  open(bare);
  EXPECT_TRUE(form2().isVisible());
  EXPECT_FALSE(form1().isVisible());
  EXPECT_EQ(form2().ListView1().count(), 0);
  EXPECT_EQ(form2().ListView2().count(), 0);
  EXPECT_EQ(form2().ListView3().count(), 0);
  EXPECT_EQ(Items(form2().ListView4()), Names{"an earlier result"});

  form2().PushButton5_Click();
  open(database);
  EXPECT_EQ(form2().ListView1().count(), 3);
  EXPECT_EQ(Items(form2().ListView4()), Names{"an earlier result"});
  EXPECT_TRUE(prompts.messages.empty());
}

}  // namespace
