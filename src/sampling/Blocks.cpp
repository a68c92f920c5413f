#include "sampling/Blocks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <span>
#include <string>
#include <unordered_map>

#include "base/Write.h"
#include "graph/Determ.h"
#include "graph/Ops.h"
#include "graph/Parents.h"
#include "language/SymTabs.h"
#include "numerics/MatrixAl.h"
#include "numerics/RandNum.h"
#include "numerics/SpecFunc.h"
#include "sampling/ConjDist.h"
#include "sampling/DFreeARS.h"
#include "sampling/GibbsSam.h"
#include "store/Distrib.h"

bool Blocks_on = false;
thread_local constinit Blocks_ChainPart* Blocks_part = nullptr;

namespace {

// One factor of a block's full conditional: for a linear block a normal
// density (a member's prior or a likelihood term), its residual
// observation - mean being linear in the members; for a generalised block a
// likelihood term, its linear predictor being linear in the members.
struct Factor {
  Graph_Node* node = nullptr;       // whose density it is
  Graph_Node* parameter = nullptr;  // the mean, or the proportion or mean the link gives
  Graph_Node* precision = nullptr;  // linear: the precision
  Graph_Node* count = nullptr;      // dbin: the count
  Determ_Link link = Determ_noLink;
  bool logScale = false;            // a dlnorm term: its observation is ln y
};

// Fixed factors of a linear block that share one precision, summed: with
// a + g'x each one's residual, sum g g' and -sum a g, weighted by the
// precision when it is a fixed value (and `precision` is then null).
struct Sum {
  Graph_Node* precision = nullptr;
  std::vector<double> gg, ag;
};

struct Block {
  Blocks_Kind kind = Blocks_Kind::linear;
  std::vector<Graph_Node*> members;
  std::vector<int32_t> numbers;  // each member's node number (a dmnorm component's own, not its block's)
  std::vector<Samplers_Sampler*> records;  // the members' records, in the order of their nodes
  std::vector<Samplers_Proc> single;       // the procedure each had alone
  // Linear: where the components of each dmnorm member start among members;
  // their prior is one multivariate normal factor.
  std::vector<size_t> multi;
  std::vector<Factor> probed;              // factors probed at every update
  std::vector<Sum> sums;                   // linear
  // Generalised: the fixed terms, each a + X x with y observed of n.
  std::vector<Factor> fixed;
  std::vector<double> offset, design, observed, counts;
};

std::vector<Block> blocks;

// ---- probing

// The link whose inverse a logical parameter applies last, read from its
// code before the fast evaluators replace it; identity when there is none.
Determ_Link LinkOf(const Graph_Node* p) {
  if (p->kind != Graph_logical || p->stack.empty()) return Determ_noLink;
  const std::vector<int32_t>& c = p->stack;
  if (c[0] != Determ_push && c[0] != Determ_pushValue) return Determ_noLink;
  const auto end = std::find(c.begin(), c.end(), static_cast<int32_t>(Determ_end));
  if (end == c.begin() || end == c.end()) return Determ_noLink;
  switch (*(end - 1)) {
    case Determ_ilogit: return Determ_logitLink;
    case Determ_phi: return Determ_probitLink;
    case Determ_icloglog: return Determ_cloglogLink;
    case Determ_expLink:
    case Determ_exp: return Determ_logLink;
    default: return Determ_noLink;
  }
}

constexpr double lnRootTwoPi = 0.91893853320467274178;

double LogDensityPhi(double t) { return -0.5 * t * t - lnRootTwoPi; }

// t with ln Phi(t) = target, for a target at most ln 0.5 (so t <= 0): Newton
// steps kept within a bracket that bisection narrows.
double InverseLogPhi(double target) {
  double lo = -40.0, hi = 0.0, t = -1.0;
  for (int i = 0; i < 200; ++i) {
    const double logPhi = SpecFunc_LogPhi(t);
    if (logPhi > target)
      hi = t;
    else
      lo = t;
    double next = t - (logPhi - target) / std::exp(LogDensityPhi(t) - logPhi);
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    if (std::fabs(next - t) <= 1.0E-15 * (1.0 + std::fabs(t))) return next;
    t = next;
  }
  return t;
}

// The linear predictor of a generalised term, recovered exactly from the
// logarithms the inverse link met on its way to the parameter's value.
double Predictor(const Factor& f) {
  if (f.link == Determ_logLink) {
    double mean = 0.0, lnMean = 0.0;
    Determ_MeanLogMean(f.parameter, mean, lnMean);
    return lnMean;
  }
  double lnP = 0.0, lnQ = 0.0;
  Determ_LogProportion(f.parameter, lnP, lnQ);
  switch (f.link) {
    case Determ_logitLink: return lnP - lnQ;
    case Determ_cloglogLink: return std::log(-lnQ);
    case Determ_probitLink: return lnP <= lnQ ? InverseLogPhi(lnP) : -InverseLogPhi(lnQ);
    default: return lnP - lnQ;
  }
}

double Residual(const Factor& f) {
  const double y = Graph_Own(f.node);
  return (f.logScale ? std::log(y) : y) - Graph_ValueOf(f.parameter);
}

double ValueOfFactor(const Block& b, const Factor& f) {
  return b.kind == Blocks_Kind::linear ? Residual(f) : Predictor(f);
}

// Each factor as a + X x in the members x: a from all members at 0, the
// row of X from each at 1 in turn. Leaves the members at 0; every linear
// form is read whole (no node is active), so no cached partial sum is met.
void Probe(const Block& b, std::span<const Factor> factors, double* a, double* X) {
  const size_t p = b.members.size();
  Determ_fastLinear = false;
  Determ_activeNode = nullptr;
  for (Graph_Node* m : b.members) Graph_Own(m) = 0.0;
  for (size_t i = 0; i < factors.size(); ++i) a[i] = ValueOfFactor(b, factors[i]);
  for (size_t k = 0; k < p; ++k) {
    Graph_Own(b.members[k]) = 1.0;
    for (size_t i = 0; i < factors.size(); ++i) X[i * p + k] = ValueOfFactor(b, factors[i]) - a[i];
    Graph_Own(b.members[k]) = 0.0;
  }
}

// ---- scratch of one update, the thread's own, kept at its grown size

struct Scratch {
  std::vector<double> saved, a, X, Q, h, x, mean, prior, priorMean;
  std::vector<double> Q2, mean2, observedNow, countsNow;
  std::array<double, ConjDist_maxOrder> priorB{};
  std::array<double, ConjDist_maxOrder * ConjDist_maxOrder> priorP{};
  void Size(size_t p, size_t probed) {
    for (std::vector<double>* v : {&saved, &h, &x, &mean, &mean2, &prior, &priorMean})
      if (v->size() < p) v->resize(p);
    for (std::vector<double>* v : {&Q, &Q2})
      if (v->size() < p * p) v->resize(p * p);
    for (std::vector<double>* v : {&a, &observedNow, &countsNow})
      if (v->size() < probed) v->resize(probed);
    if (X.size() < probed * p) X.resize(probed * p);
  }
};
thread_local Scratch scratch;

void Save(const Block& b, double* saved) {
  for (size_t k = 0; k < b.members.size(); ++k) saved[k] = Graph_Own(b.members[k]);
}
void Put(const Block& b, const double* x) {
  for (size_t k = 0; k < b.members.size(); ++k) Graph_Own(b.members[k]) = x[k];
}

// Q += t g g' and h += r g: a factor of precision t along g. A normal
// factor a + g'x has r = -t a.
void AddFactor(double t, double r, const double* g, size_t p, double* Q, double* h) {
  for (size_t i = 0; i < p; ++i) {
    if (g[i] == 0.0) continue;
    const double tg = t * g[i];
    h[i] += r * g[i];
    for (size_t j = 0; j < p; ++j) Q[i * p + j] += tg * g[j];
  }
}

// The mean Q^-1 h into h, Q left factored; false when Q is not positive
// definite or a number is not finite.
bool Solve(double* Q, double* h, size_t p) {
  const int n = static_cast<int>(p);
  if (!MatrixAl_LUDecomp(Q, n)) return false;
  MatrixAl_FordwardSub(Q, h, n);
  MatrixAl_BackSub(Q, h, n);
  for (size_t i = 0; i < p; ++i)
    if (!std::isfinite(h[i])) return false;
  return true;
}

bool AllFinite(const double* x, size_t p) {
  for (size_t i = 0; i < p; ++i)
    if (!std::isfinite(x[i])) return false;
  return true;
}

// ---- the generalised terms

// A term's log likelihood at eta, up to a constant, and its IRLS weight w
// and score s (w (z - eta), z the working response).
struct Fit {
  double logLik, weight, score;
};

Fit Term(Determ_Link link, double eta, double y, double n) {
  if (link == Determ_logLink) {
    const double mu = std::exp(eta);
    return {y * eta - mu, mu, y - mu};
  }
  Determ_LinkTrace trace = Ops_StartLink(link, eta);
  double lnP = 0.0, lnQ = 0.0;
  Ops_ProportionLogs(trace, lnP, lnQ);
  // ln dp/deta
  const double lnSlope = link == Determ_probitLink    ? LogDensityPhi(eta)
                         : link == Determ_cloglogLink ? eta + lnQ
                                                      : lnP + lnQ;
  const double failures = n - y;
  const double logLik = (y > 0.0 ? y * lnP : 0.0) + (failures > 0.0 ? failures * lnQ : 0.0);
  // Binomial variance n p q, mean slope n dp/deta: w = n (dp/deta)^2 / (p q)
  // and s = dp/deta (y / p - (n - y) / q), each formed from logarithms.
  const double weight = n * std::exp(2.0 * lnSlope - lnP - lnQ);
  const double score = (y > 0.0 ? y * std::exp(lnSlope - lnP) : 0.0) -
                       (failures > 0.0 ? failures * std::exp(lnSlope - lnQ) : 0.0);
  return {logLik, weight, score};
}

// Visits every term of a generalised block with its a, row of X, y and n.
template <typename Visit>
void EachTerm(const Block& b, const Scratch& w, Visit visit) {
  const size_t p = b.members.size();
  for (size_t i = 0; i < b.fixed.size(); ++i)
    visit(b.fixed[i].link, b.offset[i], &b.design[i * p], b.observed[i], b.counts[i]);
  for (size_t i = 0; i < b.probed.size(); ++i)
    visit(b.probed[i].link, w.a[i], &w.X[i * p], w.observedNow[i], w.countsNow[i]);
}

double Dot(const double* g, const double* x, size_t p) {
  double s = 0.0;
  for (size_t k = 0; k < p; ++k) s += g[k] * x[k];
  return s;
}

// The log posterior of the block at x, up to a constant.
double LogPosterior(const Block& b, const Scratch& w, const double* x) {
  const size_t p = b.members.size();
  double sum = 0.0;
  for (size_t k = 0; k < p; ++k) {
    const double d = x[k] - w.priorMean[k];
    sum -= 0.5 * w.prior[k] * d * d;
  }
  EachTerm(b, w, [&](Determ_Link link, double a, const double* g, double y, double n) {
    sum += Term(link, a + Dot(g, x, p), y, n).logLik;
  });
  return std::isnan(sum) ? -HUGE_VAL : sum;
}

// One IRLS step from x: the normal whose mean (into mean) is the weighted
// least-squares fit at x and whose precision (factored, into Q) is the
// prior's plus X'WX. False when it cannot be formed.
bool IrlsStep(const Block& b, const Scratch& w, const double* x, double* Q, double* mean) {
  const size_t p = b.members.size();
  std::fill_n(Q, p * p, 0.0);
  for (size_t k = 0; k < p; ++k) {
    Q[k * p + k] = w.prior[k];
    mean[k] = w.prior[k] * w.priorMean[k];
  }
  EachTerm(b, w, [&](Determ_Link link, double a, const double* g, double y, double n) {
    const double linear = Dot(g, x, p);
    const Fit f = Term(link, a + linear, y, n);
    // The working observation z - a = linear + s / w, weighted by w.
    AddFactor(f.weight, f.weight * linear + f.score, g, p, Q, mean);
  });
  return AllFinite(Q, p * p) && Solve(Q, mean, p);
}

// The proposal from x. Mostly the normal of one IRLS step from x; but one
// step from a value out in a tail (a log link overshoots, for one) can land
// where the step back is all but impossible, and a chain started there would
// stay put. So a fixed share of the steps, chosen at random, are a random
// walk from x whose normal has the IRLS precision scaled for p members: it
// creeps out of such a tail. Each kind of step keeps the posterior, and so
// does the mixture of the two.
constexpr double walkShare = 0.25;

bool Proposal(const Block& b, const Scratch& w, const double* x, bool walk, double* Q, double* mean) {
  if (!IrlsStep(b, w, x, Q, mean)) return false;
  if (!walk) return true;
  const size_t p = b.members.size();
  std::copy_n(x, p, mean);
  // The factor of the precision times sqrt(p) / 2.38: the covariance of the
  // step is 2.38^2 / p times the inverse of the IRLS precision.
  const double f = std::sqrt(static_cast<double>(p)) / 2.38;
  for (size_t i = 0; i < p * p; ++i) Q[i] *= f;
  return true;
}

// ln of the normal density with mean `mean` and factored precision U at x,
// up to a constant.
double LogProposal(const double* U, const double* mean, const double* x, size_t p) {
  double sum = 0.0;
  for (size_t i = 0; i < p; ++i) {
    sum += std::log(U[i * p + i]);
    double r = 0.0;
    for (size_t j = i; j < p; ++j) r += U[i * p + j] * (x[j] - mean[j]);
    sum -= 0.5 * r * r;
  }
  return sum;
}

// ---- forming the blocks

// Whether the node's value involves no unknown but the members.
bool OnlyMembers(Graph_Node* n, const std::vector<Graph_Node*>& members) {
  if (n == nullptr) return false;
  if (n->kind == Graph_data) return true;
  if (n->kind != Graph_logical) return std::find(members.begin(), members.end(), n) != members.end();
  Graph_List ancestors;
  Parents_DeterministicParentLi(n, ancestors);
  bool only = true;
  for (Graph_Node* a : ancestors)
    if (std::find(members.begin(), members.end(), a) == members.end()) only = false;
  Graph_DisposeList(ancestors);
  return only;
}

// Whether the node's value involves none of the members.
bool NoMembers(Graph_Node* n, const std::vector<Graph_Node*>& members) {
  if (n == nullptr || n->kind == Graph_data) return true;
  if (n->kind != Graph_logical) return std::find(members.begin(), members.end(), n) == members.end();
  Graph_List ancestors;
  Parents_DeterministicParentLi(n, ancestors);
  bool none = true;
  for (Graph_Node* a : ancestors)
    if (std::find(members.begin(), members.end(), a) != members.end()) none = false;
  Graph_DisposeList(ancestors);
  return none;
}

bool Fixed(Graph_Node* n) { return n != nullptr && n->kind == Graph_data; }

bool ScalarNormalPrior(const Graph_Node* x) {
  return x->density == Distrib_dnorm && Distrib_Of(x->density).shape == Distrib_scalar && x->parents.size() >= 2;
}

bool NormalTerm(const Graph_Node* t) {
  return (t->density == Distrib_dnorm || t->density == Distrib_dlnorm) && t->parents.size() >= 2;
}

bool GeneralisedTerm(const Graph_Node* t) {
  if (t->parents.empty()) return false;
  const Determ_Link link = LinkOf(t->parents[0]);
  switch (t->density) {
    case Distrib_dbern: return link == Determ_logitLink || link == Determ_probitLink || link == Determ_cloglogLink;
    case Distrib_dbin:
      return (link == Determ_logitLink || link == Determ_probitLink || link == Determ_cloglogLink) && t->parents.size() >= 2 &&
             Fixed(t->parents[1]);
    case Distrib_dpois: return link == Determ_logLink;
    default: return false;
  }
}

// The kind of block a record's node may join, if any.
bool CandidateKind(const Samplers_Sampler& s, Blocks_Kind& kind) {
  const Graph_Node* x = s.node;
  if (x == nullptr || x->likelihood.empty()) return false;
  // A dmnorm block whose terms are all univariate normal joins whole.
  if (s.update == static_cast<Samplers_Proc>(GibbsSam_MNormal1) && x->density == Distrib_dmnorm) {
    kind = Blocks_Kind::linear;
    return std::all_of(x->likelihood.begin(), x->likelihood.end(), NormalTerm);
  }
  if (!ScalarNormalPrior(x)) return false;
  if (s.update == static_cast<Samplers_Proc>(GibbsSam_Normal)) {
    kind = Blocks_Kind::linear;
    return std::all_of(x->likelihood.begin(), x->likelihood.end(), NormalTerm);
  }
  if (s.update == static_cast<Samplers_Proc>(DFreeARS_FullArs)) {
    kind = Blocks_Kind::generalised;
    return std::all_of(x->likelihood.begin(), x->likelihood.end(), GeneralisedTerm);
  }
  return false;
}

// The factors of a block: for a linear block every member's prior and every
// term of theirs that is not itself a member; for a generalised block their
// terms. Each once.
std::vector<Factor> Factors(const Block& b) {
  std::vector<Factor> out;
  std::vector<const Graph_Node*> seen;
  const auto isMember = [&](const Graph_Node* n) {
    return std::find(b.members.begin(), b.members.end(), n) != b.members.end();
  };
  if (b.kind == Blocks_Kind::linear)
    for (Graph_Node* m : b.members)
      if (m->density == Distrib_dnorm) out.push_back({m, m->parents[0], m->parents[1], nullptr, Determ_noLink, false});
  for (Graph_Node* m : b.members)
    for (Graph_Node* t : m->likelihood) {
      if (isMember(t) || std::find(seen.begin(), seen.end(), t) != seen.end()) continue;
      seen.push_back(t);
      if (b.kind == Blocks_Kind::linear)
        out.push_back({t, t->parents[0], t->parents[1], nullptr, Determ_noLink, t->density == Distrib_dlnorm});
      else
        out.push_back({t, t->parents[0], nullptr, t->density == Distrib_dbin ? t->parents[1] : nullptr,
                       LinkOf(t->parents[0]), false});
    }
  return out;
}

// Whether every factor is a + X x in the members jointly, not only in each
// alone: the affine form read off at 0 and the unit vectors must give the
// factor's value at two points with every member away from 0 and 1. The
// tolerance allows for the probit predictor, recovered through an
// approximation of ln Phi good to about 1.0E-7; a product of members misses
// by far more.
bool JointlyLinear(const Block& b, const std::vector<Factor>& factors, const std::vector<double>& a,
                   const std::vector<double>& X, const std::vector<double>& start) {
  const size_t p = b.members.size();
  std::vector<double> x(p);
  for (const double shift : {0.37, -1.13}) {
    for (size_t k = 0; k < p; ++k) x[k] = start[k] + shift * static_cast<double>(k + 2);
    Put(b, x.data());
    for (size_t i = 0; i < factors.size(); ++i) {
      const double predicted = a[i] + Dot(&X[i * p], x.data(), p);
      double scale = 1.0 + std::fabs(a[i]);
      for (size_t k = 0; k < p; ++k) scale += std::fabs(X[i * p + k] * x[k]);
      const double v = ValueOfFactor(b, factors[i]);
      if (!std::isfinite(v) || !std::isfinite(predicted) || std::fabs(v - predicted) > 1.0E-5 * scale) return false;
    }
  }
  return true;
}

constexpr size_t maxSums = 32;

// Lays out what the block's updates read. False when the block is refused.
bool Build(Block& b) {
  const size_t p = b.members.size();
  if (b.kind == Blocks_Kind::generalised)
    for (Graph_Node* m : b.members)
      if (!NoMembers(m->parents[0], b.members) || !NoMembers(m->parents[1], b.members)) return false;
  // A dmnorm member's prior mean and precision, read whole at every update,
  // must not move with the block.
  for (size_t start : b.multi) {
    const Graph_Node* m = b.members[start];
    const int32_t n = m->size;
    for (int k = 0; k < 2; ++k) {
      Graph_Node* parameter = m->parents[static_cast<size_t>(k)];
      if (parameter == nullptr || (!parameter->stack.empty() && parameter->stack[0] == Determ_pick)) return false;
      const int32_t count = k == 0 ? n : n * n;
      for (int32_t i = 0; i < count; ++i)
        if (!NoMembers(Graph_Label(parameter->label + i), b.members)) return false;
    }
  }
  const std::vector<Factor> factors = Factors(b);
  std::vector<double> start(p), a(factors.size()), X(factors.size() * p);
  Save(b, start.data());
  Probe(b, factors, a.data(), X.data());
  const bool linear = JointlyLinear(b, factors, a, X, start);
  Put(b, start.data());
  if (!linear) return false;
  std::unordered_map<const Graph_Node*, size_t> sumOf;
  for (size_t i = 0; i < factors.size(); ++i) {
    const Factor& f = factors[i];
    const bool observed = std::find(b.members.begin(), b.members.end(), f.node) != b.members.end() || Fixed(f.node);
    const bool fixed = observed && OnlyMembers(f.parameter, b.members) && (f.count == nullptr || Fixed(f.count));
    if (!fixed) {
      b.probed.push_back(f);
      continue;
    }
    const double* g = &X[i * p];
    if (b.kind == Blocks_Kind::generalised) {
      b.fixed.push_back(f);
      b.offset.push_back(a[i]);
      b.design.insert(b.design.end(), g, g + p);
      b.observed.push_back(Graph_Own(f.node));
      b.counts.push_back(f.count != nullptr ? Graph_Own(f.count) : 1.0);
      continue;
    }
    // A precision with no unknown behind it is a weight of its own.
    const bool weight = OnlyMembers(f.precision, {});
    Graph_Node* key = weight ? nullptr : f.precision;
    // Precisions of their own for every term (tau * w[i], say) would make a
    // p by p sum per term: past a few sums the others are probed instead.
    if (sumOf.count(key) == 0 && b.sums.size() == maxSums) {
      b.probed.push_back(f);
      continue;
    }
    auto [at, added] = sumOf.try_emplace(key, b.sums.size());
    if (added) b.sums.push_back({key, std::vector<double>(p * p, 0.0), std::vector<double>(p, 0.0)});
    Sum& sum = b.sums[at->second];
    const double t = weight ? Graph_ValueOf(f.precision) : 1.0;
    AddFactor(t, -t * a[i], g, p, sum.gg.data(), sum.ag.data());
  }
  return true;
}

void Announce(const Block& b) {
  Write_String("Block of ");
  for (size_t k = 0; k < b.members.size(); ++k) {
    if (k > 0) Write_String(", ");
    Write_String(SymTabs_NodeText(b.numbers[k]));
  }
  Write_String(b.kind == Blocks_Kind::linear ? " drawn jointly from its normal full conditional"
                                             : " updated jointly by Metropolis-Hastings with an IRLS proposal");
  Write_Ln();
}

size_t Find(std::vector<size_t>& parent, size_t i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

Blocks_Counts& CountsOf(int32_t block) {
  std::vector<Blocks_Counts>& counts = Blocks_part->counts;
  if (counts.size() < blocks.size()) counts.resize(blocks.size());
  return counts[static_cast<size_t>(block)];
}

// The members one at a time, each by the procedure it had alone.
void Singly(const Block& b, Samplers_Sampler& s) {
  for (size_t k = 0; k < b.records.size(); ++k) {
    Samplers_Sampler& r = *b.records[k];
    Samplers_StateOf(r).error = false;
    b.single[k](r);
    if (Samplers_StateOf(r).error) {
      Samplers_StateOf(s).error = true;
      return;
    }
  }
}

}  // namespace

void Blocks_Bind(Blocks_ChainPart* part) { Blocks_part = part; }

void InitBlocks() {
  Blocks_on = false;
  blocks.clear();
  if (Blocks_part != nullptr) *Blocks_part = {};
}

void Blocks_Form() {
  blocks.clear();
  const int32_t n = Samplers_Count();
  // Candidates by their place in the sweep; those sharing a term are joined.
  std::vector<Samplers_Sampler*> candidates;
  std::vector<Blocks_Kind> kinds;
  for (int32_t i = 0; i < n; ++i) {
    Blocks_Kind kind = Blocks_Kind::linear;
    if (CandidateKind(Samplers_At(i), kind)) {
      candidates.push_back(&Samplers_At(i));
      kinds.push_back(kind);
    }
  }
  std::vector<size_t> parent(candidates.size());
  std::iota(parent.begin(), parent.end(), size_t{0});
  std::unordered_map<const Graph_Node*, size_t> firstWith;
  for (size_t c = 0; c < candidates.size(); ++c)
    for (const Graph_Node* t : candidates[c]->node->likelihood) {
      auto [at, added] = firstWith.try_emplace(t, c);
      if (!added && kinds[at->second] == kinds[c]) parent[Find(parent, c)] = Find(parent, at->second);
    }
  std::vector<std::vector<size_t>> groups(candidates.size());
  for (size_t c = 0; c < candidates.size(); ++c) groups[Find(parent, c)].push_back(c);
  // Blocks in the order of their lowest member, members in increasing number.
  const auto components = [&](const std::vector<size_t>& g) {
    size_t n = 0;
    for (size_t c : g) n += candidates[c]->node->density == Distrib_dmnorm ? static_cast<size_t>(candidates[c]->node->size) : 1;
    return n;
  };
  // A lone dmnorm block is drawn whole already: a block needs two records.
  std::vector<std::vector<size_t>> formed;
  for (std::vector<size_t>& g : groups)
    if (g.size() >= 2 && components(g) <= static_cast<size_t>(Blocks_maxMembers)) {
      std::sort(g.begin(), g.end(), [&](size_t x, size_t y) {
        return candidates[x]->node->label < candidates[y]->node->label;
      });
      formed.push_back(g);
    }
  std::sort(formed.begin(), formed.end(), [&](const std::vector<size_t>& x, const std::vector<size_t>& y) {
    return candidates[x[0]]->node->label < candidates[y[0]]->node->label;
  });
  for (const std::vector<size_t>& g : formed) {
    Block b;
    b.kind = kinds[g[0]];
    for (size_t c : g) {
      Graph_Node* node = candidates[c]->node;
      if (node->density == Distrib_dmnorm) {
        b.multi.push_back(b.members.size());
        for (int32_t i = 0; i < node->size; ++i) {
          b.members.push_back(Graph_Label(node->label + i));
          b.numbers.push_back(node->label + i);
        }
      } else {
        b.members.push_back(node);
        b.numbers.push_back(node->label);
      }
      b.records.push_back(candidates[c]);
      b.single.push_back(candidates[c]->update);
    }
    if (!Build(b)) continue;
    const auto index = static_cast<int32_t>(blocks.size());
    // The block is drawn where the sweep meets its first member.
    const size_t first = *std::min_element(g.begin(), g.end());
    for (size_t c : g) {
      candidates[c]->block = index;
      candidates[c]->update = c == first ? (b.kind == Blocks_Kind::linear ? Blocks_Linear : Blocks_Generalised)
                                         : Blocks_Member;
    }
    Announce(b);
    blocks.push_back(std::move(b));
  }
}

int32_t Blocks_Count() { return static_cast<int32_t>(blocks.size()); }

Blocks_Kind Blocks_KindOf(int32_t block) { return blocks[static_cast<size_t>(block)].kind; }

const std::vector<Graph_Node*>& Blocks_Members(int32_t block) { return blocks[static_cast<size_t>(block)].members; }

Blocks_Counts Blocks_CountsOf(int32_t block) { return CountsOf(block); }

void Blocks_Member(Samplers_Sampler&) {}

void Blocks_Linear(Samplers_Sampler& s) {
  const Block& b = blocks[static_cast<size_t>(s.block)];
  const size_t p = b.members.size();
  Scratch& w = scratch;
  w.Size(p, b.probed.size());
  double* Q = w.Q.data();
  double* h = w.h.data();
  std::fill_n(Q, p * p, 0.0);
  std::fill_n(h, p, 0.0);
  for (const Sum& sum : b.sums) {
    const double t = sum.precision != nullptr ? Graph_ValueOf(sum.precision) : 1.0;
    for (size_t i = 0; i < p * p; ++i) Q[i] += t * sum.gg[i];
    for (size_t i = 0; i < p; ++i) h[i] += t * sum.ag[i];
  }
  for (size_t start : b.multi) {
    const auto n = static_cast<size_t>(b.members[start]->size);
    if (!ConjDist_MNormalPrior(b.members[start], w.priorB, w.priorP))
      return Samplers_FailWith(s, "The prior of a multivariate normal member of the block could not be read.");
    for (size_t i = 0; i < n; ++i) {
      h[start + i] += w.priorB[i];
      for (size_t j = 0; j < n; ++j) Q[(start + i) * p + start + j] += w.priorP[i * n + j];
    }
  }
  Save(b, w.saved.data());
  if (!b.probed.empty()) {
    Probe(b, b.probed, w.a.data(), w.X.data());
    Put(b, w.saved.data());
    for (size_t i = 0; i < b.probed.size(); ++i) {
      const double t = Graph_ValueOf(b.probed[i].precision);
      AddFactor(t, -t * w.a[i], &w.X[i * p], p, Q, h);
    }
  }
  if (!AllFinite(Q, p * p) || !AllFinite(h, p) || !Solve(Q, h, p))
    return Samplers_FailWith(s, "The block's normal full conditional has a precision matrix that is not positive "
                                "definite.");
  const int n = static_cast<int>(p);
  if (!RandNum_MNormal(std::span<const double>(h, p), std::span<const double>(Q, p * p),
                       std::span<double>(w.x.data(), p), n) ||
      !AllFinite(w.x.data(), p))
    return Samplers_FailWith(s, "The block's normal full conditional gave a draw that is not finite.");
  Put(b, w.x.data());
}

void Blocks_Generalised(Samplers_Sampler& s) {
  const Block& b = blocks[static_cast<size_t>(s.block)];
  const size_t p = b.members.size();
  Scratch& w = scratch;
  w.Size(p, b.probed.size());
  Blocks_Counts& counts = CountsOf(s.block);
  for (size_t k = 0; k < p; ++k) {
    w.priorMean[k] = Graph_ValueOf(b.members[k]->parents[0]);
    w.prior[k] = Graph_ValueOf(b.members[k]->parents[1]);
  }
  double* current = w.saved.data();
  Save(b, current);
  if (!b.probed.empty()) {
    Probe(b, b.probed, w.a.data(), w.X.data());
    Put(b, current);
    for (size_t i = 0; i < b.probed.size(); ++i) {
      w.observedNow[i] = Graph_Own(b.probed[i].node);
      w.countsNow[i] = b.probed[i].count != nullptr ? Graph_ValueOf(b.probed[i].count) : 1.0;
    }
  }
  const bool walk = RandNum_Rand() < walkShare;
  if (!Proposal(b, w, current, walk, w.Q.data(), w.mean.data())) {
    ++counts.singly;
    return Singly(b, s);
  }
  ++counts.proposed;
  const int n = static_cast<int>(p);
  double* proposed = w.x.data();
  if (!RandNum_MNormal(std::span<const double>(w.mean.data(), p), std::span<const double>(w.Q.data(), p * p),
                       std::span<double>(proposed, p), n) ||
      !AllFinite(proposed, p))
    return;
  const double forward = LogProposal(w.Q.data(), w.mean.data(), proposed, p);
  if (!Proposal(b, w, proposed, walk, w.Q2.data(), w.mean2.data())) return;
  const double backward = LogProposal(w.Q2.data(), w.mean2.data(), current, p);
  const double ratio = LogPosterior(b, w, proposed) - LogPosterior(b, w, current) + backward - forward;
  if (!(ratio >= 0.0 || std::log(RandNum_Rand()) < ratio)) return;
  ++counts.accepted;
  Put(b, proposed);
}
