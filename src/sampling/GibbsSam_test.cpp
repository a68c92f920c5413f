#include "sampling/GibbsSam.h"

#include <cmath>
#include <string>

#include "FrontEnd.h"
#include "graph/CodeGen.h"
#include "graph/Determ.h"
#include "numerics/RandNum.h"

namespace {

class GibbsSamTest : public test::FrontEnd {
 protected:
  // Generates the nodes of a model whose parameters are all data.
  void Build(const std::string& model, const std::string& data) {
    Reset();
    InitCodeGen();
    InitDeterm();
    InitRandNum();
    test::WriteFile("d.dat", data);
    const size_t body = model.find('{');
    Parser_Tree* head = Compile("model m; " + model.substr(0, body) + " data in \"d.dat\";\n" + model.substr(body));
    ASSERT_NE(head, nullptr) << Console();
    CodeGen_WriteGraph(head);
    ASSERT_FALSE(CodeGen_error) << Console();
  }
  static Graph_Node* N(const std::string& name, int offset = 0) {
    return Graph_nodes[SymTabs_FindName(name)->firstNode + offset];
  }
};

TEST_F(GibbsSamTest, ChiSquareIsAGammaDraw) {
  Build("var x, k; { x ~ dchisq(k) }", "list(k = 4)");
  double sum = 0.0;
  const int draws = 20000;
  for (int i = 0; i < draws; ++i) {
    ASSERT_TRUE(GibbsSam_DirectSample(N("x")));
    sum += N("x")->value;
  }
  EXPECT_NEAR(sum / draws, 4.0, 0.1);  // shape 2, rate 0.5
}

TEST_F(GibbsSamTest, HypergeometricAndZipfStartAtZeroAndCategoriesAreLeftAlone) {
  Build("var h, z, c, p[3]; { h ~ dhypo(1, 2) z ~ dzipf(2) c ~ dcat(p[]) }", "list(p = c(0.2, 0.3, 0.5))");
  N("h")->value = 7.0;
  N("z")->value = 7.0;
  N("c")->value = 2.0;
  for (const char* name : {"h", "z", "c"}) ASSERT_TRUE(GibbsSam_DirectSample(N(name))) << name;
  EXPECT_EQ(N("h")->value, 0.0);
  EXPECT_EQ(N("z")->value, 0.0);
  EXPECT_EQ(N("c")->value, 2.0);
}

TEST_F(GibbsSamTest, BoundedDrawsMeetTheirBoundsOrGiveUp) {
  Build("var a, b, t; { a ~ dnorm(0, 1) I(1, ) b ~ dnorm(0, 1) I(-0.5, 0.5) t ~ dnorm(0, 1) I(40, ) }",
        "list(t = 0)");
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(GibbsSam_LDirectSample(N("a")));
    ASSERT_GE(N("a")->value, 1.0);
    ASSERT_TRUE(GibbsSam_TDirectSample(N("b")));
    ASSERT_TRUE(N("b")->value >= -0.5 && N("b")->value <= 0.5);
  }
  // Forty standard deviations out: no prior draw ever gets there.
  N("t")->value = 41.0;
  EXPECT_FALSE(GibbsSam_LDirectSample(N("t")));
  EXPECT_EQ(N("t")->value, 41.0);
}

TEST_F(GibbsSamTest, WishartBlockIsASymmetricMatrixWithMeanKTimesTheInverse) {
  Build("var W[3, 3], R[3, 3]; { W[, ] ~ dwish(R[, ], 5) }",
        "list(R = structure(.Data = c(2, 0, 0, 0, 4, 0, 0, 0, 0.5), .Dim = c(3, 3)))");
  ASSERT_EQ(N("W")->size, 9);
  double mean[9] = {};
  const int draws = 20000;
  for (int n = 0; n < draws; ++n) {
    ASSERT_TRUE(GibbsSam_Wishart(N("W")));
    for (int i = 0; i < 9; ++i) mean[i] += N("W", i)->value / draws;
    ASSERT_EQ(N("W", 1)->value, N("W", 3)->value);
  }
  EXPECT_NEAR(mean[0], 2.5, 0.1);
  EXPECT_NEAR(mean[4], 1.25, 0.05);
  EXPECT_NEAR(mean[8], 10.0, 0.4);
  EXPECT_NEAR(mean[1], 0.0, 0.05);
}

TEST_F(GibbsSamTest, BlocksThatCannotBeDrawnAreRefused) {
  Build("var x[2], mu[2], T[2, 2]; { x[1:2] ~ dmnorm(mu[], T[,]) }",
        "list(mu = c(0, 1), T = structure(.Data = c(1, 2, 2, 1), .Dim = c(2, 2)))");
  N("x", 0)->value = 3.0;
  EXPECT_FALSE(GibbsSam_DirectSample(N("x")));
  EXPECT_EQ(N("x", 0)->value, 3.0);
}

TEST_F(GibbsSamTest, MultinomialAndDirichletFillTheirBlocks) {
  Build("var y[3], q[3], p[3], a[3]; { y[1:3] ~ dmulti(p[], 10) q[1:3] ~ ddirch(a[]) }",
        "list(p = c(0.2, 0.3, 0.5), a = c(1, 2, 3))");
  ASSERT_TRUE(GibbsSam_DirectSample(N("y")));
  ASSERT_TRUE(GibbsSam_DirectSample(N("q")));
  EXPECT_EQ(N("y", 0)->value + N("y", 1)->value + N("y", 2)->value, 10.0);
  EXPECT_NEAR(N("q", 0)->value + N("q", 1)->value + N("q", 2)->value, 1.0, 1e-12);
}

}  // namespace
