#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RecordingServer.h"
#include "rtl/AutomationErrors.h"
#include "workbook/qovDocument.h"

namespace workbook {
namespace {

using ::testing::ElementsAre;
using rtl::Variant;
using testing::TRecorder;

// A recording server: an application "app" whose Open gives a workbook "wbk"
// holding three worksheets.
class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRec.Answers["wbk.WorksheetCount"] = Variant(int32_t(3));
    FRec.Answers["app.DisplayAlerts"] = Variant(true);
    for (int i = 1; i <= 3; ++i)
      FRec.Answers["wbk.Worksheet(" + std::to_string(i) + ").Name"] = Variant::FromOleStr(
          rtl::Utf8ToUnicode("Sheet" + std::to_string(i)));
  }
  std::unique_ptr<TqovDocument> Open() {
    auto doc = std::make_unique<TqovDocument>(&FServer, u"/data/book.xlsx");
    FRec.Log.clear();
    return doc;
  }
  TRecorder FRec;
  testing::TRecordingServer FServer{&FRec};
};

TEST_F(DocumentTest, OpeningCountsWorksheetsAndWrapsEachInOrder) {
  TqovDocument doc(&FServer, u"/data/book.xlsx");
  EXPECT_THAT(FRec.Log, ElementsAre("app.Open(/data/book.xlsx)", "wbk.WorksheetCount", "wbk.Worksheet(1)",
                                    "wbk.Worksheet(2)", "wbk.Worksheet(3)"));
  EXPECT_EQ(doc.SheetCount(), 3);
  EXPECT_EQ(doc.Sheet(1)->Name(), u"Sheet1");
  EXPECT_EQ(doc.Sheet(3)->Name(), u"Sheet3");
  doc.Close();
}

TEST_F(DocumentTest, ClosingSavesThenQuitsWithAlertsOff) {
  auto doc = Open();
  doc->Close();
  EXPECT_THAT(FRec.Log, ElementsAre("app.SetDisplayAlerts := Boolean False", "wbk.Close(SaveChanges)", "app.Quit"));
  EXPECT_EQ(doc->MSExcel(), nullptr);
  EXPECT_EQ(doc->WBK(), nullptr);
  EXPECT_EQ(doc->SheetCount(), 0);
  FRec.Log.clear();
  doc->Close();  // a second close has nothing left to do
  EXPECT_TRUE(FRec.Log.empty());
  EXPECT_THROW(doc->Visible(), rtl::EOleError);  // nothing left to ask
  EXPECT_THROW(doc->InsertSheet(1), rtl::EOleError);
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
  EXPECT_EQ(FRec.Log.back(), "app.Quit");
  EXPECT_EQ(doc->MSExcel(), nullptr);
}

TEST_F(DocumentTest, AMissingServerIsReportedWithTheProgramIdentifier) {
  struct TBrokenServer : spreadsheet::ISpreadsheetServer {
    std::unique_ptr<spreadsheet::IApplication> CreateApplication() override { throw rtl::Exception("disk on fire"); }
  } broken;
  struct TCase {
    spreadsheet::ISpreadsheetServer* Server;
    std::u16string Message;
  } cases[] = {
      {nullptr, u"Cannot create Excel OLE object:\r\nInvalid class string, ProgID: \"Excel.Application\""},
      {&broken, u"Cannot create Excel OLE object:\r\ndisk on fire, ProgID: \"Excel.Application\""},
  };
  for (const auto& c : cases) {
    try {
      TqovDocument doc(c.Server, u"/data/book.xlsx");
      ADD_FAILURE();
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
  }
}

TEST_F(DocumentTest, AWorkbookThatCannotOpenQuitsTheServerAndReportsTheServersReason) {
  FRec.Failures["app.Open"] = "'/data/book.xlsx' could not be found";
  try {
    TqovDocument doc(&FServer, u"/data/book.xlsx");
    FAIL();
  } catch (const rtl::EOleException& e) {
    EXPECT_EQ(e.Message(), u"'/data/book.xlsx' could not be found");
  }
  EXPECT_THAT(FRec.Log, ElementsAre("app.Open(/data/book.xlsx)", "app.SetDisplayAlerts := Boolean False", "app.Quit"));
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
  FRec.Answers["wbk.Worksheet(2).Name"] = Variant::FromOleStr(u"Renamed");
  EXPECT_EQ(doc->SheetByName(u"Renamed"), doc->Sheet(2));
  doc->Close();
}

TEST_F(DocumentTest, InsertSheetPutsTheNewSheetAtItsPositionAndReselectsTheActiveSheet) {
  auto doc = Open();
  TqovSheet* formerFirst = doc->Sheet(1);
  doc->InsertSheet(1);
  EXPECT_THAT(FRec.Log, ElementsAre("wbk.ActiveSheet", "wbk.Worksheet(1)", "wbk.Worksheet(1).Select", "wbk.AddSheet",
                                    "active.Select"));
  EXPECT_EQ(doc->SheetCount(), 4);
  EXPECT_EQ(doc->Sheet(2), formerFirst);
  auto* added = dynamic_cast<testing::TRecordingSheet*>(doc->Sheet(1)->WS().get());
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Path(), "new");
  doc->Close();
}

TEST_F(DocumentTest, AFailedInsertChangesNothingAndReselectsTheActiveSheet) {
  auto doc = Open();
  FRec.Failures["wbk.Worksheet"] = "Subscript out of range";
  EXPECT_THROW(doc->InsertSheet(4), rtl::EOleException);
  EXPECT_EQ(doc->SheetCount(), 3);
  EXPECT_EQ(FRec.Log.back(), "active.Select");
  EXPECT_TRUE(FRec.Lines("wbk.AddSheet").empty());
  doc->Close();
}

TEST_F(DocumentTest, DeleteSheetRemovesTheWrapperWithoutPromptAndRestoresAlerts) {
  auto doc = Open();
  TqovSheet* third = doc->Sheet(3);
  doc->DeleteSheet(2);
  EXPECT_THAT(FRec.Log, ElementsAre("app.DisplayAlerts", "app.SetDisplayAlerts := Boolean False",
                                    "wbk.Worksheet(2).Delete", "app.SetDisplayAlerts := Boolean True"));
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
  EXPECT_EQ(FRec.Log.back(), "app.SetDisplayAlerts := Boolean True");
  FRec.Log.clear();
  FRec.Failures["wbk.Worksheet(1).Delete"] = "A workbook must contain at least one visible sheet";
  EXPECT_THROW(doc->DeleteSheet(1), rtl::EOleException);
  EXPECT_EQ(FRec.Log.back(), "app.SetDisplayAlerts := Boolean True");
  EXPECT_EQ(doc->SheetCount(), 3);
  doc->Close();
}

TEST_F(DocumentTest, VisibleReadsAndWritesTheApplication) {
  auto doc = Open();
  FRec.Answers["app.Visible"] = Variant(true);
  EXPECT_TRUE(doc->Visible());
  doc->SetVisible(false);
  EXPECT_THAT(FRec.Log, ElementsAre("app.Visible", "app.SetVisible := Boolean False"));
  doc->Close();
}

class SheetTest : public ::testing::Test {
 protected:
  TRecorder FRec;
  TqovSheet FSheet{std::make_shared<testing::TRecordingSheet>(&FRec, "ws")};
};

TEST_F(SheetTest, CellPassesRowThenColumnAndTheValueUnchanged) {
  FRec.Answers["ws.Value(3, 2)"] = Variant::FromOleStr(u"text");
  EXPECT_EQ(FSheet.Cell(3, 2).AsUnicodeString(), u"text");
  FSheet.SetCell(3, 2, Variant::FromCurrency(15000));
  EXPECT_THAT(FRec.Log, ElementsAre("ws.Value(3, 2)", "ws.SetValue(3, 2) := Currency 1.5"));
}

TEST_F(SheetTest, CellByNamePassesTheNameUnparsed) {
  FSheet.CellByName(u"B3");
  FSheet.SetCellByName(u"Total", Variant());
  EXPECT_THAT(FRec.Log, ElementsAre("ws.RangeValue(B3)", "ws.SetRangeValue(Total) := Empty"));
}

TEST_F(SheetTest, LockingAndProtectionUseTheirMembersWithoutPasswords) {
  FRec.Answers["ws.Locked(1, 1)"] = Variant(true);
  FRec.Answers["ws.ProtectContents"] = Variant(false);
  EXPECT_TRUE(FSheet.CellLocked(1, 1));
  FSheet.SetCellLocked(1, 1, false);
  EXPECT_FALSE(FSheet.SheetProtected());
  FSheet.SetSheetProtected(true);
  FSheet.SetSheetProtected(false);
  EXPECT_THAT(FRec.Log, ElementsAre("ws.Locked(1, 1)", "ws.SetLocked(1, 1) := Boolean False", "ws.ProtectContents",
                                    "ws.Protect", "ws.Unprotect"));
}

TEST_F(SheetTest, RowAndColumnOperationsCallInsertAndAutofit) {
  FSheet.InsertRow(5);
  FSheet.InsertColumn(2);
  FSheet.AutoFitColumn(7);
  EXPECT_THAT(FRec.Log, ElementsAre("ws.InsertRow(5)", "ws.InsertColumn(2)", "ws.AutofitColumn(7)"));
}

TEST_F(SheetTest, ServerRejectionsPropagateUnchanged) {
  FRec.Failures["ws.Value"] = "Application-defined or object-defined error";
  try {
    FSheet.Cell(0, 0);
    FAIL();
  } catch (const rtl::EOleException& e) {
    EXPECT_EQ(e.Message(), u"Application-defined or object-defined error");
  }
}

}  // namespace
}  // namespace workbook
