#include <gtest/gtest.h>

#include "spreadsheet/References.h"

namespace spreadsheet {
namespace {

struct TShiftCase {
  const char* Formula;
  const char* Expected;
};

TReferenceChange Rows(uint32_t at, const char* sheet = "Data") {
  return TReferenceChange{TReferenceChange::InsertRows, sheet, at, 1, {}};
}
TReferenceChange Columns(uint32_t at, const char* sheet = "Data") {
  return TReferenceChange{TReferenceChange::InsertColumns, sheet, at, 1, {}};
}

TEST(References, InsertingARowShiftsReferencesAtAndBelowIt) {
  const TShiftCase cases[] = {
      {"SUM(B2:B10)", "SUM(B2:B11)"},          // grows: the row lies inside
      {"SUM(B5:B10)", "SUM(B6:B11)"},          // moves: starts at the row
      {"SUM(B1:B4)", "SUM(B1:B4)"},            // above: unchanged
      {"A5+$A$5+A$5+$A5", "A6+$A$6+A$6+$A6"},  // absolute and relative alike
      {"A4*2", "A4*2"},
      {"Data!B7", "Data!B8"},
      {"data!B7", "data!B8"},          // sheet names ignore case
      {"Other!B7+B7", "Other!B7+B8"},  // another sheet stays
      {"'Data'!B7", "'Data'!B8"},
      {"SUM(5:7)", "SUM(6:8)"},    // whole rows
      {"SUM(A:A)", "SUM(A:A)"},    // whole columns do not move
      {"\"B7\"&B7", "\"B7\"&B8"},  // text stays text
      {"LOG10(B7)", "LOG10(B8)"},  // a function that looks like a cell
      {"Table1[Amount]+B7", "Table1[Amount]+B8"},
      {"[1]Data!B7+B7", "[1]Data!B7+B8"},            // another workbook is not adjusted
      {"SUM(Data:Other!B7)", "SUM(Data:Other!B7)"},  // 3-D references are left alone
      {"1E5+B7", "1E5+B8"},
      {"IF(B7>0,B7,#N/A)", "IF(B8>0,B8,#N/A)"},
      {"A1048576", "#REF!"},  // pushed off the sheet
      {"Data!A1048576", "Data!#REF!"},
      {"SUM(A5:A1048576)", "SUM(A6:A1048576)"},  // the range loses its last row
      {"MyName*2", "MyName*2"},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplyReferenceChange(c.Formula, Rows(5), "Data"), c.Expected) << c.Formula;
}

TEST(References, InsertingAColumnShiftsReferencesAtAndRightOfIt) {
  const TShiftCase cases[] = {
      {"SUM(A1:D1)", "SUM(A1:E1)"}, {"C3", "D3"},      {"$C$3", "$D$3"}, {"B3", "B3"}, {"SUM(C:D)", "SUM(D:E)"},
      {"SUM(3:3)", "SUM(3:3)"},     {"XFD1", "#REF!"},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplyReferenceChange(c.Formula, Columns(3), "Data"), c.Expected) << c.Formula;
}

TEST(References, UnqualifiedReferencesFollowTheirHostSheet) {
  EXPECT_EQ(ApplyReferenceChange("B7", Rows(5), "Other"), "B7");
  EXPECT_EQ(ApplyReferenceChange("B7", Rows(5), ""), "B7");  // names and charts qualify their references
  EXPECT_EQ(ApplyReferenceChange("Data!$B$7", Rows(5), ""), "Data!$B$8");
  EXPECT_EQ(ApplyReferenceChange("'My Sheet'!B7", Rows(5, "my sheet"), ""), "'My Sheet'!B8");
  EXPECT_EQ(ApplyReferenceChange("'It''s'!B7", Rows(5, "It's"), ""), "'It''s'!B8");
}

TEST(References, DeletingASheetTurnsItsReferencesIntoRefErrors) {
  TReferenceChange change{TReferenceChange::DeleteSheet, "Data", 0, 0, {}};
  EXPECT_EQ(ApplyReferenceChange("Data!A1+Other!A1", change, "Other"), "#REF!+Other!A1");
  EXPECT_EQ(ApplyReferenceChange("SUM('Data'!A1:B2)", change, ""), "SUM(#REF!)");
  EXPECT_EQ(ApplyReferenceChange("A1", change, "Other"), "A1");
}

TEST(References, SharedFormulasTranslateOnlyTheirRelativeParts) {
  EXPECT_EQ(TranslateFormula("B1+$C$1+C$1+$D1", 2, 1), "C3+$C$1+D$1+$D3");
  EXPECT_EQ(TranslateFormula("SUM(A1:A3)*Other!B2", 1, 0), "SUM(A2:A4)*Other!B3");
  EXPECT_EQ(TranslateFormula("A1", -1, 0), "#REF!");
}

TEST(References, RangeListsDropRangesCutOffTheSheet) {
  EXPECT_EQ(ApplyChangeToRangeList("A1:B4 C6 D1048576", Rows(5)), "A1:B4 C7");
  auto moved = ApplyChangeToRange("A2:C9", Rows(3));
  ASSERT_TRUE(moved);
  EXPECT_EQ(*moved, "A2:C10");
}

TEST(References, CellNamesAndRangesParse) {
  EXPECT_EQ(ColumnName(1), "A");
  EXPECT_EQ(ColumnName(27), "AA");
  EXPECT_EQ(ColumnName(16384), "XFD");
  TCellRef cell;
  ASSERT_TRUE(ParseCellRef("$AB$12", cell));
  EXPECT_EQ(cell.Column, 28u);
  EXPECT_EQ(cell.Row, 12u);
  EXPECT_FALSE(ParseCellRef("XFE1", cell));
  EXPECT_FALSE(ParseCellRef("A0", cell));
  EXPECT_FALSE(ParseCellRef("A1048577", cell));
  EXPECT_FALSE(ParseCellRef("Total", cell));
  TRangeRef range;
  ASSERT_TRUE(ParseRangeRef("C5:A1", range));
  EXPECT_EQ(RangeName(range), "A1:C5");
  ASSERT_TRUE(ParseRangeRef("B:B", range));
  EXPECT_EQ(range.Last.Row, kMaxRow);
}

}  // namespace
}  // namespace spreadsheet

namespace spreadsheet {
namespace {

TEST(References, NewerFunctionsAreStoredWithTheirPrefix) {
  const TShiftCase cases[] = {
      {"CONCAT(A1,B1)", "_xlfn.CONCAT(A1,B1)"},
      {"concat(A1)&textjoin(\",\",TRUE,A1:A3)", "_xlfn.CONCAT(A1)&_xlfn.TEXTJOIN(\",\",TRUE,A1:A3)"},
      {"STDEV.S(A1:A9)+STDEV(A1:A9)", "_xlfn.STDEV.S(A1:A9)+STDEV(A1:A9)"},  // the older one has none
      {"IFNA(XLOOKUP(1,A:A,B:B),0)", "_xlfn.IFNA(_xlfn.XLOOKUP(1,A:A,B:B),0)"},
      {"SORT(FILTER(A1:A9,B1:B9>0))", "_xlfn._xlws.SORT(_xlfn._xlws.FILTER(A1:A9,B1:B9>0))"},
      {"_xlfn.CONCAT(A1)", "_xlfn.CONCAT(A1)"},              // already stored form
      {"\"CONCAT(\"&'IFS(x'!A1", "\"CONCAT(\"&'IFS(x'!A1"},  // text and sheet names
      {"Table1[CONCAT(]+1", "Table1[CONCAT(]+1"},            // a column name
      {"SUM(A1:A3)+CONCAT", "SUM(A1:A3)+CONCAT"},            // a defined name, not a call
      {"MYCONCAT(A1)+IFS2(1)", "MYCONCAT(A1)+IFS2(1)"},      // other names that merely contain one
      {"", ""},
  };
  for (const TShiftCase& c : cases) EXPECT_EQ(QualifyNewerFunctions(c.Formula), c.Expected) << c.Formula;
}

}  // namespace
}  // namespace spreadsheet

namespace spreadsheet {
namespace {

TEST(References, StructuredReferencesToTheTablesOfADeletedSheetBecomeRefErrors) {
  TReferenceChange change{TReferenceChange::DeleteSheet, "Data", 0, 0, {"Sales", "Ünits"}};
  const TShiftCase cases[] = {
      {"SUM(Sales[Amount])", "SUM(#REF!)"},
      {"sales[[#Totals],[Amount]]+1", "#REF!+1"},  // nested brackets, any letter case
      {"Other!A1+Sales[@Qty]", "Other!A1+#REF!"},
      {"Data!A1+Sales[Qty]", "#REF!+#REF!"},
      {"COUNT(ünits[])", "COUNT(#REF!)"},
      {"Sales2[Amount]+Sales", "Sales2[Amount]+Sales"},  // another table; a name
      {"\"Sales[Amount]\"&'Sales[x'!A1", "\"Sales[Amount]\"&'Sales[x'!A1"},
  };
  for (const TShiftCase& c : cases) EXPECT_EQ(ApplyReferenceChange(c.Formula, change, "Keep"), c.Expected) << c.Formula;
}

TEST(References, StructuredReferencesFollowARenamedTableColumn) {
  struct TCase {
    const char* Formula;
    bool InTable;
    const char* Expected;
  };
  const TCase cases[] = {
      {"SUM(Sales[Customer])", false, "SUM(Sales[Client])"},
      {"sales[customer]", false, "sales[Client]"},  // names ignore case
      {"Sales[[#This Row],[Customer]]*2", false, "Sales[[#This Row],[Client]]*2"},
      {"SUM(Sales[[#Headers],[#Data],[Customer]:[Amount]])", false, "SUM(Sales[[#Headers],[#Data],[Client]:[Amount]])"},
      {"SUM(Sales[[Amount]:[Customer]])", false, "SUM(Sales[[Amount]:[Client]])"},
      {"Sales[@Customer]&Sales[@[Customer]]", false, "Sales[@Client]&Sales[@[Client]]"},
      {"[@Customer]&[Customer]", true, "[@Client]&[Client]"},  // the formula's own table
      {"[@Customer]&[Customer]", false, "[@Customer]&[Customer]"},
      {"Other[Customer]+Sales[Customered]+Sales[#All]", false, "Other[Customer]+Sales[Customered]+Sales[#All]"},
      {"\"Sales[Customer]\"&'Sales[x]'!A1", false, "\"Sales[Customer]\"&'Sales[x]'!A1"},  // text, a sheet name
      {"[1]Customer!A1", true, "[1]Customer!A1"},                                         // a workbook index
      {"Table_1.a[Customer]", false, "Table_1.a[Customer]"},
  };
  TColumnRename rename{{"Sales", "Table1"}, "Customer", "Client"};
  for (const TCase& c : cases) EXPECT_EQ(RenameTableColumn(c.Formula, rename, c.InTable), c.Expected) << c.Formula;
  // Names the plain form cannot hold take brackets; [ ] # ' are escaped.
  const TCase special[] = {
      {"Sales[Customer]", false, "Sales[[Unit price]]"},
      {"[@Customer]", true, "[@[Unit price]]"},
      {"Sales[[#This Row],[Customer]]", false, "Sales[[#This Row],[Unit price]]"},
  };
  for (const TCase& c : special)
    EXPECT_EQ(RenameTableColumn(c.Formula, {{"Sales"}, "Customer", "Unit price"}, c.InTable), c.Expected);
  EXPECT_EQ(RenameTableColumn("Sales['[Note']]+1", {{"Sales"}, "[Note]", "Cost #1's"}, false),
            "Sales[[Cost '#1''s]]+1");
  EXPECT_EQ(RenameTableColumn("Sales[[Cost '#1''s]]", {{"Sales"}, "cost #1's", "Sum"}, false), "Sales[[Sum]]");
}

}  // namespace
}  // namespace spreadsheet
