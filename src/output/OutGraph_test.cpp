#include "output/OutGraph.h"

#include <string>
#include <vector>

#include "Pipeline.h"

namespace {

class OutGraphTest : public test::Pipeline {
 protected:
  void SetUp() override {
    Pipeline::SetUp();
    InitOutGraph();
  }

  // The names and the store of the declarations; their nodes are made by hand.
  void Declare(const std::string& declarations) {
    ASSERT_NE(Compile("model m; " + declarations + " { }"), nullptr) << Console();
  }

  static Graph_Node* Put(int32_t number, int32_t kind, double value, int32_t density = 0,
                         std::vector<Graph_Node*> parents = {}, std::vector<int32_t> code = {}) {
    Graph_Node* n = Graph_NewNode();
    if (number < 0) {
      Graph_Link(n);  // anonymous
    } else {
      n->label = number;
      Graph_nodes[number] = n;
    }
    n->kind = kind;
    Graph_Own(n) = value;
    n->density = density;
    n->parents = std::move(parents);
    n->numParents = static_cast<int32_t>(n->parents.size());
    n->stack = std::move(code);
    return n;
  }
  static Graph_Node* Anonymous(std::vector<int32_t> code, std::vector<Graph_Node*> parents = {}) {
    return Put(-1, Graph_logical, 0.0, 0, std::move(parents), std::move(code));
  }

  template <typename F>
  std::string Shown(F f) {
    const std::string before = Console();
    f();
    return Console().substr(before.size());
  }
};

const std::string heading =
    "\n     ----- Name Table -----"
    "\n     Name         Offset           Dimensions\n";

TEST_F(OutGraphTest, NameTableListsTheNewestNameFirstAndAnonymousNodesOnlyWhenThereAreAny) {
  ASSERT_NO_FATAL_FAILURE(Declare("const N = 3; var x[2, 3], z[2, 1, 4], mu, averyveryverylongname;"));
  const std::string table = heading +
                            " averyveryverylongname16           \n"
                            " mu             15           \n"
                            " z              7            4       1       2       \n"
                            " x              1            3       2       \n"
                            " N              0            \n";
  EXPECT_EQ(Shown(OutGraph_WriteNames), table + "\n\n");
  Anonymous({});
  Anonymous({});
  EXPECT_EQ(Shown(OutGraph_WriteNames), table + " ANOMS           17           2       \n\n");
}

TEST_F(OutGraphTest, EveryKindOfNodeHasItsEntry) {
  ASSERT_NO_FATAL_FAILURE(Declare("const N = 3; var gap, mu, m, eta, v[2];"));
  Graph_Node* n = Graph_nodes[0];
  Graph_Node* mu = Put(2, Graph_stochastic, 0.5, 19, {n, nullptr});  // a parent not yet made
  Graph_Node* m =
      Put(3, Graph_logical, 0.0, 0, {mu, n}, {Determ_pushValue, Determ_push, Determ_multiply, Determ_exp, Determ_end});
  // A linear form with one product.
  Graph_Node* eta = Put(4, Graph_logical, 0.0, 0, {mu, n, m}, {Determ_ilogit, 2, 3});
  Graph_Node* v1 = Put(5, Graph_stochastic, -1.25, 16, {n, mu});
  Graph_Node* v2 = Put(6, Graph_stochastic, 2.0, 16, {n, mu});
  v2->label = 5;  // the second component of the block v
  mu->likelihood = {v1, eta};
  Anonymous({Determ_inprod, 5, 2, 1, 2, 0});
  Anonymous({Determ_logdet, 2, 5, 2, 1, 2, 2});
  Anonymous({Determ_push, Determ_cos, Determ_negate, Determ_end}, {m});
  Anonymous({Determ_end, 0, 1}, {mu});
  EXPECT_EQ(Shown(OutGraph_DisplayGraph),
            "\n0      3       3.00000     ;"
            "\n1      NA ;   "
            "\n2      1       5.00000E-1  dnorm  0      ,,"
            "\n       5      4      ;"
            "\n3      4      2      0       *     exp    ;"
            "\n4      4      iLogit 2      3      2      0      3      ;"
            "\n5      1      -1.25000     dmnorm 0      ,2      ,"
            "\n       ;"
            "\n7      4      inprod 5      2      1      2      0      ;"
            "\n8      4       logdet 2      5      2      1      2      2      ;"
            "\n9      4      3      ???    umnus  ;"
            "\n10     4      pop    0      1      2      ;"
            "\n");
}

TEST_F(OutGraphTest, LongEntriesContinueOnIndentedLines) {
  ASSERT_NO_FATAL_FAILURE(Declare("var a[14], p[12];"));
  std::vector<Graph_Node*> alpha;
  for (int32_t k = 0; k < 14; ++k) alpha.push_back(Put(k, Graph_data, 1.0));
  Graph_Node* p = Put(14, Graph_stochastic, 0.1, 6, alpha);
  for (int32_t k = 15; k < 26; ++k) Put(k, Graph_stochastic, 0.1, 6, alpha)->label = 14;
  for (int32_t k = 100; k < 112; ++k) {
    Graph_Node* child = Graph_NewNode();
    child->label = k;
    p->likelihood.push_front(child);
  }
  p->likelihood.reverse();
  const std::string shown = Shown(OutGraph_DisplayGraph);
  // Ten items to a line, the indentation counting as one; the likelihood
  // list starts afresh although the parents filled their last line.
  EXPECT_NE(shown.find("\n14     1       1.00000E-1  ddirch 0      ,1      ,2      ,3      ,4      ,"
                       "\n       5      ,6      ,7      ,8      ,9      ,10     ,11     ,12     ,13     ,"
                       "\n       100    101    102    103    104    105    106    107    108    "
                       "\n       109    110    111    ;"
                       "\n"),
            std::string::npos)
      << shown;
}

TEST_F(OutGraphTest, CompiledModelListsItsLinearFormAndLikelihoods) {
  ASSERT_TRUE(Build("var a, b, c, m, y; { a ~ dnorm(0, 1) b ~ dnorm(0, 1) c ~ dnorm(0, 1) m <- a + b * c"
                    " y ~ dnorm(m, 1) }",
                    "list(y = 1)", "list(a = 1, b = 2, c = 3)"))
      << Console();
  Determ_OptDeterm();
  ASSERT_GT(Graph_totalNumNodes, Graph_numDeclaredNodes);
  const std::string names = Shown(OutGraph_WriteNames);
  EXPECT_NE(names.find(" m              3            \n"), std::string::npos) << names;
  EXPECT_NE(names.find(" ANOMS           5     "), std::string::npos) << names;
  const std::string graph = Shown(OutGraph_DisplayGraph);
  EXPECT_NE(graph.find("\n3      4      pop    2      3      2      1      0      ;"), std::string::npos) << graph;
  const std::string zero = std::to_string(N("a")->parents[0]->label), one = std::to_string(N("a")->parents[1]->label);
  const auto item = [](const std::string& s) { return s + std::string(7 - s.size(), ' '); };
  EXPECT_NE(graph.find("\n0      1       1.00000     dnorm  " + item(zero) + "," + item(one) +
                       ",\n       4      ;"),
            std::string::npos)
      << graph;
  const std::string yPrecision = std::to_string(N("y")->parents[1]->label);
  EXPECT_NE(graph.find("\n4      3       1.00000     dnorm  3      ," + item(yPrecision) + ",;"), std::string::npos)
      << graph;
}

}  // namespace
