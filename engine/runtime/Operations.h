// The value operations of the instructions: assignment with conversion,
// calculation, comparison and the unary operations. Each returns the error
// code of its own checks (ErNoError on success); host errors raised by the
// getters and by arithmetic propagate as exceptions for the executor to
// convert.
#pragma once

#include "engine/uPSRuntime.h"

namespace ps {

TPSError AssignValue(uint8_t* dst, const TPSTypeRec* dt, const uint8_t* src, const TPSTypeRec* st,
                     TPSExec* exec = nullptr);
TPSError CalculateValue(TPSExec& exec, uint8_t* dst, const TPSTypeRec* dt, const uint8_t* src, const TPSTypeRec* st,
                        uint8_t op);
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
// Stores a comparison result into an ordinal or variant destination.
TPSError StoreBoolean(uint8_t* dst, const TPSTypeRec* dt, bool value);
TPSError BoolNotValue(uint8_t* p, const TPSTypeRec* t);
TPSError NegateValue(uint8_t* p, const TPSTypeRec* t);
TPSError BitNotValue(uint8_t* p, const TPSTypeRec* t);

}  // namespace ps
