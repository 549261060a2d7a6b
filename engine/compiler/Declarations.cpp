// Program structure and declaration sections: program/unit headers, uses,
// const, type, var and label sections, procedure declarations, attributes.
#include <algorithm>
#include <new>

#include "engine/uPSCompiler.h"

namespace ps {

namespace {

constexpr std::string_view SMainProcName = "Main Proc";
constexpr std::string_view SMainProcKey = "!MAIN";
constexpr std::string_view SSystemUnit = "SYSTEM";
constexpr std::string_view SResult = "RESULT";

}  // namespace

TPSPascalCompiler::TPSPascalCompiler() : FParser(std::make_unique<TPSPascalParser>()) {
  FParser->SetOnParserError([this](TPSPascalParser* parser, TPSParserErrorKind kind) { OnParserError(parser, kind); });
  FActiveParser = FParser.get();
}

TPSPascalCompiler::~TPSPascalCompiler() {
  Clear();
  ClearTables();
}

void TPSPascalCompiler::Clear() {
  FMessages.clear();
  FOutput.clear();
  FDebugOutput.clear();
  FAutoFreeList.clear();
}

void TPSPascalCompiler::ClearTables() {
  FGlobalBlock.reset();
  FProcs.clear();
  FRegProcs.clear();
  FVars.clear();
  FConstants.clear();
  FClasses.clear();
  FInterfaces.clear();
  FAttributeTypes.clear();
  FTypes.clear();
  FUsedTypes.clear();
  FTypeIndex.clear();
  FProcIndex.clear();
  FRegProcIndex.clear();
  FVarIndex.clear();
  FConstIndex.clear();
  FDynArrayOf.clear();
  FPendingAttributes.reset();
  FStd = {};
  FAnyString = FDefaultBoolType = nullptr;
}

void TPSPascalCompiler::CheckCompiling() const {
  static constexpr std::u16string_view SOnlyInOnUses = u"This function can only be called from within the OnUses event";
  if (!FCompiling) throw EPSCompilerException(rtl::UnicodeString(SOnlyInOnUses));
}

bool TPSPascalCompiler::GetOutput(std::string& s) const {
  if (FOutput.empty()) return false;
  s = FOutput;
  return true;
}

bool TPSPascalCompiler::GetDebugOutput(std::string& s) const {
  if (FDebugOutput.empty()) return false;
  s = FDebugOutput;
  return true;
}

// --- Name tables --------------------------------------------------------------------

int32_t TPSPascalCompiler::IndexOfProcUpper(std::string_view upperName) const {
  auto it = FProcIndex.find(upperName);
  return it == FProcIndex.end() ? -1 : it->second;
}
int32_t TPSPascalCompiler::IndexOfVarUpper(std::string_view upperName) const {
  auto it = FVarIndex.find(upperName);
  return it == FVarIndex.end() ? -1 : it->second;
}
int32_t TPSPascalCompiler::IndexOfConstUpper(std::string_view upperName) const {
  auto it = FConstIndex.find(upperName);
  return it == FConstIndex.end() ? -1 : it->second;
}
TPSRegProc* TPSPascalCompiler::FindRegProcUpper(std::string_view upperName) const {
  auto it = FRegProcIndex.find(upperName);
  return it == FRegProcIndex.end() ? nullptr : FRegProcs[it->second].get();
}
void TPSPascalCompiler::AddProcToIndex(const std::string& upperName, int32_t index) { FProcIndex[upperName] = index; }

TPSConstant* TPSPascalCompiler::GetConstant(std::string_view name) const {
  if (!FCompiling) return nullptr;
  int32_t i = IndexOfConstUpper(FastUpperCase(name));
  return i < 0 ? nullptr : FConstants[i].get();
}

TPSRegProc* TPSPascalCompiler::FindRegProc(std::string_view name) const {
  return FCompiling ? FindRegProcUpper(FastUpperCase(name)) : nullptr;
}

int32_t TPSPascalCompiler::FindProc(std::string_view name) const {
  if (!FCompiling) return -1;
  std::string upper = FastUpperCase(name);
  int32_t i = IndexOfProcUpper(upper);
  if (i >= 0) return i;
  TPSRegProc* reg = FindRegProcUpper(upper);
  return reg ? reg->FProcNo : -1;
}

bool TPSPascalCompiler::IsDuplicate(std::string_view upperName, bool types, bool procs, bool vars, bool consts,
                                    TPSInternalProcedure* proc) const {
  if (upperName == SResult) return true;
  if (types && FTypeIndex.count(upperName)) return true;
  if (procs && (IndexOfProcUpper(upperName) >= 0 || FindRegProcUpper(upperName))) return true;
  if (vars) {
    if (proc) {
      for (auto& v : proc->FProcVars)
        if (v->FName == upperName) return true;
      for (auto& prm : proc->FDecl.FParams)
        if (prm.FName == upperName) return true;
    } else if (IndexOfVarUpper(upperName) >= 0) {
      return true;
    }
  }
  if (consts && IndexOfConstUpper(upperName) >= 0) return true;
  return false;
}

TPSVar* TPSPascalCompiler::NewVariable(std::string_view name, TPSType* type) {
  auto v = std::make_unique<TPSVar>();
  v->SetName(name);
  v->FType = type;
  UseType(type);
  TPSVar* raw = v.get();
  FVarIndex[raw->FName] = static_cast<int32_t>(FVars.size());
  FVars.push_back(std::move(v));
  return raw;
}

TPSConstant* TPSPascalCompiler::NewConstant(std::string_view name, TPSType* type) {
  auto c = std::make_unique<TPSConstant>();
  c->SetName(name);
  c->FValue.FType = type;
  TPSConstant* raw = c.get();
  FConstIndex[raw->FName] = static_cast<int32_t>(FConstants.size());
  FConstants.push_back(std::move(c));
  return raw;
}

void TPSInternalProcedure::SetName(std::string_view orgName) {
  FOriginalName.assign(orgName);
  FName = FastUpperCase(orgName);
  FNameHash = MakeHash(FName);
}

// --- Compile ---------------------------------------------------------------------------

bool TPSPascalCompiler::Compile(std::string_view s) {
  FUnitName.clear();
  FIsUnit = false;
  FUnitNesting = 0;
  FUnitInitProcs.clear();
  FCurrUsedTypeNo = 0;
  Clear();
  ClearTables();
  FParserHadError = false;
  FActiveParser = FParser.get();
  FCompiling = true;
  // A host event that throws still closes the registration window.
  struct TCompilingScope {
    bool& flag;
    ~TCompilingScope() { flag = false; }
  } compilingScope{FCompiling};
  FParser->SetText(s);

  auto main = std::make_unique<TPSInternalProcedure>();
  main->SetName(SMainProcName);
  main->FName = SMainProcKey;
  main->FNameHash = MakeHash(SMainProcKey);
  FGlobalBlock = std::make_unique<TPSBlockInfo>(nullptr, tMainBegin, 0, main.get());
  FProcs.push_back(std::move(main));
  AddProcToIndex(std::string(SMainProcKey), 0);

  bool ok = true;
  try {
    DefineStandardTypes();
    DefineStandardProcedures();
  } catch (const rtl::Exception& e) {
    // A standard declaration that fails is a fault of this compiler; say so.
    MakeError("", ecInternalError, rtl::UnicodeToUtf8(e.Message()));
    ok = false;
  }
  if (ok) ok = CallUses(std::string(SSystemUnit));
  if (ok) ok = ParseProgram();
  if (ok) ok = FinishCompile();
  if (FOnBeforeCleanup) FOnBeforeCleanup(this);
  if (!ok) {
    FOutput.clear();
    FDebugOutput.clear();
  }
  return ok;
}

TPSParameterMode TPSPascalCompiler::ReadParameterMode(TPSPascalParser& p) {
  TPSParameterMode mode = pmIn;  // also after "const"
  switch (p.CurrTokenID()) {
    case CSTII_const: break;
    case CSTII_var: mode = pmInOut; break;
    case CSTII_out: mode = pmOut; break;
    default: return mode;
  }
  p.Next();
  return mode;
}

bool TPSPascalCompiler::Expect(TPSPasToken token, TPSPascalCompilerErrorType e) {
  if (FActiveParser->CurrTokenID() != token) {
    MakeError("", e, "");
    return false;
  }
  FActiveParser->Next();
  return true;
}

bool TPSPascalCompiler::CompileUnitText(std::string_view text) {
  CheckCompiling();
  auto parser = std::make_unique<TPSPascalParser>();
  parser->SetOnParserError([this](TPSPascalParser* p, TPSParserErrorKind kind) { OnParserError(p, kind); });
  parser->SetText(text);
  // The program's own parse is in the middle of its uses clause: everything
  // that describes the text being read is put back afterwards, even when a
  // host event throws.
  struct TSavedText {
    TPSPascalCompiler& c;
    std::unique_ptr<TPSPascalParser> parser;
    TPSPascalParser* active;
    bool hadError, allowUnit, isUnit;
    std::string unitName;
    ~TSavedText() {
      c.FParser = std::move(parser);
      c.FActiveParser = active;
      c.FParserHadError = hadError;
      c.FAllowUnit = allowUnit;
      c.FIsUnit = isUnit;
      c.FUnitName = std::move(unitName);
      --c.FUnitNesting;
    }
  } saved{*this, std::move(FParser), FActiveParser, FParserHadError, FAllowUnit, FIsUnit, std::move(FUnitName)};
  ++FUnitNesting;
  FParser = std::move(parser);
  FActiveParser = FParser.get();
  FParserHadError = false;
  FAllowUnit = true;
  FIsUnit = false;
  FUnitName.clear();
  if (FParser->CurrTokenID() != CSTII_Unit) {
    MakeError("", ecCustomError, "'UNIT' expected");
    return false;
  }
  return ParseProgram();
}

bool TPSPascalCompiler::ProcessUnitInitialization() {
  auto init = std::make_unique<TPSInternalProcedure>();
  init->SetName("!INIT " + FUnitName);
  TPSInternalProcedure* proc = init.get();
  auto procNo = static_cast<int32_t>(FProcs.size());
  FProcs.push_back(std::move(init));
  TPSBlockInfo block(nullptr, tMainBegin, procNo, proc);
  if (!ProcessSub(&block) || !CheckLabels(proc)) return false;
  FUnitInitProcs.push_back(procNo);
  return true;
}

void TPSPascalCompiler::InitialiseUnitsWithoutMainBlock() {
  if (FUnitNesting > 0 || FUnitInitProcs.empty()) return;
  std::string& code = FGlobalBlock->FProc->FData;
  for (int32_t procNo : FUnitInitProcs) {
    code.push_back(static_cast<char>(OpCall));
    AppendUInt32(code, static_cast<uint32_t>(procNo));
  }
  code.push_back(static_cast<char>(OpReturn));
}

bool TPSPascalCompiler::CallUses(const std::string& upperName) {
  if (!FOnUses) {
    if (upperName == SSystemUnit) return true;
    MakeError("", ecUnknownIdentifier, upperName);
    return false;
  }
  size_t before = FMessages.size();
  try {
    if (!FOnUses(this, upperName)) return false;
  } catch (const rtl::Exception& e) {
    // Host failures during registration become the compile's error.
    MakeError("", ecCustomError, rtl::UnicodeToUtf8(e.Message()));
    return false;
  } catch (const std::bad_alloc&) {
    MakeError("", ecCustomError, "Out of memory");
    return false;
  } catch (const std::exception& e) {
    MakeError("", ecCustomError, e.what());
    return false;
  }
  for (size_t i = before; i < FMessages.size(); ++i)
    if (dynamic_cast<TPSPascalCompilerError*>(FMessages[i].get())) return false;
  return true;
}

bool TPSPascalCompiler::ParseProgram() {
  enum class State { Start, AfterProgram, AfterUnit, Declarations, InterfaceSection, ImplementationSection };
  TPSPascalParser& p = *FActiveParser;
  State state = State::Start;
  while (true) {
    if (FParserHadError) return false;
    switch (p.CurrTokenID()) {
      case CSTII_program:
      case CSTII_Unit: {
        bool unit = p.CurrTokenID() == CSTII_Unit;
        if (state != State::Start || (unit && !FAllowUnit)) {
          MakeError("", ecBeginExpected, "");
          return false;
        }
        p.Next();
        if (p.CurrTokenID() != CSTI_Identifier) {
          MakeError("", ecIdentifierExpected, "");
          return false;
        }
        if (unit) FUnitName = p.OriginalToken();
        p.Next();
        if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
        FIsUnit = unit;
        state = unit ? State::AfterUnit : State::AfterProgram;
        break;
      }
      case CSTII_Interface:
        if (state != State::AfterUnit) {
          MakeError("", ecBeginExpected, "");
          return false;
        }
        p.Next();
        state = State::InterfaceSection;
        break;
      case CSTII_Implementation:
        if (state != State::InterfaceSection) {
          MakeError("", ecBeginExpected, "");
          return false;
        }
        p.Next();
        state = State::ImplementationSection;
        break;
      case CSTII_uses:
        if (state != State::Start && state != State::AfterProgram && state != State::AfterUnit &&
            state != State::InterfaceSection) {
          MakeError("", ecBeginExpected, "");
          return false;
        }
        if (!ProcessUses()) return false;
        if (state == State::Start || state == State::AfterProgram) state = State::Declarations;
        break;
      case CSTII_const:
      case CSTII_type:
      case CSTII_var:
      case CSTII_Label:
      case CSTII_procedure:
      case CSTII_function:
      case CSTI_OpenBlock: {
        if (state == State::Start || state == State::AfterProgram || state == State::AfterUnit)
          state = State::Declarations;
        bool ok;
        switch (p.CurrTokenID()) {
          case CSTII_const: ok = DoConstBlock(); break;
          case CSTII_type: ok = DoTypeBlock(); break;
          case CSTII_var: ok = DoVarBlock(nullptr); break;
          case CSTII_Label: ok = DoLabelBlock(FGlobalBlock->FProc); break;
          case CSTI_OpenBlock: {
            FPendingAttributes = std::make_unique<TPSAttributes>();
            ok = ReadAttributes(*FPendingAttributes);
            if (ok && p.CurrTokenID() != CSTII_procedure && p.CurrTokenID() != CSTII_function) {
              MakeError("", ecBeginExpected, "");
              ok = false;
            }
            break;
          }
          default: ok = ProcessFunction(state == State::InterfaceSection); break;
        }
        if (!ok) return false;
        break;
      }
      case CSTII_begin:
        // A used unit's statements become its initialisation procedure.
        if (FUnitNesting > 0) return ProcessUnitInitialization();
        if (!ProcessSub(FGlobalBlock.get())) return false;
        return true;
      case CSTII_end:
        if (!FAllowNoBegin && !FIsUnit) {
          MakeError("", ecBeginExpected, "");
          return false;
        }
        p.Next();
        if (!Expect(CSTI_Period, ecPeriodExpected)) return false;
        InitialiseUnitsWithoutMainBlock();
        return true;
      case CSTI_EOF:
        if (FParserHadError) return false;
        if (FAllowNoEnd) {
          InitialiseUnitsWithoutMainBlock();
          return true;
        }
        MakeError("", ecUnexpectedEndOfFile, "");
        return false;
      default: MakeError("", ecBeginExpected, ""); return false;
    }
  }
}

bool TPSPascalCompiler::FinishCompile() {
  if (!CheckLabels(FGlobalBlock->FProc)) return false;
  for (auto& proc : FProcs) {
    auto* ip = dynamic_cast<TPSInternalProcedure*>(proc.get());
    if (ip && ip->FForwarded) {
      MakeError("", ecUnsatisfiedForward, ip->FName)->SetCustomPos(DeclarePosition(*ip));
      return false;
    }
  }
  if (FOnExportCheck) {
    for (size_t i = 1; i < FProcs.size(); ++i) {
      auto* ip = dynamic_cast<TPSInternalProcedure*>(FProcs[i].get());
      if (ip && ip->FName[0] == '!') continue;  // a unit's initialisation, not a script routine
      if (ip && !FOnExportCheck(this, ip, MakeExportDecl(ip->FDecl))) return false;
    }
  }
  CheckUnusedGlobals();
  if (FOnBeforeOutput && !FOnBeforeOutput(this)) return false;
  return MakeOutput();
}

void TPSPascalCompiler::CheckUnusedGlobals() {
  for (auto& v : FVars) {
    if (v->FUsed) continue;
    MakeHint("", ehVariableNotUsed, v->FName)->SetCustomPos(DeclarePosition(*v));
  }
}

bool TPSPascalCompiler::CheckLabels(TPSInternalProcedure* proc) {
  for (auto& label : proc->FLabels) {
    if (label.FPosition < 0) {
      MakeError("", ecUnSetLabel, label.FName);
      return false;
    }
  }
  return true;
}

// --- Sections -----------------------------------------------------------------------------

bool TPSPascalCompiler::ProcessUses() {
  TPSPascalParser& p = *FActiveParser;
  std::vector<std::string> seen{std::string(SSystemUnit)};
  p.Next();
  while (true) {
    if (p.CurrTokenID() != CSTI_Identifier) {
      MakeError("", ecIdentifierExpected, "");
      return false;
    }
    std::string name = p.GetToken();
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
      MakeError("", ecDuplicateIdentifier, name);
      return false;
    }
    seen.push_back(name);
    if (!CallUses(name)) return false;
    p.Next();
    if (p.CurrTokenID() == CSTI_SemiColon) break;
    if (!Expect(CSTI_Comma, ecSemicolonExpected)) return false;
  }
  p.Next();
  return true;
}

bool TPSPascalCompiler::DoConstBlock() {
  TPSPascalParser& p = *FActiveParser;
  p.Next();
  if (p.CurrTokenID() != CSTI_Identifier) {
    MakeError("", ecIdentifierExpected, "");
    return false;
  }
  while (p.CurrTokenID() == CSTI_Identifier) {
    std::string orgName = p.OriginalToken();
    TPSSourcePos at = p.Position();
    if (IsDuplicate(p.GetToken(), false, true, true, true, nullptr)) {
      MakeError("", ecDuplicateIdentifier, orgName);
      return false;
    }
    p.Next();
    if (!Expect(CSTI_Equal, ecIsExpected)) return false;
    TIfRVariant value;
    if (!ReadConstant(value)) return false;
    if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
    TPSConstant* c = NewConstant(orgName, value.FType);
    c->FValue = std::move(value);
    c->FDeclPos = at;
  }
  return true;
}

bool TPSPascalCompiler::DoTypeBlock() {
  TPSPascalParser& p = *FActiveParser;
  p.Next();
  bool first = true;
  while (true) {
    std::unique_ptr<TPSAttributes> attributes;
    if (p.CurrTokenID() == CSTI_OpenBlock) {
      attributes = std::make_unique<TPSAttributes>();
      if (!ReadAttributes(*attributes)) return false;
    }
    if (p.CurrTokenID() == CSTII_procedure || p.CurrTokenID() == CSTII_function) {
      // The attributes belong to the procedure that ends the section.
      FPendingAttributes = std::move(attributes);
      return true;
    }
    if (p.CurrTokenID() != CSTI_Identifier) {
      if (!first && !attributes) return true;
      MakeError("", ecIdentifierExpected, "");
      return false;
    }
    first = false;
    std::string orgName = p.OriginalToken();
    TPSSourcePos at = p.Position();
    if (IsDuplicate(p.GetToken(), true, true, true, false, nullptr)) {
      MakeError("", ecDuplicateIdentifier, orgName);
      return false;
    }
    p.Next();
    if (!Expect(CSTI_Equal, ecIsExpected)) return false;
    TPSType* type = ReadType(orgName);
    if (!type) return false;
    SetDeclarePosition(*type, at);
    type->FExportName = true;
    if (attributes) {
      for (auto& a : attributes->FItems) type->FAttributes.FItems.push_back(std::move(a));
      if (!ApplyAttributesToType(type)) return false;
    }
    if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
  }
}

bool TPSPascalCompiler::DoVarBlock(TPSInternalProcedure* proc) {
  TPSPascalParser& p = *FActiveParser;
  p.Next();
  if (p.CurrTokenID() != CSTI_Identifier) {
    MakeError("", ecIdentifierExpected, "");
    return false;
  }
  struct Pending {
    std::string name;
    TPSSourcePos at;
  };
  while (p.CurrTokenID() == CSTI_Identifier) {
    std::vector<Pending> group;
    while (true) {
      if (p.CurrTokenID() != CSTI_Identifier) {
        MakeError("", ecIdentifierExpected, "");
        return false;
      }
      const std::string& upper = p.GetToken();
      bool duplicate = IsDuplicate(upper, false, true, true, true, proc) || (proc && proc->FName == upper) ||
                       std::any_of(group.begin(), group.end(),
                                   [&](const Pending& g) { return FastUpperCase(g.name) == upper; });
      if (duplicate) {
        MakeError("", ecDuplicateIdentifier, p.OriginalToken());
        return false;
      }
      group.push_back({p.OriginalToken(), p.Position()});
      p.Next();
      if (p.CurrTokenID() != CSTI_Comma) break;
      p.Next();
    }
    if (!Expect(CSTI_Colon, ecColonExpected)) return false;
    TPSType* type = ReadType("");
    if (!type) return false;
    if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
    for (auto& g : group) {
      if (proc) {
        auto v = std::make_unique<TPSProcVar>();
        v->SetName(g.name);
        v->FType = type;
        SetDeclarePosition(*v, g.at);
        UseType(type);
        proc->FProcVars.push_back(std::move(v));
      } else {
        TPSVar* v = NewVariable(g.name, type);
        SetDeclarePosition(*v, g.at);
      }
    }
  }
  return true;
}

bool TPSPascalCompiler::DoLabelBlock(TPSInternalProcedure* proc) {
  TPSPascalParser& p = *FActiveParser;
  p.Next();
  while (true) {
    if (p.CurrTokenID() != CSTI_Identifier) {
      MakeError("", ecIdentifierExpected, "");
      return false;
    }
    const std::string& upper = p.GetToken();
    bool duplicate = upper == SResult || upper == proc->FName ||
                     IsDuplicate(upper, false, true, false, true, nullptr) || IndexOfVarUpper(upper) >= 0 ||
                     IsDuplicate(upper, false, false, true, false, proc) ||
                     std::any_of(proc->FLabels.begin(), proc->FLabels.end(),
                                 [&](const TPSLabel& l) { return l.FName == upper; });
    if (duplicate) {
      MakeError("", ecDuplicateIdentifier, p.OriginalToken());
      return false;
    }
    proc->FLabels.push_back({-1, MakeHash(upper), upper});
    p.Next();
    if (p.CurrTokenID() == CSTI_SemiColon) break;
    if (!Expect(CSTI_Comma, ecCommaExpected)) return false;
  }
  p.Next();
  return true;
}

// --- Procedures ----------------------------------------------------------------------------

bool TPSPascalCompiler::ReadParameters(TPSParametersDecl& decl, const std::string& procName, bool fullTypes) {
  TPSPascalParser& p = *FActiveParser;
  // At the token after "(".
  if (p.CurrTokenID() == CSTI_CloseRound) {
    p.Next();
    return true;
  }
  while (true) {
    TPSParameterMode mode = ReadParameterMode(p);
    size_t groupStart = decl.FParams.size();
    while (true) {
      if (p.CurrTokenID() != CSTI_Identifier) {
        MakeError("", ecIdentifierExpected, "");
        return false;
      }
      const std::string& upper = p.GetToken();
      bool duplicate = upper == SResult || (!procName.empty() && upper == procName) ||
                       std::any_of(decl.FParams.begin(), decl.FParams.end(),
                                   [&](const TPSParameterDecl& d) { return d.FName == upper; });
      if (duplicate) {
        MakeError("", ecDuplicateIdentifier, p.OriginalToken());
        return false;
      }
      TPSParameterDecl& d = decl.AddParam(p.OriginalToken(), mode, nullptr);
      SetDeclarePosition(d, p.Position());
      p.Next();
      if (p.CurrTokenID() != CSTI_Comma) break;
      p.Next();
    }
    if (!Expect(CSTI_Colon, ecColonExpected)) return false;
    TPSType* type;
    if (fullTypes) {
      type = ReadType("");
      if (!type) return false;
    } else {
      if (p.CurrTokenID() != CSTI_Identifier) {
        MakeError("", ecIdentifierExpected, "");
        return false;
      }
      type = FindTypeUpper(p.GetToken());
      if (!type) {
        MakeError("", ecUnknownIdentifier, p.OriginalToken());
        return false;
      }
      p.Next();
    }
    for (size_t i = groupStart; i < decl.FParams.size(); ++i) decl.FParams[i].FType = type;
    if (p.CurrTokenID() == CSTI_CloseRound) break;
    if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
  }
  p.Next();
  return true;
}

bool TPSPascalCompiler::ProcessFunction(bool interfaceSection) {
  TPSPascalParser& p = *FActiveParser;
  std::unique_ptr<TPSAttributes> attributes = std::move(FPendingAttributes);
  bool isFunction = p.CurrTokenID() == CSTII_function;
  p.Next();
  if (p.CurrTokenID() != CSTI_Identifier) {
    MakeError("", ecIdentifierExpected, "");
    return false;
  }
  std::string orgName = p.OriginalToken(), name = p.GetToken();
  TPSSourcePos declAt = p.Position();
  p.Next();
  TPSParametersDecl decl;
  if (p.CurrTokenID() == CSTI_OpenRound) {
    p.Next();
    if (!ReadParameters(decl, name, true)) return false;
  }
  if (isFunction) {
    if (!Expect(CSTI_Colon, ecColonExpected)) return false;
    decl.FResult = ReadType("");
    if (!decl.FResult) return false;
  }
  if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;

  TPSInternalProcedure* forwarded = nullptr;
  int32_t procNo = IndexOfProcUpper(name);
  if (procNo >= 0) {
    auto* ip = dynamic_cast<TPSInternalProcedure*>(FProcs[procNo].get());
    if (ip && ip->FForwarded) forwarded = ip;
  }
  if (forwarded) {
    if (interfaceSection || p.CurrTokenID() == CSTII_Forward) {
      // A second forward declaration is not a body.
      MakeError("", ecBeginExpected, "");
      return false;
    }
    if (!decl.Same(forwarded->FDecl)) {
      MakeError("", ecForwardParameterMismatch, "");
      return false;
    }
  } else if (IsDuplicate(name, true, true, true, true, nullptr)) {
    MakeError("", ecDuplicateIdentifier, name)->SetCustomPos(declAt);
    return false;
  }

  if (!forwarded && p.CurrTokenID() == CSTII_External) {
    if (!FOnExternalProc) {
      MakeError("", ecSemicolonExpected, "");
      return false;
    }
    p.Next();
    if (p.CurrTokenID() != CSTI_String) {
      MakeError("", ecStringExpected, "");
      return false;
    }
    std::string text = p.GetToken().substr(1, p.GetToken().size() - 2);
    p.Next();
    if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
    std::unique_ptr<TPSRegProc> owned = FOnExternalProc(this, &decl, orgName, text);
    if (!owned) {
      MakeError("", ecCustomError, "")->SetCustomPos(declAt);
      return false;
    }
    TPSRegProc* reg = owned.get();
    FRegProcs.push_back(std::move(owned));
    UseRegProc(reg);
    AddProcToIndex(name, reg->FProcNo);
    return true;
  }

  TPSInternalProcedure* proc = forwarded;
  if (!proc) {
    auto created = std::make_unique<TPSInternalProcedure>();
    proc = created.get();
    procNo = static_cast<int32_t>(FProcs.size());
    FProcs.push_back(std::move(created));
    AddProcToIndex(name, procNo);
  }
  proc->SetName(orgName);
  proc->FDecl = decl;
  SetDeclarePosition(*proc, declAt);
  UseType(decl.FResult);
  for (auto& prm : decl.FParams) UseType(prm.FType);
  if (attributes) {
    for (auto& a : attributes->FItems) proc->FAttributes.FItems.push_back(std::move(a));
    if (!ApplyAttributesToProc(proc)) return false;
  }

  if (interfaceSection || p.CurrTokenID() == CSTII_Forward) {
    if (!interfaceSection) {
      p.Next();
      if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
    }
    proc->FForwarded = true;
    return true;
  }
  proc->FForwarded = false;

  if (FOnFunctionStart) FOnFunctionStart(this, orgName, declAt.Pos, declAt.Row, declAt.Col);
  if (p.CurrTokenID() == CSTII_Export) {
    p.Next();
    if (!Expect(CSTI_SemiColon, ecSemicolonExpected)) return false;
  }
  while (p.CurrTokenID() == CSTII_var || p.CurrTokenID() == CSTII_Label) {
    bool ok = p.CurrTokenID() == CSTII_var ? DoVarBlock(proc) : DoLabelBlock(proc);
    if (!ok) return false;
  }
  if (p.CurrTokenID() != CSTII_begin) {
    MakeError("", ecBeginExpected, "");
    return false;
  }
  TPSBlockInfo block(FGlobalBlock.get(), tProcBegin, procNo, proc);
  if (!ProcessSub(&block)) return false;
  if (!CheckLabels(proc)) return false;
  for (auto& v : proc->FProcVars) {
    if (!v->FUsed) MakeHint("", ehVariableNotUsed, v->FName)->SetCustomPos(DeclarePosition(*v));
  }
  if (decl.FResult && !proc->FResultUsed) MakeHint("", ehVariableNotUsed, "Result")->SetCustomPos(declAt);
  if (FOnFunctionEnd) FOnFunctionEnd(this, orgName, p.CurrTokenPos(), p.Row(), p.Col());
  return true;
}

// --- Attributes ----------------------------------------------------------------------------

bool TPSPascalCompiler::ReadAttributes(TPSAttributes& dest) {
  TPSPascalParser& p = *FActiveParser;
  p.Next();  // past "["
  if (p.CurrTokenID() != CSTI_Identifier) {
    MakeError("", ecIdentifierExpected, "");
    return false;
  }
  compiletime::TPSAttributeType* type = FindAttributeType(p.GetToken());
  if (!type) {
    MakeError("", ecUnknownIdentifier, p.OriginalToken());
    return false;
  }
  p.Next();
  if (!Expect(CSTI_OpenRound, ecOpenRoundExpected)) return false;
  TPSAttribute* attr = dest.Add(type);
  bool firstArgument = true;
  for (auto& field : type->FFields) {
    if (field->FHidden) {
      TIfRVariant v = field->FDefaultValue;
      if (!v.FType) v.FType = field->FFieldType;
      attr->FValues.push_back(std::move(v));
      continue;
    }
    if (!firstArgument) {
      if (!Expect(CSTI_Comma, ecCommaExpected)) return false;
    }
    firstArgument = false;
    TPSSourcePos at = p.Position();
    TIfRVariant v;
    if (!ReadConstant(v)) return false;
    if (!IsCompatibleType(field->FFieldType, v.FType, false)) {
      MakeError("", ecTypeMismatch, "")->SetCustomPos(at);
      return false;
    }
    ConvertConstant(v, field->FFieldType);
    attr->FValues.push_back(std::move(v));
  }
  if (!Expect(CSTI_CloseRound, ecCloseRoundExpected)) return false;
  if (!Expect(CSTI_CloseBlock, ecCloseBlockExpected)) return false;
  return true;
}

bool TPSPascalCompiler::ApplyAttributesToType(TPSType* type) {
  for (auto& a : type->FAttributes.FItems)
    if (a->FAttribType->FOnApplyAttributeToType && !a->FAttribType->FOnApplyAttributeToType(this, a.get(), type))
      return false;
  return true;
}

bool TPSPascalCompiler::ApplyAttributesToProc(TPSProcedure* proc) {
  for (auto& a : proc->FAttributes.FItems)
    if (a->FAttribType->FOnApplyAttributeToProc && !a->FAttribType->FOnApplyAttributeToProc(this, a.get(), proc))
      return false;
  return true;
}

TPSAttribute* TPSAttributes::Add(compiletime::TPSAttributeType* type) {
  FItems.push_back(std::make_unique<TPSAttribute>(type));
  return FItems.back().get();
}

TPSAttribute* TPSAttributes::FindAttribute(std::string_view name) const {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (auto& a : FItems)
    if (a->FAttribType->Is(upper, hash)) return a.get();
  return nullptr;
}

}  // namespace ps
