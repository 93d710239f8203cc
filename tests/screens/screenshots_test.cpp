// Pictures of the two windows for the documentation. Disabled in ordinary runs; to refresh
// docs/form1.png and docs/form2.png:
//   ROWSIFTER_SCREENSHOTS=docs xvfb-run -a env QT_QPA_PLATFORM=xcb build/screens_tests
//     --gtest_also_run_disabled_tests --gtest_filter='*Screenshots*'   (one command line)
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <cstdlib>

#include "app/look.h"
#include "tests/screens/screens_support.h"

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

}  // namespace
