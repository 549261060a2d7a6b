#include "engine/imports/uPSR_dateutils.h"

#include "engine/runtime/HostCalls.h"
#include "rtl/DateUtils.h"

namespace ps {

void RegisterDateTimeLibrary_R(TPSExec& S) {
  using rtl::UnicodeString;
  RegisterNativeFunction(
      S, "EncodeDate", +[](uint16_t y, uint16_t m, uint16_t d) { return rtl::EncodeDate(y, m, d); });
  RegisterNativeFunction(
      S, "EncodeTime", +[](uint16_t h, uint16_t n, uint16_t s, uint16_t ms) { return rtl::EncodeTime(h, n, s, ms); });
  RegisterNativeFunction(
      S, "TryEncodeDate",
      +[](uint16_t y, uint16_t m, uint16_t d, double& date) { return rtl::TryEncodeDate(y, m, d, date); });
  RegisterNativeFunction(
      S, "TryEncodeTime", +[](uint16_t h, uint16_t n, uint16_t s, uint16_t ms, double& time) {
        return rtl::TryEncodeTime(h, n, s, ms, time);
      });
  RegisterNativeFunction(
      S, "DecodeDate", +[](double date, uint16_t& y, uint16_t& m, uint16_t& d) {
        int year, month, day;
        rtl::DecodeDate(date, year, month, day);
        y = static_cast<uint16_t>(year);
        m = static_cast<uint16_t>(month);
        d = static_cast<uint16_t>(day);
      });
  RegisterNativeFunction(
      S, "DecodeTime", +[](double time, uint16_t& h, uint16_t& n, uint16_t& s, uint16_t& ms) {
        int hour, minute, second, msec;
        rtl::DecodeTime(time, hour, minute, second, msec);
        h = static_cast<uint16_t>(hour);
        n = static_cast<uint16_t>(minute);
        s = static_cast<uint16_t>(second);
        ms = static_cast<uint16_t>(msec);
      });
  RegisterNativeFunction(
      S, "DayOfWeek", +[](double date) { return static_cast<uint16_t>(rtl::DayOfWeek(date)); });
  RegisterNativeFunction(
      S, "Date", +[]() { return rtl::Date(); });
  RegisterNativeFunction(
      S, "Time", +[]() { return rtl::Time(); });
  RegisterNativeFunction(
      S, "Now", +[]() { return rtl::Now(); });
  RegisterNativeFunction(
      S, "DateTimeToUnix", +[](double d) { return rtl::DateTimeToUnix(d); });
  RegisterNativeFunction(
      S, "UnixToDateTime", +[](int64_t u) { return rtl::UnixToDateTime(u); });
  RegisterNativeFunction(
      S, "DateToStr", +[](double d) { return rtl::DateToStr(d); });
  RegisterNativeFunction(
      S, "StrToDate", +[](const UnicodeString& s) { return rtl::StrToDate(s); });
  RegisterNativeFunction(
      S, "FormatDateTime", +[](const UnicodeString& fmt, double d) { return rtl::FormatDateTime(fmt, d); });
}

}  // namespace ps
