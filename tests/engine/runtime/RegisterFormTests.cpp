// Procedures of ordinal values run in their register form against the same
// scripts kept in the general loop by a run-line hook: both must print the
// same, fail with the same report at the same position and leave var
// parameters the same, also when the register run gives up half way and the
// call runs again the ordinary way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <random>

#include "engine/uPSRuntime.h"
#include "tests/engine/compiler/ScriptRunner.h"

using ps::testing::RunScriptSource;
using ps::testing::TScriptOptions;
using ps::testing::TScriptRun;

namespace {

// Functions of every shape the form takes, each printed over edge values.
const char* const Functions = R"(
function Fib(n: Integer): Integer;
begin if n < 2 then Result := n else Result := Fib(n - 1) + Fib(n - 2); end;

function Gcd(a, b: Integer): Integer;
var t: Integer;
begin
  while b <> 0 do begin t := a mod b; a := b; b := t; end;
  Result := a;
end;

procedure Swap(var a, b: Integer);
var t: Integer;
begin t := a; a := b; b := t; end;

procedure Bump(var c: Int64; n: Integer);
begin if n > 0 then begin c := c * 3 + n; Bump(c, n - 1); end; end;

function IsEven(n: Integer): Boolean; forward;
function IsOdd(n: Integer): Boolean;
begin if n = 0 then Result := False else Result := IsEven(n - 1); end;
function IsEven(n: Integer): Boolean;
begin if n = 0 then Result := True else Result := IsOdd(n - 1); end;

function Mix(a: Integer; b: Cardinal; c: Int64; f: Boolean): Int64;
var i: Integer;
begin
  if f then Result := c * a - b else Result := (c div 3) xor a;
  Result := Result + (a shl 3) + (b shr 2) + (a and 255) + (b or 7);
  Inc(a); Dec(b); Inc(c);
  for i := 1 to 3 do Result := Result * 7 + a + b + c;
  if (a > 0) = f then Result := -Result;
end;

function Wrap(a: Integer; b: Cardinal): Integer;
begin
  a := a + 1; b := b + 1;
  Result := a * 3 + Integer(b) + a div -1 + a mod 7 - (a shr 1);
end;

function Conv(a: Int64; b: Cardinal; c: Integer): Int64;
var i: Integer; w: Cardinal; e: Int64;
begin
  i := a; w := c; e := b;
  Result := i + w + e;
  Result := Result * 2 + Integer(b) + Cardinal(c);
  if not (i > c) then Result := not Result;
end;

function Collatz(n: Int64): Integer;
begin
  Result := 0;
  repeat
    if n mod 2 = 0 then n := n div 2 else n := 3 * n + 1;
    Inc(Result);
  until n <= 1;
end;

function Ack(m, n: Integer): Integer;
begin
  if m = 0 then Result := n + 1
  else if n = 0 then Result := Ack(m - 1, 1)
  else Result := Ack(m - 1, Ack(m, n - 1));
end;
)";

const char* const Main = R"(
var x, y, i: Integer; big: Int64;
begin
  Print(IntToStr(Fib(20)) + ' ' + IntToStr(Gcd(1071, 462)) + ' ' + IntToStr(Gcd(-48, 18)) + ' ' + IntToStr(Gcd(5, 0)));
  x := 3; y := -4; Swap(x, y); Print(IntToStr(x) + ' ' + IntToStr(y));
  big := 1; Bump(big, 30); Print(IntToStr(big));
  for i := 0 to 5 do if IsEven(i * 7) then Print('even') else Print('odd');
  Print(IntToStr(Mix(2147483647, 4294967295, -9223372036854775807, True)));
  Print(IntToStr(Mix(-2147483647 - 1, 0, 9223372036854775807, False)));
  Print(IntToStr(Mix(0, 1, 0, True)) + ' ' + IntToStr(Mix(-1, 2147483648, -1, False)));
  Print(IntToStr(Wrap(2147483647, 4294967295)) + ' ' + IntToStr(Wrap(-2147483647 - 1, 0)) + ' ' + IntToStr(Wrap(-2, 7)));
  Print(IntToStr(Conv(9223372036854775807, 4294967295, -5)) + ' ' + IntToStr(Conv(-4294967297, 2147483648, 2147483647)));
  Print(IntToStr(Conv(0, 1, -1)) + ' ' + IntToStr(Conv(4294967295, 0, -2147483647 - 1)));
  Print(IntToStr(Collatz(27)) + ' ' + IntToStr(Collatz(837799)) + ' ' + IntToStr(Ack(2, 3)));
end.
)";

TScriptRun RunWay(const std::string& source, bool general, uint64_t stackLimit = 0) {
  TScriptOptions options;
  options.General = general;
  options.StackLimit = stackLimit;
  return RunScriptSource(source, options);
}

void ExpectSameBothWays(const std::string& source, int forms, uint64_t stackLimit = 0) {
  const TScriptRun fast = RunWay(source, false, stackLimit), general = RunWay(source, true, stackLimit);
  EXPECT_EQ(fast.Text(), general.Text()) << source;
  EXPECT_EQ(fast.Ok, general.Ok);
  EXPECT_EQ(fast.RegisterForms, forms) << source;
  EXPECT_EQ(general.RegisterForms, 0);
}

}  // namespace

TEST(RegisterForm, ProceduresOfOrdinalValuesMatchTheGeneralLoop) {
  const TScriptRun general = RunWay(std::string(Functions) + Main, true);
  ASSERT_TRUE(general.Ok) << general.Report;
  // Every function above has a register form.
  ExpectSameBothWays(std::string(Functions) + Main, 11);
}

TEST(RegisterForm, AFailureHalfWayRunsTheCallAgainTheOrdinaryWay) {
  struct TCase {
    const char* Source;
    int Forms;  // procedures still in the register form at the end
  };
  const TCase cases[] = {
      // A division by zero five calls deep: reported inside the innermost.
      {R"(function Down(n, d: Integer): Integer;
          begin if n = 0 then Result := 100 div d else Result := Down(n - 1, d) + 1; end;
          begin Print(IntToStr(Down(5, 2))); Print(IntToStr(Down(5, 0))); end.)",
       0},
      // The var parameter is written before the failure: the caller sees
      // the value the ordinary run left, once; later calls run ordinarily.
      {R"(procedure Step(var v: Integer; d: Integer); begin v := v + 10; v := v mod d; end;
          var v: Integer;
          begin
            v := 5; Step(v, 4); Print(IntToStr(v));
            try Step(v, 0); except Print('caught ' + IntToStr(v)); end;
            Step(v, 7); Print(IntToStr(v));
          end.)",
       0},
      // Failing in a callee gives the caller up too; a procedure run
      // separately keeps its form.
      {R"(function Inner(a: Integer): Integer; begin Result := 7 mod a; end;
          function Outer(a: Integer): Integer; begin Result := Inner(a) + Inner(a - 1); end;
          function Other(a: Integer): Integer; begin Result := a * 2; end;
          var i: Integer;
          begin
            for i := 3 downto 0 do try Print(IntToStr(Outer(i) + Other(i))); except Print('caught at ' + IntToStr(i)); end;
          end.)",
       1},
      // Recursion without end: the stack's bound, reported where the
      // ordinary run meets it.
      {R"(function Deeper(n: Integer): Integer; begin Result := Deeper(n + 1) + 1; end;
          begin Print(IntToStr(Deeper(0))); end.)",
       0},
  };
  for (const TCase& c : cases) ExpectSameBothWays(c.Source, c.Forms, 1 << 20);
}

TEST(RegisterForm, LoopsOverGlobalsAndArraysMatchTheGeneralLoop) {
  // Each script's loops run in the register form (its frame, globals and
  // array elements), leaving it where an instruction outside the form, a
  // failure or the loop's end hands back to the general loops.
  const char* const scripts[] = {
      // Nested counting loops with bounds worked out each turn, Int64 and
      // Cardinal wrap-around, and the results printed after.
      R"(var i, j, s: Integer; c: Cardinal; w: Int64; f: Boolean;
         begin
           s := 0; c := 4294967290; w := 9223372036854775800; f := False;
           for i := 1 to 30 do
             for j := i downto i - 3 do begin
               s := (s + i * j) mod 1000003 - (j shl 2) xor i; c := c + 1; w := w + j; f := not f;
               if (s > 100) and f then s := -s;
             end;
           // Left at the call with the sum so far in a temporary.
           s := (s + i * 7) - Length(IntToStr(s));
           Print(IntToStr(s) + ' ' + IntToStr(c) + ' ' + IntToStr(w) + ' ' + IntToStr(Ord(f)) + ' ' + IntToStr(i));
         end.)",
      // Arrays of Integer and Boolean: a sieve and a bubble sort, and a
      // while loop leaving through a call in its body.
      R"(var a: array of Integer; p: array of Boolean; n, i, j, t, k: Integer;
         begin
           n := 300; SetLength(a, n); SetLength(p, n);
           for i := 0 to n - 1 do a[i] := (i * 7919) mod 311;
           for i := 0 to n - 2 do
             for j := 0 to n - 2 - i do
               if a[j] > a[j + 1] then begin t := a[j]; a[j] := a[j + 1]; a[j + 1] := t; end;
           for i := 2 to n - 1 do p[i] := True;
           for i := 2 to n - 1 do if p[i] then begin j := i * i; while j < n do begin p[j] := False; j := j + i; end; end;
           k := 0; for i := 0 to n - 1 do if p[i] then k := k + 1;
           Print(IntToStr(a[0]) + ' ' + IntToStr(a[n - 1]) + ' ' + IntToStr(k));
           i := 0; while i < 5 do begin Print(IntToStr(a[i * 50])); i := i + 1; end;
         end.)",
      // An index past the end inside a loop: reported at the element, the
      // globals as the loop left them.
      R"(var a: array of Integer; i, s: Integer;
         begin
           SetLength(a, 10); s := 0;
           try
             for i := 0 to 20 do begin s := s + i; a[i] := s; end;
           except Print('caught ' + IntToStr(i) + ' ' + IntToStr(s) + ' ' + IntToStr(a[9])); end;
           for i := 0 to 20 do a[i] := i;
         end.)",
      // An array never given a length: its first element is out of range.
      R"(var b: array of Integer; i, s: Integer;
         begin s := 0; for i := 0 to 3 do begin s := s + i; b[i] := s; end; end.)",
      // A failure in a calculation joined with the assignment before it:
      // the assignment is done when the failure is reported.
      R"(var i, x, d: Integer;
         begin
           x := 7; d := 2;
           try for i := 3 downto 0 do begin x := i; x := x div d; d := d - 1; end;
           except Print(IntToStr(x) + ' ' + IntToStr(i) + ' ' + IntToStr(d)); end;
         end.)",
      // A division by zero half way through a loop nest, with the loops'
      // temporaries on the stack where the general loop takes over.
      R"(var i, j, s: Integer;
         begin
           s := 1;
           for i := 5 downto -5 do for j := 1 to 3 do s := s + 1000 div (i * j + 0) + j;
           Print(IntToStr(s));
         end.)",
      // Loops inside a procedure over its locals, with the procedure called
      // from another loop.
      R"(function Sum(n: Integer): Integer; var i, k, acc: Integer; b: Boolean;
         begin acc := 0; k := n; b := True;
           for i := 1 to 40 do begin k := k - 1; b := not b; if b then acc := acc + i * k; end;
           Result := acc;
         end;
         var i: Integer; total: Int64;
         begin total := 0; for i := 0 to 50 do total := total + Sum(i); Print(IntToStr(total)); end.)",
  };
  for (const char* source : scripts) {
    const TScriptRun fast = RunWay(source, false), general = RunWay(source, true);
    EXPECT_EQ(fast.Text(), general.Text()) << source;
    EXPECT_GT(fast.LoopForms, 0) << source;
  }
}

namespace {

// Random loops over Integer, Cardinal, Int64 and Boolean globals and an array,
// with divisions that may meet zero and indexes that may leave the array.
class TLoopGenerator {
 public:
  explicit TLoopGenerator(uint32_t seed) : Rng(seed) {}

  std::string Program() {
    std::string body;
    const int n = 2 + Pick(4);
    for (int k = 0; k < n; ++k) body += Statement(2);
    return "var a: array of Integer; g0, g1, g2: Integer; c: Cardinal; w: Int64; b: Boolean; i, j: Integer;\n"
           "begin\n  SetLength(a, 8); g0 := " +
           std::to_string(Pick(100) - 50) + "; g1 := " + std::to_string(Pick(7) + 1) +
           "; g2 := 2147483600; c := 4294967290; w := -9223372036854775800; b := True;\n"
           "  try\n    for i := " +
           std::to_string(Pick(3)) + " to " + std::to_string(5 + Pick(30)) + " do begin\n" + body +
           "    end;\n  except Print('stopped at ' + IntToStr(i)); end;\n"
           "  Print(IntToStr(g0) + ' ' + IntToStr(g1) + ' ' + IntToStr(g2) + ' ' + IntToStr(c) + ' ' + IntToStr(w) + ' ' +\n"
           "    IntToStr(Ord(b)) + ' ' + IntToStr(a[0] + a[3] * 3 + a[7] * 7));\nend.\n";
  }

 private:
  std::mt19937 Rng;
  int Pick(int n) { return static_cast<int>(Rng() % static_cast<uint32_t>(n)); }

  std::string Int() {
    switch (Pick(8)) {
      case 0: return std::to_string(Pick(20) - 5);
      case 1: return "a[" + std::to_string(Pick(8)) + "]";
      case 2: return "a[(i + g1) and 7]";
      case 3: return "i";
      default: return "g" + std::to_string(Pick(3));
    }
  }
  std::string Expr(int depth) {
    if (depth == 0 || Pick(3) == 0) return Int();
    static const char* const ops[] = {" + ", " - ", " * ", " and ", " or ", " xor ", " shl ", " shr "};
    // Divisions here never meet zero (the statements below may).
    if (Pick(5) == 0) return "(" + Expr(depth - 1) + (Pick(2) ? " div (" : " mod (") + Expr(depth - 1) + " or 1))";
    return "(" + Expr(depth - 1) + ops[Pick(8)] + Expr(depth - 1) + ")";
  }
  std::string Condition() {
    static const char* const rel[] = {" < ", " <= ", " > ", " >= ", " = ", " <> "};
    std::string c = Expr(1) + rel[Pick(6)] + Expr(1);
    return Pick(4) == 0 ? "(" + c + ") and b" : c;
  }
  std::string Statement(int depth) {
    switch (Pick(depth > 0 ? 12 : 9)) {
      case 0:
      case 1: return "      g" + std::to_string(Pick(3)) + " := " + Expr(2) + ";\n";
      case 2: return "      a[" + Expr(1) + " and 7] := " + Expr(2) + ";\n";
      case 3: return "      c := c + " + Expr(1) + "; w := w * 3 + " + Expr(1) + ";\n";
      case 4: return "      b := not b or (" + Condition() + ");\n";
      case 5: return "      Inc(g" + std::to_string(Pick(3)) + "); Dec(a[" + std::to_string(Pick(8)) + "]);\n";
      case 6: {
        // An assignment, then a calculation on the variable (which may read it again).
        const std::string v = "g" + std::to_string(Pick(3));
        return "      " + v + " := " + Int() + "; " + v + " := " + v + (Pick(2) ? " - " : " * ") + Int() + ";\n";
      }
      case 7: return "      a[" + Expr(1) + " and 15] := i;\n";                // may leave the array
      case 8: return "      g0 := g0 + 1000 div (" + Expr(1) + " and 63);\n";  // may divide by zero
      case 9:
      case 10:
        return "      if " + Condition() + " then begin\n  " + Statement(depth - 1) + "      end else begin\n  " +
               Statement(depth - 1) + "      end;\n";
      default:
        return "      j := 0; while j < " + std::to_string(1 + Pick(4)) + " do begin\n  " + Statement(depth - 1) +
               "        j := j + 1; end;\n";
    }
  }
};

}  // namespace

TEST(RegisterForm, RandomLoopsMatchTheGeneralLoop) {
  int withForm = 0;
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    const std::string source = TLoopGenerator(seed).Program();
    const TScriptRun fast = RunWay(source, false), general = RunWay(source, true);
    ASSERT_EQ(fast.Text(), general.Text()) << "seed " << seed << "\n" << source;
    ASSERT_EQ(fast.Text().find("error"), std::string::npos) << source << fast.Text();
    withForm += fast.LoopForms > 0;
  }
  // Most programs have their loop in the register form.
  EXPECT_GT(withForm, 100);
}

namespace {
ps::TPSExec* StopTarget = nullptr;
void StopOnAlarm(int) {
  if (StopTarget) StopTarget->Stop();
}
}  // namespace

TEST(RegisterForm, StopFromASignalHandlerEndsLoopsAndRecursionInTheForm) {
  // Each would run for minutes; a timer stops it after 20 ms.
  const char* const scripts[] = {
      R"(function Spin(n: Integer): Integer; begin while n <> 0 do n := n or 1; Result := n; end;
         begin Print(IntToStr(Spin(1))); end.)",
      R"(function Ever(n: Integer): Integer; begin if n < 0 then Result := 0 else Result := Ever(n + 1) - Ever(n + 2); end;
         begin Print(IntToStr(Ever(0))); end.)",
  };
  for (const char* source : scripts) {
    struct sigaction action {
    }, previous{};
    action.sa_handler = StopOnAlarm;
    sigaction(SIGALRM, &action, &previous);
    TScriptOptions options;
    options.Prepare = [](ps::TPSExec& x) {
      StopTarget = &x;
      itimerval timer{{0, 0}, {0, 20000}};
      setitimer(ITIMER_REAL, &timer, nullptr);
    };
    const TScriptRun run = RunScriptSource(source, options);
    itimerval off{{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    StopTarget = nullptr;
    EXPECT_EQ(run.Output, "") << source;
    EXPECT_EQ(run.Report, "") << source;
  }
}
