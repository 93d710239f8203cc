// The description of an encrypted .accdb file's encryption (page 0 from 0x299, see
// db/access/format/encryption.h): the input is page 0 of a file (cut or padded with zeros to a
// page). Reading it, checking it and opening a page codec with the fixtures' passwords may only
// fail with format::EncryptionError; a codec that opens turns pages back to what they were.
// Descriptions with a spin count above 5,000 are only checked, not opened: each opening would
// hash that many times, which is what the spin count is for.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "db/access/format/encryption.h"
#include "db/access/format/header.h"
#include "db/access/format/pages.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace db::access::format;

bool CheapToOpen(const Bytes& page) {
  const std::string text(page.begin(), page.end());
  std::size_t at = text.find("spinCount=\"");
  if (at == std::string::npos) return true;
  std::size_t digits = 0;
  std::uint64_t value = 0;
  for (std::size_t i = at + 11; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  return digits <= 4 && value <= 5000;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes page(data, data + std::min(size, kPageSize));
  page.resize(kPageSize, 0);
  std::optional<JetHeader> header = ParseJetHeader(page.data(), page.size());
  (void)HasOfficeEncryptionInfo(page.data(), page.size());
  if (!header || !CheapToOpen(page)) return 0;
  for (const char* password : {"password", "Test123"}) {
    try {
      std::unique_ptr<PageCodec> codec = OpenPageCodec(*header, page.data(), page.size(), password);
      if (!codec) continue;
      Bytes plain(kPageSize);
      for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i * 7);
      Bytes stored = plain;
      codec->encode(5, stored);
      codec->decode(5, stored);
      if (stored != plain) fuzz::Violation("a page does not decode to what was encoded");
    } catch (const EncryptionError&) {
    }
  }
  return 0;
}
