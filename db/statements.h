// The texts of the statements the program sends: names between backticks with every backtick
// inside them doubled, values between apostrophes with every apostrophe doubled. A name thus
// always reaches the engine as one name, whatever characters it holds (SQLite reads `a``b` as
// the name a`b, and so does the Access statement parser); whether the engine accepts such a
// name is its own affair. Nothing else is escaped or validated.
#pragma once

#include <string>

#include "db/base/value.h"

namespace db {

std::string TableFieldsStatement(const std::string& table);  // SELECT * FROM `T`
std::string PreviewStatement(const std::string& field,
                             const std::string& table);  // SELECT `F` FROM `T`
std::string DistinctValuesStatement(const std::string& field, const std::string& table);
std::string DropTableStatement(const std::string& table);
// One text column named `field`: VARCHAR (255 characters in Access), or LONGTEXT with
// `longText` (a Memo column in Access; SQLite gives the word text affinity, as VARCHAR).
std::string CreateTableStatement(const std::string& table, const std::string& field,
                                 bool longText = false);
// `valueText` is the value's text before doubling; the doubling happens here.
std::string InsertStatement(const std::string& table, const std::string& valueText);

// `name` between backticks, every backtick inside it doubled.
std::string QuotedName(const std::string& name);

// Every apostrophe of `text` doubled.
std::string DoubleApostrophes(const std::string& text);

// The fallback for Null, else the value's text with every apostrophe doubled (for SQL text).
std::string SqlValueText(const Value& value, const std::string& fallback);

}  // namespace db
