#include "db/access/write/encrypted_copy.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include "db/access/format/encryption.h"
#include "db/access/format/pages.h"
#include "db/base/error.h"

namespace db::access::write {

using namespace db::access::format;

void WriteEncryptedCopy(const std::string& from, const std::string& to, const Bytes& info,
                        const std::string& password) {
  auto fail = [&](const std::string& why) {
    throw Error(errc::kFailed, "Cannot make an encrypted copy of '" + from + "': " + why + ".");
  };
  if (std::filesystem::exists(to)) fail("'" + to + "' exists");
  std::ifstream in(from, std::ios::binary);
  if (!in) fail("it cannot be read");
  Bytes page(kPageSize);
  if (!in.read(reinterpret_cast<char*>(page.data()), kPageSize)) fail("it is shorter than a page");
  std::unique_ptr<PageCodec> codec;
  try {
    MarkHeaderEncrypted(page.data(), page.size(), NewPageKey(), info);
    std::optional<JetHeader> header = ParseJetHeader(page.data(), page.size());
    codec = OpenPageCodec(*header, page.data(), page.size(), password);
  } catch (const std::exception& e) {
    fail(e.what());
  }
  std::ofstream out(to, std::ios::binary);
  if (!out) fail("'" + to + "' cannot be written");
  out.write(reinterpret_cast<const char*>(page.data()), kPageSize);
  for (std::uint32_t p = 1; in.read(reinterpret_cast<char*>(page.data()), kPageSize); ++p) {
    codec->encode(p, page);
    out.write(reinterpret_cast<const char*>(page.data()), kPageSize);
  }
  if (in.gcount() != 0) fail("it does not end on a page boundary");
  out.close();
  if (!out) fail("'" + to + "' could not be written whole");
}

}  // namespace db::access::write
