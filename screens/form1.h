// The database selection window: the path of the database file (typed, chosen in the file
// dialog, or the sample database) and its password. "Next >" opens the database in the
// workspace. Its load is the start-up sequence of the program.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "app/pointer.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace screens {

class Windows;

class Form1 : public QWidget {
  Q_OBJECT

 public:
  explicit Form1(Windows& windows);
  ~Form1() override;

  // The start-up sequence. False when the program must end at once (no window was shown).
  bool Form_Load();

  // Browse: the file-open dialog (Access, SQLite or any file, opening in the folder of the path
  // in the box) fills the path box; Cancel changes nothing.
  void PushButton1_Click();
  // "Next >": opens the database named in the boxes in the workspace, shows the workspace and
  // hides this window. A path that names no file does nothing.
  void PushButton2_Click();
  // Sample: the path of the sample database beside the program.
  void PushButton3_Click();
  // The boxes save their text in the settings at every change.
  void Text1_Change();
  void Text2_Change();

  std::string path() const;
  std::string password() const;

  QGroupBox& Frame1() { return *frame1_; }
  QLabel& Label5() { return *label5_; }
  QLabel& lblPassword() { return *lblPassword_; }
  QLineEdit& Text1() { return *text1_; }
  QLineEdit& Text2() { return *text2_; }
  QPushButton& PushButton1() { return *pushButton1_; }
  QPushButton& PushButton2() { return *pushButton2_; }
  QPushButton& PushButton3() { return *pushButton3_; }
  app::WindowPointer& pointer() { return pointer_; }

 protected:
  // Form_Unload: closing the window ends the program.
  void closeEvent(QCloseEvent* event) override;

 private:
  class Startup;

  void createControls();

  Windows& windows_;
  QGroupBox* frame1_;
  QLabel* label5_;
  QLineEdit* text1_;
  QPushButton* pushButton1_;
  QLabel* lblPassword_;
  QLineEdit* text2_;
  QPushButton* pushButton3_;
  QPushButton* pushButton2_;
  app::WindowPointer pointer_;
};

}  // namespace screens
