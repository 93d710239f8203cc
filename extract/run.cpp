#include "extract/run.h"

#include <memory>
#include <string>

#include "app/pointer.h"
#include "app/procedure.h"
#include "db/connection.h"
#include "db/statements.h"
#include "extract/criteria.h"
#include "extract/value_walk.h"

namespace extract {

namespace {

constexpr PromptLines kPromptLines{106, 108, 110, 112, 284, 286, 114};
constexpr CriterionLines kCriterionLines{142, 260};

}  // namespace

void RunExtraction(Workspace& workspace, app::Prompts& prompts, app::Clock& clock) {
  app::Procedure p(prompts, "Form2.PushButton1_Click");
  // Lines 100 and 102 created the connection and record set objects; here the connection is a
  // plain member of the run and the record set comes into being when the query opens.
  db::Connection connection;
  std::unique_ptr<db::Recordset> recordset;

  if (p.when(104, [&] { return workspace.fieldCount() == 0; })) {
    p.step(256, [&] { prompts.messageBox(kSelectFieldText, app::box::kOkOnly, ""); });
    return;
  }

  std::string userChars;
  if (!AskUserCharacters(p, workspace, prompts, kPromptLines, userChars)) return;
  const Matcher matcher(std::nullopt, userChars);

  p.step(116, [&] { workspace.setPointer(app::pointer::kBusy); });
  p.step(118, [&] { connection.setMode(db::OpenMode::ReadWrite); });
  p.step(120, [&] { connection.open(workspace.connectionString()); });
  p.step(122, [&] {
    recordset = connection.openRecordset(
        db::DistinctValuesStatement(workspace.selectedField(), workspace.selectedTable()));
  });

  long long n = -1;
  p.step(130, [&] { n = OpenRecordset(recordset).recordCount() - 1; });
  p.step(132, [&] { workspace.clearResults(); });

  if (p.when(134, [&] { return !OpenRecordset(recordset).eof(); })) {
    for (long long i = 0; i <= n; ++i) {
      p.step(138, [&] { workspace.setProgress(ProgressPercent(i, n)); });
      std::string text;
      if (ReadValueText(p, 140, recordset, text)) {
        TestValue(p, workspace, matcher, kCriterionLines, text,
                  [&](const std::string& kept) { workspace.addResult(kept); });
      }
      p.step(238, [&] {
        if (i % kValuesBetweenPauses == 0) app::WaitSeconds(clock, kPauseSeconds);
      });
      p.step(240, [&] { OpenRecordset(recordset).moveNext(); });
    }
  }

  p.step(242, [&] { workspace.setPointer(app::pointer::kDefault); });
  p.step(244, [&] {
    workspace.setProgress(0);
    workspace.setProgressText(kProgressIdleText);
  });
  p.step(246, [&] {
    if (recordset && recordset->isOpen()) recordset->close();
  });
  p.step(254, [&] { prompts.messageBox(kDoneText, app::box::kOkOnly, ""); });
}

}  // namespace extract
