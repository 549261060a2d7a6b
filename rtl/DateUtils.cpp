#include "rtl/DateUtils.h"

#include <sys/time.h>
#include <cmath>
#include <ctime>

#include "rtl/Locale.h"

namespace rtl {

namespace {

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

// Day numbers of 0001-01-01 and 9999-12-31: the dates that have a calendar
// form. Anything else (and every non-finite value) is refused before it is
// turned into an integer.
constexpr double MinDateValue = -693593;
constexpr double MaxDateValue = 2958465;

double CheckedDate(double date) {
  if (!IsCalendarDate(date)) throw EConvertError(UnicodeString(SDateEncodeError));
  return std::trunc(date);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0 || c == 0x202F; }

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

void AppendNumber(UnicodeString& out, int value, int width) {
  UnicodeString digits = IntToStr(value);
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out.push_back(u'0');
  out += digits;
}

const char16_t* const kShortMonthNames[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                            u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const char16_t* const kLongMonthNames[] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                           u"July",    u"August",   u"September", u"October", u"November", u"December"};
const char16_t* const kShortDayNames[] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
const char16_t* const kLongDayNames[] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                         u"Thursday", u"Friday", u"Saturday"};

// Formats a date/time by a picture of the settings' kind (d, m, y, h, n, s,
// z, AM/PM, quoted literals; "/" and ":" stand for the separators).
UnicodeString FormatPictureText(std::u16string_view picture, double value) {
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
        if (run <= 2)
          AppendNumber(out, year % 100, 2);
        else
          AppendNumber(out, year, 4);
        break;
      case u'd': {
        int dow = DayOfWeek(value) - 1;
        if (run == 1)
          AppendNumber(out, day, 1);
        else if (run == 2)
          AppendNumber(out, day, 2);
        else if (run == 3)
          out += kShortDayNames[dow];
        else
          out += kLongDayNames[dow];
        break;
      }
      case u'm':
        if (afterHour && run <= 2)
          AppendNumber(out, minute, static_cast<int>(run));
        else if (run <= 2)
          AppendNumber(out, month, static_cast<int>(run));
        else if (run == 3)
          out += kShortMonthNames[month - 1];
        else
          out += kLongMonthNames[month - 1];
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
      case u'/':
        for (size_t k = 0; k < run; ++k) out.push_back(fs.DateSeparator);
        break;
      case u':':
        for (size_t k = 0; k < run; ++k) out.push_back(fs.TimeSeparator);
        break;
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
      if (lower == u'd' && posD < 0)
        posD = order++;
      else if (lower == u'm' && posM < 0)
        posM = order++;
      else if (lower == u'y' && posY < 0)
        posY = order++;
    }
    if (posD < 0 || posM < 0 || posY < 0) posM = 0, posD = 1, posY = 2;
    if (count == 2) {
      // Day and month only: the current year, the pair in the settings' order.
      std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      year = local.tm_year + 1900;
      if (posD < posM)
        day = parts[0], month = parts[1];
      else
        month = parts[0], day = parts[1];
    } else {
      day = parts[posD], month = parts[posM], year = parts[posY];
      if (widths[posY] <= 2) year += year < 30 ? 2000 : 1900;
    }
  }
  return TryEncodeDate(year, month, day, date);
}

}  // namespace

bool IsCalendarDate(double date) {
  double day = std::trunc(date);
  return day >= MinDateValue && day <= MaxDateValue;
}

bool TryEncodeDate(int year, int month, int day, double& date) {
  static const int daysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int limit = daysIn[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day > limit) return false;
  date = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                             UnixDateDelta);
  return true;
}

void DecodeDate(double date, int& year, int& month, int& day) {
  // The date part truncates toward zero: -0.5 is 1899-12-30, 12:00.
  CivilFromDays(static_cast<int64_t>(CheckedDate(date)) - UnixDateDelta, year, month, day);
}

void DecodeTime(double date, int& hour, int& minute, int& second, int& msec) {
  double fraction = std::fabs(date - CheckedDate(date));
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
  if (datePart != 0 || !hasTime) out = FormatDateTime(fs.ShortDateFormat, dateTime);
  if (hasTime) {
    if (!out.empty()) out.push_back(u' ');
    out += FormatDateTime(fs.LongTimeFormat, dateTime);
  }
  return out;
}


double EncodeDate(int year, int month, int day) {
  double date;
  if (!TryEncodeDate(year, month, day, date)) throw EConvertError(UnicodeString(SDateEncodeError));
  return date;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, double& time) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
    return false;
  time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / MSecsPerDay;
  return true;
}

double EncodeTime(int hour, int minute, int second, int msec) {
  double time;
  if (!TryEncodeTime(hour, minute, second, msec, time)) throw EConvertError(UnicodeString(STimeEncodeError));
  return time;
}

int DayOfWeek(double date) {
  // 1899-12-30 (day 0) was a Saturday.
  int64_t days = static_cast<int64_t>(CheckedDate(date));
  int64_t dow = (days + 6) % 7;
  if (dow < 0) dow += 7;
  return static_cast<int>(dow) + 1;
}

double Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm local{};
  time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &local);
  double date, time;
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
  TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, static_cast<int>(tv.tv_usec / 1000),
                time);
  return date + time;
}

double Date() { return std::trunc(Now()); }

double Time() {
  double now = Now();
  return now - std::trunc(now);
}

int64_t DateTimeToUnix(double dateTime) {
  CheckedDate(dateTime);
  return static_cast<int64_t>(std::nearbyint((dateTime - UnixDateDelta) * SecsPerDay));
}

double UnixToDateTime(int64_t unixTime) { return static_cast<double>(unixTime) / SecsPerDay + UnixDateDelta; }

UnicodeString FormatDateTime(std::u16string_view picture, double dateTime) {
  return FormatPictureText(picture, dateTime);
}

UnicodeString DateToStr(double date) { return FormatDateTime(FormatSettings().ShortDateFormat, date); }

double StrToDate(std::u16string_view text) {
  double date;
  std::u16string_view trimmed = TrimBlanks(text);
  if (trimmed.empty() || !TryParseDate(trimmed, date))
    throw EConvertError(FormatText(SInvalidDate, {UnicodeString(text)}));
  return date;
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


}  // namespace rtl
