// Messages: progress messages and complaints of the model and node commands.
#pragma once

#include <cstddef>
#include <string_view>

// A fixed text and its number, as the message, error and help tables hold them.
struct Messages_Entry {
  int number;
  const char* text;
};

// The text numbered n in a table; empty for numbers without one.
template <size_t K>
constexpr std::string_view Messages_Find(const Messages_Entry (&entries)[K], int n) {
  for (const Messages_Entry& e : entries)
    if (e.number == n) return e.text;
  return {};
}

void InitMessages();
// The text of message n; empty for numbers without one.
std::string_view Messages_String(int n);
// Writes message n to the console, without line ends.
void Messages_Text(int n);
