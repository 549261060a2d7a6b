// Helpers of the engine component's tests: texts as UTF-8, the compiler's
// messages in one string, and a script's global string variable.
#pragma once

#include <string>
#include <string_view>

#include "engine/uPSComponent.h"

namespace ps::test {

inline std::string Utf8(const rtl::UnicodeString& s) { return rtl::UnicodeToUtf8(s); }

inline std::string Messages(TPSScript& s) {
  std::string all;
  for (int i = 0; i < s.CompilerMessageCount(); ++i) all += Utf8(s.CompilerErrorToStr(i)) + "\n";
  return all;
}

// The value of a global string variable of the loaded module ("" without one).
inline std::string GlobalString(TPSScript& s, std::string_view name) {
  int no = s.Exec()->GetVar(name);
  return no < 0 ? "" : Utf8(PSGetUnicodeString(s.Exec()->GetVarNo(no), s.Exec()->GetVarType(no)));
}

}  // namespace ps::test
