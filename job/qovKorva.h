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

  UnicodeString FROPS_File;
  UnicodeString FXLS_File;
  UnicodeString FCSV_File;
  bool FCSVHasHeader = true;
  char16_t FCSVFieldDelimiter;
  TStringList FParameters;
  TStringList FScriptLines;
};

}  // namespace job
