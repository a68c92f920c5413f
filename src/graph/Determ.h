// Determ: the values of logical nodes. Every read computes the value from
// the parents through the evaluator installed in the node's valueFunction;
// within one read, a node that several paths reach is computed once and
// its value shared. Linear predictors are rewritten at the end of
// compilation into a fast form that can reuse a cached partial sum while one
// node is being updated.
#pragma once

#include <cstdint>
#include <vector>

struct Graph_Node;

// Op-codes of logical code.
enum Determ_Op : int32_t {
  Determ_add = 1, Determ_subtract = 2, Determ_multiply = 3, Determ_divide = 4,
  Determ_cloglog = 5, Determ_cos = 6, Determ_exp = 7,
  Determ_expLink = 8,       // inverse of a log link
  Determ_icloglog = 9,      // inverse of a cloglog link
  Determ_ilogit = 10,       // inverse of a logit link
  Determ_inprod = 11, Determ_log = 12, Determ_logit = 13, Determ_logfact = 14,
  Determ_loggam = 15, Determ_max = 16, Determ_mean = 17, Determ_min = 18,
  Determ_phi = 19,          // also the inverse of a probit link
  Determ_pick = 20, Determ_end = 21, Determ_pow = 22,
  Determ_push = 23,         // the next parent through its value function
  Determ_pushValue = 24,    // the next parent's stored value
  Determ_sd = 25, Determ_sin = 26, Determ_sqrt = 27, Determ_step = 28, Determ_sum = 29,
  Determ_negate = 30, Determ_inverse = 31, Determ_logdet = 32, Determ_equals = 33,
};

// The inverse links of linear predictors.
enum Determ_Link : int32_t { Determ_noLink = 0, Determ_logLink, Determ_logitLink, Determ_cloglogLink, Determ_probitLink };

// What an inverse link computed from the predictor x on the way to its
// value (the procedures that make and read a trace are Ops_StartLink and
// its neighbours):
//   log      a = e^x (the mean);
//   logit    a = e^-|x|;
//   cloglog  a = e^x, b = p = 1 - exp(-a);
//   probit   a = ln Phi(-|x|), the log of the smaller tail, b = its
//            probability e^a.
// b is formed only once it is needed (haveB). A node whose value no link
// gave has the trace noLink with its value in x.
struct Determ_LinkTrace {
  Determ_Link link = Determ_noLink;
  bool haveB = false;
  double x = 0.0;
  double a = 0.0;
  double b = 0.0;
};

constexpr int Determ_stackSize = 10;  // the interpreter's value stack

// The stochastic node a sampler is updating, and whether linear forms may
// use their cached partial sums meanwhile. Each thread sets its own: they
// speak for the update that thread is making.
extern thread_local constinit Graph_Node* Determ_activeNode;
extern thread_local constinit bool Determ_fastLinear;

// What a chain keeps of the linear forms from one update to the next: the
// maintained sums (see Determ_Maintain) and, for every linear form by its
// slot, which term the partial sum in its stored value leaves out: the
// term's position, n (its count of terms) when the value is the whole sum,
// n + 1 when the active node holds more than one term and the fast path
// forms the whole sum.
struct Determ_ChainPart {
  std::vector<double> sums;
  std::vector<int32_t> leftOut;
};
extern thread_local constinit Determ_ChainPart* Determ_part;
// Binds a chain's part to the calling thread.
void Determ_Bind(Determ_ChainPart* part);

void InitDeterm();
// Installs the evaluator chosen by the node's code entry 0.
void Determ_SetValueFunction(Graph_Node* node);
// For a pick node, the number of the node its indices select now; for any
// other node its label.
int32_t Determ_Base(Graph_Node* node);
// The node's value as a mean, with its log (from a log link when one computed it).
void Determ_MeanLogMean(Graph_Node* node, double& mean, double& lnMean);
// The node's value as a proportion p, with ln p and ln(1 - p).
void Determ_LogProportion(Graph_Node* node, double& lnP, double& lnQ);
// The node read by a density that wants logarithms of its value: the trace
// of the link that gives it, or noLink and the value. A linear predictor
// under a link is traced without forming its value, which such a reader
// does not need (Ops_LinkValue forms it from the trace, Ops_ProportionLog
// and Ops_MeanLog the logarithms).
Determ_LinkTrace Determ_Trace(Graph_Node* node);
// A linear form under a logit link as its fast path reads it for the
// active node: the partial sum its stored value holds, and the factor that
// multiplies the active node's value in the one term left out (1 for a
// term that is that value alone), so that partial + t * factor is the
// predictor at t, to the bit. False when the form is under no logit link,
// or its fast path forms anything else: few terms, no single term left
// out, the active node in both factors of its term.
bool Determ_LogitParts(const Graph_Node* form, double& partial, double& factor);
// The predictor of a linear form under a logit link, read as Determ_Trace
// reads it; false, and nothing read, for any other node.
bool Determ_LogitPredictor(Graph_Node* form, double& eta);
// Rewrites every logical node into its fastest evaluator; the last step of compilation.
void Determ_OptDeterm();

// While one exists, all reads of logical nodes count as one read: each node
// is computed at most once and its value reused (the display of a whole
// array reads each element's ancestors once, not once per element). No
// stored value may change while it exists. Scopes may nest; the outermost
// one counts.
class Determ_Snapshot {
 public:
  Determ_Snapshot();
  ~Determ_Snapshot();
  Determ_Snapshot(const Determ_Snapshot&) = delete;
  Determ_Snapshot& operator=(const Determ_Snapshot&) = delete;

 private:
  bool outermost;
};

// Linear forms: sums of stored values and of products of two stored values
// (inner products of stored values among them), made by Determ_OptDeterm.
bool Determ_IsLinearForm(const Graph_Node* node);
// How the form moves with x when x is one of its terms exactly once, alone
// or times a fixed value: that value, or 1. False otherwise.
bool Determ_LinearCoefficient(const Graph_Node* form, const Graph_Node* x, double& coefficient);
// The terms of the form that are not fixed values, counted with repeats.
int32_t Determ_LinearUnknowns(const Graph_Node* form);
// Maintained forms: each holds its whole sum at position i of the bound
// chain's sums (i its position in the list given) and every read returns
// it, so whoever changes one of its unknowns must add the change there (the
// samplers with precomputed full conditionals do).
//
// Maintain and Release switch the shared forms, once for every chain, and
// write no chain's values; the main thread calls them while no chain
// sweeps. Between them each chain forms its sums with Determ_Resum (afresh
// every time, also when called again on the same list), and before Release
// has its forms hold their whole sums again with Determ_Unmaintain, which
// empties its sums.
void Determ_Maintain(const std::vector<Graph_Node*>& forms);
void Determ_Release(const std::vector<Graph_Node*>& forms);
void Determ_Resum(const std::vector<Graph_Node*>& forms);
void Determ_Unmaintain(const std::vector<Graph_Node*>& forms);
