// Length(s), s[i], Pos, Copy and IntToStr, which the fast loop runs in place of their calls,
// against the same script kept in the general loop by a run-line hook: every
// string kind, character results of both widths, indexes on and past both
// ends, and the failure report of an index out of range.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/engine/compiler/ScriptRunner.h"

using ps::testing::RunScriptSource;
using ps::testing::TScriptOptions;
using ps::testing::TScriptRun;

namespace {
// The run of the free-running loops, which must match the same script kept
// in the general loop by a run-line hook.
TScriptRun RunBothWays(const std::string& source) {
  TScriptOptions fast, general;
  general.General = true;
  auto a = RunScriptSource(source, fast);
  EXPECT_EQ(a.Text(), RunScriptSource(source, general).Text());
  return a;
}
}  // namespace

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
  const auto a = RunBothWays(source);
  EXPECT_NE(a.Report.find("Out of string range at line 39"), std::string::npos) << a.Text();
  EXPECT_NE(a.Output.find("u 0\nuc 0\n"), std::string::npos) << a.Text();
  EXPECT_NE(a.Output.find("qr\nz\nq1\n"), std::string::npos) << a.Text();
}

// StrToInt in place of its call, concatenation and ANSI constants taken by
// a UnicodeString in the fast loop, Boolean operators and integers assigned
// across kinds, against the general loop.
TEST(InlineCall, NumbersTextsAndBooleansMatchTheGeneralLoop) {
  const char* const source = R"(
var a: AnsiString; u: UnicodeString; i, n: Integer; k: Cardinal; big: Int64; p, q, r: Boolean;
    texts: array of UnicodeString;
// Digits appended to a local string, one made ANSI at the end and a var parameter.
procedure Digits(var v: string);
var t: string; x: AnsiString; j: Integer;
begin
  t := ''; x := 'n';
  for j := -2 to 2 do begin t := t + IntToStr(j) + ','; x := x + IntToStr(j * 1000000000) + IntToStr(Int64(j) * 5000000000); v := v + IntToStr(j); end;
  Print(t + x + v);
end;
begin
  u := '#'; Digits(u); Print(u);
  SetLength(texts, 18);
  texts[0] := ''; texts[1] := ' 42 '; texts[2] := '-0'; texts[3] := '+7'; texts[4] := '$ff'; texts[5] := '-$10';
  texts[6] := '2147483647'; texts[7] := '2147483648'; texts[8] := '-2147483648'; texts[9] := '-2147483649';
  texts[10] := '12a'; texts[11] := 'é1'; texts[12] := '１'; texts[13] := #9'5'#10; texts[14] := '99999999999999999999999';
  texts[15] := '-'; texts[16] := '$'; texts[17] := '1 2';
  for i := 0 to 17 do begin
    u := texts[i]; a := u;
    n := StrToInt(u); Print(IntToStr(n) + ' ' + IntToStr(StrToInt(a)));
    if StrToInt(u) > 5 then Print('big ' + IntToStr(i));
    // Comparisons in place and-ed and or-ed into the first.
    p := False; q := False;
    if Length(u) > 0 then begin
      p := (Length(u) = 0) or (u[1] = '-') or (StrToInt(a) > 100) and (a[1] <> '$');
      q := (Length(a) > 1) and (u[1] >= '0') and (u[Length(u)] <= '9') or (Length(a) = 2);
    end;
    try r := (Length(u) < 5) and (u[3] = '1'); except r := True; end;
    Print(IntToStr(Ord(p)) + IntToStr(Ord(q)) + IntToStr(Ord(r)));
  end;
  // ANSI constants, within and beyond ASCII, taken and appended by a UnicodeString.
  for i := 1 to 3 do begin
    u := 'é€'; u := u + 'ÿ' + IntToStr(i) + ',' + 'x'; a := 'ä'; u := u + a; Print(u + IntToStr(Length(u)));
    u := ''; u := u + ''; u := u + 'z'; Print(u);
    u := 'item' + IntToStr(i) + ',' + IntToStr(i mod 2) + ',ü' + IntToStr(i mod 3) + ',end'; Print(u + IntToStr(Length(u)));
  end;
  // Characters made UnicodeStrings share blocks made once: changing the string leaves them alone.
  for i := 0 to 1 do begin
    u := 'q'; u[1] := 'z'; a := 'é'; u := a[1]; u := u + 'r'; Print(u); u := #255; u[1] := 'y'; u := #255; Print(u);
    u := #256; u := u + u; Print(u); u := 'q'; Print(u + IntToStr(Length(u)));
  end;
  // Booleans of every pair under and, or, xor.
  for i := 0 to 3 do begin
    p := i mod 2 = 1; q := i div 2 = 1;
    r := p and q; Print(IntToStr(Ord(r)) + IntToStr(Ord(p or q)) + IntToStr(Ord(p xor q)) + IntToStr(Ord(p and not q)));
  end;
  // Integers into wider and differently signed ones.
  n := -5; k := 4000000000; big := n; Print(IntToStr(big)); big := k; Print(IntToStr(big));
  n := k; Print(IntToStr(n)); k := n; Print(IntToStr(k)); Print(IntToStr(n - 1) + IntToStr(k + 1));
end.
)";
  const auto a = RunBothWays(source);
  EXPECT_NE(
      a.Output.find(
          "-2,-1,0,1,2,n-2000000000-10000000000-1000000000-50000000000010000000005000000000200000000010000000000#-2-1012\n#-2-1012\n"),
      std::string::npos)
      << a.Text();
  EXPECT_NE(a.Output.find("-1 -1\n001\n42 42\nbig 1\n000\n0 0\n111\n"), std::string::npos) << a.Text();
  EXPECT_NE(a.Output.find("é€ÿ1,xä7\nz\nitem1,1,ü1,end14\n"), std::string::npos) << a.Text();
  EXPECT_NE(a.Output.find("-5\n4000000000\n-294967296\n4000000000\n"), std::string::npos) << a.Text();
}

namespace {

// Random loops over texts: sums of constants within and beyond ASCII,
// digits, characters and slices; lengths, positions and numbers read back;
// conditions of comparisons made in place and-ed and or-ed together;
// indexes that may leave a text.
class TTextGenerator {
 public:
  explicit TTextGenerator(uint32_t seed) : Rng(seed) {}

  std::string Program() {
    std::string body;
    const int n = 2 + Pick(5);
    for (int k = 0; k < n; ++k) body += Statement(1);
    // Sums of a text with itself would double it every turn.
    body +=
        "      if Length(u0) > 60 then u0 := Copy(u0, Length(u0) - 30, 40); u1 := Copy(u1, 1, 50); a := Copy(a, 2, 40);\n";
    return "var u0, u1: string; a: AnsiString; n, p: Integer; k: Cardinal; b: Boolean; i: Integer;\n"
           "begin\n  u0 := 'x1,2'; u1 := ''; a := 'é9'; n := 3; p := 0; k := 7; b := False;\n"
           "  try\n    for i := 1 to " +
           std::to_string(3 + Pick(12)) + " do begin\n" + body +
           "    end;\n  except Print('stopped at ' + IntToStr(i)); end;\n"
           "  Print(u0 + '|' + u1 + '|' + a + '|' + IntToStr(n) + ' ' + IntToStr(p) + ' ' + IntToStr(k) + ' ' + "
           "IntToStr(Ord(b)));\nend.\n";
  }

 private:
  std::mt19937 Rng;
  int Pick(int n) { return static_cast<int>(Rng() % static_cast<uint32_t>(n)); }

  std::string Text() {
    static const char* const names[] = {"u0", "u1", "a"};
    return names[Pick(3)];
  }
  std::string Int() {
    switch (Pick(6)) {
      case 0: return std::to_string(Pick(7) - 2);
      case 1: return "Length(" + Text() + ")";
      case 2: return "i";
      case 3: return "k";
      default: return Pick(2) ? "n" : "p";
    }
  }
  std::string Term() {
    static const char* const constants[] = {"','", "'7'", "'-'", "'ä'", "'€'", "''", "'$1f'", "' 12 '"};
    switch (Pick(7)) {
      case 0: return constants[Pick(8)];
      case 1: return "IntToStr(" + Int() + (Pick(2) ? " * 1000" : " - 5") + ")";
      case 2: return Text() + "[" + Int() + "]";  // may leave the text
      case 3: return "Copy(" + Text() + ", " + Int() + ", " + Int() + ")";
      default: return Text();
    }
  }
  std::string Sum() {
    std::string e = Term();
    for (int k = Pick(4); k > 0; --k) e += " + " + Term();
    return e;
  }
  std::string Comparison() {
    static const char* const rel[] = {" < ", " <= ", " > ", " >= ", " = ", " <> "};
    switch (Pick(4)) {
      case 0: return "(Length(" + Text() + ")" + rel[Pick(6)] + std::to_string(Pick(5)) + ")";
      case 1: return "(" + Text() + "[" + Int() + "]" + rel[Pick(6)] + (Pick(2) ? "','" : "'1'") + ")";
      case 2: return "(StrToInt(" + Text() + ")" + rel[Pick(6)] + std::to_string(Pick(20) - 5) + ")";
      default: return "(Pos(" + Term() + ", " + Text() + ") > " + std::to_string(Pick(3)) + ")";
    }
  }
  std::string Condition() {
    std::string c = Comparison();
    for (int k = Pick(3); k > 0; --k) c += (Pick(2) ? " and " : " or ") + Comparison();
    return c;
  }
  std::string Statement(int depth) {
    switch (Pick(depth > 0 ? 10 : 8)) {
      case 0:
      case 1: return "      " + std::string(Pick(2) ? "u0" : "u1") + " := " + Sum() + ";\n";
      case 2: return "      " + Text() + " := " + Text() + " + IntToStr(" + Int() + ") + ',';\n";
      case 3: return "      a := " + Sum() + ";\n";
      case 4: return "      n := StrToInt(" + Text() + ") + Pos(" + Term() + ", " + Text() + ");\n";
      case 5: return "      p := Length(" + Text() + ") - Pos(',', " + Text() + "); k := k + 1;\n";
      case 6: return "      b := " + Condition() + ";\n";
      case 7: return "      u1 := Copy(" + Text() + ", " + Int() + ", " + Int() + ");\n";
      default:
        return "      if " + Condition() + " then begin\n  " + Statement(depth - 1) + "      end else begin\n  " +
               Statement(depth - 1) + "      end;\n";
    }
  }
};

}  // namespace

TEST(InlineCall, RandomTextLoopsMatchTheGeneralLoop) {
  int finished = 0;
  for (uint32_t seed = 1; seed <= 120; ++seed) {
    const std::string source = TTextGenerator(seed).Program();
    const TScriptRun run = RunBothWays(source);
    if (::testing::Test::HasFailure()) FAIL() << "seed " << seed << "\n" << source;
    finished += run.Output.find("stopped at") == std::string::npos;
  }
  // Many programs run to the end; the others stop at a text index out of range.
  EXPECT_GT(finished, 30);
}
