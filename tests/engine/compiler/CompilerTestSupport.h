// Compiles script texts for the compiler tests and gives back the result
// and the messages as the lines a user would read.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/uPSCompiler.h"

namespace ps::test {

struct CompileResult {
  bool ok = false;
  std::vector<std::string> messages;
  std::string module;
  std::string debug;
  std::string Messages() const {
    std::string all;
    for (auto& m : messages) all += m + "\n";
    return all;
  }
};

using Registration = std::function<void(TPSPascalCompiler&)>;

inline CompileResult CompileScript(std::string_view text, const Registration& onSystem = {},
                                   TPSPascalCompiler* compiler = nullptr) {
  TPSPascalCompiler own;
  TPSPascalCompiler& c = compiler ? *compiler : own;
  if (onSystem || !c.FOnUses)
    c.FOnUses = [onSystem](TPSPascalCompiler* comp, const std::string& name) {
      if (name == "SYSTEM" && onSystem) onSystem(*comp);
      return true;
    };
  CompileResult r;
  r.ok = c.Compile(text);
  for (int i = 0; i < c.MsgCount(); ++i) r.messages.push_back(rtl::UnicodeToUtf8(c.Msg(i)->MessageToString()));
  c.GetOutput(r.module);
  c.GetDebugOutput(r.debug);
  return r;
}

}  // namespace ps::test
