// Helpers shared by the pager and lock tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

}  // namespace pagertest
