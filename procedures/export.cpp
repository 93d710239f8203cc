#include "procedures/export.h"

#include <memory>
#include <string>

#include "db/catalog.h"
#include "db/connection.h"
#include "extract/criteria.h"
#include "extract/table_export.h"
#include "procedures/procedure_steps.h"
#include "steps/pointer.h"
#include "steps/procedure.h"

namespace procedures {

namespace {

constexpr PromptLines kPromptLines{110, 112, 114, 116, 296, 298, 118};
constexpr WalkLines kWalkLines{150, 152, 250, 252, {154, 272}};

// The failure `e` of a step after which the export keeps nothing, saying so (an ended
// transaction says it itself).
db::Error NothingChanged(const db::Error& e) {
  if (e.number() == db::errc::kTransactionEnded || e.kind() == db::ErrorKind::kHalfWritten)
    return e;
  return db::Error(e.number(), e.description() + " " + kNothingChangedText, e.kind());
}

}  // namespace

void ExportResults(Workspace& workspace, steps::Prompts& prompts, steps::Clock& clock) {
  steps::Procedure p(prompts, "Form2.PushButton2_Click");
  // Lines 100 and 102 created the connection and record set objects; here the connection is a
  // plain member of the export and the record set comes into being when the query opens.
  db::Connection connection;

  std::string name;
  p.step(104, [&] { name = prompts.inputBox(kNewTablePrompt, kNewTableTitle, ""); });
  if (p.when(106, [&] { return extract::TrimSpaces(name).empty(); })) return;

  if (p.when(108, [&] { return workspace.fieldCount() == 0; })) {
    p.step(270, [&] { prompts.messageBox(kSelectFieldText, steps::box::kOkOnly, ""); });
    return;
  }

  std::string userChars;
  if (!AskUserCharacters(p, workspace, prompts, kPromptLines, userChars)) return;
  const extract::Matcher matcher(std::nullopt, userChars);

  // Writing over the table being read would drop the very rows the export is about to read.
  bool sameAsSource = false;
  p.step(300, [&] { sameAsSource = extract::ReplacesSource(name, workspace.selectedTable()); });
  if (sameAsSource) {
    p.step(302, [&] { prompts.messageBox(kSameTableRefusal, steps::box::kExclamation, ""); });
    return;
  }

  p.step(120, [&] { workspace.setPointer(steps::pointer::kBusy); });
  p.step(122, [&] { connection.setMode(db::OpenMode::ReadWrite); });
  // A database that cannot be opened would fail again at every step after it: one report, then
  // the export stops, having changed nothing.
  bool stopped = !p.step(124, [&] { connection.open(workspace.connectionString()); });

  bool dropOld = false;
  if (!stopped &&
      p.when(126, [&] { return db::TableExists(workspace.connectionString(), name); })) {
    if (p.when(128, [&] {
          return prompts.messageBox(kOverwriteQuestion, steps::box::kYesNo, "") == steps::box::kYes;
        })) {
      dropOld = true;
    } else {
      p.step(132, [&] { workspace.setPointer(steps::pointer::kDefault); });
      return;
    }
  }

  extract::TableExport table(connection, name);
  // Without a transaction a failure half-way could leave the old table dropped and nothing in
  // its place, so the export changes nothing when it cannot start one.
  if (!stopped && !p.step(304, [&] { table.begin(); })) {
    p.step(132, [&] { workspace.setPointer(steps::pointer::kDefault); });
    return;
  }
  const bool began = !stopped;
  // Failures that every later step would meet again (no old table dropped, no new table made,
  // no values to read) stop the export after one report, which says that nothing was changed:
  // the transaction is rolled back.
  auto once = [](auto action) {
    return [action] {
      try {
        action();
      } catch (const db::Error& e) {
        throw NothingChanged(e);
      }
    };
  };
  if (!stopped && dropOld) stopped = !p.step(130, once([&] { table.dropOld(); }));
  if (!stopped) {
    stopped = !p.step(
        134, once([&] { table.openValues(workspace.selectedField(), workspace.selectedTable()); }));
  }
  long long n = -1;
  if (!stopped) {
    stopped =
        !p.step(142, once([&] { n = extract::OpenRecordset(table.values()).recordCount() - 1; }));
  }

  if (!stopped && !p.when(144, [&] { return extract::OpenRecordset(table.values()).eof(); })) {
    stopped = !p.step(146, once([&] { table.create(workspace.selectedField()); }));
    if (!stopped) {
      WalkSteps walk(p, workspace, clock, kWalkLines, n, kNothingChangedText);
      table.writeValues(walk, matcher);
      stopped = walk.stopped();
    }
  }

  p.step(254, [&] { workspace.setPointer(steps::pointer::kDefault); });
  p.step(256, [&] {
    workspace.setProgress(0);
    workspace.setProgressText(kProgressIdleText);
  });
  // No statement of the export may still be reading at the commit; the record set goes even
  // when its close fails.
  p.step(258, [&] { table.closeValues(); });
  if (stopped) {
    // The failure has been reported, or the program is ending: nothing of the export is kept,
    // and there is no "Done." and no new table to list.
    if (began) p.step(308, [&] { table.rollBack(); });
    return;
  }
  // A commit that fails keeps nothing of the export (the engine has ended the transaction, or
  // the rollback below ends it); the report says so with the cause.
  if (!p.step(306, [&] {
        try {
          table.commit();
        } catch (const db::Error& e) {
          throw NothingChanged(e);
        }
      }))
    p.step(308, [&] { table.rollBack(); });

  p.step(266, [&] { prompts.messageBox(kDoneText, steps::box::kOkOnly, ""); });
  p.step(268, [&] { workspace.refillTableList(); });
}

}  // namespace procedures
