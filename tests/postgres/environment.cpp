// The private PostgreSQL server of this test program, started once before its tests.
#include "tests/support/pg_server.h"

namespace {

[[maybe_unused]] ::testing::Environment* const kServer =
    ::testing::AddGlobalTestEnvironment(new testsupport::PgServerEnvironment);

}  // namespace
