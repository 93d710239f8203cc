// Telling database files apart by their own first bytes.
//
// Access (Jet/ACE) files: page 0 starts with 00 01 00 00, then the text "Standard Jet DB" (Jet 3
// and Jet 4 .mdb) or "Standard ACE DB" (.accdb) at offset 4, NUL-terminated; the byte at offset
// 0x14 is the engine version: 0 Jet 3, 1 Jet 4, 2 and up ACE 12 onwards.
// SQLite files: the 16 bytes "SQLite format 3\0" at offset 0.
// PostgreSQL connection files (db/postgres/connection_file.h): a text file whose first line is
// a connection URI, so it starts with "postgresql://" or "postgres://".
#pragma once

#include <string>

namespace db {

enum class FileFormat { Jet3, Jet4, Ace, Sqlite, PostgresConnection, Unknown };

// Reads the signature of the file at `path`. Throws db::Error when the file cannot be read.
// A readable file of any other kind (or too short to tell) gives Unknown.
FileFormat SniffFileFormat(const std::string& path);

// Same test on bytes already read (at least the first 0x15 bytes for Access files).
FileFormat SniffFileFormat(const unsigned char* bytes, std::size_t size);

}  // namespace db
