// Splitting one line of delimited text into fields, and splitting text into
// lines: the rules the CSV table, string lists and text files share.
#pragma once

#include <functional>
#include <vector>

#include "rtl/SysUtils.h"

namespace rtl {

// Splits a line into fields. Blanks (codes 1 to 32) around fields and
// delimiters are dropped; an unquoted field ends at a blank or the delimiter;
// a field in double quotation marks keeps everything up to the closing mark,
// with doubled marks standing for one.
std::vector<UnicodeString> SplitFields(std::u16string_view line, char16_t delimiter);
// The same fields one by one, without a string object each.
void SplitFields(std::u16string_view line, char16_t delimiter, const std::function<void(std::u16string_view)>& take);

// Splits text at CR LF, lone CR and lone LF. A line end after the last line
// adds no empty line.
std::vector<UnicodeString> SplitLines(std::u16string_view text);

}  // namespace rtl
