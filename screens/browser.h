// Browsing an open database: the table list, the fields of the selected table and a preview of
// the selected field's first entries.
//
// Each click opens its own connection (with the connection string current at that moment) and
// releases it before it returns. The fills let the window handle events before every item they
// add, so a click can start another fill inside a running one. Every fill carries a generation
// number; a fill whose generation is no longer the latest stops at its next item and leaves the
// lists to the newer one, so the lists always end up showing the last click.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "screens/browse_window.h"
#include "screens/list_view.h"

namespace steps {
class Prompts;
}

namespace screens {

class Browser {
 public:
  // Number of entries the preview shows at most.
  static constexpr int kPreviewRows = 100;

  Browser(ListView& tables, ListView& fields, ListView& preview, BrowseWindow& window,
          std::function<std::string()> connectionString, steps::Prompts& prompts);

  // Replaces the table list with `names` (in their order) and, when it is not empty, runs the
  // table click for the first table. An empty list empties the fields and the preview too.
  // Failures of the table click pass to the caller.
  void fillTables(const std::vector<std::string>& names);

  // The table click as program code runs it: lists the fields of the selected table, then
  // previews its first field. Failures (db::Error) pass to the caller; the lists keep what was
  // added up to the failure. Nothing happens when no table is selected.
  void tableClick();
  // The field click: previews the selected field of the selected table, at most kPreviewRows
  // entries, each value's text as stored (Null as the empty text). Failures pass to the caller.
  void fieldClick();

  // The same two clicks started by the user: a failure is shown in the error report
  // ("Form2.ListView1_Click" / "Form2.ListView2_Click") and goes no further.
  void userTableClick();
  void userFieldClick();

 private:
  class Busy;

  // Lists the fields of the selected table. True when the list was filled and no newer fill
  // took over meanwhile.
  bool listFields();

  ListView& tables_;
  ListView& fields_;
  ListView& preview_;
  BrowseWindow& window_;
  std::function<std::string()> connectionString_;
  steps::Prompts& prompts_;

  unsigned fieldsGeneration_ = 0;   // latest fill of the field list
  unsigned previewGeneration_ = 0;  // latest fill of the preview
  int busyDepth_ = 0;               // running fills that show the hourglass
};

}  // namespace screens
