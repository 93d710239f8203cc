// The engine for SQLite files (libsqlite3). Statements go to SQLite as they stand.
#pragma once

#include <memory>
#include <string>

#include "db/base/engine.h"

namespace db {

// Opens a SQLite file. Read mode opens it read-only; the other modes read and write.
// The password is not used (SQLite files carry none). Throws db::Error.
std::unique_ptr<Session> OpenSqliteSession(const std::string& path, OpenMode mode);

}  // namespace db
