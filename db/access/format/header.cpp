#include "db/access/format/header.h"

#include <QString>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "db/access/format/bytes.h"
#include "db/access/format/pages.h"

namespace db::access::format {
namespace {

constexpr unsigned char kMagic[] = {kHeaderPage, kPageMark, 0x00, 0x00};
constexpr int kLastKnownVersion = 6;  // ACE 17 (Access 2019)
// The range of OLE dates: 1 January 100 to 31 December 9999.
constexpr double kFirstOleDate = -657434;
constexpr double kPastLastOleDate = 2958466;

// The four mask bytes of a Jet 4 password: the whole days of the creation date.
std::array<unsigned char, 4> PasswordMask(double creationDate) {
  std::array<unsigned char, 4> mask{};
  if (!std::isfinite(creationDate)) return mask;
  double days = std::floor(creationDate);
  if (days < std::numeric_limits<std::int32_t>::min() ||
      days > std::numeric_limits<std::int32_t>::max())
    return mask;
  auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(days));
  Put32(mask.data(), value);
  return mask;
}

// A character a person can type into a password box: no control character, no lone half of a
// surrogate pair, nothing Unicode leaves unassigned. (Single-byte text is in the file's code
// page, whose bytes from 0x80 on are letters and signs.)
bool TypableCharacter(char32_t c, bool singleByte) {
  if (singleByte) return c >= 0x20 && c != 0x7F;
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || QChar::isNonCharacter(c)) return false;
  QChar::Category category = QChar::category(c);
  return category != QChar::Other_Control && category != QChar::Other_Surrogate &&
         category != QChar::Other_NotAssigned;
}

// Reads a password field of `units` characters of `unitSize` bytes each (already unmasked):
// the text up to the first NUL character. Sets `wellFormed` to whether the field holds typable
// characters followed by nothing but NULs.
std::u16string PasswordField(const unsigned char* p, std::size_t units, std::size_t unitSize,
                             bool& wellFormed) {
  std::u16string text;
  std::size_t i = 0;
  for (; i < units; ++i) {
    auto unit = static_cast<char16_t>(unitSize == 1 ? p[i] : Get16(p + 2 * i));
    if (unit == 0) break;
    text.push_back(unit);
  }
  wellFormed = true;
  for (std::size_t k = i * unitSize; k < units * unitSize; ++k)
    if (p[k] != 0) wellFormed = false;
  for (std::size_t k = 0; k < text.size() && wellFormed; ++k) {
    char32_t c = text[k];
    if (unitSize == 2 && QChar::isHighSurrogate(c) && k + 1 < text.size() &&
        QChar::isLowSurrogate(text[k + 1])) {
      c = QChar::surrogateToUcs4(text[k], text[k + 1]);
      ++k;
    }
    wellFormed = TypableCharacter(c, unitSize == 1);
  }
  return text;
}

// The agile description: an XML text whose root is <encryption>.
bool AgileEncryptionInfo(const unsigned char* p, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(p), size);
  while (!text.empty() &&
         (text.back() == '\0' || std::isspace(static_cast<unsigned char>(text.back()))))
    text.pop_back();
  for (unsigned char c : text)
    if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') return false;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  constexpr std::string_view kEnd = "</encryption>";
  return (text.rfind("<?xml", 0) == 0 || text.rfind("<encryption", 0) == 0) &&
         text.find("<encryption") != std::string::npos && text.size() >= kEnd.size() &&
         text.compare(text.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
}

// The CryptoAPI description (RC4, or AES): header, then verifier.
bool CryptoApiEncryptionInfo(const unsigned char* p, std::size_t size) {
  constexpr std::uint32_t kRc4 = 0x6801, kAes128 = 0x660E, kAes192 = 0x660F, kAes256 = 0x6610;
  constexpr std::uint32_t kSha1 = 0x8004;
  constexpr std::size_t kFixedHeader = 32, kSaltSize = 16, kVerifierSize = 16, kSha1Size = 20;
  if (size < 4) return false;
  std::size_t headerSize = Get32(p);
  if (headerSize < kFixedHeader + 2 || headerSize > size - 4) return false;
  const unsigned char* h = p + 4;
  std::uint32_t algorithm = Get32(h + 8), hash = Get32(h + 12), keyBits = Get32(h + 16);
  if (Get32(h + 4) != 0) return false;  // no extra data
  bool rc4 = algorithm == kRc4 || (algorithm == 0 && !(Get32(h) & 0x20));
  bool aes = algorithm == kAes128 || algorithm == kAes192 || algorithm == kAes256 ||
             (algorithm == 0 && (Get32(h) & 0x20));
  if (!rc4 && !aes) return false;
  if (hash != 0 && hash != kSha1) return false;
  if (rc4 ? keyBits != 0 && (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
          : keyBits != 128 && keyBits != 192 && keyBits != 256)
    return false;
  // The provider's name: UTF-16, NUL-terminated.
  if ((headerSize - kFixedHeader) % 2 != 0 || h[headerSize - 1] != 0 || h[headerSize - 2] != 0)
    return false;
  const unsigned char* v = h + headerSize;
  std::size_t left = size - 4 - headerSize;
  std::size_t hashBytes = rc4 ? kSha1Size : 32;
  return left >= 4 + kSaltSize + kVerifierSize + 4 + hashBytes && Get32(v) == kSaltSize &&
         Get32(v + 4 + kSaltSize + kVerifierSize) == kSha1Size;
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
  constexpr std::size_t kNeeded = kEncryptedStart + kEncryptedSize;
  if (size < kNeeded || std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(bytes + kHeaderTextAt);
  if (std::memcmp(text, kJetText, sizeof kJetText) != 0 &&
      std::memcmp(text, kAceText, sizeof kAceText) != 0)
    return std::nullopt;

  JetHeader header;
  header.version = bytes[kVersionAt];
  if (header.version > kLastKnownVersion) return std::nullopt;
  header.pageSize = header.isJet3() ? kJet3PageSize : kPageSize;

  unsigned char plain[kNeeded];
  std::memcpy(plain, bytes, kNeeded);
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, plain + kEncryptedStart,
           header.isJet3() ? kJet3EncryptedSize : kEncryptedSize);

  header.codePage = Get16(plain + kCodePageAt);
  header.pageKey = Get32(plain + kPageKeyAt);
  bool wellFormed = true;
  std::u16string password;
  if (header.isJet3()) {
    // Single-byte text in the file's code page; read as Latin-1, which covers the Western code
    // page's letters.
    password = PasswordField(plain + kPasswordAt, 20, 1, wellFormed);
  } else {
    double created = GetDouble(plain + kCreationDateAt);
    if (!std::isfinite(created) || created < kFirstOleDate || created >= kPastLastOleDate)
      header.flaw = "the creation date in the header is damaged";
    std::array<unsigned char, 4> mask = PasswordMask(created);
    for (std::size_t i = 0; i < 40; ++i) plain[kPasswordAt + i] ^= mask[i % 4];
    password = PasswordField(plain + kPasswordAt, 20, 2, wellFormed);
  }
  header.password = QString::fromStdU16String(password).toStdString();
  if (!wellFormed || (header.isAce() && !password.empty()))
    header.flaw = "the password field of the header is damaged";
  return header;
}

bool HasOfficeEncryptionInfo(const unsigned char* page, std::size_t size) {
  constexpr std::uint16_t kAgileVersion = 4, kCryptoApiMinor = 2;
  constexpr std::uint32_t kAgileFlags = 0x40, kCryptoApiFlag = 0x04;
  if (size < kEncryptionInfoAt + 2) return false;
  std::size_t start = kEncryptionInfoAt + 2;
  std::size_t length = Get16(page + kEncryptionInfoAt);
  if (length < 8 || start + length > size) return false;
  std::uint16_t major = Get16(page + start), minor = Get16(page + start + 2);
  std::uint32_t flags = Get32(page + start + 4);
  const unsigned char* body = page + start + 8;
  if (major == kAgileVersion && minor == kAgileVersion && flags == kAgileFlags)
    return AgileEncryptionInfo(body, length - 8);
  if (major >= 2 && major <= 4 && minor == kCryptoApiMinor && (flags & kCryptoApiFlag))
    return CryptoApiEncryptionInfo(body, length - 8);
  return false;
}

bool PasswordAccepted(const JetHeader& header, const std::string& given) {
  return header.password.empty() || header.password == given;
}

}  // namespace db::access::format
