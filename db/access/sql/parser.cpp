#include "db/access/sql/parser.h"

#include <array>
#include <cctype>

#include "db/base/error.h"

namespace db::access::sql {
namespace {

enum class TokenKind { Word, Name, Text, Number, Symbol, End };

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;  // the word, the name without its quotes, the text undoubled, the symbol
};

// Words that are keywords here and so cannot stand as plain names.
constexpr std::array<const char*, 9> kKeywords = {"SELECT", "DISTINCT", "FROM", "DROP",  "TABLE",
                                                  "CREATE", "INSERT",   "INTO", "VALUES"};
// Text types, then the long-text (Memo) types.
constexpr std::array<const char*, 5> kTextTypes = {"VARCHAR", "TEXT", "CHAR", "LONGTEXT", "MEMO"};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

[[noreturn]] void Fail(const std::string& message) { throw Error(errc::kSyntax, message); }

bool IsWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsWordPart(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

class Lexer {
 public:
  explicit Lexer(const std::string& sql) : sql_(sql) {}

  Token next() {
    while (pos_ < sql_.size() && std::isspace(static_cast<unsigned char>(sql_[pos_]))) ++pos_;
    if (pos_ >= sql_.size()) return {TokenKind::End, {}};
    unsigned char c = static_cast<unsigned char>(sql_[pos_]);
    if (c == '`') return quotedName('`', '`');
    if (c == '[') return quotedName('[', ']');
    if (c == '\'') return text();
    if (IsWordStart(c)) {
      std::size_t start = pos_;
      while (pos_ < sql_.size() && IsWordPart(static_cast<unsigned char>(sql_[pos_]))) ++pos_;
      return {TokenKind::Word, sql_.substr(start, pos_ - start)};
    }
    if (std::isdigit(c)) {
      std::size_t start = pos_;
      while (pos_ < sql_.size() && std::isdigit(static_cast<unsigned char>(sql_[pos_]))) ++pos_;
      return {TokenKind::Number, sql_.substr(start, pos_ - start)};
    }
    if (c == '(' || c == ')' || c == ',' || c == ';' || c == '*') {
      ++pos_;
      return {TokenKind::Symbol, std::string(1, static_cast<char>(c))};
    }
    Fail(std::string("Syntax error: unexpected character '") + static_cast<char>(c) +
         "' in the statement.");
  }

 private:
  // A name between backticks or square brackets. Between backticks a doubled backtick stands
  // for one backtick of the name, as SQLite reads it; whether a table or field may carry such a
  // name is for the engine to say.
  Token quotedName(char open, char close) {
    std::string name;
    ++pos_;
    for (;;) {
      if (pos_ >= sql_.size())
        Fail(std::string("Syntax error: the name opened with ") + open + " is not closed.");
      char c = sql_[pos_++];
      if (c != close) {
        name += c;
      } else if (open == '`' && pos_ < sql_.size() && sql_[pos_] == '`') {
        name += '`';
        ++pos_;
      } else {
        break;
      }
    }
    // `a`b`: the name runs on past what looks like its end, up to another backtick.
    if (open == '`' && RunsOnToBacktick(pos_))
      Fail("Syntax error: the name `" + name +
           "` runs on after its closing backtick; a backtick inside a name is written twice.");
    if (name.empty()) Fail("Syntax error: a name cannot be empty.");
    if (open == '[' && name.find('[') != std::string::npos)
      Fail("Syntax error: the name '" + name + "' contains a bracket.");
    return {TokenKind::Name, name};
  }

  bool RunsOnToBacktick(std::size_t from) const {
    for (std::size_t i = from; i < sql_.size(); ++i) {
      char c = sql_[i];
      if (c == '`') return true;
      if (std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ')' || c == ',' ||
          c == ';')
        break;
    }
    return false;
  }

  Token text() {
    std::string value;
    ++pos_;
    for (;;) {
      if (pos_ >= sql_.size()) Fail("Syntax error: a text value opened with ' is not closed.");
      char c = sql_[pos_++];
      if (c != '\'') {
        value += c;
      } else if (pos_ < sql_.size() && sql_[pos_] == '\'') {
        value += '\'';
        ++pos_;
      } else {
        return {TokenKind::Text, value};
      }
    }
  }

  const std::string& sql_;
  std::size_t pos_ = 0;
};

class Parser {
 public:
  explicit Parser(const std::string& sql) : lexer_(sql) { advance(); }

  AccessStatement statement() {
    if (isKeyword("SELECT")) return select();
    if (isKeyword("DROP")) return drop();
    if (isKeyword("CREATE")) return create();
    if (isKeyword("INSERT")) return insert();
    Fail("Invalid SQL statement; expected 'CREATE', 'DROP', 'INSERT' or 'SELECT'.");
  }

 private:
  SelectStatement select() {
    advance();
    SelectStatement s;
    if (isKeyword("DISTINCT")) {
      s.distinct = true;
      advance();
    }
    if (isSymbol("*")) {
      advance();
    } else if (auto field = name()) {
      s.field = *field;
    } else {
      Fail("Syntax error in query: expected a field name or * after SELECT.");
    }
    if (!isKeyword("FROM")) Fail("Syntax error in query: expected FROM after the field.");
    advance();
    auto table = name();
    if (!table) Fail("Syntax error in FROM clause: expected a table name after FROM.");
    s.table = *table;
    finish("Syntax error in FROM clause: unexpected text after the table name.");
    return s;
  }

  DropTableStatement drop() {
    advance();
    expectKeyword("TABLE", "Syntax error in DROP TABLE statement: expected TABLE after DROP.");
    auto table = name();
    if (!table) Fail("Syntax error in DROP TABLE statement: expected a table name after TABLE.");
    finish("Syntax error in DROP TABLE statement: unexpected text after the table name.");
    return {*table};
  }

  CreateTableStatement create() {
    advance();
    expectKeyword("TABLE", "Syntax error in CREATE TABLE statement: expected TABLE after CREATE.");
    CreateTableStatement s;
    auto table = name();
    if (!table) Fail("Syntax error in CREATE TABLE statement: expected a table name after TABLE.");
    s.table = *table;
    expectSymbol("(", "Syntax error in CREATE TABLE statement: expected ( after the table name.");
    do {
      s.columns.push_back(columnDefinition());
    } while (acceptSymbol(","));
    expectSymbol(")", "Syntax error in field definition: expected , or ) after a field.");
    finish("Syntax error in CREATE TABLE statement: unexpected text after the field list.");
    return s;
  }

  ColumnDefinition columnDefinition() {
    ColumnDefinition column;
    auto field = name();
    if (!field) Fail("Syntax error in field definition: expected a field name.");
    column.name = *field;
    if (current_.kind != TokenKind::Word)
      Fail("Syntax error in field definition: expected a type after the field name.");
    column.type = Upper(current_.text);
    bool known = false;
    for (const char* type : kTextTypes) known = known || column.type == type;
    if (!known)
      Fail("Syntax error in field definition: the type " + current_.text + " is not supported.");
    advance();
    if (acceptSymbol("(")) {
      if (current_.kind != TokenKind::Number || current_.text.size() > 3)
        Fail("Syntax error in field definition: expected a length between the parentheses.");
      column.length = std::stoi(current_.text);
      advance();
      expectSymbol(")", "Syntax error in field definition: expected ) after the length.");
    }
    return column;
  }

  InsertStatement insert() {
    advance();
    expectKeyword("INTO", "Syntax error in INSERT INTO statement: expected INTO after INSERT.");
    InsertStatement s;
    auto table = name();
    if (!table) Fail("Syntax error in INSERT INTO statement: expected a table name after INTO.");
    s.table = *table;
    expectKeyword("VALUES",
                  "Syntax error in INSERT INTO statement: expected VALUES after the table name.");
    expectSymbol("(", "Syntax error in INSERT INTO statement: expected ( after VALUES.");
    do {
      if (current_.kind != TokenKind::Text)
        Fail("Syntax error in INSERT INTO statement: expected a text value between apostrophes.");
      s.values.push_back(current_.text);
      advance();
    } while (acceptSymbol(","));
    expectSymbol(")", "Syntax error in INSERT INTO statement: expected , or ) after a value.");
    finish("Syntax error in INSERT INTO statement: unexpected text after the values.");
    return s;
  }

  // A name: quoted, or a plain word that is not a keyword.
  std::optional<std::string> name() {
    if (current_.kind == TokenKind::Name || (current_.kind == TokenKind::Word && !isAnyKeyword())) {
      std::string n = current_.text;
      advance();
      return n;
    }
    return std::nullopt;
  }

  // The end of the statement: an optional ";" and nothing after it.
  void finish(const std::string& message) {
    if (acceptSymbol(";") && current_.kind != TokenKind::End)
      Fail("Characters found after end of SQL statement.");
    if (current_.kind != TokenKind::End) Fail(message);
  }

  bool isKeyword(const char* keyword) const {
    return current_.kind == TokenKind::Word && Upper(current_.text) == keyword;
  }
  bool isAnyKeyword() const {
    for (const char* k : kKeywords)
      if (isKeyword(k)) return true;
    return false;
  }
  bool isSymbol(const char* symbol) const {
    return current_.kind == TokenKind::Symbol && current_.text == symbol;
  }
  bool acceptSymbol(const char* symbol) {
    if (!isSymbol(symbol)) return false;
    advance();
    return true;
  }
  void expectSymbol(const char* symbol, const std::string& message) {
    if (!acceptSymbol(symbol)) Fail(message);
  }
  void expectKeyword(const char* keyword, const std::string& message) {
    if (!isKeyword(keyword)) Fail(message);
    advance();
  }
  void advance() { current_ = lexer_.next(); }

  Lexer lexer_;
  Token current_;
};

}  // namespace

AccessStatement ParseAccessStatement(const std::string& sql) { return Parser(sql).statement(); }

}  // namespace db::access::sql
