// ConjDist: the parameters of a node's conjugate full conditional, computed
// from its prior and its likelihood list with the current values of every
// other node, immediately before each conjugate draw.
//
// Where a term's parameter is a logical node, the coefficient with which
// the updated node enters it is found by setting the node to 1 and to 0 and
// evaluating the parameter both times. The node's value is therefore left
// at whatever the last probe set; every caller overwrites it with its draw.
// A term parameter that is not logical has coefficient 1 when it is the
// updated node and 0 otherwise: the components of a block share one
// likelihood list, so a term on another component contributes nothing.
//
// Arrays come as spans carrying their capacity: ConjDist_maxOrder entries
// for a mean vector, ConjDist_maxOrder squared for a matrix (row-major),
// ConjDist_maxVector for Dirichlet parameters. Each multivariate procedure
// returns false, changing nothing it returns, when the block does not fit
// or a matrix that must be positive definite is not.
#pragma once

#include <span>

#include "store/Graph.h"

constexpr int ConjDist_maxOrder = 25;
constexpr int ConjDist_maxVector = 100;

void InitConjDist();
// A dgeom term counts trials (1, 2, ...), as its density does: a += 1,
// b += y - 1.
void ConjDist_BetaParameters(Graph_Node* node, double& a, double& b);
void ConjDist_GammaParameters(Graph_Node* node, double& shape, double& rate);
// The prior's share of the gamma parameters alone (shape 1, rate 0 for a flat prior).
void ConjDist_GammaPrior(Graph_Node* node, double& shape, double& rate);
// A dunif prior is flat; a component of a dmnorm block updated alone gets
// the normal conditional of its prior given the other components. The
// precision is returned as computed and the mean is a quiet NaN unless the
// precision is positive and finite: the caller must check the precision
// before drawing.
void ConjDist_NormalParameters(Graph_Node* node, double& mean, double& precision);
// The prior's share alone: its precision and its precision-weighted mean m.
void ConjDist_NormalPrior(Graph_Node* node, double& m, double& precision);
// Scale c: the largest of the prior's scale and the observations of the
// dunif(0, x) terms, the value below which x cannot lie; shape alpha: the
// prior's plus one per term.
void ConjDist_ParetoParameters(Graph_Node* node, double& c, double& alpha);
// Also false for a dcat observation outside the block's categories.
bool ConjDist_DirechletParameters(Graph_Node* node, std::span<double> alpha);
// b = T mu and P = T from the dmnorm prior (mean mu, precision T).
bool ConjDist_MNormalPrior(Graph_Node* node, std::span<double> b, std::span<double> P);
// The posterior mean mu and the factored posterior precision U (as
// MatrixAl_LUDecomp leaves it) of a dmnorm block whose terms are univariate
// normal (1) or multivariate normal with mean exactly the block (2).
bool ConjDist_MNormal1Parameters(Graph_Node* node, std::span<double> mu, std::span<double> U);
bool ConjDist_MNormal2Parameters(Graph_Node* node, std::span<double> mu, std::span<double> U);
// Degrees of freedom k and the factored inverse of the posterior scale
// matrix R, the form RandNum_Wishart expects.
bool ConjDist_WishartParameters(Graph_Node* node, double& k, std::span<double> R);

// The pieces the precomputed block updates share with the procedures above.
// The posterior mean and factored precision from the precision P and the
// precision-weighted mean b of an n-component block; false when P is not
// positive definite.
bool ConjDist_MNormalPosterior(std::span<const double> b, std::span<const double> P, int32_t n,
                               std::span<double> mu, std::span<double> U);
// The order d of a Wishart block of d * d components, 0 when its size is not
// the square of an order the routines take.
int32_t ConjDist_WishartOrder(const Graph_Node* node);
// The prior's degrees of freedom and scale matrix.
bool ConjDist_WishartPrior(Graph_Node* node, double& degrees, std::span<double> S);
// The factored inverse of the scale matrix S; false when S is not positive definite.
bool ConjDist_WishartScale(std::span<const double> S, int32_t d, std::span<double> R);
