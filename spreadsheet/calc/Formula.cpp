#include "spreadsheet/calc/Formula.h"

#include <charconv>
#include <cstring>

namespace spreadsheet::calc {

namespace {

constexpr uint32_t kMaxRows = 1048576;
constexpr uint32_t kMaxColumns = 16384;
// Deeper nesting than the application accepts (64 function levels) is
// refused before the parser's own stack could suffer.
constexpr int kMaxDepth = 200;

constexpr std::pair<TErrorValue, std::string_view> kErrorTexts[] = {
    {TErrorValue::Null, "#NULL!"},   {TErrorValue::Div0, "#DIV/0!"},
    {TErrorValue::Value, "#VALUE!"}, {TErrorValue::Ref, "#REF!"},
    {TErrorValue::Name, "#NAME?"},   {TErrorValue::Num, "#NUM!"},
    {TErrorValue::NA, "#N/A"},       {TErrorValue::GettingData, "#GETTING_DATA"},
    {TErrorValue::Spill, "#SPILL!"}, {TErrorValue::Calc, "#CALC!"},
};

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
// Characters of names, function names, unquoted sheet names and references.
bool IsNameChar(char c) {
  return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '\\' || c == '?' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}


// "$AB$12" as a cell; columns and rows within the sheet.
bool ReadCell(std::string_view text, TRefCoord& cell) {
  size_t i = 0;
  cell = {};
  if (i < text.size() && text[i] == '$') cell.ColumnAbsolute = true, ++i;
  size_t letters = 0;
  uint32_t column = 0;
  while (i < text.size() && IsLetter(text[i]) && letters < 4)
    column = column * 26 + (AsciiUpper(text[i++]) - 'A' + 1), ++letters;
  if (letters == 0 || letters > 3 || column > kMaxColumns) return false;
  if (i < text.size() && text[i] == '$') cell.RowAbsolute = true, ++i;
  size_t digits = 0;
  uint64_t row = 0;
  while (i < text.size() && IsDigit(text[i]) && digits < 8)
    row = row * 10 + static_cast<uint64_t>(text[i++] - '0'), ++digits;
  if (digits == 0 || i != text.size() || row == 0 || row > kMaxRows) return false;
  cell.Row = static_cast<uint32_t>(row);
  cell.Column = column;
  return true;
}

// "$AB" as a whole column.
bool ReadColumn(std::string_view text, TRefCoord& cell) {
  size_t i = 0;
  cell = {};
  if (i < text.size() && text[i] == '$') cell.ColumnAbsolute = true, ++i;
  uint32_t column = 0;
  size_t letters = 0;
  while (i < text.size() && IsLetter(text[i]) && letters < 4)
    column = column * 26 + (AsciiUpper(text[i++]) - 'A' + 1), ++letters;
  if (letters == 0 || letters > 3 || i != text.size() || column > kMaxColumns) return false;
  cell.Column = column;
  return true;
}

// "$12" as a whole row.
bool ReadRow(std::string_view text, TRefCoord& cell) {
  size_t i = 0;
  cell = {};
  if (i < text.size() && text[i] == '$') cell.RowAbsolute = true, ++i;
  uint64_t row = 0;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i]) && digits < 8)
    row = row * 10 + static_cast<uint64_t>(text[i++] - '0'), ++digits;
  if (digits == 0 || i != text.size() || row == 0 || row > kMaxRows) return false;
  cell.Row = static_cast<uint32_t>(row);
  return true;
}

class TParser {
 public:
  TParser(std::string_view text, TFormula& formula) : FText(text), FFormula(formula) {}

  bool Parse(std::string& error) {
    try {
      FFormula.Nodes.clear();
      uint32_t root = Expression();
      SkipSpace();
      if (FAt < FText.size()) Fail(std::string("unexpected \"") + FText[FAt] + "\"");
      FFormula.Root = root;
      return true;
    } catch (const TSyntaxError& e) {
      error = e.What;
      return false;
    }
  }

 private:
  struct TSyntaxError {
    std::string What;
  };
  [[noreturn]] void Fail(std::string what) { throw TSyntaxError{std::move(what)}; }

  uint32_t Add(TFormulaNode node) {
    FFormula.Nodes.push_back(std::move(node));
    return static_cast<uint32_t>(FFormula.Nodes.size() - 1);
  }
  uint32_t Operator(TOperator op, std::vector<uint32_t> args) {
    TFormulaNode node;
    node.Kind = TNodeKind::Operator;
    node.Op = op;
    node.Args = std::move(args);
    return Add(std::move(node));
  }

  // Skips blanks; true when there were any.
  bool SkipSpace() {
    size_t from = FAt;
    while (FAt < FText.size() && IsSpace(FText[FAt])) ++FAt;
    return FAt != from;
  }
  char Peek() {
    SkipSpace();
    return FAt < FText.size() ? FText[FAt] : '\0';
  }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++FAt;
    return true;
  }
  bool TakeText(std::string_view s) {
    SkipSpace();
    if (FText.substr(FAt, s.size()) != s) return false;
    FAt += s.size();
    return true;
  }

  struct TDepth {
    explicit TDepth(TParser& p) : P(p) {
      if (++P.FDepth > kMaxDepth) P.Fail("the formula is nested too deeply");
    }
    ~TDepth() { --P.FDepth; }
    TParser& P;
  };

  uint32_t Expression() {
    TDepth depth(*this);
    uint32_t left = Concatenation();
    for (;;) {
      SkipSpace();
      TOperator op;
      if (TakeText("<>"))
        op = TOperator::NotEqual;
      else if (TakeText("<="))
        op = TOperator::LessEqual;
      else if (TakeText(">="))
        op = TOperator::GreaterEqual;
      else if (Take('='))
        op = TOperator::Equal;
      else if (Take('<'))
        op = TOperator::Less;
      else if (Take('>'))
        op = TOperator::Greater;
      else
        return left;
      left = Operator(op, {left, Concatenation()});
    }
  }
  uint32_t Concatenation() {
    uint32_t left = Additive();
    while (Take('&')) left = Operator(TOperator::Concat, {left, Additive()});
    return left;
  }
  uint32_t Additive() {
    uint32_t left = Multiplicative();
    for (;;) {
      if (Take('+'))
        left = Operator(TOperator::Add, {left, Multiplicative()});
      else if (Take('-'))
        left = Operator(TOperator::Subtract, {left, Multiplicative()});
      else
        return left;
    }
  }
  uint32_t Multiplicative() {
    uint32_t left = Power();
    for (;;) {
      if (Take('*'))
        left = Operator(TOperator::Multiply, {left, Power()});
      else if (Take('/'))
        left = Operator(TOperator::Divide, {left, Power()});
      else
        return left;
    }
  }
  uint32_t Power() {
    uint32_t left = Percent();
    while (Take('^')) left = Operator(TOperator::Power, {left, Percent()});
    return left;
  }
  uint32_t Percent() {
    uint32_t operand = Unary();
    while (Take('%')) operand = Operator(TOperator::Percent, {operand});
    return operand;
  }
  uint32_t Unary() {
    TDepth depth(*this);
    if (Take('-')) return Operator(TOperator::Negate, {Unary()});
    if (Take('+')) return Operator(TOperator::Plus, {Unary()});
    return UnionExpression();
  }
  // The comma unites references only inside plain parentheses; elsewhere it
  // separates arguments or array elements.
  uint32_t UnionExpression() {
    uint32_t left = Intersection();
    if (!FUnionAllowed) return left;
    while (Take(',')) left = Operator(TOperator::Union, {left, Intersection()});
    return left;
  }
  uint32_t Intersection() {
    uint32_t left = RangeExpression();
    for (;;) {
      size_t before = FAt;
      SkipSpace();
      // Lookahead for ":" may already have passed the blank.
      bool spaced = FAt > 0 && IsSpace(FText[FAt - 1]);
      if (!spaced || !StartsOperand()) {
        FAt = before;
        return left;
      }
      left = Operator(TOperator::Intersection, {left, RangeExpression()});
    }
  }
  // Whether the text at the cursor begins a reference-like operand (after
  // a blank, that makes the blank the intersection operator).
  bool StartsOperand() {
    if (FAt >= FText.size()) return false;
    char c = FText[FAt];
    return IsNameChar(c) || c == '\'' || c == '(' || c == '[';
  }
  uint32_t RangeExpression() {
    uint32_t left = Primary();
    while (Take(':')) {
      uint32_t right = Primary();
      TFormulaNode& l = FFormula.Nodes[left];
      const TFormulaNode& r = FFormula.Nodes[right];
      // Two cells of one sheet make one area.
      if (l.Kind == TNodeKind::Reference && r.Kind == TNodeKind::Reference && !l.WholeRows && !l.WholeColumns &&
          !r.WholeRows && !r.WholeColumns && l.First.Row == l.Last.Row && l.First.Column == l.Last.Column &&
          r.First.Row == r.Last.Row && r.First.Column == r.Last.Column &&
          (r.Sheet.empty() || SameText(r.Sheet, l.Sheet)) && right == FFormula.Nodes.size() - 1) {
        l.Last = r.First;
        FFormula.Nodes.pop_back();
        continue;
      }
      left = Operator(TOperator::Range, {left, right});
    }
    return left;
  }

  uint32_t Primary() {
    TDepth depth(*this);
    char c = Peek();
    if (c == '\0') Fail("the formula ends where a value is expected");
    if (c == '(') {
      ++FAt;
      bool saved = FUnionAllowed;
      FUnionAllowed = true;
      uint32_t inner = Expression();
      FUnionAllowed = saved;
      if (!Take(')')) Fail("a parenthesis is not closed");
      return inner;
    }
    if (c == '"') return StringLiteral();
    if (c == '{') return ArrayConstant();
    if (c == '#') return ErrorLiteral();
    if (IsDigit(c) || c == '.') return NumberOrRows();
    if (c == '[') return Bracketed();
    if (c == '\'') {
      std::string sheet = QuotedSheet();
      return SheetQualified(std::move(sheet));
    }
    if (c == '$' || IsNameChar(c)) return Word();
    Fail(std::string("unexpected \"") + c + "\"");
  }

  uint32_t StringLiteral() {
    ++FAt;
    TFormulaNode node;
    node.Kind = TNodeKind::Text;
    for (;;) {
      if (FAt >= FText.size()) Fail("a text in quotes is not closed");
      char c = FText[FAt++];
      if (c == '"') {
        if (FAt < FText.size() && FText[FAt] == '"') {
          node.Text += '"';
          ++FAt;
          continue;
        }
        break;
      }
      node.Text += c;
    }
    return Add(std::move(node));
  }

  uint32_t ErrorLiteral() {
    for (const auto& [error, text] : kErrorTexts) {
      if (FText.size() - FAt >= text.size() && SameText(FText.substr(FAt, text.size()), text)) {
        FAt += text.size();
        TFormulaNode node;
        node.Kind = TNodeKind::Error;
        node.Error = error;
        return Add(std::move(node));
      }
    }
    Fail("unknown error value");
  }

  // A number, or the row span "2:4".
  uint32_t NumberOrRows() {
    size_t start = FAt;
    while (FAt < FText.size() && IsDigit(FText[FAt])) ++FAt;
    if (FAt < FText.size() && FText[FAt] == ':' && FAt > start) {
      size_t colon = FAt;
      size_t end = colon + 1;
      if (end < FText.size() && FText[end] == '$') ++end;
      size_t digits = end;
      while (end < FText.size() && IsDigit(FText[end])) ++end;
      if (end > digits) {
        FAt = end;
        return Rows(FText.substr(start, colon - start), FText.substr(colon + 1, end - colon - 1), "");
      }
    }
    FAt = start;
    return Number();
  }

  uint32_t Number() {
    size_t start = FAt;
    while (FAt < FText.size() && IsDigit(FText[FAt])) ++FAt;
    if (FAt < FText.size() && FText[FAt] == '.') {
      ++FAt;
      while (FAt < FText.size() && IsDigit(FText[FAt])) ++FAt;
    }
    if (FAt < FText.size() && (FText[FAt] == 'E' || FText[FAt] == 'e')) {
      size_t mark = FAt++;
      if (FAt < FText.size() && (FText[FAt] == '+' || FText[FAt] == '-')) ++FAt;
      if (FAt >= FText.size() || !IsDigit(FText[FAt])) {
        FAt = mark;
      } else {
        while (FAt < FText.size() && IsDigit(FText[FAt])) ++FAt;
      }
    }
    TFormulaNode node;
    node.Kind = TNodeKind::Number;
    std::string_view digits = FText.substr(start, FAt - start);
    if (digits == "." || digits.empty()) Fail("a number is malformed");
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), node.Number);
    if (ec != std::errc() || end != digits.data() + digits.size()) Fail("a number is malformed");
    return Add(std::move(node));
  }

  uint32_t Rows(std::string_view first, std::string_view last, std::string sheet) {
    TFormulaNode node;
    node.Kind = TNodeKind::Reference;
    node.WholeRows = true;
    node.Sheet = std::move(sheet);
    if (!ReadRow(first, node.First) || !ReadRow(last, node.Last)) Fail("a row is outside the sheet");
    node.First.Column = 1;
    node.Last.Column = kMaxColumns;
    return Add(std::move(node));
  }

  uint32_t ArrayConstant() {
    ++FAt;
    TFormulaNode node;
    node.Kind = TNodeKind::Array;
    uint32_t columns = 0, inRow = 0, rows = 1;
    for (;;) {
      node.Args.push_back(ArrayElement());
      ++inRow;
      if (Take(',')) continue;
      if (Take(';')) {
        if (columns && columns != inRow) Fail("the rows of an array constant differ in length");
        columns = inRow;
        inRow = 0;
        ++rows;
        continue;
      }
      if (Take('}')) break;
      Fail("an array constant is not closed");
    }
    if (columns && columns != inRow) Fail("the rows of an array constant differ in length");
    node.Rows = rows;
    node.Columns = inRow;
    return Add(std::move(node));
  }
  uint32_t ArrayElement() {
    char c = Peek();
    bool negative = false;
    if (c == '-' || c == '+') {
      negative = c == '-';
      ++FAt;
      c = Peek();
      if (!IsDigit(c) && c != '.') Fail("an array constant holds only constants");
    }
    if (IsDigit(c) || c == '.') {
      uint32_t n = Number();
      if (negative) FFormula.Nodes[n].Number = -FFormula.Nodes[n].Number;
      return n;
    }
    if (c == '"') return StringLiteral();
    if (c == '#') return ErrorLiteral();
    size_t start = FAt;
    while (FAt < FText.size() && IsLetter(FText[FAt])) ++FAt;
    std::string_view word = FText.substr(start, FAt - start);
    if (SameText(word, "TRUE") || SameText(word, "FALSE")) {
      TFormulaNode node;
      node.Kind = TNodeKind::Boolean;
      node.Number = SameText(word, "TRUE") ? 1 : 0;
      return Add(std::move(node));
    }
    Fail("an array constant holds only constants");
  }

  std::string QuotedSheet() {
    ++FAt;
    std::string name;
    for (;;) {
      if (FAt >= FText.size()) Fail("a sheet name in quotes is not closed");
      char c = FText[FAt++];
      if (c == '\'') {
        if (FAt < FText.size() && FText[FAt] == '\'') {
          name += '\'';
          ++FAt;
          continue;
        }
        break;
      }
      name += c;
    }
    if (FAt >= FText.size() || FText[FAt] != '!') Fail("a sheet name is not followed by \"!\"");
    ++FAt;
    return name;
  }

  // What follows "Sheet!": a cell, an area, rows, columns, a name or #REF!.
  uint32_t SheetQualified(std::string sheet) {
    if (FAt < FText.size() && FText[FAt] == '#') {
      uint32_t error = ErrorLiteral();
      return error;
    }
    size_t start = FAt;
    while (FAt < FText.size() && IsNameChar(FText[FAt])) ++FAt;
    std::string_view word = FText.substr(start, FAt - start);
    if (word.empty()) Fail("a reference is missing after \"!\"");
    return Reference(word, std::move(sheet), true);
  }

  // A word: a function call, a sheet prefix, a reference, TRUE/FALSE, a
  // table or a defined name.
  uint32_t Word() {
    size_t start = FAt;
    while (FAt < FText.size() && IsNameChar(FText[FAt])) ++FAt;
    std::string_view word = FText.substr(start, FAt - start);
    if (FAt < FText.size() && FText[FAt] == '(') return Call(word);
    if (FAt < FText.size() && FText[FAt] == '!') {
      ++FAt;
      return SheetQualified(std::string(word));
    }
    // Sheet1:Sheet3!A1 spans sheets: a three-dimensional reference.
    if (FAt < FText.size() && FText[FAt] == ':') {
      size_t mark = FAt + 1;
      size_t end = mark;
      while (end < FText.size() && IsNameChar(FText[end])) ++end;
      if (end < FText.size() && FText[end] == '!' && end > mark) {
        FAt = end + 1;
        std::string sheets = std::string(word) + ":" + std::string(FText.substr(mark, end - mark));
        return SheetQualified(std::move(sheets));
      }
    }
    if (FAt < FText.size() && FText[FAt] == '[') return Structured(std::string(word));
    return Reference(word, "", false);
  }

  uint32_t Reference(std::string_view word, std::string sheet, bool qualified) {
    TFormulaNode node;
    node.Kind = TNodeKind::Reference;
    node.Sheet = std::move(sheet);
    if (ReadCell(word, node.First)) {
      node.Last = node.First;
      return Add(std::move(node));
    }
    // Whole columns "A:C" and whole rows "2:4" (the latter only after a
    // sheet prefix: unqualified ones start with a digit and come through
    // NumberOrRows).
    if (FAt < FText.size() && FText[FAt] == ':') {
      size_t end = FAt + 1;
      while (end < FText.size() && (IsNameChar(FText[end]))) ++end;
      std::string_view second = FText.substr(FAt + 1, end - FAt - 1);
      TRefCoord a, b;
      if (ReadColumn(word, a) && ReadColumn(second, b)) {
        FAt = end;
        node.WholeColumns = true;
        node.First = a;
        node.Last = b;
        node.First.Row = 1;
        node.Last.Row = kMaxRows;
        return Add(std::move(node));
      }
      if (ReadRow(word, a) && ReadRow(second, b)) {
        FAt = end;
        return Rows(word, second, node.Sheet);
      }
    }
    if (!qualified && (SameText(word, "TRUE") || SameText(word, "FALSE"))) {
      TFormulaNode boolean;
      boolean.Kind = TNodeKind::Boolean;
      boolean.Number = SameText(word, "TRUE") ? 1 : 0;
      return Add(std::move(boolean));
    }
    if (IsDigit(word[0])) Fail("\"" + std::string(word) + "\" is not a reference");
    if (word.find('$') != std::string_view::npos) Fail("\"" + std::string(word) + "\" is not a reference");
    node.Kind = TNodeKind::Name;
    node.Text = std::string(word);
    return Add(std::move(node));
  }

  uint32_t Call(std::string_view word) {
    ++FAt;  // (
    TFormulaNode node;
    node.Kind = TNodeKind::Call;
    std::string name;
    for (char c : word) name += AsciiUpper(c);
    for (std::string_view prefix : {"_XLFN.", "_XLWS."})
      if (name.compare(0, prefix.size(), prefix) == 0) name.erase(0, prefix.size());
    node.Text = std::move(name);
    bool saved = FUnionAllowed;
    FUnionAllowed = false;
    if (!Take(')')) {
      for (;;) {
        char c = Peek();
        if (c == ',' || c == ')') {
          TFormulaNode missing;
          node.Args.push_back(Add(std::move(missing)));
        } else {
          node.Args.push_back(Expression());
        }
        if (Take(',')) {
          if (Peek() == ')') {
            TFormulaNode missing;
            node.Args.push_back(Add(std::move(missing)));
            ++FAt;
            break;
          }
          continue;
        }
        if (Take(')')) break;
        Fail("the arguments of " + node.Text + " are not separated by \",\" or closed");
      }
    }
    FUnionAllowed = saved;
    if (node.Args.size() > 255) Fail("a function takes at most 255 arguments");
    return Add(std::move(node));
  }

  // "[" at the start of an operand: a structured reference without a table
  // ("[@Qty]") or a reference into another workbook ("[1]Sheet1!A1").
  uint32_t Bracketed() {
    size_t close = FText.find(']', FAt);
    if (close != std::string_view::npos && close + 1 < FText.size()) {
      char next = FText[close + 1];
      bool external = next == '\'' || (IsNameChar(next) && FText.substr(FAt + 1, 1) != "@" &&
                                       FText.substr(FAt + 1, 1) != "#" && FText.substr(FAt + 1, 1) != "[");
      if (external) {
        FAt = close + 1;
        if (FText[FAt] == '\'')
          QuotedSheet();
        else {
          while (FAt < FText.size() && IsNameChar(FText[FAt])) ++FAt;
          if (FAt < FText.size() && FText[FAt] == '!') ++FAt;
        }
        while (FAt < FText.size() && (IsNameChar(FText[FAt]) || FText[FAt] == ':' || FText[FAt] == '#' ||
                                      FText[FAt] == '!' || FText[FAt] == '/'))
          ++FAt;
        TFormulaNode node;
        node.Kind = TNodeKind::External;
        return Add(std::move(node));
      }
    }
    return Structured("");
  }

  // A column name inside brackets; "'" escapes the next character.
  std::string ColumnName() {
    std::string name;
    for (;;) {
      if (FAt >= FText.size()) Fail("a structured reference is not closed");
      char c = FText[FAt];
      if (c == ']') return name;
      if (c == '\'' && FAt + 1 < FText.size()) {
        name += FText[FAt + 1];
        FAt += 2;
        continue;
      }
      if (c == '[') Fail("a structured reference is malformed");
      name += c;
      ++FAt;
    }
  }

  // One item in brackets: "[#Totals]", "[Amount]" or "[@Amount]".
  void StructuredItem(TStructuredRef& ref, bool& hadColumn) {
    if (FAt >= FText.size() || FText[FAt] != '[') Fail("a structured reference is malformed");
    ++FAt;
    if (FAt < FText.size() && FText[FAt] == '#') {
      std::string keyword = ColumnName();
      ++FAt;
      if (SameText(keyword, "#All"))
        ref.All = true;
      else if (SameText(keyword, "#Headers"))
        ref.Headers = true;
      else if (SameText(keyword, "#Data"))
        ref.Data = true;
      else if (SameText(keyword, "#Totals"))
        ref.Totals = true;
      else if (SameText(keyword, "#This Row"))
        ref.ThisRow = true;
      else
        Fail("unknown table specifier \"" + keyword + "\"");
      return;
    }
    if (FAt < FText.size() && FText[FAt] == '@') {
      ref.ThisRow = true;
      ++FAt;
    }
    std::string column = ColumnName();
    ++FAt;
    if (hadColumn)
      ref.LastColumn = column;
    else
      ref.FirstColumn = column;
    hadColumn = true;
  }

  uint32_t Structured(std::string table) {
    TFormulaNode node;
    node.Kind = TNodeKind::Structured;
    node.Text = std::move(table);
    TStructuredRef& ref = node.Structured;
    ++FAt;  // [
    bool hadColumn = false;
    if (FAt < FText.size() && FText[FAt] == ']') {
      ++FAt;  // Table[]: the data
    } else if (FAt < FText.size() && FText[FAt] == '[') {
      for (;;) {
        while (FAt < FText.size() && FText[FAt] == ' ') ++FAt;
        StructuredItem(ref, hadColumn);
        while (FAt < FText.size() && FText[FAt] == ' ') ++FAt;
        if (FAt < FText.size() && FText[FAt] == ':') {
          ++FAt;
          StructuredItem(ref, hadColumn);
          while (FAt < FText.size() && FText[FAt] == ' ') ++FAt;
        }
        if (FAt < FText.size() && FText[FAt] == ',') {
          ++FAt;
          continue;
        }
        if (FAt < FText.size() && FText[FAt] == ']') {
          ++FAt;
          break;
        }
        Fail("a structured reference is not closed");
      }
    } else if (FAt < FText.size() && FText[FAt] == '@') {
      ref.ThisRow = true;
      ++FAt;
      if (FAt < FText.size() && FText[FAt] == '[') {
        StructuredItem(ref, hadColumn);
      } else {
        ref.FirstColumn = ColumnName();
        hadColumn = true;
      }
      if (FAt >= FText.size() || FText[FAt] != ']') Fail("a structured reference is not closed");
      ++FAt;
    } else if (FAt < FText.size() && FText[FAt] == '#') {
      --FAt;
      StructuredItem(ref, hadColumn);
    } else {
      ref.FirstColumn = ColumnName();
      ++FAt;
    }
    return Add(std::move(node));
  }

  std::string_view FText;
  TFormula& FFormula;
  size_t FAt = 0;
  int FDepth = 0;
  bool FUnionAllowed = false;
};

}  // namespace

std::string_view ErrorText(TErrorValue error) {
  for (const auto& [value, text] : kErrorTexts)
    if (value == error) return text;
  return "";
}

TErrorValue ErrorFromText(std::string_view text) {
  for (const auto& [value, name] : kErrorTexts)
    if (SameText(name, text)) return value;
  return TErrorValue::None;
}

bool ParseFormula(std::string_view text, TFormula& formula, std::string& error) {
  return TParser(text, formula).Parse(error);
}

}  // namespace spreadsheet::calc
