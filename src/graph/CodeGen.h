// CodeGen: turns the parsed model body into the nodes of the graph. Loops are
// unrolled; every logical node gets its code and operands, nodes that depend
// on data only are folded into constants, and every stochastic node gets its
// distribution and parameters.
#pragma once

#include <cstdint>

struct Parser_Tree;

extern bool CodeGen_error;

void InitCodeGen();
// Runs the four passes (allocate nodes, logical relations, folding,
// stochastic relations), stopping after the first that fails.
void CodeGen_WriteGraph(Parser_Tree* head);
