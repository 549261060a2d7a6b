// Runs every tests/engine/scripts/NAME.pas through compile, load and run and
// compares what it prints (or its error report) with NAME.out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/engine/compiler/ScriptRunner.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ScriptNames() {
  std::vector<std::string> names;
  for (auto& entry : fs::directory_iterator(fs::path(KORVA_SOURCE_DIR) / "tests/engine/scripts"))
    if (entry.path().extension() == ".pas") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class GoldenScript : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenScript, PrintsExpectedOutput) {
  fs::path dir = fs::path(KORVA_SOURCE_DIR) / "tests/engine/scripts";
  std::string source = ReadFile(dir / (GetParam() + ".pas"));
  std::string expected = ReadFile(dir / (GetParam() + ".out"));
  ps::testing::TScriptRun run = ps::testing::RunScriptSource(source, GetParam().rfind("shortcircuit", 0) == 0);
  EXPECT_EQ(expected, run.Text());
}

INSTANTIATE_TEST_SUITE_P(Scripts, GoldenScript, ::testing::ValuesIn(ScriptNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
