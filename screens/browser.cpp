#include "screens/browser.h"

#include <utility>

#include "app/pointer.h"
#include "steps/procedure.h"
#include "db/connection.h"
#include "db/statements.h"

namespace screens {

// Shows the hourglass while at least one fill runs; fills nest when a click arrives while
// another fill handles events. Also puts the arrow back when a fill fails or stops early.
class Browser::Busy {
 public:
  explicit Busy(Browser& b) : b_(b) {
    if (b_.busyDepth_++ == 0) b_.window_.setPointer(steps::pointer::kBusy);
  }
  ~Busy() {
    if (--b_.busyDepth_ == 0) b_.window_.setPointer(steps::pointer::kDefault);
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  Browser& b_;
};

Browser::Browser(ListView& tables, ListView& fields, ListView& preview, BrowseWindow& window,
                 std::function<std::string()> connectionString, steps::Prompts& prompts)
    : tables_(tables),
      fields_(fields),
      preview_(preview),
      window_(window),
      connectionString_(std::move(connectionString)),
      prompts_(prompts) {}

void Browser::fillTables(const std::vector<std::string>& names) {
  // A refill supersedes any fill still running for the old list.
  ++fieldsGeneration_;
  ++previewGeneration_;
  tables_.clear();
  for (const auto& name : names) tables_.add(name);
  if (tables_.count() > 0) {
    tableClick();
  } else {
    // No table, so no fields and no preview: what the lists held belonged to another database.
    fields_.clear();
    preview_.clear();
  }
}

bool Browser::listFields() {
  const auto table = tables_.selectedText();
  if (!table) return false;
  const unsigned generation = ++fieldsGeneration_;
  ++previewGeneration_;  // the preview of the old field list is no longer wanted

  db::Connection connection;
  connection.setMode(db::OpenMode::ReadWrite);
  connection.open(connectionString_());
  auto records = connection.openRecordset(db::TableFieldsStatement(*table));

  fields_.clear();
  preview_.clear();
  Busy busy(*this);
  for (int i = 0; i < records->fieldCount(); ++i) {
    window_.processEvents();
    if (generation != fieldsGeneration_) return false;
    fields_.add(records->fieldName(i));
  }
  return true;
}

void Browser::tableClick() {
  if (listFields() && fields_.count() > 0) fieldClick();
}

void Browser::fieldClick() {
  const auto field = fields_.selectedText();
  const auto table = tables_.selectedText();
  if (!field || !table) return;
  const unsigned generation = ++previewGeneration_;

  db::Connection connection;
  connection.setMode(db::OpenMode::ReadWrite);
  connection.open(connectionString_());
  auto records = connection.openRecordset(db::PreviewStatement(*field, *table));

  preview_.clear();
  Busy busy(*this);
  window_.processEvents();
  if (generation != previewGeneration_) return;
  for (int shown = 0; !records->eof() && shown < kPreviewRows; ++shown) {
    window_.processEvents();
    if (generation != previewGeneration_) return;
    // The value as stored: doubling apostrophes is for SQL text, not for the eye.
    preview_.add(records->value(0).toText());
    records->moveNext();
  }
  records->close();
}

void Browser::userTableClick() {
  steps::Procedure procedure(prompts_, "Form2.ListView1_Click");
  bool listed = false;
  if (!procedure.step(100, [&] { listed = listFields(); }) || !listed) return;
  if (fields_.count() > 0) procedure.step(102, [&] { fieldClick(); });
}

void Browser::userFieldClick() {
  steps::Procedure procedure(prompts_, "Form2.ListView2_Click");
  procedure.step(100, [&] { fieldClick(); });
}

}  // namespace screens
