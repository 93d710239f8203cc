// An Access file opened read-only through libmdb, with the checks that keep a damaged file from
// reaching the parts of libmdb that trust what they read: every page number is tested against
// the file's page count before libmdb is asked for the page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/access/format/encryption.h"
#include "db/access/format/header.h"
#include "db/access/read/libmdb.h"

namespace db::access::read {

// The reader speaks the format's names and codecs.
using namespace db::access::format;

class JetDatabase {
 public:
  // Opens `path`, whose page 0 gave `header` and whose size is `fileSize` bytes (a whole number
  // of pages). An encrypted .accdb file needs the `codec` its password opened (encryption.h):
  // libmdb then reads its pages decrypted through page_stream.h. (libmdb decodes the pages of
  // Jet files with a page key itself.) Throws db::Error.
  JetDatabase(std::string path, JetHeader header, std::uint64_t fileSize,
              std::shared_ptr<const PageCodec> codec = nullptr);
  ~JetDatabase();
  JetDatabase(const JetDatabase&) = delete;
  JetDatabase& operator=(const JetDatabase&) = delete;

  MdbHandle* handle() const { return mdb_; }
  const JetHeader& header() const { return header_; }
  const std::string& path() const { return path_; }
  // The codec of an encrypted .accdb file, or nullptr.
  const std::shared_ptr<const PageCodec>& codec() const { return codec_; }
  std::uint32_t pageCount() const { return pageCount_; }
  std::size_t pageSize() const { return header_.pageSize; }
  bool hasPage(std::uint64_t page) const { return page < pageCount_; }

  // Makes `page` libmdb's current page (its pg_buf) and returns that buffer.
  const unsigned char* loadPage(std::uint32_t page) const;
  // A copy of `page` read through libmdb's spare buffer; the current page stays as it was.
  std::vector<unsigned char> copyPage(std::uint32_t page) const;

  // Text stored by the engine (compressed or plain UTF-16 from Jet 4 on, the file's code page in
  // Jet 3) as UTF-8.
  std::string decodeText(const unsigned char* bytes, std::size_t size) const;

  // Throws the error for a damaged file, naming the file and what is wrong with it.
  [[noreturn]] void damaged(const std::string& detail) const;

 private:
  std::string path_;
  JetHeader header_;
  std::shared_ptr<const PageCodec> codec_;
  std::uint32_t pageCount_ = 0;
  MdbHandle* mdb_ = nullptr;
};

// Text as Jet 4 and ACE store it (db/access/format/text.h) as UTF-8.
std::string DecodeJet4Text(const unsigned char* bytes, std::size_t size);

// The description of a damaged or foreign file's error (errc::kBadFormat).
std::string DamagedFileMessage(const std::string& path, const std::string& detail);

}  // namespace db::access::read
