// Encrypted .accdb files: the fixtures Access made (RC4 CryptoAPI, agile), encrypted copies of a
// plain file with other parameters, wrong and missing passwords, and damaged descriptions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "db/access/access_engine.h"
#include "db/access/format/encryption.h"
#include "db/access/format/header.h"
#include "db/access/format/pages.h"
#include "db/access/write/encrypted_copy.h"
#include "db/access/write/lock_file.h"
#include "db/access/write/pager.h"
#include "db/base/error.h"
#include "tests/support/fixtures.h"
#include "tests/support/outside_readers.h"

namespace db {
namespace {

using namespace db::access::format;
using testsupport::Fixture;
using testsupport::ReadDatabase;
using testsupport::TempDir;

using testsupport::FileBytes;

long OpenError(const std::string& path, const std::string& password, std::string* message) {
  try {
    access::OpenAccessSession(path, password, OpenMode::ReadWrite);
  } catch (const Error& e) {
    *message = e.description();
    return e.number();
  }
  return 0;
}

std::vector<std::string> Column(Session& session, const std::string& sql) {
  std::vector<std::string> out;
  auto cursor = session.query(sql);
  std::vector<Value> row;
  while (cursor->next(row)) out.push_back(row.at(0).isNull() ? "<null>" : row[0].toText());
  return out;
}

TEST(EncryptedReadTest, FixturesReadAsTheyWereWritten) {
  ROWSIFTER_REQUIRE_FIXTURES();
  const struct {
    const char* file;
    const char* password;
    std::vector<std::string> fields;
    std::vector<std::vector<std::string>> rows;
  } cases[] = {
      {"ace12-rc4-cryptoapi-2007.accdb", "Test123", {"ID", "Field1"}, {{"1", "foo"}}},
      {"ace-agile-encrypted.accdb",
       "password",
       {"ID", "Data"},
       {{"1", "One"}, {"2", "Two"}, {"3", "Three"}}},
      {"ace14-encrypted-2010.accdb",
       "password",
       {"ID", "Data"},
       {{"1", "One"}, {"2", "Two"}, {"3", "Three"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ReadDatabase ours = testsupport::ReadWithOurLayer(Fixture(c.file), c.password);
    ASSERT_EQ(ours.tables.size(), 1u);
    const testsupport::ReadTable& table = ours.tables[0];
    EXPECT_EQ(table.name, "Table1");
    std::vector<std::string> names;
    for (const auto& column : table.columns) names.push_back(column.name);
    EXPECT_EQ(names, c.fields);
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : table.rows) {
      rows.emplace_back();
      for (const auto& value : row) rows.back().push_back(value.value_or("<null>"));
    }
    EXPECT_EQ(rows, c.rows);

    // Fields, preview and distinct values as the windows and the command line ask for them.
    auto session = access::OpenAccessSession(Fixture(c.file), c.password, OpenMode::Read);
    const std::string field = c.fields[1];
    std::vector<std::string> values;
    for (const auto& row : c.rows) values.push_back(row[1]);
    EXPECT_EQ(Column(*session, "SELECT [" + field + "] FROM [Table1]"), values);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(Column(*session, "SELECT DISTINCT [" + field + "] FROM [Table1]"), values);
  }
}

TEST(EncryptedReadTest, AgileFixtureReadsAsMdbReaderReadsIt) {
  ROWSIFTER_REQUIRE_FIXTURES();
  ROWSIFTER_REQUIRE_MDB_READER();
  for (const char* file : {"ace-agile-encrypted.accdb", "ace14-encrypted-2010.accdb"}) {
    std::string path = Fixture(file);
    ReadDatabase theirs = testsupport::ReadWithMdbReader(path, "password");
    ReadDatabase ours = testsupport::ReadWithOurLayer(path, "password");
    EXPECT_EQ(testsupport::FirstDifference(testsupport::WithoutTypes(theirs), ours,
                                           "mdb-reader against our layer"),
              std::nullopt)
        << file;
  }
}

// A wrong or missing password is refused as a wrong Jet 4 password is, and the file, its folder
// (no lock file, no journal) stay as they were, for reading and for writing sessions.
TEST(EncryptedReadTest, WrongOrMissingPasswordIsRefusedAsJet4DoesAndTouchesNothing) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  std::string jet4Message;
  long jet4 = OpenError(dir.copyFixture("jet4-password-2003.mdb"), "wrong", &jet4Message);
  ASSERT_EQ(jet4, errc::kWrongPassword);
  for (const char* file : {"ace12-rc4-cryptoapi-2007.accdb", "ace-agile-encrypted.accdb"}) {
    std::string path = dir.copyFixture(file);
    const std::string before = FileBytes(path);
    for (const char* password : {"", "wrong", "Password", "password ", "test123"}) {
      std::string message;
      EXPECT_EQ(OpenError(path, password, &message), jet4) << file << " / " << password;
      EXPECT_EQ(message, jet4Message);
    }
    EXPECT_EQ(FileBytes(path), before);
    EXPECT_FALSE(std::filesystem::exists(access::write::LockFilePath(path)));
    EXPECT_FALSE(std::filesystem::exists(access::write::JournalPath(path)));
  }
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++files;
  EXPECT_EQ(files, 3u);
}

// Encryption parameters come from the file: copies of a plain file encrypted with other hashes,
// key sizes, chaining and spin counts read as the plain file does (and as mdb-reader reads them,
// for agile files), and only with their password.
TEST(EncryptedReadTest, EncryptedCopiesWithOtherParametersReadAsThePlainFile) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  const std::string plain = Fixture("ace14-test-2010.accdb");
  const ReadDatabase expected = testsupport::ReadWithOurLayer(plain);
  const struct {
    const char* what;
    Bytes info;
    bool mdbReader;
  } cases[] = {
      {"agile AES-256 CBC SHA-512", MakeAgileEncryptionInfo("pässwörd", {}), true},
      // mdb-reader cannot check a verifier hash that is not a whole number of blocks (SHA-1's
      // 20 bytes with AES), so only we read this one.
      {"agile AES-128 CBC SHA-1, spin 10",
       MakeAgileEncryptionInfo("pässwörd", {"AES", 128, "ChainingModeCBC", "SHA1", 10}), false},
      {"agile AES-128 CBC SHA-256",
       MakeAgileEncryptionInfo("pässwörd", {"AES", 128, "ChainingModeCBC", "SHA256", 1000}), true},
      // mdb-reader takes the whole decrypted key value as the key, padding included: a 192-bit
      // key (24 bytes in two blocks) is read as AES-256 there.
      {"agile AES-192 CBC SHA-384",
       MakeAgileEncryptionInfo("pässwörd", {"AES", 192, "ChainingModeCBC", "SHA384", 7}), false},
      {"agile AES-256 CFB SHA-384",
       MakeAgileEncryptionInfo("pässwörd", {"AES", 256, "ChainingModeCFB", "SHA384", 0}), false},
      {"RC4 CryptoAPI 40 bits", MakeRc4CryptoApiEncryptionInfo("pässwörd", 40), false},
      {"RC4 CryptoAPI 128 bits", MakeRc4CryptoApiEncryptionInfo("pässwörd", 128), false},
      {"RC4 CryptoAPI 56 bits", MakeRc4CryptoApiEncryptionInfo("pässwörd", 56), false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir.file("copy" + std::to_string(n++) + ".accdb");
    access::write::WriteEncryptedCopy(plain, path, c.info, "pässwörd");
    EXPECT_EQ(
        testsupport::FirstDifference(expected, testsupport::ReadWithOurLayer(path, "pässwörd")),
        std::nullopt);
    std::string message;
    EXPECT_EQ(OpenError(path, "passwörd", &message), errc::kWrongPassword);
    if (c.mdbReader && !testsupport::MdbReaderUnavailable()) {
      EXPECT_EQ(testsupport::FirstDifference(
                    testsupport::WithoutTypes(testsupport::ReadWithMdbReader(path, "pässwörd")),
                    expected, "mdb-reader against the plain file"),
                std::nullopt);
    }
  }
}

// Jet 3 and Jet 4 files whose pages are RC4-encoded with the database key: no fixture has one,
// so copies are made (pages encoded with the format's codec, key set in the header); they read
// as the plain files do, through libmdb's own decoding.
TEST(EncryptedReadTest, JetFilesWithAPageKeyReadAsThePlainOnes) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  for (const char* file : {"jet3-test.mdb", "jet4-numeric-2003.mdb"}) {
    SCOPED_TRACE(file);
    std::string bytes = FileBytes(Fixture(file));
    auto* data = reinterpret_cast<unsigned char*>(bytes.data());
    std::optional<JetHeader> plain = ParseJetHeader(data, bytes.size());
    ASSERT_TRUE(plain && plain->pageKey == 0);
    const std::size_t masked = plain->isJet3() ? kJet3EncryptedSize : kEncryptedSize;
    Rc4Apply(kHeaderKey, sizeof kHeaderKey, data + kEncryptedStart, masked);
    Put32(data + kPageKeyAt, 0x0BADF00D);
    Rc4Apply(kHeaderKey, sizeof kHeaderKey, data + kEncryptedStart, masked);
    std::optional<JetHeader> keyed = ParseJetHeader(data, bytes.size());
    ASSERT_TRUE(keyed && keyed->pageKey == 0x0BADF00D && !keyed->isOfficeEncrypted());
    auto codec = OpenPageCodec(*keyed, data, bytes.size(), "");
    ASSERT_TRUE(codec);
    for (std::size_t p = 1; p < bytes.size() / keyed->pageSize; ++p)
      codec->encode(static_cast<std::uint32_t>(p), data + p * keyed->pageSize, keyed->pageSize);
    std::string path = dir.file(std::string("keyed-") + file);
    std::ofstream(path, std::ios::binary) << bytes;
    ASSERT_NE(FileBytes(path), FileBytes(Fixture(file)));
    EXPECT_EQ(testsupport::FirstDifference(testsupport::ReadWithOurLayer(Fixture(file)),
                                           testsupport::ReadWithOurLayer(path)),
              std::nullopt);
  }
}

// Every page is decrypted on its own: a page whose stored bytes are damaged reads as damage,
// never as another page or a crash, and pages around it read as before.
TEST(EncryptedReadTest, PageCodecsTurnEveryPageBackAndLeavePageZero) {
  ROWSIFTER_REQUIRE_FIXTURES();
  std::mt19937 random(9);
  for (const auto& [info, password] : std::vector<std::pair<Bytes, std::string>>{
           {MakeAgileEncryptionInfo("x", {"AES", 256, "ChainingModeCBC", "SHA512", 5}), "x"},
           {MakeAgileEncryptionInfo("x", {"AES", 128, "ChainingModeCFB", "SHA1", 5}), "x"},
           {MakeRc4CryptoApiEncryptionInfo("x", 40), "x"}}) {
    std::string page0 = FileBytes(Fixture("ace14-test-2010.accdb")).substr(0, kPageSize);
    Bytes header(page0.begin(), page0.end());
    MarkHeaderEncrypted(header.data(), header.size(), NewPageKey(), info);
    std::optional<JetHeader> parsed = ParseJetHeader(header.data(), header.size());
    ASSERT_TRUE(parsed && parsed->isOfficeEncrypted());
    ASSERT_TRUE(HasOfficeEncryptionInfo(header.data(), header.size()));
    auto codec = OpenPageCodec(*parsed, header.data(), header.size(), password);
    ASSERT_TRUE(codec);
    for (std::uint32_t page : {0u, 1u, 2u, 77u, 0xFFFFFFu}) {
      Bytes plain(kPageSize);
      for (auto& b : plain) b = static_cast<unsigned char>(random());
      Bytes stored = plain;
      codec->encode(page, stored);
      if (page == 0)
        EXPECT_EQ(stored, plain);
      else
        EXPECT_NE(stored, plain);
      Bytes other = stored;
      codec->decode(page + 1, other);  // another page's key gives other bytes
      EXPECT_NE(other, plain);
      codec->decode(page, stored);
      EXPECT_EQ(stored, plain);
    }
  }
}

// Descriptions that are damaged or name what this program does not read: a clear refusal that
// names the file, never a crash and never a wrong password.
TEST(EncryptedReadTest, DamagedOrForeignDescriptionsAreRefusedClearly) {
  ROWSIFTER_REQUIRE_FIXTURES();
  TempDir dir;
  auto agileWith = [](const std::string& from, const std::string& to) {
    Bytes info = MakeAgileEncryptionInfo("pw", {"AES", 128, "ChainingModeCBC", "SHA1", 3});
    std::string text(info.begin(), info.end());
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    return Bytes(text.begin(), text.end());
  };
  Bytes aesCryptoApi = MakeRc4CryptoApiEncryptionInfo("pw", 128);
  Put32(aesCryptoApi.data() + 4, kCryptoApiFlag | kCryptoApiAesFlag);
  Put32(aesCryptoApi.data() + 12, kCryptoApiAesFlag | kCryptoApiFlag);
  Put32(aesCryptoApi.data() + 12 + 8, 0x660E);    // AES-128
  aesCryptoApi.resize(aesCryptoApi.size() + 12);  // a verifier hash of 32 bytes
  Bytes shortVerifier = MakeRc4CryptoApiEncryptionInfo("pw", 128);
  shortVerifier.resize(shortVerifier.size() - 10);
  const struct {
    const char* what;
    Bytes info;
    long number;
    const char* says;
  } cases[] = {
      {"a cipher not known", agileWith("cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"RC2\""),
       errc::kNotSupported, "cipher 'RC2'"},
      {"a hash not known", agileWith("hashAlgorithm=\"SHA1\"", "hashAlgorithm=\"WHIRLPOOL\""),
       errc::kNotSupported, "hash 'WHIRLPOOL'"},
      {"a salt that is not base64", agileWith("saltValue=\"", "saltValue=\"*"), errc::kBadFormat,
       "saltValue"},
      {"a key size that is not the cipher's", agileWith("keyBits=\"128\"", "keyBits=\"136\""),
       errc::kBadFormat, "key"},
      {"a spin count past the limit", agileWith("spinCount=\"3\"", "spinCount=\"10000001\""),
       errc::kBadFormat, "spin count"},
      {"no password key encryptor",
       agileWith("uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password",
                 "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate"),
       errc::kNotSupported, "password"},
      {"AES under a CryptoAPI header", aesCryptoApi, errc::kNotSupported, "AES"},
      {"a verifier cut short", shortVerifier, errc::kBadFormat, "Unrecognized database format"},
  };
  std::string plain = Fixture("ace14-test-2010.accdb");
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = dir.file("d" + std::to_string(n++) + ".accdb");
    std::string bytes = FileBytes(plain);
    Bytes page(bytes.begin(), bytes.begin() + kPageSize);
    MarkHeaderEncrypted(page.data(), page.size(), 0x1234567, c.info);
    bytes.replace(0, kPageSize, std::string(page.begin(), page.end()));
    std::ofstream(path, std::ios::binary) << bytes;
    std::string message;
    EXPECT_EQ(OpenError(path, "pw", &message), c.number) << message;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_NE(message.find(path), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace db
