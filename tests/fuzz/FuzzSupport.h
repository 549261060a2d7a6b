// What the fuzz programs share: a scratch directory for the files an input
// becomes, and the exceptions that count as a clean refusal of an input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "rtl/SysUtils.h"

namespace fuzz {

// A directory of this process under $TMPDIR (or /tmp), made on first use and
// removed with everything in it when the process ends normally.
const std::string& ScratchDir();
// Removes everything inside the scratch directory: one input's leftovers
// must not change how the next one runs.
void ClearScratchDir();
// Replaces the file's content by the bytes.
void WriteFile(const std::string& path, std::string_view bytes);

inline std::string_view Bytes(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

// Runs `f`, taking the system's own errors (rtl::Exception) and running out
// of memory (which the program reports as "Out of memory") as a clean
// refusal. Anything else escapes and the fuzzer reports it as a crash: input
// must never reach the C++ library's own exceptions (out_of_range,
// length_error, ...), whose texts mean nothing to a user.
template <class F>
void Refusable(F&& f) {
  try {
    f();
  } catch (const rtl::Exception&) {
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace fuzz
