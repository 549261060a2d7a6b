// Expressions: parsing into value trees, the result-type table, implicit
// conversions, constant folding and the warnings for constant Booleans.
#include <algorithm>
#include <charconv>

#include "engine/compiler/CodeGen.h"

namespace ps {

namespace {

constexpr std::string_view SIntegerOutOfRange = "Integer constant out of range";

TPSBaseType BaseOf(TPSType* t) {
  t = ResolveTypeLink(t);
  return t ? t->FBaseType : btReturnAddress;
}


bool IsSetType(TPSType* t) { return BaseOf(t) == btSet; }

}  // namespace

bool PSIsIntType(TPSType* t) {
  switch (BaseOf(t)) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32:
    case btS64: return true;
    default: return false;
  }
}
bool PSIsRealType(TPSType* t) {
  TPSBaseType b = BaseOf(t);
  return b == btSingle || b == btDouble || b == btExtended || b == btCurrency;
}
bool PSIsNumericType(TPSType* t) { return PSIsIntType(t) || PSIsRealType(t); }
bool PSIsAnsiKind(TPSType* t) {
  TPSBaseType b = BaseOf(t);
  return b == btString || b == btPChar || b == btChar;
}
bool PSIsWideKind(TPSType* t) {
  TPSBaseType b = BaseOf(t);
  return b == btWideString || b == btUnicodeString || b == btWideChar;
}
bool PSIsStringKind(TPSType* t) { return PSIsAnsiKind(t) || PSIsWideKind(t); }
bool PSIsVariantType(TPSType* t) { return BaseOf(t) == btVariant; }

bool PSSameType(TPSType* a, TPSType* b) {
  a = ResolveTypeLink(a);
  b = ResolveTypeLink(b);
  if (!a || !b) return false;
  if (a == b) return true;
  if (a->FBaseType != b->FBaseType) return false;
  switch (a->FBaseType) {
    case btRecord:
    case btArray:
    case btStaticArray:
    case btSet:
    case btClass:
    case btInterface:
    case btProcPtr:
    case btEnum:
    case btExtClass:
    case btType: return false;
    default: return true;
  }
}

TPSPascalCompilerMessage* TPSCodeGen::Error(TPSPascalCompilerErrorType e, std::string_view param) {
  return C.MakeError("", e, param);
}

TPSPascalCompilerMessage* TPSCodeGen::ErrorAt(const TPSValue* v, TPSPascalCompilerErrorType e, std::string_view param) {
  TPSPascalCompilerMessage* m = C.MakeError("", e, param);
  if (v) m->SetCustomPos(v->Position);
  return m;
}

bool TPSCodeGen::IsBool(TPSType* t) const {
  t = ResolveTypeLink(t);
  if (!t || t->FBaseType != btEnum) return false;
  return t == ResolveTypeLink(C.FDefaultBoolType) || t->FName == "BYTEBOOL" || t->FName == "WORDBOOL" ||
         t->FName == "LONGBOOL";
}

TPSValuePtr TPSCodeGen::ConstValue(const TIfRVariant& c, TPSSourcePos at) {
  auto v = std::make_unique<TPSValue>(TPSValueKind::Const);
  v->Position = at;
  v->Const = c;
  v->Type = c.FType;
  C.UseType(c.FType);
  return v;
}

TPSValuePtr TPSCodeGen::VarValue(uint32_t ref, TPSType* type) {
  auto v = std::make_unique<TPSValue>(TPSValueKind::Var);
  v->BaseRef = ref;
  v->BaseType = type;
  v->Type = type;
  C.UseType(type);
  return v;
}

// --- Precedence levels ---------------------------------------------------------------

TPSValuePtr TPSCodeGen::ParseExpression() {
  TPSValuePtr left = ParseAdditive();
  while (left) {
    TPSBinOperatorType op;
    TPSPasToken token = P.CurrTokenID();
    switch (token) {
      case CSTI_Equal: op = otEqual; break;
      case CSTI_NotEqual: op = otNotEqual; break;
      case CSTI_Greater: op = otGreater; break;
      case CSTI_GreaterEqual: op = otGreaterEqual; break;
      case CSTI_Less: op = otLess; break;
      case CSTI_LessEqual: op = otLessEqual; break;
      case CSTII_in: op = otIn; break;
      case CSTII_Is: op = otIs; break;
      default: return left;
    }
    TPSSourcePos at = P.Position();
    P.Next();
    TPSValuePtr right = ParseAdditive();
    if (!right) return nullptr;
    left = MakeBinary(op, token, std::move(left), std::move(right), at);
  }
  return left;
}

TPSValuePtr TPSCodeGen::ParseAdditive() {
  TPSValuePtr left = ParseTerm();
  while (left) {
    TPSBinOperatorType op;
    TPSPasToken token = P.CurrTokenID();
    switch (token) {
      case CSTI_Plus: op = otAdd; break;
      case CSTI_Minus: op = otSub; break;
      case CSTII_or: op = otOr; break;
      case CSTII_xor: op = otXor; break;
      default: return left;
    }
    TPSSourcePos at = P.Position();
    P.Next();
    TPSValuePtr right = ParseTerm();
    if (!right) return nullptr;
    left = MakeBinary(op, token, std::move(left), std::move(right), at);
  }
  return left;
}

TPSValuePtr TPSCodeGen::ParseTerm() {
  TPSValuePtr left = ParseFactor();
  while (left) {
    TPSBinOperatorType op;
    TPSPasToken token = P.CurrTokenID();
    switch (token) {
      case CSTI_Multiply: op = otMul; break;
      case CSTI_Divide: op = otDiv; break;
      case CSTII_div: op = otIntDiv; break;
      case CSTII_mod: op = otMod; break;
      case CSTII_and: op = otAnd; break;
      case CSTII_shl: op = otShl; break;
      case CSTII_shr: op = otShr; break;
      case CSTII_As: op = otAs; break;
      default: return left;
    }
    TPSSourcePos at = P.Position();
    P.Next();
    TPSValuePtr right = ParseFactor();
    if (!right) return nullptr;
    left = MakeBinary(op, token, std::move(left), std::move(right), at);
  }
  return left;
}

// Reads "(" e ")" for chr, ord, succ, pred and assigned.
static bool ReadParenthesised(TPSPascalParser& P, TPSPascalCompiler& C, TPSValuePtr& out,
                              const std::function<TPSValuePtr()>& parse) {
  if (P.CurrTokenID() != CSTI_OpenRound) {
    C.MakeError("", ecOpenRoundExpected, "");
    return false;
  }
  P.Next();
  out = parse();
  if (!out) return false;
  if (P.CurrTokenID() != CSTI_CloseRound) {
    C.MakeError("", ecCloseRoundExpected, "");
    return false;
  }
  P.Next();
  return true;
}

TPSValuePtr TPSCodeGen::ParseFactor() {
  TPSNestingLevel level(FactorNesting);
  if (level.Depth() > MaxExpressionNesting) {
    Error(ecCustomError, SExpressionTooComplex);
    return nullptr;
  }
  TPSValuePtr v = ParseFactorUnguarded();
  if (v && !MeasureDepth(*v)) return nullptr;
  return v;
}

bool TPSCodeGen::MeasureDepth(TPSValue& v) {
  uint32_t below = 0;
  if (v.Left) below = std::max(below, v.Left->Depth);
  if (v.Right) below = std::max(below, v.Right->Depth);
  for (const auto& a : v.Args)
    if (a) below = std::max(below, a->Depth);
  for (const auto& s : v.Selectors)
    if (s.Index) below = std::max(below, s.Index->Depth);
  v.Depth = below + 1;
  if (v.Depth <= MaxExpressionDepth) return true;
  ErrorAt(&v, ecCustomError, SExpressionTooComplex);
  return false;
}

TPSValuePtr TPSCodeGen::ParseFactorUnguarded() {
  TPSSourcePos at = P.Position();
  switch (P.CurrTokenID()) {
    case CSTI_OpenRound: {
      P.Next();
      TPSValuePtr v = ParseExpression();
      if (!v) return nullptr;
      if (P.CurrTokenID() != CSTI_CloseRound) {
        Error(ecCloseRoundExpected);
        return nullptr;
      }
      P.Next();
      return ParseSelectors(std::move(v), false);
    }
    case CSTII_not: {
      P.Next();
      TPSValuePtr v = ParseFactor();
      if (!v) return nullptr;
      return MakeUnary(otNot, std::move(v), nullptr, at);
    }
    case CSTI_Minus: {
      P.Next();
      TPSValuePtr v = ParseTerm();
      if (!v) return nullptr;
      return MakeUnary(otMinus, std::move(v), nullptr, at);
    }
    case CSTI_Plus: P.Next(); return ParseTerm();
    case CSTI_Integer:
    case CSTI_HexInt: {
      const std::string& text = P.GetToken();
      bool hex = P.CurrTokenID() == CSTI_HexInt;
      uint64_t value = 0;
      const char* first = text.data() + (hex ? 1 : 0);
      auto res = std::from_chars(first, text.data() + text.size(), value, hex ? 16 : 10);
      if (res.ec != std::errc() || res.ptr != text.data() + text.size()) {
        Error(ecCustomError, SIntegerOutOfRange);
        return nullptr;
      }
      TIfRVariant c;
      c.FInt = static_cast<int64_t>(value);
      c.FType = value <= 2147483647u ? C.FStd.LongInt : value <= 4294967295u ? C.FStd.LongWord : C.FStd.Int64;
      P.Next();
      return ConstValue(c, at);
    }
    case CSTI_Real: {
      const std::string& text = P.GetToken();
      long double value = 0;
      std::from_chars(text.data(), text.data() + text.size(), value);
      TIfRVariant c;
      c.FType = C.FStd.Extended;
      c.FReal = value;
      P.Next();
      return ConstValue(c, at);
    }
    case CSTI_String:
    case CSTI_Char: {
      TIfRVariant c;
      if (!C.ReadStringLiteral(c)) return nullptr;
      return ConstValue(c, at);
    }
    case CSTI_OpenBlock: return ParseSetConstructor();
    case CSTI_AddressOf: {
      P.Next();
      if (P.CurrTokenID() != CSTI_Identifier) {
        Error(ecIdentifierExpected);
        return nullptr;
      }
      int32_t no = C.IndexOfProcUpper(P.GetToken());
      auto* ip = no > 0 ? dynamic_cast<TPSInternalProcedure*>(C.FProcs[no].get()) : nullptr;
      if (!ip) {
        Error(ecUnknownIdentifier, P.OriginalToken());
        return nullptr;
      }
      ip->FUsed = true;
      P.Next();
      auto v = std::make_unique<TPSValue>(TPSValueKind::ProcPtr);
      v->Position = at;
      v->ProcNo = no;
      v->Decl = ip->FDecl;
      return v;
    }
    case CSTII_nil: {
      P.Next();
      auto v = std::make_unique<TPSValue>(TPSValueKind::Nil);
      v->Position = at;
      return v;
    }
    case CSTII_Chr:
    case CSTII_Ord: {
      bool isChr = P.CurrTokenID() == CSTII_Chr;
      P.Next();
      TPSValuePtr e;
      if (!ReadParenthesised(P, C, e, [&] { return ParseExpression(); })) return nullptr;
      TPSType* t = ResolveTypeLink(e->Type);
      bool ok = isChr ? PSIsIntType(t)
                      : (PSIsIntType(t) || BaseOf(t) == btChar || BaseOf(t) == btWideChar || BaseOf(t) == btEnum);
      if (!ok) {
        ErrorAt(e.get(), ecTypeMismatch);
        return nullptr;
      }
      return MakeUnary(otCast, std::move(e), isChr ? C.FStd.Char : C.FStd.LongWord, at);
    }
    case CSTI_Identifier: return ParseIdentifier(false);
    default: Error(ecSyntaxError); return nullptr;
  }
}

TPSValuePtr TPSCodeGen::ParseSetConstructor() {
  auto v = std::make_unique<TPSValue>(TPSValueKind::Array);
  v->Position = P.Position();
  P.Next();  // past "["
  if (P.CurrTokenID() == CSTI_CloseBlock) {
    P.Next();
    return v;
  }
  while (true) {
    TPSValuePtr e = ParseExpression();
    if (!e) return nullptr;
    v->Args.push_back(std::move(e));
    if (P.CurrTokenID() == CSTI_Comma) {
      P.Next();
      continue;
    }
    if (P.CurrTokenID() != CSTI_CloseBlock) {
      Error(ecCloseBlockExpected);
      return nullptr;
    }
    P.Next();
    return v;
  }
}

// --- Identifiers and selectors ------------------------------------------------------------

TPSValuePtr TPSCodeGen::WithMember(const std::string& upperName, TPSSourcePos at, bool statement, bool& consumed) {
  consumed = false;
  for (auto it = Withs.rbegin(); it != Withs.rend(); ++it) {
    TPSType* t = ResolveTypeLink(it->Type);
    if (t->FBaseType == btClass) {
      TPSCompileTimeClass* cls = static_cast<TPSClassType*>(t)->FCL;
      if (!cls || (!cls->Property_Find(upperName) && !cls->Func_Find(upperName))) continue;
      TPSValuePtr object = VarValue(it->Ref, it->Type);
      object->Position = at;
      consumed = true;
      return ClassMember(std::move(object), statement, true);
    }
    auto* rec = dynamic_cast<TPSRecordType*>(t);
    if (!rec) continue;
    int field = rec->FindField(upperName);
    if (field < 0) continue;
    TPSValuePtr v = VarValue(it->Ref, it->Type);
    v->Position = at;
    TPSSelector s;
    s.ConstIndex = static_cast<uint32_t>(field);
    s.Type = rec->FRecordSubVals[field].FType;
    v->Selectors.push_back(std::move(s));
    v->Type = rec->FRecordSubVals[field].FType;
    C.UseType(v->Type);
    return v;
  }
  return nullptr;
}

TPSValuePtr TPSCodeGen::ParseIdentifier(bool statement) {
  TPSSourcePos at = P.Position();
  std::string name = P.GetToken();
  std::string orgName = P.OriginalToken();
  bool consumed = false;
  if (TPSValuePtr w = WithMember(name, at, statement, consumed)) {
    if (!consumed) P.Next();
    if (w->Kind == TPSValueKind::PropertyTarget || w->Kind == TPSValueKind::DispatchTarget) return w;
    return ParseSelectors(std::move(w), statement);
  }
  if (consumed) return nullptr;
  bool handled = false;
  TPSValuePtr intrinsic = ParseIntrinsic(name, at, handled);
  if (handled) return intrinsic ? ParseSelectors(std::move(intrinsic), statement) : nullptr;

  TPSIdentifier id = C.FindIdentifier(name, Proc);
  TPSValuePtr v;
  switch (id.Kind) {
    case TPSIdentifierKind::Result:
      Proc->FResultUsed = true;
      v = VarValue(PSStackFrameBase - 1, id.Type);
      P.Next();
      break;
    case TPSIdentifierKind::Param: {
      if (!id.Type) {
        Error(ecTypeMismatch);
        return nullptr;
      }
      uint32_t slot = static_cast<uint32_t>(id.Index) + (Proc->FDecl.FResult ? 1 : 0);
      v = VarValue(PSStackFrameBase - 1 - slot, id.Type);
      P.Next();
      break;
    }
    case TPSIdentifierKind::Local:
      Proc->FProcVars[id.Index]->FUsed = true;
      v = VarValue(PSStackFrameBase + 1 + static_cast<uint32_t>(id.Index), id.Type);
      P.Next();
      break;
    case TPSIdentifierKind::Global: {
      TPSVar* var = C.FVars[id.Index].get();
      var->FUsed = true;
      P.Next();
      TPSType* t = ResolveTypeLink(id.Type);
      if (t && t->FName == "!NOTIFICATIONVARIANT") {
        // Reads and writes of a host-notified variable go to the host.
        TIfRVariant nameConst;
        nameConst.FType = C.FStd.AnsiString;
        nameConst.FString = var->FOrgName;
        if (statement && P.CurrTokenID() == CSTI_Assignment) {
          auto target = std::make_unique<TPSValue>(TPSValueKind::NotifyTarget);
          target->Position = at;
          target->Type = C.FStd.Variant;
          target->Left = ConstValue(nameConst, at);
          return target;
        }
        TPSRegProc* get = C.FindRegProcUpper("!NOTIFICATIONVARIANTGET");
        std::vector<TPSValuePtr> args;
        args.push_back(ConstValue(nameConst, at));
        v = MakeCall(C.UseRegProc(get), get->FDecl, std::move(args), at);
        if (!v) return nullptr;
        break;
      }
      v = VarValue(static_cast<uint32_t>(id.Index), id.Type);
      break;
    }
    case TPSIdentifierKind::Constant:
      P.Next();
      v = ConstValue(C.FConstants[id.Index]->FValue, at);
      break;
    case TPSIdentifierKind::Type: {
      P.Next();
      TPSType* type = id.Type;
      if (P.CurrTokenID() == CSTI_OpenRound) {
        P.Next();
        TPSValuePtr e = ParseExpression();
        if (!e) return nullptr;
        if (P.CurrTokenID() != CSTI_CloseRound) {
          Error(ecCloseRoundExpected);
          return nullptr;
        }
        P.Next();
        bool classes = BaseOf(e->Type) == btClass && (BaseOf(type) == btClass || BaseOf(type) == btInterface);
        if (!e->Type || (!classes && !C.IsCompatibleType(type, e->Type, true))) {
          ErrorAt(e.get(), ecTypeMismatch);
          return nullptr;
        }
        v = MakeUnary(otCast, std::move(e), type, at);
        if (!v) return nullptr;
        break;
      }
      if (P.CurrTokenID() == CSTI_Period) {
        TPSType* rt = ResolveTypeLink(type);
        TPSCompileTimeClass* cls = rt->FBaseType == btClass ? static_cast<TPSClassType*>(rt)->FCL : nullptr;
        if (!cls) {
          Error(ecClassTypeExpected);
          return nullptr;
        }
        P.Next();
        if (P.CurrTokenID() != CSTI_Identifier) {
          Error(ecIdentifierExpected);
          return nullptr;
        }
        TPSNativeClassItemConstructor* ctor = cls->ClassFunc_Find(P.GetToken());
        if (!ctor) {
          Error(ecUnknownIdentifier, P.OriginalToken());
          return nullptr;
        }
        P.Next();
        std::vector<TPSValuePtr> args;
        if (P.CurrTokenID() == CSTI_OpenRound && !ReadArguments(args, CSTI_CloseRound)) return nullptr;
        C.UseType(rt);
        TIfRVariant typeNo;
        typeNo.FType = C.FStd.LongWord;
        typeNo.FInt = rt->FFinalTypeNo;
        args.insert(args.begin(), ConstValue(typeNo, at));
        TPSParametersDecl decl = ctor->FDecl;
        TPSParameterDecl self;
        self.FName = "SELF";
        self.FType = C.FStd.LongWord;
        decl.FParams.insert(decl.FParams.begin(), self);
        decl.FResult = type;
        v = MakeCall((ctor->FOwner ? ctor->FOwner : cls)->ClassFunc_Call(ctor), decl, std::move(args), at);
        if (!v) return nullptr;
        break;
      }
      C.UseType(type);
      v = std::make_unique<TPSValue>(TPSValueKind::TypeRef);
      v->Type = type;
      v->Const.FInt = ResolveTypeLink(type)->FFinalTypeNo;
      break;
    }
    case TPSIdentifierKind::Proc: {
      auto* ip = static_cast<TPSInternalProcedure*>(C.FProcs[id.Index].get());
      ip->FUsed = true;
      P.Next();
      std::vector<TPSValuePtr> args;
      bool bare = P.CurrTokenID() != CSTI_OpenRound;
      if (!bare && !ReadArguments(args, CSTI_CloseRound)) return nullptr;
      if (bare && !statement && !ip->FDecl.FParams.empty()) {
        // Not a call without its arguments: the routine as a procedural value.
        v = std::make_unique<TPSValue>(TPSValueKind::ProcPtr);
        v->ProcNo = id.Index;
        v->Decl = ip->FDecl;
        v->Bare = true;
        break;
      }
      v = MakeCall(id.Index, ip->FDecl, std::move(args), at);
      if (v) v->Bare = bare;
      break;
    }
    case TPSIdentifierKind::RegProc: {
      P.Next();
      std::vector<TPSValuePtr> args;
      if (P.CurrTokenID() == CSTI_OpenRound && !ReadArguments(args, CSTI_CloseRound)) return nullptr;
      TPSRegProc* reg = id.RegProc;
      if ((reg->FName == "INC" || reg->FName == "DEC") && args.size() == 2) {
        // Inc(x, n) and Dec(x, n): x := x + n, checked like an assignment.
        if (args[0]->Kind != TPSValueKind::Var) {
          ErrorAt(args[0].get(), ecVariableExpected);
          return nullptr;
        }
        auto call = std::make_unique<TPSValue>(TPSValueKind::IncDec);
        call->Position = at;
        call->Op = reg->FName == "INC" ? otAdd : otSub;
        call->Args = std::move(args);
        if (!PSIsIntType(call->Args[0]->Type) || !PSIsIntType(call->Args[1]->Type)) {
          ErrorAt(call->Args[1].get(), ecTypeMismatch);
          return nullptr;
        }
        return call;
      }
      if ((reg->FName == "LOW" || reg->FName == "HIGH") && args.size() == 1 &&
          (args[0]->Kind == TPSValueKind::TypeRef || BaseOf(args[0]->Type) == btEnum)) {
        // Low(T) and High(T) of a type are its bounds, known here; so are
        // those of an enumeration value, whose slot does not say its type.
        TPSType* t = ResolveTypeLink(args[0]->Type);
        int64_t low = 0, high = 0;
        switch (t->FBaseType) {
          case btU8:
          case btChar: high = 255; break;
          case btS8: low = -128, high = 127; break;
          case btU16:
          case btWideChar: high = 65535; break;
          case btS16: low = -32768, high = 32767; break;
          case btU32: high = 4294967295ll; break;
          case btS32: low = INT32_MIN, high = INT32_MAX; break;
          case btS64: low = INT64_MIN, high = INT64_MAX; break;
          case btEnum: high = static_cast<TPSEnumType*>(t)->FHighValue; break;
          case btStaticArray:
            low = static_cast<TPSStaticArrayType*>(t)->FStartOffset;
            high = low + static_cast<int64_t>(static_cast<TPSStaticArrayType*>(t)->FLength) - 1;
            break;
          default: ErrorAt(args[0].get(), ecTypeMismatch); return nullptr;
        }
        TIfRVariant c;
        c.FType = C.FStd.Int64;
        c.FInt = reg->FName == "LOW" ? low : high;
        v = ConstValue(c, at);
        break;
      }
      v = MakeCall(C.UseRegProc(reg), reg->FDecl, std::move(args), at);
      if (v && (reg->FName == "INC" || reg->FName == "DEC")) {
        TPSType* t = v->Args.empty() ? nullptr : v->Args[0]->Type;
        if (!PSIsIntType(t) && BaseOf(t) != btVariant && BaseOf(t) != btEnum && BaseOf(t) != btChar &&
            BaseOf(t) != btWideChar) {
          ErrorAt(v->Args[0].get(), ecTypeMismatch);
          return nullptr;
        }
        if (PSIsIntType(t)) {
          // An integer steps by one instruction; the routine is left in the
          // module's imports all the same.
          v->Kind = TPSValueKind::IncDec;
          v->Op = reg->FName == "INC" ? otAdd : otSub;
        }
      }
      break;
    }
    case TPSIdentifierKind::None:
    default: Error(ecUnknownIdentifier, orgName); return nullptr;
  }
  if (!v) return nullptr;
  if (v->Kind != TPSValueKind::Const) v->Position = at;
  return ParseSelectors(std::move(v), statement);
}

TPSValuePtr TPSCodeGen::ParseIntrinsic(const std::string& name, TPSSourcePos at, bool& handled) {
  handled = false;
  if (name != "SUCC" && name != "PRED" && name != "ASSIGNED") return nullptr;
  // A script's own declaration of the name wins.
  TPSIdentifier id = C.FindIdentifier(name, Proc);
  if (id.Kind != TPSIdentifierKind::None) return nullptr;
  handled = true;
  P.Next();
  TPSValuePtr e;
  if (!ReadParenthesised(P, C, e, [&] { return ParseExpression(); })) return nullptr;
  if (name == "ASSIGNED") return AssignedCall(std::move(e), at);
  TPSType* t = e->Type;
  if (!PSIsIntType(t) && BaseOf(t) != btEnum) {
    ErrorAt(e.get(), ecTypeMismatch);
    return nullptr;
  }
  TIfRVariant one;
  one.FType = C.FStd.LongInt;
  one.FInt = 1;
  if (BaseOf(t) == btEnum) {
    // Computed on the ordinal, then cast back to the enumeration.
    TPSValuePtr ord = MakeUnary(otCast, std::move(e), C.FStd.LongInt, at);
    if (!ord) return nullptr;
    TPSValuePtr sum = MakeBinary(name == "SUCC" ? otAdd : otSub, name == "SUCC" ? CSTI_Plus : CSTI_Minus,
                                 std::move(ord), ConstValue(one, at), at);
    if (!sum) return nullptr;
    return MakeUnary(otCast, std::move(sum), t, at);
  }
  return MakeBinary(name == "SUCC" ? otAdd : otSub, name == "SUCC" ? CSTI_Plus : CSTI_Minus, std::move(e),
                    ConstValue(one, at), at);
}

TPSValuePtr TPSCodeGen::AssignedCall(TPSValuePtr e, TPSSourcePos at) {
  TPSBaseType b = BaseOf(e->Type);
  if (e->Kind != TPSValueKind::Var || (b != btClass && b != btPChar && b != btString && b != btInterface &&
                                       b != btProcPtr && b != btArray && b != btUnicodeString && b != btWideString)) {
    ErrorAt(e.get(), ecTypeMismatch);
    return nullptr;
  }
  TPSRegProc* reg = C.FindRegProcUpper("!ASSIGNED");
  auto call = std::make_unique<TPSValue>(TPSValueKind::Call);
  call->Position = at;
  call->ProcNo = C.UseRegProc(reg);
  call->Decl = reg->FDecl;
  call->Type = C.FDefaultBoolType;
  // The value is passed as it is; the routine tests it for nil or empty.
  call->ArgTypes.push_back(e->Type);
  call->Args.push_back(std::move(e));
  return call;
}

bool TPSCodeGen::ReadArguments(std::vector<TPSValuePtr>& args, TPSPasToken close) {
  P.Next();  // past "(" or "["
  if (P.CurrTokenID() == close) {
    P.Next();
    return true;
  }
  while (true) {
    TPSValuePtr a = ParseExpression();
    if (!a) return false;
    args.push_back(std::move(a));
    if (P.CurrTokenID() == CSTI_Comma) {
      P.Next();
      continue;
    }
    if (P.CurrTokenID() != close) {
      Error(close == CSTI_CloseRound ? ecCloseRoundExpected : ecCloseBlockExpected);
      return false;
    }
    P.Next();
    return true;
  }
}

TPSValuePtr TPSCodeGen::IndexString(TPSValuePtr base, TPSValuePtr index, TPSSourcePos at) {
  TPSBaseType b = BaseOf(base->Type);
  bool byRef = base->Kind == TPSValueKind::Var;
  bool ansi = b == btString || b == btPChar;
  TPSType* result = ansi ? C.FStd.Char : b == btVariant ? C.FStd.Variant : C.FStd.WideChar;
  // A variable is read in place; a value that is not one (a call's result,
  // a property) is passed as it is to the read-only character access, which
  // takes either string width.
  std::string_view procName = b == btVariant ? "VARARRAYGET" : !byRef ? "STRGET2" : ansi ? "STRGET" : "WSTRGET";
  TPSRegProc* reg = C.FindRegProcUpper(procName);
  if (!reg) {
    Error(ecUnknownIdentifier, "StrGet");
    return nullptr;
  }
  auto call = std::make_unique<TPSValue>(TPSValueKind::Call);
  call->Position = at;
  call->ProcNo = C.UseRegProc(reg);
  call->Decl = reg->FDecl;
  if (!byRef) call->Decl.FParams[0].FMode = pmIn;
  call->Type = result;
  C.UseType(result);
  call->ArgTypes = {base->Type, C.FStd.LongInt};
  call->Args.push_back(std::move(base));
  call->Args.push_back(std::move(index));
  return call;
}

TPSValuePtr TPSCodeGen::ParseSelectors(TPSValuePtr v, bool statement) {
  while (v) {
    TPSType* t = ResolveTypeLink(v->Type);
    TPSBaseType b = BaseOf(t);
    TPSSourcePos at = P.Position();
    if (P.CurrTokenID() == CSTI_Period && b == btRecord && v->Kind == TPSValueKind::Var) {
      P.Next();
      if (P.CurrTokenID() != CSTI_Identifier) {
        Error(ecIdentifierExpected);
        return nullptr;
      }
      auto* rec = static_cast<TPSRecordType*>(t);
      int field = rec->FindField(P.GetToken());
      if (field < 0) {
        Error(ecUnknownIdentifier, P.OriginalToken());
        return nullptr;
      }
      P.Next();
      TPSSelector s;
      s.ConstIndex = static_cast<uint32_t>(field);
      s.Type = rec->FRecordSubVals[field].FType;
      v->Type = s.Type;
      v->Selectors.push_back(std::move(s));
      continue;
    }
    if (P.CurrTokenID() == CSTI_OpenBlock && (b == btArray || b == btStaticArray) && v->Kind == TPSValueKind::Var) {
      P.Next();
      while (true) {
        TPSType* at = ResolveTypeLink(v->Type);
        if (BaseOf(at) != btArray && BaseOf(at) != btStaticArray) {
          Error(ecCloseBlockExpected);
          return nullptr;
        }
        TPSValuePtr index = ParseExpression();
        if (!index) return nullptr;
        if (!PSIsIntType(index->Type) && BaseOf(index->Type) != btEnum && BaseOf(index->Type) != btVariant) {
          ErrorAt(index.get(), ecTypeMismatch);
          return nullptr;
        }
        TPSSelector s;
        s.Type = static_cast<TPSArrayType*>(at)->FArrayTypeNo;
        int32_t low = at->FBaseType == btStaticArray ? static_cast<TPSStaticArrayType*>(at)->FStartOffset : 0;
        if (index->Kind == TPSValueKind::Const) {
          int64_t i = index->Const.FInt - low;
          if (at->FBaseType == btStaticArray &&
              (i < 0 || i >= static_cast<int64_t>(static_cast<TPSStaticArrayType*>(at)->FLength))) {
            ErrorAt(index.get(), ecCustomError, "Index out of range");
            return nullptr;
          }
          s.ConstIndex = static_cast<uint32_t>(i);
        } else {
          s.Index = std::move(index);
          s.LowBound = low;
        }
        v->Type = s.Type;
        C.UseType(s.Type);
        v->Selectors.push_back(std::move(s));
        if (P.CurrTokenID() == CSTI_Comma) {
          P.Next();
          continue;
        }
        break;
      }
      if (P.CurrTokenID() != CSTI_CloseBlock) {
        Error(ecCloseBlockExpected);
        return nullptr;
      }
      P.Next();
      continue;
    }
    if (P.CurrTokenID() == CSTI_OpenBlock &&
        (b == btString || b == btPChar || b == btWideString || b == btUnicodeString || b == btVariant)) {
      P.Next();
      TPSValuePtr index = ParseExpression();
      if (!index) return nullptr;
      if (!PSIsIntType(index->Type) && BaseOf(index->Type) != btVariant) {
        ErrorAt(index.get(), ecTypeMismatch);
        return nullptr;
      }
      if (P.CurrTokenID() != CSTI_CloseBlock) {
        Error(ecCloseBlockExpected);
        return nullptr;
      }
      P.Next();
      if (statement && P.CurrTokenID() == CSTI_Assignment) {
        if (v->Kind != TPSValueKind::Var) {
          ErrorAt(v.get(), ecVariableExpected);
          return nullptr;
        }
        // A character assignment target; the statement calls the setter.
        auto target = std::make_unique<TPSValue>(TPSValueKind::CharTarget);
        target->Position = v->Position;
        target->Type = b == btString || b == btPChar ? C.FStd.Char : b == btVariant ? C.FStd.Variant : C.FStd.WideChar;
        target->Left = std::move(v);
        target->Right = std::move(index);
        return target;
      }
      v = IndexString(std::move(v), std::move(index), at);
      continue;
    }
    if (P.CurrTokenID() == CSTI_OpenRound && b == btProcPtr) {
      std::vector<TPSValuePtr> args;
      if (!ReadArguments(args, CSTI_CloseRound)) return nullptr;
      TPSParametersDecl decl = static_cast<TPSProceduralType*>(t)->FProcDef;
      v = MakeValueCall(std::move(v), decl, std::move(args), at);
      continue;
    }
    if ((P.CurrTokenID() == CSTI_Period || P.CurrTokenID() == CSTI_OpenBlock) && b == btClass) {
      v = ClassMember(std::move(v), statement);
      if (v && v->Kind == TPSValueKind::PropertyTarget) return v;
      continue;
    }
    if (P.CurrTokenID() == CSTI_Period && b == btVariant) {
      v = VariantMember(std::move(v), statement);
      if (v && v->Kind == TPSValueKind::DispatchTarget) return v;
      continue;
    }
    if (P.CurrTokenID() == CSTI_Period && b == btInterface) {
      P.Next();
      if (P.CurrTokenID() != CSTI_Identifier) {
        Error(ecIdentifierExpected);
        return nullptr;
      }
      TPSInterface* intf = static_cast<TPSInterfaceType*>(t)->FIntf;
      TPSInterfaceMethod* m = intf ? intf->Func_Find(P.GetToken()) : nullptr;
      if (!m) {
        Error(ecUnknownIdentifier, P.OriginalToken());
        return nullptr;
      }
      P.Next();
      std::vector<TPSValuePtr> args;
      if (P.CurrTokenID() == CSTI_OpenRound && !ReadArguments(args, CSTI_CloseRound)) return nullptr;
      if (m->FScriptProcNo < 0) {
        // Interface methods are called by their slot in the method table.
        std::string text = "intf:." + std::to_string(m->FMethodNo);
        text.push_back(static_cast<char>(m->FCC));
        text.push_back(m->FDecl.FResult ? 1 : 0);
        for (auto& prm : m->FDecl.FParams) text.push_back(prm.FMode == pmIn ? 0 : 1);
        m->FScriptProcNo = C.AddUsedFunctionImport(text, m->FDecl);
      }
      TPSParametersDecl decl = m->FDecl;
      TPSParameterDecl self;
      self.FName = "SELF";
      self.FType = v->Type;
      decl.FParams.insert(decl.FParams.begin(), self);
      args.insert(args.begin(), std::move(v));
      v = MakeCall(m->FScriptProcNo, decl, std::move(args), at);
      continue;
    }
    return v;
  }
  return v;
}

// --- Calls ---------------------------------------------------------------------------------

TPSValuePtr TPSCodeGen::MakeCall(int32_t procNo, const TPSParametersDecl& decl, std::vector<TPSValuePtr> args,
                                 TPSSourcePos at) {
  auto call = std::make_unique<TPSValue>(TPSValueKind::Call);
  call->ProcNo = procNo;
  return BindArguments(std::move(call), decl, std::move(args), at);
}

TPSValuePtr TPSCodeGen::MakeValueCall(TPSValuePtr procVal, const TPSParametersDecl& decl, std::vector<TPSValuePtr> args,
                                      TPSSourcePos at) {
  auto call = std::make_unique<TPSValue>(TPSValueKind::CallValue);
  call->Left = std::move(procVal);
  return BindArguments(std::move(call), decl, std::move(args), at);
}

TPSValuePtr TPSCodeGen::BindArguments(TPSValuePtr call, const TPSParametersDecl& decl, std::vector<TPSValuePtr> args,
                                      TPSSourcePos at) {
  if (args.size() != decl.FParams.size()) {
    C.MakeError("", ecInvalidnumberOfParameters, "")->SetCustomPos(at);
    return nullptr;
  }
  call->Position = at;
  call->Decl = decl;
  TPSType* anyStringType = nullptr;
  for (size_t i = 0; i < args.size(); ++i) {
    const TPSParameterDecl& p = decl.FParams[i];
    TPSValuePtr& a = args[i];
    TPSType* pt = p.FType;
    TPSType* passed = pt;
    if (p.FMode != pmIn) {
      if (a->Kind != TPSValueKind::Var) {
        ErrorAt(a.get(), ecVariableExpected);
        return nullptr;
      }
      if (!pt || pt == C.FAnyString) {
        if (pt == C.FAnyString && !PSIsStringKind(a->Type)) {
          ErrorAt(a.get(), ecTypeMismatch);
          return nullptr;
        }
        passed = a->Type;
      } else if (!PSSameType(pt, a->Type)) {
        ErrorAt(a.get(), ecTypeMismatch);
        return nullptr;
      }
    } else if (!pt) {
      if (!a->Type || a->Kind == TPSValueKind::Array || a->Kind == TPSValueKind::Nil) {
        ErrorAt(a.get(), ecTypeMismatch);
        return nullptr;
      }
      passed = a->Type;
      if (a->Kind == TPSValueKind::TypeRef) passed = C.FStd.LongWord;
    } else if (pt == C.FAnyString) {
      if (!PSIsStringKind(a->Type)) {
        ErrorAt(a.get(), ecTypeMismatch);
        return nullptr;
      }
      TPSBaseType ab = BaseOf(a->Type);
      passed = ab == btChar ? C.FStd.AnsiString : ab == btWideChar ? C.FStd.UnicodeString : a->Type;
    } else if (!Coerce(a, pt)) {
      return nullptr;
    }
    if (pt == C.FAnyString && !anyStringType) anyStringType = passed;
    C.UseType(passed);
    call->ArgTypes.push_back(passed);
  }
  call->Args = std::move(args);
  call->Type = decl.FResult == C.FAnyString ? anyStringType : decl.FResult;
  C.UseType(call->Type);
  return call;
}

// --- Operations ----------------------------------------------------------------------------

TPSValuePtr TPSCodeGen::MakeUnary(TPSUnOperatorType op, TPSValuePtr v, TPSType* type, TPSSourcePos at) {
  TPSType* t = ResolveTypeLink(v->Type);
  if (op == otNot) {
    if (!IsBool(t) && !PSIsIntType(t) && BaseOf(t) != btVariant) {
      C.MakeError("", ecTypeMismatch, "")->SetCustomPos(at);
      return nullptr;
    }
    type = v->Type;
    if (v->Kind == TPSValueKind::Const && BaseOf(t) != btVariant) {
      if (IsBool(t)) {
        v->Const.FInt = v->Const.FInt ? 0 : 1;
      } else {
        TIfRVariant c = v->Const;
        c.FInt = ~c.FInt;
        C.ConvertConstant(c, v->Type);
        v->Const = c;
      }
      v->Position = at;
      return v;
    }
  } else if (op == otMinus) {
    if (!PSIsNumericType(t) && BaseOf(t) != btVariant) {
      C.MakeError("", ecTypeMismatch, "")->SetCustomPos(at);
      return nullptr;
    }
    type = v->Type;
    if (v->Kind == TPSValueKind::Const && BaseOf(t) != btVariant) {
      if (PSIsIntType(t)) {
        TIfRVariant c = v->Const;
        c.FInt = static_cast<int64_t>(0 - static_cast<uint64_t>(c.FInt));
        C.ConvertConstant(c, v->Type);
        v->Const = c;
      } else {
        v->Const.FReal = -v->Const.FReal;
      }
      v->Position = at;
      return v;
    }
  } else if (BaseOf(t) == btClass && (BaseOf(type) == btClass || BaseOf(type) == btInterface) &&
             ResolveTypeLink(type) != t) {
    // Between class types the host class converts (and checks) the object.
    TPSCompileTimeClass* cls = static_cast<TPSClassType*>(t)->FCL;
    int32_t procNo = cls ? cls->CastToType(type) : -1;
    if (procNo < 0) {
      C.MakeError("", ecTypeMismatch, "")->SetCustomPos(at);
      return nullptr;
    }
    C.UseType(type);
    TIfRVariant typeNo;
    typeNo.FType = C.FStd.LongWord;
    typeNo.FInt = ResolveTypeLink(type)->FFinalTypeNo;
    TPSParametersDecl decl;
    decl.AddParam("Org", pmIn, v->Type);
    decl.AddParam("TypeNo", pmIn, C.FStd.LongWord);
    decl.FResult = type;
    std::vector<TPSValuePtr> args;
    args.push_back(std::move(v));
    args.push_back(ConstValue(typeNo, at));
    return MakeCall(procNo, decl, std::move(args), at);
  } else if (v->Kind == TPSValueKind::Const) {
    // Casts fold between the integer types, characters and enumerations.
    TPSBaseType from = BaseOf(t), to = BaseOf(type);
    auto ordinal = [](TPSBaseType b) {
      return b == btU8 || b == btS8 || b == btU16 || b == btS16 || b == btU32 || b == btS32 || b == btS64 ||
             b == btChar || b == btWideChar || b == btEnum;
    };
    if (ordinal(from) && ordinal(to)) {
      TIfRVariant c = v->Const;
      c.FType = C.FStd.Int64;
      C.ConvertConstant(c, type);
      v->Const = c;
      v->Type = type;
      C.UseType(type);
      return v;
    }
  }
  auto u = std::make_unique<TPSValue>(TPSValueKind::Unary);
  u->Position = at;
  u->Op = op;
  u->Type = type;
  C.UseType(type);
  u->Left = std::move(v);
  return u;
}

TPSType* TPSCodeGen::IntResultType(TPSValue* l, TPSValue* r) {
  // A constant beside a variable takes the variable's type when its value
  // fits, so that c + 1 on a Cardinal stays a Cardinal operation.
  auto fits = [](const TPSValue* k, TPSType* t) {
    int64_t v = k->Const.FInt;
    switch (BaseOf(t)) {
      case btU8: return v >= 0 && v <= 255;
      case btS8: return v >= -128 && v <= 127;
      case btU16: return v >= 0 && v <= 65535;
      case btS16: return v >= -32768 && v <= 32767;
      case btU32: return v >= 0 && v <= 4294967295ll;
      case btS32: return v >= INT32_MIN && v <= INT32_MAX;
      default: return true;
    }
  };
  bool lc = l->Kind == TPSValueKind::Const, rc = r->Kind == TPSValueKind::Const;
  if (lc && !rc && fits(l, r->Type)) return ArithmeticIntType(C, r->Type, r->Type);
  if (rc && !lc && fits(r, l->Type)) return ArithmeticIntType(C, l->Type, l->Type);
  return ArithmeticIntType(C, l->Type, r->Type);
}

TPSType* TPSCodeGen::BinaryResultType(TPSBinOperatorType op, TPSValue* l, TPSValue* r) {
  TPSType* L = ResolveTypeLink(l->Type);
  TPSType* R = ResolveTypeLink(r->Type);
  bool lNil = l->Kind == TPSValueKind::Nil, rNil = r->Kind == TPSValueKind::Nil;
  if (lNil || rNil) {
    TPSType* other = lNil ? R : L;
    TPSBaseType b = BaseOf(other);
    if ((op == otEqual || op == otNotEqual) &&
        (b == btString || b == btPChar || b == btProcPtr || b == btClass || b == btInterface))
      return C.FDefaultBoolType;
    return nullptr;
  }
  if (!L || !R || l->Kind == TPSValueKind::TypeRef || r->Kind == TPSValueKind::TypeRef) return nullptr;
  bool lv = PSIsVariantType(L), rv = PSIsVariantType(R);
  bool li = PSIsIntType(L), ri = PSIsIntType(R);
  bool ln = PSIsNumericType(L), rn = PSIsNumericType(R);
  TPSType* numResult = PSIsRealType(L) ? l->Type : r->Type;
  switch (op) {
    case otAdd:
      if (lv && (rv || rn || PSIsStringKind(R))) return l->Type;
      if (rv && (ln || PSIsStringKind(L))) return r->Type;
      if (IsSetType(L) && L == R) return l->Type;
      if (li && ri) return IntResultType(l, r);
      if (ln && rn) return numResult;
      if (PSIsAnsiKind(L) && PSIsAnsiKind(R)) return C.FStd.AnsiString;
      // Mixed widths give a wide string; keeping the wide operand's own type
      // (String stays String) lets s := s + 'x' append in place.
      if (PSIsStringKind(L) && PSIsStringKind(R)) {
        if (BaseOf(L) == btUnicodeString || BaseOf(L) == btWideString) return l->Type;
        if (BaseOf(R) == btUnicodeString || BaseOf(R) == btWideString) return r->Type;
        return C.FindTypeUpper("WIDESTRING");
      }
      return nullptr;
    case otSub:
    case otMul:
      if (lv && (rv || rn)) return l->Type;
      if (rv && ln) return r->Type;
      if (IsSetType(L) && L == R) return l->Type;
      if (li && ri) return IntResultType(l, r);
      if (ln && rn) return numResult;
      return nullptr;
    case otDiv:
    case otIntDiv:
      if (lv && (rv || rn)) return l->Type;
      if (rv && ln) return r->Type;
      if (li && ri) return IntResultType(l, r);
      if (ln && rn) return numResult;
      return nullptr;
    case otMod:
      if (li && ri) return IntResultType(l, r);
      if (lv && (rv || ri)) return l->Type;
      if (rv && li) return r->Type;
      return nullptr;
    case otShl:
    case otShr:
      // A shift keeps the shifted value's type whatever the count's.
      if (li && ri) return l->Type;
      if (lv && (rv || ri)) return l->Type;
      if (rv && li) return r->Type;
      return nullptr;
    case otAnd:
    case otOr:
    case otXor:
      if (li && ri) return IntResultType(l, r);
      if (lv && (rv || ri || IsBool(R))) return l->Type;
      if (rv && (li || IsBool(L))) return r->Type;
      if (IsBool(L) && L == R) return l->Type;
      return nullptr;
    case otGreaterEqual:
    case otLessEqual:
    case otGreater:
    case otLess:
    case otEqual:
    case otNotEqual: {
      bool ok = (lv && (rv || rn || PSIsStringKind(R))) || (rv && (ln || PSIsStringKind(L))) || (ln && rn) ||
                (PSIsStringKind(L) && PSIsStringKind(R));
      if (!ok && (op == otGreaterEqual || op == otLessEqual || op == otEqual || op == otNotEqual))
        ok = IsSetType(L) && L == R;
      if (!ok && (op == otEqual || op == otNotEqual)) {
        ok = (BaseOf(L) == btEnum && L == R) || (BaseOf(L) == btClass && BaseOf(R) == btClass) || L == R ||
             PSSameType(L, R);
      }
      return ok ? C.FDefaultBoolType : nullptr;
    }
    default: return nullptr;
  }
}

bool TPSCodeGen::Coerce(TPSValuePtr& v, TPSType* target, bool report) {
  TPSType* t = ResolveTypeLink(target);
  auto fail = [&] {
    if (report) ErrorAt(v.get(), ecTypeMismatch);
    return false;
  };
  if (!t) return fail();
  switch (v->Kind) {
    case TPSValueKind::Array: {
      if (t->FBaseType == btSet) {
        auto* set = static_cast<TPSSetType*>(t);
        TIfRVariant c;
        c.FType = target;
        c.FString.assign(set->ByteSize(), '\0');
        for (auto& e : v->Args) {
          if (e->Kind != TPSValueKind::Const || !C.IsCompatibleType(set->FSetType, e->Type, false)) {
            if (report) ErrorAt(e.get(), ecTypeMismatch);
            return false;
          }
          int64_t bit = e->Const.FInt;
          if (bit < 0 || bit >= static_cast<int64_t>(set->BitSize())) {
            if (report) ErrorAt(e.get(), ecTypeMismatch);
            return false;
          }
          c.FString[bit / 8] = static_cast<char>(c.FString[bit / 8] | (1 << (bit % 8)));
        }
        TPSSourcePos at = v->Position;
        v = ConstValue(c, at);
        return true;
      }
      if (t->FBaseType == btArray) {
        TPSType* elem = static_cast<TPSArrayType*>(t)->FArrayTypeNo;
        for (auto& e : v->Args)
          if (!Coerce(e, elem, report)) return false;
        v->Type = target;
        C.UseType(target);
        return true;
      }
      return fail();
    }
    case TPSValueKind::ProcPtr: {
      if (t->FBaseType != btProcPtr && v->Bare) {
        // Where no procedural value is wanted the name was a call without its arguments.
        if (report) ErrorAt(v.get(), ecInvalidnumberOfParameters);
        return false;
      }
      // The value is called through the target's declaration, so the
      // routine must take and give exactly what that declaration says.
      if (t->FBaseType != btProcPtr || !v->Decl.Same(static_cast<TPSProceduralType*>(t)->FProcDef)) return fail();
      TIfRVariant c;
      c.FType = target;
      c.FInt = v->ProcNo;
      TPSSourcePos at = v->Position;
      v = ConstValue(c, at);
      return true;
    }
    case TPSValueKind::Nil: {
      TPSBaseType b = t->FBaseType;
      if (b == btString || b == btPChar || b == btWideString || b == btUnicodeString) {
        TIfRVariant c;
        c.FType = C.FStd.AnsiString;
        v = ConstValue(c, v->Position);
        return true;
      }
      if (b == btClass || b == btInterface || b == btProcPtr || b == btPointer || b == btArray) {
        v->Type = target;
        C.UseType(target);
        return true;
      }
      return fail();
    }
    case TPSValueKind::TypeRef: return fail();
    default:
      if (v->Kind == TPSValueKind::Call && v->Bare && t->FBaseType == btProcPtr &&
          !(v->Type && C.IsCompatibleType(target, v->Type, false))) {
        // A routine named without arguments where a procedural value is
        // wanted (and its result is not one) stands for its address, as
        // `@Name` does.
        auto addr = std::make_unique<TPSValue>(TPSValueKind::ProcPtr);
        addr->Position = v->Position;
        addr->ProcNo = v->ProcNo;
        addr->Decl = v->Decl;
        v = std::move(addr);
        return Coerce(v, target, report);
      }
      if (v->IsCall() && !v->Type) {
        if (report) ErrorAt(v.get(), ecNoResult);
        return false;
      }
      if (!v->Type || !C.IsCompatibleType(target, v->Type, false)) return fail();
      return true;
  }
}

TPSValuePtr TPSCodeGen::MakeBinary(TPSBinOperatorType op, TPSPasToken token, TPSValuePtr l, TPSValuePtr r,
                                   TPSSourcePos at) {
  if (!l || !r) return nullptr;
  for (TPSValue* side : {l.get(), r.get()}) {
    if (side->IsCall() && !side->Type) {
      ErrorAt(side, ecNoResult);
      return nullptr;
    }
  }
  auto mismatch = [&]() -> TPSValuePtr {
    C.MakeError("", ecTypeMismatch, "")->SetCustomPos(at);
    return nullptr;
  };
  auto node = std::make_unique<TPSValue>(TPSValueKind::Binary);
  node->Position = l->Position;
  node->Op = op;
  if (op == otAs) {
    if (r->Kind != TPSValueKind::TypeRef || BaseOf(r->Type) != btClass || BaseOf(l->Type) != btClass) return mismatch();
    return MakeUnary(otCast, std::move(l), r->Type, at);
  }
  if (op == otIs) {
    if (r->Kind != TPSValueKind::TypeRef || BaseOf(r->Type) != btClass || BaseOf(l->Type) != btClass) return mismatch();
    TIfRVariant c;
    c.FType = C.FStd.LongWord;
    c.FInt = r->Const.FInt;
    r = ConstValue(c, r->Position);
    node->Type = C.FDefaultBoolType;
  } else if (op == otIn) {
    if (r->Kind == TPSValueKind::Array) {
      TPSType* variants = C.FindTypeUpper("TVARIANTARRAY");
      if (!Coerce(r, variants, false)) return mismatch();
    } else if (!IsSetType(r->Type) ||
               !C.IsCompatibleType(static_cast<TPSSetType*>(ResolveTypeLink(r->Type))->FSetType, l->Type, false)) {
      return mismatch();
    }
    node->Type = C.FDefaultBoolType;
  } else {
    if (l->Kind == TPSValueKind::Array && IsSetType(r->Type) && !Coerce(l, r->Type, false)) return mismatch();
    if (r->Kind == TPSValueKind::Array && IsSetType(l->Type) && !Coerce(r, l->Type, false)) return mismatch();
    if (l->Kind == TPSValueKind::Nil && r->Type) Coerce(l, r->Type, false);
    node->Type = BinaryResultType(op, l.get(), r.get());
    if (!node->Type) return mismatch();
    if (r->Kind == TPSValueKind::Nil) Coerce(r, l->Type, false);
  }
  C.UseType(node->Type);

  // Constant Boolean operands make the operation pointless or constant.
  if ((op == otAnd || op == otOr) && IsBool(l->Type) && IsBool(r->Type)) {
    bool rightConst = r->Kind == TPSValueKind::Const, leftConst = l->Kind == TPSValueKind::Const;
    if (rightConst || leftConst) {
      bool value = (rightConst ? r->Const.FInt : l->Const.FInt) != 0;
      std::string word = value ? "True" : "False";
      std::string opWord = op == otAnd ? "and" : "or";
      TPSPascalCompilerMessage* m;
      if ((op == otAnd) == value) {
        std::string text = rightConst ? opWord + " " + word : word + " " + opWord;
        m = C.MakeWarning("", ewIsNotNeeded, "\"" + text + "\"");
      } else {
        m = C.MakeWarning("", ewCalculationAlwaysEvaluatesTo, word);
      }
      m->SetCustomPos(l->Position);
    }
  }

  // Fold operations on constants of the kinds the folder knows.
  auto foldable = [&](TPSValue* v) {
    if (v->Kind != TPSValueKind::Const) return false;
    TPSBaseType b = BaseOf(v->Type);
    return b != btSet && b != btVariant && b != btProcPtr && b != btClass && b != btPointer;
  };
  if (foldable(l.get()) && foldable(r.get()) && op != otIn && op != otIs) {
    TIfRVariant left = l->Const;
    if (!C.FoldBinary(left, r->Const, token, at)) return nullptr;
    return ConstValue(left, l->Position);
  }
  node->Left = std::move(l);
  node->Right = std::move(r);
  if (!MeasureDepth(*node)) return nullptr;
  return node;
}

}  // namespace ps
