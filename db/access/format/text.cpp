#include "db/access/format/text.h"

#include <algorithm>

namespace db::access::format {

Bytes EncodeText(const std::u16string& text, bool compress) {
  Bytes out;
  bool fits = compress && !text.empty() &&
              std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 1 && c <= 0xFF; });
  if (fits) {
    out.assign(std::begin(kCompressedTextMark), std::end(kCompressedTextMark));
    for (char16_t c : text) out.push_back(static_cast<unsigned char>(c));
    return out;
  }
  for (char16_t c : text) Append16(out, c);
  return out;
}

Bytes EncodeLongText(const std::u16string& text, bool compress) {
  return EncodeText(text, compress && text.size() <= kMaxCompressedLongText);
}

std::u16string DecodeText(const unsigned char* bytes, std::size_t size) {
  std::u16string text;
  text.reserve(size);
  if (size >= 2 && bytes[0] == kCompressedTextMark[0] && bytes[1] == kCompressedTextMark[1]) {
    bool narrow = true;
    for (std::size_t i = 2; i < size;) {
      if (bytes[i] == 0) {
        narrow = !narrow;
        ++i;
      } else if (narrow) {
        text.push_back(bytes[i++]);
      } else {
        if (i + 1 >= size) break;
        text.push_back(static_cast<char16_t>(Get16(bytes + i)));
        i += 2;
      }
    }
    return text;
  }
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(Get16(bytes + i)));
  return text;
}

}  // namespace db::access::format
