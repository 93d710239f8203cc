// What a damaged Access file is called. A seeded sweep damages copies of every fixture (bytes
// changed, runs of random bytes, pages zeroed or swapped, the file cut short) in the header, the
// file's page map, the catalogue's definition and data pages and anywhere else, opens each copy
// with its right password and reads all it can. Then hand-made cases pin down single damages.
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

#include "db/engine.h"
#include "db/error.h"
#include "db/jet_database.h"
#include "db/jet_header.h"
#include "db/jet_table.h"
#include "db/jet_values.h"
#include "tests/access/value_printer.h"
#include "tests/support/fixtures.h"

namespace db {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned char kHeaderKey[] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kMaskedStart = 0x18;
constexpr std::size_t kPasswordField = 0x42;
constexpr std::size_t kCreationDate = 0x72;
constexpr std::size_t kPageKey = 0x3E;

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void Save(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::size_t PageSizeOf(const Bytes& file) { return file[0x14] == 0 ? 2048 : 4096; }

// Runs `edit` on the header's masked block as plain bytes (offsets as in the file).
template <typename Edit>
void EditMaskedHeader(Bytes& file, Edit edit) {
  std::size_t size = file[0x14] == 0 ? 126 : 128;
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, &file[kMaskedStart], size);
  edit(file.data());
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, &file[kMaskedStart], size);
}

// Data pages (type 1) whose owner field passes `test`.
template <typename Test>
std::vector<std::size_t> DataPages(const Bytes& file, Test test) {
  std::size_t pageSize = PageSizeOf(file);
  std::vector<std::size_t> pages;
  for (std::size_t p = 3; p < file.size() / pageSize; ++p)
    if (file[p * pageSize] == 1 && test(&file[p * pageSize + 4])) pages.push_back(p);
  return pages;
}

// The catalogue's data pages: their owner is its definition, page 2.
std::vector<std::size_t> CatalogueDataPages(const Bytes& file) {
  return DataPages(file, [](const unsigned char* owner) { return JetUnsigned(owner, 4) == 2; });
}

// Pages of long values: "LVAL" in place of an owner.
std::vector<std::size_t> LongValuePages(const Bytes& file) {
  return DataPages(file, [](const unsigned char* owner) { return std::memcmp(owner, "LVAL", 4) == 0; });
}

// Rows of tables and long values: data pages of any owner but the catalogue and the maps (0).
std::vector<std::size_t> TablePages(const Bytes& file) {
  return DataPages(file, [](const unsigned char* owner) { return JetUnsigned(owner, 4) > 2; });
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

// Opens the file as the program does (engine chosen by its first bytes) and reads every user
// table, or says how it failed.
Outcome Read(const std::string& path, const std::string& password) {
  Outcome outcome;
  try {
    auto session = OpenSession(path, password, OpenMode::Read);
    for (const CatalogRow& table : session->tables()) {
      if (table.type != "TABLE") continue;
      TableDump dump{table.name, {}, {}};
      auto cursor = session->query("SELECT * FROM `" + table.name + "`");
      dump.fields = cursor->fieldNames();
      std::vector<Value> row;
      while (cursor->next(row)) dump.rows.push_back(row);
      outcome.tables.push_back(std::move(dump));
    }
  } catch (const Error& e) {
    outcome.message = e.description();
    if (e.number() == errc::kWrongPassword)
      outcome.verdict = Verdict::WrongPassword;
    else if (e.number() == errc::kNotSupported &&
             outcome.message.find("encrypted databases are not supported yet") != std::string::npos)
      outcome.verdict = Verdict::Encrypted;
    else if (e.number() == errc::kBadFormat && outcome.message.find(path) != std::string::npos)
      outcome.verdict = Verdict::Damaged;
    else
      outcome.verdict = Verdict::OtherError;
  }
  return outcome;
}

struct Source {
  const char* file;
  const char* password;
  bool encrypted;
};
const Source kSources[] = {
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

enum class Damage { Flip, Run, ZeroPage, SwapPages, CutAtPage, CutInsidePage };

struct Case {
  Damage damage;
  std::string description;
  Bytes bytes;
};

// One damaged copy of `file`, chosen by `random`.
Case MakeCase(const Bytes& file, std::mt19937& random) {
  std::size_t pageSize = PageSizeOf(file);
  std::size_t pages = file.size() / pageSize;
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };

  std::vector<std::size_t> catalogue = CatalogueDataPages(file), tables = TablePages(file);
  std::size_t page = 0;
  const char* region = "";
  switch (pick(6)) {
    case 0: page = 0, region = "header"; break;
    case 1: page = 1, region = "page map"; break;
    case 2: page = 2, region = "catalogue definition"; break;
    case 3:
      page = catalogue.empty() ? 2 : catalogue[pick(catalogue.size())];
      region = "catalogue data";
      break;
    case 4:
      page = tables.empty() ? pick(pages) : tables[pick(tables.size())];
      region = "table or long value data";
      break;
    default: page = pick(pages), region = "anywhere"; break;
  }
  // Within the header, aim at its fields more often than at the rest of the page: the masked
  // block (password, creation date, page key) and an .accdb file's encryption description.
  auto offsetInPage = [&] {
    if (page != 0) return pick(pageSize);
    switch (pick(4)) {
      case 0: return kMaskedStart + pick(0x80);
      case 1: return kPasswordField + pick(0x38);
      case 2: return 0x298 + pick(0xC8);
      default: return pick(pageSize);
    }
  };

  Case c{Damage::Flip, "", file};
  std::ostringstream what;
  what << region << " page " << page << ": ";
  Bytes& b = c.bytes;
  std::size_t base = page * pageSize;
  switch (pick(7)) {
    case 0:
    case 1: {
      c.damage = Damage::Flip;
      what << "bytes changed at";
      for (std::size_t k = 1 + pick(4); k > 0; --k) {
        std::size_t at = base + offsetInPage();
        b[at] ^= static_cast<unsigned char>(1 + pick(255));
        what << " 0x" << std::hex << at << std::dec;
      }
      break;
    }
    case 2: {
      c.damage = Damage::Run;
      std::size_t at = base + offsetInPage(), length = 2 + pick(63);
      for (std::size_t i = at; i < std::min(at + length, b.size()); ++i)
        b[i] = static_cast<unsigned char>(random());
      what << length << " random bytes at 0x" << std::hex << at << std::dec;
      break;
    }
    case 3:
      c.damage = Damage::ZeroPage;
      std::fill(b.begin() + static_cast<std::ptrdiff_t>(base),
                b.begin() + static_cast<std::ptrdiff_t>(base + pageSize), 0);
      what << "page zeroed";
      break;
    case 4: {
      c.damage = Damage::SwapPages;
      std::size_t other = pick(pages);
      std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(base),
                       b.begin() + static_cast<std::ptrdiff_t>(base + pageSize),
                       b.begin() + static_cast<std::ptrdiff_t>(other * pageSize));
      what << "swapped with page " << other;
      break;
    }
    case 5:
      c.damage = Damage::CutAtPage;
      b.resize(std::max<std::size_t>(page, 1) * pageSize);
      what << "file cut to " << b.size() << " bytes";
      break;
    default:
      c.damage = Damage::CutInsidePage;
      b.resize(base + 1 + pick(pageSize - 1));
      what << "file cut to " << b.size() << " bytes";
      break;
  }
  c.description = what.str();
  return c;
}

// A damaged copy may be taken for a file with another password only when the damage reached a
// Jet 3 or Jet 4 password field and left in it typable characters followed by NULs: that is
// what Access writes for another password, so no reader can tell the two apart. (An .accdb
// file keeps no password in its header, so there the excuse never holds.)
bool WrongPasswordIsExcused(const Bytes& original, const Bytes& damaged) {
  if (damaged.size() < 0x98 || damaged[0x14] >= 2 || damaged[0x14] != original[0x14]) return false;
  const bool jet3 = damaged[0x14] == 0;
  const std::size_t fieldSize = jet3 ? 20 : 40, unitSize = jet3 ? 1 : 2;
  if (std::equal(&original[kPasswordField], &original[kPasswordField + fieldSize],
                 &damaged[kPasswordField]))
    return false;
  Bytes h(damaged.begin(), damaged.begin() + 0x98);
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, &h[kMaskedStart], jet3 ? 126 : 128);
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
    if (unit == 0) {
      ended = true;
    } else if (ended || unit < 0x20 || unit == 0x7F || (!jet3 && unit <= 0x9F && unit >= 0x80) ||
               (unit >= 0xD800 && unit < 0xE000 && !pair)) {
      return false;
    } else if (pair) {
      i += unitSize;
    }
  }
  return true;
}

std::uint32_t SweepSeed() {
  if (const char* env = std::getenv("ROWSIFTER_DAMAGE_SEED"); env && *env)
    return static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10));
  return 20250611;
}

TEST(AccessDiagnosisTest, DamagedCopiesAreCalledDamaged) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::uint32_t seed = SweepSeed();
  constexpr int kCasesPerSource = 24;
  std::mt19937 random(seed);
  testsupport::TempDir dir;
  int damaged = 0, excused = 0;
  for (const Source& source : kSources) {
    Bytes file = Load(testsupport::Fixture(source.file));
    Outcome original = Read(testsupport::Fixture(source.file), source.password);
    ASSERT_EQ(original.verdict, source.encrypted ? Verdict::Encrypted : Verdict::Read)
        << source.file << ": " << original.message;
    std::string path = dir.file(std::string("damaged-") + source.file);
    for (int n = 0; n < kCasesPerSource; ++n) {
      Case c = MakeCase(file, random);
      Save(path, c.bytes);
      Outcome outcome = Read(path, source.password);
      const std::string what = std::string(source.file) + ", seed " + std::to_string(seed) +
                               " (ROWSIFTER_DAMAGE_SEED), case " + std::to_string(n) + ", " +
                               c.description + ": " + outcome.message;
      if (outcome.verdict == Verdict::Damaged) ++damaged;
      EXPECT_NE(outcome.verdict, Verdict::OtherError) << what;
      if (source.encrypted) {
        // Pages encrypted with a key we cannot make can hide any damage but the description's.
        EXPECT_TRUE(outcome.verdict == Verdict::Encrypted || outcome.verdict == Verdict::Damaged)
            << what;
        continue;
      }
      EXPECT_NE(outcome.verdict, Verdict::Encrypted) << what;
      if (outcome.verdict == Verdict::WrongPassword) {
        EXPECT_TRUE(WrongPasswordIsExcused(file, c.bytes)) << what;
        ++excused;
      }
      if (outcome.verdict != Verdict::Read) continue;
      EXPECT_FALSE(outcome.tables.empty() && !original.tables.empty())
          << what << ": an unreadable catalogue listed no tables";
      // Where bytes were only lost (a page zeroed, the file cut), a copy that reads without an
      // error must give all that was there.
      if (c.damage == Damage::ZeroPage || c.damage == Damage::CutAtPage ||
          c.damage == Damage::CutInsidePage) {
        EXPECT_TRUE(outcome.tables == original.tables) << what << ": read, but not as before";
      }
    }
  }
  // The sweep reaches damage at all (a sweep whose copies all read fine would prove nothing).
  EXPECT_GT(damaged, static_cast<int>(std::size(kSources)) * kCasesPerSource / 4);
  RecordProperty("damaged", damaged);
  RecordProperty("excused_wrong_password", excused);
}

// Single damages, each built by hand on a copy of a fixture.
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
      {"an .accdb file's page key set, without an encryption description", "ace14-test-2010.accdb",
       "",
       [](Bytes& b) { EditMaskedHeader(b, [](unsigned char* h) { h[kPageKey] = 0x5A; }); },
       Verdict::Damaged},
      {"the agile encryption description cut short", "ace-agile-encrypted.accdb", "password",
       [](Bytes& b) { b[0x299] = 0x20, b[0x29A] = 0; }, Verdict::Damaged},
      {"the RC4 CryptoAPI encryption description's version changed",
       "ace12-rc4-cryptoapi-2007.accdb", "Test123", [](Bytes& b) { b[0x29D] = 7; },
       Verdict::Damaged},
      {"the RC4 CryptoAPI verifier's salt size changed", "ace12-rc4-cryptoapi-2007.accdb",
       "Test123", [](Bytes& b) { b[0x31D] = 0x11; }, Verdict::Damaged},
      {"control characters in the password field", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) {
         EditMaskedHeader(b, [](unsigned char* h) {
           for (std::size_t i = 0; i < 40; ++i) h[kPasswordField + i] ^= static_cast<unsigned char>(i % 2 ? 0 : 1 + i % 7);
         });
       },
       Verdict::Damaged},
      {"a NUL inside the stored password, text after it", "jet4-password-2003.mdb", "password",
       [](Bytes& b) {
         EditMaskedHeader(b, [](unsigned char* h) {
           // "password" becomes "pass", NUL, "ord": the field no longer ends in NULs only.
           h[kPasswordField + 8] ^= 'w';
         });
       },
       Verdict::Damaged},
      {"the creation date changed under a stored password", "jet4-password-2003.mdb", "password",
       [](Bytes& b) { EditMaskedHeader(b, [](unsigned char* h) { h[kCreationDate + 5] ^= 0x04; }); },
       Verdict::Damaged},
      {"an impossible creation date", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) { EditMaskedHeader(b, [](unsigned char* h) { h[kCreationDate + 7] = 0x7F; }); },
       Verdict::Damaged},
      {"a typable password in an .accdb header", "ace16-longtext.accdb", "",
       [](Bytes& b) {
         EditMaskedHeader(b, [](unsigned char* h) { h[kPasswordField] ^= 'k'; });
       },
       Verdict::Damaged},
      {"a typable password in a Jet 4 header, as Access writes one", "jet4-nopassword-2003.mdb",
       "",
       [](Bytes& b) {
         EditMaskedHeader(b, [](unsigned char* h) {
           for (std::size_t i = 0; i < 3; ++i) h[kPasswordField + 2 * i] ^= "key"[i];
         });
       },
       Verdict::WrongPassword},
      {"the catalogue's data page zeroed", "ace14-test-2010.accdb", "",
       [](Bytes& b) {
         std::size_t page = CatalogueDataPages(b).at(0);
         std::fill(b.begin() + static_cast<std::ptrdiff_t>(page * 4096),
                   b.begin() + static_cast<std::ptrdiff_t>((page + 1) * 4096), 0);
       },
       Verdict::Damaged},
      {"the catalogue's data page given to another owner", "jet3-test.mdb", "",
       [](Bytes& b) { b[CatalogueDataPages(b).at(0) * 2048 + 4] = 3; }, Verdict::Damaged},
      {"the catalogue's rows made unreadable (every row deleted)", "jet4-numeric-2003.mdb", "",
       [](Bytes& b) {
         std::size_t page = CatalogueDataPages(b).at(0) * 4096;
         for (std::size_t r = 0; r < JetUnsigned(&b[page + 12], 2); ++r) b[page + 15 + 2 * r] |= 0x80;
       },
       Verdict::Damaged},
      {"a table's data page given to another owner", "jet4-nopassword-2003.mdb", "",
       [](Bytes& b) {
         for (std::size_t page : TablePages(b))
           if (std::memcmp(&b[page * 4096 + 4], "LVAL", 4) != 0) b[page * 4096 + 4] ^= 0x01;
       },
       Verdict::Damaged},
      {"the pages of long values of one row each zeroed", "ace16-longtext.accdb", "",
       [](Bytes& b) {
         for (std::size_t page : LongValuePages(b))
           if (JetUnsigned(&b[page * 4096 + 12], 2) == 1)
             std::fill(b.begin() + static_cast<std::ptrdiff_t>(page * 4096),
                       b.begin() + static_cast<std::ptrdiff_t>((page + 1) * 4096), 0);
       },
       Verdict::Damaged},
      {"the pages of long values marked as a table's pages", "ace16-longtext.accdb", "",
       [](Bytes& b) {
         for (std::size_t page : LongValuePages(b)) std::memcpy(&b[page * 4096 + 4], "\x03\0\0\0", 4);
       },
       Verdict::Damaged},
      {"a table's map row removed from its page", "ace14-test-2010.accdb", "",
       [](Bytes& b) {
         // The map rows of tables live on data pages of owner 0 (page 1 holds the file's own).
         for (std::size_t page : DataPages(b, [](const unsigned char* o) { return JetUnsigned(o, 4) == 0; }))
           b[page * 4096 + 12] = 0;  // no rows
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

// A password that does not match a sound header keeps its error, and a damaged header does not
// stop the right password (only a mismatch asks whether the header is sound).
TEST(AccessDiagnosisTest, PasswordsOfSoundAndDamagedHeaders) {
  ROWSIFTER_REQUIRE_FIXTURES();
  testsupport::TempDir dir;
  for (const char* file : {"jet4-password-2000.mdb", "jet4-password-2003.mdb"}) {
    Outcome wrong = Read(testsupport::Fixture(file), "wrong");
    EXPECT_EQ(wrong.verdict, Verdict::WrongPassword) << file;
    EXPECT_EQ(wrong.message, "Not a valid password.");
  }
  // Bytes after the password's NUL changed: the stored password is still "password".
  Bytes bytes = Load(testsupport::Fixture("jet4-password-2003.mdb"));
  EditMaskedHeader(bytes, [](unsigned char* h) { h[kPasswordField + 30] ^= 0x41; });
  std::string path = dir.file("padding.mdb");
  Save(path, bytes);
  EXPECT_EQ(Read(path, "password").verdict, Verdict::Read);
  EXPECT_EQ(Read(path, "other").verdict, Verdict::Damaged);
  // The empty databases list nothing and that is no error.
  for (const char* file : {"jet4-empty-2000.mdb", "ace12-empty-2007.accdb", "ace16-empty-2016.accdb"}) {
    Outcome empty = Read(testsupport::Fixture(file), "");
    EXPECT_EQ(empty.verdict, Verdict::Read) << file << ": " << empty.message;
    EXPECT_TRUE(empty.tables.empty()) << file;
  }
}

TEST(AccessDiagnosisTest, EncryptionDescriptionsOfTheEncryptedFixtures) {
  ROWSIFTER_REQUIRE_FIXTURES();
  for (const char* file :
       {"ace14-encrypted-2010.accdb", "ace-agile-encrypted.accdb", "ace12-rc4-cryptoapi-2007.accdb"}) {
    Bytes page = Load(testsupport::Fixture(file));
    page.resize(4096);
    EXPECT_TRUE(HasOfficeEncryptionInfo(page.data(), page.size())) << file;
    // Cut before its end, the description is no longer whole.
    EXPECT_FALSE(HasOfficeEncryptionInfo(page.data(), 0x300)) << file;
  }
  Bytes plain = Load(testsupport::Fixture("ace14-test-2010.accdb"));
  EXPECT_FALSE(HasOfficeEncryptionInfo(plain.data(), 4096));
}

// A catalogue row may name any page as a table's definition; one that holds none is damage.
TEST(AccessDiagnosisTest, DefinitionsOnPagesThatHoldNone) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const std::string path = testsupport::Fixture("jet4-nopassword-2003.mdb");
  Bytes file = Load(path);
  JetDatabase db(path, *ParseJetHeader(file.data(), file.size()), file.size());
  const std::uint32_t pages = db.pageCount();
  for (std::uint32_t page : {0u, 1u, static_cast<std::uint32_t>(CatalogueDataPages(file).at(0)),
                             pages, 0xFFFFFFu}) {
    try {
      JetTable table(db, "T", page);
      ADD_FAILURE() << "page " << page << " read as a definition";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), errc::kBadFormat) << page;
      EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
    }
  }
}

}  // namespace
}  // namespace db
