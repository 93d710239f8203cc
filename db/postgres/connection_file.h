// The connection file: how a PostgreSQL database is named where the program expects a database
// file. It is a small text file of the user's; the program reads it and never writes it.
//
//   line 1       a libpq connection URI, postgresql://user@host:port/dbname?options
//                (or postgres://...), handed to libpq as it stands
//   later lines  schema=NAME: the schema whose tables are listed and into which exports go
//                (the name as the server stores it, letter case kept); blank lines and lines
//                starting with # are ignored
//
// The password is not part of the file: it comes from the password box (or the command line)
// and, when that is empty, from libpq's own sources (PGPASSWORD, the password file).
#pragma once

#include <optional>
#include <string>

namespace db {

struct PostgresConnectionFile {
  std::string uri;
  std::optional<std::string> schema;
};

// The largest connection file read; a longer one is not a connection file.
constexpr std::size_t kMaxConnectionFileBytes = 64 * 1024;

// Parses the text of a connection file. `path` only names the file in messages. Throws db::Error
// (a bad-format error) for text that is not a connection file as described above.
PostgresConnectionFile ParsePostgresConnectionFile(const std::string& text,
                                                   const std::string& path);

// Reads and parses the connection file at `path`. Throws db::Error.
PostgresConnectionFile ReadPostgresConnectionFile(const std::string& path);

}  // namespace db
