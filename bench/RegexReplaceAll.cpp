// Times TPerlRegEx.ReplaceAll replacing every match in a 1 MB subject, the
// way a script cleans a large text before it goes into cells.
//   bench_RegexReplaceAll [--with-handler]
// --with-handler also times the match-by-match path an OnReplace handler
// forces (slow by nature: every replacement that changes the length moves
// the rest of the subject).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bindings/PerlRegEx.h"

using bindings::TPerlRegEx;
using rtl::UnicodeString;

namespace {

// CSV-like lines: words, numbers, dates and a few accented letters.
UnicodeString MakeSubject(size_t bytes) {
  static const char16_t* const kWords[] = {u"alpha", u"Beta", u"gamma", u"délta", u"epsilon", u"zeta", u"Ærø"};
  UnicodeString s;
  unsigned seed = 12345;
  size_t utf8Bytes = 0;
  while (utf8Bytes < bytes) {
    seed = seed * 1103515245u + 12345u;
    UnicodeString line = kWords[(seed >> 8) % 7];
    line += u";" + rtl::IntToStr((seed >> 4) % 100000) + u";20" + rtl::IntToStr(10 + (seed >> 12) % 15) + u"-0" +
            rtl::IntToStr(1 + (seed >> 16) % 9) + u"-1" + rtl::IntToStr((seed >> 20) % 10) + u";" +
            kWords[(seed >> 24) % 7] + u" " + kWords[(seed >> 5) % 7] + u"\r\n";
    utf8Bytes += rtl::UnicodeToUtf8(line).size();
    s += line;
  }
  return s;
}

struct Scenario {
  const char* title;
  const char16_t* pattern;
  const char16_t* replacement;
};

void Run(const Scenario& s, const UnicodeString& subject, bool study, bool handler) {
  double best = 1e30;
  size_t matches = 0, resultBytes = 0;
  for (int round = 0; round < (handler ? 1 : 3); ++round) {
    TPerlRegEx r;
    r.SetRegEx(s.pattern);
    r.SetReplacement(s.replacement);
    r.SetSubject(subject);
    size_t count = 0;
    if (handler) {
      r.SetOnMatch([&](rtl::TObject*) { ++count; });
      r.SetOnReplace([](rtl::TObject*, UnicodeString&) {});
    }
    if (study) r.Study();
    auto t0 = std::chrono::steady_clock::now();
    r.ReplaceAll();
    auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    resultBytes = r.SubjectBytes().size();
    if (handler) matches = count;
  }
  if (!handler) {
    // Count the matches once, outside the timing.
    TPerlRegEx r;
    r.SetRegEx(s.pattern);
    r.SetSubject(subject);
    for (bool ok = r.Match(); ok; ok = r.MatchAgain()) ++matches;
  }
  std::printf("%-48s %-8s %8zu matches  %9.1f ms  (result %zu bytes)\n", s.title,
              handler ? "handler" : (study ? "JIT" : "interp."), matches, best, resultBytes);
}

}  // namespace

int main(int argc, char** argv) {
  bool withHandler = argc > 1 && std::strcmp(argv[1], "--with-handler") == 0;
  const UnicodeString subject = MakeSubject(1 << 20);
  std::printf("subject: %zu bytes of UTF-8, %zu lines\n", rtl::UnicodeToUtf8(subject).size(),
              static_cast<size_t>(std::count(subject.begin(), subject.end(), u'\n')));
  const Scenario scenarios[] = {
      {"numbers bracketed: \\d+ -> [$&]", u"\\d+", u"[$&]"},
      {"dates reordered: (\\d+)-(\\d+)-(\\d+) -> $3.$2.$1", u"(\\d+)-(\\d+)-(\\d+)", u"$3.$2.$1"},
      {"words capitalised: \\b\\w+ -> \\I0", u"\\b\\w+", u"\\I0"},
      {"separators: ; -> TAB", u";", u"\t"},
      {"line ends: \\r\\n -> \\n", u"\\r\\n", u"\n"},
  };
  for (const auto& s : scenarios) {
    Run(s, subject, false, false);
    Run(s, subject, true, false);
  }
  if (withHandler) Run(scenarios[0], subject, true, true);
  return 0;
}
