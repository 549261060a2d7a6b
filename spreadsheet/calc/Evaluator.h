// Evaluation of parsed formulas with the spreadsheet application's rules:
// the workbook supplies cells, names and tables through TCalcBook; the
// evaluator applies operators and functions.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "spreadsheet/calc/Formula.h"
#include "spreadsheet/calc/Value.h"

namespace spreadsheet::calc {

// A table as structured references see it.
struct TTableInfo {
  int32_t Sheet = -1;
  uint32_t Row1 = 0, Column1 = 0, Row2 = 0, Column2 = 0;  // the whole table, headers and totals included
  uint32_t HeaderRows = 1;                                // 0 or 1
  uint32_t TotalsRows = 0;                                // 0 or 1
  std::vector<std::string> ColumnNames;
};

// What formulas read from the workbook.
class TCalcBook {
 public:
  virtual ~TCalcBook() = default;
  // The sheet of that name (letter case ignored); -1 when there is none.
  virtual int32_t FindSheet(std::string_view name) = 0;
  // A cell's value; a formula cell's computed result.
  virtual TValue CellValue(int32_t sheet, uint32_t row, uint32_t column) = 0;
  // Calls `visit` for each cell of the area that is not blank, row by row.
  virtual void ForEachCell(const TArea& area,
                           const std::function<void(uint32_t row, uint32_t column, const TValue&)>& visit) = 0;
  // The last row and column that hold anything (0 when the sheet is empty).
  virtual uint32_t LastRow(int32_t sheet) = 0;
  virtual uint32_t LastColumn(int32_t sheet) = 0;
  // A defined name's formula for a formula on `hostSheet`: the sheet's own
  // name first, then the workbook's. False when no such name exists.
  virtual bool DefinedName(std::string_view name, int32_t hostSheet, std::string& formula) = 0;
  // The table of that name, or with an empty name the table holding the
  // cell; false when there is none.
  virtual bool FindTable(std::string_view name, int32_t sheet, uint32_t row, uint32_t column, TTableInfo& table) = 0;
  virtual bool RowHidden(int32_t sheet, uint32_t row) = 0;
  // The parsed formula of a cell; null for a cell without one.
  virtual const TFormula* CellFormula(int32_t, uint32_t, uint32_t) { return nullptr; }
  // Dates count from 1904-01-01 instead of 1900-01-00.
  virtual bool Date1904() = 0;
  // The formula being computed refers to the area (its result depends on
  // it), or calls a function whose result changes without a write.
  virtual void NoteReference(const TArea& area) {}
  virtual void NoteVolatile() {}
};

// Raised inside evaluation to end it with an error value.
struct TCalcError {
  TErrorValue Error;
};

// Raised when a formula uses what this engine cannot compute (a function it
// does not know, another workbook): the cell keeps its stored value.
struct TNotComputable {
  std::string What;
};

class TEvaluator;

// The arguments of one function call, evaluated when asked.
class TCallContext {
 public:
  TCallContext(TEvaluator& evaluator, const TFormula& formula, std::span<const uint32_t> args)
      : FEvaluator(evaluator), FFormula(formula), FArgs(args) {}

  size_t Count() const { return FArgs.size(); }
  bool Missing(size_t i) const;
  // The argument as it evaluates: references stay references.
  TValue Arg(size_t i) const;
  // One value: references to one cell are read, other areas intersect the
  // formula's row or column; errors are raised.
  TValue Scalar(size_t i) const;
  double Number(size_t i) const;
  double Number(size_t i, double whenMissing) const;
  std::string Text(size_t i) const;
  bool Boolean(size_t i) const;
  // Every value of the argument, flattened (references, arrays, scalars).
  // `direct` is true for a scalar written as the argument itself.
  void ForEach(size_t i, const std::function<void(const TValue& value, bool direct)>& visit) const;

  TEvaluator& Evaluator() const { return FEvaluator; }

 private:
  TEvaluator& FEvaluator;
  const TFormula& FFormula;
  std::span<const uint32_t> FArgs;
};

using TFunction = TValue (*)(TCallContext& call);

struct TFunctionInfo {
  std::string_view Name;
  uint8_t MinArgs;
  uint8_t MaxArgs;  // 255: any number
  TFunction Function;
  bool Volatile = false;
  // Arguments evaluate as in an array formula (SUMPRODUCT(A1:A3*B1:B3)).
  bool ArrayArguments = false;
};

// The function of that name (upper case, without prefixes); null if none.
const TFunctionInfo* FindFunction(std::string_view name);
// Every function the engine computes, for the documentation and tests.
std::vector<const TFunctionInfo*> AllFunctions();

class TEvaluator {
 public:
  TEvaluator(TCalcBook& book, int32_t sheet, uint32_t row, uint32_t column)
      : FBook(book), FSheet(sheet), FRow(row), FColumn(column) {}

  // Evaluates the formula at the host cell. A reference result is read as
  // the cell (or the intersection) it names. TCalcError never escapes: it
  // becomes the error value. TNotComputable does escape.
  TValue Evaluate(const TFormula& formula);
  // The same for an array formula over several cells: the whole result,
  // an array when it is one (a reference read as the array of its values).
  TValue EvaluateArray(const TFormula& formula);

  TValue Eval(const TFormula& formula, uint32_t node);
  // A value made scalar: a reference read (implicit intersection), an array
  // reduced to its first element; errors raised.
  TValue ToScalar(const TValue& value);
  // Reads the cells of a reference, row by row.
  void ForEachValue(const TValue& value, const std::function<void(const TValue&)>& visit);

  // In an array formula, operators take whole references as arrays.
  void SetArrayMode(bool value) { FArrayMode = value; }
  bool ArrayMode() const { return FArrayMode; }

  TCalcBook& Book() { return FBook; }
  int32_t Sheet() const { return FSheet; }
  uint32_t Row() const { return FRow; }
  uint32_t Column() const { return FColumn; }

 private:
  TValue Reference(const TFormulaNode& node);
  TValue Structured(const TFormulaNode& node);
  TValue Name(const TFormulaNode& node);
  TValue Operator(const TFormula& formula, const TFormulaNode& node);
  TValue Call(const TFormula& formula, const TFormulaNode& node);
  TValue ArrayConstant(const TFormula& formula, const TFormulaNode& node);

  TCalcBook& FBook;
  int32_t FSheet;
  uint32_t FRow, FColumn;
  int FNameDepth = 0;
  bool FArrayMode = false;
};

// A reference as an array of its values; other values as they are.
TValue ReferenceToArray(TEvaluator& evaluator, const TValue& value);

// Coercions with the application's rules; they raise TCalcError.
double ToNumber(const TValue& scalar);
std::string ToText(const TValue& scalar);
bool ToBoolean(const TValue& scalar);
// Text read as a number the way the application reads typed input
// ("1.5", " 2 ", "50%", "1e3", "2026-01-31"); false when it is not one.
bool TextToNumber(std::string_view text, double& number);
// -1, 0 or 1 by the application's order: numbers < text < Booleans, text
// without regard to letter case, a blank as 0, "" or FALSE by the other side.
int CompareValues(const TValue& a, const TValue& b);

}  // namespace spreadsheet::calc
