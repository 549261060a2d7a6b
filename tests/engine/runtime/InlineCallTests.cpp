// Length(s), s[i], Pos, Copy and IntToStr, which the fast loop runs in place of their calls,
// against the same script kept in the general loop by a run-line hook: every
// string kind, character results of both widths, indexes on and past both
// ends, and the failure report of an index out of range.
#include <gtest/gtest.h>

#include "tests/engine/compiler/ScriptRunner.h"

using ps::testing::RunScriptSource;
using ps::testing::TScriptOptions;

TEST(InlineCall, TextRoutinesMatchTheGeneralLoop) {
  const char* const source = R"(
var a: AnsiString; u: UnicodeString; w: WideString; s: string; i: Integer; c: Char; wc: WideChar;
    arr: array of Integer; k: Cardinal; big: Int64;
begin
  a := 'abc'; u := 'xÿz€'; w := 'wide'; s := ''; SetLength(arr, 3);
  for i := -1 to 5 do begin
    Print(IntToStr(Length(a)) + IntToStr(Length(u)) + IntToStr(Length(w)) + IntToStr(Length(s)) + IntToStr(Length(arr)));
    try c := a[i]; Print(c); except Print('a ' + IntToStr(i)); end;
    try wc := u[i]; Print(IntToStr(Ord(wc))); except Print('u ' + IntToStr(i)); end;
    try c := u[i]; Print(IntToStr(Ord(c))); except Print('uc ' + IntToStr(i)); end;
    try if w[i] = 'i' then Print('i at ' + IntToStr(i)); except Print('w ' + IntToStr(i)); end;
    try Print(s[i]); except Print('s ' + IntToStr(i)); end;
    // Results compared with a constant at once (characters of both widths,
    // within and beyond ASCII, and lengths).
    try if (a[i] >= 'b') and (u[i] <> 'ÿ') and (u[i] = '€') then Print('euro at ' + IntToStr(i)); except Print('c ' + IntToStr(i)); end;
    if (Length(u) > i) and (Length(s) = 0) and (Length(a) <= 3) then Print('len ' + IntToStr(i));
  end;
  for i := -2 to 6 do begin
    Print(IntToStr(Pos('b', a)) + IntToStr(Pos(',', u)) + IntToStr(Pos('z€', u)) + IntToStr(Pos(a, s)) +
      IntToStr(Pos('', a)) + IntToStr(Pos(c, a)) + IntToStr(Pos(wc, u)));
    s := Copy(u, i, 2) + Copy(a, 2, i) + Copy(w, i, i) + Copy(c, 1, i);
    a := Copy(u, i, 3); Print(s + '|' + a); a := 'abc';
    w := Copy(w, 2, 10) + Copy(w, 1, 1);
  end;
  // A character made a string shares a block made once: changing the
  // string leaves the block alone.
  c := 'q'; a := c; a := a + 'r'; Print(a); a := c; a[1] := 'z'; Print(a); a := c; Print(a + IntToStr(Pos(c, a)));
  a := 'abc';
  // IntToStr of every integer kind into both string widths.
  big := -9223372036854775807 - 1; k := 4294967295;
  a := IntToStr(big); u := IntToStr(k) + IntToStr(-7) + IntToStr(i mod 3); Print(a + u + IntToStr(Length(a)));
  // Cardinal positions read as Longint, as Copy declares them.
  Print(Copy(u, k, 2) + '|' + Copy(a, 2, k) + '|' + Copy(a, k - 4294967293, 3));
  // Appends of each width, of a text to itself and of characters within and beyond ASCII.
  u := 'xÿ'; u := u + u; a := 'ab'; a := a + a; a := a + c; u := u + c; w := w + u; c := #200; u := u + c;
  Print(u + '|' + a + '|' + w);
  a := 'abc'; u := 'xÿz€';
  k := 4; Print(u[k] + a[Length(a)]);
  Print(u[10]);
end.
)";
  TScriptOptions fast, general;
  general.General = true;
  const auto a = RunScriptSource(source, fast), b = RunScriptSource(source, general);
  EXPECT_EQ(a.Text(), b.Text());
  EXPECT_NE(a.Report.find("Out of string range at line 39"), std::string::npos) << a.Text();
  EXPECT_NE(a.Output.find("u 0\nuc 0\n"), std::string::npos) << a.Text();
  EXPECT_NE(a.Output.find("qr\nz\nq1\n"), std::string::npos) << a.Text();
}
