// LoadData: reads a module into the runtime tables, checking every field.
#include "engine/runtime/FastCode.h"
#include "engine/runtime/RegisterCode.h"
#include "engine/runtime/Values.h"

namespace ps {

namespace {
constexpr uint32_t MaxNameLength = 0x40000000;
constexpr uint32_t MaxStaticArrayCount = 0x20000000;
constexpr uint32_t MaxSetBits = 256;
constexpr uint32_t MaxShortText = 256;  // procedure-pointer declarations and class names
// Types nest deeper than this only in hostile modules; copying and
// finalising such values would recurse through the C++ stack.
constexpr int MaxTypeNesting = 64;
}  // namespace

struct TPSLoader {
  TPSLoader(TPSExec& exec, std::string_view module) : Exec(exec), Module(module) {}
  TPSExec& Exec;
  std::string_view Module;
  size_t Pos = 0;
  uint32_t Version = 0;
  TPSError Error = ErNoError;
  rtl::UnicodeString ErrorParam;
  bool Reported = false;     // a host callback has already reported the failure
  std::vector<int> Nesting;  // per type

  bool Fail(TPSError code, rtl::UnicodeString param = {}) {
    Error = code;
    ErrorParam = std::move(param);
    return false;
  }
  bool Read(void* out, size_t n) {
    if (Module.size() - Pos < n) return false;
    std::memcpy(out, Module.data() + Pos, n);
    Pos += n;
    return true;
  }
  bool U32(uint32_t& v) { return Read(&v, 4); }
  bool Byte(uint8_t& v) { return Read(&v, 1); }
  bool Text(uint32_t length, std::string& out) {
    if (Module.size() - Pos < length) return false;
    out.assign(Module.data() + Pos, length);
    Pos += length;
    return true;
  }

  bool Load();
  bool LoadType();
  bool LoadAttributes(TPSRuntimeAttributes& attrs);
  bool LoadAttributeValue(TPSRuntimeAttribute& attr);
  bool LoadProc();
  bool LoadVar(uint32_t typeCount);
};

bool TPSLoader::Load() {
  uint32_t header[7];
  if (Module.size() < PSHeaderSize) return Fail(erInvalidHeader);
  Read(header, PSHeaderSize);
  Version = header[PSHeaderVersion / 4];
  if (header[0] != PSValidHeader || Version < PSLowBuildSupport || Version > PSCurrentBuildNo)
    return Fail(erInvalidHeader);
  uint32_t typeCount = header[PSHeaderTypeCount / 4], procCount = header[PSHeaderProcCount / 4],
           varCount = header[PSHeaderVarCount / 4], mainProc = header[PSHeaderMainProc / 4];
  for (uint32_t i = 0; i < typeCount; ++i)
    if (!LoadType()) return false;
  for (uint32_t i = 0; i < procCount; ++i)
    if (!LoadProc()) return false;
  for (uint32_t i = 0; i < varCount; ++i)
    if (!LoadVar(typeCount)) return false;
  if (mainProc != PSNoMainProc && mainProc >= Exec.FProcs.size()) return Fail(erNoMainProc);
  Exec.FMainProc = mainProc == PSNoMainProc ? -1 : static_cast<int64_t>(mainProc);
  return true;
}

bool TPSLoader::LoadType() {
  uint8_t code;
  if (!Byte(code)) return Fail(erUnexpectedEof);
  const bool exported = code & PSTypeExportedFlag;
  const TPSBaseType bt = code & 0x7F;
  const size_t loaded = Exec.FTypes.size();
  std::unique_ptr<TPSTypeRec> type;
  int nesting = 1;
  switch (bt) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32:
    case btSingle:
    case btDouble:
    case btExtended:
    case btString:
    case btPointer:
    case btPChar:
    case btVariant:
    case btS64:
    case btChar:
    case btWideString:
    case btWideChar:
    case btCurrency:
    case btUnicodeString: type = std::make_unique<TPSTypeRec>(bt); break;
    case btRecord: {
      uint32_t count;
      if (!U32(count) || count == 0) return Fail(erUnexpectedEof);
      auto rec = std::make_unique<TPSTypeRec_Record>();
      for (uint32_t i = 0; i < count; ++i) {
        uint32_t field;
        if (!U32(field)) return Fail(erUnexpectedEof);
        if (field >= loaded) return Fail(ErOutOfRange);
        rec->FFieldTypes.push_back(Exec.FTypes[field].get());
        nesting = std::max(nesting, Nesting[field] + 1);
      }
      type = std::move(rec);
      break;
    }
    case btArray: {
      uint32_t elem;
      if (!U32(elem)) return Fail(erUnexpectedEof);
      if (elem >= loaded) return Fail(ErTypeMismatch);
      type = std::make_unique<TPSTypeRec_Array>(Exec.FTypes[elem].get());
      nesting = Nesting[elem] + 1;
      break;
    }
    case btStaticArray: {
      uint32_t elem, count, start;
      if (!U32(elem)) return Fail(erUnexpectedEof);
      if (elem >= loaded) return Fail(ErTypeMismatch);
      if (!U32(count) || count >= MaxStaticArrayCount || !U32(start)) return Fail(erUnexpectedEof);
      auto arr = std::make_unique<TPSTypeRec_StaticArray>();
      arr->FArrayType = Exec.FTypes[elem].get();
      arr->FSize = count;
      arr->FStartOffset = static_cast<int32_t>(start);
      type = std::move(arr);
      nesting = Nesting[elem] + 1;
      break;
    }
    case btSet: {
      uint32_t bits;
      if (!U32(bits)) return Fail(erUnexpectedEof);
      if (bits > MaxSetBits) return Fail(ErTypeMismatch);
      auto set = std::make_unique<TPSTypeRec_Set>();
      set->FBitSize = bits;
      set->FByteSize = bits / 8 + (bits % 8 ? 1 : 0);
      type = std::move(set);
      break;
    }
    case btProcPtr: {
      uint32_t length;
      auto pp = std::make_unique<TPSTypeRec_ProcPtr>();
      if (!U32(length) || length >= MaxShortText || !Text(length, pp->FParamInfo)) return Fail(erUnexpectedEof);
      type = std::move(pp);
      break;
    }
    case btClass: {
      uint32_t length;
      auto cls = std::make_unique<TPSTypeRec_Class>();
      if (!U32(length) || length >= MaxShortText || !Text(length, cls->FCN)) return Fail(erUnexpectedEof);
      type = std::move(cls);
      break;
    }
    case btInterface: {
      auto intf = std::make_unique<TPSTypeRec_Interface>();
      if (!Read(intf->FGuid, sizeof intf->FGuid)) return Fail(erUnexpectedEof);
      type = std::move(intf);
      break;
    }
    default: return Fail(erInvalidType);
  }
  if (nesting > MaxTypeNesting) return Fail(erInvalidType);
  if (exported) {
    uint32_t length;
    std::string name;
    if (!U32(length)) return Fail(erUnexpectedEof);
    if (length > MaxNameLength) return Fail(erInvalidType);
    if (!Text(length, name)) return Fail(erUnexpectedEof);
    type->SetExportName(std::move(name));
  }
  type->CalcSize();
  // Attribute values refer only to the types before this one, so types can
  // be destroyed newest first.
  if (Version > 20 && !LoadAttributes(type->FAttributes)) return false;
  Exec.FTypes.push_back(std::move(type));
  Nesting.push_back(nesting);
  return true;
}

bool TPSLoader::LoadAttributes(TPSRuntimeAttributes& attrs) {
  uint32_t count;
  if (!U32(count)) return Fail(ErOutOfRange);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length, values;
    std::string name;
    if (!U32(length) || !Text(length, name) || !U32(values)) return Fail(ErOutOfRange);
    TPSRuntimeAttribute* attr = attrs.Add();
    attr->FAttribType = name;
    attr->FAttribTypeHash = MakeHash(name);
    for (uint32_t v = 0; v < values; ++v)
      if (!LoadAttributeValue(*attr)) return false;
    // Every registered attribute type of this name must accept it, newest first.
    for (auto it = Exec.FAttributeTypes.rbegin(); it != Exec.FAttributeTypes.rend(); ++it) {
      if (it->FTypeNameHash != attr->FAttribTypeHash || it->FTypeName != name || !it->FUseProc) continue;
      uint64_t serial = Exec.FErrorSerial;
      if (!it->FUseProc(&Exec, name, attr)) {
        // The use procedure reports its own error; one that did not still fails the load.
        if (Exec.FErrorSerial == serial) return Fail(erCannotImport, rtl::Utf8ToUnicode(name));
        Reported = true;
        return false;
      }
    }
  }
  return true;
}

bool TPSLoader::LoadAttributeValue(TPSRuntimeAttribute& attr) {
  uint32_t typeNo;
  if (!U32(typeNo) || typeNo >= Exec.FTypes.size()) return Fail(ErOutOfRange);
  TPSTypeRec* t = Exec.FTypes[typeNo].get();
  uint32_t width = 0;
  switch (t->FBaseType) {
    case btU8:
    case btS8:
    case btChar: width = 1; break;
    case btU16:
    case btS16:
    case btWideChar: width = 2; break;
    case btU32:
    case btS32:
    case btSingle:
    case btProcPtr: width = 4; break;
    case btDouble:
    case btS64:
    case btCurrency: width = 8; break;
    case btExtended: width = 10; break;
    case btSet: width = static_cast<TPSTypeRec_Set*>(t)->FByteSize; break;
    case btString:
    case btPChar:
    case btWideString:
    case btUnicodeString: break;
    default: return Fail(erInvalidType);
  }
  uint8_t* slot = attr.AddValue(t);
  if (!slot) return Fail(erOutOfMemory);
  if (width) {
    if (!Read(slot, width)) return Fail(ErOutOfRange);
    return true;
  }
  uint32_t length;
  if (!U32(length)) return Fail(ErOutOfRange);
  if (t->FBaseType == btString || t->FBaseType == btPChar) {
    std::string text;
    if (!Text(length, text)) return Fail(ErOutOfRange);
    PSAnsiAssign(slot, text);
  } else {
    if (length > (Module.size() - Pos) / 2) return Fail(ErOutOfRange);
    std::u16string text(length, u'\0');
    Read(text.data(), uint64_t(length) * 2);
    PSUnicodeAssign(slot, text);
  }
  return true;
}

bool TPSLoader::LoadProc() {
  uint8_t flags;
  if (!Byte(flags)) return Fail(erUnexpectedEof);
  const auto procNo = static_cast<uint32_t>(Exec.FProcs.size());
  if (flags & PSProcExternal) {
    auto proc = std::make_unique<TPSExternalProcRec>(&Exec);
    proc->FProcNo = procNo;
    uint8_t nameLength;
    if (!Byte(nameLength) || !Text(nameLength, proc->FName)) return Fail(erUnexpectedEof);
    if (flags & PSProcExported) {
      uint32_t length;
      if (!U32(length) || !Text(length, proc->FDecl)) return Fail(erUnexpectedEof);
    }
    TPSExternalProcRec* p = proc.get();
    Exec.FProcs.push_back(std::move(proc));
    if ((flags & PSProcAttributes) && !LoadAttributes(p->FAttributes)) return false;
    uint64_t serial = Exec.FErrorSerial;
    if (!Exec.BindExternalProc(p)) {
      if (Exec.FErrorSerial != serial) {
        Reported = true;
        return false;
      }
      return Fail(erCannotImport, rtl::Utf8ToUnicode(p->FName.empty() ? p->FDecl : p->FName));
    }
    return true;
  }
  auto proc = std::make_unique<TPSInternalProcRec>(&Exec);
  proc->FProcNo = procNo;
  uint32_t offset, length;
  if (!U32(offset) || !U32(length)) return Fail(erUnexpectedEof);
  if (offset >= Module.size() || length == 0 || uint64_t(offset) + length > Module.size()) return Fail(erUnexpectedEof);
  if (flags & PSProcExported) {
    uint32_t nameLength, declLength;
    if (!U32(nameLength) || nameLength > MaxNameLength || !Text(nameLength, proc->FExportName))
      return Fail(erUnexpectedEof);
    if (!U32(declLength) || declLength > MaxNameLength || !Text(declLength, proc->FExportDecl))
      return Fail(erUnexpectedEof);
    proc->FExportNameHash = MakeHash(proc->FExportName);
  }
  proc->FData.assign(Module.begin() + offset, Module.begin() + offset + length);
  proc->FLength = length;
  TPSInternalProcRec* p = proc.get();
  Exec.FProcs.push_back(std::move(proc));
  if ((flags & PSProcAttributes) && !LoadAttributes(p->FAttributes)) return false;
  return true;
}

bool TPSLoader::LoadVar(uint32_t typeCount) {
  uint32_t typeNo;
  uint8_t flags;
  if (!U32(typeNo)) return Fail(erUnexpectedEof);
  if (typeNo >= typeCount || typeNo >= Exec.FTypes.size()) return Fail(erInvalidType);
  if (!Byte(flags)) return Fail(erUnexpectedEof);
  TPSExportedVar exported;
  if (flags & PSVarExported) {
    uint32_t length;
    if (!U32(length) || !Text(length, exported.FName)) return Fail(erUnexpectedEof);
  }
  if (!Exec.FGlobalVars.PushType(Exec.FTypes[typeNo].get())) return Fail(erOutOfMemory);
  if (flags & PSVarExported) {
    exported.FNameHash = MakeHash(exported.FName);
    exported.FVarNo = static_cast<uint32_t>(Exec.FGlobalVars.Count() - 1);
    Exec.FExportedVars.push_back(std::move(exported));
  }
  return true;
}

bool TPSExec::LoadData(std::string_view module) {
  Clear();
  TPSLoader loader(*this, module);
  if (!loader.Load()) {
    // Load errors carry no procedure; the position is the module offset reached.
    FCurrProc = nullptr;
    FCurrentPosition = static_cast<uint32_t>(loader.Pos);
    if (!loader.Reported) CMD_Err2(loader.Error, loader.ErrorParam);
    Clear();
    return false;
  }
  for (int i = 0; i < FGlobalVars.Count(); ++i)
    FGlobalRefs.push_back({FGlobalVars.EntryValue(i), FGlobalVars.EntryType(i), FGlobalVars.EntryType(i)->FBaseType});
  FGlobalRefCount = static_cast<uint32_t>(FGlobalRefs.size());
  FPointerType = FindType2(btPointer);
  for (auto& proc : FProcs)
    if (!proc->IsExternal()) {
      auto* ip = static_cast<TPSInternalProcRec*>(proc.get());
      ip->FFast = TranslateProc(*this, *ip);
      ip->FLoops = TranslateLoops(*this, *ip);
    }
  FStatus = isLoaded;
  return true;
}

}  // namespace ps
