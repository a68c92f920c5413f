#include "base/CtrlC.h"

#include <atomic>
#include <csignal>

#include "base/Params.h"

namespace {

// Set by the signal handler and read by every thread that sweeps: a
// lock-free atomic is both safe to set in a handler and free of data races.
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
bool armed = false;
struct sigaction previous {};

extern "C" void OnInterrupt(int) { requested.store(true, std::memory_order_relaxed); }

}  // namespace

void InitCtrlC() {
  CtrlC_Disarm();
  requested.store(false, std::memory_order_relaxed);
}

void CtrlC_Arm() {
  requested.store(false, std::memory_order_relaxed);
  if (armed || Params_backGround) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &action, &previous) == 0) armed = true;
}

void CtrlC_Disarm() {
  if (!armed) return;
  sigaction(SIGINT, &previous, nullptr);
  armed = false;
}

bool CtrlC_Abort() { return requested.load(std::memory_order_relaxed); }

// A seam for the tests, which declare it for themselves.
void CtrlC_Request() { requested.store(true, std::memory_order_relaxed); }
