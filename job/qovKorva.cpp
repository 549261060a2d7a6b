#include "job/qovKorva.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#include "data/qovData.h"
#include "job/OutputCopy.h"
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

// Seconds since `start`, as the verbose lines show them.
UnicodeString SecondsSince(std::chrono::steady_clock::time_point start) {
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return rtl::Utf8ToUnicode(text);
}

}  // namespace

void TqovKorva::CheckScript() {
  TqovScript host;
  FScriptLines = TStringList(rtl::ReadTextFileLines(FROPS_File));
  host.SetScriptText(FScriptLines);
  auto start = std::chrono::steady_clock::now();
  host.Compile();
  // A script that compiles still deserves to hear its hints and warnings.
  const TStringList messages = host.CompilerMessages();
  for (const UnicodeString& message : messages.Items()) Note(message);
  if (FVerbose) Note(rtl::FormatText(SVerboseCompiled, {rtl::ExpandFileName(FROPS_File), SecondsSince(start)}));
}

void TqovKorva::RunJob() {
  if (FROPS_File.empty()) throw rtl::Exception(UnicodeString(SNoScriptFile));
  if (FCheckOnly) {
    CheckScript();
    return;
  }
  using Clock = std::chrono::steady_clock;
  if (!FOutput_File.empty() && FXLS_File.empty()) throw rtl::Exception(UnicodeString(SOutputWithoutWorkbook));
  // With an output file the job fills a copy; the template is only read.
  std::unique_ptr<TOutputCopy> copy;
  if (!FOutput_File.empty() && !TOutputCopy::SameFile(FXLS_File, FOutput_File))
    copy = std::make_unique<TOutputCopy>(FXLS_File, FOutput_File);
  // Reports name the files the user named, never the copy.
  auto named = [&](UnicodeString message, const UnicodeString& name) {
    return copy ? copy->Rename(message, rtl::ExpandFileName(name)) : message;
  };
  // Every workbook of the run, the script's own included, opens in a
  // private instance of this server.
  spreadsheet::TNativeServer server;
  const std::vector<workbook::TqovDocument*> earlier = workbook::TqovDocument::Living();
  std::vector<UnicodeString> failures;
  std::unique_ptr<workbook::TqovDocument> document;
  try {
    // The workbook opens before anything else is read, so that every later
    // failure still ends with it saved and closed.
    if (!FXLS_File.empty()) {
      document = std::make_unique<workbook::TqovDocument>(&server, copy ? copy->Path() : FXLS_File);
      if (FVerbose)
        Note(rtl::FormatText(SVerboseOpened, {rtl::ExpandFileName(FXLS_File), rtl::IntToStr(document->SheetCount())}));
    }
    std::unique_ptr<data::TqovData> table;
    if (!FCSV_File.empty()) {
      table = std::make_unique<data::TqovData>(FCSV_File, FCSVHasHeader, FCSVFieldDelimiter,
                                               data::TCsvFormat{FCSVStandard, FCSVEncoding});
      UnicodeString warning = table->RaggedRowsWarning(FCSV_File);
      if (!warning.empty()) Note(warning);
      if (FVerbose)
        Note(rtl::FormatText(SVerboseRead,
                             {rtl::ExpandFileName(FCSV_File), rtl::IntToStr(table->RowCount()),
                              FCSVHasHeader ? u"header included" : u"no header", rtl::IntToStr(table->HeaderCount()),
                              table->Encoding(), CSVFieldDelimiterAsString()}));
    }
    // Freed before the table and the workbook: the engine may still hold
    // references to them until it is gone.
    TqovScript host;
    FScriptLines = TStringList(rtl::ReadTextFileLines(FROPS_File));
    host.SetScriptText(FScriptLines);
    host.SetServer(&server);
    host.SetDocument(document.get());
    host.SetData(table.get());
    host.SetParameters(FParameters);
    host.SetTimeout(FTimeout);
    auto start = Clock::now();
    host.Compile();
    if (FVerbose) Note(rtl::FormatText(SVerboseCompiled, {rtl::ExpandFileName(FROPS_File), SecondsSince(start)}));
    start = Clock::now();
    try {
      host.Run();
    } catch (...) {
      if (FVerbose) Note(rtl::FormatText(SVerboseRun, {SecondsSince(start)}));
      throw;
    }
    if (FVerbose) Note(rtl::FormatText(SVerboseRun, {SecondsSince(start)}));
  } catch (...) {
    // Any failure still must not cost the workbook.
    failures.push_back(named(FailureText(std::current_exception()), FXLS_File));
  }
  // The script's own workbooks were opened last and are closed first.
  CloseScriptDocuments(earlier, failures);
  // Saving happens on every path; a save that fails is reported after the
  // script's own error, and the server is ended either way (Close does).
  if (document) {
    auto start = Clock::now();
    try {
      document->Close();
      if (copy) copy->Commit();
      if (FVerbose) {
        UnicodeString saved = rtl::ExpandFileName(copy ? FOutput_File : FXLS_File);
        struct stat st;
        int64_t bytes = stat(rtl::UnicodeToUtf8(saved).c_str(), &st) == 0 ? st.st_size : 0;
        Note(rtl::FormatText(SVerboseSaved, {saved, rtl::IntToStr(bytes), SecondsSince(start)}));
      }
    } catch (...) {
      failures.push_back(named(FailureText(std::current_exception()), FOutput_File));
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
