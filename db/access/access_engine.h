// The engine for Access files (Jet 3, Jet 4 and ACE): reads through libmdb.
#pragma once

#include <memory>
#include <string>

#include "db/base/engine.h"

namespace db::access {

// Opens an Access file (the factory saw its signature: Jet 3, Jet 4 or ACE). Checks the database
// password of Jet 4 files against the one stored in the file's header; refuses encrypted
// .accdb files with a clear error. A damaged file (a header no Access wrote, an unreadable
// catalogue) gives errc::kBadFormat with DamagedFileMessage, not a password or encryption
// error. Throws db::Error.
std::unique_ptr<Session> OpenAccessSession(const std::string& path, const std::string& password,
                                           OpenMode mode);

}  // namespace db::access
