// Text as Jet 4 and ACE files store it (column values, catalog names): plain UTF-16LE, or, in a
// column with Unicode compression, the mark FF FE followed by one byte per character (its high
// byte zero); in that form a zero byte switches between one and two bytes per character. The
// writer compresses a text only when every character fits one byte; readers take both forms.
// (Jet 3 files store single-byte text in the file's code page.)
#pragma once

#include <cstddef>
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

}  // namespace db::access::format
