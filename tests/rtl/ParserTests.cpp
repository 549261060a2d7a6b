#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rtl/Parser.h"
#include "rtl/Streams.h"

using namespace rtl;

namespace {

std::unique_ptr<TMemoryStream> StreamOf(std::string_view text) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->Write(text.data(), static_cast<int64_t>(text.size()));
  stream->SetPosition(0);
  return stream;
}

std::string Message(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return UnicodeToUtf8(e.Message());
  }
  return "no error";
}

}  // namespace

TEST(Parser, TokenKindsAndTheirTexts) {
  struct Case {
    char token;
    const char16_t* text;
  };
  auto stream = StreamOf(
      "object Form1: TForm\n  Left = -12\n  Caption = 'It''s'#33 + 'x'\n  Ratio = 1.5e3\n"
      "  Hex = $1F  Big = 2.5d  { } end");
  TParser parser(*stream);
  std::vector<Case> expected = {
      {toSymbol, u"object"}, {toSymbol, u"Form1"}, {':', u":"},         {toSymbol, u"TForm"},
      {toSymbol, u"Left"},   {'=', u"="},          {toInteger, u"-12"}, {toSymbol, u"Caption"},
      {'=', u"="},           {toString, u"It's!"}, {'+', u"+"},         {toString, u"x"},
      {toSymbol, u"Ratio"},  {'=', u"="},          {toFloat, u"1.5e3"}, {toSymbol, u"Hex"},
      {'=', u"="},           {toInteger, u"$1F"},  {toSymbol, u"Big"},  {'=', u"="},
      {toFloat, u"2.5d"},    {'{', u"{"},          {'}', u"}"},         {toSymbol, u"end"},
      {toEOF, u""},
  };
  for (const Case& c : expected) {
    EXPECT_EQ(parser.Token(), c.token) << UnicodeToUtf8(c.text);
    EXPECT_EQ(parser.TokenString(), c.text);
    parser.NextToken();
  }
  EXPECT_EQ(parser.NextToken(), toEOF);  // stays at the end
}

TEST(Parser, NumbersConvert) {
  auto stream = StreamOf("42 -7 $FFFFFFFF 1.25 3 2.5s 99999999999 1.2.3");
  TParser parser(*stream);
  EXPECT_EQ(parser.TokenInt(), 42);
  parser.NextToken();
  EXPECT_EQ(parser.TokenInt(), -7);
  parser.NextToken();
  EXPECT_EQ(parser.TokenInt(), -1);  // eight hex digits are the 32 bits
  parser.NextToken();
  EXPECT_EQ(parser.TokenFloat(), 1.25L);
  EXPECT_EQ(Message([&] { parser.TokenInt(); }), "'1.25' is not a valid integer value on line 1");
  parser.NextToken();
  EXPECT_EQ(parser.TokenFloat(), 3.0L);  // an integer is a number too
  parser.NextToken();
  EXPECT_EQ(parser.FloatType(), 's');
  EXPECT_EQ(parser.TokenFloat(), 2.5L);
  parser.NextToken();
  EXPECT_EQ(Message([&] { parser.TokenInt(); }), "'99999999999' is not a valid integer value on line 1");
  parser.NextToken();
  EXPECT_EQ(parser.Token(), toFloat);
  EXPECT_EQ(Message([&] { parser.TokenFloat(); }), "'1.2.3' is not a valid floating point value on line 1");
}

TEST(Parser, LinesAreCountedAtEveryLineEnd) {
  auto stream = StreamOf("a\r\nb\rc\n\nd");
  TParser parser(*stream);
  std::vector<int> lines;
  for (; parser.Token() != toEOF; parser.NextToken()) lines.push_back(parser.SourceLine());
  EXPECT_EQ(lines, (std::vector<int>{1, 2, 3, 5}));
}

TEST(Parser, ChecksNameWhatWasExpected) {
  auto stream = StreamOf("\n\nname 'text' 12 =");
  TParser parser(*stream);
  EXPECT_TRUE(parser.TokenSymbolIs(u"NAME"));
  parser.CheckTokenSymbol(u"Name");
  EXPECT_EQ(Message([&] { parser.CheckTokenSymbol(u"other"); }), "other expected on line 3");
  EXPECT_EQ(Message([&] { parser.CheckToken(toString); }), "String expected on line 3");
  parser.NextToken();
  EXPECT_FALSE(parser.TokenSymbolIs(u"text"));  // a string is not a symbol
  EXPECT_EQ(Message([&] { parser.CheckToken(toSymbol); }), "Identifier expected on line 3");
  EXPECT_EQ(Message([&] { parser.CheckToken(toInteger); }), "Number expected on line 3");
  EXPECT_EQ(Message([&] { parser.CheckToken('='); }), "'=' expected on line 3");
  EXPECT_EQ(Message([&] { parser.Error(17); }), "Parser error 17 on line 3");
  EXPECT_EQ(Message([&] { parser.ErrorStr(u"Custom"); }), "Custom on line 3");
}

TEST(Parser, StringsDecodeUtf8AndCharacterCodesAndRefuseOpenEnds) {
  auto stream = StreamOf("'Grüße'#9#9731'!' 'open\n");
  TParser parser(*stream);
  EXPECT_EQ(parser.TokenString(), u"Grüße\t☃!");
  EXPECT_EQ(Message([&] { parser.NextToken(); }), "Invalid string constant on line 1");
  auto huge = StreamOf("#99999999999");
  EXPECT_EQ(Message([&] { TParser p(*huge); }), "Invalid string constant on line 1");
}

TEST(Parser, ComponentIdentTakesTheDottedParts) {
  auto stream = StreamOf("Form1.Button1.Caption = x. y");
  TParser parser(*stream);
  EXPECT_EQ(parser.TokenComponentIdent(), u"Form1.Button1.Caption");
  EXPECT_EQ(parser.NextToken(), '=');
  parser.NextToken();
  EXPECT_EQ(Message([&] { parser.TokenComponentIdent(); }), "Identifier expected on line 1");
}

TEST(Parser, HexToBinaryWritesTheBytesUpToTheClosingBrace) {
  auto stream = StreamOf("Data = { 0A FF\n 10 } next { 1 }");
  TParser parser(*stream);
  while (parser.Token() != '{') parser.NextToken();
  TMemoryStream bytes;
  parser.HexToBinary(bytes);
  EXPECT_EQ(parser.Token(), '}');
  EXPECT_EQ(parser.SourceLine(), 2);
  EXPECT_EQ(bytes.Size(), 3);
  bytes.SetPosition(0);
  unsigned char read[3];
  bytes.ReadBuffer(read, 3);
  EXPECT_EQ(read[0], 0x0A);
  EXPECT_EQ(read[1], 0xFF);
  EXPECT_EQ(read[2], 0x10);
  parser.NextToken();
  parser.NextToken();
  EXPECT_EQ(Message([&] { parser.HexToBinary(bytes); }), "Invalid binary value on line 2");
  auto open = StreamOf("{ 0A");
  TParser unterminated(*open);
  EXPECT_EQ(Message([&] { unterminated.HexToBinary(bytes); }), "Invalid binary value on line 1");
}

TEST(Parser, StartsAtTheStreamPositionAndHandsItBack) {
  auto stream = StreamOf("skip first second");
  stream->SetPosition(5);
  {
    TParser parser(*stream);
    EXPECT_EQ(parser.TokenString(), u"first");
    EXPECT_EQ(parser.SourcePos(), 5);
    parser.NextToken();
    EXPECT_EQ(parser.SourcePos(), 11);
  }
  EXPECT_EQ(stream->Position(), 11);  // at the token the parser stopped on

  // A stream freed before the parser is left alone.
  auto doomed = StreamOf("a b");
  auto parser = std::make_unique<TParser>(*doomed);
  doomed.reset();
  parser.reset();
}

TEST(Parser, ANulByteEndsTheTextAndOtherCharactersAreTokens) {
  auto stream = StreamOf(std::string("a \xE2\x82\xAC\0 b", 7));
  TParser parser(*stream);
  parser.NextToken();
  EXPECT_EQ(parser.TokenString(), u"€");  // one token for the whole character
  EXPECT_EQ(parser.NextToken(), toEOF);
}
