// Steps that the extraction run and the export share: asking for the user characters, the walk
// over the values as numbered steps, and the progress percentage. Each takes the report line
// numbers of the procedure that calls it.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "db/base/error.h"
#include "extract/criteria.h"
#include "procedures/workspace.h"
#include "steps/clock.h"
#include "steps/procedure.h"
#include "steps/prompts.h"

namespace procedures {

inline constexpr const char* kSelectFieldText = "Please select a field.";
inline constexpr const char* kUserCharactersPrompt = "Input User-Defined Character(s):";
inline constexpr const char* kDoneText = "Done.";
inline constexpr const char* kProgressIdleText = "Progress Bar";
inline constexpr int kValuesBetweenPauses = 500;
inline constexpr double kPauseSeconds = 0.1;

// Report lines of the question for the user characters.
struct PromptLines {
  int compareFirst;  // comparison with entry 1
  int askFirst;
  int compareSecond;  // comparison with entry 2
  int askSecond;
  int compareLater;  // whether the criterion is one of entries 17 to 20
  int askLater;
  int blankAnswer;  // the check for a blank answer
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

// Report lines of the steps of one row of the walk.
struct WalkLines {
  int progress;  // the progress bar
  int read;      // reading the value (Null skips the row)
  int pause;     // the pause every kValuesBetweenPauses values
  int next;      // the move to the next row
  CriterionLines criteria;
};

// Asks for the user characters when the criterion uses them (entries 1, 2, 17-20). Returns false
// when the procedure must end because the answer is blank; `userChars` gets the answer and
// stays empty when nothing was asked.
bool AskUserCharacters(steps::Procedure& procedure, Workspace& workspace, steps::Prompts& prompts,
                       const PromptLines& lines, std::string& userChars);

// Percentage shown for row i of rows 0..n: i / n * 100, rounded; a single row (n = 0) shows 100.
int ProgressPercent(long long i, long long n);

// Whether a failure of the database will be met again at every later value, so that reporting
// it once per value would only flood the screen: the transaction has ended (nothing more can
// be written), the record set or the connection is closed, or the table written to is not there.
bool RepeatsForEveryValue(const db::Error& error);

// Drives the walk over the values (extract/value_walk.h) as the windows do: rows 0 to lastRow,
// each part a numbered step that reports its failure and goes on, the criterion read afresh for
// every value (a criterion text that names none of the entries keeps nothing; one that cannot
// be read counts as entry 1), the progress bar before each row and a pause at the first row and
// every kValuesBetweenPauses rows.
//
// The walk stops early, without a report of its own, when the program is ending (its windows
// were closed during a pause), and after the one report of a failure that would repeat for
// every value (RepeatsForEveryValue, or a move to the next row that failed). `stopNote` is
// added to the description of that report.
class WalkSteps {
 public:
  WalkSteps(steps::Procedure& procedure, Workspace& workspace, steps::Clock& clock,
            const WalkLines& lines, long long lastRow, std::string stopNote = {})
      : procedure_(procedure),
        workspace_(workspace),
        clock_(clock),
        lines_(lines),
        lastRow_(lastRow),
        stopNote_(std::move(stopNote)) {}

  bool more(long long row);
  // Whether the walk ended before its last row.
  bool stopped() const { return stopped_; }
  void beforeRow(long long row);
  // A read that fails counts as a Null value: the row is skipped.
  template <class F>
  bool read(F&& part) {
    return !procedure_.when(lines_.read, [&] { return !stopsOnRepeat(part); });
  }
  std::optional<extract::Criterion> criterion();
  template <class F>
  bool test(extract::Criterion c, F&& part) {
    return procedure_.when(lines_.criteria.test(Entry(c)), part);
  }
  template <class F>
  void keep(extract::Criterion c, F&& part) {
    procedure_.step(lines_.criteria.keep(Entry(c)), [&] { stopsOnRepeat(part); });
  }
  void afterRow(long long row);
  template <class F>
  void next(F&& part) {
    if (stopped_) return;
    // A row that cannot be left leaves every later row out of reach.
    procedure_.step(lines_.next, [&] {
      try {
        part();
      } catch (...) {
        stopped_ = true;
        throw;
      }
    });
  }

 private:
  static int Entry(extract::Criterion c) {
    return static_cast<int>(extract::CriterionIndex(c)) + 1;
  }

  // Runs one part of a row. A failure that would repeat for every value stops the walk and is
  // passed on, with the stop note, to be reported once.
  template <class F>
  auto stopsOnRepeat(F& part) -> decltype(part()) {
    try {
      return part();
    } catch (const db::Error& e) {
      if (!RepeatsForEveryValue(e)) throw;
      stopped_ = true;
      throw withStopNote(e);
    }
  }
  db::Error withStopNote(const db::Error& e) const;

  steps::Procedure& procedure_;
  Workspace& workspace_;
  steps::Clock& clock_;
  WalkLines lines_;
  long long lastRow_;
  std::string stopNote_;
  bool stopped_ = false;
};

}  // namespace procedures
