// The translated form of a procedure's code: each instruction decoded once
// at load, its operands resolved to global addresses, frame-relative entry
// numbers or materialised constants and its jump targets to instruction
// numbers. The fast loop runs the common cases of the common instructions
// from it; whatever it does not handle (and every failure) goes through the
// general instruction loop at the instruction's byte position, so errors,
// positions and hooks behave exactly as there.
#pragma once

#include <vector>

#include "engine/runtime/Values.h"

namespace ps {

enum TFastOperandKind : uint8_t {
  FoConst,      // Value, of type T
  FoGlobal,     // the global at P, of type T
  FoStack,      // the stack entry Frame places above the frame base
  FoElem,       // an element of the dynamic array in the base variable
  FoElemFixed,  // FoElem of a global array by a constant or an integer at IndexFixed
};

struct TFastOperand {
  TFastOperandKind Kind = FoConst;
  TFastOperandKind BaseKind = FoGlobal;  // FoElem: FoGlobal or FoStack
  TFastOperandKind IndexKind = FoConst;  // FoElem: FoConst, FoGlobal or FoStack
  uint8_t* Fixed = nullptr;              // the value's address when known at load (of type T)
  int32_t Frame = 0;                     // FoStack, or the base of FoElem on the stack
  int32_t IndexFrame = 0;                // FoElem: index on the stack
  uint32_t IndexConst = 0;               // FoElem: constant index
  uint8_t* P = nullptr;                  // FoGlobal, or the base of FoElem as a global
  const TPSTypeRec* T = nullptr;         // FoConst, FoGlobal, or the base of FoElem as a global
  uint8_t* IndexP = nullptr;             // FoElem: index as a global
  const TPSTypeRec* IndexT = nullptr;
  uint8_t* IndexFixed = nullptr;      // FoElemFixed: the index (nil: IndexConst)
  const TPSTypeRec* ElemT = nullptr;  // FoElemFixed: the element type
  uint32_t ElemSize = 0;
  alignas(16) uint8_t Value[16] = {};  // FoConst
  // FoConst of an ANSI string: the text as a UnicodeString takes it.
  TPSBlockHeader* Wide = nullptr;
  bool HasWide = false;  // Wide is set (nil is the empty text)
};

enum TFastOp : uint8_t {
  FxGeneral,  // runs through the general loop
  FxNop,
  FxAssign,
  FxCalc,
  FxCompare,
  FxJump,
  FxJumpIf,
  FxSetFlag,
  FxJumpIfFlag,
  FxPushType,
  FxPush,
  FxPushVarRef,
  FxPop,
  FxIncDec,
  FxCall,
  FxReturn,
  FxCompareJump,  // FxCompare, an optional increment of its left operand, then FxJumpIf on its result
  FxCallHost,     // a call of an external procedure
  FxFlagJump,     // FxSetFlag, with Step a pop of the top entry, then FxJumpIfFlag
  FxPushCalc,     // FxPushType of an Integer, assigned B, then calculated with C (operator Sub)
  FxWindow,       // FxPushType of a temporary that its window's copies keep in the code's slot instead
  FxPopRun,       // FxPop and the Frame - 1 pops that follow it
  FxSetPointer,   // OpSetPointer of a variable to a variable
  FxChain32,      // FxCalc32Op or FxAssignCalc32Op, then the FxCalc32Op of Chain on the same destination
  // A call of Length or StrGet, from the push of its result to the pops
  // after it, done in place: the result is pushed (at Frame) from the text
  // B and (StrGet) the index C; Sub is the routine. With Step, the result is
  // compared (operator Jump) with the constant JumpTo of kind ChainLength
  // into A instead of pushed (the comparison's own instruction is Target).
  // Pos and Copy: from the push of the reference A, their arguments pushed.
  FxInlineCall,
  // The same three with the operator fixed at load (each with a dispatch of its own):
  FxCalcOp,                              // + CalcAdd .. CalcXor
  FxCompareOp = FxCalcOp + CalcXor + 1,  // + CmpGreaterEqual .. CmpEqual
  FxCompareJumpOp = FxCompareOp + CmpIn,
  // Both operands at fixed addresses of 32-bit integer kinds:
  FxAssign32 = FxCompareJumpOp + CmpIn,  // of the same kind
  FxCalc32Op,                            // + CalcAdd .. CalcXor
  // FxAssign32 then FxCalc32Op on the same destination: A := B op C (the
  // calculation, JumpTo, runs alone when the quick form cannot do it).
  FxAssignCalc32Op = FxCalc32Op + CalcXor + 1,
  FxOpCount = FxAssignCalc32Op + CalcXor + 1,
};

struct TFastInstr {
  TFastOp Op = FxGeneral;
  uint8_t Sub = 0;   // operator; FxJumpIf/FxSetFlag: 1 jumps or sets on true; FxIncDec: 1 adds, 0 subtracts
  uint8_t Jump = 0;  // FxCompareJump: 1 jumps on true
  uint8_t Step = 0;  // FxCompareJump: 1 increments the left operand first; FxFlagJump: 1 pops
  // FxInlineCall compared in place: CalcAnd or CalcOr combines the result
  // into A and drops the Boolean entry below the result's place (0 stores it in A).
  uint8_t Combine = 0;
  uint32_t Pos = 0;            // byte offset of the instruction
  uint32_t End = 0;            // byte offset after it
  uint32_t Target = 0;         // jumps, FxWindow and its copies: instruction number; FxCall: procedure number
  int32_t Frame = 0;           // FxWindow: the frame entry of the temporary; FxPopRun: the number of pops
  uint32_t JumpTo = 0;         // FxFlagJump, FxCompareJump: the instruction jumped to
  bool Window = false;         // a copy inside a window (its instruction is Target)
  uint32_t Next = 0;           // the instruction that follows (past no-operations and plain jumps)
  TPSTypeRec* Type = nullptr;  // FxPushType, FxWindow and its copies: the temporary's type
  // FxChain32: the value starts from ChainFrom (the destination, or the
  // source of the assignment), then each step calculates in turn; a step the
  // quick form cannot do runs alone from its own instruction, At.
  struct TChainStep {
    uint8_t Op = 0;
    const uint8_t* Src = nullptr;
    uint32_t At = 0;
  };
  static constexpr int MaxChain = 3;
  TChainStep Chain[MaxChain];
  uint8_t ChainLength = 0;
  const uint8_t* ChainFrom = nullptr;
  TFastOperand A, B, C;
};

struct TPSFastCode {
  std::vector<TFastInstr> Code;
  // Instruction number of each byte offset of the translated part (and the
  // offset after it); -1 inside an instruction. Offsets past it are not here.
  std::vector<int32_t> IndexOf;
  // The temporary of the running window: a window runs no calls and no
  // general routine, so one slot per procedure serves.
  alignas(16) mutable uint8_t Temp[16] = {};
};

// Builds the translated form of the procedure's code.
std::unique_ptr<TPSFastCode> TranslateProc(TPSExec& exec, TPSInternalProcRec& proc);
// The procedure's instructions decoded one by one, nothing joined: jump
// targets are instruction numbers, and the last instruction (past the
// translated part) is left to the general loop.
std::vector<TFastInstr> DecodeProc(TPSExec& exec, TPSInternalProcRec& proc);

}  // namespace ps
