// Random, well-typed formulas over the functions the engine computes and
// the operators, reading a workbook of varied inputs (numbers, text with
// wildcard characters, dates, Booleans, blanks, errors) on two sheets. The
// same seed gives the same workbook and formulas.
#pragma once

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "TestPackages.h"

namespace spreadsheet::testing {

struct TGeneratedBook {
  // The input sheets ("Data", "Other Sheet") and an empty "Calc" sheet.
  TBookLayout Layout;
  // Formulas for the Calc sheet, row by row: "=SUM(Data!A1:A5)".
  std::vector<std::string> Formulas;
  uint32_t FormulasPerRow = 20;
  // The functions the formulas call.
  std::set<std::string> Functions;
};

class TFormulaGenerator {
 public:
  explicit TFormulaGenerator(uint64_t seed) : FRandom(seed) {}

  TGeneratedBook Generate(size_t formulas);

  // The engine's functions the generator has no argument rules for (they are
  // left out of the formulas), and those it knows but the engine lacks.
  static std::vector<std::string> NotGenerated();
  static std::vector<std::string> NotInEngine();

  // Rows of the input sheets.
  static constexpr uint32_t kRows = 30;

 private:
  struct TCall {
    uint32_t Length = 1;  // rows of every range one call reads, so that ranges pair up
  };

  std::string Expression(char kind, int depth, TCall& call);
  std::string Leaf(char kind, TCall& call);
  std::string FunctionCall(char kind, int depth);
  std::string Range(char kind, TCall& call);
  std::string Criterion(TCall& call);
  std::string NumberLiteral();
  std::string SheetPrefix();
  std::string Word();
  std::string Letters();

  size_t Below(size_t n) { return static_cast<size_t>(FRandom() % n); }
  bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

  std::mt19937_64 FRandom;
  std::set<std::string> FUsed;
};

}  // namespace spreadsheet::testing
