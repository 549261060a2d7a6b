// Arithmetic, logic and comparison on variants, as scripts use them.
//
// Operand rules: Empty counts as 0 (and as "" beside a string); Null makes an
// arithmetic result Null; two strings add by concatenation and compare by
// character codes; a string beside a number is read as a number. Integers
// combine in 64 bits (the result is Integer when it fits, else Int64); a real,
// currency or date operand makes the operation real (currency beside integers
// and currency stays currency, a date plus or minus a number stays a date).
// Booleans combine with and, or and xor into Booleans.
#pragma once

#include "rtl/Variant.h"

namespace rtl {

enum class TVarOp { Add, Subtract, Multiply, Divide, IntDivide, Modulus, Shl, Shr, And, Or, Xor };

// The result of `left op right`. Raises EDivByZero, EZeroDivide, EInvalidOp,
// EOverflow for arithmetic faults and EVariantTypeCastError for operands the
// operation does not take (arrays, interfaces, text that is not a number).
Variant VarBinaryOp(const Variant& left, const Variant& right, TVarOp op);
// Division as a script's "/" or "div" on variants: integer division when both
// operands are integers, real division otherwise.
Variant VarDivide(const Variant& left, const Variant& right);

// -1, 0 or 1. Null equals Null and is less than anything else; raises
// EVariantTypeCastError for values that have no order (arrays, interfaces
// compared for order, text beside a number that is not a number).
int VarCompareValue(const Variant& left, const Variant& right);
// Equality that never raises: values without a common order are unequal,
// interfaces are equal when they are the same object.
bool VarSameValue(const Variant& left, const Variant& right);

Variant VarNegate(const Variant& value);
// Boolean not for Booleans, bitwise complement for integers; Null stays Null.
Variant VarNot(const Variant& value);

}  // namespace rtl
