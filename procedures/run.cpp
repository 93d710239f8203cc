#include "procedures/run.h"

#include <memory>
#include <string>

#include "db/connection.h"
#include "db/statements.h"
#include "extract/criteria.h"
#include "extract/value_walk.h"
#include "procedures/procedure_steps.h"
#include "steps/pointer.h"
#include "steps/procedure.h"

namespace procedures {

namespace {

constexpr PromptLines kPromptLines{106, 108, 110, 112, 284, 286, 114};
constexpr WalkLines kWalkLines{138, 140, 238, 240, {142, 260}};

}  // namespace

void RunExtraction(Workspace& workspace, steps::Prompts& prompts, steps::Clock& clock) {
  steps::Procedure p(prompts, "Form2.PushButton1_Click");
  // Lines 100 and 102 created the connection and record set objects; here the connection is a
  // plain member of the run and the record set comes into being when the query opens.
  db::Connection connection;
  std::unique_ptr<db::Recordset> recordset;

  if (p.when(104, [&] { return workspace.fieldCount() == 0; })) {
    p.step(256, [&] { prompts.messageBox(kSelectFieldText, steps::box::kOkOnly, ""); });
    return;
  }

  std::string userChars;
  if (!AskUserCharacters(p, workspace, prompts, kPromptLines, userChars)) return;
  const extract::Matcher matcher(std::nullopt, userChars);

  p.step(116, [&] { workspace.setPointer(steps::pointer::kBusy); });
  p.step(118, [&] { connection.setMode(db::OpenMode::ReadWrite); });
  // A database that cannot be opened or read would fail again at every step after it: the run
  // reports it once and stops, leaving the results as they were.
  bool stopped = !p.step(120, [&] { connection.open(workspace.connectionString()); });
  if (!stopped) {
    stopped = !p.step(122, [&] {
      recordset = connection.openRecordset(
          db::DistinctValuesStatement(workspace.selectedField(), workspace.selectedTable()));
    });
  }
  long long n = -1;
  if (!stopped)
    stopped = !p.step(130, [&] { n = extract::OpenRecordset(recordset).recordCount() - 1; });

  if (!stopped) {
    p.step(132, [&] { workspace.clearResults(); });
    if (p.when(134, [&] { return !extract::OpenRecordset(recordset).eof(); })) {
      WalkSteps walk(p, workspace, clock, kWalkLines, n);
      extract::WalkValues(walk, recordset, matcher,
                          [&](std::string_view kept) { workspace.addResult(std::string(kept)); });
      stopped = walk.stopped();
    }
  }

  p.step(242, [&] { workspace.setPointer(steps::pointer::kDefault); });
  p.step(244, [&] {
    workspace.setProgress(0);
    workspace.setProgressText(kProgressIdleText);
  });
  p.step(246, [&] {
    if (recordset && recordset->isOpen()) recordset->close();
  });
  // A run that stopped early has reported why, or the program is ending: no "Done.".
  if (!stopped) p.step(254, [&] { prompts.messageBox(kDoneText, steps::box::kOkOnly, ""); });
}

}  // namespace procedures
