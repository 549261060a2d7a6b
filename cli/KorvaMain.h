// The program's front end: its option set, the choice between help, version
// and a job, and the one place where a failed job is reported.
#pragma once

#include <ostream>

#include "cli/OptionParser.h"

namespace job {
class TqovKorva;
}

namespace cli {

class TKorvaOptions : public TOptionParser {
 public:
  static constexpr std::u16string_view SDelimiterExplanation =
      u"Character used to separate fields, system List separator (%s) by default";
  // A left-over argument that looks like an option and names no file: the
  // option text (without any "=value"), then the program's name.
  static constexpr std::u16string_view SUnknownOption = u"Unknown option %s (%s --help lists the options)";

  // Null: the process's arguments.
  explicit TKorvaOptions(const TStringList* AParams = nullptr);

  // Copies the parsed options into the job; may raise the delimiter error,
  // or the unknown-option error when the script would be a mistyped option.
  void InterpretCommandline(job::TqovKorva& qovKorva) const;

  // Plain references: the parser owns the options.
  TBoolOption* OptionHelp;
  TStringOption* OptionXML_File;
  TStringOption* OptionCSV_File;
  TStringOption* OptionROPS_File;
  TBoolOption* OptionCSV_NoHeader;
  TStringOption* OptionCSV_FieldDelimiter;
  TBoolOption* OptionVersion;
  TStringOptionList* OptionParams;
  TStringOption* OptionOutput;
  TBoolOption* OptionCheck;
  TBoolOption* OptionCSV_Standard;
  TStringOption* OptionCSV_Encoding;
  TStringOption* OptionTimeout;
  TBoolOption* OptionVerbose;
};

class TKorvaMain {
 public:
  static constexpr const char* SVersion = "Korva 1.4.1";
  static constexpr const char* SFatalError = "Fatal Error: ";

  // The whole run. Returns the exit status: 0 after help, version or a
  // completed job; 1 after a reported fatal error.
  int Execute(const TStringList* AParams = nullptr, std::ostream& out = DefaultOutput());

  static std::ostream& DefaultOutput();

 private:
  void WriteVersion(std::ostream& out) const;
  void WriteBanner(std::ostream& out) const;
  void WriteHelp(const TKorvaOptions& options, std::ostream& out) const;
};

// The running program's file name without its directory.
rtl::UnicodeString ProgramFileName();

}  // namespace cli
