#include "spreadsheet/RemoveOnSignal.h"

#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>

namespace spreadsheet {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSlotCount = 64;

// Read by the handler, so plain arrays of fixed size: nothing it touches is
// allocated or freed. The table changes only while the signals are held.
struct TSlot {
  volatile sig_atomic_t Used;
  char Path[PATH_MAX];
};
TSlot gSlots[kSlotCount];
struct sigaction gPrevious[std::size(kSignals)];
bool gInstalled[std::size(kSignals)];
int gRegistered = 0;

void RemoveThenResignal(int signal) {
  int saved = errno;
  for (TSlot& slot : gSlots)
    if (slot.Used) unlink(slot.Path);
  // The disposition the process had before: the signal, raised again, does
  // what it would have done (ends the process, as a rule) once we return.
  for (size_t i = 0; i < std::size(kSignals); ++i)
    if (kSignals[i] == signal) sigaction(signal, &gPrevious[i], nullptr);
  raise(signal);
  errno = saved;
}

void Install() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RemoveThenResignal;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    gInstalled[i] = false;
    if (sigaction(kSignals[i], nullptr, &gPrevious[i]) != 0) continue;
    if (!(gPrevious[i].sa_flags & SA_SIGINFO) && gPrevious[i].sa_handler == SIG_IGN) continue;  // stays ignored
    gInstalled[i] = sigaction(kSignals[i], &action, nullptr) == 0;
  }
}

void Uninstall() {
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    if (!gInstalled[i]) continue;
    struct sigaction current;
    // Left alone when someone installed another handler since.
    if (sigaction(kSignals[i], nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == RemoveThenResignal)
      sigaction(kSignals[i], &gPrevious[i], nullptr);
    gInstalled[i] = false;
  }
}

}  // namespace

TSignalsHeld::TSignalsHeld() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kSignals) sigaddset(&set, s);
  sigprocmask(SIG_BLOCK, &set, &FPrevious);
}

TSignalsHeld::~TSignalsHeld() { sigprocmask(SIG_SETMASK, &FPrevious, nullptr); }

TRemoveOnSignal::TRemoveOnSignal(const std::string& path) {
  if (path.empty() || path.size() >= PATH_MAX) return;
  TSignalsHeld held;
  for (int i = 0; i < kSlotCount; ++i) {
    if (gSlots[i].Used) continue;
    std::memcpy(gSlots[i].Path, path.c_str(), path.size() + 1);
    gSlots[i].Used = 1;
    FSlot = i;
    if (gRegistered++ == 0) Install();
    return;
  }
}

TRemoveOnSignal::~TRemoveOnSignal() {
  if (FSlot < 0) return;
  TSignalsHeld held;
  gSlots[FSlot].Used = 0;
  if (--gRegistered == 0) Uninstall();
}

}  // namespace spreadsheet
