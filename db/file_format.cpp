#include "db/file_format.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "db/base/error.h"

namespace db {
namespace {

constexpr unsigned char kAccessMagic[] = {0x00, 0x01, 0x00, 0x00};
constexpr char kJetText[] = "Standard Jet DB";  // compared with its NUL
constexpr char kAceText[] = "Standard ACE DB";
constexpr std::size_t kAccessTextOffset = 4;
constexpr std::size_t kAccessVersionOffset = 0x14;
constexpr char kSqliteMagic[] = "SQLite format 3";  // 16 bytes with its NUL
constexpr char kPostgresUri[] = "postgresql://";    // compared without the NUL
constexpr char kPostgresShortUri[] = "postgres://";

bool StartsWith(const unsigned char* bytes, std::size_t size, std::size_t offset,
                const void* pattern, std::size_t length) {
  return size >= offset + length && std::memcmp(bytes + offset, pattern, length) == 0;
}

}  // namespace

FileFormat SniffFileFormat(const unsigned char* bytes, std::size_t size) {
  if (StartsWith(bytes, size, 0, kSqliteMagic, sizeof kSqliteMagic)) return FileFormat::Sqlite;
  if (StartsWith(bytes, size, 0, kPostgresUri, sizeof kPostgresUri - 1) ||
      StartsWith(bytes, size, 0, kPostgresShortUri, sizeof kPostgresShortUri - 1))
    return FileFormat::PostgresConnection;
  if (size <= kAccessVersionOffset ||
      !StartsWith(bytes, size, 0, kAccessMagic, sizeof kAccessMagic))
    return FileFormat::Unknown;
  bool jet = StartsWith(bytes, size, kAccessTextOffset, kJetText, sizeof kJetText);
  bool ace = StartsWith(bytes, size, kAccessTextOffset, kAceText, sizeof kAceText);
  if (!jet && !ace) return FileFormat::Unknown;
  switch (bytes[kAccessVersionOffset]) {
    case 0:
      return FileFormat::Jet3;
    case 1:
      return FileFormat::Jet4;
    default:
      return FileFormat::Ace;
  }
}

FileFormat SniffFileFormat(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  if (path.empty()) throw Error(errc::kFailed, "No database file was named.");
  if (!fs::exists(status))
    throw Error(errc::kFailed, "Could not find the database file '" + path + "'.");
  if (fs::is_directory(status))
    throw Error(errc::kFailed, "'" + path + "' is a folder, not a database file.");

  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw Error(errc::kFailed,
                "Cannot read the database file '" + path + "': " + std::strerror(errno) + ".");
  }
  unsigned char head[32] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (in.bad()) {
    throw Error(errc::kFailed,
                "Cannot read the database file '" + path + "': " + std::strerror(errno) + ".");
  }
  return SniffFileFormat(head, static_cast<std::size_t>(in.gcount()));
}

}  // namespace db
