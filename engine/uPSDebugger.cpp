#include "engine/uPSDebugger.h"

#include <algorithm>
#include <cstring>

namespace ps {

TPSCustomDebugExec::~TPSCustomDebugExec() = default;

void TPSCustomDebugExec::ClearDebugData() {
  FLastProc = nullptr;
  FCurrentDebugProc = nullptr;
  FProcNames.Clear();
  FGlobalVarNames.Clear();
  FCurrentSourcePos = FCurrentRow = FCurrentCol = 0;
  FCurrentFile.clear();
  FDebugDataForProcs.clear();
  FDebugByProcNo.clear();
}

void TPSCustomDebugExec::Clear() {
  TPSExec::Clear();
  ClearDebugData();
}

void TPSCustomDebugExec::LoadDebugData(std::string_view data) {
  ClearDebugData();
  if (FStatus == isNotLoaded) return;
  ReadDebugData(data);
}

void TPSCustomDebugExec::ReadDebugData(std::string_view data) {
  size_t pos = 0;
  auto u32 = [&](uint32_t& v) {
    if (data.size() - pos < 4) return false;
    std::memcpy(&v, data.data() + pos, 4);
    pos += 4;
    return true;
  };
  // A name ends at 0x01; the list ends at 0x00. False when cut off.
  auto nameList = [&](rtl::TStringList& out) {
    while (pos < data.size()) {
      if (data[pos] == PSDebugListEnd) {
        ++pos;
        return true;
      }
      size_t end = data.find(PSDebugNameEnd, pos);
      if (end == std::string_view::npos) return false;
      out.Add(rtl::Utf8ToUnicode(data.substr(pos, end - pos)));
      pos = end + 1;
    }
    return false;
  };
  FDebugByProcNo.assign(FProcs.size(), nullptr);
  TPSProcDebugInfo* current = nullptr;
  int64_t currentNo = -1;
  auto select = [&](uint32_t no) {
    if (no == 0xFFFFFFFF || no >= FProcs.size()) return false;
    if (no != currentNo) {
      currentNo = no;
      current = FDebugByProcNo[no];
      if (!current) {
        FDebugDataForProcs.push_back(std::make_unique<TPSProcDebugInfo>());
        current = FDebugDataForProcs.back().get();
        current->Func = FProcs[no].get();
        FDebugByProcNo[no] = current;
      }
    }
    return true;
  };
  while (pos < data.size()) {
    auto tag = static_cast<uint8_t>(data[pos++]);
    uint32_t no;
    switch (tag) {
      case DebugProcNames:
        if (!nameList(FProcNames)) return;
        break;
      case DebugVarNames:
        if (!nameList(FGlobalVarNames)) return;
        break;
      case DebugParamNames:
      case DebugLocalNames:
        if (!u32(no) || !select(no)) return;
        if (!nameList(tag == DebugParamNames ? current->FParamNames : current->FVariableNames)) return;
        break;
      case DebugPosition: {
        size_t end = data.find(PSDebugNameEnd, pos);
        if (end == std::string_view::npos) return;
        TPositionData p;
        p.FileName = rtl::Utf8ToUnicode(data.substr(pos, end - pos));
        pos = end + 1;
        if (!u32(no) || !select(no)) return;
        if (!u32(p.Position) || !u32(p.SourcePosition) || !u32(p.Row) || !u32(p.Col)) return;
        current->Positions.push_back(std::move(p));
        break;
      }
      default:
        // Nothing read before an unknown record can be trusted.
        ClearDebugData();
        return;
    }
  }
}

TPSProcDebugInfo* TPSCustomDebugExec::DebugInfoOf(const TPSProcRec* proc) const {
  if (!proc) return nullptr;
  uint32_t no = 0;
  if (auto* ip = dynamic_cast<const TPSInternalProcRec*>(proc))
    no = ip->FProcNo;
  else if (auto* xp = dynamic_cast<const TPSExternalProcRec*>(proc))
    no = xp->FProcNo;
  return no < FDebugByProcNo.size() ? FDebugByProcNo[no] : nullptr;
}

// The position record at or before the position; nil with `found` false when
// the procedure has no debug record, nil with `found` true before the first.
const TPositionData* TPSCustomDebugExec::Translate(int32_t proc, uint32_t position, bool& found) const {
  found = false;
  if (proc < 0 || static_cast<size_t>(proc) >= FDebugByProcNo.size() || !FDebugByProcNo[proc]) return nullptr;
  found = true;
  const auto& list = FDebugByProcNo[proc]->Positions;
  auto it = std::lower_bound(list.begin(), list.end(), position,
                             [](const TPositionData& p, uint32_t v) { return p.Position < v; });
  if (it != list.end() && it->Position == position) return &*it;
  if (it == list.begin()) return nullptr;
  return &*std::prev(it);
}

bool TPSCustomDebugExec::TranslatePositionEx(int32_t proc, uint32_t position, uint32_t& pos, uint32_t& row,
                                             uint32_t& col, rtl::UnicodeString& fileName) const {
  bool found;
  const TPositionData* p = Translate(proc, position, found);
  if (!found) return false;
  pos = p ? p->SourcePosition : 0;
  row = p ? p->Row : 0;
  col = p ? p->Col : 0;
  fileName = p ? p->FileName : rtl::UnicodeString();
  return true;
}

uint32_t TPSCustomDebugExec::TranslatePosition(int32_t proc, uint32_t position) const {
  uint32_t pos, row, col;
  rtl::UnicodeString file;
  return TranslatePositionEx(proc, position, pos, row, col, file) ? pos : 0;
}

uint32_t TPSCustomDebugExec::GetCurrentPosition() const { return TranslatePosition(CurrentProcNo(), 0); }

uint32_t TPSCustomDebugExec::CurrentSourcePos() const { return TranslatePosition(CurrentProcNo(), FCurrentPosition); }

uint32_t TPSCustomDebugExec::CurrentRow() const {
  uint32_t pos = 0, row = 0, col = 0;
  rtl::UnicodeString file;
  TranslatePositionEx(CurrentProcNo(), FCurrentPosition, pos, row, col, file);
  return row;
}

uint32_t TPSCustomDebugExec::CurrentCol() const {
  uint32_t pos = 0, row = 0, col = 0;
  rtl::UnicodeString file;
  TranslatePositionEx(CurrentProcNo(), FCurrentPosition, pos, row, col, file);
  return col;
}

rtl::UnicodeString TPSCustomDebugExec::CurrentFile() const {
  uint32_t pos = 0, row = 0, col = 0;
  rtl::UnicodeString file;
  TranslatePositionEx(CurrentProcNo(), FCurrentPosition, pos, row, col, file);
  return file;
}

uint8_t* TPSCustomDebugExec::GetProcParam(int i) const {
  int64_t index = int64_t(FCurrStackBase) - i - 1;
  return index >= 0 && index < FStack.Count() ? FStack.EntryValue(static_cast<int>(index)) : nullptr;
}

uint8_t* TPSCustomDebugExec::GetProcVar(int i) const {
  int64_t index = int64_t(FCurrStackBase) + i + 1;
  return index >= 0 && index < FStack.Count() ? FStack.EntryValue(static_cast<int>(index)) : nullptr;
}

const rtl::TStringList* TPSCustomDebugExec::CurrentProcParams() const {
  TPSProcDebugInfo* d = DebugInfoOf(FCurrProc);
  return d ? &d->FParamNames : nullptr;
}

const rtl::TStringList* TPSCustomDebugExec::CurrentProcVars() const {
  TPSProcDebugInfo* d = DebugInfoOf(FCurrProc);
  return d ? &d->FVariableNames : nullptr;
}

// --- Stepping ---------------------------------------------------------------------------------

void TPSDebugExec::UpdateHookState() {
  FHookActive = static_cast<bool>(FOnRunLine) ||
                (FDebugEnabled && (FDebugMode != dmRun || FOnSourceLine || FOnIdleCall));
}

void TPSDebugExec::ClearDebugData() {
  TPSCustomDebugExec::ClearDebugData();
  SetMode(dmRun);
}

bool TPSDebugExec::LoadData(std::string_view module) {
  bool ok = TPSExec::LoadData(module);
  SetMode(dmRun);
  return ok;
}

void TPSDebugExec::Stop() {
  SetMode(dmRun);
  TPSExec::Stop();
}

void TPSDebugExec::Pause() { SetMode(dmPaused); }
void TPSDebugExec::Run() { SetMode(dmRun); }
void TPSDebugExec::StepInto() { SetMode(dmStepInto); }

void TPSDebugExec::StepOver() {
  FStepOverProc = FCurrProc;
  FStepOverStackBase = FCurrStackBase;
  SetMode(dmStepOver);
}

void TPSDebugExec::InstructionHook() {
  TPSExec::InstructionHook();
  // Running freely with no one listening: nothing to work out here (the
  // current source position is translated when asked).
  if (!FDebugEnabled || (FDebugMode == dmRun && !FOnSourceLine && !FOnIdleCall)) return;
  if (FCurrProc != FLastProc) {
    FLastProc = FCurrProc;
    FCurrentDebugProc = DebugInfoOf(FCurrProc);
  }
  if (FCurrentDebugProc) {
    const auto& list = FCurrentDebugProc->Positions;
    auto it = std::lower_bound(list.begin(), list.end(), FCurrentPosition,
                               [](const TPositionData& p, uint32_t v) { return p.Position < v; });
    if (it != list.end() && it->Position == FCurrentPosition) {
      FCurrentSourcePos = it->SourcePosition;
      FCurrentRow = it->Row;
      FCurrentCol = it->Col;
      FCurrentFile = it->FileName;
      if (FDebugMode == dmStepOver) {
        if (FCurrProc == FStepOverProc && FCurrStackBase == FStepOverStackBase) {
          SetMode(dmPaused);
        } else {
          // Walk the callers: still inside a call made from the remembered frame?
          const TPSProcRec* proc = FCurrProc;
          int32_t base = FCurrStackBase;
          while (true) {
            if (base == FStepOverStackBase && proc == FStepOverProc) break;
            if (base <= FStepOverStackBase) {
              SetMode(dmPaused);
              break;
            }
            if (base >= FStack.Count() || FStack.EntryType(base)->FBaseType != btReturnAddress)
              throw rtl::Exception(rtl::UnicodeString(SExpectedReturnAddress));
            TPSReturnAddress ra;
            std::memcpy(&ra, FStack.EntryValue(base), sizeof ra);
            proc = ra.Proc;
            base = ra.BasePtr;
          }
        }
      } else if (FDebugMode == dmStepInto) {
        SetMode(dmPaused);
      }
      if (FOnSourceLine) FOnSourceLine(this, FCurrentFile, FCurrentSourcePos, FCurrentRow, FCurrentCol);
    }
  } else {
    FCurrentSourcePos = FCurrentRow = FCurrentCol = 0;
    FCurrentFile.clear();
  }
  while (FDebugMode == dmPaused && FOnIdleCall && FStatus == isRunning) FOnIdleCall(this);
}

}  // namespace ps
