// The engine for Access files (Jet 3, Jet 4 and ACE): reads through libmdb.
#pragma once

#include <memory>
#include <string>

#include "db/engine.h"
#include "db/file_format.h"

namespace db {

// Opens an Access file whose signature gave `format` (Jet3, Jet4 or Ace). Checks the database
// password of Jet 4 files against the one stored in the file's header; refuses encrypted
// .accdb files with a clear error. A damaged file (a header no Access wrote, an unreadable
// catalogue) gives errc::kBadFormat with DamagedFileMessage, not a password or encryption
// error. Throws db::Error.
std::unique_ptr<Session> OpenAccessSession(const std::string& path, const std::string& password,
                                           OpenMode mode, FileFormat format);

}  // namespace db
