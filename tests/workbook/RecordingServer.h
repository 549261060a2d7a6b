// A recording stand-in for the spreadsheet server: every call on any object
// it hands out is logged as one line ("wbk.Worksheet(2)",
// "ws.SetValue(3, 2) := Currency 1.5"), and scripted answers or failures are
// looked up by the call ("ws.Value(3, 2)") or by the member alone
// ("wbk.Close").
#pragma once

#include <map>
#include <string>
#include <vector>

#include "spreadsheet/SpreadsheetServer.h"

namespace workbook::testing {

using rtl::UnicodeString;
using rtl::Variant;

struct TRecorder {
  std::vector<std::string> Log;
  std::map<std::string, rtl::Variant> Answers;
  std::map<std::string, std::string> Failures;  // call or member -> server description

  // Lines of the log that start with `prefix` (for checks that ignore reads).
  std::vector<std::string> Lines(const std::string& prefix = "") const;

  // Logs `member` of `path` with its arguments (and a written value), then
  // raises a scripted failure or returns the scripted answer (empty if none).
  rtl::Variant Record(const std::string& path, const std::string& member, const std::string& args = "",
                      const rtl::Variant* written = nullptr);
};

// Text of a value: its type name and value ("Integer 3", "OleStr B3").
std::string DescribeValue(const rtl::Variant& v);

// The recording objects; each knows the path it was reached by.
class TRecordingSheet : public spreadsheet::ISheet {
 public:
  TRecordingSheet(TRecorder* recorder, std::string path) : FRec(recorder), FPath(std::move(path)) {}
  const std::string& Path() const { return FPath; }

  UnicodeString Name() const override;
  Variant Value(int row, int column) const override;
  void SetValue(int row, int column, const Variant& value) override;
  Variant RangeValue(const UnicodeString& reference) const override;
  void SetRangeValue(const UnicodeString& reference, const Variant& value) override;
  bool Locked(int row, int column) const override;
  void SetLocked(int row, int column, bool locked) override;
  bool ProtectContents() const override;
  void Protect() override;
  void Unprotect() override;
  void InsertRow(int row) override;
  void InsertColumn(int column) override;
  void AutofitColumn(int column) override;
  void Calculate() override;
  void Select() override;
  void Delete() override;
  void SetName(const UnicodeString& name) override;
  UnicodeString NumberFormat(int row, int column) const override;
  void SetNumberFormat(int row, int column, const UnicodeString& code) override;
  double ColumnWidth(int column) const override;
  void SetColumnWidth(int column, double width) override;
  double RowHeight(int row) const override;
  void SetRowHeight(int row, double height) override;

 private:
  TRecorder* FRec;  // not owned; outlives every object
  std::string FPath;
};

class TRecordingWorkbook : public spreadsheet::IWorkbook {
 public:
  TRecordingWorkbook(TRecorder* recorder, std::string path) : FRec(recorder), FPath(std::move(path)) {}

  int WorksheetCount() const override;
  std::shared_ptr<spreadsheet::ISheet> Worksheet(int index) const override;
  int SheetCount() const override;
  std::shared_ptr<spreadsheet::ISheet> Sheet(int index) const override;
  std::shared_ptr<spreadsheet::ISheet> ActiveSheet() const override;
  std::shared_ptr<spreadsheet::ISheet> AddSheet() override;
  std::shared_ptr<spreadsheet::ISheet> AddNamedSheet(const UnicodeString& name) override;
  std::shared_ptr<spreadsheet::ISheet> CopySheet(int index, int before) override;
  UnicodeString Name() const override;
  UnicodeString FullName() const override;
  void Calculate() override;
  void Save() override;
  void Close(bool saveChanges) override;

 private:
  std::shared_ptr<spreadsheet::ISheet> MakeSheet(std::string path) const;
  TRecorder* FRec;
  std::string FPath;
};

class TRecordingApplication : public spreadsheet::IApplication {
 public:
  TRecordingApplication(TRecorder* recorder, std::string path) : FRec(recorder), FPath(std::move(path)) {}

  std::shared_ptr<spreadsheet::IWorkbook> Open(const UnicodeString& fileName) override;
  int WorkbookCount() const override;
  bool DisplayAlerts() const override;
  void SetDisplayAlerts(bool value) override;
  bool Visible() const override;
  void SetVisible(bool value) override;
  void Calculate() override;
  void Quit() override;

 private:
  TRecorder* FRec;
  std::string FPath;
};

// Starts recording applications named "app" whose Open gives a workbook
// "wbk". Its worksheets are "wbk.Worksheet(i)", its active sheet "active"
// and a sheet it adds "new".
class TRecordingServer : public spreadsheet::ISpreadsheetServer {
 public:
  explicit TRecordingServer(TRecorder* recorder) : FRec(recorder) {}
  std::unique_ptr<spreadsheet::IApplication> CreateApplication() override;

 private:
  TRecorder* FRec;
};

}  // namespace workbook::testing
