// Whether the database engines can be used at all. The engines are linked into the program, so
// they are always there in the field; tests switch them off to see how the program behaves on a
// machine where no engine can be found.
#pragma once

namespace db {

// The description of the failure when no engine is available.
inline constexpr const char* kNoProviderDescription =
    "Provider cannot be found. It may not be properly installed.";

bool EnginesAvailable();

// Makes EnginesAvailable() answer `available` until it is called again. For tests only.
void SetEnginesAvailableForTesting(bool available);

// What creating a connection requires: throws db::Error errc::kNoProvider (3706) with
// kNoProviderDescription when no engine is available.
void RequireEngines();

}  // namespace db
