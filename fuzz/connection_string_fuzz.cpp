// The connection string on any text, and its round trip: the input is a path and a password
// (split at the first NUL byte); the string built for them must read back as exactly them.
// The whole input is also parsed as a connection string, which may only fail with db::Error.
#include <cstddef>
#include <cstdint>
#include <string>

#include "db/connection_string.h"
#include "db/base/error.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    (void)db::ParseConnectionString(text);
  } catch (const db::Error&) {
  }

  const std::size_t nul = text.find('\0');
  const std::string path = text.substr(0, nul);
  const std::string password = nul == std::string::npos ? "" : text.substr(nul + 1);
  const std::string built = db::BuildConnectionString(path, password);
  try {
    db::ConnectionSettings parsed = db::ParseConnectionString(built);
    if (parsed.dataSource != path || parsed.password != password)
      fuzz::Violation("\"" + built + "\" reads back as path \"" + parsed.dataSource +
                      "\" and password \"" + parsed.password + "\"");
  } catch (const db::Error& e) {
    fuzz::Violation("\"" + built + "\" cannot be read back: " + e.description());
  }
  return 0;
}
