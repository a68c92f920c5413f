// Analyse: the validity check of a compiled model. Once starting values are
// known, every declared stochastic or data node is refused when it is defined
// twice, when a parameter lies outside the range its distribution admits, or
// when its own value lies outside the distribution's support or its I(,)
// bounds (an observed value and a starting value alike).
#pragma once

// Set before every node error of this module.
extern bool Analyse_error;

void InitAnalyse();
// Checks the declared nodes in increasing number, parameters before values.
// The first failure is a node error, which ends the program; the value of
// no node is left changed.
void Analyse_CheckModel();
