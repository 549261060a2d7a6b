// Helpers shared by the regular-expression tests.
#pragma once

#include <memory>

#include "bindings/PerlRegEx.h"

namespace bindings::test {

inline std::unique_ptr<TPerlRegEx> MakeRegEx(const rtl::UnicodeString& pattern, const rtl::UnicodeString& subject) {
  auto r = std::make_unique<TPerlRegEx>();
  r->SetRegEx(pattern);
  r->SetSubject(subject);
  return r;
}

// The message of the regular-expression error the call raises.
template <class F>
rtl::UnicodeString ErrorOf(F call) {
  try {
    call();
  } catch (const ERegularExpressionError& e) {
    return e.Message();
  }
  return u"(no error)";
}

}  // namespace bindings::test
