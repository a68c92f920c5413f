// Ops: the one definition of every operator of logical-node code. A row per
// op-code gives its name, the model-language token it is written with, how
// many operands it takes from the value stack, the procedure that computes
// its value and the rule by which it transforms functional forms. Node
// generation, constant folding, the interpreter and the classification of
// functional forms all read these rows, so a folded expression and the same
// expression evaluated during sampling compute the very same numbers.
//
// The value procedures are inline so that the interpreter, which dispatches
// with a switch on the op-code for speed, calls them without a call through
// a pointer; the pointers in the rows serve the folder and the tests.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "graph/Determ.h"
#include "language/Parser.h"
#include "numerics/SpecFunc.h"

// Two values are equal for equals when they differ by less than this.
constexpr double Ops_equalsTolerance = 1.0E-6;
// log of anything below this is the log of this (log(0) is about -92.1).
constexpr double Ops_logArgFloor = 1.0E-40;

// ---- value procedures

inline double Ops_Add(double a, double b) { return a + b; }
inline double Ops_Subtract(double a, double b) { return a - b; }
inline double Ops_Multiply(double a, double b) { return a * b; }
inline double Ops_Divide(double a, double b) { return a / b; }
inline double Ops_Max(double a, double b) { return a >= b ? a : b; }
inline double Ops_Min(double a, double b) { return a <= b ? a : b; }
inline double Ops_Pow(double a, double b) { return std::pow(a, b); }
inline double Ops_Equals(double a, double b) { return std::fabs(a - b) < Ops_equalsTolerance ? 1.0 : 0.0; }

inline double Ops_CLogLog(double a) { return std::log(-std::log(1.0 - a)); }
inline double Ops_Cos(double a) { return std::cos(a); }
inline double Ops_Exp(double a) { return std::exp(a); }
inline double Ops_Log(double a) { return std::log(a < Ops_logArgFloor ? Ops_logArgFloor : a); }
inline double Ops_Logit(double a) { return -std::log(1.0 / a - 1.0); }
inline double Ops_LogFact(double a) { return SpecFunc_LogGamma(a + 1.0); }
inline double Ops_LogGam(double a) { return SpecFunc_LogGamma(a); }
inline double Ops_Sin(double a) { return std::sin(a); }
inline double Ops_Sqrt(double a) { return std::sqrt(a); }
inline double Ops_Step(double a) { return a < 0.0 ? 0.0 : 1.0; }
inline double Ops_Negate(double a) { return -a; }

// ---- the inverse links
//
// A density reads a proportion or a mean given through a link by its
// logarithms, formed from the predictor x under the link so that they stay
// accurate however small p, 1 - p or the mean is. The link's value and the
// logarithms share their intermediate results (a Determ_LinkTrace), and each
// logarithm is finished only when a density asks for it, so a term costs
// the calls of the maths library its own form needs and no more: a
// Bernoulli term reads one of ln p and ln(1 - p), and with a logit link
// both come from the one exponential and the one logarithm of
// ln(1 + e^x).

// ln(1 + e) for 0 <= e <= 1, within about one unit in the last place.
// The logarithm of the rounded sum u = 1 + e is corrected by the part of e
// the sum lost, (e - (u - 1)) / u, which the subtraction gives exactly. The
// library's plain logarithm with this correction is much quicker than its
// log1p, and every logistic term pays it. The correction is formed first
// so that its division runs while the logarithm is computed.
inline double Ops_LogOnePlus(double e) {
  const double u = 1.0 + e;
  const double lost = (e - (u - 1.0)) / u;
  return std::log(u) + lost;
}

// min(z, 0) for z = x, or z = -x when complement: the part of a logit
// term's logarithm beyond ln(1 + e^-|x|). The sign of z decides by masks
// rather than branches: it follows the data and the predictor, and a branch
// on it would be mispredicted for a large share of the terms.
inline double Ops_LogitBelow(double x, bool complement) {
  const uint64_t bits = std::bit_cast<uint64_t>(x) ^ (static_cast<uint64_t>(complement) << 63);
  const uint64_t negative = static_cast<uint64_t>(static_cast<int64_t>(bits) >> 63);
  return std::bit_cast<double>(bits & negative);
}

// The trace of the link at x without the value: only what every logarithm
// of the link needs.
inline Determ_LinkTrace Ops_StartLink(Determ_Link link, double x) {
  Determ_LinkTrace t;
  t.link = link;
  t.x = x;
  switch (link) {
    case Determ_logLink:
    case Determ_cloglogLink: t.a = std::exp(x); break;
    case Determ_logitLink: t.a = std::exp(-std::fabs(x)); break;
    case Determ_probitLink: t.a = SpecFunc_LogPhi(x); break;
    case Determ_noLink: break;
  }
  return t;
}

inline void Ops_FinishB(Determ_LinkTrace& t) {
  if (t.haveB) return;
  t.b = t.link == Determ_probitLink ? std::exp(t.a) : -std::expm1(-t.a);
  t.haveB = true;
}

// The value of the link whose trace this is.
inline double Ops_LinkValue(Determ_LinkTrace& t) {
  switch (t.link) {
    case Determ_logitLink: return t.x >= 0.0 ? 1.0 / (1.0 + t.a) : t.a / (1.0 + t.a);
    case Determ_cloglogLink: Ops_FinishB(t); return t.b;
    case Determ_probitLink: Ops_FinishB(t); return t.x <= 0.0 ? t.b : 1.0 - t.b;
    case Determ_logLink: return t.a;
    case Determ_noLink: break;
  }
  return t.x;
}

// Stands in for the log of a proportion or mean of 0.
constexpr double Ops_lnFloor = -1.0E10;

// ln p, or ln(1 - p) when complement, of the proportion a trace gives.
//   logit: one logarithm, ln(1 + e^-|x|), is minus the log of the larger of
//     p and 1 - p; the other is x or -x below it. With z = x for p and -x
//     for 1 - p the log is min(z, 0) - ln(1 + e^-|z|), which needs no
//     branch on the sign of x.
//   cloglog: ln(1 - p) is -e^x with no further call; ln p is the log of p,
//     which equals x to rounding where e^x underflows (below about -745).
//   probit: the smaller tail's log is at hand; the other is ln(1 - tail).
//   no proportion link: the logs of the value, Ops_lnFloor for the log of 0.
// The logarithms are formed exactly however small the proportion: a floor
// in their place would make the likelihood flat far from the data, where a
// sampler started from a vague prior could then find no way back.
inline double Ops_ProportionLog(Determ_LinkTrace& t, bool complement) {
  switch (t.link) {
    case Determ_logitLink: return Ops_LogitBelow(t.x, complement) - Ops_LogOnePlus(t.a);
    case Determ_cloglogLink:
      if (complement) return -t.a;
      Ops_FinishB(t);
      return t.a > 0.0 ? std::log(t.b) : t.x;
    case Determ_probitLink:
      if (complement == (t.x > 0.0)) return t.a;
      Ops_FinishB(t);
      return std::log(1.0 - t.b);
    case Determ_logLink:
    case Determ_noLink: break;
  }
  const double p = Ops_LinkValue(t);
  if (complement) return p < 1.0 ? std::log1p(-p) : Ops_lnFloor;
  return p > 0.0 ? std::log(p) : Ops_lnFloor;
}

// Both logarithms, sharing what they can: a logit link's two cost one
// logarithm between them.
inline void Ops_ProportionLogs(Determ_LinkTrace& t, double& lnP, double& lnQ) {
  if (t.link == Determ_logitLink) {
    const double l = Ops_LogOnePlus(t.a);
    lnP = (t.x < 0.0 ? t.x : 0.0) - l;
    lnQ = (t.x > 0.0 ? -t.x : 0.0) - l;
    return;
  }
  lnP = Ops_ProportionLog(t, false);
  lnQ = Ops_ProportionLog(t, true);
}

// The log of a traced mean whose value is mean: the predictor under a log
// link, else the log of the value, Ops_lnFloor for the log of 0.
inline double Ops_MeanLog(const Determ_LinkTrace& t, double mean) {
  if (t.link == Determ_logLink) return t.x;
  return mean > 0.0 ? std::log(mean) : Ops_lnFloor;
}

inline double Ops_ExpLink(double x) { return std::exp(x); }
inline double Ops_ICLogLog(double x) {
  Determ_LinkTrace t = Ops_StartLink(Determ_cloglogLink, x);
  return Ops_LinkValue(t);
}
inline double Ops_ILogit(double x) {
  Determ_LinkTrace t = Ops_StartLink(Determ_logitLink, x);
  return Ops_LinkValue(t);
}
inline double Ops_Phi(double x) {
  Determ_LinkTrace t = Ops_StartLink(Determ_probitLink, x);
  return Ops_LinkValue(t);
}

// ---- the rows

// How an operator transforms the functional forms of its operands (which
// rule table of the classification applies). keepConstant: a constant stays
// the constant it was, anything else becomes general.
enum Ops_FormRule : int8_t {
  Ops_keepConstant,
  Ops_plusForm, Ops_minusForm, Ops_multForm, Ops_divForm, Ops_powForm, Ops_maxForm, Ops_minForm,
  Ops_equalsForm,
  Ops_expForm, Ops_invLinkForm, Ops_linkForm, Ops_cosForm, Ops_sinForm, Ops_stepForm, Ops_negateForm,
};
constexpr int Ops_numFormRules = Ops_negateForm + 1;

struct Ops_Row {
  const char* name;   // as written in a model; "" for codes that are no operator
  int32_t token;      // the parse-tree kind written with it; 0 for none
  int32_t arity;      // operands taken from the value stack: 1 or 2; 0 when no operator
  double (*unary)(double);           // the value, for arity 1
  double (*binary)(double, double);  // the value, for arity 2
  Ops_FormRule form;
  bool link;          // an inverse link, which also leaves the logs it met
};

constexpr int32_t Ops_numCodes = Determ_equals + 1;

namespace ops_detail {
constexpr Ops_Row None(const char* name) { return {name, 0, 0, nullptr, nullptr, Ops_keepConstant, false}; }
constexpr Ops_Row One(const char* name, int32_t token, double (*f)(double), Ops_FormRule form, bool link = false) {
  return {name, token, 1, f, nullptr, form, link};
}
constexpr Ops_Row Two(const char* name, int32_t token, double (*f)(double, double), Ops_FormRule form) {
  return {name, token, 2, nullptr, f, form, false};
}
}  // namespace ops_detail

// Indexed by op-code.
inline constexpr std::array<Ops_Row, Ops_numCodes> Ops_rows = [] {
  using namespace ops_detail;
  std::array<Ops_Row, Ops_numCodes> r{};
  for (Ops_Row& row : r) row = None("");
  r[Determ_add] = Two("+", Scanner_plus, Ops_Add, Ops_plusForm);
  r[Determ_subtract] = Two("-", Scanner_minus, Ops_Subtract, Ops_minusForm);
  r[Determ_multiply] = Two("*", Scanner_times, Ops_Multiply, Ops_multForm);
  r[Determ_divide] = Two("/", Scanner_slash, Ops_Divide, Ops_divForm);
  r[Determ_cloglog] = One("cloglog", Scanner_cloglog, Ops_CLogLog, Ops_linkForm);
  r[Determ_cos] = One("cos", Scanner_cos, Ops_Cos, Ops_cosForm);
  r[Determ_exp] = One("exp", Scanner_exp, Ops_Exp, Ops_expForm);
  r[Determ_expLink] = One("exp", Parser_inverseLog, Ops_ExpLink, Ops_expForm, true);
  r[Determ_icloglog] = One("icloglog", Parser_inverseCloglog, Ops_ICLogLog, Ops_invLinkForm, true);
  r[Determ_ilogit] = One("ilogit", Parser_inverseLogit, Ops_ILogit, Ops_invLinkForm, true);
  r[Determ_inprod] = None("inprod");
  r[Determ_log] = One("log", Scanner_log, Ops_Log, Ops_linkForm);
  r[Determ_logit] = One("logit", Scanner_logit, Ops_Logit, Ops_linkForm);
  r[Determ_logfact] = One("logfact", Scanner_logfact, Ops_LogFact, Ops_keepConstant);
  r[Determ_loggam] = One("loggam", Scanner_loggam, Ops_LogGam, Ops_keepConstant);
  r[Determ_max] = Two("max", Scanner_max, Ops_Max, Ops_maxForm);
  r[Determ_mean] = None("mean");
  r[Determ_min] = Two("min", Scanner_min, Ops_Min, Ops_minForm);
  // Also the inverse of a probit link, written with the same token.
  r[Determ_phi] = One("phi", Scanner_phi, Ops_Phi, Ops_invLinkForm, true);
  r[Determ_pick] = None("pick");
  r[Determ_pow] = Two("pow", Scanner_pow, Ops_Pow, Ops_powForm);
  r[Determ_sd] = None("sd");
  r[Determ_sin] = One("sin", Scanner_sin, Ops_Sin, Ops_sinForm);
  r[Determ_sqrt] = One("sqrt", Scanner_sqrt, Ops_Sqrt, Ops_keepConstant);
  r[Determ_step] = One("step", Scanner_step, Ops_Step, Ops_stepForm);
  r[Determ_sum] = None("sum");
  r[Determ_negate] = One("-", Parser_negate, Ops_Negate, Ops_negateForm);
  r[Determ_inverse] = None("inverse");
  r[Determ_logdet] = None("logdet");
  r[Determ_equals] = Two("equals", Scanner_equalsFn, Ops_Equals, Ops_equalsForm);
  return r;
}();

// The row of an op-code; codes outside the table get the row of code 0,
// which is no operator.
constexpr const Ops_Row& Ops_Of(int64_t op) {
  return op > 0 && op < Ops_numCodes ? Ops_rows[static_cast<size_t>(op)] : Ops_rows[0];
}

// The op-code written for a parse-tree kind (an operator token or a
// function keyword), or 0 when the kind is no operator of general code.
int32_t Ops_FromToken(int32_t kind);
