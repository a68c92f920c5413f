// FoldCons: folds constant parts of logical code once, right after node
// generation, and marks stochastic operands to be read from their stored
// value, which later lets linear predictors take their fast form.
#pragma once

void InitFoldCons();
void FoldCons_FoldConstants();
