// The workspace: the tables of the open database, the fields of the selected table, a preview
// of the selected field, the extraction criteria, the results and the progress bar.
#pragma once

#include <QWidget>
#include <memory>

#include "app/pointer.h"
#include "screens/browse_window.h"
#include "screens/browser.h"
#include "screens/report_list.h"

class QComboBox;
class QGroupBox;
class QProgressBar;
class QPushButton;

namespace screens {

class Windows;

class Form2 : public QWidget, private BrowseWindow {
  Q_OBJECT

 public:
  explicit Form2(Windows& windows);
  ~Form2() override;

  // Set-up after creation: colours, icon, pointer image, caption, criteria, list columns.
  void Form_Load();

  // The table click and the field click as program code runs them; failures pass to the
  // caller. A user's click on a list runs them with their own error report.
  void ListView1_Click() { browser_->tableClick(); }
  void ListView2_Click() { browser_->fieldClick(); }
  // "Start Extracting" and "Create New Table With Results Of Extraction". A press while either
  // of them is still going (during one of its pauses) does nothing.
  void PushButton1_Click();
  void PushButton2_Click();
  bool working() const { return working_; }
  // "Switch Access Database": back to the selection window. Refused (it does nothing) while an
  // extraction or an export is going: their results belong to this database.
  void PushButton5_Click();

  Browser& browser() { return *browser_; }
  ReportList& ListView1() { return *listView1_; }
  ReportList& ListView2() { return *listView2_; }
  ReportList& ListView3() { return *listView3_; }
  ReportList& ListView4() { return *listView4_; }
  QGroupBox& Frame1() { return *frame1_; }
  QComboBox& Combo1() { return *combo1_; }
  QPushButton& PushButton1() { return *pushButton1_; }
  QPushButton& PushButton2() { return *pushButton2_; }
  QPushButton& PushButton5() { return *pushButton5_; }
  QProgressBar& ProgressBar1() { return *progressBar1_; }
  app::WindowPointer& pointer() { return pointer_; }

 protected:
  // Form_Unload: closing the window ends the program; an extraction or an export that is
  // pausing stops there (an export keeps nothing).
  void closeEvent(QCloseEvent* event) override;

 private:
  class WorkGuard;

  void createControls();
  // BrowseWindow
  void setPointer(int value) override { pointer_.set(value); }
  void processEvents() override;

  Windows& windows_;
  ReportList* listView1_;
  ReportList* listView2_;
  ReportList* listView3_;
  QGroupBox* frame1_;
  QComboBox* combo1_;
  QPushButton* pushButton1_;
  ReportList* listView4_;
  QPushButton* pushButton5_;
  QPushButton* pushButton2_;
  QProgressBar* progressBar1_;
  app::WindowPointer pointer_;
  std::unique_ptr<Browser> browser_;
  bool working_ = false;  // an extraction or an export is going
};

}  // namespace screens
