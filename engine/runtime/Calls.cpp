// Calling script procedures from the host (RunProc and its variants).
#include "engine/runtime/Values.h"

namespace ps {

bool TPSExec::RunProc(const std::vector<TPSVariableRef>& params, int procNo) {
  if (FStatus == isNotLoaded) return false;
  const TPSStatus savedStatus = FStatus;
  if (procNo < 0 || procNo >= GetProcCount()) {
    CMD_Err(erOutOfProcRange);
    FStatus = savedStatus;  // a refused call leaves the executor as it was
    return false;
  }
  if (FNestedRuns >= MaxNestedRuns) {
    CMD_Err(erOutOfMemory);
    FStatus = savedStatus;
    return false;
  }
  const int stackStart = FStack.Count();
  TPSTypeRec* pointerType = FindType2(btPointer);
  for (const TPSVariableRef& p : params) {
    if (!p.Type || !p.Value || !pointerType) {
      FStack.PopTo(stackStart);
      if (!pointerType && p.Type && p.Value) {
        CMD_Err(erInvalidType);
        FStatus = savedStatus;
      }
      return false;
    }
    uint8_t* slot = FStack.PushType(pointerType);
    if (!slot) {
      FStack.PopTo(stackStart);
      CMD_Err(erOutOfMemory);
      FStatus = savedStatus;
      return false;
    }
    TPSPointerValue pv{p.Value, p.Type, 0};
    if (p.Type->FBaseType == btPointer) {
      auto inner = Load<TPSPointerValue>(p.Value);
      pv = TPSPointerValue{inner.Target, inner.Type, 0};
    }
    Store(slot, pv);
  }

  // Everything of the caller's run that the nested run may change.
  TPSInternalProcRec* savedProc = FCurrProc;
  const uint32_t savedPosition = FCurrentPosition;
  const int32_t savedBase = FCurrStackBase;
  const int64_t savedExit = FExitPoint;
  const TPSStatus savedStart = FRunStartStatus;
  const bool savedHook = FHookActive;
  TPSError savedEx = ExEx;
  rtl::UnicodeString savedParam = ExParam;
  int32_t savedExProc = ExProc, savedExPos = ExPos;
  std::exception_ptr savedObject = ExObject;

  bool result;
  TPSProcRec* proc = FProcs[procNo].get();
  if (auto* xp = dynamic_cast<TPSExternalProcRec*>(proc)) {
    result = CallExternal(xp);
  } else {
    auto* ip = static_cast<TPSInternalProcRec*>(proc);
    uint8_t* slot = FStack.PushType(FReturnAddressType.get());
    if (!slot) {
      FStack.PopTo(stackStart);
      CMD_Err(erOutOfMemory);
      FStatus = savedStatus;
      return false;
    }
    Store(slot, TPSReturnAddress{nullptr, FCurrentPosition, FCurrStackBase});
    const int returnIndex = FStack.Count() - 1;
    // A boundary record stops an error of the nested run from unwinding into
    // the try blocks of the run that called the host.
    const size_t boundary = FExceptionStack.size();
    TPSExceptionHandler marker;
    marker.CurrProc = nullptr;
    marker.BasePtr = -1;
    marker.StackSize = FStack.Count();
    FExceptionStack.push_back(std::move(marker));
    FCurrStackBase = returnIndex;
    SwitchToProc(ip, 0);
    FStatus = isPaused;
    ++FNestedRuns;
    result = RunScript();
    --FNestedRuns;
    if (FExceptionStack.size() > boundary) FExceptionStack.resize(boundary);
    if (returnIndex < FStack.Count() && FStack.EntryType(returnIndex)->FBaseType == btReturnAddress) {
      FStack.PopTo(returnIndex + 1);
      FStack.Pop();
    }
  }
  FStack.PopTo(stackStart);
  FCurrProc = savedProc;
  FData = savedProc ? savedProc->FData.data() : nullptr;
  FDataLength = savedProc ? savedProc->FLength : 0;
  FCurrentPosition = savedPosition;
  FCurrStackBase = savedBase;
  FExitPoint = savedExit;
  FRunStartStatus = savedStart;
  FHookActive = savedHook;
  FStatus = savedStatus;
  if (result) {
    // An error that was unwinding in the caller stays pending.
    ExEx = savedEx;
    ExParam = savedParam;
    ExProc = savedExProc;
    ExPos = savedExPos;
    ExObject = savedObject;
  }
  return result;
}

}  // namespace ps
