#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "db/file_format.h"
#include "db/statements.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace fuzz {
namespace {

namespace fs = std::filesystem;

// Made once per process; a process that crashes leaves it behind, which is why the fuzz script
// points $TMPDIR at a folder of its own.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "rowsifter-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) Violation("cannot make a scratch folder under " + pattern);
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

ScratchFolder& Scratch() {
  static ScratchFolder folder;
  return folder;
}

}  // namespace

std::string ScratchFile(const std::string& name) { return (Scratch().path() / name).string(); }

std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = ScratchFile(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) Violation("cannot write the scratch file " + path);
  if (size > 0 && std::fwrite(data, 1, size, f) != size) Violation("short write to " + path);
  if (std::fclose(f) != 0) Violation("cannot close " + path);
  return path;
}

void ClearScratch() {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(Scratch().path(), ec))
    fs::remove_all(entry.path(), ec);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::vector<std::string> UserTables(db::Connection& connection) {
  std::vector<std::string> names;
  for (const db::CatalogRow& row : connection.tables())
    if (row.type == "TABLE") names.push_back(row.name);
  return names;
}

void ReadTable(db::Connection& connection, const std::string& table, int maxFields) {
  std::vector<std::string> fields;
  {
    std::unique_ptr<db::Recordset> all = connection.openRecordset(db::TableFieldsStatement(table));
    for (int i = 0; i < all->fieldCount() && i < maxFields; ++i)
      fields.push_back(all->fieldName(i));
  }
  for (const std::string& field : fields) {
    std::unique_ptr<db::Recordset> preview =
        connection.openRecordset(db::PreviewStatement(field, table));
    for (int shown = 0; shown < 100 && !preview->eof(); ++shown) {
      (void)preview->value(0).toText();
      preview->moveNext();
    }
    std::unique_ptr<db::Recordset> distinct =
        connection.openRecordset(db::DistinctValuesStatement(field, table));
    const long long count = distinct->recordCount();
    long long seen = 0;
    for (; !distinct->eof(); distinct->moveNext(), ++seen) (void)distinct->value(0).toText();
    if (seen != count)
      Violation("the record count says " + std::to_string(count) + " rows, " +
                std::to_string(seen) + " were read");
  }
}

std::size_t MutateDatabaseFile(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                               unsigned seed) {
  constexpr std::size_t kPage = 4096;
  std::minstd_rand random(seed);
  if (size < 2 * kPage || random() % 2 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  const std::size_t pages = size / kPage;
  const std::size_t page = 1 + random() % (pages - 1);
  const std::size_t window = random() % 2 == 0 ? 64 : 256;
  const std::size_t start = page * kPage + (random() % 2 == 0 ? 0 : kPage - window);
  std::vector<std::uint8_t> bytes(data + start, data + start + window);
  bytes.resize(LLVMFuzzerMutate(bytes.data(), window, window), 0);
  bytes.resize(window, 0);
  std::copy(bytes.begin(), bytes.end(), data + start);
  return size;
}

void Violation(const std::string& what) {
  std::fprintf(stderr, "\n*** fuzz target: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

bool NamesAServer(const std::uint8_t* data, std::size_t size) {
  return db::SniffFileFormat(data, size) == db::FileFormat::PostgresConnection;
}

}  // namespace fuzz
