#include "uPSUtils.h"

#include <algorithm>

namespace ps {

const TPSReservedWord PSReservedWords[PSReservedWordCount] = {
    {"AND", CSTII_and},
    {"ARRAY", CSTII_array},
    {"AS", CSTII_As},
    {"BEGIN", CSTII_begin},
    {"CASE", CSTII_case},
    {"CHR", CSTII_Chr},
    {"CLASS", CSTII_class},
    {"CONST", CSTII_const},
    {"CONSTRUCTOR", CSTII_constructor},
    {"DESTRUCTOR", CSTII_destructor},
    {"DIV", CSTII_div},
    {"DO", CSTII_do},
    {"DOWNTO", CSTII_downto},
    {"ELSE", CSTII_else},
    {"END", CSTII_end},
    {"EXCEPT", CSTII_Except},
    {"EXIT", CSTII_exit},
    {"EXPORT", CSTII_Export},
    {"EXTERNAL", CSTII_External},
    {"FINALIZATION", CSTII_finalization},
    {"FINALLY", CSTII_Finally},
    {"FOR", CSTII_for},
    {"FORWARD", CSTII_Forward},
    {"FUNCTION", CSTII_function},
    {"GOTO", CSTII_Goto},
    {"IF", CSTII_if},
    {"IMPLEMENTATION", CSTII_Implementation},
    {"IN", CSTII_in},
    {"INHERITED", CSTII_inherited},
    {"INITIALIZATION", CSTII_initialization},
    {"INTERFACE", CSTII_Interface},
    {"IS", CSTII_Is},
    {"LABEL", CSTII_Label},
    {"MOD", CSTII_mod},
    {"NIL", CSTII_nil},
    {"NOT", CSTII_not},
    {"OF", CSTII_of},
    {"OR", CSTII_or},
    {"ORD", CSTII_Ord},
    {"OUT", CSTII_out},
    {"OVERRIDE", CSTII_override},
    {"PRIVATE", CSTII_private},
    {"PROCEDURE", CSTII_procedure},
    {"PROGRAM", CSTII_program},
    {"PROPERTY", CSTII_property},
    {"PROTECTED", CSTII_protected},
    {"PUBLIC", CSTII_public},
    {"PUBLISHED", CSTII_published},
    {"RECORD", CSTII_record},
    {"REPEAT", CSTII_repeat},
    {"SET", CSTII_set},
    {"SHL", CSTII_shl},
    {"SHR", CSTII_shr},
    {"THEN", CSTII_then},
    {"TO", CSTII_to},
    {"TRY", CSTII_Try},
    {"TYPE", CSTII_type},
    {"UNIT", CSTII_Unit},
    {"UNTIL", CSTII_until},
    {"USES", CSTII_uses},
    {"VAR", CSTII_var},
    {"VIRTUAL", CSTII_virtual},
    {"WHILE", CSTII_while},
    {"WITH", CSTII_with},
    {"XOR", CSTII_xor},
};

TPSPasToken LookupReservedWord(std::string_view upperName) {
  int low = 0, high = PSReservedWordCount - 1;
  while (low <= high) {
    int mid = (low + high) / 2;
    int cmp = upperName.compare(PSReservedWords[mid].Name);
    if (cmp == 0) return PSReservedWords[mid].Token;
    if (cmp < 0)
      high = mid - 1;
    else
      low = mid + 1;
  }
  return CSTI_Identifier;
}

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

void TPSPascalParser::SetText(std::string_view data) {
  FData.assign(data);
  FText = FData.c_str();
  FRealPosition = 0;
  FTokenLength = 0;
  FTokenId = CSTI_EOF;
  FLastEnterPos = 0;
  FRow = 1;
  FFailed = false;
  Next();
}

void TPSPascalParser::CountLineBreak(uint32_t& pos) {
  if (FText[pos] == '\r' && FText[pos + 1] == '\n') ++pos;
  ++pos;
  ++FRow;
  FLastEnterPos = pos;
}

TPSParserErrorKind TPSPascalParser::Scan() {
  const char* t = FText;
  uint32_t start = FRealPosition, p = start;
  char c = t[p];
  TPSParserErrorKind error = iNoError;
  if (c == 0) {
    FTokenId = CSTI_EOF;
  } else if (IsBlank(c)) {
    while (IsBlank(t[p])) {
      if (t[p] == '\r' || t[p] == '\n')
        CountLineBreak(p);
      else
        ++p;
    }
    FTokenId = CSTIINT_WhiteSpace;
  } else if (IsLetter(c)) {
    while (IsLetter(t[p]) || IsDigit(t[p])) ++p;
    FTokenId = LookupReservedWord(FastUpperCase(std::string_view(t + start, p - start)));
  } else if (c == '$') {
    ++p;
    while (IsHexDigit(t[p])) ++p;
    FTokenId = CSTI_HexInt;
  } else if (c == '#') {
    ++p;
    if (t[p] == '$') {
      ++p;
      while (IsHexDigit(t[p])) ++p;
    } else {
      while (IsDigit(t[p])) ++p;
      if (IsLetter(t[p])) error = iCharError;
    }
    FTokenId = CSTI_Char;
  } else if (IsDigit(c)) {
    bool real = false, point = false;
    while (true) {
      if (IsDigit(t[p])) {
        ++p;
      } else if (t[p] == '.' && !point && t[p + 1] != '.') {
        point = real = true;
        ++p;
      } else {
        break;
      }
    }
    if ((t[p] == 'e' || t[p] == 'E') &&
        (IsDigit(t[p + 1]) || ((t[p + 1] == '+' || t[p + 1] == '-') && IsDigit(t[p + 2])))) {
      real = true;
      p += 2;
      while (IsDigit(t[p])) ++p;
    }
    FTokenId = real ? CSTI_Real : CSTI_Integer;
  } else if (c == '\'') {
    ++p;
    while (true) {
      char s = t[p];
      if (s == 0 || s == '\r' || s == '\n') {
        error = iStringError;
        break;
      }
      ++p;
      if (s == '\'') {
        if (t[p] != '\'') break;
        ++p;
      }
    }
    FTokenId = CSTI_String;
  } else if (c == '{' || (c == '(' && t[p + 1] == '*')) {
    bool brace = c == '{';
    p += brace ? 1 : 2;
    while (true) {
      if (t[p] == 0) {
        error = iCommentError;
        break;
      }
      if (brace && t[p] == '}') {
        ++p;
        break;
      }
      if (!brace && t[p] == '*' && t[p + 1] == ')') {
        p += 2;
        break;
      }
      if (t[p] == '\r' || t[p] == '\n')
        CountLineBreak(p);
      else
        ++p;
    }
    FTokenId = CSTIINT_Comment;
  } else if (c == '/' && t[p + 1] == '/') {
    while (t[p] != 0 && t[p] != '\r' && t[p] != '\n') ++p;
    FTokenId = CSTIINT_Comment;
  } else {
    ++p;
    char n = t[p];
    switch (c) {
      case ':': FTokenId = n == '=' ? (++p, CSTI_Assignment) : CSTI_Colon; break;
      case '<':
        if (n == '=')
          FTokenId = (++p, CSTI_LessEqual);
        else if (n == '>')
          FTokenId = (++p, CSTI_NotEqual);
        else
          FTokenId = CSTI_Less;
        break;
      case '>': FTokenId = n == '=' ? (++p, CSTI_GreaterEqual) : CSTI_Greater; break;
      case '.': FTokenId = n == '.' ? (++p, CSTI_TwoDots) : CSTI_Period; break;
      case '(': FTokenId = CSTI_OpenRound; break;
      case ')': FTokenId = CSTI_CloseRound; break;
      case '*': FTokenId = CSTI_Multiply; break;
      case '+': FTokenId = CSTI_Plus; break;
      case ',': FTokenId = CSTI_Comma; break;
      case '-': FTokenId = CSTI_Minus; break;
      case '/': FTokenId = CSTI_Divide; break;
      case ';': FTokenId = CSTI_SemiColon; break;
      case '=': FTokenId = CSTI_Equal; break;
      case '@': FTokenId = CSTI_AddressOf; break;
      case '[': FTokenId = CSTI_OpenBlock; break;
      case ']': FTokenId = CSTI_CloseBlock; break;
      case '^': FTokenId = CSTI_Dereference; break;
      default: error = iSyntaxError; break;
    }
  }
  FTokenLength = p - start;
  return error;
}

void TPSPascalParser::Next() {
  FToken.clear();
  FOriginalToken.clear();
  if (FText == nullptr || FFailed) {
    if (FText == nullptr) FRealPosition = 0;
    FTokenId = CSTI_EOF;
    FTokenLength = 0;
    return;
  }
  while (true) {
    FRealPosition += FTokenLength;
    // A failing token is reported where it starts, also when it crossed lines.
    uint32_t row = FRow, lastEnter = FLastEnterPos;
    TPSParserErrorKind error = Scan();
    if (error != iNoError) {
      FRow = row;
      FLastEnterPos = lastEnter;
      FTokenId = CSTI_EOF;
      FTokenLength = 0;
      FFailed = true;
      if (FParserError) FParserError(this, error);
      return;
    }
    if ((FTokenId == CSTIINT_Comment && !FEnableComments) || (FTokenId == CSTIINT_WhiteSpace && !FEnableWhitespaces))
      continue;
    break;
  }
  switch (FTokenId) {
    case CSTI_Identifier:
      FOriginalToken.assign(FText + FRealPosition, FTokenLength);
      FToken = FastUpperCase(FOriginalToken);
      break;
    case CSTI_Integer:
    case CSTI_Real:
    case CSTI_String:
    case CSTI_Char:
    case CSTI_HexInt:
    case CSTIINT_Comment:
    case CSTIINT_WhiteSpace:
      FOriginalToken.assign(FText + FRealPosition, FTokenLength);
      FToken = FOriginalToken;
      break;
    default: break;
  }
}

}  // namespace ps
