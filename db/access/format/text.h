// Text as Jet 4 and ACE files store it (column values, catalog names): plain UTF-16LE, or, in a
// column with Unicode compression, the mark FF FE followed by one byte per character (its high
// byte zero); in that form a zero byte switches between one and two bytes per character. The
// writer compresses a text only when every character fits one byte; readers take both forms.
// Jet 3 files store text (column values, catalog names) as the bytes of a Windows code page: the
// file's (header.h), repeated in every text column's entry (definition.h). Code page 1252 is
// Western European; others are converted through the C library's iconv.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "db/access/format/bytes.h"

namespace db::access::format {

constexpr unsigned char kCompressedTextMark[2] = {0xFF, 0xFE};

// A long value (Memo) is compressed only when it holds at most this many characters; a longer
// one is stored as plain UTF-16LE whatever its column says.
constexpr std::size_t kMaxCompressedLongText = 1024;

// Text as the engine stores it; compressed when `compress` and every character fits a byte.
Bytes EncodeText(const std::u16string& text, bool compress);
// The text of a Memo value as the engine stores it (the rule above).
Bytes EncodeLongText(const std::u16string& text, bool compress);
// Either form back into UTF-16. A last lone byte of two-byte text is dropped.
std::u16string DecodeText(const unsigned char* bytes, std::size_t size);
inline std::u16string DecodeText(const Bytes& bytes) {
  return DecodeText(bytes.data(), bytes.size());
}

// Text in code page `codePage`; nothing when the code page has no bytes for one of its
// characters (or the code page is unknown). Never a replacement character: the text read back
// from the bytes is the text given.
std::optional<Bytes> EncodeCodePageText(const std::u16string& text, std::uint16_t codePage);
// Bytes of code page `codePage` as UTF-16; a byte the code page does not define reads as
// U+FFFD.
std::u16string DecodeCodePageText(const unsigned char* bytes, std::size_t size,
                                  std::uint16_t codePage);

}  // namespace db::access::format
