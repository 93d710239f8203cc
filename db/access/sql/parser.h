// The statements the Access engine understands, parsed from SQL text by a small parser of our
// own. Only these shapes are accepted (keywords in any letter case, names between backticks
// with a backtick inside written twice, between square brackets or plain, an optional
// trailing ";"):
//   SELECT [DISTINCT] * | <field> FROM <table>
//   DROP TABLE <table>
//   CREATE TABLE <table> (<field> <text type>[(<length>)], ...)
//                                          (text types: VARCHAR, TEXT, CHAR, and LONGTEXT or
//                                          MEMO for long text)
//   INSERT INTO <table> VALUES ('<text>', ...)          ('' inside a text stands for ')
// Anything else is a syntax error (errc::kSyntax) whose description names the problem.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace db::access::sql {

struct SelectStatement {
  bool distinct = false;
  std::optional<std::string> field;  // none: every field (*)
  std::string table;
  bool operator==(const SelectStatement&) const = default;
};

struct DropTableStatement {
  std::string table;
  bool operator==(const DropTableStatement&) const = default;
};

struct ColumnDefinition {
  std::string name;
  std::string type;           // upper-case type word, e.g. "VARCHAR"
  std::optional<int> length;  // none: the engine's default length for the type
  bool operator==(const ColumnDefinition&) const = default;
};

struct CreateTableStatement {
  std::string table;
  std::vector<ColumnDefinition> columns;
  bool operator==(const CreateTableStatement&) const = default;
};

struct InsertStatement {
  std::string table;
  std::vector<std::string> values;  // text values, apostrophes already undoubled
  bool operator==(const InsertStatement&) const = default;
};

using AccessStatement =
    std::variant<SelectStatement, DropTableStatement, CreateTableStatement, InsertStatement>;

// Parses one statement. Throws db::Error(errc::kSyntax) for any other text.
AccessStatement ParseAccessStatement(const std::string& sql);

}  // namespace db::access::sql
