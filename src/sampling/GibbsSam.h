// GibbsSam: the update procedures that draw a node's new value in closed
// form. For now the draws from a node's own prior: the update of a node
// without likelihood terms, whose full conditional is its prior, and the
// source of starting values.
//
// Every procedure reads the node's parameters through their value functions
// and overwrites the node's value (for a block, the value of every
// component). Each returns false, leaving the value it would have replaced,
// when no sound draw can be made: a block beyond its capacity, a matrix
// parameter that is not positive definite, or a bound that a million prior
// draws failed to meet. The caller reports the node; nothing here writes a
// message.
#pragma once

#include "graph/Graph.h"

// Block capacities: Dirichlet and multinomial blocks of at most 100
// components, multivariate normal blocks of at most 25, Wishart matrices of
// order at most 25.
constexpr int GibbsSam_maxVector = 100;
constexpr int GibbsSam_maxOrder = 25;
// Draws a bounded prior draw may take before it gives up.
constexpr long GibbsSam_maxTries = 1000000;

// The prior draw, by the node's density. dcat draws nothing here (the
// discrete sampler draws it); dhypo and dzipf get 0.0; a node without a
// density, or with an unknown one, is left alone.
bool GibbsSam_DirectSample(Graph_Node* node);
// The prior draw repeated until it meets the lower bound (L), the upper
// bound (U) or both (T); the bounds are the values of the last two parents,
// read once before the first draw.
bool GibbsSam_LDirectSample(Graph_Node* node);
bool GibbsSam_UDirectSample(Graph_Node* node);
bool GibbsSam_TDirectSample(Graph_Node* node);
// A dweib or dgum node above its lower bound, the third parent, drawn
// directly from the tail.
bool GibbsSam_WeibullTail(Graph_Node* node);
bool GibbsSam_GumbelRightTail(Graph_Node* node);

// Block draws from the prior's own parameters: ddirch(alpha[]),
// dmulti(p[], N) and dwish(R[,], k), whose mean is k R^-1. The block's
// components are label .. label + size - 1.
bool GibbsSam_Direchlet(Graph_Node* node);
bool GibbsSam_Mulinomial(Graph_Node* node);
bool GibbsSam_Wishart(Graph_Node* node);
