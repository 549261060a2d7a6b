#include "RecordingServer.h"

#include "rtl/AutomationErrors.h"

namespace workbook::testing {

using spreadsheet::ISheet;

namespace {

std::string Args(std::initializer_list<int> numbers) {
  std::string text;
  for (int n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return text;
}

std::string Utf8(const UnicodeString& text) { return rtl::UnicodeToUtf8(text); }

}  // namespace

std::vector<std::string> TRecorder::Lines(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& line : Log)
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

Variant TRecorder::Record(const std::string& path, const std::string& member, const std::string& args,
                          const Variant* written) {
  std::string name = path + "." + member;
  std::string call = args.empty() ? name : name + "(" + args + ")";
  Log.push_back(written ? call + " := " + DescribeValue(*written) : call);
  for (const std::string& key : {call, name})
    if (auto failure = Failures.find(key); failure != Failures.end())
      throw rtl::EOleException(rtl::Utf8ToUnicode(failure->second));
  if (auto answer = Answers.find(call); answer != Answers.end()) return answer->second;
  return {};
}

std::string DescribeValue(const Variant& v) {
  std::string type = Utf8(rtl::VarTypeAsText(v.VType()));
  return v.IsEmpty() ? type : type + " " + Utf8(v.AsUnicodeString());
}

// --- Sheet ---------------------------------------------------------------------

UnicodeString TRecordingSheet::Name() const { return FRec->Record(FPath, "Name").AsUnicodeString(); }

Variant TRecordingSheet::Value(int row, int column) const { return FRec->Record(FPath, "Value", Args({row, column})); }

void TRecordingSheet::SetValue(int row, int column, const Variant& value) {
  FRec->Record(FPath, "SetValue", Args({row, column}), &value);
}

Variant TRecordingSheet::RangeValue(const UnicodeString& reference) const {
  return FRec->Record(FPath, "RangeValue", Utf8(reference));
}

void TRecordingSheet::SetRangeValue(const UnicodeString& reference, const Variant& value) {
  FRec->Record(FPath, "SetRangeValue", Utf8(reference), &value);
}

bool TRecordingSheet::Locked(int row, int column) const {
  Variant answer = FRec->Record(FPath, "Locked", Args({row, column}));
  return !answer.IsEmpty() && answer.AsBoolean();
}

void TRecordingSheet::SetLocked(int row, int column, bool locked) {
  Variant value(locked);
  FRec->Record(FPath, "SetLocked", Args({row, column}), &value);
}

bool TRecordingSheet::ProtectContents() const {
  Variant answer = FRec->Record(FPath, "ProtectContents");
  return !answer.IsEmpty() && answer.AsBoolean();
}

void TRecordingSheet::Protect() { FRec->Record(FPath, "Protect"); }
void TRecordingSheet::Unprotect() { FRec->Record(FPath, "Unprotect"); }
void TRecordingSheet::InsertRow(int row) { FRec->Record(FPath, "InsertRow", Args({row})); }
void TRecordingSheet::InsertColumn(int column) { FRec->Record(FPath, "InsertColumn", Args({column})); }
void TRecordingSheet::AutofitColumn(int column) { FRec->Record(FPath, "AutofitColumn", Args({column})); }
void TRecordingSheet::Calculate() { FRec->Record(FPath, "Calculate"); }
void TRecordingSheet::Select() { FRec->Record(FPath, "Select"); }
void TRecordingSheet::Delete() { FRec->Record(FPath, "Delete"); }

void TRecordingSheet::SetName(const UnicodeString& name) {
  Variant value = Variant::FromOleStr(name);
  FRec->Record(FPath, "SetName", "", &value);
}
UnicodeString TRecordingSheet::NumberFormat(int row, int column) const {
  return FRec->Record(FPath, "NumberFormat", Args({row, column})).AsUnicodeString();
}
void TRecordingSheet::SetNumberFormat(int row, int column, const UnicodeString& code) {
  Variant value = Variant::FromOleStr(code);
  FRec->Record(FPath, "SetNumberFormat", Args({row, column}), &value);
}
double TRecordingSheet::ColumnWidth(int column) const {
  Variant answer = FRec->Record(FPath, "ColumnWidth", Args({column}));
  return answer.IsEmpty() ? 0 : answer.AsDouble();
}
void TRecordingSheet::SetColumnWidth(int column, double width) {
  Variant value(width);
  FRec->Record(FPath, "SetColumnWidth", Args({column}), &value);
}
double TRecordingSheet::RowHeight(int row) const {
  Variant answer = FRec->Record(FPath, "RowHeight", Args({row}));
  return answer.IsEmpty() ? 0 : answer.AsDouble();
}
void TRecordingSheet::SetRowHeight(int row, double height) {
  Variant value(height);
  FRec->Record(FPath, "SetRowHeight", Args({row}), &value);
}

// --- Workbook ------------------------------------------------------------------

std::shared_ptr<ISheet> TRecordingWorkbook::MakeSheet(std::string path) const {
  return std::make_shared<TRecordingSheet>(FRec, std::move(path));
}

int TRecordingWorkbook::WorksheetCount() const { return FRec->Record(FPath, "WorksheetCount").AsInteger(); }

std::shared_ptr<ISheet> TRecordingWorkbook::Worksheet(int index) const {
  FRec->Record(FPath, "Worksheet", Args({index}));
  return MakeSheet(FPath + ".Worksheet(" + std::to_string(index) + ")");
}

int TRecordingWorkbook::SheetCount() const { return FRec->Record(FPath, "SheetCount").AsInteger(); }

std::shared_ptr<ISheet> TRecordingWorkbook::Sheet(int index) const {
  FRec->Record(FPath, "Sheet", Args({index}));
  return MakeSheet(FPath + ".Sheet(" + std::to_string(index) + ")");
}

std::shared_ptr<ISheet> TRecordingWorkbook::ActiveSheet() const {
  FRec->Record(FPath, "ActiveSheet");
  return MakeSheet("active");
}

std::shared_ptr<ISheet> TRecordingWorkbook::AddSheet() {
  FRec->Record(FPath, "AddSheet");
  return MakeSheet("new");
}

std::shared_ptr<ISheet> TRecordingWorkbook::AddNamedSheet(const UnicodeString& name) {
  Variant value = Variant::FromOleStr(name);
  FRec->Record(FPath, "AddNamedSheet", "", &value);
  return MakeSheet("new");
}

std::shared_ptr<ISheet> TRecordingWorkbook::CopySheet(int index, int before) {
  FRec->Record(FPath, "CopySheet", Args({index, before}));
  return MakeSheet("copy");
}

UnicodeString TRecordingWorkbook::Name() const { return FRec->Record(FPath, "Name").AsUnicodeString(); }
UnicodeString TRecordingWorkbook::FullName() const { return FRec->Record(FPath, "FullName").AsUnicodeString(); }
void TRecordingWorkbook::Calculate() { FRec->Record(FPath, "Calculate"); }
void TRecordingWorkbook::Save() { FRec->Record(FPath, "Save"); }

void TRecordingWorkbook::Close(bool saveChanges) { FRec->Record(FPath, "Close", saveChanges ? "SaveChanges" : ""); }

// --- Application ---------------------------------------------------------------

std::shared_ptr<spreadsheet::IWorkbook> TRecordingApplication::Open(const UnicodeString& fileName) {
  FRec->Record(FPath, "Open", Utf8(fileName));
  return std::make_shared<TRecordingWorkbook>(FRec, "wbk");
}

int TRecordingApplication::WorkbookCount() const { return FRec->Record(FPath, "WorkbookCount").AsInteger(); }

bool TRecordingApplication::DisplayAlerts() const {
  Variant answer = FRec->Record(FPath, "DisplayAlerts");
  return !answer.IsEmpty() && answer.AsBoolean();
}

void TRecordingApplication::SetDisplayAlerts(bool value) {
  Variant written(value);
  FRec->Record(FPath, "SetDisplayAlerts", "", &written);
}

bool TRecordingApplication::Visible() const {
  Variant answer = FRec->Record(FPath, "Visible");
  return !answer.IsEmpty() && answer.AsBoolean();
}

void TRecordingApplication::SetVisible(bool value) {
  Variant written(value);
  FRec->Record(FPath, "SetVisible", "", &written);
}

void TRecordingApplication::Calculate() { FRec->Record(FPath, "Calculate"); }
void TRecordingApplication::Quit() { FRec->Record(FPath, "Quit"); }

std::unique_ptr<spreadsheet::IApplication> TRecordingServer::CreateApplication() {
  return std::make_unique<TRecordingApplication>(FRec, "app");
}

}  // namespace workbook::testing
