#include "rtl/DelimitedText.h"

namespace rtl {

namespace {

bool IsBlank(char16_t c) { return c >= 1 && c <= 32; }

}  // namespace

void SplitFields(std::u16string_view line, char16_t delimiter, const std::function<void(std::u16string_view)>& take) {
  const size_t n = line.size();
  size_t i = 0;
  UnicodeString quoted;  // a quoted field's text without its marks
  while (i < n && IsBlank(line[i])) ++i;
  while (i < n) {
    if (line[i] == u'"') {
      quoted.clear();
      ++i;
      while (i < n) {
        if (line[i] == u'"') {
          if (i + 1 < n && line[i + 1] == u'"') {
            quoted.push_back(u'"');
            i += 2;
            continue;
          }
          ++i;  // the closing mark
          break;
        }
        quoted.push_back(line[i++]);
      }
      take(quoted);
    } else {
      size_t start = i;
      while (i < n && !IsBlank(line[i]) && line[i] != delimiter) ++i;
      take(line.substr(start, i - start));
    }
    while (i < n && IsBlank(line[i])) ++i;
    if (i < n && line[i] == delimiter) {
      if (i == n - 1) take({});
      ++i;
      while (i < n && IsBlank(line[i])) ++i;
    }
  }
}

std::vector<UnicodeString> SplitFields(std::u16string_view line, char16_t delimiter) {
  std::vector<UnicodeString> fields;
  SplitFields(line, delimiter, [&](std::u16string_view field) { fields.emplace_back(field); });
  return fields;
}

std::vector<UnicodeString> SplitLines(std::u16string_view text) {
  std::vector<UnicodeString> lines;
  size_t start = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t c = text[i];
    if (c != u'\r' && c != u'\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < n) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace rtl
