// Writes small Access files for the fuzzers' seed corpora: a Jet 4 and an ACE file made from
// scratch, each empty and each with one table of every column type the writer makes (texts,
// a memo long enough for a long-value page, numbers, dates, Yes/No, Nulls). Small files keep a
// fuzzing run fast; the real files made by Access are added beside them by scripts/fuzz.sh.
//
// Usage: make_seeds <folder>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/access/write/new_database.h"
#include "db/access/write/pager.h"
#include "db/access/write/typed_tables.h"

namespace {

using db::Value;
using db::access::write::NewColumnDef;
namespace coltype = db::access::write::coltype;

constexpr double kCreated = 45444.5;  // 2024-06-01 12:00

void WriteWithTable(const std::string& path, db::access::write::NewDatabaseFormat format) {
  db::access::write::CreateEmptyDatabase(path, format, kCreated);
  std::unique_ptr<db::access::write::JetPager> pager = db::access::write::JetPager::Open(path);
  pager->begin();
  db::access::write::TypedTables tables(*pager, [] { return kCreated; });
  std::uint32_t page = tables.create(u"People", {{u"Id", coltype::kLong, 0, true},
                                                 {u"Name", coltype::kText, 50, true},
                                                 {u"City", coltype::kText, 40, false},
                                                 {u"Notes", coltype::kMemo, 0, true},
                                                 {u"Born", coltype::kDateTime, 0, true},
                                                 {u"Score", coltype::kDouble, 0, true},
                                                 {u"Active", coltype::kBoolean, 0, true}});
  const std::vector<std::vector<Value>> rows = {
      {Value::Integer(1), Value::Text("Ann  Lee"), Value::Text("Zürich"),
       Value::Text("line one\nline two"), Value::DateTime(30000.25), Value::Double(2.5),
       Value::Boolean(true)},
      {Value::Integer(2), Value::Text("O'Brien"), Value::Text("表"),
       Value::Text(std::string(1500, 'm')), Value::Null(), Value::Double(-1),
       Value::Boolean(false)},
      {Value::Integer(3), Value::Null(), Value::Text("\t"), Value::Null(), Value::DateTime(0),
       Value::Null(), Value::Boolean(false)},
      {Value::Integer(4), Value::Text("ann  lee"), Value::Text("ZÜRICH"), Value::Text(""),
       Value::DateTime(45444.0), Value::Double(1e300), Value::Boolean(true)},
  };
  for (const std::vector<Value>& row : rows) tables.insert(page, row);
  tables.flush();
  pager->commit();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <folder>\n");
    return 2;
  }
  const std::filesystem::path folder(argv[1]);
  try {
    std::filesystem::create_directories(folder);
    auto fresh = [&](const char* name) {
      const std::string path = (folder / name).string();
      std::filesystem::remove(path);
      return path;
    };
    db::access::write::CreateEmptyDatabase(fresh("empty-jet4.mdb"),
                                           db::access::write::NewDatabaseFormat::kJet4, kCreated);
    db::access::write::CreateEmptyDatabase(fresh("empty-ace.accdb"),
                                           db::access::write::NewDatabaseFormat::kAce, kCreated);
    WriteWithTable(fresh("people-jet4.mdb"), db::access::write::NewDatabaseFormat::kJet4);
    WriteWithTable(fresh("people-ace.accdb"), db::access::write::NewDatabaseFormat::kAce);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
