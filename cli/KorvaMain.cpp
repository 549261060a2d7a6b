#include "cli/KorvaMain.h"

#include <sys/stat.h>

#include <iostream>
#include <memory>

#include "job/ScriptStop.h"
#include "job/qovKorva.h"
#include "rtl/Locale.h"

namespace cli {

using rtl::UnicodeToUtf8;

TKorvaOptions::TKorvaOptions(const TStringList* AParams) : TOptionParser(AParams) {
  auto make = [](auto option, const char16_t* explanation) {
    option->SetExplanation(explanation);
    return option;
  };
  // Registration order is both the matching order and the listing order.
  OptionHelp = Add(make(std::make_unique<TBoolOption>(u'?', u"help"), u"Show this help"));
  OptionVersion = Add(make(std::make_unique<TBoolOption>(0, u"version"), u"Show Korva version (and related info)"));
  OptionXML_File = Add(make(std::make_unique<TStringOption>(u'x', u"xls-file-name"), u"Use this file as XLS document"));
  OptionCSV_File = Add(make(std::make_unique<TStringOption>(u'c', u"csv-file-name"), u"Use this file as CSV Data"));
  OptionROPS_File = Add(
      make(std::make_unique<TStringOption>(u'r', u"rops-file-name"), u"Execute Pascal Script in this file"));
  OptionCSV_NoHeader = Add(
      make(std::make_unique<TBoolOption>(0, u"csv-no-header"), u"CSV data has no header row, true by default"));
  UnicodeString delimiterText = rtl::FormatText(SDelimiterExplanation,
                                                {UnicodeString(1, rtl::FormatSettings().ListSeparator)});
  OptionCSV_FieldDelimiter = Add(make(std::make_unique<TStringOption>(u'd', u"csv-delimiter"), delimiterText.c_str()));
  OptionParams = Add(make(std::make_unique<TStringOptionList>(u'p', u"parameter"), u"Extra script parameters"));
  // Later additions follow the original options, so their lines keep their places.
  OptionOutput = Add(make(std::make_unique<TStringOption>(u'o', u"output"),
                          u"Save the filled XLS document to this file and leave the one given with -x as it is"));
  OptionCheck = Add(make(std::make_unique<TBoolOption>(0, u"check"),
                         u"Only compile the script and report its errors; no file is opened"));
  OptionCSV_Standard = Add(make(std::make_unique<TBoolOption>(0, u"csv-standard"),
                                u"Read CSV data by RFC 4180: blanks, empty fields and quoted line breaks are kept"));
  OptionCSV_Encoding = Add(make(std::make_unique<TStringOption>(0, u"csv-encoding"),
                                u"Character set of the CSV data (a name iconv knows); detected when not given"));
  OptionTimeout = Add(make(std::make_unique<TStringOption>(0, u"timeout"), u"Stop the script after this many seconds"));
  OptionVerbose = Add(
      make(std::make_unique<TBoolOption>(u'v', u"verbose"), u"Report each step of the job on standard error"));
}

namespace {

// The first left-over argument as the script's name. One that begins with
// "-" and names no file is a mistyped option (-h, --xls=book.xlsx), not a
// script: saying so beats "Cannot open file .../-h".
UnicodeString ScriptFromLeftOver(const UnicodeString& argument) {
  struct stat st;
  if (argument.empty() || argument[0] != u'-' || stat(UnicodeToUtf8(argument).c_str(), &st) == 0) return argument;
  UnicodeString option = argument.substr(0, argument.rfind(u"--", 0) == 0 ? argument.find(u'=') : UnicodeString::npos);
  throw rtl::Exception(rtl::FormatText(TKorvaOptions::SUnknownOption, {option, ProgramFileName()}));
}

}  // namespace

void TKorvaOptions::InterpretCommandline(job::TqovKorva& qovKorva) const {
  if (OptionXML_File->WasSpecified()) qovKorva.SetXLS_File(OptionXML_File->StringValue());
  if (OptionCSV_File->WasSpecified()) qovKorva.SetCSV_File(OptionCSV_File->StringValue());
  if (OptionROPS_File->WasSpecified())
    qovKorva.SetROPS_File(OptionROPS_File->StringValue());
  else if (LeftList().Count() > 0)
    qovKorva.SetROPS_File(ScriptFromLeftOver(LeftList()[0]));
  qovKorva.SetCSVHasHeader(!OptionCSV_NoHeader->WasSpecified());
  if (OptionCSV_FieldDelimiter->WasSpecified())
    qovKorva.SetCSVFieldDelimiterAsString(OptionCSV_FieldDelimiter->StringValue());
  if (OptionParams->WasSpecified()) qovKorva.SetParameters(OptionParams->Values());
  if (OptionOutput->WasSpecified()) qovKorva.SetOutput_File(OptionOutput->StringValue());
  qovKorva.SetCheckOnly(OptionCheck->WasSpecified());
  qovKorva.SetCSVStandard(OptionCSV_Standard->WasSpecified());
  if (OptionCSV_Encoding->WasSpecified()) qovKorva.SetCSVEncoding(OptionCSV_Encoding->StringValue());
  if (OptionTimeout->WasSpecified()) qovKorva.SetTimeout(job::TScriptStop::ParseTimeout(OptionTimeout->StringValue()));
  qovKorva.SetVerbose(OptionVerbose->WasSpecified());
}

std::ostream& TKorvaMain::DefaultOutput() { return std::cout; }

int TKorvaMain::Execute(const TStringList* AParams, std::ostream& out) {
  TKorvaOptions options(AParams);
  options.ParseOptions();
  bool noArguments = AParams ? AParams->Count() == 0 : ProcessArguments().Count() == 0;
  if (options.OptionHelp->WasSpecified() || noArguments) {
    WriteHelp(options, out);
    return 0;
  }
  if (options.OptionVersion->WasSpecified()) {
    WriteVersion(out);
    return 0;
  }
  try {
    job::TqovKorva job;
    options.InterpretCommandline(job);
    job.Execute();
  } catch (const job::EJobErrors& e) {
    for (const UnicodeString& message : e.Messages()) out << SFatalError << UnicodeToUtf8(message) << "\r\n";
    out.flush();
    return 1;
  } catch (const rtl::Exception& e) {
    // The one place a failed job is reported.
    out << SFatalError << UnicodeToUtf8(e.Message()) << "\r\n";
    out.flush();
    return 1;
  } catch (const std::bad_alloc&) {
    out << SFatalError << UnicodeToUtf8(UnicodeString(job::TqovKorva::SOutOfMemory)) << "\r\n";
    out.flush();
    return 1;
  } catch (const std::exception& e) {
    // Not one of ours (out of memory, say): still a report, never a crash.
    out << SFatalError << e.what() << "\r\n";
    out.flush();
    return 1;
  }
  out.flush();
  return 0;
}

void TKorvaMain::WriteVersion(std::ostream& out) const { out << SVersion << "\r\n"; }

void TKorvaMain::WriteBanner(std::ostream& out) const {
  WriteVersion(out);
  out << "Populate Excel document with CSV data using Pascal Script\r\n"
      << "\r\n"
      << "NO warranty; use at own risk.\r\n"
      << "\r\n";
}

void TKorvaMain::WriteHelp(const TKorvaOptions& options, std::ostream& out) const {
  WriteBanner(out);
  out << "Usage: " << UnicodeToUtf8(ProgramFileName()) << " [options] [script]\r\n";
  out << "Valid options are: \r\n";
  options.WriteExplanations(out);
  out.flush();
}

rtl::UnicodeString ProgramFileName() {
  UnicodeString full = rtl::ApplicationExeName();
  return full.substr(full.rfind(u'/') + 1);
}

}  // namespace cli
