#include "language/Parser.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

#include "base/Write.h"
#include "store/Graph.h"
#include "language/Data.h"
#include "language/Errors.h"
#include "language/Messages.h"

bool Parser_error = false;

namespace {

std::deque<Parser_Tree> trees;  // every tree node of the compilation
int32_t depth = 0;              // nesting of the expression being read

enum Message { loadingData = 2, loadingInits = 3 };

enum Error {
  rightParen = 0, leftBracket = 1, comma = 2, rightBracket = 3, dependsOnData = 5,
  notInteger = 6, aboveBound = 7, belowOne = 8, variableIndex = 9, cannotEvaluate = 10,
  noModel = 11, noModelName = 12, semicolon = 13, constantName = 14, equalsSign = 15,
  commaOrSemicolon = 16, variableName = 17, tooManyIndices = 18, declarator = 19,
  fileName = 37, openBrace = 39, notContiguous = 40, inprodRange = 41, sumRange = 42,
  parameter = 45, assignment = 46, densityName = 47, relationOperator = 48,
  statementStart = 66, closeParen = 53, expectedVariable = 54, noVarSection = 65,
  missingFile = 67, twoArguments = 68, loopVariable = 70, colon = 72, tooComplex = 83,
  leftParen = 26, keywordIn = 36, tooManyNodes = 110, dataSizeMismatch = 101,
};

void Error(int64_t position, int number) {
  if (Parser_error) return;  // only the first error is reported
  Parser_error = true;
  Errors_CompileError(position, number);
}

void Get(Scanner_Token& t) { Scanner_Get(t); }

bool Expect(Scanner_Token& t, int32_t kind, int number) {
  if (t.kind == kind) return true;
  Error(t.rider.pos, number);
  return false;
}

Parser_Tree* New(int32_t kind, int64_t position) {
  Parser_Tree& n = trees.emplace_back();
  n.kind = kind;
  n.position = position;
  return &n;
}

// Records the height of a node made over its operands; too tall is refused.
void Grow(Parser_Tree* n, const Parser_Tree* a, const Parser_Tree* b, const Scanner_Token& t) {
  int32_t h = 0;
  if (a != nullptr && a->height > h) h = a->height;
  if (b != nullptr && b->height > h) h = b->height;
  n->height = h + 1;
  if (n->height > Parser_maxHeight) Error(t.rider.pos, tooComplex);
}

// Guards the recursion of nested parentheses, functions, signs and indices.
struct Nesting {
  explicit Nesting(const Scanner_Token& t) {
    if (++depth > Parser_maxHeight / 2) Error(t.rider.pos, tooComplex);
  }
  ~Nesting() { --depth; }
};

// A number literal: its own anonymous data node, numbered as it is read.
Parser_Tree* Literal(double value, int64_t position) {
  Parser_Tree* n = New(Parser_literal, position);
  Graph_Node* node = Graph_NewNode();
  node->kind = Graph_data;
  Graph_Own(node) = value;
  Graph_Link(node);
  n->node = node;
  return n;
}

// ---- variable references

// Reads v or v[...] from its name. With ranges allowed (the arguments of
// sum, inprod and the like, which step through their elements), counts the
// index positions that are empty or ranges. Without, the reference names a
// block of consecutive nodes: once a position is empty or a range, each later
// one must span its whole extent. A single index there can only do so on an
// extent of 1; whether a later range does is known once its ends are
// evaluated, when the nodes are generated.
Parser_Tree* Reference(Scanner_Token& t, bool rangesAllowed, int32_t* count) {
  SymTabs_Name* name = t.kind == Scanner_name ? SymTabs_FindName(t.text) : nullptr;
  if (name == nullptr || name->kind != SymTabs_variable) {
    Error(t.rider.pos, expectedVariable);
    return nullptr;
  }
  Parser_Tree* ref = New(Parser_variableRef, t.rider.pos);
  ref->name = name;
  Get(t);
  if (count != nullptr) *count = 0;
  if (name->numIndices == 0) return ref;
  if (!Expect(t, Scanner_lbrak, leftBracket)) return nullptr;
  Nesting nest(t);
  if (Parser_error) return nullptr;
  bool open = false;  // an empty position or a range has been read
  int32_t height = 0;
  for (int i = 0; i < name->numIndices && !Parser_error; ++i) {
    Get(t);
    Parser_Tree* entry = New(Parser_entry, t.rider.pos);
    bool whole = false;
    if (t.kind == Scanner_comma || t.kind == Scanner_rbrak) {
      whole = true;
    } else {
      const int64_t start = t.rider.pos;
      entry->left = Parser_Expression(t);
      if (Parser_error) return nullptr;
      if (t.kind == Scanner_colon) {
        Get(t);
        entry->right = Parser_Expression(t);
        if (Parser_error) return nullptr;
        whole = true;
      } else if (open && !rangesAllowed && name->dims[name->numIndices - 1 - i] > 1) {
        Error(start, notContiguous);
        return nullptr;
      }
    }
    if (whole) {
      open = true;
      if (count != nullptr) ++*count;
    }
    for (const Parser_Tree* part : {entry->left, entry->right})
      if (part != nullptr && part->height > height) height = part->height;
    entry->next = ref->next;
    ref->next = entry;
    if (i + 1 < name->numIndices) {
      if (!Expect(t, Scanner_comma, comma)) return nullptr;
    } else if (!Expect(t, Scanner_rbrak, rightBracket)) {
      return nullptr;
    }
  }
  if (Parser_error) return nullptr;
  ref->height = height + 1;
  if (ref->height > Parser_maxHeight) Error(t.rider.pos, tooComplex);
  Get(t);
  return ref;
}

Parser_Tree* Var(Scanner_Token& t) { return Reference(t, false, nullptr); }

Parser_Tree* Range(Scanner_Token& t, int32_t& count) { return Reference(t, true, &count); }

// ---- parameters and expressions

// A name, an element, or a signed number: an operand of an expression, and a
// bound, which takes no arithmetic.
Parser_Tree* Param(Scanner_Token& t) {
  int64_t position = t.rider.pos;
  if (t.kind == Scanner_name) {
    SymTabs_Name* name = SymTabs_FindName(t.text);
    if (name == nullptr) {
      Error(position, parameter);
      return nullptr;
    }
    if (name->kind == SymTabs_variable) return Var(t);
    Parser_Tree* n = New(name->kind == SymTabs_constant ? Parser_constantRef : Parser_counterRef, position);
    n->name = name;
    Get(t);
    return n;
  }
  double sign = 1.0;
  if (t.kind == Scanner_plus || t.kind == Scanner_minus) {
    sign = t.kind == Scanner_minus ? -1.0 : 1.0;
    Get(t);
  }
  if (t.kind == Scanner_integer || t.kind == Scanner_real) {
    double v = t.kind == Scanner_integer ? t.intValue : t.realValue;
    Parser_Tree* n = Literal(sign * v, position);
    Get(t);
    return n;
  }
  Error(t.rider.pos, parameter);
  return nullptr;
}

int32_t Arguments(int32_t code) {
  switch (code) {
    case Scanner_cloglog: case Scanner_cos: case Scanner_exp: case Scanner_log:
    case Scanner_logfact: case Scanner_loggam: case Scanner_logit: case Scanner_phi:
    case Scanner_probit: case Scanner_sin: case Scanner_sqrt: case Scanner_step:
      return 1;
    case Scanner_equalsFn: case Scanner_max: case Scanner_min: case Scanner_pow:
      return 2;
    default:
      return 0;
  }
}

// One argument of a function call, with the position of its first token.
Parser_Tree* Argument(Scanner_Token& t) {
  int64_t position = t.rider.pos;
  Parser_Tree* e = Parser_Expression(t);
  if (e != nullptr) e->position = position;
  return e;
}

// A range argument that must hold exactly one, or at least one, range.
Parser_Tree* RangeArgument(Scanner_Token& t, bool exactlyOne, int number) {
  int64_t position = t.rider.pos;
  int32_t count = 0;
  Parser_Tree* r = Range(t, count);
  if (Parser_error) return nullptr;
  if (exactlyOne ? count != 1 : count < 1) {
    Error(position, number);
    return nullptr;
  }
  r->position = position;
  return r;
}

Parser_Tree* Factor(Scanner_Token& t) {
  Nesting nest(t);
  if (Parser_error) return nullptr;
  int64_t position = t.rider.pos;
  int32_t code = t.kind;
  if (code == Scanner_lparen) {
    Get(t);
    Parser_Tree* e = Parser_Expression(t);
    if (Parser_error || !Expect(t, Scanner_rparen, closeParen)) return nullptr;
    Get(t);
    e->position = position;
    return e;
  }
  if (code == Scanner_minus) {
    Get(t);
    Parser_Tree* operand = Factor(t);
    if (Parser_error) return nullptr;
    Parser_Tree* n = New(Parser_negate, position);
    n->left = operand;
    Grow(n, operand, nullptr, t);
    return n;
  }
  int32_t arity = Arguments(code);
  bool ranged = code == Scanner_inprod || code == Scanner_logdet || code == Scanner_mean ||
                code == Scanner_sd || code == Scanner_sum;
  if (arity == 0 && !ranged) return Param(t);

  Parser_Tree* n = New(code, position);
  Get(t);  // the "(" that made the word a function
  if (!Expect(t, Scanner_lparen, leftParen)) return nullptr;
  Get(t);
  if (code == Scanner_inprod) {
    n->left = RangeArgument(t, true, inprodRange);
    if (Parser_error || !Expect(t, Scanner_comma, twoArguments)) return nullptr;
    Get(t);
    n->right = RangeArgument(t, true, inprodRange);
  } else if (ranged) {
    n->left = RangeArgument(t, false, sumRange);
  } else {
    n->left = Argument(t);
    if (arity == 2 && !Parser_error) {
      if (!Expect(t, Scanner_comma, twoArguments)) return nullptr;
      Get(t);
      n->right = Argument(t);
    }
  }
  if (Parser_error || !Expect(t, Scanner_rparen, closeParen)) return nullptr;
  Get(t);
  Grow(n, n->left, n->right, t);
  return n;
}

// Left-associative chains of one precedence level.
template <typename Operand>
Parser_Tree* Chain(Scanner_Token& t, int32_t op1, int32_t op2, Operand operand) {
  Parser_Tree* left = operand(t);
  while (!Parser_error && (t.kind == op1 || t.kind == op2)) {
    Parser_Tree* n = New(t.kind, t.rider.pos);
    Get(t);
    Parser_Tree* right = operand(t);
    if (Parser_error) return nullptr;
    n->left = left;
    n->right = right;
    Grow(n, left, right, t);
    left = n;
  }
  return Parser_error ? nullptr : left;
}

Parser_Tree* Term(Scanner_Token& t) { return Chain(t, Scanner_times, Scanner_slash, Factor); }

// ---- evaluation of constant and index expressions

// The integer an index or extent stands for, with a little slack for
// values computed in floating point.
bool IntegerValue(double v, int32_t& k) {
  if (!std::isfinite(v) || std::fabs(v) > 2147483647.0) return false;
  double truncated = std::trunc(v + 0.000001);
  if (std::fabs(truncated - v) > 0.000001) return false;
  k = static_cast<int32_t>(truncated);
  return true;
}

double Evaluate(const Parser_Tree* tree);

// The value of a data node named by a variable reference.
double Element(const Parser_Tree* tree) {
  const SymTabs_Name* name = tree->name;
  if (Graph_nodes.empty()) {  // still reading the declarations
    Error(tree->position, dependsOnData);
    return 0.0;
  }
  // The index list holds the last index first, as the extents are stored.
  int64_t offset = 0, stride = 1;
  int slot = 0;
  for (const Parser_Tree* entry = tree->next; entry != nullptr; entry = entry->next, ++slot) {
    if (entry->left == nullptr || entry->right != nullptr) {
      Error(tree->position, cannotEvaluate);
      return 0.0;
    }
    double v = Evaluate(entry->left);
    if (Parser_error) return 0.0;
    int32_t k = 0;
    if (!IntegerValue(v, k)) {
      Error(entry->left->position, notInteger);
      return 0.0;
    }
    if (k > name->dims[slot]) {
      Error(entry->left->position, aboveBound);
      return 0.0;
    }
    if (k < 1) {
      Error(entry->left->position, belowOne);
      return 0.0;
    }
    offset += (k - 1) * stride;
    stride *= name->dims[slot];
  }
  Graph_Node* node = Graph_Label(name->firstNode + static_cast<int32_t>(offset));
  if (node == nullptr || node->kind != Graph_data) {
    Error(tree->position, variableIndex);
    return 0.0;
  }
  return Graph_Own(node);
}

double Evaluate(const Parser_Tree* tree) {
  if (Parser_error || tree == nullptr) return 0.0;
  double a, b, v;
  switch (tree->kind) {
    case Parser_literal: return Graph_Own(tree->node);
    case Parser_constantRef: return tree->name->value;
    case Parser_counterRef: return tree->name->firstNode;
    case Parser_variableRef: return Element(tree);
    case Parser_negate: return -Evaluate(tree->left);
    case Scanner_plus: case Scanner_minus: case Scanner_times: case Scanner_slash:
      a = Evaluate(tree->left);
      b = Evaluate(tree->right);
      if (Parser_error) return 0.0;
      if (tree->kind == Scanner_plus) v = a + b;
      else if (tree->kind == Scanner_minus) v = a - b;
      else if (tree->kind == Scanner_times) v = a * b;
      else v = b == 0.0 ? NAN : a / b;
      // A division by zero or an overflow has no value an index could use.
      if (!std::isfinite(v)) Error(tree->position, cannotEvaluate);
      return Parser_error ? 0.0 : v;
    default:
      Error(tree->position, cannotEvaluate);
      return 0.0;
  }
}

// ---- declarations

int64_t nodeCounter = 0;

bool NewName(const Scanner_Token& t) {
  return t.kind == Scanner_name && SymTabs_FindName(t.text) == nullptr;
}

void Constant(Scanner_Token& t) {
  if (!NewName(t)) return Error(t.rider.pos, constantName);
  SymTabs_Name record;
  record.kind = SymTabs_constant;
  record.name = t.text;
  Get(t);
  if (!Expect(t, Scanner_equals, equalsSign)) return;
  Get(t);
  record.value = Parser_EvaluateConstant(Parser_Expression(t));
  if (Parser_error) return;
  record.firstNode = record.lastNode = static_cast<int32_t>(nodeCounter++);
  SymTabs_StoreName(record);
}

void Variable(Scanner_Token& t) {
  if (!NewName(t)) return Error(t.rider.pos, variableName);
  SymTabs_Name record;
  record.kind = SymTabs_variable;
  record.name = t.text;
  record.firstNode = static_cast<int32_t>(nodeCounter);
  Get(t);
  int64_t size = 1;
  if (t.kind == Scanner_lbrak) {
    int32_t extents[3] = {0, 0, 0};
    int n = 0;
    do {
      Get(t);
      if (n == 3) return Error(t.rider.pos, tooManyIndices);
      int64_t position = t.rider.pos;
      int32_t extent = Parser_Index(Parser_Expression(t));
      if (Parser_error) return;
      // A variable without components could never be used.
      if (extent < 1) return Error(position, belowOne);
      extents[n++] = extent;
      size = std::min<int64_t>(size * extent, Graph_maxDeclaredNodes + 1);  // no overflow
    } while (t.kind == Scanner_comma);
    if (!Expect(t, Scanner_rbrak, rightBracket)) return;
    Get(t);
    record.numIndices = n;
    for (int i = 0; i < n; ++i) record.dims[i] = extents[n - 1 - i];
  } else if (t.kind != Scanner_comma && t.kind != Scanner_semicolon) {
    return Error(t.rider.pos, declarator);
  }
  nodeCounter += size;
  record.lastNode = static_cast<int32_t>(nodeCounter - 1);
  SymTabs_StoreName(record);
}

// ---- data and inits statements

// Rows of a name in a rectangular file: its elements divided by its columns.
int32_t Rows(const SymTabs_Name& n) {
  switch (n.numIndices) {
    case 0: return 1;
    case 1: return n.dims[0];
    case 2: return n.dims[1];
    default: return n.dims[2] * n.dims[1];
  }
}

// One data or inits statement's entries: [names] in "file", ...;
void Entries(Scanner_Token& t, int32_t kind, const std::string& modelName,
             const Files_Handle& modelFile, Parser_Files& files, std::string& lastFile) {
  do {
    Get(t);
    std::vector<SymTabs_Name*> names;
    if (t.kind == Scanner_name) {
      for (;;) {
        SymTabs_Name* name = SymTabs_FindName(t.text);
        if (t.kind != Scanner_name || name == nullptr || name->kind != SymTabs_variable)
          return Error(t.rider.pos, expectedVariable);
        if (!names.empty() && Rows(*name) != Rows(*names.front()))
          return Error(t.rider.pos, dataSizeMismatch);
        names.push_back(name);
        Get(t);
        if (t.kind != Scanner_comma) break;
        Get(t);
      }
    }
    if (!Expect(t, Scanner_in, keywordIn)) return;
    Get(t);
    if (!Expect(t, Scanner_string, fileName)) return;
    std::string name = t.text;
    Files_Handle file = Files_Old(name);
    if (!file) return Error(t.rider.pos, missingFile);
    lastFile = name;
    Get(t);
    Errors_SetErrorFile(name, file);
    if (names.empty())
      Data_ReadSFile(kind, files.iteration, files.seed, file);
    else
      Data_ReadRectangularFile(kind, names, Rows(*names.front()), file);
    Errors_SetErrorFile(modelName, modelFile);
    if (Data_error) {
      Parser_error = true;
      return;
    }
  } while (t.kind == Scanner_comma);
  if (!Expect(t, Scanner_semicolon, semicolon)) return;
  Get(t);
}

// ---- the body

struct Body {
  Parser_Tree* head;
  Parser_Tree* tail;
  std::vector<Parser_Tree*> loops;  // the open loops' test records

  void Append(Parser_Tree* r) {
    tail->next = r;
    tail = r;
  }
};

// The distribution's number of parameters, 0 for a word that names none.
int32_t Parameters(int32_t code) {
  switch (code) {
    case Scanner_dbern: case Scanner_dchisq: case Scanner_ddirch: case Scanner_dexp:
    case Scanner_dgeom: case Scanner_dcat: case Scanner_dpois: case Scanner_dpow:
    case Scanner_dzipf:
      return 1;
    case Scanner_dt:
      return 3;
    default:
      return code >= Scanner_dbern && code <= Scanner_dzipf ? 2 : 0;
  }
}

// A distribution parameter: any expression a logical relation takes. A
// minus sign directly before a number stays part of the number, as it always
// has been, so -1.5 is one literal rather than the negation of 1.5.
Parser_Tree* Parameter(Scanner_Token& t) {
  Parser_Tree* e = Parser_Expression(t);
  if (Parser_error) return nullptr;
  if (e->kind == Parser_negate && e->left->kind == Parser_literal) {
    Parser_Tree* literal = e->left;
    Graph_Own(literal->node) = -Graph_Own(literal->node);
    literal->position = e->position;
    return literal;
  }
  return e;
}

void Push(Parser_Tree* list, int32_t kind, Parser_Tree* value, int64_t position) {
  Parser_Tree* entry = New(kind, position);
  entry->left = value;
  entry->next = list->next;
  list->next = entry;
}

Parser_Tree* Stochastic(Scanner_Token& t) {
  int32_t count = Parameters(t.kind);
  if (count == 0) {
    Error(t.rider.pos, densityName);
    return nullptr;
  }
  Parser_Tree* dist = New(t.kind, t.rider.pos);
  Get(t);
  if (!Expect(t, Scanner_lparen, leftParen)) return nullptr;
  for (int i = 0; i < count; ++i) {
    Get(t);
    int64_t position = t.rider.pos;
    Parser_Tree* p = Parameter(t);
    if (Parser_error) return nullptr;
    Push(dist, Parser_entry, p, position);
    if (i + 1 < count && !Expect(t, Scanner_comma, commaOrSemicolon)) return nullptr;
  }
  if (dist->kind == Scanner_dcauchy) Push(dist, Parser_entry, Literal(1.0, t.rider.pos), t.rider.pos);
  if (!Expect(t, Scanner_rparen, closeParen)) return nullptr;
  Get(t);
  if (t.kind != Scanner_I) return dist;

  Get(t);
  if (!Expect(t, Scanner_lparen, leftParen)) return nullptr;
  Get(t);
  Parser_Tree* lower = nullptr;
  int64_t lowerPosition = t.rider.pos;
  if (t.kind != Scanner_comma) lower = Param(t);
  if (Parser_error || !Expect(t, Scanner_comma, commaOrSemicolon)) return nullptr;
  Get(t);
  Parser_Tree* upper = nullptr;
  int64_t upperPosition = t.rider.pos;
  if (t.kind != Scanner_rparen) upper = Param(t);
  if (Parser_error || !Expect(t, Scanner_rparen, closeParen)) return nullptr;
  Get(t);
  Push(dist, Parser_bound, lower, lowerPosition);
  Push(dist, Parser_bound, upper, upperPosition);
  return dist;
}

// v ~ dist(...), v <- e or v <- inverse(M), from the name of v.
Parser_Tree* Relation(Scanner_Token& t) {
  int64_t position = t.rider.pos;
  Parser_Tree* target = Var(t);
  if (Parser_error) return nullptr;
  Parser_Tree* r = nullptr;
  if (t.kind == Scanner_tilde) {
    r = New(Parser_stochastic, position);
    Get(t);
    r->right = Stochastic(t);
  } else if (t.kind == Scanner_becomes) {
    r = New(Parser_logical, position);
    Get(t);
    if (t.kind == Scanner_inverse) {
      Parser_Tree* inv = New(Scanner_inverse, t.rider.pos);
      Get(t);
      if (!Expect(t, Scanner_lparen, leftParen)) return nullptr;
      Get(t);
      int64_t argument = t.rider.pos;
      int32_t count = 0;
      inv->left = Range(t, count);
      if (Parser_error) return nullptr;
      if (count != 2) {
        Error(argument, sumRange);
        return nullptr;
      }
      if (!Expect(t, Scanner_rparen, closeParen)) return nullptr;
      Get(t);
      r->right = inv;
    } else {
      r->right = Parser_Expression(t);
    }
  } else {
    Error(t.rider.pos, relationOperator);
    return nullptr;
  }
  r->left = target;
  return Parser_error ? nullptr : r;
}

// link(v) <- e: v is the inverse link of e.
Parser_Tree* LinkRelation(Scanner_Token& t) {
  int32_t inverse = t.kind == Scanner_cloglog ? Parser_inverseCloglog
                    : t.kind == Scanner_log   ? Parser_inverseLog
                    : t.kind == Scanner_logit ? Parser_inverseLogit
                                              : Parser_inverseProbit;
  int64_t position = t.rider.pos;
  Get(t);
  if (!Expect(t, Scanner_lparen, leftParen)) return nullptr;
  Get(t);
  Parser_Tree* target = Var(t);
  if (Parser_error || !Expect(t, Scanner_rparen, rightParen)) return nullptr;
  Get(t);
  if (!Expect(t, Scanner_becomes, assignment)) return nullptr;
  Get(t);
  Parser_Tree* link = New(inverse, t.rider.pos);
  link->left = Parser_Expression(t);
  if (Parser_error) return nullptr;
  Parser_Tree* r = New(Parser_logical, position);
  r->left = target;
  r->right = link;
  return r;
}

// for (i in a:b) {
void For(Scanner_Token& t, Body& body) {
  int64_t position = t.rider.pos;
  Get(t);
  if (!Expect(t, Scanner_lparen, leftParen)) return;
  Get(t);
  if (!NewName(t)) return Error(t.rider.pos, loopVariable);
  SymTabs_Name counter;
  counter.kind = SymTabs_counter;
  counter.name = t.text;
  Get(t);
  if (!Expect(t, Scanner_in, keywordIn)) return;
  Get(t);
  Parser_Tree* from = Parser_Expression(t);
  if (Parser_error || !Expect(t, Scanner_colon, colon)) return;
  Get(t);
  Parser_Tree* to = Parser_Expression(t);
  if (Parser_error || !Expect(t, Scanner_rparen, closeParen)) return;
  Get(t);
  if (!Expect(t, Scanner_lbrace, openBrace)) return;
  Get(t);
  SymTabs_Name* name = SymTabs_StoreName(counter);
  Parser_Tree* start = New(Parser_loopStart, position);
  start->name = name;
  start->left = from;
  start->right = to;
  body.Append(start);
  Parser_Tree* test = New(Parser_loopTest, position);
  test->name = name;
  test->left = body.loops.empty() ? nullptr : body.loops.back();
  body.Append(test);
  body.loops.push_back(test);
}

void CloseLoop(Scanner_Token& t, Body& body) {
  Parser_Tree* test = body.loops.back();
  body.loops.pop_back();
  Parser_Tree* end = New(Parser_loopEnd, t.rider.pos);
  body.Append(end);
  end->next = test;  // the back edge
  Parser_Tree* exit = New(Parser_loopExit, t.rider.pos);
  test->right = exit;
  body.tail = exit;
  SymTabs_RemoveName();
  Get(t);
}

// Text after the body's closing brace is never read; say so.
void WarnAboutTrailingText(const Scanner_Token& t) {
  Scanner_Token after = t;
  Scanner_Get(after);
  if (after.kind != Scanner_invalid || after.ch != Scanner_endOfFile) {
    Write_String("Warning -- text after the end of the model ignored");
    Write_Ln();
  }
}

}  // namespace

void InitParser() {
  Parser_error = false;
  trees.clear();
  depth = 0;
  nodeCounter = 0;
}

void Parser_ModelStatement(Scanner_Token& t) {
  Get(t);
  if (!Expect(t, Scanner_model, noModel)) return;
  Get(t);
  if (!Expect(t, Scanner_name, noModelName)) return;
  Get(t);
  Expect(t, Scanner_semicolon, semicolon);
}

void Parser_Declarations(Scanner_Token& t) {
  nodeCounter = 0;
  Get(t);
  if (t.kind == Scanner_const) {
    do {
      Get(t);
      Constant(t);
      if (Parser_error) return;
    } while (t.kind == Scanner_comma);
    if (!Expect(t, Scanner_semicolon, commaOrSemicolon)) return;
    Get(t);
  }
  if (!Expect(t, Scanner_var, noVarSection)) return;
  do {
    Get(t);
    Variable(t);
    if (Parser_error) return;
  } while (t.kind == Scanner_comma && nodeCounter <= Graph_maxDeclaredNodes);
  if (nodeCounter > Graph_maxDeclaredNodes) return Error(t.rider.pos, tooManyNodes);
  if (!Expect(t, Scanner_semicolon, commaOrSemicolon)) return;
  Graph_AllocateNodes(static_cast<int32_t>(nodeCounter));
  for (const SymTabs_Name* name : SymTabs_nameTable) {
    if (name->kind != SymTabs_constant) continue;
    Graph_Node* node = Graph_NewNode();
    node->kind = Graph_data;
    Graph_Own(node) = name->value;
    node->label = name->firstNode;
    Graph_nodes[name->firstNode] = node;
  }
}

void Parser_LoadData(Scanner_Token& t, const std::string& modelName, const Files_Handle& modelFile,
                     Parser_Files& files) {
  files = Parser_Files{};
  Get(t);
  if (t.kind == Scanner_data) {
    Messages_Text(loadingData);
    Write_Ln();
    Entries(t, Graph_data, modelName, modelFile, files, files.dataFile);
    if (Parser_error) return;
  }
  if (t.kind != Scanner_inits) return;
  Messages_Text(loadingInits);
  Write_Ln();
  Entries(t, Graph_stochastic, modelName, modelFile, files, files.initsFile);
}

Parser_Tree* Parser_BuildTree(Scanner_Token& t) {
  Body body;
  body.head = body.tail = New(Parser_head, t.rider.pos);
  if (!Expect(t, Scanner_lbrace, openBrace)) return body.head;
  Get(t);
  while (!Parser_error) {
    Parser_Tree* r = nullptr;
    switch (t.kind) {
      case Scanner_name:
        r = Relation(t);
        break;
      case Scanner_for:
        For(t, body);
        continue;
      case Scanner_cloglog: case Scanner_log: case Scanner_logit: case Scanner_probit:
        r = LinkRelation(t);
        break;
      case Scanner_rbrace:
        if (body.loops.empty()) {
          WarnAboutTrailingText(t);
          return body.head;
        }
        CloseLoop(t, body);
        continue;
      default:
        Error(t.rider.pos, statementStart);
        continue;
    }
    if (Parser_error) break;
    body.Append(r);
    if (t.kind == Scanner_semicolon) Get(t);
  }
  // Counters of loops left open by an error leave the name table.
  for (size_t i = 0; i < body.loops.size(); ++i) SymTabs_RemoveName();
  return body.head;
}

Parser_Tree* Parser_Expression(Scanner_Token& t) {
  return Chain(t, Scanner_plus, Scanner_minus, Term);
}

double Parser_EvaluateConstant(Parser_Tree* tree) { return Evaluate(tree); }

int32_t Parser_Index(Parser_Tree* tree) {
  double v = Evaluate(tree);
  if (Parser_error) return 0;
  int32_t k = 0;
  if (!IntegerValue(v, k)) {
    Error(tree->position, notInteger);
    return 0;
  }
  return k;
}
