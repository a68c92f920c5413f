#include "language/Parser.h"

#include <vector>

#include "FrontEnd.h"

namespace {

class ParserTest : public test::FrontEnd {
 protected:
  // The error text reported for a model, empty when it compiles.
  std::string ErrorOf(const std::string& text) {
    Compile(text);
    std::string log = Console();
    size_t at = log.find(" -- error  -- \n");
    return at == std::string::npos ? "" : log.substr(at + 15, log.find('\n', at + 15) - at - 15);
  }

  std::string Body(const std::string& decl, const std::string& body) {
    return ErrorOf("model m;\n" + decl + "\n{\n" + body + "\n}\n");
  }

  // Relation kinds in the order they were appended, loop exits included.
  static std::vector<int32_t> Kinds(const Parser_Tree* head) {
    std::vector<int32_t> kinds;
    for (const Parser_Tree* r = head->next; r != nullptr;) {
      kinds.push_back(r->kind);
      r = r->kind == Parser_loopEnd ? r->next->right : r->next;
    }
    return kinds;
  }
};

TEST_F(ParserTest, DeclarationsNumberConstantsAndVariablesTogether) {
  ASSERT_NE(Compile("model m;\nconst N = 3, M = N * 2, E = 1.0000001;\nvar x[N], y, z[E, M];\n{ }"),
            nullptr);
  EXPECT_EQ(Graph_numDeclaredNodes, 3 + 3 + 1 + 6);
  EXPECT_EQ(Graph_Own(Graph_nodes[1]), 6.0);
  EXPECT_EQ(Graph_nodes[1]->kind, Graph_data);
  const SymTabs_Name* y = SymTabs_FindName("y");
  EXPECT_EQ(y->firstNode, 6);
  const SymTabs_Name* z = SymTabs_FindName("z");
  EXPECT_EQ(z->dims[0], 6);  // last index first
  EXPECT_EQ(z->dims[1], 1);
  EXPECT_EQ(z->lastNode, 12);
}

TEST_F(ParserTest, DeclarationErrors) {
  const std::pair<const char*, const char*> cases[] = {
      {"var x[2,3,4,5];", "Variable declared with too many indices."},
      {"var seed, x;", "Expected variable name or name already declared."},
      {"var x, x;", "Expected variable name or name already declared."},
      {"const N = 2; var N;", "Expected variable name or name already declared."},
      {"const M = N * 2, N = 10; var x;", "Expected a parameter."},
      {"const K = 2.5; var x[K];", "Index expression not an integer."},
      {"const K = -2; var x[K];", "Index expression not an integer."},
      {"var x[0];", "Index expression less than one."},
      {"const Z = 0; var x[3 / Z];", "Can not evaluate index or constant expression."},
      {"var x[2], y[x[1]];", "Expression cannot be evaluated it depends on data."},
      {"var x[sqrt(4)];", "Can not evaluate index or constant expression."},
      {"var x[1000001];", "Too many nodes in model"},
      {"var x[1000, 1000], y;", "Too many nodes in model"},
      {"const N = 1;", "Expected variable declaration."},
      {"var x y;", "Expected a comma semicolon or left square bracket."},
  };
  for (auto [decl, message] : cases) {
    Reset();
    EXPECT_EQ(Body(decl, ""), message) << decl;
  }
  Reset();
  EXPECT_EQ(Body("var I, c, x[999998];", ""), "");
}

TEST_F(ParserTest, LoopsAppendStartTestEndAndExitRecords) {
  Parser_Tree* head = Compile(
      "model m; const N = 2, M = 3; var y[N, M], mu[N], tau;\n{ for (i in 1:N) { for (j in 1:M) {"
      " y[i, j] ~ dnorm(mu[i], tau) } } }");
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(Kinds(head), (std::vector<int32_t>{3, 4, 3, 4, 1, 5, 6, 5, 6}));
  // The inner test record knows the enclosing one; the counters left the table.
  const Parser_Tree* outer = head->next->next;
  EXPECT_EQ(outer->next->next->left, outer);
  EXPECT_EQ(SymTabs_FindName("i"), nullptr);
}

TEST_F(ParserTest, SemicolonsAfterRelationsAreOptional) {
  Parser_Tree* a = Compile("model m; var x, y; { x ~ dnorm(0, 1) y <- x * 2 }");
  std::vector<int32_t> without = Kinds(a);
  Reset();
  Parser_Tree* b = Compile("model m; var x, y; { x ~ dnorm(0, 1); y <- x * 2; }");
  EXPECT_EQ(Kinds(b), without);
  EXPECT_EQ(without, (std::vector<int32_t>{1, 2}));
}

TEST_F(ParserTest, ParameterListsHoldTheLastParameterFirst) {
  Parser_Tree* head = Compile(
      "model m; var x, y, m, t; { x ~ dcauchy(m, t) y ~ dnorm(-1.5, t) I(0, ) }");
  ASSERT_NE(head, nullptr);
  const Parser_Tree* cauchy = head->next->right;
  EXPECT_EQ(cauchy->kind, Scanner_dcauchy);
  EXPECT_EQ(Graph_Own(cauchy->next->left->node), 1.0);  // the added third parameter
  EXPECT_EQ(cauchy->next->next->left->name->name, "t");
  EXPECT_EQ(cauchy->next->next->next->left->name->name, "m");
  const Parser_Tree* normal = head->next->next->right;
  EXPECT_EQ(normal->next->kind, Parser_bound);  // upper, omitted
  EXPECT_EQ(normal->next->left, nullptr);
  EXPECT_EQ(normal->next->next->kind, Parser_bound);
  EXPECT_EQ(Graph_Own(normal->next->next->left->node), 0.0);
  EXPECT_EQ(Graph_Own(normal->next->next->next->next->left->node), -1.5);
  // Literals are numbered after the declared nodes, in the order they appear.
  EXPECT_EQ(cauchy->next->left->node->label, 4);
  EXPECT_EQ(normal->next->next->next->next->left->node->label, 5);
}

TEST_F(ParserTest, ExpressionsBindByPrecedenceFromTheLeft) {
  Parser_Tree* head = Compile("model m; var y, a, b, c, p; { y <- -a * b - c / 2 - 1\n"
                              "logit(p) <- a + b }");
  ASSERT_NE(head, nullptr);
  const Parser_Tree* e = head->next->right;
  EXPECT_EQ(e->kind, Scanner_minus);  // ((-a * b) - c / 2) - 1
  EXPECT_EQ(e->left->kind, Scanner_minus);
  EXPECT_EQ(e->left->left->kind, Scanner_times);
  EXPECT_EQ(e->left->left->left->kind, Parser_negate);
  EXPECT_EQ(e->left->right->kind, Scanner_slash);
  const Parser_Tree* link = head->next->next;
  EXPECT_EQ(link->kind, Parser_logical);
  EXPECT_EQ(link->right->kind, Parser_inverseLogit);
  EXPECT_EQ(link->right->left->kind, Scanner_plus);
}

TEST_F(ParserTest, BodyErrors) {
  const char* decl = "var x, mu, tau, S[2, 2], T[2, 2], a[2, 2, 2], b[2], d, m, y[3];";
  const char* notContiguous =
      "Block is not contiguous: every index after the first range must span its whole extent.";
  const std::pair<const char*, std::string> cases[] = {
      {"x ~ dnorm(mu +, tau)", "Expected a parameter."},
      {"x ~ dnorm(mu tau)", "Expected a comma or semicolon."},
      {"x ~ dnorm(0, 1) I(mu + 1, )", "Expected a comma or semicolon."},
      {"x ~ dnorm(mu)", "Expected a comma or semicolon."},
      {"x ~ dnorm(mu, tau, 1)", "Expected a right parenthesis."},
      {"x ~ dmystery(1)", "Unreconized density name."},
      {"S[, ] <- 2 * inverse(T[, ])", "Expected a parameter."},
      {"m <- mean(y[3])", "Argument of sum or mean function must contain index range."},
      {"d <- inprod(a[1, , ], b[])", "Arguments of inprod function must contain a single index range."},
      {"d <- pow(x)", "Expected a comma to separate the two arguments."},
      {"x <- S[, 2]", notContiguous},
      {"S[1:2, 1] ~ dwish(T[, ], 3)", notContiguous},
      {"x ~ dnorm(a[1, 1:2, 2], 1)", notContiguous},
      {"x <- S[1 2]", "Expected a comma."},
      {"x <- S", "Expected a left square bracket."},
      {"x = 1", "Expected either assignment operator or distributed as operator."},
      {"logit(x) = 1", "Expected the assignment operator."},
      {"undeclared <- 1", "Expected a variable name."},
      {"for (x in 1:2) { }", "Expected loop control variable."},
      {"for (i in 1:2) { for (i in 1:2) { } }", "Expected loop control variable."},
      {"for (i in 1:2) { x <- 1 };", "Invalid token scanned or unexpected end of input."},
      {"x <- ((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((("
       "((((((((((((((((((((((((((((((((1",
       "Deterministic node is too complex to generate code for"},
  };
  for (auto [body, message] : cases) {
    Reset();
    EXPECT_EQ(Body(decl, body), message) << body;
  }
  Reset();
  EXPECT_EQ(ErrorOf("model m; var x;\n{ for (i in 1:2) { x ~ dnorm(0, 1) }"),
            "Invalid token scanned or unexpected end of input.");
}

TEST_F(ParserTest, AcceptedForms) {
  const char* decl = "var x, S[2, 2], T[2, 2], a[2, 2], b[2], d[2], m, y[3], p[2];";
  for (const char* body : {"S[, ] <- inverse(T[, ])", "m <- mean(y[])",
                           "for (i in 1:2) { d[i] <- inprod(a[i, ], b[]) }",
                           "for (i in 1:2) { p[i] ~ dnorm(0, 1) } for (i in 1:2) { b[i] <- p[i] }",
                           "x ~ dnorm(0, 1) I(, )", "x ~ dnorm(0, 1) I(-1, 1)", "m <- x - -1",
                           "m <- sum(S[1:2, 1])", "x ~ dnorm(m + 1, d[1])", "x ~ dnorm(-m, 1)",
                           "x ~ dbeta(1 + m, pow(d[2], 2) / (1 - d[1]))", "S[1:2, 1:2] ~ dwish(T[1:2, ], 3)",
                           "b[1:2] ~ dmnorm(d[1:2], T[, 1:2])", "x ~ dnorm(sum(d[]), 1) I(0, )",
                           "x <- a[1:2, 1:2]", "x <- S[1, 1:2]"}) {
    Reset();
    EXPECT_EQ(Body(decl, body), "") << body;
  }
}

TEST_F(ParserTest, LongAdditionChainsAreRefusedBeforeTheyGetTooDeep) {
  std::string sum = "x <- 1";
  for (int i = 0; i < 100000; ++i) sum += " + 1";
  EXPECT_EQ(Body("var x;", sum), "Deterministic node is too complex to generate code for");
}

TEST_F(ParserTest, DataAndInitsStatements) {
  test::WriteFile("d.dat", "list(x = c(1, 2), n = 3)");
  test::WriteFile("r.dat", "1 2\n3 4\n");
  test::WriteFile("i.dat", "list(iteration = 7, seed = 11)");
  Compile("model m; var x[2], y[2], z[2], n; data in \"d.dat\", y, z in \"r.dat\";"
          " inits in \"i.dat\"; { }");
  EXPECT_FALSE(Parser_error);
  EXPECT_EQ(Graph_Own(Graph_nodes[3]), 3.0);  // z[2] from the second row
  EXPECT_EQ(Graph_Own(Graph_nodes[5]), 4.0);
  const std::pair<const char*, const char*> cases[] = {
      {"data x y in \"r.dat\";", "Expected key word in."},
      {"data x, w in \"r.dat\";", "Size mismatch in data statement"},
      {"data in \"none.dat\";", "File does not exist."},
      {"data in d.dat;", "Expected file name in quotes."},
      {"data q in \"r.dat\";", "Expected a variable name."},
      {"data in \"d.dat\" inits in \"i.dat\";", "Expected a semicolon."},
  };
  for (auto [statement, message] : cases) {
    Reset();
    EXPECT_EQ(ErrorOf(std::string("model m; var x[2], y[2], z[2], w[3], n;\n") + statement + "\n{ }"),
              message)
        << statement;
  }
}

}  // namespace
