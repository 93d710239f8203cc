#include "extract/export.h"

#include <QString>

#include <memory>
#include <string>

#include "app/pointer.h"
#include "app/procedure.h"
#include "db/catalog.h"
#include "db/connection.h"
#include "db/statements.h"
#include "extract/criteria.h"
#include "extract/value_walk.h"
#include "db/names.h"

namespace extract {

namespace {

constexpr PromptLines kPromptLines{110, 112, 114, 116, 296, 298, 118};
constexpr CriterionLines kCriterionLines{154, 272};

}  // namespace

bool SameTableName(const std::string& a, const std::string& b) { return db::SameName(a, b); }

void ExportResults(Workspace& workspace, app::Prompts& prompts, app::Clock& clock) {
  app::Procedure p(prompts, "Form2.PushButton2_Click");
  // Lines 100 and 102 created the connection and record set objects; here the connection is a
  // plain member of the export and the record set comes into being when the query opens.
  db::Connection connection;
  std::unique_ptr<db::Recordset> recordset;

  std::string name;
  p.step(104, [&] { name = prompts.inputBox(kNewTablePrompt, kNewTableTitle, ""); });
  if (p.when(106, [&] { return TrimSpaces(name).empty(); })) return;

  if (p.when(108, [&] { return workspace.fieldCount() == 0; })) {
    p.step(270, [&] { prompts.messageBox(kSelectFieldText, app::box::kOkOnly, ""); });
    return;
  }

  std::string userChars;
  if (!AskUserCharacters(p, workspace, prompts, kPromptLines, userChars)) return;
  const Matcher matcher(std::nullopt, userChars);

  // Writing over the table being read would drop the very rows the export is about to read.
  bool sameAsSource = false;
  p.step(300, [&] { sameAsSource = SameTableName(name, workspace.selectedTable()); });
  if (sameAsSource) {
    p.step(302, [&] { prompts.messageBox(kSameTableRefusal, app::box::kExclamation, ""); });
    return;
  }

  p.step(120, [&] { workspace.setPointer(app::pointer::kBusy); });
  p.step(122, [&] { connection.setMode(db::OpenMode::ReadWrite); });
  p.step(124, [&] { connection.open(workspace.connectionString()); });

  bool dropOld = false;
  if (p.when(126, [&] { return db::TableExists(workspace.connectionString(), name); })) {
    if (p.when(128, [&] {
          return prompts.messageBox(kOverwriteQuestion, app::box::kYesNo, "") == app::box::kYes;
        })) {
      dropOld = true;
    } else {
      p.step(132, [&] { workspace.setPointer(app::pointer::kDefault); });
      return;
    }
  }

  // Without a transaction a failure half-way could leave the old table dropped and nothing in
  // its place, so the export changes nothing when it cannot start one.
  if (!p.step(304, [&] { connection.beginTrans(); })) {
    p.step(132, [&] { workspace.setPointer(app::pointer::kDefault); });
    return;
  }
  if (dropOld) p.step(130, [&] { connection.execute(db::DropTableStatement(name)); });

  p.step(134, [&] {
    recordset = connection.openRecordset(
        db::DistinctValuesStatement(workspace.selectedField(), workspace.selectedTable()));
  });
  long long n = -1;
  p.step(142, [&] { n = OpenRecordset(recordset).recordCount() - 1; });

  if (!p.when(144, [&] { return OpenRecordset(recordset).eof(); })) {
    p.step(146, [&] {
      connection.execute(db::CreateTableStatement(name, workspace.selectedField()));
    });
    for (long long i = 0; i <= n; ++i) {
      p.step(150, [&] { workspace.setProgress(ProgressPercent(i, n)); });
      std::string text;
      if (ReadValueText(p, 152, recordset, text)) {
        TestValue(p, workspace, matcher, kCriterionLines, text, [&](const std::string& kept) {
          connection.execute(db::InsertStatement(name, kept));
        });
      }
      p.step(250, [&] {
        if (i % kValuesBetweenPauses == 0) app::WaitSeconds(clock, kPauseSeconds);
      });
      p.step(252, [&] { OpenRecordset(recordset).moveNext(); });
    }
  }

  p.step(254, [&] { workspace.setPointer(app::pointer::kDefault); });
  p.step(256, [&] {
    workspace.setProgress(0);
    workspace.setProgressText(kProgressIdleText);
  });
  p.step(258, [&] {
    if (recordset && recordset->isOpen()) recordset->close();
  });
  recordset.reset();  // no statement of the export may still be reading at the commit
  // A commit that fails keeps nothing of the export (the engine has ended the transaction, or
  // the rollback below ends it); the report says so with the cause.
  if (!p.step(306, [&] {
        try {
          connection.commitTrans();
        } catch (const db::Error& e) {
          if (e.number() == db::errc::kTransactionEnded) throw;  // says so itself
          throw db::Error(e.number(), e.description() + " " + kNothingChangedText);
        }
      }))
    p.step(308, [&] { connection.rollbackTrans(); });

  p.step(266, [&] { prompts.messageBox(kDoneText, app::box::kOkOnly, ""); });
  p.step(268, [&] { workspace.refillTableList(); });
}

}  // namespace extract
