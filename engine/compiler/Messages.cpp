// Compiler messages: the error, warning and hint texts, and how a message
// line reads.
#include "engine/uPSCompiler.h"

namespace ps {

namespace {

// Indexed by TPSPascalCompilerErrorType; ecCustomError shows its parameter.
constexpr std::u16string_view ErrorTexts[] = {
    u"Unknown identifier '%s'",
    u"Identifier expected",
    u"Comment error",
    u"String error",
    u"Char error",
    u"Syntax error",
    u"Unexpected end of file",
    u"Semicolon (';') expected",
    u"'BEGIN' expected",
    u"period ('.') expected",
    u"Duplicate identifier '%s'",
    u"colon (':') expected",
    u"Unknown type '%s'",
    u"Closing parenthesis expected",
    u"Type mismatch",
    u"Internal error (%s)",
    u"Assignment expected",
    u"'THEN' expected",
    u"'DO' expected",
    u"No result",
    u"opening parenthesis ('(')expected",
    u"comma (',') expected",
    u"'TO' expected",
    u"is ('=') expected",
    u"'OF' expected",
    u"Closing square bracket (']') expected",
    u"Variable Expected",
    u"String Expected",
    u"'END' expected",
    u"Label '%s' not set",
    u"Not in a loop",
    u"Invalid jump",
    u"Opening square brackets ('[') expected",
    u"Write-only property",
    u"Read-only property",
    u"Class type expected",
    u"%s",
    u"Divide by Zero",
    u"Math Error",
    u"Unsatisfied Forward %s",
    u"Forward Parameter Mismatch",
    u"Invalid number of parameters",
};
static_assert(std::size(ErrorTexts) == ecInvalidnumberOfParameters + 1);
constexpr std::u16string_view SUnknownError = u"Unknown error";

constexpr std::u16string_view WarningTexts[] = {
    u"Calculation always evaluates to %s",
    u"%s is not needed",
    u"Abstract Class Construction",
    u"%s",
};
static_assert(std::size(WarningTexts) == ewCustomWarning + 1);
constexpr std::u16string_view SUnknownWarning = u"Unknown warning";

constexpr std::u16string_view HintTexts[] = {
    u"Variable '%s' never used",
    u"Function '%s' never used",
    u"%s",
};
static_assert(std::size(HintTexts) == ehCustomHint + 1);
constexpr std::u16string_view SUnknownHint = u"Unknown hint";

template <size_t N>
rtl::UnicodeString Render(const std::u16string_view (&table)[N], size_t index, std::u16string_view unknown,
                          const std::string& param) {
  if (index >= N) return rtl::UnicodeString(unknown);
  return rtl::FormatText(table[index], {rtl::Utf8ToUnicode(param)});
}

}  // namespace

rtl::UnicodeString TPSPascalCompilerMessage::MessageToString() const {
  rtl::UnicodeString s = u"[";
  s += rtl::Utf8ToUnicode(ErrorType());
  s += u"] ";
  s += rtl::Utf8ToUnicode(FModuleName);
  s += u"(" + rtl::IntToStr(FRow) + u":" + rtl::IntToStr(FCol) + u"): ";
  s += ShortMessageToString();
  return s;
}

std::string_view TPSPascalCompilerError::ErrorType() const { return "Error"; }
rtl::UnicodeString TPSPascalCompilerError::ShortMessageToString() const {
  return Render(ErrorTexts, FError, SUnknownError, FParam);
}
std::string_view TPSPascalCompilerWarning::ErrorType() const { return "Warning"; }
rtl::UnicodeString TPSPascalCompilerWarning::ShortMessageToString() const {
  return Render(WarningTexts, FWarning, SUnknownWarning, FParam);
}
std::string_view TPSPascalCompilerHint::ErrorType() const { return "Hint"; }
rtl::UnicodeString TPSPascalCompilerHint::ShortMessageToString() const {
  return Render(HintTexts, FHint, SUnknownHint, FParam);
}

namespace {

template <class M>
M* Place(TPSPascalParser* parser, std::unique_ptr<M> msg, std::string_view module, std::string_view param,
         std::vector<std::unique_ptr<TPSPascalCompilerMessage>>& list) {
  msg->FModuleName.assign(module);
  msg->FParam.assign(param);
  if (parser) msg->SetCustomPos(parser->Position());
  M* raw = msg.get();
  list.push_back(std::move(msg));
  return raw;
}

}  // namespace

TPSPascalCompilerMessage* TPSPascalCompiler::MakeError(std::string_view module, TPSPascalCompilerErrorType e,
                                                       std::string_view param) {
  auto msg = std::make_unique<TPSPascalCompilerError>();
  msg->FError = e;
  // After a lexer error the text reads as ended; what the parser then
  // complains about is a consequence, not a second fault.
  if (FParserHadError && FActiveParser == FParser.get()) {
    FDiscardedMessages.clear();
    return Place(FActiveParser, std::move(msg), module, param, FDiscardedMessages);
  }
  return Place(FActiveParser, std::move(msg), module, param, FMessages);
}

TPSPascalCompilerMessage* TPSPascalCompiler::MakeWarning(std::string_view module, TPSPascalCompilerWarningType e,
                                                         std::string_view param) {
  auto msg = std::make_unique<TPSPascalCompilerWarning>();
  msg->FWarning = e;
  return Place(FActiveParser, std::move(msg), module, param, FMessages);
}

TPSPascalCompilerMessage* TPSPascalCompiler::MakeHint(std::string_view module, TPSPascalCompilerHintType e,
                                                      std::string_view param) {
  auto msg = std::make_unique<TPSPascalCompilerHint>();
  msg->FHint = e;
  return Place(FActiveParser, std::move(msg), module, param, FMessages);
}

void TPSPascalCompiler::OnParserError(TPSPascalParser* parser, TPSParserErrorKind kind) {
  TPSPascalCompilerErrorType e = kind == iCommentError  ? ecCommentError
                                 : kind == iStringError ? ecStringError
                                 : kind == iCharError   ? ecCharError
                                                        : ecSyntaxError;
  auto* msg = MakeError("", e, "");
  msg->SetCustomPos(parser->Position());
  FParserHadError = true;
}

}  // namespace ps
