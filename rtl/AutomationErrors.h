// The automation errors: what a late-bound call or a server that stands in
// for an automation server raises when it refuses a call. The message is the
// server's own description of the fault.
#pragma once

#include <cstdint>

#include "rtl/SysUtils.h"

namespace rtl {

class EOleError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SNotAssigned = u"Automation object is not assigned";
};

// A failure with a system error code (HRESULT-style).
class EOleSysError : public EOleError {
 public:
  EOleSysError(UnicodeString message, int32_t errorCode) : EOleError(std::move(message)), FErrorCode(errorCode) {}
  int32_t ErrorCode() const { return FErrorCode; }

 private:
  int32_t FErrorCode;
};

// The automation error: a call the server rejected, carrying the server's
// own description as the message.
class EOleException : public EOleSysError {
 public:
  EOleException(UnicodeString description, int32_t errorCode = kGenericFailure, UnicodeString source = {})
      : EOleSysError(std::move(description), errorCode), FSource(std::move(source)) {}
  const UnicodeString& Source() const { return FSource; }

  static constexpr int32_t kGenericFailure = static_cast<int32_t>(0x80004005u);
  static constexpr int32_t kUnknownName = static_cast<int32_t>(0x80020006u);
  static constexpr int32_t kBadParamCount = static_cast<int32_t>(0x8002000Eu);
  static constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x80020005u);
  static constexpr int32_t kMemberNotFound = static_cast<int32_t>(0x80020003u);

  static constexpr std::u16string_view SNoMethod = u"Method '%s' not supported by automation object";
  static constexpr std::u16string_view SBadParamCount = u"Invalid number of parameters";
  static constexpr std::u16string_view SReadOnly = u"Property '%s' is read-only";

  // Standard rejections a server raises.
  static EOleException UnknownMember(std::u16string_view name);
  static EOleException BadParamCount();
  static EOleException ReadOnly(std::u16string_view name);

 private:
  UnicodeString FSource;
};

}  // namespace rtl
