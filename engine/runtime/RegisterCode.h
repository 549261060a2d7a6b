// The register form of a procedure that computes with ordinal values only:
// its parameters, locals and temporaries are plain 64-bit slots laid out at
// translation (a frame is a window onto one array of slots), its calls of
// such procedures copy nothing and allocate nothing, and every operand is a
// slot number, a slot a var parameter refers to, or a constant.
//
// Such a procedure touches nothing outside its frame but its var
// parameters, which it works on in slots of their own, written back only
// when the call returns. A call run this way is therefore all or nothing:
// anything the form does not handle (a division by zero, a deeper recursion
// than the stack allows, a Stop) drops the work done so far and the call
// runs again through the stack the ordinary way, which reports the failure
// at its own position. A procedure whose register run gave up once runs the
// ordinary way from then on.
//
// Loops of any procedure run in the same form over its frame entries,
// globals and global arrays, in place of the general loops from the loop's
// head; where they end, the stack entries are rebuilt from the slots so the
// general loops go on exactly where an ordinary run would be.
#pragma once

#include <memory>
#include <vector>

#include "engine/runtime/FastCode.h"

namespace ps {

struct TPSRegisterCode;

// The kinds the register form computes with: Booleans and enumerations,
// Cardinal, Integer and Int64.
inline bool RegisterKind(TPSBaseType b) { return b == btU8 || b == btS32 || b == btU32 || b == btS64; }

enum TRegOperandKind : uint8_t {
  RoSlot,    // the frame's slot Off
  RoRef,     // the slot whose number the frame's slot Off holds (a var parameter)
  RoConst,   // K
  RoGlobal,  // the global at P, of kind Type (loops, while translating: a slot when done)
  RoElem,    // the element of the dynamic array in the global at P, by the index IndexKind says (loops only)
};

struct TRegOperand {
  TRegOperandKind Kind = RoConst;
  TPSBaseType Type = btU8;              // RoGlobal, RoElem: the kind in memory
  TRegOperandKind IndexKind = RoConst;  // RoElem: RoSlot (IndexOff), RoConst (K) or RoGlobal (IndexP)
  TPSBaseType IndexType = btS32;        // RoElem by a global
  int32_t Off = 0;
  int32_t IndexOff = 0;
  uint32_t ElemSize = 0;
  int64_t K = 0;
  uint8_t* P = nullptr;
  uint8_t* IndexP = nullptr;
};

enum TRegOp : uint8_t {
  RgZero,     // A := 0
  RgCopy,     // A := B
  RgConvert,  // A := B converted to A's kind
  RgUnary,    // A := Sub A (Sub the opcode: OpNegate, OpBoolNot or OpBitNot)
  RgRefSlot,  // A := the number of the frame's slot B.Off
  RgRefCopy,  // A := B's slot number (B a reference itself)
  RgCalc64,   // A := B Sub C at 64 bits
  RgCompare,  // A := B Sub C (any two kinds compare by value)
  // RgCompare, then (Flag & 4) B stepped by one in kind Type, (Flag & 2) the
  // jump flag set, and a jump to Target when the result is Flag & 1.
  RgCompareJump,
  RgIncDec,      // A := A + B.K in A's kind
  RgJump,        // to Target
  RgJumpIf,      // to Target when (A <> 0) = Flag
  RgSetFlag,     // flag := (A <> 0) = Flag
  RgJumpIfFlag,  // to Target when the flag is set
  RgCall,        // Callee with its frame base Frame slots above this one's
  RgReturn,
  RgExit,  // loops only: the general loops go on from instruction At
  // A := B op C at 32 bits (Flag: unsigned, Type: A's kind), one per
  // operator (RgCalc32 + CalcAdd .. CalcXor), each with a dispatch of its own.
  RgCalc32,
  // Loops: the same with every operand a slot, and the same for RgCopy and
  // RgCompareJump (no operand kinds looked at).
  RgCalc32Slots = RgCalc32 + CalcXor + 1,
  RgCopySlots = RgCalc32Slots + CalcXor + 1,
  RgCompareJumpSlots,
  RgOpCount,
};

struct TRegInstr {
  TRegOp Op = RgReturn;
  uint8_t Sub = 0;
  uint8_t Flag = 0;
  TPSBaseType Type = btU8;  // the destination's kind
  uint32_t Target = 0;
  int32_t Frame = 0;
  TPSRegisterCode* Callee = nullptr;
  uint32_t At = 0;  // the instruction it came from (loops: where a failure goes on)
  TRegOperand A, B, C;
};

// A parameter as the register form expects it: a value of the kind, or a
// var parameter referring to a variable of the kind.
struct TRegParam {
  TPSBaseType Type = btU8;
  bool Ref = false;
  const TPSTypeRec* Rec = nullptr;  // loops: the type its stack entry is made with
  bool operator==(const TRegParam& o) const { return Type == o.Type && Ref == o.Ref; }
};

struct TPSRegisterCode {
  std::vector<TRegInstr> Code;
  // Loops: the register instruction each loop head starts at (-1: none),
  // and the frame (entries above the base) before each instruction.
  std::vector<int32_t> Entries;
  std::vector<std::vector<TRegParam>> Frames;  // each different frame once
  std::vector<uint32_t> FrameOf;               // by instruction: its frame in Frames
  // Loops: the globals (P) and constants (K) they use, in slots FrameSize + 1
  // on while a loop runs.
  struct TGlobal {
    uint8_t* P;
    TPSBaseType Type;
    int64_t K;
  };
  std::vector<TGlobal> Globals;
  std::vector<TRegParam> Params;  // frame -1 first
  int32_t FrameSize = 0;          // the most slots above the frame base
  bool Ready = false;             // translated and not given up
  bool Busy = false;              // being translated (a recursive call refers to it)
};

// Translates the procedure for the parameters (compiling the procedures it
// calls as well); false, with the procedure marked, when it has anything the
// register form does not handle.
bool TranslateRegisters(TPSExec& exec, TPSInternalProcRec& proc, const std::vector<TRegParam>& params);

// The loops of a procedure's code whose every instruction the register form
// handles, operating on ordinal globals, elements of global arrays of
// ordinals and ordinal frame entries; nil when it has none.
std::unique_ptr<TPSRegisterCode> TranslateLoops(TPSExec& exec, TPSInternalProcRec& proc);

// Runs the loop of the current procedure whose head is instruction `head`,
// the stack's frame as the loop expects it, until an instruction outside the
// form or a failure: the stack entries and the position are then those of
// the ordinary run at that instruction. False, with nothing done, when the
// frame does not match; `resume` is that instruction.
bool RunLoop(TPSExec& exec, const TPSRegisterCode& code, uint32_t head, uint32_t& resume);

// How many stack entries below its frame a procedure reads (its parameters).
int32_t ParameterReach(const std::vector<TFastInstr>& code);

// Runs a call of `proc`, whose arguments are on the stack, in the register
// form when it has one for them: true when the call is done (its var
// parameters written back); false, with nothing changed, when the call must
// run the ordinary way.
bool RunRegisters(TPSExec& exec, TPSInternalProcRec& proc);

}  // namespace ps
