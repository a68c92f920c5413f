#include "numerics/Density.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <vector>

#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "numerics/SpecFunc.h"
#include "graph/Distrib.h"

namespace {

constexpr double hopeless = -5.0E9;           // a likelihood sum this low rules the candidate out
constexpr double integerTolerance = 1.0E-10;  // added before truncating a count or category
constexpr double smallProportion = 1.0E-10;   // below this a category's log is not taken
constexpr double lnFloor = -1.0E10;           // keeps an impossible category finite


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

// ln(1 + e^y) without overflow for large y.
inline double LogOnePlusExp(double y) {
  return y > 0.0 ? y + std::log1p(std::exp(-y)) : std::log1p(std::exp(y));
}

double Bernoulli(Graph_Node* node) {
  double lnP, lnQ;
  Determ_LogProportion(node->parents[0], lnP, lnQ);
  return node->value >= 0.5 ? lnP : lnQ;
}

double Beta(Graph_Node* node) {
  const double a = Parameter(node, 0), b = Parameter(node, 1), x = node->value;
  return (a - 1.0) * std::log(x) + (b - 1.0) * std::log(1.0 - x);
}

double Beta1(Graph_Node* node) {
  return Beta(node) - SpecFunc_LogBetafunction(Parameter(node, 0), Parameter(node, 1));
}

double Binomial(Graph_Node* node) {
  double lnP, lnQ;
  Determ_LogProportion(node->parents[0], lnP, lnQ);
  const double n = Parameter(node, 1), x = node->value;
  return x * lnP + (n - x) * lnQ;
}

double Binomial1(Graph_Node* node) {
  return Binomial(node) + SpecFunc_LogBinomialCoef(ToInt(Parameter(node, 1)), ToInt(node->value));
}

// Categories are numbered from 1.
double Cat(Graph_Node* node) {
  const int32_t first = Determ_Base(node->parents[0]);
  const double p = ComponentValue(first + ToInt(node->value) - 1);
  return p > smallProportion ? std::log(p) : lnFloor;
}

double ChiSqr(Graph_Node* node) {
  const double half = 0.5 * Parameter(node, 0), x = node->value;
  return (half - 1.0) * std::log(0.5 * x) - 0.5 * x - SpecFunc_LogGammafunction(half);
}

double DoubleExp(Graph_Node* node) {
  const double mu = Parameter(node, 0), tau = Parameter(node, 1);
  return std::log(tau) - tau * std::fabs(node->value - mu);
}

double Exponential(Graph_Node* node) {
  const double lambda = Parameter(node, 0);
  return std::log(lambda) - lambda * node->value;
}

double F(Graph_Node* node) {
  const double n = Parameter(node, 0), m = Parameter(node, 1), x = node->value;
  return (0.5 * n - 1.0) * std::log(x) - 0.5 * (n + m) * std::log(1.0 + n * x / m);
}

// Shape r, rate mu.
double Gamma(Graph_Node* node) {
  const double r = Parameter(node, 0), mu = Parameter(node, 1), x = node->value;
  return (r - 1.0) * std::log(mu * x) + std::log(mu) - mu * x;
}

double Gamma1(Graph_Node* node) { return Gamma(node) - SpecFunc_LogGammafunction(Parameter(node, 0)); }

// The number of trials up to and including the first success: 1, 2, ...
double Geometric(Graph_Node* node) {
  double lnP, lnQ;
  Determ_LogProportion(node->parents[0], lnP, lnQ);
  return (node->value - 1.0) * lnQ + lnP;
}

// Location a, rate b.
double Gumbel(Graph_Node* node) {
  const double y = (Parameter(node, 0) - node->value) * Parameter(node, 1);
  return y - std::exp(y);
}

// Location a, rate b.
double Logistic(Graph_Node* node) {
  const double a = Parameter(node, 0), b = Parameter(node, 1);
  const double y = -(node->value - a) * b;
  return std::log(b) + y - 2.0 * LogOnePlusExp(y);
}

double LogNormal(Graph_Node* node) {
  const double mu = Parameter(node, 0), tau = Parameter(node, 1);
  const double lx = std::log(node->value), d = lx - mu;
  return 0.5 * (std::log(tau) - tau * d * d) - lx;
}

// The differences x - mu of a multivariate normal block. It only grows, so
// after the first evaluation of the largest block nothing is allocated.
std::vector<double> differences;

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
    const double d = Graph_Label(node->label + i)->value - ComponentValue(mu + i);
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
  double sum = 0.0;
  for (int32_t i = 0; i < node->size; ++i) {
    const double pi = ComponentValue(p + i);
    sum += Graph_Label(node->label + i)->value * (pi > smallProportion ? std::log(pi) : lnFloor);
  }
  return sum;
}

double NegBin(Graph_Node* node) {
  double lnP, lnQ;
  Determ_LogProportion(node->parents[0], lnP, lnQ);
  return Parameter(node, 1) * lnP + node->value * lnQ;
}

// The variants below add the coefficient that depends on the node's own
// value (and on r): without it the full conditional of an unobserved count,
// or of r, would be wrong.
double NegBin1(Graph_Node* node) {
  const double x = node->value, r = Parameter(node, 1);
  return NegBin(node) + SpecFunc_LogGamma(x + r) - SpecFunc_LogGamma(x + 1.0) - SpecFunc_LogGamma(r);
}

double Multinomial1(Graph_Node* node) {
  double coefficient = 0.0, total = 0.0;
  for (int32_t i = 0; i < node->size; ++i) {
    const double x = Graph_Label(node->label + i)->value;
    coefficient -= SpecFunc_LogGamma(x + 1.0);
    total += x;
  }
  return Multinomial(node) + coefficient + SpecFunc_LogGamma(total + 1.0);
}

// Mean mu, precision tau.
double Normal(Graph_Node* node) {
  const double mu = Parameter(node, 0), tau = Parameter(node, 1), d = node->value - mu;
  return 0.5 * (std::log(tau) - tau * d * d);
}

// Shape alpha, scale c.
double Pareto(Graph_Node* node) {
  const double alpha = Parameter(node, 0), c = Parameter(node, 1), x = node->value;
  return std::log(alpha / x) + alpha * std::log(c / x);
}

double Poisson(Graph_Node* node) {
  double lambda, lnLambda;
  Determ_MeanLogMean(node->parents[0], lambda, lnLambda);
  return node->value * lnLambda - lambda;
}

double Poisson1(Graph_Node* node) { return Poisson(node) - SpecFunc_LogGamma(node->value + 1.0); }

// a x^(a - 1) on (0, 1), the law the forward generator draws from.
double PowerDist(Graph_Node* node) {
  const double a = Parameter(node, 0);
  return std::log(a) + (a - 1.0) * std::log(node->value);
}

double Uniform(Graph_Node* node) { return -std::log(Parameter(node, 1) - Parameter(node, 0)); }

// Shape v, rate lambda.
double Weibull(Graph_Node* node) {
  const double v = Parameter(node, 0), lambda = Parameter(node, 1), x = node->value;
  return std::log(v * lambda) + (v - 1.0) * std::log(x) - lambda * std::pow(x, v);
}

double Zipf(Graph_Node* node) { return -Parameter(node, 0) * std::log(node->value); }

// By identifier; a null entry leaves the node's log density as it is. The
// entries for dbeta, dbin and dgamma are the variants without the
// normalising term, chosen again in Density_SetDensity.
constexpr std::array<Graph_Proc, Distrib_dzipf + 1> procedures = {
    nullptr,      // 0: no distribution
    Bernoulli,    Beta,      Binomial, Cat,      ChiSqr,  // 1..5
    nullptr,      DoubleExp, Exponential, F,     Gamma,   // 6..10, ddirch has none
    Geometric,    Gumbel,    nullptr,  Logistic, LogNormal,  // 11..15, dhypo has none
    MNormal,      Multinomial, NegBin, Normal,   Pareto,  // 16..20
    Poisson,      PowerDist, Uniform,  Weibull,  nullptr,  // 21..25, dwish has none
    Zipf,         // 26
};

bool IsData(const Graph_Node* node, size_t parameter) {
  if (parameter >= node->parents.size()) return false;
  const Graph_Node* p = node->parents[parameter];
  return p != nullptr && p->kind == Graph_data;
}

}  // namespace

void Density_SetDensity() {
  for (int32_t i = 0; i < Graph_totalNumNodes; ++i) {
    Graph_Node* node = Graph_Label(i);
    if (node == nullptr || node->density < 0 || node->density > Distrib_dzipf) continue;
    Graph_Proc procedure = procedures[static_cast<size_t>(node->density)];
    if (procedure == nullptr) continue;
    // A normalising term that depends on a parameter is needed only when
    // that parameter (or, for dbin, the node itself) can change.
    switch (node->density) {
      case Distrib_dbeta:
        if (!IsData(node, 0) || !IsData(node, 1)) procedure = Beta1;
        break;
      case Distrib_dbin:
        if (!IsData(node, 1) || node->kind != Graph_data) procedure = Binomial1;
        break;
      case Distrib_dgamma:
        if (!IsData(node, 0)) procedure = Gamma1;
        break;
      case Distrib_dpois:
        if (node->kind != Graph_data) procedure = Poisson1;
        break;
      case Distrib_dnegbin:
        if (node->kind != Graph_data || !IsData(node, 1)) procedure = NegBin1;
        break;
      case Distrib_dmulti:
        if (node->kind != Graph_data) procedure = Multinomial1;
        break;
      default:
        break;
    }
    node->logDensity = procedure;
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

double Density_LogFullConditional(Graph_Node* node) {
  return node->logDensity(node) + Density_LogLiklihood(node->likelihood);
}
