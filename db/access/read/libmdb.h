// libmdb's header, included the one way that compiles as C++: mdbtools.h includes glib.h inside
// its extern "C" block, and glib.h brings C++ templates when compiled as C++, so glib.h has to
// be seen first.
#pragma once

#include <glib.h>
#include <mdbtools.h>
