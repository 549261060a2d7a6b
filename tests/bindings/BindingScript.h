// Runs a script against the program's bindings without the script host: the
// standard classes and dates, the regular-expression, document and data
// declarations, the utility functions and Print(s).
#pragma once

#include <string>

#include "rtl/Objects.h"
#include "rtl/StringList.h"

namespace bindings::testing {

struct TBindingRun {
  bool Ok = false;
  std::string Output;  // Print lines, then the report of a failure; lines end with "\n"
};

struct TBindingObjects {
  rtl::TObject* Document = nullptr;
  rtl::TObject* Data = nullptr;
  rtl::TStringList* Parameters = nullptr;
};

TBindingRun RunBindingScript(const std::string& source, const TBindingObjects& objects = {});

}  // namespace bindings::testing
