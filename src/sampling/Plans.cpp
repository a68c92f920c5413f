#include "sampling/Plans.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "sampling/ConjDist.h"
#include "sampling/GibbsSam.h"
#include "store/Distrib.h"

namespace {

// One likelihood term as a plan reads it; the term node itself is kept
// apart (observed, same position), as only a changing observation needs it.
struct Term {
  double y;            // the observation (its log for dlnorm) when it is fixed
  double coefficient;  // how a normal plan's mean moves with the node
  Graph_Node* other;   // a normal plan's: the term's precision; a gamma plan's: its mean
  int32_t sum;         // the mean's position among the maintained sums; -1 for none
  bool logScale;       // dlnorm
  bool live;           // the observation can change: read it each time
};

// A maintained sum a normal plan's node moves, once however many terms read it.
struct Move {
  int32_t sum;
  double coefficient;
};

// A gamma plan's run of consecutive terms with one mean and fixed
// observations: their count, mean and sum of squares about it, so that
// sum (y - mean)^2 = ss + count (ybar - mean)^2 costs one step however many
// terms share the mean, and stays exact where the observations are large
// and spread little. A changing observation is a run of its own.
struct Run {
  Graph_Node* mean;
  int32_t sum;  // the mean's position among the maintained sums; -1 for none
  bool live;
  double count, ybar, ss;
  size_t term;  // a live run's term
};

// A block whose likelihood terms are all multivariate normal with fixed
// observations: with the block as their mean and one precision (mnormal), or
// with the block as their precision and one mean (wishart). What it needs
// of the observations is made when an update command starts.
struct Block {
  bool ofMean;                     // mnormal: the block is the terms' mean; else their precision
  Graph_Node* shared;              // the precision (mnormal) or the mean (wishart) every term has
  std::vector<Graph_Node*> heads;  // each term's observation block
  int32_t order;                   // components of an observation
  bool fixed;                      // every observation is data
  double count;
  // mnormal: the sum of the observations; wishart: their mean, then the
  // sum of the outer products of their deviations from it, row-major.
  std::vector<double> stats;
};

enum class Kind { normal, gamma, mnormal, wishart };

struct Plan {
  Kind kind;
  Graph_Node* node;
  Graph_Node* precision;  // a normal plan's: the precision every term shares, or null
  size_t firstTerm, endTerm, firstMove, endMove;
  size_t firstRun, endRun;  // a gamma plan's, made when an update command starts
  // A normal plan whose terms share their precision, have fixed
  // observations and the node itself as their mean needs only two sums,
  // made when an update command starts: of c y and of c^2 (c = 1).
  bool fixed;
  double cy, cc;
  size_t block;  // a block plan's
};

std::vector<Term> terms;
std::vector<Graph_Node*> observed;
std::vector<Move> moves;
std::vector<Run> runs;
std::vector<Plan> plans;
std::vector<Block> blocks;
std::vector<Graph_Node*> maintained;  // by position among the sums
bool active = false;  // an update command runs: set and cleared by the main thread alone

inline double Observation(size_t k) {
  const double v = Graph_Own(observed[k]);
  return terms[k].logScale ? std::log(v) : v;
}

inline double ObservationNow(size_t k) { return terms[k].live ? Observation(k) : terms[k].y; }

inline bool NormalTerm(const Graph_Node* term) {
  return term->density == Distrib_dnorm || term->density == Distrib_dlnorm;
}

bool IsNormalUpdate(Samplers_Proc p) {
  return p == GibbsSam_Normal || p == GibbsSam_LNormal || p == GibbsSam_UNormal || p == GibbsSam_TNormal;
}

bool IsGammaUpdate(Samplers_Proc p) {
  return p == GibbsSam_Gamma || p == GibbsSam_LGamma || p == GibbsSam_UGamma || p == GibbsSam_TGamma;
}

struct Candidate {
  Samplers_Sampler* sampler;
  std::vector<Term> terms;
  std::vector<Graph_Node*> observed;
  std::vector<Graph_Node*> means;  // a normal plan's: each term's mean form, or null
  std::vector<Graph_Node*> forms;  // the linear forms its node moves, each once
  std::vector<double> coefficients;
  bool dropped = false;

  void Add(Graph_Node* term, Graph_Node* other, Graph_Node* form, double coefficient) {
    terms.push_back({0.0, coefficient, other, -1, term->density == Distrib_dlnorm, true});
    observed.push_back(term);
    means.push_back(form);
  }
};

// The terms of a node with a normal full conditional, or false when one of
// them is not a normal term whose mean is the node or a linear form that
// holds it once with a fixed coefficient.
bool NormalCandidate(Candidate& c, std::unordered_set<const Graph_Node*>& seen) {
  Graph_Node* x = c.sampler->node;
  seen.clear();
  for (Graph_Node* term : x->likelihood) {
    if (!NormalTerm(term) || term->parents.size() < 2) return false;
    Graph_Node* mean = term->parents[0];
    if (mean == x) {
      c.Add(term, term->parents[1], nullptr, 1.0);
      continue;
    }
    double coefficient = 0.0;
    if (!Determ_IsLinearForm(mean) || !Determ_LinearCoefficient(mean, x, coefficient)) return false;
    c.Add(term, term->parents[1], mean, coefficient);
    if (seen.insert(mean).second) {
      c.forms.push_back(mean);
      c.coefficients.push_back(coefficient);
    }
  }
  return true;
}

// The terms of a node with a gamma full conditional, or false when one of
// them is not a normal term with the node itself as its precision.
bool GammaCandidate(Candidate& c) {
  Graph_Node* x = c.sampler->node;
  for (Graph_Node* term : x->likelihood) {
    if (!NormalTerm(term) || term->parents.size() < 2 || term->parents[1] != x) return false;
    c.Add(term, term->parents[0], nullptr, 1.0);
  }
  return true;
}

// A parameter whose components lie at fixed numbers: not a pick.
bool Fixed(const Graph_Node* parent) {
  return parent != nullptr && (parent->stack.empty() || parent->stack[0] != Determ_pick);
}

// The block plan of a multivariate normal block updated from its terms'
// sum (the block is their mean) or of a Wishart block (their precision), or
// false when a term does not fit: each must be dmnorm of the right order
// with the block in the right place and a fixed parameter shared by all.
bool BlockCandidate(Samplers_Sampler& s, Block& b) {
  Graph_Node* x = s.node;
  b.ofMean = s.update == GibbsSam_MNormal2;
  if (!b.ofMean && s.update != static_cast<Samplers_Proc>(GibbsSam_Wishart)) return false;
  b.order = b.ofMean ? x->size : ConjDist_WishartOrder(x);
  if (b.order < 1 || b.order > ConjDist_maxOrder) return false;
  const size_t own = b.ofMean ? 0 : 1;
  b.shared = nullptr;
  for (Graph_Node* term : x->likelihood) {
    if (term->density != Distrib_dmnorm || term->size != b.order || term->parents.size() < 2) return false;
    Graph_Node* other = term->parents[1 - own];
    if (term->parents[own] != x || !Fixed(other) || (b.shared != nullptr && other != b.shared)) return false;
    b.shared = other;
    b.heads.push_back(term);
  }
  return !b.heads.empty();
}

// Whether every component of every observation is data; if so, the
// statistics a block plan needs.
void MakeStats(Block& b) {
  const auto n = static_cast<size_t>(b.order);
  b.fixed = true;
  b.count = static_cast<double>(b.heads.size());
  b.stats.assign(n + n * n, 0.0);
  for (Graph_Node* head : b.heads)
    for (size_t j = 0; j < n && b.fixed; ++j) b.fixed = Graph_Label(head->label + static_cast<int32_t>(j))->kind == Graph_data;
  if (!b.fixed) return;
  for (Graph_Node* head : b.heads)
    for (size_t j = 0; j < n; ++j) b.stats[j] += Graph_Own(Graph_Label(head->label + static_cast<int32_t>(j)));
  if (b.ofMean) return;  // the sum is all a mean plan needs
  for (size_t j = 0; j < n; ++j) b.stats[j] /= b.count;
  double* scatter = b.stats.data() + n;
  for (Graph_Node* head : b.heads)
    for (size_t i = 0; i < n; ++i) {
      const double ei = Graph_Own(Graph_Label(head->label + static_cast<int32_t>(i))) - b.stats[i];
      for (size_t j = 0; j < n; ++j)
        scatter[i * n + j] += ei * (Graph_Own(Graph_Label(head->label + static_cast<int32_t>(j))) - b.stats[j]);
    }
}

// The precision all of a normal plan's terms share, or null.
Graph_Node* SharedPrecision(const std::vector<Term>& ts) {
  if (ts.empty()) return nullptr;
  for (const Term& t : ts)
    if (t.other != ts.front().other) return nullptr;
  return ts.front().other;
}

}  // namespace

void InitPlans() {
  terms.clear();
  observed.clear();
  moves.clear();
  runs.clear();
  plans.clear();
  blocks.clear();
  maintained.clear();
  active = false;
  if (Plans_part != nullptr) *Plans_part = {};
}

void Plans_Build() {
  InitPlans();
  std::vector<Candidate> candidates;
  std::unordered_set<const Graph_Node*> seen;
  for (int32_t i = 0; i < Samplers_Count(); ++i) {
    Samplers_Sampler& s = Samplers_At(i);
    s.plan = -1;
    if (s.node == nullptr) continue;
    Block b{};
    if (BlockCandidate(s, b)) {
      s.plan = static_cast<int32_t>(plans.size());
      plans.push_back({b.ofMean ? Kind::mnormal : Kind::wishart, s.node, nullptr, 0, 0, 0, 0, 0,
                       0, false, 0.0, 0.0, blocks.size()});
      blocks.push_back(std::move(b));
      continue;
    }
    Candidate c{&s, {}, {}, {}, {}, {}};
    const bool fits = IsNormalUpdate(s.update) ? NormalCandidate(c, seen) : IsGammaUpdate(s.update) && GammaCandidate(c);
    if (fits) candidates.push_back(std::move(c));
  }

  // A form may be maintained only when every unknown in it is the node of a
  // normal plan. Dropping a candidate that holds a form which fails this
  // makes every other form it holds fail too; follow that to the end.
  std::unordered_map<const Graph_Node*, std::vector<size_t>> holders;
  std::vector<Graph_Node*> forms;  // each once, in the order first met
  for (size_t k = 0; k < candidates.size(); ++k)
    for (Graph_Node* f : candidates[k].forms) {
      std::vector<size_t>& h = holders[f];
      if (h.empty()) forms.push_back(f);
      h.push_back(k);
    }
  std::unordered_map<const Graph_Node*, int32_t> live;  // holders not yet dropped
  std::vector<Graph_Node*> failing;
  for (Graph_Node* f : forms) {
    live[f] = static_cast<int32_t>(holders[f].size());
    if (live[f] != Determ_LinearUnknowns(f)) failing.push_back(f);
  }
  while (!failing.empty()) {
    Graph_Node* f = failing.back();
    failing.pop_back();
    for (size_t k : holders[f]) {
      Candidate& c = candidates[k];
      if (c.dropped) continue;
      c.dropped = true;
      for (Graph_Node* g : c.forms)
        if (live[g]-- == Determ_LinearUnknowns(g)) failing.push_back(g);
    }
  }
  std::unordered_map<const Graph_Node*, int32_t> position;
  for (Graph_Node* f : forms)
    if (live[f] == Determ_LinearUnknowns(f)) {
      position[f] = static_cast<int32_t>(maintained.size());
      maintained.push_back(f);
    }
  auto SumOf = [&position](const Graph_Node* f) {
    const auto it = f == nullptr ? position.end() : position.find(f);
    return it == position.end() ? -1 : it->second;
  };

  for (Candidate& c : candidates) {
    if (c.dropped) continue;
    const bool normal = IsNormalUpdate(c.sampler->update);
    c.sampler->plan = static_cast<int32_t>(plans.size());
    plans.push_back({normal ? Kind::normal : Kind::gamma, c.sampler->node, normal ? SharedPrecision(c.terms) : nullptr,
                     terms.size(), terms.size() + c.terms.size(), moves.size(), moves.size() + c.forms.size(), 0, 0,
                     false, 0.0, 0.0, 0});
    // A gamma plan reads a maintained mean straight from the sums.
    for (size_t k = 0; k < c.terms.size(); ++k) c.terms[k].sum = SumOf(normal ? c.means[k] : c.terms[k].other);
    terms.insert(terms.end(), c.terms.begin(), c.terms.end());
    observed.insert(observed.end(), c.observed.begin(), c.observed.end());
    for (size_t k = 0; k < c.forms.size(); ++k) moves.push_back({SumOf(c.forms[k]), c.coefficients[k]});
  }
}

namespace {

void MakeRuns(Plan& p) {
  p.firstRun = runs.size();
  for (size_t k = p.firstTerm; k < p.endTerm;) {
    const Term& t = terms[k];
    size_t end = k + 1;
    if (!t.live)
      while (end < p.endTerm && !terms[end].live && terms[end].other == t.other) ++end;
    Run r{t.other, t.sum, t.live, static_cast<double>(end - k), 0.0, 0.0, k};
    if (!t.live) {
      for (size_t j = k; j < end; ++j) r.ybar += terms[j].y;
      r.ybar /= r.count;
      for (size_t j = k; j < end; ++j) r.ss += (terms[j].y - r.ybar) * (terms[j].y - r.ybar);
    }
    runs.push_back(r);
    k = end;
  }
  p.endRun = runs.size();
}

}  // namespace

thread_local constinit Plans_ChainPart* Plans_part = nullptr;

void Plans_Bind(Plans_ChainPart* part) { Plans_part = part; }

void Plans_Begin() {
  active = !plans.empty();
  if (!active) return;
  for (size_t k = 0; k < terms.size(); ++k) {
    terms[k].live = observed[k]->kind != Graph_data;
    if (!terms[k].live) terms[k].y = Observation(k);
  }
  runs.clear();
  for (Block& b : blocks) MakeStats(b);
  for (Plan& p : plans) {
    if (p.kind == Kind::gamma) MakeRuns(p);
    p.fixed = p.kind == Kind::normal && p.precision != nullptr && p.firstMove == p.endMove;
    p.cy = p.cc = 0.0;
    for (size_t k = p.firstTerm; k < p.endTerm && p.fixed; ++k) {
      p.fixed = !terms[k].live;
      p.cy += terms[k].y;
      p.cc += 1.0;
    }
  }
  Determ_Maintain(maintained);
}

void Plans_BeginChain() {
  Plans_part->sweeps = 0;
  if (active) Determ_Resum(maintained);
}

void Plans_SweepDone() {
  if (active && ++Plans_part->sweeps % Plans_resumEvery == 0) Determ_Resum(maintained);
}

void Plans_EndChain() {
  if (active) Determ_Unmaintain(maintained);
}

void Plans_End() {
  if (!active) return;
  Determ_Release(maintained);
  active = false;
}

bool Plans_Normal(const Samplers_Sampler& s, double& mean, double& precision) {
  if (!active || s.plan < 0) return false;
  const Plan& p = plans[static_cast<size_t>(s.plan)];
  double m = 0.0;
  ConjDist_NormalPrior(p.node, m, precision);
  // Each term adds c^2 tau to the precision and c tau (y - rest) to the
  // weighted mean, rest being the mean without the node's own share.
  if (p.fixed) {
    const double tau = Graph_ValueOf(p.precision);
    precision += p.cc * tau;
    m += p.cy * tau;
  } else {
    const double x = Graph_Own(p.node);
    const double* sums = Determ_part->sums.data();
    const bool shared = p.precision != nullptr;
    double cc = 0.0, cr = 0.0;
    for (size_t k = p.firstTerm; k < p.endTerm; ++k) {
      const Term& t = terms[k];
      const double c = t.coefficient;
      const double rest = t.sum < 0 ? 0.0 : sums[t.sum] - c * x;
      const double tau = shared ? 1.0 : Graph_ValueOf(t.other);
      cc += c * c * tau;
      cr += c * tau * (ObservationNow(k) - rest);
    }
    const double tau = shared ? Graph_ValueOf(p.precision) : 1.0;
    precision += cc * tau;
    m += cr * tau;
  }
  mean = precision > 0.0 && std::isfinite(precision) ? m / precision : std::numeric_limits<double>::quiet_NaN();
  return true;
}

void Plans_NormalMoved(const Samplers_Sampler& s, double from, double to) {
  if (!active || s.plan < 0) return;
  const Plan& p = plans[static_cast<size_t>(s.plan)];
  const double change = to - from;
  if (change == 0.0) return;
  double* sums = Determ_part->sums.data();
  for (size_t k = p.firstMove; k < p.endMove; ++k) sums[moves[k].sum] += moves[k].coefficient * change;
}

bool Plans_Gamma(const Samplers_Sampler& s, double& shape, double& rate) {
  if (!active || s.plan < 0) return false;
  const Plan& p = plans[static_cast<size_t>(s.plan)];
  ConjDist_GammaPrior(p.node, shape, rate);
  const double* sums = Determ_part->sums.data();
  double squares = 0.0;
  for (size_t k = p.firstRun; k < p.endRun; ++k) {
    const Run& r = runs[k];
    const double mean = r.sum < 0 ? Graph_ValueOf(r.mean) : sums[r.sum];
    const double e = (r.live ? Observation(r.term) : r.ybar) - mean;
    squares += r.ss + r.count * e * e;
  }
  rate += 0.5 * squares;
  shape += 0.5 * static_cast<double>(p.endTerm - p.firstTerm);
  return true;
}

// The block plan of the record when an update command runs and its
// observations are all data; else null.
const Block* BlockOf(const Samplers_Sampler& s, Kind kind) {
  if (!active || s.plan < 0) return nullptr;
  const Plan& p = plans[static_cast<size_t>(s.plan)];
  if (p.kind != kind) return nullptr;
  const Block& b = blocks[p.block];
  return b.fixed ? &b : nullptr;
}

using Square = std::array<double, ConjDist_maxOrder * ConjDist_maxOrder>;
using Column = std::array<double, ConjDist_maxOrder>;

void GatherFrom(const Graph_Node* first, size_t count, Square& out) {
  for (size_t i = 0; i < count; ++i) out[i] = Graph_ValueOf(Graph_Label(first->label + static_cast<int32_t>(i)));
}

bool Plans_MNormal(const Samplers_Sampler& s, std::span<double> mu, std::span<double> U) {
  const Block* b = BlockOf(s, Kind::mnormal);
  if (b == nullptr) return false;
  const auto n = static_cast<size_t>(b->order);
  Column w;
  Square P, T;
  if (!ConjDist_MNormalPrior(s.node, w, P)) return false;
  // Each term adds its precision T to P and T y to the weighted mean.
  GatherFrom(b->shared, n * n, T);
  for (size_t i = 0; i < n; ++i) {
    double t = 0.0;
    for (size_t j = 0; j < n; ++j) {
      P[i * n + j] += b->count * T[i * n + j];
      t += T[i * n + j] * b->stats[j];
    }
    w[i] += t;
  }
  return ConjDist_MNormalPosterior(w, P, b->order, mu, U);
}

bool Plans_Wishart(const Samplers_Sampler& s, double& k, std::span<double> R) {
  const Block* b = BlockOf(s, Kind::wishart);
  if (b == nullptr) return false;
  const auto n = static_cast<size_t>(b->order);
  double degrees = 0.0;
  Square S, m;
  if (!ConjDist_WishartPrior(s.node, degrees, S)) return false;
  // The sum of (y - m)(y - m)' is the scatter about the observations' mean
  // plus count times the outer product of that mean's distance from m.
  GatherFrom(b->shared, n, m);
  const double* scatter = b->stats.data() + n;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      S[i * n + j] += scatter[i * n + j] + b->count * (b->stats[i] - m[i]) * (b->stats[j] - m[j]);
  if (!ConjDist_WishartScale(S, b->order, R)) return false;
  k = degrees + b->count;
  return true;
}

// Seams for the tests, which declare them for themselves.
int32_t Plans_Count() { return static_cast<int32_t>(plans.size()); }

int32_t Plans_MaintainedForms() { return static_cast<int32_t>(maintained.size()); }
