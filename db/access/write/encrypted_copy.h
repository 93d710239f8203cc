// An encrypted copy of a plain .accdb file, as Access makes one when a database password is set:
// page 0 gets a page key and the description of the encryption (format/encryption.h), and every
// other page is encrypted with the key that description gives for `password`. Used by the tests
// and benchmarks to make encrypted files of any content and encryption parameters.
#pragma once

#include <string>

#include "db/access/format/bytes.h"

namespace db::access::write {

// Writes the encrypted copy of the plain ACE file `from` to `to` (which must not exist), page by
// page. `info` is a description made by format::MakeAgileEncryptionInfo or
// format::MakeRc4CryptoApiEncryptionInfo for `password`. Throws db::Error.
void WriteEncryptedCopy(const std::string& from, const std::string& to, const format::Bytes& info,
                        const std::string& password);

}  // namespace db::access::write
