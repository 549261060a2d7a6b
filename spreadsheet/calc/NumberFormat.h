// The number-format language of the application ("#,##0.00", "0%",
// "yyyy-mm-dd", "[h]:mm", "0.00;[Red]-0.00;\"zero\";@"): turns a value into
// the text a cell with that format shows, as TEXT, DOLLAR and FIXED give it.
// Separators and names are those of the en-US locale, which the stored
// format codes are written in.
#pragma once

#include <string>
#include <string_view>

namespace spreadsheet::calc {

enum class TFormatResult {
  Done,
  // The code cannot show the value (a negative or too large date): TEXT
  // gives #VALUE!.
  Invalid,
  // The code uses what this engine does not format (fractions, other
  // calendars): the caller must not guess.
  Unsupported,
};

// Formats a number. `date1904`: date serials count from 1904-01-01.
TFormatResult FormatNumber(double value, std::string_view code, bool date1904, std::string& out);
// Formats text through the code's text section (the fourth, or a single
// section holding @); text passes unchanged when the code has none.
TFormatResult FormatText(std::string_view text, std::string_view code, std::string& out);

// The digits of |value| rounded half away from zero to `decimals` places
// (negative: tens, hundreds...) after rounding to the 15 significant digits
// the application works with: "123" and "45" for 123.45 with 2 places.
void DecimalDigits(double value, int decimals, std::string& integer, std::string& fraction);

}  // namespace spreadsheet::calc
