// The runtime host class importer: registration, binding of "class:" imports
// at load, and the member calls, casts and event handlers behind them.
#include "engine/runtime/ClassImporter.h"

#include <climits>
#include <cstring>
#include <map>

#include "engine/runtime/Values.h"

namespace ps {

namespace {

constexpr std::string_view ClassImportPrefix = "class:";
constexpr std::string_view InterfaceImportPrefix = "intf:.";
constexpr std::u16string_view SInterfaceMethodMissing = u"Interface method %s is not available";

}  // namespace

// --- Object references ---------------------------------------------------------------------------

rtl::TObject* ObjectFromSlot(const uint8_t* p, const TPSTypeRec* t) {
  Deref(p, t);
  if (t->FBaseType != btClass) RaiseTypeMismatch();
  void* v = Load<void*>(p);
  if (!v) return nullptr;
  // Every object a script can reach registered itself; anything else is a
  // freed object, a number cast to a class, or a forged value.
  if (!rtl::TObjectRegistry::IsLive(v)) throw EPSObjectError(rtl::UnicodeString(SNotALiveObject));
  return static_cast<rtl::TObject*>(v);
}

namespace detail {
void RaiseNotEnoughParameters() { throw rtl::Exception(rtl::UnicodeString(SNotEnoughParameters)); }
}  // namespace detail

// --- Script procedures as event handlers ------------------------------------------------------------

namespace {

// One binding per script procedure and executor. Handlers hold it shared,
// so a host object that outlives the executor holds a dead binding rather
// than a dangling executor.
struct TScriptProcBinding {
  TPSExec* Exec;  // not owned; nil once the executor is gone
  uint32_t ProcNo;
};

// The executor's bindings and the host handlers it handed to the script;
// freed (and the bindings cut) with the executor's resources.
struct TEventBindings {
  std::map<uint32_t, std::shared_ptr<TScriptProcBinding>> ByProc;
  std::vector<std::unique_ptr<rtl::TNotifyEvent>> HostHandlers;
};

void FreeEventBindings(TPSExec*, void* p) {
  auto* bindings = static_cast<TEventBindings*>(p);
  for (auto& [no, b] : bindings->ByProc) b->Exec = nullptr;
  delete bindings;
}

TEventBindings& BindingsOf(TPSExec& exec) {
  if (void* p = exec.FindProcResource(&FreeEventBindings)) return *static_cast<TEventBindings*>(p);
  auto* b = new TEventBindings;
  exec.AddResource(&FreeEventBindings, b);
  return *b;
}

// Marks a procedure value whose Data is a host handler kept by the executor.
char HostHandlerMark;

// The handler a script procedure becomes: runs it nested on its executor.
struct TScriptNotify {
  std::shared_ptr<TScriptProcBinding> Binding;

  void operator()(rtl::TObject* sender) const {
    TPSExec* exec = Binding->Exec;
    if (!exec) throw rtl::Exception(rtl::UnicodeString(SEventTargetGone));
    auto* classType = const_cast<TPSTypeRec*>(PlainType(btClass));
    alignas(void*) uint8_t slot[sizeof(void*)];
    Store<void*>(slot, sender);
    if (!exec->RunProc({TPSVariableRef{classType, slot}}, static_cast<int>(Binding->ProcNo)))
      exec->RaiseCurrentException();
  }
};

}  // namespace

rtl::TNotifyEvent NotifyEventFromSlot(TPSExec& exec, const uint8_t* p, const TPSTypeRec* t) {
  Deref(p, t);
  if (t->FBaseType != btProcPtr) RaiseTypeMismatch();
  auto v = Load<TPSProcPtrValue>(p);
  if (v.ProcNo == 0 || v.ProcNo == UINT32_MAX) {
    if (v.Code == &HostHandlerMark && v.Data) return *static_cast<rtl::TNotifyEvent*>(v.Data);
    return {};
  }
  if (v.ProcNo >= static_cast<uint32_t>(exec.GetProcCount())) RaiseTypeMismatch();
  return ScriptProcNotifyEvent(exec, v.ProcNo);
}

rtl::TNotifyEvent ScriptProcNotifyEvent(TPSExec& exec, uint32_t procNo) {
  auto& slot = BindingsOf(exec).ByProc[procNo];
  if (!slot) slot = std::make_shared<TScriptProcBinding>(TScriptProcBinding{&exec, procNo});
  return TScriptNotify{slot};
}

void NotifyEventToSlot(TPSExec& exec, uint8_t* p, const TPSTypeRec* t, const rtl::TNotifyEvent& handler) {
  const uint8_t* cp = p;
  Deref(cp, t);
  if (t->FBaseType != btProcPtr) RaiseTypeMismatch();
  TPSProcPtrValue v{0, 0, nullptr, nullptr};
  if (const auto* script = handler.target<TScriptNotify>(); script && script->Binding->Exec == &exec) {
    v.ProcNo = script->Binding->ProcNo;
  } else if (handler) {
    // A handler of the host's own: kept so the script can hand it back.
    auto& kept = BindingsOf(exec).HostHandlers;
    kept.push_back(std::make_unique<rtl::TNotifyEvent>(handler));
    v.Code = &HostHandlerMark;
    v.Data = kept.back().get();
  }
  Store(const_cast<uint8_t*>(cp), v);
}

// --- Runtime classes ---------------------------------------------------------------------------------

TPSRuntimeClass::TPSRuntimeClass(rtl::TClass cls, std::string_view name)
    : FClass(cls), FClassName(FastUpperCase(name)), FClassNameHash(MakeHash(FClassName)) {}

void TPSRuntimeClass::AddItem(TPSClassItemKind kind, std::string_view name, TPSMemberCode code, TPSMemberCode write,
                              int paramCount) {
  TPSRuntimeClassItem item;
  item.FName = FastUpperCase(name);
  item.FNameHash = MakeHash(item.FName);
  item.FKind = kind;
  if (code) item.FCode = std::make_shared<const TPSMemberCode>(std::move(code));
  if (write) item.FWrite = std::make_shared<const TPSMemberCode>(std::move(write));
  item.FParamCount = paramCount;
  FClassItems.push_back(std::move(item));
}

void TPSRuntimeClass::RegisterMethod(TPSMemberCode code, std::string_view name) {
  AddItem(ckMethod, name, std::move(code), {});
}
void TPSRuntimeClass::RegisterVirtualMethod(TPSMemberCode code, std::string_view name) {
  AddItem(ckVirtualMethod, name, std::move(code), {});
}
void TPSRuntimeClass::RegisterVirtualAbstractMethod(rtl::TClass, TPSMemberCode code, std::string_view name) {
  AddItem(ckVirtualMethod, name, std::move(code), {});
}
void TPSRuntimeClass::RegisterConstructor(TPSMemberCode code, std::string_view name, int paramCount) {
  AddItem(ckConstructor, name, std::move(code), {}, paramCount);
}
void TPSRuntimeClass::RegisterVirtualConstructor(TPSMemberCode code, std::string_view name, int paramCount) {
  AddItem(ckVirtualConstructor, name, std::move(code), {}, paramCount);
}
void TPSRuntimeClass::RegisterPropertyHelper(TPSMemberCode read, TPSMemberCode write, std::string_view name) {
  AddItem(ckPropertyHelper, name, std::move(read), std::move(write));
}
void TPSRuntimeClass::RegisterEventPropertyHelper(TPSMemberCode read, TPSMemberCode write, std::string_view name) {
  AddItem(ckEventPropertyHelper, name, std::move(read), std::move(write));
}
void TPSRuntimeClass::RegisterPropertyHelperName(TPSMemberCode read, TPSMemberCode write, std::string_view name) {
  AddItem(ckPropertyHelperName, name, std::move(read), std::move(write));
}

void TPSRuntimeClass::RegisterInterface(std::string_view guid, std::function<rtl::IUnknown*(rtl::TObject&)> get) {
  TPSInterfaceProvider p;
  if (!ParseGuidText(guid, p.FGuid)) throw rtl::Exception(rtl::Utf8ToUnicode("Invalid GUID " + std::string(guid)));
  p.FGet = std::move(get);
  FInterfaces.push_back(std::move(p));
}

const TPSRuntimeClassItem* TPSRuntimeClass::FindItem(std::string_view upperName) const {
  uint32_t hash = MakeHash(upperName);
  for (auto it = FClassItems.rbegin(); it != FClassItems.rend(); ++it)
    if (it->FNameHash == hash && it->FName == upperName) return &*it;
  return nullptr;
}

rtl::IUnknown* TPSRuntimeClass::QueryInterface(rtl::TObject& object, const uint8_t guid[16]) const {
  for (auto it = FInterfaces.rbegin(); it != FInterfaces.rend(); ++it)
    if (std::memcmp(it->FGuid, guid, 16) == 0) return it->FGet(object);
  return nullptr;
}

TPSRuntimeClass& TPSRuntimeClassImporter::Add(rtl::TClass cls, std::string_view name) {
  std::string className = name.empty() ? rtl::UnicodeToUtf8(cls->ClassName()) : std::string(name);
  if (TPSRuntimeClass* existing = FindClass(className)) return *existing;
  FClasses.push_back(std::make_unique<TPSRuntimeClass>(cls, className));
  return *FClasses.back();
}

TPSRuntimeClass* TPSRuntimeClassImporter::FindClass(std::string_view name) const {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (auto it = FClasses.rbegin(); it != FClasses.rend(); ++it)
    if ((*it)->FClassNameHash == hash && (*it)->FClassName == upper) return it->get();
  return nullptr;
}

TPSRuntimeClass* TPSRuntimeClassImporter::FindClassOf(rtl::TClass cls) const {
  for (; cls; cls = cls->ClassParent())
    for (auto it = FClasses.rbegin(); it != FClasses.rend(); ++it)
      if ((*it)->FClass == cls) return it->get();
  return nullptr;
}

rtl::IUnknown* TPSRuntimeClassImporter::QueryInterface(rtl::TObject& object, const uint8_t guid[16]) const {
  for (rtl::TClass cls = object.ClassType(); cls; cls = cls->ClassParent())
    for (auto it = FClasses.rbegin(); it != FClasses.rend(); ++it)
      if ((*it)->FClass == cls)
        if (rtl::IUnknown* intf = (*it)->QueryInterface(object, guid)) return intf;
  return nullptr;
}

// --- Runtime interfaces ------------------------------------------------------------------------

TPSRuntimeInterface::TPSRuntimeInterface(const uint8_t guid[16], const TPSRuntimeInterface* inheritedFrom,
                                         int inheritedMethods)
    : FInheritedFrom(inheritedFrom), FFirstMethod(inheritedMethods) {
  std::memcpy(FGuid, guid, 16);
}

void TPSRuntimeInterface::RegisterMethod(TPSMemberCode code) {
  FMethods.push_back(std::make_shared<const TPSMemberCode>(std::move(code)));
}

const TPSMemberCode* TPSRuntimeInterface::FindMethod(int methodNo) const {
  for (const TPSRuntimeInterface* i = this; i; i = i->FInheritedFrom) {
    int own = methodNo - i->FFirstMethod;
    if (own >= 0 && own < static_cast<int>(i->FMethods.size())) return i->FMethods[own].get();
  }
  return nullptr;
}

const TPSRuntimeInterface* TPSRuntimeClassImporter::FindInterface(const uint8_t guid[16]) const {
  for (auto it = FInterfaces.rbegin(); it != FInterfaces.rend(); ++it)
    if (std::memcmp((*it)->FGuid, guid, 16) == 0) return it->get();
  return nullptr;
}

void TPSRuntimeClassImporter::PrepareInterface(std::string_view guid, std::string_view inheritedFrom, uint8_t bytes[16],
                                               const TPSRuntimeInterface*& parent) const {
  if (!ParseGuidText(guid, bytes)) throw rtl::Exception(rtl::Utf8ToUnicode("Invalid GUID " + std::string(guid)));
  parent = nullptr;
  if (inheritedFrom.empty()) return;
  uint8_t parentGuid[16];
  if (!ParseGuidText(inheritedFrom, parentGuid))
    throw rtl::Exception(rtl::Utf8ToUnicode("Invalid GUID " + std::string(inheritedFrom)));
  parent = FindInterface(parentGuid);
  if (!parent)
    throw rtl::Exception(rtl::Utf8ToUnicode("Interface " + std::string(inheritedFrom) + " is not registered"));
}

bool ParseGuidText(std::string_view text, uint8_t guid[16]) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  static constexpr int groups[] = {8, 4, 4, 4, 12};
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  uint8_t bytes[16];
  size_t pos = 1, n = 0;
  for (int g = 0; g < 5; ++g) {
    for (int i = 0; i < groups[g]; i += 2) {
      int hi = hex(text[pos + i]), lo = hex(text[pos + i + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes[n++] = static_cast<uint8_t>(hi * 16 + lo);
    }
    pos += groups[g];
    if (g < 4 && text[pos++] != '-') return false;
  }
  // The first three fields are stored little-endian, as modules hold them.
  const uint8_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) guid[i] = bytes[order[i]];
  return true;
}

// --- Bound imports ---------------------------------------------------------------------------------

namespace {

enum class TBoundKind : uint8_t {
  Method,
  Constructor,
  PropertyRead,
  PropertyWrite,
  EventRead,
  EventWrite,
  PublishedRead,
  PublishedWrite
};

// What a bound "class:" import needs at each call; owned by the executor.
struct TBoundMember {
  TBoundKind Kind;
  TPSMemberCodePtr Code;
  TPSRuntimeClass* Class;             // not owned
  TPSRuntimeClassImporter* Importer;  // not owned
  bool HasResult = false;
  uint32_t ArgSlots = 0;                 // properties: index count + 1
  const rtl::TPropInfo* Prop = nullptr;  // published fallback
};

void FreeBoundMember(TPSExec*, void* p) { delete static_cast<TBoundMember*>(p); }

thread_local TPSExec* CurrentExec = nullptr;

// Runs a member's code, turning the importer's own refusals into script errors.
bool RunMember(TPSExec* exec, const TPSMemberCode& code, TPSMemberCall& call) {
  // Nested runs (event handlers calling members) restore the outer executor.
  struct TCurrent {
    TPSExec* Saved;
    explicit TCurrent(TPSExec* e) : Saved(CurrentExec) { CurrentExec = e; }
    ~TCurrent() { CurrentExec = Saved; }
  } current(exec);
  try {
    code(call);
    return true;
  } catch (const EPSObjectError& e) {
    exec->CMD_Err2(erCustomError, e.Message());
    return false;
  }
}

// The live object in a Self slot; reports `nilError` for nil and a custom
// error for anything that is not a live object.
bool SelfAt(TPSExec* exec, TPSStack& stack, int index, TPSError nilError, rtl::TObject*& self) {
  if (index < 0) {
    exec->CMD_Err(erNullPointerException);
    return false;
  }
  const uint8_t* p = stack.EntryValue(index);
  const TPSTypeRec* t = stack.EntryType(index);
  if (t->FBaseType == btPointer) {
    auto pv = Load<TPSPointerValue>(p);
    if (!pv.Target || !pv.Type) {
      exec->CMD_Err(erNullPointerException);
      return false;
    }
    p = static_cast<const uint8_t*>(pv.Target);
    t = pv.Type;
  }
  if (t->FBaseType != btClass) {
    exec->CMD_Err(erNullPointerException);
    return false;
  }
  try {
    self = ObjectFromSlot(p, t);
  } catch (const EPSObjectError& e) {
    exec->CMD_Err2(erCustomError, e.Message());
    return false;
  }
  if (!self) {
    exec->CMD_Err(nilError);
    return false;
  }
  return true;
}

bool CallBoundMethod(TPSExec* exec, TPSExternalProcRec* proc, TPSStack*, TPSStack* stack) {
  auto* b = static_cast<TBoundMember*>(proc->FExt1);
  const int top = stack->Count() - 1;
  const int selfIndex = b->HasResult ? top - 1 : top;
  rtl::TObject* self;
  if (!SelfAt(exec, *stack, selfIndex, erNullPointerException, self)) return false;
  TPSMemberCall call{*exec, *stack, self, selfIndex, b->HasResult ? top : -1, b->Class, b->Importer};
  return RunMember(exec, *b->Code, call);
}

bool CallBoundConstructor(TPSExec* exec, TPSExternalProcRec* proc, TPSStack*, TPSStack* stack) {
  auto* b = static_cast<TBoundMember*>(proc->FExt1);
  const int top = stack->Count() - 1;
  if (top < 1) return false;
  // The script's class type decides which host class is made, so a script
  // class type naming a registered descendant makes the descendant.
  TPSTypeRec* type = exec->GetTypeNo(static_cast<int>(stack->GetUInt(top - 1)));
  if (!type || type->FBaseType != btClass) return false;
  const auto* cls = static_cast<const TPSTypeRec_Class*>(type);
  TPSRuntimeClass* target = b->Importer->FindClass(cls->FExportName.empty() ? cls->FCN : cls->FExportName);
  if (!target) return false;
  if (target != b->Class && target->FClass && target->FClass->CanCreate() &&
      target->FClass->InheritsFrom(b->Class->FClass)) {
    // A descendant without a constructor of its own: made by its default
    // factory when the inherited constructor takes no parameters.
    const TPSRuntimeClassItem* own = nullptr;
    for (const auto& item : b->Class->FClassItems)
      if (item.FCode.get() == b->Code.get()) own = &item;
    if (own && own->FParamCount == 0) {
      rtl::TObject* made = target->FClass->Create();
      made->SetOwnedByHost(false);
      TPSValueTraits<void*>::Set(stack->EntryValue(top), stack->EntryType(top), made);
      return true;
    }
  }
  TPSMemberCall call{*exec, *stack, nullptr, top - 1, top, target, b->Importer};
  return RunMember(exec, *b->Code, call);
}

bool CallBoundProperty(TPSExec* exec, TPSExternalProcRec* proc, TPSStack*, TPSStack* stack) {
  auto* b = static_cast<TBoundMember*>(proc->FExt1);
  const int top = stack->Count() - 1;
  if (stack->Count() < static_cast<int>(b->ArgSlots) + 1) return false;
  const bool isRead = b->Kind == TBoundKind::PropertyRead || b->Kind == TBoundKind::EventRead ||
                      b->Kind == TBoundKind::PublishedRead;
  const int selfIndex = isRead ? top - 1 : top;
  rtl::TObject* self;
  if (!SelfAt(exec, *stack, selfIndex, erCouldNotCallProc, self)) return false;
  if (b->Prop) {
    // A published property without a helper: converted by its kind.
    try {
      if (isRead) {
        rtl::TPropertyValue v = b->Prop->Get(*self);
        uint8_t* r = stack->EntryValue(top);
        TPSTypeRec* rt = stack->EntryType(top);
        if (auto* i = std::get_if<int64_t>(&v))
          PSSetInt(r, rt, *i);
        else if (auto* f = std::get_if<long double>(&v))
          PSSetReal(r, rt, *f);
        else if (auto* s = std::get_if<rtl::UnicodeString>(&v))
          PSSetUnicodeString(r, rt, *s);
        else if (auto* o = std::get_if<rtl::TObject*>(&v))
          TPSValueTraits<void*>::Set(r, rt, *o);
        else
          NotifyEventToSlot(*exec, r, rt, std::get<rtl::TNotifyEvent>(v));
      } else {
        const uint8_t* p = stack->EntryValue(selfIndex - 1);
        const TPSTypeRec* t = stack->EntryType(selfIndex - 1);
        rtl::TPropertyValue v;
        switch (b->Prop->Kind) {
          case rtl::TTypeKind::tkInteger:
          case rtl::TTypeKind::tkInt64:
          case rtl::TTypeKind::tkEnumeration:
          case rtl::TTypeKind::tkChar: v = PSGetInt64(p, t); break;
          case rtl::TTypeKind::tkFloat: v = PSGetReal(p, t); break;
          case rtl::TTypeKind::tkString: v = PSGetUnicodeString(p, t); break;
          case rtl::TTypeKind::tkClass: v = ObjectFromSlot(p, t); break;
          case rtl::TTypeKind::tkMethod: v = NotifyEventFromSlot(*exec, p, t); break;
        }
        b->Prop->Set(*self, v);
      }
    } catch (const EPSObjectError& e) {
      exec->CMD_Err2(erCustomError, e.Message());
      return false;
    }
    return true;
  }
  TPSMemberCall call{*exec, *stack, self, selfIndex, isRead ? top : -1, b->Class, b->Importer};
  return RunMember(exec, *b->Code, call);
}

// class:+  (Org, TypeNo): Result
bool CallClassCast(TPSExec* exec, TPSExternalProcRec* proc, TPSStack*, TPSStack* stack) {
  auto* importer = static_cast<TPSRuntimeClassImporter*>(proc->FExt1);
  const int top = stack->Count() - 1;
  if (top < 2) return false;
  TPSTypeRec* target = exec->GetTypeNo(static_cast<int>(stack->GetUInt(top - 2)));
  if (!target) return false;
  const uint8_t* src = stack->EntryValue(top - 1);
  const TPSTypeRec* st = stack->EntryType(top - 1);
  Deref(src, st);
  const uint8_t* dst = stack->EntryValue(top);
  const TPSTypeRec* dt = stack->EntryType(top);
  Deref(dst, dt);
  if (target->FBaseType == btClass) {
    if (st->FBaseType != btClass || dt->FBaseType != btClass) return false;
    rtl::TObject* object;
    try {
      object = ObjectFromSlot(src, st);
    } catch (const EPSObjectError& e) {
      exec->CMD_Err2(erCustomError, e.Message());
      return false;
    }
    if (object && !exec->IsInstanceOf(object, static_cast<TPSTypeRec_Class*>(target))) {
      exec->CMD_Err2(erCustomError, rtl::UnicodeString(SCannotCastObject));
      return false;
    }
    Store<void*>(const_cast<uint8_t*>(dst), object);
    return true;
  }
  if (target->FBaseType == btInterface) {
    if (dt->FBaseType != btInterface) return false;
    const auto* intfType = static_cast<TPSTypeRec_Interface*>(target);
    rtl::IUnknown* intf = nullptr;
    if (st->FBaseType == btClass) {
      rtl::TObject* object = nullptr;
      try {
        object = ObjectFromSlot(src, st);
      } catch (const EPSObjectError&) {
        object = nullptr;
      }
      if (object) intf = importer->QueryInterface(*object, intfType->FGuid);
    } else if (st->FBaseType == btInterface) {
      // One of the same declared type passes unchanged; an interface
      // implemented by a registered object is asked through the object.
      intf = static_cast<rtl::IUnknown*>(Load<void*>(src));
      if (intf && st == target) {
        intf->AddRef();
      } else if (auto* object = dynamic_cast<rtl::TObject*>(intf); object && rtl::TObjectRegistry::IsLive(object)) {
        intf = importer->QueryInterface(*object, intfType->FGuid);
      } else {
        intf = nullptr;
      }
    }
    if (!intf) {
      exec->CMD_Err2(erCustomError, rtl::UnicodeString(SCannotCastInterface));
      return false;
    }
    InterfaceRelease(Load<void*>(dst));
    Store<void*>(const_cast<uint8_t*>(dst), intf);
    return true;
  }
  return false;
}

// class:-  (VarNo)
bool CallSetNil(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  if (stack->Count() < 1) return false;
  const uint8_t* p = stack->EntryValue(-1);
  const TPSTypeRec* t = stack->EntryType(-1);
  if (t->FBaseType == btPointer) {
    auto pv = Load<TPSPointerValue>(p);
    if (pv.Target && pv.Type) {
      p = static_cast<const uint8_t*>(pv.Target);
      t = pv.Type;
    }
  }
  if (t->FBaseType == btClass) {
    Store<void*>(const_cast<uint8_t*>(p), nullptr);
    return true;
  }
  if (t->FBaseType == btInterface) {
    InterfaceRelease(Load<void*>(p));
    Store<void*>(const_cast<uint8_t*>(p), nullptr);
    return true;
  }
  exec->CMD_Err(erNullPointerException);
  return false;
}

bool Bind(TPSExec* exec, TPSExternalProcRec* proc, TBoundMember* bound, TPSProcPtr invoke) {
  exec->AddResource(&FreeBoundMember, bound);
  proc->FProcPtr = invoke;
  proc->FExt1 = bound;
  proc->FExt2 = nullptr;
  return true;
}

// What a bound "intf:" import needs: the method's place in the table; the
// interface comes from the type of the Self argument at each call.
struct TBoundInterfaceMethod {
  TPSRuntimeClassImporter* Importer;  // not owned
  int MethodNo;
  bool HasResult;
  // The last Self type seen and its code, so a loop calling one method
  // looks the interface up once.
  const TPSTypeRec* CachedType = nullptr;
  const TPSMemberCode* CachedCode = nullptr;
};

void FreeBoundInterfaceMethod(TPSExec*, void* p) { delete static_cast<TBoundInterfaceMethod*>(p); }

bool CallInterfaceMethod(TPSExec* exec, TPSExternalProcRec* proc, TPSStack*, TPSStack* stack) {
  auto* b = static_cast<TBoundInterfaceMethod*>(proc->FExt1);
  const int top = stack->Count() - 1;
  const int selfIndex = b->HasResult ? top - 1 : top;
  if (selfIndex < 0 || stack->EntryType(selfIndex)->FBaseType != btInterface) {
    exec->CMD_Err(erNullPointerException);
    return false;
  }
  const TPSTypeRec* type = stack->EntryType(selfIndex);
  auto* intf = static_cast<rtl::IUnknown*>(Load<void*>(stack->EntryValue(selfIndex)));
  if (!intf) {
    exec->CMD_Err(erNullPointerException);
    return false;
  }
  if (type != b->CachedType) {
    const TPSRuntimeInterface* runtime = b->Importer->FindInterface(
        static_cast<const TPSTypeRec_Interface*>(type)->FGuid);
    b->CachedCode = runtime ? runtime->FindMethod(b->MethodNo) : nullptr;
    b->CachedType = type;
  }
  if (!b->CachedCode) {
    std::string name = type->FExportName.empty() ? "#" + std::to_string(b->MethodNo)
                                                 : type->FExportName + "#" + std::to_string(b->MethodNo);
    exec->CMD_Err2(erCustomError, rtl::FormatText(SInterfaceMethodMissing, {rtl::Utf8ToUnicode(name)}));
    return false;
  }
  // The call holds its own reference: the method may clear the variable
  // the interface came from.
  rtl::TRef<rtl::IUnknown> keep(intf);
  TPSMemberCall call{*exec, *stack, nullptr, selfIndex, b->HasResult ? top : -1, nullptr, b->Importer, intf};
  return RunMember(exec, *b->CachedCode, call);
}

// Resolves one "intf:" import: "intf:." method number, then the calling
// convention, the result flag and one flag per parameter.
bool ResolveInterfaceImport(TPSExec* exec, TPSExternalProcRec* proc, void* tag) {
  std::string_view text = proc->FDecl;
  if (text.substr(0, InterfaceImportPrefix.size()) != InterfaceImportPrefix) return false;
  text.remove_prefix(InterfaceImportPrefix.size());
  size_t digits = 0;
  int methodNo = 0;
  while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9')
    methodNo = methodNo * 10 + (text[digits++] - '0');
  if (digits == 0 || text.size() < digits + 2) return false;
  auto bound = new TBoundInterfaceMethod{static_cast<TPSRuntimeClassImporter*>(tag), methodNo, text[digits + 1] != 0};
  exec->AddResource(&FreeBoundInterfaceMethod, bound);
  proc->FProcPtr = &CallInterfaceMethod;
  proc->FExt1 = bound;
  proc->FExt2 = nullptr;
  return true;
}

// Resolves one "class:" import.
bool ResolveClassImport(TPSExec* exec, TPSExternalProcRec* proc, void* tag) {
  auto* importer = static_cast<TPSRuntimeClassImporter*>(tag);
  std::string_view text = proc->FDecl;
  if (text.substr(0, ClassImportPrefix.size()) != ClassImportPrefix) return false;
  text.remove_prefix(ClassImportPrefix.size());
  if (text == "+") {
    proc->FProcPtr = &CallClassCast;
    proc->FExt1 = importer;
    return true;
  }
  if (text == "-") {
    proc->FProcPtr = &CallSetNil;
    proc->FExt1 = importer;
    return true;
  }
  size_t bar = text.find('|');
  if (bar == std::string_view::npos) return false;
  TPSRuntimeClass* cls = importer->FindClass(text.substr(0, bar));
  if (!cls) return false;
  text.remove_prefix(bar + 1);
  bar = text.find('|');
  if (bar == std::string_view::npos) return false;
  std::string member(text.substr(0, bar));
  std::string_view rest = text.substr(bar + 1);
  const bool isWrite = !member.empty() && member.back() == '@';
  if (isWrite) member.pop_back();
  member = FastUpperCase(member);

  auto bound = std::make_unique<TBoundMember>();
  bound->Class = cls;
  bound->Importer = importer;
  auto propertySlots = [&]() -> bool {
    if (rest.size() < 4) return false;
    bound->ArgSlots = Load<uint32_t>(rest.data());
    return bound->ArgSlots >= 1;
  };

  // A member registered on an ancestor applies to its descendants too.
  const TPSRuntimeClassItem* item = nullptr;
  for (TPSRuntimeClass* c = cls; c && !item;) {
    if ((item = c->FindItem(member))) {
      bound->Class = c;
      break;
    }
    c = c->FClass && c->FClass->ClassParent() ? importer->FindClassOf(c->FClass->ClassParent()) : nullptr;
  }
  if (!item) {
    // No helper: a published property of the host class, if it has one.
    const rtl::TPropInfo* prop = cls->FClass ? cls->FClass->FindProperty(rtl::Utf8ToUnicode(member)) : nullptr;
    if (!prop || !(isWrite ? prop->IsWritable() : prop->IsReadable()) || !propertySlots()) return false;
    bound->Kind = isWrite ? TBoundKind::PublishedWrite : TBoundKind::PublishedRead;
    bound->Prop = prop;
    return Bind(exec, proc, bound.release(), &CallBoundProperty);
  }
  switch (item->FKind) {
    case ckMethod:
    case ckVirtualMethod:
      if (isWrite || rest.size() < 2 || !item->FCode) return false;
      bound->Kind = TBoundKind::Method;
      bound->Code = item->FCode;
      bound->HasResult = rest[1] != 0;
      return Bind(exec, proc, bound.release(), &CallBoundMethod);
    case ckConstructor:
    case ckVirtualConstructor:
      if (isWrite || !item->FCode) return false;
      bound->Kind = TBoundKind::Constructor;
      bound->Code = item->FCode;
      bound->HasResult = true;
      return Bind(exec, proc, bound.release(), &CallBoundConstructor);
    case ckPropertyHelper:
    case ckPropertyHelperName:
    case ckEventPropertyHelper: {
      const bool isEvent = item->FKind == ckEventPropertyHelper;
      bound->Code = isWrite ? item->FWrite : item->FCode;
      if (!bound->Code || !propertySlots()) return false;
      bound->Kind = isWrite ? (isEvent ? TBoundKind::EventWrite : TBoundKind::PropertyWrite)
                            : (isEvent ? TBoundKind::EventRead : TBoundKind::PropertyRead);
      return Bind(exec, proc, bound.release(), &CallBoundProperty);
    }
  }
  return false;
}

// Whether the object's class is the script class type's class or derives
// from it; class names compare as script names do.
bool IsInstanceOfScriptClass(void* object, const TPSTypeRec_Class* cls) {
  if (!rtl::TObjectRegistry::IsLive(object)) return false;
  const std::string& name = cls->FExportName.empty() ? cls->FCN : cls->FExportName;
  rtl::UnicodeString wanted = rtl::Utf8ToUnicode(name);
  for (rtl::TClass c = static_cast<rtl::TObject*>(object)->ClassType(); c; c = c->ClassParent())
    if (c->ClassNameIs(wanted)) return true;
  return false;
}

// Calls a host handler the script holds in a procedure value.
bool CallHostHandler(TPSExec* exec, const TPSTypeRec_ProcPtr*, void* code, void* data, TPSStack* stack) {
  if (code != &HostHandlerMark || !data) return false;
  auto& handler = *static_cast<rtl::TNotifyEvent*>(data);
  if (stack->Count() < 1) return false;
  rtl::TObject* sender;
  try {
    sender = ObjectFromSlot(stack->EntryValue(-1), stack->EntryType(-1));
  } catch (const EPSObjectError& e) {
    exec->CMD_Err2(erCustomError, e.Message());
    return false;
  }
  if (handler) handler(sender);
  return true;
}

}  // namespace

TPSExec* CurrentMemberExec() { return CurrentExec; }

void RegisterClassLibraryRuntime(TPSExec& exec, TPSRuntimeClassImporter& importer) {
  exec.AddSpecialProcImport("class", &ResolveClassImport, &importer);
  exec.AddSpecialProcImport("intf", &ResolveInterfaceImport, &importer);
  exec.SetClassCheck(
      [](TPSExec*, void* object, const TPSTypeRec_Class* cls) { return IsInstanceOfScriptClass(object, cls); });
  exec.SetHostMethodCall(&CallHostHandler);
  exec.SetInterfaceQuery([&importer](TPSExec*, void* object, const uint8_t(&guid)[16]) -> void* {
    if (!object || !rtl::TObjectRegistry::IsLive(object)) return nullptr;
    return importer.QueryInterface(*static_cast<rtl::TObject*>(object), guid);
  });
}

}  // namespace ps
