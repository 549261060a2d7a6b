#include "FormulaGenerator.h"

#include <algorithm>
#include <cstdio>

#include "spreadsheet/calc/Functions.h"

namespace spreadsheet::testing {

namespace {

// What a function gives and takes. Result: n number, t text, b Boolean, v
// any. Arguments: n number, N a number written or read from a cell, p
// positive, f fraction in [-1, 1], i digits
// (-2..4), k count (1..5), q interest rate, d date serial, y year, o month,
// z day, h hour, s minute or second, C character code, t text, L text that
// is not empty, F number format, S date text, Z time text, b Boolean, 0
// FALSE, v any value, g a value that is not blank, j number or text, e a value that may be an error, x
// one cell, r range of numbers, R range of anything, l sorted lookup
// column, T table whose first column is sorted, c criterion, a what SUM
// takes (number, range), m match type, w weekday type or ADDRESS's kind, B
// day count basis, U DATEDIF unit, u SUBTOTAL function, Q RATE's arguments,
// P (range, criterion) pairs, 2 (condition, value) pairs, A an address's
// text for INDIRECT. "[" starts the optional arguments; "*" repeats the one
// before it up to twice more. The clock's functions (NOW, TODAY) are left
// out: their results change by the second.
//
// Where LibreOffice differs from the application the arguments keep clear:
// it gives #VALUE! for FIND("", ...) and for years before 1900, ranks
// numbers missing from RANK's list, gives the smallest of several modes and
// week 1 for WEEKNUM(38352) (RANK, MODE and WEEKNUM are left out), shows negative DOLLAR amounts as -$1
// instead of ($1), gives CODE("") and ADDRESS(1,1,5) values, looks up
// approximately in a row of mixed types its own way, finds no match for a
// blank lookup value, computes MOD of products past 2^53 its own way, rounds before INT
// (INT(TANH(18)) is 1), and stops RATE's iteration elsewhere when it hardly
// converges.
struct TSignature {
  const char* Name;
  char Result;
  const char* Arguments;
};

const TSignature kSignatures[] = {
    // Math.
    {"ABS", 'n', "n"},
    {"ACOS", 'n', "f"},
    {"ACOSH", 'n', "p"},
    {"ASIN", 'n', "f"},
    {"ASINH", 'n', "n"},
    {"ATAN", 'n', "n"},
    {"ATAN2", 'n', "pn"},
    {"ATANH", 'n', "f"},
    {"CEILING", 'n', "nn"},
    {"CEILING.MATH", 'n', "n[nn"},
    {"COS", 'n', "f"},
    {"COSH", 'n', "f"},
    {"DEGREES", 'n', "n"},
    {"EVEN", 'n', "n"},
    {"EXP", 'n', "f"},
    {"FACT", 'n', "k"},
    {"FLOOR", 'n', "nn"},
    {"FLOOR.MATH", 'n', "n[nn"},
    {"INT", 'n', "n"},
    {"LN", 'n', "p"},
    {"LOG", 'n', "p[p"},
    {"LOG10", 'n', "p"},
    {"MOD", 'n', "Np"},
    {"MROUND", 'n', "pp"},
    {"ODD", 'n', "n"},
    {"PI", 'n', ""},
    {"POWER", 'n', "pf"},
    {"PRODUCT", 'n', "a*"},
    {"QUOTIENT", 'n', "nn"},
    {"RADIANS", 'n', "n"},
    {"ROUND", 'n', "ni"},
    {"ROUNDDOWN", 'n', "ni"},
    {"ROUNDUP", 'n', "ni"},
    {"SIGN", 'n', "n"},
    {"SIN", 'n', "f"},
    {"SINH", 'n', "f"},
    {"SQRT", 'n', "p"},
    {"SUMSQ", 'n', "a*"},
    {"TAN", 'n', "f"},
    {"TANH", 'n', "f"},
    {"TRUNC", 'n', "n[i"},
    // Logical.
    {"AND", 'b', "b*"},
    {"OR", 'b', "b*"},
    {"XOR", 'b', "b*"},
    {"NOT", 'b', "b"},
    {"IF", 'v', "bvv"},
    {"IFERROR", 'v', "ev"},
    {"IFNA", 'v', "ev"},
    {"IFS", 'v', "2"},
    {"CHOOSE", 'v', "kvvvvv"},
    {"TRUE", 'b', ""},
    {"FALSE", 'b', ""},
    // SWITCH is left out: LibreOffice gives #VALUE! for some calls where no
    // case matches ("" as a case, or no default) instead of the default or #N/A.
    // Information.
    {"COLUMN", 'n', "[x"},
    {"COLUMNS", 'n', "R"},
    {"ROW", 'n', "[x"},
    {"ROWS", 'n', "R"},
    {"ISBLANK", 'b', "x"},
    {"ISERR", 'b', "e"},
    {"ISERROR", 'b', "e"},
    {"ISEVEN", 'b', "p"},
    {"ISODD", 'b', "p"},
    {"ISLOGICAL", 'b', "x"},
    {"ISNA", 'b', "e"},
    {"ISNONTEXT", 'b', "x"},
    {"ISNUMBER", 'b', "x"},
    {"ISTEXT", 'b', "x"},
    {"N", 'n', "x"},
    {"NA", 'v', ""},
    {"T", 't', "x"},
    {"TYPE", 'n', "x"},
    // Aggregates.
    {"AVERAGE", 'n', "a*"},
    {"AVERAGEA", 'n', "a*"},
    {"AVERAGEIF", 'n', "Rc[r"},
    {"AVERAGEIFS", 'n', "rP"},
    {"COUNT", 'n', "a*"},
    {"COUNTA", 'n', "a*"},
    {"COUNTBLANK", 'n', "R"},
    {"COUNTIF", 'n', "Rc"},
    {"COUNTIFS", 'n', "P"},
    {"MAX", 'n', "a*"},
    {"MAXA", 'n', "a*"},
    {"MAXIFS", 'n', "rP"},
    {"MIN", 'n', "a*"},
    {"MINA", 'n', "a*"},
    {"MINIFS", 'n', "rP"},
    {"SUM", 'n', "a*"},
    {"SUMIF", 'n', "Rc[r"},
    {"SUMIFS", 'n', "rP"},
    {"SUMPRODUCT", 'n', "r*"},
    {"SUBTOTAL", 'n', "ur*"},
    // Statistics.
    {"LARGE", 'n', "rk"},
    {"SMALL", 'n', "rk"},
    {"MEDIAN", 'n', "a*"},
    {"STDEV", 'n', "a*"},
    {"STDEV.S", 'n', "a*"},
    {"STDEV.P", 'n', "a*"},
    {"STDEVP", 'n', "a*"},
    {"VAR", 'n', "a*"},
    {"VAR.S", 'n', "a*"},
    {"VAR.P", 'n', "a*"},
    {"VARP", 'n', "a*"},
    // Text.
    {"CHAR", 't', "C"},
    {"CLEAN", 't', "t"},
    {"CODE", 'n', "L"},
    {"CONCAT", 't', "j*"},
    {"CONCATENATE", 't', "j*"},
    {"DOLLAR", 't', "p[i"},
    {"EXACT", 'b', "tt"},
    {"FIND", 'n', "Lt[k"},
    {"FIXED", 't', "n[ib"},
    {"LEFT", 't', "t[k"},
    {"LEN", 'n', "t"},
    {"LOWER", 't', "t"},
    {"MID", 't', "tkk"},
    {"PROPER", 't', "t"},
    {"REPLACE", 't', "tkkt"},
    {"REPT", 't', "tk"},
    {"RIGHT", 't', "t[k"},
    {"SEARCH", 'n', "Lt[k"},
    {"SUBSTITUTE", 't', "ttt[k"},
    {"TEXT", 't', "dF"},
    {"TEXTJOIN", 't', "tbj*"},
    {"TRIM", 't', "t"},
    {"UPPER", 't', "t"},
    {"VALUE", 'n', "t"},
    // Dates and times.
    {"DATE", 'n', "yoz"},
    {"DATEDIF", 'n', "ddU"},
    {"DATEVALUE", 'n', "S"},
    {"DAY", 'n', "d"},
    {"DAYS", 'n', "dd"},
    {"EDATE", 'n', "di"},
    {"EOMONTH", 'n', "di"},
    {"HOUR", 'n', "p"},
    {"ISOWEEKNUM", 'n', "d"},
    {"MINUTE", 'n', "p"},
    {"MONTH", 'n', "d"},
    {"NETWORKDAYS", 'n', "dd"},
    {"SECOND", 'n', "p"},
    {"TIME", 'n', "hss"},
    {"TIMEVALUE", 'n', "Z"},
    {"WEEKDAY", 'n', "d[w"},
    {"WORKDAY", 'n', "dk"},
    {"YEAR", 'n', "d"},
    {"YEARFRAC", 'n', "dd[B"},
    // Financial.
    {"FV", 'n', "qkn[nb"},
    {"PV", 'n', "qkn[nb"},
    {"PMT", 'n', "qkn[nb"},
    {"IPMT", 'n', "qkkn"},
    {"PPMT", 'n', "qkkn"},
    {"NPER", 'n', "qnn"},
    {"NPV", 'n', "qa*"},
    {"RATE", 'n', "Q"},
    {"IRR", 'n', "r"},
    // Lookup and reference.
    {"ADDRESS", 't', "kk[w"},
    {"HLOOKUP", 'v', "gTk0"},
    {"INDEX", 'v', "Tk[k"},
    {"INDIRECT", 'v', "A"},
    {"LOOKUP", 'v', "gl"},
    {"MATCH", 'n', "gl[m"},
    {"VLOOKUP", 'v', "gTk[b"},
    {"XLOOKUP", 'v', "gll"},
    {"XMATCH", 'n', "gl"},
};

const char* const kWords[] = {"apple", "Apricot", "banana", "a*b",    "x?y",   "a?b", "Cherry", "apple pie",
                              "12",    "3.5",     "",       "BANANA", " lead", "dog", "Zebra",  "-7"};
const char* const kCriteria[] = {"\">=5\"",    "\"<>\"",      "\"=\"",          "\"ap*\"",    "\"?pple\"", "\"<>b*\"",
                                 "\"*a*\"",    "\"a~*b\"",    "\"<10\"",        "\">apple\"", "\"12\"",    "5",
                                 "\"banana\"", "\"<>apple\"", "\">=\"&Data!H2", "\"<=-1\""};
const char* const kFormats[] = {"\"0.00\"",       "\"#,##0\"",   "\"0%\"",      "\"yyyy-mm-dd\"",
                                "\"d mmm yyyy\"", "\"0.0E+00\"", "\"h:mm:ss\"", "\"$#,##0.00;[Red]-$#,##0.00\"",
                                "\"#?/?\"",       "\"@\"",       "\"000\""};
const char* const kSheets[] = {"Data!", "'Other Sheet'!"};

std::string Column(uint32_t column) {
  std::string name;
  for (; column > 0; column = (column - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (column - 1) % 26));
  return name;
}

const TSignature* FindSignature(std::string_view name) {
  for (const TSignature& s : kSignatures)
    if (name == s.Name) return &s;
  return nullptr;
}

std::string Number(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

}  // namespace

std::vector<std::string> TFormulaGenerator::NotGenerated() {
  std::vector<std::string> names;
  for (const calc::TFunctionInfo* f : calc::AllFunctions())
    if (!FindSignature(f->Name)) names.emplace_back(f->Name);
  return names;
}

std::vector<std::string> TFormulaGenerator::NotInEngine() {
  std::vector<std::string> names;
  for (const TSignature& s : kSignatures)
    if (!calc::FindFunction(s.Name)) names.emplace_back(s.Name);
  return names;
}

std::string TFormulaGenerator::SheetPrefix() { return Pick(kSheets); }

std::string TFormulaGenerator::NumberLiteral() {
  switch (Below(4)) {
    case 0: return std::to_string(static_cast<int>(Below(11)));
    case 1: return std::to_string(static_cast<int>(Below(200)) - 100);
    case 2: return Number(static_cast<double>(Below(20000)) / 100 - 50);
    default: return Number(static_cast<double>(Below(1000)) / 1000);
  }
}

// Columns of the input sheets: A numbers, B ascending numbers, C text, D
// dates, E fractions, F a mix with blanks and errors, G sparse numbers, H
// small whole numbers.
std::string TFormulaGenerator::Leaf(char kind, TCall& call) {
  auto cell = [&](const char* columns) {
    size_t n = std::char_traits<char>::length(columns);
    return SheetPrefix() + std::string(1, columns[Below(n)]) + std::to_string(1 + Below(kRows));
  };
  switch (kind) {
    case 'n': return Chance(50) ? NumberLiteral() : Chance(90) ? cell("ABGH") : cell("F");
    case 'p': return Chance(50) ? Number(static_cast<double>(1 + Below(5000)) / 100) : cell("BH");
    case 'f': return Number(static_cast<double>(Below(201)) / 100 - 1);
    case 'i': return std::to_string(static_cast<int>(Below(7)) - 2);
    case 'k': return Chance(80) ? std::to_string(1 + Below(5)) : cell("H");
    case 'q': return Number(static_cast<double>(1 + Below(10)) / 100);
    case 'd': return Chance(50) ? std::to_string(20000 + Below(30000)) : cell("D");
    case 'y': return std::to_string(1900 + Below(200));
    case 'o': return std::to_string(static_cast<int>(Below(17)) - 2);
    case 'z': return std::to_string(static_cast<int>(Below(41)) - 5);
    case 'h': return std::to_string(Below(30));
    case 's': return std::to_string(Below(75));
    case 'C': return std::to_string(33 + Below(94));
    case 't': return Chance(50) ? "\"" + std::string(Pick(kWords)) + "\"" : cell("CCCA");
    case 'L': return Chance(50) ? "\"" + Letters() + "\"" : cell("C");
    case 'Q': {
      // RATE's periods, payment and present value with a rate between 0
      // and about 15%, which both applications find.
      size_t periods = 10 + Below(50), payment = 10 + Below(90);
      double value = static_cast<double>(periods * payment) * (50 + static_cast<double>(Below(45))) / 100;
      return std::to_string(periods) + ",-" + std::to_string(payment) + "," + Number(value);
    }
    case '0': return "FALSE";
    case 'F': return Pick(kFormats);
    case 'S': {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "\"%zu-%02zu-%02zu\"", 1950 + Below(100), 1 + Below(12), 1 + Below(28));
      return buffer;
    }
    case 'Z': {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "\"%zu:%02zu:%02zu\"", Below(24), Below(60), Below(60));
      return buffer;
    }
    case 'b': {
      const char* const ops[] = {"=", "<>", "<", ">="};
      if (Chance(40)) return Chance(50) ? "TRUE" : "FALSE";
      return Chance(70) ? cell("ABEG") + ops[Below(4)] + NumberLiteral() : cell("C") + ops[Below(4)] + "\"b\"";
    }
    case 'x': return cell("ABCDEFGH");
    case 'N': return Chance(50) ? NumberLiteral() : cell("ABH");
    case 'g': return Chance(30) ? NumberLiteral() : Chance(20) ? "\"" + Letters() + "\"" : cell("ABCDEH");
    // Words that read as numbers come from cells here: as results of IF
    // and the like LibreOffice refuses them where SUM takes them.
    case 'v': return Chance(30) ? NumberLiteral() : Chance(20) ? "\"" + Letters() + "\"" : cell("ABCDEFGH");
    case 'e': {
      const char* const errors[] = {"1/0", "NA()", "\"x\"+1", "SQRT(-1)"};
      return Chance(30) ? errors[Below(4)] : cell("ACF");
    }
    case 'm': return Chance(60) ? "0" : "1";
    case 'w': return std::to_string(1 + Below(3));
    case 'B': return std::to_string(Below(5));
    case 'U': {
      const char* const units[] = {"\"Y\"", "\"M\"", "\"D\"", "\"MD\"", "\"YM\"", "\"YD\""};
      return units[Below(6)];
    }
    case 'u': return std::to_string((Chance(50) ? 0 : 100) + 1 + Below(11));
    case 'A':
      return "\"" + std::string(Chance(50) ? "Data!" : "'Other Sheet'!") + Column(1 + Below(8)) +
             std::to_string(1 + Below(kRows)) + "\"";
    case 'c': return Criterion(call);
    default: return Range(kind, call);
  }
}

std::string TFormulaGenerator::Criterion(TCall& call) {
  if (Chance(15)) return SheetPrefix() + "C" + std::to_string(1 + Below(kRows));
  if (Chance(10)) return Expression('n', 1, call);
  return Pick(kCriteria);
}

std::string TFormulaGenerator::Range(char kind, TCall& call) {
  std::string sheet = SheetPrefix();
  uint32_t first = 1 + static_cast<uint32_t>(Below(kRows - call.Length + 1));
  uint32_t last = first + call.Length - 1;
  auto span = [&](uint32_t c1, uint32_t c2) {
    return sheet + Column(c1) + std::to_string(first) + ":" + Column(c2) + std::to_string(last);
  };
  switch (kind) {
    case 'r': {
      const uint32_t columns[] = {1, 2, 7, 8, 6};
      uint32_t c = columns[Below(Chance(90) ? 4 : 5)];
      return span(c, c);
    }
    case 'l': {
      // Whole, sorted column: approximate matches find what the application finds.
      first = 1;
      last = kRows;
      return span(2, 2);
    }
    case 'T': {
      first = 1;
      last = kRows;
      return span(2, static_cast<uint32_t>(3 + Below(4)));
    }
    case 'a': {
      if (Chance(40)) return Expression('n', 1, call);
      return Range(Chance(80) ? 'r' : 'R', call);
    }
    default: {
      if (Chance(5)) return sheet + "A:A";
      uint32_t c = static_cast<uint32_t>(1 + Below(8));
      return span(c, c);
    }
  }
}

std::string TFormulaGenerator::Expression(char kind, int depth, TCall& call) {
  // Positive numbers and dates stay literal: results of calls may be
  // negative, or fall before March 1900, where LibreOffice counts days
  // differently (it has no 29 February 1900).
  const char leafKinds[] = "rRlTacApdLQ0N";
  bool structural = std::char_traits<char>::find(leafKinds, 13, kind) != nullptr;
  if (kind == 'j') kind = Chance(50) ? 'n' : 't';
  if (structural || depth <= 0 || Chance(35)) return Leaf(kind, call);
  if (kind == 'n' || kind == 'p' || kind == 'd' || kind == 'v' || kind == 't' || kind == 'b' || kind == 'e') {
    // Operators or a function of a fitting result.
    if (Chance(25)) {
      if (kind == 't') return Expression('j', depth - 1, call) + "&" + Expression('j', depth - 1, call);
      if (kind == 'b') {
        const char* const ops[] = {"=", "<>", "<", "<=", ">", ">="};
        // Text compares as written: the applications order punctuation
        // differently ("$1.00" against a word).
        if (Chance(30)) return Leaf('t', call) + ops[Below(6)] + Leaf('t', call);
        return Expression('n', depth - 1, call) + ops[Below(6)] + Expression('n', depth - 1, call);
      }
      if (kind == 'n' || kind == 'v' || kind == 'e') {
        const char* const ops[] = {"+", "-", "*", "/", "^"};
        const char* op = ops[Below(5)];
        std::string right = std::string(op) == "^" ? std::to_string(1 + Below(3)) : Expression('n', depth - 1, call);
        if (Chance(10)) return "-(" + Expression('n', depth - 1, call) + ")";
        if (Chance(5)) return Expression('n', depth - 1, call) + "%";
        return "(" + Expression('n', depth - 1, call) + op + right + ")";
      }
    }
    char result = kind == 'p' || kind == 'd' ? 'n' : kind == 'e' ? 'v' : kind;
    return FunctionCall(result, depth - 1);
  }
  return Leaf(kind, call);
}

std::string TFormulaGenerator::FunctionCall(char kind, int depth) {
  std::vector<const TSignature*> fitting;
  for (const TSignature& s : kSignatures) {
    // Booleans stay where they are asked for: LibreOffice holds them as
    // numbers, and would compare, join and count them as such.
    bool fits = s.Result == kind || (s.Result == 'v' && kind != 'b') || (kind == 'v' && s.Result != 'b');
    if (fits && calc::FindFunction(s.Name)) fitting.push_back(&s);
  }
  if (fitting.empty()) {
    TCall call;
    return Leaf(kind, call);
  }
  const TSignature& f = *fitting[Below(fitting.size())];
  FUsed.insert(f.Name);
  TCall call;
  call.Length = static_cast<uint32_t>(1 + Below(kRows / 2));
  std::vector<std::string> args;
  bool optional = false;
  char previous = 0;
  for (const char* a = f.Arguments; *a; ++a) {
    char k = *a;
    if (k == '[') {
      optional = true;
      continue;
    }
    if (optional && Chance(50)) break;
    if (k == '*') {
      for (size_t n = Below(3); n > 0; --n) args.push_back(Expression(previous, depth, call));
      continue;
    }
    if (k == 'P' || k == '2') {
      for (size_t n = 1 + Below(2); n > 0; --n) {
        if (k == 'P') {
          args.push_back(Range('R', call));
          args.push_back(Criterion(call));
        } else {
          args.push_back(Expression('b', depth, call));
          args.push_back(Expression('v', depth, call));
        }
      }
      continue;
    }
    args.push_back(Expression(k, depth, call));
    previous = k;
  }
  std::string text = f.Name;
  text += "(";
  for (size_t i = 0; i < args.size(); ++i) text += (i ? "," : "") + args[i];
  return text + ")";
}

// A word for a text cell. LibreOffice reads an empty text cell as blank, and
// it has no Boolean cells (TRUE is the number 1 there): the inputs hold
// neither, so that the two applications see the same workbook.
std::string TFormulaGenerator::Word() {
  std::string word;
  while (word.empty()) word = kWords[Below(std::size(kWords))];
  return word;
}

std::string TFormulaGenerator::Letters() {
  std::string word;
  while (word.empty() || (word[0] >= '0' && word[0] <= '9') || word[0] == '-') word = Word();
  return word;
}

TGeneratedBook TFormulaGenerator::Generate(size_t formulas) {
  TGeneratedBook book;
  auto sheet = [&](double scale) {
    std::string xml = "<sheetData>";
    double ascending = 0;
    for (uint32_t r = 1; r <= kRows; ++r) {
      std::string row = std::to_string(r);
      auto number = [&](const char* column, double v) {
        return "<c r=\"" + std::string(column) + row + "\"><v>" + Number(v) + "</v></c>";
      };
      auto text = [&](const char* column, const std::string& t) {
        return "<c r=\"" + std::string(column) + row + "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">" + t +
               "</t></is></c>";
      };
      ascending += static_cast<double>(Below(300)) / 100 * scale;
      xml += "<row r=\"" + row + "\">";
      xml += number("A", (static_cast<double>(Below(2000)) - 1000) / (Chance(50) ? 1 : 8) * scale);
      xml += number("B", ascending);
      xml += text("C", Word());
      xml += number("D", static_cast<double>(20000 + Below(30000)));
      xml += number("E", static_cast<double>(Below(101)) / 100);
      switch (Below(6)) {
        case 0: xml += number("F", static_cast<double>(Below(100))); break;
        case 1:
        case 2: xml += text("F", Word()); break;
        case 3: xml += "<c r=\"F" + row + "\" t=\"e\"><v>#DIV/0!</v></c>"; break;
        case 4: xml += text("F", "7"); break;
        default: break;  // blank
      }
      if (Chance(50)) xml += number("G", static_cast<double>(Below(50)));
      xml += number("H", static_cast<double>(1 + Below(5)));
      xml += "</row>";
    }
    return xml + "</sheetData>";
  };
  book.Layout.Sheets = {{"Data", sheet(1)}, {"Other Sheet", sheet(3)}, {"Calc", "<sheetData/>"}};
  for (size_t i = 0; i < formulas; ++i) {
    TCall call;
    const char kinds[] = "nnnvtb";
    char kind = kinds[Below(6)];
    book.Formulas.push_back("=" + (Chance(85) ? FunctionCall(kind, 2) : Expression(kind, 3, call)));
  }
  book.Functions = FUsed;
  return book;
}

}  // namespace spreadsheet::testing
