// Each error a declaration can produce, from a script, at its row and column.
#include <gtest/gtest.h>

#include "CompilerTestSupport.h"

namespace ps {
namespace {

using test::CompileScript;

void RegisterTagAttributes(TPSPascalCompiler& c) {
  auto* tag = c.AddAttributeType();
  tag->SetName("Tag");
  tag->AddField("Value", c.FindType("Integer"));
  auto* two = c.AddAttributeType();
  two->SetName("Two");
  two->AddField("A", c.FindType("Integer"));
  two->AddField("B", c.FindType("String"));
}

struct ErrorCase {
  const char* script;
  const char* message;
};

void ExpectFirstError(const ErrorCase& c, const test::Registration& reg = {}) {
  auto r = CompileScript(c.script, reg);
  EXPECT_FALSE(r.ok) << c.script;
  ASSERT_FALSE(r.messages.empty()) << c.script;
  EXPECT_EQ(r.messages.back(), c.message) << c.script << "\n" << r.Messages();
}

TEST(DeclarationErrors, ProgramStructure) {
  const ErrorCase cases[] = {
      {"", "[Error] (1:1): Unexpected end of file"},
      {"begin end", "[Error] (1:10): period ('.') expected"},
      {"program ; begin end.", "[Error] (1:9): Identifier expected"},
      {"program X begin end.", "[Error] (1:11): Semicolon (';') expected"},
      {"program X; program Y;", "[Error] (1:12): 'BEGIN' expected"},
      {"unit U;", "[Error] (1:1): 'BEGIN' expected"},
      {"x := 1;", "[Error] (1:1): 'BEGIN' expected"},
      {"end.", "[Error] (1:1): 'BEGIN' expected"},
      {"var a: Integer;\r\n", "[Error] (2:1): Unexpected end of file"},
      {"uses System;", "[Error] (1:6): Duplicate identifier 'SYSTEM'"},
      {"uses Foo, foo;", "[Error] (1:11): Duplicate identifier 'FOO'"},
      {"uses Foo Bar;", "[Error] (1:10): Semicolon (';') expected"},
      {"uses ;", "[Error] (1:6): Identifier expected"},
      {"begin\n  x := 1;\nend.", "[Error] (2:3): Unknown identifier 'x'"},
      {"begin\n  'abc\nend.", "[Error] (2:3): String error"},
      {"begin { never\nend.", "[Error] (1:7): Comment error"},
      {"begin #1x end.", "[Error] (1:7): Char error"},
      {"begin \" end.", "[Error] (1:7): Syntax error"},
  };
  for (auto& c : cases) ExpectFirstError(c);
}

TEST(DeclarationErrors, ConstantSection) {
  const ErrorCase cases[] = {
      {"const C: Integer = 1;", "[Error] (1:8): is ('=') expected"},
      {"const = 1;", "[Error] (1:7): Identifier expected"},
      {"const A = 1 B = 2;", "[Error] (1:13): Semicolon (';') expected"},
      {"const A = 1; A = 2;", "[Error] (1:14): Duplicate identifier 'A'"},
      {"const Result = 1;", "[Error] (1:7): Duplicate identifier 'Result'"},
      {"const A = ;", "[Error] (1:11): Syntax error"},
      {"const A = Missing;", "[Error] (1:11): Unknown identifier ''"},
      {"const A = (1 + 2;", "[Error] (1:17): Closing parenthesis expected"},
      {"const A = 7 div (3 - 3);", "[Error] (1:13): Divide by Zero"},
      {"const A = 1.5 / 0;", "[Error] (1:15): Divide by Zero"},
      {"const A = (-9223372036854775807 - 1) div -1;", "[Error] (1:38): Math Error"},
      {"const A = 1e4000 * 1e4000;", "[Error] (1:18): Math Error"},
      {"const A = 'x' - 1;", "[Error] (1:15): Type mismatch"},
      {"const A = 'a' 'b';", "[Error] (1:15): Syntax error"},
      {"const A = IntToStr;", "[Error] (1:11): Unknown identifier ''"},
  };
  for (auto& c : cases) ExpectFirstError(c);
}

TEST(DeclarationErrors, TypeSection) {
  const ErrorCase cases[] = {
      {"type T = Foo;", "[Error] (1:10): Unknown type 'Foo'"},
      {"type T Integer;", "[Error] (1:8): is ('=') expected"},
      {"type T = Integer", "[Error] (1:17): Semicolon (';') expected"},
      {"type Integer = Byte;", "[Error] (1:6): Duplicate identifier 'Integer'"},
      {"type T = 5;", "[Error] (1:10): Identifier expected"},
      {"type T = (a, b;", "[Error] (1:15): Closing parenthesis expected"},
      {"type T = (a, Byte);", "[Error] (1:14): Duplicate identifier 'Byte'"},
      {"type T = (a, );", "[Error] (1:14): Identifier expected"},
      {"type A = array [1 2] of Integer;", "[Error] (1:19): period ('.') expected"},
      {"type A = array [1..2 of Integer;", "[Error] (1:22): Closing square bracket (']') expected"},
      {"type A = array [1..2] Integer;", "[Error] (1:23): 'OF' expected"},
      {"type A = array Integer;", "[Error] (1:16): 'OF' expected"},
      {"type A = array [3..1] of Integer;", "[Error] (1:20): Type mismatch"},
      {"type A = array ['a'..'b'] of Integer;", "[Error] (1:17): Type mismatch"},
      {"type A = array [0..536870911] of Byte;", "[Error] (1:20): Type mismatch"},
      {"type A = array [5000000000..5000000001] of Byte;", "[Error] (1:29): Type mismatch"},
      {"type R = record end;", "[Error] (1:17): Identifier expected"},
      {"type R = record a: Integer end;", "[Error] (1:28): Semicolon (';') expected"},
      {"type R = record a, A: Integer; end;", "[Error] (1:20): Duplicate identifier 'A'"},
      {"type R = record a: Integer; A: Byte; end;", "[Error] (1:29): Duplicate identifier 'A'"},
      {"type R = record a Integer; end;", "[Error] (1:19): colon (':') expected"},
      {"type S = set of Integer;", "[Error] (1:17): Type mismatch"},
      {"type S = set of Foo;", "[Error] (1:17): Unknown identifier 'Foo'"},
      {"type S = set Byte;", "[Error] (1:14): 'OF' expected"},
      {"type P = procedure(a: Foo);", "[Error] (1:23): Unknown identifier 'Foo'"},
      {"type P = function(a: Integer);", "[Error] (1:30): colon (':') expected"},
      {"type I = interface IUnknown;", "[Error] (1:20): opening parenthesis ('(')expected"},
      {"type I = interface(Foo);", "[Error] (1:20): Unknown type 'Foo'"},
      {"type I = interface(Integer);", "[Error] (1:20): Type mismatch"},
      {"type I = interface(IUnknown ['x'];", "[Error] (1:29): Closing parenthesis expected"},
      {"type I = interface(IUnknown) 'x';", "[Error] (1:30): Opening square brackets ('[') expected"},
      {"type I = interface(IUnknown) [x];", "[Error] (1:31): String Expected"},
      {"type I = interface(IUnknown) ['{bad}'] end;", "[Error] (1:31): '{bad}' is not a valid GUID value"},
      {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}' end;",
       "[Error] (1:72): Closing square bracket (']') expected"},
      {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}']\n"
       "  procedure (a: Integer);\nend;",
       "[Error] (2:3): Invalid method"},
      {"type I = interface(IUnknown) ['{11111111-2222-3333-4444-555555555555}'];", "[Error] (1:72): 'END' expected"},
  };
  for (auto& c : cases) ExpectFirstError(c);
}

TEST(DeclarationErrors, ASetOfAnEnumerationOfMoreThan256ValuesIsRefused) {
  std::string values = "e0";
  for (int i = 1; i <= 256; ++i) values += ", e" + std::to_string(i);
  auto r = CompileScript("type Big = (" + values + ");\nS = set of Big;");
  EXPECT_EQ(r.messages.back(), "[Error] (2:12): Type mismatch");
  r = CompileScript("type Small = (" + values.substr(0, values.rfind(',')) + ");\nS = set of Small; begin end.");
  EXPECT_TRUE(r.ok) << r.Messages();
}

TEST(DeclarationErrors, VariableAndLabelSections) {
  const ErrorCase cases[] = {
      {"var Result: Integer;", "[Error] (1:5): Duplicate identifier 'Result'"},
      {"var a, A: Integer;", "[Error] (1:8): Duplicate identifier 'A'"},
      {"var a: Integer; a: Byte;", "[Error] (1:17): Duplicate identifier 'a'"},
      {"const k = 1; var K: Integer;", "[Error] (1:18): Duplicate identifier 'K'"},
      {"var IntToStr: Integer;", "[Error] (1:5): Duplicate identifier 'IntToStr'"},
      {"var a b: Integer;", "[Error] (1:7): colon (':') expected"},
      {"var a: Integer begin end.", "[Error] (1:16): Semicolon (';') expected"},
      {"var a: Missing;", "[Error] (1:8): Unknown type 'Missing'"},
      {"label L; begin end.", "[Error] (1:20): Label 'L' not set"},
      {"label L M;", "[Error] (1:9): comma (',') expected"},
      {"label L, l;", "[Error] (1:10): Duplicate identifier 'l'"},
      {"var v: Byte; label v;", "[Error] (1:20): Duplicate identifier 'v'"},
  };
  for (auto& c : cases) ExpectFirstError(c);
}

TEST(DeclarationErrors, ProcedureDeclarations) {
  const ErrorCase cases[] = {
      {"procedure ;", "[Error] (1:11): Identifier expected"},
      {"procedure P(a: Integer; A: Byte);", "[Error] (1:25): Duplicate identifier 'A'"},
      {"procedure P(Result: Integer);", "[Error] (1:13): Duplicate identifier 'Result'"},
      {"procedure P(p: Integer);", "[Error] (1:13): Duplicate identifier 'p'"},
      {"procedure P(a: Integer = 5);", "[Error] (1:24): Semicolon (';') expected"},
      {"procedure P(a Integer);", "[Error] (1:15): colon (':') expected"},
      {"function F Integer;", "[Error] (1:12): colon (':') expected"},
      {"procedure P begin end;", "[Error] (1:13): Semicolon (';') expected"},
      {"procedure P(a: Integer); forward;\nprocedure P(b: String); begin end;",
       "[Error] (2:25): Forward Parameter Mismatch"},
      {"procedure P; begin end;\nprocedure p; begin end;", "[Error] (2:11): Duplicate identifier 'P'"},
      {"type P = Integer; procedure P; begin end;", "[Error] (1:29): Duplicate identifier 'P'"},
      {"procedure P; external 'lib';", "[Error] (1:14): Semicolon (';') expected"},
      {"procedure P; forward;\nprocedure P; forward;", "[Error] (2:14): 'BEGIN' expected"},
      {"procedure P; forward; begin end.", "[Error] (1:11): Unsatisfied Forward P"},
      {"procedure P; var x: Integer; const c = 1;", "[Error] (1:30): 'BEGIN' expected"},
      {"procedure P; var x: Integer; begin end", "[Error] (1:39): Semicolon (';') expected"},
      {"procedure P; begin\n  P;\nend;", "[Error] (3:5): Unexpected end of file"},
      {"procedure P; var x, y: Integer; x: Byte;", "[Error] (1:33): Duplicate identifier 'x'"},
      {"procedure P(a: Byte); var A: Integer;", "[Error] (1:27): Duplicate identifier 'A'"},
      {"procedure P; label P;", "[Error] (1:20): Duplicate identifier 'P'"},
      {"procedure P; label L; begin end;", "[Error] (1:33): Label 'L' not set"},
  };
  for (auto& c : cases) ExpectFirstError(c);
}

TEST(DeclarationErrors, ExternalDeclarationsGoThroughTheHandler) {
  TPSPascalCompiler c;
  std::string seen;
  c.FOnExternalProc = [&](TPSPascalCompiler*, TPSParametersDecl* decl, const std::string& name,
                          const std::string& text) -> std::unique_ptr<TPSRegProc> {
    seen = name + "|" + text + "|" + std::to_string(decl->ParamCount());
    if (text != "good") return nullptr;
    auto reg = std::make_unique<TPSRegProc>();
    reg->SetName(name);
    reg->FExportName = true;
    reg->FDecl = *decl;
    reg->FImportDecl = "dll:good";
    return reg;
  };
  auto r = CompileScript("procedure P; external lib;", {}, &c);
  EXPECT_EQ(r.messages.back(), "[Error] (1:23): String Expected");
  r = CompileScript("procedure P(a: Byte); external 'lib';", {}, &c);
  EXPECT_EQ(r.messages.back(), "[Error] (1:11): ");
  EXPECT_EQ(seen, "P|lib|1");
  r = CompileScript("procedure Ext(a: Byte); external 'good'; procedure Ext; begin end;", {}, &c);
  EXPECT_EQ(r.messages.back(), "[Error] (1:52): Duplicate identifier 'EXT'");
  r = CompileScript("procedure Ext(a: Byte); external 'good';\nbegin end.", {}, &c);
  ASSERT_TRUE(r.ok) << r.Messages();
  EXPECT_NE(r.module.find("dll:good"), std::string::npos);
}

TEST(DeclarationErrors, Attributes) {
  const ErrorCase cases[] = {
      {"[Foo()] procedure P; begin end;", "[Error] (1:2): Unknown identifier 'Foo'"},
      {"[Tag 1] procedure P; begin end;", "[Error] (1:6): opening parenthesis ('(')expected"},
      {"[Tag('a')] procedure P; begin end;", "[Error] (1:6): Type mismatch"},
      {"[Tag(1 2)] procedure P; begin end;", "[Error] (1:8): Closing parenthesis expected"},
      {"[Two(1 'x')] procedure P; begin end;", "[Error] (1:8): comma (',') expected"},
      {"[Tag(1) procedure P; begin end;", "[Error] (1:9): Closing square bracket (']') expected"},
      {"[Tag(1)] var x: Integer;", "[Error] (1:10): 'BEGIN' expected"},
      {"type [Tag(1)] T = Integer; [Tag(x)] U = Byte;", "[Error] (1:33): Unknown identifier ''"},
  };
  for (auto& c : cases) ExpectFirstError(c, RegisterTagAttributes);
}

TEST(DeclarationErrors, UsesHandlerFailures) {
  TPSPascalCompiler c;
  c.FOnUses = [](TPSPascalCompiler*, const std::string& name) {
    if (name == "BAD") throw rtl::Exception("host refused");
    return name != "QUIET";
  };
  auto r = CompileScript("uses Bad; begin end.", {}, &c);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.messages.back(), "[Error] (1:6): host refused");
  r = CompileScript("uses Quiet; begin end.", {}, &c);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.messages.empty());
}

TEST(DeclarationErrors, RegistrationFailuresInsideOnUsesEndTheCompileWithTheirText) {
  auto r = CompileScript("begin end.", [](TPSPascalCompiler& c) { c.AddTypeS("TBad", "array ["); });
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.messages.size(), 1u) << r.Messages();
  EXPECT_EQ(r.messages[0], "[Error] (1:1): Unable to register type TBad");
}

}  // namespace
}  // namespace ps
