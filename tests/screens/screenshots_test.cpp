// Pictures of the two windows for the documentation. Disabled in ordinary runs; to refresh
// docs/form1.png and docs/form2.png:
//   ROWSIFTER_SCREENSHOTS=docs xvfb-run -a env QT_QPA_PLATFORM=xcb build/screens_tests
//     --gtest_also_run_disabled_tests --gtest_filter='*Screenshots*'   (one command line)
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QInputDialog>
#include <QMessageBox>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <cstdlib>

#include "app/look.h"
#include "app/qt_prompts.h"
#include "tests/screens/screens_support.h"
#include "tests/support/next_dialog.h"

namespace {

class Screenshots : public screenstest::WindowsTest {};

TEST_F(Screenshots, DISABLED_SaveForms) {
  const char* folder = std::getenv("ROWSIFTER_SCREENSHOTS");
  if (!folder || !*folder) GTEST_SKIP() << "ROWSIFTER_SCREENSHOTS names no folder";
  const std::string path = temp.file("Orders.sqlite");
  dbtest::RunSql(path,
                 "CREATE TABLE Customers (CustomerName TEXT, City TEXT, Phone TEXT);"
                 "INSERT INTO Customers VALUES ('Alfreds Futterkiste', 'Berlin', '030-0074321'),"
                 " ('Ana Trujillo ', 'México D.F.', '(5) 555-4729'),"
                 " ('Around the Horn', 'London', '(171) 555-7788'),"
                 " ('Berglunds  snabbköp', 'Luleå', '0921-12 34 65'),"
                 " ('Blondel père et fils', 'Strasbourg', NULL),"
                 " ('Bólido Comidas', 'Madrid', '(91) 555 22 82'),"
                 " ('O''Brien Trading', 'Cork', '021 555 0199');"
                 "CREATE TABLE Orders (OrderID INTEGER, CustomerName TEXT, Shipped TEXT);"
                 "CREATE TABLE Products (ProductName TEXT, Price REAL);");
  settings.values["AccessMDBFile"] = path;
  settings.values["AccessPassword"] = "secret";
  applyFaceColours = [](QWidget& window) { app::ApplyFaceColours(window); };
  makeWindows();
  // Form1 as it first opens, then the workspace after "Next >".
  form1().Text1().setText(QString::fromStdString(path));
  form1().Text2().setText("secret");
  form1().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form1()));
  QTest::qWait(200);
  const QDir out(QString::fromUtf8(folder));
  ASSERT_TRUE(form1().grab().save(out.filePath("form1.png")));

  // The workspace after "Next >" and an extraction of the names with spaces.
  form1().PushButton2_Click();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form2()));
  form2().Combo1().setCurrentText("Contains Space(s)");
  form2().PushButton1_Click();
  QTest::qWait(200);
  ASSERT_TRUE(form2().grab().save(out.filePath("form2.png")));
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].text, "Done.");
}

// Pictures of the lists and the reports as a user meets them, to look at after a change to the
// workspace's lists or to the run and export:
//   ROWSIFTER_SCREENSHOTS=/tmp/shots xvfb-run -a env QT_QPA_PLATFORM=xcb build/screens_tests
//     --gtest_also_run_disabled_tests --gtest_filter='*Screenshots*Lists*'   (one command line)
// lists-key.png       Customers clicked, then Down: Orders and its fields and preview
// lists-empty.png     then a click on empty space below the tables: Orders stays chosen
// lists-no-tables.png a database without tables: no fields and no preview
// report-name.png     the one report of an export into a table the database cannot make
// report-after.png    the workspace after that report: arrow pointer, idle bar, no new table
TEST_F(Screenshots, DISABLED_SaveListsAndReports) {
  const char* folder = std::getenv("ROWSIFTER_SCREENSHOTS");
  if (!folder || !*folder) GTEST_SKIP() << "ROWSIFTER_SCREENSHOTS names no folder";
  const QDir out(QString::fromUtf8(folder));
  const std::string path = temp.file("Orders.sqlite");
  dbtest::RunSql(path,
                 "CREATE TABLE Customers (CustomerName TEXT, City TEXT, Phone TEXT);"
                 "INSERT INTO Customers VALUES ('Alfreds Futterkiste', 'Berlin', '030-0074321'),"
                 " ('Around the Horn', 'London', '(171) 555-7788');"
                 "CREATE TABLE Orders (OrderID INTEGER, CustomerName TEXT, Shipped TEXT);"
                 "INSERT INTO Orders VALUES (10248, 'Around the Horn', '1996-07-16'),"
                 " (10249, 'Alfreds Futterkiste', '1996-07-10');"
                 "CREATE TABLE Products (ProductName TEXT, Price REAL);");
  applyFaceColours = [](QWidget& window) { app::ApplyFaceColours(window); };
  app::QtPrompts qtPrompts;
  screens::WindowsOptions options;
  options.endProgram = [this] { ++programEnds; };
  options.applyFaceColours = applyFaceColours;
  options.clock = clock;
  windows = std::make_unique<screens::Windows>(qtPrompts, settings, options);
  auto shoot = [&](QWidget& window, const char* name) {
    QTest::qWait(200);
    ASSERT_TRUE(window.grab().save(out.filePath(name)));
  };

  form1().Text1().setText(QString::fromStdString(path));
  QTest::mouseClick(&form1().PushButton2(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form2()));
  auto& tables = form2().ListView1();
  screenstest::ClickItem(tables, "Customers");
  tables.setFocus();
  QTest::keyClick(&tables, Qt::Key_Down);
  QCoreApplication::processEvents();
  shoot(form2(), "lists-key.png");

  const QRect last = tables.visualItemRect(tables.topLevelItem(tables.count() - 1));
  QTest::mouseClick(tables.viewport(), Qt::LeftButton, {},
                    QPoint(last.center().x(), last.bottom() + 30));
  QCoreApplication::processEvents();
  shoot(form2(), "lists-empty.png");

  // An export into a name the database keeps for itself: one report, then nothing more.
  screenstest::ClickItem(tables, "Customers");
  screenstest::ClickItem(form2().ListView2(), "City");
  form2().Combo1().setCurrentText("Contains Alphabet Character(s)");
  testsupport::AnswerNextDialog<QInputDialog>([](QInputDialog* box) {
    box->setTextValue("sqlite_results");
    box->accept();
  });
  int boxes = 0;
  testsupport::AnswerNextDialog<QMessageBox>([&](QMessageBox* box) {
    ++boxes;
    QTest::qWait(200);
    box->grab().save(out.filePath("report-name.png"));
    box->accept();
  });
  QTest::mouseClick(&form2().PushButton2(), Qt::LeftButton);
  EXPECT_EQ(boxes, 1);
  shoot(form2(), "report-after.png");

  const std::string bare = temp.file("bare.sqlite");
  dbtest::RunSql(bare, "CREATE VIEW v AS SELECT 1 AS x;");
  QTest::mouseClick(&form2().PushButton5(), Qt::LeftButton);
  form1().Text1().setText(QString::fromStdString(bare));
  QTest::mouseClick(&form1().PushButton2(), Qt::LeftButton);
  shoot(form2(), "lists-no-tables.png");
}

}  // namespace
