#include "spreadsheet/References.h"

#include <algorithm>
#include <set>

#include "rtl/SysUtils.h"

namespace spreadsheet {

namespace {

// Where a quoted piece of a formula ends: past the closing quote, whose
// doubled form stays inside ("a""b", 'O''Brien').
size_t QuotedEnd(std::string_view f, size_t open) {
  const char quote = f[open];
  size_t j = open + 1;
  while (j < f.size()) {
    if (f[j] == quote) {
      if (j + 1 < f.size() && f[j + 1] == quote) {
        j += 2;
        continue;
      }
      break;
    }
    ++j;
  }
  return std::min(j + 1, f.size());
}

// Where a bracketed piece ends, nested brackets included; inside, "'"
// escapes the next character ("Sales['[Note']]").
size_t BracketEnd(std::string_view f, size_t open) {
  size_t depth = 0, j = open;
  for (; j < f.size(); ++j) {
    if (f[j] == '\'')
      ++j;
    else if (f[j] == '[')
      ++depth;
    else if (f[j] == ']' && --depth == 0)
      break;
  }
  return std::min(j + 1, f.size());
}

}  // namespace

std::string ColumnName(uint32_t column) {
  std::string name;
  while (column > 0) {
    uint32_t rem = (column - 1) % 26;
    name.insert(name.begin(), static_cast<char>('A' + rem));
    column = (column - 1) / 26;
  }
  return name;
}

std::string CellName(uint32_t row, uint32_t column) { return ColumnName(column) + std::to_string(row); }

bool SameSheetName(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) {
    bool same = true;
    for (size_t i = 0; i < a.size() && same; ++i) {
      unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (x >= 0x80 || y >= 0x80) return rtl::AnsiSameText(rtl::Utf8ToUnicode(a), rtl::Utf8ToUnicode(b));
      if (x >= 'a' && x <= 'z') x -= 32;
      if (y >= 'a' && y <= 'z') y -= 32;
      same = x == y;
    }
    return same;
  }
  return rtl::AnsiSameText(rtl::Utf8ToUnicode(a), rtl::Utf8ToUnicode(b));
}

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentChar(char c) {
  return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '\\' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// One side of a reference: a cell (B3), a column (B) or a row (3).
struct TPart {
  bool HasColumn = false, HasRow = false;
  bool AbsColumn = false, AbsRow = false;
  int64_t Column = 0, Row = 0;
};

struct TParsedRef {
  TPart First, Second;
  bool IsRange = false;
};

// Parses one part at `pos`; returns the end or npos.
size_t ParsePart(std::string_view f, size_t pos, TPart& part) {
  size_t i = pos;
  part = TPart();
  if (i < f.size() && f[i] == '$') part.AbsColumn = true, ++i;
  size_t letters = i;
  while (i < f.size() && IsLetter(f[i]) && i - letters < 4) ++i;
  if (i > letters) {
    if (i - letters > 3) return std::string_view::npos;
    int64_t column = 0;
    for (size_t k = letters; k < i; ++k) column = column * 26 + ((f[k] | 0x20) - 'a' + 1);
    part.HasColumn = true;
    part.Column = column;
  } else if (part.AbsColumn) {
    // "$3": an absolute row
    part.AbsColumn = false;
    part.AbsRow = true;
  }
  size_t digitsStart = i;
  if (!part.AbsRow && i < f.size() && f[i] == '$' && part.HasColumn) part.AbsRow = true, ++i, digitsStart = i;
  while (i < f.size() && IsDigit(f[i]) && i - digitsStart < 8) ++i;
  if (i > digitsStart) {
    if (i - digitsStart > 7) return std::string_view::npos;
    int64_t row = 0;
    for (size_t k = digitsStart; k < i; ++k) row = row * 10 + (f[k] - '0');
    part.HasRow = true;
    part.Row = row;
  } else if (part.AbsRow) {
    return std::string_view::npos;  // "$" or "A$" without digits
  }
  if (!part.HasColumn && !part.HasRow) return std::string_view::npos;
  if (part.HasColumn && (part.Column < 1 || part.Column > kMaxColumn)) return std::string_view::npos;
  if (part.HasRow && (part.Row < 1 || part.Row > kMaxRow)) return std::string_view::npos;
  return i;
}

bool EndsReference(std::string_view f, size_t end) {
  return end >= f.size() || (!IsIdentChar(f[end]) && f[end] != '(' && f[end] != '!' && f[end] != '[');
}

// Parses a reference at `pos` (after any sheet prefix); returns its end or npos.
size_t ParseReference(std::string_view f, size_t pos, TParsedRef& ref) {
  size_t end = ParsePart(f, pos, ref.First);
  if (end == std::string_view::npos) return end;
  ref.IsRange = false;
  if (end < f.size() && f[end] == ':') {
    size_t second = ParsePart(f, end + 1, ref.Second);
    if (second != std::string_view::npos && EndsReference(f, second)) {
      bool cells = ref.First.HasColumn && ref.First.HasRow && ref.Second.HasColumn && ref.Second.HasRow;
      bool columns = ref.First.HasColumn && !ref.First.HasRow && ref.Second.HasColumn && !ref.Second.HasRow;
      bool rows = !ref.First.HasColumn && ref.First.HasRow && !ref.Second.HasColumn && ref.Second.HasRow;
      if (cells || columns || rows) {
        ref.IsRange = true;
        return second;
      }
    }
  }
  if (!(ref.First.HasColumn && ref.First.HasRow)) return std::string_view::npos;
  if (!EndsReference(f, end)) return std::string_view::npos;
  return end;
}

std::string PartText(const TPart& p) {
  std::string s;
  if (p.HasColumn) {
    if (p.AbsColumn) s += '$';
    s += ColumnName(static_cast<uint32_t>(p.Column));
  }
  if (p.HasRow) {
    if (p.AbsRow) s += '$';
    s += std::to_string(p.Row);
  }
  return s;
}

std::string RefText(const TParsedRef& ref) {
  return ref.IsRange ? PartText(ref.First) + ":" + PartText(ref.Second) : PartText(ref.First);
}

struct TRefContext {
  bool HasSheet = false;
  bool Foreign = false;     // another workbook, or a 3-D reference: never touched
  std::string Sheet;        // unquoted name
  std::string_view Prefix;  // the prefix as written, "!" included
};

// Replacement text for a reference, or nullopt to keep it as written.
using TRefVisitor = std::function<std::optional<std::string>(TParsedRef&, const TRefContext&)>;

std::string UnquoteSheet(std::string_view quoted) {
  std::string s;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    s += quoted[i];
    if (quoted[i] == '\'' && i + 2 < quoted.size() && quoted[i + 1] == '\'') ++i;
  }
  return s;
}

std::string WalkFormula(std::string_view f, const TRefVisitor& visit) {
  std::string out;
  out.reserve(f.size() + 8);
  size_t i = 0;
  bool foreignPending = false;
  auto emitReference = [&](size_t refStart, const TRefContext& ctx) -> bool {
    TParsedRef ref;
    size_t end = ParseReference(f, refStart, ref);
    if (end == std::string_view::npos) return false;
    std::optional<std::string> replacement;
    if (!ctx.Foreign) replacement = visit(ref, ctx);
    if (replacement) {
      out += *replacement;
    } else {
      out += ctx.Prefix;
      out.append(f.substr(refStart, end - refStart));
    }
    i = end;
    return true;
  };
  while (i < f.size()) {
    char c = f[i];
    if (c == '"') {
      size_t j = QuotedEnd(f, i);
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '[') {
      size_t j = BracketEnd(f, i);
      out.append(f.substr(i, j - i));
      i = j;
      // "[1]Sheet!A1": a reference into another workbook follows.
      foreignPending = i < f.size() && (IsIdentChar(f[i]) || f[i] == '\'');
      continue;
    }
    if (c == '#') {
      size_t j = i + 1;
      while (j < f.size() && (IsLetter(f[j]) || IsDigit(f[j]) || f[j] == '/' || f[j] == '_')) ++j;
      if (j < f.size() && (f[j] == '!' || f[j] == '?')) ++j;
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '\'') {
      size_t j = i + 1;
      while (j < f.size()) {
        if (f[j] == '\'') {
          if (j + 1 < f.size() && f[j + 1] == '\'') {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      if (j + 1 < f.size() && f[j + 1] == '!') {
        TRefContext ctx;
        ctx.HasSheet = true;
        ctx.Foreign = foreignPending;
        std::string_view quoted = f.substr(i, j + 1 - i);
        ctx.Sheet = UnquoteSheet(quoted);
        ctx.Foreign = ctx.Foreign || ctx.Sheet.find(':') != std::string::npos;  // 'A:B'!A1
        ctx.Prefix = f.substr(i, j + 2 - i);
        size_t save = i;
        i = j + 2;
        foreignPending = false;
        if (emitReference(i, ctx)) continue;
        out.append(f.substr(save, i - save));
        continue;
      }
      j = std::min(j + 1, f.size());
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (IsIdentChar(c)) {
      size_t j = i;
      while (j < f.size() && IsIdentChar(f[j])) ++j;
      // Sheet1!ref, or Sheet1:Sheet3!ref (3-D, left alone).
      size_t bang = std::string_view::npos;
      if (j < f.size() && f[j] == '!') {
        bang = j;
      } else if (j < f.size() && f[j] == ':') {
        size_t k = j + 1;
        while (k < f.size() && IsIdentChar(f[k])) ++k;
        if (k < f.size() && f[k] == '!' && k > j + 1) bang = k;
      }
      if (bang != std::string_view::npos && !IsDigit(c)) {
        TRefContext ctx;
        ctx.HasSheet = true;
        ctx.Foreign = foreignPending || bang != j;
        ctx.Sheet = std::string(f.substr(i, j - i));
        ctx.Prefix = f.substr(i, bang + 1 - i);
        size_t save = i;
        i = bang + 1;
        foreignPending = false;
        if (emitReference(i, ctx)) continue;
        out.append(f.substr(save, i - save));
        continue;
      }
      foreignPending = false;
      if (j < f.size() && f[j] == '(') {  // a function name
        out.append(f.substr(i, j - i));
        i = j;
        continue;
      }
      TRefContext ctx;
      size_t save = i;
      if (emitReference(i, ctx)) continue;
      i = save;
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

// Whether a name reads as a cell reference in A1 or R1C1 style ("AB12",
// "R1C1", "R", "C3"), so that a sheet of that name must be quoted.
bool ReadsAsReference(std::string_view name) {
  TPart part;
  size_t end = ParsePart(name, 0, part);
  if (end == name.size() && part.HasColumn && part.HasRow) return true;
  size_t i = 0;
  for (char letter : {'R', 'C'}) {
    if (i < name.size() && (name[i] | 0x20) == (letter | 0x20)) {
      ++i;
      while (i < name.size() && IsDigit(name[i])) ++i;
    }
  }
  return i > 0 && i == name.size();
}

}  // namespace

std::string SheetPrefix(std::string_view name) {
  bool plain = !name.empty() && !IsDigit(name[0]) && name[0] != '.' && !ReadsAsReference(name);
  for (char c : name)
    if (!(IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || static_cast<unsigned char>(c) >= 0x80)) plain = false;
  if (plain) return std::string(name) + "!";
  std::string quoted = "'";
  for (char c : name) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'!";
}

namespace {

// Shifts one coordinate by the insertion; returns false when it falls off.
bool ShiftCoordinate(int64_t& value, const TReferenceChange& change, int64_t max) {
  if (value >= change.At) value += change.Count;
  return value <= max;
}

std::optional<std::string> ShiftReference(TParsedRef& ref, const TRefContext& ctx, const TReferenceChange& change,
                                          std::string_view hostSheet) {
  std::string_view target = ctx.HasSheet ? std::string_view(ctx.Sheet) : hostSheet;
  if (target.empty() || !SameSheetName(target, change.Sheet)) return std::nullopt;
  if (change.Kind == TReferenceChange::DeleteSheet) {
    if (!ctx.HasSheet) return std::nullopt;
    return std::string("#REF!");
  }
  if (change.Kind == TReferenceChange::RenameSheet) {
    if (!ctx.HasSheet) return std::nullopt;
    return SheetPrefix(change.NewName) + RefText(ref);
  }
  bool rows = change.Kind == TReferenceChange::InsertRows;
  int64_t max = rows ? kMaxRow : kMaxColumn;
  auto coord = [&](TPart& p) -> int64_t* {
    if (rows) return p.HasRow ? &p.Row : nullptr;
    return p.HasColumn ? &p.Column : nullptr;
  };
  int64_t* first = coord(ref.First);
  int64_t* second = ref.IsRange ? coord(ref.Second) : nullptr;
  if (!first && !second) return std::nullopt;  // whole columns when rows move, and the reverse
  int64_t before1 = first ? *first : 0, before2 = second ? *second : 0;
  bool firstFits = !first || ShiftCoordinate(*first, change, max);
  bool secondFits = !second || ShiftCoordinate(*second, change, max);
  if (!firstFits) return std::string(ctx.Prefix) + "#REF!";
  if (!secondFits) *second = max;  // the range loses what went off the sheet
  if ((first ? *first : 0) == before1 && (second ? *second : 0) == before2) return std::nullopt;
  return std::string(ctx.Prefix) + RefText(ref);
}

}  // namespace

namespace {

// Functions stored with "_xlfn." in front of their names.
const std::set<std::string_view>& NewerFunctions() {
  static const std::set<std::string_view> names = {"ACOT",
                                                   "ACOTH",
                                                   "AGGREGATE",
                                                   "ARABIC",
                                                   "ARRAYTOTEXT",
                                                   "BASE",
                                                   "BETA.DIST",
                                                   "BETA.INV",
                                                   "BINOM.DIST",
                                                   "BINOM.DIST.RANGE",
                                                   "BINOM.INV",
                                                   "BITAND",
                                                   "BITLSHIFT",
                                                   "BITOR",
                                                   "BITRSHIFT",
                                                   "BITXOR",
                                                   "CEILING.MATH",
                                                   "CEILING.PRECISE",
                                                   "CHISQ.DIST",
                                                   "CHISQ.DIST.RT",
                                                   "CHISQ.INV",
                                                   "CHISQ.INV.RT",
                                                   "CHISQ.TEST",
                                                   "CHOOSECOLS",
                                                   "CHOOSEROWS",
                                                   "COMBINA",
                                                   "CONCAT",
                                                   "CONFIDENCE.NORM",
                                                   "CONFIDENCE.T",
                                                   "COT",
                                                   "COTH",
                                                   "COVARIANCE.P",
                                                   "COVARIANCE.S",
                                                   "CSC",
                                                   "CSCH",
                                                   "DAYS",
                                                   "DECIMAL",
                                                   "DROP",
                                                   "ENCODEURL",
                                                   "ERF.PRECISE",
                                                   "ERFC.PRECISE",
                                                   "EXPAND",
                                                   "EXPON.DIST",
                                                   "F.DIST",
                                                   "F.DIST.RT",
                                                   "F.INV",
                                                   "F.INV.RT",
                                                   "F.TEST",
                                                   "FILTERXML",
                                                   "FLOOR.MATH",
                                                   "FLOOR.PRECISE",
                                                   "FORECAST.ETS",
                                                   "FORECAST.ETS.CONFINT",
                                                   "FORECAST.ETS.SEASONALITY",
                                                   "FORECAST.ETS.STAT",
                                                   "FORECAST.LINEAR",
                                                   "FORMULATEXT",
                                                   "GAMMA",
                                                   "GAMMA.DIST",
                                                   "GAMMA.INV",
                                                   "GAMMALN.PRECISE",
                                                   "GAUSS",
                                                   "HSTACK",
                                                   "HYPGEOM.DIST",
                                                   "IFNA",
                                                   "IFS",
                                                   "IMCOSH",
                                                   "IMCOT",
                                                   "IMCSC",
                                                   "IMCSCH",
                                                   "IMSEC",
                                                   "IMSECH",
                                                   "IMSINH",
                                                   "IMTAN",
                                                   "ISFORMULA",
                                                   "ISOWEEKNUM",
                                                   "LOGNORM.DIST",
                                                   "LOGNORM.INV",
                                                   "MAXIFS",
                                                   "MINIFS",
                                                   "MODE.MULT",
                                                   "MODE.SNGL",
                                                   "MUNIT",
                                                   "NEGBINOM.DIST",
                                                   "NETWORKDAYS.INTL",
                                                   "NORM.DIST",
                                                   "NORM.INV",
                                                   "NORM.S.DIST",
                                                   "NORM.S.INV",
                                                   "NUMBERVALUE",
                                                   "PDURATION",
                                                   "PERCENTILE.EXC",
                                                   "PERCENTILE.INC",
                                                   "PERCENTRANK.EXC",
                                                   "PERCENTRANK.INC",
                                                   "PERMUTATIONA",
                                                   "PHI",
                                                   "POISSON.DIST",
                                                   "QUARTILE.EXC",
                                                   "QUARTILE.INC",
                                                   "RANDARRAY",
                                                   "RANK.AVG",
                                                   "RANK.EQ",
                                                   "RRI",
                                                   "SEC",
                                                   "SECH",
                                                   "SEQUENCE",
                                                   "SHEET",
                                                   "SHEETS",
                                                   "SKEW.P",
                                                   "SORTBY",
                                                   "STDEV.P",
                                                   "STDEV.S",
                                                   "SWITCH",
                                                   "T.DIST",
                                                   "T.DIST.2T",
                                                   "T.DIST.RT",
                                                   "T.INV",
                                                   "T.INV.2T",
                                                   "T.TEST",
                                                   "TAKE",
                                                   "TEXTAFTER",
                                                   "TEXTBEFORE",
                                                   "TEXTJOIN",
                                                   "TEXTSPLIT",
                                                   "TOCOL",
                                                   "TOROW",
                                                   "UNICHAR",
                                                   "UNICODE",
                                                   "UNIQUE",
                                                   "VALUETOTEXT",
                                                   "VAR.P",
                                                   "VAR.S",
                                                   "VSTACK",
                                                   "WEBSERVICE",
                                                   "WEIBULL.DIST",
                                                   "WORKDAY.INTL",
                                                   "WRAPCOLS",
                                                   "WRAPROWS",
                                                   "XLOOKUP",
                                                   "XMATCH",
                                                   "XOR",
                                                   "Z.TEST"};
  return names;
}

// Functions stored with "_xlfn._xlws." in front of their names.
const std::set<std::string_view>& NewerWorksheetFunctions() {
  static const std::set<std::string_view> names = {"FILTER", "SORT"};
  return names;
}

// Calls `visit` for every name in a formula outside text, quoted sheet names
// and brackets, with the position after the name. A returned text replaces
// the name and whatever `visit` consumed by moving that position on.
using TNameVisitor = std::function<std::optional<std::string>(std::string_view name, size_t& end)>;

std::string RewriteNames(std::string_view f, const TNameVisitor& visit) {
  std::string out;
  out.reserve(f.size() + 16);
  size_t i = 0;
  while (i < f.size()) {
    char c = f[i];
    if (c == '"' || c == '\'') {
      size_t j = QuotedEnd(f, i);
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '[') {  // structured reference or workbook index
      size_t j = BracketEnd(f, i);
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (!IsIdentChar(c)) {
      out += c;
      ++i;
      continue;
    }
    size_t j = i;
    while (j < f.size() && IsIdentChar(f[j])) ++j;
    size_t end = j;
    if (std::optional<std::string> replacement = visit(f.substr(i, j - i), end)) {
      out += *replacement;
      i = end;
      continue;
    }
    out.append(f.substr(i, j - i));
    i = j;
  }
  return out;
}

// "Table[...]" for the tables of a deleted sheet becomes #REF!.
std::string DropTableReferences(std::string_view formula, const std::vector<std::string>& tables) {
  return RewriteNames(formula, [&](std::string_view name, size_t& end) -> std::optional<std::string> {
    if (end >= formula.size() || formula[end] != '[') return std::nullopt;
    for (const std::string& table : tables)
      if (SameSheetName(table, name)) {  // table names ignore case as sheet names do
        end = BracketEnd(formula, end);
        return std::string("#REF!");
      }
    return std::nullopt;
  });
}

}  // namespace

std::string RenameTableReferences(std::string_view formula, std::string_view from, std::string_view to) {
  return RewriteNames(formula, [&](std::string_view name, size_t& end) -> std::optional<std::string> {
    if (end >= formula.size() || formula[end] != '[' || !SameSheetName(name, from)) return std::nullopt;
    return std::string(to);
  });
}

bool ParseCellRef(std::string_view text, TCellRef& ref) {
  TPart part;
  size_t end = ParsePart(text, 0, part);
  if (end != text.size() || !part.HasColumn || !part.HasRow) return false;
  ref.Row = static_cast<uint32_t>(part.Row);
  ref.Column = static_cast<uint32_t>(part.Column);
  return true;
}

bool ParseRangeRef(std::string_view text, TRangeRef& range) {
  TParsedRef ref;
  size_t end = ParseReference(text, 0, ref);
  if (end != text.size()) return false;
  auto take = [](const TPart& p, TCellRef& cell, bool last) {
    cell.Column = p.HasColumn ? static_cast<uint32_t>(p.Column) : (last ? kMaxColumn : 1);
    cell.Row = p.HasRow ? static_cast<uint32_t>(p.Row) : (last ? kMaxRow : 1);
  };
  take(ref.First, range.First, false);
  take(ref.IsRange ? ref.Second : ref.First, range.Last, true);
  if (!ref.IsRange) range.Last = range.First;
  if (range.First.Row > range.Last.Row) std::swap(range.First.Row, range.Last.Row);
  if (range.First.Column > range.Last.Column) std::swap(range.First.Column, range.Last.Column);
  return true;
}

std::string RangeName(const TRangeRef& range) {
  std::string first = CellName(range.First.Row, range.First.Column);
  if (range.First.Row == range.Last.Row && range.First.Column == range.Last.Column) return first;
  return first + ":" + CellName(range.Last.Row, range.Last.Column);
}

std::string ApplyReferenceChange(std::string_view formula, const TReferenceChange& change, std::string_view hostSheet) {
  if (change.Kind == TReferenceChange::DeleteSheet && !change.Tables.empty()) {
    std::string withoutTables = DropTableReferences(formula, change.Tables);
    TReferenceChange sheetOnly{change.Kind, change.Sheet, change.At, change.Count, {}};
    return ApplyReferenceChange(withoutTables, sheetOnly, hostSheet);
  }
  return WalkFormula(
      formula, [&](TParsedRef& ref, const TRefContext& ctx) { return ShiftReference(ref, ctx, change, hostSheet); });
}

std::string TranslateFormula(std::string_view formula, int32_t rows, int32_t columns) {
  return WalkFormula(formula, [&](TParsedRef& ref, const TRefContext& ctx) -> std::optional<std::string> {
    bool cut = false;
    auto move = [&](TPart& p) {
      if (p.HasRow && !p.AbsRow) p.Row += rows;
      if (p.HasColumn && !p.AbsColumn) p.Column += columns;
      if ((p.HasRow && (p.Row < 1 || p.Row > kMaxRow)) || (p.HasColumn && (p.Column < 1 || p.Column > kMaxColumn)))
        cut = true;
    };
    move(ref.First);
    if (ref.IsRange) move(ref.Second);
    if (cut) return std::string(ctx.Prefix) + "#REF!";
    return std::string(ctx.Prefix) + RefText(ref);
  });
}

std::string QualifyNewerFunctions(std::string_view formula) {
  return RewriteNames(formula, [&](std::string_view name, size_t& end) -> std::optional<std::string> {
    if (end >= formula.size() || formula[end] != '(' || name.size() > 32) return std::nullopt;
    std::string upper = rtl::UnicodeToUtf8(rtl::AsciiUpperCase(rtl::Utf8ToUnicode(name)));
    if (NewerFunctions().count(upper)) return "_xlfn." + upper;
    if (NewerWorksheetFunctions().count(upper)) return "_xlfn._xlws." + upper;
    return std::nullopt;
  });
}

std::optional<std::string> ApplyChangeToRange(std::string_view range, const TReferenceChange& change) {
  std::string shifted = ApplyReferenceChange(range, change, change.Sheet);
  if (shifted.find("#REF!") != std::string::npos) return std::nullopt;
  return shifted;
}

std::string ApplyChangeToRangeList(std::string_view list, const TReferenceChange& change) {
  std::string out;
  size_t i = 0;
  while (i < list.size()) {
    size_t j = list.find(' ', i);
    if (j == std::string_view::npos) j = list.size();
    if (j > i) {
      if (auto shifted = ApplyChangeToRange(list.substr(i, j - i), change)) {
        if (!out.empty()) out += ' ';
        out += *shifted;
      }
    }
    i = j + 1;
  }
  return out;
}

namespace {

// A column name as a structured reference holds it: "'" before [ ] # '.
std::string EscapeColumnName(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '[' || c == ']' || c == '#' || c == '\'') out += '\'';
    out += c;
  }
  return out;
}

std::string UnescapeColumnName(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// The name where a specifier may hold it without brackets of its own
// ("[@Client]", "Sales[Client]"); others need them ("[@[Unit price]]").
std::string BareColumnName(std::string_view name) {
  bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return IsLetter(c) || IsDigit(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
  });
  return plain ? std::string(name) : "[" + EscapeColumnName(name) + "]";
}

// The bracketed specifier of a structured reference ("[...]", outer
// brackets included) with the renamed column's name replaced.
std::string RenameInSpecifier(std::string_view spec, const TColumnRename& rename) {
  auto matches = [&](std::string_view escaped) { return SameSheetName(UnescapeColumnName(escaped), rename.OldName); };
  std::string_view inner = spec.substr(1, spec.size() >= 2 && spec.back() == ']' ? spec.size() - 2 : spec.size() - 1);
  if (inner.empty() || inner[0] == '#') return std::string(spec);
  // Items: "[[#This Row],[Customer]]", "[[Customer]:[Amount]]", "[@[Customer]]".
  auto items = [&](std::string_view list) {
    std::string out;
    for (size_t i = 0; i < list.size();) {
      if (list[i] != '[') {
        out += list[i++];
        continue;
      }
      size_t end = BracketEnd(list, i);
      std::string_view item = list.substr(i + 1, end - i - 2);
      if (!item.empty() && item[0] != '#' && end - i >= 2 && list[end - 1] == ']' && matches(item))
        out += "[" + EscapeColumnName(rename.NewName) + "]";
      else
        out.append(list.substr(i, end - i));
      i = end;
    }
    return out;
  };
  if (inner[0] == '[') return "[" + items(inner) + "]";
  if (inner[0] == '@') {
    std::string_view rest = inner.substr(1);
    if (!rest.empty() && rest[0] == '[') return "[@" + items(rest) + "]";
    if (!rest.empty() && matches(rest)) return "[@" + BareColumnName(rename.NewName) + "]";
    return std::string(spec);
  }
  if (matches(inner)) return "[" + BareColumnName(rename.NewName) + "]";
  return std::string(spec);
}

}  // namespace

std::string RenameTableColumn(std::string_view f, const TColumnRename& rename, bool inTable) {
  if (f.find('[') == std::string_view::npos) return std::string(f);
  std::string out;
  out.reserve(f.size() + 16);
  size_t i = 0;
  while (i < f.size()) {
    char c = f[i];
    if (c == '"' || c == '\'') {
      size_t j = QuotedEnd(f, i);
      out.append(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '[') {
      // A specifier without a table name, or a workbook index ("[1]Sheet!A1").
      size_t j = BracketEnd(f, i);
      bool workbook = j < f.size() && (IsIdentChar(f[j]) || f[j] == '\'');
      out += inTable && !workbook ? RenameInSpecifier(f.substr(i, j - i), rename) : std::string(f.substr(i, j - i));
      i = j;
      continue;
    }
    if (!IsIdentChar(c)) {
      out += c;
      ++i;
      continue;
    }
    size_t j = i;
    while (j < f.size() && IsIdentChar(f[j])) ++j;
    out.append(f.substr(i, j - i));
    if (j < f.size() && f[j] == '[') {
      size_t end = BracketEnd(f, j);
      std::string_view name = f.substr(i, j - i);
      bool ours = std::any_of(rename.Table.begin(), rename.Table.end(),
                              [&](const std::string& table) { return SameSheetName(table, name); });
      out += ours ? RenameInSpecifier(f.substr(j, end - j), rename) : std::string(f.substr(j, end - j));
      j = end;
    }
    i = j;
  }
  return out;
}

}  // namespace spreadsheet
