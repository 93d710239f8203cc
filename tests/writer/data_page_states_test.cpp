// Data pages in every state Access leaves rows in (live, deleted with or without their bytes, a
// moved row, the data of a moved row) under a seeded random run of inserts, deletes and packs:
// every row keeps its number, state and bytes (deleted rows may lose their bytes), numbers are
// never reused, rows stay in row order, and the free-space field stays true. Pages whose rows
// are out of place are refused unchanged, and so are rows whose numbers are too short to read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>

#include "db/base/error.h"
#include "db/access/write/data_page.h"

namespace {

using namespace db::access::write;

constexpr std::size_t kPage = 4096;

struct Expected {
  Bytes bytes;
  std::uint16_t flags = 0;
};

// Every row is where the model says, rows lie in row order and the free space is the gap.
void ExpectPage(const Bytes& page, const std::map<unsigned, Expected>& model,
                const std::string& when) {
  ASSERT_NO_THROW(CheckDataPage(page)) << when;
  unsigned n = DataRowCount(page);
  ASSERT_EQ(n, model.size()) << when;
  std::size_t lowest = kPage;
  for (unsigned r = 0; r < n; ++r) {
    RowSlot slot = DataRowSlot(page, r);
    const Expected& e = model.at(r);
    EXPECT_EQ(slot.flags, e.flags) << when << ", row " << r;
    Bytes got(page.begin() + static_cast<std::ptrdiff_t>(slot.start),
              page.begin() + static_cast<std::ptrdiff_t>(slot.end));
    if (slot.deleted())
      EXPECT_TRUE(got.empty() || got == e.bytes) << when << ", deleted row " << r;
    else
      EXPECT_EQ(got, e.bytes) << when << ", row " << r;
    EXPECT_LT(slot.start, kPage) << when << ", row " << r << " starts outside the page";
    lowest = std::min(lowest, slot.start);
  }
  EXPECT_EQ(DataFreeSpace(page), lowest - kDataHeader - 2 * n) << when;
}

Bytes RandomRow(std::mt19937& rng, std::size_t maxSize) {
  std::size_t size = 5 + rng() % (maxSize - 4);
  Bytes row(size);
  for (auto& b : row) b = static_cast<unsigned char>(rng());
  return row;
}

TEST(DataPageStates, RandomInsertsDeletesAndPacksKeepEveryRowInItsPlace) {
  const char* env = std::getenv("ROWSIFTER_PAGE_SEED");
  unsigned first = env ? static_cast<unsigned>(std::atoi(env)) : 1;
  for (unsigned seed = first; seed < first + 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    Bytes page = NewDataPage(kPage, 77);
    std::map<unsigned, Expected> model;
    for (int step = 0; step < 600; ++step) {
      std::string when = "step " + std::to_string(step);
      unsigned op = rng() % 10;
      if (op < 6 || model.empty()) {
        // A new row: sometimes as Access leaves one (moved data, a moved row), which the writer
        // itself never makes but must keep.
        Bytes row = RandomRow(rng, op == 0 ? 1200 : 160);
        std::optional<unsigned> at = InsertDataRow(page, row);
        if (!at) {
          std::size_t deletedBytes = 0;
          for (auto& [r, e] : model)
            if (e.flags == kRowDeleted && r > 0) deletedBytes += DataRowSlot(page, r).size();
          std::size_t room = DataFreeSpace(page) + deletedBytes;
          EXPECT_TRUE(model.size() >= kMaxRowsPerPage || room < row.size() + 2) << when;
          continue;
        }
        ASSERT_EQ(*at, model.size()) << when << ": a row number was reused";
        std::uint16_t flags = 0;
        if (op == 1) flags = kRowMovedData;
        if (op == 2) flags = kRowMoved;
        if (flags) Put16(&page[kDataHeader + 2 * *at], Get16(&page[kDataHeader + 2 * *at]) | flags);
        model[*at] = {row, flags};
      } else if (op < 9) {
        auto it = model.begin();
        std::advance(it, rng() % model.size());
        if (it->second.flags == kRowDeleted || it->second.flags == kRowMovedData) continue;
        DeleteDataRow(page, it->first);
        it->second.flags = kRowDeleted;
      } else {
        CompactDataPage(page);
      }
      ExpectPage(page, model, when);
      if (HasFailure()) return;
    }
  }
}

TEST(DataPageStates, PagesWithRowsOutOfPlaceAreRefusedUnchanged) {
  Bytes good = NewDataPage(kPage, 77);
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(InsertDataRow(good, Bytes(40, static_cast<unsigned char>(i + 1))));
  struct Case {
    const char* what;
    void (*damage)(Bytes&);
  };
  const Case cases[] = {
      {"rows out of order", [](Bytes& p) { Put16(&p[kDataHeader + 2], kPage - 10); }},
      {"a row start inside the row table", [](Bytes& p) { Put16(&p[kDataHeader + 4], 16); }},
      {"a row start past the page", [](Bytes& p) { Put16(&p[kDataHeader], 0x1FF0); }},
      {"more rows than the page holds", [](Bytes& p) { Put16(&p[12], 3000); }},
  };
  for (const Case& c : cases) {
    Bytes page = good;
    c.damage(page);
    Bytes before = page;
    try {
      InsertDataRow(page, Bytes(30, 9));
      ADD_FAILURE() << c.what << ": insert accepted";
    } catch (const db::Error& e) {
      EXPECT_EQ(e.kind(), db::ErrorKind::kBadFormat) << c.what;
      EXPECT_NE(std::string(e.what()).find("compact and repair it in Access"), std::string::npos)
          << c.what << ": " << e.what();
    }
    EXPECT_THROW(DeleteDataRow(page, 0), db::Error) << c.what;
    EXPECT_EQ(page, before) << c.what;
  }
}

// A value of a number type shorter than that type, in a fixed column declared too short or in a
// variable one, is damage: the writer reads such values as numbers for index keys.
TEST(DataPageStates, ValuesShorterThanTheirTypeAreRefused) {
  RowColumn fixedLong{.number = 0, .fixed = true, .fixedOffset = 0, .length = 4, .minSize = 4};
  RowColumn varLong{.number = 1, .varIndex = 0, .minSize = 4};
  for (std::size_t size : {2, 4}) {
    SCOPED_TRACE(size);
    RowColumn fixed = fixedLong;
    fixed.length = static_cast<int>(size);
    const std::vector<RowColumn> columns{fixed, varLong};
    const std::vector<RowValue> fixedShort{Bytes(size, 7), std::nullopt},
        varShort{std::nullopt, Bytes(size, 7)};
    for (const std::vector<RowValue>& values : {fixedShort, varShort}) {
      const Bytes row = EncodeRow(columns, values, 2, 1);
      if (size < 4)
        EXPECT_THROW(DecodeRow(columns, row.data(), row.size()), db::Error);
      else
        EXPECT_EQ(DecodeRow(columns, row.data(), row.size()), values);
    }
  }
}

}  // namespace
