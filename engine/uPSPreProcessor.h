// The optional preprocessing pass: {$...} directives for conditional text and
// include files. The output keeps every byte position of the sources (inactive
// text and directives become blanks) so compiler messages can be mapped back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/SysUtils.h"
#include "uPSUtils.h"

namespace ps {

class TPSPascalCompiler;
class TPSPascalCompilerMessage;
class TPSPreProcessor;

// A failed directive or include; the message is the system's text.
class EPSPreProcessor : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

struct TPSDefineState {
  bool FInElse = false;
  bool FDoWrite = true;
};
using TPSDefineStates = std::vector<TPSDefineState>;

// Output range of one file and where its lines start (relative to FStartPos).
struct TPSLineInfo {
  std::string FFileName;
  uint32_t FStartPos = 0, FEndPos = 0;
  std::vector<uint32_t> FLineOffsets;
};

struct TPSLineInfoResults {
  std::string Name;
  uint32_t Pos = 0, Row = 0, Col = 0;
};

class TPSLineInfoList {
 public:
  TPSLineInfo* Add();
  void Clear() {
    FItems.clear();
    FCurrent = -1;
  }
  bool GetLineInfo(std::string_view moduleName, uint32_t pos, TPSLineInfoResults& res) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  TPSLineInfo& Items(int i) { return FItems[i]; }
  std::vector<TPSLineInfo> FItems;
  int FCurrent = -1;
};

enum TPSPascalPreProcessorType : uint8_t { ptEOF, ptOther, ptDefine };
using TPSOnNewLine =
    std::function<void(class TPSPascalPreProcessorParser* sender, uint32_t row, uint32_t col, uint32_t pos)>;

// Cuts a text into strings, comments, directives and runs of other text.
class TPSPascalPreProcessorParser {
 public:
  void SetText(std::string_view data);
  void Next();
  const std::string& Token() const { return FToken; }
  TPSPascalPreProcessorType TokenId() const { return FTokenId; }
  uint32_t Row() const { return FRow; }
  uint32_t Col() const { return FCol; }
  uint32_t Pos() const { return FPos; }
  // Pos, Row and Col together.
  TPSSourcePos Position() const { return {FPos, FRow, FCol}; }
  TPSOnNewLine FOnNewLine;

 private:
  void AdvanceTo(uint32_t end);
  std::string FData;
  const char* FText = nullptr;
  std::string FToken;
  TPSPascalPreProcessorType FTokenId = ptEOF;
  uint32_t FLastEnterPos = 0, FLen = 0, FRow = 1, FCol = 1, FPos = 0;
};

class TPSPreProcessor {
 public:
  using TPSOnNeedFile = std::function<bool(TPSPreProcessor* sender, const std::string& callingFileName,
                                           std::string& fileName, std::string& output)>;
  using TPSOnProcessDirective =
      std::function<void(TPSPreProcessor* sender, TPSPascalPreProcessorParser* parser, bool active,
                         const std::string& directiveName, const std::string& directiveParam, bool& continueFlag)>;

  // Runs the whole pass from the main file; throws EPSPreProcessor on a directive error.
  void PreProcess(const std::string& fileName, std::string& output);
  void AdjustMessages(TPSPascalCompiler& comp);
  void AdjustMessage(TPSPascalCompilerMessage& msg);
  void Clear();

  std::vector<std::string>& Defines() { return FDefines; }
  void AddDefine(std::string_view name);
  std::string FMainFile;
  std::string FMainFileName;
  TPSLineInfoList& CurrentLineInfo() { return FCurrentLineInfo; }
  TPSOnNeedFile FOnNeedFile;
  TPSOnProcessDirective FOnProcessDirective;
  TPSOnProcessDirective FOnProcessUnknowDirective;
  void* ID = nullptr;  // host data, not owned
  int FMaxLevel = 20;

 private:
  void ProcessFile(const std::string& fileName, const std::string& callingFileName, int level, std::string& out);
  bool CurrentWriteState() const { return FDefineState.empty() || FDefineState.back().FDoWrite; }
  bool IsDefined(const std::string& upperName) const;

  std::vector<std::string> FDefines;
  std::vector<std::string> FCurrentDefines;
  TPSDefineStates FDefineState;
  TPSLineInfoList FCurrentLineInfo;
  uint32_t FAddedPosition = 0;
};

}  // namespace ps
