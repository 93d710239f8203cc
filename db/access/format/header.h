// Page 0 of an Access file (Jet 3, Jet 4, ACE): the facts the engine needs before it hands the
// file to libmdb.
//
// Layout of page 0 (all numbers little-endian):
//   0x00       page type 0x00, then 01 00 00
//   0x04       "Standard Jet DB" / "Standard ACE DB", NUL-terminated
//   0x14       engine version: 0 Jet 3, 1 Jet 4, 2.. ACE 12 onwards
//   0x18..     126 bytes (Jet 3) or 128 bytes (later) RC4-encrypted with the fixed key
//              C7 DA 39 6B. Offsets below are inside that decrypted run:
//   0x3C       code page (16 bits)
//   0x3E       page encoding key (32 bits); zero when the pages are stored plainly. In an ACE
//              file a non-zero key means the file is encrypted with an Office crypto provider.
//   0x42       database password: 20 bytes of single-byte text (Jet 3) or 40 bytes of UTF-16LE
//              (Jet 4 and ACE), NUL-padded. From Jet 4 on, the bytes are also XOR-masked with
//              the 4 little-endian bytes of the whole part of the creation date, repeated.
//   0x6E       sort order of the database (16 bits; 0x0409 General)
//   0x72       creation date (Jet 4 and ACE): an OLE date as a double
// Page size: 2048 bytes for Jet 3, 4096 bytes otherwise (pages.h).
//
// The password field holds the password's characters, then a NUL, then NULs to its end (all of
// it NUL when there is no password); the characters are ones a person can type, never control
// characters. An .accdb file keeps no password there: from ACE 12 on a database password
// encrypts the file. A header that breaks these rules, or whose creation date no clock gave, was
// damaged rather than written by Access, so a password that does not match it means damage.
//
// An encrypted .accdb file (non-zero page key) describes its encryption at 0x299 of page 0, in
// the Office EncryptionInfo layout: a 16-bit byte count of what follows, then the version and
// flags of an RC4 CryptoAPI or agile description. encryption.h describes it field by field,
// with the page codecs that use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace db::access::format {

// Page 0, as laid out above.
constexpr std::size_t kHeaderTextAt = 0x04;
constexpr char kJetText[] = "Standard Jet DB";
constexpr char kAceText[] = "Standard ACE DB";
constexpr std::size_t kVersionAt = 0x14;
constexpr std::size_t kEncryptedStart = 0x18;
constexpr std::size_t kJet3EncryptedSize = 126;
constexpr std::size_t kEncryptedSize = 128;
constexpr unsigned char kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr std::size_t kCodePageAt = 0x3C;
constexpr std::size_t kPageKeyAt = 0x3E;
constexpr std::size_t kPasswordAt = 0x42;
constexpr std::size_t kSortOrderAt = 0x6E;
constexpr std::size_t kCreationDateAt = 0x72;
constexpr std::size_t kEncryptionInfoAt = 0x299;

struct JetHeader {
  int version = 0;           // byte 0x14
  std::size_t pageSize = 0;  // 2048 or 4096
  std::uint16_t codePage = 0;
  std::uint32_t pageKey = 0;  // page encoding key at 0x3E
  std::string password;       // stored database password as UTF-8; empty when none
  // Why these bytes cannot be a header Access wrote (an impossible creation date, a password
  // field that holds no text, a password in an .accdb header); empty when they can.
  std::string flaw;

  bool isJet3() const { return version == 0; }
  bool isAce() const { return version >= 2; }
  // An ACE file whose pages are encrypted by an Office crypto provider (RC4 CryptoAPI, AES).
  bool isOfficeEncrypted() const { return isAce() && pageKey != 0; }
};

// Reads the header from the first bytes of a file (at least 0x80 + 0x18 bytes are needed).
// Gives nothing when the bytes do not start like an Access file or the version is unknown.
std::optional<JetHeader> ParseJetHeader(const unsigned char* bytes, std::size_t size);

// Whether page 0 (`size` bytes of it) holds a well-formed description of an Office encryption
// (see above). Only then is an .accdb file with a page key really encrypted; without one, the key
// is damage.
bool HasOfficeEncryptionInfo(const unsigned char* page, std::size_t size);

// Whether `given` opens a file whose header is `header`. A file without a stored password
// accepts any text (the engine ignores a password it does not need); otherwise the texts must
// be equal, letter case included.
bool PasswordAccepted(const JetHeader& header, const std::string& given);

// RC4 applied in place (encryption and decryption are the same operation).
void Rc4Apply(const unsigned char* key, std::size_t keySize, unsigned char* data, std::size_t size);

}  // namespace db::access::format
