// One run of the program's purpose: which files it works on, how the CSV
// file is read, and the parameters handed to the script.
#pragma once

#include <vector>

#include "rtl/StringList.h"

namespace workbook {
class TqovDocument;
}

namespace job {

using rtl::TStringList;
using rtl::UnicodeString;

// A run that failed in more than one way: the script's own error, then a
// workbook that could not be saved. Each message is reported on its own.
class EJobErrors : public rtl::Exception {
 public:
  explicit EJobErrors(std::vector<UnicodeString> messages)
      : rtl::Exception(messages.front()), FMessages(std::move(messages)) {}
  const std::vector<UnicodeString>& Messages() const { return FMessages; }

 private:
  std::vector<UnicodeString> FMessages;
};

class TqovKorva {
 public:
  static constexpr std::u16string_view SDelimiterError = u"CSV field delimiter must be a single character or \\t";
  static constexpr std::u16string_view SNoScriptFile = u"Please specify file containing script";
  static constexpr std::u16string_view SNotFreedSaved =
      u"Note: workbook %s opened by the script was not freed; it was saved and closed";
  static constexpr std::u16string_view SNotFreedFailed =
      u"Note: workbook %s opened by the script was not freed; it was closed, but saving it failed";
  // std::bad_alloc as it is reported, never by its C++ name.
  static constexpr std::u16string_view SOutOfMemory = u"Out of memory";
  static constexpr std::u16string_view SOutputWithoutWorkbook =
      u"An output file needs a workbook to start from: name it with -x";
  // The phases -v reports on standard error.
  static constexpr std::u16string_view SVerboseOpened = u"Workbook opened: %s, %d sheets";
  static constexpr std::u16string_view SVerboseRead =
      u"CSV file read: %s, %d rows (%s), %d columns, %s, delimiter \"%s\"";
  static constexpr std::u16string_view SVerboseCompiled = u"Script compiled: %s, %s s";
  static constexpr std::u16string_view SVerboseRun = u"Script run: %s s";
  static constexpr std::u16string_view SVerboseSaved = u"Workbook saved: %s, %d bytes, %s s";

  TqovKorva();
  virtual ~TqovKorva() = default;

  // Runs the job; raises an rtl::Exception carrying the report on failure.
  void Execute() { RunJob(); }

  const UnicodeString& XLS_File() const { return FXLS_File; }
  void SetXLS_File(UnicodeString value) { FXLS_File = std::move(value); }
  const UnicodeString& CSV_File() const { return FCSV_File; }
  void SetCSV_File(UnicodeString value) { FCSV_File = std::move(value); }
  const UnicodeString& ROPS_File() const { return FROPS_File; }
  void SetROPS_File(UnicodeString value) { FROPS_File = std::move(value); }
  bool CSVHasHeader() const { return FCSVHasHeader; }
  void SetCSVHasHeader(bool value) { FCSVHasHeader = value; }
  char16_t CSVFieldDelimiter() const { return FCSVFieldDelimiter; }
  void SetCSVFieldDelimiter(char16_t value) { FCSVFieldDelimiter = value; }
  // "\t" for the tab character, otherwise the delimiter itself.
  UnicodeString CSVFieldDelimiterAsString() const;
  // "\t" in either letter case selects the tab; otherwise exactly one
  // character. Anything else raises and leaves the delimiter unchanged.
  void SetCSVFieldDelimiterAsString(const UnicodeString& value);
  const TStringList& Parameters() const { return FParameters; }
  void SetParameters(const TStringList& value) { FParameters.Assign(value); }
  // Where the filled workbook goes; empty, or the workbook itself: in place.
  const UnicodeString& Output_File() const { return FOutput_File; }
  void SetOutput_File(UnicodeString value) { FOutput_File = std::move(value); }
  // Only compile the script: no workbook or CSV file is opened.
  bool CheckOnly() const { return FCheckOnly; }
  void SetCheckOnly(bool value) { FCheckOnly = value; }
  // Read the CSV file by RFC 4180 rather than the list rules.
  bool CSVStandard() const { return FCSVStandard; }
  void SetCSVStandard(bool value) { FCSVStandard = value; }
  // The CSV file's character set; empty: detected.
  const UnicodeString& CSVEncoding() const { return FCSVEncoding; }
  void SetCSVEncoding(UnicodeString value) { FCSVEncoding = std::move(value); }
  // Seconds the script may run; 0: no limit.
  int Timeout() const { return FTimeout; }
  void SetTimeout(int value) { FTimeout = value; }
  // One line per phase on standard error.
  bool Verbose() const { return FVerbose; }
  void SetVerbose(bool value) { FVerbose = value; }

  // The script lines as read by the last run (for tests and the host).
  const TStringList& ScriptLines() const { return FScriptLines; }

 protected:
  virtual void RunJob();
  // A remark that is not a failure (standard error, one line each).
  virtual void Note(const UnicodeString& text);

 private:
  // Saves and closes, newest first, the workbooks the script opened and
  // left open: documents the script owns that did not exist before the run
  // (`earlier`). The engine is gone by then, so nothing else frees them.
  void CloseScriptDocuments(const std::vector<workbook::TqovDocument*>& earlier, std::vector<UnicodeString>& failures);
  // --check: reads and compiles the script with every declaration of a run.
  void CheckScript();

  UnicodeString FROPS_File;
  UnicodeString FXLS_File;
  UnicodeString FCSV_File;
  bool FCSVHasHeader = true;
  char16_t FCSVFieldDelimiter;
  TStringList FParameters;
  TStringList FScriptLines;
  UnicodeString FOutput_File;
  bool FCheckOnly = false;
  bool FCSVStandard = false;
  UnicodeString FCSVEncoding;
  int FTimeout = 0;
  bool FVerbose = false;
};

}  // namespace job
