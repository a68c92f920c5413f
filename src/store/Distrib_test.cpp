#include "store/Distrib.h"

#include <limits>

#include "Pipeline.h"

namespace {

using DistribTest = test::Pipeline;

// A node's support is its law's own, ends given by parameters read as they
// stand now (a count rounded to its whole number), narrowed, never widened,
// by its bounds; a discrete node takes the whole numbers inside them.
TEST_F(DistribTest, SupportIsTheLawsOwnNarrowedByTheBounds) {
  ASSERT_TRUE(Build("var p, n, k, j, a, b, u, z, g, w, c; { k ~ dbin(p, n) I(2.5, 6.2) j ~ dbin(p, n) u ~ dunif(a, b)"
                    " z ~ dnorm(0, 1) I(, 3) g ~ dgamma(1, 1) I(-5, ) w ~ dpar(2, c) }",
                    "list(p = 0.5, n = 7.9999999, a = -1, b = 2, c = 1.5)", "list(k = 4, j = 3, u = 0, z = 0, g = 1, w = 2)"))
      << Console();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct { const char* name; double lower, upper; } cases[] = {
      {"k", 3.0, 6.0}, {"j", 0.0, 8.0}, {"u", -1.0, 5.0}, {"z", -inf, 3.0}, {"g", 0.0, inf}, {"w", 1.5, inf},
  };
  Graph_Own(N("b")) = 5.0;  // the ends follow the parameters' current values
  for (const auto& c : cases) {
    double lower = 0.0, upper = 0.0;
    Distrib_Support(N(c.name), lower, upper);
    EXPECT_EQ(std::pair(lower, upper), std::pair(c.lower, c.upper)) << c.name;
  }
}

// The sign a law's values can take, and the parameter each conjugate role falls on.
TEST(DistribSigns, SignsAndRoles) {
  for (int32_t d : {Distrib_dgamma, Distrib_dweib, Distrib_dgeom, Distrib_dpar, Distrib_ddirch})
    EXPECT_TRUE(Distrib_NonNegative(d)) << Distrib_Of(d).keyword;
  for (int32_t d : {int32_t{Distrib_dgum}, int32_t{Distrib_dnorm}, int32_t{Distrib_dunif}, int32_t{Distrib_dmnorm}, 0, 99})
    EXPECT_FALSE(Distrib_NonNegative(d)) << d;
  EXPECT_EQ(Distrib_RoleParameter(Distrib_dnorm, Distrib_rateRole), 1);
  EXPECT_EQ(Distrib_RoleParameter(Distrib_dpois, Distrib_rateRole), 0);
  EXPECT_EQ(Distrib_RoleParameter(Distrib_dgum, Distrib_rateRole), -1);
  EXPECT_EQ(Distrib_RoleParameter(0, Distrib_meanRole), -1);
}

}  // namespace
