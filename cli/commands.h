// The commands of rowsifter-cli over the database layer and the extraction criteria.
//
// extract and export mean what the workspace window's "Start Extracting" and "Create New Table
// With Results Of Extraction" mean: the field's distinct values from the same statement, Null
// skipped, the same criterion test, values as stored. Unlike the window they stream: the rows
// are read one at a time and written out at once (the row count, which reads them all ahead, is
// asked for only to draw the progress bar), and there is no pause between values.
#pragma once

#include "cli/args.h"
#include "cli/environment.h"

namespace cli {

// Runs one parsed request and returns its exit code. Throws Failure for a failure that ends it.
int RunCommand(const Request& request, Environment& env);

}  // namespace cli
