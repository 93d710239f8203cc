#include "db/access/read/database.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "db/access/format/text.h"
#include "db/access/read/page_stream.h"
#include "db/base/error.h"

namespace db::access::read {

std::string DamagedFileMessage(const std::string& path, const std::string& detail) {
  return "Unrecognized database format '" + path + "' (" + detail + ").";
}

JetDatabase::JetDatabase(std::string path, JetHeader header, std::uint64_t fileSize,
                         std::shared_ptr<const PageCodec> codec)
    : path_(std::move(path)), header_(std::move(header)), codec_(std::move(codec)) {
  if (header_.isOfficeEncrypted() && !codec_)
    throw Error(errc::kFailed,
                "The database file '" + path_ + "' is encrypted; it needs its codec.");
  if (fileSize % header_.pageSize != 0) damaged("the file does not end on a page boundary");
  if (fileSize / header_.pageSize > UINT32_MAX) damaged("the file is too large");
  pageCount_ = static_cast<std::uint32_t>(fileSize / header_.pageSize);
  // Page 0 is the header, page 1 the first usage page and page 2 the system catalogue.
  if (pageCount_ < 3) damaged("the file is too short to hold a catalogue");

  mdb_ = mdb_open(path_.c_str(), MDB_NOFLAGS);
  if (!mdb_) throw Error(errc::kFailed, "The database file '" + path_ + "' cannot be opened.");
  if (static_cast<std::size_t>(mdb_->fmt->pg_size) != header_.pageSize ||
      static_cast<int>(mdb_->f->jet_version) != header_.version) {
    mdb_close(mdb_);
    mdb_ = nullptr;
    damaged("the engine version in the header is inconsistent");
  }
  if (header_.isOfficeEncrypted()) {
    // libmdb has read page 0, which is stored plainly; from here on it reads through our stream.
    std::FILE* stream = OpenDecodedPageStream(path_, header_.pageSize, codec_);
    if (!stream) {
      std::string why = std::strerror(errno);
      mdb_close(mdb_);
      mdb_ = nullptr;
      throw Error(errc::kFailed, "The database file '" + path_ + "' cannot be read: " + why + ".");
    }
    std::fclose(mdb_->f->stream);
    mdb_->f->stream = stream;
    mdb_->f->db_key = 0;
  }
}

JetDatabase::~JetDatabase() {
  if (mdb_) mdb_close(mdb_);
}

const unsigned char* JetDatabase::loadPage(std::uint32_t page) const {
  if (!hasPage(page)) damaged("page " + std::to_string(page) + " lies beyond the end of the file");
  if (mdb_read_pg(mdb_, page) != mdb_->fmt->pg_size)
    damaged("page " + std::to_string(page) + " cannot be read");
  return mdb_->pg_buf;
}

std::vector<unsigned char> JetDatabase::copyPage(std::uint32_t page) const {
  if (!hasPage(page)) damaged("page " + std::to_string(page) + " lies beyond the end of the file");
  if (mdb_read_alt_pg(mdb_, page) != mdb_->fmt->pg_size)
    damaged("page " + std::to_string(page) + " cannot be read");
  return std::vector<unsigned char>(mdb_->alt_pg_buf, mdb_->alt_pg_buf + header_.pageSize);
}

std::string JetDatabase::decodeText(const unsigned char* bytes, std::size_t size) const {
  if (size == 0) return {};
  if (header_.isJet3()) {
    // Single-byte text in the file's code page: libmdb knows the code pages.
    std::string text(3 * size + 4, '\0');
    int length = mdb_unicode2ascii(mdb_, reinterpret_cast<const char*>(bytes), size, text.data(),
                                   text.size());
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return text;
  }
  return DecodeJet4Text(bytes, size);
}

std::string DecodeJet4Text(const unsigned char* bytes, std::size_t size) {
  // Most texts are plain ASCII, which is its own UTF-8: compressed, one byte a character with no
  // switch to two; else every other byte 0.
  std::string ascii;
  if (size >= 2 && bytes[0] == kCompressedTextMark[0] && bytes[1] == kCompressedTextMark[1]) {
    if (std::all_of(bytes + 2, bytes + size, [](unsigned char b) { return b != 0 && b < 0x80; }))
      return std::string(reinterpret_cast<const char*>(bytes) + 2, size - 2);
  } else if (size % 2 == 0) {
    ascii.resize(size / 2);
    std::size_t i = 0;
    for (; i < size / 2; ++i) {
      unsigned char low = bytes[2 * i], high = bytes[2 * i + 1];
      if (high != 0 || low >= 0x80) break;
      ascii[i] = static_cast<char>(low);
    }
    if (i == size / 2) return ascii;
  }
  // Whole UTF-16, surrogate pairs included (characters beyond the Basic Multilingual Plane, such
  // as emoji, stay one character); a lone surrogate becomes "?".
  return QString::fromStdU16String(DecodeText(bytes, size)).toStdString();
}

void JetDatabase::damaged(const std::string& detail) const {
  throw BadFormatError(DamagedFileMessage(path_, detail));
}

}  // namespace db::access::read
