#include "spreadsheet/ExcelServer.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "spreadsheet/Workbook.h"

namespace spreadsheet {

using rtl::EOleException;
using rtl::TDispatchTable;
using rtl::TInvocation;
using rtl::TRef;
using rtl::UnicodeString;
using rtl::Variant;

namespace {

constexpr std::u16string_view SObjectError = TWorkbookFile::SObjectError;
constexpr std::u16string_view SObjectGone = u"The object has been deleted or its workbook closed";
constexpr std::u16string_view SRangeTooLarge = u"The range is too large to read or write at once";
constexpr std::u16string_view SNoShiftInsert =
    u"Only entire rows and columns can be inserted (use Rows(i).Insert or Columns(i).Insert)";
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

void ArgCount(const TInvocation& call, size_t min, size_t max) {
  if (call.ArgCount() < min || call.ArgCount() > max) throw EOleException::BadParamCount();
}

// Reads forbid a put; properties that can be written check the put value.
void NoPut(const TInvocation& call, std::u16string_view name) {
  if (call.IsPut()) throw EOleException::ReadOnly(name);
}

Variant Object(rtl::IDispatch* object) {
  TRef<rtl::IDispatch> hold(object);
  return Variant::FromDispatch(object);
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

// Common dispatch: the member table, and server failures reported as
// automation errors carrying their description.
template <class T>
class TServerObject : public rtl::IDispatch {
 public:
  Variant Invoke(std::u16string_view name, const TInvocation& call) override {
    try {
      return T::Table().Invoke(static_cast<T&>(*this), name, call);
    } catch (const rtl::EOleError&) {
      throw;
    } catch (const rtl::Exception& e) {
      // Workbook, package and argument conversion failures, with their text.
      throw EOleException(e.Message());
    } catch (const std::bad_alloc&) {
      if (const TBook* book = static_cast<T&>(*this).Book()) book->App->OutOfMemory.push_back(book->File);
      Fail(SOutOfMemory);
    }
  }
};

class TSheetObject;
Variant MakeSheet(const TBook& book, std::shared_ptr<TSheet> sheet);

// --- Range ---------------------------------------------------------------------------

class TRangeObject : public TServerObject<TRangeObject> {
 public:
  enum TKind { Cells, EntireRows, EntireColumns };
  TRangeObject(TBook book, std::shared_ptr<TSheet> sheet, TRangeRef range, TKind kind)
      : FBook(std::move(book)), FSheet(std::move(sheet)), FRange(range), FKind(kind) {}
  const TBook* Book() const { return &FBook; }

  static const TDispatchTable<TRangeObject>& Table() {
    static const TDispatchTable<TRangeObject> table{
        {u"Item", &TRangeObject::Item},       {u"Value", &TRangeObject::Value},   {u"Value2", &TRangeObject::Value},
        {u"Locked", &TRangeObject::Locked},   {u"Insert", &TRangeObject::Insert}, {u"Autofit", &TRangeObject::Autofit},
        {u"Row", &TRangeObject::Row},         {u"Column", &TRangeObject::Column}, {u"Count", &TRangeObject::Count},
        {u"Address", &TRangeObject::Address}, {u"Cells", &TRangeObject::CellsOf}};
    return table;
  }

 private:
  TWorkbookFile& File() {
    TWorkbookFile& file = FBook.Check();
    if (FSheet->Deleted) Fail(SObjectGone);
    if (!FSheet->IsWorksheet) Fail(SNotAWorksheet);
    return file;
  }
  size_t CellCount() const {
    return static_cast<size_t>(FRange.Last.Row - FRange.First.Row + 1) *
           static_cast<size_t>(FRange.Last.Column - FRange.First.Column + 1);
  }
  template <class F>
  void ForEachCell(F&& f) {
    if (CellCount() > kMaxRangeCells) Fail(SRangeTooLarge);
    for (uint32_t r = FRange.First.Row; r <= FRange.Last.Row; ++r)
      for (uint32_t c = FRange.First.Column; c <= FRange.Last.Column; ++c) f(r, c);
  }

  Variant Item(const TInvocation& call) {
    NoPut(call, u"Item");
    ArgCount(call, 1, 2);
    File();
    int64_t row = call.Arg(0).AsInteger();
    int64_t column = call.ArgCount() > 1 ? call.Arg(1).AsInteger() : 1;
    if (call.ArgCount() == 1 && FKind == EntireColumns) std::swap(row, column), row = 1;
    int64_t r = FRange.First.Row + row - 1, c = FRange.First.Column + column - 1;
    CheckRow(r);
    CheckColumn(c);
    TCellRef cell{static_cast<uint32_t>(r), static_cast<uint32_t>(c)};
    return Object(new TRangeObject(FBook, FSheet, TRangeRef{cell, cell}, Cells));
  }

  Variant Value(const TInvocation& call) {
    TWorkbookFile& file = File();
    if (call.IsPut()) {
      const Variant& value = call.PutValue->Deref();
      if (value.IsArray()) {
        // A two-dimensional array fills the range cell by cell.
        ForEachCell([&](uint32_t r, uint32_t c) {
          int32_t i = static_cast<int32_t>(r - FRange.First.Row), j = static_cast<int32_t>(c - FRange.First.Column);
          const Variant& element = value.ArrayDimCount() == 2
                                       ? value.ArrayGet({value.ArrayLowBound(1) + i, value.ArrayLowBound(2) + j})
                                       : value.ArrayGet({value.ArrayLowBound(1) + j});
          file.SetValue(*FSheet, r, c, element);
        });
      } else {
        ForEachCell([&](uint32_t r, uint32_t c) { file.SetValue(*FSheet, r, c, value); });
      }
      return {};
    }
    ArgCount(call, 0, 1);
    if (CellCount() == 1) return file.GetValue(*FSheet, FRange.First.Row, FRange.First.Column);
    if (CellCount() > kMaxRangeCells) Fail(SRangeTooLarge);
    Variant result = Variant::CreateArray({{1, static_cast<int32_t>(FRange.Last.Row - FRange.First.Row + 1)},
                                           {1, static_cast<int32_t>(FRange.Last.Column - FRange.First.Column + 1)}});
    ForEachCell([&](uint32_t r, uint32_t c) {
      result.ArrayElement({static_cast<int32_t>(r - FRange.First.Row + 1),
                           static_cast<int32_t>(c - FRange.First.Column + 1)}) = file.GetValue(*FSheet, r, c);
    });
    return result;
  }

  Variant Locked(const TInvocation& call) {
    TWorkbookFile& file = File();
    if (call.IsPut()) {
      bool locked = call.PutValue->AsBoolean();
      ForEachCell([&](uint32_t r, uint32_t c) { file.SetLocked(*FSheet, r, c, locked); });
      return {};
    }
    if (CellCount() > kMaxRangeCells) Fail(SRangeTooLarge);
    // Null when the cells disagree, as the application answers.
    int state = -1;
    bool mixed = false;
    ForEachCell([&](uint32_t r, uint32_t c) {
      int locked = file.GetLocked(*FSheet, r, c) ? 1 : 0;
      if (state >= 0 && state != locked) mixed = true;
      state = locked;
    });
    return mixed ? Variant::Null() : Variant(state == 1);
  }

  Variant Insert(const TInvocation& call) {
    NoPut(call, u"Insert");
    TWorkbookFile& file = File();
    if (FKind == EntireRows)
      file.InsertRows(*FSheet, FRange.First.Row, FRange.Last.Row - FRange.First.Row + 1);
    else if (FKind == EntireColumns)
      file.InsertColumns(*FSheet, FRange.First.Column, FRange.Last.Column - FRange.First.Column + 1);
    else
      Fail(SNoShiftInsert);
    return Variant(true);
  }

  Variant Autofit(const TInvocation& call) {
    NoPut(call, u"Autofit");
    TWorkbookFile& file = File();
    if (FKind != EntireColumns) Fail(SObjectError, "only whole columns can be autofitted");
    for (uint32_t c = FRange.First.Column; c <= FRange.Last.Column; ++c) file.AutofitColumn(*FSheet, c);
    return Variant(true);
  }

  Variant Row(const TInvocation& call) {
    NoPut(call, u"Row");
    return Variant(static_cast<int32_t>(FRange.First.Row));
  }
  Variant Column(const TInvocation& call) {
    NoPut(call, u"Column");
    return Variant(static_cast<int32_t>(FRange.First.Column));
  }
  Variant Count(const TInvocation& call) {
    NoPut(call, u"Count");
    if (FKind == EntireRows) return Variant(static_cast<int32_t>(FRange.Last.Row - FRange.First.Row + 1));
    if (FKind == EntireColumns) return Variant(static_cast<int32_t>(FRange.Last.Column - FRange.First.Column + 1));
    return Variant(static_cast<int64_t>(CellCount()));
  }
  Variant Address(const TInvocation& call) {
    NoPut(call, u"Address");
    std::string text = "$" + ColumnName(FRange.First.Column) + "$" + std::to_string(FRange.First.Row);
    if (CellCount() > 1) text += ":$" + ColumnName(FRange.Last.Column) + "$" + std::to_string(FRange.Last.Row);
    return Variant::FromOleStr(rtl::Utf8ToUnicode(text));
  }
  Variant CellsOf(const TInvocation& call) {
    NoPut(call, u"Cells");
    File();
    if (call.ArgCount() == 0) return Object(new TRangeObject(FBook, FSheet, FRange, Cells));
    return Item(call);
  }

  TBook FBook;
  std::shared_ptr<TSheet> FSheet;
  TRangeRef FRange;
  TKind FKind;
};

// --- Worksheet -------------------------------------------------------------------------

class TSheetObject : public TServerObject<TSheetObject> {
 public:
  TSheetObject(TBook book, std::shared_ptr<TSheet> sheet) : FBook(std::move(book)), FSheet(std::move(sheet)) {}
  const TBook* Book() const { return &FBook; }

  static const TDispatchTable<TSheetObject>& Table() {
    static const TDispatchTable<TSheetObject> table{{u"Name", &TSheetObject::Name},
                                                    {u"Index", &TSheetObject::Index},
                                                    {u"ProtectContents", &TSheetObject::ProtectContents},
                                                    {u"Protect", &TSheetObject::Protect},
                                                    {u"Unprotect", &TSheetObject::Unprotect},
                                                    {u"Cells", &TSheetObject::CellsOf},
                                                    {u"Range", &TSheetObject::Range},
                                                    {u"Rows", &TSheetObject::Rows},
                                                    {u"Columns", &TSheetObject::Columns},
                                                    {u"Select", &TSheetObject::Select},
                                                    {u"Activate", &TSheetObject::Select},
                                                    {u"Delete", &TSheetObject::Delete}};
    return table;
  }

 private:
  TWorkbookFile& File() {
    TWorkbookFile& file = FBook.Check();
    if (FSheet->Deleted) Fail(SObjectGone);
    return file;
  }
  TWorkbookFile& Worksheet() {
    TWorkbookFile& file = File();
    if (!FSheet->IsWorksheet) Fail(SNotAWorksheet);
    return file;
  }
  Variant MakeRange(TRangeRef range, TRangeObject::TKind kind) {
    return Object(new TRangeObject(FBook, FSheet, range, kind));
  }

  Variant Name(const TInvocation& call) {
    NoPut(call, u"Name");
    File();
    return Variant::FromOleStr(rtl::Utf8ToUnicode(FSheet->Name));
  }
  Variant Index(const TInvocation& call) {
    NoPut(call, u"Index");
    return Variant(static_cast<int32_t>(File().IndexOf(*FSheet) + 1));
  }
  Variant ProtectContents(const TInvocation& call) {
    NoPut(call, u"ProtectContents");
    return Variant(Worksheet().ProtectContents(*FSheet));
  }
  Variant Protect(const TInvocation& call) {
    NoPut(call, u"Protect");
    ArgCount(call, 0, 0);
    Worksheet().Protect(*FSheet);
    return {};
  }
  Variant Unprotect(const TInvocation& call) {
    NoPut(call, u"Unprotect");
    ArgCount(call, 0, 0);
    Worksheet().Unprotect(*FSheet);
    return {};
  }
  Variant CellsOf(const TInvocation& call) {
    NoPut(call, u"Cells");
    Worksheet();
    Variant all = MakeRange(TRangeRef{{1, 1}, {kMaxRow, kMaxColumn}}, TRangeObject::Cells);
    if (call.ArgCount() == 0) return all;
    return all.VDispatch()->Invoke(u"Item", call);
  }
  Variant Range(const TInvocation& call) {
    NoPut(call, u"Range");
    ArgCount(call, 1, 2);
    TWorkbookFile& file = Worksheet();
    TRangeRef first, second;
    std::string name = call.Arg(0).AsAnsiString();
    if (!file.ResolveRangeName(*FSheet, name, first)) FailRangeName(name);
    second = first;
    if (call.ArgCount() > 1 && !call.Arg(1).IsEmpty()) {
      name = call.Arg(1).AsAnsiString();
      if (!file.ResolveRangeName(*FSheet, name, second)) FailRangeName(name);
    }
    TRangeRef range{{std::min(first.First.Row, second.First.Row), std::min(first.First.Column, second.First.Column)},
                    {std::max(first.Last.Row, second.Last.Row), std::max(first.Last.Column, second.Last.Column)}};
    return MakeRange(range, TRangeObject::Cells);
  }
  Variant Rows(const TInvocation& call) {
    NoPut(call, u"Rows");
    ArgCount(call, 0, 1);
    Worksheet();
    if (call.ArgCount() == 0) return MakeRange(TRangeRef{{1, 1}, {kMaxRow, kMaxColumn}}, TRangeObject::EntireRows);
    int64_t row = call.Arg(0).AsInteger();
    CheckRow(row);
    return MakeRange(TRangeRef{{static_cast<uint32_t>(row), 1}, {static_cast<uint32_t>(row), kMaxColumn}},
                     TRangeObject::EntireRows);
  }
  Variant Columns(const TInvocation& call) {
    NoPut(call, u"Columns");
    ArgCount(call, 0, 1);
    Worksheet();
    if (call.ArgCount() == 0) return MakeRange(TRangeRef{{1, 1}, {kMaxRow, kMaxColumn}}, TRangeObject::EntireColumns);
    int64_t column;
    const Variant& arg = call.Arg(0);
    if (arg.IsString()) {  // Columns("B")
      TRangeRef range;
      std::string letters = arg.AsAnsiString();
      if (!ParseRangeRef(letters + ":" + letters, range))
        Fail(SObjectError,
             "\"" + letters + "\" is not a column of the sheet, which ends at column " + ColumnName(kMaxColumn));
      column = range.First.Column;
    } else {
      column = arg.AsInteger();
    }
    CheckColumn(column);
    return MakeRange(TRangeRef{{1, static_cast<uint32_t>(column)}, {kMaxRow, static_cast<uint32_t>(column)}},
                     TRangeObject::EntireColumns);
  }
  Variant Select(const TInvocation& call) {
    NoPut(call, u"Select");
    File().Select(*FSheet);
    return Variant(true);
  }
  Variant Delete(const TInvocation& call) {
    NoPut(call, u"Delete");
    ArgCount(call, 0, 0);
    File().DeleteSheet(*FSheet);
    return Variant(true);
  }

  TBook FBook;
  std::shared_ptr<TSheet> FSheet;
};

Variant MakeSheet(const TBook& book, std::shared_ptr<TSheet> sheet) {
  return Object(new TSheetObject(book, std::move(sheet)));
}

// --- Sheets and Worksheets -------------------------------------------------------------

class TSheetsObject : public TServerObject<TSheetsObject> {
 public:
  TSheetsObject(TBook book, bool worksheetsOnly) : FBook(std::move(book)), FWorksheetsOnly(worksheetsOnly) {}
  const TBook* Book() const { return &FBook; }

  static const TDispatchTable<TSheetsObject>& Table() {
    static const TDispatchTable<TSheetsObject> table{
        {u"Count", &TSheetsObject::Count}, {u"Item", &TSheetsObject::Item}, {u"Add", &TSheetsObject::Add}};
    return table;
  }

  Variant Item(const TInvocation& call) {
    NoPut(call, u"Item");
    ArgCount(call, 1, 1);
    auto list = List();
    const Variant& key = call.Arg(0);
    if (key.IsString()) {
      std::string name = key.AsAnsiString();
      for (auto& s : list)
        if (SameSheetName(s->Name, name)) return MakeSheet(FBook, s);
      Fail(SNoSuchSheet, "no " + Kind() + " is named \"" + name + "\"");
    }
    int64_t index = key.AsInteger();
    if (index < 1 || index > static_cast<int64_t>(list.size()))
      Fail(SNoSuchSheet,
           "there is no " + Kind() + " " + std::to_string(index) + "; the workbook has " + std::to_string(list.size()));
    return MakeSheet(FBook, list[static_cast<size_t>(index - 1)]);
  }

 private:
  std::string Kind() const { return FWorksheetsOnly ? "worksheet" : "sheet"; }
  std::vector<std::shared_ptr<TSheet>> List() {
    TWorkbookFile& file = FBook.Check();
    return FWorksheetsOnly ? file.Worksheets() : file.Sheets();
  }
  Variant Count(const TInvocation& call) {
    NoPut(call, u"Count");
    return Variant(static_cast<int32_t>(List().size()));
  }
  Variant Add(const TInvocation& call) {
    NoPut(call, u"Add");
    TWorkbookFile& file = FBook.Check();
    return MakeSheet(FBook, file.AddSheetBefore(*file.ActiveSheet()));
  }

  TBook FBook;
  bool FWorksheetsOnly;
};

// --- Workbook ----------------------------------------------------------------------------

class TWorkbookObject : public TServerObject<TWorkbookObject> {
 public:
  explicit TWorkbookObject(TBook book) : FBook(std::move(book)) {}
  const TBook* Book() const { return &FBook; }

  static const TDispatchTable<TWorkbookObject>& Table() {
    static const TDispatchTable<TWorkbookObject> table{{u"Sheets", &TWorkbookObject::Sheets},
                                                       {u"Worksheets", &TWorkbookObject::Worksheets},
                                                       {u"ActiveSheet", &TWorkbookObject::ActiveSheet},
                                                       {u"Close", &TWorkbookObject::Close},
                                                       {u"Save", &TWorkbookObject::Save},
                                                       {u"Name", &TWorkbookObject::Name},
                                                       {u"FullName", &TWorkbookObject::FullName}};
    return table;
  }

 private:
  Variant Collection(const TInvocation& call, bool worksheetsOnly) {
    FBook.Check();
    auto* sheets = new TSheetsObject(FBook, worksheetsOnly);
    Variant collection = Object(sheets);
    if (call.ArgCount() == 0) return collection;
    return sheets->Item(call);
  }
  Variant Sheets(const TInvocation& call) {
    NoPut(call, u"Sheets");
    return Collection(call, false);
  }
  Variant Worksheets(const TInvocation& call) {
    NoPut(call, u"Worksheets");
    return Collection(call, true);
  }
  Variant ActiveSheet(const TInvocation& call) {
    NoPut(call, u"ActiveSheet");
    return MakeSheet(FBook, FBook.Check().ActiveSheet());
  }
  Variant Close(const TInvocation& call) {
    NoPut(call, u"Close");
    TWorkbookFile& file = FBook.Check();
    const Variant* save = call.FindNamed(u"SaveChanges");
    if (!save && call.ArgCount() > 0) save = &call.Args[0];
    auto& books = FBook.App->Workbooks;
    // The workbook is closed whether or not saving worked; a failed save is
    // still reported.
    struct TCloser {
      std::vector<std::shared_ptr<TWorkbookFile>>& Books;
      std::shared_ptr<TWorkbookFile> File;
      ~TCloser() {
        File->Unlock();
        Books.erase(std::remove(Books.begin(), Books.end(), File), Books.end());
      }
    } closer{books, FBook.File};
    if (save && save->Deref().AsBoolean() && file.Changed()) {
      FBook.CheckSavable();
      file.Save();
    }
    return Variant(true);
  }
  Variant Save(const TInvocation& call) {
    NoPut(call, u"Save");
    TWorkbookFile& file = FBook.Check();
    if (file.Changed()) {
      FBook.CheckSavable();
      file.Save();
    }
    return {};
  }
  Variant Name(const TInvocation& call) {
    NoPut(call, u"Name");
    return Variant::FromOleStr(rtl::Utf8ToUnicode(FBook.Check().Name()));
  }
  Variant FullName(const TInvocation& call) {
    NoPut(call, u"FullName");
    return Variant::FromOleStr(rtl::Utf8ToUnicode(FBook.Check().Path()));
  }

  TBook FBook;
};

// --- Workbooks and application -------------------------------------------------------------

class TWorkbooksObject : public TServerObject<TWorkbooksObject> {
 public:
  explicit TWorkbooksObject(std::shared_ptr<TAppState> app) : FApp(std::move(app)) {}
  const TBook* Book() const { return nullptr; }

  static const TDispatchTable<TWorkbooksObject>& Table() {
    static const TDispatchTable<TWorkbooksObject> table{
        {u"Open", &TWorkbooksObject::Open}, {u"Count", &TWorkbooksObject::Count}, {u"Item", &TWorkbooksObject::Item}};
    return table;
  }

 private:
  Variant Open(const TInvocation& call) {
    NoPut(call, u"Open");
    if (call.ArgCount() < 1) throw EOleException::BadParamCount();
    std::string path = call.Arg(0).AsAnsiString();
    for (auto& book : FApp->Workbooks)
      if (book->Path() == path) return Object(new TWorkbookObject(TBook{FApp, book}));
    std::shared_ptr<TWorkbookFile> file;
    try {
      file = std::make_shared<TWorkbookFile>(path);
    } catch (const std::bad_alloc&) {
      Fail(rtl::FormatText(TWorkbookFile::SCannotOpen, {rtl::Utf8ToUnicode(path), u"out of memory"}));
    }
    FApp->Workbooks.push_back(file);
    return Object(new TWorkbookObject(TBook{FApp, file}));
  }
  Variant Count(const TInvocation& call) {
    NoPut(call, u"Count");
    return Variant(static_cast<int32_t>(FApp->Workbooks.size()));
  }
  Variant Item(const TInvocation& call) {
    NoPut(call, u"Item");
    ArgCount(call, 1, 1);
    int64_t index = call.Arg(0).AsInteger();
    if (index < 1 || index > static_cast<int64_t>(FApp->Workbooks.size()))
      Fail(SNoSuchSheet,
           "there is no workbook " + std::to_string(index) + "; " + std::to_string(FApp->Workbooks.size()) + " open");
    return Object(new TWorkbookObject(TBook{FApp, FApp->Workbooks[static_cast<size_t>(index - 1)]}));
  }

  std::shared_ptr<TAppState> FApp;
};

class TApplicationObject : public TServerObject<TApplicationObject> {
 public:
  TApplicationObject() : FApp(std::make_shared<TAppState>()) {}
  const TBook* Book() const { return nullptr; }

  static const TDispatchTable<TApplicationObject>& Table() {
    static const TDispatchTable<TApplicationObject> table{{u"Workbooks", &TApplicationObject::Workbooks},
                                                          {u"DisplayAlerts", &TApplicationObject::DisplayAlerts},
                                                          {u"Visible", &TApplicationObject::Visible},
                                                          {u"Quit", &TApplicationObject::Quit},
                                                          {u"Name", &TApplicationObject::Name}};
    return table;
  }

 private:
  void CheckRunning() {
    if (FApp->Quit) Fail(SObjectGone);
  }
  Variant Workbooks(const TInvocation& call) {
    NoPut(call, u"Workbooks");
    CheckRunning();
    Variant collection = Object(new TWorkbooksObject(FApp));
    if (call.ArgCount() == 0) return collection;
    return collection.VDispatch()->Invoke(u"Item", call);
  }
  Variant DisplayAlerts(const TInvocation& call) {
    CheckRunning();
    if (call.IsPut()) FApp->DisplayAlerts = call.PutValue->AsBoolean();
    return Variant(FApp->DisplayAlerts);
  }
  Variant Visible(const TInvocation& call) {
    CheckRunning();
    if (call.IsPut()) FApp->Visible = call.PutValue->AsBoolean();
    return Variant(FApp->Visible);
  }
  Variant Quit(const TInvocation& call) {
    NoPut(call, u"Quit");
    // Workbooks still open are closed without saving.
    for (auto& book : FApp->Workbooks) book->Unlock();
    FApp->Workbooks.clear();
    FApp->Quit = true;
    return {};
  }
  Variant Name(const TInvocation& call) {
    NoPut(call, u"Name");
    return Variant::FromOleStr(u"Korva Spreadsheet Server");
  }

  std::shared_ptr<TAppState> FApp;
};

}  // namespace

TRef<rtl::IDispatch> CreateExcelApplication() { return TRef<rtl::IDispatch>(new TApplicationObject()); }

void RegisterExcelApplication() { rtl::RegisterAutomationServer(kExcelProgId, CreateExcelApplication); }

}  // namespace spreadsheet
