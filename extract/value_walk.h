// Steps that the extraction run and the export share: asking for the user characters, reading
// one value, testing it against the criterion read afresh, and the progress percentage. Each
// takes the report line numbers of the procedure that calls it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/procedure.h"
#include "app/prompts.h"
#include "db/connection.h"
#include "extract/criteria.h"
#include "extract/workspace.h"

namespace extract {

inline constexpr const char* kSelectFieldText = "Please select a field.";
inline constexpr const char* kUserCharactersPrompt = "Input User-Defined Character(s):";
inline constexpr const char* kDoneText = "Done.";
inline constexpr const char* kProgressIdleText = "Progress Bar";
inline constexpr int kValuesBetweenPauses = 500;
inline constexpr double kPauseSeconds = 0.1;

// Report lines of the question for the user characters.
struct PromptLines {
  int compareFirst;   // comparison with entry 1
  int askFirst;
  int compareSecond;  // comparison with entry 2
  int askSecond;
  int compareLater;   // whether the criterion is one of entries 17 to 20
  int askLater;
  int blankAnswer;    // the check for a blank answer
};

// Report lines of the criterion steps. Entry k (1-based) of the first sixteen has its comparison
// at firstBase + 6 (k - 1), its test 2 later and the add or insert 4 later; entries 17 to 20
// follow the same pattern from laterBase.
struct CriterionLines {
  int firstBase;
  int laterBase;

  int comparison(int entry) const {
    return entry <= 16 ? firstBase + 6 * (entry - 1) : laterBase + 6 * (entry - 17);
  }
  int test(int entry) const { return comparison(entry) + 2; }
  int keep(int entry) const { return comparison(entry) + 4; }
};

// `text` without leading and trailing spaces (only the space character, code 32).
std::string_view TrimSpaces(std::string_view text);

// Asks for the user characters when the criterion uses them. Returns false when the answer is
// blank (Cancel included): the caller ends at once. `userChars` gets the answer as typed, or
// stays empty when nothing was asked.
bool AskUserCharacters(app::Procedure& procedure, Workspace& workspace, app::Prompts& prompts,
                       const PromptLines& lines, std::string& userChars);

// The record set, or a db::Error "closed" failure when it was never opened or is closed.
db::Recordset& OpenRecordset(const std::unique_ptr<db::Recordset>& recordset);

// Percentage shown for row i of rows 0..n: i / n * 100, rounded; a single row (n = 0) shows 100.
int ProgressPercent(long long i, long long n);

// Reads field 0 of the current row at `line`. Returns false for a Null value and when the read
// fails (the failure is reported): the row is then skipped. Otherwise `text` gets the value's text.
bool ReadValueText(app::Procedure& procedure, int line,
                   const std::unique_ptr<db::Recordset>& recordset, std::string& text);

// Reads the criterion, tests `text` against it and, on a match, calls `keep(text)`, each at its
// report line. A criterion text that names none of the entries keeps nothing.
template <class Keep>
void TestValue(app::Procedure& procedure, Workspace& workspace, const Matcher& matcher,
               const CriterionLines& lines, const std::string& text, Keep&& keep) {
  std::optional<Criterion> criterion;
  // The comparisons run in list order, so a criterion that cannot be read fails at the first
  // one, and a failed comparison counts as equal.
  if (procedure.when(lines.comparison(1), [&] {
        criterion = CriterionFromText(workspace.criterionText());
        return criterion == Criterion::kContainsUserChars;
      })) {
    criterion = Criterion::kContainsUserChars;
  }
  if (!criterion) return;
  const int entry = static_cast<int>(CriterionIndex(*criterion)) + 1;
  if (procedure.when(lines.test(entry), [&] { return matcher.matches(*criterion, text); }))
    procedure.step(lines.keep(entry), [&] { keep(text); });
}

}  // namespace extract
