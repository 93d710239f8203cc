// Makes an encrypted copy of a plain .accdb file, as Access does when a database password is
// set, for the benchmarks of encrypted files (bench/encrypted.sh): agile encryption with the
// parameters Access 2010 to 2019 use (AES-256, SHA-512, spin count 100,000), or RC4 CryptoAPI
// with a 128-bit key.
//
//   make_encrypted_copy FROM TO PASSWORD [agile|rc4]      (TO must not exist)
#include <cstdio>
#include <exception>
#include <string>

#include "db/access/format/encryption.h"
#include "db/access/write/encrypted_copy.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: %s FROM TO PASSWORD [agile|rc4]\n", argv[0]);
    return 2;
  }
  const std::string scheme = argc == 5 ? argv[4] : "agile";
  if (scheme != "agile" && scheme != "rc4") {
    std::fprintf(stderr, "the scheme is agile or rc4\n");
    return 2;
  }
  try {
    using namespace db::access::format;
    Bytes info = scheme == "agile" ? MakeAgileEncryptionInfo(argv[3], {})
                                   : MakeRc4CryptoApiEncryptionInfo(argv[3], 128);
    db::access::write::WriteEncryptedCopy(argv[1], argv[2], info, argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
