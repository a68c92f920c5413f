// Read: one command line per prompt, from the terminal or, in background
// mode, from the command file. Each line is written to the command-buffer
// file and scanned from there, and echoed into the log.
#pragma once

#include <cstddef>

#include "language/Scanner.h"

constexpr size_t Read_lineLength = 119;  // longest command line kept

// Creates the command-buffer file and, in background mode, checks that the
// command file can be opened. On failure it says so on the terminal and
// returns false: the program cannot read commands.
bool InitRead();
// Reads the next command line and opens the scanner on it. Returns false when
// the input has ended before another line began; the current line is then empty.
bool Read_Open();
// Scans the next token of the current line into t.
void Read_Get(Scanner_Token& t);
// Starts scanning the current line again from its first character.
void Read_Reset();
void Read_Close();
