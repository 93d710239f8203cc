#include "db/postgres/libpq.h"

#include <dlfcn.h>

#include <mutex>
#include <type_traits>
#include <string>

#include "db/base/error.h"

namespace db::postgres {
namespace {

// The names libpq is installed under: its version 5 (every release since PostgreSQL 8.0), then
// whatever the development link names.
constexpr const char* kLibraryNames[] = {"libpq.so.5", "libpq.so"};

LibPqFunctions Load() {
  void* library = nullptr;
  for (const char* name : kLibraryNames)
    if ((library = dlopen(name, RTLD_NOW | RTLD_LOCAL)) != nullptr) break;
  if (!library)
    throw Error(errc::kNotSupported,
                "PostgreSQL servers need the client library libpq (libpq.so.5), which is not "
                "installed.");
  // Kept loaded for the life of the program: sessions may be open until its end.
  LibPqFunctions f;
  auto find = [&](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
    if (!function)
      throw Error(errc::kNotSupported, std::string("The installed libpq lacks the function ") +
                                           name + "; PostgreSQL servers cannot be opened.");
  };
#define ROWSIFTER_PQ_FUNCTION(name) find(f.name, #name);
#include "db/postgres/libpq_functions.inc"
#undef ROWSIFTER_PQ_FUNCTION
  return f;
}

}  // namespace

const LibPqFunctions& LibPq() {
  // Loaded once; a failure is thrown again to every caller.
  static std::once_flag once;
  static LibPqFunctions functions;
  static std::string failure;
  static long failureNumber = 0;
  std::call_once(once, [] {
    try {
      functions = Load();
    } catch (const Error& e) {
      failure = e.what();
      failureNumber = e.number();
    }
  });
  if (!failure.empty()) throw Error(failureNumber, failure);
  return functions;
}

}  // namespace db::postgres
