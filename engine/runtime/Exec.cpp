// The executor's lifecycle, lookups, host registrations and resources.
#include <algorithm>

#include "engine/runtime/Values.h"

namespace ps {

TPSExec::TPSExec() {
  FReturnAddressType = std::make_unique<TPSTypeRec>(btReturnAddress);
  FReturnAddressType->CalcSize();
  FVariantType = std::make_unique<TPSTypeRec>(btVariant);
  FVariantType->CalcSize();
  FVariantArrayType = std::make_unique<TPSTypeRec_Array>(FVariantType.get());
  FVariantArrayType->CalcSize();
  // Pointer entries of the globals may refer to locals on the value stack.
  FStack.LinkPointerOwner(&FGlobalVars);
  RegisterBuiltInFunctions();
}

TPSExec::~TPSExec() {
  Clear();
  ExObject = nullptr;
  for (auto& r : FRegProcs)
    if (r->FreeProc) r->FreeProc(this, r.get());
}

void TPSExec::InstructionHook() {
  if (FOnRunLine) FOnRunLine(this);
}

void TPSExec::Clear() {
  FExceptionStack.clear();
  // Newest first, as resources may depend on older ones.
  while (!FResources.empty()) {
    auto [proc, p] = FResources.back();
    FResources.pop_back();
    if (proc) proc(this, p);
  }
  FExportedVars.clear();
  FCurrProc = nullptr;
  FData = nullptr;
  FDataLength = 0;
  FCurrentPosition = 0;
  FStack.Clear();
  FTempVars.Clear();
  FGlobalRefs.clear();
  FGlobalRefCount = 0;
  FPointerType = nullptr;
  FGlobalVars.Clear();
  FProcs.clear();
  // Newest first: attribute values of a type refer to older types.
  while (!FTypes.empty()) FTypes.pop_back();
  FMainProc = -1;
  FStatus = isNotLoaded;
  FCurrStackBase = -1;
}

void TPSExec::Cleanup() {
  if (FStatus != isLoaded) return;
  FStack.Clear();
  FTempVars.Clear();
  for (int i = 0; i < FGlobalVars.Count(); ++i) {
    TPSTypeRec* t = FGlobalVars.EntryType(i);
    uint8_t* v = FGlobalVars.EntryValue(i);
    if (t->FManaged) FinalizeValue(v, t);
    InitializeValue(v, t);
  }
}

void TPSExec::Stop() {
  if (FStatus == isRunning) {
    FStatus = isLoaded;
  } else if (FStatus == isPaused) {
    FStatus = isLoaded;
    FStack.Clear();
    FTempVars.Clear();
    FExceptionStack.clear();
    FCurrStackBase = -1;
  }
}

void TPSExec::Pause() {
  if (FStatus == isRunning) FStatus = isPaused;
}

void* TPSExec::QueryInterface(void* object, const TPSTypeRec_Interface* type) {
  return object && FInterfaceQuery ? FInterfaceQuery(this, object, type->FGuid) : nullptr;
}

bool TPSExec::IsInstanceOf(void* object, const TPSTypeRec_Class* cls) {
  return object && FClassCheck && FClassCheck(this, object, cls);
}

// --- Lookups ---------------------------------------------------------------------------------

int TPSExec::GetProc(std::string_view name) const {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (int i = GetProcCount() - 1; i >= 0; --i) {
    TPSProcRec* p = FProcs[i].get();
    if (auto* ip = dynamic_cast<TPSInternalProcRec*>(p)) {
      if (ip->FExportNameHash == hash && ip->FExportName == upper) return i;
    } else if (auto* xp = dynamic_cast<TPSExternalProcRec*>(p)) {
      if (xp->FName == upper) return i;
    }
  }
  return -1;
}

TPSProcRec* TPSExec::GetProcNo(int no) const { return no >= 0 && no < GetProcCount() ? FProcs[no].get() : nullptr; }

int TPSExec::GetType(std::string_view name) const {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (int i = 0; i < GetTypeCount(); ++i)
    if (FTypes[i]->FExportNameHash == hash && FTypes[i]->FExportName == upper) return i;
  return -1;
}

TPSTypeRec* TPSExec::GetTypeNo(int no) const { return no >= 0 && no < GetTypeCount() ? FTypes[no].get() : nullptr; }

TPSTypeRec* TPSExec::FindType(int startAt, TPSBaseType baseType, int& no) const {
  for (int i = std::max(startAt, 0); i < GetTypeCount(); ++i)
    if (FTypes[i]->FBaseType == baseType) {
      no = i;
      return FTypes[i].get();
    }
  no = -1;
  return nullptr;
}

int TPSExec::GetVar(std::string_view name) const {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (auto it = FExportedVars.rbegin(); it != FExportedVars.rend(); ++it)
    if (it->FNameHash == hash && it->FName == upper) return static_cast<int>(it->FVarNo);
  return -1;
}

uint8_t* TPSExec::GetVar2(std::string_view name) const { return GetVarNo(GetVar(name)); }

uint8_t* TPSExec::GetVarNo(int no) const {
  return no >= 0 && no < FGlobalVars.Count() ? FGlobalVars.EntryValue(no) : nullptr;
}

TPSTypeRec* TPSExec::GetVarType(int no) const {
  return no >= 0 && no < FGlobalVars.Count() ? FGlobalVars.EntryType(no) : nullptr;
}

bool TPSExec::SetVarToInstance(std::string_view name, void* object) {
  int no = GetVar(name);
  if (no < 0) return false;
  const uint8_t* v = GetVarNo(no);
  const TPSTypeRec* t = GetVarType(no);
  // A pointer variable bound to host data is set through its target.
  if (t->FBaseType == btPointer) {
    auto pv = Load<TPSPointerValue>(v);
    if (!pv.Target || !pv.Type) return true;
    v = static_cast<const uint8_t*>(pv.Target);
    t = pv.Type;
  }
  if (t->FBaseType == btClass) Store(const_cast<uint8_t*>(v), object);
  return true;
}

// --- Host registrations ------------------------------------------------------------------------

TProcRec* TPSExec::RegisterFunctionName(std::string_view name, TPSProcPtr procPtr, void* ext1, void* ext2,
                                        TPSFreeProc freeProc) {
  auto rec = std::make_unique<TProcRec>();
  rec->Name = FastUpperCase(name.substr(0, 255));
  rec->Hash = MakeHash(rec->Name);
  rec->ProcPtr = procPtr;
  rec->FreeProc = freeProc;
  rec->Ext1 = ext1;
  rec->Ext2 = ext2;
  FRegProcs.push_back(std::move(rec));
  return FRegProcs.back().get();
}

void TPSExec::AddSpecialProcImport(std::string_view name, TPSOnSpecialProcImport p, void* tag) {
  TSpecialProc sp;
  sp.Name = FastUpperCase(name);
  sp.namehash = MakeHash(sp.Name);
  sp.P = p;
  sp.tag = tag;
  FSpecialProcList.push_back(std::move(sp));
}

void TPSExec::RegisterAttributeType(TPSAttributeUseProc useProc, std::string_view typeName) {
  TPSRuntimeAttributeType at;
  at.FTypeName = FastUpperCase(typeName);
  at.FTypeNameHash = MakeHash(at.FTypeName);
  at.FUseProc = useProc;
  FAttributeTypes.push_back(std::move(at));
}

void TPSExec::ClearFunctionList() {
  FAttributeTypes.clear();
  for (auto& r : FRegProcs)
    if (r->FreeProc) r->FreeProc(this, r.get());
  FRegProcs.clear();
  RegisterBuiltInFunctions();
}

bool TPSExec::BindExternalProc(TPSExternalProcRec* proc) {
  if (!proc->FName.empty()) {
    uint32_t hash = MakeHash(proc->FName);
    for (auto it = FRegProcs.rbegin(); it != FRegProcs.rend(); ++it) {
      const TProcRec& r = **it;
      if (r.Hash == hash && r.Name == proc->FName) {
        proc->FProcPtr = r.ProcPtr;
        proc->FExt1 = r.Ext1;
        proc->FExt2 = r.Ext2;
        return true;
      }
    }
    return false;
  }
  std::string key = FastUpperCase(proc->FDecl.substr(0, proc->FDecl.find(':')));
  uint32_t hash = MakeHash(key);
  for (auto it = FSpecialProcList.rbegin(); it != FSpecialProcList.rend(); ++it) {
    if (!it->Name.empty() && (it->namehash != hash || it->Name != key)) continue;
    if (it->P && it->P(this, proc, it->tag)) return true;
  }
  return false;
}

// --- Resources ------------------------------------------------------------------------------------

void TPSExec::AddResource(TPSResourceFreeProc proc, void* p) { FResources.emplace_back(proc, p); }

void TPSExec::DeleteResource(void* p) {
  for (auto it = FResources.rbegin(); it != FResources.rend(); ++it)
    if (it->second == p) {
      FResources.erase(std::next(it).base());
      return;
    }
}

void* TPSExec::FindProcResource(TPSResourceFreeProc proc) const {
  for (auto it = FResources.rbegin(); it != FResources.rend(); ++it)
    if (it->first == proc) return it->second;
  return nullptr;
}

void* TPSExec::FindProcResource2(TPSResourceFreeProc proc, int& startAt) const {
  if (startAt >= static_cast<int>(FResources.size())) startAt = static_cast<int>(FResources.size()) - 1;
  for (int i = startAt; i >= 0; --i)
    if (FResources[i].first == proc) {
      startAt = i - 1;
      return FResources[i].second;
    }
  startAt = -1;
  return nullptr;
}

bool TPSExec::IsValidResource(TPSResourceFreeProc proc, void* p) const {
  for (auto it = FResources.rbegin(); it != FResources.rend(); ++it)
    if (it->second == p) return it->first == proc;
  return false;
}


}  // namespace ps
