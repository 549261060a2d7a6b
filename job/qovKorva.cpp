#include "job/qovKorva.h"

#include "data/qovData.h"
#include "rtl/Locale.h"
#include "rtl/TextFile.h"

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

void TqovKorva::RunJob() {
  if (FROPS_File.empty()) throw rtl::Exception(UnicodeString(SNoScriptFile));
  // The workbook opens before anything else is read, so that a failure
  // later still ends with it saved; it joins here with the workbook layer.
  std::unique_ptr<data::TqovData> table;
  if (!FCSV_File.empty()) table = std::make_unique<data::TqovData>(FCSV_File, FCSVHasHeader, FCSVFieldDelimiter);
  FScriptLines = TStringList(rtl::ReadTextFileLines(FROPS_File));
  // Compiling and running the script joins here with the script host.
}

}  // namespace job
