// The program's statements (db/statements.h: names between backticks, values between
// apostrophes) in PostgreSQL's own dialect. Names go between double quotes, every double quote
// inside them doubled, so that a name always reaches the server as one name, letter case kept;
// the text between apostrophes and everything else pass as they stand.
//
// Two statement shapes are recognised because they take another road on the server:
//   insert into `N` values ('V')        one row for the bulk load (COPY) of table N
//   CREATE TABLE `N` (`F` VARCHAR);     N with one text column F (LONGTEXT and TEXT alike:
//                                       PostgreSQL's text has no length limit)
#pragma once

#include <string>
#include <string_view>

namespace db::postgres {

enum class StatementKind {
  kQuery,   // returns rows (SELECT, WITH, VALUES, TABLE)
  kInsert,  // one value into a one-column table: `table` and `value`
  kOther,   // runs as it stands
};

struct Statement {
  StatementKind kind = StatementKind::kOther;
  std::string text;   // the statement in PostgreSQL's dialect, without a final semicolon
                      // (not for kInsert, whose table and value are all that is used)
  std::string table;  // kInsert: the table's name (unquoted)
  std::string value;  // kInsert: the value (apostrophes no longer doubled)
  // CREATE TABLE: the new table's and column's names (unquoted), for the length check.
  std::string createdTable, createdColumn;
};

// Translates one statement. Throws db::Error (kSyntax) for an unclosed quote, or for more than
// one statement in the text.
Statement Translate(std::string_view sql);

// `name` between double quotes, every double quote inside it doubled.
std::string QuoteIdentifier(std::string_view name);

}  // namespace db::postgres
