// Write: the console. Everything the user is shown goes through here, to the
// terminal (interactive runs only) and always into the log file.
//
// A log that cannot be created or written (no permission, a full disk) does
// not end the session: standard error says so once, naming the log, and in a
// background run the console text from then on goes to standard error too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Files.h"

extern Files_Rider Write_log;

// Creates the log named by Params_logFile (no file when the name is empty).
void InitWrite();

void Write_Char(char ch);
// Into the log only, never echoed on the terminal: a command line as typed,
// which the terminal shows already.
void Write_Logged(char ch);
void Write_String(std::string_view s);
void Write_Ln();
void Write_Int(int64_t n, int width);
void Write_LongReal(double x, int width);
// Characters written to the log so far; report writers pad columns with it.
int64_t Write_Pos();
// Pushes the log and the terminal output out, so both can be read meanwhile
// and a log that can no longer be written shows at once.
void Write_Flush();
void Write_Close();

// Ends the run after a fatal fault has been reported: every fatal path of the
// program comes here. Without an ending put in place the process exits with
// status 1, the status of a failed run.
[[noreturn]] void Write_EndRun();
// Puts another ending in place of the process exit, for a host that runs many
// models in one process and must survive a fatal fault (it throws, say); null
// restores the exit. The ending must not return: if it does, the process exits
// all the same. The module's Init leaves it as it is.
using Write_Ending = void (*)();
void Write_SetEnding(Write_Ending ending);

// A thread that sweeps one of several chains must not write the console the
// others share, nor end the process under them. While it holds its text,
// everything it writes goes into the string given instead, and a fatal
// fault (Write_EndRun) throws Write_Stopped out of the thread's work, so
// that the thread that started it can show the text and end the run. Null
// ends the holding.
struct Write_Stopped {};
void Write_Hold(std::string* text);
