// Workbook packages: the spreadsheet server opening a file as the job does
// (through the workbook wrappers), reading cells of every sheet, changing
// the structure, saving, and opening the saved file again.
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "rtl/AutomationErrors.h"
#include "rtl/Locale.h"
#include "spreadsheet/NativeServer.h"
#include "workbook/qovDocument.h"

namespace {

using rtl::Variant;
using workbook::TqovDocument;
using workbook::TqovSheet;

// Reads what a script would: names, a block of values, locks, protection.
void ReadSheets(TqovDocument& book) {
  for (int s = 1; s <= book.SheetCount() && s <= 4; ++s) {
    TqovSheet& sheet = *book.Sheet(s);
    fuzz::Refusable([&] { sheet.Name(); });
    fuzz::Refusable([&] { sheet.SheetProtected(); });
    fuzz::Refusable([&] { sheet.CellLocked(1, 1); });
    fuzz::Refusable([&] { sheet.CellByName(u"B2"); });
    for (int row = 1; row <= 6; ++row)
      for (int column = 1; column <= 4; ++column) fuzz::Refusable([&] { sheet.Cell(row, column); });
  }
}

// Each step on its own: one refused step must not hide the ones after it.
void Change(TqovDocument& book) {
  if (book.SheetCount() == 0) return;
  TqovSheet& first = *book.Sheet(1);
  fuzz::Refusable([&] { first.InsertRow(2); });
  fuzz::Refusable([&] { first.InsertColumn(2); });
  fuzz::Refusable([&] { first.SetCell(1, 1, Variant::FromOleStr(u"Total \"net\" <&>")); });
  fuzz::Refusable([&] { first.SetCell(2, 2, Variant(1234.5)); });
  fuzz::Refusable([&] { first.SetCell(3, 3, Variant::FromDate(46000.25)); });
  fuzz::Refusable([&] { first.SetCell(4, 4, Variant::FromOleStr(u"=SUM(B1:B3)")); });
  fuzz::Refusable([&] { first.SetCellLocked(5, 1, false); });
  fuzz::Refusable([&] { first.AutoFitColumn(1); });
  TqovSheet& last = *book.Sheet(book.SheetCount());
  fuzz::Refusable([&] { last.SetSheetProtected(!last.SheetProtected()); });
  fuzz::Refusable([&] { book.InsertSheet(1); });
  if (book.SheetCount() > 2) fuzz::Refusable([&] { book.DeleteSheet(book.SheetCount()); });
}

using TParts = std::vector<std::pair<std::string, std::string>>;

// The parts of a package in memory; false when it does not read as one.
bool ReadPackage(const uint8_t* data, size_t size, TParts& parts) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
  zip_t* zip = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  if (!zip) {
    if (source) zip_source_free(source);
    zip_error_fini(&error);
    return false;
  }
  bool ok = true;
  const zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; ok && i < count; ++i) {
    zip_stat_t st;
    zip_file_t* file = nullptr;
    ok = zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st) == 0 && st.size < (1u << 20) &&
         (file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0)) != nullptr;
    if (!ok) break;
    std::string content(static_cast<size_t>(st.size), '\0');
    ok = zip_fread(file, content.data(), content.size()) == static_cast<zip_int64_t>(content.size());
    zip_fclose(file);
    parts.emplace_back(st.name, std::move(content));
  }
  zip_discard(zip);
  zip_error_fini(&error);
  return ok && !parts.empty();
}

// The package's bytes; empty when libzip cannot make them.
std::string WritePackage(const TParts& parts) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* target = zip_source_buffer_create(nullptr, 0, 0, &error);
  std::string bytes;
  if (!target) return bytes;
  zip_source_keep(target);
  if (zip_t* zip = zip_open_from_source(target, ZIP_TRUNCATE, &error)) {
    bool ok = true;
    for (const auto& [name, content] : parts) {
      zip_source_t* s = zip_source_buffer(zip, content.data(), content.size(), 0);
      zip_int64_t index = s ? zip_file_add(zip, name.c_str(), s, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) : -1;
      if (index < 0) {
        if (s) zip_source_free(s);
        ok = false;
        break;
      }
      zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 1);
    }
    if (!ok || zip_close(zip) != 0) zip_discard(zip);
    zip_stat_t st;
    if (ok && zip_source_stat(target, &st) == 0 && zip_source_open(target) == 0) {
      bytes.resize(static_cast<size_t>(st.size));
      if (zip_source_read(target, bytes.data(), bytes.size()) != static_cast<zip_int64_t>(bytes.size())) bytes.clear();
      zip_source_close(target);
    }
  }
  zip_source_free(target);
  zip_error_fini(&error);
  return bytes;
}

}  // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

// Mostly mutates one part's content and packs the parts again, so that the
// changes reach the XML readers past the package's checksums; now and then
// the package's own bytes, for the zip reading itself.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  std::minstd_rand random(seed);
  TParts parts;
  if (random() % 8 == 0 || !ReadPackage(data, size, parts)) return LLVMFuzzerMutate(data, size, maxSize);
  std::string& content = parts[random() % parts.size()].second;
  const size_t used = content.size();
  content.resize(used * 2 + 64);
  content.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(content.data()), used, content.size()));
  std::string bytes = WritePackage(parts);
  if (bytes.empty() || bytes.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, bytes.data(), bytes.size());
  return bytes.size();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rtl::LoadFormatSettingsFromLocale();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ClearScratchDir();
  const std::string path = fuzz::ScratchDir() + "/book.xlsx";
  fuzz::WriteFile(path, fuzz::Bytes(data, size));
  const rtl::UnicodeString name = rtl::Utf8ToUnicode(path);
  bool saved = false;
  fuzz::Refusable([&] {
    spreadsheet::TNativeServer server;
    TqovDocument book(&server, name);
    ReadSheets(book);
    Change(book);
    book.Close();
    saved = true;
  });
  if (!saved) return 0;
  // What the server saved, it opens again: a job's result is never a file
  // that the next job cannot read.
  bool reopened = false;
  try {
    spreadsheet::TNativeServer server;
    TqovDocument book(&server, name);
    ReadSheets(book);
    book.Close();
    reopened = true;
  } catch (const rtl::Exception& e) {
    std::fprintf(stderr, "korva fuzz: the saved workbook does not open again: %s\n", e.what());
  }
  if (!reopened) std::abort();
  return 0;
}
