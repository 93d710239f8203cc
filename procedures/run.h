// "Start Extracting": lists every distinct value of the selected field of the selected table
// that meets the selected criterion.
//
// Report lines (procedure "Form2.PushButton1_Click"):
//   104 the check for an empty field list, 256 its message
//   106/108 entry 1 and its question for the user characters, 110/112 entry 2,
//   284/286 entries 17 to 20, 114 the check for a blank answer
//   116 hourglass, 118 mode, 120 open, 122 the distinct-values query, 130 row count,
//   132 clearing the results, 134 the check for rows
//   per row: 138 progress, 140 reading the value (Null skips the row), criterion steps, 238 the
//   pause, 240 the next row
//   criterion steps, comparison / test / add: entry k of 1..16 at 142 + 6 (k - 1) (+2, +4),
//   entry k of 17..20 at 260 + 6 (k - 17) (+2, +4): 17 = 260/262/264, 18 = 266/268/270,
//   19 = 272/274/276, 20 = 278/280/282
//   242 default pointer, 244 progress reset, 246 closing the record set, 254 "Done."
//
// A failure that would come back at every later step or value (the database cannot be opened,
// the query fails, the record set or connection is gone) is reported once; the run then stops:
// it resets the pointer and the bar and closes the record set, and shows no "Done.". It stops
// the same way, without a report, when the program is ending. Failures that belong to one value
// are reported and the run goes on.
#pragma once

#include "steps/clock.h"
#include "steps/prompts.h"
#include "procedures/workspace.h"

namespace procedures {

// Reads the selections of `workspace`, queries the field's distinct values on a connection of
// its own, and fills the results list with the values that meet the criterion, as they are
// stored. Failures are reported through `prompts` and the run goes on with its next step.
void RunExtraction(Workspace& workspace, steps::Prompts& prompts, steps::Clock& clock);

}  // namespace procedures
