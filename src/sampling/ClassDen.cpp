#include "sampling/ClassDen.h"

#include <array>
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

enum Bounds : int32_t { noBounds = 0, lowerOnly = 1, upperOnly = 2, bothBounds = 3 };

constexpr int numForms = 11;
constexpr int numDensities = Distrib_dzipf + 1;
constexpr int32_t blockCode = 22;        // a multivariate normal block, refined further
constexpr int32_t componentwise = 9;     // each component of a block alone
constexpr int32_t noMethod = 49;
constexpr int32_t griddy = 50;
constexpr int32_t weibullTail = 47;
constexpr int32_t gumbelTail = 48;
constexpr int noUpdateMethod = 96;       // error
constexpr double categoryTolerance = 1.0E-6;
constexpr double zeroTolerance = 1.0E-6;

using TermRow = std::array<int32_t, numForms>;
using TermTable = std::array<TermRow, numForms>;

// Term tables: one-parameter tables by the class of the parameter, two-parameter
// tables by [first][second]. One-parameter tables live in row 0 of a TermTable
// only for uniform storage; see OneParameter.
std::array<TermRow, numDensities> oneParameter;
std::array<TermTable, numDensities> twoParameter;
std::array<std::array<int32_t, numTerms>, numTerms> prod;
std::array<std::array<int32_t, numTerms>, numDensities> fullConditional;
bool hasPriorTable[numDensities];
std::array<std::array<int32_t, 4>, numFullConditionals> method;

TermRow Row(std::initializer_list<std::pair<std::initializer_list<int>, int32_t>> entries) {
  TermRow row;
  row.fill(generalTerm);
  for (const auto& [forms, term] : entries)
    for (int f : forms) row[static_cast<size_t>(f)] = term;
  return row;
}

// Sets table[i][j] = term for every i in first and j in second.
void Set(TermTable& table, std::initializer_list<int> first, std::initializer_list<int> second, int32_t term) {
  for (int i : first)
    for (int j : second) table[static_cast<size_t>(i)][static_cast<size_t>(j)] = term;
}

TermTable General() {
  TermTable t;
  for (TermRow& row : t) row.fill(generalTerm);
  return t;
}

void LiklihoodRule() {
  for (TermRow& row : oneParameter) row.fill(generalTerm);
  for (TermTable& t : twoParameter) t = General();
  const TermRow probability = Row({{{0, 1, 2}, noTerm}, {{3}, betaTerm}, {{6}, logConcaveTerm}});
  for (int d : {Distrib_dbern, Distrib_dbin, Distrib_dgeom, Distrib_dnegbin}) oneParameter[d] = probability;
  oneParameter[Distrib_dbeta] = Row({{{0, 1, 2}, noTerm}, {{3, 4, 5}, posLogConcaveTerm}});
  const TermRow vector = Row({{{0, 1, 2}, noTerm}, {{3}, dirichletTerm}, {{6}, logConcaveTerm}});
  oneParameter[Distrib_dcat] = vector;
  oneParameter[Distrib_dmulti] = vector;
  oneParameter[Distrib_dchisq] = Row({{{0, 1, 2}, noTerm}, {{3, 4}, posLogConcaveTerm}});
  oneParameter[Distrib_dexp] = Row({{{0, 1, 2}, noTerm}, {{3, 4}, gammaTerm}, {{7}, logConcaveTerm}});
  oneParameter[Distrib_dpois] =
      Row({{{0, 1, 2}, noTerm}, {{3, 4}, gammaTerm}, {{5}, posLogConcaveTerm}, {{7}, logConcaveTerm}});
  oneParameter[Distrib_dunif] = Row({{{0, 1, 2}, noTerm}, {{3}, paretoTerm}});

  const std::initializer_list<int> consts = {0, 1, 2};
  TermTable& n = twoParameter[Distrib_dnorm];
  Set(n, consts, consts, noTerm);
  Set(n, consts, {3, 4}, gammaTerm);
  Set(n, consts, {7}, logConcaveTerm);
  Set(n, {3, 4, 5}, {0, 2}, normalTerm);
  twoParameter[Distrib_dlnorm] = n;

  TermTable& e = twoParameter[Distrib_ddexp];
  Set(e, consts, consts, noTerm);
  Set(e, consts, {3, 4}, gammaTerm);
  Set(e, consts, {7}, logConcaveTerm);
  Set(e, {3, 4, 5}, {0, 2}, logConcaveTerm);

  TermTable& g = twoParameter[Distrib_dgum];
  Set(g, consts, consts, noTerm);
  Set(g, consts, {3, 4}, posLogConcaveTerm2);
  Set(g, {3, 4, 5}, {0, 2}, logConcaveTerm);
  twoParameter[Distrib_dlogis] = g;

  TermTable& m = twoParameter[Distrib_dmnorm];
  Set(m, consts, consts, noTerm);
  Set(m, consts, {3}, wishartTerm);
  Set(m, {3, 4, 5}, {0, 2}, normalTerm);

  TermTable& p = twoParameter[Distrib_dpar];
  Set(p, consts, consts, noTerm);
  Set(p, {0, 2}, {3, 4}, posLogConcaveTerm2);
  Set(p, {3, 4}, {0, 2}, posLogConcaveTerm2);

  TermTable& w = twoParameter[Distrib_dweib];
  Set(w, consts, consts, noTerm);
  Set(w, {0, 2}, {3, 4}, gammaTerm);
  Set(w, {0, 2}, {7}, logConcaveTerm);
  Set(w, {3, 4, 5}, {0, 2}, posLogConcaveTerm2);

  TermTable& r = twoParameter[Distrib_dgamma];
  Set(r, consts, consts, noTerm);
  Set(r, {0, 2}, {3, 4}, gammaRateTerm);
  Set(r, {0, 2}, {7}, logConcaveTerm);
  Set(r, {3, 4}, {0, 2}, posLogConcaveTerm);
}

// Folding the terms of a likelihood: noTerm is neutral, generalTerm absorbs,
// and only the listed pairs of different classes combine.
void ProductRule() {
  for (auto& row : prod) row.fill(generalTerm);
  for (int c = 0; c < numTerms; ++c) {
    prod[noTerm][c] = prod[c][noTerm] = c;
    prod[generalTerm][c] = prod[c][generalTerm] = generalTerm;
  }
  for (int c = 0; c <= posLogConcaveTerm2; ++c) prod[c][c] = c;
  auto both = [](int a, int b, int32_t c) { prod[a][b] = prod[b][a] = c; };
  both(gammaRateTerm, gammaTerm, gammaTerm);
  both(gammaTerm, logConcaveTerm, posLogConcaveTerm2);
  both(gammaTerm, posLogConcaveTerm, posLogConcaveTerm2);
  both(gammaTerm, posLogConcaveTerm2, posLogConcaveTerm2);
  both(normalTerm, logConcaveTerm, logConcaveTerm);
  both(logConcaveTerm, posLogConcaveTerm, posLogConcaveTerm);
  both(logConcaveTerm, posLogConcaveTerm2, posLogConcaveTerm2);
  both(posLogConcaveTerm, posLogConcaveTerm2, posLogConcaveTerm2);
}

void Prior(int density, std::initializer_list<std::pair<std::initializer_list<int>, int32_t>> entries) {
  auto& row = fullConditional[static_cast<size_t>(density)];
  row.fill(general);
  for (const auto& [terms, fc] : entries)
    for (int t : terms) row[static_cast<size_t>(t)] = fc;
  hasPriorTable[density] = true;
}

void FullConditionalRule() {
  for (auto& row : fullConditional) row.fill(general);
  for (bool& b : hasPriorTable) b = false;
  Prior(Distrib_dbeta, {{{2}, beta}, {{4, 7, 8, 9}, logConcave}});
  // dpow(a) is beta(a, 1).
  Prior(Distrib_dpow, {{{2}, beta}, {{4, 7, 8, 9}, logConcave}});
  Prior(Distrib_ddexp, {{{4, 7}, logConcave}});
  Prior(Distrib_ddirch, {{{6}, dirichlet}});
  Prior(Distrib_dexp, {{{0}, gammaRate}, {{1}, gamma}, {{7, 8, 9}, posLogConcave}});
  Prior(Distrib_df, {{{0, 1}, gammaNoConjugate}, {{7, 8, 9}, logConcaveBadPrior}});
  Prior(Distrib_dgamma, {{{0}, gammaRate}, {{1}, gamma}, {{7, 8}, logConcaveBadPrior}, {{9}, posLogConcave}});
  Prior(Distrib_dchisq, {{{0}, gammaRate}, {{1}, gamma}, {{7, 8}, logConcaveBadPrior}, {{9}, posLogConcave}});
  Prior(Distrib_dgum, {{{4, 7}, logConcave}, {{8, 9}, posLogConcave}});
  Prior(Distrib_dlnorm, {{{0, 1}, gammaNoConjugate}, {{7, 8, 9}, logConcaveBadPrior}});
  Prior(Distrib_dlogis, {{{4, 7}, logConcave}, {{8, 9}, posLogConcave}});
  // A block whose terms say nothing about it is drawn as a normal block, as
  // a single normal node is.
  Prior(Distrib_dmnorm, {{{4, 10}, multiNormal}, {{7}, logConcave}});
  Prior(Distrib_dnorm, {{{4, 10}, normal}, {{7}, logConcave}});
  Prior(Distrib_dpar, {{{0, 1}, gammaRate}, {{3}, pareto}});
  Prior(Distrib_dunif, {{{0}, gammaRate}, {{1}, gamma}, {{2}, beta}, {{4}, normal}, {{7}, logConcave},
                        {{8}, posLogConcave}, {{9}, posLogConcave2}, {{10}, flat}});
  Prior(Distrib_dweib, {{{0, 1}, gammaNoConjugate}, {{7, 8}, logConcaveBadPrior}, {{9}, posLogConcave2}});
  Prior(Distrib_dwish, {{{5}, wishart}});
}

void MethodRule() {
  auto set = [](std::initializer_list<int> classes, std::array<int32_t, 4> codes) {
    for (int c : classes) method[static_cast<size_t>(c)] = codes;
  };
  set({gammaRate, gamma}, {13, 14, 15, 16});
  set({beta}, {17, 18, 19, 20});
  set({pareto}, {21, 21, 21, 21});
  set({normal}, {9, 10, 11, 12});
  set({wishart}, {25, 49, 49, 49});
  set({dirichlet}, {26, 49, 49, 49});
  set({logConcave}, {27, 28, 29, 30});
  set({posLogConcave, posLogConcave2}, {28, 28, 30, 30});
  set({flat, general}, {49, 49, 49, 49});
  set({gammaNoConjugate}, {39, 40, 41, 42});
  set({logConcaveBadPrior}, {44, 44, 46, 46});
  set({priorOnly}, {5, 6, 7, 8});
  set({discrete}, {31, 32, 33, 34});
  set({multiNormal}, {22, 49, 49, 49});
}

// The procedure of each method code, and whether it covers the whole block
// (true) or one node.
struct Method {
  Samplers_Proc procedure;
  bool wholeBlock;
};

Method MethodOf(int32_t code) {
  switch (code) {
    case 5: return {GibbsSam_DirectSample, true};
    case 6: return {GibbsSam_LDirectSample, true};
    case 7: return {GibbsSam_UDirectSample, true};
    case 8: return {GibbsSam_TDirectSample, true};
    case 9: return {GibbsSam_Normal, false};
    case 10: return {GibbsSam_LNormal, true};
    case 11: return {GibbsSam_UNormal, true};
    case 12: return {GibbsSam_TNormal, true};
    case 13: return {GibbsSam_Gamma, true};
    case 14: return {GibbsSam_LGamma, true};
    case 15: return {GibbsSam_UGamma, true};
    case 16: return {GibbsSam_TGamma, true};
    case 17: return {GibbsSam_Beta, true};
    case 18: return {GibbsSam_LBeta, true};
    case 19: return {GibbsSam_UBeta, true};
    case 20: return {GibbsSam_TBeta, true};
    case 21: return {GibbsSam_Pareto, true};
    case 23: return {GibbsSam_MNormal1, true};
    case 24: return {GibbsSam_MNormal2, true};
    case 25: return {GibbsSam_Wishart, true};
    case 26: return {GibbsSam_Direchlet, true};
    case 31:
    case 32:
    case 33:
    case 34: return {GibbsSam_DiscreteSample, true};
    case 27: return {DFreeARS_FullArs, false};
    case 28: return {DFreeARS_LTruncArs, false};
    case 29: return {DFreeARS_RTruncArs, false};
    case 30: return {DFreeARS_TruncArs, false};
    case weibullTail: return {GibbsSam_WeibullTail, true};
    case gumbelTail: return {GibbsSam_GumbelRightTail, true};
    case griddy: return {Griddy_Updater, false};
    default: return {nullptr, true};
  }
}


int32_t Kind(Graph_Node* node) {
  const int32_t n = node->numParents - 1;
  if (n <= 1) return noBounds;
  if (node->parents[static_cast<size_t>(n)] == nullptr) return lowerOnly;
  if (node->parents[static_cast<size_t>(n - 1)] == nullptr) return upperOnly;
  return bothBounds;
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
      if (p0->kind != Graph_data || std::fabs(p0->value) > zeroTolerance) return generalTerm;
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

bool DataAtLeastOne(Graph_Node* p) { return p->kind == Graph_data && p->value >= 1.0; }

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
  int32_t fc = d > 0 && d < numDensities && hasPriorTable[d] ? fullConditional[static_cast<size_t>(d)][static_cast<size_t>(lc)]
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

int32_t UniVariantNormal(Graph_Node* node) {
  for (Graph_Node* term : node->likelihood)
    if (term->density != Distrib_dnorm && term->density != Distrib_dlnorm) return blockCode;
  return 23;
}

// The block's own conjugate update needs every term to be a normal block of
// the same size whose mean vector is the block itself, component by
// component in order.
int32_t MultiVariantNormal(Graph_Node* node) {
  for (Graph_Node* term : node->likelihood) {
    if (term->density != Distrib_dmnorm || term->size != node->size) return blockCode;
    Graph_Node* mean = term->parents[0];
    if (ClassFun_MapRnToRm(mean, node->label, node->size, node->size) != ClassFun_identity ||
        Determ_Base(mean) != node->label)
      return blockCode;
  }
  return 24;
}

void WriteNode(int32_t label) {
  SymTabs_Name name;
  if (SymTabs_LookUpLabel(label, name))
    Write_String(SymTabs_LabelText(name));
  else
    Write_Int(label, 0);
}

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
  const int32_t code = ClassDen_MethodCode(node);
  const Method m = MethodOf(code);
  count = m.wholeBlock ? node->size : 1;
  if (m.procedure == nullptr) Error(node, noUpdateMethod);
  sampler.update = m.procedure;
  if (code == griddy) {
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

void InitClassDen() {
  ClassDen_error = false;
  LiklihoodRule();
  ProductRule();
  FullConditionalRule();
  MethodRule();
}

int32_t ClassDen_MethodCode(Graph_Node* node) {
  // The terms of one node often share their operands (an aggregate of many
  // nodes in every term, say): each operand is classified once for the node.
  const ClassFun_Memo memo(node->label, node->size);
  const int32_t fc = ClassifyFullConditional(node);
  const int32_t b = Kind(node);
  const int32_t d = node->density;
  const Distrib_Row& row = Distrib_Of(d);
  int32_t code = method[static_cast<size_t>(fc)][static_cast<size_t>(b)];
  // A bounded normal prior without likelihood is drawn by the truncated-normal procedures.
  if (d == Distrib_dnorm && code >= 6 && code <= 8) return code + 4;
  if (d == Distrib_dweib && code == 6) return weibullTail;
  if (d == Distrib_dgum && code == 6) return gumbelTail;
  // A support with two finite ends of its own (dbeta, dpow on (0, 1)) is
  // sampled by the two-sided adaptive rejection procedure, which reads them.
  if (code == 27 && row.lower.kind != Distrib_none && row.upper.kind != Distrib_none) return 30;
  // A hypergeometric node has no density to weigh its support with.
  if (d == Distrib_dhypo && fc != priorOnly) return noMethod;
  if (code == blockCode) {
    code = UniVariantNormal(node);
    if (code == blockCode) code = MultiVariantNormal(node);
    if (code == blockCode) code = componentwise;
  } else if (code == 11 || code == noMethod) {
    // Without usable structure a scalar node goes to the griddy updater
    // when its support, its own ends narrowed by its bounds, is finite on
    // both sides (a uniform node, a beta node, a positive node with an upper
    // bound, any node with both bounds). A block keeps to the rule for
    // blocks: both bounds given.
    const bool lowerEnd = row.lower.kind != Distrib_none || b == lowerOnly || b == bothBounds;
    const bool upperEnd = row.upper.kind != Distrib_none || b == upperOnly || b == bothBounds;
    if (row.shape == Distrib_scalar ? lowerEnd && upperEnd : b == bothBounds) code = griddy;
  }
  return code;
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
