// Damaged copies of the fixtures: cut short at many lengths, or with bytes changed at random.
// Each must either read as before or fail with a db::Error that names the file; never crash.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <vector>

#include "db/access/access_engine.h"
#include "db/base/error.h"
#include "tests/access/value_printer.h"
#include "tests/support/fixtures.h"

namespace db {

using namespace db::access;
namespace {

using Bytes = std::vector<char>;

struct TableDump {
  std::string name;
  std::vector<std::string> fields;
  std::vector<std::vector<Value>> rows;
  std::vector<std::vector<Value>> distinctLast;  // DISTINCT of the last field
  bool operator==(const TableDump&) const = default;
};

// Everything the program can read from the file.
std::vector<TableDump> Dump(const std::string& path, const std::string& password) {
  auto session = OpenAccessSession(path, password, OpenMode::Read);
  std::vector<TableDump> dump;
  for (const CatalogRow& table : session->tables()) {
    if (table.type != "TABLE") continue;
    TableDump d{table.name, {}, {}, {}};
    auto cursor = session->query("SELECT * FROM `" + table.name + "`");
    d.fields = cursor->fieldNames();
    std::vector<Value> row;
    while (cursor->next(row)) {
      for (const Value& v : row) (void)v.toText();
      d.rows.push_back(row);
    }
    auto distinct =
        session->query("SELECT DISTINCT `" + d.fields.back() + "` FROM `" + table.name + "`");
    while (distinct->next(row)) d.distinctLast.push_back(row);
    dump.push_back(std::move(d));
  }
  return dump;
}

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void Save(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

enum class Outcome { Same, Different, Failed };

// Reads the damaged copy and compares it with the original. A failure that does not name the
// file (other than a password or encryption refusal from a damaged header) fails the test.
Outcome Read(const std::string& path, const std::string& password,
             const std::vector<TableDump>& original, const std::string& what) {
  try {
    return Dump(path, password) == original ? Outcome::Same : Outcome::Different;
  } catch (const Error& e) {
    bool named = e.description().find(path) != std::string::npos;
    bool passwordOrEncryption =
        e.number() == errc::kWrongPassword || e.number() == errc::kNotSupported;
    EXPECT_TRUE(named || passwordOrEncryption) << what << ": " << e.description();
    return Outcome::Failed;
  }
}

struct Source {
  const char* file;
  const char* password;
  std::size_t pageSize;
};
const Source kSources[] = {
    {"jet3-test.mdb", "", 2048},
    {"ace14-test-2010.accdb", "", 4096},
    {"ace16-longtext.accdb", "", 4096},
    {"jet4-password-2003.mdb", "password", 4096},
};

TEST(AccessDamageTest, TruncatedCopiesFailOrReadAsBefore) {
  ROWSIFTER_REQUIRE_FIXTURES();
  testsupport::TempDir dir;
  for (const Source& source : kSources) {
    Bytes full = Load(testsupport::Fixture(source.file));
    auto original = Dump(testsupport::Fixture(source.file), source.password);
    std::string path = dir.file(std::string("cut-") + source.file);
    int failed = 0;
    std::vector<std::size_t> lengths = {0, 1, 20, 0x98, source.pageSize - 1};
    for (std::size_t page = 1; page * source.pageSize < full.size(); ++page) {
      lengths.push_back(page * source.pageSize);
      lengths.push_back(page * source.pageSize + 1 + page % 7 * 100);
    }
    for (std::size_t length : lengths) {
      Save(path, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length)));
      std::string what = source.file + (" cut to " + std::to_string(length));
      Outcome outcome = Read(path, source.password, original, what);
      EXPECT_NE(outcome, Outcome::Different) << what << " lost data without an error";
      if (outcome == Outcome::Failed) ++failed;
    }
    EXPECT_GT(failed, 0) << source.file;  // most cuts lose something the catalogue or a table needs
  }
}

TEST(AccessDamageTest, CopiesWithChangedBytesFailOrRead) {
  ROWSIFTER_REQUIRE_FIXTURES();
  testsupport::TempDir dir;
  std::mt19937 random(20240611);
  for (const Source& source : kSources) {
    Bytes full = Load(testsupport::Fixture(source.file));
    auto original = Dump(testsupport::Fixture(source.file), source.password);
    std::string path = dir.file(std::string("flip-") + source.file);
    for (int round = 0; round < 100; ++round) {
      Bytes bytes = full;
      // Half the rounds change a few bytes anywhere, half a few bytes of one data or table
      // definition page (type 1 or 2), mostly in its header and row offsets.
      if (round % 2 == 0) {
        for (int k = 1 + static_cast<int>(random() % 8); k > 0; --k)
          bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
      } else {
        std::vector<std::size_t> pages;
        for (std::size_t p = 1; p < bytes.size() / source.pageSize; ++p)
          if (bytes[p * source.pageSize] == 1 || bytes[p * source.pageSize] == 2)
            pages.push_back(p);
        std::size_t page = pages[random() % pages.size()];
        for (int k = 1 + static_cast<int>(random() % 4); k > 0; --k) {
          std::size_t at = random() % (random() % 2 ? 96 : source.pageSize);
          bytes[page * source.pageSize + at] ^= static_cast<char>(1 + random() % 255);
        }
      }
      Save(path, bytes);
      Read(path, source.password, original, source.file + (" round " + std::to_string(round)));
    }
  }
}

}  // namespace
}  // namespace db
