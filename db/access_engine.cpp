#include "db/access_engine.h"

#include "db/error.h"

namespace db {

std::unique_ptr<Session> OpenAccessSession(const std::string& path, const std::string& password,
                                           OpenMode mode, FileFormat format) {
  throw Error(errc::kNotSupported, "Access databases cannot be opened yet: " + path);
}

}  // namespace db
