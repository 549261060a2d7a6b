#include "uPSPreProcessor.h"

#include <algorithm>

#include "uPSCompiler.h"

namespace ps {

namespace {

constexpr std::u16string_view SNestedIncludes = u"Too many nested include files while processing '%s' from '%s'";
constexpr std::u16string_view SFileNotFound = u"Unable to find file '%s' used from '%s'";
constexpr std::u16string_view STooManyParameters = u"Too many parameters at %d:%d";
constexpr std::u16string_view SNoIfdefForElse = u"No IFDEF for ELSE at %d:%d";
constexpr std::u16string_view SElseTwice = u"Can't use ELSE twice at %d:%d";
constexpr std::u16string_view SNoIfdefForEndif = u"No IFDEF for ENDIF at %d:%d";
constexpr std::u16string_view SUnknownDirective = u"Unknown compiler directives at %d:%d";
constexpr std::u16string_view SDefineNotClosed = u"Define not closed";

[[noreturn]] void Fail(std::u16string_view text, std::initializer_list<rtl::UnicodeString> args) {
  throw EPSPreProcessor(rtl::FormatText(text, args));
}

rtl::UnicodeString U(const std::string& s) { return rtl::Utf8ToUnicode(s); }

bool SameFileName(std::string_view a, std::string_view b) { return FastUpperCase(a) == FastUpperCase(b); }

}  // namespace

// --- Tokenizer ----------------------------------------------------------------

void TPSPascalPreProcessorParser::SetText(std::string_view data) {
  FData.assign(data);
  FText = FData.c_str();
  FLen = static_cast<uint32_t>(FData.size());
  FPos = 0;
  FRow = 1;
  FCol = 1;
  FLastEnterPos = 0;
  FToken.clear();
  FTokenId = ptEOF;
  if (FOnNewLine) FOnNewLine(this, 1, 1, 0);
}

// Consumes the current token, raising the new-line event for each line
// break in it. Done when the next token is read, so that while a token is
// current the row and column are those of its start.
void TPSPascalPreProcessorParser::AdvanceTo(uint32_t end) {
  uint32_t p = FPos;
  while (p < end) {
    char c = FText[p];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && p + 1 < end && FText[p + 1] == '\n') ++p;
      ++p;
      ++FRow;
      FLastEnterPos = p;
      if (FOnNewLine) FOnNewLine(this, FRow, 1, p);
    } else {
      ++p;
    }
  }
  FPos = end;
}

void TPSPascalPreProcessorParser::Next() {
  AdvanceTo(FPos + static_cast<uint32_t>(FToken.size()));
  FCol = FPos - FLastEnterPos + 1;
  FToken.clear();
  if (FPos >= FLen || FText[FPos] == 0) {
    FTokenId = ptEOF;
    return;
  }
  uint32_t p = FPos;
  char c = FText[p];
  FTokenId = ptOther;
  if (c == '\'') {
    ++p;
    while (p < FLen && FText[p] != 0) {
      if (FText[p] == '\'') {
        if (FText[p + 1] == '\'') {
          p += 2;
          continue;
        }
        ++p;
        break;
      }
      ++p;
    }
  } else if (c == '(' && FText[p + 1] == '*') {
    p += 2;
    while (p < FLen && !(FText[p] == '*' && FText[p + 1] == ')')) ++p;
    p = std::min(p + 2, FLen);
  } else if (c == '/' && FText[p + 1] == '/') {
    while (p < FLen && FText[p] != '\r' && FText[p] != '\n' && FText[p] != 0) ++p;
  } else if (c == '{') {
    if (FText[p + 1] == '$') FTokenId = ptDefine;
    while (p < FLen && FText[p] != '}' && FText[p] != 0) ++p;
    if (p < FLen && FText[p] == '}') ++p;
  } else if (c == '(' || c == '/') {
    ++p;
  } else {
    while (p < FLen && FText[p] != 0 && FText[p] != '\'' && FText[p] != '(' && FText[p] != '/' && FText[p] != '{') ++p;
  }
  FToken.assign(FText + FPos, p - FPos);
}

// --- Line information -----------------------------------------------------------

TPSLineInfo* TPSLineInfoList::Add() {
  FItems.emplace_back();
  FCurrent = static_cast<int>(FItems.size()) - 1;
  return &FItems.back();
}

bool TPSLineInfoList::GetLineInfo(std::string_view moduleName, uint32_t pos, TPSLineInfoResults& res) const {
  std::string name = FastUpperCase(moduleName);
  for (int i = static_cast<int>(FItems.size()) - 1; i >= 0; --i) {
    const TPSLineInfo& item = FItems[i];
    bool match = name.empty() ? (item.FStartPos <= pos && pos < item.FEndPos) : SameFileName(name, item.FFileName);
    if (!match) continue;
    res.Name = item.FFileName;
    res.Pos = pos - item.FStartPos;
    // Line starts are ascending: the row is the count of starts not past the position.
    auto it = std::upper_bound(item.FLineOffsets.begin(), item.FLineOffsets.end(), res.Pos);
    res.Row = static_cast<uint32_t>(it - item.FLineOffsets.begin());
    res.Col = res.Row == 0 ? res.Pos + 1 : res.Pos - *(it - 1) + 1;
    return true;
  }
  return false;
}

// --- Preprocessor -----------------------------------------------------------------

void TPSPreProcessor::AddDefine(std::string_view name) {
  std::string upper = FastUpperCase(name);
  if (std::find(FDefines.begin(), FDefines.end(), upper) == FDefines.end()) FDefines.push_back(upper);
}

bool TPSPreProcessor::IsDefined(const std::string& upperName) const {
  return std::find(FCurrentDefines.begin(), FCurrentDefines.end(), upperName) != FCurrentDefines.end();
}

void TPSPreProcessor::Clear() {
  FDefineState.clear();
  FDefines.clear();
  FCurrentDefines.clear();
  FCurrentLineInfo.Clear();
  FMainFile.clear();
}

void TPSPreProcessor::PreProcess(const std::string& fileName, std::string& output) {
  FAddedPosition = 0;
  FCurrentDefines.clear();
  for (auto& d : FDefines) {
    std::string upper = FastUpperCase(d);
    if (!IsDefined(upper)) FCurrentDefines.push_back(upper);
  }
  FDefineState.clear();
  FCurrentLineInfo.Clear();
  std::string out;
  ProcessFile(fileName, "", 0, out);
  if (!FDefineState.empty()) Fail(SDefineNotClosed, {});
  output = std::move(out);
}

void TPSPreProcessor::ProcessFile(const std::string& fileName, const std::string& callingFileName, int level,
                                  std::string& out) {
  if (level > FMaxLevel) Fail(SNestedIncludes, {U(fileName), U(callingFileName)});
  std::string actualName = fileName, text;
  if (fileName == FMainFileName) {
    text = FMainFile;
  } else if (!FOnNeedFile || !FOnNeedFile(this, callingFileName, actualName, text)) {
    Fail(SFileNotFound, {U(fileName), U(callingFileName)});
  }
  TPSLineInfo* info = FCurrentLineInfo.Add();
  int entry = FCurrentLineInfo.FCurrent;
  info->FStartPos = static_cast<uint32_t>(out.size());
  info->FFileName = actualName;

  TPSPascalPreProcessorParser parser;
  parser.FOnNewLine = [this, entry](TPSPascalPreProcessorParser*, uint32_t, uint32_t, uint32_t pos) {
    FCurrentLineInfo.FItems[entry].FLineOffsets.push_back(pos + FAddedPosition);
  };
  parser.SetText(text);
  parser.Next();
  while (parser.TokenId() != ptEOF) {
    const std::string token = parser.Token();
    const TPSSourcePos tokenAt = parser.Position();
    bool writing = CurrentWriteState();
    if (parser.TokenId() == ptDefine) {
      std::string body = token.substr(2,
                                      token.size() >= 3 && token.back() == '}' ? token.size() - 3 : token.size() - 2);
      while (!body.empty() && (body.back() == ' ' || body.back() == '\t')) body.pop_back();
      std::string name, param;
      size_t blank = body.find(' ');
      if (blank == std::string::npos) {
        name = body;
      } else {
        name = body.substr(0, blank);
        param = body.substr(blank + 1);
      }
      name = FastUpperCase(name);
      // Directive messages name the directive's own row and column.
      auto failHere = [&](std::u16string_view msg) {
        Fail(msg, {rtl::IntToStr(tokenAt.Row), rtl::IntToStr(tokenAt.Col)});
      };
      bool cont = true;
      if (FOnProcessDirective) FOnProcessDirective(this, &parser, writing, name, param, cont);
      if (cont) {
        bool hasBlank = param.find(' ') != std::string::npos;
        if (name == "I" || name == "INCLUDE") {
          if (writing) {
            FAddedPosition = 0;
            ProcessFile(param, actualName, level + 1, out);
            info = &FCurrentLineInfo.FItems[entry];
            FCurrentLineInfo.FCurrent = entry;
            FAddedPosition = static_cast<uint32_t>(out.size()) - info->FStartPos - tokenAt.Pos;
          }
        } else if (name == "DEFINE" || name == "UNDEF") {
          if (writing) {
            if (hasBlank) failHere(STooManyParameters);
            std::string upper = FastUpperCase(param);
            auto it = std::find(FCurrentDefines.begin(), FCurrentDefines.end(), upper);
            if (name == "DEFINE") {
              if (it == FCurrentDefines.end()) FCurrentDefines.push_back(upper);
            } else if (it != FCurrentDefines.end()) {
              FCurrentDefines.erase(it);
            }
          }
        } else if (name == "IFDEF" || name == "IFNDEF") {
          if (hasBlank) failHere(STooManyParameters);
          bool defined = IsDefined(FastUpperCase(param));
          FDefineState.push_back({false, (name == "IFDEF" ? defined : !defined) && writing});
        } else if (name == "ELSE") {
          if (!param.empty()) failHere(STooManyParameters);
          if (FDefineState.empty()) failHere(SNoIfdefForElse);
          if (FDefineState.back().FInElse) failHere(SElseTwice);
          bool below = FDefineState.size() < 2 || FDefineState[FDefineState.size() - 2].FDoWrite;
          FDefineState.back().FDoWrite = !FDefineState.back().FDoWrite && below;
          FDefineState.back().FInElse = true;
        } else if (name == "ENDIF") {
          if (FDefineState.empty()) failHere(SNoIfdefForEndif);
          FDefineState.pop_back();
        } else {
          if (FOnProcessUnknowDirective) FOnProcessUnknowDirective(this, &parser, writing, name, param, cont);
          if (cont) failHere(SUnknownDirective);
        }
      }
    }
    if (!writing || parser.TokenId() == ptDefine) {
      for (char c : token) out.push_back(c == '\r' || c == '\n' ? c : ' ');
    } else {
      out += token;
    }
    parser.Next();
  }
  FCurrentLineInfo.FItems[entry].FEndPos = static_cast<uint32_t>(out.size());
}

void TPSPreProcessor::AdjustMessages(TPSPascalCompiler& comp) {
  for (int i = 0; i < comp.MsgCount(); ++i) AdjustMessage(*comp.Msg(i));
}

void TPSPreProcessor::AdjustMessage(TPSPascalCompilerMessage& msg) {
  TPSLineInfoResults res;
  if (!FCurrentLineInfo.GetLineInfo(msg.FModuleName, msg.FPosition, res)) return;
  msg.SetCustomPos(res.Pos, res.Row, res.Col);
  msg.FModuleName = res.Name;
}

}  // namespace ps
