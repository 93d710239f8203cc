// Page access for the parts of the Access writer that change pages (table definitions, data
// pages, usage maps, index pages). The pager implements it inside a transaction; tests implement
// it over a byte buffer. Pages are handed over as they are stored in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace db::access::format {

class PageIo {
 public:
  virtual ~PageIo() = default;
  virtual std::size_t pageSize() const = 0;
  virtual std::uint32_t pageCount() const = 0;
  // The current content of a page (with the changes of the open transaction).
  virtual std::vector<unsigned char> readPage(std::uint32_t page) const = 0;
  // Replaces a page's content. Only inside a transaction.
  virtual void writePage(std::uint32_t page, const std::vector<unsigned char>& data) = 0;
  // Adds a page at the end of the file and returns its number.
  virtual std::uint32_t appendPage(const std::vector<unsigned char>& data) = 0;
};

}  // namespace db::access::format
