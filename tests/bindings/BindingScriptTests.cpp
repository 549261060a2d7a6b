// Scripts reach the data table, the utility functions and Format through the
// bindings, with the errors the declarations promise.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>

#include "BindingScript.h"
#include "data/qovData.h"

using bindings::testing::RunBindingScript;
using bindings::testing::TBindingObjects;

namespace {

rtl::TStringList Lines(std::initializer_list<const char16_t*> lines) {
  rtl::TStringList list;
  for (const char16_t* l : lines) list.Add(l);
  return list;
}

std::string Body(const std::string& statements) { return "begin\n" + statements + "\nend.\n"; }

}  // namespace

TEST(DataBindings, CellRowAndDefaultPropertiesGiveTheSameText) {
  data::TqovData table(Lines({u"id;name", u"1;Ann", u"2;Bob"}), true, u';');
  auto run = RunBindingScript(Body("Print(DATA.Cell[1, 1]); Print(DATA.Row[1].Column[1]); Print(DATA[1][1]);\n"
                                   "Print(IntToStr(DATA.RowCount) + ' ' + IntToStr(DATA.HeaderCount));\n"
                                   "Print(DATA.Header[1] + ' ' + IntToStr(DATA.HeaderIndex['NAME']));\n"
                                   "Print(DATA.FieldDelimiter); if DATA.HasHeaderRow then Print('header');\n"
                                   "Print(IntToStr(DATA.LocateRow(1, 'bob', 0)));\n"
                                   "Print(DATA.GetRowByHeader('name', 'Ann', 1)[0]);\n"
                                   "Print(IntToStr(DATA[2].ColumnCount));"),
                              TBindingObjects{nullptr, &table, nullptr});
  EXPECT_TRUE(run.Ok) << run.Output;
  EXPECT_EQ(run.Output, "Ann\nAnn\nAnn\n3 2\nname 1\n;\nheader\n2\n1\n2\n");
}

TEST(DataBindings, ColumnNamesWithoutHeaderRowCountFromZero) {
  data::TqovData table(Lines({u"a,b"}), false, u',');
  auto run = RunBindingScript(Body("Print(IntToStr(DATA.HeaderIndex['col001']) + DATA.Header[0]);"),
                              TBindingObjects{nullptr, &table, nullptr});
  EXPECT_EQ(run.Output, "1Col000\n");
}

TEST(DataBindings, ReadOnlyPropertiesAreRejectedWhenCompiling) {
  for (const char* statement : {"DATA.RowCount := 5;", "DATA.Row[0] := nil;", "DOCUMENT.SheetCount := 3;",
                                "DOCUMENT.Sheet[1] := nil;", "DATA[0].ColumnCount := 1;"}) {
    auto run = RunBindingScript(Body(statement));
    EXPECT_FALSE(run.Ok) << statement;
    EXPECT_NE(run.Output.find("Compile error(s):\n[Error]"), std::string::npos) << statement << "\n" << run.Output;
  }
}

TEST(DataBindings, MissingObjectsAndTablesGiveTheEnginesErrors) {
  struct Case {
    const char* statement;
    const char* error;
  } cases[] = {
      {"Print(IntToStr(DATA.RowCount));", "Could not call proc"},
      {"DATA.LocateRow(0, 'x', 0);", "Null Pointer Exception"},
      {"Print(DOCUMENT.Sheet[1].Name);", "Could not call proc"},
      {"DOCUMENT.InsertSheet(1);", "Null Pointer Exception"},
      {"DOCUMENT.Visible := True;", "Could not call proc"},
  };
  for (const auto& c : cases) {
    auto run = RunBindingScript(Body(c.statement));
    EXPECT_FALSE(run.Ok) << c.statement;
    EXPECT_NE(run.Output.find(c.error), std::string::npos) << c.statement << "\n" << run.Output;
  }
}

TEST(DataBindings, AbsentRowAndIndexErrorsStopTheScript) {
  data::TqovData table(Lines({u"id;name", u"1;Ann"}), true, u';');
  TBindingObjects objects{nullptr, &table, nullptr};
  auto run = RunBindingScript(Body("Print(DATA.GetRowByHeader('name', 'Zed', 0)[0]);"), objects);
  EXPECT_NE(run.Output.find("Could not call proc"), std::string::npos) << run.Output;
  run = RunBindingScript(Body("Print(DATA[7][0]);"), objects);
  EXPECT_NE(run.Output.find("List index out of bounds (7)"), std::string::npos) << run.Output;
}

TEST(DataBindings, TheJobsTableAndItsRowsCannotBeFreedByTheScript) {
  data::TqovData table(Lines({u"id;name", u"1;Ann"}), true, u';');
  TBindingObjects objects{nullptr, &table, nullptr};
  for (const char* statement : {"DATA.Free;", "DATA[1].Free;"}) {
    auto run = RunBindingScript(Body(statement), objects);
    EXPECT_FALSE(run.Ok);
    EXPECT_NE(run.Output.find("Cannot free an object that belongs to the host"), std::string::npos) << run.Output;
  }
  EXPECT_EQ(table.Cell(1, 1), u"Ann");
}

TEST(DataBindings, ARowOfAFreedTableIsNoLongerAnObject) {
  // The script's own table: rows kept after Free must not reach freed memory.
  char path[] = "/tmp/korva_rows_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "a;b\n1;2\n", 8), 8);
  close(fd);
  auto run = RunBindingScript(std::string("var T: TqovData; R: TqovDataRow;\n") + "begin T := TqovData.Create('" +
                              path +
                              "', True, ';'); R := T[1];\n"
                              "Print(R[1]); T.Free; Print(R[0]); end.");
  unlink(path);
  EXPECT_FALSE(run.Ok);
  EXPECT_NE(run.Output.find("2\nRuntime error\n"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("not a live object"), std::string::npos) << run.Output;
}

TEST(UtilityBindings, EdgeCasesThroughScripts) {
  struct Case {
    const char* expression;
    const char* expected;
  } cases[] = {
      {"Format('%g', [RoundToEx(2.5, 0)])", "3"},
      {"Format('%g', [RoundToEx(-2.5, 0)])", "-3"},
      {"Format('%g', [RoundToEx(1.005, 2)])", "1.01"},
      {"Format('%g', [RoundToEx(1234.5, -2)])", "1200"},
      {"Format('%g', [RoundToEx(2.675, 2)])", "2.68"},
      {"Format('%g', [RoundToEx(0, 3)])", "0"},
      {"Format('%g', [StrToFloatDefEx('abc', -1)])", "-1"},
      {"Format('%g', [StrToFloatEx(' 1.5e2 ')])", "150"},
      {"ReplaceStr('aAa', 'a', 'b')", "bAb"},
      {"ReplaceStr('abc', '', 'x')", "abc"},
      {"RightStr('abc', 5)", "abc"},
      {"RightStr('abc', 0)", ""},
      {"LeftStr('čšž', 2)", "čš"},
      {"MidStr('abcdef', 0, 2)", "ab"},
      {"MidStr('abc', 4, 1)", ""},
      {"MidStr('abcdef', 2, -1)", ""},
      {"ApplicationName", "bindings_tests"},
  };
  for (const auto& c : cases) {
    auto run = RunBindingScript(Body(std::string("Print(") + c.expression + ");"));
    EXPECT_EQ(run.Output, std::string(c.expected) + "\n") << c.expression;
  }
}

TEST(UtilityBindings, FormatTakesEveryKindOfArgument) {
  struct Case {
    const char* call;
    const char* expected;
  } cases[] = {
      {"Format('%d|%5d|%-5d|%.3d', [42, 42, 42, 7])", "42|   42|42   |007"},
      {"Format('%s-%s', ['a', 'b'])", "a-b"},
      {"Format('%1:s%0:s', ['a', 'b'])", "ba"},
      {"Format('%*d', [4, 7])", "   7"},
      {"Format('%.2f|%e|%g', [3.14159, 1.5, 0.5])", "3.14|1.50000000000000E+000|0.5"},
      {"Format('%n', [1234567.891])", "1,234,567.89"},
      {"Format('%x|%X', [255, 255])", "FF|FF"},
      {"Format('%u', [7])", "7"},
      {"Format('%s', [True])", "__error__"},
      {"Format('%d%%', [5])", "5%"},
      {"Format('%s', [#65])", "A"},
      {"Format('%d', [Int64(12345678901)])", "12345678901"},
      {"Format('%.1s', ['xyz'])", "x"},
  };
  for (const auto& c : cases) {
    auto run = RunBindingScript(Body(std::string("Print(") + c.call + ");"));
    if (std::string(c.expected) == "__error__")
      EXPECT_NE(run.Output.find("invalid or incompatible with argument"), std::string::npos) << c.call << run.Output;
    else
      EXPECT_EQ(run.Output, std::string(c.expected) + "\n") << c.call;
  }
}

TEST(UtilityBindings, FormatErrorsNameTheFormatText) {
  auto run = RunBindingScript(Body("Print(Format('%d %d', [1]));"));
  EXPECT_NE(run.Output.find("No argument for format '%d %d'"), std::string::npos) << run.Output;
  run = RunBindingScript(Body("Print(Format('%d', ['x']));"));
  EXPECT_NE(run.Output.find("Format '%d' invalid or incompatible with argument"), std::string::npos) << run.Output;
  run = RunBindingScript(Body("Print(FloatToStr(StrToFloatEx('1,5x')));"));
  EXPECT_NE(run.Output.find("'1,5x' is not a valid floating point value"), std::string::npos) << run.Output;
}

TEST(UtilityBindings, FormatFloatPictures) {
  struct Case {
    const char* call;
    const char* expected;
  } cases[] = {
      {"FormatFloat('#,##0.00', 1234567.891)", "1,234,567.89"},
      {"FormatFloat('0.00;(0.00);zero', -1.5)", "(1.50)"},
      {"FormatFloat('0.00;(0.00);zero', 0)", "zero"},
      {"FormatFloat('0.###E+00', 12345)", "1.235E+04"},
      {"FormatFloat('\"EUR \"0.0', 2.25)", "EUR 2.3"},
      {"FormatFloat('', 1.5)", "1.5"},
      {"FormatFloat('000', 7)", "007"},
  };
  for (const auto& c : cases) {
    auto run = RunBindingScript(Body(std::string("Print(") + c.call + ");"));
    EXPECT_EQ(run.Output, std::string(c.expected) + "\n") << c.call;
  }
}

TEST(UtilityBindings, ShellOpenIsDeclaredAndNeverFails) {
  auto run = RunBindingScript(Body("ShellOpen('/nonexistent/korva-no-such-program', ''); Print('after');"));
  EXPECT_TRUE(run.Ok) << run.Output;
  EXPECT_EQ(run.Output, "after\n");
}
