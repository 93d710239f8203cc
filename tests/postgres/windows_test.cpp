// The windows on a PostgreSQL server, driven headless as a user would: the connection file in
// the path box and the password in its box, "Next >", a table, a field, a run and an export.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include "app/look.h"
#include "tests/postgres/pg_test_support.h"
#include "tests/screens/screens_support.h"

namespace {

using Names = std::vector<std::string>;
using screenstest::ClickItem;
using screenstest::Items;
using testsupport::PgServer;

class PostgresWindowsTest : public screenstest::WindowsTest {
 protected:
  void SetUp() override {
    ROWSIFTER_REQUIRE_PG_SERVER(s);
    server = &s;
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    schema = "w_" + name;
    ASSERT_TRUE(server->sql(
        "DROP SCHEMA IF EXISTS \"" + schema + "\" CASCADE; CREATE SCHEMA \"" + schema +
        "\"; GRANT ALL ON SCHEMA \"" + schema + "\" TO alice; SET search_path = \"" + schema +
        "\";"
        "CREATE TABLE \"Customers\" (\"CustomerName\" text, \"City\" text, \"Phone\" text);"
        "INSERT INTO \"Customers\" VALUES ('Alfreds Futterkiste', 'Berlin', '030-0074321'),"
        " ('Ana Trujillo ', 'México D.F.', '(5) 555-4729'),"
        " ('Around the Horn', 'London', '(171) 555-7788'),"
        " ('Berglunds  snabbköp', 'Luleå', '0921-12 34 65'),"
        " ('Blondel père et fils', 'Strasbourg', NULL), ('Bólido Comidas', 'Madrid', NULL),"
        " ('O''Brien Trading', 'Cork', '021 555 0199'), (NULL, 'Oslo', NULL);"
        "CREATE TABLE \"Orders\" (\"OrderID\" integer, \"CustomerName\" text);"
        "CREATE TABLE products (name text, price numeric);"
        "CREATE VIEW big_orders AS SELECT * FROM \"Orders\";"
        "ALTER TABLE \"Customers\" OWNER TO alice; ALTER TABLE \"Orders\" OWNER TO alice;"
        "ALTER TABLE products OWNER TO alice;"));
    connectionFile = server->connectionFile(schema + ".pgconn", PgServer::kPasswordUser,
                                            PgServer::kDatabase, "schema=" + schema + "\n");
  }

  // The path and password boxes, then "Next >".
  void openWorkspace() {
    if (!windows) makeWindows();
    form1().Text1().setText(QString::fromStdString(connectionFile));
    form1().Text2().setText(PgServer::kPassword);
    QTest::mouseClick(&form1().PushButton2(), Qt::LeftButton);
  }

  PgServer* server = nullptr;
  std::string schema, connectionFile;
};

TEST_F(PostgresWindowsTest, ListsPreviewsExtractsAndExportsOnTheServer) {
  openWorkspace();
  ASSERT_TRUE(form2().isVisible());
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(Items(form2().ListView1()), (Names{"Customers", "Orders", "products"}));
  // The first table is chosen, with its fields and its first field's preview.
  EXPECT_EQ(Items(form2().ListView2()), (Names{"CustomerName", "City", "Phone"}));
  ClickItem(form2().ListView2(), "Phone");
  EXPECT_EQ(Items(form2().ListView3()), (Names{"030-0074321", "(5) 555-4729", "(171) 555-7788",
                                               "0921-12 34 65", "", "", "021 555 0199", ""}));

  ClickItem(form2().ListView2(), "CustomerName");
  form2().Combo1().setCurrentText("Contains Space(s)");
  QTest::mouseClick(&form2().PushButton1(), Qt::LeftButton);
  Names results = Items(form2().ListView4());
  std::sort(results.begin(), results.end());
  EXPECT_EQ(results,
            (Names{"Alfreds Futterkiste", "Ana Trujillo ", "Around the Horn", "Berglunds  snabbköp",
                   "Blondel père et fils", "Bólido Comidas", "O'Brien Trading"}));
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages.back().text, "Done.");

  // The export: a new table of the same schema, listed afterwards.
  prompts.inputAnswers.push_back("With Spaces");
  QTest::mouseClick(&form2().PushButton2(), Qt::LeftButton);
  ASSERT_EQ(prompts.messages.size(), 2u);
  EXPECT_EQ(prompts.messages.back().text, "Done.");
  EXPECT_EQ(server->rows("SELECT count(*), count(DISTINCT \"CustomerName\") FROM \"" + schema +
                         "\".\"With Spaces\""),
            Names{"7|7"});
  EXPECT_EQ(Items(form2().ListView1()), (Names{"Customers", "Orders", "products", "With Spaces"}));

  // Again, into the same name: the overwrite question, then the old table replaced.
  form2().Combo1().setCurrentText("Does not contain Space(s)");
  prompts.inputAnswers.push_back("With Spaces");
  QTest::mouseClick(&form2().PushButton2(), Qt::LeftButton);
  ASSERT_EQ(prompts.messages.size(), 4u);
  EXPECT_EQ(prompts.messages[2].style & 7, steps::box::kYesNo);
  EXPECT_EQ(prompts.messages.back().text, "Done.");
  EXPECT_EQ(server->rows("SELECT \"CustomerName\" FROM \"" + schema + "\".\"With Spaces\""),
            Names{});  // every name has a space: none is kept

  // A name that differs only in letter case is another table on the server: the question
  // comes (names are compared as everywhere in the program), the drop finds no such table, and
  // the report says that nothing was changed.
  prompts.inputAnswers.push_back("with spaces");
  QTest::mouseClick(&form2().PushButton2(), Qt::LeftButton);
  ASSERT_EQ(prompts.messages.size(), 6u);
  EXPECT_NE(prompts.messages.back().text.find("Nothing was changed"), std::string::npos);
  EXPECT_EQ(server->rows("SELECT count(*) FROM pg_tables WHERE schemaname = '" + schema + "'"),
            Names{"4"});
}

TEST_F(PostgresWindowsTest, AWrongPasswordIsReportedAndTheWorkspaceStaysClosed) {
  makeWindows();
  form1().Text1().setText(QString::fromStdString(connectionFile));
  form1().Text2().setText("not the password");
  QTest::mouseClick(&form1().PushButton2(), Qt::LeftButton);
  EXPECT_FALSE(form2().isVisible());
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_NE(prompts.messages[0].text.find("password"), std::string::npos)
      << prompts.messages[0].text;
  EXPECT_EQ(prompts.messages[0].text.find("not the password"), std::string::npos);
}

// A picture of the workspace on the server, for people to look at. Disabled in ordinary runs:
//   ROWSIFTER_SCREENSHOTS=<folder> xvfb-run -a env QT_QPA_PLATFORM=xcb build/postgres_tests
//     --gtest_also_run_disabled_tests --gtest_filter='*Screenshot*'
TEST_F(PostgresWindowsTest, DISABLED_Screenshot) {
  const char* folder = std::getenv("ROWSIFTER_SCREENSHOTS");
  if (!folder || !*folder) GTEST_SKIP() << "ROWSIFTER_SCREENSHOTS names no folder";
  applyFaceColours = [](QWidget& window) { app::ApplyFaceColours(window); };
  openWorkspace();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form2()));
  form2().Combo1().setCurrentText("Contains Space(s)");
  form2().PushButton1_Click();
  QTest::qWait(300);
  ASSERT_TRUE(form2().grab().save(QDir(QString::fromUtf8(folder)).filePath("pg-form2.png")));
}

}  // namespace
