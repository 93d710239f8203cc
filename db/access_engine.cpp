// The Access engine: opens the file through libmdb after checking its header (password,
// encryption, size), lists the catalogue, and answers the statements of access_sql.h.
#include "db/access_engine.h"

#include <QString>
#include <filesystem>
#include <fstream>
#include <variant>

#include "db/access_catalog.h"
#include "db/access_distinct.h"
#include "db/access_sql.h"
#include "db/error.h"
#include "db/jet_database.h"
#include "db/jet_table.h"

namespace db {
namespace {

const char kWritingNotSupported[] = "Writing to Access databases is not supported yet.";

// Rows read from a table as they are asked for.
class TableCursor : public Cursor {
 public:
  TableCursor(std::unique_ptr<JetTable> table, std::vector<std::size_t> fields)
      : table_(std::move(table)), fields_(std::move(fields)) {
    for (std::size_t f : fields_) names_.push_back(table_->fieldNames()[f]);
  }
  const std::vector<std::string>& fieldNames() const override { return names_; }
  bool next(std::vector<Value>& row) override { return table_->next(fields_, row); }

 private:
  std::unique_ptr<JetTable> table_;
  std::vector<std::size_t> fields_;
  std::vector<std::string> names_;
};

// Rows worked out in advance (DISTINCT has to read them all to sort them).
class RowsCursor : public Cursor {
 public:
  RowsCursor(std::vector<std::string> names, std::vector<std::vector<Value>> rows)
      : names_(std::move(names)), rows_(std::move(rows)) {}
  const std::vector<std::string>& fieldNames() const override { return names_; }
  bool next(std::vector<Value>& row) override {
    if (pos_ >= rows_.size()) return false;
    row = std::move(rows_[pos_++]);
    return true;
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::vector<Value>> rows_;
  std::size_t pos_ = 0;
};

class AccessSession : public Session {
 public:
  explicit AccessSession(std::unique_ptr<JetDatabase> db)
      : db_(std::move(db)), catalog_(ReadAccessCatalog(*db_)) {}

  std::vector<CatalogRow> tables() override {
    std::vector<CatalogRow> rows;
    for (const AccessObject& object : catalog_)
      if (auto type = CatalogType(object)) rows.push_back({*type, object.name});
    SortCatalog(rows);
    return rows;
  }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    AccessStatement statement = ParseAccessStatement(sql);
    const auto* select = std::get_if<SelectStatement>(&statement);
    if (!select) throw Error(errc::kNotSupported, kWritingNotSupported);
    return run(*select);
  }

  void execute(const std::string& sql) override {
    AccessStatement statement = ParseAccessStatement(sql);
    const auto* select = std::get_if<SelectStatement>(&statement);
    if (!select) throw Error(errc::kNotSupported, kWritingNotSupported);
    run(*select);  // a query run for nothing still checks its table and field
  }

  void begin() override {}
  void commit() override {}
  void rollback() override {}

 private:
  std::unique_ptr<Cursor> run(const SelectStatement& select) {
    const AccessObject& object = FindReadableTable(catalog_, select.table);
    auto table = std::make_unique<JetTable>(*db_, object.name, object.page);

    std::vector<std::size_t> fields;
    if (select.field) {
      std::optional<std::size_t> field = table->findField(*select.field);
      if (!field)
        throw Error(errc::kNoSuchObject, "The field '" + *select.field +
                                             "' does not exist in table '" + object.name + "'.");
      fields.push_back(*field);
    } else {
      for (std::size_t i = 0; i < table->fieldNames().size(); ++i) fields.push_back(i);
    }
    if (!select.distinct) return std::make_unique<TableCursor>(std::move(table), std::move(fields));

    std::vector<std::string> names;
    for (std::size_t f : fields) names.push_back(table->fieldNames()[f]);
    std::vector<std::vector<Value>> rows;
    std::vector<Value> row;
    while (table->next(fields, row)) rows.push_back(row);
    return std::make_unique<RowsCursor>(std::move(names), AccessDistinct(std::move(rows)));
  }

  std::unique_ptr<JetDatabase> db_;
  std::vector<AccessObject> catalog_;
};

// The first page of the file (or as much of it as there is).
std::vector<unsigned char> ReadFirstPage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(errc::kFailed, "The database file '" + path + "' cannot be read.");
  std::vector<unsigned char> bytes(4096);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

}  // namespace

std::unique_ptr<Session> OpenAccessSession(const std::string& path, const std::string& password,
                                           OpenMode mode, FileFormat format) {
  // The header is read again here rather than trusting `format`: it holds more than the kind.
  std::vector<unsigned char> first = ReadFirstPage(path);
  std::optional<JetHeader> header = ParseJetHeader(first.data(), first.size());
  if (!header)
    throw Error(errc::kBadFormat, DamagedFileMessage(path, "the file header is not valid"));
  if (header->isOfficeEncrypted())
    throw Error(errc::kNotSupported,
                "Cannot open '" + path + "': encrypted databases are not supported yet.");

  std::error_code ec;
  std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw Error(errc::kFailed, "The database file '" + path + "' cannot be read.");
  auto db = std::make_unique<JetDatabase>(path, *header, size);  // checks the size first
  if (!PasswordAccepted(*header, password))
    throw Error(errc::kWrongPassword, "Not a valid password.");
  return std::make_unique<AccessSession>(std::move(db));
}

}  // namespace db
