// Index keys of Jet 4 and ACE files: how a row's column values become the bytes that an index
// page stores and compares (unsigned, byte by byte, shorter first when one is a prefix of the
// other).
//
// A key is the concatenation, for each column of the index in order, of:
//   flag byte     0x7F a value in an ascending column, 0x80 in a descending one;
//                 0x00 Null in an ascending column, 0xFF in a descending one (nothing follows)
//   Long, Integer the value big-endian with the sign bit flipped, so that negative numbers sort
//                 first; a descending column stores the one's complement of those bytes
//   Text          the "General" collation of the text (see below); a descending column stores
//                 the one's complement of all of it followed by one 0x00
// In a leaf entry the key is followed by the row's data page (3 bytes, big-endian) and row
// number (1 byte); see jet_index_pages.h.
//
// Text keys. The text is cut to 255 characters and trailing blanks are dropped. Each character
// has one of these behaviours in the collation:
//   simple         one primary weight (one or two bytes) written in order
//   accented       the primary weight of its base letter, plus an accent code in the "extra"
//                  run (e.g. e-acute is the weight of E plus the acute code)
//   ligature       the weights of two letters (AE, SS, TH; UE for U-diaeresis in the newer
//                  order)
//   unprintable    no weight; it goes into a trailing run as a marker, its position and a code
//                  (the apostrophe and the hyphen belong here, so "O'Hara" sorts with "OHara")
// Letter case is not kept: a lower-case letter has exactly the bytes of its capital.
// Layout: weights, 0x01, the extra run when any accent is present (0x02 for each earlier
// character without an accent, the accent code for each accented one, trailing 0x00..0x02 codes
// dropped), and when an unprintable character is present: 0x01 0x01 0x01, then per unprintable
// character its position (7 + 4 * p) | 0x8000 big-endian, 0x06 and its code, where p counts the
// weighted characters before it, or once an extra run exists, the length of that run so far
// plus the weighted characters not yet in it. The key ends with 0x00.
//
// Two collations share this layout and differ only in the weights: "General (legacy)", used by
// Jet 4 and ACE 12 files (sort order 1033, version 0), with mostly one-byte weights, and
// "General" of Access 2010 and later (1033, version 1), with two-byte weights. The weights here
// cover the characters a table name holds in practice: printable ASCII and the Latin-1 letters
// (plus the signs x and /). Any other character is refused with a clear error; the writer
// checks a name with CanEncodeIndexText before writing anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace db {

enum class TextCollation { kGeneralLegacy, kGeneral };

// The collation of a text column from its definition: the sort order value (16 bits at offset
// 11 of a Jet 4 / ACE column entry) and the version byte (offset 14). A zero sort order is the
// legacy General one. Nothing for sort orders we do not build keys for.
std::optional<TextCollation> CollationFromSortOrder(std::uint16_t sortOrder, std::uint8_t version);

// Whether every character of `utf8` has known weights in `collation`. When not, `why` (when
// given) names the first character that has none.
bool CanEncodeIndexText(std::string_view utf8, TextCollation collation, std::string* why = nullptr);

// Builds one index key column by column.
class IndexKeyBuilder {
 public:
  // A Null value of a column.
  IndexKeyBuilder& addNull(bool ascending = true);
  // A Long (32-bit) column value.
  IndexKeyBuilder& addLong(std::int32_t value, bool ascending = true);
  // An Integer (16-bit) column value.
  IndexKeyBuilder& addInteger(std::int16_t value, bool ascending = true);
  // A text value given as UTF-8. Throws db::Error (errc::kNotSupported) naming the character
  // when a character has no known weight, and for text that is not valid UTF-8.
  IndexKeyBuilder& addText(std::string_view utf8, TextCollation collation, bool ascending = true);

  const std::vector<unsigned char>& bytes() const { return bytes_; }
  std::vector<unsigned char> take() { return std::move(bytes_); }

 private:
  void addNumber(std::uint64_t bits, int size, bool ascending);
  std::vector<unsigned char> bytes_;
};

}  // namespace db
