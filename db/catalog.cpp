#include "db/catalog.h"

#include <QString>

#include <filesystem>

#include "db/connection.h"
#include "db/base/names.h"

namespace db {
namespace {

constexpr char kUserTable[] = "TABLE";

}  // namespace

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  (void)std::filesystem::last_write_time(path, ec);
  return !ec;
}

std::optional<std::vector<std::string>> GetTableNames(const std::string& path,
                                                      const std::string& connectionString) {
  if (!FileExists(path)) return std::nullopt;
  Connection connection;
  connection.open(connectionString);
  std::vector<std::string> names;
  for (CatalogRow& row : connection.tables())
    if (row.type == kUserTable) names.push_back(std::move(row.name));
  return names;
}

bool TableExists(const std::string& connectionString, const std::string& name) {
  Connection connection;
  connection.open(connectionString);
  for (const CatalogRow& row : connection.tables())
    if (row.type == kUserTable && SameName(row.name, name)) return true;
  return false;
}

}  // namespace db
