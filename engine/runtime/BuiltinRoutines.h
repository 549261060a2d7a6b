// The run-time side of the routines the compiler declares for every script.
#pragma once

#include "engine/LibraryTable.h"
#include "engine/uPSRuntime.h"

namespace ps {

// The routines every compilation declares, in declaration order: the
// internal ones first (known to the executor by their keys), then the
// standard ones.
std::span<const TPSRoutineRow> InternalRoutineRows();
std::span<const TPSRoutineRow> StandardRoutineRows();

// Handlers behind the notification variables and member access on variants
// (BuiltIns.cpp).
bool NotificationVariantGet(TPSExec* exec, TPSExternalProcRec* proc, TPSStack* globals, TPSStack* stack);
bool NotificationVariantSet(TPSExec* exec, TPSExternalProcRec* proc, TPSStack* globals, TPSStack* stack);
bool DispatchInvoke(TPSExec* exec, TPSExternalProcRec* proc, TPSStack* globals, TPSStack* stack);

// Routines the fast loop runs in place of their call sequence.
enum class TInlineRoutine : uint8_t { None, Length, StrGet, StrToInt, Pos, Copy, IntToStr };
TInlineRoutine InlineRoutineOf(TPSProcPtr handler);
// Pos(SubStr, S), Copy(S, From, Count) and IntToStr(I) into R, on values
// where they lie.
void IntToText(uint8_t* r, const TPSTypeRec* rType, int64_t value);
// The decimal digits of a number, written into `buffer`.
std::u16string_view WideDecimal(int64_t value, char16_t (&buffer)[24]);
// StrToInt(S) of a string of either width.
int32_t StrToIntOf(const uint8_t* s, const TPSTypeRec* sType);
int32_t PosIn(const uint8_t* sub, const TPSTypeRec* subType, const uint8_t* s, const TPSTypeRec* sType);
void CopyTo(uint8_t* r, const TPSTypeRec* rType, const uint8_t* s, const TPSTypeRec* sType, int64_t from,
            int64_t count);

// Binds the internal and standard routines by name.
void RegisterStandardRoutines(TPSExec& exec);

}  // namespace ps
