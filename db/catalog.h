// The table catalogue: the user tables of a database, and whether one of a given name exists.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace db {

// True when the last-modified time of `path` can be read. Never throws.
bool FileExists(const std::string& path);

// Names of the user tables (catalogue rows of type "TABLE"), in catalogue order. Nothing
// (std::nullopt) when `path` names no existing file; then nothing is opened. The connection is
// opened with `connectionString`. Throws db::Error when the database cannot be opened or read.
std::optional<std::vector<std::string>> GetTableNames(const std::string& path,
                                                      const std::string& connectionString);

// True when a user table's name equals `name` after lower-casing both. Throws db::Error.
bool TableExists(const std::string& connectionString, const std::string& name);

}  // namespace db
