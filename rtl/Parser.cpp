#include "rtl/Parser.h"

#include <charconv>

#include "rtl/Streams.h"

namespace rtl {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(char c) { return IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// Length of the UTF-8 sequence that starts with this byte (1 for stray bytes).
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

TClass TParser::StaticClass() {
  static const TMetaClass meta(u"TParser", TObject::StaticClass(), nullptr,
                               {ReadOnlyProperty(u"SourceLine", u"Integer", &TParser::SourceLine),
                                ReadOnlyProperty(u"Token", u"Char", &TParser::Token)});
  return &meta;
}

TParser::TParser(TStream& Stream) : FStream(&Stream), FStreamId(Stream.ObjectId()), FOrigin(Stream.Position()) {
  int64_t rest = std::max<int64_t>(Stream.Size() - FOrigin, 0);
  FBuffer.resize(static_cast<size_t>(rest));
  FBuffer.resize(static_cast<size_t>(Stream.Read(FBuffer.data(), rest)));
  size_t nul = FBuffer.find('\0');
  if (nul != std::string::npos) FBuffer.resize(nul);
  NextToken();
}

TParser::~TParser() {
  if (TObjectRegistry::Find(FStreamId) != FStream) return;
  try {
    FStream->SetPosition(SourcePos());
  } catch (const Exception&) {
    // Cleanup only: a stream that cannot seek keeps the position it has.
  }
}

char TParser::Peek(size_t offset) const {
  size_t at = FPos + offset;
  return at < FBuffer.size() ? FBuffer[at] : '\0';
}

void TParser::SkipBlanks() {
  while (FPos < FBuffer.size() && static_cast<unsigned char>(FBuffer[FPos]) <= ' ') {
    char c = FBuffer[FPos++];
    // LF, CR LF and a lone CR each end one line.
    if (c == '\n' || (c == '\r' && Peek() != '\n')) ++FSourceLine;
  }
}

void TParser::ReadString() {
  FTokenString.clear();
  for (;;) {
    char c = Peek();
    if (c == '#') {
      ++FPos;
      uint32_t code = 0;
      while (IsDigit(Peek())) {
        code = code * 10 + static_cast<uint32_t>(Peek() - '0');
        if (code > 0x10FFFF) ErrorStr(UnicodeString(EParserError::SInvalidString));
        ++FPos;
      }
      AppendCodePoint(FTokenString, code);
    } else if (c == '\'') {
      ++FPos;
      size_t start = FPos;
      std::string part;
      for (;;) {
        char d = Peek();
        if (d == '\0' || d == '\r' || d == '\n') ErrorStr(UnicodeString(EParserError::SInvalidString));
        if (d == '\'') {
          part.append(FBuffer, start, FPos - start);
          ++FPos;
          if (Peek() != '\'') break;
          start = FPos;  // a doubled quote stands for one
        }
        ++FPos;
      }
      FTokenString += Utf8ToUnicode(part);
    } else {
      return;
    }
  }
}

char TParser::NextToken() {
  SkipBlanks();
  FTokenStart = FPos;
  FFloatType = 0;
  char c = Peek();
  if (FPos >= FBuffer.size()) {
    FToken = toEOF;
  } else if (IsLetter(c)) {
    while (IsLetter(Peek()) || IsDigit(Peek())) ++FPos;
    FToken = toSymbol;
  } else if (c == '#' || c == '\'') {
    ReadString();
    FToken = toString;
  } else if (c == '$') {
    ++FPos;
    while (IsHexDigit(Peek())) ++FPos;
    FToken = toInteger;
  } else if (c == '-' || IsDigit(c)) {
    ++FPos;
    while (IsDigit(Peek())) ++FPos;
    FToken = toInteger;
    for (char d = Peek(); IsDigit(d) || d == '.' || d == 'e' || d == 'E' || d == '+' || d == '-'; d = Peek()) {
      ++FPos;
      FToken = toFloat;
    }
    char suffix = Peek();
    if (suffix == 'c' || suffix == 'C' || suffix == 'd' || suffix == 'D' || suffix == 's' || suffix == 'S') {
      FToken = toFloat;
      FFloatType = suffix;
      ++FPos;
    }
  } else {
    FToken = c;
    FPos += std::min(SequenceLength(static_cast<unsigned char>(c)), FBuffer.size() - FPos);
  }
  return FToken;
}

std::string_view TParser::TokenText() const {
  return std::string_view(FBuffer).substr(FTokenStart, FPos - FTokenStart);
}

UnicodeString TParser::TokenString() const {
  if (FToken == toString) return FTokenString;
  return Utf8ToUnicode(TokenText());
}

int32_t TParser::TokenInt() const {
  std::string_view text = TokenText();
  auto invalid = [&] { ErrorStr(FormatText(EParserError::SInvalidInteger, {Utf8ToUnicode(text)})); };
  if (FToken != toInteger) invalid();
  if (!text.empty() && text[0] == '$') {
    // Up to eight hex digits, read as the 32 bits of the value.
    if (text.size() < 2 || text.size() > 9) invalid();
    uint32_t value = 0;
    for (char c : text.substr(1)) value = value * 16 + static_cast<uint32_t>(HexValue(c));
    return static_cast<int32_t>(value);
  }
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) invalid();
  return value;
}

long double TParser::TokenFloat() const {
  std::string_view text = TokenText();
  if (FToken == toInteger && !text.empty() && text[0] == '$') return TokenInt();
  if (FFloatType != 0) text.remove_suffix(1);
  long double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if ((FToken != toFloat && FToken != toInteger) || error != std::errc() || end != text.data() + text.size())
    ErrorStr(FormatText(EParserError::SInvalidFloat, {Utf8ToUnicode(TokenText())}));
  return value;
}

bool TParser::TokenSymbolIs(std::u16string_view S) const {
  return FToken == toSymbol && AsciiUpperCase(TokenString()) == AsciiUpperCase(S);
}

UnicodeString TParser::TokenComponentIdent() {
  CheckToken(toSymbol);
  while (Peek() == '.') {
    ++FPos;
    if (!IsLetter(Peek())) ErrorStr(UnicodeString(EParserError::SIdentifierExpected));
    while (IsLetter(Peek()) || IsDigit(Peek())) ++FPos;
  }
  return TokenString();
}

void TParser::CheckToken(char T) const {
  if (FToken == T) return;
  switch (T) {
    case toSymbol: ErrorStr(UnicodeString(EParserError::SIdentifierExpected));
    case toString: ErrorStr(UnicodeString(EParserError::SStringExpected));
    case toInteger:
    case toFloat: ErrorStr(UnicodeString(EParserError::SNumberExpected));
    default: ErrorStr(FormatText(EParserError::SCharExpected, {Utf8ToUnicode(std::string(1, T))}));
  }
}

void TParser::CheckTokenSymbol(std::u16string_view S) const {
  if (!TokenSymbolIs(S)) ErrorStr(FormatText(EParserError::SSymbolExpected, {UnicodeString(S)}));
}

void TParser::Error(int Ident) const { ErrorStr(FormatText(EParserError::SParserErrorIdent, {IntToStr(Ident)})); }

void TParser::ErrorStr(const UnicodeString& Message) const {
  throw EParserError(FormatText(EParserError::SParseError, {Message, IntToStr(FSourceLine)}));
}

void TParser::HexToBinary(TStream& Stream) {
  SkipBlanks();
  std::string bytes;
  while (Peek() != '}') {
    if (!IsHexDigit(Peek()) || !IsHexDigit(Peek(1))) ErrorStr(UnicodeString(EParserError::SInvalidBinary));
    bytes += static_cast<char>(HexValue(Peek()) * 16 + HexValue(Peek(1)));
    FPos += 2;
    SkipBlanks();
  }
  Stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  NextToken();
}

}  // namespace rtl
