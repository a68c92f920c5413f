// InitVals: starting values. Every declared stochastic node that the
// initial-value files left without a value (kind noInitial) is drawn forward
// from its own prior as soon as all of its stochastic parents have values.
// Runs once per compilation, after the likelihood lists are built and before
// the model checks.
#pragma once

// Set, after the report, when starting values could not be generated.
extern bool InitVals_error;

void InitInitVals();
// Gives every declared node still without a value a starting value and
// makes it stochastic; a failure is compile error 91 at position 1 of the
// current error file, and the nodes are then left unfinished.
// announce: write "Generating initial values" when there is work to do.
void InitVals_GenerateStartingValue(bool announce = true);
// Marks every declared stochastic node as still without a starting value,
// so that the next generation draws them all (the start of a further chain,
// whose values are its own).
void InitVals_ForgetStarts();
