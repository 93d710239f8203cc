// Helpers shared by the pager and lock tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db/access/write/pager.h"

namespace pagertest {

using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// A page of `size` bytes filled with a pattern that differs for every `seed`.
inline Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes page(size);
  for (std::size_t i = 0; i < size; ++i) page[i] = static_cast<unsigned char>(seed * 31 + i * 7);
  return page;
}

// The transaction of the crash and journal tests, on a database of 4096-byte pages (or of the
// pager's page size): three existing pages changed (5 and 6 written in one run) and three pages
// added.
constexpr std::size_t kPage = 4096;
constexpr std::uint32_t kChanged[] = {1, 5, 6};
constexpr int kAdded = 3;

inline void Change(db::access::write::JetPager& pager) {
  const std::size_t size = pager.pageSize();
  pager.begin();
  for (std::uint32_t page : kChanged) pager.writePage(page, Pattern(size, page + 100));
  for (int i = 0; i < kAdded; ++i) pager.appendPage(Pattern(size, 200 + i));
}

// The file `old` (of pages of `size` bytes) once Change is committed.
inline Bytes Expected(const Bytes& old, std::size_t size = kPage) {
  Bytes bytes = old;
  for (std::uint32_t page : kChanged) {
    Bytes p = Pattern(size, page + 100);
    std::copy(p.begin(), p.end(), bytes.begin() + page * size);
  }
  for (int i = 0; i < kAdded; ++i) {
    Bytes p = Pattern(size, 200 + i);
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  return bytes;
}

}  // namespace pagertest
