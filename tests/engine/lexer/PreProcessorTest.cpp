#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/uPSPreProcessor.h"

namespace ps {
namespace {

struct Fixture {
  TPSPreProcessor pp;
  std::map<std::string, std::string> files;
  Fixture(std::string main) {
    pp.FMainFileName = "main.pas";
    pp.FMainFile = std::move(main);
    pp.FOnNeedFile = [this](TPSPreProcessor*, const std::string&, std::string& name, std::string& out) {
      auto it = files.find(name);
      if (it == files.end()) return false;
      out = it->second;
      return true;
    };
  }
  std::string Run() {
    std::string out;
    pp.PreProcess("main.pas", out);
    return out;
  }
  std::string Error() {
    try {
      Run();
    } catch (const EPSPreProcessor& e) {
      return e.what();
    }
    return "";
  }
};

TEST(PreProcessor, InactiveTextAndDirectivesBecomeBlanksOfTheSameLength) {
  Fixture f("a{$IFDEF X}b\r\nc{$ELSE}d{$ENDIF}e");
  EXPECT_EQ(f.Run(), "a           \r\n        d        e");
  Fixture g("{$DEFINE X}{$IFDEF x}yes{$ENDIF}");
  EXPECT_EQ(g.Run(), std::string(11, ' ') + std::string(10, ' ') + "yes" + std::string(8, ' '));
  Fixture h("{$IFNDEF X}n{$ELSE}y{$ENDIF}");
  h.pp.AddDefine("x");
  EXPECT_EQ(h.Run(), std::string(11, ' ') + " " + std::string(7, ' ') + "y" + std::string(8, ' '));
}

TEST(PreProcessor, NestedConditionsInsideAnInactiveBranchStayInactive) {
  Fixture f("{$IFDEF A}{$IFNDEF B}x{$ELSE}y{$ENDIF}{$ENDIF}z");
  std::string out = f.Run();
  EXPECT_EQ(out.find_first_not_of(' '), out.size() - 1);
}

TEST(PreProcessor, StringsAndCommentsHideDirectiveLookalikes) {
  Fixture f("s := '{$IFDEF X}'; (* {$ENDIF} *) // {$ELSE}\n");
  EXPECT_EQ(f.Run(), "s := '{$IFDEF X}'; (* {$ENDIF} *) // {$ELSE}\n");
}

TEST(PreProcessor, DirectiveErrorsCarryTheirTextAndPosition) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"x\n  {$ELSE}", "No IFDEF for ELSE at 2:3"},
      {"{$IFDEF A}{$ELSE}{$ELSE}{$ENDIF}", "Can't use ELSE twice at 1:18"},
      {"{$ENDIF}", "No IFDEF for ENDIF at 1:1"},
      {"{$IFDEF A B}{$ENDIF}", "Too many parameters at 1:1"},
      {"{$IFDEF A}{$ELSE X}{$ENDIF}", "Too many parameters at 1:11"},
      {"{$DEFINE A B}", "Too many parameters at 1:1"},
      {"{$FOO}", "Unknown compiler directives at 1:1"},
      {"{$IFDEF A}", "Define not closed"},
      {"{$I missing.inc}", "Unable to find file 'missing.inc' used from 'main.pas'"},
  };
  for (auto& c : cases) {
    Fixture f(c.text);
    EXPECT_EQ(f.Error(), c.message) << c.text;
  }
  // Inactive DEFINE with blanks is not checked.
  Fixture quiet("{$IFDEF A}{$DEFINE A B}{$ENDIF}");
  EXPECT_EQ(quiet.Error(), "");
}

TEST(PreProcessor, IncludeNestingIsLimited) {
  Fixture f("{$I self.inc}");
  f.files["self.inc"] = "{$I self.inc}";
  EXPECT_EQ(f.Error(), "Too many nested include files while processing 'self.inc' from 'self.inc'");
}

TEST(PreProcessor, UnknownDirectiveEventsCanAcceptADirective) {
  Fixture f("{$MODE X}a");
  std::string seen;
  f.pp.FOnProcessUnknowDirective = [&](TPSPreProcessor*, TPSPascalPreProcessorParser*, bool active,
                                       const std::string& name, const std::string& param, bool& cont) {
    seen = name + "|" + param + (active ? "|on" : "|off");
    cont = false;
  };
  EXPECT_EQ(f.Run(), std::string(9, ' ') + "a");
  EXPECT_EQ(seen, "MODE|X|on");
}

TEST(PreProcessor, IncludedTextStandsBeforeTheDirectiveAndLinesMapBack) {
  Fixture f("ab\r\n{$I inc.pas}\r\nxy");
  f.files["inc.pas"] = "11\n22";
  std::string out = f.Run();
  EXPECT_EQ(out, "ab\r\n11\n22" + std::string(12, ' ') + "\r\nxy");
  auto& lines = f.pp.CurrentLineInfo();
  TPSLineInfoResults r;
  // "22" in the include: its row 2, column 1.
  ASSERT_TRUE(lines.GetLineInfo("", static_cast<uint32_t>(out.find("22")), r));
  EXPECT_EQ(r.Name, "inc.pas");
  EXPECT_EQ(r.Row, 2u);
  EXPECT_EQ(r.Col, 1u);
  // "xy" in the main file: row 3, column 1.
  ASSERT_TRUE(lines.GetLineInfo("", static_cast<uint32_t>(out.find("xy")), r));
  EXPECT_EQ(r.Name, "main.pas");
  EXPECT_EQ(r.Row, 3u);
  EXPECT_EQ(r.Col, 1u);
  ASSERT_TRUE(lines.GetLineInfo("", 1, r));
  EXPECT_EQ(r.Row, 1u);
  EXPECT_EQ(r.Col, 2u);
  EXPECT_FALSE(lines.GetLineInfo("", static_cast<uint32_t>(out.size()), r));
}

}  // namespace
}  // namespace ps
