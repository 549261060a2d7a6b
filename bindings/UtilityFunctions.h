// Host functions scripts call for numbers, text, the program's location and
// opening documents.
#pragma once

#include "rtl/SysUtils.h"

namespace bindings {

using rtl::AnsiString;
using rtl::UnicodeString;

constexpr std::u16string_view SInvalidFloat = u"'%s' is not a valid floating point value";

// s read as a number under the regional decimal separator (no thousands
// separators); raises EConvertError for anything else.
double StrToFloatEx(const UnicodeString& s);
double StrToFloatDefEx(const UnicodeString& s, double Default);
// Every occurrence, left to right, exact letter case. An empty search text
// leaves the text unchanged.
UnicodeString ReplaceStr(const UnicodeString& AText, const UnicodeString& AFromText, const UnicodeString& AToText);
// Substrings of the 8-bit form. On a UTF-8 system counts are characters, so
// that a cut never falls inside one.
AnsiString LeftStr(const AnsiString& AText, int ACount);
AnsiString RightStr(const AnsiString& AText, int ACount);
AnsiString MidStr(const AnsiString& AText, int AStart, int ACount);
// The running program's directory (no trailing "/" except for the root) and
// file name.
UnicodeString ApplicationDir();
UnicodeString ApplicationName();
// Starts the default action on a document without waiting: an executable
// program gets the parameter as its one argument, anything else goes to
// xdg-open. Failures are not reported.
void ShellOpen(const UnicodeString& ADocumentName, const UnicodeString& AParameter);

}  // namespace bindings
