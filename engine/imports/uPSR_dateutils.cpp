#include "engine/imports/uPSR_dateutils.h"

#include "engine/imports/Libraries.h"
#include "engine/runtime/LibraryRows.h"
#include "rtl/DateUtils.h"

namespace ps {

std::span<const TPSRoutineRow> DateTimeRoutineRows() {
  using rtl::UnicodeString;
  static const std::vector<TPSRoutineRow> rows = {
      {"function EncodeDate(Year, Month, Day: Word): TDateTime;",
       Native([](uint16_t y, uint16_t m, uint16_t d) { return rtl::EncodeDate(y, m, d); })},
      {"function EncodeTime(Hour, Min, Sec, MSec: Word): TDateTime;",
       Native([](uint16_t h, uint16_t n, uint16_t s, uint16_t ms) { return rtl::EncodeTime(h, n, s, ms); })},
      {"function TryEncodeDate(Year, Month, Day: Word; var Date: TDateTime): Boolean;",
       Native([](uint16_t y, uint16_t m, uint16_t d, double& date) { return rtl::TryEncodeDate(y, m, d, date); })},
      {"function TryEncodeTime(Hour, Min, Sec, MSec: Word; var Time: TDateTime): Boolean;",
       Native([](uint16_t h, uint16_t n, uint16_t s, uint16_t ms, double& time) {
         return rtl::TryEncodeTime(h, n, s, ms, time);
       })},
      {"procedure DecodeDate(const DateTime: TDateTime; var Year, Month, Day: Word);",
       Native([](double date, uint16_t& y, uint16_t& m, uint16_t& d) {
         int year, month, day;
         rtl::DecodeDate(date, year, month, day);
         y = static_cast<uint16_t>(year);
         m = static_cast<uint16_t>(month);
         d = static_cast<uint16_t>(day);
       })},
      {"procedure DecodeTime(const DateTime: TDateTime; var Hour, Min, Sec, MSec: Word);",
       Native([](double time, uint16_t& h, uint16_t& n, uint16_t& s, uint16_t& ms) {
         int hour, minute, second, msec;
         rtl::DecodeTime(time, hour, minute, second, msec);
         h = static_cast<uint16_t>(hour);
         n = static_cast<uint16_t>(minute);
         s = static_cast<uint16_t>(second);
         ms = static_cast<uint16_t>(msec);
       })},
      {"function DayOfWeek(const DateTime: TDateTime): Word;",
       Native([](double date) { return static_cast<uint16_t>(rtl::DayOfWeek(date)); })},
      {"function Date: TDateTime;", Native([]() { return rtl::Date(); })},
      {"function Time: TDateTime;", Native([]() { return rtl::Time(); })},
      {"function Now: TDateTime;", Native([]() { return rtl::Now(); })},
      {"function DateTimeToUnix(D: TDateTime): Int64;", Native([](double d) { return rtl::DateTimeToUnix(d); })},
      {"function UnixToDateTime(U: Int64): TDateTime;", Native([](int64_t u) { return rtl::UnixToDateTime(u); })},
      {"function DateToStr(D: TDateTime): String;", Native([](double d) { return rtl::DateToStr(d); })},
      {"function StrToDate(const s: String): TDateTime;",
       Native([](const UnicodeString& s) { return rtl::StrToDate(s); })},
      {"function FormatDateTime(const fmt: String; D: TDateTime): String;",
       Native([](const UnicodeString& fmt, double d) { return rtl::FormatDateTime(fmt, d); })},
  };
  return rows;
}

void RegisterDateTimeLibrary_R(TPSExec& S) { BindRoutines(S, DateTimeRoutineRows()); }

}  // namespace ps
