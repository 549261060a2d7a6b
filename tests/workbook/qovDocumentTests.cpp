#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RecordingAutomation.h"
#include "workbook/qovDocument.h"

namespace workbook {
namespace {

using ::testing::ElementsAre;
using rtl::Variant;
using testing::TRecorder;

// Serves "Excel.Application" with recording objects: an application "app"
// whose WorkBooks.Open gives a workbook "wbk" holding three worksheets.
class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rtl::CoInitialize();
    rtl::RegisterAutomationServer(u"Excel.Application", [this] {
      return rtl::TRef<rtl::IDispatch>(new testing::TRecordingObject(&FRec, "app"));
    });
    FRec.Answers["app.WorkBooks.Open"] = [this](const rtl::TInvocation&) { return FRec.Object("wbk"); };
    FRec.Answer("wbk.Worksheets.Count", Variant(int32_t(3)));
    FRec.Answer("wbk.ActiveSheet", FRec.Object("active"));
    FRec.Answers["wbk.Sheets.Add"] = [this](const rtl::TInvocation&) { return FRec.Object("new"); };
    FRec.Answer("app.DisplayAlerts", Variant(true));
    for (int i = 1; i <= 3; ++i)
      FRec.Answer("wbk.Worksheets.Item(" + std::to_string(i) + ").Name",
                  Variant::FromOleStr(rtl::Utf8ToUnicode("Sheet" + std::to_string(i))));
  }
  void TearDown() override {
    rtl::UnregisterAutomationServer(u"Excel.Application");
    rtl::CoUninitialize();
  }
  std::unique_ptr<TqovDocument> Open() {
    auto doc = std::make_unique<TqovDocument>(u"/data/book.xlsx");
    FRec.Log.clear();
    return doc;
  }
  TRecorder FRec;
};

TEST_F(DocumentTest, OpeningCountsWorksheetsAndWrapsEachInOrder) {
  TqovDocument doc(u"/data/book.xlsx");
  EXPECT_THAT(FRec.Log, ElementsAre("read app.WorkBooks", "call app.WorkBooks.Open(OleStr /data/book.xlsx)",
                                    "read wbk.Worksheets", "read wbk.Worksheets.Count", "read wbk.Worksheets",
                                    "get wbk.Worksheets.Item(Integer 1)", "read wbk.Worksheets",
                                    "get wbk.Worksheets.Item(Integer 2)", "read wbk.Worksheets",
                                    "get wbk.Worksheets.Item(Integer 3)"));
  EXPECT_EQ(doc.SheetCount(), 3);
  EXPECT_EQ(doc.Sheet(1)->Name(), u"Sheet1");
  EXPECT_EQ(doc.Sheet(3)->Name(), u"Sheet3");
  doc.Close();
}

TEST_F(DocumentTest, ClosingSavesThenQuitsWithAlertsOff) {
  auto doc = Open();
  doc->Close();
  EXPECT_THAT(FRec.Log, ElementsAre("put app.DisplayAlerts := Boolean False",
                                    "call wbk.Close(SaveChanges:=Boolean True)", "call app.Quit"));
  EXPECT_TRUE(doc->MSExcel().IsEmpty());
  EXPECT_TRUE(doc->WBK().IsEmpty());
  EXPECT_EQ(doc->SheetCount(), 0);
  FRec.Log.clear();
  doc->Close();  // a second close has nothing left to do
  EXPECT_TRUE(FRec.Log.empty());
}

TEST_F(DocumentTest, AFailedSaveIsReportedAndQuitStillRuns) {
  auto doc = Open();
  FRec.Failures["wbk.Close"] = "Disk full";
  try {
    doc->Close();
    FAIL() << "the failed save was not reported";
  } catch (const rtl::EOleException& e) {
    EXPECT_EQ(e.Message(), u"Disk full");
  }
  EXPECT_EQ(FRec.Log.back(), "call app.Quit");
  EXPECT_TRUE(doc->MSExcel().IsEmpty());
}

TEST_F(DocumentTest, AServerThatCannotStartIsReportedWithTheProgramIdentifier) {
  rtl::UnregisterAutomationServer(u"Excel.Application");
  try {
    TqovDocument doc(u"/data/book.xlsx");
    FAIL();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), u"Cannot create Excel OLE object:\r\nInvalid class string, ProgID: \"Excel.Application\"");
  }
}

TEST_F(DocumentTest, AWorkbookThatCannotOpenQuitsTheServerAndReportsTheServersReason) {
  FRec.Failures["app.WorkBooks.Open"] = "'/data/book.xlsx' could not be found";
  try {
    TqovDocument doc(u"/data/book.xlsx");
    FAIL();
  } catch (const rtl::EOleException& e) {
    EXPECT_EQ(e.Message(), u"'/data/book.xlsx' could not be found");
  }
  EXPECT_THAT(FRec.Lines("call"), ElementsAre("call app.WorkBooks.Open(OleStr /data/book.xlsx)", "call app.Quit"));
}

TEST_F(DocumentTest, SheetNumbersOutsideTheListReportTheListPosition) {
  auto doc = Open();
  struct TCase {
    int Index;
    std::u16string Message;
  } cases[] = {{0, u"List index out of bounds (-1)"},
               {4, u"List index out of bounds (3)"},
               {-5, u"List index out of bounds (-6)"}};
  for (const auto& c : cases) {
    try {
      doc->Sheet(c.Index);
      ADD_FAILURE() << c.Index;
    } catch (const rtl::EListError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
  }
  doc->Close();
}

TEST_F(DocumentTest, SheetByNameComparesExactlyAndAsksTheServerEachTime) {
  auto doc = Open();
  EXPECT_EQ(doc->SheetByName(u"Sheet2"), doc->Sheet(2));
  EXPECT_EQ(doc->SheetByName(u"sheet2"), nullptr);
  FRec.Answer("wbk.Worksheets.Item(2).Name", Variant::FromOleStr(u"Renamed"));
  EXPECT_EQ(doc->SheetByName(u"Renamed"), doc->Sheet(2));
  doc->Close();
}

TEST_F(DocumentTest, InsertSheetPutsTheNewSheetAtItsPositionAndReselectsTheActiveSheet) {
  auto doc = Open();
  TqovSheet* formerFirst = doc->Sheet(1);
  doc->InsertSheet(1);
  EXPECT_THAT(FRec.Log,
              ElementsAre("read wbk.ActiveSheet", "get wbk.Worksheets(Integer 1)", "call wbk.Worksheets(1).Select",
                          "read wbk.Sheets", "call wbk.Sheets.Add", "call active.Select"));
  EXPECT_EQ(doc->SheetCount(), 4);
  EXPECT_EQ(doc->Sheet(2), formerFirst);
  EXPECT_EQ(rtl::UnicodeToUtf8(rtl::VarTypeAsText(doc->Sheet(1)->WS().VType())), "Dispatch");
  EXPECT_EQ(testing::DescribeArgument(doc->Sheet(1)->WS()), "Dispatch new");
  doc->Close();
}

TEST_F(DocumentTest, AFailedInsertChangesNothingAndReselectsTheActiveSheet) {
  auto doc = Open();
  FRec.Failures["wbk.Worksheets"] = "Subscript out of range";
  EXPECT_THROW(doc->InsertSheet(4), rtl::EOleException);
  EXPECT_EQ(doc->SheetCount(), 3);
  EXPECT_EQ(FRec.Log.back(), "call active.Select");
  EXPECT_TRUE(FRec.Lines("call wbk.Sheets.Add").empty());
  doc->Close();
}

TEST_F(DocumentTest, DeleteSheetRemovesTheWrapperWithoutPromptAndRestoresAlerts) {
  auto doc = Open();
  TqovSheet* third = doc->Sheet(3);
  doc->DeleteSheet(2);
  EXPECT_THAT(FRec.Log, ElementsAre("read app.DisplayAlerts", "put app.DisplayAlerts := Boolean False",
                                    "call wbk.Worksheets.Item(2).Delete", "put app.DisplayAlerts := Boolean True"));
  EXPECT_EQ(doc->SheetCount(), 2);
  EXPECT_EQ(doc->Sheet(2), third);
  doc->Close();
}

TEST_F(DocumentTest, DeleteSheetFailuresRestoreAlertsAndKeepTheList) {
  auto doc = Open();
  try {
    doc->DeleteSheet(0);
    FAIL();
  } catch (const rtl::EListError& e) {
    EXPECT_EQ(e.Message(), u"List index out of bounds (-1)");
  }
  EXPECT_EQ(FRec.Log.back(), "put app.DisplayAlerts := Boolean True");
  FRec.Log.clear();
  FRec.Failures["wbk.Worksheets.Item(1).Delete"] = "A workbook must contain at least one visible sheet";
  EXPECT_THROW(doc->DeleteSheet(1), rtl::EOleException);
  EXPECT_EQ(FRec.Log.back(), "put app.DisplayAlerts := Boolean True");
  EXPECT_EQ(doc->SheetCount(), 3);
  doc->Close();
}

TEST_F(DocumentTest, VisibleReadsAndWritesTheApplication) {
  auto doc = Open();
  FRec.Answer("app.Visible", Variant(true));
  EXPECT_TRUE(doc->Visible());
  doc->SetVisible(false);
  EXPECT_THAT(FRec.Log, ElementsAre("read app.Visible", "put app.Visible := Boolean False"));
  doc->Close();
}

class SheetTest : public ::testing::Test {
 protected:
  TRecorder FRec;
  TqovSheet FSheet{FRec.Object("ws")};
};

TEST_F(SheetTest, CellGoesThroughCellsItemWithRowThenColumn) {
  FRec.Answer("ws.Cells.Item(3,2).Value", Variant::FromOleStr(u"text"));
  EXPECT_EQ(FSheet.Cell(3, 2).AsUnicodeString(), u"text");
  FSheet.SetCell(3, 2, Variant::FromCurrency(15000));
  EXPECT_THAT(FRec.Log,
              ElementsAre("read ws.Cells", "get ws.Cells.Item(Integer 3, Integer 2)", "read ws.Cells.Item(3,2).Value",
                          "read ws.Cells", "get ws.Cells.Item(Integer 3, Integer 2)",
                          "put ws.Cells.Item(3,2).Value := Currency 1.5"));
}

TEST_F(SheetTest, CellByNamePassesTheNameTwiceAsWideStrings) {
  FSheet.CellByName(u"B3");
  FSheet.SetCellByName(u"Total", Variant());
  EXPECT_THAT(FRec.Log,
              ElementsAre("get ws.Range(OleStr B3, OleStr B3)", "read ws.Range(B3,B3).Value",
                          "get ws.Range(OleStr Total, OleStr Total)", "put ws.Range(Total,Total).Value := Empty "));
}

TEST_F(SheetTest, LockingAndProtectionUseTheirMembersWithoutPasswords) {
  FRec.Answer("ws.Cells.Item(1,1).Locked", Variant(true));
  FRec.Answer("ws.ProtectContents", Variant(false));
  EXPECT_TRUE(FSheet.CellLocked(1, 1));
  FSheet.SetCellLocked(1, 1, false);
  EXPECT_FALSE(FSheet.SheetProtected());
  FSheet.SetSheetProtected(true);
  FSheet.SetSheetProtected(false);
  EXPECT_THAT(FRec.Lines("put"), ElementsAre("put ws.Cells.Item(1,1).Locked := Boolean False"));
  EXPECT_THAT(FRec.Lines("call"), ElementsAre("call ws.Protect", "call ws.Unprotect"));
}

TEST_F(SheetTest, RowAndColumnOperationsCallInsertAndAutofit) {
  FSheet.InsertRow(5);
  FSheet.InsertColumn(2);
  FSheet.AutoFitColumn(7);
  EXPECT_THAT(FRec.Log,
              ElementsAre("get ws.Rows(Integer 5)", "call ws.Rows(5).Insert", "get ws.Columns(Integer 2)",
                          "call ws.Columns(2).Insert", "get ws.Columns(Integer 7)", "call ws.Columns(7).Autofit"));
}

TEST_F(SheetTest, ServerRejectionsPropagateUnchanged) {
  FRec.Failures["ws.Cells.Item"] = "Application-defined or object-defined error";
  try {
    FSheet.Cell(0, 0);
    FAIL();
  } catch (const rtl::EOleException& e) {
    EXPECT_EQ(e.Message(), u"Application-defined or object-defined error");
  }
}

}  // namespace
}  // namespace workbook
