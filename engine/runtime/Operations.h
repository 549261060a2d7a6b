// The value operations of the instructions: assignment with conversion,
// calculation, comparison and the unary operations. Each returns the error
// code of its own checks (ErNoError on success); host errors raised by the
// getters and by arithmetic propagate as exceptions for the executor to
// convert.
#pragma once

#include <type_traits>

#include "engine/uPSRuntime.h"

namespace ps {

TPSError AssignValue(uint8_t* dst, const TPSTypeRec* dt, const uint8_t* src, const TPSTypeRec* st,
                     TPSExec* exec = nullptr);
TPSError CalculateValue(TPSExec& exec, uint8_t* dst, const TPSTypeRec* dt, const uint8_t* src, const TPSTypeRec* st,
                        uint8_t op);
// The quick cases of both, which the fast loop takes directly. A character
// of the first 256 codes made a string of kind `db` (ANSI or UnicodeString)
// takes its one-character block, made once: true when it did.
bool AssignCharacterText(uint8_t* dst, TPSBaseType db, const uint8_t* src, TPSBaseType sb);
// A UTF-16 text or a character appended to a UTF-16 string where it lies:
// false (nothing done) for other kinds, which need converting first.
bool AppendWideText(uint8_t* dst, const uint8_t* src, TPSBaseType sb);
TPSError CompareValues(TPSExec& exec, const uint8_t* left, const TPSTypeRec* lt, const uint8_t* right,
                       const TPSTypeRec* rt, uint8_t op, bool& result);
// A comparison operator (CmpGreaterEqual...) applied to two values of one type.
template <class T>
inline bool Relate(const T& a, const T& b, uint8_t op) {
  switch (op) {
    case CmpGreaterEqual: return a >= b;
    case CmpLessEqual: return a <= b;
    case CmpGreater: return a > b;
    case CmpLess: return a < b;
    case CmpNotEqual: return a != b;
    default: return a == b;
  }
}
// One integer operator at 32 or 64 bits, wrapping as the general operation
// does (the lowest value divided by -1 is itself, remainder 0); false for a
// division by zero and for operators it leaves to the general operation.
template <class U>
inline bool IntegerCalc(uint8_t op, U a, U b, bool isUnsigned, U& r) {
  using S = std::make_signed_t<U>;
  constexpr U shiftMask = sizeof(U) * 8 - 1;
  switch (op) {
    case CalcAdd: r = a + b; return true;
    case CalcSub: r = a - b; return true;
    case CalcMul: r = a * b; return true;
    case CalcDiv:
    case CalcMod:
      if (b == 0) return false;
      if (isUnsigned)
        r = op == CalcDiv ? a / b : a % b;
      else if (static_cast<S>(b) == -1)
        r = op == CalcDiv ? U(0) - a : U(0);
      else
        r = static_cast<U>(op == CalcDiv ? static_cast<S>(a) / static_cast<S>(b)
                                         : static_cast<S>(a) % static_cast<S>(b));
      return true;
    case CalcShl: r = a << (b & shiftMask); return true;
    case CalcShr: r = a >> (b & shiftMask); return true;
    case CalcAnd: r = a & b; return true;
    case CalcOr: r = a | b; return true;
    case CalcXor: r = a ^ b; return true;
    default: return false;
  }
}

// Stores a comparison result into an ordinal or variant destination.
TPSError StoreBoolean(uint8_t* dst, const TPSTypeRec* dt, bool value);
TPSError BoolNotValue(uint8_t* p, const TPSTypeRec* t);
TPSError NegateValue(uint8_t* p, const TPSTypeRec* t);
TPSError BitNotValue(uint8_t* p, const TPSTypeRec* t);

}  // namespace ps
