#include "spreadsheet/Workbook.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "rtl/Locale.h"
#include "spreadsheet/References.h"
#include "spreadsheet/Xml.h"
#include "spreadsheet/calc/Formula.h"

namespace spreadsheet {

using rtl::Variant;

namespace {

const std::vector<std::string_view>& WorkbookChildOrder() {
  static const std::vector<std::string_view> order = {"fileVersion",    "fileSharing",
                                                      "workbookPr",     "workbookProtection",
                                                      "bookViews",      "sheets",
                                                      "functionGroups", "externalReferences",
                                                      "definedNames",   "calcPr",
                                                      "oleSize",        "customWorkbookViews",
                                                      "pivotCaches",    "smartTagPr",
                                                      "smartTagTypes",  "webPublishing",
                                                      "fileRecoveryPr", "webPublishObjects",
                                                      "extLst"};
  return order;
}

const char* const kContentTypesPart = "[Content_Types].xml";

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

struct TErrorCode {
  const char* Text;
  int Code;
};
const TErrorCode kErrorCodes[] = {{"#NULL!", 2000}, {"#DIV/0!", 2007}, {"#VALUE!", 2015}, {"#REF!", 2023},
                                  {"#NAME?", 2029}, {"#NUM!", 2036},   {"#N/A", 2042},    {"#GETTING_DATA", 2043}};

}  // namespace

Variant ErrorVariant(const std::string& text) {
  for (const auto& e : kErrorCodes)
    if (text == e.Text) return Variant::FromError(rtl::MakeCellError(e.Code));
  return Variant::FromError(rtl::MakeCellError(2015));
}

namespace {

std::string ErrorText(int32_t code) {
  int low = code & 0xFFFF;
  for (const auto& e : kErrorCodes)
    if (low == e.Code) return e.Text;
  return "#VALUE!";
}

// Keeps what the application keeps of a typed number: its first 15
// significant digits; later ones read as zeros.
rtl::UnicodeString FifteenDigits(std::u16string_view text) {
  rtl::UnicodeString out(text);
  int significant = 0;
  bool exponent = false;
  for (char16_t& c : out) {
    if (c == u'e' || c == u'E') exponent = true;
    if (exponent || c < u'0' || c > u'9') continue;
    if (significant == 0 && c == u'0') continue;
    if (++significant > 15) c = u'0';
  }
  return out;
}

}  // namespace

// The text the application makes of a value written into a table's header
// row: the column's name ("" for none).
std::string HeaderText(const Variant& input) {
  const Variant& value = input.Deref();
  switch (value.VType()) {
    case rtl::varEmpty:
    case rtl::varNull: return {};
    case rtl::varOleStr:
    case rtl::varUString:
    case rtl::varString: {
      std::string text = rtl::UnicodeToUtf8(value.AsUnicodeString());
      return !text.empty() && text[0] == '\'' ? text.substr(1) : text;
    }
    case rtl::varBoolean: return value.VBoolean() ? "TRUE" : "FALSE";
    case rtl::varDate: {
      double date = value.VDate();
      if (!rtl::IsCalendarDate(date)) return rtl::UnicodeToUtf8(rtl::FloatToStrGeneral(date));
      return rtl::UnicodeToUtf8(date == std::trunc(date) ? rtl::DateToStr(date) : rtl::DateTimeToStr(date));
    }
    case rtl::varError: return ErrorText(value.VError());
    default: return rtl::UnicodeToUtf8(rtl::FloatToStrGeneral(value.AsDouble()));
  }
}

bool IsDateFormatCode(std::string_view code) {
  bool inQuotes = false;
  for (size_t i = 0; i < code.size(); ++i) {
    char c = code[i];
    if (inQuotes) {
      if (c == '"') inQuotes = false;
      continue;
    }
    switch (c) {
      case '"': inQuotes = true; break;
      case '\\':
      case '_':
      case '*': ++i; break;
      case ';': return false;  // only the first section decides
      case '[': {
        size_t end = code.find(']', i);
        if (end == std::string_view::npos) return false;
        std::string inner = Lower(std::string(code.substr(i + 1, end - i - 1)));
        if (!inner.empty() && (inner[0] == 'h' || inner[0] == 'm' || inner[0] == 's') &&
            inner.find_first_not_of(inner[0]) == std::string::npos)
          return true;  // elapsed time
        i = end;
        break;
      }
      case 'd':
      case 'D':
      case 'm':
      case 'M':
      case 'y':
      case 'Y':
      case 'h':
      case 'H':
      case 's':
      case 'S': return true;
      default: break;
    }
  }
  return false;
}

namespace {

// Whether the application would take the text as a formula (the parser that
// computes formulas decides). Refused text written anyway would make the
// application repair the file.
bool FormulaIsValid(std::string_view formula) {
  calc::TFormula parsed;
  std::string error;
  return calc::ParseFormula(formula, parsed, error);
}

// A typed formula as the application shows it once entered: function
// names, references and TRUE/FALSE in upper case. Text, quoted sheet names
// and bracketed parts (table references, other workbooks) stay as typed.
// The formula has been parsed already, so its text is well formed.
std::string NormaliseTypedFormula(std::string_view typed) {
  std::string f = TranslateFormula(typed, 0, 0);  // references rewritten as the file writes them
  auto identChar = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
           c == '\\' || static_cast<unsigned char>(c) >= 0x80;
  };
  size_t i = 0;
  int brackets = 0;
  while (i < f.size()) {
    char c = f[i];
    if (c == '"' || c == '\'') {
      for (++i; i < f.size(); ++i)
        if (f[i] == c) {
          if (i + 1 < f.size() && f[i + 1] == c) {
            ++i;
            continue;
          }
          break;
        }
      ++i;
      continue;
    }
    if (c == '[' || c == ']') {
      brackets += c == '[' ? 1 : -1;
      ++i;
      continue;
    }
    if (brackets > 0 || !identChar(c)) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < f.size() && identChar(f[end])) ++end;
    std::string_view name(f.data() + i, end - i);
    bool call = end < f.size() && f[end] == '(';
    bool logical = !call && (end == f.size() || (f[end] != '!' && f[end] != '[')) &&
                   (calc::SameText(name, "TRUE") || calc::SameText(name, "FALSE"));
    if (call || logical)
      for (size_t k = i; k < end; ++k) f[k] = calc::AsciiUpper(f[k]);
    i = end;
  }
  return f;
}

}  // namespace

namespace {

// "2026-11-03", "2026-11-03 14:30" or "2026-11-03T14:30:15": the one date
// form every locale reads the same way.
bool ReadIsoDate(std::u16string_view text, double& serial, bool& hasTime) {
  size_t i = 0;
  auto number = [&](size_t minDigits, size_t maxDigits, int& out) {
    size_t start = i;
    out = 0;
    while (i < text.size() && i - start < maxDigits && text[i] >= u'0' && text[i] <= u'9')
      out = out * 10 + (text[i++] - u'0');
    return i - start >= minDigits;
  };
  auto expect = [&](char16_t c) { return i < text.size() && text[i++] == c; };
  int year, month, day, hour = 0, minute = 0, second = 0;
  if (!number(4, 4, year) || !expect(u'-') || !number(1, 2, month) || !expect(u'-') || !number(1, 2, day)) return false;
  hasTime = i < text.size();
  if (hasTime) {
    if (text[i] != u' ' && text[i] != u'T') return false;
    ++i;
    if (!number(1, 2, hour) || !expect(u':') || !number(2, 2, minute)) return false;
    if (i < text.size() && (!expect(u':') || !number(2, 2, second))) return false;
    if (i != text.size()) return false;
  }
  double date, time = 0;
  if (!rtl::TryEncodeDate(year, month, day, date)) return false;
  if (hasTime && !rtl::TryEncodeTime(hour, minute, second, 0, time)) return false;
  serial = date + time;
  return true;
}

}  // namespace

namespace {

// The error values a cell can be given by typing them.
bool ReadErrorLiteral(std::u16string_view text, std::string& out) {
  std::string upper = rtl::UnicodeToUtf8(rtl::AsciiUpperCase(rtl::UnicodeString(text)));
  switch (calc::ErrorFromText(upper)) {
    case calc::TErrorValue::Null:
    case calc::TErrorValue::Div0:
    case calc::TErrorValue::Value:
    case calc::TErrorValue::Ref:
    case calc::TErrorValue::Name:
    case calc::TErrorValue::Num:
    case calc::TErrorValue::NA: out = upper; return true;
    default: return false;
  }
}

// The currency format the application gives a typed amount, with the
// locale's symbol where the locale puts it, and cents when they were typed.
std::string CurrencyFormatCode(bool cents) {
  const rtl::TFormatSettings& fs = rtl::FormatSettings();
  std::string symbol = rtl::UnicodeToUtf8(fs.CurrencyString), number = cents ? "#,##0.00" : "#,##0";
  switch (fs.CurrencyFormat) {
    case 1: return number + "\"" + symbol + "\"";
    case 2: return "\"" + symbol + " \"" + number;
    case 3: return number + "\" " + symbol + "\"";
    default: return "\"" + symbol + "\"" + number;
  }
}

// Takes the locale's currency symbol off an amount, on the side where the
// locale writes it ("$12", "-$12", "12 €"); false when it has none there.
bool TakeCurrencySymbol(std::u16string& text) {
  const rtl::UnicodeString& symbol = rtl::FormatSettings().CurrencyString;
  bool before = rtl::FormatSettings().CurrencyFormat % 2 == 0;
  if (symbol.empty()) return false;
  std::u16string_view t = text;
  bool minus = !t.empty() && t.front() == u'-';
  if (minus) t.remove_prefix(1);
  if (before && t.size() > symbol.size() && t.substr(0, symbol.size()) == symbol) {
    t.remove_prefix(symbol.size());
    while (!t.empty() && t.front() == u' ') t.remove_prefix(1);
  } else if (!before && t.size() > symbol.size() && t.substr(t.size() - symbol.size()) == symbol) {
    t.remove_suffix(symbol.size());
    while (!t.empty() && t.back() == u' ') t.remove_suffix(1);
  } else {
    return false;
  }
  text = (minus ? u"-" : u"") + std::u16string(t);
  return true;
}

}  // namespace

namespace {

// The two inputs a data job types most, decided without a copy: a plain
// decimal number ("-12", "3,25" with a decimal comma) and a text that
// begins with a letter and can be nothing else. False for anything else.
bool ReadPlainInput(std::u16string_view input, TTypedInput& result) {
  const rtl::TFormatSettings& fs = rtl::FormatSettings();
  const char16_t first = input[0];
  if ((first >= u'a' && first <= u'z') || (first >= u'A' && first <= u'Z')) {
    // A letter cannot begin a number, a date or an error; TRUE, FALSE, a
    // trailing blank (trimmed away) and a currency symbol made of letters
    // ("kr 12") take the full reading.
    if (input.back() <= u' ') return false;
    if (input.size() == 4 || input.size() == 5) return false;
    for (char16_t c : fs.CurrencyString)
      if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) return false;
    result.Kind = TTypedInput::tiText;
    result.Text = rtl::UnicodeToUtf8(input);
    return true;
  }
  // -?digits(separator digits)?, fifteen significant digits at most.
  if (input.size() > 24 || fs.DecimalSeparator > 0x7F || fs.DecimalSeparator == fs.ThousandSeparator) return false;
  char ascii[25];
  size_t i = 0, digits = 0, significant = 0;
  bool separator = false;
  if (first == u'-') ascii[i++] = '-';
  for (size_t start = i; i < input.size(); ++i) {
    const char16_t c = input[i];
    if (c >= u'0' && c <= u'9') {
      ascii[i] = static_cast<char>(c);
      ++digits;
      if (significant || c != u'0') ++significant;
    } else if (c == fs.DecimalSeparator && !separator && i > start && i + 1 < input.size()) {
      ascii[i] = '.';
      separator = true;
    } else {
      return false;
    }
  }
  if (digits == 0 || significant > 15) return false;
  double number;
  if (std::from_chars(ascii, ascii + i, number).ec != std::errc()) return false;
  result.Kind = TTypedInput::tiNumber;
  result.Number = number;
  return true;
}

}  // namespace

TTypedInput ReadTypedInput(std::u16string_view input) {
  TTypedInput result;
  if (!input.empty() && ReadPlainInput(input, result)) return result;
  return ReadTypedInputInFull(rtl::UnicodeString(input));
}

TTypedInput ReadTypedInputInFull(const rtl::UnicodeString& input) {
  TTypedInput result;
  if (input.empty()) {
    result.Kind = TTypedInput::tiEmpty;
    return result;
  }
  if (input[0] == u'\'') {
    result.Text = rtl::UnicodeToUtf8(std::u16string_view(input).substr(1));
    result.QuotePrefix = true;
    return result;
  }
  if (input.size() > 1 && input[0] == u'=') {
    result.Kind = TTypedInput::tiFormula;
    result.Text = rtl::UnicodeToUtf8(std::u16string_view(input).substr(1));
    return result;
  }
  rtl::UnicodeString trimmed = rtl::Trim(input);
  if (rtl::AsciiUpperCase(trimmed) == u"TRUE" || rtl::AsciiUpperCase(trimmed) == u"FALSE") {
    result.Kind = TTypedInput::tiBoolean;
    result.Boolean = rtl::AsciiUpperCase(trimmed) == u"TRUE";
    return result;
  }
  if (ReadErrorLiteral(trimmed, result.Text)) {
    result.Kind = TTypedInput::tiError;
    return result;
  }
  if (ReadIsoDate(trimmed, result.Number, result.HasTime)) {
    result.Kind = TTypedInput::tiDate;
    return result;
  }
  const rtl::TFormatSettings& fs = rtl::FormatSettings();
  // "(12)" is -12, as accountants write it.
  std::u16string body = trimmed;
  bool parenthesised = body.size() > 2 && body.front() == u'(' && body.back() == u')';
  if (parenthesised) body = body.substr(1, body.size() - 2);
  bool currency = TakeCurrencySymbol(body);
  bool percent = !currency && !body.empty() && body.back() == u'%';
  if (percent) body.pop_back();
  double number;
  if (!body.empty() && !(parenthesised && (body.front() == u'-' || body.front() == u'+')) &&
      rtl::TryTextToDouble(FifteenDigits(body), number, fs.DecimalSeparator, fs.ThousandSeparator) &&
      std::isfinite(number)) {
    result.Kind = percent ? TTypedInput::tiPercent : TTypedInput::tiNumber;
    result.Number = (percent ? number / 100 : number) * (parenthesised ? -1 : 1);
    if (currency)
      result.Format = CurrencyFormatCode(body.find(fs.DecimalSeparator) != std::u16string::npos);
    else if (body.find_first_of(u"eE") != std::u16string::npos)
      result.Format = "0.00E+00";
    return result;
  }
  result.Text = rtl::UnicodeToUtf8(input);
  return result;
}

// --- Opening ------------------------------------------------------------------------

TWorkbookFile::TWorkbookFile(const std::string& path) : FPath(path) {
  auto fail = [&](const std::string& reason) {
    return EWorkbookError(rtl::FormatText(SCannotOpen, {rtl::Utf8ToUnicode(path), rtl::Utf8ToUnicode(reason)}));
  };
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw fail(rtl::UnicodeToUtf8(rtl::SysErrorMessage(errno)));
  if (S_ISDIR(st.st_mode)) throw fail(rtl::UnicodeToUtf8(rtl::SysErrorMessage(EISDIR)));
  try {
    FGuard = std::make_unique<TWorkbookGuard>(path);
  } catch (const EPackageError& e) {
    throw fail(rtl::UnicodeToUtf8(e.Message()));
  }
  std::string lower = Lower(path);
  bool legacy = lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".xls") == 0;
  try {
    FPackage = std::make_unique<TPackage>(path);
  } catch (const EPackageError& e) {
    if (legacy) throw fail(SLegacyFormat);
    std::string reason = rtl::UnicodeToUtf8(e.Message());
    throw fail(reason == "the file is not a zip package" ? SNotWorkbook : reason);
  }
  try {
    if (!FPackage->Has("_rels/.rels")) throw fail(legacy ? SLegacyFormat : SNotWorkbook);
    pugi::xml_document rootRels;
    ParsePart(rootRels, FPackage->Read("_rels/.rels"), "_rels/.rels");
    for (const TRelationship& rel : ReadRelationships(rootRels))
      if (HasType(rel, "/officeDocument") && !rel.External) FWorkbookPart = ResolveTarget("", rel.Target);
    if (FWorkbookPart.empty() || !FPackage->Has(FWorkbookPart)) throw fail(SNotWorkbook);
    if (Lower(FWorkbookPart).size() < 4 || Lower(FWorkbookPart).compare(FWorkbookPart.size() - 4, 4, ".xml") != 0)
      throw fail(SBinaryFormat);  // .xlsb: a package of binary parts
    pugi::xml_node root = Part(FWorkbookPart).Doc->document_element();
    if (LocalName(root) != "workbook") throw fail(SNotWorkbook);

    std::map<std::string, TRelationship> rels;
    std::string relsName = RelsPartOf(FWorkbookPart);
    if (HasPart(relsName))
      for (const TRelationship& rel : ReadRelationships(*Part(relsName).Doc)) rels[rel.Id] = rel;
    for (pugi::xml_node s : Children(Child(root, "sheets"), "sheet")) {
      auto sheet = std::make_shared<TSheet>();
      sheet->Name = s.attribute("name").value();
      sheet->SheetId = s.attribute("sheetId").as_uint();
      sheet->RelId = RelIdAttribute(s).value();
      auto rel = rels.find(sheet->RelId);
      if (rel == rels.end()) throw fail("sheet \"" + sheet->Name + "\" has no part");
      sheet->PartName = ResolveTarget(FWorkbookPart, rel->second.Target);
      sheet->IsWorksheet = HasType(rel->second, "/worksheet");
      FOpenedSheetNames.push_back({sheet->Name, sheet->IsWorksheet});
      FSheets.push_back(std::move(sheet));
    }
    if (FSheets.empty()) throw fail(SNotWorkbook);
    pugi::xml_node view = Child(Child(root, "bookViews"), "workbookView");
    FActiveTab = view ? view.attribute("activeTab").as_int() : 0;
    if (FActiveTab < 0 || FActiveTab >= static_cast<int>(FSheets.size())) FActiveTab = 0;
    FOriginalActive = FSheets[static_cast<size_t>(FActiveTab)];
  } catch (const EPackageError& e) {
    throw fail(rtl::UnicodeToUtf8(e.Message()));
  }
}

std::string TWorkbookFile::Name() const {
  size_t slash = FPath.rfind('/');
  return slash == std::string::npos ? FPath : FPath.substr(slash + 1);
}

TWorkbookFile::TPart& TWorkbookFile::Part(const std::string& name) {
  auto it = FParts.find(name);
  if (it != FParts.end()) return it->second;
  TPart part;
  part.Name = name;
  part.Doc = std::make_unique<pugi::xml_document>();
  try {
    ParsePart(*part.Doc, FPackage->Read(name), name);
  } catch (const EPackageError& e) {
    throw EWorkbookError(rtl::FormatText(SCannotOpen, {rtl::Utf8ToUnicode(FPath), e.Message()}));
  }
  return FParts.emplace(name, std::move(part)).first->second;
}

std::vector<std::shared_ptr<TSheet>> TWorkbookFile::Worksheets() const {
  std::vector<std::shared_ptr<TSheet>> out;
  for (const auto& s : FSheets)
    if (s->IsWorksheet) out.push_back(s);
  return out;
}

int TWorkbookFile::IndexOf(const TSheet& sheet) const {
  for (size_t i = 0; i < FSheets.size(); ++i)
    if (FSheets[i].get() == &sheet) return static_cast<int>(i);
  return -1;
}

std::shared_ptr<TSheet> TWorkbookFile::ActiveSheet() const { return FSheets[static_cast<size_t>(FActiveTab)]; }

void TWorkbookFile::Select(const TSheet& sheet) {
  int index = IndexOf(sheet);
  if (index < 0 || index == FActiveTab) return;
  FActiveTab = index;
  FActiveChanged = true;
}

void TWorkbookFile::EnsureLoaded(TSheet& sheet) {
  if (sheet.Loaded) return;
  try {
    sheet.Load(FPackage->Reader(sheet.PartName));
    NoteSharedCells(sheet);
  } catch (const EPackageError& e) {
    // Parts are read when first used; one that cannot be read is reported
    // as opening is, naming the file.
    throw EWorkbookError(rtl::FormatText(SCannotOpen, {rtl::Utf8ToUnicode(FPath), e.Message()}));
  }
}

void TWorkbookFile::LoadAll() {
  for (auto& s : FSheets) EnsureLoaded(*s);
}

// --- Strings and styles -------------------------------------------------------------

const std::string& TWorkbookFile::SharedString(uint32_t index) {
  if (!FSharedLoaded) {
    std::string relsName = RelsPartOf(FWorkbookPart);
    if (HasPart(relsName)) {
      for (const TRelationship& rel : ReadRelationships(*Part(relsName).Doc)) {
        if (!HasType(rel, "/sharedStrings")) continue;
        std::string name = ResolveTarget(FWorkbookPart, rel.Target);
        if (!HasPart(name)) continue;
        pugi::xml_document doc;  // read into text a batch at a time, not kept as a tree
        try {
          ParsePartStreaming(doc, FPackage->Reader(name), name, "sst", "si", [&](const pugi::xml_node& si) {
            if (LocalName(si) == "si") FSharedStrings.push_back(FlattenText(si));
          });
        } catch (const EPackageError& e) {
          // Not read is not empty: every later use fails the same way.
          FSharedStrings = {};
          throw EWorkbookError(rtl::FormatText(SCannotOpen, {rtl::Utf8ToUnicode(FPath), e.Message()}));
        }
      }
    }
    FSharedLoaded = true;
  }
  static const std::string empty;
  return index < FSharedStrings.size() ? FSharedStrings[index] : empty;
}

void TWorkbookFile::LoadStyles() {
  if (FStylesLoaded) return;
  FStylesLoaded = true;
  std::string relsName = RelsPartOf(FWorkbookPart);
  if (!HasPart(relsName)) return;
  for (const TRelationship& rel : ReadRelationships(*Part(relsName).Doc))
    if (HasType(rel, "/styles")) FStylesPart = ResolveTarget(FWorkbookPart, rel.Target);
  if (FStylesPart.empty() || !HasPart(FStylesPart)) {
    FStylesPart.clear();
    return;
  }
  pugi::xml_node root = Part(FStylesPart).Doc->document_element();
  for (pugi::xml_node f : Children(Child(root, "numFmts"), "numFmt"))
    FNumFmts[f.attribute("numFmtId").as_uint()] = f.attribute("formatCode").value();
  FCellXfs = Children(Child(root, "cellXfs"), "xf");
  FStyleKinds.assign(FCellXfs.size(), -1);
}

std::string TWorkbookFile::NumberFormatOf(uint32_t style) {
  LoadStyles();
  if (style >= FCellXfs.size()) return "General";
  uint32_t id = FCellXfs[style].attribute("numFmtId").as_uint();
  auto it = FNumFmts.find(id);
  if (it != FNumFmts.end()) return it->second;
  return id == 0 ? "General" : "#" + std::to_string(id);
}

// What the number format of a style makes of a value, worked out once a
// style: every value written asks.
int8_t TWorkbookFile::StyleKind(uint32_t style) {
  LoadStyles();
  if (style >= FCellXfs.size()) return 0;
  if (FStyleKinds[style] >= 0) return FStyleKinds[style];
  uint32_t id = FCellXfs[style].attribute("numFmtId").as_uint();
  int8_t kind = 0;
  if (auto it = FNumFmts.find(id); it != FNumFmts.end()) {
    if (IsDateFormatCode(it->second)) kind |= kDateStyle;
    if (it->second == "@") kind |= kTextStyle;
  } else {
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58) ||
        (id >= 71 && id <= 81))
      kind |= kDateStyle;
    if (id == 49) kind |= kTextStyle;
  }
  FStyleKinds[style] = kind;
  return kind;
}

bool TWorkbookFile::IsDateStyle(uint32_t style) { return (StyleKind(style) & kDateStyle) != 0; }

bool TWorkbookFile::IsTextStyle(uint32_t style) { return (StyleKind(style) & kTextStyle) != 0; }

// A style like `style` but with the given built-in number format (numFmtId,
// -1 to keep) and locked state (-1 to keep); added to cellXfs once and shared.
uint32_t TWorkbookFile::StyleWith(uint32_t style, const std::string& numFmtId, int lockedState, int quotePrefix) {
  LoadStyles();
  if (FStylesPart.empty()) throw EWorkbookError(rtl::UnicodeString(SNoStyles));
  if (style >= FCellXfs.size()) style = 0;
  if (FCellXfs.empty()) throw EWorkbookError(rtl::UnicodeString(SNoStyles));
  std::string key = std::to_string(style) + "|" + numFmtId + "|" + std::to_string(lockedState) + "|" +
                    std::to_string(quotePrefix);
  if (auto it = FDerivedStyles.find(key); it != FDerivedStyles.end()) return it->second;
  pugi::xml_node source = FCellXfs[style];
  pugi::xml_node cellXfs = source.parent();
  pugi::xml_node xf = cellXfs.append_copy(source);
  auto set = [&](const char* name, const std::string& value) {
    if (!xf.attribute(name)) xf.append_attribute(name);
    xf.attribute(name).set_value(value.c_str());
  };
  if (!numFmtId.empty()) {
    set("numFmtId", numFmtId);
    set("applyNumberFormat", "1");
  }
  if (lockedState >= 0) {
    std::string prefix = PrefixOf(xf);
    pugi::xml_node protection = Child(xf, "protection");
    if (!protection) {
      pugi::xml_node ext = Child(xf, "extLst");
      protection = ext ? xf.insert_child_before((prefix + "protection").c_str(), ext)
                       : xf.append_child((prefix + "protection").c_str());
    }
    if (!protection.attribute("locked")) protection.append_attribute("locked");
    protection.attribute("locked").set_value(lockedState ? "1" : "0");
    set("applyProtection", "1");
  }
  if (quotePrefix == 1) set("quotePrefix", "1");
  if (quotePrefix == 0) xf.remove_attribute("quotePrefix");
  // A record that already says the same serves (no new record per cell).
  auto text = [](pugi::xml_node node) {
    std::ostringstream out;
    node.print(out, "", pugi::format_raw);
    return out.str();
  };
  const std::string wanted = text(xf);
  for (uint32_t i = 0; i < FCellXfs.size(); ++i)
    if (text(FCellXfs[i]) == wanted) {
      cellXfs.remove_child(xf);
      FDerivedStyles[key] = i;
      return i;
    }
  if (FCellXfs.size() > TCell::kMaxStyle) {
    cellXfs.remove_child(xf);
    throw EWorkbookError(rtl::UnicodeString(STooManyStyles));
  }
  FCellXfs.push_back(xf);
  FStyleKinds.push_back(-1);
  if (cellXfs.attribute("count")) cellXfs.attribute("count").set_value(static_cast<unsigned>(FCellXfs.size()));
  Part(FStylesPart).Modified = true;
  uint32_t index = static_cast<uint32_t>(FCellXfs.size() - 1);
  FDerivedStyles[key] = index;
  return index;
}

bool TWorkbookFile::HasQuotePrefix(uint32_t style) {
  LoadStyles();
  return style < FCellXfs.size() && FCellXfs[style].attribute("quotePrefix").as_bool();
}

// --- Values ---------------------------------------------------------------------------

Variant TWorkbookFile::GetValue(TSheet& sheet, uint32_t row, uint32_t column) {
  EnsureLoaded(sheet);
  const TCell* cell = sheet.FindCell(row, column);
  if (!cell) return {};
  if ((cell->Extra && sheet.HasFormula(*cell)) || (sheet.HasArrayFormulas && sheet.InMultiCellArray(row, column))) {
    Variant result;
    if (FormulaResult(sheet, row, column, result)) return result;
  }
  switch (cell->Kind) {
    case TCellKind::Blank: return {};
    case TCellKind::Number:
      if (IsDateStyle(cell->Style) && cell->V.Number >= -657434.0 && cell->V.Number < 2958466.0)
        return Variant::FromDate(cell->V.Number);
      return Variant(cell->V.Number);
    case TCellKind::Shared: return Variant::FromOleStr(rtl::Utf8ToUnicode(SharedString(cell->V.Index)));
    case TCellKind::IsoDate: {
      // "2024-03-15", "2024-03-15T18:30:00", "18:30:00" (strict-format dates).
      const std::string text(sheet.Pool[cell->V.Index]);
      int y = 0, mo = 0, d = 0, h = 0, mi = 0;
      double sec = 0, date = 0;
      bool ok = true;
      size_t t = text.find('T');
      if (text.size() >= 10 && text[4] == '-') {
        ok = std::sscanf(text.c_str(), "%d-%d-%d", &y, &mo, &d) == 3 && rtl::TryEncodeDate(y, mo, d, date);
      } else {
        t = 0;
      }
      if (ok && t != std::string::npos && t + 1 < text.size()) {
        // Seconds are read by from_chars: "%lf" would follow the process locale.
        const char* clock = text.c_str() + t + (text[t] == 'T' ? 1 : 0);
        int used = 0;
        ok = std::sscanf(clock, "%d:%d%n", &h, &mi, &used) >= 2;
        if (ok && clock[used] == ':') std::from_chars(clock + used + 1, text.c_str() + text.size(), sec);
      }
      if (ok) return Variant::FromDate(date + (h * 3600 + mi * 60 + sec) / 86400.0);
      return Variant::FromOleStr(rtl::Utf8ToUnicode(text));
    }
    case TCellKind::Inline:
    case TCellKind::Text: return Variant::FromOleStr(rtl::Utf8ToUnicode(sheet.Pool[cell->V.Index]));
    case TCellKind::InlineRich: {
      pugi::xml_document doc;
      doc.load_string(("<is>" + std::string(sheet.Pool[cell->V.Index]) + "</is>").c_str(),
                      pugi::parse_default | pugi::parse_ws_pcdata_single);
      return Variant::FromOleStr(rtl::Utf8ToUnicode(FlattenText(doc.document_element())));
    }
    case TCellKind::Boolean: return Variant(cell->V.Number != 0);
    case TCellKind::Error: return ErrorVariant(std::string(sheet.Pool[cell->V.Index]));
  }
  return {};
}

void TWorkbookFile::MarkCellsChanged(TSheet& sheet, bool formulasChanged) {
  sheet.Modified = true;
  FCellsChanged = true;
  if (formulasChanged) FFormulasChanged = true;
}

void TWorkbookFile::SetValue(TSheet& sheet, uint32_t row, uint32_t column, const Variant& input) {
  EnsureLoaded(sheet);
  if (!sheet.IsWorksheet) throw EWorkbookError(rtl::UnicodeString(SNoCells));
  RefuseProtectedWrite(sheet, row, column);
  // A table's header cell holds its column's name as text, whatever is
  // written there: the write renames the column, and with it formulas, so
  // every result is computed afresh.
  Variant headerName;
  if (const TTableHeader* header = TableHeaderAt(sheet, row, column)) {
    ForgetResults();
    headerName = Variant::FromOleStr(rtl::Utf8ToUnicode(NameTableColumn(sheet, *header, column, input.Deref())));
  }
  const Variant& value = headerName.IsEmpty() ? input.Deref() : headerName;
  // A text value read where it lies when it is UTF-16 already.
  const bool isText = value.VType() == rtl::varOleStr || value.VType() == rtl::varUString ||
                      value.VType() == rtl::varString;
  rtl::UnicodeString converted;
  std::u16string_view text;
  if (value.VType() == rtl::varString) {
    converted = value.AsUnicodeString();
    text = converted;
  } else if (isText) {
    text = value.VWideText();
  }
  // Writing an empty text clears the value, as in the application.
  bool clearing = value.IsEmpty() || value.IsNull() || (isText && text.empty());
  if (clearing && !sheet.FindCell(row, column)) return;
  if (sheet.InMultiCellArray(row, column)) throw EWorkbookError(rtl::Utf8ToUnicode(SPartOfArray));

  TTypedInput typed;
  switch (value.VType()) {
    case rtl::varEmpty:
    case rtl::varNull: break;
    case rtl::varOleStr:
    case rtl::varUString:
    case rtl::varString: {
      if (text.size() > 32767) throw EWorkbookError(rtl::UnicodeString(STextTooLong));
      if (text.empty()) {
        typed.Kind = TTypedInput::tiEmpty;
        break;
      }
      // A Text-formatted cell takes what is written as it is: "00123"
      // keeps its zeros, "=A1" is not a formula.
      if (!headerName.IsEmpty() || IsTextStyle(sheet.StyleAt(row, column))) {
        typed.Kind = TTypedInput::tiText;
        typed.Text = rtl::UnicodeToUtf8(text);
        break;
      }
      typed = ReadTypedInput(text);
      if (typed.Kind == TTypedInput::tiFormula && !FormulaIsValid(typed.Text))
        throw EWorkbookError(rtl::FormatText(SBadFormula, {rtl::UnicodeString(text)}));
      break;
    }
    case rtl::varBoolean:
    case rtl::varSmallInt:
    case rtl::varInteger:
    case rtl::varSingle:
    case rtl::varDouble:
    case rtl::varCurrency:
    case rtl::varDate:
    case rtl::varShortInt:
    case rtl::varByte:
    case rtl::varWord:
    case rtl::varLongWord:
    case rtl::varInt64:
    case rtl::varError: break;
    default: throw EWorkbookError(rtl::UnicodeString(STypeMismatch));
  }

  // The write is taken: what read the cell is stale. Overwriting a formula
  // changes formulas, not only values: every result is computed afresh.
  if (const TCell* existing = sheet.FindCell(row, column); existing && sheet.HasFormula(*existing))
    ForgetResults();
  else
    CellChanged(sheet, row, column);
  NoteChangedCells(sheet, row, column, row, column);
  TCell& cell = sheet.CellForWrite(row, column);
  bool hadFormula = sheet.HasFormula(cell);
  if (TCellExtra* extra = sheet.ExtraOf(cell)) {
    if (!GetRawAttr(extra->FormulaAttrs, "ref").empty() && GetRawAttr(extra->FormulaAttrs, "t") == "shared")
      ExpandSharedFormula(sheet, GetRawAttr(extra->FormulaAttrs, "si"));
    extra->Formula.clear();
    extra->FormulaAttrs.clear();
    // Value metadata belongs to the old value; a phonetic flag stays.
    std::string ph = GetRawAttr(extra->CellAttrs, "ph");
    extra->CellAttrs.clear();
    SetRawAttr(extra->CellAttrs, "ph", ph);
  }
  bool isFormula = false;
  auto setNumber = [&](double number) {
    if (std::isfinite(number)) {
      cell.Kind = TCellKind::Number;
      cell.V.Number = number;
    } else {
      cell.Kind = TCellKind::Error;
      cell.V.Index = sheet.AddText("#NUM!");
    }
  };
  // A date shows as one unless the cell already has a date format.
  auto setDate = [&](double serial, bool hasTime) {
    setNumber(serial);
    if (!IsDateStyle(cell.Style)) cell.Style = StyleWith(cell.Style, hasTime ? "22" : "14", -1);
  };
  switch (value.VType()) {
    case rtl::varEmpty:
    case rtl::varNull: cell.Kind = TCellKind::Blank; break;
    case rtl::varBoolean:
      cell.Kind = TCellKind::Boolean;
      cell.V.Number = value.VBoolean() ? 1 : 0;
      break;
    case rtl::varDate: setDate(value.VDate(), value.VDate() != std::trunc(value.VDate())); break;
    case rtl::varError:
      cell.Kind = TCellKind::Error;
      cell.V.Index = sheet.AddText(ErrorText(value.VError()));
      break;
    case rtl::varOleStr:
    case rtl::varUString:
    case rtl::varString:
      switch (typed.Kind) {
        case TTypedInput::tiText:
          cell.Kind = TCellKind::Inline;
          cell.V.Index = sheet.AddText(std::move(typed.Text));
          break;
        case TTypedInput::tiNumber:
          setNumber(typed.Number);
          if (!typed.Format.empty() && NumberFormatOf(cell.Style) == "General" && !FStylesPart.empty())
            cell.Style = StyleWith(cell.Style, std::to_string(FormatId(typed.Format)), -1);
          break;
        case TTypedInput::tiError:
          cell.Kind = TCellKind::Error;
          cell.V.Index = sheet.AddText(std::move(typed.Text));
          break;
        case TTypedInput::tiEmpty: cell.Kind = TCellKind::Blank; break;
        case TTypedInput::tiPercent:
          setNumber(typed.Number);
          if (NumberFormatOf(cell.Style) == "General") cell.Style = StyleWith(cell.Style, "9", -1);
          break;
        case TTypedInput::tiBoolean:
          cell.Kind = TCellKind::Boolean;
          cell.V.Number = typed.Boolean ? 1 : 0;
          break;
        case TTypedInput::tiDate: setDate(typed.Number, typed.HasTime); break;
        case TTypedInput::tiFormula:
          // No cached value until computed (when read or saved).
          cell.Kind = TCellKind::Blank;
          sheet.EnsureExtra(cell).Formula = QualifyNewerFunctions(NormaliseTypedFormula(typed.Text));
          isFormula = true;
          break;
      }
      break;
    default: setNumber(value.AsDouble()); break;
  }
  // Text typed after an apostrophe keeps it as the cell's quote prefix, which
  // shows the cell as typed text; any other value typed there drops it.
  // (A workbook without styles has nowhere to keep it: the text is stored all the same.)
  if (typed.QuotePrefix && !IsTextStyle(cell.Style) && !FStylesPart.empty())
    cell.Style = StyleWith(cell.Style, "", -1, 1);
  else if (!typed.QuotePrefix && cell.Kind != TCellKind::Blank && HasQuotePrefix(cell.Style))
    cell.Style = StyleWith(cell.Style, "", -1, 0);
  MarkCellsChanged(sheet, hadFormula || isFormula);
}

bool TWorkbookFile::GetLocked(TSheet& sheet, uint32_t row, uint32_t column) {
  EnsureLoaded(sheet);
  uint32_t style = sheet.StyleAt(row, column);
  LoadStyles();
  if (style >= FCellXfs.size()) return true;
  pugi::xml_node protection = Child(FCellXfs[style], "protection");
  pugi::xml_attribute locked = protection.attribute("locked");
  return !locked || locked.as_bool();
}

void TWorkbookFile::SetLocked(TSheet& sheet, uint32_t row, uint32_t column, bool locked) {
  if (GetLocked(sheet, row, column) == locked) return;
  TCell& cell = sheet.CellForWrite(row, column);
  cell.Style = StyleWith(cell.Style, "", locked ? 1 : 0);
  sheet.Modified = true;
}

bool TWorkbookFile::ResolveRangeName(TSheet& sheet, const std::string& name, TRangeRef& range) {
  if (ParseRangeRef(name, range)) return true;
  pugi::xml_node root = Part(FWorkbookPart).Doc->document_element();
  int index = IndexOf(sheet);
  std::string found;
  bool foundLocal = false;
  for (pugi::xml_node n : Children(Child(root, "definedNames"), "definedName")) {
    if (!SameSheetName(n.attribute("name").value(), name)) continue;
    pugi::xml_attribute local = n.attribute("localSheetId");
    if (local && local.as_int() != index) continue;
    if (!found.empty() && foundLocal) continue;
    found = n.child_value();
    foundLocal = static_cast<bool>(local);
  }
  if (found.empty()) return false;
  size_t bang = found.rfind('!');
  if (bang == std::string::npos) return false;
  std::string sheetName = found.substr(0, bang);
  if (sheetName.size() >= 2 && sheetName.front() == '\'') {
    std::string unquoted;
    for (size_t i = 1; i + 1 < sheetName.size(); ++i) {
      unquoted += sheetName[i];
      if (sheetName[i] == '\'' && sheetName[i + 1] == '\'') ++i;
    }
    sheetName = unquoted;
  }
  if (!SameSheetName(sheetName, sheet.Name)) return false;
  return ParseRangeRef(found.substr(bang + 1), range);
}

// --- Saving ---------------------------------------------------------------------------

bool TWorkbookFile::Changed() const {
  if (FCellsChanged || FActiveChanged || FPackage->Changed()) return true;
  for (const auto& s : FSheets)
    if (s->Modified) return true;
  for (const auto& [name, part] : FParts)
    if (part.Modified) return true;
  return false;
}

void TWorkbookFile::DropCalcChain() {
  std::string relsName = RelsPartOf(FWorkbookPart);
  if (!HasPart(relsName)) return;
  TPart& rels = Part(relsName);
  for (pugi::xml_node r : Children(rels.Doc->document_element(), "Relationship")) {
    std::string_view type = r.attribute("Type").value();
    if (type.size() < 10 || type.substr(type.size() - 10) != "/calcChain") continue;
    std::string target = ResolveTarget(FWorkbookPart, r.attribute("Target").value());
    rels.Doc->document_element().remove_child(r);
    rels.Modified = true;
    FPackage->Remove(target);
    TPart& types = Part(kContentTypesPart);
    for (pugi::xml_node o : Children(types.Doc->document_element(), "Override"))
      if (std::string_view(o.attribute("PartName").value()) == "/" + target) {
        types.Doc->document_element().remove_child(o);
        types.Modified = true;
        break;
      }
    break;
  }
}

void TWorkbookFile::Save() {
  pugi::xml_node root = Part(FWorkbookPart).Doc->document_element();
  if (FCellsChanged) {
    StoreFormulaResults();
    // The application recalculates on opening as well, with what this
    // server does not compute.
    pugi::xml_node calcPr = EnsureChild(root, "calcPr", WorkbookChildOrder());
    if (!calcPr.attribute("fullCalcOnLoad")) calcPr.append_attribute("fullCalcOnLoad");
    calcPr.attribute("fullCalcOnLoad").set_value("1");
    Part(FWorkbookPart).Modified = true;
  }
  if (FFormulasChanged) DropCalcChain();
  if (FSheetListChanged) RebuildSheetTitles();
  UpdateSharedStringCounts();
  if (FActiveChanged && ActiveSheet() != FOriginalActive) {
    // The selected tab follows the active sheet; two selected tabs would
    // open as a group, where every edit changes both sheets.
    for (const auto& sheet : {FOriginalActive, ActiveSheet()}) {
      if (sheet->Deleted || !sheet->IsWorksheet) continue;
      EnsureLoaded(*sheet);
      bool active = sheet == ActiveSheet();
      for (pugi::xml_node view : Children(Child(sheet->Root(), "sheetViews"), "sheetView")) {
        view.remove_attribute("tabSelected");
        if (active) view.prepend_attribute("tabSelected").set_value("1");
        break;
      }
      sheet->Modified = true;
    }
    FOriginalActive = ActiveSheet();
  }
  if (FActiveChanged) {
    pugi::xml_node views = EnsureChild(root, "bookViews", WorkbookChildOrder());
    pugi::xml_node view = Child(views, "workbookView");
    if (!view) view = views.append_child((PrefixOf(root) + "workbookView").c_str());
    if (!view.attribute("activeTab")) view.append_attribute("activeTab");
    view.attribute("activeTab").set_value(FActiveTab);
    if (view.attribute("firstSheet") && view.attribute("firstSheet").as_int() > FActiveTab)
      view.attribute("firstSheet").set_value(FActiveTab);
    Part(FWorkbookPart).Modified = true;
  }
  for (auto& sheet : FSheets)
    if (sheet->Loaded && sheet->Modified) FPackage->WriteStreamed(sheet->PartName, sheet->Writer());
  for (auto& [name, part] : FParts)
    if (part.Modified) FPackage->Write(name, SerializePart(*part.Doc));
  try {
    if (FPackage->Changed()) FPackage->Save(FGuard.get());
  } catch (const EPackageError& e) {
    throw EWorkbookError(rtl::FormatText(SCannotSave, {rtl::Utf8ToUnicode(FPath), e.Message()}));
  }
  for (auto& sheet : FSheets) sheet->Modified = false;
  for (auto& [name, part] : FParts) part.Modified = false;
  SharedStringCountsSaved();
  FCellsChanged = FFormulasChanged = FActiveChanged = false;
}

}  // namespace spreadsheet
