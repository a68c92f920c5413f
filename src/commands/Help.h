// Help: the help command's topics, command syntax and the definitions of
// functions and distributions.
#pragma once

#include <cstdint>
#include <string_view>

void InitHelp();
// Reads the topic of help(...) from the command line and prints it.
void Help_HelpAction();
// Prints the group of help entries for a topic (a token or keyword code).
void Help_HelpMessage(int32_t topic);
// Writes help entry n and a line end.
void Help_Message(int n);
// The text of entry n; empty for numbers without one.
std::string_view Help_String(int n);
