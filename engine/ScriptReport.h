// The reports a failed compile or run becomes, one layout for every program
// that runs scripts (the job, psrun and the script test harness):
//
//   Compile error(s):             Runtime error
//   <one line per message>        <text> at line R, column C, bytecode(P:B)
//   [<the executor's load error>] ::<source line R>
#pragma once

#include <cstdint>
#include <string_view>

#include "rtl/StringList.h"

namespace ps {

class TPSScript;

inline constexpr std::u16string_view SCompileErrors = u"Compile error(s):";
inline constexpr std::u16string_view SRuntimeError = u"Runtime error";
inline constexpr std::u16string_view SRuntimePosition = u"%s at line %d, column %d, bytecode(%d:%d)";
inline constexpr std::u16string_view SSourceLinePrefix = u"::";

// The messages in order; a non-empty `loadError` is the executor's reason
// for refusing a module that compiled (the messages alone would give none).
rtl::TStringList CompileReport(const rtl::TStrings& messages, const rtl::UnicodeString& loadError);

struct TRuntimeFailure {
  rtl::UnicodeString Text;  // the error text, as TPSErrorToString gives it
  uint32_t Row = 0;         // 0: the position has no source line
  uint32_t Col = 0;
  int32_t ProcNo = 0;
  int32_t Position = 0;  // bytecode offset in the routine
};

// `source` holds the script's lines; the failing one is quoted when the
// row names one of them.
rtl::TStringList RuntimeReport(const TRuntimeFailure& failure, const rtl::TStrings& source);

// The same reports for the last compile and run of a component.
rtl::TStringList CompileReport(TPSScript& script);
rtl::TStringList RuntimeReport(TPSScript& script);

}  // namespace ps
