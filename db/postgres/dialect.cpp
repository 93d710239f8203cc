#include "db/postgres/dialect.h"

#include <optional>
#include <vector>

#include "db/base/error.h"

namespace db::postgres {
namespace {

enum class TokenKind { kWord, kName, kString, kPunct };

struct Token {
  TokenKind kind;
  std::string text;  // a word as written; a name or string without its quotes, undoubled
};

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsWord(const Token& token, std::string_view word) {
  if (token.kind != TokenKind::kWord || token.text.size() != word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    char c = token.text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

bool IsPunct(const Token& token, char c) {
  return token.kind == TokenKind::kPunct && token.text.size() == 1 && token.text[0] == c;
}

// Reads the quoted text that starts at `sql[i]` (the opening quote), a doubled quote standing
// for one; leaves `i` after the closing quote.
std::string Quoted(std::string_view sql, std::size_t& i) {
  const char quote = sql[i];
  std::string text;
  for (++i; i < sql.size(); ++i) {
    if (sql[i] != quote) {
      text += sql[i];
    } else if (i + 1 < sql.size() && sql[i + 1] == quote) {
      text += quote;
      ++i;
    } else {
      ++i;
      return text;
    }
  }
  throw Error(errc::kSyntax, std::string("The statement has a ") + quote +
                                 " that is not closed: \"" + std::string(sql) + "\".");
}

std::string Apostrophed(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// The insert statement exactly as the program writes it (db/statements.h), read without the
// general pass: the export sends one for every value. Nothing when `sql` has another shape.
std::optional<Statement> ProgramsInsert(std::string_view sql) {
  constexpr std::string_view kHead = "insert into `", kMiddle = " values ('", kTail = "')";
  if (!sql.starts_with(kHead) || !sql.ends_with(kTail)) return std::nullopt;
  Statement s;
  s.kind = StatementKind::kInsert;
  std::size_t i = kHead.size();
  for (;; ++i) {  // the name, every backtick in it doubled
    if (i >= sql.size()) return std::nullopt;
    if (sql[i] == '`') {
      if (i + 1 < sql.size() && sql[i + 1] == '`') {
        s.table += '`';
        ++i;
        continue;
      }
      break;
    }
    s.table += sql[i];
  }
  if (sql.substr(i + 1, kMiddle.size()) != kMiddle) return std::nullopt;
  const std::size_t end = sql.size() - kTail.size();
  s.value.reserve(end - i);
  for (i += 1 + kMiddle.size(); i < end; ++i) {  // the value, every apostrophe in it doubled
    if (sql[i] == '\'') {
      if (i + 1 >= end || sql[i + 1] != '\'') return std::nullopt;
      ++i;
    }
    s.value += sql[i];
  }
  return s;
}

}  // namespace

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  out.reserve(name.size() + 2);
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

Statement Translate(std::string_view sql) {
  if (std::optional<Statement> insert = ProgramsInsert(sql)) return std::move(*insert);
  Statement result;
  std::vector<Token> tokens;
  std::string& text = result.text;
  text.reserve(sql.size() + 8);
  bool ended = false;  // a semicolon was met: only blanks may follow
  for (std::size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (IsBlank(c)) {
      text += c;
      ++i;
      continue;
    }
    if (ended)
      throw Error(errc::kSyntax,
                  "Only one statement can be run at a time: \"" + std::string(sql) + "\".");
    if (c == '`' || c == '"') {
      std::string name = Quoted(sql, i);
      text += QuoteIdentifier(name);
      tokens.push_back({TokenKind::kName, std::move(name)});
    } else if (c == '\'') {
      std::string value = Quoted(sql, i);
      text += Apostrophed(value);
      tokens.push_back({TokenKind::kString, std::move(value)});
    } else if (IsWordChar(c)) {
      std::size_t end = i;
      while (end < sql.size() && IsWordChar(sql[end])) ++end;
      std::string word(sql.substr(i, end - i));
      text += word;
      tokens.push_back({TokenKind::kWord, std::move(word)});
      i = end;
    } else if (c == ';') {
      ended = true;
      ++i;
    } else {
      text += c;
      tokens.push_back({TokenKind::kPunct, std::string(1, c)});
      ++i;
    }
  }
  while (!text.empty() && IsBlank(text.back())) text.pop_back();

  const auto& t = tokens;
  if (!t.empty() && (IsWord(t[0], "select") || IsWord(t[0], "with") || IsWord(t[0], "values") ||
                     IsWord(t[0], "table"))) {
    result.kind = StatementKind::kQuery;
  } else if (t.size() == 7 && IsWord(t[0], "insert") && IsWord(t[1], "into") &&
             t[2].kind == TokenKind::kName && IsWord(t[3], "values") && IsPunct(t[4], '(') &&
             t[5].kind == TokenKind::kString && IsPunct(t[6], ')')) {
    result.kind = StatementKind::kInsert;
    result.table = t[2].text;
    result.value = t[5].text;
  } else if (t.size() == 7 && IsWord(t[0], "create") && IsWord(t[1], "table") &&
             t[2].kind == TokenKind::kName && IsPunct(t[3], '(') && t[4].kind == TokenKind::kName &&
             (IsWord(t[5], "varchar") || IsWord(t[5], "longtext") || IsWord(t[5], "text")) &&
             IsPunct(t[6], ')')) {
    result.createdTable = t[2].text;
    result.createdColumn = t[4].text;
    text = "CREATE TABLE " + QuoteIdentifier(t[2].text) + " (" + QuoteIdentifier(t[4].text) +
           " pg_catalog.text)";
  }
  return result;
}

}  // namespace db::postgres
