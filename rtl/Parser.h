// TParser: the tokenizer of the textual component-stream format. It reads
// symbols, quoted strings (with #nnn character codes), integers (decimal or
// $hex), floating-point numbers and single characters, counting lines.
#pragma once

#include <string>

#include "rtl/Objects.h"

namespace rtl {

class TStream;

// Token kinds; any other token is the character itself.
constexpr char toEOF = 0;
constexpr char toSymbol = 1;
constexpr char toString = 2;
constexpr char toInteger = 3;
constexpr char toFloat = 4;

// Every parser error carries " on line %d" with the current line.
class EParserError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SParseError = u"%s on line %d";
  static constexpr std::u16string_view SIdentifierExpected = u"Identifier expected";
  static constexpr std::u16string_view SStringExpected = u"String expected";
  static constexpr std::u16string_view SNumberExpected = u"Number expected";
  static constexpr std::u16string_view SCharExpected = u"'%s' expected";
  static constexpr std::u16string_view SSymbolExpected = u"%s expected";
  static constexpr std::u16string_view SInvalidBinary = u"Invalid binary value";
  static constexpr std::u16string_view SInvalidString = u"Invalid string constant";
  static constexpr std::u16string_view SInvalidInteger = u"'%s' is not a valid integer value";
  static constexpr std::u16string_view SInvalidFloat = u"'%s' is not a valid floating point value";
  static constexpr std::u16string_view SParserErrorIdent = u"Parser error %d";
};

class TParser : public TObject {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  // Reads the stream from its position to its end (text in UTF-8; a NUL
  // byte ends it) and reads the first token. The stream is not owned; when
  // the parser is freed and the stream still lives, the stream's position
  // is set to the current token, so reading can go on from there.
  explicit TParser(TStream& Stream);
  ~TParser() override;
  TParser(const TParser&) = delete;
  TParser& operator=(const TParser&) = delete;

  // Reads the next token and returns its kind (or its character).
  char NextToken();
  char Token() const { return FToken; }
  // The text of a string token; the source text of any other token.
  UnicodeString TokenString() const;
  // Raise with the line when the token is not a number of that kind.
  int32_t TokenInt() const;
  long double TokenFloat() const;
  // True when the token is a symbol equal to `S` (ASCII letter case ignored).
  bool TokenSymbolIs(std::u16string_view S) const;
  // The symbol with any ".name" parts that follow it; consumes those parts.
  UnicodeString TokenComponentIdent();

  // Raise "Identifier expected", "String expected", "Number expected" or
  // "'c' expected" unless the token is of that kind.
  void CheckToken(char T) const;
  // Raises "S expected" unless the token is that symbol.
  void CheckTokenSymbol(std::u16string_view S) const;
  [[noreturn]] void Error(int Ident) const;
  [[noreturn]] void ErrorStr(const UnicodeString& Message) const;
  // Reads pairs of hex digits (blanks between pairs allowed) up to "}",
  // writes the bytes to the stream and reads the "}" as the next token.
  void HexToBinary(TStream& Stream);

  // Stream position of the current token.
  int64_t SourcePos() const { return FOrigin + static_cast<int64_t>(FTokenStart); }
  int SourceLine() const { return FSourceLine; }
  // The suffix of a float token ("c", "d", "s" in either case), or 0.
  char FloatType() const { return FFloatType; }

 private:
  char Peek(size_t offset = 0) const;
  void SkipBlanks();
  void ReadString();
  std::string_view TokenText() const;

  TStream* FStream;    // not owned; may be freed before the parser
  uint32_t FStreamId;  // tells whether FStream still lives
  int64_t FOrigin;
  std::string FBuffer;
  size_t FPos = 0;  // next unread byte
  size_t FTokenStart = 0;
  char FToken = toEOF;
  char FFloatType = 0;
  UnicodeString FTokenString;
  int FSourceLine = 1;
};

}  // namespace rtl
