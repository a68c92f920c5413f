// Maximize: derivative-free location of the maximum of a function of one
// variable, by bracketing and golden-section steps. The adaptive rejection
// sampler uses it to find the mode of a log full conditional.
//
// Every evaluation of f costs one unit of count, the budget the caller
// passes in; both routines stop when it is spent, leaving the best triple
// found so far.
#pragma once

#include <cstdint>

using Maximize_Function = double (*)(double x);

// Expands the triple a, b, c (with fa, fb, fc the values of f there) until
// the middle value is the highest.
void Maximize_BraketMode(double& a, double& b, double& c, double& fa, double& fb, double& fc,
                         Maximize_Function f, int32_t& count);
// Narrows a bracketing triple around the maximum until it is tol wide.
void Maximize_LocateMode(double& a, double& b, double& c, double& fa, double& fb, double& fc, double tol,
                         Maximize_Function f, int32_t& count);
