#include "db/connection_string.h"

#include <algorithm>
#include <cctype>

#include "db/base/error.h"

namespace db {
namespace {

constexpr char kAcePrefix[] = "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=";
constexpr char kJetPrefix[] = "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=";
constexpr char kPasswordKey[] = ";JET OLEDB:Database Password=";

std::string AsciiLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// A value goes between double quotes only when the plain form would not read back as itself:
// it holds the pair separator or a double quote, or it begins with an apostrophe (which the
// reader takes for an opening quote).
std::string Field(const std::string& value) {
  bool needsQuotes =
      value.find_first_of(";\"") != std::string::npos || (!value.empty() && value.front() == '\'');
  if (!needsQuotes) return value;
  std::string quoted = "\"";
  for (char c : value) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

[[noreturn]] void Malformed(const std::string& why) {
  throw Error(errc::kFailed, "The connection string is malformed: " + why + ".");
}

}  // namespace

std::string BuildConnectionString(const std::string& path, const std::string& password) {
  std::string tail = path.size() < 5 ? path : path.substr(path.size() - 5);
  const char* prefix = AsciiLower(tail) == "accdb" ? kAcePrefix : kJetPrefix;
  return prefix + Field(path) + kPasswordKey + Field(password);
}

// Values are taken as they stand (no trimming), so that a path or password with leading or
// trailing blanks survives; only keys are trimmed. A value whose first character is a quote is
// read up to the matching quote, a doubled quote standing for one.
ConnectionSettings ParseConnectionString(const std::string& text) {
  ConnectionSettings settings;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eq = text.find('=', pos);
    std::size_t semi = text.find(';', pos);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      std::string stray =
          Trim(text.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos));
      if (!stray.empty()) Malformed("\"" + stray + "\" has no \"=\"");
      if (semi == std::string::npos) break;
      pos = semi + 1;
      continue;
    }
    std::string key = AsciiLower(Trim(text.substr(pos, eq - pos)));
    if (key.empty()) Malformed("a value has no key");

    std::string value;
    pos = eq + 1;
    if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'')) {
      char quote = text[pos++];
      for (;;) {
        if (pos >= text.size()) Malformed("the value of \"" + key + "\" has no closing quote");
        if (text[pos] == quote) {
          if (pos + 1 < text.size() && text[pos + 1] == quote) {
            value += quote;
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        value += text[pos++];
      }
      while (pos < text.size() && IsBlank(text[pos])) ++pos;
      if (pos < text.size() && text[pos] != ';')
        Malformed("text follows the closing quote of \"" + key + "\"");
    } else {
      std::size_t end = text.find(';', pos);
      if (end == std::string::npos) end = text.size();
      value = text.substr(pos, end - pos);
      pos = end;
    }
    if (pos < text.size()) ++pos;  // the ';'

    if (key == "provider") {
      settings.provider = value;
    } else if (key == "data source") {
      settings.dataSource = value;
    } else if (key == "jet oledb:database password") {
      settings.password = value;
    }
  }
  return settings;
}

}  // namespace db
