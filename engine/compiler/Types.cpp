// The type system: type records, type numbers, compatibility, and the parser
// of type definitions shared by script type sections and AddTypeS.
#include <algorithm>

#include "engine/compiler/CodeGen.h"

namespace ps {

// --- Type records -------------------------------------------------------------

void TPSType::SetName(std::string_view orgName) {
  FOriginalName.assign(orgName);
  FName = FastUpperCase(orgName);
  FNameHash = MakeHash(FName);
}

TPSType* ResolveTypeLink(TPSType* type) {
  // Links are made only to existing types, so a chain always ends.
  while (type && type->FBaseType == btTypeLink) type = static_cast<TPSTypeLink*>(type)->FLinkTypeNo;
  return type;
}

TPSRecordFieldTypeDef& TPSRecordType::AddRecVal(std::string_view orgName, TPSType* type) {
  TPSRecordFieldTypeDef& f = FRecordSubVals.emplace_back();
  f.FFieldOrgName.assign(orgName);
  f.FFieldName = FastUpperCase(orgName);
  f.FFieldNameHash = MakeHash(f.FFieldName);
  f.FType = type;
  return f;
}

int TPSRecordType::FindField(std::string_view upperName) const {
  uint32_t hash = MakeHash(upperName);
  for (size_t i = 0; i < FRecordSubVals.size(); ++i)
    if (FRecordSubVals[i].FFieldNameHash == hash && FRecordSubVals[i].FFieldName == upperName)
      return static_cast<int>(i);
  return -1;
}

uint32_t TPSSetType::BitSize() const {
  TPSType* t = ResolveTypeLink(FSetType);
  if (t && t->FBaseType == btEnum) return static_cast<TPSEnumType*>(t)->FHighValue + 1;
  return 256;
}

TPSParameterDecl& TPSParametersDecl::AddParam(std::string_view orgName, TPSParameterMode mode, TPSType* type) {
  TPSParameterDecl& p = FParams.emplace_back();
  p.FOrgName.assign(orgName);
  p.FName = FastUpperCase(orgName);
  p.FMode = mode;
  p.FType = type;
  return p;
}

bool TPSParametersDecl::Same(const TPSParametersDecl& other) const {
  if (ResolveTypeLink(FResult) != ResolveTypeLink(other.FResult) || FParams.size() != other.FParams.size())
    return false;
  for (size_t i = 0; i < FParams.size(); ++i)
    if (FParams[i].FMode != other.FParams[i].FMode ||
        ResolveTypeLink(FParams[i].FType) != ResolveTypeLink(other.FParams[i].FType))
      return false;
  return true;
}

TPSType* TPSCodeGen::ArithmeticIntType(TPSPascalCompiler& c, TPSType* l, TPSType* r, bool folding) {
  TPSBaseType lb = ResolveTypeLink(l)->FBaseType, rb = ResolveTypeLink(r)->FBaseType;
  auto size = [](TPSBaseType b) {
    switch (b) {
      case btU8:
      case btS8: return 1;
      case btU16:
      case btS16: return 2;
      case btU32:
      case btS32: return 4;
      default: return 8;
    }
  };
  auto isSigned = [](TPSBaseType b) { return b == btS8 || b == btS16 || b == btS32 || b == btS64; };
  if (lb == btS64) return l;
  if (rb == btS64) return r;
  if (size(lb) < 4 && size(rb) < 4) return c.FStd.LongInt;  // small kinds compute as Integer
  if (isSigned(lb) == isSigned(rb)) return size(rb) > size(lb) ? r : l;
  // A signed and an unsigned operand: a type that holds both ranges. Two
  // 32-bit constants fold in the left one's type, as they always have.
  TPSType* s = isSigned(lb) ? l : r;
  int us = size(isSigned(lb) ? rb : lb), ss = size(isSigned(lb) ? lb : rb);
  if (ss > us) return s;
  return folding && ss == 4 ? l : c.FStd.Int64;
}

// --- Type tables ------------------------------------------------------------------

TPSType* TPSPascalCompiler::AddTypeToList(std::unique_ptr<TPSType> type) {
  TPSType* raw = type.get();
  FTypes.push_back(std::move(type));
  if (!raw->FName.empty()) FTypeIndex[raw->FName] = static_cast<int32_t>(FTypes.size() - 1);
  return raw;
}

template <class T>
T* TPSPascalCompiler::NewType(std::string_view orgName) {
  auto type = std::make_unique<T>();
  if (!orgName.empty()) type->SetName(orgName);
  return static_cast<T*>(AddTypeToList(std::move(type)));
}

TPSType* TPSPascalCompiler::FindTypeUpper(std::string_view upperName) {
  auto it = FTypeIndex.find(upperName);
  return it == FTypeIndex.end() ? nullptr : FTypes[it->second].get();
}

TPSType* TPSPascalCompiler::FindType(std::string_view name) {
  if (!FCompiling) return nullptr;
  return FindTypeUpper(FastUpperCase(name));
}

void TPSPascalCompiler::UseType(TPSType* type) {
  type = ResolveTypeLink(type);
  if (!type || type->FUsed) return;
  type->FUsed = true;
  // Parts first: the module refers to types only backwards.
  if (auto* rec = dynamic_cast<TPSRecordType*>(type)) {
    for (auto& f : rec->FRecordSubVals) UseType(f.FType);
  } else if (auto* arr = dynamic_cast<TPSArrayType*>(type)) {
    UseType(arr->FArrayTypeNo);
  } else if (auto* set = dynamic_cast<TPSSetType*>(type)) {
    UseType(set->FSetType);
  } else if (auto* proc = dynamic_cast<TPSProceduralType*>(type)) {
    UseType(proc->FProcDef.FResult);
    for (auto& p : proc->FProcDef.FParams) UseType(p.FType);
  }
  for (auto& a : type->FAttributes.FItems)
    for (auto& v : a->FValues) UseType(v.FType);
  type->FFinalTypeNo = FCurrUsedTypeNo++;
  FUsedTypes.push_back(type);
}

// --- Compatibility ------------------------------------------------------------------

namespace {

bool IsIntType(TPSBaseType b) {
  return b == btU8 || b == btS8 || b == btU16 || b == btS16 || b == btU32 || b == btS32 || b == btS64;
}
bool IsRealType(TPSBaseType b) { return b == btSingle || b == btDouble || b == btExtended || b == btCurrency; }
bool IsCharType(TPSBaseType b) { return b == btChar || b == btWideChar; }

}  // namespace

bool TPSPascalCompiler::IsCompatibleType(TPSType* target, TPSType* source, bool cast) const {
  target = ResolveTypeLink(target);
  source = ResolveTypeLink(source);
  if (!target || !source) return false;
  if (target == source) return true;
  TPSBaseType t = target->FBaseType, s = source->FBaseType;
  if (t == btPointer || s == btPointer) return true;
  if (t == btVariant || s == btVariant) return true;
  if (IsIntType(t) && IsIntType(s)) return true;
  if (IsRealType(t) && (IsIntType(s) || IsRealType(s))) return true;
  if ((t == btString || t == btPChar) &&
      (s == btString || s == btPChar || s == btChar || s == btWideChar || s == btWideString))
    return true;
  if ((t == btArray || t == btStaticArray) && (s == btArray || s == btStaticArray))
    return IsCompatibleType(static_cast<TPSArrayType*>(target)->FArrayTypeNo,
                            static_cast<TPSArrayType*>(source)->FArrayTypeNo, cast);
  if (IsCharType(t) && IsCharType(s)) return true;
  if (t == btSet && s == btSet) return true;
  if ((t == btWideString || t == btUnicodeString) &&
      (IsCharType(s) || s == btString || s == btPChar || s == btWideString || s == btUnicodeString))
    return true;
  if (s == btUnicodeString) return true;
  if (t == btEnum && s == btEnum) return true;
  if (cast && ((t == btEnum && IsIntType(s)) || (IsIntType(t) && s == btEnum))) return true;
  if (t == btClass) {
    if (s == btU32 || s == btS32) return true;
    // A class type added without its class (AddType) matches only itself.
    TPSCompileTimeClass* cls = static_cast<TPSClassType*>(target)->FCL;
    if (s == btClass) return cls && cls->IsCompatibleWith(source);
  }
  if ((t == btU32 || t == btS32) && s == btClass) return true;
  if (t == btInterface && s == btInterface) {
    TPSInterface* from = static_cast<TPSInterfaceType*>(source)->FIntf;
    return from && from->IsCompatibleWith(static_cast<TPSInterfaceType*>(target)->FIntf);
  }
  return false;
}

// --- Type definitions -----------------------------------------------------------------

TPSType* TPSPascalCompiler::ReadType(std::string_view orgName) {
  TPSPascalParser& p = *FActiveParser;
  TPSNestingLevel level(FTypeNesting);
  if (level.Depth() > MaxTypeNesting) {
    MakeError("", ecCustomError, STypeTooDeep);
    return nullptr;
  }
  switch (p.CurrTokenID()) {
    case CSTI_Identifier: {
      TPSType* named = FindTypeUpper(p.GetToken());
      if (!named) {
        MakeError("", ecUnknownType, p.OriginalToken());
        return nullptr;
      }
      p.Next();
      if (orgName.empty()) return named;
      auto* link = NewType<TPSTypeLink>(orgName);
      link->FLinkTypeNo = named;
      return link;
    }
    case CSTI_OpenRound: {
      p.Next();
      auto* e = NewType<TPSEnumType>(orgName);
      uint32_t ordinal = 0;
      while (true) {
        if (p.CurrTokenID() != CSTI_Identifier) {
          MakeError("", ecIdentifierExpected, "");
          return nullptr;
        }
        if (p.GetToken() == "RESULT" || FindTypeUpper(p.GetToken())) {
          MakeError("", ecDuplicateIdentifier, p.OriginalToken());
          return nullptr;
        }
        TPSConstant* c = NewConstant(p.OriginalToken(), e);
        c->FDeclPos = p.Position();
        c->FValue.FInt = ordinal;
        e->FHighValue = ordinal++;
        p.Next();
        if (p.CurrTokenID() == CSTI_CloseRound) break;
        if (p.CurrTokenID() != CSTI_Comma) {
          MakeError("", ecCloseRoundExpected, "");
          return nullptr;
        }
        p.Next();
      }
      p.Next();
      return e;
    }
    case CSTII_array: {
      p.Next();
      if (p.CurrTokenID() == CSTII_of) {
        p.Next();
        TPSType* element = ReadType("");
        if (!element) return nullptr;
        if (orgName.empty()) {
          auto it = FDynArrayOf.find(element);
          if (it != FDynArrayOf.end()) return it->second;
        }
        auto* arr = NewType<TPSArrayType>(orgName);
        arr->FArrayTypeNo = element;
        if (orgName.empty()) FDynArrayOf[element] = arr;
        return arr;
      }
      if (p.CurrTokenID() != CSTI_OpenBlock) {
        MakeError("", ecOfExpected, "");
        return nullptr;
      }
      p.Next();
      TIfRVariant low, high;
      auto readBound = [&](TIfRVariant& v) {
        TPSSourcePos at = p.Position();
        if (!ReadConstant(v)) return false;
        TPSType* t = ResolveTypeLink(v.FType);
        if (!t || !IsIntType(t->FBaseType)) {
          MakeError("", ecTypeMismatch, "")->SetCustomPos(at);
          return false;
        }
        return true;
      };
      if (!readBound(low)) return nullptr;
      if (p.CurrTokenID() != CSTI_TwoDots) {
        MakeError("", ecPeriodExpected, "");
        return nullptr;
      }
      p.Next();
      TPSSourcePos highAt = p.Position();
      if (!readBound(high)) return nullptr;
      // The module stores the low bound as an int32.
      int64_t count = high.FInt - low.FInt + 1;
      bool boundsFit = low.FInt >= INT32_MIN && low.FInt <= INT32_MAX && high.FInt >= INT32_MIN - 1LL &&
                       high.FInt <= INT32_MAX;
      if (!boundsFit || count < 0 || count > 536870911) {
        MakeError("", ecTypeMismatch, "")->SetCustomPos(highAt);
        return nullptr;
      }
      if (p.CurrTokenID() != CSTI_CloseBlock) {
        MakeError("", ecCloseBlockExpected, "");
        return nullptr;
      }
      p.Next();
      if (p.CurrTokenID() != CSTII_of) {
        MakeError("", ecOfExpected, "");
        return nullptr;
      }
      p.Next();
      TPSType* element = ReadType("");
      if (!element) return nullptr;
      auto* arr = NewType<TPSStaticArrayType>(orgName);
      arr->FArrayTypeNo = element;
      arr->FStartOffset = static_cast<int32_t>(low.FInt);
      arr->FLength = static_cast<uint32_t>(count);
      return arr;
    }
    case CSTII_record: {
      p.Next();
      auto* rec = NewType<TPSRecordType>(orgName);
      if (p.CurrTokenID() != CSTI_Identifier) {
        MakeError("", ecIdentifierExpected, "");
        return nullptr;
      }
      while (p.CurrTokenID() != CSTII_end) {
        std::vector<std::string> names;
        while (true) {
          if (p.CurrTokenID() != CSTI_Identifier) {
            MakeError("", ecIdentifierExpected, "");
            return nullptr;
          }
          if (rec->FindField(p.GetToken()) >= 0 || std::find_if(names.begin(), names.end(), [&](const std::string& n) {
                                                     return FastUpperCase(n) == p.GetToken();
                                                   }) != names.end()) {
            MakeError("", ecDuplicateIdentifier, p.OriginalToken());
            return nullptr;
          }
          names.push_back(p.OriginalToken());
          p.Next();
          if (p.CurrTokenID() != CSTI_Comma) break;
          p.Next();
        }
        if (p.CurrTokenID() != CSTI_Colon) {
          MakeError("", ecColonExpected, "");
          return nullptr;
        }
        p.Next();
        TPSType* fieldType = ReadType("");
        if (!fieldType) return nullptr;
        for (auto& n : names) rec->AddRecVal(n, fieldType);
        if (p.CurrTokenID() != CSTI_SemiColon) {
          MakeError("", ecSemicolonExpected, "");
          return nullptr;
        }
        p.Next();
      }
      p.Next();
      return rec;
    }
    case CSTII_set: {
      p.Next();
      if (p.CurrTokenID() != CSTII_of) {
        MakeError("", ecOfExpected, "");
        return nullptr;
      }
      p.Next();
      if (p.CurrTokenID() != CSTI_Identifier) {
        MakeError("", ecIdentifierExpected, "");
        return nullptr;
      }
      TPSType* element = ResolveTypeLink(FindTypeUpper(p.GetToken()));
      if (!element) {
        MakeError("", ecUnknownIdentifier, p.OriginalToken());
        return nullptr;
      }
      // A set holds at most 256 bits; a larger enumeration cannot be its element type.
      bool fits = element->FBaseType == btU8 || element->FBaseType == btChar ||
                  (element->FBaseType == btEnum && static_cast<TPSEnumType*>(element)->FHighValue < 256);
      if (!fits) {
        MakeError("", ecTypeMismatch, "");
        return nullptr;
      }
      p.Next();
      auto* set = NewType<TPSSetType>(orgName);
      set->FSetType = element;
      return set;
    }
    case CSTII_procedure:
    case CSTII_function: {
      bool isFunction = p.CurrTokenID() == CSTII_function;
      p.Next();
      return ReadProceduralType(orgName, isFunction);
    }
    case CSTII_Interface: p.Next(); return ReadInterfaceType(orgName);
    default: MakeError("", ecIdentifierExpected, ""); return nullptr;
  }
}

TPSType* TPSPascalCompiler::ReadProceduralType(std::string_view orgName, bool isFunction) {
  TPSPascalParser& p = *FActiveParser;
  auto proc = std::make_unique<TPSProceduralType>();
  if (p.CurrTokenID() == CSTI_OpenRound) {
    p.Next();
    if (!ReadParameters(proc->FProcDef, "", false)) return nullptr;
  }
  if (isFunction) {
    if (p.CurrTokenID() != CSTI_Colon) {
      MakeError("", ecColonExpected, "");
      return nullptr;
    }
    p.Next();
    if (p.CurrTokenID() != CSTI_Identifier) {
      MakeError("", ecIdentifierExpected, "");
      return nullptr;
    }
    proc->FProcDef.FResult = FindTypeUpper(p.GetToken());
    if (!proc->FProcDef.FResult) {
      MakeError("", ecUnknownIdentifier, p.OriginalToken());
      return nullptr;
    }
    p.Next();
  }
  if (!orgName.empty()) proc->SetName(orgName);
  return AddTypeToList(std::move(proc));
}

TPSType* TPSPascalCompiler::ReadInterfaceType(std::string_view orgName) {
  TPSPascalParser& p = *FActiveParser;
  if (p.CurrTokenID() != CSTI_OpenRound) {
    MakeError("", ecOpenRoundExpected, "");
    return nullptr;
  }
  p.Next();
  if (p.CurrTokenID() != CSTI_Identifier) {
    MakeError("", ecIdentifierExpected, "");
    return nullptr;
  }
  TPSType* parentType = ResolveTypeLink(FindTypeUpper(p.GetToken()));
  if (!parentType) {
    MakeError("", ecUnknownType, p.OriginalToken());
    return nullptr;
  }
  if (parentType->FBaseType != btInterface) {
    MakeError("", ecTypeMismatch, "");
    return nullptr;
  }
  p.Next();
  if (p.CurrTokenID() != CSTI_CloseRound) {
    MakeError("", ecCloseRoundExpected, "");
    return nullptr;
  }
  p.Next();
  if (p.CurrTokenID() != CSTI_OpenBlock) {
    MakeError("", ecOpenBlockExpected, "");
    return nullptr;
  }
  p.Next();
  if (p.CurrTokenID() != CSTI_String) {
    MakeError("", ecStringExpected, "");
    return nullptr;
  }
  std::string guidText = p.GetToken().substr(1, p.GetToken().size() - 2);
  uint8_t guid[16];
  std::string reason;
  if (!ParseGuid(guidText, guid, reason)) {
    MakeError("", ecCustomError, reason);
    return nullptr;
  }
  p.Next();
  if (p.CurrTokenID() != CSTI_CloseBlock) {
    MakeError("", ecCloseBlockExpected, "");
    return nullptr;
  }
  p.Next();
  auto* type = NewType<TPSInterfaceType>(orgName);
  auto intf = std::make_unique<TPSInterface>(this, static_cast<TPSInterfaceType*>(parentType)->FIntf, guid, type->FName,
                                             type);
  type->FIntf = intf.get();
  FInterfaces.push_back(std::move(intf));
  // Each heading runs from its first word up to its closing semicolon.
  while (p.CurrTokenID() == CSTII_function || p.CurrTokenID() == CSTII_procedure) {
    TPSSourcePos start = p.Position();
    while (p.CurrTokenID() != CSTI_SemiColon && p.CurrTokenID() != CSTI_EOF && p.CurrTokenID() != CSTII_end) p.Next();
    std::string heading;
    if (p.CurrTokenID() == CSTI_SemiColon) heading = p.Source(start.Pos, p.CurrTokenPos());
    if (heading.empty() || !type->FIntf->RegisterMethod(heading, cdStdCall)) {
      MakeError("", ecCustomError, "Invalid method")->SetCustomPos(start);
      return nullptr;
    }
    p.Next();
  }
  if (p.CurrTokenID() != CSTII_end) {
    MakeError("", ecEndExpected, "");
    return nullptr;
  }
  p.Next();
  return type;
}

TPSType* TPSPascalCompiler::GetOpenArrayType(TPSType* elementType) {
  TPSType* element = ResolveTypeLink(elementType);
  if (!element) return nullptr;
  std::string name;
  switch (element->FBaseType) {
    case btU8: name = "!OPENARRAYOFU8"; break;
    case btS8: name = "!OPENARRAYOFS8"; break;
    case btU16: name = "!OPENARRAYOFU16"; break;
    case btS16: name = "!OPENARRAYOFS16"; break;
    case btU32: name = "!OPENARRAYOFU32"; break;
    case btS32: name = "!OPENARRAYOFS32"; break;
    case btSingle: name = "!OPENARRAYOFSINGLE"; break;
    case btDouble: name = "!OPENARRAYOFDOUBLE"; break;
    case btExtended: name = "!OPENARRAYOFEXTENDED"; break;
    case btString: name = "!OPENARRAYOFSTRING"; break;
    case btPChar: name = "!OPENARRAYOFPCHAR"; break;
    case btVariant: name = "!OPENARRAYOFVARIANT"; break;
    case btS64: name = "!OPENARRAYOFS64"; break;
    case btChar: name = "!OPENARRAYOFCHAR"; break;
    case btWideString: name = "!OPENARRAYOFWIDESTRING"; break;
    case btWideChar: name = "!OPENARRAYOFWIDECHAR"; break;
    case btClass: name = "!OPENARRAYOFTOBJECT"; break;
    case btUnicodeString: name = "!OPENARRAYOFUNICODESTRING"; break;
    case btRecord: name = "!OPENARRAYOFRECORD_" + element->FName; break;
    default: return nullptr;
  }
  if (TPSType* existing = FindTypeUpper(name)) return existing;
  auto* arr = NewType<TPSArrayType>(name);
  arr->FArrayTypeNo = element;
  return arr;
}

void TPSPascalCompiler::RollbackDeclarations(size_t typeCount, size_t constCount, size_t interfaceCount) {
  auto dropIndex = [](TPSNameIndex& index, size_t count) {
    for (auto it = index.begin(); it != index.end();)
      it = static_cast<size_t>(it->second) >= count ? index.erase(it) : std::next(it);
  };
  // Reading a type definition never numbers types, so none of these is used yet.
  for (size_t i = typeCount; i < FTypes.size(); ++i) {
    TPSType* t = FTypes[i].get();
    for (auto it = FDynArrayOf.begin(); it != FDynArrayOf.end();)
      it = (it->first == t || it->second == t) ? FDynArrayOf.erase(it) : std::next(it);
  }
  FTypes.resize(typeCount);
  FConstants.resize(constCount);
  FInterfaces.resize(interfaceCount);
  dropIndex(FTypeIndex, typeCount);
  dropIndex(FConstIndex, constCount);
  // Older declarations of a dropped name become visible again.
  for (size_t i = FTypes.size(); i-- > 0;)
    if (!FTypes[i]->FName.empty() && !FTypeIndex.count(FTypes[i]->FName))
      FTypeIndex[FTypes[i]->FName] = static_cast<int32_t>(i);
  for (size_t i = FConstants.size(); i-- > 0;)
    if (!FConstIndex.count(FConstants[i]->FName)) FConstIndex[FConstants[i]->FName] = static_cast<int32_t>(i);
}

}  // namespace ps
