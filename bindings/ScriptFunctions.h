// The host functions the script host declares, in the shapes the executor's
// adapters hand over: Format takes the script's "array of const".
#pragma once

#include <vector>

#include "engine/runtime/HostCalls.h"
#include "rtl/Formatting.h"

namespace bindings {

using rtl::UnicodeString;

// The tagged values of an "array of const" as Format arguments. A variant
// goes by what it holds; elements without a tag of their own (currency,
// sets, records) arrive as the integer 0.
std::vector<rtl::TFormatArg> FormatArgsOf(const ps::TPSArrayOfConst& args);

UnicodeString ScriptFormat(const UnicodeString& Format, const ps::TPSArrayOfConst& Args);
UnicodeString ScriptFormatFloat(const UnicodeString& Format, long double Value);

}  // namespace bindings
