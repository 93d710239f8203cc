// The Access engine: opens the file through libmdb after checking its header (password,
// encryption, size), lists the catalogue, and answers the statements of access_sql.h. Reading
// goes through libmdb; writing through the pager and the writer (db/access/write_session.h),
// after which the reading side opens the file again to see what was committed. An encrypted
// .accdb file is opened with the page codec its password gives (format/encryption.h); libmdb
// reads it decrypted (read/page_stream.h) and the writer writes it encrypted.
#include "db/access/access_engine.h"

#include <QString>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <mutex>
#include <fstream>
#include <variant>

#include "db/access/read/catalog_reader.h"
#include "db/access/distinct.h"
#include "db/access/sql/parser.h"
#include "db/access/write_session.h"
#include "db/base/error.h"
#include "db/access/read/database.h"
#include "db/access/format/encryption.h"
#include "db/access/format/header.h"
#include "db/access/format/pages.h"
#include "db/access/write/pager.h"
#include "db/access/read/table_reader.h"

namespace db::access {

using namespace db::access::format;
using namespace db::access::read;
using namespace db::access::sql;

namespace {

// Rows read from a table as they are asked for. Keeps the libmdb handle it reads from alive
// when the session opens the file again after a commit.
class TableCursor : public Cursor {
 public:
  TableCursor(std::shared_ptr<JetDatabase> db, std::unique_ptr<JetTable> table,
              std::vector<std::size_t> fields)
      : db_(std::move(db)), table_(std::move(table)), fields_(std::move(fields)) {
    for (std::size_t f : fields_) names_.push_back(table_->fieldNames()[f]);
  }
  const std::vector<std::string>& fieldNames() const override { return names_; }
  bool next(std::vector<Value>& row) override { return table_->next(fields_, row); }

 private:
  std::shared_ptr<JetDatabase> db_;
  std::unique_ptr<JetTable> table_;
  std::vector<std::size_t> fields_;
  std::vector<std::string> names_;
};

// The rows of a DISTINCT query, worked out in advance (it has to read them all to sort them).
class DistinctCursor : public Cursor {
 public:
  DistinctCursor(std::vector<std::string> names, AccessDistinctRows rows)
      : names_(std::move(names)), rows_(std::move(rows)) {}
  const std::vector<std::string>& fieldNames() const override { return names_; }
  bool next(std::vector<Value>& row) override { return rows_.next(row); }
  // Known without handing the rows over, which would hold them twice.
  std::optional<long long> count() override { return static_cast<long long>(rows_.size()); }

 private:
  std::vector<std::string> names_;
  AccessDistinctRows rows_;
};

std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw Error(errc::kFailed, "The database file '" + path + "' cannot be read.");
  return size;
}

class AccessSession : public Session {
 public:
  AccessSession(std::shared_ptr<JetDatabase> db, OpenMode mode)
      : db_(std::move(db)),
        catalog_(ReadAccessCatalog(*db_)),
        writing_(db_->path(), db_->header(), mode, write::DefaultFileEnv(), db_->codec()) {
    writing_.onCommitted = [this] { stale_ = true; };
  }

  std::vector<CatalogRow> tables() override {
    refresh();
    std::vector<CatalogRow> rows;
    for (const AccessObject& object : catalog_)
      if (auto type = CatalogType(object)) rows.push_back({*type, object.name});
    SortCatalog(rows);
    return rows;
  }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    return queryFiltered(sql, RowFilter());
  }

  std::unique_ptr<Cursor> queryFiltered(const std::string& sql, const RowFilter& filter) override {
    AccessStatement statement = ParseAccessStatement(sql);
    const auto* select = std::get_if<SelectStatement>(&statement);
    if (!select)
      throw Error(errc::kFailed,
                  "The statement returns no rows, so it cannot be opened as a "
                  "record set: \"" +
                      sql + "\".");
    return run(*select, filter);
  }

  void execute(const std::string& sql) override {
    AccessStatement statement = ParseAccessStatement(sql);
    if (const auto* select = std::get_if<SelectStatement>(&statement)) {
      run(*select, RowFilter());  // a query run for nothing still checks its table and field
      return;
    }
    writing_.execute(statement);
  }

  void begin() override { writing_.begin(); }
  void commit() override { writing_.commit(); }
  void rollback() override { writing_.rollback(); }

 private:
  // Opens the file again after a commit, so that reading sees the committed pages and size.
  // Queries inside a transaction read what was committed before it.
  void refresh() {
    if (!stale_) return;
    auto db = std::make_shared<JetDatabase>(db_->path(), db_->header(), FileSize(db_->path()),
                                            db_->codec());
    catalog_ = ReadAccessCatalog(*db);
    db_ = std::move(db);
    stale_ = false;
  }

  // Runs a query. The filter, if any, is applied to DISTINCT only: there it saves holding and
  // sorting the rows the caller would pass over.
  std::unique_ptr<Cursor> run(const SelectStatement& select, const RowFilter& filter) {
    refresh();
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
    if (!select.distinct)
      return std::make_unique<TableCursor>(db_, std::move(table), std::move(fields));

    std::vector<std::string> names;
    for (std::size_t f : fields) names.push_back(table->fieldNames()[f]);
    AccessDistinctRows distinct(filter);
    std::vector<Value> row;
    while (table->next(fields, row)) distinct.add(row);
    return std::make_unique<DistinctCursor>(std::move(names), std::move(distinct));
  }

  std::shared_ptr<JetDatabase> db_;
  std::vector<AccessObject> catalog_;
  AccessWriteSession writing_;
  bool stale_ = false;  // a commit changed the file since db_ was opened
};

// The codec of an encrypted file, derived from its password once per process: the program opens
// the same file many times (each click of the windows, the export's own connection), and the
// derivation is made to be slow (a spin count of 100,000 hashes). The last few codecs are kept,
// by the file's description of its encryption, its page key and the password.
std::shared_ptr<const PageCodec> OpenSharedPageCodec(const JetHeader& header,
                                                     const std::vector<unsigned char>& first,
                                                     const std::string& password) {
  constexpr std::size_t kKept = 4;
  struct Entry {
    std::string key;
    std::shared_ptr<const PageCodec> codec;
  };
  static std::mutex mutex;
  static std::deque<Entry> kept;
  std::string key(
      reinterpret_cast<const char*>(first.data()) + std::min(first.size(), kEncryptionInfoAt),
      reinterpret_cast<const char*>(first.data()) + first.size());
  key += std::to_string(header.pageKey) + '\0' + password;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (const Entry& e : kept)
      if (e.key == key) return e.codec;
  }
  std::shared_ptr<const PageCodec> codec =
      OpenPageCodec(header, first.data(), first.size(), password);
  std::lock_guard<std::mutex> lock(mutex);
  kept.push_front({std::move(key), codec});
  if (kept.size() > kKept) kept.pop_back();
  return codec;
}

// The first page of the file (or as much of it as there is).
std::vector<unsigned char> ReadFirstPage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(errc::kFailed, "The database file '" + path + "' cannot be read.");
  std::vector<unsigned char> bytes(kPageSize);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

}  // namespace

std::unique_ptr<Session> OpenAccessSession(const std::string& path, const std::string& password,
                                           OpenMode mode) {
  // A commit that was cut off (crash, kill, full disk) left a journal: put the file back as it
  // was before anything reads it. Without a journal this does nothing, so read-only files open.
  write::RecoverHotJournal(path);
  // The header is read here, whatever the factory saw: it holds more than the kind of file.
  std::vector<unsigned char> first = ReadFirstPage(path);
  std::optional<JetHeader> header = ParseJetHeader(first.data(), first.size());
  if (!header) throw BadFormatError(DamagedFileMessage(path, "the file header is not valid"));
  if (header->isOfficeEncrypted()) {
    // A page key alone may be a damaged byte; an encrypted file also describes its encryption.
    if (!HasOfficeEncryptionInfo(first.data(), first.size()))
      throw BadFormatError(DamagedFileMessage(path,
                                              "the header marks the file as encrypted but does not "
                                              "describe an encryption"));
    std::shared_ptr<const PageCodec> codec;
    try {
      codec = OpenSharedPageCodec(*header, first, password);
    } catch (const EncryptionError& e) {
      switch (e.kind()) {
        case EncryptionError::Kind::kWrongPassword:
          // As a wrong Jet 4 password: nothing was read beyond page 0, nothing written.
          throw Error(errc::kWrongPassword, "Not a valid password.");
        case EncryptionError::Kind::kDamaged:
          throw BadFormatError(DamagedFileMessage(path, e.what()));
        case EncryptionError::Kind::kUnsupported:
          throw Error(errc::kNotSupported, "Cannot open '" + path + "': " + e.what() + ".");
      }
    }
    auto db = std::make_shared<JetDatabase>(path, *header, FileSize(path), std::move(codec));
    return std::make_unique<AccessSession>(std::move(db), mode);
  }

  auto db = std::make_shared<JetDatabase>(path, *header, FileSize(path));  // checks the size first
  if (!PasswordAccepted(*header, password)) {
    // A password that no header written by Access could hold is damage, not a password to ask;
    // so is a sound-looking header on a file whose catalogue cannot be read (damage that reached
    // the password field seldom stops there: the page key and the code page lie beside it).
    if (!header->flaw.empty()) db->damaged(header->flaw);
    ReadAccessCatalog(*db);
    throw Error(errc::kWrongPassword, "Not a valid password.");
  }
  return std::make_unique<AccessSession>(std::move(db), mode);
}

}  // namespace db::access
