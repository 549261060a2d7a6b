// Writes the compiled module: header, type table, procedure table, variable
// table and code, then the closing debug records.
#include <cmath>
#include <cstring>

#include "engine/uPSCompiler.h"

namespace ps {

namespace {

const std::string SIncompleteType = "incomplete type ";

void AppendBytes(std::string& out, const void* data, size_t size) { out.append(static_cast<const char*>(data), size); }
void PatchUInt32(std::string& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void AppendName(std::string& out, const std::string& name) {
  AppendUInt32(out, static_cast<uint32_t>(name.size()));
  out += name;
}

// The loadable base code of a type; compile-time kinds are mapped.
TPSBaseType ModuleBaseType(const TPSType* t) {
  switch (t->FBaseType) {
    case btEnum: {
      uint32_t high = static_cast<const TPSEnumType*>(t)->FHighValue;
      return high < 256 ? btU8 : high < 65536 ? btU16 : btU32;
    }
    case btType:
    case btExtClass: return btU32;
    default: return t->FBaseType;
  }
}

// An x87 80-bit extended value: the low ten bytes of a long double on x86-64.
void AppendExtended(std::string& out, long double v) {
  unsigned char bytes[sizeof(long double)] = {};
  std::memcpy(bytes, &v, sizeof(long double));
  out.append(reinterpret_cast<const char*>(bytes), 10);
}

void AppendDebugNameList(std::string& out, const std::vector<std::string>& names) {
  for (auto& n : names) {
    out += n;
    out.push_back(PSDebugNameEnd);
  }
  out.push_back(PSDebugListEnd);
}

}  // namespace

void TPSPascalCompiler::WriteConstantValue(std::string& out, const TIfRVariant& value) {
  TPSType* t = ResolveTypeLink(value.FType);
  switch (ModuleBaseType(t)) {
    case btU8:
    case btS8:
    case btChar: out.push_back(static_cast<char>(value.FInt)); break;
    case btU16:
    case btS16:
    case btWideChar: {
      uint16_t v = static_cast<uint16_t>(value.FInt);
      AppendBytes(out, &v, 2);
      break;
    }
    case btU32:
    case btS32:
    case btProcPtr: AppendUInt32(out, static_cast<uint32_t>(value.FInt)); break;
    case btSingle: {
      float v = static_cast<float>(value.FReal);
      AppendBytes(out, &v, 4);
      break;
    }
    case btDouble: {
      double v = static_cast<double>(value.FReal);
      AppendBytes(out, &v, 8);
      break;
    }
    case btS64: AppendBytes(out, &value.FInt, 8); break;
    case btCurrency: {
      int64_t v = static_cast<int64_t>(std::llround(value.FReal * 10000));
      AppendBytes(out, &v, 8);
      break;
    }
    case btExtended: AppendExtended(out, value.FReal); break;
    case btString:
    case btPChar: AppendName(out, value.FString); break;
    case btWideString:
    case btUnicodeString:
      AppendUInt32(out, static_cast<uint32_t>(value.FWideString.size()));
      for (char16_t c : value.FWideString) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
      }
      break;
    case btSet: {
      std::string bits = value.FString;
      bits.resize(static_cast<TPSSetType*>(t)->ByteSize(), '\0');
      out += bits;
      break;
    }
    default: break;
  }
}

void TPSPascalCompiler::WriteAttributes(std::string& out, const TPSAttributes& attributes) {
  AppendUInt32(out, static_cast<uint32_t>(attributes.Count()));
  for (auto& a : attributes.FItems) {
    AppendName(out, a->FAttribType->FName);
    AppendUInt32(out, static_cast<uint32_t>(a->FValues.size()));
    for (auto& v : a->FValues) {
      AppendUInt32(out, static_cast<uint32_t>(ResolveTypeLink(v.FType)->FFinalTypeNo));
      WriteConstantValue(out, v);
    }
  }
}

std::string TPSPascalCompiler::MakeExportDecl(const TPSParametersDecl& decl) {
  TPSType* result = ResolveTypeLink(decl.FResult);
  std::string s = result ? std::to_string(result->FFinalTypeNo) : "-1";
  for (auto& prm : decl.FParams) {
    TPSType* t = ResolveTypeLink(prm.FType);
    s += prm.FMode == pmIn ? " @" : " !";
    s += std::to_string(t ? t->FFinalTypeNo : -1);
  }
  return s;
}

bool TPSPascalCompiler::MakeOutput() {
  // Everything the tables refer to gets its number before the type table is written.
  for (auto& proc : FProcs) {
    if (auto* ip = dynamic_cast<TPSInternalProcedure*>(proc.get())) {
      UseType(ip->FDecl.FResult);
      for (auto& prm : ip->FDecl.FParams) UseType(prm.FType);
    }
    for (auto& a : proc->FAttributes.FItems)
      for (auto& v : a->FValues) UseType(v.FType);
  }
  for (auto& v : FVars) UseType(v->FType);
  int32_t pointerType = -1;
  for (TPSType* t : FUsedTypes) {
    if (t->FBaseType == btPointer) pointerType = t->FFinalTypeNo;
    // A host may add an array, record or set type without its parts; such a
    // type cannot be written, so the compile fails instead of the load.
    bool incomplete = false;
    if (auto* arr = dynamic_cast<TPSArrayType*>(t)) incomplete = !arr->FArrayTypeNo;
    if (auto* set = dynamic_cast<TPSSetType*>(t)) incomplete = !set->FSetType;
    if (auto* rec = dynamic_cast<TPSRecordType*>(t)) {
      incomplete = rec->FRecordSubVals.empty();
      for (auto& f : rec->FRecordSubVals) incomplete = incomplete || !f.FType;
    }
    if (incomplete) {
      MakeError("", ecInternalError, SIncompleteType + t->FOriginalName);
      return false;
    }
  }

  std::string& out = FOutput;
  out.clear();
  int32_t mainProc = -1;
  for (size_t i = 0; i < FProcs.size(); ++i) {
    auto* ip = dynamic_cast<TPSInternalProcedure*>(FProcs[i].get());
    if (ip && ip->FName == "!MAIN") {
      mainProc = static_cast<int32_t>(i);
      break;
    }
  }
  AppendUInt32(out, PSValidHeader);
  AppendUInt32(out, PSCurrentBuildNo);
  AppendUInt32(out, static_cast<uint32_t>(FCurrUsedTypeNo));
  AppendUInt32(out, static_cast<uint32_t>(FProcs.size()));
  AppendUInt32(out, static_cast<uint32_t>(FVars.size()));
  AppendUInt32(out, static_cast<uint32_t>(mainProc));
  AppendUInt32(out, 0);

  for (TPSType* t : FUsedTypes) {
    TPSBaseType bt = ModuleBaseType(t);
    out.push_back(static_cast<char>(bt | (t->FExportName ? PSTypeExportedFlag : 0)));
    switch (bt) {
      case btRecord: {
        auto* rec = static_cast<TPSRecordType*>(t);
        AppendUInt32(out, static_cast<uint32_t>(rec->RecValCount()));
        for (auto& f : rec->FRecordSubVals) AppendUInt32(out, ResolveTypeLink(f.FType)->FFinalTypeNo);
        break;
      }
      case btArray:
        AppendUInt32(out, ResolveTypeLink(static_cast<TPSArrayType*>(t)->FArrayTypeNo)->FFinalTypeNo);
        break;
      case btStaticArray: {
        auto* arr = static_cast<TPSStaticArrayType*>(t);
        AppendUInt32(out, ResolveTypeLink(arr->FArrayTypeNo)->FFinalTypeNo);
        AppendUInt32(out, arr->FLength);
        AppendUInt32(out, static_cast<uint32_t>(arr->FStartOffset));
        break;
      }
      case btSet: AppendUInt32(out, static_cast<TPSSetType*>(t)->BitSize()); break;
      case btProcPtr: {
        auto& decl = static_cast<TPSProceduralType*>(t)->FProcDef;
        std::string info(1, decl.FResult ? 1 : 0);
        for (auto& prm : decl.FParams) info.push_back(prm.FMode == pmIn ? 0 : 1);
        AppendName(out, info);
        break;
      }
      case btClass: {
        TPSCompileTimeClass* cls = static_cast<TPSClassType*>(t)->FCL;
        AppendName(out, cls ? cls->FClassName : t->FName);
        break;
      }
      case btInterface: {
        auto* intf = static_cast<TPSInterfaceType*>(t)->FIntf;
        static const uint8_t none[16] = {};
        AppendBytes(out, intf ? intf->FGuid : none, 16);
        break;
      }
      default: break;
    }
    if (t->FExportName) AppendName(out, t->FName);
    WriteAttributes(out, t->FAttributes);
  }

  std::vector<size_t> codeFields(FProcs.size(), 0);
  for (size_t i = 0; i < FProcs.size(); ++i) {
    TPSProcedure* proc = FProcs[i].get();
    uint8_t attrFlag = proc->FAttributes.Count() > 0 ? PSProcAttributes : 0;
    if (auto* ip = dynamic_cast<TPSInternalProcedure*>(proc)) {
      out.push_back(static_cast<char>(PSProcExported | attrFlag));
      codeFields[i] = out.size();
      AppendUInt32(out, 0);
      AppendUInt32(out, 0);
      AppendName(out, ip->FName);
      AppendName(out, MakeExportDecl(ip->FDecl));
    } else {
      TPSRegProc* reg = static_cast<TPSExternalProcedure*>(proc)->FRegProc;
      out.push_back(static_cast<char>(PSProcExternal | PSProcExported | attrFlag));
      std::string name = reg->FExportName ? reg->FName : std::string();
      out.push_back(static_cast<char>(name.size()));
      out += name;
      AppendName(out, reg->FImportDecl);
    }
    if (attrFlag) WriteAttributes(out, proc->FAttributes);
  }

  for (auto& v : FVars) {
    int32_t typeNo = v->FSaveAsPointer ? pointerType : ResolveTypeLink(v->FType)->FFinalTypeNo;
    AppendUInt32(out, static_cast<uint32_t>(typeNo));
    out.push_back(static_cast<char>(v->FExportName ? PSVarExported : 0));
    if (v->FExportName) AppendName(out, v->FName);
  }

  for (size_t i = 0; i < FProcs.size(); ++i) {
    auto* ip = dynamic_cast<TPSInternalProcedure*>(FProcs[i].get());
    if (!ip) continue;
    // The loader rejects empty code blocks.
    if (ip->FData.empty()) ip->FData.push_back(static_cast<char>(OpReturn));
    PatchUInt32(out, codeFields[i], static_cast<uint32_t>(out.size()));
    PatchUInt32(out, codeFields[i] + 4, static_cast<uint32_t>(ip->FData.size()));
    out += ip->FData;
  }

  std::vector<std::string> names;
  for (auto& proc : FProcs) {
    if (auto* ip = dynamic_cast<TPSInternalProcedure*>(proc.get()))
      names.push_back(ip->FName == "!MAIN" ? std::string() : ip->FOriginalName);
    else
      names.push_back(static_cast<TPSExternalProcedure*>(proc.get())->FRegProc->FOrgName);
  }
  FDebugOutput.push_back(static_cast<char>(DebugProcNames));
  AppendDebugNameList(FDebugOutput, names);
  names.clear();
  for (auto& v : FVars) names.push_back(v->FOrgName);
  FDebugOutput.push_back(static_cast<char>(DebugVarNames));
  AppendDebugNameList(FDebugOutput, names);
  return true;
}

}  // namespace ps
