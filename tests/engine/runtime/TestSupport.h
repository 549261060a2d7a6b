// Running assembled modules in tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "engine/uPSRuntime.h"
#include "tests/engine/runtime/ModuleBuilder.h"

namespace ps::test {

// Loads the module (asserting success) and runs its main procedure.
inline std::unique_ptr<TPSExec> LoadModule(const TModuleBuilder& b) {
  auto exec = std::make_unique<TPSExec>();
  EXPECT_TRUE(exec->LoadData(b.Build())) << rtl::UnicodeToUtf8(
      TPSErrorToString(exec->ExceptionCode(), exec->ExceptionString()));
  return exec;
}

struct TRunResult {
  std::unique_ptr<TPSExec> Exec;
  bool Ok;
  TPSError Code() const { return Exec->ExceptionCode(); }
  std::string Text() const {
    return rtl::UnicodeToUtf8(TPSErrorToString(Exec->ExceptionCode(), Exec->ExceptionString()));
  }
  std::string Param() const { return rtl::UnicodeToUtf8(Exec->ExceptionString()); }
};

inline TRunResult RunModule(const TModuleBuilder& b) {
  auto exec = LoadModule(b);
  bool ok = exec->RunScript();
  return {std::move(exec), ok};
}

}  // namespace ps::test
