#include "db/jet_header.h"

#include <QString>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace db {
namespace {

constexpr unsigned char kMagic[] = {0x00, 0x01, 0x00, 0x00};
constexpr char kJetText[] = "Standard Jet DB";
constexpr char kAceText[] = "Standard ACE DB";
constexpr std::size_t kTextOffset = 0x04;
constexpr std::size_t kVersionOffset = 0x14;
constexpr std::size_t kEncryptedStart = 0x18;
constexpr std::size_t kCodePageOffset = 0x3C;
constexpr std::size_t kPageKeyOffset = 0x3E;
constexpr std::size_t kPasswordOffset = 0x42;
constexpr std::size_t kCreationDateOffset = 0x72;
constexpr unsigned char kHeaderKey[] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr int kLastKnownVersion = 6;  // ACE 17 (Access 2019)

std::uint16_t Le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

double LeDouble(const unsigned char* p) {
  std::uint64_t bits = Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// The four mask bytes of a Jet 4 password: the whole days of the creation date.
std::array<unsigned char, 4> PasswordMask(double creationDate) {
  std::array<unsigned char, 4> mask{};
  if (!std::isfinite(creationDate)) return mask;
  double days = std::floor(creationDate);
  if (days < std::numeric_limits<std::int32_t>::min() ||
      days > std::numeric_limits<std::int32_t>::max())
    return mask;
  auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(days));
  for (int i = 0; i < 4; ++i) mask[i] = static_cast<unsigned char>(value >> (8 * i));
  return mask;
}

std::string Jet3Password(const unsigned char* p) {
  std::size_t n = 0;
  while (n < 20 && p[n] != 0) ++n;
  // Single-byte text in the file's code page; Latin-1 covers the Western code page's letters.
  return QString::fromLatin1(reinterpret_cast<const char*>(p), static_cast<qsizetype>(n))
      .toStdString();
}

std::string Jet4Password(const unsigned char* p, const std::array<unsigned char, 4>& mask) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < 40; i += 2) {
    auto unit = static_cast<char16_t>((p[i] ^ mask[i % 4]) | ((p[i + 1] ^ mask[(i + 1) % 4]) << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return QString::fromStdU16String(text).toStdString();
}

}  // namespace

void Rc4Apply(const unsigned char* key, std::size_t keySize, unsigned char* data,
              std::size_t size) {
  unsigned char s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  unsigned j = 0;
  for (int i = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % keySize]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  unsigned a = 0;
  j = 0;
  for (std::size_t n = 0; n < size; ++n) {
    a = (a + 1) & 0xFF;
    j = (j + s[a]) & 0xFF;
    std::swap(s[a], s[j]);
    data[n] ^= s[(s[a] + s[j]) & 0xFF];
  }
}

std::optional<JetHeader> ParseJetHeader(const unsigned char* bytes, std::size_t size) {
  constexpr std::size_t kNeeded = kEncryptedStart + 128;
  if (size < kNeeded || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(bytes + kTextOffset);
  if (std::memcmp(text, kJetText, sizeof kJetText) != 0 &&
      std::memcmp(text, kAceText, sizeof kAceText) != 0)
    return std::nullopt;

  JetHeader header;
  header.version = bytes[kVersionOffset];
  if (header.version > kLastKnownVersion) return std::nullopt;
  header.pageSize = header.isJet3() ? 2048 : 4096;

  unsigned char plain[kNeeded];
  std::memcpy(plain, bytes, kNeeded);
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, plain + kEncryptedStart, header.isJet3() ? 126 : 128);

  header.codePage = Le16(plain + kCodePageOffset);
  header.pageKey = Le32(plain + kPageKeyOffset);
  if (header.isJet3()) {
    header.password = Jet3Password(plain + kPasswordOffset);
  } else {
    header.password =
        Jet4Password(plain + kPasswordOffset, PasswordMask(LeDouble(plain + kCreationDateOffset)));
  }
  return header;
}

bool PasswordAccepted(const JetHeader& header, const std::string& given) {
  return header.password.empty() || header.password == given;
}

}  // namespace db
