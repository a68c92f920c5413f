// GibbsSam: the update procedures that draw a node's new value in closed
// form: from a conjugate full conditional, from the node's own prior when it
// has no likelihood terms, by enumeration over a finite support, or by
// rejection when the node is bounded.
//
// Two layers. The node-level prior draws below (taking a Graph_Node) serve
// the starting values and the update procedures alike; each returns false,
// leaving the value it would have replaced, when no sound draw can be made.
// The update procedures (taking a Sampler record) are what the update-method
// choice installs; a procedure that cannot make a sound draw leaves the
// node's value as it was and fails through Samplers_Fail, naming the reason.
#pragma once

#include "store/Graph.h"
#include "sampling/Samplers.h"

// Block capacities: Dirichlet and multinomial blocks of at most 100
// components, multivariate normal blocks of at most 25, Wishart matrices of
// order at most 25.
constexpr int GibbsSam_maxVector = 100;
constexpr int GibbsSam_maxOrder = 25;
// Draws any rejection loop may take before it gives up.
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

// The update procedures. A prefix L means a lower bound only, U an upper
// bound only, T both; the bounds are the values of the node's last two
// parents, read once per update. Every rejection loop gives up after
// GibbsSam_maxTries draws, and no draw that is not a finite number is ever
// kept: either way the update fails with the node's value as it was.
void GibbsSam_DirectSample(Samplers_Sampler& s);
void GibbsSam_LDirectSample(Samplers_Sampler& s);
void GibbsSam_UDirectSample(Samplers_Sampler& s);
void GibbsSam_TDirectSample(Samplers_Sampler& s);
void GibbsSam_WeibullTail(Samplers_Sampler& s);
void GibbsSam_GumbelRightTail(Samplers_Sampler& s);
void GibbsSam_Normal(Samplers_Sampler& s);
void GibbsSam_LNormal(Samplers_Sampler& s);
void GibbsSam_UNormal(Samplers_Sampler& s);
void GibbsSam_TNormal(Samplers_Sampler& s);
void GibbsSam_Gamma(Samplers_Sampler& s);
void GibbsSam_LGamma(Samplers_Sampler& s);
void GibbsSam_UGamma(Samplers_Sampler& s);
void GibbsSam_TGamma(Samplers_Sampler& s);
void GibbsSam_Beta(Samplers_Sampler& s);
void GibbsSam_LBeta(Samplers_Sampler& s);
void GibbsSam_UBeta(Samplers_Sampler& s);
void GibbsSam_TBeta(Samplers_Sampler& s);
void GibbsSam_Pareto(Samplers_Sampler& s);
void GibbsSam_Direchlet(Samplers_Sampler& s);
void GibbsSam_MNormal1(Samplers_Sampler& s);
void GibbsSam_MNormal2(Samplers_Sampler& s);
void GibbsSam_Wishart(Samplers_Sampler& s);
// Enumeration of a discrete node over its support, narrowed by its bounds:
// 0..1 for dbern, 0..n for dbin, 1..the number of categories for dcat. The
// counts without an upper end (dpois, dnegbin from 0; dgeom, dzipf from 1)
// are enumerated over a window that holds all but about 1.0E-12 of the
// prior's mass and the current value, grown outward as far as the
// likelihood carries the mass. At most 1024 points: a wider support or
// window, an empty one, or a dhypo node (which has no log density) fails.
void GibbsSam_DiscreteSample(Samplers_Sampler& s);
