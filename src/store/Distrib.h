// Distrib: the properties of every distribution, one row each: its
// parameters, its support, whether it is discrete, which parameters are sizes
// or counts, and the shapes of node and parameters. Node generation, starting
// values, the model checks, the method choice, the samplers and the listings
// read these rows instead of keeping lists of their own, so a corrected
// support or a new distribution is one row.
#pragma once

#include <cstdint>

struct Graph_Node;

// Distribution identifiers, as stored in a node's density; 0 is none.
enum Distrib_Id : int32_t {
  Distrib_dbern = 1, Distrib_dbeta, Distrib_dbin, Distrib_dcat, Distrib_dchisq, Distrib_ddirch,
  Distrib_ddexp, Distrib_dexp, Distrib_df, Distrib_dgamma, Distrib_dgeom, Distrib_dgum,
  Distrib_dhypo, Distrib_dlogis, Distrib_dlnorm, Distrib_dmnorm, Distrib_dmulti, Distrib_dnegbin,
  Distrib_dnorm, Distrib_dpar, Distrib_dpois, Distrib_dpow, Distrib_dunif, Distrib_dweib,
  Distrib_dwish, Distrib_dzipf,
};
constexpr int32_t Distrib_last = Distrib_dzipf;

// The shape of a node's block, or of a parameter.
enum Distrib_Shape : int32_t { Distrib_scalar = 0, Distrib_vector = 1, Distrib_matrix = 2 };

// One end of a support: none (the line goes on), a fixed number, or the
// value of one of the distribution's own parameters.
enum Distrib_EndKind : int32_t { Distrib_none = 0, Distrib_fixed = 1, Distrib_parameter = 2 };
struct Distrib_End {
  Distrib_EndKind kind;
  double value;       // Distrib_fixed
  int32_t parameter;  // Distrib_parameter
};

// What the model checks ask of a parameter's value.
enum Distrib_Domain : int32_t {
  Distrib_anything = 0,     // no check
  Distrib_probability,      // in [0, 1]
  Distrib_positive,         // above 0
  Distrib_real,             // finite (a fixed one within the data range)
  Distrib_positiveScale,    // above 0, reported as too big or too small
  Distrib_fixedPositive,    // a fixed quantity above 0
  Distrib_fixedCount,       // a fixed whole number of at least 1
  Distrib_fixedHalfCount,   // fixed, twice it a whole number of at least 1
  Distrib_wholeAtLeastOne,  // a whole number of at least 1
};

// The part a parameter plays in the conjugate update of a node that enters
// it: the probability of a beta update, the rate (or precision, or Poisson
// mean) of a gamma update, the mean of a normal update, the upper limit of a
// Pareto update, the probability vector of a Dirichlet update, the precision
// matrix of a Wishart update; none for the others.
enum Distrib_Role : int32_t {
  Distrib_noRole = 0, Distrib_probabilityRole, Distrib_rateRole, Distrib_meanRole, Distrib_upperLimitRole,
  Distrib_probabilitiesRole, Distrib_precisionMatrixRole,
};

struct Distrib_Row {
  const char* keyword;       // "dnorm"; empty for identifier 0
  const char* listingName;   // in the graph listing ("dgeomt", "dmult" there)
  int32_t numParameters;     // parameters before any bound slots
  Distrib_Shape shape;       // the node's block
  Distrib_Shape parameterShape[2];
  bool discrete;             // integer values only
  bool hasDensity;           // ddirch, dhypo and dwish have no log density
  // The support of one component. An end given by a parameter that is a size
  // or count (dbin's n, dcat's number of categories) is that count.
  Distrib_End lower, upper;
  // The ends are the distribution's own bound slots (dunif, dpar): written
  // I(,) bounds would be a second, conflicting pair.
  bool boundsImplied;
  // Bit i set: parameter i is a size or a count (dbin's n, dmulti's N).
  uint32_t sizeParameters;
  Distrib_Domain domain[2];  // of the first two parameters
  Distrib_Role role[2];      // of the first two parameters
};

const Distrib_Row& Distrib_Of(int32_t density);

// True when the density identifier names a distribution (1 to Distrib_last).
inline bool Distrib_Valid(int32_t density) { return density >= 1 && density <= Distrib_last; }

inline bool Distrib_IsDiscrete(int32_t density) { return Distrib_Of(density).discrete; }

// True when the support of the distribution has no lower end and no upper end.
bool Distrib_WholeLine(int32_t density);

// The position of the parameter that plays this role, or -1 when none does.
int32_t Distrib_RoleParameter(int32_t density, Distrib_Role role);

// True when no value of the distribution is below 0: its lower end is a
// fixed number of at least 0, or a parameter the model checks keep positive
// (dpar's scale).
bool Distrib_NonNegative(int32_t density);

// True when the support is (0, infinity): its lower end is 0 and its upper
// end is open.
bool Distrib_PositiveHalfLine(int32_t density);

// The support of a stochastic node's component: the distribution's own ends
// (parameters read through their value functions, counts truncated), narrowed
// by the node's present bound slots. Open ends are -infinity and +infinity.
void Distrib_Support(Graph_Node* node, double& lower, double& upper);
