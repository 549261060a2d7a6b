// Blocks of statements and the debug records written while a body is
// compiled. Statement code generation is not built yet: a block may only
// be empty (empty statements allowed); anything else is reported.
#include "engine/uPSCompiler.h"

namespace ps {

namespace {

constexpr std::string_view SStatementsNotCompiled = "statements are not compiled yet";

void AppendUInt32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

bool TPSPascalCompiler::ProcessSub(TPSBlockInfo* block) {
  TPSPascalParser& p = *FActiveParser;
  TPSInternalProcedure* proc = block->FProc;
  if (block->FSubType == tProcBegin) {
    WriteDebugNames(proc, block->FProcNo);
    // The locals live on the stack from the procedure's first instruction on.
    for (auto& v : proc->FProcVars) {
      proc->FData.push_back(static_cast<char>(OpPushType));
      AppendUInt32(proc->FData, static_cast<uint32_t>(ResolveTypeLink(v->FType)->FFinalTypeNo));
    }
  }
  p.Next();  // past "begin"
  while (true) {
    TPSPasToken token = p.CurrTokenID();
    if (token == CSTI_SemiColon) {
      p.Next();
      continue;
    }
    if (token == CSTII_end) break;
    if (token == CSTI_EOF) {
      if (!FParserHadError) MakeError("", ecUnexpectedEndOfFile, "");
      return false;
    }
    MakeError("", ecInternalError, SStatementsNotCompiled);
    return false;
  }
  WriteDebugPosition(proc, block->FProcNo);
  proc->FData.push_back(static_cast<char>(OpReturn));
  p.Next();  // past "end"
  if (block->FSubType == tMainBegin) {
    if (p.CurrTokenID() != CSTI_Period) {
      MakeError("", ecPeriodExpected, "");
      return false;
    }
    p.Next();
  } else if (block->FSubType == tProcBegin) {
    if (p.CurrTokenID() != CSTI_SemiColon) {
      MakeError("", ecSemicolonExpected, "");
      return false;
    }
    p.Next();
  }
  return true;
}

void TPSPascalCompiler::WriteDebugPosition(TPSInternalProcedure* proc, int32_t procNo) {
  TPSPascalParser& p = *FActiveParser;
  uint32_t codePos = static_cast<uint32_t>(proc->FData.size());
  if (FOnWriteLine && !FOnWriteLine(this, codePos)) return;
  uint32_t pos = p.CurrTokenPos(), row = p.Row(), col = p.Col();
  std::string fileName;
  if (FOnTranslateLineInfo) FOnTranslateLineInfo(this, pos, row, col, fileName);
  FDebugOutput.push_back(static_cast<char>(DebugPosition));
  FDebugOutput += fileName;
  FDebugOutput.push_back(PSDebugNameEnd);
  AppendUInt32(FDebugOutput, static_cast<uint32_t>(procNo));
  AppendUInt32(FDebugOutput, codePos);
  AppendUInt32(FDebugOutput, pos);
  AppendUInt32(FDebugOutput, row);
  AppendUInt32(FDebugOutput, col);
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
