// The table and field lists as a user drives them with the keyboard and the mouse: whatever
// moves the selection runs the same fill as a click, a click on empty space keeps the
// selection, and a database without tables leaves no fields or preview of the one before.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "tests/screens/screens_support.h"

namespace {

using screenstest::ClickItem;
using screenstest::Items;
using Names = std::vector<std::string>;

class Form2ListsTest : public screenstest::WindowsTest {
 protected:
  void open(const std::string& path, const std::string& password = "") {
    form1().Text1().setText(QString::fromStdString(path));
    form1().Text2().setText(QString::fromStdString(password));
    form1().PushButton2().click();
    ASSERT_TRUE(form2().isVisible());
  }

  // One key on a list, then the fill it starts.
  static void press(screens::ReportList& list, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
    QTest::keyClick(&list, key, mods);
    QCoreApplication::processEvents();
  }
  // Type-ahead: the list looks for an item that starts with the letters.
  static void type(screens::ReportList& list, const char* letters) {
    QTest::qWait(QApplication::keyboardInputInterval() + 50);  // a new search, not a longer one
    QTest::keyClicks(&list, letters);
    QCoreApplication::processEvents();
  }
  // A click below the last item.
  static void clickEmptySpace(screens::ReportList& list, Qt::KeyboardModifiers mods = {}) {
    const QRect last = list.visualItemRect(list.topLevelItem(list.count() - 1));
    const QPoint below(last.center().x(), last.bottom() + 20);
    ASSERT_LT(below.y(), list.viewport()->height()) << "the list has empty space";
    QTest::mouseClick(list.viewport(), Qt::LeftButton, mods, below);
    QCoreApplication::processEvents();
  }

  static std::string current(const screens::ReportList& list) {
    return list.currentItem() ? list.currentItem()->text(0).toStdString() : "(none)";
  }

  // The workspace shows `table` everywhere: selected and current in the table list, its fields
  // listed, the field `field` selected and current, and its preview.
  void expectShowing(const std::string& table, const Names& fields, const std::string& field,
                     const Names& preview) {
    auto& f = form2();
    EXPECT_EQ(f.ListView1().selectedText().value_or("(none)"), table);
    EXPECT_EQ(current(f.ListView1()), table);
    EXPECT_EQ(Items(f.ListView2()), fields) << table;
    EXPECT_EQ(f.ListView2().selectedText().value_or("(none)"), field) << table;
    EXPECT_EQ(current(f.ListView2()), field) << table;
    EXPECT_EQ(Items(f.ListView3()), preview) << table << "." << field;
  }

  const Names customers{"Name", "City", "Code"};
  const Names names{"Ann", "O'Brien", "", "Ann"};
  const Names cities{"Oslo", "", "New York", "Oslo"};
  const Names codes{"1", "2", "3", "4"};

  Names numbers() const {
    Names out;
    for (int i = 0; i < 100; ++i) out.push_back(std::to_string(i));
    return out;
  }
};

TEST_F(Form2ListsTest, KeysThatMoveTheTableSelectionListItsFieldsAndPreview) {
  makeWindows();
  open(database);
  auto& tables = form2().ListView1();
  ClickItem(tables, "Customers");
  expectShowing("Customers", customers, "Name", names);

  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    const char* typed;
    std::string table;
  } steps[] = {
      {Qt::Key_Down, {}, nullptr, "Empty"},
      {Qt::Key_End, {}, nullptr, "Numbers"},
      {Qt::Key_Up, {}, nullptr, "Empty"},
      {Qt::Key_Home, {}, nullptr, "Customers"},
      {Qt::Key_PageDown, {}, nullptr, "Numbers"},
      {Qt::Key_PageUp, {}, nullptr, "Customers"},
      {Qt::Key_unknown, {}, "n", "Numbers"},
      {Qt::Key_unknown, {}, "c", "Customers"},
      // The current item moved without the selection (Ctrl), then chosen with Space or Enter;
      // Ctrl+Space on the selected item does not take the selection away.
      {Qt::Key_Down, Qt::ControlModifier, nullptr, "Empty"},
      {Qt::Key_Space, {}, nullptr, "Empty"},
      {Qt::Key_Down, Qt::ControlModifier, nullptr, "Numbers"},
      {Qt::Key_Return, {}, nullptr, "Numbers"},
      {Qt::Key_Space, Qt::ControlModifier, nullptr, "Numbers"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.typed ? std::string("typed ") + s.typed
                         : QKeySequence(s.key | s.mods).toString().toStdString());
    if (s.typed) {
      type(tables, s.typed);
    } else {
      press(tables, s.key, s.mods);
    }
    if (s.table == "Customers") expectShowing("Customers", customers, "Name", names);
    if (s.table == "Empty") expectShowing("Empty", {"a", "b"}, "a", {});
    if (s.table == "Numbers") expectShowing("Numbers", {"n"}, "n", numbers());
  }
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front().text;
}

TEST_F(Form2ListsTest, KeysThatMoveTheFieldSelectionPreviewIt) {
  makeWindows();
  open(database);
  auto& fields = form2().ListView2();
  press(fields, Qt::Key_Down);
  expectShowing("Customers", customers, "City", cities);
  press(fields, Qt::Key_End);
  expectShowing("Customers", customers, "Code", codes);
  press(fields, Qt::Key_Home);
  expectShowing("Customers", customers, "Name", names);
  type(fields, "ci");
  expectShowing("Customers", customers, "City", cities);
  press(fields, Qt::Key_Up, Qt::ControlModifier);
  press(fields, Qt::Key_Enter);
  expectShowing("Customers", customers, "Name", names);
  press(fields, Qt::Key_PageDown);
  expectShowing("Customers", customers, "Code", codes);

  // What the user sees is what the run reads: one box, "Done.", and the values of Code.
  form2().Combo1().setCurrentText("Contains Numeric Character(s)");
  QTest::mouseClick(&form2().PushButton1(), Qt::LeftButton);
  ASSERT_EQ(prompts.messages.size(), 1u) << prompts.messages.front().text;
  EXPECT_EQ(prompts.messages[0].text, "Done.");
  EXPECT_EQ(Items(form2().ListView4()).size(), 4u);
}

TEST_F(Form2ListsTest, AClickOnEmptySpaceKeepsTheSelection) {
  makeWindows();
  open(database);
  auto& tables = form2().ListView1();
  auto& fields = form2().ListView2();
  ClickItem(fields, "City");
  clickEmptySpace(tables);
  expectShowing("Customers", customers, "City", cities);
  clickEmptySpace(fields);
  expectShowing("Customers", customers, "City", cities);

  // Nor does a Ctrl+click on the selected item take the selection away; it is a click.
  ClickItem(fields, "City", Qt::ControlModifier);
  expectShowing("Customers", customers, "City", cities);
  ClickItem(tables, "Customers", Qt::ControlModifier);
  expectShowing("Customers", customers, "Name", names);

  ClickItem(fields, "City");
  form2().Combo1().setCurrentText("Contains Space(s)");
  QTest::mouseClick(&form2().PushButton1(), Qt::LeftButton);
  ASSERT_EQ(prompts.messages.size(), 1u) << prompts.messages.front().text;
  EXPECT_EQ(prompts.messages[0].text, "Done.");
  EXPECT_EQ(Items(form2().ListView4()), Names{"New York"});
}

// A table dragged over with the mouse button held is chosen as a click is.
TEST_F(Form2ListsTest, DraggingOntoAnotherTableListsIt) {
  makeWindows();
  open(database);
  auto& tables = form2().ListView1();
  const QPoint from = tables.visualItemRect(tables.topLevelItem(0)).center();
  const QPoint to = tables.visualItemRect(tables.topLevelItem(2)).center();
  QTest::mousePress(tables.viewport(), Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, to, tables.viewport()->mapToGlobal(to), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tables.viewport(), &move);
  QTest::mouseRelease(tables.viewport(), Qt::LeftButton, {}, to);
  QCoreApplication::processEvents();
  expectShowing("Numbers", {"n"}, "n", numbers());
}

// A database without user tables empties the field list and the preview with the table list;
// the results of the last extraction stay.
TEST_F(Form2ListsTest, ADatabaseWithoutTablesLeavesNoFieldsOrPreview) {
  makeWindows();
  open(database);
  form2().ListView4().add("an earlier result");
  const std::string bare = temp.file("bare.sqlite");
  dbtest::RunSql(bare, "CREATE VIEW v AS SELECT 1 AS x;");
  QTest::mouseClick(&form2().PushButton5(), Qt::LeftButton);
  open(bare);
  EXPECT_EQ(form2().ListView1().count(), 0);
  EXPECT_EQ(form2().ListView2().count(), 0);
  EXPECT_EQ(form2().ListView3().count(), 0);
  EXPECT_EQ(Items(form2().ListView4()), Names{"an earlier result"});

  // Start Extracting on the empty workspace asks for a field, as with any empty field list.
  form2().Combo1().setCurrentText("Contains Space(s)");
  QTest::mouseClick(&form2().PushButton1(), Qt::LeftButton);
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].text, "Please select a field.");
}

// The same with files made by Microsoft Access: a database with a password, then an empty one.
TEST_F(Form2ListsTest, AnEmptyAccessDatabaseAfterAFullOne) {
  ROWSIFTER_REQUIRE_FIXTURES();
  makeWindows();
  open(temp.copyFixture("jet4-password-2003.mdb"), "password");
  ASSERT_EQ(Items(form2().ListView1()), Names{"Table1"});
  ASSERT_EQ(Items(form2().ListView2()), (Names{"ID", "Data"}));
  ASSERT_EQ(form2().ListView3().count(), 3);
  QTest::mouseClick(&form2().PushButton5(), Qt::LeftButton);
  open(temp.copyFixture("ace16-empty-2016.accdb"));
  EXPECT_EQ(form2().ListView1().count(), 0);
  EXPECT_EQ(form2().ListView2().count(), 0);
  EXPECT_EQ(form2().ListView3().count(), 0);
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front().text;
}

}  // namespace
