// Control flow through nested loops and try blocks, checked against Free
// Pascal: a seeded generator writes procedures of loops, try/finally and
// try/except with exits, breaks, continues and raises at varying points, each
// recording the order of what runs in a log. The same structure is written
// in both dialects (Pascal Script raises with RaiseException and reads
// ExceptionParam; Free Pascal raises Exception objects and reads E.Message);
// every procedure must leave the same log in both. All procedures go into
// one program per side, so fpc runs once.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/engine/compiler/ScriptRunner.h"

namespace {

namespace fs = std::filesystem;

enum class TDialect { Script, Fpc };

enum class TKind { Note, Break, Continue, Exit, Raise, Call, If, For, Repeat, While, TryFinally, TryExcept };

struct TNode {
  explicit TNode(TKind kind, std::string text = {}) : Kind(kind), Text(std::move(text)) {}
  TKind Kind;
  std::string Text;                // the note, the raised message, the called helper
  int A = 0, B = 0;                // loop level; condition modulus and remainder
  std::vector<TNode> Body, Other;  // guarded part / loop body / then; finally or except part
};

class TGenerator {
 public:
  explicit TGenerator(uint32_t seed) : Rng(seed) {}

  std::vector<TNode> Procedure() {
    Letter = 0;
    Budget = 20;
    return Block(TContext{});
  }

 private:
  struct TContext {
    int Depth = 0;
    int Loops = 0;                  // enclosing loops
    bool FinallySinceLoop = false;  // a finally part lies between here and the innermost loop
    bool InFinally = false;
  };

  std::mt19937 Rng;
  int Letter = 0;
  int Budget = 0;
  int Message = 0;

  int Pick(int n) { return static_cast<int>(Rng() % static_cast<uint32_t>(n)); }

  std::string NextLetter() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    return std::string(1, letters[Letter++ % 52]);
  }

  std::vector<TNode> Block(const TContext& c) {
    std::vector<TNode> out;
    int n = 1 + Pick(3);
    for (int i = 0; i < n; ++i) out.push_back(Statement(c));
    return out;
  }

  TNode Jump(const TContext& c) {
    // break and continue leave no finally part (Delphi refuses that), exit leaves none either.
    std::vector<TKind> kinds{TKind::Raise, TKind::Call};
    if (c.Loops > 0 && !c.FinallySinceLoop) kinds.insert(kinds.end(), {TKind::Break, TKind::Continue});
    if (!c.InFinally) kinds.push_back(TKind::Exit);
    TNode j(kinds[Pick(static_cast<int>(kinds.size()))]);
    if (j.Kind == TKind::Raise) j.Text = "m" + std::to_string(++Message);
    if (j.Kind == TKind::Call) j.Text = "H" + std::to_string(1 + Pick(3));
    TNode cond(TKind::If);
    cond.A = 2 + Pick(3);
    cond.B = Pick(cond.A);
    cond.Body.push_back(std::move(j));
    return cond;
  }

  TNode Statement(const TContext& c) {
    --Budget;
    int roll = Pick(10);
    if (c.Depth >= 4 || Budget <= 0 || roll < 3) return TNode(TKind::Note, NextLetter());
    if (roll < 6) return Jump(c);
    TContext inner = c;
    inner.Depth++;
    int what = Pick(c.Loops >= 2 ? 2 : 5);
    if (what >= 2) {
      TNode loop(what == 2 ? TKind::For : what == 3 ? TKind::Repeat : TKind::While);
      loop.A = c.Loops + 1;
      inner.Loops++;
      inner.FinallySinceLoop = false;
      loop.Body = Block(inner);
      return loop;
    }
    TNode t(what == 0 ? TKind::TryFinally : TKind::TryExcept);
    t.Body = Block(inner);
    t.Body.insert(t.Body.begin(), TNode(TKind::Note, NextLetter()));
    TContext other = inner;
    if (what == 0) {
      other.InFinally = true;
      other.FinallySinceLoop = true;
    }
    t.Other = Block(other);
    return t;
  }
};

class TWriter {
 public:
  explicit TWriter(TDialect d) : D(d) {}

  void Statements(const std::vector<TNode>& nodes, int indent) {
    for (const TNode& n : nodes) Statement(n, indent);
  }

  std::string Text() const { return Out.str(); }
  std::ostringstream Out;

 private:
  TDialect D;

  void Line(int indent, const std::string& text) { Out << std::string(2 * indent, ' ') << text << "\n"; }

  std::string Raise(const std::string& message) const {
    return D == TDialect::Script ? "RaiseException(erCustomError, '" + message + "');"
                                 : "raise Exception.Create('" + message + "');";
  }

  void Statement(const TNode& n, int in) {
    const std::string lv = std::to_string(n.A);
    switch (n.Kind) {
      case TKind::Note: Line(in, "L('" + n.Text + "');"); break;
      case TKind::Break: Line(in, "break;"); break;
      case TKind::Continue: Line(in, "continue;"); break;
      case TKind::Exit: Line(in, "exit;"); break;
      case TKind::Raise: Line(in, Raise(n.Text)); break;
      case TKind::Call: Line(in, n.Text + ";"); break;
      case TKind::If:
        Line(in, "if N mod " + std::to_string(n.A) + " = " + std::to_string(n.B) + " then");
        Statement(n.Body[0], in + 1);
        break;
      case TKind::For:
        Line(in, "for i" + lv + " := 1 to 3 do");
        Line(in, "begin");
        Statements(n.Body, in + 1);
        Line(in, "end;");
        break;
      case TKind::Repeat:
        Line(in, "r" + lv + " := 0;");
        Line(in, "repeat");
        Line(in + 1, "r" + lv + " := r" + lv + " + 1;");
        Statements(n.Body, in + 1);
        Line(in, "until r" + lv + " >= 3;");
        break;
      case TKind::While:
        Line(in, "w" + lv + " := 0;");
        Line(in, "while w" + lv + " < 3 do");
        Line(in, "begin");
        Line(in + 1, "w" + lv + " := w" + lv + " + 1;");
        Statements(n.Body, in + 1);
        Line(in, "end;");
        break;
      case TKind::TryFinally:
        Line(in, "try");
        Statements(n.Body, in + 1);
        Line(in, "finally");
        Statements(n.Other, in + 1);
        Line(in, "end;");
        break;
      case TKind::TryExcept:
        Line(in, "try");
        Statements(n.Body, in + 1);
        Line(in, "except");
        if (D == TDialect::Script) {
          Line(in + 1, "L('<' + ExceptionParam + '>');");
          Statements(n.Other, in + 1);
        } else {
          Line(in + 1, "on E: Exception do");
          Line(in + 1, "begin");
          Line(in + 2, "L('<' + E.Message + '>');");
          Statements(n.Other, in + 2);
          Line(in + 1, "end;");
        }
        Line(in, "end;");
        break;
    }
  }
};

// Helpers called from anywhere, finally parts included: a return through a
// finally part, an error raised and handled, a plain try/finally.
std::string Helpers(TDialect d) {
  const bool s = d == TDialect::Script;
  std::string raise = s ? "RaiseException(erCustomError, 'h')" : "raise Exception.Create('h')";
  std::string handler = s ? "L('~' + ExceptionParam);" : "on E: Exception do L('~' + E.Message);";
  return "var Log: string; N: Integer;\n"
         "procedure L(const s: string); begin Log := Log + s; N := N + 1; end;\n"
         "procedure H1; begin try L('['); exit; finally L(']'); end; L('x'); end;\n"
         "procedure H2; begin try " +
         raise + "; except " + handler +
         " end; end;\n"
         "procedure H3; begin try L('('); finally L(')'); end; end;\n";
}

std::string Program(TDialect d, const std::vector<std::vector<TNode>>& procs) {
  const bool s = d == TDialect::Script;
  std::ostringstream out;
  if (!s) out << "program gen;\n{$mode delphi}\nuses SysUtils;\n";
  out << Helpers(d);
  for (size_t i = 0; i < procs.size(); ++i) {
    TWriter w(d);
    w.Statements(procs[i], 1);
    out << "procedure P" << i << ";\nvar i1, i2, r1, r2, w1, w2: Integer;\nbegin\n" << w.Text() << "end;\n";
  }
  out << "begin\n";
  for (size_t i = 0; i < procs.size(); ++i) {
    std::string name = "P" + std::to_string(i);
    out << "  Log := ''; N := 0;\n";
    if (s)
      out << "  try " << name << "; except L('!' + ExceptionParam); end;\n  Print('" << name << " ' + Log);\n";
    else
      out << "  try " << name << "; except on E: Exception do L('!' + E.Message); end;\n  writeln('" << name
          << " ', Log);\n";
  }
  out << "end.\n";
  return out.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool HaveFpc() { return std::system("fpc -iV > /dev/null 2>&1") == 0; }

TEST(FpcDifferential, NestedLoopsAndTryBlocksAgreeWithFreePascal) {
  if (!HaveFpc()) GTEST_SKIP() << "fpc (Free Pascal) is not installed; the differential check needs it";
  constexpr int Count = 150;
  TGenerator gen(20261209);
  std::vector<std::vector<TNode>> procs;
  for (int i = 0; i < Count; ++i) procs.push_back(gen.Procedure());

  auto korva = ps::testing::RunScriptSource(Program(TDialect::Script, procs));
  ASSERT_TRUE(korva.Ok) << korva.Text();

  fs::path dir = fs::temp_directory_path() / ("korva_fpc_" + std::to_string(getpid()));
  fs::create_directories(dir);
  { std::ofstream(dir / "gen.pas") << Program(TDialect::Fpc, procs); }
  std::string cd = "cd '" + dir.string() + "' && ";
  ASSERT_EQ(std::system((cd + "fpc -Mdelphi -O- gen.pas > build.log 2>&1").c_str()), 0)
      << "fpc failed; see " << (dir / "build.log");
  ASSERT_EQ(std::system((cd + "./gen > out.txt 2>&1").c_str()), 0);
  std::ifstream in(dir / "out.txt");
  std::stringstream fpcOut;
  fpcOut << in.rdbuf();
  in.close();

  std::vector<std::string> ours = Lines(korva.Output), theirs = Lines(fpcOut.str());
  ASSERT_EQ(theirs.size(), static_cast<size_t>(Count));
  ASSERT_EQ(ours.size(), static_cast<size_t>(Count));
  int agree = 0;
  for (int i = 0; i < Count; ++i) {
    if (ours[i] == theirs[i]) {
      ++agree;
      continue;
    }
    TWriter w(TDialect::Script);
    w.Statements(procs[i], 1);
    ADD_FAILURE() << "Korva: " << ours[i] << "\nfpc:   " << theirs[i] << "\n" << w.Text();
  }
  std::cout << agree << " of " << Count << " generated procedures agree with Free Pascal\n";
  EXPECT_EQ(agree, Count) << "the Free Pascal program and its output stay in " << dir;
  if (agree == Count) fs::remove_all(dir);
}

}  // namespace
