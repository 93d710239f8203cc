// The start-up sequence through the selection window's load.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <fstream>
#include <stdexcept>

#include "app/settings.h"
#include "tests/screens/screens_support.h"

namespace {

using screenstest::Items;
using Names = std::vector<std::string>;

class StartupTest : public screenstest::WindowsTest {
 protected:
  app::UserSettings store{temp.file("Quillmoor.conf")};
};

TEST_F(StartupTest, FirstRunShowsEmptySelectionWindow) {
  makeWindows(&store);
  ASSERT_TRUE(form1().Form_Load());
  EXPECT_TRUE(form1().isVisible());
  EXPECT_EQ(form1().windowTitle(), "Rowsifter");
  EXPECT_EQ(form1().path(), "");
  EXPECT_EQ(form1().password(), "");
  EXPECT_FALSE(windows->form2Created());
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(StartupTest, RememberedExistingFileOpensTheWorkspace) {
  store.save("AccessMDBFile", database);
  store.save("AccessPassword", "pw");
  makeWindows(&store);
  ASSERT_TRUE(form1().Form_Load());
  EXPECT_EQ(form1().path(), database);
  EXPECT_EQ(form1().password(), "pw");
  ASSERT_TRUE(windows->form2Created());
  EXPECT_TRUE(form2().isVisible());
  EXPECT_FALSE(form1().isVisible());
  EXPECT_EQ(Items(form2().ListView1()), (Names{"Customers", "Empty", "Numbers"}));
  EXPECT_EQ(form2().ListView3().count(), 4);
  EXPECT_TRUE(prompts.messages.empty());

  // The restored values were written straight back and read the same at the next start.
  app::UserSettings again(store.fileName());
  EXPECT_EQ(again.load("AccessMDBFile", "?"), database);
  EXPECT_EQ(again.load("AccessPassword", "?"), "pw");
}

TEST_F(StartupTest, RememberedMissingOrUnreadableFile) {
  settings.values["AccessMDBFile"] = temp.file("deleted.mdb");
  makeWindows();
  ASSERT_TRUE(form1().Form_Load());
  EXPECT_TRUE(form1().isVisible());
  EXPECT_EQ(form1().path(), temp.file("deleted.mdb"));
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_FALSE(windows->form2Created());

  const std::string junk = temp.file("junk.accdb");
  std::ofstream(junk) << "not a database";
  settings.values["AccessMDBFile"] = junk;
  makeWindows();
  ASSERT_TRUE(form1().Form_Load());
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_NE(prompts.errorReports()[0].text.find("Form1.PushButton2_Click at line 100"),
            std::string::npos);
  EXPECT_TRUE(form1().isVisible());
}

TEST_F(StartupTest, HooksFailingAndProviderMissing) {
  hooks.applySkin = [] { throw std::runtime_error("skin rejected"); };
  makeWindows();
  ASSERT_TRUE(form1().Form_Load());
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_EQ(prompts.errorReports()[0].text.find(
                "skin rejected\r\nin Siftwell2021/08/31.Form1.Form_Load at line 100\r\r"),
            0u);
  EXPECT_EQ(form1().windowTitle(), "Rowsifter") << "start-up goes on after the report";
  EXPECT_TRUE(form1().isVisible());

  settings.values["AccessMDBFile"] = database;
  hooks.applySkin = nullptr;
  hooks.providerCheck = [] { return false; };
  makeWindows();
  EXPECT_FALSE(form1().Form_Load());
  EXPECT_FALSE(form1().isVisible());
  EXPECT_FALSE(windows->form2Created()) << "nothing is opened after a failed check";
}

}  // namespace
