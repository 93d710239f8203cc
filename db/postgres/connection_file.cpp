#include "db/postgres/connection_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>

#include "db/base/error.h"

namespace db {
namespace {

constexpr std::string_view kUriSchemes[] = {"postgresql://", "postgres://"};
constexpr std::string_view kSchemaKey = "schema";

std::string_view Trimmed(std::string_view text) {
  const char* blanks = " \t\r\f\v";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

Error NotAConnectionFile(const std::string& path, const std::string& why) {
  return BadFormatError("'" + path + "' is not a usable PostgreSQL connection file: " + why);
}

}  // namespace

PostgresConnectionFile ParsePostgresConnectionFile(const std::string& text,
                                                   const std::string& path) {
  if (text.size() > kMaxConnectionFileBytes)
    throw NotAConnectionFile(
        path, "it is longer than " + std::to_string(kMaxConnectionFileBytes / 1024) + " KB.");
  if (text.find('\0') != std::string::npos) throw NotAConnectionFile(path, "it holds a NUL byte.");

  PostgresConnectionFile file;
  std::size_t start = 0;
  for (int number = 1; start <= text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = Trimmed(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (number == 1) {
      bool uri = false;
      for (std::string_view scheme : kUriSchemes) uri = uri || line.starts_with(scheme);
      // The URI is not repeated in the message: it may hold a password the user put there.
      if (!uri)
        throw NotAConnectionFile(
            path, "its first line must be a connection URI starting with postgresql://.");
      file.uri = std::string(line);
      continue;
    }
    if (line.empty() || line.front() == '#') continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos ||
        !EqualsNoCase(Trimmed(line.substr(0, equals)), kSchemaKey))
      throw NotAConnectionFile(path, "line " + std::to_string(number) +
                                         " is not understood (only schema=NAME may follow "
                                         "the connection URI).");
    if (file.schema)
      throw NotAConnectionFile(path,
                               "it names a schema twice (line " + std::to_string(number) + ").");
    const std::string_view schema = Trimmed(line.substr(equals + 1));
    if (schema.empty())
      throw NotAConnectionFile(path, "line " + std::to_string(number) + " names no schema.");
    file.schema = std::string(schema);
  }
  return file;
}

PostgresConnectionFile ReadPostgresConnectionFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw Error(errc::kFailed,
                "Cannot read the connection file '" + path + "': " + std::strerror(errno) + ".");
  std::string text(kMaxConnectionFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad())
    throw Error(errc::kFailed,
                "Cannot read the connection file '" + path + "': " + std::strerror(errno) + ".");
  text.resize(static_cast<std::size_t>(in.gcount()));
  return ParsePostgresConnectionFile(text, path);
}

}  // namespace db
