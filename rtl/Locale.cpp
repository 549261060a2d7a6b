#include "rtl/Locale.h"

#include <langinfo.h>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>

namespace rtl {

TFormatSettings& FormatSettings() {
  static TFormatSettings settings;
  return settings;
}

namespace {

// The first character of a multibyte locale string, or 0 when it is empty.
char16_t FirstChar(const char* text) {
  if (!text || !*text) return 0;
  UnicodeString u = Utf8ToUnicode(text);
  return u.empty() ? 0 : u[0];
}

UnicodeString TimePictureFromCFormat(const std::string& cFormat) {
  UnicodeString out;
  for (size_t i = 0; i < cFormat.size(); ++i) {
    if (cFormat[i] != '%' || i + 1 >= cFormat.size()) {
      out.push_back(static_cast<unsigned char>(cFormat[i]));
      continue;
    }
    switch (cFormat[++i]) {
      case 'H': out += u"hh"; break;
      case 'I': out += u"hh"; break;
      case 'k':
      case 'l': out += u"h"; break;
      case 'M': out += u"nn"; break;
      case 'S': out += u"ss"; break;
      case 'p': out += u"AMPM"; break;
      case 'T': out += u"hh:nn:ss"; break;
      case 'R': out += u"hh:nn"; break;
      default: break;
    }
  }
  return Trim(out);
}

}  // namespace

UnicodeString DatePictureFromCFormat(const std::string& cFormat) {
  UnicodeString out;
  for (size_t i = 0; i < cFormat.size(); ++i) {
    if (cFormat[i] != '%' || i + 1 >= cFormat.size()) {
      out.push_back(static_cast<unsigned char>(cFormat[i]));
      continue;
    }
    char c = cFormat[++i];
    if (c == 'E' || c == 'O' || c == '-') {  // modifiers
      if (i + 1 >= cFormat.size()) break;
      c = cFormat[++i];
    }
    switch (c) {
      case 'd': out += u"dd"; break;
      case 'e': out += u"d"; break;
      case 'm': out += u"mm"; break;
      case 'b':
      case 'h': out += u"mmm"; break;
      case 'B': out += u"mmmm"; break;
      case 'y': out += u"yy"; break;
      case 'Y':
      case 'G': out += u"yyyy"; break;
      case 'D': out += u"mm/dd/yy"; break;
      case 'F': out += u"yyyy-mm-dd"; break;
      case 'a': out += u"ddd"; break;
      case 'A': out += u"dddd"; break;
      default: break;
    }
  }
  return Trim(out);
}

bool SystemCodePageIsUtf8() {
  std::string name = SystemCodePageName();
  return name == "UTF-8" || name == "utf8" || name == "ANSI_X3.4-1968" || name == "ASCII" || name.empty();
}

std::string SystemCodePageName() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset ? codeset : "";
}

void LoadFormatSettingsFromLocale() {
  setlocale(LC_ALL, "");
  TFormatSettings& fs = FormatSettings();
  const lconv* lc = localeconv();
  if (char16_t c = FirstChar(lc->decimal_point)) fs.DecimalSeparator = c;
  if (char16_t c = FirstChar(lc->thousands_sep))
    fs.ThousandSeparator = c;
  else
    fs.ThousandSeparator = fs.DecimalSeparator == u',' ? u'.' : u',';
  fs.ListSeparator = fs.DecimalSeparator == u',' ? u';' : u',';

  fs.ShortDateFormat = DatePictureFromCFormat(nl_langinfo(D_FMT));
  for (char16_t c : fs.ShortDateFormat)
    if (!(c >= u'a' && c <= u'z') && !(c >= u'A' && c <= u'Z')) {
      fs.DateSeparator = c;
      break;
    }
  UnicodeString time = TimePictureFromCFormat(nl_langinfo(T_FMT));
  if (!time.empty()) {
    fs.LongTimeFormat = time;
    for (char16_t c : time)
      if (!(c >= u'a' && c <= u'z') && !(c >= u'A' && c <= u'Z')) {
        fs.TimeSeparator = c;
        break;
      }
    fs.ShortTimeFormat = UnicodeString(u"hh") + fs.TimeSeparator + u"nn";
  }

  if (lc->currency_symbol && *lc->currency_symbol) fs.CurrencyString = Utf8ToUnicode(lc->currency_symbol);
  bool precedes = lc->p_cs_precedes == CHAR_MAX ? true : lc->p_cs_precedes != 0;
  bool space = lc->p_sep_by_space != CHAR_MAX && lc->p_sep_by_space != 0;
  fs.CurrencyFormat = static_cast<uint8_t>((precedes ? 0 : 1) + (space ? 2 : 0));
  if (lc->frac_digits != CHAR_MAX) fs.CurrencyDecimals = static_cast<uint8_t>(lc->frac_digits);
  // The settings now hold the user's separators. C library number conversions
  // (those of the libraries we use included) keep the C form, so files are
  // read and written alike under every locale.
  setlocale(LC_NUMERIC, "C");
}

}  // namespace rtl
