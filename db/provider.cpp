#include "db/provider.h"

#include <atomic>

#include "db/error.h"

namespace db {
namespace {

std::atomic<bool> enginesAvailable{true};

}  // namespace

bool EnginesAvailable() { return enginesAvailable.load(); }

void SetEnginesAvailableForTesting(bool available) { enginesAvailable.store(available); }

void RequireEngines() {
  if (!EnginesAvailable()) throw Error(errc::kNoProvider, kNoProviderDescription);
}

}  // namespace db
