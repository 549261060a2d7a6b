// The user's regional settings, read once from the process locale. Everything
// locale-dependent reads this one record; tests set its fields directly.
#pragma once

#include "rtl/SysUtils.h"

namespace rtl {

struct TFormatSettings {
  char16_t DecimalSeparator = u'.';
  char16_t ThousandSeparator = u',';
  char16_t DateSeparator = u'/';
  char16_t TimeSeparator = u':';
  // Not a glibc setting: paired with the decimal separator as regional
  // settings usually pair them.
  char16_t ListSeparator = u',';
  UnicodeString ShortDateFormat = u"mm/dd/yy";
  UnicodeString LongDateFormat = u"dddd, mmmm d, yyyy";
  UnicodeString ShortTimeFormat = u"hh:nn";
  UnicodeString LongTimeFormat = u"hh:nn:ss";
  UnicodeString CurrencyString = u"$";
  // 0: "$1", 1: "1$", 2: "$ 1", 3: "1 $".
  uint8_t CurrencyFormat = 0;
  uint8_t CurrencyDecimals = 2;
};

// The process-wide record. Holds the defaults above until
// LoadFormatSettingsFromLocale runs.
TFormatSettings& FormatSettings();

// Calls setlocale(LC_ALL, "") and fills FormatSettings() from the result;
// LC_NUMERIC then goes back to "C", so C library conversions keep one form.
void LoadFormatSettingsFromLocale();

// Converts a C date format (nl_langinfo's D_FMT) to the day/month/year
// picture the format settings use, for example "%d.%m.%Y" to "dd.mm.yyyy".
UnicodeString DatePictureFromCFormat(const std::string& cFormat);

// The locale's character set is UTF-8 (or plain ASCII, which counts as UTF-8).
bool SystemCodePageIsUtf8();
// The locale's character set name as iconv knows it.
std::string SystemCodePageName();

}  // namespace rtl
