// The compiled module: the one contract between the compiler, which writes
// it, and the executor, which loads and runs it. Every list of the format
// (base types, opcodes, operand kinds, operators, debug tags) is defined here
// once; nothing re-derives them elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ps {

// --- Header -------------------------------------------------------------------
constexpr uint32_t PSValidHeader = 0x53504649;  // "IFPS"
constexpr uint32_t PSCurrentBuildNo = 23;       // written
constexpr uint32_t PSLowBuildSupport = 12;      // oldest accepted
constexpr uint32_t PSHeaderSize = 28;
constexpr uint32_t PSNoMainProc = 0xFFFFFFFF;
// Offsets of the header fields.
constexpr uint32_t PSHeaderMagic = 0, PSHeaderVersion = 4, PSHeaderTypeCount = 8, PSHeaderProcCount = 12,
                   PSHeaderVarCount = 16, PSHeaderMainProc = 20, PSHeaderReserved = 24;

// --- Base type codes ----------------------------------------------------------------
using TPSBaseType = uint8_t;
constexpr TPSBaseType btReturnAddress = 0;  // runtime only, rejected in a module
constexpr TPSBaseType btU8 = 1;             // also Boolean and small enumerations
constexpr TPSBaseType btS8 = 2;
constexpr TPSBaseType btU16 = 3;
constexpr TPSBaseType btS16 = 4;
constexpr TPSBaseType btU32 = 5;
constexpr TPSBaseType btS32 = 6;
constexpr TPSBaseType btSingle = 7;
constexpr TPSBaseType btDouble = 8;
constexpr TPSBaseType btExtended = 9;  // 10-byte x87 extended
constexpr TPSBaseType btString = 10;   // shared 8-bit string (AnsiString)
constexpr TPSBaseType btRecord = 11;
constexpr TPSBaseType btArray = 12;  // dynamic array
constexpr TPSBaseType btPointer = 13;
constexpr TPSBaseType btPChar = 14;
constexpr TPSBaseType btResourcePointer = 15;  // invalid in a module
constexpr TPSBaseType btVariant = 16;
constexpr TPSBaseType btS64 = 17;
constexpr TPSBaseType btChar = 18;
constexpr TPSBaseType btWideString = 19;
constexpr TPSBaseType btWideChar = 20;
constexpr TPSBaseType btProcPtr = 21;
constexpr TPSBaseType btStaticArray = 22;
constexpr TPSBaseType btSet = 23;
constexpr TPSBaseType btCurrency = 24;
constexpr TPSBaseType btClass = 25;
constexpr TPSBaseType btInterface = 26;
// 27 is a compiler-only kind, written as btU32; the compiler's other own
// kinds (enumerations, type-of-type) are mapped before a module is written.
constexpr TPSBaseType btUnicodeString = 28;

// Bit set on a type entry's code byte when an export name follows.
constexpr uint8_t PSTypeExportedFlag = 0x80;

// --- Procedure entry flags ------------------------------------------------------------
constexpr uint8_t PSProcExternal = 0x01;
constexpr uint8_t PSProcExported = 0x02;  // internal: name+decl follow; external: decl follows
constexpr uint8_t PSProcAttributes = 0x04;

// --- Calling conventions ----------------------------------------------------------------
// Host routines' calling conventions; a class member's import text carries one as a byte.
enum TPSCallingConvention : uint8_t { cdRegister = 0, cdPascal = 1, cdCdecl = 2, cdStdCall = 3, cdSafeCall = 4 };

// --- Variable entry flags -------------------------------------------------------------
constexpr uint8_t PSVarExported = 0x01;

// --- Operands -------------------------------------------------------------------------
// Every operand is a kind byte followed by a uint32.
enum TPSOperandKind : uint8_t {
  OperandVar = 0,        // uint32 variable reference
  OperandConst = 1,      // uint32 type index, encoded value
  OperandElemConst = 2,  // uint32 variable reference, uint32 index
  OperandElemVar = 3,    // uint32 variable reference, uint32 variable reference of the index
};
// References below this are global variable numbers.
constexpr uint32_t PSStackReferenceStart = 0x40000000;
// Stack references are relative to the frame base: index = ref - this + base.
constexpr uint32_t PSStackFrameBase = 0x60000000;

// --- Instruction set -----------------------------------------------------------------
// "op d" is an operand read dereferenced, "op n" undereferenced.
enum TPSOpcode : uint8_t {
  OpAssign = 0,           // op d dest, op d src: dest := src with conversions
  OpCalculate = 1,        // byte operator, op d dest, op d src: dest := dest op src
  OpPush = 2,             // op d: push a copy of the value
  OpPushVarRef = 3,       // op d: push a non-owning pointer entry to the operand
  OpPop = 4,              // pop the top entry (not a return address)
  OpCall = 5,             // uint32 procedure index
  OpJump = 6,             // int32 offset from after the instruction
  OpJumpIfTrue = 7,       // int32 offset, op d ordinal: jump when not zero
  OpJumpIfFalse = 8,      // int32 offset, op d ordinal: jump when zero
  OpReturn = 9,           // return; pending finally parts of the frame run first
  OpPushType = 11,        // uint32 type index: push a zero-initialised entry
  OpCompare = 12,         // byte operator, op d dest, op d left, op d right: dest := Boolean
  OpCallVar = 13,         // op d procedure pointer: call by number or host method
  OpSetPointer = 14,      // op n dest pointer, op n source: dest refers to source
  OpBoolNot = 15,         // op d: logical not in place
  OpNegate = 16,          // op d: arithmetic negation in place
  OpSetFlag = 17,         // op d ordinal, byte invert: jump flag := (op <> 0) xor invert
  OpJumpIfFlag = 18,      // int32 offset: jump when the jump flag is set
  OpTryBegin = 19,        // int32 finally, int32 except, int32 second finally, int32 end (-1 absent)
  OpTryEnd = 20,          // byte section: 0 guarded, 1 finally, 2 except, 3 second finally
  OpBitNot = 21,          // op d: bitwise complement in place
  OpSetPointerCopy = 22,  // op n dest pointer, op n source: dest owns a copy of source
  OpIncrement = 23,       // op d integer: add 1, wrapping
  OpDecrement = 24,       // op d integer: subtract 1, wrapping
  OpPopJump = 25,         // int32 offset: pop one entry, then jump
  OpPop2Jump = 26,        // int32 offset: pop two entries, then jump
  OpNop = 255,            // nothing
};

// Operators of OpCalculate.
enum TPSCalcOperator : uint8_t {
  CalcAdd = 0,  // also string concatenation and set union
  CalcSub = 1,  // also set difference
  CalcMul = 2,  // also set intersection
  CalcDiv = 3,  // integer division for integers, real division for reals
  CalcMod = 4,
  CalcShl = 5,
  CalcShr = 6,
  CalcAnd = 7,
  CalcOr = 8,
  CalcXor = 9,
  CalcClassCheck = 10,  // dest class value must be an instance of the class type index in src
};

// Operators of OpCompare.
enum TPSCompareOperator : uint8_t {
  CmpGreaterEqual = 0,  // sets: superset
  CmpLessEqual = 1,     // sets: subset
  CmpGreater = 2,
  CmpLess = 3,
  CmpNotEqual = 4,
  CmpEqual = 5,
  CmpIn = 6,  // ordinal in set, or value in array of variants
  CmpIs = 7,  // object is instance of the class type index held in right
};

// Sections closed by OpTryEnd.
enum TPSTryEndSection : uint8_t {
  TryEndGuarded = 0,
  TryEndFinally = 1,
  TryEndExcept = 2,
  TryEndSecondFinally = 3,
};

// --- Debug information records --------------------------------------------------------
// A name list is a run of names each followed by 0x01, ended by 0x00.
enum TPSDebugTag : uint8_t {
  DebugProcNames = 0,   // name list: all procedures in table order
  DebugVarNames = 1,    // name list: all global variables
  DebugParamNames = 2,  // uint32 proc, name list ("Result" first for functions)
  DebugLocalNames = 3,  // uint32 proc, name list
  DebugPosition = 4,    // file name 0x01, uint32 proc, pos, source pos, row, col
};
constexpr char PSDebugNameEnd = 0x01;
constexpr char PSDebugListEnd = 0x00;

// Numbers in modules and debug records are little-endian.
inline void AppendUInt32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// --- Names ------------------------------------------------------------------------------
// Script names are compared in upper case, folding only a to z.
inline std::string FastUpperCase(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

// The 32-bit name hash every name table stores beside an upper-case name:
// for each byte, rotate left by 7 bits, then add the byte.
inline uint32_t MakeHash(std::string_view name) {
  uint32_t hash = 0;
  for (unsigned char c : name) hash = ((hash << 7) | (hash >> 25)) + c;
  return hash;
}

}  // namespace ps
