// Reading and writing cell values through the server, typed input, saving.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ServerFixture.h"
#include "rtl/Locale.h"
#include "spreadsheet/Workbook.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

struct TTypedCase {
  std::u16string Input;
  TTypedInput::TKind Kind;
  double Number;
  std::string Text;
};

TEST(TypedInput, StringsAreTakenAsTheApplicationTakesTypedInput) {
  const TTypedCase cases[] = {
      {u"123", TTypedInput::tiNumber, 123, ""},
      {u"1.5", TTypedInput::tiNumber, 1.5, ""},
      {u"5%", TTypedInput::tiPercent, 0.05, ""},
      {u"-2.5e3", TTypedInput::tiNumber, -2500, "0.00E+00"},
      {u"1,234,567", TTypedInput::tiNumber, 1234567, ""},
      {u" 42 ", TTypedInput::tiNumber, 42, ""},
      {u"007", TTypedInput::tiNumber, 7, ""},  // leading zeros are lost, as in the application
      {u"12345678901234567", TTypedInput::tiNumber, 12345678901234500, ""},  // 15 digits kept
      {u"TRUE", TTypedInput::tiBoolean, 1, ""},
      {u"false", TTypedInput::tiBoolean, 0, ""},
      {u"=A1+1", TTypedInput::tiFormula, 0, "A1+1"},
      {u"'007", TTypedInput::tiText, 0, "007"},
      {u"'=A1", TTypedInput::tiText, 0, "=A1"},
      {u"abc", TTypedInput::tiText, 0, "abc"},
      {u"=", TTypedInput::tiText, 0, "="},
      {u"1,23", TTypedInput::tiText, 0, "1,23"},
      {u"%", TTypedInput::tiText, 0, "%"},
      {u"", TTypedInput::tiEmpty, 0, ""},
      {u" ", TTypedInput::tiText, 0, " "},
      {u"$12", TTypedInput::tiNumber, 12, "\"$\"#,##0"},
      {u"-$1,234.50", TTypedInput::tiNumber, -1234.5, "\"$\"#,##0.00"},
      {u"$-12", TTypedInput::tiNumber, -12, "\"$\"#,##0"},
      {u"($12.5)", TTypedInput::tiNumber, -12.5, "\"$\"#,##0.00"},
      {u"12$", TTypedInput::tiText, 0, "12$"},  // not where the locale writes the symbol
      {u"$", TTypedInput::tiText, 0, "$"},
      {u"$12%", TTypedInput::tiText, 0, "$12%"},
      {u"(12)", TTypedInput::tiNumber, -12, ""},
      {u"(12%)", TTypedInput::tiPercent, -0.12, ""},
      {u"(-12)", TTypedInput::tiText, 0, "(-12)"},
      {u"()", TTypedInput::tiText, 0, "()"},
      {u"1e3", TTypedInput::tiNumber, 1000, "0.00E+00"},
      {u"1.5E-2", TTypedInput::tiNumber, 0.015, "0.00E+00"},
      {u"#N/A", TTypedInput::tiError, 0, "#N/A"},
      {u" #div/0! ", TTypedInput::tiError, 0, "#DIV/0!"},
      {u"#NAME?", TTypedInput::tiError, 0, "#NAME?"},
      {u"#NULL!", TTypedInput::tiError, 0, "#NULL!"},
      {u"#SPILL!", TTypedInput::tiText, 0, "#SPILL!"},  // a result only, never typed
      {u"#N/A!", TTypedInput::tiText, 0, "#N/A!"},
      {u"2026-11-03", TTypedInput::tiDate, 46329, ""},
      {u" 2026-1-3 ", TTypedInput::tiDate, 46025, ""},
      {u"2026-11-03 18:00", TTypedInput::tiDate, 46329.75, ""},
      {u"2026-11-03T06:00:00", TTypedInput::tiDate, 46329.25, ""},
      {u"'2026-11-03", TTypedInput::tiText, 0, "2026-11-03"},
      {u"2026-02-30", TTypedInput::tiText, 0, "2026-02-30"},
      {u"2026-11-03 25:00", TTypedInput::tiText, 0, "2026-11-03 25:00"},
      {u"26-11-03", TTypedInput::tiText, 0, "26-11-03"},
      {u"2026-11-03x", TTypedInput::tiText, 0, "2026-11-03x"},
  };
  for (const auto& c : cases) {
    TTypedInput typed = ReadTypedInput(c.Input);
    EXPECT_EQ(typed.Kind, c.Kind) << rtl::UnicodeToUtf8(c.Input);
    if (c.Kind == TTypedInput::tiNumber || c.Kind == TTypedInput::tiPercent || c.Kind == TTypedInput::tiDate) {
      EXPECT_DOUBLE_EQ(typed.Number, c.Number) << rtl::UnicodeToUtf8(c.Input);
    }
    if (c.Kind == TTypedInput::tiBoolean) {
      EXPECT_EQ(typed.Boolean, c.Number != 0);
    }
    if (c.Kind == TTypedInput::tiText || c.Kind == TTypedInput::tiFormula || c.Kind == TTypedInput::tiError) {
      EXPECT_EQ(typed.Text, c.Text) << rtl::UnicodeToUtf8(c.Input);
    }
    // For numbers, Text holds the number format the typing asks for.
    if (c.Kind == TTypedInput::tiNumber) {
      EXPECT_EQ(typed.Format, c.Text) << rtl::UnicodeToUtf8(c.Input);
    }
    EXPECT_EQ(typed.QuotePrefix, c.Input[0] == u'\'') << rtl::UnicodeToUtf8(c.Input);
  }
}

TEST(TypedInput, NumbersFollowTheDecimalSeparatorOfTheSettings) {
  rtl::TFormatSettings saved = rtl::FormatSettings();
  rtl::FormatSettings().DecimalSeparator = u',';
  rtl::FormatSettings().ThousandSeparator = u'.';
  EXPECT_DOUBLE_EQ(ReadTypedInput(u"1.234,5").Number, 1234.5);
  EXPECT_EQ(ReadTypedInput(u"1.5").Kind, TTypedInput::tiText);
  // The locale's currency symbol, where the locale writes it.
  rtl::TFormatSettings euro = saved;
  euro.DecimalSeparator = u',';
  euro.ThousandSeparator = u'.';
  euro.CurrencyString = rtl::UnicodeString(1, u'\u20AC');
  euro.CurrencyFormat = 3;
  rtl::FormatSettings() = euro;
  TTypedInput euros = ReadTypedInput(u"1.234,50 \u20AC");
  EXPECT_DOUBLE_EQ(euros.Number, 1234.5);
  EXPECT_EQ(euros.Format, "#,##0.00\" \u20AC\"");
  EXPECT_EQ(ReadTypedInput(u"$12").Kind, TTypedInput::tiText);
  rtl::FormatSettings() = saved;
}

// The shortcuts for plain numbers and words must read every input exactly
// as the full reading does, under any separators and currency symbol.
TEST(TypedInput, ShortcutsAgreeWithTheFullReading) {
  rtl::TFormatSettings saved = rtl::FormatSettings();
  rtl::TFormatSettings comma = saved, crowns = saved;
  comma.DecimalSeparator = u',';
  comma.ThousandSeparator = u'.';
  crowns.CurrencyString = u"kr";
  crowns.CurrencyFormat = 3;
  const std::u16string pieces[] = {u"0",      u"1", u"7",   u"9",    u"00",    u"123456789", u"-",    u"+",
                                   u".",      u",", u"e",   u"E",    u" ",     u"$",         u"%",    u"(",
                                   u")",      u"#", u"N/A", u"true", u"FALSE", u"kr",        u"name", u"x",
                                   u"\u20AC", u"'", u"=",   u":",    u"T",     u"2026-01-05"};
  std::vector<std::u16string> inputs = {u"0",
                                        u"-0",
                                        u"-0.0",
                                        u"007",
                                        u"1234567890123456",
                                        u"123456789012345",
                                        u"0.000000000000001234567890123456",
                                        u"name0",
                                        u"tag",
                                        u"xxxxxxxx",
                                        u"True",
                                        u"kr12",
                                        u"12 kr",
                                        u"Infinity",
                                        u"nan",
                                        u"e5",
                                        u"E",
                                        u"-",
                                        u"1.",
                                        u".5",
                                        u"1,5",
                                        u"1.5",
                                        u"1.234,5"};
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (int k = 0; k < 6000; ++k) {
    std::u16string text;
    for (uint32_t n = 1 + (next() >> 16) % 4; n > 0; --n) text += pieces[(next() >> 16) % std::size(pieces)];
    inputs.push_back(text);
  }
  for (const rtl::TFormatSettings& settings : {saved, comma, crowns}) {
    rtl::FormatSettings() = settings;
    for (const std::u16string& input : inputs) {
      TTypedInput quick = ReadTypedInput(input), full = ReadTypedInputInFull(input);
      std::string shown = rtl::UnicodeToUtf8(input);
      ASSERT_EQ(quick.Kind, full.Kind) << shown;
      ASSERT_EQ(std::signbit(quick.Number), std::signbit(full.Number)) << shown;
      ASSERT_EQ(quick.Number, full.Number) << shown;
      ASSERT_EQ(quick.Text, full.Text) << shown;
      ASSERT_EQ(quick.Format, full.Format) << shown;
      ASSERT_EQ(quick.Boolean, full.Boolean) << shown;
      ASSERT_EQ(quick.QuotePrefix, full.QuotePrefix) << shown;
      ASSERT_EQ(quick.HasTime, full.HasTime) << shown;
    }
  }
  rtl::FormatSettings() = saved;
}

TEST(NumberFormats, DateFormatsAreRecognised) {
  EXPECT_TRUE(IsDateFormatCode("yyyy-mm-dd"));
  EXPECT_TRUE(IsDateFormatCode("[$-409]d-mmm-yy;@"));
  EXPECT_TRUE(IsDateFormatCode("[h]:mm"));
  EXPECT_FALSE(IsDateFormatCode("0.00"));
  EXPECT_FALSE(IsDateFormatCode("\"days\" 0"));
  EXPECT_FALSE(IsDateFormatCode("[Red]#,##0"));
  EXPECT_FALSE(IsDateFormatCode("General"));
}

class ValueTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");
  void MakeBook(bool calcChain = false) {
    TBookLayout layout;
    layout.Sheets = {
        {"Data",
         "<sheetData><row r=\"1\"><c r=\"A1\"><v>2</v></c><c r=\"B1\" t=\"s\"><v>0</v></c>"
         "<c r=\"C1\" t=\"s\"><v>1</v></c><c r=\"D1\" t=\"b\"><v>1</v></c><c r=\"E1\" t=\"e\"><v>#DIV/0!</v></c>"
         "<c r=\"F1\" s=\"1\"><v>45000.5</v></c><c r=\"G1\"><f>A1*3</f><v>6</v></c>"
         "<c r=\"H1\" t=\"inlineStr\"><is><t>inline</t></is></c><c r=\"I1\" t=\"str\"><f>\"a\"&amp;\"b\"</f><v>ab</v></c>"
         "</row></sheetData>"},
        {"Other", "<sheetData/>"}};
    layout.SharedStrings = "<si><t>shared</t></si><si><r><t>rich </t></r><r><rPr><b/></rPr><t>text</t></r></si>";
    layout.CellXfs +=
        "<xf numFmtId=\"22\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
    layout.CalcChain = calcChain;
    WriteBook(FPath, layout);
  }
};

TEST_F(ValueTest, ReadsEveryKindOfCellValue) {
  MakeBook();
  auto sheet = Sheet(Open(FPath), 1);
  EXPECT_EQ(Get(sheet, 1, 1).VType(), rtl::varDouble);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 1).VDouble(), 2);
  EXPECT_EQ(Get(sheet, 1, 2).VType(), rtl::varOleStr);
  EXPECT_EQ(Text(Get(sheet, 1, 2)), "shared");
  EXPECT_EQ(Text(Get(sheet, 1, 3)), "rich text");
  EXPECT_EQ(Get(sheet, 1, 4).VType(), rtl::varBoolean);
  EXPECT_TRUE(Get(sheet, 1, 4).VBoolean());
  EXPECT_EQ(Get(sheet, 1, 5).VType(), rtl::varError);
  EXPECT_EQ(Get(sheet, 1, 5).VError(), rtl::MakeCellError(2007));
  EXPECT_EQ(Get(sheet, 1, 6).VType(), rtl::varDate);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 6).VDate(), 45000.5);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 7).VDouble(), 6);  // a formula's cached value
  EXPECT_EQ(Text(Get(sheet, 1, 8)), "inline");
  EXPECT_EQ(Text(Get(sheet, 1, 9)), "ab");
  EXPECT_TRUE(Get(sheet, 2, 1).IsEmpty());
  EXPECT_TRUE(Get(sheet, 1, 100).IsEmpty());
}

TEST_F(ValueTest, WrittenTextIsTypedInputAndReadsBackAfterSaving) {
  MakeBook();
  auto book = Open(FPath);
  auto sheet = Sheet(book, 2);
  const char16_t* inputs[] = {u"123", u"1.5", u"5%", u"TRUE", u"=A1+1", u"'007", u"abc", u"2026-11-03"};
  for (int i = 0; i < 8; ++i) PutText(sheet, i + 1, 1, inputs[i]);
  Put(sheet, 1, 2, Variant(int32_t(7)));
  Put(sheet, 2, 2, Variant::FromCurrency(12345));
  Put(sheet, 3, 2, Variant::FromDate(45000));
  Put(sheet, 4, 2, Variant(false));
  Put(sheet, 5, 2, Variant::FromUString(u"x < y & \"z\""));
  Put(sheet, 6, 2, Variant::FromError(rtl::MakeCellError(2042)));
  SaveAndClose(book);

  auto again = Sheet(Open(FPath), 2);
  EXPECT_DOUBLE_EQ(Get(again, 1, 1).VDouble(), 123);
  EXPECT_DOUBLE_EQ(Get(again, 2, 1).VDouble(), 1.5);
  EXPECT_DOUBLE_EQ(Get(again, 3, 1).VDouble(), 0.05);
  EXPECT_EQ(Get(again, 4, 1).VType(), rtl::varBoolean);
  EXPECT_DOUBLE_EQ(Get(again, 5, 1).VDouble(), 124);  // the formula's result, computed when read
  EXPECT_EQ(Text(Get(again, 6, 1)), "007");
  EXPECT_EQ(Text(Get(again, 7, 1)), "abc");
  EXPECT_EQ(Get(again, 8, 1).VType(), rtl::varDate);
  EXPECT_DOUBLE_EQ(Get(again, 8, 1).VDate(), 46329);
  EXPECT_DOUBLE_EQ(Get(again, 1, 2).VDouble(), 7);
  EXPECT_DOUBLE_EQ(Get(again, 2, 2).VDouble(), 1.2345);
  EXPECT_EQ(Get(again, 3, 2).VType(), rtl::varDate);
  EXPECT_FALSE(Get(again, 4, 2).VBoolean());
  EXPECT_EQ(Text(Get(again, 5, 2)), "x < y & \"z\"");
  EXPECT_EQ(Get(again, 6, 2).VError(), rtl::MakeCellError(2042));

  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/worksheets/sheet2.xml"], ::testing::HasSubstr("<c r=\"A5\"><f>A1+1</f><v>124</v></c>"));
  EXPECT_THAT(parts["xl/workbook.xml"], ::testing::HasSubstr("fullCalcOnLoad=\"1\""));

  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string out = RunPython("import openpyxl\nws = openpyxl.load_workbook('" + FPath +
                              "')['Other']\nprint([ws.cell(r, 1).value for r in range(1, 8)])\n"
                              "print(ws['A3'].number_format, ws['B3'].is_date, ws['B5'].value, ws['A8'].value)\n");
  EXPECT_EQ(out, "[123, 1.5, 0.05, True, '=A1+1', '007', 'abc']\n0% True x < y & \"z\" 2026-11-03 00:00:00\n");
}

// What typing leaves in the file beyond the value: the format a currency
// amount or an exponent asks for (on General cells only), the quote prefix of
// text typed after an apostrophe, error values, the normalised formula, and
// nothing at all for an empty text.
TEST_F(ValueTest, TypedInputKeepsWhatTheApplicationKeepsOfIt) {
  MakeBook();
  auto book = Open(FPath);
  auto sheet = Sheet(book, 2);
  struct TCase {
    const char16_t* Input;
    const char* Cell;  // as openpyxl sees it: value, data type, number format, quote prefix
  };
  const TCase cases[] = {
      {u"$12", "12 n \"$\"#,##0 False"},
      {u"$1,234.5", "1234.5 n \"$\"#,##0.00 False"},
      {u"(12)", "-12 n General False"},
      {u"1e3", "1000 n 0.00E+00 False"},
      {u"#N/A", "#N/A e General False"},
      {u"#ref!", "#REF! e General False"},
      {u"=sum(e4:e5)+if(true,$a$1,'Data'!b2)&\"sum(x)\"",
       "=SUM(E4:E5)+IF(TRUE,$A$1,'Data'!B2)&\"sum(x)\" f General False"},
      {u"=concat(a1,\"b\")", "=_xlfn.CONCAT(A1,\"b\") f General False"},
      {u"'007", "007 s General True"},
      {u"''", "' s General True"},
      {u"", "None n General False"},
  };
  int row = 1;
  for (const TCase& c : cases) PutText(sheet, row++, 1, c.Input);
  // Overwriting: an empty text or Unassigned clears, a number drops the
  // quote prefix, and a cell already formatted keeps its format.
  PutText(sheet, 1, 2, u"abc");
  PutText(sheet, 1, 2, u"");
  Put(sheet, 2, 2, Variant(int32_t(3)));
  Put(sheet, 2, 2, Variant());
  PutText(sheet, 3, 2, u"'1");
  PutText(sheet, 3, 2, u"2");
  PutText(sheet, 4, 2, u"5%");
  PutText(sheet, 4, 2, u"$7");
  EXPECT_TRUE(Get(sheet, 1, 2).IsEmpty());
  EXPECT_TRUE(Get(sheet, 2, 2).IsEmpty());
  EXPECT_TRUE(Get(sheet, 11, 1).IsEmpty());
  EXPECT_EQ(Get(sheet, 5, 1).VError(), rtl::MakeCellError(2042));
  EXPECT_EQ(Text(Get(sheet, 7, 1)), "12sum(x)");
  SaveAndClose(book);

  auto sheetXml = ReadZip(FPath)["xl/worksheets/sheet2.xml"];
  EXPECT_THAT(sheetXml, ::testing::HasSubstr("<c r=\"B1\"/>"));  // no empty text
  EXPECT_THAT(sheetXml, ::testing::Not(::testing::HasSubstr("r=\"A11\"")));
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string expected;
  for (const TCase& c : cases) expected += std::string(c.Cell) + "\n";
  expected += "None None 2 n General False 7 n 0% False\n";
  std::string out = RunPython(
      "import openpyxl\nws = openpyxl.load_workbook('" + FPath +
      "')['Other']\ndef show(c):\n    return f'{c.value} {c.data_type} {c.number_format} {c.quotePrefix}'\n"
      "for r in range(1, 12):\n    print(show(ws.cell(r, 1)))\n"
      "print(ws['B1'].value, ws['B2'].value, show(ws['B3']), show(ws['B4']))\n");
  EXPECT_EQ(out, expected);
}

// A workbook without styles has no place for a quote prefix or a typed
// amount's format: the values are written all the same.
TEST_F(ValueTest, TypedInputNeedsNoStyles) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  const std::string relNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  WriteZip(
      FPath,
      {{"[Content_Types].xml",
        decl + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
               "Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
               "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" "
               "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
               "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
               "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>"},
       {"_rels/.rels", decl +
                           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                           "<Relationship Id=\"rId1\" Type=\"" +
                           relNs + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
       {"xl/workbook.xml", decl +
                               "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                               "xmlns:r=\"" +
                               relNs +
                               "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/>"
                               "</sheets></workbook>"},
       {"xl/_rels/workbook.xml.rels",
        decl +
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
            "Id=\"rId1\" Type=\"" +
            relNs + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"},
       {"xl/worksheets/sheet1.xml", decl + "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/"
                                           "2006/main\"><sheetData/></worksheet>"}});
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  PutText(sheet, 1, 1, u"'007");
  PutText(sheet, 2, 1, u"$12");
  PutText(sheet, 3, 1, u"1e3");
  SaveAndClose(book);
  auto again = Sheet(Open(FPath), 1);
  EXPECT_EQ(Text(Get(again, 1, 1)), "007");
  EXPECT_DOUBLE_EQ(Get(again, 2, 1).VDouble(), 12);
  EXPECT_DOUBLE_EQ(Get(again, 3, 1).VDouble(), 1000);
}

TEST_F(ValueTest, TextFormattedCellsKeepWhatIsWrittenAsText) {
  // Style 1 is the built-in Text format (49), style 2 a custom "@"; column B
  // and row 3 carry them, A1 has one itself, C1 stays General.
  TBookLayout layout;
  layout.NumFmts = "<numFmt numFmtId=\"164\" formatCode=\"@\"/>";
  layout.CellXfs +=
      "<xf numFmtId=\"49\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
      "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
  layout.Sheets = {{"Data",
                    "<cols><col min=\"2\" max=\"2\" width=\"9\" style=\"2\" customWidth=\"1\"/></cols>"
                    "<sheetData><row r=\"1\"><c r=\"A1\" s=\"1\"><v>5</v></c></row>"
                    "<row r=\"3\" s=\"1\" customFormat=\"1\"/></sheetData>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  PutText(sheet, 1, 1, u"00123");
  PutText(sheet, 2, 2, u"=A1+1");
  PutText(sheet, 3, 4, u"1.50");
  PutText(sheet, 4, 2, u"'quoted");
  PutText(sheet, 1, 3, u"00123");
  Put(sheet, 5, 2, Variant(int32_t(42)));  // a number written as a number stays one
  // A column inserted right of B takes its format; the columns it pushes on keep theirs.
  sheet->InsertColumn(3);
  PutText(sheet, 6, 3, u"00123");
  PutText(sheet, 6, 4, u"00123");
  SaveAndClose(book);

  auto again = Sheet(Open(FPath), 1);
  EXPECT_EQ(Get(again, 1, 1).VType(), rtl::varOleStr);
  EXPECT_EQ(Text(Get(again, 1, 1)), "00123");
  EXPECT_EQ(Text(Get(again, 2, 2)), "=A1+1");
  EXPECT_EQ(Text(Get(again, 3, 5)), "1.50");
  EXPECT_EQ(Text(Get(again, 4, 2)), "'quoted");
  EXPECT_DOUBLE_EQ(Get(again, 1, 4).VDouble(), 123);
  EXPECT_DOUBLE_EQ(Get(again, 5, 2).VDouble(), 42);
  EXPECT_EQ(Text(Get(again, 6, 3)), "00123");
  EXPECT_DOUBLE_EQ(Get(again, 6, 4).VDouble(), 123);

  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string out = RunPython(
      "import openpyxl\nws = openpyxl.load_workbook('" + FPath +
      "')['Data']\nprint([ws['A1'].value, ws['B2'].value, ws['E3'].value, ws['B2'].data_type])\n");
  EXPECT_EQ(out, "['00123', '=A1+1', '1.50', 's']\n");
}

TEST_F(ValueTest, TextsKeepTheirWhitespaceInEveryReader) {
  const std::u16string texts[] = {u" lead",     u"trail ",    u"in  ner",      u"line\nbreak",
                                  u"tab\there", u"two words", u"\u00E9t\u00E9"};
  MakeBook(false);
  auto book = Open(FPath);
  for (size_t k = 0; k < std::size(texts); ++k) PutText(Sheet(book, 1), static_cast<int>(k) + 1, 9, texts[k]);
  SaveAndClose(book);
  std::string part = ReadZip(FPath)["xl/worksheets/sheet1.xml"], expected;
  for (const std::u16string& text : texts) {
    std::string utf8 = rtl::UnicodeToUtf8(text);
    EXPECT_EQ(part.find("<t xml:space=\"preserve\">" + utf8 + "<") != std::string::npos,
              utf8.find_first_of(" \t\n") != std::string::npos && utf8 != "two words")
        << utf8;
    expected += "'" + utf8 + "' ";
  }
  auto again = Sheet(Open(FPath), 1);
  for (size_t k = 0; k < std::size(texts); ++k)
    EXPECT_EQ(Text(Get(again, static_cast<int>(k) + 1, 9)), rtl::UnicodeToUtf8(texts[k]));
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string out = RunPython(
      "import openpyxl\nws = openpyxl.load_workbook('" + FPath +
      "').worksheets[0]\nprint(''.join(\"'%s' \" % ws.cell(r, 9).value for r in range(1, 8)))\n");
  EXPECT_EQ(out, expected + "\n");
}

TEST_F(ValueTest, CalculationChainGoesOnlyWhenFormulasChange) {
  MakeBook(true);
  auto book = Open(FPath);
  PutText(Sheet(book, 1), 5, 5, u"plain");
  SaveAndClose(book);
  EXPECT_EQ(ReadZip(FPath).count("xl/calcChain.xml"), 1u);

  book = Open(FPath);
  PutText(Sheet(book, 1), 5, 6, u"=A1");
  SaveAndClose(book);
  auto parts = ReadZip(FPath);
  EXPECT_EQ(parts.count("xl/calcChain.xml"), 0u);
  EXPECT_THAT(parts["xl/_rels/workbook.xml.rels"], ::testing::Not(::testing::HasSubstr("calcChain")));
  EXPECT_THAT(parts["[Content_Types].xml"], ::testing::Not(::testing::HasSubstr("calcChain")));
}

TEST_F(ValueTest, OverwritingTheMasterOfASharedFormulaKeepsTheOtherMembers) {
  TBookLayout layout;
  layout.Sheets = {
      {"S",
       "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" si=\"0\">A1*2</f><v>2</v></c></row>"
       "<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>4</v></c></row>"
       "<row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>6</v></c></row></sheetData>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Put(Sheet(book, 1), 1, 2, Variant(int32_t(0)));
  SaveAndClose(book);
  std::string xml = ReadZip(FPath)["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"B2\"><f>A2*2</f><v>4</v></c>"));
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"B3\"><f>A3*2</f><v>6</v></c>"));
}

TEST_F(ValueTest, NothingChangedLeavesTheFileAlone) {
  MakeBook();
  std::string before = ReadZip(FPath)["xl/workbook.xml"];
  struct stat st1, st2;
  stat(FPath.c_str(), &st1);
  auto book = Open(FPath);
  Get(Sheet(book, 1), 1, 1);
  SaveAndClose(book);
  stat(FPath.c_str(), &st2);
  EXPECT_EQ(st1.st_ino, st2.st_ino);
}

TEST_F(ValueTest, SavingKeepsPermissionsAndWritesThroughSymbolicLinks) {
  MakeBook();
  chmod(FPath.c_str(), 0640);
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(FPath.c_str(), 4321, 4321), 0);
  }
  std::string link = FDir.File("link.xlsx");
  ASSERT_EQ(symlink(FPath.c_str(), link.c_str()), 0);
  auto book = Open(link);
  PutText(Sheet(book, 1), 3, 3, u"via link");
  SaveAndClose(book);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  struct stat st;
  stat(FPath.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4321u);
  }
  auto again = Open(FPath);
  EXPECT_EQ(Text(Get(Sheet(again, 1), 3, 3)), "via link");
  again->Close(false);
  // No temporary or lock file is left beside the workbook.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(FDir.Path())) files += e.is_symlink() ? 0 : 1;
  EXPECT_EQ(files, 1);
}

TEST_F(ValueTest, AFailedSaveIsReportedAndLeavesTheOriginalIntact) {
  std::filesystem::create_directory(FDir.File("before"));
  std::string path = FDir.File("before/book.xlsx");
  std::filesystem::copy_file((MakeBook(), FPath), path);
  std::string original = ReadZip(path)["xl/worksheets/sheet1.xml"];
  auto book = Open(path);
  PutText(Sheet(book, 1), 3, 3, u"lost");
  // The folder moves away while the workbook is open: nothing can be written
  // beside the file any more, whoever runs the test.
  std::filesystem::rename(FDir.File("before"), FDir.File("after"));
  try {
    SaveAndClose(book);
    FAIL() << "the failed save was not reported";
  } catch (const rtl::EOleException& e) {
    EXPECT_THAT(rtl::UnicodeToUtf8(e.Message()), ::testing::HasSubstr("Cannot save workbook"));
  }
  EXPECT_EQ(ReadZip(FDir.File("after/book.xlsx"))["xl/worksheets/sheet1.xml"], original);
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(FDir.File("after")), std::filesystem::directory_iterator()), 1);
}

TEST_F(ValueTest, OpeningFailuresNameTheFileAndTheReason) {
  std::string missing = FDir.File("missing.xlsx");
  std::string legacy = FDir.File("old.xls");
  std::string csv = FDir.File("data.csv");
  std::string garbage = FDir.File("garbage.xlsx");
  std::ofstream(legacy) << "\xD0\xCF\x11\xE0 legacy";
  std::ofstream(csv) << "a,b\n1,2\n";
  std::ofstream(garbage) << "PK not really";
  std::string binary = FDir.File("binary.xlsb");
  WriteZip(binary, {{"_rels/.rels",
                     "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                     "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                     "relationships/officeDocument\" Target=\"xl/workbook.bin\"/></Relationships>"},
                    {"xl/workbook.bin", "\x83\x01"}});
  struct TCase {
    std::string Path;
    std::string Reason;
  } cases[] = {{missing, "No such file or directory"},
               {legacy, "only .xlsx and .xlsm workbooks are supported"},
               {csv, "not an .xlsx or .xlsm workbook package"},
               {garbage, "not an .xlsx or .xlsm workbook package"},
               {binary, "binary (.xlsb) workbook; only .xlsx and .xlsm workbooks are supported"}};
  for (const auto& c : cases) {
    try {
      Open(c.Path);
      ADD_FAILURE() << c.Path;
    } catch (const rtl::EOleException& e) {
      std::string message = rtl::UnicodeToUtf8(e.Message());
      EXPECT_THAT(message, ::testing::HasSubstr("Cannot open workbook \"" + c.Path + "\""));
      EXPECT_THAT(message, ::testing::HasSubstr(c.Reason));
    }
  }
}

TEST_F(ValueTest, BadAddressesAndNamesAreAutomationErrors) {
  MakeBook();
  auto sheet = Sheet(Open(FPath), 1);
  EXPECT_THROW(Get(sheet, 0, 1), rtl::EOleException);
  EXPECT_THROW(Get(sheet, 1, 16385), rtl::EOleException);
  EXPECT_THROW(sheet->RangeValue(u"NoSuchName"), rtl::EOleException);
  EXPECT_THROW(sheet->SetRangeValue(u"XFE1", Variant()), rtl::EOleException);
}

TEST_F(ValueTest, TextsTheApplicationWouldRefuseAreRejectedNotWritten) {
  MakeBook();
  auto sheet = Sheet(Open(FPath), 2);
  EXPECT_THROW(PutText(sheet, 1, 1, u"=SUM(A1:A2"), rtl::EOleException);
  EXPECT_THROW(PutText(sheet, 1, 1, u"=\"open"), rtl::EOleException);
  EXPECT_THROW(PutText(sheet, 1, 1, u"=A2+"), rtl::EOleException);
  EXPECT_THROW(PutText(sheet, 1, 1, u"=SUM(A2;A3)"), rtl::EOleException);
  EXPECT_THROW(Put(sheet, 1, 1, Variant::FromUString(std::u16string(32768, u'x'))), rtl::EOleException);
  EXPECT_TRUE(Get(sheet, 1, 1).IsEmpty());
  PutText(sheet, 1, 1, u"=IF(A2=\")\",'It''s'!A1,\"\"\"\")");
  Put(sheet, 2, 1, Variant::FromUString(std::u16string(32767, u'x')));
}

TEST_F(ValueTest, RangeTakesAddressesAndDefinedNames) {
  TBookLayout layout;
  layout.Sheets = {{"Data", "<sheetData><row r=\"3\"><c r=\"B3\"><v>42</v></c></row></sheetData>"}};
  layout.WorkbookExtra = "<definedNames><definedName name=\"Answer\">Data!$B$3</definedName></definedNames>";
  WriteBook(FPath, layout);
  auto sheet = Sheet(Open(FPath), 1);
  auto byName = [&](std::u16string_view name) { return sheet->RangeValue(UnicodeString(name)); };
  EXPECT_DOUBLE_EQ(byName(u"B3").AsDouble(), 42);
  EXPECT_DOUBLE_EQ(byName(u"$B$3").AsDouble(), 42);
  EXPECT_DOUBLE_EQ(byName(u"answer").AsDouble(), 42);
  EXPECT_DOUBLE_EQ(Get(sheet, 3, 2).AsDouble(), 42);
}

}  // namespace
}  // namespace spreadsheet::testing

namespace spreadsheet::testing {
namespace {

TEST_F(ValueTest, WorksheetsWithAPrefixedMainNamespaceGetPrefixedCells) {
  auto parts = (MakeBook(), ReadZip(FPath));
  parts["xl/worksheets/sheet2.xml"] =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<x:sheetData><x:row r=\"1\"><x:c r=\"A1\"><x:v>4</x:v></x:c></x:row></x:sheetData></x:worksheet>";
  WriteZip(FPath, TParts(parts.begin(), parts.end()));
  auto book = Open(FPath);
  auto sheet = Sheet(book, 2);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 1).AsDouble(), 4);
  PutText(sheet, 2, 1, u"text");
  PutText(sheet, 2, 2, u" text");
  SaveAndClose(book);
  EXPECT_THAT(ReadZip(FPath)["xl/worksheets/sheet2.xml"],
              ::testing::HasSubstr("<x:row r=\"2\"><x:c r=\"A2\" t=\"inlineStr\"><x:is><x:t>text</x:t></x:is></x:c>"
                                   "<x:c r=\"B2\" t=\"inlineStr\"><x:is><x:t xml:space=\"preserve\"> text</x:t></x:is>"
                                   "</x:c></x:row>"));
  EXPECT_EQ(Text(Get(Sheet(Open(FPath), 2), 2, 1)), "text");
}

}  // namespace
}  // namespace spreadsheet::testing

namespace spreadsheet::testing {
namespace {

TEST_F(ValueTest, LargeSheetsAreReadInBatchesWithoutLosingARow) {
  std::string rows;
  for (int r = 1; r <= 60000; ++r) {
    std::string n = std::to_string(r);
    if (r % 1000 == 0) {
      rows += "<row r=\"" + n + "\" ht=\"30\" customHeight=\"1\"/>";  // rows without cells split batches too
      continue;
    }
    rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n +
            "\" t=\"inlineStr\"><is><t>text &amp; more " + n + "</t></is></c><c r=\"C" + n + "\" t=\"s\"><v>" +
            std::to_string(r % 2) + "</v></c></row>";
  }
  ASSERT_GT(rows.size(), 8u << 20);  // more than one batch
  TBookLayout layout;
  layout.Sheets = {{"Big", "<sheetData>" + rows + "</sheetData>"}};
  std::string strings;
  for (int i = 0; i < 2; ++i) strings += "<si><t>s" + std::to_string(i) + "</t></si>";
  layout.SharedStrings = strings;
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  int64_t sum = 0;
  for (int r = 1; r <= 60000; ++r)
    if (r % 1000) sum += Get(sheet, r, 1).AsInteger();
  EXPECT_EQ(sum, 60000LL * 60001 / 2 - 1000LL * 60 * 61 / 2);
  EXPECT_EQ(Text(Get(sheet, 59999, 2)), "text & more 59999");
  EXPECT_EQ(Text(Get(sheet, 31415, 3)), "s1");
  PutText(sheet, 60001, 1, u"end");
  SaveAndClose(book);
  std::string xml = ReadZip(FPath)["xl/worksheets/sheet1.xml"];
  EXPECT_NE(xml.find("<row r=\"30000\" ht=\"30\" customHeight=\"1\"/>"), std::string::npos);
  EXPECT_EQ(Text(Get(Sheet(Open(FPath), 1), 60001, 1)), "end");
}

}  // namespace
}  // namespace spreadsheet::testing

namespace spreadsheet::testing {
namespace {

TEST_F(ValueTest, AWorkbookCanBeSavedAgainAfterFurtherChanges) {
  MakeBook(true);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 2);
  PutText(sheet, 1, 1, u"first");
  book->Save();
  PutText(sheet, 2, 1, u"=A1");
  Put(Sheet(book, 1), 1, 1, Variant(int32_t(9)));
  SaveAndClose(book);
  auto again = Open(FPath);
  EXPECT_EQ(Text(Get(Sheet(again, 2), 1, 1)), "first");
  EXPECT_DOUBLE_EQ(Get(Sheet(again, 1), 1, 1).AsDouble(), 9);
  EXPECT_EQ(Text(Get(Sheet(again, 1), 1, 2)), "shared");
  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/worksheets/sheet2.xml"], ::testing::HasSubstr("<f>A1</f>"));
  EXPECT_EQ(parts.count("xl/calcChain.xml"), 0u);
}

}  // namespace
}  // namespace spreadsheet::testing

namespace spreadsheet::testing {
namespace {

TEST_F(ValueTest, TheApplicationKeepsItsFlagsAndQuitEndsEverything) {
  MakeBook();
  EXPECT_FALSE(FApp->Visible());  // starts hidden
  EXPECT_TRUE(FApp->DisplayAlerts());
  FApp->SetVisible(true);
  FApp->SetDisplayAlerts(false);
  EXPECT_TRUE(FApp->Visible());
  EXPECT_FALSE(FApp->DisplayAlerts());
  auto book = Open(FPath);
  EXPECT_EQ(Open(FPath)->FullName(), book->FullName());  // opened once
  EXPECT_EQ(FApp->WorkbookCount(), 1);
  auto sheet = Sheet(book, 2);
  PutText(sheet, 1, 1, u"never saved");
  FApp->Quit();
  EXPECT_THROW(Get(sheet, 1, 1), rtl::EOleException);  // the workbook went with the application
  EXPECT_THROW(Open(FPath), rtl::EOleException);
  EXPECT_THROW(FApp->Visible(), rtl::EOleException);
  FApp = FServer.CreateApplication();
  EXPECT_TRUE(Get(Sheet(Open(FPath), 2), 1, 1).IsEmpty());
}

TEST_F(ValueTest, MultiCellRangesReadAndWriteArrays) {
  MakeBook();
  auto sheet = Sheet(Open(FPath), 2);
  Variant values = Variant::CreateArray({{1, 2}, {1, 2}});
  values.ArrayElement({1, 1}) = Variant(int32_t(1));
  values.ArrayElement({1, 2}) = Variant::FromOleStr(u"x");
  values.ArrayElement({2, 2}) = Variant(true);
  sheet->SetRangeValue(u"A1:B2", values);
  Variant read = sheet->RangeValue(u"A1:B2");
  ASSERT_EQ(read.ArrayDimCount(), 2);
  EXPECT_DOUBLE_EQ(read.ArrayGet({1, 1}).AsDouble(), 1);
  EXPECT_EQ(Text(read.ArrayGet({1, 2})), "x");
  EXPECT_TRUE(read.ArrayGet({2, 1}).IsEmpty());
  EXPECT_TRUE(read.ArrayGet({2, 2}).VBoolean());
  sheet->SetRangeValue(u"C1:D2", Variant::FromOleStr(u"same"));  // a scalar fills every cell
  EXPECT_EQ(Text(Get(sheet, 2, 4)), "same");
  EXPECT_THROW(sheet->RangeValue(u"A1:XFD1048576"), rtl::EOleException);  // far too large
}

}  // namespace
}  // namespace spreadsheet::testing
