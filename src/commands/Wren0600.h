// Wren0600: the main module: start-up of every module in order, the banner,
// and the command loop.
#pragma once

#include <ctime>

// Exit status of a run that ended normally (q or the end of the commands),
// and of one that failed: a failed compile or update, a node error, or a run
// that could not start (wrong command line, missing command file).
constexpr int Wren0600_statusDone = 0;
constexpr int Wren0600_statusFailed = 1;

// Runs the whole program; returns the process exit status.
int Wren0600_Main(int argc, const char* const* argv);
// Initialises every module in the order the modules depend on each other.
// False when the program cannot go on (its reason has been shown).
bool Wren0600_InitModules(int argc, const char* const* argv);
// The banner, with the given local date and time.
void Wren0600_WriteBanner(const std::tm& now);
// Reads and runs commands until q, a failed compile, a failed update or the
// end of the input. True when it ended on a failed compile or update.
bool WrenLoop();
