// A whole Access file held in memory as pages, for the writer's tests: load, change through
// PageIo, save to a file that the readers then open.
#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "db/access/format/page_io.h"
#include "db/access/sql/parser.h"
#include "db/access/write/writer.h"

namespace writertest {

class MemoryPages : public db::access::format::PageIo {
 public:
  explicit MemoryPages(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> all((std::istreambuf_iterator<char>(in)), {});
    pageSize_ = all.at(0x14) == 0 ? 2048 : 4096;
    for (std::size_t at = 0; at + pageSize_ <= all.size(); at += pageSize_)
      pages_.emplace_back(all.begin() + at, all.begin() + at + pageSize_);
  }
  std::size_t pageSize() const override { return pageSize_; }
  std::uint32_t pageCount() const override { return static_cast<std::uint32_t>(pages_.size()); }
  std::vector<unsigned char> readPage(std::uint32_t page) const override { return pages_.at(page); }
  void writePage(std::uint32_t page, const std::vector<unsigned char>& data) override {
    if (data.size() != pageSize_) throw std::logic_error("wrong page size");
    pages_.at(page) = data;
  }
  std::uint32_t appendPage(const std::vector<unsigned char>& data) override {
    pages_.push_back(data);
    return pageCount() - 1;
  }
  void save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& p : pages_) out.write(reinterpret_cast<const char*>(p.data()), p.size());
  }

 private:
  std::size_t pageSize_ = 4096;
  std::vector<std::vector<unsigned char>> pages_;
};

// Runs one statement of SQL text through the writer, as the engine hands it over.
inline void Exec(db::access::write::JetWriter& w, const std::string& text) {
  namespace sql = db::access::sql;
  sql::AccessStatement s = sql::ParseAccessStatement(text);
  if (auto* c = std::get_if<sql::CreateTableStatement>(&s))
    w.createTable(*c);
  else if (auto* i = std::get_if<sql::InsertStatement>(&s))
    w.insert(*i);
  else if (auto* d = std::get_if<sql::DropTableStatement>(&s))
    w.dropTable(*d);
}

}  // namespace writertest
