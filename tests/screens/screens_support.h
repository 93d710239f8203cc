// Doubles and sample data for driving the windows headless: settings in memory, the two
// windows with a test's prompts, and a small SQLite database to browse.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "steps/clock.h"
#include "app/settings.h"
#include "screens/form1.h"
#include "screens/form2.h"
#include "screens/windows.h"
#include "tests/db/sqlite_file.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_prompts.h"

namespace screenstest {

class MemorySettings : public app::Settings {
 public:
  std::map<std::string, std::string> values;
  std::vector<std::pair<std::string, std::string>> writes;

  void save(const std::string& key, const std::string& value) override {
    writes.emplace_back(key, value);
    values[key] = value;
  }
  std::string load(const std::string& key, const std::string& fallback) override {
    auto it = values.find(key);
    return it == values.end() || it->second.empty() ? fallback : it->second;
  }
};

// A clock that runs a twentieth of a second on at every reading, so pauses end at once in real
// time; a test can act at every round of window events the pause makes.
class FakeClock : public steps::Clock {
 public:
  std::function<void()> onEvents;
  int rounds = 0;

  float secondsSinceMidnight() override {
    now_ += 0.05f;
    return now_;
  }
  void processEvents() override {
    ++rounds;
    QCoreApplication::processEvents();
    if (onEvents) onEvents();
  }

 private:
  float now_ = 3600.0f;
};

// Customers (3 fields, 4 rows with an apostrophe and a Null), Empty (2 fields, no rows) and
// Numbers (1 field, 150 rows 0..149). The catalogue lists them in that order.
inline void MakeSampleDatabase(const std::string& path) {
  std::string sql =
      "CREATE TABLE Customers (Name TEXT, City TEXT, Code INTEGER);"
      "INSERT INTO Customers VALUES ('Ann', 'Oslo', 1), ('O''Brien', NULL, 2),"
      " (NULL, 'New York', 3), ('Ann', 'Oslo', 4);"
      "CREATE TABLE Empty (a TEXT, b TEXT);"
      "CREATE TABLE Numbers (n INTEGER);"
      "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 149)"
      " INSERT INTO Numbers SELECT i FROM k;";
  dbtest::RunSql(path, sql);
}

inline std::vector<std::string> Items(const screens::ReportList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.itemText(i));
  return out;
}

// Clicks the item with `text` of a list as the user would (on the view's viewport, at the
// item's place), then lets the fill the click starts run.
inline void ClickItem(screens::ReportList& list, const std::string& text,
                      Qt::KeyboardModifiers modifiers = {}) {
  const auto found = list.findItems(QString::fromStdString(text), Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << text;
  QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers,
                    list.visualItemRect(found.front()).center());
  QCoreApplication::processEvents();
}

// The two windows over a scratch folder with its sample database.
class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database = temp.file("sample.sqlite");
    MakeSampleDatabase(database);
  }

  screens::Windows& makeWindows(app::Settings* store = nullptr) {
    screens::WindowsOptions options;
    options.endProgram = [this] { ++programEnds; };
    options.startup = hooks;
    options.applySkin = applySkin;
    options.applyFaceColours = applyFaceColours;
    options.clock = clock;
    windows = std::make_unique<screens::Windows>(prompts, store ? *store : settings, options);
    return *windows;
  }
  screens::Form1& form1() { return windows->form1(); }
  screens::Form2& form2() { return windows->form2(); }

  testsupport::TempDir temp;
  std::string database;
  testsupport::ScriptedPrompts prompts;
  MemorySettings settings;
  app::StartupHooks hooks;
  std::function<void(QWidget&)> applySkin;
  std::function<void(QWidget&)> applyFaceColours;
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  int programEnds = 0;
  std::unique_ptr<screens::Windows> windows;
};

}  // namespace screenstest
