// Calling script procedures from the host (RunProc and its variants).
#include "engine/runtime/Operations.h"
#include "engine/runtime/Values.h"
#include "engine/runtime/VariantSlot.h"

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
  TPSTypeRec* pointerType = FPointerType;
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
  const TPSStatus savedStart = FRunStartStatus;
  const bool savedHook = FHookActive;
  TPSError savedEx = ExEx;
  rtl::UnicodeString savedParam = ExParam;
  int32_t savedExProc = ExProc, savedExPos = ExPos;
  std::exception_ptr savedObject = ExObject;

  bool result;
  bool stopped = false;
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
    // A nested run ends paused when its procedure returns; loaded means the
    // host stopped the script, which stops the calling run as well.
    stopped = FStatus == isLoaded;
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
  FRunStartStatus = savedStart;
  FHookActive = savedHook;
  FStatus = stopped && savedStatus == isRunning ? isLoaded : savedStatus;
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

// --- Calls with variant arguments --------------------------------------------------------------

namespace ps {

namespace {
// A value of a parameter type, destroyed with its holder.
struct TOwnedValue {
  TPSTypeRec* Type = nullptr;
  uint8_t* Value = nullptr;
  TOwnedValue() = default;
  TOwnedValue(const TOwnedValue&) = delete;
  TOwnedValue& operator=(const TOwnedValue&) = delete;
  TOwnedValue(TOwnedValue&& o) noexcept : Type(o.Type), Value(o.Value) { o.Value = nullptr; }
  ~TOwnedValue() { DestroyValue(Value, Type); }
};

[[noreturn]] void Raise(std::u16string_view text) { throw rtl::Exception(rtl::UnicodeString(text)); }

std::vector<std::string> Words(const std::string& decl) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos <= decl.size()) {
    size_t end = decl.find(' ', pos);
    if (end == std::string::npos) end = decl.size();
    if (end > pos) words.push_back(decl.substr(pos, end - pos));
    pos = end + 1;
  }
  return words;
}

bool ParseTypeNo(std::string_view text, int64_t& out) {
  if (text.empty() || text.size() > 11) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  out = text[0] == '-' ? -v : v;
  return true;
}
}  // namespace

rtl::Variant TPSExec::RunProcVariants(std::vector<rtl::Variant>& params, int procNo, bool writeBack) {
  if (procNo < 0 || procNo >= GetProcCount()) Raise(SUnknownProcedure);
  TPSProcRec* proc = FProcs[procNo].get();
  if (proc->IsExternal()) Raise(SInvalidCast);
  std::vector<std::string> words = Words(static_cast<TPSInternalProcRec*>(proc)->FExportDecl);
  if (words.empty()) Raise(SInvalidParameter);
  int64_t resultType;
  if (!ParseTypeNo(words[0], resultType) || resultType >= GetTypeCount()) Raise(SInvalidParameter);

  std::vector<TOwnedValue> values;  // last declared parameter first, then the result
  std::vector<size_t> paramIndex;   // element of `params` for each value
  size_t next = params.size();
  for (size_t w = words.size() - 1; w >= 1; --w) {
    const std::string& word = words[w];
    if (next == 0) Raise(SNotEnoughParameters);
    --next;
    int64_t typeNo;
    if (word.size() < 2 || (word[0] != '@' && word[0] != '!') || !ParseTypeNo(word.substr(1), typeNo) || typeNo < 0 ||
        typeNo >= GetTypeCount())
      Raise(SInvalidParameter);
    TOwnedValue v;
    v.Type = FTypes[typeNo].get();
    v.Value = CreateValue(v.Type);
    alignas(rtl::Variant) uint8_t slot[sizeof(rtl::Variant)];
    std::memcpy(slot, static_cast<const void*>(&params[next]), sizeof slot);  // borrowed
    try {
      if (AssignValue(v.Value, v.Type, slot, PlainType(btVariant)) != ErNoError) Raise(SInvalidParameter);
    } catch (const rtl::Exception&) {
      Raise(SInvalidParameter);
    }
    values.push_back(std::move(v));
    paramIndex.push_back(next);
  }
  if (next != 0) Raise(STooManyParameters);
  if (resultType >= 0) {
    TOwnedValue r;
    r.Type = FTypes[resultType].get();
    r.Value = CreateValue(r.Type);
    values.push_back(std::move(r));
  }
  std::vector<TPSVariableRef> refs;
  for (auto& v : values) refs.push_back({v.Type, v.Value});
  RunProc(refs, procNo);
  RaiseCurrentException();
  if (writeBack) {
    for (size_t i = 0; i < paramIndex.size(); ++i) {
      alignas(rtl::Variant) uint8_t slot[sizeof(rtl::Variant)] = {};
      if (ValueToVariantSlot(slot, values[i].Value, values[i].Type)) {
        rtl::Variant v;
        std::memcpy(static_cast<void*>(&v), slot, sizeof slot);  // takes over the slot
        params[paramIndex[i]] = std::move(v);
      }
    }
  }
  if (resultType < 0) return rtl::Variant();
  alignas(rtl::Variant) uint8_t slot[sizeof(rtl::Variant)] = {};
  if (!ValueToVariantSlot(slot, values.back().Value, values.back().Type)) RaiseTypeMismatch();
  rtl::Variant result;
  std::memcpy(static_cast<void*>(&result), slot, sizeof slot);
  return result;
}

rtl::Variant TPSExec::RunProcP(const std::vector<rtl::Variant>& params, int procNo) {
  std::vector<rtl::Variant> copy = params;
  return RunProcVariants(copy, procNo, false);
}

rtl::Variant TPSExec::RunProcPVar(std::vector<rtl::Variant>& params, int procNo) {
  return RunProcVariants(params, procNo, true);
}

rtl::Variant TPSExec::RunProcPN(const std::vector<rtl::Variant>& params, std::string_view procName) {
  int no = GetProc(procName);
  if (no < 0) Raise(SUnknownProcedure);
  return RunProcP(params, no);
}

}  // namespace ps
