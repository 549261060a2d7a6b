// Workbooks made by other programs than the spreadsheet application, made at
// test time: openpyxl, XlsxWriter, LibreOffice and Gnumeric each write the
// same content (styles, formulas, a table, merged cells, a chart, comments,
// a defined name, validations, three sheets) in their own way, declaring
// namespaces where they like. Every structural operation and every kind of
// value write runs on each, and openpyxl and LibreOffice must then load the
// result with every value in place.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

// Writes the content with openpyxl or XlsxWriter: python3 make.py KIND FILE
// [plain]; "plain" writes the table's calculated column as ordinary
// formulas, for readers that do not take structured references.
const char* const kMakeScript = R"PY(
import sys, datetime
kind, out = sys.argv[1], sys.argv[2]
plain = len(sys.argv) > 3
rows = [("Anna", 120.5, datetime.datetime(2026, 1, 5)), ("Bert", 80, datetime.datetime(2026, 2, 6)),
        ("Cleo", 42.25, datetime.datetime(2026, 3, 7))]
if kind in ("openpyxl", "prefixed"):
    from openpyxl import Workbook
    from openpyxl.styles import Font, PatternFill
    from openpyxl.worksheet.table import Table, TableStyleInfo
    from openpyxl.comments import Comment
    from openpyxl.workbook.defined_name import DefinedName
    from openpyxl.worksheet.datavalidation import DataValidation
    from openpyxl.formatting.rule import CellIsRule
    from openpyxl.chart import BarChart, Reference
    wb = Workbook()
    ws = wb.active
    ws.title = "Orders"
    ws["A1"] = "Order report"
    ws["A1"].font = Font(size=14, bold=True)
    ws["A1"].fill = PatternFill("solid", fgColor="FFFF00")
    ws.merge_cells("A1:D1")
    for c, h in enumerate(["Customer", "Amount", "Date", "Double"], 1):
        ws.cell(row=3, column=c, value=h).font = Font(bold=True)
    for r, (n, a, d) in enumerate(rows, 4):
        ws.cell(row=r, column=1, value=n)
        ws.cell(row=r, column=2, value=a).number_format = "#,##0.00"
        ws.cell(row=r, column=3, value=d).number_format = "yyyy-mm-dd"
        ws.cell(row=r, column=4, value="=B%d*2" % r)
    ws["A8"] = "Sum"
    ws["B8"] = "=SUM(B4:B6)"
    ws["E4"] = "=B4*Rate"
    table = Table(displayName="Sales", ref="A3:D6")
    table.tableStyleInfo = TableStyleInfo(name="TableStyleMedium2", showRowStripes=True)
    ws.add_table(table)
    ws["A4"].comment = Comment("First customer", "Korva")
    dv = DataValidation(type="whole", operator="greaterThan", formula1="0")
    ws.add_data_validation(dv)
    dv.add("B4:B6")
    ws.conditional_formatting.add("B4:B6", CellIsRule(operator="greaterThan", formula=["100"],
                                                      fill=PatternFill("solid", fgColor="FFC7CE")))
    chart = BarChart()
    chart.add_data(Reference(ws, min_col=2, min_row=3, max_row=6), titles_from_data=True)
    ws.add_chart(chart, "G3")
    rates = wb.create_sheet("Rates")
    rates["A1"] = "Rate"
    rates["B1"] = 0.25
    rates["B1"].number_format = "0%"
    wb.create_sheet("Notes")["A1"] = "Notes"
    wb.defined_names.append(DefinedName("Rate", attr_text="Rates!$B$1"))
    wb.save(out)
    if kind == "prefixed":
        # Python's ElementTree writes every namespace with a prefix declared
        # on the root: "x:worksheet", "rel:Relationship", "ct:Override".
        import zipfile, shutil, xml.etree.ElementTree as ET
        for uri, prefix in [("http://schemas.openxmlformats.org/spreadsheetml/2006/main", "x"),
                            ("http://schemas.openxmlformats.org/officeDocument/2006/relationships", "r"),
                            ("http://schemas.openxmlformats.org/package/2006/relationships", "rel"),
                            ("http://schemas.openxmlformats.org/package/2006/content-types", "ct")]:
            ET.register_namespace(prefix, uri)
        shutil.move(out, out + ".zip")
        with zipfile.ZipFile(out + ".zip") as zin, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zout:
            for item in zin.infolist():
                data = zin.read(item.filename)
                if item.filename.startswith(("xl/work", "xl/tables", "xl/styles", "xl/comments", "xl/_rels", "_rels",
                                             "xl/worksheets", "[Content_Types]")):
                    data = ET.tostring(ET.fromstring(data), xml_declaration=True, encoding="UTF-8")
                zout.writestr(item, data)
else:
    import xlsxwriter
    wb = xlsxwriter.Workbook(out)
    ws = wb.add_worksheet("Orders")
    title = wb.add_format({"bold": True, "font_size": 14, "bg_color": "#FFFF00"})
    money = wb.add_format({"num_format": "#,##0.00"})
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    ws.merge_range("A1:D1", "Order report", title)
    double = {"header": "Double"} if plain else {"header": "Double", "formula": "=Sales[@[Amount]]*2"}
    ws.add_table("A3:D6", {"name": "Sales", "data": [list(r) for r in rows],
                           "columns": [{"header": "Customer"}, {"header": "Amount", "format": money},
                                       {"header": "Date", "format": date}, double]})
    if plain:
        for r in range(4, 7):
            ws.write_formula("D%d" % r, "=B%d*2" % r)
    ws.write("A8", "Sum")
    ws.write_formula("B8", "=SUM(B4:B6)")
    ws.write_formula("E4", "=B4*Rate")
    ws.write_comment("A4", "First customer", {"author": "Korva"})
    ws.data_validation("B4:B6", {"validate": "integer", "criteria": ">", "value": 0})
    ws.conditional_format("B4:B6", {"type": "cell", "criteria": ">", "value": 100, "format": money})
    chart = wb.add_chart({"type": "column"})
    chart.add_series({"values": "=Orders!$B$4:$B$6", "name": "Amount"})
    ws.insert_chart("G3", chart)
    rates = wb.add_worksheet("Rates")
    rates.write("A1", "Rate")
    rates.write("B1", 0.25, wb.add_format({"num_format": "0%"}))
    wb.add_worksheet("Notes").write("A1", "Notes")
    wb.define_name("Rate", "=Rates!$B$1")
    wb.close()
)PY";

// What a producer makes and how: a workbook from the script, possibly
// converted by another program, which then is the producer.
struct TProducer {
  const char* Name;
  const char* Kind;     // the script's KIND
  bool Plain;           // the script's "plain"
  const char* Convert;  // "" (the script's file as it is), "soffice" or "ssconvert"
  bool Table;           // whether the producer writes the table
};
const TProducer kProducers[] = {
    {"openpyxl", "openpyxl", false, "", true},
    {"XlsxWriter", "xlsxwriter", false, "", true},
    {"ElementTree", "prefixed", false, "", true},
    {"LibreOffice", "xlsxwriter", false, "soffice", true},
    // Gnumeric reads neither tables nor structured references; it drops the
    // table and keeps the rest.
    {"Gnumeric", "xlsxwriter", true, "ssconvert", false},
};

bool HasProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string& command, bool& ok) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  ok = pclose(pipe) == 0;
  return out;
}

class ProducersTest : public ServerTest {
 protected:
  // Makes the producer's workbook at `path`. When a program it needs is not
  // installed, returns false with the reason in `missing`; a program that is
  // there and fails is a test failure.
  bool Make(const TProducer& producer, const std::string& path, std::string& missing) {
    using korva::calc::detail::FileUrl;
    using korva::calc::detail::ShellQuote;
    bool ok = false;
    std::string module = std::string(producer.Kind) == "xlsxwriter" ? "xlsxwriter" : "openpyxl";
    RunCommand("/usr/bin/python3 -c 'import " + module + "'", ok);
    if (!ok) {
      missing = "python3 module " + module + " (Debian python3-" + module + ") is not installed";
      return false;
    }
    std::string convert = producer.Convert;
    if (!convert.empty() && !HasProgram(convert)) {
      missing = convert + (convert == "soffice" ? " (LibreOffice)" : " (Gnumeric)") + " is not installed";
      return false;
    }
    std::string script = FDir.File("make.py");
    std::ofstream(script) << kMakeScript;
    std::string made = convert.empty() ? path : FDir.File(std::string(producer.Name) + "-source.xlsx");
    std::string out = RunCommand("/usr/bin/python3 " + ShellQuote(script) + " " + producer.Kind + " " +
                                     ShellQuote(made) + (producer.Plain ? " plain" : ""),
                                 ok);
    if (!ok) {
      ADD_FAILURE() << "making the workbook failed: " << out;
      return false;
    }
    if (convert == "soffice") {
      // A profile of its own, so that runs side by side do not share a lock.
      std::string dir = FDir.File(std::string(producer.Name) + "-run");
      std::filesystem::create_directories(dir + "/out");
      out = RunCommand("cd " + ShellQuote(dir) + " && HOME=" + ShellQuote(dir) + " timeout -k 10 120 soffice " +
                           ShellQuote("-env:UserInstallation=" + FileUrl(dir + "/profile")) +
                           " --headless --norestore --nolockcheck --convert-to xlsx --outdir " +
                           ShellQuote(dir + "/out") + " " + ShellQuote(made) + " </dev/null",
                       ok);
      std::string converted = dir + "/out/" + std::filesystem::path(made).filename().string();
      if (std::filesystem::exists(converted)) std::filesystem::rename(converted, path);
    } else if (convert == "ssconvert") {
      out = RunCommand("timeout -k 10 120 ssconvert " + ShellQuote(made) + " " + ShellQuote(path) + " </dev/null", ok);
    }
    if (!std::filesystem::exists(path)) {
      ADD_FAILURE() << convert << " did not convert the workbook: " << out;
      return false;
    }
    return true;
  }
};

// Every operation the server offers, on each producer's workbook: a row and a
// column inserted through the table, a sheet added before the selected sheet
// and another deleted, a sheet protected, a cell unlocked, a column fitted,
// another sheet selected, and values of every kind written.
TEST_F(ProducersTest, EveryProducersWorkbookTakesEveryOperationAndStaysReadable) {
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string skipped;
  for (const TProducer& producer : kProducers) {
    SCOPED_TRACE(producer.Name);
    std::string path = FDir.File(std::string(producer.Name) + ".xlsx");
    std::string missing;
    if (!Make(producer, path, missing)) {
      if (!missing.empty()) skipped += std::string(producer.Name) + ": " + missing + "\n";
      continue;
    }
    try {
      auto book = Open(path);
      auto orders = Sheet(book, 1);
      orders->InsertRow(5);
      orders->InsertColumn(2);
      PutText(orders, 5, 1, u"Dora");
      Put(orders, 5, 3, Variant(int32_t(100)));
      Put(orders, 5, 4, Variant::FromDate(46120));  // 2026-04-08
      PutText(orders, 5, 5, u"=C5*2");
      orders->SetLocked(5, 3, false);
      orders->AutofitColumn(1);
      orders->Protect();
      auto rates = Sheet(book, 2);
      Put(rates, 1, 1, Variant());
      Sheet(book, 3)->Select();
      auto added = book->AddSheet();
      Sheet(book, 4)->Delete();
      PutText(added, 1, 1, u"Text <&> \"quoted\"");
      Put(added, 2, 1, Variant(int32_t(42)));
      Put(added, 3, 1, Variant(2.5));
      Put(added, 4, 1, Variant(true));
      Put(added, 5, 1, Variant::FromDate(46120.5));
      Put(added, 6, 1, Variant::FromCurrency(123400));
      Put(added, 7, 1, Variant::FromError(rtl::MakeCellError(2042)));
      PutText(added, 8, 1, u"=A2+1");
      PutText(added, 9, 1, u"50%");
      PutText(added, 10, 1, u"2026-11-03");
      PutText(added, 11, 1, u"'007");
      PutText(added, 12, 1, u"  spaced  ");
      rates->Select();
      SaveAndClose(book);
    } catch (const rtl::Exception& e) {
      ADD_FAILURE() << rtl::UnicodeToUtf8(e.Message());
      continue;
    }

    // openpyxl: a full load, every value and the structure.
    bool ok = false;
    std::string out = RunPython(
        "import openpyxl, datetime\n"
        "wb = openpyxl.load_workbook('" +
            path +
            "')\n"
            "print(wb.sheetnames, wb.active.title)\n"
            "ws = wb['Orders']\n"
            "for a in ['A1', 'A3', 'B3', 'C3', 'A4', 'C4', 'A5', 'C5', 'D5', 'E5', 'A6', 'A7', 'A9', 'C9', 'F4']:\n"
            "    print(a, repr(ws[a].value))\n"
            "print(sorted(str(m) for m in ws.merged_cells.ranges), ws.protection.sheet, ws['C5'].protection.locked,\n"
            "      ws.column_dimensions['A'].width > 8, 'First customer' in ws['A4'].comment.text)\n"
            "print([(t.ref, [c.name for c in t.tableColumns]) for t in ws.tables.values()])\n"
            "print([str(v.sqref) for v in ws.data_validations.dataValidation])\n"
            "print(wb['Rates']['A1'].value, wb['Rates']['B1'].value, wb.defined_names['Rate'].attr_text)\n"
            "print([wb['Sheet1'].cell(row=r, column=1).value for r in range(1, 13)])\n",
        &ok);
    std::string table = producer.Table ? "[('A3:E7', ['Customer', 'Column1', 'Amount', 'Date', 'Double'])]\n" : "[]\n";
    EXPECT_TRUE(ok) << out;
    EXPECT_EQ(out,
              "['Orders', 'Rates', 'Sheet1'] Rates\n"
              "A1 'Order report'\nA3 'Customer'\nB3 " +
                  std::string(producer.Table ? "'Column1'" : "None") +
                  "\nC3 'Amount'\nA4 'Anna'\nC4 120.5\nA5 'Dora'\nC5 100\n"
                  "D5 datetime.datetime(2026, 4, 8, 0, 0)\nE5 '=C5*2'\nA6 'Bert'\nA7 'Cleo'\nA9 'Sum'\n"
                  "C9 '=SUM(C4:C7)'\nF4 '=C4*Rate'\n"
                  "['A1:E1'] True False True True\n" +
                  table +
                  "['C4:C7']\nNone 0.25 Rates!$B$1\n"
                  "['Text <&> \"quoted\"', 42, 2.5, True, datetime.datetime(2026, 4, 8, 12, 0), 12.34, '#N/A', "
                  "'=A2+1', 0.5, datetime.datetime(2026, 11, 3, 0, 0), '007', '  spaced  ']\n");

    // LibreOffice: it loads the workbook and calculates every formula.
    if (!WhyNoRecalculation().empty()) continue;
    TRecalculation calc = Recalculate(path);
    if (!calc.Failure.empty()) {
      ADD_FAILURE() << calc.Failure;
      continue;
    }
    EXPECT_EQ(calc.Sheets.size(), 3u);
    const TSheetValues& values = calc.Sheet("Orders");
    EXPECT_EQ(values.At("A5"), "Dora");
    EXPECT_EQ(values.At("B3"), producer.Table ? "Column1" : "");
    EXPECT_DOUBLE_EQ(values.Number("C9"), 342.75) << values.At("C9");
    EXPECT_DOUBLE_EQ(values.Number("E5"), 200) << values.At("E5");
    EXPECT_DOUBLE_EQ(values.Number("E4"), 241) << values.At("E4");
    EXPECT_DOUBLE_EQ(values.Number("F4"), 30.125) << values.At("F4");
    EXPECT_DOUBLE_EQ(calc.Sheet("Sheet1").Number("A8"), 43) << calc.Sheet("Sheet1").At("A8");
    EXPECT_EQ(calc.Sheet("Sheet1").At("A1"), "Text <&> \"quoted\"");
  }
  if (!skipped.empty()) std::cout << "[  SKIPPED ] producers not available here:\n" << skipped;
}

}  // namespace
}  // namespace spreadsheet::testing
