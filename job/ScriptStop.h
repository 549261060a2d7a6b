// Stopping a running script from outside: when its time limit is up, or
// when the user interrupts it (SIGINT, SIGTERM). The script is stopped with
// the engine's Stop, so the job goes on as after a run-time error: report,
// save, exit status 1. A second interrupt ends the process at once, as the
// signal would have without this, before anything more is saved.
#pragma once

#include <signal.h>

#include "rtl/SysUtils.h"

namespace ps {
class TPSExec;
}

namespace job {

using rtl::UnicodeString;

class TScriptStop {
 public:
  static constexpr std::u16string_view SStoppedAfter = u"Script stopped after %d seconds";
  static constexpr std::u16string_view SStoppedBySignal = u"Script stopped by %s";
  static constexpr std::u16string_view STimeoutError = u"Timeout must be a whole number of seconds from 1 to %d";
  // The longest time limit accepted: a day.
  static constexpr int kMaxTimeout = 86400;

  // Watches the run of `exec` from now until destruction; a timeout of 0
  // sets no time limit. One at a time per process.
  TScriptStop(ps::TPSExec* exec, int timeoutSeconds);
  ~TScriptStop();
  TScriptStop(const TScriptStop&) = delete;
  TScriptStop& operator=(const TScriptStop&) = delete;

  // Why the script was stopped ("Script stopped after 5 seconds"); empty
  // when it was not.
  UnicodeString Reason() const;

  // The seconds of a --timeout value; raises STimeoutError for anything but
  // a whole number from 1 to kMaxTimeout.
  static int ParseTimeout(const UnicodeString& text);

 private:
  int FTimeout;
};

}  // namespace job
