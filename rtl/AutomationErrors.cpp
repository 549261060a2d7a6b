#include "rtl/AutomationErrors.h"

namespace rtl {

EOleException EOleException::UnknownMember(std::u16string_view name) {
  return EOleException(FormatText(SNoMethod, {UnicodeString(name)}), kUnknownName);
}

EOleException EOleException::BadParamCount() { return EOleException(UnicodeString(SBadParamCount), kBadParamCount); }

EOleException EOleException::ReadOnly(std::u16string_view name) {
  return EOleException(FormatText(SReadOnly, {UnicodeString(name)}), kMemberNotFound);
}

}  // namespace rtl
