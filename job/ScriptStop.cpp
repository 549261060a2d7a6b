#include "job/ScriptStop.h"

#include <sys/time.h>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "engine/uPSRuntime.h"

namespace job {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGALRM};

// Touched by the handler, so plain values only.
ps::TPSExec* volatile gExec = nullptr;
volatile sig_atomic_t gCause = 0;  // the first signal that asked for a stop
struct sigaction gPrevious[std::size(kSignals)];
bool gInstalled[std::size(kSignals)];

void SetTimer(long seconds, long intervalMicroseconds) {
  itimerval timer{};
  timer.it_value.tv_sec = seconds;
  timer.it_value.tv_usec = seconds == 0 ? intervalMicroseconds : 0;
  timer.it_interval.tv_usec = intervalMicroseconds;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void OnStopSignal(int signal) {
  int saved = errno;
  if (gCause != 0 && signal != SIGALRM) {
    // Asked twice: the signal does now what it would have done without us
    // (ends the process; the spreadsheet server's own handler, when it is
    // the one before us, first removes its lock and temporary files).
    for (size_t i = 0; i < std::size(kSignals); ++i)
      if (kSignals[i] == signal) sigaction(signal, &gPrevious[i], nullptr);
    raise(signal);
    errno = saved;
    return;
  }
  if (gCause == 0) {
    gCause = signal;
    // The script may be between runs of the executor (starting, or inside a
    // nested run of an event): the stop is repeated until the run is over.
    SetTimer(0, 100000);
  }
  ps::TPSExec* exec = gExec;
  if (exec && exec->Status() == ps::isRunning) exec->ps::TPSExec::Stop();
  errno = saved;
}

}  // namespace

TScriptStop::TScriptStop(ps::TPSExec* exec, int timeoutSeconds) : FTimeout(timeoutSeconds) {
  gCause = 0;
  gExec = exec;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    gInstalled[i] = false;
    if (sigaction(kSignals[i], nullptr, &gPrevious[i]) != 0) continue;
    // A signal the caller ignores (nohup) stays ignored; the timer's own
    // signal is always ours.
    if (!(gPrevious[i].sa_flags & SA_SIGINFO) && gPrevious[i].sa_handler == SIG_IGN && kSignals[i] != SIGALRM) continue;
    gInstalled[i] = sigaction(kSignals[i], &action, nullptr) == 0;
  }
  if (timeoutSeconds > 0) SetTimer(timeoutSeconds, 0);
}

TScriptStop::~TScriptStop() {
  sigset_t alarm, previousMask;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  sigprocmask(SIG_BLOCK, &alarm, &previousMask);
  SetTimer(0, 0);
  gExec = nullptr;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    if (!gInstalled[i]) continue;
    struct sigaction current;
    // Left alone when someone installed another handler since.
    if (sigaction(kSignals[i], nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == OnStopSignal) {
      // Ignoring a signal discards it when it is pending: a last tick of
      // the timer must not end the process once the default is back.
      if (kSignals[i] == SIGALRM) signal(SIGALRM, SIG_IGN);
      sigaction(kSignals[i], &gPrevious[i], nullptr);
    }
    gInstalled[i] = false;
  }
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
}

UnicodeString TScriptStop::Reason() const {
  switch (gCause) {
    case 0: return {};
    case SIGALRM: return rtl::FormatText(SStoppedAfter, {rtl::IntToStr(FTimeout)});
    case SIGINT: return rtl::FormatText(SStoppedBySignal, {u"SIGINT"});
    default: return rtl::FormatText(SStoppedBySignal, {u"SIGTERM"});
  }
}

int TScriptStop::ParseTimeout(const UnicodeString& text) {
  int64_t value = 0;
  bool ok = !text.empty() && text.size() <= 6;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') ok = false;
    if (ok) value = value * 10 + (c - u'0');
  }
  if (!ok || value < 1 || value > kMaxTimeout)
    throw rtl::Exception(rtl::FormatText(STimeoutError, {rtl::IntToStr(kMaxTimeout)}));
  return static_cast<int>(value);
}

}  // namespace job
