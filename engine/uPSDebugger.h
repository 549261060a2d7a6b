// The debugging executors: debug information (names and position records),
// translation of bytecode positions into file, row and column, and stepping.
#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/uPSRuntime.h"
#include "rtl/StringList.h"

namespace ps {

struct TPositionData {
  rtl::UnicodeString FileName;
  uint32_t Position = 0;        // bytecode position
  uint32_t SourcePosition = 0;  // character offset in the source
  uint32_t Row = 0;
  uint32_t Col = 0;
};

struct TPSProcDebugInfo {
  TPSProcRec* Func = nullptr;  // not owned
  rtl::TStringList FParamNames;
  rtl::TStringList FVariableNames;
  std::vector<TPositionData> Positions;  // increasing bytecode positions
};

class TPSCustomDebugExec : public TPSExec {
 public:
  TPSCustomDebugExec() = default;
  ~TPSCustomDebugExec() override;

  virtual void ClearDebugData();
  void Clear() override;
  // Reads the debug information of the loaded module; malformed data only
  // stops the reading.
  void LoadDebugData(std::string_view data);

  bool TranslatePositionEx(int32_t proc, uint32_t position, uint32_t& pos, uint32_t& row, uint32_t& col,
                           rtl::UnicodeString& fileName) const;
  uint32_t TranslatePosition(int32_t proc, uint32_t position) const;

  int32_t GetCurrentProcNo() const { return CurrentProcNo(); }
  uint32_t GetCurrentPosition() const;
  // The source position of the executing instruction, worked out when asked.
  uint32_t CurrentSourcePos() const;
  uint32_t CurrentRow() const;
  uint32_t CurrentCol() const;
  rtl::UnicodeString CurrentFile() const;

  uint8_t* GetGlobalVar(int i) const { return GetVarNo(i); }
  // Parameter slot i (for a function slot 0 is the result reference) and local i.
  uint8_t* GetProcParam(int i) const;
  uint8_t* GetProcVar(int i) const;

  const rtl::TStringList& ProcNames() const { return FProcNames; }
  const rtl::TStringList& GlobalVarNames() const { return FGlobalVarNames; }
  const rtl::TStringList* CurrentProcParams() const;
  const rtl::TStringList* CurrentProcVars() const;

 protected:
  TPSProcDebugInfo* DebugInfoOf(const TPSProcRec* proc) const;
  const TPositionData* Translate(int32_t proc, uint32_t position, bool& found) const;
  void ReadDebugData(std::string_view data);

  rtl::TStringList FProcNames;
  rtl::TStringList FGlobalVarNames;
  std::vector<std::unique_ptr<TPSProcDebugInfo>> FDebugDataForProcs;
  std::vector<TPSProcDebugInfo*> FDebugByProcNo;  // index: procedure number; not owned
  const TPSProcRec* FLastProc = nullptr;
  TPSProcDebugInfo* FCurrentDebugProc = nullptr;
  // Set by the hook at statement starts.
  uint32_t FCurrentSourcePos = 0, FCurrentRow = 0, FCurrentCol = 0;
  rtl::UnicodeString FCurrentFile;
};

enum TDebugMode { dmRun, dmStepOver, dmStepInto, dmPaused };

class TPSDebugExec;

using TOnSourceLine = std::function<void(TPSDebugExec* sender, const rtl::UnicodeString& name, uint32_t position,
                                         uint32_t row, uint32_t col)>;
using TOnIdleCall = std::function<void(TPSDebugExec* sender)>;

class TPSDebugExec : public TPSCustomDebugExec {
 public:
  static constexpr std::u16string_view SExpectedReturnAddress = u"Expected return address at stack base";

  TPSDebugExec() = default;

  void InstructionHook() override;
  bool LoadData(std::string_view module) override;
  void Stop() override;
  void Pause() override;
  void ClearDebugData() override;

  void Run();
  void StepInto();
  void StepOver();

  TDebugMode DebugMode() const { return FDebugMode; }
  bool DebugEnabled() const { return FDebugEnabled; }
  void SetDebugEnabled(bool v) {
    FDebugEnabled = v;
    UpdateHookState();
  }
  void SetOnSourceLine(TOnSourceLine e) {
    FOnSourceLine = std::move(e);
    UpdateHookState();
  }
  void SetOnIdleCall(TOnIdleCall e) {
    FOnIdleCall = std::move(e);
    UpdateHookState();
  }

 protected:
  // With no stepping and no handlers the hook has nothing to do, so the loop
  // does not call it at all.
  void UpdateHookState() override;
  void SetMode(TDebugMode mode) {
    FDebugMode = mode;
    UpdateHookState();
  }

  TDebugMode FDebugMode = dmRun;
  const TPSProcRec* FStepOverProc = nullptr;
  int32_t FStepOverStackBase = -1;
  bool FDebugEnabled = true;
  TOnSourceLine FOnSourceLine;
  TOnIdleCall FOnIdleCall;
};

}  // namespace ps
