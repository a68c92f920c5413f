// Density: the log density of every stochastic node, and the sums from which
// every full conditional is evaluated.
//
// Log densities are computed up to additive constants: a term constant in
// the node's value and in all parameters is always left out, and for dbeta,
// dbin and dgamma a parameter-dependent normalising term is added only when
// that parameter can change. Discrete densities are log probabilities. The
// node's own value is read from its record; parameters are read through
// their value functions, or through the link-aware logarithms of the
// logical-node evaluator for proportions and means.
#pragma once

#include <cstdint>
#include <vector>

#include "store/Graph.h"

// Gives every node with a distribution the log density its identifier
// names. Nodes without one (0), with ddirch, dhypo or dwish (sampled only
// conjugately, or not at all), or with an unknown identifier keep theirs.
// Runs once per compilation, after node generation.
void Density_SetDensity();

// The sum, in list order, of the log densities of the nodes of a likelihood
// list; 0.0 for an empty list. Summation stops as soon as the sum reached is
// -5.0E9 or less, and that sum is returned: the candidate value is already
// ruled out.
double Density_LogLiklihood(const Graph_List& list);

// The Bernoulli terms under a logit link of a linear form in a likelihood
// list, read while one node is updated and only its value t changes: for
// each, the partial sum and factor of its predictor (Determ_LogitParts),
// and whether it reads ln(1 - p) (an observed 0) rather than ln p.
struct Density_LogitTerms {
  std::vector<double> partial, factor;
  std::vector<uint8_t> complement;
};
// h plus the log densities of the list's terms, added in list order, read
// with the fast path off (the first read of a draw): the same sum, to the
// bit, as reading each term through its node. Meanwhile it gathers the
// terms; gathered tells whether every term was of the kind and its count
// exactly 0 or 1, so that Density_SumLogitTerms may stand for the list
// until the draw ends. The vectors keep their capacity.
double Density_FirstLogitTerms(const Graph_List& list, Density_LogitTerms& terms, double h, bool& gathered);
// h plus the terms' log densities at t: the sum, to rounding, that reading
// the list's terms one by one on the fast path gives, with one logarithm
// for the whole list (of the product of the terms' 1 + e^-|eta|) in place
// of one a term. A predictor that is not a number rules t out, as it does
// when its term is read alone.
double Density_SumLogitTerms(const Density_LogitTerms& terms, double t, double h);

// The log full conditional of the node at its current value, up to a
// constant: its own log density plus that of its likelihood list.
double Density_LogFullConditional(Graph_Node* node);
