// What the extraction run and the export read from and write to the workspace window. The
// window implements it over its controls; tests implement it in memory.
#pragma once

#include <string>

namespace procedures {

class Workspace {
 public:
  virtual ~Workspace() = default;

  // Number of items in the field list.
  virtual int fieldCount() = 0;
  // Text of the selected field / table. Throw when nothing is selected.
  virtual std::string selectedField() = 0;
  virtual std::string selectedTable() = 0;
  // The criteria list's current text, read afresh on every call.
  virtual std::string criterionText() = 0;

  // The results list.
  virtual void clearResults() = 0;
  virtual void addResult(const std::string& text) = 0;

  // The progress bar: a percentage from 0 to 100, and its caption.
  virtual void setProgress(int percent) = 0;
  virtual void setProgressText(const std::string& text) = 0;

  // The window's pointer setting (steps::pointer::kDefault or kBusy).
  virtual void setPointer(int value) = 0;

  // Lists the database's user tables again in the table list.
  virtual void refillTableList() = 0;

  // The connection string for the database named in the selection window's boxes.
  virtual std::string connectionString() = 0;

  // True once the program is ending (a window was closed while the work paused): the run or the
  // export stops at once, and an export keeps nothing.
  virtual bool ending() = 0;
};

}  // namespace procedures
