// Decoding of the fixed-layout field values that Access stores in a row (all little-endian):
//   Byte 1 byte unsigned; Integer 2, Long 4, BigInt 8 bytes signed; Single 4 and Double 8 bytes
//   IEEE; Currency 8 bytes signed in ten-thousandths; Date/Time an 8-byte OLE date;
//   Replication ID 16 bytes of a GUID (first three groups little-endian, the rest as stored);
//   Decimal 17 bytes: a sign byte (0x80 negative) and a 128-bit magnitude as four 32-bit
//   little-endian words, the most significant word first; the column holds the scale.
//   Extended Date/Time (ACE 16) 42 ASCII bytes: 19 digits of days since 0001-01-01, ":", 12 digits
//   of seconds of the day and 7 digits of hundreds of nanoseconds, then ":" and the precision.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace db::access::format {

std::int64_t JetSigned(const unsigned char* p, std::size_t size);     // size 1..8, sign-extended
std::uint64_t JetUnsigned(const unsigned char* p, std::size_t size);  // size 1..8
double JetDouble(const unsigned char* p);
float JetSingle(const unsigned char* p);

// A single-precision value as the double with the same shortest decimal digits, so that 0.1f
// reads 0.1 and not 0.100000001490116.
double SingleAsDouble(float value);

// The canonical digits of a stored decimal: no leading zeros, no trailing fraction zeros, a
// "-" only for a non-zero negative value; e.g. "-12.5", "0", "1234".
std::string JetDecimalDigits(const unsigned char* bytes17, int scale);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string JetGuidText(const unsigned char* bytes16);

// The OLE date of an extended date/time, or nothing when the bytes are not one.
std::optional<double> JetExtendedDate(const unsigned char* bytes, std::size_t size);

}  // namespace db::access::format
