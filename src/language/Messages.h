// Messages: progress messages and complaints of the model and node commands.
#pragma once

#include <string_view>

constexpr int Messages_count = 50;

void InitMessages();
// The text of message n; empty for numbers without one.
std::string_view Messages_String(int n);
// Writes message n to the console, without line ends.
void Messages_Text(int n);
