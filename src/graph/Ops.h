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

// The inverse links, each with the logarithms it meets on the way, so that
// densities need not take the log of a rounded proportion or mean. The
// value does not depend on whether the logarithms are wanted.
inline double Ops_ExpLinkLogs(double x, double& lnMean) {
  lnMean = x;
  return std::exp(x);
}

// The logarithms are formed exactly however small the proportion: a floor
// in their place would make the likelihood flat far from the data, where a
// sampler started from a vague prior could then find no way back.
inline double Ops_ICLogLogLogs(double x, double& lnP, double& lnQ) {
  const double e = std::exp(x);
  lnQ = -e;
  const double p = -std::expm1(-e);
  // Below about -745 e underflows; there ln p equals x to rounding.
  lnP = e > 0.0 ? std::log(p) : x;
  return p;
}

// One exponential, of minus |x|, serves the proportion and both logs.
inline double Ops_ILogitLogs(double x, double& lnP, double& lnQ) {
  const double e = std::exp(-std::fabs(x));
  const double l = -std::log1p(e);  // the log of the larger of p and 1 - p
  if (x >= 0.0) {
    lnP = l;
    lnQ = -x + l;
    return 1.0 / (1.0 + e);
  }
  lnQ = l;
  lnP = x + l;
  return e / (1.0 + e);
}

// The smaller tail is taken in logs directly, so either log stays accurate.
inline double Ops_PhiLogs(double x, double& lnP, double& lnQ) {
  if (x <= 0.0) {
    lnP = SpecFunc_LogPhi(x);
    const double p = std::exp(lnP);
    lnQ = std::log(1.0 - p);
    return p;
  }
  lnQ = SpecFunc_LogPhi(x);
  const double q = std::exp(lnQ);
  lnP = std::log(1.0 - q);
  return 1.0 - q;
}

inline double Ops_ExpLink(double x) {
  double lnMean;
  return Ops_ExpLinkLogs(x, lnMean);
}
inline double Ops_ICLogLog(double x) {
  double lnP, lnQ;
  return Ops_ICLogLogLogs(x, lnP, lnQ);
}
inline double Ops_ILogit(double x) {
  double lnP, lnQ;
  return Ops_ILogitLogs(x, lnP, lnQ);
}
inline double Ops_Phi(double x) {
  double lnP, lnQ;
  return Ops_PhiLogs(x, lnP, lnQ);
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
