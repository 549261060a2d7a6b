// The tables of the standard import libraries, read by their compile-time
// hooks (uPSC_*) and their run-time hooks (uPSR_*).
#pragma once

#include "engine/LibraryTable.h"

namespace ps {

// TObject, TPersistent, TComponent.
std::span<const TPSClassRow> StdClassRows();

// Options of the classes library.
inline constexpr uint32_t kClassesStreams = 1;  // the stream classes and the string lists' stream methods
// String lists, streams, TBits, TParser, collections.
std::span<const TPSClassRow> ClassesClassRows();

// The date and time routines.
std::span<const TPSRoutineRow> DateTimeRoutineRows();

}  // namespace ps
