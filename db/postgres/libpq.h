// libpq, loaded the first time a connection file is opened rather than linked into the program:
// its libraries (TLS, Kerberos, LDAP) take several megabytes and some time at every start, which
// users of Access and SQLite files would pay for nothing. The functions keep their names and
// types (libpq-fe.h declares them); call them through LibPq().
#pragma once

#include <libpq-fe.h>

namespace db::postgres {

struct LibPqFunctions {
#define ROWSIFTER_PQ_FUNCTION(name) decltype(&::name) name = nullptr;
#include "db/postgres/libpq_functions.inc"
#undef ROWSIFTER_PQ_FUNCTION
};

// The functions of libpq, loaded once. Throws db::Error (errc::kNotSupported) when libpq is not
// installed or lacks one of them.
const LibPqFunctions& LibPq();

}  // namespace db::postgres
