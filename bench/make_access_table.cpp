// Makes the table that bench/access_extract.sh reads: a new, empty Jet 4 or ACE database at
// FILE with a table Customers of one text field City and 1,000,000 rows, written through the
// database layer in one transaction. Value k (0 <= k < DISTINCT, default 300000) is "city", a
// space for even k or a dash for odd k, at least six digits of k, a dash and a tail of
// 10 + k % 40 letters; row i holds value (i * STEP) mod DISTINCT, where STEP (7919, or the next
// odd number without a factor in common with DISTINCT) makes every value occur once before any
// occurs twice, scattered over the table: with ROWS = 1,000,000 and the default, each value
// occurs three or four times. bench/encrypted.sh makes a large file of few values, so that its
// memory figure is that of reading, not of the distinct values.
//
//   make_access_table FILE [ROWS [DISTINCT]]   (FILE must not exist; .accdb makes an ACE file)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <numeric>
#include <string>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/access/write/new_database.h"
#include "db/statements.h"

namespace {

std::string ValueText(long long k) {
  static const std::string kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  char digits[24];
  std::snprintf(digits, sizeof digits, "%06lld", k);
  return std::string("city") + (k % 2 == 0 ? " " : "-") + digits + "-" +
         kLetters.substr(0, static_cast<std::size_t>(10 + k % 40));
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: %s FILE [ROWS [DISTINCT]]\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  const long long rows = argc >= 3 ? std::atoll(argv[2]) : 1000000;
  const long long distinct = argc == 4 ? std::atoll(argv[3]) : 300000;
  if (rows <= 0 || distinct <= 0) {
    std::fprintf(stderr, "ROWS and DISTINCT must be positive numbers\n");
    return 2;
  }
  long long step = 7919;
  while (std::gcd(step, distinct) != 1) step += 2;
  try {
    auto start = std::chrono::steady_clock::now();
    db::access::write::CreateEmptyDatabase(path, EndsWith(path, ".accdb")
                                                     ? db::access::write::NewDatabaseFormat::kAce
                                                     : db::access::write::NewDatabaseFormat::kJet4);
    db::Connection c;
    c.setMode(db::OpenMode::ReadWrite);
    c.open(db::BuildConnectionString(path, ""));
    c.beginTrans();
    c.execute(db::CreateTableStatement("Customers", "City"));
    for (long long i = 0; i < rows; ++i)
      c.execute(db::InsertStatement("Customers", ValueText((i * step) % distinct)));
    c.commitTrans();
    c.close();
    std::fprintf(stderr, "%s: %lld rows written in %.2f s\n", path.c_str(), rows,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
    return 1;
  }
  return 0;
}
