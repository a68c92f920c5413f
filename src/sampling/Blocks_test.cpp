// Which unknowns are grouped into blocks. Each block method's draws against
// its exact full conditional are rows in Samplers_test.cpp.
#include "sampling/Blocks.h"

#include <cmath>
#include <string>

#include "Methods.h"
#include "sampling/GibbsSam.h"

namespace {

class BlocksTest : public test::Methods {};

// Candidates sharing terms form blocks; a member of no block keeps the procedure it had alone.
TEST_F(BlocksTest, CandidatesSharingTermsFormBlocks) {
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
TEST_F(BlocksTest, AGroupLargerThanABlockIsNotFormed) {
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

// Where the IRLS normal cannot be formed (e^710 overflows) the members are updated one at a
// time; the block's steps resume once they are back where it can.
TEST_F(BlocksTest, GeneralisedBlockFallsBackToSingleNodeUpdatesWhereItsProposalCannotBeFormed) {
  Compile("var x[6], k[6], lambda[6], a, b;\n"
          "{ for (i in 1:6) { log(lambda[i]) <- a + b * x[i] k[i] ~ dpois(lambda[i]) } a ~ dnorm(0, 0.01) b ~ dnorm(0, 0.01) }",
          "list(x = c(-1, -0.5, 0, 0.5, 1, 1.5), k = c(1, 0, 2, 3, 2, 5))", "list(a = 710, b = 0)", true);
  if (HasFatalFailure()) return;
  ASSERT_EQ(Blocks_Count(), 1);
  Samplers_Sampler* block = nullptr;
  for (int32_t i = 0; i < Samplers_Count(); ++i)
    if (Samplers_At(i).update != Blocks_Member) block = &Samplers_At(i);
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 201; ++i) {
    block->update(*block);
    ASSERT_FALSE(Samplers_StateOf(*block).error) << Samplers_part->failure;
    if (i > 0) continue;
    EXPECT_EQ(Blocks_CountsOf(0).singly, 1);
    EXPECT_EQ(Blocks_CountsOf(0).proposed, 0);
    EXPECT_LT(Graph_Own(N("a")), 700.0);
  }
  EXPECT_GT(Blocks_CountsOf(0).proposed, 150);
  EXPECT_LT(std::fabs(Graph_Own(N("a"))), 5.0);
}

}  // namespace
