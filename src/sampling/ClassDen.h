// ClassDen: the choice of one update procedure for every stochastic node,
// made once per compilation. The node's full conditional (its prior times
// the terms of its likelihood list) is classified by fixed rule tables from
// distribution identifiers and the functional form of each parameter, and
// the class, with the bounds the model gives the node, picks a procedure:
// a conjugate or prior draw, discrete enumeration, adaptive rejection
// sampling or the griddy Metropolis updater. Nothing is evaluated except
// the values of constant parameters.
#pragma once

#include <cstdint>

#include "store/Graph.h"
#include "sampling/Samplers.h"

// Set, before the node error that ends the program, when a node has no
// update procedure.
extern bool ClassDen_error;

// Which of its own I(,) bounds the model gives a node.
enum ClassDen_Bounds : int32_t {
  ClassDen_noBounds = 0, ClassDen_lowerOnly, ClassDen_upperOnly, ClassDen_bothBounds,
};
constexpr int32_t ClassDen_numBounds = ClassDen_bothBounds + 1;

// The update methods. Methods of one family differ only in the bounds they
// keep the node within (Lower: a lower bound, Upper: an upper bound, Both:
// both); the rows of ClassDen_Of give each its method code and procedure.
enum class ClassDen_Method : int32_t {
  direct, directLower, directUpper, directBoth,  // a draw from the prior alone
  normal, normalLower, normalUpper, normalBoth,
  gamma, gammaLower, gammaUpper, gammaBoth,
  beta, betaLower, betaUpper, betaBoth,
  pareto,
  normalBlock,         // a multivariate normal block, refined into one of the next three
  normalBlockScalar,   // a normal block whose terms are all univariate (log-)normal
  normalBlockOfBlock,  // a normal block whose terms are normal blocks with the block as mean
  wishart,
  dirichlet,
  rejection, rejectionLower, rejectionUpper, rejectionBoth,  // adaptive rejection sampling
  discrete, discreteLower, discreteUpper, discreteBoth,
  // Gamma-form terms under a prior without a conjugate update: no procedure.
  gammaNoConjugate, gammaNoConjugateLower, gammaNoConjugateUpper, gammaNoConjugateBoth,
  // Log-concave terms under a prior that is not log-concave: no procedure.
  badPriorLower, badPriorBoth,
  weibullTail,  // a Weibull prior with a lower bound and no likelihood
  gumbelTail,   // a Gumbel prior with a lower bound and no likelihood
  none,         // no procedure
  griddy,       // the griddy Metropolis updater
};
constexpr int32_t ClassDen_numMethods = static_cast<int32_t>(ClassDen_Method::griddy) + 1;

// Methods that share a procedure apart from the bounds it keeps to.
enum class ClassDen_Family : int32_t {
  direct, normal, gamma, beta, pareto, normalBlock, wishart, dirichlet, rejection, discrete,
  gammaNoConjugate, badPrior, weibullTail, gumbelTail, none, griddy,
};

struct ClassDen_MethodRow {
  ClassDen_Method method;
  int32_t code;              // the method code, as the method table numbers it
  ClassDen_Family family;
  ClassDen_Bounds bounds;    // the bounds this member of its family keeps to
  Samplers_Proc procedure;   // null when the method has none (node error 96)
  bool wholeBlock;           // updates every component of a block; else one node
};

const ClassDen_MethodRow& ClassDen_Of(ClassDen_Method method);
// The member of the method's family that keeps to the bounds given; the
// method itself when its family has no such member.
ClassDen_Method ClassDen_WithBounds(ClassDen_Method method, ClassDen_Bounds bounds);

void InitClassDen();
// Registers one Sampler per stochastic node or block, in increasing node
// number, each with its procedure.
void ClassDen_ChooseUpdateMethod();
// The method a node would get; the registration pass uses it.
ClassDen_Method ClassDen_MethodOf(Graph_Node* node);
