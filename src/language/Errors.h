// Errors: the error-message table and the two error reports.
//
// A compile error points at a position in the current error file; a node
// error names the node at fault and ends the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Files.h"

struct Graph_Node;

void InitErrors();
// The text of error n; empty for numbers without one.
std::string_view Errors_String(int n);
// Makes a file current for compile-error reports.
void Errors_SetErrorFile(const std::string& name, const Files_Handle& handle);
// Reports error n at a position of the current error file: the file name,
// the source line, "$" under the offending place, line and column, the text.
void Errors_CompileError(int64_t position, int number);
// The same report with a text of its own, for faults the table has no number for.
void Errors_CompileErrorText(int64_t position, std::string_view text);
// Reports error n for a node by its label and ends the program (status 1).
// A hidden node, which has no name, is reported as the declared node whose
// relation holds it.
[[noreturn]] void Errors_NodeError(const Graph_Node* node, int number);
// The same report with a text of its own, for faults the table has no number for.
[[noreturn]] void Errors_NodeErrorText(const Graph_Node* node, std::string_view text);
// The node-error report with a text of its own, without ending the program:
// for failures the run survives long enough to save its results.
void Errors_NodeReport(const Graph_Node* node, std::string_view text);

