// Exports into files damaged the ways the export's fuzz target found harmful: a new Jet 4 or ACE
// file with one structure changed at the byte level. The reader or the writer refuses each as
// damage, and the file stays byte for byte as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

#include "db/error.h"
#include "db/jet_create.h"
#include "tests/support/fixtures.h"
#include "tests/writer/engine_write_support.h"

namespace enginetest {
namespace {

constexpr std::size_t kPage = 4096;

void Put16(std::string& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}
unsigned Get16(const std::string& bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

// Where the entry of column `i` of the definition on `page` starts (Jet 4 and ACE layout: the
// columns follow the 63-byte head and 12 bytes per real index).
std::size_t ColumnEntry(const std::string& bytes, std::uint32_t page, unsigned i) {
  const std::size_t def = page * kPage;
  const unsigned realIndexes = Get16(bytes, def + 51);
  return def + 63 + 12 * realIndexes + 25 * i;
}

struct Damage {
  const char* what;
  std::function<void(std::string& bytes)> apply;
};

// The first data page of the catalogue (its definition is page 2).
std::size_t CatalogueDataPage(const std::string& bytes) {
  for (std::size_t at = 3 * kPage; at + kPage <= bytes.size(); at += kPage)
    if (bytes[at] == 0x01 && Get16(bytes, at + 4) == 2 && Get16(bytes, at + 6) == 0) return at;
  ADD_FAILURE() << "no data page of the catalogue";
  return 0;
}

const Damage kDamages[] = {
    // The catalogue's first column numbered as the column count says no row has: the null mask
    // of a new catalogue row has no bit for it.
    {"a catalogue column numbered at the column count",
     [](std::string& b) { Put16(b, ColumnEntry(b, 2, 0) + 5, Get16(b, 2 * kPage + 41)); }},
    {"a catalogue column numbered far past the column count",
     [](std::string& b) { Put16(b, ColumnEntry(b, 2, 0) + 5, 200); }},
    {"a catalogue definition whose rows hold no column",
     [](std::string& b) { Put16(b, 2 * kPage + 41, 0); }},
    // A catalogue page that lost its last row from its count: the index still names that row,
    // and a new row would take its number.
    {"a catalogue data page whose row count is one short",
     [](std::string& b) {
       const std::size_t at = CatalogueDataPage(b);
       Put16(b, at + 12, Get16(b, at + 12) - 1);
     }},
};

TEST(DamagedExportTest, DamageTheWriterMeetsIsRefusedAndChangesNothing) {
  for (db::NewDatabaseFormat format : {db::NewDatabaseFormat::kJet4, db::NewDatabaseFormat::kAce}) {
    for (const Damage& damage : kDamages) {
      SCOPED_TRACE(std::string(damage.what) +
                   (format == db::NewDatabaseFormat::kJet4 ? " (Jet 4)" : " (ACE)"));
      testsupport::TempDir dir;
      const std::string path = dir.file("damaged.mdb");
      db::CreateEmptyDatabase(path, format, 45000.25);
      std::string bytes = FileBytes(path);
      damage.apply(bytes);
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

      std::unique_ptr<db::Session> session;
      try {
        session = OpenRw(path);
        UserTables(*session);
      } catch (const db::Error& e) {
        EXPECT_EQ(e.number(), db::errc::kBadFormat) << e.description();
        session.reset();
        EXPECT_EQ(FileBytes(path), bytes) << "the refused opening changed the file";
        continue;
      }
      session->begin();
      try {
        session->execute(db::CreateTableStatement("Export", "Value"));
        session->execute(db::InsertStatement("Export", "a value"));
        session->commit();
        ADD_FAILURE() << "the export was not refused";
      } catch (const db::Error& e) {
        EXPECT_EQ(e.number(), db::errc::kBadFormat) << e.description();
        try {
          session->rollback();
        } catch (const db::Error&) {
        }
      }
      session.reset();
      EXPECT_EQ(FileBytes(path), bytes) << "the refused export changed the file";
    }
  }
}

}  // namespace
}  // namespace enginetest
