#include "sampling/Samplers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "Hooks.h"
#include "HandGraph.h"
#include "Methods.h"
#include "Stats.h"
#include "base/CtrlC.h"
#include "numerics/RandNum.h"
#include "sampling/DFreeARS.h"
#include "sampling/GibbsSam.h"
#include "sampling/Griddy.h"
#include "sampling/Maximize.h"
#include "store/Distrib.h"

namespace {

// Which records ran, in order: each procedure appends its node's value.
std::vector<double> ran;
double failAt = -1.0;
void Record(Samplers_Sampler& s) {
  ran.push_back(Graph_Own(s.node));
  if (Graph_Own(s.node) == failAt) Samplers_Fail(s, "The draw could not be made.");
}

class SamplersTest : public test::HandGraph {
 protected:
  void SetUp() override { HandGraph::SetUp(), InitCtrlC(); }
  void TearDown() override { InitCtrlC(), HandGraph::TearDown(); }
  // n records whose nodes hold 1 .. n in registration order.
  static void Register(int n) {
    InitSamplers();
    ran.clear();
    for (int i = 1; i <= n; ++i) {
      Samplers_Sampler& s = Samplers_Add();
      s.node = Node(i);
      s.update = Record;
    }
  }
};

// Records run in reverse order. A failure (reported once) or an interrupt ends the
// sweep after the current record; the next call resumes there or starts a new sweep.
TEST_F(SamplersTest, SweepsRunResumeAndStop) {
  const struct { int records; double failAt; bool interrupt; std::vector<double> first, second;
                 bool error, aborted, midSweep; } cases[] = {
      {3, -1, false, {3, 2, 1}, {3, 2, 1}, false, false, false},
      {3, 2, false, {3, 2}, {1}, true, false, true},
      {3, -1, true, {3}, {2}, false, true, true},
      {2, -1, true, {2}, {1}, false, true, true},
      {1, -1, true, {1}, {1}, false, true, false},
      {0, -1, false, {}, {}, false, false, false},
  };
  for (const auto& c : cases) {
    const std::string what = std::to_string(c.records) + " records, fail at " + std::to_string(c.failAt) +
                             (c.interrupt ? ", interrupted" : "");
    Register(c.records);
    failAt = c.failAt;
    InitCtrlC();
    if (c.interrupt) CtrlC_Request();
    bool aborted = !c.aborted, error = !c.error;
    Samplers_Update(aborted, error, CtrlC_Abort);
    EXPECT_EQ(ran, c.first) << what;
    EXPECT_EQ(error, c.error) << what;
    EXPECT_EQ(aborted, c.aborted) << what;
    EXPECT_EQ(Samplers_MidSweep(), c.midSweep) << what;
    const size_t seen = Console().size();
    Samplers_ReportFailure();
    Samplers_ReportFailure();
    const std::string report = Console().substr(seen);
    EXPECT_EQ(report.find(c.error ? " -- error  -- \nThe draw could not be made.\n" : "error") != std::string::npos, c.error)
        << what << report;
    EXPECT_EQ(report.find("The draw"), report.rfind("The draw")) << what;
    ran.clear(), failAt = -1.0;
    CtrlC_Arm();  // a new update forgets the old request
    if (c.interrupt) CtrlC_Request();
    Samplers_Update(aborted, error, CtrlC_Abort);
    EXPECT_EQ(ran, c.second) << what;
    EXPECT_FALSE(error) << what;
  }
}

struct Exact { double mean, var; };  // NaN: not checked
constexpr double nan = NAN, inf = INFINITY;

// Moments of a density on [lo, hi] known by its logarithm, by Simpson's rule.
Exact Quad(const std::function<double(double)>& logf, double lo, double hi, int n = 4000) {
  const double h = (hi - lo) / n;
  double top = -inf, m0 = 0.0, m1 = 0.0, m2 = 0.0;
  for (int i = 0; i <= n; ++i) top = std::max(top, logf(lo + i * h));
  for (int i = 0; i <= n; ++i) {
    const double x = lo + i * h, w = (i == 0 || i == n ? 1.0 : i % 2 == 1 ? 4.0 : 2.0) * std::exp(logf(x) - top);
    m0 += w, m1 += w * x, m2 += w * x * x;
  }
  return {m1 / m0, m2 / m0 - (m1 / m0) * (m1 / m0)};
}

// Marginal moments of a density of two on [lo, hi]^2, on a grid.
std::vector<Exact> Grid2(const std::function<double(double, double)>& logf, double lo, double hi, int n) {
  const double h = (hi - lo) / n;
  std::vector<double> l;
  double top = -inf, m[5] = {};
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) top = std::max(top, l.emplace_back(logf(lo + i * h, lo + j * h)));
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      const double a = lo + i * h, b = lo + j * h, w = std::exp(l[static_cast<size_t>(i * (n + 1) + j)] - top);
      m[0] += w, m[1] += w * a, m[2] += w * b, m[3] += w * a * a, m[4] += w * b * b;
    }
  const double ma = m[1] / m[0], mb = m[2] / m[0];
  return {{ma, m[3] / m[0] - ma * ma}, {mb, m[4] / m[0] - mb * mb}};
}

// Marginal moments of the normal with precision Q and Q times the mean h, by Gauss-Jordan elimination.
std::vector<Exact> Gaussian(std::vector<std::vector<double>> Q, std::vector<double> h, double tau = 0.0,
                            const std::vector<std::vector<double>>& g = {}, const std::vector<double>& y = {}) {
  const size_t k = h.size();
  for (size_t i = 0; i < y.size(); ++i)  // terms of precision tau, covariates g[i], observations y[i]
    for (size_t a = 0; a < k; ++a) {
      h[a] += tau * g[i][a] * y[i];
      for (size_t b = 0; b < k; ++b) Q[a][b] += tau * g[i][a] * g[i][b];
    }
  for (size_t i = 0; i < k; ++i) {
    Q[i].push_back(h[i]);
    for (size_t j = 0; j < k; ++j) Q[i].push_back(i == j ? 1.0 : 0.0);
  }
  for (size_t p = 0; p < k; ++p)
    for (size_t i = 0; i < k; ++i) {
      if (i == p) continue;
      const double f = Q[i][p] / Q[p][p];
      for (size_t j = 0; j < 2 * k + 1; ++j) Q[i][j] -= f * Q[p][j];
    }
  std::vector<Exact> e;
  for (size_t i = 0; i < k; ++i) e.push_back({Q[i][k] / Q[i][i], Q[i][k + 1 + i] / Q[i][i]});
  return e;
}

// ln P(r | eta) of a logistic observation.
double Logistic(double r, double eta) { return r > 0.5 ? -std::log1p(std::exp(-eta)) : -std::log1p(std::exp(eta)); }
std::string List(const std::vector<std::pair<std::string, std::vector<double>>>& vars) {
  std::string s = "list(";
  for (size_t k = 0; k < vars.size(); ++k) {
    s += (k > 0 ? ", " : "") + vars[k].first + " = c(";
    for (size_t i = 0; i < vars[k].second.size(); ++i) s += (i > 0 ? ", " : "") + std::to_string(vars[k].second[i]);
    s += ")";
  }
  return s + ")";
}
// Logistic observations on two covariates, with both responses at every level: no coefficient runs off.
const std::vector<double> z = {-1.9, -1.7, -1.5, -1.3, -1.1, -0.9, -0.7, -0.5, -0.3, -0.1,
                               0.1,  0.3,  0.5,  0.7,  0.9,  1.1,  1.3,  1.5,  1.7,  1.9};
const std::vector<double> w = {0.8, -0.9, 0.1, 0.7, -1.0, 0.3, 0.6, -0.8, 0.4, -0.5,
                               -0.9, 0.0, 0.9, -0.7, -0.2, 0.8, -0.6, -0.3, 0.9, -0.5};
const std::vector<double> r = {0, 0, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 1, 1, 0, 1, 1, 1, 0, 1};
double LogisticLik(double a, double b, double c) {
  double s = 0.0;
  for (size_t i = 0; i < z.size(); ++i) s += Logistic(r[i], a + b * z[i] + c * w[i]);
  return s;
}

// A log density set by a row in place of a node's own.
std::function<double(double)> custom;
double Custom(Graph_Node* node) { return custom(Graph_Own(node)); }

// n updates of the nodes in `updated` (default: the first target), or with update
// null of the first target's block; every draw lies in [lo, hi] with exact moments.
struct Target { const char* node; int at; Exact exact; };
struct Row {
  std::string what, model, data, inits;
  Samplers_Proc update;
  std::vector<Target> targets;
  double lo = -inf, hi = inf;
  int n = 4000;
  std::vector<const char*> updated = {};
  std::function<double(double)> density = nullptr;  // the first target's own, replaced
  int bins = 20;
  double minAccept = 0.0;  // of a generalised block's proposals
  bool hiddenChiSquare = false;  // a gamma update of the dt prior's hidden precision runs first
};

class SamplerRows : public test::Methods {
 protected:
  void SetUp() override { Methods::SetUp(), InitDFreeARS(); }
  void TearDown() override { InitGriddy(20), Methods::TearDown(); }
  static Samplers_Sampler& BlockRecord(const Graph_Node* member) {
    for (int32_t i = 0; i < Samplers_Count(); ++i) {
      Samplers_Sampler& s = Samplers_At(i);
      if (s.block == RecordOf(member).block && s.update != Blocks_Member) return s;
    }
    ADD_FAILURE() << "no block record";
    return Samplers_At(0);
  }
  // n updates of the node by the procedure, none of which may fail.
  std::vector<double> Run(Samplers_Proc update, const std::string& name, int n) {
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(name);
    std::vector<double> draws;
    for (int i = 0; i < n && !Samplers_StateOf(s).error; ++i) {
      update(s);
      draws.push_back(Graph_Own(N(name)));
    }
    EXPECT_FALSE(Samplers_StateOf(s).error) << name << Console();
    return draws;
  }
  void Check(const Row& r) {
    SCOPED_TRACE(r.what);
    InitPlans(), InitBlocks(), InitSamplers(), InitGriddy(r.bins);
    std::vector<Samplers_Sampler*> run;
    const auto add = [&run](Graph_Node* node, Samplers_Proc update) {
      run.push_back(&Samplers_Add());
      run.back()->node = node, run.back()->update = update;
    };
    Graph_Node* first = nullptr;
    if (r.update == nullptr) {
      Compile(r.model, r.data, r.inits, true);
      if (HasFatalFailure()) return;
      first = N(r.targets[0].node, r.targets[0].at);
      run.push_back(&BlockRecord(first));
    } else {
      ASSERT_TRUE(Build(r.model, r.data, r.inits)) << Console();
      Determ_OptDeterm();
      first = N(r.targets[0].node, r.targets[0].at);
      if (r.density) first->logDensity = Custom, custom = r.density;
      for (int32_t k = 0; r.hiddenChiSquare && k < Graph_totalNumNodes; ++k)
        if (Graph_Node* n = Graph_Label(k); n != nullptr && n->density == Distrib_dchisq) add(n, GibbsSam_Gamma);
      for (const char* name : r.updated) add(N(name), r.update);
      if (r.updated.empty()) add(first, r.update);
    }
    std::vector<std::vector<double>> draws(r.targets.size());
    // The rejection procedures leave no node active; none leaves the fast path on.
    const bool ars = r.update == DFreeARS_FullArs || r.update == DFreeARS_LTruncArs || r.update == DFreeARS_RTruncArs ||
                     r.update == DFreeARS_TruncArs;
    int stray = 0;
    for (int i = 0; i < r.n; ++i) {
      for (Samplers_Sampler* s : run) {
        s->update(*s);
        ASSERT_FALSE(Samplers_StateOf(*s).error) << Samplers_part->failure;
      }
      stray += Determ_fastLinear || (ars && Determ_activeNode != nullptr);
      for (size_t t = 0; t < r.targets.size(); ++t) draws[t].push_back(Graph_Own(N(r.targets[t].node, r.targets[t].at)));
    }
    EXPECT_EQ(stray, 0) << "updates that left the fast path on or a node active";
    for (size_t t = 0; t < r.targets.size(); ++t) {
      const Target& g = r.targets[t];
      const std::string what = std::string(g.node) + "[" + std::to_string(g.at) + "]";
      const auto [min, max] = std::minmax_element(draws[t].begin(), draws[t].end());
      EXPECT_GE(*min, r.lo) << what;
      EXPECT_LE(*max, r.hi) << what;
      const test::Moments m = test::BatchMoments(draws[t]);
      if (!std::isnan(g.exact.mean)) {
        EXPECT_NEAR(m.mean, g.exact.mean, 4.0 * m.seMean) << what << " mean";
      }
      if (!std::isnan(g.exact.var)) {
        EXPECT_NEAR(m.variance, g.exact.var, 4.0 * m.seVariance) << what << " variance";
      }
    }
    if (r.minAccept > 0.0) {
      const Blocks_Counts counts = Blocks_CountsOf(0);
      EXPECT_EQ(counts.proposed, r.n);
      EXPECT_GT(static_cast<double>(counts.accepted) / counts.proposed, r.minAccept);
    }
  }
};

TEST_F(SamplerRows, RejectionAndGriddyDrawsFollowTheirFullConditionals) {
  // Three coefficients: the linear predictor has five parents and takes the fast path.
  const std::string logit3 =
      "var a, b, c, p[20], r[20], z[20], w[20];\n{ a ~ dnorm(0, 0.1) b ~ dnorm(0, 0.1) c ~ dnorm(0, 0.1)\n"
      "  for (i in 1:20) { logit(p[i]) <- a + b * z[i] + c * w[i] r[i] ~ dbern(p[i]) } }";
  const std::string logitData = List({{"r", r}, {"z", z}, {"w", w}});
  const std::vector<double> y = {1, 0, 2, 4, 3, 7, 5, 9}, t = {-1.5, -1.0, -0.5, 0.0, 0.5, 1.0, 1.5, 2.0};
  const std::string poisson =
      "var a, b, m[8], y[8], t[8], x, e, n[8];\n"
      "{ a ~ dnorm(0, 1) b ~ dnorm(0, 1) for (i in 1:8) { log(m[i]) <- a + b * t[i] y[i] ~ dpois(m[i]) }\n"
      "  x ~ dnorm(0.5, 4) e <- exp(x) for (i in 1:8) { n[i] ~ dpois(e) } }";
  // Standard normal priors with one logistic likelihood, truncated.
  const auto cond = [](double x) { return -0.5 * x * x + LogisticLik(0.0, x, 0.0); };
  const auto truncated = [&](const char* bounds, const char* start, Samplers_Proc update, double lo, double hi) {
    return Row{bounds, "var x, p[20], r[20], z[20]; { x ~ dnorm(0, 1) " + std::string(bounds) +
                   " for (i in 1:20) { logit(p[i]) <- x * z[i] r[i] ~ dbern(p[i]) } }",
               List({{"r", r}, {"z", z}}), std::string("list(x = ") + start + ")", update,
               {{"x", 0, Quad(cond, lo, hi)}}, lo, hi, 3000};
  };
  const auto joint = Grid2([](double a, double b) { return -0.05 * (a * a + b * b) + LogisticLik(a, b, -0.4); }, -8, 8, 300);
  const std::string priors =
      "var p, q[20], r[20], z[20], g, e, y[4], u, v[20], r2[20];\n"
      "{ p ~ dbeta(2, 3) for (i in 1:20) { logit(q[i]) <- p * z[i] r[i] ~ dbern(q[i]) }\n"
      "  g ~ dgamma(2, 1) e <- exp(g) for (i in 1:4) { y[i] ~ dpois(e) }\n"
      "  u ~ dunif(-1, 2) for (i in 1:20) { logit(v[i]) <- u * z[i] r2[i] ~ dbern(v[i]) } }";
  const std::string priorsData = List({{"r", r}, {"z", z}, {"y", {1, 2, 0, 3}}, {"r2", r}});
  const char* priorsInits = "list(p = 0.5, g = 1, u = 0)";
  const std::string logLink = "m <- log(x) y ~ dnorm(m, 1) }";
  const Row rows[] = {
      {"standard normal", "var x; { x ~ dnorm(0, 1) }", "", "list(x = 0.3)", DFreeARS_FullArs, {{"x", 0, {0, 1}}},
       -inf, inf, 20000},
      {"a and b in turn, c held", logit3, logitData, "list(a = 0.3, b = 0.5, c = -0.4)", DFreeARS_FullArs,
       {{"a", 0, joint[0]}, {"b", 0, joint[1]}}, -inf, inf, 6000, {"a", "b"}},
      // A normal prior on a log-rate: the node's own term is formed inline.
      {"normal prior, Poisson rate", poisson, List({{"y", y}, {"t", t}, {"n", y}}), "list(a = 0.8, b = 0)",
       DFreeARS_FullArs,
       {{"x", 0, Quad([](double x) { return -2.0 * (x - 0.5) * (x - 0.5) + 31.0 * x - 8.0 * std::exp(x); }, -6, 6)}}},
      // Above 2.5 the full conditional falls from the bound.
      truncated("I(0.5, )", "1", DFreeARS_LTruncArs, 0.5, 12),
      truncated("I(2.5, )", "3", DFreeARS_LTruncArs, 2.5, 14),
      truncated("I(, -0.2)", "-1", DFreeARS_RTruncArs, -12, -0.2),
      truncated("I(-0.5, 0.7)", "0", DFreeARS_TruncArs, -0.5, 0.7),
      truncated("I(1.5, 1.52)", "1.51", DFreeARS_TruncArs, 1.5, 1.52),
      // Priors with supports of their own: no bound parents.
      {"beta prior", priors, priorsData, priorsInits, DFreeARS_TruncArs,
       {{"p", 0, Quad([](double p) { return std::log(p) + 2.0 * std::log1p(-p) + LogisticLik(0.0, p, 0.0); }, 0, 1)}},
       0, 1},
      {"gamma prior under a rate e^g", priors, priorsData, priorsInits, DFreeARS_LTruncArs,
       {{"g", 0, Quad([](double g) { return std::log(g) + 5.0 * g - 4.0 * std::exp(g); }, 0, 8)}}, 0, inf},
      // A uniform prior, even under the whole-line procedure, keeps to its limits.
      {"uniform prior", priors, priorsData, priorsInits, DFreeARS_FullArs,
       {{"u", 0, Quad([](double u) { return LogisticLik(0.0, u, 0.0); }, -1, 2)}}, -1, 2},
      // b ~ dt(0, 1, 5) is a normal whose precision is a hidden chi-square(5) node over 5.
      {"t prior", "var b, p[3], r[3], z[3]; { b ~ dt(0, 1, 5) for (i in 1:3) { logit(p[i]) <- b * z[i] r[i] ~ dbern(p[i]) } }",
       "list(r = c(1, 1, 0), z = c(1, 0.5, -0.5))", "list(b = 0)", DFreeARS_FullArs,
       {{"b", 0, Quad([](double b) {
           return -3.0 * std::log1p(b * b / 5.0) + Logistic(1, b) + Logistic(1, 0.5 * b) + Logistic(0, -0.5 * b);
         }, -300, 300, 60000)}}, -inf, inf, 20000, {}, nullptr, 20, 0.0, true},
      {"flat", "var u; { u ~ dunif(0, 1) }", "", "list(u = 0.3)", DFreeARS_TruncArs, {{"u", 0, {0.5, 1.0 / 12}}}, 0, 1},
      // Density only on (0.9, 0.95), not a number elsewhere: the support closes in.
      {"support narrower than the bounds", "var v; { v ~ dbeta(1, 1) }", "", "list(v = 0.92)", DFreeARS_TruncArs,
       {{"v", 0, {0.925, 0.05 * 0.05 / 12}}}, 0.9, 0.95, 3000, {},
       [](double x) { return x > 0.9 && x < 0.95 ? 0.0 : NAN; }},
      // Modes near -2 and 2.2; 8 intervals miss the right one, which the Metropolis step finds.
      {"bimodal griddy", "var x, m, y, z; { x ~ dunif(-4, 4) m <- (x - 0.1) * (x - 0.1) y ~ dnorm(m, 1) z ~ dnorm(x, 0.2) }",
       "list(y = 4.41, z = 1)", "list(x = 0)", Griddy_Updater,
       {{"x", 0, Quad([](double x) {
           const double d = 4.41 - (x - 0.1) * (x - 0.1), e = 1.0 - x;
           return -0.5 * d * d - 0.1 * e * e;
         }, -4, 4, 20000)}}, -4, 4, 20000, {}, nullptr, 8},
      // A bound below the support does not widen the griddy interval.
      {"griddy dexp below 3", "var x, m, y; { x ~ dexp(1) I(, 3) " + logLink, "list(y = 0.5)", "list(x = 1)",
       Griddy_Updater, {{"x", 0, Quad([](double x) { return -x - 0.5 * (std::log(x) - 0.5) * (std::log(x) - 0.5); }, 0, 3)}},
       0, 3},
      {"griddy dexp within (-2, 3)", "var x, m, y; { x ~ dexp(1) I(-2, 3) m <- x * x y ~ dnorm(m, 1) }", "list(y = 0.5)",
       "list(x = 1)", Griddy_Updater, {{"x", 0, Quad([](double x) { return -x - 0.5 * (x * x - 0.5) * (x * x - 0.5); }, 0, 3)}},
       0, 3},
      {"griddy dgamma within (1, 2)", "var x, m, y; { x ~ dgamma(2, 1) I(1, 2) " + logLink, "list(y = 1)", "list(x = 1.5)",
       Griddy_Updater,
       {{"x", 0, Quad([](double x) { return std::log(x) - x - 0.5 * (std::log(x) - 1) * (std::log(x) - 1); }, 1, 2)}}, 1, 2},
      // A shape of 0.5 makes the log density +inf at 0, a grid point that then weighs nothing.
      {"griddy dbeta", "var p, q, r; { p ~ dbeta(0.5, 3) logit(q) <- p * p r ~ dbern(q) }", "list(r = 1)", "list(p = 0.5)",
       Griddy_Updater, {{"p", 0, {nan, nan}}}, 0, 1},
      // Where the full conditional is not a number the grid weighs nothing: a start there is left.
      {"griddy dunif started outside", "var x, m, y; { x ~ dunif(-1, 1) " + logLink, "list(y = -1)", "list(x = -0.5)",
       Griddy_Updater, {{"x", 0, Quad([](double x) { return -0.5 * (std::log(x) + 1) * (std::log(x) + 1); }, 0, 1)}}, 0, 1},
  };
  for (const Row& row : rows) Check(row);
}

// The normal full conditional of the strongly correlated block (b1, b2) given c, with b2's
// prior mean coupling * b1, each observation less offset, on the log scale or not.
std::vector<Exact> LinearBlock(double coupling, double offset, bool logScale) {
  std::vector<std::vector<double>> g;
  std::vector<double> y;
  for (double x : {88, 97, 104, 112, 121}) g.push_back({1.0, x});
  for (double v : {61, 64, 70, 73, 79}) y.push_back((logScale ? v / 20.0 : v) - offset);
  return Gaussian({{0.01 + 0.5 * coupling * coupling, -0.5 * coupling}, {-0.5 * coupling, 0.5}}, {0.1, 0.0}, 0.05, g, y);
}

TEST_F(SamplerRows, ConjugatePriorAndBlockDrawsFollowTheirFullConditionals) {
  // Normal(1, sd 0.5) priors under bounds: narrow, wide, one-sided, far out in a tail.
  const std::string bounded =
      "var t1, t2, t3, t4, e, f, h, k1, k2, p, r, g, y[2];\n"
      "{ t1 ~ dnorm(1, 4) I(1.1, 1.125) t2 ~ dnorm(1, 4) I(0.75, 1.25) t3 ~ dnorm(1, 4) I(-0.5, 2.5)\n"
      "  t4 ~ dnorm(1, 4) I(0.5, 1.5) e ~ dnorm(1, 4) I(2, 3) f ~ dnorm(1, 4) I(-1, 0) h ~ dnorm(1, 4) I(0, 1)\n"
      "  k1 ~ dnorm(1, 4) I(3.5, 53) k2 ~ dnorm(1, 4) I(-60, -1.5)\n"
      "  p ~ dbeta(1, 1) I(0.2, 0.4) r ~ dbin(p, 10) g ~ dgamma(1, 1) I(1, 2.5) for (i in 1:2) { y[i] ~ dpois(g) } }";
  const std::function<double(double)> normal = [](double x) { return -2.0 * (x - 1.0) * (x - 1.0); },
                                      gamma = [](double x) { return 5.0 * std::log(x) - 3.0 * x; },
                                      beta = [](double x) { return 3.0 * std::log(x) + 7.0 * std::log1p(-x); };
  // Each bounded procedure reads the bound or bounds its name asks for; a far end stands for none.
  const auto b = [&](Samplers_Proc update, const char* node, const std::function<double(double)>& logf, double lo, double hi) {
    return Row{std::string(node) + " in " + std::to_string(lo) + ".." + std::to_string(hi), bounded,
               "list(r = 3, y = c(2, 3))",
               "list(t1 = 1.11, t2 = 1, t3 = 1, t4 = 1, e = 2.5, f = -0.5, h = 0.5, k1 = 4, k2 = -2, p = 0.3, g = 2)",
               update, {{node, 0, Quad(logf, lo, hi)}}, lo, hi};
  };
  // Posterior precision [6 8.5; 8.5 18] and precision times mean (13.5, 24).
  const std::string T2 = "T = structure(.Data = c(2, 0.5, 0.5, 1), .Dim = c(2, 2)), mu = c(1, -1)";
  const auto mn1 = Gaussian({{6.0, 8.5}, {8.5, 18.0}}, {13.5, 24.0});
  // A prior draw: mean 6 R^-1, R^-1 = [3 -2 1; -2 4 -2; 1 -2 3] / 4, row-major.
  const double Ri[] = {0.75, -0.5, 0.25, -0.5, 1.0, -0.5, 0.25, -0.5, 0.75};
  std::vector<Target> prior;
  for (int i = 0; i < 9; ++i) prior.push_back({"W", i, {6 * Ri[i], 6 * (Ri[i] * Ri[i] + Ri[i / 3 * 4] * Ri[i % 3 * 4])}});
  const auto zeta = [](double a, double sum = 0.0) {
    for (int k = 100000; k >= 1; --k) sum += std::pow(k, -a);
    return sum;
  };
  const std::string priors =
      "var q, k, z, W[3, 3], R[3, 3], wb, gb, a, c, t, g, y, s;\n"
      "{ q ~ dchisq(k) z ~ dzipf(4) W[, ] ~ dwish(R[, ], 6) wb ~ dweib(2, 1) I(1.5, ) gb ~ dgum(0, 1) I(2, )\n"
      "  a ~ dnorm(0, 1) I(1, ) c ~ dnorm(0, 1) I(-0.5, 0.5) t ~ dnorm(0, 1) I(40, ) g ~ dgamma(s, 1) I(30, ) y ~ dpois(g) }";
  const char* priorsData = "list(k = 4, s = 1, y = 2, R = structure(.Data = c(2, 1, 0, 1, 2, 1, 0, 1, 2), .Dim = c(3, 3)))";
  const char* priorsInits = "list(z = 3, wb = 2, gb = 3, a = 2, c = 0, t = 41, g = 31)";
  // Prior draws whose parameters differ in size, so that one read in the wrong place shows.
  const std::string leaves =
      "var a, b, c, d, e, f, g, h, k, l, m, n, o, p, q, r;\n"
      "{ a ~ dgum(0.5, 2) b ~ dlogis(1, 2) c ~ ddexp(1, 2) d ~ dweib(2, 3) e ~ dlnorm(0.5, 4) f ~ dpar(9, 2)\n"
      "  g ~ dunif(1, 3) h ~ dbeta(2, 5) k ~ dgamma(3, 2) l ~ dnorm(1, 4) m ~ dbin(0.3, 10) n ~ dnegbin(0.4, 3)\n"
      "  o ~ dexp(2) p ~ dgeom(0.25) q ~ dpois(3.5) r ~ dpow(2) }";
  const char* leavesInits = "list(a = 1, b = 1, c = 1, d = 1, e = 1, f = 3, g = 2, h = 0.5, k = 1, l = 1, m = 1, n = 1,"
                            " o = 1, p = 1, q = 1, r = 0.5)";
  const auto leaf = [&](const char* node, Exact exact) {
    return Row{std::string("prior draw of ") + node, leaves, "list()", leavesInits, GibbsSam_DirectSample,
               {{node, 0, exact}}};
  };
  const auto half = [](double x) { return -0.5 * x * x; };
  const std::string lin =
      "var x[5], y[5], mu[5], prec[5], b1, b2, m2, c, tau;\n{ for (i in 1:5) { mu[i] <- MEAN prec[i] <- tau * x[i] / x[i]"
      " y[i] ~ TERM(mu[i], PREC) }\n m2 <- 0.5 * b1 b1 ~ dnorm(10, 0.01) b2 ~ PRIOR c ~ dnorm(0, 1) I(-10, 10) tau ~ dgamma(1, 1) }";
  const auto linear = [&](const char* what, const char* mean, const char* term, const char* precision, const char* prior2,
                          double coupling, double offset) {
    std::string m = lin, ys;
    for (const auto& [key, value] : {std::pair{"MEAN", mean}, {"TERM", term}, {"PREC", precision}, {"PRIOR", prior2}})
      m.replace(m.find(key), std::string(key).size(), value);
    const bool logScale = std::string(term) == "dlnorm";
    for (double v : {61, 64, 70, 73, 79}) ys += (ys.empty() ? "" : ", ") + std::to_string(logScale ? std::exp(v / 20.0) : v);
    const auto e = LinearBlock(coupling, offset, logScale);
    return Row{what, m, "list(x = c(88, 97, 104, 112, 121), y = c(" + ys + "))", "list(b1 = 0, b2 = 0, c = 3, tau = 0.05)",
               nullptr, {{"b1", 0, e[0]}, {"b2", 0, e[1]}, {"c", 0, {3, 0}}}, -inf, inf, 20000};
  };
  // Generalised blocks of a logistic, probit, complementary log-log and log link against a grid.
  const double gx[] = {-1.2, -0.7, -0.3, 0.0, 0.2, 0.5, 0.9, 1.3, 1.6, 2.0};
  const int gr[] = {0, 0, 1, 0, 1, 0, 1, 1, 1, 1}, gk[] = {0, 1, 0, 2, 1, 3, 2, 4, 5, 7}, gn[] = {3, 3, 4, 3, 5, 4, 3, 5, 6, 8};
  const auto generalised = [&](const char* relation, const char* term, double (*eta)(double), int family) {
    const auto post = Grid2([&](double a, double b) {
      double l = -0.125 * a * a - 0.125 * (b - 0.5) * (b - 0.5);
      for (size_t t = 0; t < 10; ++t) {
        const double q = eta(a + b * gx[t]);
        l += family == 0 ? (gr[t] ? std::log(q) : std::log1p(-q))
             : family == 1 ? gk[t] * std::log(q) + (gn[t] - gk[t]) * std::log1p(-q) : gk[t] * std::log(q) - q;
      }
      return l;
    }, -6, 6, 600);
    return Row{relation, std::string("var x[10], r[10], k[10], n[10], p[10], a, b;\n{ for (i in 1:10) { ") + relation + " " +
                   term + " }\n a ~ dnorm(0, 0.25) b ~ dnorm(0.5, 0.25) }",
               "list(x = c(-1.2, -0.7, -0.3, 0.0, 0.2, 0.5, 0.9, 1.3, 1.6, 2.0), r = c(0, 0, 1, 0, 1, 0, 1, 1, 1, 1),"
               " k = c(0, 1, 0, 2, 1, 3, 2, 4, 5, 7), n = c(3, 3, 4, 3, 5, 4, 3, 5, 6, 8))",
               "list(a = 0, b = 0)", nullptr, {{"a", 0, post[0]}, {"b", 0, post[1]}}, -inf, inf, 20000, {}, nullptr, 20, 0.4};
  };
  // A dmnorm block of two coefficients joined by a scalar one sharing their terms.
  const double tx[] = {1, 2, 3, 4, 5, 6}, tz[] = {0.5, -0.2, 0.9, 0.1, -0.7, 0.4};
  std::vector<std::vector<double>> g3;
  for (size_t i = 0; i < 6; ++i) g3.push_back({1.0, tx[i], tz[i]});
  const auto tri = Gaussian({{0.2, 0.05, 0.0}, {0.05, 0.1, 0.0}, {0.0, 0.0, 0.1}}, {0.2, 0.05, 0.0}, 0.5, g3,
                            {2.1, 2.9, 4.8, 5.1, 5.2, 7.4});
  const Row rows[] = {
      b(GibbsSam_TNormal, "t1", normal, 1.1, 1.125), b(GibbsSam_TNormal, "t2", normal, 0.75, 1.25),
      b(GibbsSam_TNormal, "t3", normal, -0.5, 2.5), b(GibbsSam_TNormal, "t4", normal, 0.5, 1.5),
      b(GibbsSam_TNormal, "k1", normal, 3.5, 53), b(GibbsSam_TNormal, "k2", normal, -60, -1.5),
      b(GibbsSam_UNormal, "h", normal, -6, 1), b(GibbsSam_LNormal, "e", normal, 2, 8),
      b(GibbsSam_LNormal, "t2", normal, 0.75, 8), b(GibbsSam_UNormal, "f", normal, -6, 0),
      b(GibbsSam_UNormal, "t2", normal, -6, 1.25), b(GibbsSam_TGamma, "g", gamma, 1, 2.5),
      b(GibbsSam_LGamma, "g", gamma, 1, 40), b(GibbsSam_UGamma, "g", gamma, 1e-9, 2.5),
      b(GibbsSam_TBeta, "p", beta, 0.2, 0.4), b(GibbsSam_LBeta, "p", beta, 0.2, 1 - 1e-9),
      b(GibbsSam_UBeta, "p", beta, 1e-9, 0.4),
      {"normal block, univariate terms",
       "var x[2], mu[2], T[2, 2], y1, y2, m1;\n"
       "{ x[1:2] ~ dmnorm(mu[], T[, ]) m1 <- x[1] + 2 * x[2] y1 ~ dnorm(m1, 4) y2 ~ dlnorm(x[2], 1) }",
       "list(y1 = 3, y2 = 1.6487212707001282, " + T2 + ")", "", GibbsSam_MNormal1, {{"x", 0, mn1[0]}, {"x", 1, mn1[1]}}},
      {"chi-square(4) as gamma(2, 0.5)", priors, priorsData, priorsInits, GibbsSam_DirectSample, {{"q", 0, {4, 8}}}, 0, inf},
      {"zipf(4) prior", priors, priorsData, priorsInits, GibbsSam_DirectSample, {{"z", 0, {zeta(3) / zeta(4), nan}}}, 1, inf},
      {"Wishart prior", priors, priorsData, priorsInits, GibbsSam_DirectSample, prior},
      leaf("a", Quad([](double x) { return 2 * (0.5 - x) - std::exp(2 * (0.5 - x)); }, -3, 14)),
      leaf("b", Quad([](double x) { return -2 * (x - 1) - 2 * std::log1p(std::exp(-2 * (x - 1))); }, -20, 22)),
      leaf("c", {1, 0.5}), leaf("d", Quad([](double x) { return std::log(x) - 3 * x * x; }, 0, 6)),
      leaf("e", {std::exp(0.625), (std::exp(0.25) - 1) * std::exp(1.25)}), leaf("f", {2.25, 4.0 * 9 / (64 * 7)}),
      leaf("g", {2, 1.0 / 3}), leaf("h", {2.0 / 7, 10.0 / (49 * 8)}), leaf("k", {1.5, 0.75}), leaf("l", {1, 0.25}),
      leaf("m", {3, 2.1}), leaf("n", {4.5, 11.25}), leaf("o", {0.5, 0.25}), leaf("p", {4, 12}), leaf("q", {3.5, 3.5}),
      leaf("r", {2.0 / 3, 1.0 / 18}),
      {"Weibull tail", priors, priorsData, priorsInits, GibbsSam_WeibullTail,
       {{"wb", 0, Quad([](double x) { return std::log(x) - x * x; }, 1.5, 8)}}, 1.5, inf},
      {"Gumbel tail", priors, priorsData, priorsInits, GibbsSam_GumbelRightTail,
       {{"gb", 0, Quad([](double x) { return -x - std::exp(-x); }, 2, 40)}}, 2, inf},
      {"normal above 1", priors, priorsData, priorsInits, GibbsSam_LDirectSample, {{"a", 0, Quad(half, 1, 12)}}, 1, inf},
      {"normal within 0.5", priors, priorsData, priorsInits, GibbsSam_TDirectSample, {{"c", 0, Quad(half, -0.5, 0.5)}}, -0.5, 0.5},
      // 40 and 30 standard deviations out no plain draw gets; the tail draws do.
      {"normal above 40", priors, priorsData, priorsInits, GibbsSam_LDirectSample, {{"t", 0, Quad(half, 40, 41)}}, 40, 40.5},
      {"gamma(3, 2) above 30", priors, priorsData, priorsInits, GibbsSam_LGamma,
       {{"g", 0, Quad([](double x) { return 2 * std::log(x) - 2 * x; }, 30, 40)}}, 30, inf},
      linear("linear block", "b1 + b2 * x[i]", "dnorm", "0.05", "dnorm(0, 0.5)", 0, 0),
      linear("a prior mean on another member", "b1 + b2 * x[i]", "dnorm", "0.05", "dnorm(m2, 0.5)", 0.5, 0),
      linear("a mean holding an unknown outside the block", "b1 + b2 * x[i] + c", "dnorm", "0.05", "dnorm(0, 0.5)", 0, 3),
      linear("log-normal terms", "b1 + b2 * x[i]", "dlnorm", "0.05", "dnorm(0, 0.5)", 0, 0),
      linear("a precision of each term's own", "b1 + b2 * x[i]", "dnorm", "prec[i]", "dnorm(0, 0.5)", 0, 0),
      linear("a shared unknown precision", "b1 + b2 * x[i]", "dnorm", "tau", "dnorm(0, 0.5)", 0, 0),
      generalised("logit(p[i]) <- a + b * x[i]", "r[i] ~ dbern(p[i])", [](double e) { return 1.0 / (1.0 + std::exp(-e)); }, 0),
      generalised("probit(p[i]) <- a + b * x[i]", "r[i] ~ dbern(p[i])", [](double e) { return 0.5 * std::erfc(-e / std::sqrt(2.0)); }, 0),
      generalised("cloglog(p[i]) <- a + b * x[i]", "k[i] ~ dbin(p[i], n[i])", [](double e) { return 1.0 - std::exp(-std::exp(e)); }, 1),
      generalised("log(p[i]) <- a + b * x[i]", "k[i] ~ dpois(p[i])", [](double e) { return std::exp(e); }, 2),
      {"dmnorm block with a scalar", "var x[6], z[6], y[6], mu[6], beta[2], m0[2], T0[2, 2], c;\n"
       "{ for (i in 1:6) { mu[i] <- beta[1] + beta[2] * x[i] + c * z[i] y[i] ~ dnorm(mu[i], 0.5) }\n"
       "  beta[1:2] ~ dmnorm(m0[], T0[, ]) c ~ dnorm(0, 0.1) }",
       "list(x = c(1, 2, 3, 4, 5, 6), z = c(0.5, -0.2, 0.9, 0.1, -0.7, 0.4), y = c(2.1, 2.9, 4.8, 5.1, 5.2, 7.4),"
       " m0 = c(1, 0), T0 = structure(.Data = c(0.2, 0.05, 0.05, 0.1), .Dim = c(2, 2)))",
       "list(beta = c(0, 0), c = 0)", nullptr, {{"c", 0, tri[2]}, {"beta", 0, tri[0]}, {"beta", 1, tri[1]}}, -inf, inf, 20000},
  };
  for (const Row& row : rows) Check(row);
}

// An update that cannot draw fails, keeps the value, leaves the fast path off and says why, naming the node.
TEST_F(SamplerRows, UpdatesThatCannotDrawFailAndSayWhy) {
  std::string ones = "c(1", simplex = "c(0.01";
  for (int i = 1; i < 101; ++i) ones += ", 1", simplex += i < 100 ? ", 0.01" : ", 0";
  const std::string gibbs =
      "var g, y, s, x, lo, hi, d[101], a[101], n, u, ub;\n"
      "{ g ~ dgamma(s, 1) I(30, ) y ~ dpois(g) x ~ dnorm(0, 1) I(lo, hi) d[1:101] ~ ddirch(a[])\n"
      "  n ~ dgamma(s, 1) u ~ dexp(1) I(, ub) }";
  const std::string gibbsData = "list(s = 1, y = 2, lo = -1, hi = 1, ub = 3, a = " + ones + "))";
  const std::string gibbsInits = "list(g = 31, x = 0, d = " + simplex + "), n = 1, u = 1)";
  const std::string discrete =
      "var a, b, c, d, h, lo; { a ~ dbin(0.5, 2000) b ~ dpois(1.0E6) c ~ dzipf(2) d ~ dbin(0.5, 10) I(lo, 6) h ~ dhypo(1, 2) }";
  const char *discreteData = "list(lo = 2)", *discreteInits = "list(a = 1, b = 1, c = 1, d = 4, h = 1)";
  const std::string ars = "var x; { x ~ dlogis(0, 1) }", bounded = "var v, x, lo, hi; { v ~ dbeta(1, 1) x ~ dnorm(0, 1) I(lo, hi) }";
  const std::string grid = "var x, lo, hi, m, y, t; { x ~ dnorm(0, 1) I(lo, hi) m <- log(x) y ~ dnorm(m, t) }";
  const char* gridData = "list(lo = 1, hi = 2, y = 0, t = 1)";
  const auto set = [](const char* name, double value) { return [name, value](Samplers_Sampler&) { Graph_Own(N(name)) = value; }; };
  const auto density = [](std::function<double(double)> f) {
    return [f](Samplers_Sampler& s) { s.node->logDensity = Custom, custom = f; };
  };
  const auto grids = [&](double lo, double hi, double t) {
    return [=](Samplers_Sampler&) { Graph_Own(N("lo")) = lo, Graph_Own(N("hi")) = hi, Graph_Own(N("t")) = t; };
  };
  int calls = 0;
  // calls: evaluations of the log density, where counted.
  const struct { std::string model, data, inits; const char* node; Samplers_Proc update;
                 std::function<void(Samplers_Sampler&)> before; const char* says; int calls = -1; } cases[] = {
      {gibbs, gibbsData, gibbsInits, "u", GibbsSam_UDirectSample, set("ub", -1), "The bounds (-inf, -1) hold no probability"},
      {gibbs, gibbsData, gibbsInits, "x", GibbsSam_TNormal, set("lo", 2), "The lower bound 2 is above the upper bound 1"},
      {gibbs, gibbsData, gibbsInits, "d", GibbsSam_Direchlet, nullptr, "The block has 101 components, more than the 100"},
      {gibbs, gibbsData, gibbsInits, "g", GibbsSam_Gamma, set("s", -5), "shape -3 and rate 2: both must be positive"},
      {gibbs, gibbsData, gibbsInits, "n", GibbsSam_DirectSample, set("s", -5), "not a finite number"},
      {discrete, discreteData, discreteInits, "a", GibbsSam_DiscreteSample, nullptr, "0 to 2000, has more than 1024 points"},
      {discrete, discreteData, discreteInits, "b", GibbsSam_DiscreteSample, nullptr, "window of more than 1024 points"},
      {discrete, discreteData, discreteInits, "c", GibbsSam_DiscreteSample, nullptr, "window of more than 1024 points"},
      {discrete, discreteData, discreteInits, "h", GibbsSam_DiscreteSample, nullptr, "dhypo node cannot be sampled"},
      {discrete, discreteData, discreteInits, "d", GibbsSam_DiscreteSample, set("lo", 7), "support of the node is empty"},
      {ars, "", "list(x = 0)", "x", DFreeARS_FullArs, density([](double x) { return x; }),
       "Can not bracket mode of sampling density. The log full conditional still rose"},
      // Too narrow to locate in 50 steps.
      {ars, "", "list(x = 0)", "x", DFreeARS_FullArs, density([](double x) { return -1.0E15 * x * x; }),
       "Can not locate mode of sampling density. 50 evaluations"},
      {ars, "", "list(x = 0)", "x", DFreeARS_FullArs, density([](double) { return NAN; }),
       "not a finite number at any point tried"},
      {ars, "", "list(x = 0)", "x", DFreeARS_FullArs, density([](double) { return 0.0; }),
       "does not fall away to the left"},
      // Five evaluations from the centiles, then every candidate 10^6 below: all rejected.
      {ars, "", "list(x = 0)", "x", DFreeARS_FullArs,
       [&](Samplers_Sampler& s) {
         density([&calls](double x) { return ++calls <= 5 ? -9.9 * x * x : -1.0E6; })(s);
         Samplers_StateOf(s).centiles = {-2.0, -1.0, 1.0, 2.0};
         Samplers_StateOf(s).haveCentiles = true;
       },
       "Allowed number of function evaluations exceeded for ARS. All 50 candidates", 55},
      {bounded, "list(lo = -1, hi = 1)", "list(v = 0.5, x = 0.2)", "v", DFreeARS_TruncArs,
       density([](double) { return NAN; }), "Nor had any point of the support (0, 1)"},
      {bounded, "list(lo = -1, hi = 1)", "list(v = 0.5, x = 0.2)", "x", DFreeARS_TruncArs, set("lo", 2),
       "lower end 2 is not below its upper end 1"},
      // dnorm has no limits of its own: without a finite lower bound there is no grid.
      {grid, gridData, "list(x = 1.5)", "x", Griddy_Updater, grids(2, 1, 1), "not below the upper limit"},
      {grid, gridData, "list(x = 1.5)", "x", Griddy_Updater, grids(1, 1, 1), "not below the upper limit"},
      {grid, gridData, "list(x = 1.5)", "x", Griddy_Updater, grids(nan, 2, 1), "not a number"},
      {grid, gridData, "list(x = 1.5)", "x", Griddy_Updater, grids(-inf, 2, 1), "not finite"},
      {grid, gridData, "list(x = 1.5)", "x", Griddy_Updater, grids(1, 2, -1), "no mass"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Build(c.model, c.data, c.inits)) << Console();
    Determ_OptDeterm();
    InitSamplers();
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(c.node);
    if (c.before) c.before(s);
    const double before = Graph_Own(s.node);
    calls = 0;
    s.update = c.update;
    s.update(s);
    EXPECT_TRUE(Samplers_StateOf(s).error) << c.says;
    EXPECT_EQ(Graph_Own(s.node), before) << c.says;
    EXPECT_FALSE(Determ_fastLinear) << c.says;
    EXPECT_TRUE(c.calls < 0 || calls == c.calls) << c.says << ": " << calls << " evaluations";
    const size_t seen = Console().size();
    Samplers_ReportFailure();
    EXPECT_NE(Console().find(c.says, seen), std::string::npos) << c.says << "\n" << Console();
    EXPECT_NE(Console().find(std::string(" for node: ") + c.node, seen), std::string::npos) << c.says << "\n" << Console();
  }
}

// The first update keeps the envelope's 12.5, 40, 60, 87.5 % points: near the normal's, exact if flat.
TEST_F(SamplerRows, FirstRejectionUpdateKeepsTheEnvelopesCentiles) {
  ASSERT_TRUE(Build("var x, u; { x ~ dnorm(0, 1) u ~ dunif(0, 1) }", "", "list(x = 0.3, u = 0.3)")) << Console();
  const struct { const char* node; Samplers_Proc update; std::array<double, 4> centiles; double within; } cases[] = {
      {"x", DFreeARS_FullArs, {-1.1503, -0.2533, 0.2533, 1.1503}, 0.35},
      {"u", DFreeARS_TruncArs, {0.15, 0.25, 0.75, 0.85}, 1e-12}};
  for (const auto& c : cases) {
    Samplers_Sampler& s = Samplers_Add();
    s.node = N(c.node);
    c.update(s);
    ASSERT_FALSE(Samplers_StateOf(s).error);
    ASSERT_TRUE(Samplers_StateOf(s).haveCentiles);
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(Samplers_StateOf(s).centiles[i], c.centiles[i], c.within) << c.node << i;
  }
}

// The three starting points see no finite density; the fall-back grid step's draws follow Beta(4, 6).
TEST_F(SamplerRows, BoundedRejectionFailureFallsBackToAMetropolisStep) {
  ASSERT_TRUE(Build("var v; { v ~ dbeta(1, 1) }", "", "list(v = 0.5)")) << Console();
  int calls = 0;
  Samplers_Sampler& s = Samplers_Add();
  s.node = N("v");
  s.node->logDensity = Custom;
  custom = [&calls](double x) { return ++calls <= 3 ? NAN : 3.0 * std::log(x) + 5.0 * std::log(1.0 - x); };
  std::vector<double> vs;
  for (int i = 0; i < 3000 && !Samplers_StateOf(s).error; ++i) {
    calls = 0;
    DFreeARS_TruncArs(s);
    vs.push_back(Graph_Own(N("v")));
    EXPECT_GT(calls, 256);  // the grid was built
  }
  ASSERT_FALSE(Samplers_StateOf(s).error) << Console();
  test::ExpectMoments(test::BatchMoments(vs), 0.4, 0.24 / 11.0, 4.0, "fall-back Beta(4, 6)");
}

TEST_F(SamplerRows, GriddyBinCountIsHeldWithinEightToOneThousand) {
  for (auto [asked, bins] : {std::pair{5, 8}, {-3, 8}, {8, 8}, {37, 37}, {1000, 1000}, {5000, 1000}}) {
    InitGriddy(asked);
    EXPECT_EQ(Griddy_numBins, bins) << asked;
  }
}

// Flat on [0, 10]: inversion gives 10 u in every interval, the first included; every candidate is accepted.
TEST_F(SamplerRows, FlatGriddyConditionalProposesUniformlyAndAcceptsEveryCandidate) {
  ASSERT_TRUE(Build("var x; { x ~ dunif(0, 10) }", "", "list(x = 3)")) << Console();
  InitRandNum();
  std::vector<double> u;
  for (int i = 0; i < 800; ++i) u.push_back(RandNum_Rand());
  InitRandNum();
  const std::vector<double> x = Run(Griddy_Updater, "x", 400);
  ASSERT_EQ(x.size(), 400u);
  int firstInterval = 0;
  for (size_t i = 0; i < 400; ++i) {
    ASSERT_NEAR(x[i], 10.0 * u[2 * i], 1.0E-12) << i;
    firstInterval += u[2 * i] < 1.0 / 20;
  }
  EXPECT_GT(firstInterval, 0);
}

int evaluations = 0;
double Parabola(double x) { return ++evaluations, -(x - 7.0) * (x - 7.0); }

// Bracketing stops at once when the middle is highest, else walks uphill by golden steps until spent.
TEST(MaximizeTest, BracketingWalksUphillByGoldenSteps) {
  double a = 0, b = 1, c = 2, fa = 1, fb = 2, fc = 1.5;
  int32_t count = 50;
  evaluations = 0;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(count, 50);
  EXPECT_EQ(evaluations, 0);
  fa = Parabola(0), fb = Parabola(1), fc = Parabola(2);
  evaluations = 0;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(evaluations, 50 - count);
  EXPECT_TRUE(a < 7.0 && c > 7.0 && fb >= fa && fb >= fc);
  EXPECT_NEAR(c - b, (b - a) * 1.618034, 1e-9);  // the last step was a golden expansion
  a = 20, b = 21, c = 22, fa = Parabola(20), fb = Parabola(21), fc = Parabola(22);
  count = 2;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Parabola, count);
  EXPECT_EQ(count, 0);
  EXPECT_LT(a, 20.0);
}

// Golden section narrows to the mode, swapping reversed ends, unless the budget runs out first.
TEST(MaximizeTest, GoldenSectionNarrowsToTheMode) {
  for (const auto& [lo, hi, budget] : {std::tuple{12.0, 0.0, 200}, {0.0, 12.0, 3}}) {
    double a = lo, b = 7.5, c = hi, fa = Parabola(lo), fb = Parabola(7.5), fc = Parabola(hi);
    int32_t count = budget;
    Maximize_LocateMode(a, b, c, fa, fb, fc, 1e-10, Parabola, count);
    EXPECT_LT(a, c);
    if (budget > 3) {
      EXPECT_GT(count, 0);
      EXPECT_NEAR(b, 7.0, 1e-4);
    } else {
      EXPECT_EQ(count, 0);
    }
  }
}

// Frequencies of the values lo, lo + 1, ... within four standard errors, where common enough.
void ExpectFrequencies(const std::vector<double>& x, int lo, const std::vector<double>& p, const std::string& what) {
  const double n = static_cast<double>(x.size());
  for (size_t k = 0; k < p.size(); ++k) {
    if (std::min(p[k], 1.0 - p[k]) * n < 10.0) continue;
    const double count = static_cast<double>(std::count(x.begin(), x.end(), lo + static_cast<double>(k)));
    EXPECT_NEAR(count / n, p[k], 4.0 * std::sqrt(p[k] * (1.0 - p[k]) / n)) << what << " value " << lo + k;
  }
}

// A log density that records where it is evaluated, or gives set values.
std::vector<double> evaluatedAt;
Graph_Proc recorded = nullptr;
std::array<double, 3> categoryLogs{};
double Recording(Graph_Node* node) {
  evaluatedAt.push_back(Graph_Own(node));
  return recorded(node);
}
double SetLogs(Graph_Node* node) { return categoryLogs[static_cast<size_t>(Graph_Own(node)) - 1]; }

TEST_F(SamplerRows, DiscreteSupportsAreEnumeratedWithinTheirBounds) {
  ASSERT_TRUE(Build("var x, c, p[3]; { x ~ dbin(0.5, 10) I(2, 4) c ~ dcat(p[]) }", "list(p = c(0.2, 0.3, 0.5))",
                    "list(x = 3, c = 1)")) << Console();
  recorded = N("x")->logDensity;
  N("x")->logDensity = Recording;
  evaluatedAt.clear();
  Run(GibbsSam_DiscreteSample, "x", 1);
  EXPECT_EQ(evaluatedAt, (std::vector<double>{2.0, 3.0, 4.0}));
  // Binomial coefficients 45, 120, 210.
  ExpectFrequencies(Run(GibbsSam_DiscreteSample, "x", 3000), 2, {45.0 / 375, 120.0 / 375, 210.0 / 375}, "x");
  // A category without likelihood is drawn from its prior.
  ExpectFrequencies(Run(GibbsSam_DirectSample, "c", 3000), 1, {0.2, 0.3, 0.5}, "c prior");
  N("c")->logDensity = SetLogs;
  categoryLogs = {-7.0, -7.0, -7.0};
  ExpectFrequencies(Run(GibbsSam_DiscreteSample, "c", 3000), 1, {1.0 / 3, 1.0 / 3, 1.0 / 3}, "equal");
  categoryLogs = {0.0, 0.0, -300.0};
  const std::vector<double> never = Run(GibbsSam_DiscreteSample, "c", 3000);
  EXPECT_EQ(std::count(never.begin(), never.end(), 3.0), 0);
  ExpectFrequencies(never, 1, {0.5, 0.5}, "two of three");
}

// Counts follow the likelihood beyond the prior's bulk (Poisson(3) prior, data near 40) within bounds.
TEST_F(SamplerRows, UnboundedCountsFollowTheLikelihoodBeyondThePrior) {
  ASSERT_TRUE(Build("var x, y[4], g, z, b, nb, zf; { x ~ dpois(3) for (i in 1:4) { y[i] ~ dnorm(x, 1) } g ~ dgeom(0.5)\n"
                    "  z ~ dpois(g) b ~ dpois(3) I(12, ) nb ~ dnegbin(0.5, 3) zf ~ dzipf(6) }",
                    "list(y = c(40, 41, 39, 40), z = 30)", "list(x = 3, g = 1, b = 12, nb = 0, zf = 1)")) << Console();
  const auto poisson3 = [](double k) { return k * std::log(3.0) - std::lgamma(k + 1); };
  const struct { const char* node; std::function<double(double)> logf; int lo, hi; } cases[] = {
      {"x", [&](double k) { return poisson3(k) - 2.0 * (k - 40.0) * (k - 40.0); }, 0, 200},
      {"g", [](double k) { return -k * std::log(2.0) + 30.0 * std::log(k) - k; }, 1, 400},
      {"b", poisson3, 12, 200},
      {"nb", [](double k) { return std::lgamma(k + 3) - std::lgamma(k + 1) - k * std::log(2.0); }, 0, 400},
      {"zf", [](double k) { return -6.0 * std::log(k); }, 1, 5000},
  };
  for (const auto& c : cases) {
    std::vector<double> p;
    double top = -INFINITY, sum = 0.0, mean = 0.0, second = 0.0;
    for (int k = c.lo; k <= c.hi; ++k) top = std::max(top, c.logf(k));
    for (int k = c.lo; k <= c.hi; ++k) sum += p.emplace_back(std::exp(c.logf(k) - top));
    for (size_t i = 0; i < p.size(); ++i) {
      const double k = c.lo + static_cast<double>(i);
      p[i] /= sum, mean += p[i] * k, second += p[i] * k * k;
    }
    const std::vector<double> s = Run(GibbsSam_DiscreteSample, c.node, 3000);
    // The Zipf tail is too heavy for the standard errors of its moments.
    if (std::string(c.node) != "zf") test::ExpectMoments(test::IndependentMoments(s), mean, second - mean * mean, 4.0, c.node);
    ExpectFrequencies(s, c.lo, std::vector<double>(p.begin(), p.begin() + 50), c.node);
    EXPECT_GE(*std::min_element(s.begin(), s.end()), c.lo) << c.node;
  }
}

// Half the draws of gamma(0.001, 1) lie below the least positive double, yet above 0. A
// hypergeometric prior starts at 0, a category is left alone, a Wishart draw is symmetric.
TEST_F(SamplerRows, PriorDrawsKeepToTheirSupports) {
  ASSERT_TRUE(Build("var g, h, c, p[3], y[3], q[3], a[3], W[2, 2], R[2, 2]; { g ~ dgamma(0.001, 0.001) h ~ dhypo(1, 2)"
                    " c ~ dcat(p[]) y[1:3] ~ dmulti(p[], 10) q[1:3] ~ ddirch(a[]) W[, ] ~ dwish(R[, ], 4) }",
                    "list(p = c(0.2, 0.3, 0.5), a = c(1, 2, 3), R = structure(.Data = c(2, 1, 1, 3), .Dim = c(2, 2)))",
                    "list(h = 7, c = 2)")) << Console();
  int tiny = 0;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(GibbsSam_DirectSample(N("g")));
    ASSERT_GT(Graph_Own(N("g")), 0.0);
    tiny += Graph_Own(N("g")) < 1.0E-300;
  }
  EXPECT_GT(tiny, 500);  // the case arises
  for (const char* name : {"h", "c", "y", "q", "W"}) ASSERT_TRUE(GibbsSam_DirectSample(N(name))) << name;
  EXPECT_EQ(Graph_Own(N("W", 1)), Graph_Own(N("W", 2)));
  EXPECT_EQ(Graph_Own(N("h")), 0.0);
  EXPECT_EQ(Graph_Own(N("c")), 2.0);
  EXPECT_EQ(Graph_Own(N("y", 0)) + Graph_Own(N("y", 1)) + Graph_Own(N("y", 2)), 10.0);
  EXPECT_NEAR(Graph_Own(N("q", 0)) + Graph_Own(N("q", 1)) + Graph_Own(N("q", 2)), 1.0, 1e-12);
  // A precision that is not positive definite cannot be drawn from.
  ASSERT_TRUE(Build("var x[2], mu[2], T[2, 2]; { x[1:2] ~ dmnorm(mu[], T[,]) }",
                    "list(mu = c(0, 1), T = structure(.Data = c(1, 2, 2, 1), .Dim = c(2, 2)))", "list(x = c(3, 0))"));
  EXPECT_FALSE(GibbsSam_DirectSample(N("x")));
  EXPECT_EQ(Graph_Own(N("x", 0)), 3.0);
}


// Candidates sharing terms form blocks; a member of no block keeps the procedure it had alone.
TEST_F(SamplerRows, CandidatesSharingTermsFormBlocks) {
  const std::string normal = "for (i in 1:4) { mu[i] <- b1 + b2 * x[i] y[i] ~ dnorm(mu[i], tau) } ";
  const std::string priors = "b1 ~ dnorm(0, 1.0E-6) b2 ~ dnorm(0, 1.0E-6) tau ~ dgamma(1, 1) c ~ dnorm(0, 1) d ~ dnorm(0, 1)";
  const struct { const char* what; std::string body; int linear, generalised; } cases[] = {
      {"a regression", normal + priors, 1, 0},
      {"a logistic regression", "for (i in 1:4) { logit(p[i]) <- b1 + b2 * x[i] r[i] ~ dbern(p[i]) } " + priors, 0, 1},
      {"two regressions", normal + "for (i in 1:4) { logit(p[i]) <- c + d * x[i] r[i] ~ dbern(p[i]) } " + priors, 1, 1},
      {"a mean not jointly linear", "for (i in 1:4) { mu[i] <- b1 * b2 * x[i] y[i] ~ dnorm(mu[i], tau) } " + priors, 0, 0},
      {"a bounded coefficient", normal + "b1 ~ dnorm(0, 1.0E-6) b2 ~ dnorm(0, 1.0E-6) I(0, ) tau ~ dgamma(1, 1) c ~ dnorm(0, 1) d ~ dnorm(0, 1)",
       0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    InitBlocks();
    Compile("var x[4], y[4], r[4], p[4], mu[4], b1, b2, tau, c, d;\n{ " + c.body + " }",
            "list(x = c(90, 105, 120, 97), y = c(80, 90, 101, 84), r = c(0, 1, 1, 0))",
            "list(b1 = 1, b2 = 0.5, tau = 1, c = 0.2, d = 0.1)", true);
    if (HasFatalFailure()) return;
    int linear = 0, generalised = 0;
    for (int32_t k = 0; k < Blocks_Count(); ++k) {
      (Blocks_KindOf(k) == Blocks_Kind::linear ? linear : generalised) += 1;
      EXPECT_EQ(Blocks_Members(k).size(), 2u);
    }
    EXPECT_EQ(linear, c.linear);
    EXPECT_EQ(generalised, c.generalised);
    EXPECT_EQ(Says("Block of b1, b2 drawn jointly from its normal full conditional"), c.linear == 1);
    if (c.linear + c.generalised == 0) {
      EXPECT_LT(RecordOf(N("b1")).block, 0);
      EXPECT_EQ(RecordOf(N("b1")).update, GibbsSam_Normal);
    }
  }
}

// A group of the largest size forms a block; one more and the group keeps single-node draws.
TEST_F(SamplerRows, AGroupLargerThanABlockIsNotFormed) {
  for (const int p : {Blocks_maxMembers, Blocks_maxMembers + 1}) {
    SCOPED_TRACE(p);
    InitBlocks();
    std::string X;
    for (int i = 0; i < 3 * p; ++i) X += (i > 0 ? ", " : "") + std::to_string((i * 7) % 11 - 5);
    const std::string P = std::to_string(p);
    Compile("const P = " + P + ";\nvar X[3, P], y[3], mu[3], b[P];\n"
            "{ for (i in 1:3) { mu[i] <- inprod(b[], X[i, ]) y[i] ~ dnorm(mu[i], 1) } for (j in 1:P) { b[j] ~ dnorm(0, 1) } }",
            "list(X = structure(.Data = c(" + X + "), .Dim = c(3, " + P + ")), y = c(1, 2, 3))", "", true);
    if (HasFatalFailure()) return;
    EXPECT_EQ(Blocks_Count(), p <= Blocks_maxMembers ? 1 : 0);
    EXPECT_EQ(RecordOf(N("b", p - 1)).update == GibbsSam_Normal, p > Blocks_maxMembers);
  }
}

// Where the IRLS normal overflows the members are updated singly until the block's steps can resume.
TEST_F(SamplerRows, GeneralisedBlockFallsBackToSingleNodeUpdatesWhereItsProposalCannotBeFormed) {
  Compile("var x[6], k[6], lambda[6], a, b;\n"
          "{ for (i in 1:6) { log(lambda[i]) <- a + b * x[i] k[i] ~ dpois(lambda[i]) } a ~ dnorm(0, 0.01) b ~ dnorm(0, 0.01) }",
          "list(x = c(-1, -0.5, 0, 0.5, 1, 1.5), k = c(1, 0, 2, 3, 2, 5))", "list(a = 710, b = 0)", true);
  if (HasFatalFailure()) return;
  ASSERT_EQ(Blocks_Count(), 1);
  Samplers_Sampler& block = BlockRecord(N("a"));
  for (int i = 0; i < 201; ++i) {
    block.update(block);
    ASSERT_FALSE(Samplers_StateOf(block).error) << Samplers_part->failure;
    if (i > 0) continue;
    EXPECT_EQ(Blocks_CountsOf(0).singly, 1);
    EXPECT_EQ(Blocks_CountsOf(0).proposed, 0);
    EXPECT_LT(Graph_Own(N("a")), 700.0);
  }
  EXPECT_GT(Blocks_CountsOf(0).proposed, 150);
  EXPECT_LT(std::fabs(Graph_Own(N("a"))), 5.0);
}

}  // namespace
