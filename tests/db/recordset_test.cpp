// The record set over a cursor: lazy reading, the exact count, and the states it refuses.
#include <gtest/gtest.h>

#include "db/connection.h"

namespace {

using db::Value;

// A cursor over `rows` integers that counts how many rows it was asked for; a row number in
// `failAt` throws instead.
class CountingCursor : public db::Cursor {
 public:
  CountingCursor(int rows, int* reads, int failAt = -1)
      : rows_(rows), reads_(reads), failAt_(failAt) {}
  const std::vector<std::string>& fieldNames() const override { return names_; }
  bool next(std::vector<Value>& row) override {
    if (given_ == rows_) return false;
    if (given_ == failAt_) throw db::Error(db::errc::kFailed, "row cannot be read");
    ++*reads_;
    row.assign({Value::Integer(given_), Value::Text("r" + std::to_string(given_))});
    ++given_;
    return true;
  }

 private:
  std::vector<std::string> names_{"n", "label"};
  int rows_;
  int* reads_;
  int failAt_;
  int given_ = 0;
};

db::Recordset Make(int rows, int* reads, int failAt = -1) {
  return db::Recordset(nullptr, std::make_unique<CountingCursor>(rows, reads, failAt));
}

TEST(Recordset, ReadsOnlyTheFirstRowWhenOpened) {
  int reads = 0;
  db::Recordset rs = Make(1000, &reads);
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(rs.fieldCount(), 2);
  EXPECT_EQ(rs.fieldName(1), "label");
  EXPECT_FALSE(rs.eof());
  EXPECT_EQ(rs.value(0), Value::Integer(0));
  rs.moveNext();
  EXPECT_EQ(reads, 2);
}

TEST(Recordset, CountsExactlyAndKeepsThePosition) {
  int reads = 0;
  db::Recordset rs = Make(5, &reads);
  rs.moveNext();
  rs.moveNext();
  EXPECT_EQ(rs.recordCount(), 5);
  EXPECT_EQ(reads, 5);
  EXPECT_EQ(rs.recordCount(), 5);  // asked again: no more reading
  EXPECT_EQ(reads, 5);
  std::vector<std::int64_t> rest;
  for (; !rs.eof(); rs.moveNext()) rest.push_back(rs.value(0).integer());
  EXPECT_EQ(rest, (std::vector<std::int64_t>{2, 3, 4}));
  EXPECT_EQ(rs.recordCount(), 5);  // at the end the count stays
}

TEST(Recordset, CountsEmptyAndEndedRowSets) {
  int reads = 0;
  db::Recordset empty = Make(0, &reads);
  EXPECT_TRUE(empty.eof());
  EXPECT_EQ(empty.recordCount(), 0);
  db::Recordset one = Make(1, &reads);
  one.moveNext();
  EXPECT_TRUE(one.eof());
  EXPECT_EQ(one.recordCount(), 1);
}

TEST(Recordset, RefusesWhatHasNoRowFieldOrObject) {
  int reads = 0;
  db::Recordset rs = Make(1, &reads);
  EXPECT_THROW(rs.value(2), db::Error);
  EXPECT_THROW(rs.fieldName(-1), db::Error);
  rs.moveNext();
  try {
    rs.value(0);
    ADD_FAILURE();
  } catch (const db::Error& e) {
    EXPECT_EQ(e.number(), db::errc::kNoCurrentRecord);
  }
  EXPECT_THROW(rs.moveNext(), db::Error);
  rs.close();
  EXPECT_FALSE(rs.isOpen());
  try {
    rs.eof();
    ADD_FAILURE();
  } catch (const db::Error& e) {
    EXPECT_EQ(e.number(), db::errc::kClosed);
  }
  EXPECT_THROW(rs.fieldCount(), db::Error);
  EXPECT_THROW(rs.recordCount(), db::Error);
  rs.close();  // twice is harmless
}

TEST(Recordset, EndsTheRowsAtARowThatCannotBeRead) {
  int reads = 0;
  db::Recordset rs = Make(5, &reads, 2);
  rs.moveNext();
  EXPECT_THROW(rs.moveNext(), db::Error);
  EXPECT_TRUE(rs.eof());
  EXPECT_THROW(rs.value(0), db::Error);  // no stale row
}

TEST(Connection, RefusesWorkWhenClosedAndASecondOpen) {
  db::Connection connection;
  EXPECT_FALSE(connection.isOpen());
  for (auto work : {+[](db::Connection& c) { c.tables(); },
                    +[](db::Connection& c) { c.openRecordset("SELECT 1"); },
                    +[](db::Connection& c) { c.execute("DELETE FROM t"); },
                    +[](db::Connection& c) { c.beginTrans(); }}) {
    try {
      work(connection);
      ADD_FAILURE();
    } catch (const db::Error& e) {
      EXPECT_EQ(e.number(), db::errc::kClosed);
    }
  }
  connection.close();  // closing a closed connection is harmless
}

}  // namespace
