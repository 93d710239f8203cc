// How the pages of an Access file are stored, and the page codecs that turn them into their plain
// bytes and back. Page 0 (the header, header.h) is always stored as it is.
//
// The page key at 0x3E of the header says how every other page p is stored:
//   zero            plainly;
//   Jet 3 and Jet 4 RC4-encoded with the 4 little-endian bytes of (page key XOR p) as the key;
//   ACE             encrypted by an Office crypto provider with the database password: the file
//                   describes the provider at 0x299 of page 0 (below). The key of page p comes
//                   from its "block key", the 4 little-endian bytes of (page key XOR p), so the
//                   page key itself is no secret. The password is taken as UTF-16LE, at most
//                   255 UTF-16 units of it.
//
// The description at 0x299 (kEncryptionInfoAt): a 16-bit byte count n, then n bytes: version
// major and minor (16 bits each), flags (32 bits), then by version:
//
// RC4 CryptoAPI (versions 2.2, 3.2, 4.2 with flag 0x04 and without 0x20; Access 2007, and later
// versions set to "legacy encryption"):
//   32-bit size h of the header that follows; header: flags (32), extra size (32, zero),
//   algorithm (32: 0x6801 RC4; 0 means RC4 by the flags), hash (32: 0x8004 SHA-1, or 0), key bits
//   (32: 40 to 128 in steps of 8; 0 means 40 for a provider whose name is empty or holds " Base ",
//   otherwise 128), provider type (32), two reserved words, provider name (UTF-16, NUL-ended).
//   Then the verifier: salt size (32, always 16), salt, encrypted verifier (16 bytes), verifier
//   hash size (32, 20) and the encrypted verifier hash (20 bytes).
//   Keys: H0 = SHA-1(salt + password); the key of block b is the first keyBits/8 bytes of
//   SHA-1(H0 + b), followed by 11 zero bytes when keyBits is 40 (a 128-bit RC4 key).
//   Password check: one RC4 stream with the key of block 0 (four zero bytes) decrypts the
//   verifier and then the verifier hash; SHA-1 of the verifier equals the hash.
//   Page p: RC4 over the whole page with the key of its block key, a new stream for each page.
//
// CryptoAPI with AES (flag 0x20, "standard" encryption), which Access does not choose itself
// (Access 2007 writes RC4 CryptoAPI, later versions agile), is refused as a provider this
// program does not read.
//
// Agile (version 4.4, flags 0x40; Access 2010 and later): an XML text (UTF-8) with the root
// <encryption>, holding
//   <keyData saltSize blockSize keyBits hashSize cipherAlgorithm cipherChaining hashAlgorithm
//            saltValue/>
//   <keyEncryptors><keyEncryptor uri="http://schemas.microsoft.com/office/2006/keyEncryptor/
//   password"><p:encryptedKey spinCount saltSize blockSize keyBits hashSize cipherAlgorithm
//   cipherChaining hashAlgorithm saltValue encryptedVerifierHashInput encryptedVerifierHashValue
//   encryptedKeyValue/></keyEncryptor></keyEncryptors>
// Byte values are in base64. Algorithms: ciphers "AES" (keyBits 128, 192, 256), "DES", "3DES",
// "3DES_112", chaining "ChainingModeCBC" or "ChainingModeCFB" (CFB with an 8-bit window); hashes
// "SHA1", "SHA256", "SHA384", "SHA512", "MD5". Every parameter comes from the file (Access 2010
// to 2019 write AES-256, CBC, SHA-512 and a spin count of 100,000, but need not). A <dataIntegrity>
// element, when there is one, is not used for pages.
//   Password keys: H0 = H(salt + password), H(i+1) = H(i as 32 bits + H(i)) for i from 0 to
//   spinCount - 1; the key for a block b is H(H(spinCount) + b), cut or padded with 0x36 to
//   keyBits/8 bytes. Three blocks: fe a7 d2 76 3b 4b 9e 79 (verifier input), d7 aa 0f 6d 30 61
//   34 4e (verifier hash), 14 6e 0b e7 ab ac d0 d6 (the file's key). Each of the three encrypted
//   values is decrypted with the encryptor's cipher and chaining, the IV being its salt (cut or
//   padded with 0x36 to blockSize).
//   Password check: H(the first saltSize bytes of the verifier input) equals the first hashSize
//   bytes of the verifier hash.
//   The file's key: the first keyData.keyBits/8 bytes of the decrypted key value.
//   Page p: keyData's cipher and chaining with the file's key and the IV H(keyData salt + block
//   key of p) (keyData's hash), cut or padded with 0x36 to keyData.blockSize.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "db/access/format/bytes.h"
#include "db/access/format/header.h"

namespace db::access::format {

// Office agile encryption's three password blocks (see above).
constexpr unsigned char kAgileVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76,
                                                       0x3b, 0x4b, 0x9e, 0x79};
constexpr unsigned char kAgileVerifierHashBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d,
                                                      0x30, 0x61, 0x34, 0x4e};
constexpr unsigned char kAgileKeyValueBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};
constexpr char kPasswordKeyEncryptorUri[] =
    "http://schemas.microsoft.com/office/2006/keyEncryptor/password";
// The largest spin count the agile description allows.
constexpr std::uint32_t kMaxSpinCount = 10000000;
// Office passwords are cut to this many UTF-16 units.
constexpr std::size_t kMaxOfficePasswordUnits = 255;
// Page 0 holds other data from this offset on (in every file Access made that we have seen), so
// the description at kEncryptionInfoAt ends before it.
constexpr std::size_t kEncryptionInfoEnd = 0xE00;
// The version and flags that start each description.
constexpr std::uint16_t kAgileVersion = 4;
constexpr std::uint32_t kAgileFlags = 0x40;
constexpr std::uint16_t kCryptoApiMinorVersion = 2;
constexpr std::uint32_t kCryptoApiFlag = 0x04;
constexpr std::uint32_t kCryptoApiAesFlag = 0x20;
// CryptoAPI algorithm numbers and sizes.
constexpr std::uint32_t kCryptoApiRc4 = 0x6801;
constexpr std::uint32_t kCryptoApiSha1 = 0x8004;
constexpr std::size_t kCryptoApiFixedHeader = 32;  // the header before the provider name
constexpr std::size_t kCryptoApiSaltSize = 16;
constexpr std::size_t kCryptoApiVerifierSize = 16;
constexpr std::size_t kCryptoApiVerifierHashSize = 20;

// Why the pages of a file cannot be opened.
class EncryptionError : public std::runtime_error {
 public:
  enum class Kind {
    kWrongPassword,  // the password does not open the file (or none was given)
    kDamaged,        // the description of the encryption does not hold together
    kUnsupported,    // a provider or algorithm this program cannot use
  };
  EncryptionError(Kind kind, const std::string& detail) : std::runtime_error(detail), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Turns the pages of one file into their plain bytes and back. Page 0 is never changed. Safe to
// use from several threads.
class PageCodec {
 public:
  virtual ~PageCodec() = default;
  // `size` bytes of page `page` as stored, made plain in place.
  virtual void decode(std::uint32_t page, unsigned char* data, std::size_t size) const = 0;
  // `size` bytes of plain page `page`, made as they are stored, in place.
  virtual void encode(std::uint32_t page, unsigned char* data, std::size_t size) const = 0;
  void decode(std::uint32_t page, Bytes& data) const { decode(page, data.data(), data.size()); }
  void encode(std::uint32_t page, Bytes& data) const { encode(page, data.data(), data.size()); }
};

// The codec of a file whose page 0 is `page0` (`size` bytes, at least the header) and whose
// header is `header`, opened with `password` (UTF-8; only encrypted .accdb files use it). Gives
// nullptr when the pages are stored plainly. Throws EncryptionError; a wrong password costs the
// key derivation, no more.
std::unique_ptr<PageCodec> OpenPageCodec(const JetHeader& header, const unsigned char* page0,
                                         std::size_t size, const std::string& password);

// ---- making encrypted files (tests, benchmarks, tools) ------------------------------------

struct AgileParameters {
  std::string cipher = "AES";
  int keyBits = 256;
  std::string chaining = "ChainingModeCBC";
  std::string hash = "SHA512";
  std::uint32_t spinCount = 100000;
};

// The description (the n bytes after the count at 0x299) of a new agile encryption with
// `password`, with fresh random salts and key.
Bytes MakeAgileEncryptionInfo(const std::string& password, const AgileParameters& parameters);
// The description of a new RC4 CryptoAPI encryption with `password` and a key of `keyBits`
// (40 to 128 in steps of 8), with a fresh random salt and verifier.
Bytes MakeRc4CryptoApiEncryptionInfo(const std::string& password, int keyBits);

// A random page key for a newly encrypted file (never zero).
std::uint32_t NewPageKey();

// Makes page 0 of a plain ACE file (`size` bytes) that of a file encrypted as `info` says with
// the page key `pageKey` (not zero): writes the key into the header and the description at
// 0x299. Throws std::invalid_argument when the page is not that of a plain ACE file or the
// description does not fit.
void MarkHeaderEncrypted(unsigned char* page0, std::size_t size, std::uint32_t pageKey,
                         const Bytes& info);

}  // namespace db::access::format
