// Analyse: the validity check of a compiled model. Once starting values are
// known, every declared stochastic or data node is refused when it is defined
// twice, when a parameter lies outside the range its distribution admits, or
// when its own value lies outside the distribution's support or its I(,)
// bounds (an observed value and a starting value alike), and a multivariate
// block whose components are partly data and partly not.
#pragma once

// Set before every node error of this module.
extern bool Analyse_error;

void InitAnalyse();
// Checks the declared nodes in increasing number, parameters before values.
// The first failure is a node error, which ends the program; the value of
// no node is left changed.
void Analyse_CheckModel();
// Refuses a multivariate block whose components are partly data and partly
// not (a draw of the block would overwrite the observed ones). Analyse_CheckModel
// makes the same test, but by then generating starting values has drawn such
// a block whole and made every component stochastic, so the compile must
// call this one after the sampling distributions are built and before
// starting values are generated.
void Analyse_CheckBlocks();
