// CtrlC: the interrupt hook of the sampler. While an update runs in an
// interactive session, the terminal's interrupt key asks the sweep to stop
// after the current sampler; the update then reports what it has done and
// returns to the prompt. Outside an update the key keeps its usual effect.
#pragma once

void InitCtrlC();
// Catches the interrupt key from now on (interactive runs only) and forgets
// any earlier request.
void CtrlC_Arm();
// Gives the interrupt key its usual effect again.
void CtrlC_Disarm();
// Whether the user has asked the sampler to stop since CtrlC_Arm.
bool CtrlC_Abort();
