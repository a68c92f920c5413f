// CheckDAG: warns when a variable's definition depends, through the
// definitions of other variables, on the variable itself.
#pragma once

struct Parser_Tree;

// Walks the relation list by variable names (indices are ignored, so a
// time series such as x[t] ~ dnorm(x[t - 1], tau) is also reported). Prints
// the warning on a line of its own; never stops compilation.
void CheckDAG_Cycles(const Parser_Tree* head);
