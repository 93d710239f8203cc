// Choosing the engine for a database file, and the catalogue order every engine hands out.
#include <QString>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "db/access/access_engine.h"
#include "db/base/engine.h"
#include "db/base/error.h"
#include "db/file_format.h"
#include "db/postgres/postgres_engine.h"
#include "db/sqlite/sqlite_engine.h"

namespace db {

std::unique_ptr<Session> OpenSession(const std::string& path, const std::string& password,
                                     OpenMode mode) {
  FileFormat format = SniffFileFormat(path);  // throws for a missing or unreadable file
  switch (format) {
    case FileFormat::Jet3:
    case FileFormat::Jet4:
    case FileFormat::Ace:
      return access::OpenAccessSession(path, password, mode);
    case FileFormat::Sqlite:
      return OpenSqliteSession(path, mode);
    case FileFormat::PostgresConnection:
      return OpenPostgresSession(path, password, mode);
    case FileFormat::Unknown:
      break;
  }
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == 0 && !ec)
    throw BadFormatError("The database file '" + path + "' is empty.");
  throw BadFormatError(
      "Unrecognized database format: '" + path +
      "' is neither an Access nor a SQLite database file, nor a PostgreSQL connection file.");
}

void SortCatalog(std::vector<CatalogRow>& rows) {
  // Fold each name once, then order the positions and rebuild.
  std::vector<QString> folded;
  folded.reserve(rows.size());
  for (const CatalogRow& row : rows)
    folded.push_back(QString::fromStdString(row.name).toCaseFolded());
  std::vector<std::size_t> order(rows.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (rows[a].type != rows[b].type) return rows[a].type < rows[b].type;
    return folded[a] < folded[b];
  });
  std::vector<CatalogRow> sorted;
  sorted.reserve(rows.size());
  for (std::size_t i : order) sorted.push_back(std::move(rows[i]));
  rows = std::move(sorted);
}

}  // namespace db
