// The browsing without widgets: lists in memory, a window whose event pump a test can use to
// click again while a list is being filled.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/pointer.h"
#include "db/connection_string.h"
#include "db/base/error.h"
#include "screens/browser.h"
#include "tests/screens/screens_support.h"

namespace {

using Names = std::vector<std::string>;

class FakeList : public screens::ListView {
 public:
  Names items;
  std::optional<int> selected;
  bool failOnAdd = false;

  void clear() override {
    items.clear();
    selected.reset();
  }
  void add(const std::string& text) override {
    if (failOnAdd) throw std::runtime_error("list is full");
    items.push_back(text);
    if (items.size() == 1) selected = 0;
  }
  int count() const override { return static_cast<int>(items.size()); }
  std::optional<std::string> selectedText() const override {
    if (!selected) return std::nullopt;
    return items[*selected];
  }
  void select(const std::string& text) {
    for (int i = 0; i < count(); ++i)
      if (items[i] == text) selected = i;
  }
};

class FakeWindow : public screens::BrowseWindow {
 public:
  std::vector<int> pointers;
  int pumps = 0;
  std::function<void(int pump)> onPump;  // pump counts from 1

  void setPointer(int value) override { pointers.push_back(value); }
  void processEvents() override {
    ++pumps;
    if (onPump) onPump(pumps);
  }
};

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = temp.file("browse.sqlite");
    screenstest::MakeSampleDatabase(path);
    tables.items = {"Customers", "Empty", "Numbers"};
    tables.selected = 0;
  }

  testsupport::TempDir temp;
  std::string path;
  FakeList tables, fields, preview;
  FakeWindow window;
  testsupport::ScriptedPrompts prompts;
  screens::Browser browser{
      tables, fields, preview, window, [this] { return db::BuildConnectionString(path, ""); },
      prompts};
};

Names Range(int from, int to) {
  Names out;
  for (int i = from; i < to; ++i) out.push_back(std::to_string(i));
  return out;
}

TEST_F(BrowserTest, TableClickListsFieldsAndPreviewsValuesAsStored) {
  browser.tableClick();
  EXPECT_EQ(fields.items, (Names{"Name", "City", "Code"}));
  EXPECT_EQ(fields.selectedText(), "Name");
  // Every row, duplicates kept; the apostrophe single as stored; Null as an empty item.
  EXPECT_EQ(preview.items, (Names{"Ann", "O'Brien", "", "Ann"}));
  ASSERT_FALSE(window.pointers.empty());
  EXPECT_EQ(window.pointers.front(), steps::pointer::kBusy);
  EXPECT_EQ(window.pointers.back(), steps::pointer::kDefault);
  // Events are handled before every item (and once more before the preview starts).
  EXPECT_GE(window.pumps, 3 + 4);

  fields.select("City");
  browser.fieldClick();
  EXPECT_EQ(fields.items, (Names{"Name", "City", "Code"})) << "a field click keeps the fields";
  EXPECT_EQ(preview.items, (Names{"Oslo", "", "New York", "Oslo"}));
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(BrowserTest, PreviewShowsAtMostOneHundredRows) {
  tables.select("Numbers");
  browser.tableClick();
  EXPECT_EQ(fields.items, Names{"n"});
  EXPECT_EQ(preview.items, Range(0, 100));

  tables.select("Empty");
  browser.tableClick();
  EXPECT_EQ(fields.items, (Names{"a", "b"}));
  EXPECT_TRUE(preview.items.empty());
  EXPECT_EQ(window.pointers.back(), steps::pointer::kDefault);
}

TEST_F(BrowserTest, ClickOnEmptyListChangesNothing) {
  path = temp.file("no-such-file.sqlite");  // any opening would fail
  tables.clear();
  fields.items = {"kept"};
  preview.items = {"kept too"};
  EXPECT_NO_THROW(browser.tableClick());
  EXPECT_NO_THROW(browser.fieldClick());
  browser.userTableClick();
  EXPECT_EQ(fields.items, Names{"kept"});
  EXPECT_EQ(preview.items, Names{"kept too"});
  EXPECT_TRUE(window.pointers.empty());
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(BrowserTest, FillTablesHasNoLengthLimitAndEmptiesTheListsWhenEmpty) {
  Names names{"Customers"};
  for (int i = 0; i < 40000; ++i) names.push_back("T" + std::to_string(i));
  browser.fillTables(names);
  EXPECT_EQ(tables.count(), 40001);
  EXPECT_EQ(tables.items.back(), "T39999");
  EXPECT_EQ(tables.selectedText(), "Customers");
  EXPECT_EQ(fields.items, (Names{"Name", "City", "Code"}));

  browser.fillTables({});
  EXPECT_EQ(tables.count(), 0);
  EXPECT_TRUE(fields.items.empty()) << "no fields of a table the database does not have";
  EXPECT_TRUE(preview.items.empty());
}

// A click that arrives while a list is being filled wins: the lists end up showing it, and
// the interrupted fill adds nothing after it.
TEST_F(BrowserTest, ReentrantClicksEndOnTheLastClick) {
  window.onPump = [&](int pump) {
    if (pump == 2) {  // "Name" listed, "City" and "Code" not yet
      tables.select("Numbers");
      browser.userTableClick();
    }
  };
  browser.tableClick();
  EXPECT_EQ(tables.selectedText(), "Numbers");
  EXPECT_EQ(fields.items, Names{"n"});
  EXPECT_EQ(preview.items, Range(0, 100));
  EXPECT_EQ(window.pointers.back(), steps::pointer::kDefault);

  // A field click during the field listing: the listing completes, the preview is the
  // clicked field's.
  tables.select("Customers");
  window.pumps = 0;
  window.onPump = [&](int pump) {
    if (pump == 3) {  // "Name" and "City" listed
      fields.select("City");
      browser.userFieldClick();
    }
  };
  browser.tableClick();
  EXPECT_EQ(fields.items, (Names{"Name", "City", "Code"}));
  EXPECT_EQ(preview.items, (Names{"Oslo", "", "New York", "Oslo"}));

  // A table click during a preview stops that preview.
  window.pumps = 0;
  window.onPump = [&](int pump) {
    if (pump == 20) {
      tables.select("Customers");
      window.onPump = nullptr;
      browser.userTableClick();
    }
  };
  tables.select("Numbers");
  browser.tableClick();
  EXPECT_EQ(fields.items, (Names{"Name", "City", "Code"}));
  EXPECT_EQ(preview.items, (Names{"Ann", "O'Brien", "", "Ann"}));
  EXPECT_EQ(window.pointers.back(), steps::pointer::kDefault);
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(BrowserTest, FailuresPassUpFromProgramCallsAndAreReportedForUserClicks) {
  tables.items = {"Missing"};
  tables.selected = 0;
  EXPECT_THROW(browser.tableClick(), db::Error);
  EXPECT_TRUE(prompts.messages.empty());

  browser.userTableClick();
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_NE(prompts.errorReports()[0].text.find(
                "\r\nin Siftwell2021/08/31.Form2.ListView1_Click at line 100\r\r"),
            std::string::npos)
      << prompts.errorReports()[0].text;

  // The file moved away after it was opened.
  tables.items = {"Customers"};
  fields.items = {"Name"};
  fields.selected = 0;
  path = temp.file("moved-away.sqlite");
  browser.userFieldClick();
  ASSERT_EQ(prompts.errorReports().size(), 2u);
  EXPECT_NE(prompts.errorReports()[1].text.find("Form2.ListView2_Click at line 100"),
            std::string::npos);
}

TEST_F(BrowserTest, FailureInTheMiddleOfAFillPutsThePointerBack) {
  preview.failOnAdd = true;
  browser.userTableClick();
  EXPECT_EQ(fields.items, (Names{"Name", "City", "Code"}));
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_NE(prompts.errorReports()[0].text.find("list is full\r\n"), std::string::npos);
  EXPECT_NE(prompts.errorReports()[0].text.find("ListView1_Click at line 102"), std::string::npos);
  EXPECT_EQ(window.pointers.back(), steps::pointer::kDefault);
}

}  // namespace
