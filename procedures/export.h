// "Create New Table With Results Of Extraction": writes the distinct values of the selected field
// that meet the selected criterion into a new one-column table of the same database.
//
// Everything the export changes in the database (the drop of an old table of the same name, the
// new table, its rows) happens inside one transaction that is committed at the end: a crash or a
// kill half-way leaves the database as it was. A row the database refuses is reported and left
// out; the other rows are kept. A new table named like the table being read (letter case
// ignored) is refused before anything is opened.
//
// Report lines (procedure "Form2.PushButton2_Click"):
//   104 the question for the name, 106 the check for a blank name
//   108 the check for an empty field list, 270 its message
//   110/112 entry 1 and its question for the user characters, 114/116 entry 2,
//   296/298 entries 17 to 20, 118 the check for a blank answer
//   300 the check that the name differs from the table being read, 302 its message
//   120 hourglass, 122 mode, 124 open, 126 the existence test, 128 the overwrite question,
//   132 default pointer when the export stops there, 304 the start of the transaction,
//   130 the drop, 134 the distinct-values query, 142 row count, 144 the check for rows,
//   146 the create statement
//   per row: 150 progress, 152 reading the value (Null skips the row), criterion steps, 250 the
//   pause, 252 the next row
//   criterion steps, comparison / test / insert: entry k of 1..16 at 154 + 6 (k - 1) (+2, +4),
//   entry k of 17..20 at 272 + 6 (k - 17) (+2, +4): 17 = 272/274/276, 18 = 278/280/282,
//   19 = 284/286/288, 20 = 290/292/294
//   254 default pointer, 256 progress reset, 258 closing the record set, 306 the commit (its
//   report says that nothing was changed), 308 the rollback when the commit fails (nothing to
//   do, and no report, when the failed commit ended the transaction itself) or when the export
//   stopped, 266 "Done.", 268 refilling the table list
//
// A failure that would come back at every later step or value is reported once, saying that
// nothing was changed, and the export stops: the database cannot be opened, the old table cannot
// be dropped, the values cannot be read, the new table cannot be made (a name the database
// refuses, a file turned read-only), or, while the rows are written, the transaction has ended
// or the new table is gone. A stopped export rolls back, resets the pointer and the bar, and
// shows no "Done."; it stops the same way, without a report, when the program is ending. A row
// refused for its own value is reported and the export goes on.
#pragma once

#include "steps/clock.h"
#include "steps/prompts.h"
#include "procedures/workspace.h"

namespace procedures {

inline constexpr const char* kNewTablePrompt = "Enter New Table:";
inline constexpr const char* kNewTableTitle = "Extract to new Table";
inline constexpr const char* kOverwriteQuestion =
    "Table already exists in the database.\r\nDo you want to overwrite existing table?";
inline constexpr const char* kSameTableRefusal =
    "The new table cannot replace the table being read. Please choose another name.";
// Ends the report of a failed commit.
inline constexpr const char* kNothingChangedText = "Nothing was changed in the database.";

// Asks for the new table's name and writes one row per matching value into it, on a connection
// of its own. Failures are reported through `prompts` and the export goes on with its next step.
void ExportResults(Workspace& workspace, steps::Prompts& prompts, steps::Clock& clock);

}  // namespace procedures
