// Date and time functions. Dates are serial day numbers: in the 1900 system
// day 1 is 1900-01-01 and day 60 the 29 February 1900 the application has
// always pretended existed, so serials from 61 on count real days from
// 1899-12-30; in the 1904 system day 0 is 1904-01-01. Times are fractions
// of a day.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "spreadsheet/calc/CivilDates.h"
#include "spreadsheet/calc/Functions.h"

namespace spreadsheet::calc {

namespace {

[[noreturn]] void Raise(TErrorValue e) { throw TCalcError{e}; }

TValue Num(double n) { return TValue::FromNumber(n); }

int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

struct TDate {
  int64_t Year;
  int Month, Day;
};

// The workbook's date system: serials to dates and back.
class TCalendar {
 public:
  explicit TCalendar(bool date1904) : F1904(date1904) {}
  explicit TCalendar(TCallContext& call) : F1904(call.Evaluator().Book().Date1904()) {}

  bool Is1904() const { return F1904; }
  // The last serial: 9999-12-31.
  int64_t MaxSerial() const { return F1904 ? 2957003 : 2958465; }
  bool Valid(int64_t serial) const { return serial >= 0 && serial <= MaxSerial(); }

  // The serial of day `d` of month `m` of year `y`, months and days past
  // their ends (or before their starts) carrying into the next unit.
  int64_t Serial(int64_t y, int64_t m, int64_t d) const {
    y += FloorDiv(m - 1, 12);
    m = FloorMod(m - 1, 12) + 1;
    // Far outside the calendar: any value past the end does.
    if (y < -100000 || y > 100000) return y < 0 ? -(int64_t{1} << 40) : int64_t{1} << 40;
    int64_t first = DaysFromCivil(y, m, 1);
    if (F1904) return first - DaysFromCivil(1904, 1, 1) + d - 1;
    // Before March 1900 the serials run one day later than the real calendar,
    // which had no 29 February 1900.
    int64_t origin = first < DaysFromCivil(1900, 3, 1) ? DaysFromCivil(1899, 12, 31) : DaysFromCivil(1899, 12, 30);
    return first - origin + d - 1;
  }

  TDate DateOf(int64_t serial) const {
    TDate date{};
    if (F1904) {
      CivilFromDays(serial + DaysFromCivil(1904, 1, 1), date.Year, date.Month, date.Day);
    } else if (serial == 0) {
      date = {1900, 1, 0};  // the day before 1900-01-01, as the application names it
    } else if (serial == 60) {
      date = {1900, 2, 29};
    } else {
      CivilFromDays(serial + (serial < 60 ? DaysFromCivil(1899, 12, 31) : DaysFromCivil(1899, 12, 30)), date.Year,
                    date.Month, date.Day);
    }
    return date;
  }

  int DaysInMonth(int64_t y, int m) const {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && (IsLeap(y) || (!F1904 && y == 1900))) return 29;
    return days[m - 1];
  }

  // 0 for Sunday to 6 for Saturday. In the 1900 system the weekday follows
  // the serial, so serial 1 is a Sunday as the application shows it.
  int Weekday(int64_t serial) const { return static_cast<int>(FloorMod(serial + (F1904 ? 1462 : 0) + 6, 7)); }

 private:
  bool F1904;
};

// --- Reading dates and times from text ------------------------------------------------

struct TToken {
  enum TKind { Number, Word, Separator } Kind;
  std::string Text;  // a word or number as written; a separator's character
  int64_t Value = 0;
};

std::vector<TToken> Tokenize(std::string_view text, bool& ok) {
  std::vector<TToken> tokens;
  ok = true;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isdigit(c)) {
      size_t j = i;
      int64_t value = 0;
      while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
        if (value < 100000000) value = value * 10 + (text[j] - '0');
        ++j;
      }
      tokens.push_back({TToken::Number, std::string(text.substr(i, j - i)), value});
      i = j;
    } else if (std::isalpha(c)) {
      size_t j = i;
      while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
      tokens.push_back({TToken::Word, std::string(text.substr(i, j - i))});
      i = j;
    } else if (c == ' ') {
      // A space counts only where no other separator stands beside it.
      size_t j = i;
      while (j < text.size() && text[j] == ' ') ++j;
      bool besideOther = (!tokens.empty() && tokens.back().Kind == TToken::Separator) ||
                         (j < text.size() && std::string_view("/-,:.").find(text[j]) != std::string_view::npos);
      if (!besideOther && !tokens.empty() && j < text.size()) tokens.push_back({TToken::Separator, " "});
      i = j;
    } else if (std::string_view("/-,:.").find(static_cast<char>(c)) != std::string_view::npos) {
      if (!tokens.empty() && tokens.back().Kind == TToken::Separator) {
        if (tokens.back().Text != " ") {
          ok = false;
          return tokens;
        }
        tokens.back().Text = std::string(1, static_cast<char>(c));
      } else {
        tokens.push_back({TToken::Separator, std::string(1, static_cast<char>(c))});
      }
      ++i;
    } else {
      ok = false;
      return tokens;
    }
  }
  return tokens;
}

// 1-12 for an English month name or its three-letter abbreviation, else 0.
int MonthNumber(std::string_view word) {
  static const char* const names[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                      "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
  for (int m = 0; m < 12; ++m) {
    std::string_view name = names[m];
    if ((word.size() == 3 || word.size() == name.size()) && SameText(word, name.substr(0, word.size()))) return m + 1;
  }
  return 0;
}

int64_t CurrentYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

// Two-digit years: 00-29 are 2000-2029, 30-99 are 1930-1999.
int64_t FullYear(const TToken& t) {
  if (t.Text.size() <= 2) return t.Value < 30 ? 2000 + t.Value : 1900 + t.Value;
  return t.Value;
}

// The time at the end of the tokens from `start`: h:mm[:ss[.fff]] [AM|PM] or
// h AM|PM. Fraction of a day, possibly a day or more for hours past 23.
bool ParseTime(const std::vector<TToken>& t, size_t start, double& days) {
  size_t i = start, n = t.size();
  auto sep = [&](size_t k, const char* s) { return k < n && t[k].Kind == TToken::Separator && t[k].Text == s; };
  auto number = [&](size_t k) { return k < n && t[k].Kind == TToken::Number; };
  if (!number(i)) return false;
  int64_t h = t[i].Value, m = 0;
  double s = 0;
  bool minutes = false;
  ++i;
  if (sep(i, ":") && number(i + 1)) {
    m = t[i + 1].Value;
    minutes = true;
    i += 2;
    if (sep(i, ":") && number(i + 1)) {
      s = static_cast<double>(t[i + 1].Value);
      i += 2;
      if (sep(i, ".") && number(i + 1)) {
        s += std::stod("0." + t[i + 1].Text);
        i += 2;
      }
    }
  }
  if (i < n && t[i].Kind == TToken::Separator && t[i].Text == " ") ++i;
  int half = 0;  // 1 AM, 2 PM
  if (i < n && t[i].Kind == TToken::Word) {
    if (SameText(t[i].Text, "AM") || SameText(t[i].Text, "A"))
      half = 1;
    else if (SameText(t[i].Text, "PM") || SameText(t[i].Text, "P"))
      half = 2;
    else
      return false;
    ++i;
  }
  if (i != n || (!minutes && !half)) return false;
  if (m > 59 || s >= 60) return false;
  if (half) {
    if (h < 1 || h > 12) return false;
    h = h % 12 + (half == 2 ? 12 : 0);
  } else if (h > 9999) {
    return false;
  }
  days = (static_cast<double>(h) * 3600 + static_cast<double>(m) * 60 + s) / 86400;
  return true;
}

// The date written in tokens [0, end): month/day/year, year-month-day,
// day-month name-year, month name day, year and shorter forms.
bool ParseDate(const std::vector<TToken>& t, size_t end, const TCalendar& calendar, int64_t& serial) {
  std::vector<const TToken*> parts;
  std::string separators;
  for (size_t i = 0; i < end; ++i) {
    if (t[i].Kind == TToken::Separator) {
      if (t[i].Text == ":" || t[i].Text == ".") return false;
      separators += t[i].Text;
      continue;
    }
    if (!parts.empty() && (i == 0 || t[i - 1].Kind != TToken::Separator)) return false;
    parts.push_back(&t[i]);
  }
  // A leading weekday name ("Monday, January 5, 2026") says nothing more.
  static const char* const weekdays[] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};
  if (!parts.empty() && parts[0]->Kind == TToken::Word && !MonthNumber(parts[0]->Text))
    for (std::string_view day : weekdays)
      if (SameText(parts[0]->Text, day) || (parts[0]->Text.size() == 3 && SameText(parts[0]->Text, day.substr(0, 3)))) {
        parts.erase(parts.begin());
        if (!separators.empty()) separators.erase(0, 1);
        break;
      }
  bool numericSeparators = separators.find_first_not_of("/-") == std::string::npos &&
                           (separators.find('/') == std::string::npos || separators.find('-') == std::string::npos);
  std::string kinds;
  for (const TToken* p : parts) kinds += p->Kind == TToken::Number ? 'N' : 'W';
  int64_t y = 0, m = 0, d = 0;
  auto validDay = [&](int64_t year, int64_t month, int64_t day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= calendar.DaysInMonth(year, static_cast<int>(month));
  };
  if (kinds == "NNN") {
    if (!numericSeparators) return false;
    if (parts[0]->Text.size() >= 3) {
      y = parts[0]->Value, m = parts[1]->Value, d = parts[2]->Value;
    } else {
      m = parts[0]->Value, d = parts[1]->Value, y = FullYear(*parts[2]);
    }
  } else if (kinds == "NN") {
    if (!numericSeparators) return false;
    if (parts[0]->Text.size() >= 3) {
      y = parts[0]->Value, m = parts[1]->Value, d = 1;
    } else {
      m = parts[0]->Value, d = parts[1]->Value, y = CurrentYear();
      if (!validDay(y, m, d)) y = FullYear(*parts[1]), d = 1;
    }
  } else if (kinds == "NWN" || kinds == "NW") {
    d = parts[0]->Value, m = MonthNumber(parts[1]->Text);
    y = kinds == "NWN" ? FullYear(*parts[2]) : CurrentYear();
    if (kinds == "NW" && !validDay(y, m, d) && m) y = FullYear(*parts[0]), d = 1;
  } else if (kinds == "WNN" || kinds == "WN") {
    m = MonthNumber(parts[0]->Text), d = parts[1]->Value;
    y = kinds == "WNN" ? FullYear(*parts[2]) : CurrentYear();
    if (kinds == "WN" && m && !validDay(y, m, d)) y = FullYear(*parts[1]), d = 1;
  } else {
    return false;
  }
  if (y < 1900 || y > 9999 || !validDay(y, m, d)) return false;
  serial = calendar.Serial(y, m, d);
  return calendar.Valid(serial);
}

// Text as the application reads a typed date, time or both; false when it
// is neither.
bool ParseDateTime(std::string_view text, const TCalendar& calendar, double& value) {
  bool ok;
  std::vector<TToken> t = Tokenize(text, ok);
  if (!ok || t.empty()) return false;
  // The time starts at the first number followed by ":" or by AM/PM.
  size_t timeStart = t.size();
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i].Kind != TToken::Number) continue;
    size_t k = i + 1;
    if (k < t.size() && t[k].Kind == TToken::Separator && t[k].Text == " ") ++k;
    bool colon = i + 1 < t.size() && t[i + 1].Kind == TToken::Separator && t[i + 1].Text == ":";
    bool half = k < t.size() && t[k].Kind == TToken::Word &&
                (SameText(t[k].Text, "AM") || SameText(t[k].Text, "PM") || SameText(t[k].Text, "A") ||
                 SameText(t[k].Text, "P"));
    if (colon || half) {
      timeStart = i;
      break;
    }
  }
  double time = 0;
  if (timeStart < t.size() && !ParseTime(t, timeStart, time)) return false;
  size_t dateEnd = timeStart;
  if (dateEnd < t.size() && dateEnd > 0 && t[dateEnd - 1].Kind == TToken::Separator) {
    if (t[dateEnd - 1].Text != " ") return false;
    --dateEnd;
  }
  int64_t serial = 0;
  if (dateEnd > 0 && !ParseDate(t, dateEnd, calendar, serial)) return false;
  value = static_cast<double>(serial) + time;
  return true;
}

// --- Arguments -------------------------------------------------------------------------

// A date or time argument: a number, or text holding a number, date or time.
double DateTimeArg(TCallContext& call, size_t i, const TCalendar& calendar) {
  TValue v = call.Scalar(i);
  if (v.IsText()) {
    double n;
    if (ParseDateTime(v.String, calendar, n) || TextToNumber(v.String, n)) return n;
    Raise(TErrorValue::Value);
  }
  return ToNumber(v);
}

// A whole-day serial within the calendar.
int64_t SerialArg(TCallContext& call, size_t i, const TCalendar& calendar) {
  double x = DateTimeArg(call, i, calendar);
  if (x < 0 || x >= static_cast<double>(calendar.MaxSerial() + 1)) Raise(TErrorValue::Num);
  return static_cast<int64_t>(std::floor(x));
}

// The analysis functions (EDATE, WORKDAY, YEARFRAC...) refuse Booleans.
int64_t StrictSerialArg(TCallContext& call, size_t i, const TCalendar& calendar) {
  if (call.Scalar(i).IsBoolean()) Raise(TErrorValue::Value);
  return SerialArg(call, i, calendar);
}

double StrictNumber(TCallContext& call, size_t i) {
  TValue v = call.Scalar(i);
  if (v.IsBoolean()) Raise(TErrorValue::Value);
  return ToNumber(v);
}

TValue Result(int64_t serial, const TCalendar& calendar) {
  if (!calendar.Valid(serial)) Raise(TErrorValue::Num);
  return Num(static_cast<double>(serial));
}

// Seconds of the day, rounded to the whole second as the application shows
// times (0.9999999 is midnight of the next day).
int64_t SecondsOfDay(TCallContext& call) {
  TCalendar calendar(call);
  double x = DateTimeArg(call, 0, calendar);
  if (x < 0) Raise(TErrorValue::Num);
  double fraction = x - std::floor(x);
  return static_cast<int64_t>(std::llround(fraction * 86400)) % 86400;
}

// --- Functions -------------------------------------------------------------------------

TValue Date(TCallContext& call) {
  TCalendar calendar(call);
  double y = std::trunc(call.Number(0)), m = std::trunc(call.Number(1)), d = std::trunc(call.Number(2));
  if (y < 0 || y >= 10000) Raise(TErrorValue::Num);
  if (y < 1900) y += 1900;
  if (std::fabs(m) > 1e9 || std::fabs(d) > 1e9) Raise(TErrorValue::Num);
  return Result(calendar.Serial(static_cast<int64_t>(y), static_cast<int64_t>(m), static_cast<int64_t>(d)), calendar);
}

TValue Year(TCallContext& call) {
  TCalendar calendar(call);
  return Num(static_cast<double>(calendar.DateOf(SerialArg(call, 0, calendar)).Year));
}
TValue Month(TCallContext& call) {
  TCalendar calendar(call);
  return Num(calendar.DateOf(SerialArg(call, 0, calendar)).Month);
}
TValue Day(TCallContext& call) {
  TCalendar calendar(call);
  return Num(calendar.DateOf(SerialArg(call, 0, calendar)).Day);
}

TValue Hour(TCallContext& call) { return Num(static_cast<double>(SecondsOfDay(call) / 3600)); }
TValue Minute(TCallContext& call) { return Num(static_cast<double>(SecondsOfDay(call) / 60 % 60)); }
TValue Second(TCallContext& call) { return Num(static_cast<double>(SecondsOfDay(call) % 60)); }

TValue Time(TCallContext& call) {
  double h = std::trunc(call.Number(0)), m = std::trunc(call.Number(1)), s = std::trunc(call.Number(2));
  if (h > 32767 || m > 32767 || s > 32767) Raise(TErrorValue::Num);
  double total = h * 3600 + m * 60 + s;
  if (total < 0) Raise(TErrorValue::Num);
  return Num(std::fmod(total, 86400) / 86400);
}

std::string TextArg(TCallContext& call, size_t i) {
  TValue v = call.Scalar(i);
  if (!v.IsText()) Raise(TErrorValue::Value);
  return v.String;
}

TValue DateValue(TCallContext& call) {
  TCalendar calendar(call);
  double value;
  if (!ParseDateTime(TextArg(call, 0), calendar, value)) Raise(TErrorValue::Value);
  return Num(std::floor(value));
}

TValue TimeValue(TCallContext& call) {
  TCalendar calendar(call);
  double value;
  if (!ParseDateTime(TextArg(call, 0), calendar, value)) Raise(TErrorValue::Value);
  return Num(value - std::floor(value));
}

TValue Now(TCallContext& call) {
  TCalendar calendar(call);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  double day = static_cast<double>(calendar.Serial(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday));
  return Num(day + (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0);
}

TValue Today(TCallContext& call) { return Num(std::floor(Now(call).Number)); }

TValue Days(TCallContext& call) {
  TCalendar calendar(call);
  int64_t end = SerialArg(call, 0, calendar), start = SerialArg(call, 1, calendar);
  return Num(static_cast<double>(end - start));
}

// DATEDIF's units; "MD" and "YD" keep the application's way of moving the
// start into the end's month or year, negative results included.
TValue DateDif(TCallContext& call) {
  TCalendar calendar(call);
  int64_t start = SerialArg(call, 0, calendar), end = SerialArg(call, 1, calendar);
  std::string unit = call.Text(2);
  if (start > end) Raise(TErrorValue::Num);
  TDate s = calendar.DateOf(start), e = calendar.DateOf(end);
  int64_t months = (e.Year - s.Year) * 12 + (e.Month - s.Month) - (e.Day < s.Day ? 1 : 0);
  if (SameText(unit, "D")) return Num(static_cast<double>(end - start));
  if (SameText(unit, "M")) return Num(static_cast<double>(months));
  if (SameText(unit, "Y")) return Num(static_cast<double>(months / 12));
  if (SameText(unit, "YM")) return Num(static_cast<double>(months % 12));
  if (SameText(unit, "MD")) {
    if (e.Day >= s.Day) return Num(e.Day - s.Day);
    return Num(static_cast<double>(end - calendar.Serial(e.Year, e.Month - 1, s.Day)));
  }
  if (SameText(unit, "YD")) {
    int64_t moved = calendar.Serial(e.Year, s.Month, s.Day);
    if (moved > end) moved = calendar.Serial(e.Year - 1, s.Month, s.Day);
    return Num(static_cast<double>(end - moved));
  }
  Raise(TErrorValue::Num);
}

TValue EDate(TCallContext& call) {
  TCalendar calendar(call);
  TDate d = calendar.DateOf(StrictSerialArg(call, 0, calendar));
  double months = std::trunc(StrictNumber(call, 1));
  if (std::fabs(months) > 1e6) Raise(TErrorValue::Num);
  int64_t m = d.Month + static_cast<int64_t>(months);
  int64_t y = d.Year + FloorDiv(m - 1, 12);
  m = FloorMod(m - 1, 12) + 1;
  int day = std::min(d.Day, calendar.DaysInMonth(y, static_cast<int>(m)));
  return Result(calendar.Serial(y, m, day), calendar);
}

TValue EoMonth(TCallContext& call) {
  TCalendar calendar(call);
  TDate d = calendar.DateOf(StrictSerialArg(call, 0, calendar));
  double months = std::trunc(StrictNumber(call, 1));
  if (std::fabs(months) > 1e6) Raise(TErrorValue::Num);
  return Result(calendar.Serial(d.Year, d.Month + static_cast<int64_t>(months) + 1, 1) - 1, calendar);
}

TValue Weekday(TCallContext& call) {
  TCalendar calendar(call);
  int day = calendar.Weekday(SerialArg(call, 0, calendar));
  double type = std::trunc(call.Number(1, 1));
  if (type == 1) return Num(day + 1);
  if (type == 2) return Num((day + 6) % 7 + 1);
  if (type == 3) return Num((day + 6) % 7);
  if (type >= 11 && type <= 17) {
    int first = (static_cast<int>(type) - 10) % 7;  // 11 Monday ... 17 Sunday
    return Num((day - first + 7) % 7 + 1);
  }
  Raise(TErrorValue::Num);
}

// The ISO 8601 week: weeks start on Monday, week 1 holds the year's first Thursday.
int IsoWeek(int64_t serial, const TCalendar& calendar) {
  int fromMonday = (calendar.Weekday(serial) + 6) % 7;
  int64_t thursday = serial - fromMonday + 3;
  int64_t jan1 = calendar.Serial(calendar.DateOf(thursday).Year, 1, 1);
  if (!calendar.Is1904() && thursday == 0) jan1 = calendar.Serial(1899, 1, 1);
  return static_cast<int>((thursday - jan1) / 7 + 1);
}

TValue IsoWeekNum(TCallContext& call) {
  TCalendar calendar(call);
  return Num(IsoWeek(SerialArg(call, 0, calendar), calendar));
}

TValue WeekNum(TCallContext& call) {
  TCalendar calendar(call);
  int64_t serial = SerialArg(call, 0, calendar);
  double type = std::trunc(call.Number(1, 1));
  int first;
  if (type == 1 || type == 17)
    first = 0;
  else if (type == 2 || type == 11)
    first = 1;
  else if (type >= 12 && type <= 16)
    first = static_cast<int>(type) - 10;
  else if (type == 21)
    return Num(IsoWeek(serial, calendar));
  else
    Raise(TErrorValue::Num);
  // Week 1 is the week holding 1 January.
  int64_t jan1 = calendar.Serial(calendar.DateOf(serial).Year, 1, 1);
  int offset = (calendar.Weekday(jan1) - first + 7) % 7;
  return Num(static_cast<double>(FloorDiv(serial - jan1 + offset, 7) + 1));
}

// The holidays argument: dates in a range, an array or one value, sorted.
std::vector<int64_t> Holidays(TCallContext& call, size_t i, const TCalendar& calendar) {
  std::vector<int64_t> days;
  call.ForEach(i, [&](const TValue& v, bool) {
    double n;
    if (v.IsBlank()) return;
    if (v.IsError()) Raise(v.Err);
    if (v.IsNumber())
      n = v.Number;
    else if (!v.IsText() || !ParseDateTime(v.String, calendar, n))
      Raise(TErrorValue::Value);
    if (n < 0 || n >= static_cast<double>(calendar.MaxSerial() + 1)) Raise(TErrorValue::Num);
    days.push_back(static_cast<int64_t>(std::floor(n)));
  });
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  return days;
}

bool Workday(int64_t serial, const TCalendar& calendar, const std::vector<int64_t>& holidays) {
  int day = calendar.Weekday(serial);
  return day != 0 && day != 6 && !std::binary_search(holidays.begin(), holidays.end(), serial);
}

// Monday to Friday from start to end, both counted; negative when the end
// comes first.
TValue NetworkDays(TCallContext& call) {
  TCalendar calendar(call);
  int64_t start = StrictSerialArg(call, 0, calendar), end = StrictSerialArg(call, 1, calendar);
  std::vector<int64_t> holidays = Holidays(call, 2, calendar);
  int sign = 1;
  if (start > end) std::swap(start, end), sign = -1;
  // Whole weeks hold five working days each; the rest is counted day by day.
  int64_t weeks = (end - start + 1) / 7;
  int64_t count = weeks * 5;
  for (int64_t d = start + weeks * 7; d <= end; ++d) {
    int day = calendar.Weekday(d);
    count += day != 0 && day != 6;
  }
  for (int64_t h : holidays) {
    int day = calendar.Weekday(h);
    count -= h >= start && h <= end && day != 0 && day != 6;
  }
  return Num(static_cast<double>(sign * count));
}

// The date `days` working days after (or before) start; start itself when
// days is 0, even on a weekend.
TValue WorkDay(TCallContext& call) {
  TCalendar calendar(call);
  int64_t serial = StrictSerialArg(call, 0, calendar);
  double days = std::trunc(StrictNumber(call, 1));
  std::vector<int64_t> holidays = Holidays(call, 2, calendar);
  if (std::fabs(days) > static_cast<double>(calendar.MaxSerial())) Raise(TErrorValue::Num);
  int64_t left = static_cast<int64_t>(std::fabs(days));
  int step = days < 0 ? -1 : 1;
  while (left > 0) {
    // Far from the goal, whole weeks of five working days are skipped at
    // once; the holidays they held are made up for afterwards.
    if (left > 10) {
      int64_t weeks = (left - 5) / 5;
      int64_t next = serial + step * weeks * 7;
      int64_t lo = std::min(serial, next) + (step > 0 ? 1 : 0), hi = std::max(serial, next) - (step < 0 ? 1 : 0);
      int64_t lost = 0;
      for (auto it = std::lower_bound(holidays.begin(), holidays.end(), lo); it != holidays.end() && *it <= hi; ++it)
        lost += Workday(*it, calendar, {});
      serial = next;
      left -= weeks * 5 - lost;
    } else {
      serial += step;
      if (!calendar.Valid(serial)) Raise(TErrorValue::Num);
      left -= Workday(serial, calendar, holidays);
    }
    if (!calendar.Valid(serial)) Raise(TErrorValue::Num);
  }
  return Result(serial, calendar);
}

bool LastOfFebruary(const TDate& d, const TCalendar& calendar) {
  return d.Month == 2 && d.Day == calendar.DaysInMonth(d.Year, 2);
}

// YEARFRAC's bases: 0 US 30/360, 1 actual/actual, 2 actual/360, 3
// actual/365, 4 European 30/360; each with the application's adjustments.
TValue YearFrac(TCallContext& call) {
  TCalendar calendar(call);
  int64_t start = StrictSerialArg(call, 0, calendar), end = StrictSerialArg(call, 1, calendar);
  double basis = call.Missing(2) ? 0 : std::trunc(StrictNumber(call, 2));
  if (basis < 0 || basis > 4) Raise(TErrorValue::Num);
  if (start > end) std::swap(start, end);
  TDate a = calendar.DateOf(start), b = calendar.DateOf(end);
  double days = static_cast<double>(end - start);
  switch (static_cast<int>(basis)) {
    case 0: {
      int d1 = a.Day, d2 = b.Day;
      if (d1 == 31 && d2 == 31) {
        d1 = d2 = 30;
      } else if (d1 == 31) {
        d1 = 30;
      } else if (d1 == 30 && d2 == 31) {
        d2 = 30;
      } else if (LastOfFebruary(a, calendar) && LastOfFebruary(b, calendar)) {
        d1 = d2 = 30;
      } else if (LastOfFebruary(a, calendar)) {
        d1 = 30;
      }
      double diff = static_cast<double>((b.Year - a.Year) * 360 + (b.Month - a.Month) * 30 + (d2 - d1));
      return Num(diff / 360);
    }
    case 1: {
      bool withinYear = a.Year == b.Year ||
                        (a.Year + 1 == b.Year && (a.Month > b.Month || (a.Month == b.Month && a.Day >= b.Day)));
      if (withinYear) {
        bool leap = false;
        if (a.Year == b.Year) {
          leap = IsLeap(a.Year);
        } else {
          // A 29 February between the dates (or the end on one) makes the year 366 days.
          for (int64_t y : {a.Year, b.Year}) {
            if (!IsLeap(y)) continue;
            int64_t feb29 = calendar.Serial(y, 2, 29);
            if (feb29 >= start && feb29 <= end) leap = true;
          }
        }
        return Num(days / (leap ? 366 : 365));
      }
      double years = static_cast<double>(b.Year - a.Year + 1);
      double span = static_cast<double>(calendar.Serial(b.Year + 1, 1, 1) - calendar.Serial(a.Year, 1, 1));
      return Num(days / (span / years));
    }
    case 2: return Num(days / 360);
    case 3: return Num(days / 365);
    default: {
      int d1 = std::min(a.Day, 30), d2 = std::min(b.Day, 30);
      double diff = static_cast<double>((b.Year - a.Year) * 360 + (b.Month - a.Month) * 30 + (d2 - d1));
      return Num(diff / 360);
    }
  }
}

constexpr TFunctionInfo kDate[] = {
    {"DATE", 3, 3, &Date},
    {"DATEDIF", 3, 3, &DateDif},
    {"DATEVALUE", 1, 1, &DateValue},
    {"DAY", 1, 1, &Day},
    {"DAYS", 2, 2, &Days},
    {"EDATE", 2, 2, &EDate},
    {"EOMONTH", 2, 2, &EoMonth},
    {"HOUR", 1, 1, &Hour},
    {"ISOWEEKNUM", 1, 1, &IsoWeekNum},
    {"MINUTE", 1, 1, &Minute},
    {"MONTH", 1, 1, &Month},
    {"NETWORKDAYS", 2, 3, &NetworkDays},
    {"NOW", 0, 0, &Now, true},
    {"SECOND", 1, 1, &Second},
    {"TIME", 3, 3, &Time},
    {"TIMEVALUE", 1, 1, &TimeValue},
    {"TODAY", 0, 0, &Today, true},
    {"WEEKDAY", 1, 2, &Weekday},
    {"WEEKNUM", 1, 2, &WeekNum},
    {"WORKDAY", 2, 3, &WorkDay},
    {"YEAR", 1, 1, &Year},
    {"YEARFRAC", 2, 3, &YearFrac},
};

}  // namespace

std::span<const TFunctionInfo> DateFunctions() { return kDate; }

}  // namespace spreadsheet::calc
