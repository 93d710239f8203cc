#include "cli/help.h"

#include "cli/args.h"

namespace cli {

std::string HelpText() {
  return std::string(R"(Usage: rowsifter-cli COMMAND [OPTIONS] [ARGUMENTS]

Lists the tables and fields of an Access (.mdb, .accdb) or SQLite database, previews a field,
and extracts the distinct values of a field that meet one of twenty character criteria, to
standard output or into a new table of the same database.

Commands:
  tables   DATABASE                       the user tables, one a line
  fields   DATABASE TABLE                 the fields of TABLE, in table order
  preview  DATABASE TABLE FIELD           the first values of FIELD (100 unless --limit)
  extract  DATABASE TABLE FIELD -c CRITERION [--chars TEXT]
                                          every distinct value of FIELD that meets CRITERION;
                                          Null values are skipped, values come as stored; on a
                                          terminal, the count of values written follows on
                                          standard error
  export   DATABASE TABLE FIELD NEW_TABLE -c CRITERION [--chars TEXT] [--replace]
           [--long-text]                  the same values into NEW_TABLE, one text column named
                                          like FIELD, all in one transaction
  criteria                                the twenty criteria with their numbers
  help, version

Options:
  -c, --criterion CRITERION  a criterion by its text (letter case ignored) or its number,
                             1 to 20
      --chars TEXT           the characters criteria 1, 2 and 17 to 20 look for, used as
                             given (letter case ignored when compared); they may not be blank
  -p, --password TEXT        the database password (other users can see a command line: prefer
                             the variable ROWSIFTER_PASSWORD or --ask-password)
      --ask-password         read the password first: on a terminal after a prompt, without
                             echo; otherwise from the first line of standard input, unprompted
  -f, --format FORMAT        lines (the default), csv or json
      --escape               lines: write backslash, line feed, carriage return and tab as
                             \\, \n, \r and \t, so that each value is exactly one line
      --header               csv: a first record with the field's name
  -o, --output FILE          write the values to FILE instead of standard output
  -n, --limit N              preview: at most N values (0 for all; default 100)
      --replace              export: drop an existing table named NEW_TABLE first
      --long-text            export: make the new column a long-text column (LONGTEXT: Memo
                             in Access, TEXT in SQLite), so that values longer than 255
                             characters are kept; without it Access refuses them
      --no-progress          no progress bar. It is drawn on standard error only when that
                             is a terminal and the values do not go to a terminal; drawing it
                             makes the command count (and hold) the rows first
  -h, --help                 this text
      --version              the program's name and version

Password: --password, else the variable ROWSIFTER_PASSWORD, else, when the database refuses
the empty password and standard input is a terminal, a prompt that does not echo.

Formats:
  lines  each value and a line feed. A value holding a line break spans several lines and
         cannot be told from several values: use --escape, or csv or json, for such fields.
  csv    RFC 4180: one column, records end with CR LF, a value holding a double quote, comma
         or line break is quoted with inner double quotes doubled, an empty value is "".
  json   an array of strings; control characters, quotes and backslashes are escaped, bytes
         that are not UTF-8 become U+FFFD. In a preview a Null is null (csv: an empty field;
         lines: an empty line).

export writes nothing over the table it reads (same name, letter case ignored), refuses an
existing NEW_TABLE without --replace, creates no table when the field has no values at all,
and reports each value the database refuses on standard error, then goes on with the others.

Exit codes:
  0  done (extract, export: at least one value met the criterion)
  1  no value met the criterion (extract writes nothing; export leaves an empty table)
  2  bad arguments: unknown command or option, missing or bad value, unknown criterion
  3  the database file is missing or cannot be read
  4  the database cannot be opened: wrong or missing password, not a database, damaged file
  5  the table or field does not exist
  6  writing failed: the output, or the export (nothing changed), or the database refused
     some values of the export (the table was made without them)
  7  export: NEW_TABLE exists (give --replace) or is the table being read
  8  the database failed while the values were read

Criteria:
)") + CriterionList();
}

}  // namespace cli
