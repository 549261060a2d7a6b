// Files that must not outlive the process when it is ended by a signal
// (Ctrl+C, kill, a closed terminal): a save's temporary file and a
// workbook's lock file. The handler removes them and then lets the signal
// end the process as it would have without it.
#pragma once

#include <signal.h>

#include <string>

namespace spreadsheet {

class TRemoveOnSignal {
 public:
  // Registers `path` (an absolute path) until the object is destroyed;
  // destroying it does not remove the file. A path longer than the handler's
  // fixed buffers, or beyond its fixed table (dozens of files), is not
  // registered.
  explicit TRemoveOnSignal(const std::string& path);
  ~TRemoveOnSignal();
  TRemoveOnSignal(const TRemoveOnSignal&) = delete;
  TRemoveOnSignal& operator=(const TRemoveOnSignal&) = delete;

  bool Registered() const { return FSlot >= 0; }

 private:
  int FSlot = -1;
};

// Holds back the signals of TRemoveOnSignal for its lifetime, so that a file
// can be created and registered with no signal arriving in between.
class TSignalsHeld {
 public:
  TSignalsHeld();
  ~TSignalsHeld();
  TSignalsHeld(const TSignalsHeld&) = delete;
  TSignalsHeld& operator=(const TSignalsHeld&) = delete;

 private:
  sigset_t FPrevious;
};

}  // namespace spreadsheet
