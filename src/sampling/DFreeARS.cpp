// DFreeARS: derivative-free adaptive rejection sampling of one node whose log
// full conditional h is concave.
//
// A draw works on points (x, h(x)) kept in increasing x. Because h is
// concave, the chord (secant) through two neighbouring points lies above h
// outside its own interval and below it inside. The envelope takes on every
// interval between points the lower of the two chords that reach it from
// either side, and beyond the outermost points the outermost chords; it is
// piecewise linear, so its exponential is sampled exactly. A candidate is
// accepted by the squeeze (the chord below it) or by one evaluation of h,
// and every evaluation adds a point, so the envelope tightens as it goes.
//
// The support is the node's own, as its distribution's row gives it (dbeta
// and dpow on (0, 1), the positive densities above 0, dunif and dpar within
// their limits), cut down by the bounds the model gives it; a prior on the
// whole line stays on the whole line, whatever its terms' class, and the
// terms end it where they stop allowing the node. Where the support ends on
// a side, the envelope ends there too; on a free side the outermost chord must fall away, and points are
// added until it does steeply enough. A point where h is not a finite
// number (outside the support of a log-concave density, which is an
// interval) ends the support on its side.
//
// Failures. On a support with a finite end, a draw whose mode could not be
// found or whose candidates were all rejected is replaced by one
// independence Metropolis step over a grid of the log full conditional on
// the support, which leaves the full conditional invariant; only when that
// too finds no point of finite density does the update fail. On the whole
// line there is no such grid, and the update fails. A failed update leaves
// the node's value as it was and gives its reason through Samplers_Fail.
#include "sampling/DFreeARS.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "graph/CodeGen.h"
#include "graph/Density.h"
#include "graph/Determ.h"
#include "numerics/RandNum.h"
#include "sampling/Maximize.h"
#include "store/Distrib.h"

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

constexpr int maxPoints = 50;
// Vertices of the envelope of n points: 0 .. 2n (see the hull below).
constexpr int hullSize = 2 * maxPoints + 1;

// Budgets. Every loop that evaluates h has one, so no draw can run on.
constexpr int32_t searchBudget = 50;  // to bracket the mode, and again to locate it
constexpr int walkBudget = 50;        // the climb of a bounded start
constexpr int tailBudget = 50;        // points added to make one tail fall away
constexpr int maxCandidates = 50;
constexpr int flatBudget = 50;
constexpr int fillBudget = 20;

constexpr double golden = 1.618034;
constexpr double firstStep = 0.1;
// The mode is located when both neighbours of the best point are within
// this many log units of it: near enough for the envelope to take over.
constexpr double locateTolerance = 10.0;
// A point this far below the best one at a still-rising end is dropped and
// becomes a finite end of the envelope: the mass beyond it is negligible.
constexpr double trimDepth = 25.0;
// How steeply, in log units per unit of x, the outermost chord of a free
// tail must rise towards the inside: on the whole line, and on a free side
// of a support bounded on the other.
constexpr double fullTailRise = 1.0;
constexpr double oneSidedTailRise = 0.1;
// A climb towards a bound stops when h could rise by less than this up to it.
constexpr double nearBoundRise = 10.0;
// A point this far below the best one counts as outside the support: its
// relative density, e^-cliff, is nothing in double precision, and by
// concavity so is all beyond it. The log densities hold an impossible
// value (a probability of 0 under a link) about 1.0E10 below a possible
// one, so this also marks the edge of the values the likelihood allows.
constexpr double cliff = 1.0E9;
constexpr double parallel = 1.0E-10;  // chords whose slopes differ by less meet nowhere useful
constexpr double flat = 1.0E-10;      // envelope values that differ by less make a flat piece

constexpr std::array<double, 4> centileLevels = {0.125, 0.4, 0.6, 0.875};
constexpr std::array<double, 4> flatCentiles = {0.15, 0.25, 0.75, 0.85};

// The fall-back Metropolis step: grid nodes at the centres of this many
// equal cells of the (mapped) support; nodes more than gridFloor below the
// best are lifted to it so that the proposal reaches every part of the
// support. A half-line is mapped onto (0, 1) by t / (1 - t) at this scale.
constexpr int gridSize = 256;
constexpr double gridFloor = 30.0;
constexpr double halfLineScale = 1.0;
// Steps taken, while the node's value has no finite density, to reach one that has.
constexpr int fallBackSteps = 20;

constexpr const char* bracketText = "Can not bracket mode of sampling density.";
constexpr const char* locateText = "Can not locate mode of sampling density.";
constexpr const char* budgetText = "Allowed number of function evaluations exceeded for ARS.";

// --- Module state: one draw at a time ---------------------------------------
//
// All of it lives within one draw; each thread that sweeps has its own.
// What a node keeps from one draw to the next (its centiles) is in the
// chain's Samplers_State.

thread_local constinit Graph_Node* node = nullptr;

// How steeply a free tail's outermost chord must rise towards the inside
// in this draw: fullTailRise on the whole line, else oneSidedTailRise.
thread_local constinit double tailRise = fullTailRise;

// The node's own normal term, read once per draw.
thread_local constinit bool normalPrior = false;
thread_local constinit double mu = 0.0, tau = 0.0;

// Fall-back grid: log density at the nodes, cumulative areas of the pieces.
thread_local constinit std::array<double, gridSize> gridLog{};
thread_local constinit std::array<double, gridSize + 2> gridArea{};

// Linear predictors may use the partial sums they keep for the active node
// only between the first evaluation of a draw and its end; on every way out
// the fast path is off and the active node is the one before.
// The likelihood of a node whose terms are all Bernoulli under a logit link
// of a linear form is summed, after the first evaluation of a draw, from
// the terms' partial sums gathered then (logitTerms): the same sum, formed
// without reading each term through its node.
thread_local constinit bool logitTerms = false;
thread_local Density_LogitTerms gathered;

class FastPathScope {
 public:
  FastPathScope() : previous_(Determ_activeNode) {
    Determ_fastLinear = false;
    logitTerms = false;
  }
  ~FastPathScope() {
    Determ_fastLinear = false;
    logitTerms = false;
    Determ_activeNode = previous_;
  }
  FastPathScope(const FastPathScope&) = delete;
  FastPathScope& operator=(const FastPathScope&) = delete;

 private:
  Graph_Node* previous_;
};

// --- Evaluation --------------------------------------------------------------

// h at t, not stored. The node's own term of a normal node comes from the
// cached mu and tau. The likelihood is summed over every term, with no
// early stop: the first evaluation of a draw, made with the fast path off,
// must reach every linear predictor the node enters so that each keeps its
// partial sum for this node; and a sum already far below anything possible
// still tells by how much, which guides the search for the mode. A value
// that is not a number, or +inf, which no log-concave density reaches,
// counts as outside the support.
double Value(double t) {
  Graph_Own(node) = t;
  double h;
  if (normalPrior) {
    const double d = mu - t;
    h = -0.5 * d * d * tau;
  } else {
    h = node->logDensity(node);
  }
  if (logitTerms) {
    h = Density_SumLogitTerms(gathered, t, h);
  } else if (!Determ_fastLinear) {
    h = Density_FirstLogitTerms(node->likelihood, gathered, h, logitTerms);
  } else {
    for (Graph_Node* term : node->likelihood) h += term->logDensity(term);
  }
  Determ_fastLinear = true;
  return h < infinity ? h : -infinity;
}

// --- Helpers of the envelope -------------------------------------------------

inline size_t At(int i) { return static_cast<size_t>(i); }

inline bool Close(double a, double b) {
  return std::fabs(a - b) <= 4.0 * std::numeric_limits<double>::epsilon() * std::max(std::fabs(a), std::fabs(b));
}

// The integral of exp over a piece of this width on which the log runs
// linearly between ua and ub, formed from the higher end so that nothing
// is lost to rounding where the exponential is largest. Nearly equal ends
// make a flat piece: the width times the exponential of the common value.
double PieceArea(double width, double ua, double ub) {
  if (!(width > 0.0)) return 0.0;
  const double high = std::max(ua, ub), fall = std::fabs(ub - ua);
  if (fall < flat) return width * std::exp(0.5 * (ua + ub));
  return width * std::exp(high) * (-std::expm1(-fall) / fall);
}

// a e^-u, without overflow when both are extreme.
inline double Scaled(double a, double u) { return a > 0.0 ? std::exp(std::log(a) - u) : 0.0; }

// The point of a piece from zl to zr, on which the log runs linearly from ul
// to ur, with `below` of the piece's `area` to its left: the integral of
// the exponential is inverted from the higher end.
double InvertPiece(double zl, double zr, double ul, double ur, double below, double area) {
  const double width = zr - zl;
  if (!(width > 0.0)) return zl;
  const double d = ur - ul;
  double t;
  if (d > 0.0) {  // rising: measured back from the right
    const double r = Scaled(std::max(area - below, 0.0), ur);
    const double s = d / width;
    t = d < flat ? zr - r : zr + std::log1p(-std::min(r * s, 1.0)) / s;
  } else {
    const double r = Scaled(std::max(below, 0.0), ul);
    const double s = d / width;
    t = -d < flat ? zl + r : zl + std::log1p(std::max(r * s, -1.0)) / s;
  }
  if (!(t >= zl)) t = zl;
  if (!(t <= zr)) t = zr;
  return t;
}

// A point drawn from the envelope.
struct Candidate {
  double x = 0.0;
  double upper = 0.0;    // the envelope at x
  double squeeze = 0.0;  // the chord below x, when squeezed
  bool squeezed = false;
};

// --- The hull: the points of one draw and their envelope ---------------------
//
// Everything is counted from 0. The points are (x[k], y[k]), k = 0 .. n - 1,
// x increasing. Chord k runs through points k and k + 1. The envelope is
// piecewise linear; its vertices, in increasing z, are at the positions
//   0           the finite lower end (unused when the left tail is free),
//   2k + 1      point k,
//   2k + 2      where the chords about the interval (x[k], x[k + 1]) meet,
//   2n          the finite upper end (unused when the right tail is free),
// and piece p (1 .. 2n) runs from vertex p - 1 to vertex p. Pieces 1 and 2n
// are the tails: along chord 0 and chord n - 2 to the end, or without end
// when the tail is free. Pieces 2 and 2n - 1 are empty: between the first
// two points only the chord on their right bounds h, so their meeting
// point is put at the first point, and likewise at the last.
//
// The storage is fixed; a draw only rewrites it.
struct Hull {
  // The points, and the largest log density seen since they were reset.
  int n = 0;
  std::array<double, maxPoints> x{}, y{};
  double yMax = -infinity;

  // The ends: whether the envelope stops at a finite end, and where.
  bool lBounded = false, uBounded = false;
  double lowerBound = 0.0, upperBound = 0.0;

  // The last envelope built: the slope of each chord, the vertices
  // (abscissae, values on the log scale less uMax), and the area under
  // exp(u) from the left up to each vertex. Slopes rather than their
  // reciprocals are kept: the chord through two points of equal height has
  // a slope of 0 but no finite reciprocal.
  std::array<double, maxPoints - 1> chord{};
  std::array<double, hullSize> z{}, u{}, area{};
  double uMax = 0.0;
  int top = 0;  // the last vertex (2n) of the last envelope built; 0 when there is none
  const char* fault = "";

  static int PointAt(int k) { return 2 * k + 1; }
  static int MeetAt(int k) { return 2 * k + 2; }
  // The slope of the outermost chord on the right of the last envelope.
  double LastChord() const { return chord[At(top / 2 - 2)]; }

  void Reset(bool lower, double lowerEnd, bool upper, double upperEnd);
  void Insert(double t, double h);
  bool Build();
  Candidate Sample(double p) const;

 private:
  bool Admits(double t, double h);
  bool Place(double t, double h);
  void TrimEnds();
  void RemoveFirst();
  bool Chords();
  void Ends();
  void Intersections();
  bool Normalise();
  bool Areas();
  int Piece(double target) const;
  void PointIn(int k, double target, Candidate& c) const;
  double Squeeze(int k, double t) const;
};

thread_local constinit Hull hull;

void Hull::Reset(bool lower, double lowerEnd, bool upper, double upperEnd) {
  n = 0;
  yMax = -infinity;
  lBounded = lower;
  uBounded = upper;
  lowerBound = lower ? lowerEnd : 0.0;
  upperBound = upper ? upperEnd : 0.0;
  top = 0;
}

// Adds a point. A point outside the support found so far, or on top of a
// stored one, adds nothing. With maxPoints stored the top one is lost.
void Hull::Insert(double t, double h) {
  if (!Admits(t, h)) return;
  if (n == 0) {
    n = 1;
    x[0] = t;
    y[0] = h;
    yMax = h;
    return;
  }
  if (Place(t, h)) TrimEnds();
}

// Whether a point may join the stored ones; the ends of the support move
// with what it shows.
bool Hull::Admits(double t, double h) {
  if (!std::isfinite(t) || (lBounded && t < lowerBound) || (uBounded && t > upperBound)) return false;
  if (n > 0 && h - cliff > yMax) {
    // Every stored point is a cliff below the new one: the nearest on
    // either side becomes an end of the support, and all go.
    int i = 0;
    while (i < n && x[At(i)] < t) ++i;
    if (i > 0 && (!lBounded || x[At(i - 1)] > lowerBound)) {
      lBounded = true;
      lowerBound = x[At(i - 1)];
    }
    if (i < n && (!uBounded || x[At(i)] < upperBound)) {
      uBounded = true;
      upperBound = x[At(i)];
    }
    n = 0;
  }
  if (n > 0 && !(h >= yMax - cliff)) {
    // Zero density, or as good as zero. The support of a log-concave
    // density is an interval: beyond such a point on the far side of a
    // stored one there is none.
    if (t < x[0]) {
      lBounded = true;
      lowerBound = t;
    } else if (t > x[At(n - 1)]) {
      uBounded = true;
      upperBound = t;
    }
    return false;
  }
  return h != -infinity;
}

// Puts the point in its place among the stored ones; false, storing
// nothing, when it is on top of one.
bool Hull::Place(double t, double h) {
  int i = 0;
  while (i < n && x[At(i)] < t) ++i;
  if ((i < n && Close(x[At(i)], t)) || (i > 0 && Close(x[At(i - 1)], t))) return false;
  if (n < maxPoints) ++n;
  if (h > yMax) yMax = h;
  if (i > n - 1) i = n - 1;
  for (int k = n - 1; k > i; --k) {
    x[At(k)] = x[At(k - 1)];
    y[At(k)] = y[At(k - 1)];
  }
  x[At(i)] = t;
  y[At(i)] = h;
  return true;
}

// A point far below the best at a still-rising end is dropped and becomes a
// finite end of the envelope.
void Hull::TrimEnds() {
  while (n >= 4 && y[0] - yMax < -trimDepth && y[1] < y[2]) {
    lBounded = true;
    lowerBound = x[0];
    RemoveFirst();
  }
  while (n >= 4 && y[At(n - 1)] - yMax < -trimDepth && y[At(n - 3)] > y[At(n - 2)]) {
    uBounded = true;
    upperBound = x[At(n - 1)];
    --n;
  }
}

void Hull::RemoveFirst() {
  for (int k = 0; k < n - 1; ++k) {
    x[At(k)] = x[At(k + 1)];
    y[At(k)] = y[At(k + 1)];
  }
  --n;
}

// Builds the envelope of the stored points. False when there is no proper
// envelope: fewer than three points, a free tail that does not fall away,
// or values that are not finite.
bool Hull::Build() {
  top = 0;
  if (n < 3) {
    fault = "fewer than three points of finite density were found";
    return false;
  }
  if (!Chords()) return false;
  Ends();
  Intersections();
  if (!Normalise() || !Areas()) return false;
  top = 2 * n;
  return true;
}

// The chords' slopes, and the points as vertices. False when a free tail's
// outermost chord does not fall away.
bool Hull::Chords() {
  for (int k = 0; k < n; ++k) {
    z[At(PointAt(k))] = x[At(k)];
    u[At(PointAt(k))] = y[At(k)];
  }
  for (int k = 0; k < n - 1; ++k) chord[At(k)] = (y[At(k + 1)] - y[At(k)]) / (x[At(k + 1)] - x[At(k)]);
  if (!lBounded && !(chord[0] > 0.0)) {
    fault = "the log density does not fall away to the left";
    return false;
  }
  if (!uBounded && !(chord[At(n - 2)] < 0.0)) {
    fault = "the log density does not fall away to the right";
    return false;
  }
  return true;
}

// The finite ends, on the outermost chords extended to them.
void Hull::Ends() {
  const int end = 2 * n;
  if (lBounded) {
    z[0] = lowerBound;
    u[0] = u[1] - (z[1] - z[0]) * chord[0];
  }
  if (uBounded) {
    z[At(end)] = upperBound;
    u[At(end)] = u[At(end - 1)] + (z[At(end)] - z[At(end - 1)]) * chord[At(n - 2)];
  }
}

// Where the chords from the left and from the right meet between each two
// neighbouring points. Between the first two points only the chord on their
// right bounds h (extended back to the first point), and between the last
// two only the chord on their left. Should rounding carry a meeting point
// outside its interval, it is held at the nearer point and the higher of
// the two chords taken there, which still lies above both.
void Hull::Intersections() {
  const int first = MeetAt(0), last = MeetAt(n - 2);
  z[At(first)] = x[0];
  u[At(first)] = u[3] - (z[3] - z[At(first)]) * chord[1];
  z[At(last)] = x[At(n - 1)];
  u[At(last)] = u[At(last - 1)] + (z[At(last)] - z[At(last - 1)]) * chord[At(n - 3)];
  for (int k = 1; k <= n - 3; ++k) {
    const int i = MeetAt(k);
    const double zl = z[At(i - 1)], zr = z[At(i + 1)], ul = u[At(i - 1)], ur = u[At(i + 1)];
    const double sl = chord[At(k - 1)], sr = chord[At(k + 1)];
    double zi = 0.5 * (zl + zr);
    if (sl - sr > parallel) {
      zi = zl + ((ur - ul) - sr * (zr - zl)) / (sl - sr);
      if (!(zi >= zl)) zi = zl;
      if (!(zi <= zr)) zi = zr;
    }
    z[At(i)] = zi;
    u[At(i)] = std::max(ul + sl * (zi - zl), ur + sr * (zi - zr));
  }
}

// Subtracts the largest value from the envelope's, so that its exponential
// cannot overflow. False when a vertex in use is not finite.
bool Hull::Normalise() {
  const int end = 2 * n;
  const int first = lBounded ? 0 : 1, last = uBounded ? end : end - 1;
  uMax = -infinity;
  for (int k = first; k <= last; ++k) {
    if (!std::isfinite(u[At(k)]) || !std::isfinite(z[At(k)])) {
      fault = "the envelope's values are not finite numbers";
      return false;
    }
    uMax = std::max(uMax, u[At(k)]);
  }
  for (int k = first; k <= last; ++k) u[At(k)] -= uMax;
  return true;
}

// The cumulative areas under the pieces. A free tail along a chord of
// slope s from the value u has the area e^u / |s|.
bool Hull::Areas() {
  const int end = 2 * n;
  area[0] = 0.0;
  area[1] = lBounded ? PieceArea(z[1] - z[0], u[0], u[1]) : std::exp(u[1]) / chord[0];
  area[2] = area[1];
  for (int k = 3; k <= end - 2; ++k)
    area[At(k)] = area[At(k - 1)] + PieceArea(z[At(k)] - z[At(k - 1)], u[At(k - 1)], u[At(k)]);
  area[At(end - 1)] = area[At(end - 2)];
  area[At(end)] = area[At(end - 1)] + (uBounded ? PieceArea(z[At(end)] - z[At(end - 1)], u[At(end - 1)], u[At(end)])
                                                : std::exp(u[At(end - 1)]) / -chord[At(n - 2)]);
  if (!(std::isfinite(area[At(end)]) && area[At(end)] > 0.0)) {
    fault = "the envelope's area is not a positive finite number";
    return false;
  }
  return true;
}

// The point of the last envelope below which the fraction p of its area
// lies, with the envelope there and, between the outermost points, the
// squeeze. In the free tails the result may be infinite when p is at the
// limit of rounding.
Candidate Hull::Sample(double p) const {
  const double target = p * area[At(top)];
  const int k = Piece(target);
  Candidate c;
  PointIn(k, target, c);
  c.upper += uMax;
  c.squeezed = k > 1 && k < top;
  if (c.squeezed) c.squeeze = Squeeze(k, c.x);
  return c;
}

// The piece in which the cumulative area reaches the target.
int Hull::Piece(double target) const {
  int k = 1;
  while (k < top && !(target < area[At(k)])) ++k;
  return k;
}

// The point of piece k at which the cumulative area reaches the target, and
// the envelope there (less uMax).
void Hull::PointIn(int k, double target, Candidate& c) const {
  if (k == 1 && !lBounded) {
    const double s = chord[0];
    const double r = Scaled(std::max(area[1] - target, 0.0), u[1]);
    c.x = z[1] + std::log1p(-std::min(r * s, 1.0)) / s;
    c.upper = u[1] + s * (c.x - z[1]);
  } else if (k == top && !uBounded) {
    const double s = LastChord();
    const double r = Scaled(std::max(target - area[At(top - 1)], 0.0), u[At(top - 1)]);
    c.x = z[At(top - 1)] + std::log1p(std::max(r * s, -1.0)) / s;
    c.upper = u[At(top - 1)] + s * (c.x - z[At(top - 1)]);
  } else {
    const double zl = z[At(k - 1)], zr = z[At(k)], ul = u[At(k - 1)], ur = u[At(k)];
    c.x = InvertPiece(zl, zr, ul, ur, target - area[At(k - 1)], area[At(k)] - area[At(k - 1)]);
    c.upper = zr > zl ? ul + (ur - ul) * (c.x - zl) / (zr - zl) : std::max(ul, ur);
  }
}

// The squeeze at t in piece k (2 .. 2n - 1): the chord below it, through
// the two points about the piece.
double Hull::Squeeze(int k, double t) const {
  const int j = k / 2 - 1;
  return y[At(j)] + (t - x[At(j)]) * (y[At(j + 1)] - y[At(j)]) / (x[At(j + 1)] - x[At(j)]);
}

// --- Evaluation with storage -------------------------------------------------

// Every evaluation of a draw: h at t, stored. Its signature is the one the
// mode search takes.
double Evaluate(double t) {
  const double h = Value(t);
  hull.Insert(t, h);
  return h;
}

// --- Drawing -----------------------------------------------------------------

enum class Step { ok, bracket, locate, notFinite, hull, candidates };

// Golden-section location of the mode inside a bracket. A side a cliff
// below the middle (outside the support, or where the likelihood leaves the
// values it allows) never comes within the tolerance however narrow the
// bracket grows: the mode sits at that edge of the support, which the
// narrowing has closed in on, and the support ends there.
Step Locate(double a, double b, double c, double fa, double fb, double fc) {
  if (!(fb > -infinity)) return Step::notFinite;
  int32_t count = searchBudget;
  Maximize_LocateMode(a, b, c, fa, fb, fc, locateTolerance, Evaluate, count);
  const bool left = fb - fa < locateTolerance || !(fb - fa <= cliff);
  const bool right = fb - fc < locateTolerance || !(fb - fc <= cliff);
  return left && right ? Step::ok : Step::locate;
}

// An envelope needs three points. When the support has closed in around
// fewer, points are added at the middle of the widest gap between them
// and the ends, or a step beyond a free end.
void Fill() {
  const auto& x = hull.x;
  for (int tries = 0; tries < fillBudget && hull.n > 0 && hull.n < 3; ++tries) {
    const int n = hull.n;
    double at = 0.0, widest = 0.0;
    if (hull.lBounded && x[0] - hull.lowerBound > widest)
      widest = x[0] - hull.lowerBound, at = hull.lowerBound + 0.5 * widest;
    if (hull.uBounded && hull.upperBound - x[At(n - 1)] > widest)
      widest = hull.upperBound - x[At(n - 1)], at = x[At(n - 1)] + 0.5 * widest;
    for (int k = 0; k < n - 1; ++k)
      if (x[At(k + 1)] - x[At(k)] > widest) widest = x[At(k + 1)] - x[At(k)], at = x[At(k)] + 0.5 * widest;
    if (!hull.lBounded) {
      at = x[0] - firstStep;
    } else if (!hull.uBounded) {
      at = x[At(n - 1)] + firstStep;
    } else if (!(widest > 0.0)) {
      return;
    }
    Evaluate(at);
  }
}

// Points added beyond each free end until its chord rises towards the
// inside by `rise` per unit of x, or the end becomes bounded by trimming.
void Tails(double rise) {
  const auto &x = hull.x, &y = hull.y;
  for (int i = 0; i < tailBudget && !hull.lBounded && hull.n >= 2 && y[1] - y[0] < rise * (x[1] - x[0]); ++i)
    Evaluate(x[0] - golden * (x[1] - x[0]));
  for (int i = 0; i < tailBudget && !hull.uBounded && hull.n >= 2 &&
                  y[At(hull.n - 2)] - y[At(hull.n - 1)] < rise * (x[At(hull.n - 1)] - x[At(hull.n - 2)]);
       ++i)
    Evaluate(x[At(hull.n - 1)] + golden * (x[At(hull.n - 1)] - x[At(hull.n - 2)]));
}

// The points an envelope needs after the start, or after a point a cliff
// above all the others (on a likelihood that rules out every value near
// the start, a value that it rules out less) has replaced them.
void Replenish() {
  Fill();
  Tails(tailRise);
}

// Whether a candidate is accepted, given w, the log of a uniform draw: by
// the squeeze when it decides, otherwise by one evaluation of h, which adds
// the candidate to the points.
bool Accepts(const Candidate& c, double w) {
  if (c.squeezed && c.squeeze - c.upper > w) return true;
  return Evaluate(c.x) - c.upper > w;
}

// The rejection loop: at most maxCandidates candidates.
Step Ars(double& result) {
  for (int tries = 0; tries < maxCandidates; ++tries) {
    if (hull.n < 3) Replenish();
    if (!hull.Build()) return Step::hull;
    const Candidate c = hull.Sample(RandNum_Rand());
    const double w = std::log(RandNum_Rand());
    if (!std::isfinite(c.x)) continue;  // a tail draw at the limit of rounding
    if (Accepts(c, w)) {
      result = c.x;
      return Step::ok;
    }
  }
  return Step::candidates;
}

// Stored centiles that can start a draw: finite, increasing, inside the support.
bool UsableCentiles(const Samplers_Sampler& s) {
  if (!Samplers_StateOf(s).haveCentiles) return false;
  for (size_t i = 0; i < 4; ++i) {
    const double c = Samplers_StateOf(s).centiles[i];
    if (!std::isfinite(c) || (i > 0 && !(c > Samplers_StateOf(s).centiles[i - 1]))) return false;
    if ((hull.lBounded && !(c > hull.lowerBound)) || (hull.uBounded && !(c < hull.upperBound))) return false;
  }
  return true;
}

// A start at which h is not finite (a value that the terms rule out, where
// the support they allow is only part of the line) shows no way to climb:
// points are tried on either side at growing distances until one is finite.
bool FindFinite(double& x0, double& f0) {
  double d = firstStep;
  for (int n = 0; n < walkBudget && !(f0 > -infinity); ++n, d *= golden) {
    for (const double t : {x0 + d, x0 - d}) {
      const double f = Evaluate(t);
      if (f > -infinity) {
        x0 = t;
        f0 = f;
        return true;
      }
    }
  }
  return f0 > -infinity;
}

// Start on the whole line: bracket the mode from the centiles or from the
// current value, locate it, then make both tails fall away.
Step FullStart(const Samplers_Sampler& s, double current) {
  double a, b, c, fa, fb, fc;
  if (UsableCentiles(s)) {
    const auto& q = Samplers_StateOf(s).centiles;
    const double m = 0.5 * (q[1] + q[2]);
    const double f1 = Evaluate(q[0]), f2 = Evaluate(q[1]), f3 = Evaluate(q[2]), f4 = Evaluate(q[3]);
    const double fm = Evaluate(m);
    if (fm < f2) {
      a = q[0], b = q[1], c = m, fa = f1, fb = f2, fc = fm;
    } else if (f3 <= fm) {
      a = q[1], b = m, c = q[2], fa = f2, fb = fm, fc = f3;
    } else {
      a = m, b = q[2], c = q[3], fa = fm, fb = f3, fc = f4;
    }
  } else {
    double x0 = std::isfinite(current) ? current : 0.0;
    double f0 = Evaluate(x0);
    if (!FindFinite(x0, f0)) return Step::notFinite;
    const double x1 = x0 + firstStep;
    const double f1 = Evaluate(x1);
    if (f1 < f0) {
      a = x1, b = x0, c = x0 - firstStep, fa = f1, fb = f0, fc = Evaluate(c);
    } else {
      a = x0, b = x1, c = x1 + firstStep, fa = f0, fb = f1, fc = Evaluate(c);
    }
  }
  int32_t count = searchBudget;
  Maximize_BraketMode(a, b, c, fa, fb, fc, Evaluate, count);
  if (!(fb > -infinity)) return Step::notFinite;
  if (!(fb >= fa && fb >= fc)) return Step::bracket;
  const Step located = Locate(a, b, c, fa, fb, fc);
  if (located != Step::ok) return located;
  Replenish();
  return Step::ok;
}

enum class WalkEnd { turned, nearBound, exhausted };

// Climbs on from `last`, away from `prev`. Towards a bound each step goes at
// most half the way there, so the climb never reaches it; on a free side
// steps grow by the golden ratio. It ends when h stops rising, so that
// prev, last and next bracket the mode, or, once more than three points
// are stored, when the rise still possible up to the bound (the distance
// times the slope of the last chord, an upper limit by concavity) is below
// nearBoundRise: the envelope's bounded end then covers the mode.
WalkEnd Walk(double& prev, double& last, double& next, double& fprev, double& flast, double& fnext) {
  const bool up = last > prev;
  double step = std::fabs(last - prev);
  if (!(step > 0.0)) step = firstStep;
  for (int n = 0; n < walkBudget; ++n) {
    const bool bounded = up ? hull.uBounded : hull.lBounded;
    const double room = !bounded ? infinity : up ? hull.upperBound - last : last - hull.lowerBound;
    if (bounded && hull.n > 3 && room * (flast - fprev) / step < nearBoundRise) return WalkEnd::nearBound;
    const double d = std::min(0.5 * room, golden * step);
    next = up ? last + d : last - d;
    fnext = Evaluate(next);
    if (!(fnext > flast)) return WalkEnd::turned;
    prev = last, fprev = flast;
    last = next, flast = fnext;
    step = d;
  }
  return WalkEnd::exhausted;
}

// A starting point strictly inside the support: the value itself when it
// is, else a point a little inside the nearer end.
double Inside(double v) {
  const double lo = hull.lBounded ? hull.lowerBound : -infinity, hi = hull.uBounded ? hull.upperBound : infinity;
  if (std::isfinite(v) && v > lo && v < hi) return v;
  const double room = std::min(firstStep, 0.5 * (hi - lo));
  const bool nearLower = hull.lBounded && (!hull.uBounded || !(v >= hi));
  return nearLower ? lo + room : hi - room;
}

// Start on a support with at least one finite end. Never crosses a bound.
Step BoundedStart(const Samplers_Sampler& s, double current) {
  double prev, last, next = 0.0, fprev, flast, fnext = 0.0;
  if (UsableCentiles(s)) {
    const auto& q = Samplers_StateOf(s).centiles;
    const std::array<double, 5> p = {q[0], q[1], 0.5 * (q[1] + q[2]), q[2], q[3]};
    std::array<double, 5> f{};
    size_t j = 0;
    for (size_t i = 0; i < 5; ++i) {
      f[i] = Evaluate(p[i]);
      if (f[i] > f[j]) j = i;
    }
    if (!(f[j] > -infinity)) return Step::notFinite;
    if (j > 0 && j < 4) {
      const Step located = Locate(p[j - 1], p[j], p[j + 1], f[j - 1], f[j], f[j + 1]);
      if (located != Step::ok) return located;
      Replenish();
      return Step::ok;
    }
    const size_t from = j == 0 ? 1 : 3;
    prev = p[from], fprev = f[from], last = p[j], flast = f[j];
  } else {
    const double a = Inside(current);
    const double fa = Evaluate(a);
    if (hull.lBounded && hull.uBounded) {
      const double dl = std::min(0.5 * (a - hull.lowerBound), firstStep);
      const double pl = a - dl;
      const double pr = a + std::min(0.5 * (hull.upperBound - a), golden * dl);
      const double fl = Evaluate(pl), fr = Evaluate(pr);
      if (fa >= fl && fa >= fr) {
        const Step located = Locate(pl, a, pr, fl, fa, fr);
        if (located != Step::ok) return located;
        Replenish();
        return Step::ok;
      }
      prev = a, fprev = fa;
      if (fr > fa && fr >= fl) {
        last = pr, flast = fr;
      } else {
        last = pl, flast = fl;
      }
    } else {
      // First a step towards the free side. If h does not fall there, the
      // climb goes on that way; otherwise the mode lies towards the bound.
      const double b = hull.uBounded ? a - firstStep : a + firstStep;
      const double fb = Evaluate(b);
      if (fb >= fa) {
        prev = a, fprev = fa, last = b, flast = fb;
      } else {
        prev = b, fprev = fb, last = a, flast = fa;
      }
    }
  }
  const WalkEnd end = Walk(prev, last, next, fprev, flast, fnext);
  if (end == WalkEnd::exhausted) return Step::bracket;
  if (end == WalkEnd::turned) {
    const Step located = Locate(prev, last, next, fprev, flast, fnext);
    if (located != Step::ok) return located;
  }
  Replenish();
  return Step::ok;
}

// A two-sided support on which every stored point has the same log density.
bool FlatPoints() {
  const auto& y = hull.y;
  return hull.n >= 2 && std::fabs(y[0] - y[1]) < flat && std::fabs(y[At(hull.n - 1)] - y[1]) < flat;
}

// Uniform candidates on the support, each accepted with probability
// exp(h - hTop). A concave h that is constant over the points cannot rise
// above that constant anywhere, so this is exact even where h falls off
// near the ends; for a truly flat h nearly every candidate is accepted.
Step FlatDraw(double& result) {
  double hTop = hull.y[0];
  for (int k = 1; k < hull.n; ++k) hTop = std::max(hTop, hull.y[At(k)]);
  for (int n = 0; n < flatBudget; ++n) {
    const double t = RandNum_Uniform(hull.lowerBound, hull.upperBound);
    const double h = Value(t);
    if (h - hTop >= std::log(RandNum_Rand())) {
      result = t;
      return Step::ok;
    }
  }
  return Step::candidates;
}

// The centiles of the final envelope, which start the node's next draw.
void KeepCentiles(Samplers_Sampler& s) {
  Samplers_StateOf(s).haveCentiles = false;
  if (!hull.Build()) return;
  std::array<double, 4> c{};
  for (size_t i = 0; i < 4; ++i) {
    c[i] = hull.Sample(centileLevels[i]).x;
    if (!std::isfinite(c[i]) || (i > 0 && !(c[i] > c[i - 1]))) return;
  }
  Samplers_StateOf(s).centiles = c;
  Samplers_StateOf(s).haveCentiles = true;
}

// --- The fall-back Metropolis step -------------------------------------------

// The support mapped onto (0, 1): linearly when both ends are finite,
// otherwise by t / (1 - t) away from the finite end.
struct Grid {
  double lo, hi;
  bool lower, upper;
  double total = 0.0;

  double X(double t) const {
    if (lower && upper) return lo + (hi - lo) * t;
    const double d = halfLineScale * t / (1.0 - t);
    return lower ? lo + d : hi - d;
  }
  double T(double x) const {
    if (lower && upper) return (x - lo) / (hi - lo);
    const double d = (lower ? x - lo : hi - x) / halfLineScale;
    return d / (1.0 + d);
  }
  // The log full conditional in t, up to a constant: h plus the log of dx/dt.
  double Target(double t) const {
    if (!(t > 0.0 && t < 1.0)) return -infinity;
    const double x = X(t);
    if (!(x > lo && x < hi)) return -infinity;
    const double jacobian = lower && upper ? 0.0 : -2.0 * std::log1p(-t);
    return Value(x) + jacobian;
  }
  static double Node(int j) { return (j + 0.5) / gridSize; }
  // The proposal's log density at t: log-linear between the grid nodes,
  // constant from 0 to the first and from the last to 1.
  double LogProposal(double t) const {
    double v;
    if (t <= Node(0)) {
      v = gridLog[0];
    } else if (t >= Node(gridSize - 1)) {
      v = gridLog[At(gridSize - 1)];
    } else {
      const int j = std::clamp(static_cast<int>(t * gridSize - 0.5), 0, gridSize - 2);
      const double f = (t - Node(j)) * gridSize;
      v = gridLog[At(j)] + (gridLog[At(j + 1)] - gridLog[At(j)]) * f;
    }
    return v - std::log(total);
  }
  // Piece k: [0, node 0], [node k - 1, node k], [last node, 1].
  void Piece(int k, double& zl, double& zr, double& ul, double& ur) const {
    zl = k == 0 ? 0.0 : Node(k - 1);
    zr = k == gridSize ? 1.0 : Node(k);
    ul = gridLog[At(k == 0 ? 0 : k - 1)];
    ur = gridLog[At(k == gridSize ? gridSize - 1 : k)];
  }
  // False when no node has a finite density.
  bool Build() {
    double best = -infinity;
    for (int j = 0; j < gridSize; ++j) {
      gridLog[At(j)] = Target(Node(j));
      best = std::max(best, gridLog[At(j)]);
    }
    if (!(best > -infinity)) return false;
    for (double& g : gridLog) g = std::max(g, best - gridFloor) - best;
    gridArea[0] = 0.0;
    for (int k = 0; k <= gridSize; ++k) {
      double zl, zr, ul, ur;
      Piece(k, zl, zr, ul, ur);
      gridArea[At(k + 1)] = gridArea[At(k)] + PieceArea(zr - zl, ul, ur);
    }
    total = gridArea[At(gridSize + 1)];
    return total > 0.0 && std::isfinite(total);
  }
  double Propose() const {
    const double target = RandNum_Rand() * total;
    int k = 0;
    while (k < gridSize && !(target < gridArea[At(k + 1)])) ++k;
    double zl, zr, ul, ur;
    Piece(k, zl, zr, ul, ur);
    return InvertPiece(zl, zr, ul, ur, target - gridArea[At(k)], gridArea[At(k + 1)] - gridArea[At(k)]);
  }
};

// One independence Metropolis step from `current` with the grid proposal;
// while the value has no finite density, further steps until it has. The
// proposal does not depend on the current value, so each step leaves the
// full conditional invariant. False when no finite density was found.
bool FallBack(double lo, double hi, double current, double& result) {
  Grid g{lo, hi, std::isfinite(lo), std::isfinite(hi)};
  if (!g.Build()) return false;
  double t = std::isfinite(current) ? g.T(current) : 0.5;
  double gt = std::isfinite(current) ? g.Target(t) : -infinity;
  double x = current;
  for (int n = 0; n < fallBackSteps; ++n) {
    const double tNew = g.Propose();
    const double gNew = g.Target(tNew);
    if (gNew > -infinity) {
      const double logR = gt > -infinity ? (gNew - gt) + (g.LogProposal(t) - g.LogProposal(tNew)) : infinity;
      if (logR >= 0.0 || std::log(RandNum_Rand()) < logR) {
        t = tNew, gt = gNew, x = g.X(tNew);
      }
    }
    if (gt > -infinity) break;
  }
  if (!(gt > -infinity)) return false;
  result = x;
  return true;
}

// --- The update procedure ----------------------------------------------------

// The node's support: its density's own, cut down by the bounds the model
// gives it. The entry point says only which ends the method choice expected
// to be finite; the ends themselves are read here, so that a prior on the
// whole line whose terms allow only part of it is not cut off at a guessed
// end: where the terms stop allowing the node, the log full conditional
// stops being finite, and the draw finds that end as it goes.
bool Support(Samplers_Sampler& s, double& lo, double& hi) {
  Graph_Node* nd = s.node;
  Distrib_Support(nd, lo, hi);
  // The support narrows by a bound only when the bound is a number.
  bool badBound = false;
  if (nd->numParents > 2)
    for (int i : {nd->numParents - 2, nd->numParents - 1})
      if (nd->parents[At(i)] != nullptr && std::isnan(Graph_ValueOf(nd->parents[At(i)]))) badBound = true;
  if (badBound || std::isnan(lo) || std::isnan(hi)) {
    Samplers_FailWith(s, "An end of the node's support is not a number.");
    return false;
  }
  if (!(lo < hi)) {
    Samplers_FailWith(s, "The node's support is empty: its lower end %g is not below its upper end %g.", lo, hi);
    return false;
  }
  return true;
}

// The node's own normal term, when it has one, read before the draw starts.
bool ReadPrior(Samplers_Sampler& s) {
  Graph_Node* nd = s.node;
  normalPrior = nd->density == Distrib_dnorm && nd->numParents >= 2;
  if (!normalPrior) return true;
  mu = Graph_ValueOf(nd->parents[0]);
  tau = Graph_ValueOf(nd->parents[1]);
  if (std::isfinite(mu) && std::isfinite(tau) && tau > 0.0) return true;
  Samplers_FailWith(s, "The node's normal prior has mean %g and precision %g: both must be finite and the precision positive.",
       mu, tau);
  return false;
}

// Why the draw failed, for the report.
void Report(Samplers_Sampler& s, Step why, const char* more) {
  switch (why) {
    case Step::bracket:
      return Samplers_FailWith(s, "%s The log full conditional still rose after %d evaluations.%s", bracketText, searchBudget, more);
    case Step::locate:
      return Samplers_FailWith(s, "%s %d evaluations did not bring the points about the mode within %g log units of it.%s",
                  locateText, searchBudget, locateTolerance, more);
    case Step::notFinite:
      return Samplers_FailWith(s, "%s The log full conditional was not a finite number at any point tried.%s", locateText, more);
    case Step::hull:
      return Samplers_FailWith(s, "%s No envelope could be formed: %s; the full conditional may not be log-concave.%s",
                  bracketText, hull.fault, more);
    case Step::candidates:
      return Samplers_FailWith(s, "%s All %d candidates were rejected.%s", budgetText, maxCandidates, more);
    case Step::ok: return;
  }
}

void Update(Samplers_Sampler& s) {
  Graph_Node* nd = s.node;
  if (nd == nullptr) return Samplers_FailWith(s, "The update has no node.");
  const double old = Graph_Own(nd);
  const FastPathScope scope;
  double lo = 0.0, hi = 0.0;
  if (!Support(s, lo, hi) || !ReadPrior(s)) return;
  node = nd;
  hull.Reset(lo > -infinity, lo, hi < infinity, hi);
  Determ_activeNode = nd;
  const bool free = !hull.lBounded && !hull.uBounded, twoSided = hull.lBounded && hull.uBounded;
  tailRise = free ? fullTailRise : oneSidedTailRise;

  double result = old;
  bool flatDraw = false;
  Step step = free ? FullStart(s, old) : BoundedStart(s, old);
  if (step == Step::ok) {
    flatDraw = twoSided && FlatPoints();
    step = flatDraw ? FlatDraw(result) : Ars(result);
  }
  if (step == Step::ok) {
    Graph_Own(nd) = result;
    if (!flatDraw) return KeepCentiles(s);
    for (size_t i = 0; i < 4; ++i)
      Samplers_StateOf(s).centiles[i] = hull.lowerBound + (hull.upperBound - hull.lowerBound) * flatCentiles[i];
    Samplers_StateOf(s).haveCentiles = true;
    return;
  }
  // The stored centiles may be what led the draw astray: the next one
  // starts afresh from the node's value.
  Samplers_StateOf(s).haveCentiles = false;
  if (!free) {
    if (FallBack(lo, hi, old, result)) {
      Graph_Own(nd) = result;
      return;
    }
    Graph_Own(nd) = old;
    std::array<char, 160> more{};
    std::snprintf(more.data(), more.size(),
                  " Nor had any point of the support (%g, %g) tried by the fall-back step a finite log density.", lo,
                  hi);
    return Report(s, step, more.data());
  }
  Graph_Own(nd) = old;
  Report(s, step, "");
}

}  // namespace

void InitDFreeARS() {
  node = nullptr;
  hull.Reset(false, 0.0, false, 0.0);
  hull.uMax = 0.0;
  hull.fault = "";
  tailRise = fullTailRise;
  normalPrior = false;
  mu = tau = 0.0;
}

void DFreeARS_FullArs(Samplers_Sampler& s) { Update(s); }
void DFreeARS_LTruncArs(Samplers_Sampler& s) { Update(s); }
void DFreeARS_RTruncArs(Samplers_Sampler& s) { Update(s); }
void DFreeARS_TruncArs(Samplers_Sampler& s) { Update(s); }
