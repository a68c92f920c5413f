#include "base/CtrlC.h"

#include <csignal>

#include "base/Params.h"

namespace {

volatile std::sig_atomic_t requested = 0;
bool armed = false;
struct sigaction previous {};

extern "C" void OnInterrupt(int) { requested = 1; }

}  // namespace

void InitCtrlC() {
  CtrlC_Disarm();
  requested = 0;
}

void CtrlC_Arm() {
  requested = 0;
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

bool CtrlC_Abort() { return requested != 0; }

// A seam for the tests, which declare it for themselves.
void CtrlC_Request() { requested = 1; }
