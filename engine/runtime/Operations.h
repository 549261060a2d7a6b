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
// Stores a comparison result into an ordinal or variant destination.
TPSError StoreBoolean(uint8_t* dst, const TPSTypeRec* dt, bool value);
TPSError BoolNotValue(uint8_t* p, const TPSTypeRec* t);
TPSError NegateValue(uint8_t* p, const TPSTypeRec* t);
TPSError BitNotValue(uint8_t* p, const TPSTypeRec* t);

}  // namespace ps
