#include "job/qovKorva.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <new>

#include "data/qovData.h"
#include "job/qovScript.h"
#include "rtl/Locale.h"
#include "rtl/TextFile.h"
#include "spreadsheet/NativeServer.h"
#include "workbook/qovDocument.h"

namespace job {

TqovKorva::TqovKorva() : FCSVFieldDelimiter(rtl::FormatSettings().ListSeparator) {}

UnicodeString TqovKorva::CSVFieldDelimiterAsString() const {
  if (FCSVFieldDelimiter == u'\t') return u"\\t";
  return UnicodeString(1, FCSVFieldDelimiter);
}

void TqovKorva::SetCSVFieldDelimiterAsString(const UnicodeString& value) {
  if (rtl::AsciiLowerCase(value) == u"\\t")
    FCSVFieldDelimiter = u'\t';
  else if (value.size() == 1)
    FCSVFieldDelimiter = value[0];
  else
    throw rtl::Exception(UnicodeString(SDelimiterError));
}

namespace {

// The report text of a failure the job notes and goes on from: the system's
// message, "Out of memory" for an allocation that failed, what() for the
// rest. Anything that is not an exception of ours or the library's goes on.
UnicodeString FailureText(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const rtl::Exception& e) {
    return e.Message();
  } catch (const std::bad_alloc&) {
    return UnicodeString(TqovKorva::SOutOfMemory);
  } catch (const std::exception& e) {
    return rtl::Utf8ToUnicode(e.what());
  }
}

}  // namespace

void TqovKorva::RunJob() {
  if (FROPS_File.empty()) throw rtl::Exception(UnicodeString(SNoScriptFile));
  // Every workbook of the run, the script's own included, opens in a
  // private instance of this server.
  spreadsheet::TNativeServer server;
  const std::vector<workbook::TqovDocument*> earlier = workbook::TqovDocument::Living();
  std::vector<UnicodeString> failures;
  std::unique_ptr<workbook::TqovDocument> document;
  try {
    // The workbook opens before anything else is read, so that every later
    // failure still ends with it saved and closed.
    if (!FXLS_File.empty()) document = std::make_unique<workbook::TqovDocument>(&server, FXLS_File);
    std::unique_ptr<data::TqovData> table;
    if (!FCSV_File.empty()) table = std::make_unique<data::TqovData>(FCSV_File, FCSVHasHeader, FCSVFieldDelimiter);
    // Freed before the table and the workbook: the engine may still hold
    // references to them until it is gone.
    TqovScript host;
    FScriptLines = TStringList(rtl::ReadTextFileLines(FROPS_File));
    host.SetScriptText(FScriptLines);
    host.SetServer(&server);
    host.SetDocument(document.get());
    host.SetData(table.get());
    host.SetParameters(FParameters);
    host.Execute();
  } catch (...) {
    // Any failure still must not cost the workbook.
    failures.push_back(FailureText(std::current_exception()));
  }
  // The script's own workbooks were opened last and are closed first.
  CloseScriptDocuments(earlier, failures);
  // Saving happens on every path; a save that fails is reported after the
  // script's own error, and the server is ended either way (Close does).
  if (document) {
    try {
      document->Close();
    } catch (...) {
      failures.push_back(FailureText(std::current_exception()));
    }
    document.reset();
  }
  if (failures.size() == 1) throw rtl::Exception(failures.front());
  if (!failures.empty()) throw EJobErrors(std::move(failures));
}

void TqovKorva::CloseScriptDocuments(const std::vector<workbook::TqovDocument*>& earlier,
                                     std::vector<UnicodeString>& failures) {
  std::vector<workbook::TqovDocument*> living = workbook::TqovDocument::Living();
  for (auto it = living.rbegin(); it != living.rend(); ++it) {
    workbook::TqovDocument* document = *it;
    if (document->OwnedByHost() || std::find(earlier.begin(), earlier.end(), document) != earlier.end()) continue;
    std::unique_ptr<workbook::TqovDocument> owned(document);
    try {
      document->Close();
      Note(rtl::FormatText(SNotFreedSaved, {document->FileName()}));
    } catch (...) {
      failures.push_back(FailureText(std::current_exception()));
      Note(rtl::FormatText(SNotFreedFailed, {document->FileName()}));
    }
  }
}

void TqovKorva::Note(const UnicodeString& text) { std::cerr << rtl::UnicodeToUtf8(text) << "\r\n" << std::flush; }

}  // namespace job
