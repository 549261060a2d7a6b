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
#pragma once

#include <memory>
#include <vector>

#include "engine/runtime/FastCode.h"

namespace ps {

struct TPSRegisterCode;

enum TRegOperandKind : uint8_t {
  RoSlot,   // the frame's slot Off
  RoRef,    // the slot whose number the frame's slot Off holds (a var parameter)
  RoConst,  // K
};

struct TRegOperand {
  TRegOperandKind Kind = RoConst;
  int32_t Off = 0;
  int64_t K = 0;
};

enum TRegOp : uint8_t {
  RgZero,        // A := 0
  RgCopy,        // A := B
  RgConvert,     // A := B converted to A's kind
  RgUnary,       // A := Sub A (Sub the opcode: OpNegate, OpBoolNot or OpBitNot)
  RgRefSlot,     // A := the number of the frame's slot B.Off
  RgRefCopy,     // A := B's slot number (B a reference itself)
  RgCalc32,      // A := A Sub B at 32 bits (Flag: unsigned, Type: A's kind)
  RgCalc64,      // A := A Sub B at 64 bits
  RgCompare,     // A := B Sub C (any two kinds compare by value)
  RgCompareJump, // RgCompare, then the jump flag set from A as Flag says and a jump to Target when set
  RgIncDec,      // A := A + B.K in A's kind
  RgJump,        // to Target
  RgJumpIf,      // to Target when (A <> 0) = Flag
  RgSetFlag,     // flag := (A <> 0) = Flag
  RgJumpIfFlag,  // to Target when the flag is set
  RgCall,        // Callee with its frame base Frame slots above this one's
  RgReturn,
};

struct TRegInstr {
  TRegOp Op = RgReturn;
  uint8_t Sub = 0;
  uint8_t Flag = 0;
  TPSBaseType Type = btU8;  // the destination's kind
  uint32_t Target = 0;
  int32_t Frame = 0;
  TPSRegisterCode* Callee = nullptr;
  TRegOperand A, B, C;
};

// A parameter as the register form expects it: a value of the kind, or a
// var parameter referring to a variable of the kind.
struct TRegParam {
  TPSBaseType Type = btU8;
  bool Ref = false;
  bool operator==(const TRegParam&) const = default;
};

struct TPSRegisterCode {
  std::vector<TRegInstr> Code;
  std::vector<TRegParam> Params;  // frame -1 first
  int32_t FrameSize = 0;          // the most slots above the frame base
  bool Ready = false;             // translated and not given up
  bool Busy = false;              // being translated (a recursive call refers to it)
};

// Translates the procedure for the parameters (compiling the procedures it
// calls as well); false, with the procedure marked, when it has anything the
// register form does not handle.
bool TranslateRegisters(TPSExec& exec, TPSInternalProcRec& proc, const std::vector<TRegParam>& params);

// How many stack entries below its frame a procedure reads (its parameters).
int32_t ParameterReach(const std::vector<TFastInstr>& code);

// Runs a call of `proc`, whose arguments are on the stack, in the register
// form when it has one for them: true when the call is done (its var
// parameters written back); false, with nothing changed, when the call must
// run the ordinary way.
bool RunRegisters(TPSExec& exec, TPSInternalProcRec& proc);

}  // namespace ps
