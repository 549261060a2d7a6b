// The formula language as workbook files store it (A1 references, no
// leading "="): a parser from text to a syntax tree, shared by everything in
// the server that reads formulas. Text is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet::calc {

// Formula text compares names without regard to ASCII letter case.
inline char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// The error values, in the order of the application's ERROR.TYPE.
enum class TErrorValue : uint8_t { None, Null, Div0, Value, Ref, Name, Num, NA, GettingData, Spill, Calc };

// "#DIV/0!" for Div0; "" for None.
std::string_view ErrorText(TErrorValue error);
// The error a text names exactly ("#N/A"); None when it names none.
TErrorValue ErrorFromText(std::string_view text);

enum class TOperator : uint8_t {
  // Binary, by falling precedence groups.
  Range,         // A1:B2
  Intersection,  // A1:B5 B2:C3
  Union,         // (A1,B2)
  Power,
  Multiply,
  Divide,
  Add,
  Subtract,
  Concat,
  Equal,
  NotEqual,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
  // Unary.
  Negate,
  Plus,
  Percent,
};

// One end of a reference: a row or column number (1-based) and whether it
// is absolute ($).
struct TRefCoord {
  uint32_t Row = 0;
  uint32_t Column = 0;
  bool RowAbsolute = false;
  bool ColumnAbsolute = false;
};

enum class TNodeKind : uint8_t {
  Number,      // Number
  Text,        // Text
  Boolean,     // Number 0 or 1
  Error,       // Error
  Missing,     // an omitted argument: SUM(1,,2)
  Reference,   // Sheet (may be empty), First, Last; WholeRows/WholeColumns
  Name,        // Sheet (may be empty), Text: a defined name
  Structured,  // Text: the table name (may be empty), Items: specifiers
  Array,       // Rows x Columns constants in Args, row by row
  Operator,    // Op over Args (one or two)
  Call,        // Text: the function name in upper case, prefixes removed; Args
  External,    // a reference into another workbook: never computed here
};

// The specifiers of a structured reference.
struct TStructuredRef {
  bool All = false, Headers = false, Data = false, Totals = false, ThisRow = false;
  std::string FirstColumn;  // empty: every column
  std::string LastColumn;   // set for a column span [[A]:[B]]
};

struct TFormulaNode {
  TNodeKind Kind = TNodeKind::Missing;
  TOperator Op = TOperator::Add;
  TErrorValue Error = TErrorValue::None;
  bool WholeRows = false;     // 2:4
  bool WholeColumns = false;  // A:C
  double Number = 0;
  std::string Text;
  std::string Sheet;  // as written, quotes removed; empty for the host sheet
  TRefCoord First, Last;
  TStructuredRef Structured;
  uint32_t Rows = 0, Columns = 0;  // of an array constant
  std::vector<uint32_t> Args;      // child node indexes
};

// A parsed formula: nodes in a vector, the root last.
struct TFormula {
  std::vector<TFormulaNode> Nodes;
  uint32_t Root = 0;
  const TFormulaNode& RootNode() const { return Nodes[Root]; }
};

// Parses formula text (without "="). On a syntax error returns false and
// sets `error` to what is wrong, for the server's message.
bool ParseFormula(std::string_view text, TFormula& formula, std::string& error);

}  // namespace spreadsheet::calc
