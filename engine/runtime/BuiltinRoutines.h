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
enum class TInlineRoutine : uint8_t { None, Length, StrGet };
TInlineRoutine InlineRoutineOf(TPSProcPtr handler);

// Binds the internal and standard routines by name.
void RegisterStandardRoutines(TPSExec& exec);

}  // namespace ps
