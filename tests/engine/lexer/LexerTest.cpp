#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/uPSUtils.h"

namespace ps {
namespace {

struct Tok {
  TPSPasToken id;
  std::string token;
  uint32_t row, col, pos;
  bool operator==(const Tok&) const = default;
};

struct Scanned {
  std::vector<Tok> tokens;
  std::vector<TPSParserErrorKind> errors;
};

Scanned ScanAll(std::string_view text, bool comments = false, bool blanks = false) {
  Scanned out;
  TPSPascalParser parser;
  parser.SetEnableComments(comments);
  parser.SetEnableWhitespaces(blanks);
  parser.SetOnParserError([&](TPSPascalParser* p, TPSParserErrorKind kind) {
    out.errors.push_back(kind);
    out.tokens.push_back({CSTI_EOF, "!error", p->Row(), p->Col(), p->CurrTokenPos()});
  });
  parser.SetText(text);
  while (parser.CurrTokenID() != CSTI_EOF) {
    out.tokens.push_back({parser.CurrTokenID(), parser.GetToken(), parser.Row(), parser.Col(), parser.CurrTokenPos()});
    parser.Next();
  }
  return out;
}

std::vector<TPSPasToken> Kinds(std::string_view text) {
  std::vector<TPSPasToken> kinds;
  for (auto& t : ScanAll(text).tokens) kinds.push_back(t.id);
  return kinds;
}

TEST(ReservedWords, TableIsSortedAndCoversEveryReservedKindOnce) {
  std::vector<bool> seen(96, false);
  for (int i = 0; i < PSReservedWordCount; ++i) {
    if (i > 0) {
      EXPECT_LT(PSReservedWords[i - 1].Name, PSReservedWords[i].Name);
    }
    int kind = PSReservedWords[i].Token;
    ASSERT_GE(kind, 31);
    ASSERT_LE(kind, 95);
    EXPECT_FALSE(seen[kind]) << PSReservedWords[i].Name;
    seen[kind] = true;
  }
  for (int i = 0; i < PSReservedWordCount; ++i)
    EXPECT_EQ(LookupReservedWord(PSReservedWords[i].Name), PSReservedWords[i].Token);
  EXPECT_EQ(LookupReservedWord("RAISE"), CSTI_Identifier);
  EXPECT_EQ(LookupReservedWord("STRING"), CSTI_Identifier);
  EXPECT_EQ(LookupReservedWord("BREAK"), CSTI_Identifier);
  EXPECT_EQ(LookupReservedWord("A"), CSTI_Identifier);
  EXPECT_EQ(LookupReservedWord("ZZZ"), CSTI_Identifier);
}

TEST(ReservedWords, SomeOrdinalsAreAsDocumented) {
  EXPECT_EQ(LookupReservedWord("CHR"), 88);
  EXPECT_EQ(LookupReservedWord("NIL"), 95);
  EXPECT_EQ(LookupReservedWord("EXIT"), 65);
  EXPECT_EQ(LookupReservedWord("GOTO"), 87);
  EXPECT_EQ(LookupReservedWord("OUT"), 94);
  EXPECT_EQ(LookupReservedWord("IMPLEMENTATION"), 91);
}

TEST(Lexer, PunctuationAndOperatorsGiveTheirKinds) {
  struct Case {
    const char* text;
    std::vector<TPSPasToken> kinds;
  } cases[] = {
      {"a:=b", {CSTI_Identifier, CSTI_Assignment, CSTI_Identifier}},
      {"a : = b", {CSTI_Identifier, CSTI_Colon, CSTI_Equal, CSTI_Identifier}},
      {"<> <=<>=>", {CSTI_NotEqual, CSTI_LessEqual, CSTI_NotEqual, CSTI_Equal, CSTI_Greater}},
      {"..;,.()[]",
       {CSTI_TwoDots, CSTI_SemiColon, CSTI_Comma, CSTI_Period, CSTI_OpenRound, CSTI_CloseRound, CSTI_OpenBlock,
        CSTI_CloseBlock}},
      {"+-*/@^=", {CSTI_Plus, CSTI_Minus, CSTI_Multiply, CSTI_Divide, CSTI_AddressOf, CSTI_Dereference, CSTI_Equal}},
      {"1..10", {CSTI_Integer, CSTI_TwoDots, CSTI_Integer}},
      {"1.5e-3", {CSTI_Real}},
      {"1e", {CSTI_Integer, CSTI_Identifier}},
      {"1.", {CSTI_Real}},
      {"2E5 3e+ 4.5.6", {CSTI_Real, CSTI_Integer, CSTI_Identifier, CSTI_Plus, CSTI_Real, CSTI_Period, CSTI_Integer}},
      {"$1F $ $xyz", {CSTI_HexInt, CSTI_HexInt, CSTI_HexInt, CSTI_Identifier}},
      {"#65 #$41 #", {CSTI_Char, CSTI_Char, CSTI_Char}},
      {"'It''s'#13#10'x'", {CSTI_String, CSTI_Char, CSTI_Char, CSTI_String}},
      {"begin BEGIN Begin", {CSTII_begin, CSTII_begin, CSTII_begin}},
      {"_a1 a_1 1a", {CSTI_Identifier, CSTI_Identifier, CSTI_Integer, CSTI_Identifier}},
      {"(* c *) { c } // c\nx", {CSTI_Identifier}},
      {"", {}},
  };
  for (auto& c : cases) EXPECT_EQ(Kinds(c.text), c.kinds) << c.text;
}

TEST(Lexer, TokenTextsFollowTheKind) {
  auto s = ScanAll("MyVar myvar 'It''s' #$41 $fF 1.5 begin ;");
  ASSERT_EQ(s.tokens.size(), 8u);
  EXPECT_EQ(s.tokens[0].token, "MYVAR");
  EXPECT_EQ(s.tokens[1].token, "MYVAR");
  EXPECT_EQ(s.tokens[2].token, "'It''s'");
  EXPECT_EQ(s.tokens[3].token, "#$41");
  EXPECT_EQ(s.tokens[4].token, "$fF");
  EXPECT_EQ(s.tokens[5].token, "1.5");
  EXPECT_EQ(s.tokens[6].token, "");
  EXPECT_EQ(s.tokens[7].token, "");

  TPSPascalParser p;
  p.SetText("MyVar begin");
  EXPECT_EQ(p.OriginalToken(), "MyVar");
  EXPECT_EQ(p.GetToken(), "MYVAR");
  p.Next();
  EXPECT_EQ(p.OriginalToken(), "");
}

TEST(Lexer, RowsAndColumnsCountEachKindOfLineBreakOnce) {
  struct Case {
    const char* text;
    uint32_t row, col, pos;
  } cases[] = {
      {"a\r\nb", 2, 1, 3},     {"a\rb", 2, 1, 2},        {"a\nb", 2, 1, 2},     {"a\n\rb", 3, 1, 3},
      {"a\r\n\r\nb", 3, 1, 5}, {"\tb", 1, 2, 1},         {"a\n\t\tb", 2, 3, 4}, {"{x\r\ny}b", 2, 3, 6},
      {"(*\n*)  b", 2, 5, 7},  {"// c\r\n  b", 2, 3, 8},
  };
  for (auto& c : cases) {
    auto s = ScanAll(c.text);
    ASSERT_FALSE(s.tokens.empty()) << c.text;
    auto& last = s.tokens.back();
    EXPECT_EQ(last.token, "B") << c.text;
    EXPECT_EQ(last.row, c.row) << c.text;
    EXPECT_EQ(last.col, c.col) << c.text;
    EXPECT_EQ(last.pos, c.pos) << c.text;
  }
}

TEST(Lexer, ErrorsEndTheTextAndAreReportedAtTheBadToken) {
  struct Case {
    const char* text;
    TPSParserErrorKind kind;
    uint32_t row, col;
    size_t goodTokens;
  } cases[] = {
      {"x 'abc\r\n'", iStringError, 1, 3, 1},
      {"'abc", iStringError, 1, 1, 0},
      {"a\n  { never closed\n more", iCommentError, 2, 3, 1},
      {"(* open", iCommentError, 1, 1, 0},
      {"#65x", iCharError, 1, 1, 0},
      {"a \"b\"", iSyntaxError, 1, 3, 1},
      {"a ! b", iSyntaxError, 1, 3, 1},
      {"a } b", iSyntaxError, 1, 3, 1},
      {"\x01", iSyntaxError, 1, 1, 0},
      {"caf\xc3\xa9", iSyntaxError, 1, 4, 1},
  };
  for (auto& c : cases) {
    auto s = ScanAll(c.text);
    ASSERT_EQ(s.errors.size(), 1u) << c.text;
    EXPECT_EQ(s.errors[0], c.kind) << c.text;
    ASSERT_EQ(s.tokens.size(), c.goodTokens + 1) << c.text;
    EXPECT_EQ(s.tokens.back().row, c.row) << c.text;
    EXPECT_EQ(s.tokens.back().col, c.col) << c.text;
  }
}

TEST(Lexer, AfterAnErrorTheParserStaysAtEndOfTextWithoutReportingAgain) {
  int reports = 0;
  TPSPascalParser p;
  p.SetOnParserError([&](TPSPascalParser*, TPSParserErrorKind) { ++reports; });
  p.SetText("a \" b");
  p.Next();
  EXPECT_EQ(p.CurrTokenID(), CSTI_EOF);
  p.Next();
  p.Next();
  EXPECT_EQ(p.CurrTokenID(), CSTI_EOF);
  EXPECT_EQ(reports, 1);
  p.SetText("ok");
  EXPECT_EQ(p.CurrTokenID(), CSTI_Identifier);
}

TEST(Lexer, CommentsAndWhitespaceAreTokensWhenEnabled) {
  auto s = ScanAll("a {c}\r\n// d", true, true);
  ASSERT_EQ(s.tokens.size(), 5u);
  EXPECT_EQ(s.tokens[1].id, CSTIINT_WhiteSpace);
  EXPECT_EQ(s.tokens[2].id, CSTIINT_Comment);
  EXPECT_EQ(s.tokens[2].token, "{c}");
  EXPECT_EQ(s.tokens[3].id, CSTIINT_WhiteSpace);
  EXPECT_EQ(s.tokens[4].id, CSTIINT_Comment);
  EXPECT_EQ(s.tokens[4].token, "// d");
  EXPECT_EQ(s.tokens[4].row, 2u);
}

TEST(Lexer, WithoutTextTheTokenIsEndOfText) {
  TPSPascalParser p;
  p.Next();
  EXPECT_EQ(p.CurrTokenID(), CSTI_EOF);
  EXPECT_EQ(p.CurrTokenPos(), 0u);
}

TEST(Lexer, StringsNeverSpanLinesAndKeepBytesAbove127) {
  auto s = ScanAll("'\xc3\xa9' x");
  ASSERT_EQ(s.tokens.size(), 2u);
  EXPECT_EQ(s.tokens[0].token, "'\xc3\xa9'");
  EXPECT_EQ(s.tokens[1].col, 6u);
}

TEST(NameHash, RotatesLeftBySevenAndAdds) {
  EXPECT_EQ(MakeHash(""), 0u);
  EXPECT_EQ(MakeHash("A"), 65u);
  EXPECT_EQ(MakeHash("AB"), (65u << 7) + 66u);
  // Five bytes rotate the first byte's high bits around.
  uint32_t h = 0;
  for (unsigned char c : std::string("ZZZZZ")) h = ((h << 7) | (h >> 25)) + c;
  EXPECT_EQ(MakeHash("ZZZZZ"), h);
  EXPECT_EQ(FastUpperCase("abz_AZ\xe9"), "ABZ_AZ\xe9");
}

}  // namespace
}  // namespace ps
