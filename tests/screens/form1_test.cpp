// The selection window: its controls, the browse and sample buttons, the boxes' settings and
// "Next >" into the workspace.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>

#include "app/program.h"
#include "app/qt_prompts.h"
#include "screens/twips.h"
#include "tests/screens/screens_support.h"
#include "tests/support/next_dialog.h"

namespace {

using screenstest::Items;
using Names = std::vector<std::string>;

class Form1Test : public screenstest::WindowsTest {
 protected:
  void SetUp() override {
    WindowsTest::SetUp();
    makeWindows();
  }
  void setBoxes(const std::string& path, const std::string& password) {
    form1().Text1().setText(QString::fromStdString(path));
    form1().Text2().setText(QString::fromStdString(password));
  }
};

int Px(int twips) { return screens::TwipsToPixelsX(twips); }

TEST_F(Form1Test, PlacesFontsPasswordMaskAndTabOrder) {
  auto& f = form1();
  EXPECT_EQ(f.size(), QSize(Px(8040), screens::TwipsToPixelsY(2085)));
  EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "fixed border";
  EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
  // Places inside the frame count from the frame.
  EXPECT_EQ(f.Text1().parentWidget(), &f.Frame1());
  EXPECT_EQ(f.Text1().geometry(), screens::TwipsRect(2280, 300, 4695, 345));
  EXPECT_EQ(f.PushButton2().geometry(), screens::TwipsRect(4080, 1580, 3840, 405));

  EXPECT_EQ(f.Text1().font().family(), "Arial");
  EXPECT_TRUE(f.Text1().font().bold());
  EXPECT_DOUBLE_EQ(f.Text1().font().pointSizeF(), 9);
  EXPECT_DOUBLE_EQ(f.PushButton2().font().pointSizeF(), 11.25);
  EXPECT_TRUE(f.PushButton2().font().bold());

  f.Text2().setText("abc");
  EXPECT_EQ(f.Text2().displayText(), "***");

  // Tab order: Text1, "Next >", Text2, "...", sample.
  std::vector<QWidget*> order{&f.Text1(), &f.PushButton2(), &f.Text2(), &f.PushButton1(),
                              &f.PushButton3()};
  QWidget* w = &f.Text1();
  for (std::size_t i = 1; i < order.size(); ++i) {
    do w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    EXPECT_EQ(w, order[i]) << "tab stop " << i;
  }
}

TEST_F(Form1Test, TextBoxesSelectAllOnFocusByKeyboardAndMouse) {
  form1().show();
  form1().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form1()));
  setBoxes("/some/path.mdb", "secret");
  // Text1 has the focus when the window opens; Tab goes on to "Next >", then to Text2.
  EXPECT_TRUE(form1().Text1().hasFocus());
  QTest::keyClick(&form1().Text1(), Qt::Key_Tab);
  QTest::keyClick(&form1().PushButton2(), Qt::Key_Tab);
  EXPECT_TRUE(form1().Text2().hasFocus());
  EXPECT_EQ(form1().Text2().selectedText(), "secret");
  form1().Text1().setFocus(Qt::BacktabFocusReason);
  EXPECT_EQ(form1().Text1().selectedText(), "/some/path.mdb");

  QTest::mouseClick(&form1().Text2(), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_TRUE(form1().Text2().hasFocus());
  EXPECT_EQ(form1().Text2().selectedText().size(), 6);
  // A second click in the focused box places the cursor as usual.
  QTest::mouseClick(&form1().Text2(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(form1().Text2().hasSelectedText());
}

TEST_F(Form1Test, BoxesSaveEveryChange) {
  QTest::keyClicks(&form1().Text1(), "/db");
  EXPECT_EQ(settings.values["AccessMDBFile"], "/db");
  EXPECT_EQ(settings.writes.size(), 3u) << "one write per keystroke";
  form1().Text2().setText("pw");
  form1().Text2().clear();
  EXPECT_EQ(settings.writes.back(), std::make_pair(std::string("AccessPassword"), std::string()));
}

TEST_F(Form1Test, BrowseAndSampleFillThePath) {
  prompts.fileAnswers = {"/data/Orders.accdb"};
  form1().PushButton1().click();
  ASSERT_EQ(prompts.fileRequests.size(), 1u);
  const auto& request = prompts.fileRequests[0];
  EXPECT_EQ(request.title, "Select Access Database");
  EXPECT_EQ(request.filter,
            "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
            "Microsoft 2007 Database (*.accdb)|*.accdb|"
            "SQLite Database (*.sqlite,*.sqlite3,*.db)|*.sqlite;*.sqlite3;*.db;*.db3|"
            "All Files (*.*)|*|");
  EXPECT_EQ(request.flags, 2621441);
  EXPECT_EQ(request.fileName, "");
  EXPECT_EQ(form1().path(), "/data/Orders.accdb");
  EXPECT_EQ(settings.values["AccessMDBFile"], "/data/Orders.accdb");

  form1().PushButton1().click();  // Cancel
  EXPECT_EQ(form1().path(), "/data/Orders.accdb");

  form1().Text2().setText("pw");
  form1().PushButton3().click();
  EXPECT_EQ(form1().path(), app::SampleDatabasePath());
  EXPECT_EQ(form1().password(), "pw");
  EXPECT_FALSE(windows->form2Created()) << "the sample is not opened";
  EXPECT_TRUE(prompts.messages.empty());
}

// The real file dialog: it offers SQLite files and every file besides the Access ones, and it
// opens in the folder of the path already in the box (when the box names one).
TEST_F(Form1Test, BrowseOffersSqliteAndAllFilesInTheFolderOfThePath) {
  app::QtPrompts qtPrompts;
  windows.reset();
  screens::WindowsOptions options;
  options.endProgram = [this] { ++programEnds; };
  windows = std::make_unique<screens::Windows>(qtPrompts, settings, options);
  form1().show();

  const QString folder = QString::fromStdString(temp.path().string());
  const std::string other = temp.file("elsewhere");
  std::filesystem::create_directory(other);
  struct Case {
    std::string path;  // in the box before the click
    QString opensIn;
  } cases[] = {{database, folder}, {other + "/gone.accdb", QString::fromStdString(other)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    setBoxes(c.path, "");
    bool shown = false;
    testsupport::AnswerNextDialog<QFileDialog>([&](QFileDialog* dialog) {
      shown = true;
      EXPECT_EQ(dialog->windowTitle(), "Select Access Database");
      EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(c.opensIn).canonicalPath());
      const QStringList filters = dialog->nameFilters();
      dialog->reject();
      ASSERT_EQ(filters.size(), 5) << filters.join(" | ").toStdString();
      EXPECT_TRUE(filters[0].startsWith("All Microsoft Databases (*.mdb,*.accdb)"));
      EXPECT_TRUE(filters[3].startsWith("SQLite Database")) << filters[3].toStdString();
      for (const char* pattern : {"*.sqlite", "*.sqlite3", "*.db"})
        EXPECT_TRUE(filters[3].contains(pattern)) << pattern;
      EXPECT_TRUE(filters[4].startsWith("All Files")) << filters[4].toStdString();
      EXPECT_TRUE(filters[4].endsWith("(*)")) << filters[4].toStdString();
    });
    QTest::mouseClick(&form1().PushButton1(), Qt::LeftButton);
    EXPECT_TRUE(shown);
    EXPECT_EQ(form1().path(), c.path) << "Cancel changes nothing";
  }
}

TEST_F(Form1Test, NextOpensTheWorkspace) {
  form1().show();
  setBoxes(database, "");
  form1().PushButton2().click();
  ASSERT_TRUE(windows->form2Created());
  EXPECT_TRUE(form2().isVisible());
  EXPECT_FALSE(form1().isVisible());
  EXPECT_EQ(Items(form2().ListView1()), (Names{"Customers", "Empty", "Numbers"}));
  EXPECT_EQ(form2().ListView1().selectedText(), "Customers");
  EXPECT_EQ(Items(form2().ListView2()), (Names{"Name", "City", "Code"}));
  EXPECT_EQ(Items(form2().ListView3()), (Names{"Ann", "O'Brien", "", "Ann"}));
  EXPECT_EQ(form2().pointer().value(), steps::pointer::kDefault);
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Form1Test, NextWithMissingFileDoesNothing) {
  form1().show();
  setBoxes(temp.file("gone.mdb"), "");
  form1().PushButton2_Click();
  EXPECT_FALSE(windows->form2Created());
  EXPECT_TRUE(form1().isVisible());
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Form1Test, NextWithUnreadableFileReportsOnceAtLine100) {
  const std::string junk = temp.file("junk.mdb");
  {
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    std::fputs("this is no database", f);
    std::fclose(f);
  }
  form1().show();
  setBoxes(junk, "");
  form1().PushButton2_Click();
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].title, "Application Error");
  EXPECT_EQ(prompts.messages[0].style, 48);
  EXPECT_NE(prompts.messages[0].text.find(
                "\r\nin Siftwell2021/08/31.Form1.PushButton2_Click at line 100\r\r"),
            std::string::npos);
  EXPECT_TRUE(form1().isVisible());
  EXPECT_FALSE(windows->form2Created());
  EXPECT_EQ(form1().path(), junk);
}

TEST_F(Form1Test, AccessFiles) {
  ROWSIFTER_REQUIRE_FIXTURES();
  form1().show();
  setBoxes(testsupport::Fixture("jet4-password-2003.mdb"), "wrong");
  form1().PushButton2_Click();
  ASSERT_EQ(prompts.errorReports().size(), 1u);
  EXPECT_NE(prompts.errorReports()[0].text.find("Form1.PushButton2_Click at line 100"),
            std::string::npos);
  EXPECT_TRUE(form1().isVisible());

  setBoxes(testsupport::Fixture("jet4-nopassword-2003.mdb"), "");
  form1().PushButton2_Click();
  EXPECT_EQ(prompts.errorReports().size(), 1u) << prompts.messages.back().text;
  EXPECT_TRUE(windows->form2Created() && form2().isVisible());
  EXPECT_EQ(Items(form2().ListView1()), Names{"Table1"});
  EXPECT_EQ(Items(form2().ListView2()), (Names{"ID", "Data"}));
  EXPECT_EQ(Items(form2().ListView3()), (Names{"1", "2", "3"}));
}

TEST_F(Form1Test, ClosingEitherWindowEndsTheProgram) {
  form1().show();
  form1().close();
  EXPECT_EQ(programEnds, 1);
  form2().show();
  form2().close();
  EXPECT_EQ(programEnds, 2);
}

}  // namespace
