// What a damaged Access file is called. A seeded sweep damages copies of every fixture (bytes
// changed, runs of random bytes, pages zeroed or swapped, the file cut short) in the header, the
// file's page map, the catalogue's definition and data pages, the tables' pages and anywhere
// else, opens each copy with its right password and reads all it can; hand-made cases pin down
// single damages.
//
// The rules: a damaged copy is reported as damaged (errc::kBadFormat, naming the file), not as a
// wrong password nor as an encrypted file, unless the damage truly cannot be told apart from
// those (see WrongPasswordIsExcused); an unreadable catalogue is an error, never an empty list;
// a zeroed page or a cut loses nothing unnoticed; nothing crashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "db/base/engine.h"
#include "db/base/error.h"
#include "db/access/read/database.h"
#include "db/access/format/header.h"
#include "db/access/read/table_reader.h"
#include "db/access/format/values.h"
#include "tests/access/value_printer.h"
#include "tests/support/fixtures.h"

namespace db {

using namespace db::access::format;
using namespace db::access::read;
namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned char kHeaderKey[] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kMaskedStart = 0x18, kPageKey = 0x3E, kPasswordField = 0x42,
                      kCreationDate = 0x72;

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void Save(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::size_t PageSizeOf(const Bytes& file) { return file[0x14] == 0 ? 2048 : 4096; }

// Unmasks the header's RC4 block in place (offsets stay those of the file); masks it again too.
void ToggleMask(Bytes& file) {
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, &file[kMaskedStart], file[0x14] == 0 ? 126 : 128);
}

// Runs `edit` on the file with its header's block unmasked.
template <typename Edit>
void EditMasked(Bytes& file, Edit edit) {
  ToggleMask(file);
  edit(file.data());
  ToggleMask(file);
}

void ZeroPage(Bytes& file, std::size_t page) {
  std::size_t size = PageSizeOf(file);
  std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(page * size), size, 0);
}

// Data pages (type 1) whose owner field (4 bytes at 4) passes `test`.
template <typename Test>
std::vector<std::size_t> DataPages(const Bytes& file, Test test) {
  std::size_t size = PageSizeOf(file);
  std::vector<std::size_t> pages;
  for (std::size_t p = 3; p < file.size() / size; ++p)
    if (file[p * size] == 1 && test(&file[p * size + 4])) pages.push_back(p);
  return pages;
}
std::vector<std::size_t> OwnedBy(const Bytes& file, std::uint32_t owner) {
  return DataPages(file, [&](const unsigned char* o) { return JetUnsigned(o, 4) == owner; });
}
std::vector<std::size_t> CataloguePages(const Bytes& file) { return OwnedBy(file, 2); }
std::vector<std::size_t> LongValuePages(const Bytes& file) {
  return DataPages(file, [](const unsigned char* o) { return std::memcmp(o, "LVAL", 4) == 0; });
}
// Rows of the tables and of long values: any owner but the maps' (0) and the catalogue (2).
std::vector<std::size_t> TablePages(const Bytes& file) {
  return DataPages(file, [](const unsigned char* o) { return JetUnsigned(o, 4) > 2; });
}

struct TableDump {
  std::string name;
  std::vector<std::string> fields;
  std::vector<std::vector<Value>> rows;
  bool operator==(const TableDump&) const = default;
};

enum class Verdict { Read, Damaged, WrongPassword, Encrypted, OtherError };

struct Outcome {
  Verdict verdict = Verdict::Read;
  std::string message;
  std::vector<TableDump> tables;  // the user tables, when read
};

// Opens the file as the program does (the engine chosen by its first bytes) and reads every
// user table, or says how it failed.
Outcome Read(const std::string& path, const std::string& password) {
  Outcome outcome;
  try {
    auto session = OpenSession(path, password, OpenMode::Read);
    for (const CatalogRow& table : session->tables()) {
      if (table.type != "TABLE") continue;
      auto cursor = session->query("SELECT * FROM `" + table.name + "`");
      TableDump dump{table.name, cursor->fieldNames(), {}};
      std::vector<Value> row;
      while (cursor->next(row)) dump.rows.push_back(row);
      outcome.tables.push_back(std::move(dump));
    }
  } catch (const Error& e) {
    outcome.message = e.description();
    bool named = outcome.message.find(path) != std::string::npos;
    // Encrypted: refused as encrypted by a provider or algorithm the program does not read.
    outcome.verdict = e.number() == errc::kWrongPassword           ? Verdict::WrongPassword
                      : e.number() == errc::kNotSupported && named ? Verdict::Encrypted
                      : e.kind() == ErrorKind::kBadFormat && named ? Verdict::Damaged
                                                                   : Verdict::OtherError;
  }
  return outcome;
}

const struct Source {
  const char* file;
  const char* password;
  bool encrypted;
} kSources[] = {
    {"jet3-test.mdb", "", false},
    {"jet4-empty-2000.mdb", "", false},
    {"jet4-empty-2003.mdb", "", false},
    {"jet4-numeric-2003.mdb", "", false},
    {"jet4-nopassword-2003.mdb", "", false},
    {"jet4-password-2000.mdb", "password", false},
    {"jet4-password-2003.mdb", "password", false},
    {"ace12-empty-2007.accdb", "", false},
    {"ace14-empty-2010.accdb", "", false},
    {"ace16-empty-2016.accdb", "", false},
    {"ace14-test-2010.accdb", "", false},
    {"ace16-longtext.accdb", "", false},
    {"ace16-deleted-column.accdb", "", false},
    {"ace14-encrypted-2010.accdb", "password", true},
    {"ace-agile-encrypted.accdb", "password", true},
    {"ace12-rc4-cryptoapi-2007.accdb", "Test123", true},
};

// One damaged copy of `file`, chosen by `random`. `lossOnly` tells whether bytes were only lost
// (a page zeroed, the file cut) rather than changed.
Bytes Damaged(const Bytes& file, std::mt19937& random, std::string& what, bool& lossOnly) {
  const std::size_t size = PageSizeOf(file), pages = file.size() / size;
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  auto among = [&](const std::vector<std::size_t>& list) {
    return list.empty() ? pick(pages) : list[pick(list.size())];
  };
  static const char* const kRegions[] = {"header",         "page map",   "catalogue definition",
                                         "catalogue data", "table data", "anywhere"};
  std::size_t region = pick(6);
  std::size_t page = region < 3    ? region
                     : region == 3 ? among(CataloguePages(file))
                     : region == 4 ? among(TablePages(file))
                                   : pick(pages);
  // In the header, aim at its fields more often than at the rest of the page: the masked block
  // (page key, password, creation date) and an .accdb file's encryption description.
  auto offset = [&] {
    std::size_t choice = page == 0 ? pick(4) : 3;
    return choice == 0   ? kMaskedStart + pick(0x80)
           : choice == 1 ? kPasswordField + pick(0x38)
           : choice == 2 ? 0x298 + pick(0xC8)
                         : pick(size);
  };
  std::ostringstream text;
  text << kRegions[region] << " page " << page << ": " << std::hex;
  Bytes b = file;
  const std::size_t base = page * size;
  lossOnly = false;
  switch (pick(7)) {
    case 0:
    case 1:
      text << "bytes changed at";
      for (std::size_t k = 1 + pick(4); k > 0; --k) {
        std::size_t at = base + offset();
        b[at] ^= static_cast<unsigned char>(1 + pick(255));
        text << " 0x" << at;
      }
      break;
    case 2: {
      std::size_t at = base + offset(), length = 2 + pick(63);
      for (std::size_t i = at; i < std::min(at + length, b.size()); ++i)
        b[i] = static_cast<unsigned char>(random());
      text << "0x" << length << " random bytes at 0x" << at;
      break;
    }
    case 3:
      ZeroPage(b, page);
      text << "zeroed";
      lossOnly = true;
      break;
    case 4: {
      std::size_t other = pick(pages);
      std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(base),
                       b.begin() + static_cast<std::ptrdiff_t>(base + size),
                       b.begin() + static_cast<std::ptrdiff_t>(other * size));
      text << "swapped with page 0x" << other;
      break;
    }
    default:  // cut at the page's start or inside it
      b.resize(pick(2) ? std::max<std::size_t>(base, size) : base + 1 + pick(size - 1));
      text << "file cut to 0x" << b.size() << " bytes";
      lossOnly = true;
      break;
  }
  what = text.str();
  return b;
}

// A damaged copy may be taken for a file with another password only when the damage reached a
// Jet 3 or Jet 4 password field and left in it typable characters followed by NULs: that is
// what Access writes for another password, so no reader can tell the two apart when the rest
// of the file reads. (An .accdb file keeps no password in its header, so there the excuse never
// holds.)
bool WrongPasswordIsExcused(const Bytes& original, const Bytes& damaged) {
  if (damaged.size() < 0x98 || damaged[0x14] >= 2 || damaged[0x14] != original[0x14]) return false;
  const bool jet3 = damaged[0x14] == 0;
  const std::size_t fieldSize = jet3 ? 20 : 40, unitSize = jet3 ? 1 : 2;
  if (std::equal(&original[kPasswordField], &original[kPasswordField + fieldSize],
                 &damaged[kPasswordField]))
    return false;
  Bytes h(damaged.begin(), damaged.begin() + 0x98);
  ToggleMask(h);
  if (!jet3) {
    double created;
    std::memcpy(&created, &h[kCreationDate], sizeof created);  // a little-endian machine
    if (!(std::abs(created) < 2e9)) return false;
    auto days = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(created)));
    for (std::size_t i = 0; i < fieldSize; ++i)
      h[kPasswordField + i] ^= static_cast<unsigned char>(days >> (8 * (i % 4)));
  }
  bool ended = false;
  for (std::size_t i = 0; i < fieldSize; i += unitSize) {
    unsigned unit = h[kPasswordField + i] | (jet3 ? 0 : h[kPasswordField + i + 1] << 8);
    bool pair = unit >= 0xD800 && unit < 0xDC00 && i + 3 < fieldSize &&
                (h[kPasswordField + i + 3] & 0xFC) == 0xDC;
    if (unit == 0)
      ended = true;
    else if (ended || unit < 0x20 || unit == 0x7F || (!jet3 && unit >= 0x80 && unit <= 0x9F) ||
             (unit >= 0xD800 && unit < 0xE000 && !pair))
      return false;
    else if (pair)
      i += unitSize;
  }
  return true;
}

// Whether the damage reached the description of an encrypted file's encryption on page 0.
bool EncryptionDescriptionChanged(const Bytes& original, const Bytes& damaged) {
  constexpr std::size_t kFrom = 0x299, kTo = 0xE00;
  return damaged.size() < kTo ||
         !std::equal(original.begin() + kFrom, original.begin() + kTo, damaged.begin() + kFrom);
}

std::uint32_t SweepSeed() {
  const char* env = std::getenv("ROWSIFTER_DAMAGE_SEED");
  return env && *env ? static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10)) : 20250611;
}

TEST(AccessDiagnosisTest, DamagedCopiesAreCalledDamaged) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::uint32_t seed = SweepSeed();
  constexpr int kCasesPerSource = 24;
  std::mt19937 random(seed);
  testsupport::TempDir dir;
  int damaged = 0;
  for (const Source& source : kSources) {
    Bytes file = Load(testsupport::Fixture(source.file));
    Outcome original = Read(testsupport::Fixture(source.file), source.password);
    ASSERT_EQ(original.verdict, Verdict::Read) << source.file << ": " << original.message;
    std::string path = dir.file(std::string("damaged-") + source.file);
    for (int n = 0; n < kCasesPerSource; ++n) {
      std::string change;
      bool lossOnly = false;
      Bytes copy = Damaged(file, random, change, lossOnly);
      Save(path, copy);
      Outcome outcome = Read(path, source.password);
      const std::string what = std::string(source.file) + ", seed " + std::to_string(seed) +
                               " (ROWSIFTER_DAMAGE_SEED), case " + std::to_string(n) + ", " +
                               change + ": " + outcome.message;
      damaged += outcome.verdict == Verdict::Damaged;
      EXPECT_NE(outcome.verdict, Verdict::OtherError) << what;
      if (source.encrypted) {
        // Damage to the salt or the verifier of the description is a wrong password to every
        // reader; damage to its names of algorithms may name one the program does not read.
        if (outcome.verdict == Verdict::WrongPassword || outcome.verdict == Verdict::Encrypted) {
          EXPECT_TRUE(EncryptionDescriptionChanged(file, copy)) << what;
        }
      } else {
        EXPECT_NE(outcome.verdict, Verdict::Encrypted) << what;
        if (outcome.verdict == Verdict::WrongPassword) {
          EXPECT_TRUE(WrongPasswordIsExcused(file, copy)) << what;
        }
      }
      if (outcome.verdict != Verdict::Read) continue;
      EXPECT_FALSE(outcome.tables.empty() && !original.tables.empty())
          << what << ": an unreadable catalogue listed no tables";
      if (lossOnly) {
        EXPECT_TRUE(outcome.tables == original.tables) << what << ": data lost unsaid";
      }
    }
  }
  // The sweep reaches damage at all (a sweep whose copies all read fine would prove nothing).
  EXPECT_GT(damaged, static_cast<int>(std::size(kSources)) * kCasesPerSource / 4);
}

// Single damages, each made by hand on a copy of a fixture.
TEST(AccessDiagnosisTest, HandMadeDamage) {
  ROWSIFTER_REQUIRE_FIXTURES();
  testsupport::TempDir dir;
  const struct {
    const char* what;
    const char* file;
    const char* password;
    void (*damage)(Bytes&);
    Verdict expected;
  } cases[] = {
      {"an .accdb page key set, no encryption described", "ace14-test-2010.accdb", "",
       [](Bytes& b) { EditMasked(b, [](unsigned char* h) { h[kPageKey] = 0x5A; }); },
       Verdict::Damaged},
      {"the agile encryption description cut short", "ace-agile-encrypted.accdb", "password",
       [](Bytes& b) { b[0x299] = 0x20, b[0x29A] = 0; }, Verdict::Damaged},
      {"an RC4 CryptoAPI description's version changed", "ace12-rc4-cryptoapi-2007.accdb",
       "Test123", [](Bytes& b) { b[0x29D] = 7; }, Verdict::Damaged},
      {"an RC4 CryptoAPI verifier's salt size changed", "ace12-rc4-cryptoapi-2007.accdb", "Test123",
       [](Bytes& b) { b[0x31D] = 0x11; }, Verdict::Damaged},
      {"control characters in the password field", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) {
         EditMasked(b, [](unsigned char* h) {
           for (std::size_t i = 0; i < 40; i += 2) h[kPasswordField + i] ^= 1 + i % 7;
         });
       },
       Verdict::Damaged},
      {"\"password\" made \"pass\", NUL, \"ord\"", "jet4-password-2003.mdb", "password",
       [](Bytes& b) { EditMasked(b, [](unsigned char* h) { h[kPasswordField + 8] ^= 'w'; }); },
       Verdict::Damaged},
      {"a byte after the password's NULs changed, right password", "jet4-password-2003.mdb",
       "password",
       [](Bytes& b) { EditMasked(b, [](unsigned char* h) { h[kPasswordField + 30] ^= 'A'; }); },
       Verdict::Read},
      {"a byte after the password's NULs changed, wrong password", "jet4-password-2003.mdb",
       "other",
       [](Bytes& b) { EditMasked(b, [](unsigned char* h) { h[kPasswordField + 30] ^= 'A'; }); },
       Verdict::Damaged},
      {"the creation date changed under a password", "jet4-password-2003.mdb", "password",
       [](Bytes& b) { EditMasked(b, [](unsigned char* h) { h[kCreationDate + 5] ^= 0x04; }); },
       Verdict::Damaged},
      {"an impossible creation date", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) { EditMasked(b, [](unsigned char* h) { h[kCreationDate + 7] = 0x7F; }); },
       Verdict::Damaged},
      {"a typable password in an .accdb header", "ace16-longtext.accdb", "",
       [](Bytes& b) { EditMasked(b, [](unsigned char* h) { h[kPasswordField] ^= 'k'; }); },
       Verdict::Damaged},
      {"a typable password in a Jet 4 header, as Access writes one", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) {
         EditMasked(b, [](unsigned char* h) {
           for (std::size_t i = 0; i < 3; ++i) h[kPasswordField + 2 * i] ^= "key"[i];
         });
       },
       Verdict::WrongPassword},
      {"the same, and the page key beside it changed", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) {
         EditMasked(b, [](unsigned char* h) {
           for (std::size_t i = 0; i < 3; ++i) h[kPasswordField + 2 * i] ^= "key"[i];
           h[kPageKey + 3] ^= 0x35;
         });
       },
       Verdict::Damaged},
      {"the catalogue's data page zeroed", "ace14-test-2010.accdb", "",
       [](Bytes& b) { ZeroPage(b, CataloguePages(b).at(0)); }, Verdict::Damaged},
      {"the catalogue's data page given to another owner", "jet3-test.mdb", "",
       [](Bytes& b) { b[CataloguePages(b).at(0) * 2048 + 4] = 3; }, Verdict::Damaged},
      {"a catalogue column numbered past the row's maximum", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) {
         // MSysObjects lists 2 real indexes (12 bytes each), then 17 columns of 25 bytes; its
         // 17th (Type, number 3) holds its number at 5.
         b[2 * 4096 + 63 + 2 * 12 + 16 * 25 + 5] = 0x7F;
       },
       Verdict::Damaged},
      {"a table's catalogue row of a type Access never writes", "ace16-deleted-column.accdb", "",
       // The Type of Table1's row (on page 17) made 243: no reader lists the table any more.
       [](Bytes& b) { b[0x1111B] = 0xF3; }, Verdict::Damaged},
      {"every catalogue row marked deleted", "jet4-numeric-2003.mdb", "",
       [](Bytes& b) {
         std::size_t page = CataloguePages(b).at(0) * 4096;
         for (std::size_t r = 0; r < JetUnsigned(&b[page + 12], 2); ++r)
           b[page + 15 + 2 * r] |= 0x80;
       },
       Verdict::Damaged},
      {"the tables' data pages given to other owners", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) {
         for (std::size_t page : TablePages(b))
           if (std::memcmp(&b[page * 4096 + 4], "LVAL", 4) != 0) b[page * 4096 + 4] ^= 0x01;
       },
       Verdict::Damaged},
      {"the one-row pages of long values zeroed", "ace16-longtext.accdb", "",
       [](Bytes& b) {
         for (std::size_t page : LongValuePages(b))
           if (JetUnsigned(&b[page * 4096 + 12], 2) == 1) ZeroPage(b, page);
       },
       Verdict::Damaged},
      {"the pages of long values marked as a table's", "ace16-longtext.accdb", "",
       [](Bytes& b) {
         for (std::size_t page : LongValuePages(b)) std::memcpy(&b[page * 4096 + 4], "\3\0\0\0", 4);
       },
       Verdict::Damaged},
      {"the rows of the map pages (owner 0) removed", "ace14-test-2010.accdb", "",
       [](Bytes& b) {
         for (std::size_t page : OwnedBy(b, 0)) b[page * 4096 + 12] = 0;
       },
       Verdict::Damaged},
      {"the file cut after page 2", "jet4-password-2000.mdb", "password",
       [](Bytes& b) { b.resize(3 * 4096); }, Verdict::Damaged},
  };
  for (const auto& c : cases) {
    Bytes bytes = Load(testsupport::Fixture(c.file));
    c.damage(bytes);
    std::string path = dir.file(std::string("hand-") + c.file);
    Save(path, bytes);
    Outcome outcome = Read(path, c.password);
    EXPECT_EQ(outcome.verdict, c.expected) << c.what << ": " << outcome.message;
    if (c.expected == Verdict::WrongPassword) {
      EXPECT_EQ(outcome.message, "Not a valid password.");
    }
  }
}

// A catalogue row may name any page as a table's definition; one that holds none is damage.
TEST(AccessDiagnosisTest, DefinitionsOnPagesThatHoldNone) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string path = testsupport::Fixture("jet4-nopassword-2003.mdb");
  Bytes file = Load(path);
  JetDatabase db(path, *ParseJetHeader(file.data(), file.size()), file.size());
  for (std::uint32_t page :
       {std::uint32_t{0}, std::uint32_t{1}, static_cast<std::uint32_t>(CataloguePages(file).at(0)),
        db.pageCount(), std::uint32_t{0xFFFFFF}}) {
    try {
      JetTable table(db, "T", page);
      ADD_FAILURE() << "page " << page << " read as a definition";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kBadFormat) << page;
      EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
    }
  }
}

}  // namespace
}  // namespace db
