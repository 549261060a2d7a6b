// Dates and times as days since 30 December 1899, the fraction being the
// time of day: encoding, decoding, the clock, Unix time, and text under the
// user's date and time formats.
#pragma once

#include <cstdint>

#include "rtl/SysUtils.h"

namespace rtl {

constexpr double SecsPerDay = 86400;
constexpr double MSecsPerDay = 86400000;
constexpr int32_t DateDelta = 693594;     // days from 0001-01-01 to 1899-12-30
constexpr int64_t UnixDateDelta = 25569;  // 1970-01-01 as a date value

constexpr std::u16string_view SDateEncodeError = u"Invalid argument to date encode";
constexpr std::u16string_view STimeEncodeError = u"Invalid argument to time encode";
constexpr std::u16string_view SInvalidDate = u"''%s'' is not a valid date";

// Days since 1899-12-30 of a calendar date; false when the date is invalid.
bool TryEncodeDate(int year, int month, int day, double& date);
// Raises EConvertError "Invalid argument to date encode".
double EncodeDate(int year, int month, int day);
bool TryEncodeTime(int hour, int minute, int second, int msec, double& time);
// Raises EConvertError "Invalid argument to time encode".
double EncodeTime(int hour, int minute, int second, int msec);
void DecodeDate(double date, int& year, int& month, int& day);
void DecodeTime(double date, int& hour, int& minute, int& second, int& msec);
// True when the value's day lies between 0001-01-01 and 9999-12-31, the
// dates that have a calendar form; the routines above refuse the others.
bool IsCalendarDate(double date);
// 1 is Sunday, 7 is Saturday.
int DayOfWeek(double date);

// The local clock.
double Now();
double Date();
double Time();

// (D - 25569) x 86400 to the nearest integer, halves to even.
int64_t DateTimeToUnix(double dateTime);
double UnixToDateTime(int64_t unixTime);

// Formats by a picture of d, m, y, h, n, s, z, AM/PM, quoted text, with "/"
// and ":" standing for the date and time separators.
UnicodeString FormatDateTime(std::u16string_view picture, double dateTime);
// The short date format.
UnicodeString DateToStr(double date);
// The short date format, then the long time format when there is a time of
// day; a value with no date part shows only its time.
UnicodeString DateTimeToStr(double dateTime);
// Reads a date and/or time under the short date format and separators.
bool TryTextToDateTime(std::u16string_view text, double& value);
// Reads a date alone; raises EConvertError "''%s'' is not a valid date".
double StrToDate(std::u16string_view text);

}  // namespace rtl
