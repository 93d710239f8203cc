#include "db/access/format/encryption.h"

#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <utility>

namespace db::access::format {
namespace {

using Kind = EncryptionError::Kind;

[[noreturn]] void Fail(Kind kind, const std::string& detail) {
  throw EncryptionError(kind, detail);
}
[[noreturn]] void Damaged(const std::string& detail) {
  Fail(Kind::kDamaged, "the description of its encryption is damaged: " + detail);
}

// ---- OpenSSL ---------------------------------------------------------------------------------

// The algorithms come from a library context of our own, with OpenSSL's default provider and its
// legacy provider (which holds RC4), so that the process's own context stays as it was.
struct OpenSslContext {
  OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
  OpenSslContext() {
    if (context) {
      OSSL_PROVIDER_load(context, "default");
      OSSL_PROVIDER_load(context, "legacy");
    }
  }
};
OSSL_LIB_CTX* Library() {
  static OpenSslContext library;  // lives as long as the process
  return library.context;
}

struct MdFree {
  void operator()(EVP_MD* p) const { EVP_MD_free(p); }
};
struct CipherFree {
  void operator()(EVP_CIPHER* p) const { EVP_CIPHER_free(p); }
};
struct MdContextFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
};
using Md = std::unique_ptr<EVP_MD, MdFree>;
using Cipher = std::unique_ptr<EVP_CIPHER, CipherFree>;
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

[[noreturn]] void OpenSslFailed(const char* what) {
  throw std::runtime_error(std::string("OpenSSL failed to ") + what);
}

// A hash by its name in the agile description ("SHA512") or OpenSSL's.
Md FetchHash(const std::string& name) {
  static const std::map<std::string, const char*> kNames = {
      {"SHA1", "SHA1"},     {"SHA-1", "SHA1"},    {"SHA256", "SHA256"},
      {"SHA384", "SHA384"}, {"SHA512", "SHA512"}, {"MD5", "MD5"}};
  static const char* const kOthers[] = {"MD4", "RIPEMD-128", "RIPEMD-160", "WHIRLPOOL"};
  auto it = kNames.find(name);
  if (it == kNames.end()) {
    if (std::find(std::begin(kOthers), std::end(kOthers), name) == std::end(kOthers))
      Damaged("it names the unknown hash '" + name + "'");
    Fail(Kind::kUnsupported, "its encryption uses the hash '" + name + "'");
  }
  Md md(EVP_MD_fetch(Library(), it->second, nullptr));
  if (!md) Fail(Kind::kUnsupported, "OpenSSL does not provide the hash " + name);
  return md;
}

// A block cipher by the agile description's names.
Cipher FetchBlockCipher(const std::string& algorithm, int keyBits, const std::string& chaining) {
  std::string mode;
  if (chaining == "ChainingModeCBC")
    mode = "CBC";
  else if (chaining == "ChainingModeCFB")
    mode = "CFB8";
  else
    Damaged("it names the unknown chaining '" + chaining + "'");
  std::string name;
  if (algorithm == "AES" && keyBits != 128 && keyBits != 192 && keyBits != 256)
    Damaged("an AES key of " + std::to_string(keyBits) + " bits");
  if (algorithm == "AES")
    name = "AES-" + std::to_string(keyBits) + "-" + mode;
  else if (algorithm == "DES")
    name = "DES-" + mode;
  else if (algorithm == "3DES")
    name = "DES-EDE3-" + mode;
  else if (algorithm == "3DES_112")
    name = "DES-EDE-" + mode;
  else if (algorithm == "RC2" || algorithm == "RC4" || algorithm == "DESX")
    Fail(Kind::kUnsupported, "its encryption uses the cipher '" + algorithm + "' with " +
                                 std::to_string(keyBits) + "-bit keys");
  else
    Damaged("it names the unknown cipher '" + algorithm + "'");
  Cipher cipher(EVP_CIPHER_fetch(Library(), name.c_str(), nullptr));
  if (!cipher) Fail(Kind::kUnsupported, "OpenSSL does not provide the cipher " + name);
  if (EVP_CIPHER_get_key_length(cipher.get()) * 8 != keyBits)
    Damaged("a " + algorithm + " key of " + std::to_string(keyBits) + " bits");
  return cipher;
}

Cipher FetchRc4() {
  Cipher cipher(EVP_CIPHER_fetch(Library(), "RC4", nullptr));
  if (!cipher)
    Fail(Kind::kUnsupported,
         "RC4 is not available (OpenSSL's legacy provider, ossl-modules/legacy.so, is missing)");
  return cipher;
}

struct Span {
  const unsigned char* data;
  std::size_t size;
  Span(const Bytes& b) : data(b.data()), size(b.size()) {}
  Span(const unsigned char* d, std::size_t n) : data(d), size(n) {}
};

Bytes Hash(const EVP_MD* md, std::initializer_list<Span> parts) {
  MdContext context(EVP_MD_CTX_new());
  if (!context || !EVP_DigestInit_ex2(context.get(), md, nullptr)) OpenSslFailed("start a hash");
  for (const Span& part : parts)
    if (!EVP_DigestUpdate(context.get(), part.data, part.size)) OpenSslFailed("hash");
  Bytes out(EVP_MD_get_size(md));
  unsigned int length = 0;
  if (!EVP_DigestFinal_ex(context.get(), out.data(), &length)) OpenSslFailed("end a hash");
  out.resize(length);
  return out;
}

Bytes FixLength(Bytes bytes, std::size_t size, unsigned char pad) {
  bytes.resize(size, pad);
  return bytes;
}

Bytes Le32(std::uint32_t value) {
  Bytes b(4);
  Put32(b.data(), value);
  return b;
}

// Runs a cipher over `size` bytes in place, without padding. `keySize` sets the key length of a
// cipher whose keys vary (RC4).
void Crypt(const EVP_CIPHER* cipher, const Bytes& key, const unsigned char* iv, unsigned char* data,
           std::size_t size, bool encrypt) {
  CipherContext context(EVP_CIPHER_CTX_new());
  int enc = encrypt ? 1 : 0;
  if (!context || !EVP_CipherInit_ex2(context.get(), cipher, nullptr, nullptr, enc, nullptr))
    OpenSslFailed("start a cipher");
  if (EVP_CIPHER_CTX_get_key_length(context.get()) != static_cast<int>(key.size()) &&
      !EVP_CIPHER_CTX_set_key_length(context.get(), static_cast<int>(key.size())))
    OpenSslFailed("set a key length");
  if (!EVP_CipherInit_ex2(context.get(), nullptr, key.data(), iv, enc, nullptr))
    OpenSslFailed("set a key");
  EVP_CIPHER_CTX_set_padding(context.get(), 0);
  int written = 0, last = 0;
  if (!EVP_CipherUpdate(context.get(), data, &written, data, static_cast<int>(size)) ||
      !EVP_CipherFinal_ex(context.get(), data + written, &last) ||
      static_cast<std::size_t>(written + last) != size)
    OpenSslFailed("run a cipher");
}

Bytes PasswordBytes(const std::string& password) {
  std::u16string units =
      QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size())).toStdU16String();
  if (units.size() > kMaxOfficePasswordUnits) units.resize(kMaxOfficePasswordUnits);
  Bytes bytes(units.size() * 2);
  for (std::size_t i = 0; i < units.size(); ++i) Put16(bytes.data() + 2 * i, units[i]);
  return bytes;
}

Bytes RandomBytes(std::size_t size) {
  Bytes bytes(size);
  if (size && RAND_bytes_ex(Library(), bytes.data(), size, 0) != 1)
    OpenSslFailed("give random bytes");
  return bytes;
}

// ---- Jet: RC4 with the database key ----------------------------------------------------------

class JetKeyCodec : public PageCodec {
 public:
  explicit JetKeyCodec(std::uint32_t key) : key_(key) {}
  void decode(std::uint32_t page, unsigned char* data, std::size_t size) const override {
    apply(page, data, size);
  }
  void encode(std::uint32_t page, unsigned char* data, std::size_t size) const override {
    apply(page, data, size);
  }

 private:
  void apply(std::uint32_t page, unsigned char* data, std::size_t size) const {
    if (page == 0) return;
    unsigned char k[4];
    Put32(k, key_ ^ page);
    Rc4Apply(k, sizeof k, data, size);
  }
  std::uint32_t key_;
};

// ---- RC4 CryptoAPI ---------------------------------------------------------------------------

class Rc4CryptoApiCodec : public PageCodec {
 public:
  // `body` is the description after version and flags.
  Rc4CryptoApiCodec(std::uint32_t pageKey, const unsigned char* body, std::size_t size,
                    const Bytes& password)
      : pageKey_(pageKey), rc4_(FetchRc4()), sha1_(FetchHash("SHA1")) {
    if (size < 4) Damaged("it is cut short");
    std::size_t headerSize = Get32(body);
    if (headerSize < kCryptoApiFixedHeader + 2 || headerSize > size - 4)
      Damaged("its header size is " + std::to_string(headerSize));
    const unsigned char* h = body + 4;
    std::uint32_t flags = Get32(h), algorithm = Get32(h + 8), keyBits = Get32(h + 16);
    if (algorithm != kCryptoApiRc4 && !(algorithm == 0 && !(flags & kCryptoApiAesFlag)))
      Fail(Kind::kUnsupported, "its CryptoAPI encryption is not RC4");
    if (keyBits == 0) {
      // The provider's default: the base provider's 40 bits, the others' 128.
      std::u16string name;
      for (std::size_t at = kCryptoApiFixedHeader; at + 1 < headerSize; at += 2)
        if (char16_t c = Get16(h + at)) name.push_back(c);
      QString provider = QString::fromStdU16String(name).trimmed();
      keyBits = provider.isEmpty() || provider.contains(u" Base ", Qt::CaseInsensitive) ? 40 : 128;
    }
    if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
      Damaged("an RC4 key of " + std::to_string(keyBits) + " bits");
    keyBits_ = keyBits;

    const unsigned char* v = h + headerSize;
    std::size_t left = size - 4 - headerSize;
    constexpr std::size_t kVerifier =
        4 + kCryptoApiSaltSize + kCryptoApiVerifierSize + 4 + kCryptoApiVerifierHashSize;
    if (left < kVerifier || Get32(v) != kCryptoApiSaltSize ||
        Get32(v + 4 + kCryptoApiSaltSize + kCryptoApiVerifierSize) != kCryptoApiVerifierHashSize)
      Damaged("its verifier is not one of RC4 with SHA-1");
    Bytes salt(v + 4, v + 4 + kCryptoApiSaltSize);
    h0_ = Hash(sha1_.get(), {salt, password});

    // The verifier and its hash are one RC4 stream with the key of block 0.
    Bytes check(v + 4 + kCryptoApiSaltSize, v + 4 + kCryptoApiSaltSize + kCryptoApiVerifierSize);
    const unsigned char* hash = v + 4 + kCryptoApiSaltSize + kCryptoApiVerifierSize + 4;
    check.insert(check.end(), hash, hash + kCryptoApiVerifierHashSize);
    Crypt(rc4_.get(), blockKey(0), nullptr, check.data(), check.size(), false);
    Bytes expected = Hash(sha1_.get(), {Span(check.data(), kCryptoApiVerifierSize)});
    if (!std::equal(expected.begin(), expected.end(), check.begin() + kCryptoApiVerifierSize))
      Fail(Kind::kWrongPassword, "the password does not open the file");
  }

  void decode(std::uint32_t page, unsigned char* data, std::size_t size) const override {
    if (page != 0) Crypt(rc4_.get(), blockKey(pageKey_ ^ page), nullptr, data, size, false);
  }
  void encode(std::uint32_t page, unsigned char* data, std::size_t size) const override {
    if (page != 0) Crypt(rc4_.get(), blockKey(pageKey_ ^ page), nullptr, data, size, true);
  }

 private:
  Bytes blockKey(std::uint32_t block) const {
    Bytes key = FixLength(Hash(sha1_.get(), {h0_, Le32(block)}), keyBits_ / 8, 0);
    if (keyBits_ == 40) key.resize(16, 0);
    return key;
  }

  std::uint32_t pageKey_;
  Cipher rc4_;
  Md sha1_;
  Bytes h0_;
  std::uint32_t keyBits_ = 0;
};

// ---- agile -----------------------------------------------------------------------------------

struct AgileKey {
  std::string cipher, chaining, hash;
  std::uint32_t saltSize = 0, blockSize = 0, keyBits = 0, hashSize = 0;
  Bytes salt;
};

struct AgileDescription {
  AgileKey data;
  AgileKey password;
  std::uint32_t spinCount = 0;
  Bytes verifierInput, verifierHash, keyValue;
};

std::uint32_t NumberAttribute(const QXmlStreamAttributes& attributes, const char* name) {
  bool ok = false;
  std::uint32_t value = attributes.value(QLatin1String(name)).toUInt(&ok);
  if (!ok) Damaged(std::string("the attribute ") + name + " is missing or not a number");
  return value;
}

std::string TextAttribute(const QXmlStreamAttributes& attributes, const char* name) {
  if (!attributes.hasAttribute(QLatin1String(name)))
    Damaged(std::string("the attribute ") + name + " is missing");
  return attributes.value(QLatin1String(name)).toString().toStdString();
}

Bytes Base64Attribute(const QXmlStreamAttributes& attributes, const char* name) {
  QByteArray text = attributes.value(QLatin1String(name)).toLatin1();
  auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
  if (!attributes.hasAttribute(QLatin1String(name)) ||
      decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok || decoded.decoded.isEmpty())
    Damaged(std::string("the attribute ") + name + " is missing or not base64");
  return Bytes(decoded.decoded.begin(), decoded.decoded.end());
}

AgileKey ReadAgileKey(const QXmlStreamAttributes& a) {
  AgileKey key;
  key.saltSize = NumberAttribute(a, "saltSize");
  key.blockSize = NumberAttribute(a, "blockSize");
  key.keyBits = NumberAttribute(a, "keyBits");
  key.hashSize = NumberAttribute(a, "hashSize");
  key.cipher = TextAttribute(a, "cipherAlgorithm");
  key.chaining = TextAttribute(a, "cipherChaining");
  key.hash = TextAttribute(a, "hashAlgorithm");
  key.salt = Base64Attribute(a, "saltValue");
  if (key.salt.size() != key.saltSize) Damaged("a salt is not of its declared size");
  if (key.blockSize < 2 || key.blockSize > 4096) Damaged("a block size out of range");
  if (key.keyBits == 0 || key.keyBits % 8 != 0) Damaged("a key size out of range");
  return key;
}

AgileDescription ParseAgile(const unsigned char* xml, std::size_t size) {
  while (size > 0 && xml[size - 1] == 0) --size;
  QXmlStreamReader reader(
      QByteArray(reinterpret_cast<const char*>(xml), static_cast<qsizetype>(size)));
  AgileDescription d;
  bool keyData = false, passwordKey = false, inPasswordEncryptor = false;
  while (!reader.atEnd()) {
    QXmlStreamReader::TokenType token = reader.readNext();
    if (token == QXmlStreamReader::EndElement && reader.name() == u"keyEncryptor")
      inPasswordEncryptor = false;
    if (token != QXmlStreamReader::StartElement) continue;
    const QXmlStreamAttributes attributes = reader.attributes();
    if (reader.name() == u"keyData" && !keyData) {
      d.data = ReadAgileKey(attributes);
      keyData = true;
    } else if (reader.name() == u"keyEncryptor") {
      inPasswordEncryptor =
          attributes.value(QLatin1String("uri")) == QLatin1String(kPasswordKeyEncryptorUri);
    } else if (reader.name() == u"encryptedKey" && inPasswordEncryptor && !passwordKey) {
      d.password = ReadAgileKey(attributes);
      d.spinCount = NumberAttribute(attributes, "spinCount");
      d.verifierInput = Base64Attribute(attributes, "encryptedVerifierHashInput");
      d.verifierHash = Base64Attribute(attributes, "encryptedVerifierHashValue");
      d.keyValue = Base64Attribute(attributes, "encryptedKeyValue");
      passwordKey = true;
    }
  }
  if (reader.hasError())
    Damaged("its XML is not well-formed (" + reader.errorString().toStdString() + ")");
  if (!keyData) Damaged("it has no keyData");
  if (!passwordKey)
    Fail(Kind::kUnsupported,
         "its encryption is not opened by a password (no password key encryptor)");
  if (d.spinCount > kMaxSpinCount) Damaged("a spin count of " + std::to_string(d.spinCount));
  return d;
}

// The hash and cipher of one key of the description, checked against its declared sizes.
struct AgileAlgorithms {
  Md hash;
  Cipher cipher;
};
AgileAlgorithms Algorithms(const AgileKey& key) {
  AgileAlgorithms a{FetchHash(key.hash),
                    FetchBlockCipher(key.cipher, static_cast<int>(key.keyBits), key.chaining)};
  if (static_cast<std::uint32_t>(EVP_MD_get_size(a.hash.get())) != key.hashSize)
    Damaged("a hash size of " + std::to_string(key.hashSize) + " for " + key.hash);
  if (static_cast<std::uint32_t>(EVP_CIPHER_get_iv_length(a.cipher.get())) != key.blockSize)
    Damaged("a block size of " + std::to_string(key.blockSize) + " for " + key.cipher);
  return a;
}

// H(spinCount) of the password keys.
Bytes IteratedHash(const EVP_MD* md, const Bytes& salt, const Bytes& password,
                   std::uint32_t spinCount) {
  Bytes h = Hash(md, {salt, password});
  MdContext context(EVP_MD_CTX_new());
  if (!context) OpenSslFailed("start a hash");
  unsigned char counter[4];
  for (std::uint32_t i = 0; i < spinCount; ++i) {
    Put32(counter, i);
    unsigned int length = 0;
    if (!EVP_DigestInit_ex2(context.get(), md, nullptr) ||
        !EVP_DigestUpdate(context.get(), counter, 4) ||
        !EVP_DigestUpdate(context.get(), h.data(), h.size()) ||
        !EVP_DigestFinal_ex(context.get(), h.data(), &length))
      OpenSslFailed("hash");
  }
  return h;
}

Bytes PasswordKey(const EVP_MD* md, const Bytes& iterated, const unsigned char (&block)[8],
                  std::uint32_t keyBits) {
  return FixLength(Hash(md, {iterated, Span(block, 8)}), keyBits / 8, 0x36);
}

// Decrypts (or encrypts) one of the password's values; CBC needs whole blocks.
Bytes CryptValue(const AgileAlgorithms& a, const AgileKey& key, const Bytes& passwordKey,
                 Bytes value, bool encrypt) {
  if (EVP_CIPHER_get_mode(a.cipher.get()) == EVP_CIPH_CBC_MODE && value.size() % key.blockSize)
    Damaged("an encrypted value is not a whole number of blocks");
  Bytes iv = FixLength(key.salt, key.blockSize, 0x36);
  Crypt(a.cipher.get(), passwordKey, iv.data(), value.data(), value.size(), encrypt);
  return value;
}

class AgileCodec : public PageCodec {
 public:
  AgileCodec(std::uint32_t pageKey, const unsigned char* xml, std::size_t size,
             const Bytes& password)
      : pageKey_(pageKey) {
    AgileDescription d = ParseAgile(xml, size);
    AgileAlgorithms pw = Algorithms(d.password);
    AgileAlgorithms data = Algorithms(d.data);
    Bytes iterated = IteratedHash(pw.hash.get(), d.password.salt, password, d.spinCount);
    auto decrypt = [&](const unsigned char(&block)[8], const Bytes& value) {
      return CryptValue(pw, d.password,
                        PasswordKey(pw.hash.get(), iterated, block, d.password.keyBits), value,
                        false);
    };
    Bytes input = decrypt(kAgileVerifierInputBlock, d.verifierInput);
    Bytes hash = decrypt(kAgileVerifierHashBlock, d.verifierHash);
    if (input.size() < d.password.saltSize || hash.size() < d.password.hashSize)
      Damaged("its verifier is shorter than its salt or hash");
    Bytes expected = Hash(pw.hash.get(), {Span(input.data(), d.password.saltSize)});
    if (!std::equal(expected.begin(), expected.end(), hash.begin()))
      Fail(Kind::kWrongPassword, "the password does not open the file");
    key_ = decrypt(kAgileKeyValueBlock, d.keyValue);
    if (key_.size() < d.data.keyBits / 8) Damaged("its key value is shorter than its key");
    key_.resize(d.data.keyBits / 8);
    salt_ = d.data.salt;
    blockSize_ = d.data.blockSize;
    cbc_ = EVP_CIPHER_get_mode(data.cipher.get()) == EVP_CIPH_CBC_MODE;
    hash_ = std::move(data.hash);
    cipher_ = std::move(data.cipher);
  }

  void decode(std::uint32_t page, unsigned char* data, std::size_t size) const override {
    apply(page, data, size, false);
  }
  void encode(std::uint32_t page, unsigned char* data, std::size_t size) const override {
    apply(page, data, size, true);
  }

 private:
  void apply(std::uint32_t page, unsigned char* data, std::size_t size, bool encrypt) const {
    if (page == 0) return;
    if (cbc_ && size % blockSize_ != 0)
      throw std::invalid_argument("a page is not a whole number of cipher blocks");
    Bytes iv = FixLength(Hash(hash_.get(), {salt_, Le32(pageKey_ ^ page)}), blockSize_, 0x36);
    Crypt(cipher_.get(), key_, iv.data(), data, size, encrypt);
  }

  std::uint32_t pageKey_;
  Md hash_;
  Cipher cipher_;
  Bytes key_, salt_;
  std::size_t blockSize_ = 0;
  bool cbc_ = true;
};

std::string Base64(const Bytes& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()))
      .toBase64()
      .toStdString();
}

std::size_t RoundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

}  // namespace

std::unique_ptr<PageCodec> OpenPageCodec(const JetHeader& header, const unsigned char* page0,
                                         std::size_t size, const std::string& password) {
  if (header.pageKey == 0) return nullptr;
  if (!header.isAce()) return std::make_unique<JetKeyCodec>(header.pageKey);

  if (size < kEncryptionInfoAt + 2) Damaged("page 0 is cut short");
  std::size_t length = Get16(page0 + kEncryptionInfoAt);
  const unsigned char* info = page0 + kEncryptionInfoAt + 2;
  if (length < 8 || kEncryptionInfoAt + 2 + length > size)
    Damaged("its length is " + std::to_string(length));
  std::uint16_t major = Get16(info), minor = Get16(info + 2);
  std::uint32_t flags = Get32(info + 4);
  Bytes pw = PasswordBytes(password);
  if (major == kAgileVersion && minor == kAgileVersion && flags == kAgileFlags)
    return std::make_unique<AgileCodec>(header.pageKey, info + 8, length - 8, pw);
  if (major >= 2 && major <= 4 && minor == kCryptoApiMinorVersion && (flags & kCryptoApiFlag)) {
    if (flags & kCryptoApiAesFlag)
      Fail(Kind::kUnsupported,
           "it is encrypted with AES under a CryptoAPI header, which this "
           "program does not read");
    return std::make_unique<Rc4CryptoApiCodec>(header.pageKey, info + 8, length - 8, pw);
  }
  Fail(Kind::kUnsupported, "it is encrypted by an Office provider of version " +
                               std::to_string(major) + "." + std::to_string(minor) +
                               ", which this program does not read");
}

Bytes MakeAgileEncryptionInfo(const std::string& password, const AgileParameters& parameters) {
  AgileKey key;
  key.cipher = parameters.cipher;
  key.chaining = parameters.chaining;
  key.hash = parameters.hash;
  key.keyBits = static_cast<std::uint32_t>(parameters.keyBits);
  AgileAlgorithms a{FetchHash(key.hash),
                    FetchBlockCipher(key.cipher, parameters.keyBits, key.chaining)};
  key.blockSize = static_cast<std::uint32_t>(EVP_CIPHER_get_iv_length(a.cipher.get()));
  key.hashSize = static_cast<std::uint32_t>(EVP_MD_get_size(a.hash.get()));
  key.saltSize = 16;
  AgileKey data = key;
  data.salt = RandomBytes(16);
  key.salt = RandomBytes(16);

  Bytes fileKey = RandomBytes(key.keyBits / 8);
  Bytes verifier = RandomBytes(key.saltSize);
  Bytes iterated =
      IteratedHash(a.hash.get(), key.salt, PasswordBytes(password), parameters.spinCount);
  auto encrypt = [&](const unsigned char(&block)[8], Bytes value) {
    value.resize(RoundUp(value.size(), key.blockSize), 0);
    return CryptValue(a, key, PasswordKey(a.hash.get(), iterated, block, key.keyBits), value, true);
  };
  Bytes input = encrypt(kAgileVerifierInputBlock, verifier);
  Bytes hash = encrypt(kAgileVerifierHashBlock, Hash(a.hash.get(), {verifier}));
  Bytes value = encrypt(kAgileKeyValueBlock, fileKey);

  auto common = [](const AgileKey& k) {
    return "saltSize=\"" + std::to_string(k.saltSize) + "\" blockSize=\"" +
           std::to_string(k.blockSize) + "\" keyBits=\"" + std::to_string(k.keyBits) +
           "\" hashSize=\"" + std::to_string(k.hashSize) + "\" cipherAlgorithm=\"" + k.cipher +
           "\" cipherChaining=\"" + k.chaining + "\" hashAlgorithm=\"" + k.hash +
           "\" saltValue=\"" + Base64(k.salt) + "\"";
  };
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
      "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
      "<keyData " +
      common(data) + "/><keyEncryptors><keyEncryptor uri=\"" + kPasswordKeyEncryptorUri +
      "\"><p:encryptedKey spinCount=\"" + std::to_string(parameters.spinCount) + "\" " +
      common(key) + " encryptedVerifierHashInput=\"" + Base64(input) +
      "\" encryptedVerifierHashValue=\"" + Base64(hash) + "\" encryptedKeyValue=\"" +
      Base64(value) + "\"/></keyEncryptor></keyEncryptors></encryption>";
  Bytes info(8 + xml.size());
  Put16(info.data(), kAgileVersion);
  Put16(info.data() + 2, kAgileVersion);
  Put32(info.data() + 4, kAgileFlags);
  std::memcpy(info.data() + 8, xml.data(), xml.size());
  return info;
}

Bytes MakeRc4CryptoApiEncryptionInfo(const std::string& password, int keyBits) {
  if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
    throw std::invalid_argument("an RC4 key of 40 to 128 bits, in steps of 8");
  const std::u16string provider = keyBits == 40 ? u"Microsoft Base Cryptographic Provider v1.0"
                                                : u"Microsoft Enhanced Cryptographic Provider v1.0";
  Bytes header(kCryptoApiFixedHeader + 2 * (provider.size() + 1), 0);
  Put32(header.data(), kCryptoApiFlag);
  Put32(header.data() + 8, kCryptoApiRc4);
  Put32(header.data() + 12, kCryptoApiSha1);
  Put32(header.data() + 16, static_cast<std::uint32_t>(keyBits));
  Put32(header.data() + 20, 1);  // provider type: RSA full
  for (std::size_t i = 0; i < provider.size(); ++i)
    Put16(header.data() + kCryptoApiFixedHeader + 2 * i, provider[i]);

  Bytes salt = RandomBytes(kCryptoApiSaltSize);
  Bytes verifier = RandomBytes(kCryptoApiVerifierSize);
  Md sha1 = FetchHash("SHA1");
  Bytes secret = verifier;
  Bytes hash = Hash(sha1.get(), {verifier});
  secret.insert(secret.end(), hash.begin(), hash.end());
  Bytes key =
      FixLength(Hash(sha1.get(), {Hash(sha1.get(), {salt, PasswordBytes(password)}), Le32(0)}),
                static_cast<std::size_t>(keyBits / 8), 0);
  if (keyBits == 40) key.resize(16, 0);
  Cipher rc4 = FetchRc4();
  Crypt(rc4.get(), key, nullptr, secret.data(), secret.size(), true);

  Bytes info(8);
  Put16(info.data(), 4);
  Put16(info.data() + 2, kCryptoApiMinorVersion);
  Put32(info.data() + 4, kCryptoApiFlag);
  Append32(info, static_cast<std::uint32_t>(header.size()));
  info.insert(info.end(), header.begin(), header.end());
  Append32(info, kCryptoApiSaltSize);
  info.insert(info.end(), salt.begin(), salt.end());
  info.insert(info.end(), secret.begin(), secret.begin() + kCryptoApiVerifierSize);
  Append32(info, kCryptoApiVerifierHashSize);
  info.insert(info.end(), secret.begin() + kCryptoApiVerifierSize, secret.end());
  return info;
}

std::uint32_t NewPageKey() {
  std::uint32_t key = 0;
  while (key == 0) key = Get32(RandomBytes(4).data());
  return key;
}

void MarkHeaderEncrypted(unsigned char* page0, std::size_t size, std::uint32_t pageKey,
                         const Bytes& info) {
  std::optional<JetHeader> header = ParseJetHeader(page0, size);
  if (!header || !header->isAce() || header->pageKey != 0 || size < kEncryptionInfoEnd)
    throw std::invalid_argument("page 0 is not that of a plain ACE file");
  if (pageKey == 0 || info.size() > 0xFFFF ||
      kEncryptionInfoAt + 2 + info.size() > kEncryptionInfoEnd)
    throw std::invalid_argument("a page key of zero, or a description that does not fit");
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, page0 + kEncryptedStart, kEncryptedSize);
  Put32(page0 + kPageKeyAt, pageKey);
  Rc4Apply(kHeaderKey, sizeof kHeaderKey, page0 + kEncryptedStart, kEncryptedSize);
  std::memset(page0 + kEncryptionInfoAt, 0, kEncryptionInfoEnd - kEncryptionInfoAt);
  Put16(page0 + kEncryptionInfoAt, static_cast<std::uint32_t>(info.size()));
  std::memcpy(page0 + kEncryptionInfoAt + 2, info.data(), info.size());
}

}  // namespace db::access::format
