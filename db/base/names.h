// Names of tables and fields as every engine compares them: equal when they differ only in
// letter case. One rule for the whole program: Unicode simple case folding (as Qt's
// case-insensitive comparison does it), so "Straße" and "STRASSE" differ and "Ünï" and "üNÏ" are
// the same name.
#pragma once

#include <string>
#include <string_view>

namespace db {

// UTF-8 names.
bool SameName(std::string_view a, std::string_view b);
// UTF-16 names (as the Access file stores them).
bool SameName(const std::u16string& a, const std::u16string& b);
// Whether `name` starts with `prefix` (ASCII), letter case ignored, e.g. "MSys".
bool StartsWithIgnoringCase(std::string_view name, std::string_view prefix);

}  // namespace db
