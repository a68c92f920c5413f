// TextFile: characters, strings, line ends, integers and reals on a rider.
//
// While TextFile_visible is set (only during a console write) and the run is
// interactive, every character also goes to the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Files.h"

extern bool TextFile_visible;

void TextFile_Write(Files_Rider& rider, char ch);
void TextFile_WriteString(Files_Rider& rider, std::string_view s);
void TextFile_WriteLine(Files_Rider& rider);
// Left-justified: the digits, then spaces up to width characters.
void TextFile_WriteInt(Files_Rider& rider, int64_t n, int width);
// Scientific form with width - 7 significant digits (2 to 6) in a field of
// that many digits plus 7.
void TextFile_WriteLongReal(Files_Rider& rider, double x, int width);

// The texts the two number writers produce.
std::string TextFile_IntText(int64_t n, int width);
std::string TextFile_RealText(double x, int width);

// Sends everything written to the terminal so far on its way.
void TextFile_FlushTerminal();
