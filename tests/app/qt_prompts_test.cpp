#include "app/qt_prompts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/fixtures.h"
#include "tests/support/next_dialog.h"

namespace {

using testsupport::AnswerNextDialog;

TEST(QtFileFilter, MakesQtEntriesFromDescriptionPatternPairs) {
  EXPECT_EQ(app::QtFileFilter("All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database "
                              "(*.mdb)|*.mdb|Microsoft 2007 Database (*.accdb)|*.accdb|"),
            QStringLiteral("All Microsoft Databases (*.mdb,*.accdb) (*.*db);;Microsoft Database "
                           "(*.mdb) (*.mdb);;Microsoft 2007 Database (*.accdb) (*.accdb)"));
  EXPECT_EQ(app::QtFileFilter("Databases|*.mdb;*.accdb"),
            QStringLiteral("Databases (*.mdb *.accdb)"));
  EXPECT_EQ(app::QtFileFilter("Databases|*.mdb; *.accdb;|All|*.*"),
            QStringLiteral("Databases (*.mdb *.accdb);;All (*.*)"));
  EXPECT_EQ(app::QtFileFilter(""), QString());
  EXPECT_EQ(app::QtFileFilter("All|*.*|Dangling"), QStringLiteral("All (*.*)"));
  EXPECT_EQ(app::QtFileFilter("Nothing||All|*"), QStringLiteral("All (*)"));
}

TEST(QtPrompts, MessageBoxShowsTitleIconTextAndButtonsOfTheStyle) {
  app::QtPrompts prompts;
  AnswerNextDialog<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Application Error"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->text(), QStringLiteral("<b>x</b>\nin P at line 1\n\nmail"));
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(prompts.messageBox("<b>x</b>\r\nin P at line 1\r\rmail", 48, "Application Error"),
            steps::box::kOk);

  AnswerNextDialog<QMessageBox>([](QMessageBox* box) {
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Rowsifter"));
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(prompts.messageBox("Replace it?", steps::box::kYesNo, ""), steps::box::kNo);

  AnswerNextDialog<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
  EXPECT_EQ(prompts.messageBox("Replace it?", steps::box::kYesNo, ""), steps::box::kYes);
}

TEST(QtPrompts, InputBoxGivesTheTextOrEmptyOnCancel) {
  app::QtPrompts prompts;
  AnswerNextDialog<QInputDialog>([](QInputDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Rowsifter"));
    EXPECT_EQ(dialog->labelText(), QStringLiteral("Table name:"));
    EXPECT_EQ(dialog->textValue(), QStringLiteral("Results"));
    dialog->setTextValue(QStringLiteral("Cities"));
    dialog->accept();
  });
  EXPECT_EQ(prompts.inputBox("Table name:", "", "Results"), "Cities");

  AnswerNextDialog<QInputDialog>([](QInputDialog* dialog) {
    dialog->setTextValue(QStringLiteral("typed, then cancelled"));
    dialog->reject();
  });
  EXPECT_EQ(prompts.inputBox("Table name:", "Export", "Results"), "");
}

TEST(QtPrompts, FileDialogGivesTheChosenFileOrEmptyOnCancel) {
  testsupport::TempDir dir;
  const std::string chosen = dir.file("sales.mdb");
  std::ofstream(chosen) << "x";
  app::QtPrompts prompts;
  steps::FileDialogRequest request{"Select Access Database", "Microsoft Database (*.mdb)|*.mdb|",
                                   2621441, "", dir.path().string()};

  AnswerNextDialog<QFileDialog>([&](QFileDialog* dialog) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select Access Database"));
    EXPECT_EQ(dialog->nameFilters(),
              QStringList{QStringLiteral("Microsoft Database (*.mdb) (*.mdb)")});
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(),
              QDir(QString::fromStdString(dir.path().string())).canonicalPath());
    dialog->reject();
  });
  EXPECT_EQ(prompts.openFileDialog(request), "");

  request.fileName = chosen;
  AnswerNextDialog<QFileDialog>(
      [&](QFileDialog* dialog) { QMetaObject::invokeMethod(dialog, "accept"); });
  EXPECT_EQ(prompts.openFileDialog(request), chosen);
}

TEST(QtPrompts, OpenUrlRefusesTextThatIsNoAddress) {
  app::QtPrompts prompts;
  EXPECT_FALSE(prompts.openUrl(""));
  EXPECT_FALSE(prompts.openUrl("not an address"));
}

}  // namespace
