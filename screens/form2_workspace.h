// The workspace window as the extraction run and the export see it: the selections of its
// lists, the criterion, the results list, the progress bar, its pointer, the table list's
// refill and the connection string of the selection window's boxes.
#pragma once

#include "procedures/workspace.h"

namespace screens {

class Form2;
class Windows;

class Form2Workspace : public procedures::Workspace {
 public:
  Form2Workspace(Form2& form, Windows& windows) : form_(form), windows_(windows) {}

  int fieldCount() override;
  std::string selectedField() override;
  std::string selectedTable() override;
  std::string criterionText() override;
  void clearResults() override;
  void addResult(const std::string& text) override;
  void setProgress(int percent) override;
  void setProgressText(const std::string& text) override;
  void setPointer(int value) override;
  void refillTableList() override;
  std::string connectionString() override;
  bool ending() override;

 private:
  Form2& form_;
  Windows& windows_;
};

}  // namespace screens
