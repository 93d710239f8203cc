// Little-endian byte codecs: every number the Access format stores is little-endian (but for
// the keys and child pointers of index entries, which are big-endian so that they sort as
// bytes). Every reader, the writer and the checker read and write numbers through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace db::access::format {

using Bytes = std::vector<unsigned char>;

inline std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get24(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16);
}
inline std::uint32_t Get32(const unsigned char* p) {
  return Get24(p) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Get64(const unsigned char* p) {
  return Get32(p) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}
inline double GetDouble(const unsigned char* p) {
  std::uint64_t bits = Get64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
// Big-endian: `n` (1..4) bytes, as index entries store page numbers.
inline std::uint32_t GetBigEndian(const unsigned char* p, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

inline void Put16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void Put64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void Append16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}
inline void Append32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// Column values as a row stores them: a long integer, a short integer, a double, a date (an
// OLE date as a double).
inline Bytes LongBytes(std::int32_t v) {
  Bytes b(4);
  Put32(b.data(), static_cast<std::uint32_t>(v));
  return b;
}
inline Bytes ShortBytes(int v) {
  Bytes b(2);
  Put16(b.data(), static_cast<std::uint32_t>(v));
  return b;
}
inline Bytes DoubleBytes(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  Bytes b(8);
  Put64(b.data(), bits);
  return b;
}
inline Bytes DateBytes(double v) { return DoubleBytes(v); }

// A row address as the format stores it (32 bits): page number in the high 24 bits, row in the
// low 8.
struct RowRef {
  std::uint32_t page = 0;
  unsigned row = 0;
  std::uint32_t packed() const { return (page << 8) | (row & 0xFF); }
  static RowRef Unpack(std::uint32_t v) { return {v >> 8, v & 0xFF}; }
  bool operator==(const RowRef&) const = default;
};

}  // namespace db::access::format
