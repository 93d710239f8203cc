// The PostgreSQL engine through the database layer, on the private server: the catalogue of one
// schema, fields and preview, distinct values streamed with the server's count, values as
// stored in any encoding, and the export's transaction (bulk rows, replace, refusals).
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

#include "db/base/error.h"
#include "db/catalog.h"
#include "extract/table_export.h"
#include "tests/postgres/pg_test_support.h"

namespace {

using pgtest::PostgresTest;
using pgtest::ReadAll;
using testsupport::PgServer;
using Names = std::vector<std::string>;

long ResidentKilobytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

std::vector<std::string> UserTables(db::Connection& c) {
  std::vector<std::string> names;
  for (const db::CatalogRow& row : c.tables())
    if (row.type == "TABLE") names.push_back(row.name);
  return names;
}

TEST_F(PostgresTest, TheCatalogueListsTheSchemasTablesInCatalogueOrder) {
  sql("CREATE TABLE \"Zeta\" (a int); CREATE TABLE alpha (a int); CREATE TABLE \"Orders\" (a int);"
      "CREATE TABLE orders (a int); CREATE TABLE \"My \"\"Quoted\"\" Table\" (a int);"
      "CREATE TABLE \"Grüße\" (a int);"
      "CREATE TABLE \"Parted\" (a int) PARTITION BY RANGE (a);"
      "CREATE TABLE parted_low PARTITION OF \"Parted\" FOR VALUES FROM (0) TO (10);"
      "CREATE VIEW v_orders AS SELECT * FROM orders; CREATE MATERIALIZED VIEW mv AS SELECT 1;"
      "CREATE SCHEMA IF NOT EXISTS elsewhere; CREATE TABLE IF NOT EXISTS elsewhere.\"Other\" (a "
      "int);");
  auto c = open();
  EXPECT_EQ(UserTables(*c),
            (Names{"alpha", "Grüße", "My \"Quoted\" Table", "Orders", "orders", "Parted", "Zeta"}));
  Names views;
  for (const db::CatalogRow& row : c->tables())
    if (row.type == "VIEW") views.push_back(row.name);
  EXPECT_EQ(views, (Names{"mv", "v_orders"}));
  // The layer's own catalogue routines see the same.
  const std::string cs = db::BuildConnectionString(path, "");
  EXPECT_EQ(db::GetTableNames(path, cs).value_or(Names{}).size(), 7u);
  EXPECT_TRUE(db::TableExists(cs, "ORDERS"));
  EXPECT_FALSE(db::TableExists(cs, "v_orders"));
  EXPECT_FALSE(db::TableExists(cs, "Other"));
}

TEST_F(PostgresTest, WithoutASchemaLineTheFirstSchemaOfTheSearchPathIsUsed) {
  server->sql(
      "DROP SCHEMA IF EXISTS on_path CASCADE; CREATE SCHEMA on_path;"
      "CREATE TABLE on_path.only_here (a int)");
  // The search path as the user's own settings give it (here through the URI's options).
  const std::string file =
      server->connectionFile(schema + "-path.pgconn", PgServer::kAdmin, PgServer::kDatabase, "",
                             "&options=-c%20search_path%3Dno_such,on_path,public");
  auto c = open(file);
  EXPECT_EQ(UserTables(*c), Names{"only_here"});
  // A table the export makes goes there too.
  c->execute(db::CreateTableStatement("made_here", "v"));
  EXPECT_EQ(server->rows("SELECT 1 FROM pg_tables WHERE schemaname = 'on_path' AND tablename = "
                         "'made_here'"),
            Names{"1"});

  const std::string missing = server->connectionFile(schema + "-missing.pgconn", PgServer::kAdmin,
                                                     PgServer::kDatabase, "schema=No Such\n");
  try {
    open(missing);
    ADD_FAILURE() << "opened";
  } catch (const db::Error& e) {
    EXPECT_EQ(e.number(), db::errc::kNoSuchObject);
    EXPECT_NE(e.description().find("No Such"), std::string::npos) << e.description();
  }
}

TEST_F(PostgresTest, FieldsComeInColumnOrderAndThePreviewInScanOrderAsStored) {
  sql("CREATE TABLE items (id int, gone text, \"Name\" text, flag boolean, amount numeric(8,2),"
      " at date, raw bytea); ALTER TABLE items DROP COLUMN gone;"
      "INSERT INTO items SELECT i, 'n' || (150 - i), i % 2 = 0, i / 4.0, DATE '2024-01-31' + i,"
      " '\\x00ff'::bytea FROM generate_series(1, 150) i;"
      "INSERT INTO items (id) VALUES (0);");
  auto c = open();
  auto all = c->openRecordset(db::TableFieldsStatement("items"));
  Names fields;
  for (int i = 0; i < all->fieldCount(); ++i) fields.push_back(all->fieldName(i));
  EXPECT_EQ(fields, (Names{"id", "Name", "flag", "amount", "at", "raw"}));
  all.reset();

  auto preview = c->openRecordset(db::PreviewStatement("Name", "items"));
  const Names first = ReadAll(*preview, 100);
  ASSERT_EQ(first.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(first[i], "n" + std::to_string(149 - i));
  preview.reset();
  // Other types as the server writes them; Null stays Null.
  struct Case {
    std::string field;
    Names firstTwo;
  };
  for (const Case& k : std::vector<Case>{{"flag", {"f", "t"}},
                                         {"amount", {"0.25", "0.50"}},
                                         {"at", {"2024-02-01", "2024-02-02"}},
                                         {"raw", {"\\x00ff", "\\x00ff"}}}) {
    auto r = c->openRecordset(db::PreviewStatement(k.field, "items"));
    EXPECT_EQ(ReadAll(*r, 2), k.firstTwo) << k.field;
  }
  auto last = c->openRecordset("SELECT \"Name\" FROM items WHERE id = 0");
  EXPECT_TRUE(last->value(0).isNull());
}

TEST_F(PostgresTest, TextInADatabaseOfAnotherEncodingArrivesAsUtf8) {
  server->sql("DROP DATABASE IF EXISTS latin1db", "postgres");
  ASSERT_TRUE(server->sql(
      "CREATE DATABASE latin1db ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0",
      "postgres"));
  // Sent as UTF-8 by the test's connection; the server stores Latin-1 bytes.
  ASSERT_TRUE(
      server->sql("CREATE TABLE names (v text); INSERT INTO names VALUES ('Grüße'),"
                  " ('café'), ('Grüße'), (NULL);",
                  "latin1db"));
  const std::string file = server->connectionFile("latin1.pgconn", PgServer::kAdmin, "latin1db");
  auto c = open(file);
  auto r = c->openRecordset(db::DistinctValuesStatement("v", "names"));
  Names values = ReadAll(*r);
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (Names{"<null>", "Grüße", "café"}));
  EXPECT_EQ(r->recordCount(), 3);
  r.reset();
  // And the export writes them back in the database's own encoding.
  c->beginTrans();
  c->execute(db::CreateTableStatement("copy", "v"));
  c->execute(db::InsertStatement("copy", "Grüße"));
  c->commitTrans();
  EXPECT_EQ(server->rows("SELECT octet_length(v), v FROM copy", "latin1db"), Names{"5|Grüße"});
}

// More distinct values than a batch holds, many times over: the count comes from the server
// before any row is read, and the rows stream through without being held.
TEST_F(PostgresTest, DistinctValuesStreamInBatchesWithTheServersCount) {
  constexpr int kDistinct = 120000;  // twelve batches
  constexpr int kWidth = 400;        // 48 MB of text, were it all held at once
  sql("CREATE TABLE big AS SELECT lpad((i % " + std::to_string(kDistinct) + ")::text, " +
      std::to_string(kWidth) + ", 'x') AS v FROM generate_series(1, " +
      std::to_string(2 * kDistinct) + ") i; INSERT INTO big VALUES (NULL);");
  auto c = open();
  const long before = ResidentKilobytes();
  auto r = c->openRecordset(db::DistinctValuesStatement("v", "big"));
  EXPECT_EQ(r->recordCount(), kDistinct + 1);  // the Null counts as a row
  std::vector<bool> seen(kDistinct, false);
  long peak = ResidentKilobytes();
  long long rows = 0, nulls = 0;
  for (; !r->eof(); r->moveNext(), ++rows) {
    const db::Value& v = r->value(0);
    if (v.isNull()) {
      ++nulls;
      continue;
    }
    ASSERT_EQ(v.text().size(), static_cast<std::size_t>(kWidth));
    const int number = std::stoi(v.text().substr(v.text().find_first_not_of('x')));
    ASSERT_FALSE(seen[number]) << number;
    seen[number] = true;
    if (rows % 5000 == 0) peak = std::max(peak, ResidentKilobytes());
  }
  EXPECT_EQ(rows, kDistinct + 1);
  EXPECT_EQ(nulls, 1);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kDistinct);
  EXPECT_EQ(r->recordCount(), kDistinct + 1);
  // A batch is a few megabytes; all the rows would be well over 48. (Under AddressSanitizer
  // freed memory stays resident in its quarantine, so there the figure tells nothing.)
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LT(peak - before, 24 * 1024) << "resident memory grew by " << (peak - before) << " KB";
#endif
}

// Values with every awkward character, seeded: written by the export's operations (bulk rows
// through several flushes, in one transaction) and read back by the server equal.
TEST_F(PostgresTest, TheExportWritesEveryValueAsItIsInOneTransaction) {
  std::mt19937 random(12);
  const std::string alphabet[] = {"a",  "Z", " ", "\t", "\n", "\r",   "\\", "\\N", "'",  "''",
                                  "\"", "`", ",", "é",  "表", "🙂", "|",  ";",   "\\."};
  std::set<std::string> values;
  while (values.size() < 30000) {
    std::string v;
    const int length = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < length; ++i) v += alphabet[random() % std::size(alphabet)];
    values.insert(v);
  }
  {
    auto c = open();
    c->execute("CREATE TABLE src (v text)");
    c->beginTrans();
    for (const std::string& v : values) c->execute(db::InsertStatement("src", v));
    c->commitTrans();
  }
  sql("CREATE TABLE \"Results\" (old text); INSERT INTO \"Results\" VALUES ('old');");

  auto c = open();
  extract::TableExport out(*c, "Results");
  out.begin();
  out.dropOld();
  out.openValues("v", "src");
  EXPECT_EQ(out.values()->recordCount(), static_cast<long long>(values.size()));
  out.create("v");
  long long written = 0;
  for (db::Recordset& r = *out.values(); !r.eof(); r.moveNext(), ++written)
    out.insert(r.value(0).text());
  out.closeValues();
  // Another client sees nothing of it before the commit.
  EXPECT_EQ(rows("SELECT count(*) FROM pg_catalog.pg_attribute WHERE attname = 'v' AND attrelid ="
                 " (SELECT oid FROM pg_catalog.pg_class WHERE relname = 'Results')"),
            Names{"0"});
  out.commit();
  EXPECT_EQ(written, static_cast<long long>(values.size()));
  EXPECT_EQ(rows("SELECT count(*) FROM \"Results\""), Names{std::to_string(values.size())});
  EXPECT_EQ(rows("SELECT count(*) FROM (SELECT v FROM \"Results\" EXCEPT SELECT v FROM src"
                 " UNION ALL SELECT v FROM src EXCEPT SELECT v FROM \"Results\") d"),
            Names{"0"});
}

// Whatever refuses the export, the database is left as it was, and the failure is one error.
TEST_F(PostgresTest, AnExportTheServerRefusesLeavesNothing) {
  sql("CREATE TABLE src (v text); INSERT INTO src VALUES ('a'), ('b');"
      "CREATE TABLE \"Old\" (v text); INSERT INTO \"Old\" VALUES ('kept');"
      "CREATE SCHEMA IF NOT EXISTS locked; CREATE TABLE IF NOT EXISTS locked.src (v text);"
      "GRANT USAGE ON SCHEMA locked TO alice; GRANT SELECT ON locked.src TO alice;");
  struct Case {
    std::string what, file, password, table;
    bool replace;
    std::string expected;  // part of the error
  };
  const std::string alice = server->connectionFile("alice-locked.pgconn", PgServer::kPasswordUser,
                                                   PgServer::kDatabase, "schema=locked\n");
  const std::vector<Case> cases = {
      {"a name longer than the server keeps", path, "", std::string(64, 'n'), false, "63 bytes"},
      {"the same, replacing", path, "", "Old", true, ""},
      {"a schema the user may not write to", alice, PgServer::kPassword, "Made", false,
       "permission denied"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    auto c = open(k.file, k.password);
    extract::TableExport out(*c, k.table);
    out.begin();
    try {
      if (k.replace) out.dropOld();
      out.openValues("v", "src");
      // A name too long for the server is refused before the old table is touched further.
      out.create(k.replace ? std::string(64, 'f') : "v");
      ADD_FAILURE() << "created";
    } catch (const db::Error& e) {
      if (!k.expected.empty())
        EXPECT_NE(e.description().find(k.expected), std::string::npos) << e.description();
      else
        EXPECT_NE(e.description().find("63 bytes"), std::string::npos) << e.description();
    }
    out.closeValues();
    out.rollBack();
  }
  EXPECT_EQ(rows("SELECT v FROM \"Old\""), Names{"kept"});
  EXPECT_EQ(rows("SELECT count(*) FROM pg_catalog.pg_tables WHERE tablename IN ('Made', '" +
                 std::string(64, 'n') + "', '" + std::string(63, 'n') + "')"),
            Names{"0"});
}

// Rows sent in bulk fail at the latest at the commit, which then keeps nothing; every statement
// after a failure in a transaction is refused with the same cause.
TEST_F(PostgresTest, AFailureInsideATransactionEndsItAndTheCommitKeepsNothing) {
  sql("CREATE TABLE kept (v text)");
  auto c = open();
  c->beginTrans();
  c->execute(db::CreateTableStatement("fresh", "v"));
  c->execute(db::InsertStatement("fresh", "x"));
  try {
    // Rows are sent when another table's rows come, or another statement, or the commit.
    c->execute(db::InsertStatement("nowhere", "y"));
    c->execute(db::InsertStatement("kept", "z"));
    c->commitTrans();
    ADD_FAILURE() << "committed";
  } catch (const db::Error& e) {
    EXPECT_EQ(e.number(), db::errc::kTransactionEnded);
    EXPECT_NE(e.description().find("nowhere"), std::string::npos) << e.description();
  }
  EXPECT_NO_THROW(c->rollbackTrans());  // nothing left to roll back: says nothing
  EXPECT_FALSE(tableExists("fresh"));
  EXPECT_EQ(rows("SELECT count(*) FROM kept"), Names{"0"});

  // A failed statement ends the transaction; what follows is refused, naming the cause.
  c->beginTrans();
  c->execute(db::CreateTableStatement("fresh", "v"));
  EXPECT_THROW(c->execute(db::DropTableStatement("no such table")), db::Error);
  try {
    c->execute(db::InsertStatement("fresh", "x"));
    c->commitTrans();
    ADD_FAILURE() << "committed";
  } catch (const db::Error& e) {
    EXPECT_EQ(e.number(), db::errc::kTransactionEnded);
    EXPECT_NE(e.description().find("no such table"), std::string::npos) << e.description();
  }
  c->rollbackTrans();
  EXPECT_FALSE(tableExists("fresh"));

  // The connection works on afterwards.
  c->beginTrans();
  c->execute(db::CreateTableStatement("fresh", "v"));
  c->execute(db::InsertStatement("fresh", "ok"));
  c->commitTrans();
  EXPECT_EQ(rows("SELECT v FROM fresh"), Names{"ok"});
}

TEST_F(PostgresTest, AReadOnlyOpeningWritesNothingAndStatementsAreRefusedClearly) {
  sql("CREATE TABLE src (v text); INSERT INTO src VALUES ('a')");
  auto reader = open(path, "", db::OpenMode::Read);
  reader->beginTrans();
  EXPECT_THROW(reader->execute(db::CreateTableStatement("made", "v")), db::Error);
  reader->rollbackTrans();
  EXPECT_FALSE(tableExists("made"));

  auto c = open();
  auto r = c->openRecordset(db::DistinctValuesStatement("v", "src"));
  // Outside a transaction, a change while a record set reads is refused, not half-kept.
  EXPECT_THROW(c->execute(db::CreateTableStatement("made", "v")), db::Error);
  EXPECT_THROW(c->execute(db::CreateTableStatement("made", "v") + " DROP TABLE src"), db::Error);
  try {
    c->openRecordset(db::DropTableStatement("src"));
    ADD_FAILURE() << "opened";
  } catch (const db::Error& e) {
    EXPECT_NE(e.description().find("returns no rows"), std::string::npos);
  }
  EXPECT_EQ(ReadAll(*r), Names{"a"});
  r.reset();
  try {
    c->openRecordset(db::DistinctValuesStatement("nope", "src"));
    ADD_FAILURE() << "opened";
  } catch (const db::Error& e) {
    EXPECT_EQ(e.number(), db::errc::kNoSuchObject) << e.description();
  }
  // Once the record sets are closed, statements run (and keep) as they stand.
  c->execute(db::CreateTableStatement("made", "v"));
  c->execute(db::InsertStatement("made", "w"));
  EXPECT_EQ(rows("SELECT v FROM made"), Names{"w"});
}

}  // namespace
