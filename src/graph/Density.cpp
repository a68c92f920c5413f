#include "graph/Density.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <limits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "graph/Ops.h"
#include "numerics/SpecFunc.h"
#include "store/Distrib.h"

namespace {

constexpr double hopeless = -5.0E9;           // a likelihood sum this low rules the candidate out
constexpr double integerTolerance = 1.0E-10;  // added before truncating a count or category
constexpr double smallProportion = 1.0E-10;   // below this a category's log is not taken
constexpr double lnFloor = -1.0E10;           // keeps an impossible category finite
constexpr double wholeTolerance = 1.0E-6;     // a count may lie this far from its whole number
constexpr double impossible = -std::numeric_limits<double>::infinity();

// Parameter i, read the way every reader reads a node.
inline double Parameter(Graph_Node* node, int i) { return Graph_ValueOf(node->parents[i]); }

// The component at this node number of a vector or matrix parameter. Node
// generation and the model checks make sure every component exists.
inline double ComponentValue(int32_t number) { return Graph_ValueOf(Graph_Label(number)); }

// A count or category held as a real. Truncation goes towards zero; a value
// beyond the integer range is held at its end, so the conversion is always
// defined even for a value the model checks would refuse.
int ToInt(double x) {
  const double t = std::trunc(x + integerTolerance);
  if (!(t > INT_MIN)) return INT_MIN;
  if (!(t < INT_MAX)) return INT_MAX;
  return static_cast<int>(t);
}

// A value a count can take: a whole number (to within the tolerance) of at
// least lowest. A value that is not a number is none.
// Every evaluation of a count's density asks it, so it rounds by a
// conversion to an integer instead of a call into the maths library.
inline bool IsCount(double x, double lowest) {
  if (!(x >= lowest - wholeTolerance)) return false;
  if (x >= 4.5E15) return true;  // every double this large is a whole number
  const double whole = static_cast<double>(static_cast<int64_t>(x + 0.5));
  return std::fabs(x - whole) <= wholeTolerance;
}

// The logarithms of p and 1 - p of a proportion in [0, 1] are at most 0.
inline bool ProportionLogs(double lnP, double lnQ) { return lnP <= 0.0 && lnQ <= 0.0; }

// Every procedure below gives -infinity for a value outside the support its
// parameters give it, and for parameters outside their domain, so that a
// full conditional rules such a point out instead of reading past a table or
// returning a number that is none. A result that is still not a number (a
// parameter whose logarithm is not defined) is made -infinity here.
template <Graph_Proc procedure>
double Guarded(Graph_Node* node) {
  const double v = procedure(node);
  return v == v ? v : impossible;
}

// ln(1 + e^y) without overflow for large y.
inline double LogOnePlusExp(double y) {
  return y > 0.0 ? y + std::log1p(std::exp(-y)) : std::log1p(std::exp(y));
}

// The terms of the proportions and the mean read their parameter through
// its link's trace and finish only the logarithms their own count needs
// (a count of 0 needs no log of its proportion or mean), so each costs the
// calls of the maths library its form allows: a Bernoulli term with a
// logit link one exponential and one logarithm, with a cloglog link and
// no success one exponential.

// Evaluated once per observation for every candidate of a logistic
// regression, so it takes the common case, a value of exactly 0 or 1, first
// and needs no further guard: a logarithm above 0 (a proportion beyond 1)
// or one that is not a number fails the last test.
double Bernoulli(Graph_Node* node) {
  const double x = Graph_Own(node);
  if (!(x == 0.0 || x == 1.0 || (IsCount(x, 0.0) && x <= 1.0 + wholeTolerance))) return impossible;
  Determ_LinkTrace t = Determ_Trace(node->parents[0]);
  const double l = Ops_ProportionLog(t, x < 0.5);
  return l <= 0.0 ? l : impossible;
}

// ln p when wanted, else 0; likewise ln(1 - p); both from one trace.
void WantedLogs(Graph_Node* parameter, bool wantP, bool wantQ, double& lnP, double& lnQ) {
  Determ_LinkTrace t = Determ_Trace(parameter);
  if (wantP && wantQ) {
    Ops_ProportionLogs(t, lnP, lnQ);
    return;
  }
  lnP = wantP ? Ops_ProportionLog(t, false) : 0.0;
  lnQ = wantQ ? Ops_ProportionLog(t, true) : 0.0;
}

double Beta(Graph_Node* node) {
  const double a = Parameter(node, 0), b = Parameter(node, 1), x = Graph_Own(node);
  if (!(a > 0.0 && b > 0.0 && x >= 0.0 && x <= 1.0)) return impossible;
  return (a - 1.0) * std::log(x) + (b - 1.0) * std::log(1.0 - x);
}

double Beta1(Graph_Node* node) {
  return Beta(node) - SpecFunc_LogBetafunction(Parameter(node, 0), Parameter(node, 1));
}

// The plain procedures of the counts (Binomial, Poisson, NegBin) serve
// only observed counts with fixed sizes, whose values the model checks
// found whole and within the support once and for all; the full ones, which
// serve counts that change, check the value at every evaluation.
// With a logit link this is x eta - n ln(1 + e^eta) in a stable form: the
// two logarithms share one exponential and one logarithm, and neither
// term cancels the other.
double Binomial(Graph_Node* node) {
  double lnP, lnQ;
  const double n = Parameter(node, 1), x = Graph_Own(node);
  const bool successes = x > 0.5, failures = n - x > 0.5;
  WantedLogs(node->parents[0], successes, failures, lnP, lnQ);
  if (!ProportionLogs(lnP, lnQ)) return impossible;
  // A term with no count is 0 even where its logarithm is -infinity (p of 0 or 1).
  return (successes ? x * lnP : 0.0) + (failures ? (n - x) * lnQ : 0.0);
}

double Binomial1(Graph_Node* node) {
  const double n = Parameter(node, 1), x = Graph_Own(node);
  if (!(IsCount(n, 0.0) && IsCount(x, 0.0) && x <= n + wholeTolerance)) return impossible;
  const double v = Binomial(node);
  if (v == impossible) return v;  // the coefficient needs 0 <= x <= n
  return v + SpecFunc_LogBinomialCoef(ToInt(Parameter(node, 1)), ToInt(Graph_Own(node)));
}

// Categories are numbered from 1.
double Cat(Graph_Node* node) {
  const double x = Graph_Own(node), categories = Parameter(node, 1);
  if (!(IsCount(x, 1.0) && x <= categories + wholeTolerance)) return impossible;
  const int32_t first = Determ_Base(node->parents[0]);
  const double p = ComponentValue(first + ToInt(x) - 1);
  return p > smallProportion ? std::log(p) : lnFloor;
}

double ChiSqr(Graph_Node* node) {
  const double half = 0.5 * Parameter(node, 0), x = Graph_Own(node);
  if (!(half > 0.0 && x > 0.0)) return impossible;
  return (half - 1.0) * std::log(0.5 * x) - 0.5 * x - SpecFunc_LogGammafunction(half);
}

double DoubleExp(Graph_Node* node) {
  const double mu = Parameter(node, 0), tau = Parameter(node, 1);
  if (!(tau > 0.0)) return impossible;
  return std::log(tau) - tau * std::fabs(Graph_Own(node) - mu);
}

double Exponential(Graph_Node* node) {
  const double lambda = Parameter(node, 0);
  if (!(lambda > 0.0 && Graph_Own(node) >= 0.0)) return impossible;
  return std::log(lambda) - lambda * Graph_Own(node);
}

double F(Graph_Node* node) {
  const double n = Parameter(node, 0), m = Parameter(node, 1), x = Graph_Own(node);
  if (!(n > 0.0 && m > 0.0 && x > 0.0)) return impossible;
  return (0.5 * n - 1.0) * std::log(x) - 0.5 * (n + m) * std::log(1.0 + n * x / m);
}

// Shape r, rate mu.
double Gamma(Graph_Node* node) {
  const double r = Parameter(node, 0), mu = Parameter(node, 1), x = Graph_Own(node);
  if (!(r > 0.0 && mu > 0.0 && x > 0.0)) return impossible;
  return (r - 1.0) * std::log(mu * x) + std::log(mu) - mu * x;
}

double Gamma1(Graph_Node* node) {
  const double v = Gamma(node);
  return v == impossible ? v : v - SpecFunc_LogGammafunction(Parameter(node, 0));
}

// The number of trials up to and including the first success: 1, 2, ...
double Geometric(Graph_Node* node) {
  double lnP, lnQ;
  const double x = Graph_Own(node);
  if (!IsCount(x, 1.0)) return impossible;
  const bool failures = x > 1.5;
  WantedLogs(node->parents[0], true, failures, lnP, lnQ);
  if (!ProportionLogs(lnP, lnQ)) return impossible;
  return (failures ? (x - 1.0) * lnQ : 0.0) + lnP;
}

// Location a, rate b.
double Gumbel(Graph_Node* node) {
  const double b = Parameter(node, 1);
  if (!(b > 0.0)) return impossible;
  const double y = (Parameter(node, 0) - Graph_Own(node)) * b;
  return y - std::exp(y);
}

// Location a, rate b.
double Logistic(Graph_Node* node) {
  const double a = Parameter(node, 0), b = Parameter(node, 1);
  if (!(b > 0.0)) return impossible;
  const double y = -(Graph_Own(node) - a) * b;
  return std::log(b) + y - 2.0 * LogOnePlusExp(y);
}

double LogNormal(Graph_Node* node) {
  const double mu = Parameter(node, 0), tau = Parameter(node, 1);
  if (!(tau > 0.0 && Graph_Own(node) > 0.0)) return impossible;
  const double lx = std::log(Graph_Own(node)), d = lx - mu;
  return 0.5 * (std::log(tau) - tau * d * d) - lx;
}

// The differences x - mu of a multivariate normal block, one array for each
// thread that evaluates. It only grows, so after the first evaluation of the
// largest block nothing is allocated.
thread_local std::vector<double> differences;

// The block starting at this node's number; the precision matrix is read
// row by row, and only its diagonal and lower triangle enter.
double MNormal(Graph_Node* node) {
  const int32_t n = node->size;
  if (n <= 0) return 0.0;
  const size_t count = static_cast<size_t>(n);
  if (differences.size() < count) differences.resize(count);
  const int32_t mu = Determ_Base(node->parents[0]);
  const int32_t tau = Determ_Base(node->parents[1]);
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double d = Graph_Own(Graph_Label(node->label + i)) - ComponentValue(mu + i);
    differences[static_cast<size_t>(i)] = d;
    const int32_t row = tau + i * n;
    double term = 0.5 * ComponentValue(row + i) * d * d;
    for (int32_t j = 0; j < i; ++j) term += ComponentValue(row + j) * d * differences[static_cast<size_t>(j)];
    sum += term;
  }
  return -sum;
}

double Multinomial(Graph_Node* node) {
  const int32_t p = Determ_Base(node->parents[0]);
  double sum = 0.0, total = 0.0;
  for (int32_t i = 0; i < node->size; ++i) {
    const double x = Graph_Own(Graph_Label(node->label + i));
    if (!IsCount(x, 0.0)) return impossible;
    total += x;
    const double pi = ComponentValue(p + i);
    sum += x * (pi > smallProportion ? std::log(pi) : lnFloor);
  }
  // The counts add up to N.
  if (!(std::fabs(total - Parameter(node, 1)) <= wholeTolerance)) return impossible;
  return sum;
}

double NegBin(Graph_Node* node) {
  double lnP, lnQ;
  const double r = Parameter(node, 1), x = Graph_Own(node);
  if (!(r > 0.0 && IsCount(x, 0.0))) return impossible;
  const bool failures = x > 0.5;
  WantedLogs(node->parents[0], true, failures, lnP, lnQ);
  if (!ProportionLogs(lnP, lnQ)) return impossible;
  return r * lnP + (failures ? x * lnQ : 0.0);
}

// The variants below add the coefficient that depends on the node's own
// value (and on r): without it the full conditional of an unobserved count,
// or of r, would be wrong.
double NegBin1(Graph_Node* node) {
  const double x = Graph_Own(node), r = Parameter(node, 1);
  const double v = NegBin(node);
  if (v == impossible) return v;
  return v + SpecFunc_LogGamma(x + r) - SpecFunc_LogGamma(x + 1.0) - SpecFunc_LogGamma(r);
}

double Multinomial1(Graph_Node* node) {
  double coefficient = 0.0, total = 0.0;
  for (int32_t i = 0; i < node->size; ++i) {
    const double x = Graph_Own(Graph_Label(node->label + i));
    coefficient -= SpecFunc_LogGamma(x + 1.0);
    total += x;
  }
  const double v = Multinomial(node);
  if (v == impossible) return v;
  return v + coefficient + SpecFunc_LogGamma(total + 1.0);
}

// Mean mu, precision tau.
double Normal(Graph_Node* node) {
  const double mu = Parameter(node, 0), tau = Parameter(node, 1), d = Graph_Own(node) - mu;
  return 0.5 * (std::log(tau) - tau * d * d);
}

// Shape alpha, scale c.
double Pareto(Graph_Node* node) {
  const double alpha = Parameter(node, 0), c = Parameter(node, 1), x = Graph_Own(node);
  if (!(alpha > 0.0 && c > 0.0 && x >= c)) return impossible;
  return std::log(alpha / x) + alpha * std::log(c / x);
}

double Poisson(Graph_Node* node) {
  const double x = Graph_Own(node);
  Determ_LinkTrace t = Determ_Trace(node->parents[0]);
  const double lambda = Ops_LinkValue(t);
  if (!(lambda >= 0.0)) return impossible;
  // No count, no logarithm: a mean of 0 makes 0 certain.
  return (x > 0.5 ? x * Ops_MeanLog(t, lambda) : 0.0) - lambda;
}

double Poisson1(Graph_Node* node) {
  if (!IsCount(Graph_Own(node), 0.0)) return impossible;
  const double v = Poisson(node);
  return v == impossible ? v : v - SpecFunc_LogGamma(Graph_Own(node) + 1.0);
}

// a x^(a - 1) on (0, 1), the law the forward generator draws from.
double PowerDist(Graph_Node* node) {
  const double a = Parameter(node, 0), x = Graph_Own(node);
  if (!(a > 0.0 && x >= 0.0 && x <= 1.0)) return impossible;
  return std::log(a) + (a - 1.0) * std::log(x);
}

double Uniform(Graph_Node* node) {
  const double a = Parameter(node, 0), b = Parameter(node, 1), x = Graph_Own(node);
  if (!(b > a && x >= a && x <= b)) return impossible;
  return -std::log(b - a);
}

// Shape v, rate lambda.
double Weibull(Graph_Node* node) {
  const double v = Parameter(node, 0), lambda = Parameter(node, 1), x = Graph_Own(node);
  if (!(v > 0.0 && lambda > 0.0 && x >= 0.0)) return impossible;
  return std::log(v * lambda) + (v - 1.0) * std::log(x) - lambda * std::pow(x, v);
}

double Zipf(Graph_Node* node) {
  const double a = Parameter(node, 0), x = Graph_Own(node);
  if (!(a > 0.0 && IsCount(x, 1.0))) return impossible;
  return -a * std::log(x);
}

// ln zeta(a) for a > 1: the first terms of the sum, then the Euler-Maclaurin
// remainder from the tenth term on, accurate to about 1.0E-14 relative.
double LogZeta(double a) {
  constexpr int head = 9;
  constexpr double m = head + 1.0;
  double sum = 0.0;
  for (int k = 1; k <= head; ++k) sum += std::pow(static_cast<double>(k), -a);
  // Remainder: m^(1-a)/(a-1) + m^-a/2 + sum over j of B_2j / (2j)! a(a+1)..(a+2j-2) m^(-a-2j+1).
  constexpr std::array<double, 5> bernoulli = {1.0 / 6.0, -1.0 / 30.0, 1.0 / 42.0, -1.0 / 30.0, 5.0 / 66.0};
  const double mPower = std::pow(m, -a);
  double tail = m * mPower / (a - 1.0) + 0.5 * mPower;
  double rising = a;          // a (a + 1) ... (a + 2j - 2)
  double power = mPower / m;  // m^(-a - 2j + 1)
  double factorial = 2.0;     // (2j)!
  for (size_t j = 0; j < bernoulli.size(); ++j) {
    tail += bernoulli[j] / factorial * rising * power;
    const double twoJ = 2.0 * static_cast<double>(j + 1);
    rising *= (a + twoJ - 1.0) * (a + twoJ);
    power /= m * m;
    factorial *= (twoJ + 1.0) * (twoJ + 2.0);
  }
  return std::log(sum + tail);
}

// With a stochastic exponent the normalising constant zeta(a) depends on it,
// and the law is proper only for a > 1.
double Zipf1(Graph_Node* node) {
  const double a = Parameter(node, 0);
  if (!(a > 1.0 && std::isfinite(a))) return impossible;
  const double v = Zipf(node);
  return v == impossible ? v : v - LogZeta(a);
}

// The procedures of one distribution: the plain one, and the one with the
// normalising terms that depend on parameters or on the node's own count.
// The full one is needed only when a term it adds can change: when one of
// the parameters named in normaliser is not data, or, with countTerm, when
// the node itself is not data.
struct Procedures {
  Graph_Proc plain;
  Graph_Proc full;
  uint32_t normaliser;  // bit i: parameter i enters the normalising term
  bool countTerm;       // a coefficient depends on the node's own value
};

template <Graph_Proc p>
constexpr Procedures Only() { return {Guarded<p>, Guarded<p>, 0, false}; }
// A procedure that never returns a number that is none needs no guard.
template <Graph_Proc p>
constexpr Procedures SelfGuarded() { return {p, p, 0, false}; }
template <Graph_Proc p, Graph_Proc q>
constexpr Procedures Pair(uint32_t normaliser, bool countTerm) {
  return {Guarded<p>, Guarded<q>, normaliser, countTerm};
}
constexpr Procedures none{nullptr, nullptr, 0, false};

// By identifier; ddirch, dhypo and dwish have no log density (their rows
// say so) and keep the node's default.
const std::array<Procedures, Distrib_last + 1> procedures = {{
    none,
    SelfGuarded<Bernoulli>(),
    Pair<Beta, Beta1>(0b11, false),
    Pair<Binomial, Binomial1>(0b10, true),
    Only<Cat>(),
    Only<ChiSqr>(),
    none,  // ddirch
    Only<DoubleExp>(),
    Only<Exponential>(),
    Only<F>(),
    Pair<Gamma, Gamma1>(0b01, false),
    Only<Geometric>(),
    Only<Gumbel>(),
    none,  // dhypo
    Only<Logistic>(),
    Only<LogNormal>(),
    Only<MNormal>(),
    Pair<Multinomial, Multinomial1>(0, true),
    Pair<NegBin, NegBin1>(0b10, true),
    Only<Normal>(),
    Only<Pareto>(),
    Pair<Poisson, Poisson1>(0, true),
    Only<PowerDist>(),
    Only<Uniform>(),
    Only<Weibull>(),
    none,  // dwish
    Pair<Zipf, Zipf1>(0b01, false),
}};

bool IsData(const Graph_Node* node, size_t parameter) {
  if (parameter >= node->parents.size()) return false;
  const Graph_Node* p = node->parents[parameter];
  return p != nullptr && p->kind == Graph_data;
}

}  // namespace

void Density_SetDensity() {
  for (int32_t i = 0; i < Graph_totalNumNodes; ++i) {
    Graph_Node* node = Graph_Label(i);
    if (node == nullptr || !Distrib_Valid(node->density) || !Distrib_Of(node->density).hasDensity) continue;
    const Procedures& p = procedures[static_cast<size_t>(node->density)];
    bool full = p.countTerm && node->kind != Graph_data;
    for (size_t k = 0; k < 32; ++k)
      if ((p.normaliser >> k) & 1u && !IsData(node, k)) full = true;
    node->logDensity = full ? p.full : p.plain;
  }
}

double Density_LogLiklihood(const Graph_List& list) {
  double sum = 0.0;
  for (Graph_Node* term : list) {
    if (sum <= hopeless) break;
    sum += term->logDensity(term);
  }
  return sum;
}

namespace {

// A Bernoulli term under a logit link of predictor eta, as Bernoulli reads
// it: ln(1 - p) for an observed 0 (complement), else ln p.
inline double LogitBernoulli(double eta, bool complement) {
  Determ_LinkTrace trace = Ops_StartLink(Determ_logitLink, eta);
  const double l = Ops_ProportionLog(trace, complement);
  return l <= 0.0 ? l : impossible;
}

}  // namespace

double Density_FirstLogitTerms(const Graph_List& list, Density_LogitTerms& terms, double h, bool& gathered) {
  terms.partial.clear();
  terms.factor.clear();
  terms.complement.clear();
  gathered = true;
  for (Graph_Node* term : list) {
    const double x = Graph_Own(term);
    double eta = 0.0;
    // As Bernoulli reads a count of exactly 0 or 1 under a logit link.
    if (gathered && term->logDensity == Bernoulli && (x == 0.0 || x == 1.0) &&
        Determ_LogitPredictor(term->parents[0], eta)) {
      h += LogitBernoulli(eta, x < 0.5);
      double partial = 0.0, factor = 0.0;
      if (Determ_LogitParts(term->parents[0], partial, factor)) {
        terms.partial.push_back(partial);
        terms.factor.push_back(factor);
        terms.complement.push_back(x < 0.5);
      } else {
        gathered = false;
      }
      continue;
    }
    gathered = false;
    h += term->logDensity(term);
  }
  return h;
}

namespace {

// ln 2 in two parts, the first with enough trailing zero bits that its
// product with any exponent sum reached here is exact.
constexpr double ln2High = 6.93147180369123816490e-01;
constexpr double ln2Low = 1.90821492927058770002e-10;
// Terms whose factors 1 + e^-|eta| (each at most 2) are multiplied before
// the product's exponent is taken out: 2^16 is far from overflow.
constexpr size_t productRun = 16;

// The log of a product kept as a mantissa in [1, 2) and a power of two.
struct ScaledProduct {
  double mantissa = 1.0;
  int64_t exponent = 0;
  void Rescale() {
    const uint64_t bits = std::bit_cast<uint64_t>(mantissa);
    exponent += static_cast<int64_t>((bits >> 52) & 0x7ffu) - 1023;
    mantissa = std::bit_cast<double>((bits & 0x000fffffffffffffu) | 0x3ff0000000000000u);
  }
  double Log() const {
    const double e = static_cast<double>(exponent);
    return e * ln2High + (std::log(mantissa) + e * ln2Low);
  }
};

}  // namespace

double Density_SumLogitTerms(const Density_LogitTerms& terms, double t, double h) {
  const double* partial = terms.partial.data();
  const double* factor = terms.factor.data();
  const uint8_t* complement = terms.complement.data();
  const size_t n = terms.partial.size();
  // Each term is min(z, 0) - ln(1 + e^-|z|), z the predictor or, for an
  // observed 0, its negative. The logarithms of the rounded sums u = 1 + e
  // are summed as the logarithm of their product, one call for the whole
  // list rather than one a term, and each term's rounding (e - (u - 1)) / u
  // is added apart, as Ops_LogOnePlus adds it.
  double below = 0.0, lost = 0.0;
  ScaledProduct product;
  for (size_t start = 0; start < n; start += productRun) {
    const size_t end = std::min(n, start + productRun);
    double run = 1.0;
    for (size_t i = start; i < end; ++i) {
      const double eta = partial[i] + t * factor[i];
      const double e = std::exp(-std::fabs(eta));
      const double u = 1.0 + e;
      lost += (e - (u - 1.0)) / u;
      run *= u;
      below += Ops_LogitBelow(eta, complement[i] != 0);
    }
    product.mantissa *= run;
    product.Rescale();
  }
  const double sum = below - (product.Log() + lost);
  // A predictor that is not a number: each term then reads as impossible.
  if (sum != sum) {
    for (size_t i = 0; i < n; ++i) h += LogitBernoulli(partial[i] + t * factor[i], complement[i] != 0);
    return h;
  }
  return h + sum;
}

double Density_LogFullConditional(Graph_Node* node) {
  return node->logDensity(node) + Density_LogLiklihood(node->likelihood);
}
