// Wren0600: the main module: start-up of every module in order, the banner,
// and the command loop.
#pragma once

#include <ctime>

// Runs the whole program; returns the process exit status (always 0).
int Wren0600_Main(int argc, const char* const* argv);
// Initialises every module in the order the modules depend on each other.
// False when the program cannot go on (its reason has been shown).
bool Wren0600_InitModules(int argc, const char* const* argv);
// The banner, with the given local date and time.
void Wren0600_WriteBanner(const std::tm& now);
// Reads and runs commands until q, a failed compile, a failed update or the
// end of the input.
void WrenLoop();
