// Units whose text the host supplies through OnFindUnknownFile: compiled into
// the program, initialised before it, and reported in their own text.
#include <gtest/gtest.h>

#include <map>

#include "engine/uPSComponent.h"
#include "tests/engine/component/ScriptTestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

// A script whose uses clauses are answered from a table of unit texts, with
// a Log variable the program and its units append to.
struct TUnitHost {
  std::map<std::string, std::string> units;  // upper-case name -> text
  std::vector<std::string> asked;
  std::vector<std::string> askedFrom;
  TPSScript script;

  TUnitHost() {
    script.OnCompile = [](TPSScript* s) { s->AddRegisteredVariable("Log", "String"); };
    script.OnFindUnknownFile = [this](rtl::TObject*, const std::string& origin, std::string& fileName,
                                      std::string& output) {
      asked.push_back(fileName);
      askedFrom.push_back(origin);
      auto it = units.find(fileName);
      if (it == units.end()) return false;
      output = it->second;
      fileName = it->first + ".pas";
      return true;
    };
  }
  std::string Log() { return GlobalString(script, "LOG"); }
};

}  // namespace

TEST(UsedUnits, DeclarationsJoinTheProgramAndInitialisationRunsFirst) {
  TUnitHost host;
  host.units["MATHS"] =
      "unit Maths;\r\ninterface\r\nconst Base = 10;\r\ntype TPair = record A, B: Integer; end;\r\n"
      "var Calls: Integer;\r\nfunction Sum(P: TPair): Integer;\r\n"
      "implementation\r\nfunction Sum(P: TPair): Integer;\r\nbegin\r\n  Calls := Calls + 1;\r\n"
      "  Result := P.A + P.B + Base;\r\nend;\r\nbegin\r\n  Log := Log + 'maths ';\r\nend.";
  host.script.Script().SetText(
      u"program Main;\nuses Maths;\nvar P: TPair;\nbegin\n  Log := Log + 'main ';\n  P.A := 1; P.B := 2;\n"
      u"  Log := Log + IntToStr(Sum(P)) + ' ' + IntToStr(Calls);\nend.");
  ASSERT_TRUE(host.script.Compile()) << Messages(host.script);
  ASSERT_TRUE(host.script.Execute()) << Utf8(host.script.ExecErrorToString());
  EXPECT_EQ(host.Log(), "maths main 13 1");
  EXPECT_EQ(host.asked, std::vector<std::string>{"MATHS"});
}

TEST(UsedUnits, EachUnitIsCompiledAndInitialisedOnceInUsesOrder) {
  TUnitHost host;
  host.units["A"] =
      "unit A; interface procedure Mark(S: String); implementation\n"
      "procedure Mark(S: String); begin Log := Log + S; end;\nbegin Mark('a'); end.";
  host.units["B"] = "unit B; interface uses A; implementation begin Mark('b'); end.";
  host.units["C"] = "unit C; interface uses B, A; implementation end.";
  host.script.Script().SetText(u"uses B, C, A; begin Mark('m'); end.");
  ASSERT_TRUE(host.script.Compile()) << Messages(host.script);
  ASSERT_TRUE(host.script.Execute()) << Utf8(host.script.ExecErrorToString());
  EXPECT_EQ(host.Log(), "abm");
  EXPECT_EQ(host.asked, (std::vector<std::string>{"B", "A", "C"}));
  // The file asking is the one whose uses clause names the unit.
  EXPECT_EQ(host.askedFrom[1], "B.pas");
  // A second run starts with the units' initialisation again.
  ASSERT_TRUE(host.script.Execute());
  EXPECT_EQ(host.Log(), "abmabm");
}

TEST(UsedUnits, AProgramWithoutBeginStillInitialisesItsUnits) {
  TUnitHost host;
  host.units["A"] = "unit A; interface implementation begin Log := 'ran'; end.";
  host.script.SetCompilerOptions(icAllowNoBegin);
  host.script.Script().SetText(u"uses A; end.");
  ASSERT_TRUE(host.script.Compile()) << Messages(host.script);
  ASSERT_TRUE(host.script.Execute());
  EXPECT_EQ(host.Log(), "ran");
}

TEST(UsedUnits, FaultsInAUnitAreReportedInItsOwnText) {
  TUnitHost host;
  host.units["BROKEN"] = "unit Broken;\ninterface\nimplementation\nprocedure P;\nbegin\n  X := 1;\nend;\nend.";
  host.script.Script().SetText(u"uses Broken;\nbegin end.");
  EXPECT_FALSE(host.script.Compile());
  ASSERT_GE(host.script.CompilerMessageCount(), 1);
  EXPECT_EQ(Utf8(host.script.CompilerErrorToStr(0)), "[Error] BROKEN.pas(6:3): Unknown identifier 'X'");
}

TEST(UsedUnits, TextsThatAreNotUnitsAndCyclesAreRefused) {
  TUnitHost host;
  host.units["PROG"] = "program Prog; begin end.";
  host.script.Script().SetText(u"uses Prog; begin end.");
  EXPECT_FALSE(host.script.Compile());
  EXPECT_NE(Messages(host.script).find("[Error] PROG.pas(1:1): 'UNIT' expected"), std::string::npos)
      << Messages(host.script);

  host.units["A"] = "unit A; interface uses B; implementation end.";
  host.units["B"] = "unit B; interface uses A; implementation end.";
  host.script.Script().SetText(u"uses A; begin end.");
  EXPECT_FALSE(host.script.Compile());
  EXPECT_NE(Messages(host.script).find("Circular unit reference to 'A'"), std::string::npos) << Messages(host.script);

  // A unit that is not supplied is an unknown identifier, in the file naming it.
  host.units["A"] = "unit A; interface uses Missing; implementation end.";
  EXPECT_FALSE(host.script.Compile());
  EXPECT_NE(Messages(host.script).find("A.pas(1:"), std::string::npos) << Messages(host.script);
  EXPECT_NE(Messages(host.script).find("Unknown identifier 'MISSING'"), std::string::npos) << Messages(host.script);
}

TEST(UsedUnits, AChainOfUnitsHasADepthLimit) {
  auto chain = [](TUnitHost& host, int length) {
    for (int i = 0; i < length; ++i) {
      std::string name = "U" + std::to_string(i);
      std::string uses = i + 1 < length ? " uses U" + std::to_string(i + 1) + ";" : "";
      host.units[name] = "unit " + name + "; interface" + uses + " implementation end.";
    }
    host.script.Script().SetText(u"uses U0; begin end.");
    return host.script.Compile();
  };
  TUnitHost fine;
  EXPECT_TRUE(chain(fine, 60)) << Messages(fine.script);
  TUnitHost deep;
  EXPECT_FALSE(chain(deep, 5000));
  EXPECT_NE(Messages(deep.script).find("Units nested too deeply"), std::string::npos) << Messages(deep.script);
}

TEST(UsedUnits, RunTimeErrorsInsideAUnitNameItsFileAndLine) {
  TUnitHost host;
  host.units["HALVES"] =
      "unit Halves;\ninterface\nfunction Half(N: Integer): Integer;\nimplementation\n"
      "function Half(N: Integer): Integer;\nbegin\n  Result := 100 div N;\nend;\nend.";
  host.script.Script().SetText(u"uses Halves;\nbegin\n  Log := IntToStr(Half(0));\nend.");
  ASSERT_TRUE(host.script.Compile()) << Messages(host.script);
  EXPECT_FALSE(host.script.Execute());
  EXPECT_EQ(host.script.ExecErrorFileName(), "HALVES.pas");
  EXPECT_EQ(host.script.ExecErrorRow(), 7u);
}

TEST(UsedUnits, WithThePreprocessorUnitsSeeTheDefinesAndTheirIncludes) {
  TUnitHost host;
  host.script.SetUsePreProcessor(true);
  host.script.Defines().Add(u"FAST");
  host.script.SetMainFileName("main.pas");
  host.units["OPTS"] =
      "unit Opts;\ninterface\n{$I opts.inc}\nimplementation\n"
      "begin\n{$IFDEF FAST}Log := 'fast';{$ELSE}Log := 'slow';{$ENDIF}\nend.";
  std::string include = "const Speed = 3;";
  host.script.OnNeedFile = [&](rtl::TObject*, const std::string&, std::string&, std::string& output) {
    output = include;
    return true;
  };
  host.script.Script().SetText(u"uses Opts;\nbegin\n  Log := Log + IntToStr(Speed);\nend.");
  ASSERT_TRUE(host.script.Compile()) << Messages(host.script);
  ASSERT_TRUE(host.script.Execute()) << Utf8(host.script.ExecErrorToString());
  EXPECT_EQ(host.Log(), "fast3");

  // A fault in the included file is placed in that file, not in the unit
  // or the program.
  include = "\nconst Speed = ;";
  EXPECT_FALSE(host.script.Compile());
  ASSERT_GE(host.script.CompilerMessageCount(), 1);
  EXPECT_NE(Utf8(host.script.CompilerErrorToStr(0)).find("opts.inc(2:"), std::string::npos) << Messages(host.script);
}
