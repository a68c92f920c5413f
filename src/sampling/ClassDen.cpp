#include "sampling/ClassDen.h"

#include <array>
#include <initializer_list>
#include <iterator>
#include <cmath>
#include <functional>
#include <queue>
#include <vector>
#include <cstddef>

#include "base/Write.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "graph/Parents.h"
#include "language/Errors.h"
#include "language/SymTabs.h"
#include "sampling/ClassFun.h"
#include "sampling/DFreeARS.h"
#include "sampling/GibbsSam.h"
#include "sampling/Griddy.h"
#include "store/Distrib.h"

bool ClassDen_error = false;

namespace {

using Method = ClassDen_Method;
using Family = ClassDen_Family;

// The update methods, one row each, in the order of ClassDen_Method.
constexpr ClassDen_MethodRow methods[] = {
    // method                         code  family                    bounds                procedure                  wholeBlock
    {Method::direct,                   5, Family::direct,           ClassDen_noBounds,    GibbsSam_DirectSample,     true},
    {Method::directLower,              6, Family::direct,           ClassDen_lowerOnly,   GibbsSam_LDirectSample,    true},
    {Method::directUpper,              7, Family::direct,           ClassDen_upperOnly,   GibbsSam_UDirectSample,    true},
    {Method::directBoth,               8, Family::direct,           ClassDen_bothBounds,  GibbsSam_TDirectSample,    true},
    {Method::normal,                   9, Family::normal,           ClassDen_noBounds,    GibbsSam_Normal,           false},
    {Method::normalLower,             10, Family::normal,           ClassDen_lowerOnly,   GibbsSam_LNormal,          true},
    {Method::normalUpper,             11, Family::normal,           ClassDen_upperOnly,   GibbsSam_UNormal,          true},
    {Method::normalBoth,              12, Family::normal,           ClassDen_bothBounds,  GibbsSam_TNormal,          true},
    {Method::gamma,                   13, Family::gamma,            ClassDen_noBounds,    GibbsSam_Gamma,            true},
    {Method::gammaLower,              14, Family::gamma,            ClassDen_lowerOnly,   GibbsSam_LGamma,           true},
    {Method::gammaUpper,              15, Family::gamma,            ClassDen_upperOnly,   GibbsSam_UGamma,           true},
    {Method::gammaBoth,               16, Family::gamma,            ClassDen_bothBounds,  GibbsSam_TGamma,           true},
    {Method::beta,                    17, Family::beta,             ClassDen_noBounds,    GibbsSam_Beta,             true},
    {Method::betaLower,               18, Family::beta,             ClassDen_lowerOnly,   GibbsSam_LBeta,            true},
    {Method::betaUpper,               19, Family::beta,             ClassDen_upperOnly,   GibbsSam_UBeta,            true},
    {Method::betaBoth,                20, Family::beta,             ClassDen_bothBounds,  GibbsSam_TBeta,            true},
    {Method::pareto,                  21, Family::pareto,           ClassDen_noBounds,    GibbsSam_Pareto,           true},
    {Method::normalBlock,             22, Family::normalBlock,      ClassDen_noBounds,    nullptr,                   true},
    {Method::normalBlockScalar,       23, Family::normalBlock,      ClassDen_noBounds,    GibbsSam_MNormal1,         true},
    {Method::normalBlockOfBlock,      24, Family::normalBlock,      ClassDen_noBounds,    GibbsSam_MNormal2,         true},
    {Method::wishart,                 25, Family::wishart,          ClassDen_noBounds,    GibbsSam_Wishart,          true},
    {Method::dirichlet,               26, Family::dirichlet,        ClassDen_noBounds,    GibbsSam_Direchlet,        true},
    {Method::rejection,               27, Family::rejection,        ClassDen_noBounds,    DFreeARS_FullArs,          false},
    {Method::rejectionLower,          28, Family::rejection,        ClassDen_lowerOnly,   DFreeARS_LTruncArs,        false},
    {Method::rejectionUpper,          29, Family::rejection,        ClassDen_upperOnly,   DFreeARS_RTruncArs,        false},
    {Method::rejectionBoth,           30, Family::rejection,        ClassDen_bothBounds,  DFreeARS_TruncArs,         false},
    {Method::discrete,                31, Family::discrete,         ClassDen_noBounds,    GibbsSam_DiscreteSample,   true},
    {Method::discreteLower,           32, Family::discrete,         ClassDen_lowerOnly,   GibbsSam_DiscreteSample,   true},
    {Method::discreteUpper,           33, Family::discrete,         ClassDen_upperOnly,   GibbsSam_DiscreteSample,   true},
    {Method::discreteBoth,            34, Family::discrete,         ClassDen_bothBounds,  GibbsSam_DiscreteSample,   true},
    {Method::gammaNoConjugate,        39, Family::gammaNoConjugate, ClassDen_noBounds,    nullptr,                   true},
    {Method::gammaNoConjugateLower,   40, Family::gammaNoConjugate, ClassDen_lowerOnly,   nullptr,                   true},
    {Method::gammaNoConjugateUpper,   41, Family::gammaNoConjugate, ClassDen_upperOnly,   nullptr,                   true},
    {Method::gammaNoConjugateBoth,    42, Family::gammaNoConjugate, ClassDen_bothBounds,  nullptr,                   true},
    {Method::badPriorLower,           44, Family::badPrior,         ClassDen_lowerOnly,   nullptr,                   true},
    {Method::badPriorBoth,            46, Family::badPrior,         ClassDen_bothBounds,  nullptr,                   true},
    {Method::weibullTail,             47, Family::weibullTail,      ClassDen_lowerOnly,   GibbsSam_WeibullTail,      true},
    {Method::gumbelTail,              48, Family::gumbelTail,       ClassDen_lowerOnly,   GibbsSam_GumbelRightTail,  true},
    {Method::none,                    49, Family::none,             ClassDen_noBounds,    nullptr,                   true},
    {Method::griddy,                  50, Family::griddy,           ClassDen_noBounds,    Griddy_Updater,            false},
};
static_assert(std::size(methods) == ClassDen_numMethods);
static_assert([] {
  for (int32_t i = 0; i < ClassDen_numMethods; ++i)
    if (methods[i].method != static_cast<Method>(i)) return false;
  return true;
}(), "the rows of methods follow the order of ClassDen_Method");

// The member of a family that keeps to the bounds given, if it has one.
constexpr bool Member(Family family, ClassDen_Bounds bounds, Method& member) {
  for (const ClassDen_MethodRow& row : methods)
    if (row.family == family && row.bounds == bounds) {
      member = row.method;
      return true;
    }
  return false;
}

// Classes of one likelihood term.
enum Term : int32_t {
  gammaRateTerm = 0, gammaTerm, betaTerm, paretoTerm, normalTerm, wishartTerm, dirichletTerm,
  logConcaveTerm, posLogConcaveTerm, posLogConcaveTerm2, noTerm, generalTerm,
};
constexpr int numTerms = 12;

// Classes of a full conditional.
enum FullConditional : int32_t {
  gammaRate = 0, gamma = 1, beta = 2, pareto = 3, normal = 4, wishart = 5, dirichlet = 6,
  logConcave = 7, posLogConcave = 8, posLogConcave2 = 9, flat = 10, general = 11,
  gammaNoConjugate = 12, logConcaveBadPrior = 13, priorOnly = 14, discrete = 15, multiNormal = 16,
};
constexpr int numFullConditionals = 17;

constexpr int numForms = ClassFun_generalForm + 1;
constexpr int numDensities = Distrib_dzipf + 1;
constexpr int noUpdateMethod = 96;       // error
constexpr double categoryTolerance = 1.0E-6;
constexpr double zeroTolerance = 1.0E-6;

// Sets of functional forms, of term classes and of densities, as bit masks,
// so that one rule row can name several of each.
using Set = uint32_t;
constexpr Set Of(std::initializer_list<int32_t> members) {
  Set s = 0;
  for (int32_t m : members) s |= Set{1} << m;
  return s;
}
constexpr bool In(Set s, int32_t member) { return (s >> member & 1u) != 0; }

constexpr Set consts = Of({ClassFun_nonNegConst, ClassFun_negConst, ClassFun_anyConst});
constexpr Set notNegConst = Of({ClassFun_nonNegConst, ClassFun_anyConst});
constexpr Set scaled = Of({ClassFun_identity, ClassFun_scaledIdentity});
constexpr Set affine = Of({ClassFun_identity, ClassFun_scaledIdentity, ClassFun_linear});
constexpr Set self = Of({ClassFun_identity});
constexpr Set invLink = Of({ClassFun_invLinkLinear});
constexpr Set expLinear = Of({ClassFun_expLinear});
constexpr Set linear = Of({ClassFun_linear});

// ---- term tables: what one likelihood term contributes, from the form of
// the parameter the term's class depends on. Every pair not listed is
// generalTerm.

// Terms with one parameter examined, by its form.
struct OneRule {
  Set densities;
  Set forms;
  Term term;
};
constexpr Set probabilityTerms = Of({Distrib_dbern, Distrib_dbin, Distrib_dgeom, Distrib_dnegbin});
constexpr Set vectorTerms = Of({Distrib_dcat, Distrib_dmulti});
constexpr OneRule oneParameterRules[] = {
    {probabilityTerms,         consts,    noTerm},
    {probabilityTerms,         self,      betaTerm},
    {probabilityTerms,         invLink,   logConcaveTerm},
    {Of({Distrib_dbeta}),      consts,    noTerm},  // each shape alone
    {Of({Distrib_dbeta}),      affine,    posLogConcaveTerm},
    {vectorTerms,              consts,    noTerm},
    {vectorTerms,              self,      dirichletTerm},
    {vectorTerms,              invLink,   logConcaveTerm},
    {Of({Distrib_dchisq}),     consts,    noTerm},
    {Of({Distrib_dchisq}),     scaled,    posLogConcaveTerm},
    {Of({Distrib_dexp}),       consts,    noTerm},
    {Of({Distrib_dexp}),       scaled,    gammaTerm},
    {Of({Distrib_dexp}),       expLinear, logConcaveTerm},
    {Of({Distrib_dpois}),      consts,    noTerm},
    {Of({Distrib_dpois}),      scaled,    gammaTerm},
    {Of({Distrib_dpois}),      linear,    posLogConcaveTerm},
    {Of({Distrib_dpois}),      expLinear, logConcaveTerm},
    {Of({Distrib_dunif}),      consts,    noTerm},  // the upper limit, the lower one being 0
    {Of({Distrib_dunif}),      self,      paretoTerm},
};

// Terms with two parameters examined, by [form of the first][form of the second].
struct TwoRule {
  Set densities;
  Set first, second;
  Term term;
};
constexpr Set normalTerms = Of({Distrib_dnorm, Distrib_dlnorm});
constexpr Set extremeTerms = Of({Distrib_dgum, Distrib_dlogis});
constexpr TwoRule twoParameterRules[] = {
    {normalTerms,             consts,    consts,    noTerm},
    {normalTerms,             consts,    scaled,    gammaTerm},
    {normalTerms,             consts,    expLinear, logConcaveTerm},
    {normalTerms,             affine,    notNegConst, normalTerm},
    {Of({Distrib_ddexp}),     consts,    consts,    noTerm},
    {Of({Distrib_ddexp}),     consts,    scaled,    gammaTerm},
    {Of({Distrib_ddexp}),     consts,    expLinear, logConcaveTerm},
    {Of({Distrib_ddexp}),     affine,    notNegConst, logConcaveTerm},
    {extremeTerms,            consts,    consts,    noTerm},
    {extremeTerms,            consts,    scaled,    posLogConcaveTerm2},
    {extremeTerms,            affine,    notNegConst, logConcaveTerm},
    {Of({Distrib_dmnorm}),    consts,    consts,    noTerm},
    {Of({Distrib_dmnorm}),    consts,    self,      wishartTerm},
    {Of({Distrib_dmnorm}),    affine,    notNegConst, normalTerm},
    {Of({Distrib_dpar}),      consts,    consts,    noTerm},
    {Of({Distrib_dpar}),      notNegConst, scaled,    posLogConcaveTerm2},
    {Of({Distrib_dpar}),      scaled,    notNegConst, posLogConcaveTerm2},
    {Of({Distrib_dweib}),     consts,    consts,    noTerm},
    {Of({Distrib_dweib}),     notNegConst, scaled,    gammaTerm},
    {Of({Distrib_dweib}),     notNegConst, expLinear, logConcaveTerm},
    {Of({Distrib_dweib}),     affine,    notNegConst, posLogConcaveTerm2},
    {Of({Distrib_dgamma}),    consts,    consts,    noTerm},
    {Of({Distrib_dgamma}),    notNegConst, scaled,    gammaRateTerm},
    {Of({Distrib_dgamma}),    notNegConst, expLinear, logConcaveTerm},
    {Of({Distrib_dgamma}),    scaled,    notNegConst, posLogConcaveTerm},
};

using TermRow = std::array<int32_t, numForms>;
using TermTable = std::array<TermRow, numForms>;

constexpr std::array<TermRow, numDensities> oneParameter = [] {
  std::array<TermRow, numDensities> t{};
  for (TermRow& row : t) row.fill(generalTerm);
  for (const OneRule& r : oneParameterRules)
    for (int d = 0; d < numDensities; ++d)
      for (int f = 0; f < numForms; ++f)
        if (In(r.densities, d) && In(r.forms, f)) t[d][f] = r.term;
  return t;
}();

constexpr std::array<TermTable, numDensities> twoParameter = [] {
  std::array<TermTable, numDensities> t{};
  for (TermTable& table : t)
    for (TermRow& row : table) row.fill(generalTerm);
  for (const TwoRule& r : twoParameterRules)
    for (int d = 0; d < numDensities; ++d)
      for (int i = 0; i < numForms; ++i)
        for (int j = 0; j < numForms; ++j)
          if (In(r.densities, d) && In(r.first, i) && In(r.second, j)) t[d][i][j] = r.term;
  return t;
}();

// ---- product rule: folding the terms of a likelihood. noTerm is neutral,
// generalTerm absorbs, a class combines with itself to itself, and only the
// pairs listed here (in either order) combine when they differ.
struct ProductRule {
  Term a, b, product;
};
constexpr ProductRule productRules[] = {
    {gammaRateTerm,     gammaTerm,          gammaTerm},
    {gammaTerm,         logConcaveTerm,     posLogConcaveTerm2},
    {gammaTerm,         posLogConcaveTerm,  posLogConcaveTerm2},
    {gammaTerm,         posLogConcaveTerm2, posLogConcaveTerm2},
    {normalTerm,        logConcaveTerm,     logConcaveTerm},
    {logConcaveTerm,    posLogConcaveTerm,  posLogConcaveTerm},
    {logConcaveTerm,    posLogConcaveTerm2, posLogConcaveTerm2},
    {posLogConcaveTerm, posLogConcaveTerm2, posLogConcaveTerm2},
};

constexpr std::array<std::array<int32_t, numTerms>, numTerms> prod = [] {
  std::array<std::array<int32_t, numTerms>, numTerms> t{};
  for (auto& row : t) row.fill(generalTerm);
  for (int c = 0; c < numTerms; ++c) {
    t[noTerm][c] = t[c][noTerm] = c;
    t[generalTerm][c] = t[c][generalTerm] = generalTerm;
  }
  for (int c = 0; c <= posLogConcaveTerm2; ++c) t[c][c] = c;
  for (const ProductRule& r : productRules) t[r.a][r.b] = t[r.b][r.a] = r.product;
  return t;
}();

// ---- prior tables: the class of the full conditional from the prior and
// the folded class of the likelihood. Every pair not listed is general; a
// density with no row at all is general whatever its likelihood.
struct PriorRule {
  Set priors;
  Set terms;
  FullConditional fc;
};
constexpr Set betaPriors = Of({Distrib_dbeta, Distrib_dpow});  // dpow(a) is beta(a, 1)
constexpr Set gammaPriors = Of({Distrib_dgamma, Distrib_dchisq});
constexpr Set noConjugatePriors = Of({Distrib_df, Distrib_dlnorm});
constexpr Set extremePriors = Of({Distrib_dgum, Distrib_dlogis});
constexpr PriorRule priorRules[] = {
    {betaPriors,            Of({betaTerm}),                                           beta},
    {betaPriors,            Of({normalTerm, logConcaveTerm, posLogConcaveTerm, posLogConcaveTerm2}), logConcave},
    {Of({Distrib_ddexp}),   Of({normalTerm, logConcaveTerm}),                         logConcave},
    {Of({Distrib_ddirch}),  Of({dirichletTerm}),                                      dirichlet},
    {Of({Distrib_dexp}),    Of({gammaRateTerm}),                                      gammaRate},
    {Of({Distrib_dexp}),    Of({gammaTerm}),                                          gamma},
    {Of({Distrib_dexp}),    Of({logConcaveTerm, posLogConcaveTerm, posLogConcaveTerm2}), posLogConcave},
    {noConjugatePriors,     Of({gammaRateTerm, gammaTerm}),                           gammaNoConjugate},
    {noConjugatePriors,     Of({logConcaveTerm, posLogConcaveTerm, posLogConcaveTerm2}), logConcaveBadPrior},
    {gammaPriors,           Of({gammaRateTerm}),                                      gammaRate},
    {gammaPriors,           Of({gammaTerm}),                                          gamma},
    {gammaPriors,           Of({logConcaveTerm, posLogConcaveTerm}),                  logConcaveBadPrior},
    {gammaPriors,           Of({posLogConcaveTerm2}),                                 posLogConcave},
    {extremePriors,         Of({normalTerm, logConcaveTerm}),                         logConcave},
    {extremePriors,         Of({posLogConcaveTerm, posLogConcaveTerm2}),              posLogConcave},
    // A block whose terms say nothing about it is drawn as a normal block,
    // as a single normal node is.
    {Of({Distrib_dmnorm}),  Of({normalTerm, noTerm}),                                 multiNormal},
    {Of({Distrib_dmnorm}),  Of({logConcaveTerm}),                                     logConcave},
    {Of({Distrib_dnorm}),   Of({normalTerm, noTerm}),                                 normal},
    {Of({Distrib_dnorm}),   Of({logConcaveTerm}),                                     logConcave},
    {Of({Distrib_dpar}),    Of({gammaRateTerm, gammaTerm}),                           gammaRate},
    {Of({Distrib_dpar}),    Of({paretoTerm}),                                         pareto},
    {Of({Distrib_dunif}),   Of({gammaRateTerm}),                                      gammaRate},
    {Of({Distrib_dunif}),   Of({gammaTerm}),                                          gamma},
    {Of({Distrib_dunif}),   Of({betaTerm}),                                           beta},
    {Of({Distrib_dunif}),   Of({normalTerm}),                                         normal},
    {Of({Distrib_dunif}),   Of({logConcaveTerm}),                                     logConcave},
    {Of({Distrib_dunif}),   Of({posLogConcaveTerm}),                                  posLogConcave},
    {Of({Distrib_dunif}),   Of({posLogConcaveTerm2}),                                 posLogConcave2},
    {Of({Distrib_dunif}),   Of({noTerm}),                                             flat},
    {Of({Distrib_dweib}),   Of({gammaRateTerm, gammaTerm}),                           gammaNoConjugate},
    {Of({Distrib_dweib}),   Of({logConcaveTerm, posLogConcaveTerm}),                  logConcaveBadPrior},
    {Of({Distrib_dweib}),   Of({posLogConcaveTerm2}),                                 posLogConcave2},
    {Of({Distrib_dwish}),   Of({wishartTerm}),                                        wishart},
};

struct PriorTable {
  bool present = false;  // the density has a row in priorRules
  std::array<int32_t, numTerms> byTerm{};
};

constexpr std::array<PriorTable, numDensities> fullConditional = [] {
  std::array<PriorTable, numDensities> t{};
  for (PriorTable& p : t) p.byTerm.fill(general);
  for (const PriorRule& r : priorRules)
    for (int d = 0; d < numDensities; ++d) {
      if (!In(r.priors, d)) continue;
      t[d].present = true;
      for (int c = 0; c < numTerms; ++c)
        if (In(r.terms, c)) t[d].byTerm[c] = r.fc;
    }
  return t;
}();

// ---- method table: the method of each class of full conditional, by the
// bounds the model gives the node.
struct MethodRule {
  FullConditional fc;
  std::array<Method, ClassDen_numBounds> byBounds;  // noBounds, lowerOnly, upperOnly, bothBounds
};
constexpr MethodRule methodRules[] = {
    {gammaRate,          {Method::gamma, Method::gammaLower, Method::gammaUpper, Method::gammaBoth}},
    {gamma,              {Method::gamma, Method::gammaLower, Method::gammaUpper, Method::gammaBoth}},
    {beta,               {Method::beta, Method::betaLower, Method::betaUpper, Method::betaBoth}},
    {pareto,             {Method::pareto, Method::pareto, Method::pareto, Method::pareto}},
    {normal,             {Method::normal, Method::normalLower, Method::normalUpper, Method::normalBoth}},
    {wishart,            {Method::wishart, Method::none, Method::none, Method::none}},
    {dirichlet,          {Method::dirichlet, Method::none, Method::none, Method::none}},
    {logConcave,         {Method::rejection, Method::rejectionLower, Method::rejectionUpper, Method::rejectionBoth}},
    // Positive on its own: no bound or a lower one leaves the lower end 0.
    {posLogConcave,      {Method::rejectionLower, Method::rejectionLower, Method::rejectionBoth, Method::rejectionBoth}},
    {posLogConcave2,     {Method::rejectionLower, Method::rejectionLower, Method::rejectionBoth, Method::rejectionBoth}},
    {flat,               {Method::none, Method::none, Method::none, Method::none}},
    {general,            {Method::none, Method::none, Method::none, Method::none}},
    {gammaNoConjugate,   {Method::gammaNoConjugate, Method::gammaNoConjugateLower, Method::gammaNoConjugateUpper,
                          Method::gammaNoConjugateBoth}},
    {logConcaveBadPrior, {Method::badPriorLower, Method::badPriorLower, Method::badPriorBoth, Method::badPriorBoth}},
    {priorOnly,          {Method::direct, Method::directLower, Method::directUpper, Method::directBoth}},
    {discrete,           {Method::discrete, Method::discreteLower, Method::discreteUpper, Method::discreteBoth}},
    {multiNormal,        {Method::normalBlock, Method::none, Method::none, Method::none}},
};
static_assert(std::size(methodRules) == numFullConditionals);
static_assert([] {
  for (int i = 0; i < numFullConditionals; ++i)
    if (methodRules[i].fc != i) return false;
  return true;
}(), "the rows of methodRules follow the order of FullConditional");

// The bound slots follow the distribution's parameters: more than two
// parents is the sign that the node has them.
ClassDen_Bounds Kind(Graph_Node* node) {
  const int32_t n = node->numParents - 1;
  if (n <= 1) return ClassDen_noBounds;
  if (node->parents[static_cast<size_t>(n)] == nullptr) return ClassDen_lowerOnly;
  if (node->parents[static_cast<size_t>(n - 1)] == nullptr) return ClassDen_upperOnly;
  return ClassDen_bothBounds;
}

inline int32_t C(Graph_Node* p, int32_t label, int32_t size) { return ClassFun_MapRnToR1(p, label, size); }

// A count parameter (dbin's n, dmulti's N) that the conjugate updates can
// read afresh at every draw: constant with respect to the node, and either
// a non-negative constant or a stochastic node whose own support never goes
// below 0 (a Poisson count of trials, say).
bool CountParameter(Graph_Node* count, int32_t label, int32_t size) {
  if (count == nullptr) return false;
  const int32_t c = C(count, label, size);
  if (c == ClassFun_nonNegConst) return true;
  if (c != ClassFun_anyConst || count->kind != Graph_stochastic) return false;
  const Distrib_End& lower = Distrib_Of(count->density).lower;
  return lower.kind == Distrib_fixed && lower.value >= 0.0;
}

int32_t ClassifyLiklihoodTerm(Graph_Node* term, int32_t label, int32_t size) {
  const int32_t d = term->density;
  Graph_Node* p0 = term->numParents > 0 ? term->parents[0] : nullptr;
  Graph_Node* p1 = term->numParents > 1 ? term->parents[1] : nullptr;
  auto one = [&](Graph_Node* p) { return oneParameter[static_cast<size_t>(d)][static_cast<size_t>(C(p, label, size))]; };
  switch (d) {
    case Distrib_dbern:
    case Distrib_dgeom:
    case Distrib_dnegbin:
    case Distrib_dchisq:
    case Distrib_dexp:
    case Distrib_dpois: return one(p0);
    case Distrib_dbeta: {
      const int32_t t0 = one(p0), t1 = one(p1);
      if (t0 == noTerm) return t1;
      if (t0 == posLogConcaveTerm) return t1 == noTerm || t1 == posLogConcaveTerm ? posLogConcaveTerm : generalTerm;
      return generalTerm;
    }
    case Distrib_dbin: return CountParameter(p1, label, size) ? one(p0) : generalTerm;
    case Distrib_dcat: {
      const double k = std::trunc(Graph_ValueOf(p1) + categoryTolerance);
      if (!(k >= 1.0 && k <= static_cast<double>(Graph_totalNumNodes))) return generalTerm;
      return oneParameter[Distrib_dcat][static_cast<size_t>(ClassFun_MapRnToRm(p0, label, size, static_cast<int32_t>(k)))];
    }
    case Distrib_dmulti:
      if (!CountParameter(p1, label, size)) return generalTerm;
      return oneParameter[Distrib_dmulti][static_cast<size_t>(ClassFun_MapRnToRm(p0, label, size, term->size))];
    case Distrib_dmnorm: {
      const int32_t m = term->size;
      return twoParameter[Distrib_dmnorm][static_cast<size_t>(ClassFun_MapRnToRm(p0, label, size, m))]
                         [static_cast<size_t>(ClassFun_MapRnToRm(p1, label, size, m * m))];
    }
    case Distrib_dunif:
      if (p0->kind != Graph_data || std::fabs(Graph_Own(p0)) > zeroTolerance) return generalTerm;
      return oneParameter[Distrib_dunif][static_cast<size_t>(C(p1, label, size))];
    case Distrib_ddexp:
    case Distrib_dgamma:
    case Distrib_dgum:
    case Distrib_dlogis:
    case Distrib_dnorm:
    case Distrib_dlnorm:
    case Distrib_dpar:
    case Distrib_dweib:
      return twoParameter[static_cast<size_t>(d)][static_cast<size_t>(C(p0, label, size))]
                         [static_cast<size_t>(C(p1, label, size))];
    default: return generalTerm;
  }
}

// The terms are folded in list order and the fold is not order-free.
int32_t ClassifyLiklihood(Graph_Node* node, int32_t label) {
  int32_t c = noTerm;
  for (Graph_Node* term : node->likelihood) {
    c = prod[static_cast<size_t>(c)][static_cast<size_t>(ClassifyLiklihoodTerm(term, label, node->size))];
    if (c == generalTerm) break;
  }
  return c;
}

bool DataAtLeastOne(Graph_Node* p) { return p->kind == Graph_data && Graph_Own(p) >= 1.0; }

// Scalar priors on the whole line whose log density is concave.
// Every scalar distribution on the whole line (dnorm, ddexp, dgum, dlogis)
// has one.
bool WholeLineLogConcave(int32_t density) {
  return Distrib_WholeLine(density) && Distrib_Of(density).shape == Distrib_scalar;
}

int32_t ClassifyFullConditional(Graph_Node* node) {
  if (node->likelihood.empty()) return priorOnly;
  if (Distrib_IsDiscrete(node->density)) return discrete;
  const int32_t lc = ClassifyLiklihood(node, node->label);
  const int32_t d = node->density;
  int32_t fc = d > 0 && d < numDensities && fullConditional[static_cast<size_t>(d)].present
                   ? fullConditional[static_cast<size_t>(d)].byTerm[static_cast<size_t>(lc)]
                   : general;
  // A beta prior is log-concave only when every shape is a fixed number of
  // at least 1: both of dbeta's, and the one of dpow(a), which is beta(a, 1).
  if ((d == Distrib_dbeta || d == Distrib_dpow) && fc == logConcave)
    for (int32_t k = 0; k < Distrib_Of(d).numParameters; ++k)
      if (!DataAtLeastOne(node->parents[static_cast<size_t>(k)])) fc = general;
  // A prior that is log-concave on the whole line times terms that are
  // log-concave where they allow the node to be (x > 0 for a Poisson mean,
  // say) is log-concave on the interval those terms allow. That interval is
  // found while sampling, from where the log full conditional stops being
  // finite; it is not the positive half-line the terms' class suggests,
  // which would cut a location prior off at 0.
  if (WholeLineLogConcave(d) && (lc == gammaRateTerm || lc == gammaTerm || lc == posLogConcaveTerm ||
                                 lc == posLogConcaveTerm2))
    fc = logConcave;
  if ((d == Distrib_dgamma || d == Distrib_dchisq) && fc == logConcaveBadPrior && DataAtLeastOne(node->parents[0]))
    fc = posLogConcave;
  return fc;
}

Method UniVariantNormal(Graph_Node* node) {
  for (Graph_Node* term : node->likelihood)
    if (term->density != Distrib_dnorm && term->density != Distrib_dlnorm) return Method::normalBlock;
  return Method::normalBlockScalar;
}

// The block's own conjugate update needs every term to be a normal block of
// the same size whose mean vector is the block itself, component by
// component in order.
Method MultiVariantNormal(Graph_Node* node) {
  for (Graph_Node* term : node->likelihood) {
    if (term->density != Distrib_dmnorm || term->size != node->size) return Method::normalBlock;
    Graph_Node* mean = term->parents[0];
    if (ClassFun_MapRnToRm(mean, node->label, node->size, node->size) != ClassFun_identity ||
        Determ_Base(mean) != node->label)
      return Method::normalBlock;
  }
  return Method::normalBlockOfBlock;
}

void WriteNode(int32_t label) { Write_String(SymTabs_NodeText(label)); }

[[noreturn]] void Error(Graph_Node* node, int number) {
  ClassDen_error = true;
  Errors_NodeError(node, number);
}

[[noreturn]] void TooLarge(Graph_Node* node, const char* text) {
  ClassDen_error = true;
  Errors_NodeErrorText(node, text);
}

// Blocks beyond the working storage of their samplers are refused before
// any sweep can meet them.
void CheckCapacity(Graph_Node* node) {
  switch (node->density) {
    case Distrib_ddirch:
    case Distrib_dmulti:
      if (node->size > GibbsSam_maxVector) TooLarge(node, "Block has more than 100 components.");
      break;
    case Distrib_dmnorm:
      if (node->size > GibbsSam_maxOrder) TooLarge(node, "Multivariate normal block has more than 25 components.");
      break;
    case Distrib_dwish:
      if (node->size > GibbsSam_maxOrder * GibbsSam_maxOrder)
        TooLarge(node, "Wishart matrix is larger than 25 by 25.");
      break;
    default: break;
  }
}

void ChooseNodeUpdateMethod(Samplers_Sampler& sampler, int32_t& count) {
  Graph_Node* node = sampler.node;
  CheckCapacity(node);
  const Method method = ClassDen_MethodOf(node);
  const ClassDen_MethodRow& row = ClassDen_Of(method);
  count = row.wholeBlock ? node->size : 1;
  if (row.procedure == nullptr) Error(node, noUpdateMethod);
  sampler.update = row.procedure;
  if (method == Method::griddy) {
    Write_String("Metropolis method choosen for node ");
    WriteNode(node->label);
    Write_Ln();
  }
}

// A node without likelihood terms (a prediction, say) is left out of its
// parents' full conditionals, so its draw is right only when it is made from
// their values of the same sweep: such draws go last, each after those of
// the nodes it depends on: a topological order of the dependencies among them,
// ties in node-number order.
std::vector<Samplers_Sampler*> ParentsFirst(const std::vector<Samplers_Sampler*>& draws) {
  std::vector<int32_t> index(static_cast<size_t>(Graph_totalNumNodes), -1);  // by block label
  for (size_t i = 0; i < draws.size(); ++i) index[static_cast<size_t>(draws[i]->node->label)] = static_cast<int32_t>(i);
  std::vector<std::vector<int32_t>> children(draws.size());
  std::vector<int32_t> waiting(draws.size(), 0);
  for (size_t i = 0; i < draws.size(); ++i) {
    Graph_List parents;
    Parents_StochasticParentList(draws[i]->node, parents);
    for (const Graph_Node* p : parents) {
      if (p == nullptr || p->label < 0 || p->label >= Graph_totalNumNodes) continue;
      const int32_t j = index[static_cast<size_t>(p->label)];
      if (j < 0 || static_cast<size_t>(j) == i) continue;
      children[static_cast<size_t>(j)].push_back(static_cast<int32_t>(i));
      ++waiting[i];
    }
    Graph_DisposeList(parents);
  }
  std::vector<Samplers_Sampler*> ordered;
  ordered.reserve(draws.size());
  std::priority_queue<int32_t, std::vector<int32_t>, std::greater<>> ready;
  for (size_t i = 0; i < draws.size(); ++i)
    if (waiting[i] == 0) ready.push(static_cast<int32_t>(i));
  while (!ready.empty()) {
    const int32_t i = ready.top();
    ready.pop();
    ordered.push_back(draws[static_cast<size_t>(i)]);
    for (int32_t c : children[static_cast<size_t>(i)])
      if (--waiting[static_cast<size_t>(c)] == 0) ready.push(c);
  }
  // A cycle, which the model checks refuse elsewhere, leaves nodes waiting:
  // they follow in node-number order.
  for (size_t i = 0; i < draws.size(); ++i)
    if (waiting[i] > 0) ordered.push_back(draws[i]);
  return ordered;
}

}  // namespace

// The rule tables are constants; only the flag needs setting.
void InitClassDen() { ClassDen_error = false; }

const ClassDen_MethodRow& ClassDen_Of(ClassDen_Method method) { return methods[static_cast<size_t>(method)]; }

ClassDen_Method ClassDen_WithBounds(ClassDen_Method method, ClassDen_Bounds bounds) {
  Method member = method;
  return Member(ClassDen_Of(method).family, bounds, member) ? member : method;
}

ClassDen_Method ClassDen_MethodOf(Graph_Node* node) {
  // The terms of one node often share their operands (an aggregate of many
  // nodes in every term, say): each operand is classified once for the node.
  const ClassFun_Memo memo(node->label, node->size);
  const int32_t fc = ClassifyFullConditional(node);
  const ClassDen_Bounds b = Kind(node);
  const int32_t d = node->density;
  const Distrib_Row& row = Distrib_Of(d);
  Method method = methodRules[static_cast<size_t>(fc)].byBounds[static_cast<size_t>(b)];
  const ClassDen_MethodRow& chosen = ClassDen_Of(method);
  // A bounded normal prior without likelihood is drawn by the truncated-normal
  // procedure that keeps to the same bounds.
  if (d == Distrib_dnorm && chosen.family == Family::direct && chosen.bounds != ClassDen_noBounds) {
    Member(Family::normal, chosen.bounds, method);
    return method;
  }
  if (d == Distrib_dweib && method == Method::directLower) return Method::weibullTail;
  if (d == Distrib_dgum && method == Method::directLower) return Method::gumbelTail;
  // A support with two finite ends of its own (dbeta, dpow on (0, 1)) is
  // sampled by the two-sided adaptive rejection procedure, which reads them.
  if (method == Method::rejection && row.lower.kind != Distrib_none && row.upper.kind != Distrib_none)
    return ClassDen_WithBounds(method, ClassDen_bothBounds);
  // A hypergeometric node has no density to weigh its support with.
  if (d == Distrib_dhypo && fc != priorOnly) return Method::none;
  if (method == Method::normalBlock) {
    method = UniVariantNormal(node);
    if (method == Method::normalBlock) method = MultiVariantNormal(node);
    // Otherwise each component is updated alone.
    if (method == Method::normalBlock) method = Method::normal;
  } else if (method == Method::normalUpper || method == Method::none) {
    // Without usable structure a scalar node goes to the griddy updater
    // when its support, its own ends narrowed by its bounds, is finite on
    // both sides (a uniform node, a beta node, a positive node with an upper
    // bound, any node with both bounds). A block keeps to the rule for
    // blocks: both bounds given.
    const bool lowerEnd = row.lower.kind != Distrib_none || b == ClassDen_lowerOnly || b == ClassDen_bothBounds;
    const bool upperEnd = row.upper.kind != Distrib_none || b == ClassDen_upperOnly || b == ClassDen_bothBounds;
    if (row.shape == Distrib_scalar ? lowerEnd && upperEnd : b == ClassDen_bothBounds) method = Method::griddy;
  }
  return method;
}

void ClassDen_ChooseUpdateMethod() {
  ClassDen_error = false;
  // The graph stays as it is until every node has its method.
  const ClassFun_Session session;
  std::vector<Samplers_Sampler*> priorDraws;
  for (int32_t n = 0; n < Graph_totalNumNodes;) {
    Graph_Node* node = Graph_Label(n);
    if (node == nullptr || node->kind != Graph_stochastic) {
      ++n;
      continue;
    }
    Samplers_Sampler& sampler = Samplers_Add();
    sampler.node = node;
    int32_t count = 1;
    ChooseNodeUpdateMethod(sampler, count);
    if (ClassDen_error) return;
    if (node->likelihood.empty()) priorDraws.push_back(&sampler);
    n += count < 1 ? 1 : count;
  }
  Samplers_DrawLast(ParentsFirst(priorDraws));
}
