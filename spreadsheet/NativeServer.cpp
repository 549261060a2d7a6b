#include "spreadsheet/NativeServer.h"

#include <algorithm>
#include <vector>

#include "rtl/AutomationErrors.h"
#include "spreadsheet/Workbook.h"

namespace spreadsheet {

using rtl::EOleException;

namespace {

constexpr std::u16string_view SObjectError = TWorkbookFile::SObjectError;
constexpr std::u16string_view SObjectGone = u"The object has been deleted or its workbook closed";
constexpr std::u16string_view SRangeTooLarge = u"The range is too large to read or write at once";
constexpr std::u16string_view SNotAWorksheet = u"This member is available on worksheets only";
constexpr std::u16string_view SNoSuchSheet = u"Subscript out of range";
constexpr std::u16string_view SNoSuchName = u"Method 'Range' of object '_Worksheet' failed";
constexpr std::u16string_view SOutOfMemory = u"Out of memory";
constexpr std::u16string_view SNotSavedAfterOutOfMemory =
    u"the server ran out of memory while working on it, so the file was left as it was";
constexpr size_t kMaxRangeCells = 1u << 20;

[[noreturn]] void Fail(std::u16string_view message) { throw EOleException(UnicodeString(message)); }

// The application's own text, then in parentheses what exactly is wrong:
// scripts written against the application still recognise the error, and
// the user learns which value was refused.
[[noreturn]] void Fail(std::u16string_view message, const std::string& detail) {
  throw EOleException(UnicodeString(message) + u" (" + rtl::Utf8ToUnicode(detail) + u")");
}

void CheckRow(int64_t row) {
  if (row < 1) Fail(SObjectError, "row " + std::to_string(row) + " is before the first row, 1");
  if (row > kMaxRow)
    Fail(SObjectError, "row " + std::to_string(row) + " is beyond the last row, " + std::to_string(kMaxRow));
}

void CheckColumn(int64_t column) {
  if (column < 1) Fail(SObjectError, "column " + std::to_string(column) + " is before the first column, 1");
  if (column > kMaxColumn)
    Fail(SObjectError,
         "column " + std::to_string(column) + " is beyond the last column, " + std::to_string(kMaxColumn));
}

// Whether text is written like an A1 reference ("B3", "$B$3", "A1:C5"), so
// that failing to resolve it means a cell outside the sheet, not an
// unknown name.
bool LooksLikeReference(std::string_view text) {
  auto cell = [&](size_t at) -> size_t {
    auto skip = [&](auto is) {
      size_t from = at;
      while (at < text.size() && is(text[at])) ++at;
      return at - from;
    };
    if (at < text.size() && text[at] == '$') ++at;
    size_t letters = skip([](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; });
    if (at < text.size() && text[at] == '$') ++at;
    size_t digits = skip([](char c) { return c >= '0' && c <= '9'; });
    return letters >= 1 && letters <= 3 && digits >= 1 ? at : std::string_view::npos;
  };
  size_t end = cell(0);
  if (end != std::string_view::npos && end < text.size() && text[end] == ':') end = cell(end + 1);
  return end == text.size();
}

[[noreturn]] void FailRangeName(const std::string& name) {
  if (LooksLikeReference(name))
    Fail(SNoSuchName, "\"" + name + "\" is not a cell of the sheet, which ends at " + CellName(kMaxRow, kMaxColumn));
  Fail(SNoSuchName, "no defined name \"" + name + "\" refers to this sheet");
}

struct TAppState {
  std::vector<std::shared_ptr<TWorkbookFile>> Workbooks;
  // Workbooks the server ran out of memory on: whatever it was changing may
  // be half done, so they are not saved.
  std::vector<std::shared_ptr<TWorkbookFile>> OutOfMemory;
  bool DisplayAlerts = true;
  bool Visible = false;
  bool Quit = false;
};

// A workbook as the objects handed out see it: gone once closed or once the
// application quit.
struct TBook {
  std::shared_ptr<TAppState> App;
  std::shared_ptr<TWorkbookFile> File;
  TWorkbookFile& Check() const {
    if (App->Quit || std::find(App->Workbooks.begin(), App->Workbooks.end(), File) == App->Workbooks.end())
      Fail(SObjectGone);
    return *File;
  }
  // Raises instead of saving a workbook the server ran out of memory on.
  void CheckSavable() const {
    if (std::find(App->OutOfMemory.begin(), App->OutOfMemory.end(), File) != App->OutOfMemory.end())
      throw EOleException(rtl::FormatText(
          TWorkbookFile::SCannotSave, {rtl::Utf8ToUnicode(File->Path()), UnicodeString(SNotSavedAfterOutOfMemory)}));
  }
};

// Runs one member: workbook and package failures reach the caller as
// automation errors with their text, and running out of memory marks the
// workbook as not to be saved.
template <class F>
auto Guarded(const TBook* book, F&& member) -> decltype(member()) {
  try {
    return member();
  } catch (const rtl::EOleError&) {
    throw;
  } catch (const rtl::Exception& e) {
    throw EOleException(e.Message());
  } catch (const std::bad_alloc&) {
    if (book) book->App->OutOfMemory.push_back(book->File);
    Fail(SOutOfMemory);
  }
}

// --- Sheet ---------------------------------------------------------------------------

class TNativeSheet final : public ISheet {
 public:
  TNativeSheet(TBook book, std::shared_ptr<TSheet> sheet) : FBook(std::move(book)), FSheet(std::move(sheet)) {}

  UnicodeString Name() const override {
    return Guarded(&FBook, [&] {
      File();
      return rtl::Utf8ToUnicode(FSheet->Name);
    });
  }

  Variant Value(int row, int column) const override {
    return Guarded(&FBook, [&] { return Worksheet().GetValue(*FSheet, CheckedRow(row), CheckedColumn(column)); });
  }
  void SetValue(int row, int column, const Variant& value) override {
    Guarded(&FBook, [&] { Worksheet().SetValue(*FSheet, CheckedRow(row), CheckedColumn(column), value.Deref()); });
  }

  Variant RangeValue(const UnicodeString& reference) const override {
    return Guarded(&FBook, [&] {
      TWorkbookFile& file = Worksheet();
      TRangeRef range = Resolve(file, reference);
      if (CellCount(range) == 1) return file.GetValue(*FSheet, range.First.Row, range.First.Column);
      Variant result = Variant::CreateArray({{1, static_cast<int32_t>(range.Last.Row - range.First.Row + 1)},
                                             {1, static_cast<int32_t>(range.Last.Column - range.First.Column + 1)}});
      ForEachCell(range, [&](uint32_t r, uint32_t c) {
        result.ArrayElement({static_cast<int32_t>(r - range.First.Row + 1),
                             static_cast<int32_t>(c - range.First.Column + 1)}) = file.GetValue(*FSheet, r, c);
      });
      return result;
    });
  }
  void SetRangeValue(const UnicodeString& reference, const Variant& written) override {
    Guarded(&FBook, [&] {
      TWorkbookFile& file = Worksheet();
      TRangeRef range = Resolve(file, reference);
      const Variant& value = written.Deref();
      // A protected sheet refuses the write before any cell of it is taken.
      if (file.ProtectContents(*FSheet))
        ForEachCell(range, [&](uint32_t r, uint32_t c) { file.RefuseProtectedWrite(*FSheet, r, c); });
      if (!value.IsArray()) {
        ForEachCell(range, [&](uint32_t r, uint32_t c) { file.SetValue(*FSheet, r, c, value); });
        return;
      }
      // A two-dimensional array fills the range cell by cell, a
      // one-dimensional one each row alike.
      ForEachCell(range, [&](uint32_t r, uint32_t c) {
        int32_t i = static_cast<int32_t>(r - range.First.Row), j = static_cast<int32_t>(c - range.First.Column);
        const Variant& element = value.ArrayDimCount() == 2
                                     ? value.ArrayGet({value.ArrayLowBound(1) + i, value.ArrayLowBound(2) + j})
                                     : value.ArrayGet({value.ArrayLowBound(1) + j});
        file.SetValue(*FSheet, r, c, element);
      });
    });
  }

  bool Locked(int row, int column) const override {
    return Guarded(&FBook, [&] { return Worksheet().GetLocked(*FSheet, CheckedRow(row), CheckedColumn(column)); });
  }
  void SetLocked(int row, int column, bool locked) override {
    Guarded(&FBook, [&] { Worksheet().SetLocked(*FSheet, CheckedRow(row), CheckedColumn(column), locked); });
  }

  bool ProtectContents() const override {
    return Guarded(&FBook, [&] { return Worksheet().ProtectContents(*FSheet); });
  }
  void Protect() override {
    Guarded(&FBook, [&] { Worksheet().Protect(*FSheet); });
  }
  void Unprotect() override {
    Guarded(&FBook, [&] { Worksheet().Unprotect(*FSheet); });
  }

  void InsertRow(int row) override {
    Guarded(&FBook, [&] {
      TWorkbookFile& file = Worksheet();
      file.InsertRows(*FSheet, CheckedRow(row), 1);
    });
  }
  void InsertColumn(int column) override {
    Guarded(&FBook, [&] {
      TWorkbookFile& file = Worksheet();
      file.InsertColumns(*FSheet, CheckedColumn(column), 1);
    });
  }
  void AutofitColumn(int column) override {
    Guarded(&FBook, [&] {
      TWorkbookFile& file = Worksheet();
      file.AutofitColumn(*FSheet, CheckedColumn(column));
    });
  }

  void Calculate() override {
    Guarded(&FBook, [&] { Worksheet().Calculate(); });
  }
  void Select() override {
    Guarded(&FBook, [&] { File().Select(*FSheet); });
  }
  void Delete() override {
    Guarded(&FBook, [&] { File().DeleteSheet(*FSheet); });
  }

  void SetName(const UnicodeString& name) override {
    Guarded(&FBook, [&] { File().RenameSheet(*FSheet, rtl::UnicodeToUtf8(name)); });
  }
  UnicodeString NumberFormat(int row, int column) const override {
    return Guarded(&FBook, [&] {
      return rtl::Utf8ToUnicode(Worksheet().NumberFormat(*FSheet, CheckedRow(row), CheckedColumn(column)));
    });
  }
  void SetNumberFormat(int row, int column, const UnicodeString& code) override {
    Guarded(&FBook, [&] {
      Worksheet().SetNumberFormat(*FSheet, CheckedRow(row), CheckedColumn(column), rtl::UnicodeToUtf8(code));
    });
  }
  double ColumnWidth(int column) const override {
    return Guarded(&FBook, [&] { return Worksheet().ColumnWidth(*FSheet, CheckedColumn(column)); });
  }
  void SetColumnWidth(int column, double width) override {
    Guarded(&FBook, [&] { Worksheet().SetColumnWidth(*FSheet, CheckedColumn(column), width); });
  }
  double RowHeight(int row) const override {
    return Guarded(&FBook, [&] { return Worksheet().RowHeight(*FSheet, CheckedRow(row)); });
  }
  void SetRowHeight(int row, double height) override {
    Guarded(&FBook, [&] { Worksheet().SetRowHeight(*FSheet, CheckedRow(row), height); });
  }

 private:
  TWorkbookFile& File() const {
    TWorkbookFile& file = FBook.Check();
    if (FSheet->Deleted) Fail(SObjectGone);
    return file;
  }
  TWorkbookFile& Worksheet() const {
    TWorkbookFile& file = File();
    if (!FSheet->IsWorksheet) Fail(SNotAWorksheet);
    return file;
  }
  static uint32_t CheckedRow(int row) {
    CheckRow(row);
    return static_cast<uint32_t>(row);
  }
  static uint32_t CheckedColumn(int column) {
    CheckColumn(column);
    return static_cast<uint32_t>(column);
  }
  TRangeRef Resolve(TWorkbookFile& file, const UnicodeString& reference) const {
    std::string name = rtl::UnicodeToUtf8(reference);
    TRangeRef range;
    if (!file.ResolveRangeName(*FSheet, name, range)) FailRangeName(name);
    return range;
  }
  static size_t CellCount(const TRangeRef& range) {
    return static_cast<size_t>(range.Last.Row - range.First.Row + 1) *
           static_cast<size_t>(range.Last.Column - range.First.Column + 1);
  }
  template <class F>
  static void ForEachCell(const TRangeRef& range, F&& f) {
    if (CellCount(range) > kMaxRangeCells) Fail(SRangeTooLarge);
    for (uint32_t r = range.First.Row; r <= range.Last.Row; ++r)
      for (uint32_t c = range.First.Column; c <= range.Last.Column; ++c) f(r, c);
  }

  TBook FBook;
  std::shared_ptr<TSheet> FSheet;
};

// --- Workbook --------------------------------------------------------------------------

class TNativeWorkbook final : public IWorkbook {
 public:
  explicit TNativeWorkbook(TBook book) : FBook(std::move(book)) {}

  int WorksheetCount() const override {
    return Guarded(&FBook, [&] { return static_cast<int>(FBook.Check().Worksheets().size()); });
  }
  std::shared_ptr<ISheet> Worksheet(int index) const override {
    return Guarded(&FBook, [&] { return Pick(FBook.Check().Worksheets(), index, "worksheet"); });
  }
  int SheetCount() const override {
    return Guarded(&FBook, [&] { return static_cast<int>(FBook.Check().Sheets().size()); });
  }
  std::shared_ptr<ISheet> Sheet(int index) const override {
    return Guarded(&FBook, [&] { return Pick(FBook.Check().Sheets(), index, "sheet"); });
  }
  std::shared_ptr<ISheet> ActiveSheet() const override {
    return Guarded(&FBook, [&] { return MakeSheet(FBook.Check().ActiveSheet()); });
  }
  std::shared_ptr<ISheet> AddSheet() override {
    return Guarded(&FBook, [&] {
      TWorkbookFile& file = FBook.Check();
      return MakeSheet(file.AddSheetBefore(*file.ActiveSheet()));
    });
  }
  std::shared_ptr<ISheet> AddNamedSheet(const UnicodeString& name) override {
    return Guarded(&FBook, [&] { return MakeSheet(FBook.Check().AddSheetNamed(rtl::UnicodeToUtf8(name))); });
  }
  std::shared_ptr<ISheet> CopySheet(int index, int before) override {
    return Guarded(&FBook, [&] {
      TWorkbookFile& file = FBook.Check();
      auto worksheets = file.Worksheets();
      if (index < 1 || static_cast<size_t>(index) > worksheets.size() || before < 1 ||
          static_cast<size_t>(before) > worksheets.size() + 1)
        Fail(SNoSuchSheet);
      // Worksheet positions to tab positions: chart sheets may lie between.
      int tab = static_cast<size_t>(before) > worksheets.size()
                    ? file.IndexOf(*worksheets.back()) + 1
                    : file.IndexOf(*worksheets[static_cast<size_t>(before - 1)]);
      return MakeSheet(file.CopySheet(*worksheets[static_cast<size_t>(index - 1)], tab));
    });
  }

  UnicodeString Name() const override {
    return Guarded(&FBook, [&] { return rtl::Utf8ToUnicode(FBook.Check().Name()); });
  }
  UnicodeString FullName() const override {
    return Guarded(&FBook, [&] { return rtl::Utf8ToUnicode(FBook.Check().Path()); });
  }

  void Calculate() override {
    Guarded(&FBook, [&] { FBook.Check().Calculate(); });
  }
  void Save() override {
    Guarded(&FBook, [&] {
      TWorkbookFile& file = FBook.Check();
      if (!file.Changed()) return;
      FBook.CheckSavable();
      file.Save();
    });
  }
  void Close(bool saveChanges) override {
    Guarded(&FBook, [&] {
      TWorkbookFile& file = FBook.Check();
      // The workbook is closed whether or not saving worked; a failed save
      // is still reported.
      struct TCloser {
        std::vector<std::shared_ptr<TWorkbookFile>>& Books;
        std::shared_ptr<TWorkbookFile> File;
        ~TCloser() {
          File->Unlock();
          Books.erase(std::remove(Books.begin(), Books.end(), File), Books.end());
        }
      } closer{FBook.App->Workbooks, FBook.File};
      if (saveChanges && file.Changed()) {
        FBook.CheckSavable();
        file.Save();
      }
    });
  }

 private:
  std::shared_ptr<ISheet> MakeSheet(std::shared_ptr<TSheet> sheet) const {
    return std::make_shared<TNativeSheet>(FBook, std::move(sheet));
  }
  std::shared_ptr<ISheet> Pick(const std::vector<std::shared_ptr<TSheet>>& list, int index, const char* kind) const {
    if (index < 1 || static_cast<size_t>(index) > list.size())
      Fail(SNoSuchSheet, std::string("there is no ") + kind + " " + std::to_string(index) + "; the workbook has " +
                             std::to_string(list.size()));
    return MakeSheet(list[static_cast<size_t>(index - 1)]);
  }

  TBook FBook;
};

// --- Application -----------------------------------------------------------------------

class TNativeApplication final : public IApplication {
 public:
  std::shared_ptr<IWorkbook> Open(const UnicodeString& fileName) override {
    return Guarded(nullptr, [&]() -> std::shared_ptr<IWorkbook> {
      CheckRunning();
      std::string path = rtl::UnicodeToUtf8(fileName);
      for (auto& book : FApp->Workbooks)
        if (book->Path() == path) return std::make_shared<TNativeWorkbook>(TBook{FApp, book});
      std::shared_ptr<TWorkbookFile> file;
      try {
        file = std::make_shared<TWorkbookFile>(path);
      } catch (const std::bad_alloc&) {
        Fail(rtl::FormatText(TWorkbookFile::SCannotOpen, {fileName, u"out of memory"}));
      }
      FApp->Workbooks.push_back(file);
      return std::make_shared<TNativeWorkbook>(TBook{FApp, file});
    });
  }
  int WorkbookCount() const override {
    CheckRunning();
    return static_cast<int>(FApp->Workbooks.size());
  }

  bool DisplayAlerts() const override {
    CheckRunning();
    return FApp->DisplayAlerts;
  }
  void SetDisplayAlerts(bool value) override {
    CheckRunning();
    FApp->DisplayAlerts = value;
  }
  bool Visible() const override {
    CheckRunning();
    return FApp->Visible;
  }
  void SetVisible(bool value) override {
    CheckRunning();
    FApp->Visible = value;
  }

  void Calculate() override {
    CheckRunning();
    for (auto& book : FApp->Workbooks) book->Calculate();
  }

  void Quit() override {
    for (auto& book : FApp->Workbooks) book->Unlock();
    FApp->Workbooks.clear();
    FApp->Quit = true;
  }

 private:
  void CheckRunning() const {
    if (FApp->Quit) Fail(SObjectGone);
  }

  std::shared_ptr<TAppState> FApp = std::make_shared<TAppState>();
};

}  // namespace

std::unique_ptr<IApplication> TNativeServer::CreateApplication() { return std::make_unique<TNativeApplication>(); }

}  // namespace spreadsheet
