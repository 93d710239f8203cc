// Builds the sample database that the "Load Sample/Example Database" button opens: a Jet 4 .mdb
// made from scratch with three small business tables whose values give every extraction
// criterion something to find (blanks, tabs, line feeds, apostrophes, digits, punctuation,
// accented letters, Nulls, and the same words in other letter case).
//
// Usage: make_sample <output path>. An existing file at the path is replaced.
#include <QDate>
#include <QTime>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "db/base/error.h"
#include "db/access/write/new_database.h"
#include "db/access/write/pager.h"
#include "db/access/write/typed_tables.h"

namespace {

using db::Value;
using db::access::write::NewColumnDef;
namespace coltype = db::access::write::coltype;

Value T(const char* text) { return Value::Text(text); }
Value N() { return Value::Null(); }
Value L(std::int64_t v) { return Value::Integer(v); }
Value D(double v) { return Value::Double(v); }
Value Yes(bool v) { return Value::Boolean(v); }
// A date (and time) as an OLE date.
Value Day(int y, int m, int d, int hour = 0, int minute = 0) {
  double days = static_cast<double>(QDate(1899, 12, 30).daysTo(QDate(y, m, d)));
  return Value::DateTime(days + (hour * 60 + minute) / 1440.0);
}

NewColumnDef Text(const char16_t* name, int length) { return {name, coltype::kText, length, true}; }
NewColumnDef Of(const char16_t* name, int type) { return {name, type, 0, true}; }

struct Table {
  const char16_t* name;
  std::vector<NewColumnDef> columns;
  std::vector<std::vector<Value>> rows;
};

std::vector<Table> SampleTables() {
  Table customers{
      u"Customers",
      {Of(u"CustomerID", coltype::kLong), Text(u"CompanyName", 60), Text(u"ContactName", 50),
       Text(u"City", 40), Text(u"Country", 30), Text(u"Phone", 24), Text(u"PostalCode", 10),
       Of(u"Notes", coltype::kMemo), Of(u"Active", coltype::kBoolean),
       Of(u"CustomerSince", coltype::kDateTime), Of(u"CreditLimit", coltype::kDouble)},
      {
          {L(1), T("Alfreds Futterkiste"), T("Maria Anders"), T("Berlin"), T("Germany"),
           T("030-0074321"), T("12209"), T("Prefers e-mail.\nCall only on Mondays."), Yes(true),
           Day(2019, 3, 14), D(5000)},
          {L(2), T("ALFREDS FUTTERKISTE"), T("maria anders"), T("berlin"), T("GERMANY"),
           T("(030) 007 4321"), T("12209"), T("Duplicate entry\tcheck with sales"), Yes(false),
           Day(2020, 1, 2), D(0)},
          {L(3), T("Ana Trujillo Emparedados y helados"), T("Ana Trujillo"), T("México D.F."),
           T("Mexico"), T("(5) 555-4729"), T("05021"), N(), Yes(true), Day(2018, 7, 30), D(2500.5)},
          {L(4), T("Bon app'"), T("Laurence Lebihan"), T("Marseille"), T("France"),
           T("91.24.45.40"), T("13008"), T("Owner's wife handles orders; ask for Mme Lebihan."),
           Yes(true), Day(2021, 11, 5, 9, 30), D(12000)},
          {L(5), T("Café Ñandú & Søn"), T("José Müller"), T("Zürich"), T("Switzerland"),
           T("+41 44 123 45 67"), T("8001"), T("Accents: é è ê ë ñ ü ø å"), Yes(true),
           Day(2022, 2, 28), D(750.25)},
          {L(6), T("O'Reilly's Pub"), T("Seán O'Brien"), T("Dublin"), T("Ireland"), T(""),
           T("D02 X285"), T(""), Yes(false), N(), N()},
          {L(7), T("Blue   Sky Traders"), T("  Tom Lee  "), T("New York"), T("USA"),
           T("212.555.0199"), T("10001"), T("Line one\nLine two\nLine three"), Yes(true),
           Day(2017, 5, 1), D(100000)},
          {L(8), T("Tab\tSeparated Ltd"), T("Kim\tPark"), T("Seoul"), T("Korea"), T("02-312-3456"),
           T("04524"), T("Tabs\tand\nline feeds\ttogether"), Yes(false), Day(2023, 8, 19, 17, 45),
           D(300)},
          {L(9), T("12345"), T("Numbers Only"), T("Oslo"), T("Norway"), T("22334455"), T("0150"),
           T("Company name is just digits."), Yes(true), Day(2016, 12, 31), D(1)},
          {L(10), T("!!!"), T("???"), T("---"), T("..."), T("(+)"), T("#@$%"),
           T("Only punctuation here: !?.,;:"), Yes(false), Day(2015, 6, 15), D(-50)},
          {L(11), T("Northwind"), N(), N(), N(), N(), N(), N(), Yes(false), N(), N()},
          {L(12), T("northwind"), T("Nancy Davolio"), T("Seattle"), T("USA"), T("206-555-9857"),
           T("98122"), T("Same company, lower case."), Yes(true), Day(2020, 10, 10), D(4200)},
          {L(13), T("ABCdef"), T("xyz"), T("abc123"), T("A1B2C3"), T("5551234"), T("ABC"),
           T("Letters, digits and mixes."), Yes(true), Day(2024, 4, 1), D(999.99)},
      }};

  Table products{
      u"Products",
      {Of(u"ProductID", coltype::kLong), Text(u"ProductName", 60), Text(u"Category", 30),
       Text(u"QuantityPerUnit", 40), Of(u"UnitPrice", coltype::kDouble),
       Of(u"UnitsInStock", coltype::kLong), Of(u"Discontinued", coltype::kBoolean),
       Of(u"Description", coltype::kMemo)},
      {
          {L(1), T("Chai"), T("Beverages"), T("10 boxes x 20 bags"), D(18), L(39), Yes(false),
           T("A spiced black tea.")},
          {L(2), T("CHAI"), T("beverages"), T("10 boxes x 20 bags"), D(18), L(0), Yes(true),
           T("Old entry of the same tea in capitals.")},
          {L(3), T("Aniseed Syrup"), T("Condiments"), T("12 - 550 ml bottles"), D(10), L(13),
           Yes(false), T("Sweet\tand\tstrong.")},
          {L(4), T("Chef Anton's Cajun Seasoning"), T("Condiments"), T("48 - 6 oz jars"), D(22),
           L(53), Yes(false), T("Hot!\nUse sparingly.")},
          {L(5), T("Crème brûlée mix"), T("Desserts"), T("6 packs"), D(14.5), L(7), Yes(false),
           T("Crème, sucre, vanille — à la française.")},
          {L(6), T("Gnocchi di nonna Alice"), T("Grains/Cereals"), T("24 - 250 g pkgs."), D(38),
           L(21), Yes(false), N()},
          {L(7), T("   "), T(""), N(), N(), N(), Yes(false), T("   ")},
          {L(8), T("Widget-2000"), T("Hardware"), T("1 piece"), D(0.99), L(1000), Yes(false),
           T("Part no. 2000-A; see catalogue p. 12.")},
          {L(9), T("2000"), T("Hardware"), T("1"), D(2000), L(2000), Yes(false), T("2000")},
          {L(10), T("Smørrebrød"), T("Produce"), T("1 kg"), D(7.25), L(40), Yes(false),
           T(std::string(1500, '*').append(" long description ends here").c_str())},
      }};

  Table orders{
      u"Orders",
      {Of(u"OrderID", coltype::kLong), Of(u"CustomerID", coltype::kLong),
       Of(u"OrderDate", coltype::kDateTime), Of(u"Freight", coltype::kDouble),
       Of(u"Shipped", coltype::kBoolean), Text(u"ShipName", 60), Text(u"ShipAddress", 80),
       Text(u"ShipCity", 40), Of(u"Comments", coltype::kMemo)},
      {
          {L(10248), L(1), Day(2024, 7, 4, 10, 15), D(32.38), Yes(true), T("Alfreds Futterkiste"),
           T("Obere Str. 57"), T("Berlin"), T("Deliver to the back door.")},
          {L(10249), L(2), Day(2024, 7, 5), D(11.61), Yes(true), T("alfreds futterkiste"),
           T("OBERE STR. 57"), T("BERLIN"), N()},
          {L(10250), L(4), Day(2024, 7, 8), D(65.83), Yes(false), T("Bon app'"),
           T("12, rue des Bouchers"), T("Marseille"), T("Customer's note:\n\"Ring twice\"")},
          {L(10251), L(5), Day(2024, 7, 8, 23, 59), D(41.34), Yes(true), T("Café Ñandú & Søn"),
           T("Bahnhofstraße 1"), T("Zürich"), T("Zoll\tbezahlt")},
          {L(10252), L(6), N(), N(), Yes(false), T("O'Reilly's Pub"), T(""), T("Dublin"), T("")},
          {L(10253), L(7), Day(2024, 7, 10), D(58.17), Yes(true), T("Blue   Sky Traders"),
           T("350 Fifth Avenue, Suite 3400"), T("New York"), T("Two\n\nblank lines\n")},
          {L(10254), L(9), Day(2024, 7, 11), D(22.98), Yes(false), T("12345"), T("1 2 3 4 5"),
           T("Oslo"), T("12345")},
          {L(10255), L(10), Day(2024, 7, 12), D(148.33), Yes(false), T("!!!"),
           T("#1, @ the corner"), T("---"), T("???")},
          {L(10256), L(11), Day(2024, 7, 15), D(13.97), Yes(true), T("Northwind"), N(), N(), N()},
          {L(10257), L(12), Day(2024, 7, 16), D(81.91), Yes(true), T("NORTHWIND"),
           T("507 - 20th Ave. E. Apt. 2A"), T("seattle"), T("Repeat order.")},
      }};
  return {customers, products, orders};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample <output path>\n");
    return 2;
  }
  std::filesystem::path out(argv[1]);
  try {
    if (out.has_parent_path()) std::filesystem::create_directories(out.parent_path());
    std::filesystem::remove(out);
    std::filesystem::remove(db::access::write::JournalPath(out.string()));
    double created = Day(2024, 6, 1, 12, 0).real();
    db::access::write::CreateEmptyDatabase(out.string(),
                                           db::access::write::NewDatabaseFormat::kJet4, created);
    {
      std::unique_ptr<db::access::write::JetPager> pager =
          db::access::write::JetPager::Open(out.string());
      pager->begin();
      db::access::write::TypedTables tables(*pager, [created] { return created; });
      for (const Table& t : SampleTables()) {
        std::uint32_t page = tables.create(t.name, t.columns);
        for (const std::vector<Value>& row : t.rows) tables.insert(page, row);
      }
      tables.flush();
      pager->commit();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_sample: %s\n", e.what());
    std::filesystem::remove(out);
    return 1;
  }
  return 0;
}
