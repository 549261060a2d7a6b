// The script lexer: turns 8-bit Pascal Script text into tokens for the
// compiler and for the parser of host declaration texts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "PSModuleFormat.h"

namespace ps {

// Token kinds; the ordinal is what CurrTokenID holds.
enum TPSPasToken : uint8_t {
  CSTI_EOF = 0,
  CSTIINT_Comment = 1,
  CSTIINT_WhiteSpace = 2,
  CSTI_Identifier = 3,
  CSTI_SemiColon = 4,
  CSTI_Comma = 5,
  CSTI_Period = 6,
  CSTI_Colon = 7,
  CSTI_OpenRound = 8,
  CSTI_CloseRound = 9,
  CSTI_OpenBlock = 10,
  CSTI_CloseBlock = 11,
  CSTI_Assignment = 12,
  CSTI_Equal = 13,
  CSTI_NotEqual = 14,
  CSTI_Greater = 15,
  CSTI_GreaterEqual = 16,
  CSTI_Less = 17,
  CSTI_LessEqual = 18,
  CSTI_Plus = 19,
  CSTI_Minus = 20,
  CSTI_Divide = 21,
  CSTI_Multiply = 22,
  CSTI_Integer = 23,
  CSTI_Real = 24,
  CSTI_String = 25,
  CSTI_Char = 26,
  CSTI_HexInt = 27,
  CSTI_AddressOf = 28,
  CSTI_Dereference = 29,
  CSTI_TwoDots = 30,
  // Reserved words.
  CSTII_and = 31,
  CSTII_array = 32,
  CSTII_begin = 33,
  CSTII_case = 34,
  CSTII_const = 35,
  CSTII_div = 36,
  CSTII_do = 37,
  CSTII_downto = 38,
  CSTII_else = 39,
  CSTII_end = 40,
  CSTII_for = 41,
  CSTII_function = 42,
  CSTII_if = 43,
  CSTII_in = 44,
  CSTII_mod = 45,
  CSTII_not = 46,
  CSTII_of = 47,
  CSTII_or = 48,
  CSTII_procedure = 49,
  CSTII_program = 50,
  CSTII_repeat = 51,
  CSTII_record = 52,
  CSTII_set = 53,
  CSTII_shl = 54,
  CSTII_shr = 55,
  CSTII_then = 56,
  CSTII_to = 57,
  CSTII_type = 58,
  CSTII_until = 59,
  CSTII_uses = 60,
  CSTII_var = 61,
  CSTII_while = 62,
  CSTII_with = 63,
  CSTII_xor = 64,
  CSTII_exit = 65,
  CSTII_class = 66,
  CSTII_constructor = 67,
  CSTII_destructor = 68,
  CSTII_inherited = 69,
  CSTII_private = 70,
  CSTII_public = 71,
  CSTII_published = 72,
  CSTII_protected = 73,
  CSTII_property = 74,
  CSTII_virtual = 75,
  CSTII_override = 76,
  CSTII_As = 77,
  CSTII_Is = 78,
  CSTII_Unit = 79,
  CSTII_Try = 80,
  CSTII_Except = 81,
  CSTII_Finally = 82,
  CSTII_External = 83,
  CSTII_Forward = 84,
  CSTII_Export = 85,
  CSTII_Label = 86,
  CSTII_Goto = 87,
  CSTII_Chr = 88,
  CSTII_Ord = 89,
  CSTII_Interface = 90,
  CSTII_Implementation = 91,
  CSTII_initialization = 92,
  CSTII_finalization = 93,
  CSTII_out = 94,
  CSTII_nil = 95,
};

enum TPSParserErrorKind : uint8_t {
  iNoError = 0,
  iCommentError = 1,
  iStringError = 2,
  iCharError = 3,
  iSyntaxError = 4,
};

// The reserved words, upper case, sorted by byte value for binary search.
struct TPSReservedWord {
  std::string_view Name;
  TPSPasToken Token;
};
constexpr int PSReservedWordCount = 65;
extern const TPSReservedWord PSReservedWords[PSReservedWordCount];
// The reserved word's kind, or CSTI_Identifier; `upperName` must be upper case.
TPSPasToken LookupReservedWord(std::string_view upperName);

// Where a token starts: byte offset into the text, and its one-based line
// and column. Passed around as one value so the three cannot be mixed up.
struct TPSSourcePos {
  uint32_t Pos = 0, Row = 0, Col = 0;
};

class TPSPascalParser;
using TPSParserErrorEvent = std::function<void(TPSPascalParser* parser, TPSParserErrorKind kind)>;

class TPSPascalParser {
 public:
  // Copies the text and reads the first token.
  void SetText(std::string_view data);
  // Advances to the next token; with no text set the token is end of text.
  void Next();

  bool EnableComments() const { return FEnableComments; }
  void SetEnableComments(bool value) { FEnableComments = value; }
  bool EnableWhitespaces() const { return FEnableWhitespaces; }
  void SetEnableWhitespaces(bool value) { FEnableWhitespaces = value; }
  // Identifiers in upper case; literals as written; otherwise empty.
  const std::string& GetToken() const { return FToken; }
  const std::string& OriginalToken() const { return FOriginalToken; }
  uint32_t CurrTokenPos() const { return FRealPosition; }
  TPSPasToken CurrTokenID() const { return FTokenId; }
  uint32_t Row() const { return FRow; }
  uint32_t Col() const { return FRealPosition - FLastEnterPos + 1; }
  // CurrTokenPos, Row and Col together.
  TPSSourcePos Position() const { return {FRealPosition, FRow, Col()}; }
  void SetOnParserError(TPSParserErrorEvent handler) { FParserError = std::move(handler); }
  // The source bytes from `start` up to `end` (exclusive).
  std::string_view Source(uint32_t start, uint32_t end) const {
    return std::string_view(FData).substr(start, end - start);
  }

 private:
  // Scans the token at FRealPosition into FTokenId/FTokenLength.
  TPSParserErrorKind Scan();
  // Skips a line break at `pos` (CR, CR LF or LF) and counts it.
  void CountLineBreak(uint32_t& pos);

  std::string FData;
  const char* FText = nullptr;
  uint32_t FLastEnterPos = 0;
  uint32_t FRow = 1;
  uint32_t FRealPosition = 0;
  uint32_t FTokenLength = 0;
  TPSPasToken FTokenId = CSTI_EOF;
  std::string FToken;
  std::string FOriginalToken;
  TPSParserErrorEvent FParserError;
  bool FEnableComments = false;
  bool FEnableWhitespaces = false;
  // Set by a reported error: the text reads as ended from then on.
  bool FFailed = false;
};

}  // namespace ps
