#include "rtl/Variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <new>

#include "rtl/Automation.h"
#include "rtl/Locale.h"

namespace rtl {

// --- Blocks ---------------------------------------------------------------------

template <class Ch>
TStringBlock<Ch>* TStringBlock<Ch>::Create(std::basic_string_view<Ch> text) {
  void* memory = std::malloc(sizeof(TStringBlock) + (text.size() + 1) * sizeof(Ch));
  if (!memory) throw std::bad_alloc();
  auto* block = new (memory) TStringBlock();
  block->FLength = static_cast<uint32_t>(text.size());
  Ch* data = reinterpret_cast<Ch*>(block + 1);
  if (!text.empty()) std::memcpy(data, text.data(), text.size() * sizeof(Ch));
  data[text.size()] = 0;
  return block;
}

template <class Ch>
void TStringBlock<Ch>::Destroy() noexcept {
  this->~TStringBlock();
  std::free(this);
}

template class TStringBlock<char16_t>;
template class TStringBlock<char>;

TVarArray* TVarArray::Create(std::initializer_list<std::pair<int32_t, int32_t>> bounds) {
  if (bounds.size() == 0) throw EVariantError(u"Variant array must have at least one dimension");
  size_t count = 1;
  for (auto [low, high] : bounds) {
    int64_t n = static_cast<int64_t>(high) - low + 1;
    if (n < 0) throw EVariantError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
    count *= static_cast<size_t>(n);
    if (count > (size_t(1) << 31)) throw std::bad_alloc();
  }
  void* memory = std::malloc(sizeof(TVarArray) + count * sizeof(Variant) + bounds.size() * sizeof(TBound));
  if (!memory) throw std::bad_alloc();
  auto* array = new (memory) TVarArray();
  array->FDimCount = static_cast<int32_t>(bounds.size());
  array->FElementCount = count;
  std::memset(static_cast<void*>(array->Elements()), 0, count * sizeof(Variant));  // all empty
  TBound* b = array->Bounds();
  for (auto [low, high] : bounds) *b++ = TBound{low, high - low + 1};
  return array;
}

TVarArray* TVarArray::Duplicate() const {
  size_t bytes = sizeof(TVarArray) + FElementCount * sizeof(Variant) + FDimCount * sizeof(TBound);
  void* memory = std::malloc(bytes);
  if (!memory) throw std::bad_alloc();
  auto* array = new (memory) TVarArray();
  array->FDimCount = FDimCount;
  array->FElementCount = FElementCount;
  for (size_t i = 0; i < FElementCount; ++i) new (&array->Elements()[i]) Variant(Elements()[i]);
  std::memcpy(array->Bounds(), Bounds(), FDimCount * sizeof(TBound));
  return array;
}

void TVarArray::Destroy() noexcept {
  for (size_t i = 0; i < FElementCount; ++i) Elements()[i].~Variant();
  this->~TVarArray();
  std::free(this);
}

size_t TVarArray::Offset(std::initializer_list<int32_t> indices) const {
  if (static_cast<int32_t>(indices.size()) != FDimCount)
    throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
  size_t offset = 0;
  int32_t dim = 0;
  // Row-major over the dimensions as given; only consistency matters here.
  for (int32_t index : indices) {
    const TBound& b = Bounds()[dim++];
    int64_t rel = static_cast<int64_t>(index) - b.Low;
    if (rel < 0 || rel >= b.Count) throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
    offset = offset * static_cast<size_t>(b.Count) + static_cast<size_t>(rel);
  }
  return offset;
}

// --- Errors ---------------------------------------------------------------------

UnicodeString VarTypeAsText(TVarType type) {
  static const char16_t* const names[] = {
      u"Empty",   u"Null",    u"Smallint", u"Integer", u"Single",   u"Double",   u"Currency",
      u"Date",    u"OleStr",  u"Dispatch", u"Error",   u"Boolean",  u"Variant",  u"Unknown",
      u"Decimal", u"$0F",     u"ShortInt", u"Byte",    u"Word",     u"LongWord", u"Int64",
      u"UInt64"};
  UnicodeString prefix;
  if (type & varArray) prefix += u"Array ";
  if (type & varByRef) prefix += u"ByRef ";
  TVarType base = type & varTypeMask;
  if (base < sizeof(names) / sizeof(names[0])) return prefix + names[base];
  if (base == varString) return prefix + u"String";
  if (base == varAny) return prefix + u"Any";
  if (base == varUString) return prefix + u"UnicodeString";
  if (base == varStrArg) return prefix + u"StrArg";
  return prefix + u"$" + IntToStr(base);
}

EVariantTypeCastError EVariantTypeCastError::CouldNotConvert(TVarType from, TVarType to) {
  return EVariantTypeCastError(FormatText(SVarTypeCouldNotConvert, {VarTypeAsText(from), VarTypeAsText(to)}));
}

EVariantOverflowError EVariantOverflowError::Overflow(TVarType from, TVarType to) {
  return EVariantOverflowError(FormatText(SVarTypeConvertOverflow, {VarTypeAsText(from), VarTypeAsText(to)}));
}

// --- Construction and lifetime ------------------------------------------------

Variant Variant::FromOleStr(std::u16string_view text) {
  Variant r = Raw(varOleStr);
  r.FData.VWide = TUnicodeBlock::Create(text);
  return r;
}

Variant Variant::FromUString(std::u16string_view text) {
  Variant r = Raw(varUString);
  r.FData.VWide = TUnicodeBlock::Create(text);
  return r;
}

Variant Variant::FromString(std::string_view utf8) {
  Variant r = Raw(varString);
  r.FData.VAnsi = TAnsiBlock::Create(utf8);
  return r;
}

Variant Variant::FromDispatch(IDispatch* object) noexcept {
  Variant r = Raw(varDispatch);
  IUnknown* unknown = object;
  if (unknown) unknown->AddRef();
  r.FData.VUnknown = unknown;
  return r;
}

Variant Variant::FromUnknown(IUnknown* object) noexcept {
  Variant r = Raw(varUnknown);
  if (object) object->AddRef();
  r.FData.VUnknown = object;
  return r;
}

Variant Variant::CreateArray(std::initializer_list<std::pair<int32_t, int32_t>> bounds) {
  Variant r = Raw(varArray | varVariant);
  r.FData.VArray = TVarArray::Create(bounds);
  return r;
}

IDispatch* Variant::VDispatch() const noexcept {
  return static_cast<IDispatch*>(FData.VUnknown);
}

void Variant::AddRefManaged() const noexcept {
  if (FType & varArray) {
    if (FData.VArray) FData.VArray->AddRef();
    return;
  }
  switch (FType) {
    case varOleStr:
    case varUString:
      if (FData.VWide) FData.VWide->AddRef();
      break;
    case varString:
      if (FData.VAnsi) FData.VAnsi->AddRef();
      break;
    case varDispatch:
    case varUnknown:
      if (FData.VUnknown) FData.VUnknown->AddRef();
      break;
    default:
      break;
  }
}

void Variant::ReleaseManaged() noexcept {
  if (FType & varArray) {
    if (FData.VArray) FData.VArray->Release();
    return;
  }
  switch (FType) {
    case varOleStr:
    case varUString:
      if (FData.VWide) FData.VWide->Release();
      break;
    case varString:
      if (FData.VAnsi) FData.VAnsi->Release();
      break;
    case varDispatch:
    case varUnknown:
      if (FData.VUnknown) FData.VUnknown->Release();
      break;
    default:
      break;
  }
}

bool Variant::IsNumeric() const noexcept {
  switch (Deref().FType) {
    case varSmallInt: case varInteger: case varSingle: case varDouble: case varCurrency:
    case varShortInt: case varByte: case varWord: case varLongWord: case varInt64:
      return true;
    default:
      return false;
  }
}

// --- Number and date text ----------------------------------------------------------

namespace {

constexpr double kMinDate = -657434.0;   // 0100-01-01
constexpr double kMaxDate = 2958465.99999999;  // 9999-12-31 23:59:59.999

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

constexpr int64_t kDelphiEpochToUnix = 25569;  // 1970-01-01 as a date value

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0 || c == 0x202F; }

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Significant digits and decimal exponent of a finite non-zero value, as
// FloatToDecimal gives them (trailing zeros removed).
void DecimalDigits(double value, int precision, std::string& digits, int& exponent) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, std::fabs(value));
  digits.clear();
  const char* p = buffer;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits.push_back(*p);
  exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

UnicodeString FloatToStrPrecision(double value, int precision) {
  if (std::isnan(value)) return u"NAN";
  if (std::isinf(value)) return value < 0 ? u"-INF" : u"INF";
  if (value == 0) return u"0";
  std::string digits;
  int e;
  DecimalDigits(value, precision, digits, e);
  const char16_t dec = FormatSettings().DecimalSeparator;
  UnicodeString out;
  if (value < 0) out.push_back(u'-');
  if (e >= precision || e < -4) {
    out.push_back(static_cast<char16_t>(digits[0]));
    if (digits.size() > 1) {
      out.push_back(dec);
      for (size_t i = 1; i < digits.size(); ++i) out.push_back(static_cast<char16_t>(digits[i]));
    }
    out += u"E";
    out += IntToStr(e);
    return out;
  }
  if (e < 0) {
    out += u"0";
    out.push_back(dec);
    for (int i = -1; i > e; --i) out.push_back(u'0');
    for (char c : digits) out.push_back(static_cast<char16_t>(c));
    return out;
  }
  for (int i = 0; i <= e; ++i) out.push_back(i < static_cast<int>(digits.size()) ? digits[i] : u'0');
  if (static_cast<int>(digits.size()) > e + 1) {
    out.push_back(dec);
    for (size_t i = e + 1; i < digits.size(); ++i) out.push_back(static_cast<char16_t>(digits[i]));
  }
  return out;
}

void AppendNumber(UnicodeString& out, int value, int width) {
  UnicodeString digits = IntToStr(value);
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out.push_back(u'0');
  out += digits;
}

const char16_t* const kShortMonthNames[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                           u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const char16_t* const kLongMonthNames[] = {u"January", u"February", u"March",     u"April",
                                          u"May",     u"June",     u"July",      u"August",
                                          u"September", u"October", u"November", u"December"};
const char16_t* const kShortDayNames[] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
const char16_t* const kLongDayNames[] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                        u"Thursday", u"Friday", u"Saturday"};

// Formats a date/time by a picture of the settings' kind (d, m, y, h, n, s,
// z, AM/PM, quoted literals; "/" and ":" stand for the separators).
UnicodeString FormatPicture(std::u16string_view picture, double value) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, msec);
  bool twelveHour = false;
  for (size_t i = 0; i + 1 < picture.size(); ++i)
    if ((picture[i] == u'A' || picture[i] == u'a') && (picture[i + 1] == u'M' || picture[i + 1] == u'm'))
      twelveHour = true;
  const TFormatSettings& fs = FormatSettings();
  UnicodeString out;
  bool afterHour = false;
  for (size_t i = 0; i < picture.size();) {
    char16_t c = picture[i];
    char16_t lower = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c == u'"' || c == u'\'') {
      size_t end = picture.find(c, i + 1);
      if (end == std::u16string_view::npos) end = picture.size();
      out += picture.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (lower == u'a' && (picture.substr(i, 5) == u"AM/PM" || picture.substr(i, 5) == u"am/pm")) {
      out += hour < 12 ? u"AM" : u"PM";
      if (picture[i] == u'a') {
        out[out.size() - 2] = static_cast<char16_t>(out[out.size() - 2] + 32);
        out[out.size() - 1] = u'm';
      }
      i += 5;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && (picture[i + run] == c || picture[i + run] == lower ||
                                        picture[i + run] == static_cast<char16_t>(lower - 32)))
      ++run;
    switch (lower) {
      case u'y':
        if (run <= 2) AppendNumber(out, year % 100, 2); else AppendNumber(out, year, 4);
        break;
      case u'd': {
        int dow = static_cast<int>((static_cast<int64_t>(std::floor(value)) + 6) % 7);  // 1899-12-30 was a Saturday
        if (dow < 0) dow += 7;
        if (run == 1) AppendNumber(out, day, 1);
        else if (run == 2) AppendNumber(out, day, 2);
        else if (run == 3) out += kShortDayNames[dow];
        else out += kLongDayNames[dow];
        break;
      }
      case u'm':
        if (afterHour && run <= 2) AppendNumber(out, minute, static_cast<int>(run));
        else if (run <= 2) AppendNumber(out, month, static_cast<int>(run));
        else if (run == 3) out += kShortMonthNames[month - 1];
        else out += kLongMonthNames[month - 1];
        break;
      case u'h': {
        int h = hour;
        if (twelveHour) h = hour % 12 == 0 ? 12 : hour % 12;
        AppendNumber(out, h, run >= 2 ? 2 : 1);
        afterHour = true;
        i += run;
        continue;
      }
      case u'n': AppendNumber(out, minute, run >= 2 ? 2 : 1); break;
      case u's': AppendNumber(out, second, run >= 2 ? 2 : 1); break;
      case u'z': AppendNumber(out, msec, run >= 3 ? 3 : 1); break;
      case u'/': for (size_t k = 0; k < run; ++k) out.push_back(fs.DateSeparator); break;
      case u':': for (size_t k = 0; k < run; ++k) out.push_back(fs.TimeSeparator); break;
      default: out += picture.substr(i, run); break;
    }
    if (lower != u'h' && lower != u' ' && lower != u':') afterHour = false;
    i += run;
  }
  return out;
}

// Parses "h:n[:s[.z]] [AM|PM]" into a fraction of a day.
bool TryParseTime(std::u16string_view text, double& fraction) {
  const char16_t sep = FormatSettings().TimeSeparator;
  int parts[4] = {0, 0, 0, 0};
  int count = 0;
  size_t i = 0;
  while (i < text.size() && count < 4) {
    if (!IsDigit(text[i])) return false;
    int value = 0, digits = 0;
    while (i < text.size() && IsDigit(text[i]) && digits < 9) value = value * 10 + (text[i++] - u'0'), ++digits;
    if (count == 3) {  // milliseconds: scale to three digits
      while (digits < 3) value *= 10, ++digits;
      while (digits > 3) value /= 10, --digits;
    }
    parts[count++] = value;
    if (i < text.size() && (text[i] == sep || text[i] == u':') && count < 3) {
      ++i;
      continue;
    }
    if (i < text.size() && text[i] == FormatSettings().DecimalSeparator && count == 3) {
      ++i;
      continue;
    }
    break;
  }
  if (count < 2 && !(count == 1 && i < text.size())) return false;
  std::u16string_view rest = TrimBlanks(text.substr(i));
  int hour = parts[0];
  if (!rest.empty()) {
    UnicodeString marker = AsciiUpperCase(rest);
    if (marker == u"AM" || marker == u"A") {
      if (hour < 1 || hour > 12) return false;
      if (hour == 12) hour = 0;
    } else if (marker == u"PM" || marker == u"P") {
      if (hour < 1 || hour > 12) return false;
      if (hour != 12) hour += 12;
    } else {
      return false;
    }
  } else if (count < 2) {
    return false;
  }
  if (hour > 23 || parts[1] > 59 || parts[2] > 59) return false;
  fraction = (hour * 3600000.0 + parts[1] * 60000.0 + parts[2] * 1000.0 + parts[3]) / 86400000.0;
  return true;
}

// Parses the date part by the order of d, m and y in the short date format.
bool TryParseDate(std::u16string_view text, double& date) {
  const TFormatSettings& fs = FormatSettings();
  int parts[3];
  int widths[3];
  int count = 0;
  size_t i = 0;
  char16_t usedSep = 0;
  while (i < text.size()) {
    if (!IsDigit(text[i]) || count == 3) return false;
    int value = 0, digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
      if (++digits > 4) return false;
      value = value * 10 + (text[i++] - u'0');
    }
    widths[count] = digits;
    parts[count++] = value;
    if (i == text.size()) break;
    char16_t c = text[i];
    if (c != fs.DateSeparator && c != u'/' && c != u'-' && c != u'.') return false;
    if (usedSep && c != usedSep) return false;
    usedSep = c;
    if (++i == text.size()) return false;
  }
  if (count < 2) return false;
  int year, month, day;
  if (count == 3 && widths[0] == 4) {  // ISO order whatever the settings say
    year = parts[0], month = parts[1], day = parts[2];
  } else {
    // Order of the fields in the settings' picture.
    int posD = -1, posM = -1, posY = -1, order = 0;
    for (char16_t c : fs.ShortDateFormat) {
      char16_t lower = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
      if (lower == u'd' && posD < 0) posD = order++;
      else if (lower == u'm' && posM < 0) posM = order++;
      else if (lower == u'y' && posY < 0) posY = order++;
    }
    if (posD < 0 || posM < 0 || posY < 0) posM = 0, posD = 1, posY = 2;
    if (count == 2) {
      // Day and month only: the current year, the pair in the settings' order.
      std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      year = local.tm_year + 1900;
      if (posD < posM) day = parts[0], month = parts[1];
      else month = parts[0], day = parts[1];
    } else {
      day = parts[posD], month = parts[posM], year = parts[posY];
      if (widths[posY] <= 2) year += year < 30 ? 2000 : 1900;
    }
  }
  return TryEncodeDate(year, month, day, date);
}

}  // namespace

UnicodeString FloatToStrF15(double value) { return FloatToStrPrecision(value, 15); }

UnicodeString CurrencyToStr(int64_t scaled) {
  UnicodeString out;
  uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  if (scaled < 0) out.push_back(u'-');
  out += IntToStr(static_cast<int64_t>(magnitude / 10000));
  unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction) {
    out.push_back(FormatSettings().DecimalSeparator);
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04u", fraction);
    int n = 4;
    while (digits[n - 1] == '0') --n;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(digits[i]));
  }
  return out;
}

bool TryEncodeDate(int year, int month, int day, double& date) {
  static const int daysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int limit = daysIn[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day > limit) return false;
  date = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                             kDelphiEpochToUnix);
  return true;
}

void DecodeDate(double date, int& year, int& month, int& day) {
  // The date part truncates toward zero: -0.5 is 1899-12-30, 12:00.
  CivilFromDays(static_cast<int64_t>(std::trunc(date)) - kDelphiEpochToUnix, year, month, day);
}

void DecodeTime(double date, int& hour, int& minute, int& second, int& msec) {
  double fraction = std::fabs(date - std::trunc(date));
  int64_t ms = static_cast<int64_t>(std::llround(fraction * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

UnicodeString DateTimeToStr(double dateTime) {
  const TFormatSettings& fs = FormatSettings();
  double datePart = std::trunc(dateTime);
  bool hasTime = dateTime != datePart;
  UnicodeString out;
  if (datePart != 0 || !hasTime) out = FormatPicture(fs.ShortDateFormat, dateTime);
  if (hasTime) {
    if (!out.empty()) out.push_back(u' ');
    out += FormatPicture(fs.LongTimeFormat, dateTime);
  }
  return out;
}

bool TryTextToDouble(std::u16string_view text, double& value, char16_t decimalSeparator,
                     char16_t thousandSeparator) {
  text = TrimBlanks(text);
  std::string ascii;
  size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') ascii.push_back('-');
    ++i;
  }
  bool spaceGroups = IsBlank(thousandSeparator);
  int integerDigits = 0;
  int groupDigits = -1;  // digits since the last thousands separator; -1 before the first
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsDigit(c)) {
      ascii.push_back(static_cast<char>(c));
      ++integerDigits;
      if (groupDigits >= 0) ++groupDigits;
    } else if ((c == thousandSeparator || (spaceGroups && IsBlank(c))) && c != decimalSeparator &&
               integerDigits > 0) {
      if (groupDigits >= 0 && groupDigits != 3) return false;
      groupDigits = 0;
    } else {
      break;
    }
  }
  if (groupDigits >= 0 && groupDigits != 3) return false;
  int fractionDigits = 0;
  if (i < text.size() && text[i] == decimalSeparator) {
    ascii.push_back('.');
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++fractionDigits) ascii.push_back(static_cast<char>(text[i]));
  }
  if (integerDigits + fractionDigits == 0) return false;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii.push_back(static_cast<char>(text[i++]));
    if (i == text.size() || !IsDigit(text[i])) return false;
    for (; i < text.size() && IsDigit(text[i]); ++i) ascii.push_back(static_cast<char>(text[i]));
  }
  if (i != text.size()) return false;
  double result = 0;
  auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), result);
  if (error == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is not a number anyone typed.
    bool tiny = false;
    for (size_t k = 0; k < ascii.size(); ++k)
      if (ascii[k] == 'e') tiny = k + 1 < ascii.size() && ascii[k + 1] == '-';
    if (!tiny) return false;
    result = 0;
  } else if (error != std::errc() || end != ascii.data() + ascii.size()) {
    return false;
  }
  value = result;
  return true;
}

bool TryTextToDateTime(std::u16string_view text, double& value) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  const char16_t timeSep = FormatSettings().TimeSeparator;
  // A date part ends at the first blank; a text holding the time separator
  // before any blank is a time alone.
  size_t blank = 0;
  while (blank < text.size() && !IsBlank(text[blank])) ++blank;
  std::u16string_view first = text.substr(0, blank);
  bool firstIsTime = first.find(timeSep) != std::u16string_view::npos || first.find(u':') != std::u16string_view::npos;
  double date = 0, time = 0;
  if (firstIsTime) {
    if (!TryParseTime(text, time)) return false;
  } else {
    if (!TryParseDate(first, date)) return false;
    std::u16string_view rest = TrimBlanks(text.substr(blank));
    if (!rest.empty() && !TryParseTime(rest, time)) return false;
  }
  value = date >= 0 ? date + time : date - time;
  return true;
}

// --- Conversions --------------------------------------------------------------------

namespace {

[[noreturn]] void CastFail(TVarType from, TVarType to) { throw EVariantTypeCastError::CouldNotConvert(from, to); }

UnicodeString WideOf(const Variant& v) {
  return v.VType() == varString ? Utf8ToUnicode(v.VAnsiText()) : UnicodeString(v.VWideText());
}

// Text to double, as the variant reads numeric text.
double TextToDouble(const Variant& v, TVarType to) {
  UnicodeString text = WideOf(v);
  const TFormatSettings& fs = FormatSettings();
  double value;
  if (TryTextToDouble(text, value, fs.DecimalSeparator, fs.ThousandSeparator)) return value;
  CastFail(v.VType(), to);
}

bool TextToBoolean(const Variant& v) {
  UnicodeString text = Trim(WideOf(v));
  if (AnsiSameText(text, u"True")) return true;
  if (AnsiSameText(text, u"False")) return false;
  const TFormatSettings& fs = FormatSettings();
  double value;
  if (TryTextToDouble(text, value, fs.DecimalSeparator, fs.ThousandSeparator)) return value != 0;
  CastFail(v.VType(), varBoolean);
}

// Rounds halves to the even neighbour, checking the range of the target.
int64_t RoundToInt64(double value, TVarType from, TVarType to) {
  if (std::isnan(value)) throw EVariantOverflowError::Overflow(from, to);
  double r = std::nearbyint(value);  // default rounding mode: ties to even
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) throw EVariantOverflowError::Overflow(from, to);
  return static_cast<int64_t>(r);
}

}  // namespace

double Variant::AsDouble() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varEmpty: return 0;
    case varSmallInt: return v.FData.VSmallInt;
    case varInteger: return v.FData.VInteger;
    case varSingle: return v.FData.VSingle;
    case varDouble: return v.FData.VDouble;
    case varCurrency: return static_cast<double>(v.FData.VCurrency) / 10000.0;
    case varDate: return v.FData.VDate;
    case varBoolean: return v.FData.VBoolean ? -1 : 0;
    case varShortInt: return v.FData.VShortInt;
    case varByte: return v.FData.VByte;
    case varWord: return v.FData.VWord;
    case varLongWord: return v.FData.VLongWord;
    case varInt64: return static_cast<double>(v.FData.VInt64);
    case varOleStr: case varUString: case varString: return TextToDouble(v, varDouble);
    default: CastFail(v.FType, varDouble);
  }
}

int64_t Variant::AsInt64() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varEmpty: return 0;
    case varSmallInt: return v.FData.VSmallInt;
    case varInteger: return v.FData.VInteger;
    case varShortInt: return v.FData.VShortInt;
    case varByte: return v.FData.VByte;
    case varWord: return v.FData.VWord;
    case varLongWord: return v.FData.VLongWord;
    case varInt64: return v.FData.VInt64;
    case varBoolean: return v.FData.VBoolean ? -1 : 0;
    case varCurrency: {
      // Halves to even on the scaled value, exactly.
      int64_t q = v.FData.VCurrency / 10000, r = v.FData.VCurrency % 10000;
      if (r > 5000 || (r == 5000 && (q & 1))) ++q;
      if (r < -5000 || (r == -5000 && (q & 1))) --q;
      return q;
    }
    case varSingle: case varDouble: case varDate: return RoundToInt64(v.AsDouble(), v.FType, varInt64);
    case varOleStr: case varUString: case varString: {
      UnicodeString text = Trim(WideOf(v));
      // Plain integer text converts exactly, beyond double precision.
      std::string ascii = UnicodeToUtf8(text);
      int64_t exact;
      const char* begin = ascii.data() + (!ascii.empty() && ascii[0] == '+' ? 1 : 0);
      auto [end, error] = std::from_chars(begin, ascii.data() + ascii.size(), exact);
      if (error == std::errc() && end == ascii.data() + ascii.size() && begin != end) return exact;
      return RoundToInt64(TextToDouble(v, varInt64), v.FType, varInt64);
    }
    default: CastFail(v.FType, varInt64);
  }
}

int32_t Variant::AsInteger() const {
  const Variant& v = Deref();
  int64_t value = v.AsInt64();
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    throw EVariantOverflowError::Overflow(v.FType, varInteger);
  return static_cast<int32_t>(value);
}

bool Variant::AsBoolean() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varEmpty: return false;
    case varBoolean: return v.FData.VBoolean != 0;
    case varOleStr: case varUString: case varString: return TextToBoolean(v);
    case varSmallInt: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: return v.AsInt64() != 0;
    case varCurrency: return v.FData.VCurrency != 0;
    case varSingle: case varDouble: case varDate: return v.AsDouble() != 0;
    default: CastFail(v.FType, varBoolean);
  }
}

int64_t Variant::AsCurrency() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varCurrency: return v.FData.VCurrency;
    case varEmpty: return 0;
    case varSmallInt: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: case varBoolean: {
      int64_t n = v.AsInt64();
      if (n > INT64_MAX / 10000 || n < INT64_MIN / 10000) throw EVariantOverflowError::Overflow(v.FType, varCurrency);
      return n * 10000;
    }
    default: {
      double d = v.AsDouble();
      if (std::isnan(d) || std::fabs(d * 10000.0) >= 9223372036854775807.0)
        throw EVariantOverflowError::Overflow(v.FType, varCurrency);
      return static_cast<int64_t>(std::nearbyint(d * 10000.0));
    }
  }
}

double Variant::AsDate() const {
  const Variant& v = Deref();
  double value;
  switch (v.FType) {
    case varOleStr: case varUString: case varString:
      if (TryTextToDateTime(WideOf(v), value)) return value;
      CastFail(v.FType, varDate);
    default:
      value = v.AsDouble();
      if (value < kMinDate || value > kMaxDate) throw EVariantOverflowError::Overflow(v.FType, varDate);
      return value;
  }
}

UnicodeString Variant::AsUnicodeString() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varEmpty: return {};
    case varOleStr: case varUString: return UnicodeString(v.VWideText());
    case varString: return Utf8ToUnicode(v.VAnsiText());
    case varBoolean: return v.FData.VBoolean ? u"True" : u"False";
    case varSmallInt: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: return IntToStr(v.AsInt64());
    case varSingle: return FloatToStrPrecision(v.FData.VSingle, 7);
    case varDouble: return FloatToStrF15(v.FData.VDouble);
    case varCurrency: return CurrencyToStr(v.FData.VCurrency);
    case varDate: return DateTimeToStr(v.FData.VDate);
    default: CastFail(v.FType, varUString);
  }
}

AnsiString Variant::AsAnsiString() const {
  const Variant& v = Deref();
  if (v.FType == varString) return AnsiString(v.VAnsiText());
  try {
    return UnicodeToUtf8(v.AsUnicodeString());
  } catch (const EVariantTypeCastError&) {
    // Name the wanted type correctly in the message.
    CastFail(v.FType, varString);
  }
}

IDispatch* Variant::AsDispatch() const {
  const Variant& v = Deref();
  if (v.FType == varDispatch || v.FType == varUnknown) {
    auto* dispatch = v.FType == varDispatch ? v.VDispatch() : dynamic_cast<IDispatch*>(v.FData.VUnknown);
    if (v.FType == varUnknown && v.FData.VUnknown && !dispatch) CastFail(v.FType, varDispatch);
    if (dispatch) static_cast<IUnknown*>(dispatch)->AddRef();
    return dispatch;
  }
  if (v.FType == varEmpty) return nullptr;
  CastFail(v.FType, varDispatch);
}

Variant Variant::ChangeType(TVarType type) const {
  const Variant& v = Deref();
  if (type == v.FType && !(type & varByRef)) return v;
  auto ranged = [&](int64_t low, int64_t high) {
    int64_t n = v.AsInt64();
    if (n < low || n > high) throw EVariantOverflowError::Overflow(v.FType, type);
    return n;
  };
  switch (type) {
    case varEmpty: return Variant();
    case varNull: return Null();
    case varSmallInt: return FromSmallInt(static_cast<int16_t>(ranged(INT16_MIN, INT16_MAX)));
    case varInteger: return FromInteger(static_cast<int32_t>(ranged(INT32_MIN, INT32_MAX)));
    case varShortInt: return FromShortInt(static_cast<int8_t>(ranged(INT8_MIN, INT8_MAX)));
    case varByte: return FromByte(static_cast<uint8_t>(ranged(0, UINT8_MAX)));
    case varWord: return FromWord(static_cast<uint16_t>(ranged(0, UINT16_MAX)));
    case varLongWord: return FromLongWord(static_cast<uint32_t>(ranged(0, UINT32_MAX)));
    case varInt64: return FromInt64(v.AsInt64());
    case varSingle: {
      double d = v.AsDouble();
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        throw EVariantOverflowError::Overflow(v.FType, type);
      return FromSingle(static_cast<float>(d));
    }
    case varDouble: return FromDouble(v.AsDouble());
    case varCurrency: return FromCurrency(v.AsCurrency());
    case varDate: return FromDate(v.AsDate());
    case varBoolean: return FromBoolean(v.AsBoolean());
    case varOleStr: return FromOleStr(v.AsUnicodeString());
    case varUString: return FromUString(v.AsUnicodeString());
    case varString: return FromString(v.AsAnsiString());
    case varDispatch: {
      IDispatch* d = v.AsDispatch();
      Variant r = FromDispatch(d);
      if (d) static_cast<IUnknown*>(d)->Release();
      return r;
    }
    case varVariant: return v;
    default: CastFail(v.FType, type);
  }
}

// --- Arrays ----------------------------------------------------------------------------

namespace {
const TVarArray& ArrayOf(const Variant& v) {
  if (!v.IsArray() || !v.VArray()) throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarNotArray));
  return *v.VArray();
}
}  // namespace

int32_t Variant::ArrayDimCount() const {
  const Variant& v = Deref();
  return v.IsArray() && v.FData.VArray ? v.FData.VArray->DimCount() : 0;
}

int32_t Variant::ArrayLowBound(int32_t dim) const {
  const TVarArray& a = ArrayOf(Deref());
  if (dim < 1 || dim > a.DimCount()) throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
  return a.Bound(dim - 1).Low;
}

int32_t Variant::ArrayHighBound(int32_t dim) const {
  const TVarArray& a = ArrayOf(Deref());
  if (dim < 1 || dim > a.DimCount()) throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
  return a.Bound(dim - 1).Low + a.Bound(dim - 1).Count - 1;
}

const Variant& Variant::ArrayGet(std::initializer_list<int32_t> indices) const {
  const TVarArray& a = ArrayOf(Deref());
  return a.Elements()[a.Offset(indices)];
}

Variant& Variant::ArrayElement(std::initializer_list<int32_t> indices) {
  Variant& v = (FType == (varByRef | varVariant) && FData.VPointer) ? *FData.VPointer : *this;
  ArrayOf(v);
  if (v.FData.VArray->RefCount() > 1) {
    TVarArray* copy = v.FData.VArray->Duplicate();
    v.FData.VArray->Release();
    v.FData.VArray = copy;
  }
  return v.FData.VArray->Elements()[v.FData.VArray->Offset(indices)];
}

}  // namespace rtl
