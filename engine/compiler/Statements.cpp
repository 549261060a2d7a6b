// Statements: blocks, assignments and calls, the control structures, try
// blocks, jumps with their cleanup, and the debug records written as code
// is generated.
#include "engine/compiler/CodeGen.h"

namespace ps {

namespace {

// Where each jump's offset is written and where its instruction ends.
struct TJumpSite {
  uint32_t Pos, End;
};

}  // namespace

// An error is reported with the position just past the failing instruction.
// When a statement's last instruction can fail, a no-op keeps that position
// inside the statement instead of on the next statement's first byte.
void TPSCodeGen::DebugPos() {
  if (Here() > 0 && LastOpStart < Here()) {
    switch (LastOp) {
      case OpPop:
      case OpPushType:
      case OpJump:
      case OpJumpIfTrue:
      case OpJumpIfFalse:
      case OpSetFlag:
      case OpPopJump:
      case OpPop2Jump:
      case OpJumpIfFlag:
      case OpNop:
      case OpReturn: break;
      default: EmitOp(OpNop);
    }
  }
  C.WriteDebugPosition(Proc, ProcNo);
}

bool TPSPascalCompiler::ProcessSub(TPSBlockInfo* block) {
  TPSCodeGen gen(*this, block);
  return gen.CompileBody();
}

bool TPSCodeGen::CompileBody() {
  if (Block->FSubType == tProcBegin) {
    C.WriteDebugNames(Proc, ProcNo);
    for (auto& v : Proc->FProcVars) {
      C.UseType(v->FType);
      EmitOp(OpPushType);
      EmitU32(static_cast<uint32_t>(ResolveTypeLink(v->FType)->FFinalTypeNo));
    }
  }
  P.Next();  // past "begin"
  if (Block == C.FGlobalBlock.get() && !C.FUnitInitProcs.empty()) {
    DebugPos();
    for (int32_t procNo : C.FUnitInitProcs) {
      EmitOp(OpCall);
      EmitU32(static_cast<uint32_t>(procNo));
    }
  }
  if (!CompileBlock(tSubBegin)) return false;
  for (const TPSGoto& g : Proc->FGotos) {
    const TPSLabel& label = Proc->FLabels[g.FLabelIndex];
    if (label.FPosition >= 0) PatchJump(g.FPosition, static_cast<uint32_t>(label.FPosition), g.FPosition + 4);
  }
  DebugPos();
  EmitOp(OpReturn);
  P.Next();  // past "end"
  if (Block->FSubType == tMainBegin) {
    if (!Expect(CSTI_Period, ecPeriodExpected)) return false;
  } else if (Block->FSubType == tProcBegin) {
    if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
  }
  return true;
}

bool TPSCodeGen::CompileBlock(TPSSubOptType kind) {
  auto ends = [&](TPSPasToken t) {
    switch (kind) {
      case tRepeat: return t == CSTII_until;
      case tTry: return t == CSTII_Except || t == CSTII_Finally;
      case tTryEnd: return t == CSTII_end || t == CSTII_Except || t == CSTII_Finally;
      default: return t == CSTII_end;
    }
  };
  while (true) {
    TPSPasToken t = P.CurrTokenID();
    if (t == CSTI_SemiColon) {
      P.Next();
      continue;
    }
    if (ends(t)) return true;
    if (t == CSTI_EOF) {
      if (!C.FParserHadError) Error(ecUnexpectedEndOfFile);
      return false;
    }
    if (t == CSTII_Except || t == CSTII_Finally) {
      Error(ecEndExpected);
      return false;
    }
    if (t == CSTII_else || (kind == tTry && t == CSTII_end)) {
      Error(ecIdentifierExpected);
      return false;
    }
    if (!CompileStatement()) return false;
    t = P.CurrTokenID();
    if (t == CSTI_SemiColon) {
      P.Next();
      continue;
    }
    if (ends(t)) return true;
    if (t == CSTI_EOF) {
      if (!C.FParserHadError) Error(ecUnexpectedEndOfFile);
      return false;
    }
    if (kind == tTry && t == CSTII_end) {
      Error(ecIdentifierExpected);
      return false;
    }
    Error(ecSemicolonExpected);
    return false;
  }
}

bool TPSCodeGen::CompileStatement() {
  TPSNestingLevel level(StatementNesting);
  if (level.Depth() > MaxStatementNesting) {
    Error(ecCustomError, SStatementsTooDeep);
    return false;
  }
  return CompileStatementUnguarded();
}

bool TPSCodeGen::CompileStatementUnguarded() {
  switch (P.CurrTokenID()) {
    case CSTII_begin: {
      P.Next();
      if (!CompileBlock(tSubBegin)) return false;
      P.Next();  // past "end"
      return true;
    }
    case CSTII_if: return CompileIf();
    case CSTII_while: return CompileWhile();
    case CSTII_repeat: return CompileRepeat();
    case CSTII_for: return CompileFor();
    case CSTII_case: return CompileCase();
    case CSTII_with: return CompileWith();
    case CSTII_Try: return CompileTry();
    case CSTII_Goto: return CompileGoto();
    case CSTII_exit:
      DebugPos();
      P.Next();
      EmitOp(OpReturn);
      return true;
    case CSTI_Identifier: {
      const std::string& name = P.GetToken();
      if ((name == "BREAK" || name == "CONTINUE") && C.FindIdentifier(name, Proc).Kind == TPSIdentifierKind::None)
        return CompileBreakContinue(name == "BREAK");
      for (TPSLabel& label : Proc->FLabels) {
        if (label.FName != name) continue;
        P.Next();
        if (!Expect(CSTI_Colon, ecColonExpected)) return false;
        if (label.FPosition >= 0) {
          Error(ecDuplicateIdentifier, label.FName);
          return false;
        }
        label.FPosition = static_cast<int32_t>(Here());
        return CompileStatement();
      }
      return CompileAssignOrCall();
    }
    case CSTI_OpenRound: return CompileAssignOrCall();
    case CSTI_SemiColon:
    case CSTII_end:
    case CSTII_else:
    case CSTII_until:
    case CSTII_Except:
    case CSTII_Finally:
    case CSTI_EOF: return true;  // the empty statement
    default: Error(ecIdentifierExpected); return false;
  }
}

bool TPSCodeGen::CompileAssignOrCall() {
  DebugPos();
  TPSValuePtr target;
  if (P.CurrTokenID() == CSTI_OpenRound) {
    P.Next();
    target = ParseExpression();
    if (!target) return false;
    if (!Expect(CSTI_CloseRound, ecCloseRoundExpected)) return false;
    target = ParseSelectors(std::move(target), true);
  } else
    target = ParseIdentifier(true);
  if (!target) return false;
  if (P.CurrTokenID() == CSTI_Assignment) {
    bool setter = target->Kind == TPSValueKind::CharTarget;
    if (target->Kind == TPSValueKind::NotifyTarget) {
      P.Next();
      TPSValuePtr source = ParseExpression();
      if (!source) return false;
      TPSRegProc* set = C.FindRegProcUpper("!NOTIFICATIONVARIANTSET");
      std::vector<TPSValuePtr> args;
      args.push_back(std::move(target->Left));
      args.push_back(std::move(source));
      TPSValuePtr call = MakeCall(C.UseRegProc(set), set->FDecl, std::move(args), target->Position);
      return call && GenCall(call.get(), nullptr);
    }
    if (target->Kind == TPSValueKind::PropertyTarget || target->Kind == TPSValueKind::DispatchTarget) {
      P.Next();
      TPSValuePtr source = ParseExpression();
      return source && CompileMemberWrite(std::move(target), std::move(source));
    }
    if (target->Kind != TPSValueKind::Var && !setter) {
      ErrorAt(target.get(), ecVariableExpected);
      return false;
    }
    P.Next();
    TPSValuePtr source = ParseExpression();
    if (!source) return false;
    if (!setter) {
      if (!Coerce(source, target->Type)) return false;
      return GenAssignment(target.get(), source.get());
    }
    // s[i] := c becomes a call of the character setter.
    TPSValue* base = target->Left.get();
    TPSBaseType b = ResolveTypeLink(base->Type)->FBaseType;
    std::string_view name = b == btString || b == btPChar ? "STRSET" : b == btVariant ? "VARARRAYSET" : "WSTRSET";
    TPSType* valueType = source->Type;
    if (b == btVariant) {
      if (!Coerce(source, C.FStd.Variant)) return false;
      valueType = C.FStd.Variant;
    } else {
      TPSBaseType sb = valueType ? ResolveTypeLink(valueType)->FBaseType : btReturnAddress;
      if (sb != btChar && sb != btWideChar) {
        ErrorAt(source.get(), ecTypeMismatch);
        return false;
      }
    }
    TPSRegProc* reg = C.FindRegProcUpper(name);
    if (!reg) {
      Error(ecUnknownIdentifier, "StrSet");
      return false;
    }
    TPSValue call(TPSValueKind::Call);
    call.ProcNo = C.UseRegProc(reg);
    call.Decl = reg->FDecl;
    call.ArgTypes = {valueType, C.FStd.LongInt, base->Type};
    call.Args.push_back(std::move(source));
    call.Args.push_back(std::move(target->Right));
    call.Args.push_back(std::move(target->Left));
    return GenCall(&call, nullptr);
  }
  if (target->IsCall()) return GenCall(target.get(), nullptr);
  if (target->Kind == TPSValueKind::Var && ResolveTypeLink(target->Type)->FBaseType == btProcPtr) {
    TPSParametersDecl decl = static_cast<TPSProceduralType*>(ResolveTypeLink(target->Type))->FProcDef;
    TPSSourcePos at = target->Position;
    TPSValuePtr call = MakeValueCall(std::move(target), decl, {}, at);
    return call && GenCall(call.get(), nullptr);
  }
  if (target->Kind == TPSValueKind::Var) {
    Error(ecAssignmentExpected);
    return false;
  }
  Error(ecInternalError, "20");
  return false;
}

// obj.Prop := v and variant.Member := v: a call of the write routine or of
// IDispatchInvoke with the value as the last argument.
bool TPSCodeGen::CompileMemberWrite(TPSValuePtr target, TPSValuePtr source) {
  TPSSourcePos at = target->Position;
  std::vector<TPSValuePtr> args = std::move(target->Args);
  args.push_back(std::move(source));
  TPSValuePtr call = target->Kind == TPSValueKind::PropertyTarget
                         ? PropertyCall(std::move(target->Left), target->Class, target->Prop, std::move(args), true, at)
                         : DispatchCall(std::move(target->Left), target->Name, std::move(args), true, at);
  return call && GenCall(call.get(), nullptr);
}

// The condition of if, while and until: a Boolean (or variant) expression.
TPSValuePtr TPSCodeGen::ParseCondition() {
  TPSValuePtr cond = ParseExpression();
  if (cond && !IsBool(cond->Type) && !PSIsVariantType(cond->Type)) {
    ErrorAt(cond.get(), ecTypeMismatch);
    return nullptr;
  }
  return cond;
}

// An "else if" continues the chain in this loop rather than nesting, so a
// long chain of alternatives needs no deeper recursion than one if.
bool TPSCodeGen::CompileIf() {
  std::vector<uint32_t> toEnd;
  while (true) {
    DebugPos();
    P.Next();
    TPSValuePtr cond = ParseCondition();
    if (!cond) return false;
    if (!Expect(CSTII_then, ecThenExpected)) return false;
    // "not" only turns the test around; a plain Boolean variable is tested
    // where it is, without a temporary.
    bool invert = true;
    TPSValue* test = cond.get();
    while (test->Kind == TPSValueKind::Unary && test->Op == otNot && IsBool(test->Type)) {
      invert = !invert;
      test = test->Left.get();
    }
    if (test->Kind == TPSValueKind::Var && IsBool(test->Type)) {
      TPSTempScope scope;
      TPSOperand op;
      if (!VarOperand(test, op, scope)) return false;
      EmitOp(OpSetFlag);
      EmitOperand(op);
      Emit(invert ? 1 : 0);
      FreeScope(scope);
    } else {
      uint32_t flag = NewTemp(BoolType());
      if (!GenInto(test, TempOperand(flag, BoolType()))) return false;
      EmitOp(OpSetFlag);
      EmitOperand(TempOperand(flag, BoolType()));
      Emit(invert ? 1 : 0);
      FreeTemps(1);
    }
    uint32_t toElse = EmitJump(OpJumpIfFlag);
    if (!CompileStatement()) return false;
    if (P.CurrTokenID() != CSTII_else) {
      PatchJump(toElse, Here(), toElse + 4);
      break;
    }
    toEnd.push_back(EmitJump(OpJump));
    PatchJump(toElse, Here(), toElse + 4);
    P.Next();
    if (P.CurrTokenID() != CSTII_if) {
      if (!CompileStatement()) return false;
      break;
    }
  }
  for (uint32_t jump : toEnd) PatchJump(jump, Here(), jump + 4);
  return true;
}

// After a loop's code: break leaves to here, continue goes to `continueAt`,
// and the loop's flag temporary goes.
void TPSCodeGen::EndLoop(TLoop& loop, uint32_t continueAt) {
  PatchJumps(loop.Breaks, Here());
  PatchJumps(loop.Continues, continueAt);
  FreeTemps(1);
}

bool TPSCodeGen::CompileLoopBody(TLoop& loop) {
  loop.TempBase = TempCount;
  Loops.push_back(&loop);
  bool ok = CompileStatement();
  Loops.pop_back();
  return ok;
}

void TPSCodeGen::PatchJumps(const std::vector<uint32_t>& offsets, uint32_t target) {
  for (uint32_t at : offsets) PatchJump(at, target, at + 4);
}

bool TPSCodeGen::CheckJumps(uint32_t start, uint32_t end) {
  for (const TPSGoto& g : Proc->FGotos) {
    const TPSLabel& label = Proc->FLabels[g.FLabelIndex];
    bool gotoInside = g.FPosition >= start && g.FPosition < end;
    bool labelInside = label.FPosition >= 0 && static_cast<uint32_t>(label.FPosition) >= start &&
                       static_cast<uint32_t>(label.FPosition) < end;
    if (gotoInside != labelInside) {
      Error(ecInvalidJump);
      return false;
    }
  }
  ClosedBlocks.emplace_back(start, end);
  return true;
}

bool TPSCodeGen::CompileWhile() {
  DebugPos();
  uint32_t start = Here();
  P.Next();
  TPSValuePtr cond = ParseCondition();
  if (!cond) return false;
  if (!Expect(CSTII_do, ecDoExpected)) return false;
  uint32_t flag = NewTemp(BoolType());
  TPSOperand flagOp = TempOperand(flag, BoolType());
  uint32_t loopStart = Here();
  if (!GenInto(cond.get(), flagOp)) return false;
  uint32_t toExit = EmitCondJump(OpJumpIfFalse, flagOp);
  uint32_t toExitEnd = Here();
  TLoop loop;
  if (!CompileLoopBody(loop)) return false;
  DebugPos();
  uint32_t back = EmitJump(OpJump);
  PatchJump(back, loopStart, back + 4);
  PatchJump(toExit, Here(), toExitEnd);
  EndLoop(loop, loopStart);
  return CheckJumps(start, Here());
}

bool TPSCodeGen::CompileRepeat() {
  DebugPos();
  uint32_t start = Here();
  P.Next();
  uint32_t flag = NewTemp(BoolType());
  TPSOperand flagOp = TempOperand(flag, BoolType());
  uint32_t loopStart = Here();
  TLoop loop;
  loop.TempBase = TempCount;
  Loops.push_back(&loop);
  bool ok = CompileBlock(tRepeat);
  Loops.pop_back();
  if (!ok) return false;
  uint32_t continuePoint = Here();
  DebugPos();
  P.Next();  // past "until"
  TPSValuePtr cond = ParseCondition();
  if (!cond) return false;
  if (!GenInto(cond.get(), flagOp)) return false;
  uint32_t back = EmitCondJump(OpJumpIfFalse, flagOp);
  PatchJump(back, loopStart, Here());
  EndLoop(loop, continuePoint);
  return CheckJumps(start, Here());
}

bool TPSCodeGen::CompileFor() {
  DebugPos();
  uint32_t start = Here();
  P.Next();
  if (P.CurrTokenID() != CSTI_Identifier) {
    Error(ecIdentifierExpected);
    return false;
  }
  TPSValuePtr counter = ParseIdentifier(false);
  if (!counter) return false;
  if (counter->Kind != TPSValueKind::Var) {
    ErrorAt(counter.get(), ecVariableExpected);
    return false;
  }
  TPSBaseType cb = ResolveTypeLink(counter->Type)->FBaseType;
  bool isVariant = cb == btVariant;
  if (!PSIsIntType(counter->Type) && !isVariant) {
    ErrorAt(counter.get(), ecTypeMismatch);
    return false;
  }
  if (!Expect(CSTI_Assignment, ecAssignmentExpected)) return false;
  TPSValuePtr from = ParseExpression();
  if (!from || !Coerce(from, counter->Type)) return false;
  bool down;
  if (P.CurrTokenID() == CSTII_to)
    down = false;
  else if (P.CurrTokenID() == CSTII_downto)
    down = true;
  else {
    Error(ecToExpected);
    return false;
  }
  P.Next();
  TPSValuePtr to = ParseExpression();
  if (!to) return false;
  if (!PSIsIntType(to->Type) && !PSIsVariantType(to->Type)) {
    ErrorAt(to.get(), ecTypeMismatch);
    return false;
  }
  if (!Expect(CSTII_do, ecDoExpected)) return false;

  TPSTempScope counterScope;
  TPSOperand v;
  if (!VarOperand(counter.get(), v, counterScope)) return false;
  if (!GenInto(from.get(), v)) return false;
  uint32_t flag = NewTemp(BoolType());
  TPSOperand flagOp = TempOperand(flag, BoolType());
  auto compare = [&](uint8_t op) {
    TPSTempScope scope;
    TPSOperand bound;
    if (!GetOperand(to.get(), bound, scope)) return false;
    EmitOp(OpCompare);
    Emit(op);
    EmitOperand(flagOp);
    EmitOperand(v);
    EmitOperand(bound);
    FreeScope(scope);
    return true;
  };
  if (!compare(down ? CmpGreaterEqual : CmpLessEqual)) return false;
  uint32_t toExit = EmitCondJump(OpJumpIfFalse, flagOp);
  uint32_t toExitEnd = Here();
  uint32_t body = Here();
  TLoop loop;
  if (!CompileLoopBody(loop)) return false;
  uint32_t continuePoint = Here();
  // Whether another round follows is decided before the step, so a counter
  // at its type's highest value ends the loop instead of wrapping around.
  if (!compare(down ? CmpGreater : CmpLess)) return false;
  if (isVariant) {
    TPSOperand one;
    one.Kind = OperandConst;
    one.Const.FType = C.FStd.LongInt;
    one.Const.FInt = 1;
    EmitOp(OpCalculate);
    Emit(down ? CalcSub : CalcAdd);
    EmitOperand(v);
    EmitOperand(one);
  } else {
    EmitOp(down ? OpDecrement : OpIncrement);
    EmitOperand(v);
  }
  uint32_t back = EmitCondJump(OpJumpIfTrue, flagOp);
  PatchJump(back, body, Here());
  PatchJump(toExit, Here(), toExitEnd);
  EndLoop(loop, continuePoint);
  FreeScope(counterScope);
  return CheckJumps(start, Here());
}

bool TPSCodeGen::CompileCase() {
  DebugPos();
  uint32_t start = Here();
  P.Next();
  TPSValuePtr selector = ParseExpression();
  if (!selector) return false;
  if (!selector->Type || selector->Kind == TPSValueKind::TypeRef) {
    ErrorAt(selector.get(), ecTypeMismatch);
    return false;
  }
  if (!Expect(CSTII_of, ecOfExpected)) return false;
  TPSType* selType = selector->Type;
  uint32_t sel = NewTemp(selType);
  if (!GenInto(selector.get(), TempOperand(sel, selType))) return false;
  uint32_t flag = NewTemp(BoolType());
  TPSOperand flagOp = TempOperand(flag, BoolType());
  std::vector<uint32_t> toEnd;
  auto condition = [&](TPSBinOperatorType op, TPSPasToken token, TPSValuePtr label) -> bool {
    TPSSourcePos at = label->Position;
    TPSValuePtr cmp = MakeBinary(op, token, VarValue(sel, selType), std::move(label), at);
    return cmp && GenInto(cmp.get(), flagOp);
  };
  while (P.CurrTokenID() != CSTII_end && P.CurrTokenID() != CSTII_else) {
    if (P.CurrTokenID() == CSTI_EOF) {
      Error(ecUnexpectedEndOfFile);
      return false;
    }
    std::vector<TJumpSite> toBody;
    while (true) {
      TPSValuePtr label = ParseExpression();
      if (!label) return false;
      if (P.CurrTokenID() == CSTI_TwoDots) {
        P.Next();
        TPSValuePtr high = ParseExpression();
        if (!high) return false;
        if (!condition(otGreaterEqual, CSTI_GreaterEqual, std::move(label))) return false;
        uint32_t skip = EmitCondJump(OpJumpIfFalse, flagOp);
        uint32_t skipEnd = Here();
        if (!condition(otLessEqual, CSTI_LessEqual, std::move(high))) return false;
        uint32_t hit = EmitCondJump(OpJumpIfTrue, flagOp);
        toBody.push_back({hit, Here()});
        PatchJump(skip, Here(), skipEnd);
      } else {
        if (!condition(otEqual, CSTI_Equal, std::move(label))) return false;
        uint32_t hit = EmitCondJump(OpJumpIfTrue, flagOp);
        toBody.push_back({hit, Here()});
      }
      if (P.CurrTokenID() == CSTI_Comma) {
        P.Next();
        continue;
      }
      break;
    }
    if (!Expect(CSTI_Colon, ecColonExpected)) return false;
    uint32_t toNext = EmitJump(OpJump);
    for (const TJumpSite& j : toBody) PatchJump(j.Pos, Here(), j.End);
    if (!CompileStatement()) return false;
    toEnd.push_back(EmitJump(OpJump));
    PatchJump(toNext, Here(), toNext + 4);
    if (P.CurrTokenID() == CSTI_SemiColon) {
      P.Next();
    } else if (P.CurrTokenID() != CSTII_end && P.CurrTokenID() != CSTII_else) {
      Error(ecSemicolonExpected);
      return false;
    }
  }
  if (P.CurrTokenID() == CSTII_else) {
    P.Next();
    if (!CompileStatement()) return false;
    if (P.CurrTokenID() == CSTI_SemiColon) P.Next();
  }
  if (!Expect(CSTII_end, ecEndExpected)) return false;
  PatchJumps(toEnd, Here());
  FreeTemps(2);
  return CheckJumps(start, Here());
}

bool TPSCodeGen::CompileWith() {
  DebugPos();
  uint32_t start = Here();
  P.Next();
  size_t before = Withs.size();
  while (true) {
    TPSValuePtr e = ParseExpression();
    if (!e) return false;
    TPSBaseType b = e->Type ? ResolveTypeLink(e->Type)->FBaseType : btReturnAddress;
    if (b == btClass) {
      // An object reference is simply kept in a temporary.
      uint32_t object = NewTemp(e->Type);
      if (!GenInto(e.get(), TempOperand(object, e->Type), true)) return false;
      Withs.push_back({e->Type, object});
    } else if (e->Kind == TPSValueKind::Var && b == btRecord) {
      uint32_t ptr = NewTemp(C.FStd.Pointer);
      if (!GenSetPointer(ptr, e.get())) return false;
      Withs.push_back({e->Type, ptr});
    } else {
      ErrorAt(e.get(), ecClassTypeExpected);
      return false;
    }
    if (P.CurrTokenID() == CSTI_Comma) {
      P.Next();
      continue;
    }
    break;
  }
  if (!Expect(CSTII_do, ecDoExpected)) return false;
  if (!CompileStatement()) return false;
  uint32_t count = static_cast<uint32_t>(Withs.size() - before);
  Withs.resize(before);
  FreeTemps(count);
  return CheckJumps(start, Here());
}

bool TPSCodeGen::CompileTry() {
  uint32_t start = Here();
  P.Next();
  TTry ctx{};
  bool inLoop = !Loops.empty();
  if (inLoop) {
    ctx.Loop = Loops.back();
    ctx.BreakFlag = NewTemp(BoolType());
    ctx.ContinueFlag = NewTemp(BoolType());
  }
  EmitOp(OpTryBegin);
  uint32_t offsets = Here();
  for (int i = 0; i < 4; ++i) EmitU32(0xFFFFFFFF);
  uint32_t base = Here();
  auto setOffset = [&](int slot, uint32_t target) {
    uint32_t value = target - base;
    for (int i = 0; i < 4; ++i) Proc->FData[offsets + 4 * slot + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  auto section = [&](TPSSubOptType kind, uint8_t closing) {
    ctx.TempBase = TempCount;
    ctx.Section = closing;
    if (inLoop) Tries.push_back(&ctx);
    ++TryDepth;
    bool ok = CompileBlock(kind);
    --TryDepth;
    if (inLoop) Tries.pop_back();
    if (!ok) return false;
    EmitOp(OpTryEnd);
    Emit(closing);
    return true;
  };
  uint32_t sectionStart = Here();
  if (!section(tTry, TryEndGuarded) || !CheckJumps(sectionStart, Here())) return false;
  if (P.CurrTokenID() == CSTII_Except) {
    P.Next();
    sectionStart = Here();
    setOffset(1, Here());
    if (!section(tTryEnd, TryEndExcept) || !CheckJumps(sectionStart, Here())) return false;
    if (P.CurrTokenID() == CSTII_Finally) {
      P.Next();
      sectionStart = Here();
      setOffset(2, Here());
      if (!section(tSubBegin, TryEndSecondFinally) || !CheckJumps(sectionStart, Here())) return false;
    }
  } else {
    P.Next();  // past "finally"
    sectionStart = Here();
    setOffset(0, Here());
    if (!section(tTryEnd, TryEndFinally) || !CheckJumps(sectionStart, Here())) return false;
    if (P.CurrTokenID() == CSTII_Except) {
      P.Next();
      sectionStart = Here();
      setOffset(1, Here());
      if (!section(tSubBegin, TryEndExcept) || !CheckJumps(sectionStart, Here())) return false;
    }
  }
  if (!Expect(CSTII_end, ecEndExpected)) return false;
  setOffset(3, Here());
  if (!inLoop) return CheckJumps(start, Here());
  // After the block: finish a break or continue that left it.
  TPSOperand breakFlag = TempOperand(ctx.BreakFlag, BoolType());
  TPSOperand continueFlag = TempOperand(ctx.ContinueFlag, BoolType());
  std::vector<std::pair<uint32_t, uint32_t>> toBreak, toContinue;
  uint32_t at;
  if (ctx.BreakUsed) {
    at = EmitCondJump(OpJumpIfTrue, breakFlag);
    toBreak.push_back({at, Here()});
  }
  if (ctx.ContinueUsed) {
    at = EmitCondJump(OpJumpIfTrue, continueFlag);
    toContinue.push_back({at, Here()});
  }
  FreeTemps(2);
  if (ctx.BreakUsed || ctx.ContinueUsed) {
    uint32_t toDone = EmitJump(OpJump);
    for (bool isBreak : {true, false}) {
      auto& sites = isBreak ? toBreak : toContinue;
      if (sites.empty()) continue;
      for (auto& j : sites) PatchJump(j.first, Here(), j.second);
      EmitOp(OpPop);
      EmitOp(OpPop);
      EmitLeave(isBreak);
    }
    PatchJump(toDone, Here(), toDone + 4);
  }
  return CheckJumps(start, Here());
}

// Leaves the innermost loop: through the innermost try block when one is open
// inside the loop, otherwise by dropping the loop body's temporaries and
// jumping.
void TPSCodeGen::EmitLeave(bool isBreak) {
  TLoop& loop = *Loops.back();
  if (!Tries.empty() && Tries.back()->Loop == &loop) {
    TTry& t = *Tries.back();
    TPSOperand one;
    one.Kind = OperandConst;
    one.Const.FType = BoolType();
    one.Const.FInt = 1;
    EmitOp(OpAssign);
    EmitOperand(TempOperand(isBreak ? t.BreakFlag : t.ContinueFlag, BoolType()));
    EmitOperand(one);
    (isBreak ? t.BreakUsed : t.ContinueUsed) = true;
    for (uint32_t i = t.TempBase; i < TempCount; ++i) EmitOp(OpPop);
    EmitOp(OpTryEnd);
    Emit(t.Section);
    return;
  }
  uint32_t extra = TempCount - loop.TempBase;
  uint32_t at;
  if (extra == 2) {
    at = EmitJump(OpPop2Jump);
  } else if (extra == 1) {
    at = EmitJump(OpPopJump);
  } else {
    for (uint32_t i = 0; i < extra; ++i) EmitOp(OpPop);
    at = EmitJump(OpJump);
  }
  (isBreak ? loop.Breaks : loop.Continues).push_back(at);
}

bool TPSCodeGen::CompileBreakContinue(bool isBreak) {
  if (Loops.empty()) {
    Error(ecNotInLoop);
    return false;
  }
  EmitLeave(isBreak);
  P.Next();
  return true;
}

bool TPSCodeGen::CompileGoto() {
  DebugPos();
  P.Next();
  if (P.CurrTokenID() != CSTI_Identifier) {
    Error(ecIdentifierExpected);
    return false;
  }
  const std::string& name = P.GetToken();
  for (size_t i = 0; i < Proc->FLabels.size(); ++i) {
    if (Proc->FLabels[i].FName != name) continue;
    // A label already placed inside a block that has ended cannot be jumped
    // back into: the block's temporaries and try records are gone. (A label
    // at a block's first byte labels the statement itself.) Forward jumps
    // into a block are refused when that block ends.
    const int32_t target = Proc->FLabels[i].FPosition;
    for (const auto& [start, end] : ClosedBlocks)
      if (target >= 0 && static_cast<uint32_t>(target) > start && static_cast<uint32_t>(target) < end) {
        Error(ecInvalidJump);
        return false;
      }
    uint32_t at = EmitJump(OpJump);
    Proc->FGotos.push_back({at, static_cast<uint32_t>(i)});
    P.Next();
    return true;
  }
  Error(ecUnknownIdentifier, P.OriginalToken());
  return false;
}

// --- Debug records ------------------------------------------------------------------------

void TPSPascalCompiler::WriteDebugPosition(TPSInternalProcedure* proc, int32_t procNo) {
  TPSPascalParser& p = *FActiveParser;
  uint32_t codePos = static_cast<uint32_t>(proc->FData.size());
  if (FOnWriteLine && !FOnWriteLine(this, codePos)) return;
  TPSSourcePos at = p.Position();
  std::string fileName;
  if (FOnTranslateLineInfo) FOnTranslateLineInfo(this, at.Pos, at.Row, at.Col, fileName);
  FDebugOutput.push_back(static_cast<char>(DebugPosition));
  FDebugOutput += fileName;
  FDebugOutput.push_back(PSDebugNameEnd);
  AppendUInt32(FDebugOutput, static_cast<uint32_t>(procNo));
  AppendUInt32(FDebugOutput, codePos);
  AppendUInt32(FDebugOutput, at.Pos);
  AppendUInt32(FDebugOutput, at.Row);
  AppendUInt32(FDebugOutput, at.Col);
}

void TPSPascalCompiler::WriteDebugNames(TPSInternalProcedure* proc, int32_t procNo) {
  FDebugOutput.push_back(static_cast<char>(DebugParamNames));
  AppendUInt32(FDebugOutput, static_cast<uint32_t>(procNo));
  if (proc->FDecl.FResult) {
    FDebugOutput += "Result";
    FDebugOutput.push_back(PSDebugNameEnd);
  }
  for (auto& prm : proc->FDecl.FParams) {
    FDebugOutput += prm.FOrgName;
    FDebugOutput.push_back(PSDebugNameEnd);
  }
  FDebugOutput.push_back(PSDebugListEnd);
  FDebugOutput.push_back(static_cast<char>(DebugLocalNames));
  AppendUInt32(FDebugOutput, static_cast<uint32_t>(procNo));
  for (auto& v : proc->FProcVars) {
    FDebugOutput += v->FOrgName;
    FDebugOutput.push_back(PSDebugNameEnd);
  }
  FDebugOutput.push_back(PSDebugListEnd);
}

}  // namespace ps
